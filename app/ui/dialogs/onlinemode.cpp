#include "ui/dialogs/onlinemode.h"

#include "document/kestradoc.h"
#include "history/messenger.h"
#include "ui/dialogs/dialogtexts.h"
#include "ui/dialogs/dosechart.h"

#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The reading's type: a heavy sans-serif, in two sizes (pixels, as the window was drawn).
QFont readingFont(int pixels)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setWeight(QFont::Black);
    return font;
}

} // namespace

COnlineMode::COnlineMode(CKESTRADoc& doc, QWidget* parent)
    : QDialog(parent)
    , m_doc(doc)
    , m_timer(new QTimer(this))
    , m_chart(new DoseChart(this))
    , m_mode(new QLabel(this))
    , m_radiation(new QLabel(this))
    , m_value(new QLabel(this))
    , m_units(new QLabel(this))
    , m_percentCaption(new QLabel(QStringLiteral(" "), this))
    , m_percent(new QLabel(this))
    , m_alarm(new QLabel(this))
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    setWindowTitle(tr("Online Mode"));
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &COnlineMode::onTimer);

    const QFont large = readingFont(82); // 62 pt at 1.33 pixels per point
    const QFont small = readingFont(29); // 22 pt
    m_value->setFont(large);
    for (QLabel* label : { m_units, m_mode, m_percent, m_alarm })
        label->setFont(small);
    QPalette red = m_alarm->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    m_alarm->setPalette(red);
    m_alarm->setWordWrap(true);

    // Room for the widest texts, so that the window keeps its size as readings change.
    const QFontMetrics largeMetrics(large);
    const QFontMetrics smallMetrics(small);
    m_value->setMinimumWidth(largeMetrics.horizontalAdvance(QStringLiteral("0000.00")));
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_units->setMinimumWidth(smallMetrics.horizontalAdvance(QStringLiteral("1/(min*cm²)")));
    m_alarm->setMinimumHeight(smallMetrics.height() * 2);
    m_mode->setMinimumHeight(smallMetrics.height());

    auto* modeGroup = new QGroupBox(tr("Instrument mode"), this);
    auto* modeLayout = new QVBoxLayout(modeGroup);
    modeLayout->addWidget(m_mode);

    auto* valuesGroup = new QGroupBox(tr("Measurement"), this);
    auto* values = new QGridLayout(valuesGroup);
    values->addWidget(m_radiation, 0, 0, 1, 2);
    values->addWidget(m_value, 1, 0);
    values->addWidget(m_units, 1, 1, Qt::AlignLeft | Qt::AlignBottom);
    values->addWidget(m_percentCaption, 2, 0);
    values->addWidget(m_percent, 2, 1);
    values->setColumnStretch(1, 1);

    auto* alarmGroup = new QGroupBox(tr("Alarm"), this);
    auto* alarmLayout = new QVBoxLayout(alarmGroup);
    alarmLayout->addWidget(m_alarm);

    m_chart->setFixedSize(600, 240);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(modeGroup);
    layout->addWidget(valuesGroup);
    layout->addWidget(alarmGroup);
    layout->addWidget(m_chart, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

COnlineMode::~COnlineMode()
{
    m_running = false;
    if (m_reader.joinable())
        m_reader.join();
}

void COnlineMode::setThresholds(const std::optional<CUserParams>& params)
{
    m_chart->setThresholds(params);
}

void COnlineMode::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_running = true;
    m_openedMs = m_clock();
    // Nothing runs inside a document operation that is waiting: the first refresh, like every
    // later one, waits until the document is idle.
    m_doc.whenIdle([self = QPointer<COnlineMode>(this)] {
        if (self && self->m_running)
            self->start();
    });
}

void COnlineMode::start()
{
    // The name the document learnt with the link: nothing is asked here.
    const QString name = m_doc.state().attachedInstrument();
    if (!name.isEmpty())
        setWindowTitle(tr("Online Mode") + QStringLiteral(" (%1)").arg(name));
    m_opening = true;
    refresh();
}

void COnlineMode::refresh()
{
    emit refreshStarted();
    if (m_reader.joinable())
        m_reader.join(); // ended: its result is what called this
    m_reader = std::thread([this] {
        CMeasurements reading;
        const bool ok = m_doc.units() && m_doc.readMeasurements(reading);
        // Dropped unless the window still lives: it joins this thread before it goes.
        QMetaObject::invokeMethod(
            this, [this, ok, reading] { showReading(ok, reading); }, Qt::QueuedConnection);
    });
}

void COnlineMode::showReading(bool ok, const CMeasurements& reading)
{
    if (ok) {
        m_reading = reading;
        m_value->setText(reading.value);
        m_units->setText(reading.units);
        m_mode->setText(reading.mode);
        m_alarm->setText(reading.status);
        m_percent->setText(reading.error);
        m_radiation->setText(reading.radiation);

        DoseChart::Quantity quantity;
        double value = 0;
        bool roentgen = false;
        if (DoseChart::sampleOf(reading, &quantity, &value, &roentgen)) {
            if (quantity == DoseChart::Quantity::DoseRate)
                m_chart->setRoentgen(roentgen);
            m_chart->addSample(quantity, m_clock() - m_openedMs, value);
        }
    }
    emit refreshFinished(ok);
    if (m_opening) {
        m_opening = false;
        m_failures = 0;
    } else if (!ok && m_failures++ > 10) {
        // The counter is never reset while the window is open.
        m_running = false;
        m_doc.messenger().tell(applicationName(), tr("Error during connection to instrument"), Messenger::Icon::Error);
        done(QDialog::Accepted);
        return;
    }
    if (m_running)
        m_timer->start(m_intervalMs);
}

void COnlineMode::onTimer()
{
    m_doc.whenIdle([self = QPointer<COnlineMode>(this)] {
        if (self && self->m_running)
            self->tick();
    });
}

void COnlineMode::tick()
{
    m_timer->stop();
    refresh();
}

void COnlineMode::done(int result)
{
    m_running = false;
    m_timer->stop();
    QDialog::done(result);
}
