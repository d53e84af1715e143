#include "ui/progressbar.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

CProgressBar::CProgressBar(QStatusBar* statusBar, const QString& label, int range)
    : QProgressBar(statusBar)
    , m_statusBar(statusBar)
    , m_label(label)
{
    setRange(0, std::max(range, 1));
    setValue(0);
    setTextVisible(false);
    statusBar->showMessage(label);
    statusBar->installEventFilter(this);
    m_timer.setInterval(50);
    connect(&m_timer, &QTimer::timeout, this, &CProgressBar::stepIt);
    reposition();
    show();
}

CProgressBar::~CProgressBar()
{
    m_timer.stop();
    hide();
    if (m_statusBar)
        m_statusBar->showMessage(tr("Ready"));
}

void CProgressBar::stepIt()
{
    setValue(value() >= maximum() ? minimum() : value() + 1);
}

void CProgressBar::startStepping()
{
    m_timer.start();
}

void CProgressBar::stopStepping()
{
    m_timer.stop();
}

QRect CProgressBar::placement(const QRect& pane, const QFontMetrics& metrics, const QString& label)
{
    const int left = pane.left() + metrics.horizontalAdvance(label) + 4 * metrics.horizontalAdvance(u' ');
    const int width = std::max(0, (pane.right() - left) * 40 / 100);
    const int inset = pane.height() / 10;
    return QRect(left, pane.top() + inset, width, std::max(1, pane.height() - 2 * inset));
}

bool CProgressBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_statusBar && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        reposition();
    return QProgressBar::eventFilter(watched, event);
}

void CProgressBar::reposition()
{
    if (!m_statusBar)
        return;
    // The message is drawn a few pixels in from the pane's edge; the bar follows the text.
    const QRect pane = m_statusBar->rect().adjusted(6, 0, 0, 0);
    setGeometry(placement(pane, m_statusBar->fontMetrics(), m_label));
    raise();
}

CProgressDialog::CProgressDialog(const QString& title, QWidget* parent)
    : QDialog(parent)
    , m_bar(new QProgressBar(this))
{
    setWindowTitle(title);
    setModal(false);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    auto* buttons = new QDialogButtonBox(this);
    // The button is there as it always was; a device exchange cannot be stopped half-way.
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("cancel"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_bar);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

void CProgressDialog::stepIt()
{
    m_bar->setValue(m_bar->value() >= m_bar->maximum() ? 0 : m_bar->value() + 1);
}

int CProgressDialog::value() const
{
    return m_bar->value();
}
