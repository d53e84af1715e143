#pragma once

#include "charts/chartpainter.h"
#include "history/historyrec.h"

#include <functional>
#include <optional>
#include <span>
#include <vector>

// The chart of one instrument's day: its measurement events as series (gamma dose rate, beta
// flux, count rate apart) over the day's local clock, its alarm events marked. Built from the
// rows of an event list, so that a point knows its row and a row its point; the painting is
// ChartPainter's, into any painter (the window, a printed report).
class DayChart {
public:
    using Quantity = DoseQuantity;
    // A point of the chart: the series it is in and its index there.
    struct Point {
        Quantity quantity;
        std::size_t index;
    };

    // The rows of a list, newest first as the event list shows them: row r is recordAt(r).
    // day: local midnight (seconds) of the day shown; 0 when no day is shown.
    void build(qint64 day, int rows, const std::function<const ChistoryRec&(int)>& recordAt);
    void build(qint64 day, std::span<const ChistoryRec> newestFirst);
    void clear() { build(0, 0, {}); }

    qint64 day() const { return m_day; }
    const std::vector<ChartSample>& samples(Quantity q) const { return m_series[std::size_t(q)].samples; }
    const std::vector<ChartMark>& marks(Quantity q) const { return m_series[std::size_t(q)].marks; }
    // The row of a sample or a mark.
    int sampleRow(Quantity q, std::size_t index) const { return m_series[std::size_t(q)].sampleRows.at(index); }
    int markRow(Quantity q, std::size_t index) const { return m_series[std::size_t(q)].markRows.at(index); }
    // The sample showing a row's value; nothing for a row without a value or out of range.
    std::optional<Point> pointOfRow(int row) const;
    int rows() const { return int(m_rowPoints.size()); }

    // Hands the series to a painter: the day's 24 hours (23 or 25 across a daylight-saving
    // change) on the local clock, samples far apart not joined.
    void configure(ChartPainter& painter) const;

    // One call for a page or an image: the day of the given events (any order) painted into
    // area, in the given units, with the thresholds when known.
    static void paint(QPainter& painter, const QRect& area, qint64 day, std::span<const ChistoryRec> events,
        bool roentgen, const std::optional<CUserParams>& thresholds = std::nullopt);

private:
    struct Series {
        std::vector<ChartSample> samples;
        std::vector<int> sampleRows;
        std::vector<ChartMark> marks;
        std::vector<int> markRows;
    };
    std::array<Series, DoseQuantityCount> m_series;
    std::vector<qint32> m_rowPoints; // per row: quantity * 2^29 + sample index + 1; 0 for none
    qint64 m_day = 0;
    qint64 m_dayEnd = 0;
    qint64 m_gapMs = 0;
};
