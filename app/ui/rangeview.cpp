#include "ui/rangeview.h"

#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/localtime.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QToolTip>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

QString bucketText(qint64 seconds)
{
    if (seconds % 86400 == 0)
        return RangeView::tr("%1 d").arg(seconds / 86400);
    if (seconds % 3600 == 0)
        return RangeView::tr("%1 h").arg(seconds / 3600);
    return RangeView::tr("%1 min").arg(seconds / 60);
}

std::optional<qint64> midnightOf(const QDate& date)
{
    if (!date.isValid())
        return std::nullopt;
    return LocalTime::fromLocal(date.year(), date.month(), date.day());
}

} // namespace

RangeChartWidget::RangeChartWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(400, 220);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_painter.setEmptyText(RangeView::tr("No measurements in this span"));
}

QSize RangeChartWidget::sizeHint() const
{
    return { 760, 380 };
}

void RangeChartWidget::setSummary(
    const RangeSummary& summary, bool roentgen, const std::optional<CUserParams>& thresholds)
{
    m_chart.build(summary);
    m_chart.configure(m_painter);
    m_painter.setRoentgen(roentgen);
    m_painter.setThresholds(thresholds);
    update();
}

void RangeChartWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    m_painter.setTextColour(palette().color(QPalette::WindowText));
    m_painter.paint(p, rect());
}

QString RangeChartWidget::toolTipAt(const QPoint& pos) const
{
    const auto hit = m_painter.hitTest(rect(), pos);
    if (!hit)
        return {};
    const RangeRequest& r = m_chart.summary().request;
    const bool days = r.bucketSeconds % 86400 == 0;
    auto when = [&](qint64 ms) { return LocalTime::format(ms / 1000, days ? "%Y-%m-%d" : "%Y-%m-%d %H:%M"); };
    if (hit->kind == ChartPainter::Hit::Kind::Mark) {
        const ChartMark& m = m_chart.marks().at(hit->index);
        return RangeView::tr("%1\nalarm events: %2").arg(when(m.ms)).arg(m_chart.alarmCount(hit->index));
    }
    if (hit->kind != ChartPainter::Hit::Kind::Band)
        return {};
    const ChartBand& b = m_chart.bands(hit->quantity).at(hit->index);
    double scale = 1;
    QString unit;
    for (const ChartPainter::Pane& pane : m_painter.layout(rect())) {
        if (pane.quantity == hit->quantity) {
            scale = pane.scale;
            unit = pane.unit;
        }
    }
    const qint64 count = m_chart.summary().of(hit->quantity).at(hit->index).count;
    const QString span
        = days && b.endMs - b.ms <= 86400 * 1000 ? when(b.ms) : when(b.ms) + QStringLiteral(" – ") + when(b.endMs);
    return RangeView::tr("%1\n%2, %3\nlowest %4, highest %5, mean %6\nvalues: %7")
        .arg(span, ChartPainter::quantityTitle(hit->quantity), unit, QString::number(b.min / scale, 'g', 4),
            QString::number(b.max / scale, 'g', 4), QString::number(b.mean / scale, 'g', 4), QString::number(count));
}

bool RangeChartWidget::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

RangeView::RangeView(CKESTRADoc& doc, std::function<HistoryDb*()> store, bool roentgen,
    std::map<QString, CUserParams> thresholds, QWidget* parent)
    : QDialog(parent)
    , m_doc(doc)
    , m_store(std::move(store))
    , m_roentgen(roentgen)
    , m_thresholds(std::move(thresholds))
    , m_instrument(new QComboBox(this))
    , m_span(new QComboBox(this))
    , m_from(new QDateEdit(this))
    , m_to(new QDateEdit(this))
    , m_status(new QLabel(this))
    , m_chart(new RangeChartWidget(this))
{
    setWindowTitle(tr("Range View"));
    const CPagerList& pagers = doc.pagers();
    for (int i = 0; i < pagers.count(); ++i) {
        const CPager* pager = pagers.instrumentAt(i);
        const QString id = pager->identifier();
        const QString name = pager->displayName();
        m_instrument->addItem(name == id ? id : QStringLiteral("%1 (%2)").arg(id, name), id);
    }
    m_span->addItem(tr("Week"), Week);
    m_span->addItem(tr("Month"), Month);
    m_span->addItem(tr("Year"), Year);
    m_span->addItem(tr("Dates"), Dates);
    for (QDateEdit* edit : { m_from, m_to }) {
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        edit->setCalendarPopup(true);
    }
    m_to->setDate(QDate::currentDate());

    auto* choices = new QHBoxLayout;
    choices->addWidget(new QLabel(tr("Instrument:"), this));
    choices->addWidget(m_instrument, 1);
    choices->addWidget(new QLabel(tr("Span:"), this));
    choices->addWidget(m_span);
    choices->addWidget(new QLabel(tr("From:"), this));
    choices->addWidget(m_from);
    choices->addWidget(new QLabel(tr("To:"), this));
    choices->addWidget(m_to);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addWidget(m_status);
    layout->addWidget(m_chart, 1);
    layout->addWidget(buttons);

    connect(m_instrument, &QComboBox::currentIndexChanged, this, &RangeView::choicesChanged);
    connect(m_span, &QComboBox::currentIndexChanged, this, &RangeView::spanChanged);
    connect(m_from, &QDateEdit::dateChanged, this, &RangeView::choicesChanged);
    connect(m_to, &QDateEdit::dateChanged, this, &RangeView::spanChanged);
    spanChanged();
}

void RangeView::choose(const QString& pagerId, Span span, const QDate& to, const QDate& from)
{
    m_choosing = true;
    const int instrument = m_instrument->findData(pagerId);
    if (instrument >= 0)
        m_instrument->setCurrentIndex(instrument);
    m_span->setCurrentIndex(m_span->findData(span));
    if (to.isValid())
        m_to->setDate(to);
    if (from.isValid())
        m_from->setDate(from);
    m_choosing = false;
    spanChanged();
}

void RangeView::spanChanged()
{
    // Week, month and year end with the chosen day; the first day follows from it.
    const QDate to = m_to->date();
    const auto span = Span(m_span->currentData().toInt());
    m_from->setEnabled(span == Dates);
    if (span != Dates) {
        const QDate from = span == Week ? to.addDays(-6)
            : span == Month             ? to.addMonths(-1).addDays(1)
                                        : to.addYears(-1).addDays(1);
        const QSignalBlocker blocker(m_from);
        m_from->setDate(from);
    }
    choicesChanged();
}

void RangeView::choicesChanged()
{
    if (!m_choosing)
        refresh();
}

std::pair<qint64, qint64> RangeView::span() const
{
    QDate first = m_from->date();
    QDate last = m_to->date();
    if (first > last)
        std::swap(first, last);
    const auto from = midnightOf(first);
    const auto to = midnightOf(last.addDays(1));
    if (!from || !to || *to <= *from)
        return { 0, 0 };
    return { *from, *to };
}

bool RangeView::refresh()
{
    // The store is read only between operations: one that waits for its job may be writing.
    if (m_doc.busy()) {
        if (!m_pending) {
            m_pending = true;
            m_doc.whenIdle([view = QPointer<RangeView>(this)] {
                if (view) {
                    view->m_pending = false;
                    view->refresh();
                }
            });
        }
        return false;
    }
    RangeSummary empty;
    HistoryDb* db = m_store ? m_store() : nullptr;
    const QString id = m_instrument->currentData().toString();
    const auto [from, to] = span();
    if (!db || id.isEmpty() || to <= from) {
        m_status->setText(!db && m_doc.eventsOnServer()
                ? tr("In remote mode the events are on the server; the range view reads this "
                     "computer's database or an archive.")
                : !db          ? tr("No database is open.")
                : id.isEmpty() ? tr("No instrument is known.")
                               : tr("The dates give no span."));
        m_chart->setSummary(empty, m_roentgen, std::nullopt);
        return false;
    }
    RangeRequest request { id, from, to, HistoryRange::bucketWidthFor(to - from) };
    // A year of a large store takes a while: read in a job, the window kept alive meanwhile.
    std::optional<RangeSummary> read;
    QString error;
    const bool ran = m_doc.readJob([&] {
        try {
            read = db->rangeSummary(request);
        } catch (const std::exception& e) {
            error = QString::fromStdString(e.what());
        }
    });
    if (!ran) {
        m_status->setText(tr("The events cannot be read: %1").arg(tr("another operation is in progress")));
        return false;
    }
    if (read) {
        const RangeSummary& summary = *read;
        qint64 alarms = 0;
        for (const auto& [bucket, count] : summary.alarms)
            alarms += count;
        m_status->setText(tr("Events: %1, alarm events: %2, one bar per %3")
                              .arg(summary.events)
                              .arg(alarms)
                              .arg(bucketText(request.bucketSeconds)));
        const auto known = m_thresholds.find(id);
        m_chart->setSummary(summary, m_roentgen,
            known == m_thresholds.end() ? std::nullopt : std::optional<CUserParams>(known->second));
        return true;
    }
    m_status->setText(tr("The events cannot be read: %1").arg(error));
    m_chart->setSummary(empty, m_roentgen, std::nullopt);
    return false;
}
