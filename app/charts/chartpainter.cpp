#include "charts/chartpainter.h"

#include "charts/timeticks.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr int AxisHeight = 18;
constexpr int LeftMargin = 60;
constexpr int RightMargin = 10;
constexpr int TitleHeight = 18;

constexpr ChartUnits::DoseUnit DoseUnits[] = {
    { "µR/h", 1, true },
    { "mR/h", 1e3, true },
    { "R/h", 1e6, true },
    { "µSv/h", 1e2, false },
    { "mSv/h", 1e5, false },
    { "Sv/h", 1e8, false },
};

double niceStep(double rough)
{
    if (!(rough > 0) || !std::isfinite(rough))
        return 1;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double fraction = rough / magnitude;
    const double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10;
    return nice * magnitude;
}

template <typename T> std::size_t firstAtOrAfter(std::span<const T> items, qint64 ms)
{
    return std::size_t(std::lower_bound(items.begin(), items.end(), ms, [](const T& s, qint64 t) { return s.ms < t; })
        - items.begin());
}

} // namespace

namespace ChartUnits {

std::span<const DoseUnit> doseUnits()
{
    return DoseUnits;
}

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

QString unitName(const DoseUnit& unit)
{
    return QCoreApplication::translate("MeasurementTexts", unit.name);
}

} // namespace ChartUnits

void ChartPainter::setSamples(Quantity quantity, std::span<const ChartSample> samples)
{
    m_samples[std::size_t(quantity)] = samples;
}

void ChartPainter::setBands(Quantity quantity, std::span<const ChartBand> bands)
{
    m_bands[std::size_t(quantity)] = bands;
}

void ChartPainter::setMarks(Quantity quantity, std::span<const ChartMark> marks)
{
    m_marks[std::size_t(quantity)] = marks;
}

void ChartPainter::clear()
{
    m_samples = {};
    m_bands = {};
    m_marks = {};
    m_selected.reset();
}

void ChartPainter::setTimeSpan(qint64 startMs, qint64 endMs)
{
    m_span = std::make_pair(startMs, std::max(endMs, startMs + 1));
}

QString ChartPainter::quantityTitle(Quantity quantity)
{
    switch (quantity) {
    case Quantity::DoseRate:
        return tr("Gamma dose rate");
    case Quantity::BetaFlux:
        return tr("Beta flux");
    case Quantity::CountRate:
        break;
    }
    return tr("Count rate");
}

QColor ChartPainter::quantityColour(Quantity quantity)
{
    switch (quantity) {
    case Quantity::DoseRate:
        return QColor(31, 95, 191);
    case Quantity::BetaFlux:
        return QColor(46, 139, 58);
    case Quantity::CountRate:
        break;
    }
    return QColor(128, 64, 160);
}

bool ChartPainter::hasData(Quantity q) const
{
    const std::size_t i = std::size_t(q);
    return !m_samples[i].empty() || !m_bands[i].empty() || !m_marks[i].empty();
}

std::pair<qint64, qint64> ChartPainter::timeSpan() const
{
    if (m_span)
        return *m_span;
    bool any = false;
    qint64 first = 0;
    qint64 last = 0;
    auto take = [&](qint64 a, qint64 b) {
        first = any ? std::min(first, a) : a;
        last = any ? std::max(last, b) : b;
        any = true;
    };
    for (std::size_t i = 0; i < DoseQuantityCount; ++i) {
        if (!m_samples[i].empty())
            take(m_samples[i].front().ms, m_samples[i].back().ms);
        if (!m_bands[i].empty())
            take(m_bands[i].front().ms, m_bands[i].back().endMs);
        if (!m_marks[i].empty())
            take(m_marks[i].front().ms, m_marks[i].back().ms);
    }
    const qint64 start = m_axis == TimeAxis::Elapsed ? 0 : first;
    return { start, std::max({ last, start + m_minimumSpanMs, start + 1 }) };
}

std::vector<ChartPainter::Threshold> ChartPainter::thresholds(Quantity quantity) const
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

ChartPainter::Pane ChartPainter::paneOf(Quantity quantity, const QRect& rect) const
{
    const std::size_t i = std::size_t(quantity);
    double max = 0;
    for (const ChartSample& s : m_samples[i])
        max = std::max(max, s.value);
    for (const ChartBand& b : m_bands[i])
        max = std::max(max, b.max);
    for (const ChartMark& m : m_marks[i])
        max = std::max(max, m.value.value_or(0));
    // Thresholds far above the values would flatten them: those are named in the title only.
    double top = max;
    for (const Threshold& t : thresholds(quantity)) {
        if (t.value > 0 && t.value <= 4 * max)
            top = std::max(top, t.value);
    }

    Pane pane;
    pane.quantity = quantity;
    pane.plot = rect.adjusted(LeftMargin, TitleHeight, -RightMargin, -4);
    switch (quantity) {
    case Quantity::DoseRate: {
        const ChartUnits::DoseUnit& unit = ChartUnits::displayUnit(top, m_roentgen);
        pane.unit = ChartUnits::unitName(unit);
        pane.scale = unit.instrumentUnits;
        break;
    }
    case Quantity::BetaFlux:
        pane.unit = QCoreApplication::translate("MeasurementTexts", "1/(min*cm²)");
        break;
    case Quantity::CountRate:
        pane.unit = QCoreApplication::translate("MeasurementTexts", "cps");
        break;
    }
    const double step = niceStep(top / pane.scale * 1.1 / 4);
    pane.top = std::max(step, std::ceil(top / pane.scale * 1.1 / step) * step);
    return pane;
}

std::vector<ChartPainter::Pane> ChartPainter::layout(const QRect& area) const
{
    std::vector<Quantity> shown;
    for (int i = 0; i < DoseQuantityCount; ++i) {
        if (hasData(Quantity(i)))
            shown.push_back(Quantity(i));
    }
    std::vector<Pane> panes;
    if (shown.empty())
        return panes;
    const QRect inner = area.adjusted(0, 0, 0, -AxisHeight);
    const int height = inner.height() / int(shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i)
        panes.push_back(paneOf(shown[i], QRect(inner.left(), inner.top() + int(i) * height, inner.width(), height)));
    return panes;
}

QPointF ChartPainter::pointOf(const Pane& pane, qint64 ms, double value) const
{
    const auto [start, end] = timeSpan();
    const QRect& plot = pane.plot;
    return { plot.left() + double(ms - start) / double(end - start) * plot.width(),
        plot.bottom() - value / pane.scale / pane.top * plot.height() };
}

void ChartPainter::paint(QPainter& painter, const QRect& area) const
{
    painter.save();
    painter.fillRect(area, Qt::white);
    painter.setPen(QColor(160, 160, 160));
    painter.drawRect(area.adjusted(0, 0, -1, -1));

    const std::vector<Pane> panes = layout(area);
    painter.setPen(m_text);
    if (panes.empty()) {
        painter.drawText(area, Qt::AlignCenter, m_emptyText);
        painter.restore();
        return;
    }
    for (const Pane& pane : panes) {
        const QRect rect(
            area.left(), pane.plot.top() - TitleHeight, area.width(), pane.plot.height() + TitleHeight + 4);
        paintPane(painter, rect, pane);
    }
    const QRect axis(area.left(), area.bottom() - AxisHeight, area.width(), AxisHeight);
    paintAxis(painter, axis, area.left() + LeftMargin, area.right() - RightMargin);
    painter.restore();
}

void ChartPainter::paintPane(QPainter& painter, const QRect& rect, const Pane& pane) const
{
    const QRect& plot = pane.plot;
    if (plot.width() < 4 || plot.height() < 4)
        return;
    const std::vector<Threshold> lines = thresholds(pane.quantity);

    // Title, grid and value labels.
    QString heading = quantityTitle(pane.quantity) + QStringLiteral(", ") + pane.unit;
    for (const Threshold& t : lines) {
        if (t.value > 0)
            heading += QStringLiteral("   %1 %2").arg(t.label, QString::number(t.value / pane.scale, 'g', 4));
    }
    painter.setPen(m_text);
    painter.drawText(
        QRect(plot.left(), rect.top(), plot.width(), TitleHeight), Qt::AlignLeft | Qt::AlignVCenter, heading);
    const double step = niceStep(pane.top / 4);
    for (double v = 0; v <= pane.top + step / 2; v += step) {
        const double y = plot.bottom() - v / pane.top * plot.height();
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(m_text);
        painter.drawText(QRectF(rect.left(), y - 8, LeftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
            QString::number(v, 'g', 4));
    }
    painter.setPen(QColor(160, 160, 160));
    painter.drawRect(plot);

    for (const Threshold& t : lines) {
        if (t.value <= 0 || t.value / pane.scale > pane.top)
            continue;
        painter.setPen(QPen(t.colour, 1, Qt::DashLine));
        const double y = pointOf(pane, 0, t.value).y();
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }

    painter.save();
    painter.setClipRect(plot.adjusted(-5, -5, 6, 6));
    paintBands(painter, pane);
    paintSeries(painter, pane);
    paintMarks(painter, pane);
    painter.restore();
}

void ChartPainter::paintBands(QPainter& painter, const Pane& pane) const
{
    const std::span<const ChartBand> bands = m_bands[std::size_t(pane.quantity)];
    if (bands.empty())
        return;
    QColor fill = quantityColour(pane.quantity);
    fill.setAlpha(80);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    QPolygonF means;
    auto flush = [&] {
        if (means.size() > 1) {
            painter.setPen(QPen(quantityColour(pane.quantity), 1.5));
            painter.drawPolyline(means);
            painter.setPen(Qt::NoPen);
        } else if (means.size() == 1) {
            painter.setPen(QPen(quantityColour(pane.quantity), 3));
            painter.drawPoint(means.front());
            painter.setPen(Qt::NoPen);
        }
        means.clear();
    };
    qint64 previousEnd = 0;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const ChartBand& b = bands[i];
        const QPointF top = pointOf(pane, b.ms, b.max);
        const QPointF bottom = pointOf(pane, b.endMs, b.min);
        QRectF bar(top, bottom);
        if (bar.width() < 1)
            bar.setWidth(1);
        if (bar.height() < 1)
            bar.setHeight(1);
        painter.drawRect(bar);
        // The means of buckets next to each other are joined; an empty bucket breaks the line.
        if (i > 0 && b.ms != previousEnd)
            flush();
        means << pointOf(pane, b.ms + (b.endMs - b.ms) / 2, b.mean);
        previousEnd = b.endMs;
    }
    flush();
    painter.setBrush(Qt::NoBrush);
}

void ChartPainter::paintSeries(QPainter& painter, const Pane& pane) const
{
    const std::span<const ChartSample> samples = m_samples[std::size_t(pane.quantity)];
    if (samples.empty())
        return;
    const QRect& plot = pane.plot;
    const auto [start, end] = timeSpan();
    const double xScale = double(plot.width()) / double(end - start);
    const double yScale = plot.height() / (pane.scale * pane.top);
    auto yOf = [&](double value) { return plot.bottom() - value * yScale; };

    painter.setRenderHint(QPainter::Antialiasing, samples.size() < std::size_t(plot.width()));
    painter.setPen(QPen(quantityColour(pane.quantity), 1.5));
    // At most the first, lowest, highest and last of each pixel column, so that spikes survive
    // and the cost stays one pass.
    QPolygonF line;
    line.reserve(std::min<qsizetype>(qsizetype(samples.size()), 4 * plot.width() + 4));
    auto flush = [&] {
        if (line.size() == 1)
            painter.drawPoint(line.front());
        else if (line.size() > 1)
            painter.drawPolyline(line);
        line.clear();
    };
    qint64 column = std::numeric_limits<qint64>::min();
    double lo = 0, hi = 0, last = 0;
    std::size_t loAt = 0, hiAt = 0;
    qint64 previousMs = 0;
    bool open = false;
    auto closeColumn = [&] {
        if (!open)
            return;
        const double x = double(column);
        if (lo != hi)
            line << QPointF(x, loAt < hiAt ? lo : hi) << QPointF(x, loAt < hiAt ? hi : lo);
        if (line.back().y() != last)
            line << QPointF(x, last);
    };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const ChartSample& s = samples[i];
        const double y = yOf(s.value);
        const qint64 c = plot.left() + qint64(std::floor(double(s.ms - start) * xScale));
        if (i > 0 && s.ms - previousMs > m_gapMs) {
            closeColumn();
            open = false;
            flush();
        }
        if (!open || c != column) {
            closeColumn();
            column = c;
            open = true;
            line << QPointF(double(c), y);
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

    if (m_selected && m_selected->first == pane.quantity && m_selected->second < samples.size()) {
        const ChartSample& s = samples[m_selected->second];
        const QPointF at = pointOf(pane, s.ms, s.value);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(QColor(40, 40, 40), 1, Qt::DotLine));
        painter.drawLine(QPointF(at.x(), plot.top()), QPointF(at.x(), plot.bottom()));
        painter.setPen(QPen(Qt::black, 2));
        painter.drawEllipse(at, 5, 5);
    }
}

void ChartPainter::paintMarks(QPainter& painter, const Pane& pane) const
{
    const std::span<const ChartMark> marks = m_marks[std::size_t(pane.quantity)];
    if (marks.empty())
        return;
    painter.setRenderHint(QPainter::Antialiasing, marks.size() < 2000);
    painter.setPen(QPen(QColor(120, 0, 0), 1));
    painter.setBrush(QColor(230, 0, 0));
    // Marks that would land on the same pixel are drawn once.
    QPoint previous(-1, -1);
    for (const ChartMark& m : marks) {
        const QPointF at = m.value ? pointOf(pane, m.ms, *m.value) : pointOf(pane, m.ms, 0);
        const QPoint pixel = at.toPoint();
        if (pixel == previous)
            continue;
        previous = pixel;
        if (m.value) {
            painter.drawEllipse(at, 3.5, 3.5);
        } else {
            // On the floor of the pane: a small triangle pointing up.
            const QPointF triangle[] = { at + QPointF(0, -7), at + QPointF(-4, 0), at + QPointF(4, 0) };
            painter.drawPolygon(triangle, 3);
        }
    }
    painter.setBrush(Qt::NoBrush);
}

void ChartPainter::paintAxis(QPainter& painter, const QRect& axis, int left, int right) const
{
    const auto [start, end] = timeSpan();
    painter.setPen(m_text);
    if (m_axis == TimeAxis::Elapsed) {
        painter.drawText(
            QRect(left - 40, axis.top(), 80, axis.height()), Qt::AlignCenter, TimeTicks::elapsedText(start));
        painter.drawText(QRect(right - 70, axis.top(), 70, axis.height()), Qt::AlignRight | Qt::AlignVCenter,
            TimeTicks::elapsedText(end));
        painter.drawText(QRect((left + right) / 2 - 40, axis.top(), 80, axis.height()), Qt::AlignCenter,
            TimeTicks::elapsedText(start + (end - start) / 2));
        return;
    }
    // As many ticks as fit one label every 70 pixels.
    const int width = std::max(1, right - left);
    const TimeTicks::Ticks ticks = TimeTicks::ticks(start, end, std::max(1, width / 70));
    const double scale = double(width) / double(end - start);
    int lastRight = std::numeric_limits<int>::min();
    for (const qint64 t : ticks.at) {
        const int x = left + int(double(t - start) * scale);
        painter.setPen(QColor(160, 160, 160));
        painter.drawLine(x, axis.top() - 4, x, axis.top());
        const QRect box(x - 35, axis.top() + 2, 70, axis.height() - 2);
        // A label is left out where it would overlap the one before or run past the edge.
        if (box.left() <= lastRight || box.right() > axis.right())
            continue;
        painter.setPen(m_text);
        painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop, TimeTicks::text(t, ticks.step));
        lastRight = box.right();
    }
}

std::optional<ChartPainter::Hit> ChartPainter::hitTest(const QRect& area, const QPoint& point, int radius) const
{
    const auto [start, end] = timeSpan();
    for (const Pane& pane : layout(area)) {
        if (!pane.plot.adjusted(-radius, -radius, radius, radius).contains(point))
            continue;
        const double msPerPixel = double(end - start) / std::max(1, pane.plot.width());
        const qint64 at = start + qint64((point.x() - pane.plot.left()) * msPerPixel);
        const qint64 from = at - qint64(radius * msPerPixel) - 1;
        const qint64 to = at + qint64(radius * msPerPixel) + 1;
        const std::size_t q = std::size_t(pane.quantity);
        auto nearest = [&](auto items, auto valueOf) -> std::optional<std::size_t> {
            std::optional<std::size_t> best;
            double bestDistance = double(radius) * radius + 0.5;
            for (std::size_t i = firstAtOrAfter(items, from); i < items.size() && items[i].ms <= to; ++i) {
                const QPointF p = pointOf(pane, items[i].ms, valueOf(items[i]));
                const double dx = p.x() - point.x();
                const double dy = p.y() - point.y();
                if (dx * dx + dy * dy < bestDistance) {
                    bestDistance = dx * dx + dy * dy;
                    best = i;
                }
            }
            return best;
        };
        if (auto i = nearest(m_marks[q], [](const ChartMark& m) { return m.value.value_or(0); }))
            return Hit { Hit::Kind::Mark, pane.quantity, *i };
        if (auto i = nearest(m_samples[q], [](const ChartSample& s) { return s.value; }))
            return Hit { Hit::Kind::Sample, pane.quantity, *i };
        // A band is hit anywhere over its width.
        const std::span<const ChartBand> bands = m_bands[q];
        auto it
            = std::upper_bound(bands.begin(), bands.end(), at, [](qint64 t, const ChartBand& b) { return t < b.ms; });
        if (it != bands.begin() && at < std::prev(it)->endMs)
            return Hit { Hit::Kind::Band, pane.quantity, std::size_t(std::prev(it) - bands.begin()) };
        return std::nullopt;
    }
    return std::nullopt;
}
