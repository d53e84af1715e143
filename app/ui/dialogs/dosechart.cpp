#include "ui/dialogs/dosechart.h"

#include "history/measurements.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

// Samples further apart than this are not joined: the readings in between failed or showed
// another quantity.
constexpr qint64 GapMs = 15000;
// The time axis spans at least this much, so that the first samples do not fill the width.
constexpr qint64 MinSpanMs = 60000;
constexpr int AxisHeight = 18;
constexpr int LeftMargin = 60;
constexpr int RightMargin = 10;
constexpr int TitleHeight = 18;

// The unit texts of a reading, as the device texts write them.
QString deviceText(const char* text)
{
    return QCoreApplication::translate("MeasurementTexts", text);
}

struct DoseUnit {
    const char* name;
    double instrumentUnits; // instrument units per unit
    bool roentgen;
};
constexpr DoseUnit DoseUnits[] = {
    { "µR/h", 1, true },
    { "mR/h", 1e3, true },
    { "R/h", 1e6, true },
    { "µSv/h", 1e2, false },
    { "mSv/h", 1e5, false },
    { "Sv/h", 1e8, false },
};

// The unit in which a dose rate up to max reads best, as the reading's own text picks it.
const DoseUnit& displayUnit(double max, bool roentgen)
{
    const int first = roentgen ? 0 : 3;
    int chosen = first;
    for (int i = first + 1; i < first + 3; ++i) {
        if (max >= DoseUnits[i].instrumentUnits)
            chosen = i;
    }
    return DoseUnits[chosen];
}

double niceStep(double rough)
{
    if (!(rough > 0) || !std::isfinite(rough))
        return 1;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double fraction = rough / magnitude;
    const double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10;
    return nice * magnitude;
}

QString timeText(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QColor seriesColour(DoseChart::Quantity quantity)
{
    switch (quantity) {
    case DoseChart::Quantity::DoseRate:
        return QColor(31, 95, 191);
    case DoseChart::Quantity::BetaFlux:
        return QColor(46, 139, 58);
    case DoseChart::Quantity::CountRate:
        break;
    }
    return QColor(128, 64, 160);
}

} // namespace

DoseChart::DoseChart(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(320, 160);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize DoseChart::sizeHint() const
{
    return { 560, 220 };
}

bool DoseChart::sampleOf(const CMeasurements& reading, Quantity* quantity, double* value, bool* roentgen)
{
    bool ok = false;
    const double number = reading.value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    for (const DoseUnit& unit : DoseUnits) {
        if (reading.units == deviceText(unit.name)) {
            *quantity = Quantity::DoseRate;
            *value = number * unit.instrumentUnits;
            *roentgen = unit.roentgen;
            return true;
        }
    }
    if (reading.units == deviceText("1/(min*cm²)")) {
        *quantity = Quantity::BetaFlux;
        *value = number;
        return true;
    }
    if (reading.units == deviceText("cps")) {
        *quantity = Quantity::CountRate;
        *value = number;
        return true;
    }
    return false;
}

void DoseChart::addSample(Quantity quantity, qint64 ms, double value)
{
    std::vector<Sample>& samples = m_series[std::size_t(quantity)];
    if (samples.size() >= MaxSamples)
        samples.erase(samples.begin(), samples.begin() + std::ptrdiff_t(MaxSamples / 2));
    samples.push_back({ ms, value });
    update();
}

void DoseChart::setRoentgen(bool roentgen)
{
    if (roentgen != m_roentgen) {
        m_roentgen = roentgen;
        update();
    }
}

void DoseChart::setThresholds(const std::optional<CUserParams>& params)
{
    m_thresholds = params;
    update();
}

void DoseChart::clear()
{
    for (auto& samples : m_series)
        samples.clear();
    update();
}

int DoseChart::sampleCount() const
{
    int n = 0;
    for (const auto& samples : m_series)
        n += int(samples.size());
    return n;
}

std::vector<DoseChart::Threshold> DoseChart::thresholds(Quantity quantity) const
{
    if (!m_thresholds)
        return {};
    const CUserParams& p = *m_thresholds;
    const QColor attention(230, 140, 0);
    const QColor danger(220, 0, 0);
    switch (quantity) {
    case Quantity::DoseRate:
        return { { double(p.derThreshold1), tr("Attention"), attention },
            { double(p.derThreshold2), tr("Danger"), danger } };
    case Quantity::BetaFlux:
        return { { double(p.betaThreshold1), tr("Attention"), attention },
            { double(p.betaThreshold2), tr("Danger"), danger } };
    case Quantity::CountRate:
        break;
    }
    return { { p.searchBetaThreshold, tr("Search"), attention } };
}

void DoseChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintChart(painter, rect());
}

void DoseChart::paintChart(QPainter& painter, const QRect& area) const
{
    painter.fillRect(area, Qt::white);
    painter.setPen(QColor(160, 160, 160));
    painter.drawRect(area.adjusted(0, 0, -1, -1));

    std::vector<Quantity> panes;
    qint64 endMs = MinSpanMs;
    for (int i = 0; i < QuantityCount; ++i) {
        if (!m_series[std::size_t(i)].empty()) {
            panes.push_back(Quantity(i));
            endMs = std::max(endMs, m_series[std::size_t(i)].back().ms);
        }
    }
    painter.setPen(palette().color(QPalette::WindowText));
    if (panes.empty()) {
        painter.drawText(area, Qt::AlignCenter, tr("Waiting for the first reading"));
        return;
    }

    const QRect inner = area.adjusted(0, 0, 0, -AxisHeight);
    const int paneHeight = inner.height() / int(panes.size());
    for (std::size_t i = 0; i < panes.size(); ++i)
        paintPane(painter, QRect(inner.left(), inner.top() + int(i) * paneHeight, inner.width(), paneHeight), panes[i],
            endMs);

    // The time axis: minutes since the window opened.
    painter.setPen(palette().color(QPalette::WindowText));
    const int left = area.left() + LeftMargin;
    const int right = area.right() - RightMargin;
    const QRect axis(area.left(), area.bottom() - AxisHeight, area.width(), AxisHeight);
    painter.drawText(QRect(left - 40, axis.top(), 80, axis.height()), Qt::AlignCenter, timeText(0));
    painter.drawText(
        QRect(right - 70, axis.top(), 70, axis.height()), Qt::AlignRight | Qt::AlignVCenter, timeText(endMs));
    painter.drawText(
        QRect((left + right) / 2 - 40, axis.top(), 80, axis.height()), Qt::AlignCenter, timeText(endMs / 2));
}

void DoseChart::paintPane(QPainter& painter, const QRect& pane, Quantity quantity, qint64 endMs) const
{
    const std::vector<Sample>& samples = m_series[std::size_t(quantity)];
    const QRect plot = pane.adjusted(LeftMargin, TitleHeight, -RightMargin, -4);
    if (plot.width() < 4 || plot.height() < 4)
        return;

    double max = 0;
    for (const Sample& s : samples)
        max = std::max(max, s.value);

    // Thresholds far above the readings would flatten them: those are named in the title only.
    const std::vector<Threshold> lines = thresholds(quantity);
    double top = max;
    for (const Threshold& t : lines) {
        if (t.value > 0 && t.value <= 4 * max)
            top = std::max(top, t.value);
    }

    QString unitName;
    double scale = 1;
    QString title;
    switch (quantity) {
    case Quantity::DoseRate: {
        const DoseUnit& unit = displayUnit(top, m_roentgen);
        unitName = deviceText(unit.name);
        scale = unit.instrumentUnits;
        title = tr("Gamma dose rate");
        break;
    }
    case Quantity::BetaFlux:
        unitName = deviceText("1/(min*cm²)");
        title = tr("Beta flux");
        break;
    case Quantity::CountRate:
        unitName = deviceText("cps");
        title = tr("Count rate");
        break;
    }

    const double step = niceStep(top / scale * 1.1 / 4);
    const double topShown = std::max(step, std::ceil(top / scale * 1.1 / step) * step);
    auto yOf = [&](double value) { return plot.bottom() - value / scale / topShown * plot.height(); };
    auto xOf = [&](qint64 ms) { return plot.left() + double(ms) / double(endMs) * plot.width(); };

    // Title, grid and value labels.
    QString heading = title + QStringLiteral(", ") + unitName;
    for (const Threshold& t : lines) {
        if (t.value > 0)
            heading += QStringLiteral("   %1 %2").arg(t.label, QString::number(t.value / scale, 'g', 4));
    }
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(
        QRect(plot.left(), pane.top(), plot.width(), TitleHeight), Qt::AlignLeft | Qt::AlignVCenter, heading);
    for (double v = 0; v <= topShown + step / 2; v += step) {
        const double y = plot.bottom() - v / topShown * plot.height();
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRectF(pane.left(), y - 8, LeftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
            QString::number(v, 'g', 4));
    }
    painter.setPen(QColor(160, 160, 160));
    painter.drawRect(plot);

    for (const Threshold& t : lines) {
        if (t.value <= 0 || t.value / scale > topShown)
            continue;
        QPen pen(t.colour, 1, Qt::DashLine);
        painter.setPen(pen);
        const double y = yOf(t.value);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }

    // The samples: at most the first, lowest, highest and last of each pixel column, so that
    // spikes survive and the cost stays one pass.
    painter.save();
    painter.setClipRect(plot.adjusted(0, -1, 1, 1));
    painter.setRenderHint(QPainter::Antialiasing, samples.size() < std::size_t(plot.width()));
    painter.setPen(QPen(seriesColour(quantity), 1.5));
    QPolygonF line;
    line.reserve(std::min<qsizetype>(qsizetype(samples.size()), 4 * plot.width() + 4));
    auto flush = [&] {
        if (line.size() == 1)
            painter.drawPoint(line.front());
        else if (line.size() > 1)
            painter.drawPolyline(line);
        line.clear();
    };
    int column = -1;
    double lo = 0, hi = 0, last = 0;
    std::size_t loAt = 0, hiAt = 0;
    qint64 previousMs = 0;
    auto closeColumn = [&] {
        if (column < 0)
            return;
        const double x = column;
        if (lo != hi)
            line << QPointF(x, loAt < hiAt ? lo : hi) << QPointF(x, loAt < hiAt ? hi : lo);
        if (line.back().y() != last)
            line << QPointF(x, last);
    };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        const double y = yOf(s.value);
        const int c = int(xOf(s.ms));
        if (i > 0 && s.ms - previousMs > GapMs) {
            closeColumn();
            column = -1;
            flush();
        }
        if (c != column) {
            closeColumn();
            column = c;
            line << QPointF(c, y);
            lo = hi = last = y;
            loAt = hiAt = i;
        } else {
            if (y < lo) {
                lo = y;
                loAt = i;
            }
            if (y > hi) {
                hi = y;
                hiAt = i;
            }
            last = y;
        }
        previousMs = s.ms;
    }
    closeColumn();
    flush();
    painter.restore();
}
