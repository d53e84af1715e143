#pragma once

#include "charts/chartpainter.h"
#include "history/historyrange.h"

// The chart of a span read in aggregate: per bucket a bar from the lowest to the highest value
// and the means joined, per quantity; buckets with alarm events marked on the time axis. Built
// from the store's summary (HistoryDb::rangeSummary), never from the events themselves.
class RangeChart {
public:
    using Quantity = DoseQuantity;

    void build(const RangeSummary& summary);
    const RangeSummary& summary() const { return m_summary; }
    const std::vector<ChartBand>& bands(Quantity q) const { return m_bands[std::size_t(q)]; }
    // One mark per bucket with alarms, on the dose-rate pane's floor; alarmCount(i) is the
    // number of alarm events of mark i's bucket.
    const std::vector<ChartMark>& marks() const { return m_marks; }
    qint64 alarmCount(std::size_t mark) const { return m_summary.alarms.at(mark).second; }

    // Hands the bands to a painter, over the whole span on local dates or times.
    void configure(ChartPainter& painter) const;

    static void paint(QPainter& painter, const QRect& area, const RangeSummary& summary, bool roentgen,
        const std::optional<CUserParams>& thresholds = std::nullopt);

private:
    RangeSummary m_summary;
    std::array<std::vector<ChartBand>, DoseQuantityCount> m_bands;
    std::vector<ChartMark> m_marks;
};
