#include "charts/daychart.h"

#include "history/localtime.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

constexpr qint32 QuantityShift = 29;
constexpr qint32 IndexMask = (1 << QuantityShift) - 1;

// Points further apart than this many times the usual spacing are not joined: the instrument
// was off or logged nothing in between.
constexpr int GapFactor = 5;
constexpr qint64 MinimumGapMs = 10 * 60 * 1000;

} // namespace

void DayChart::build(qint64 day, int rows, const std::function<const ChistoryRec&(int)>& recordAt)
{
    for (Series& s : m_series)
        s = Series {};
    m_rowPoints.assign(std::size_t(std::max(0, rows)), 0);
    m_day = day;
    m_dayEnd = 0;
    if (day != 0) {
        m_dayEnd = LocalTime::dayKey(day + 36 * 3600).value_or(day + 86400);
    }
    // Newest first in the list: walked from the bottom, the series come out in time order.
    for (int row = rows - 1; row >= 0; --row) {
        const ChistoryRec& r = recordAt(row);
        const qint64 ms = r.hDateTime * 1000;
        const auto quantity = quantityOfType(r.hType);
        const bool valued = quantity && r.hValue >= 0 && std::isfinite(r.hValue);
        if (valued) {
            Series& s = m_series[std::size_t(*quantity)];
            if (s.samples.size() < std::size_t(IndexMask)) {
                m_rowPoints[std::size_t(row)] = (qint32(*quantity) << QuantityShift) | qint32(s.samples.size() + 1);
                s.samples.push_back({ ms, r.hValue });
                s.sampleRows.push_back(row);
            }
        }
        if (r.isAlarm()) {
            // An alarm of an event without a value of its own sits on the dose-rate pane's floor.
            Series& s = m_series[std::size_t(valued ? *quantity : Quantity::DoseRate)];
            s.marks.push_back({ ms, valued ? std::optional<double>(r.hValue) : std::nullopt });
            s.markRows.push_back(row);
        }
    }
    // The usual spacing: the median step of the longest series.
    const Series* longest = &m_series[0];
    for (const Series& s : m_series) {
        if (s.samples.size() > longest->samples.size())
            longest = &s;
    }
    std::vector<qint64> steps;
    steps.reserve(longest->samples.size());
    for (std::size_t i = 1; i < longest->samples.size(); ++i)
        steps.push_back(longest->samples[i].ms - longest->samples[i - 1].ms);
    qint64 median = 0;
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
        median = steps[steps.size() / 2];
    }
    m_gapMs = std::max(MinimumGapMs, GapFactor * median);
}

void DayChart::build(qint64 day, std::span<const ChistoryRec> newestFirst)
{
    build(day, int(newestFirst.size()), [&](int row) -> const ChistoryRec& { return newestFirst[std::size_t(row)]; });
}

std::optional<DayChart::Point> DayChart::pointOfRow(int row) const
{
    if (row < 0 || std::size_t(row) >= m_rowPoints.size() || m_rowPoints[std::size_t(row)] == 0)
        return std::nullopt;
    const qint32 code = m_rowPoints[std::size_t(row)];
    return Point { Quantity(code >> QuantityShift), std::size_t((code & IndexMask) - 1) };
}

void DayChart::configure(ChartPainter& painter) const
{
    painter.clear();
    for (int i = 0; i < DoseQuantityCount; ++i) {
        const Quantity q = Quantity(i);
        painter.setSamples(q, samples(q));
        painter.setMarks(q, marks(q));
    }
    painter.setTimeAxis(ChartPainter::TimeAxis::ClockTime);
    if (m_day != 0)
        painter.setTimeSpan(m_day * 1000, m_dayEnd * 1000);
    painter.setGap(m_gapMs);
}

void DayChart::paint(QPainter& painter, const QRect& area, qint64 day, std::span<const ChistoryRec> events,
    bool roentgen, const std::optional<CUserParams>& thresholds)
{
    std::vector<ChistoryRec> sorted(events.begin(), events.end());
    std::stable_sort(sorted.begin(), sorted.end(), ChistoryRec::newerThan);
    DayChart chart;
    chart.build(day, sorted);
    ChartPainter chartPainter;
    chart.configure(chartPainter);
    chartPainter.setRoentgen(roentgen);
    chartPainter.setThresholds(thresholds);
    chartPainter.setEmptyText(ChartPainter::tr("No measurements on this day"));
    chartPainter.paint(painter, area);
}
