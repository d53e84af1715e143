#include "charts/rangechart.h"

void RangeChart::build(const RangeSummary& summary)
{
    m_summary = summary;
    const RangeRequest& r = m_summary.request;
    auto startOf = [&](qint64 index) { return r.from + index * r.bucketSeconds; };
    for (int i = 0; i < DoseQuantityCount; ++i) {
        std::vector<ChartBand>& bands = m_bands[std::size_t(i)];
        bands.clear();
        bands.reserve(m_summary.series[std::size_t(i)].size());
        for (const RangeBucket& b : m_summary.series[std::size_t(i)]) {
            const qint64 start = startOf(b.index);
            const qint64 end = std::min(start + r.bucketSeconds, r.to);
            bands.push_back({ start * 1000, end * 1000, b.min, b.max, b.mean });
        }
    }
    m_marks.clear();
    m_marks.reserve(m_summary.alarms.size());
    for (const auto& [index, count] : m_summary.alarms) {
        Q_UNUSED(count);
        m_marks.push_back({ (startOf(index) + std::min(r.bucketSeconds, r.to - startOf(index)) / 2) * 1000, {} });
    }
}

void RangeChart::configure(ChartPainter& painter) const
{
    painter.clear();
    for (int i = 0; i < DoseQuantityCount; ++i)
        painter.setBands(Quantity(i), bands(Quantity(i)));
    painter.setMarks(Quantity::DoseRate, m_marks);
    const RangeRequest& r = m_summary.request;
    painter.setTimeAxis(ChartPainter::TimeAxis::Date);
    if (r.to > r.from)
        painter.setTimeSpan(r.from * 1000, r.to * 1000);
}

void RangeChart::paint(QPainter& painter, const QRect& area, const RangeSummary& summary, bool roentgen,
    const std::optional<CUserParams>& thresholds)
{
    RangeChart chart;
    chart.build(summary);
    ChartPainter chartPainter;
    chart.configure(chartPainter);
    chartPainter.setRoentgen(roentgen);
    chartPainter.setThresholds(thresholds);
    chartPainter.setEmptyText(ChartPainter::tr("No measurements in this span"));
    chartPainter.paint(painter, area);
}
