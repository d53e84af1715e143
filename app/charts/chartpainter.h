#pragma once

#include "history/dosequantity.h"
#include "history/userparams.h"

#include <QColor>
#include <QCoreApplication>
#include <QRect>
#include <QString>

#include <array>
#include <optional>
#include <span>
#include <vector>

class QPainter;

// One value of a series at a moment; what the moment counts from is the axis's business.
struct ChartSample {
    qint64 ms;
    double value; // dose rate in instrument units (1e-8 Sv/h, µR/h), else as measured
};

// The values of one time bucket: drawn as a bar from min to max, the means joined by a line.
struct ChartBand {
    qint64 ms; // the bucket's start
    qint64 endMs;
    double min;
    double max;
    double mean;
};

// A marked moment (an alarm): on its value when it has one, else on the time axis.
struct ChartMark {
    qint64 ms;
    std::optional<double> value;
};

// The dose units a chart can show, and the one it picks for a range of values.
namespace ChartUnits {
struct DoseUnit {
    const char* name; // as the measurement texts write it (context "MeasurementTexts")
    double instrumentUnits; // instrument units per unit
    bool roentgen;
};
std::span<const DoseUnit> doseUnits();
// The unit in which dose rates up to max read best, as a reading's own text picks it.
const DoseUnit& displayUnit(double max, bool roentgen);
QString unitName(const DoseUnit& unit);
} // namespace ChartUnits

// Paints dose-rate, beta-flux and count-rate series over a common time axis into any painter
// and rectangle: the window, an image, a printed page. Each quantity that has something to
// show gets a pane of its own; values in a pane are in the unit shown at its title (the dose
// rate in roentgens or sieverts as the units flag says). The instrument's thresholds are drawn
// as lines when they are known. The painter only borrows the samples: they must outlive it or
// be handed again.
//
// A paint draws at most four points per pixel column of a series, so its cost is one pass over
// the samples whatever their number.
class ChartPainter {
    Q_DECLARE_TR_FUNCTIONS(ChartPainter)
public:
    using Quantity = DoseQuantity;
    enum class TimeAxis {
        Elapsed, // minutes and seconds since 0 (the online window's opening)
        ClockTime, // local time of day of milliseconds since 1970
        Date, // local dates of milliseconds since 1970
    };

    // Where a pane lies and how its values map to it.
    struct Pane {
        Quantity quantity;
        QRect plot;
        double scale = 1; // instrument units per unit shown
        double top = 1; // the value (in the unit shown) at the plot's top
        QString unit;
    };
    // What lies under a point of the chart: a sample, a mark or a band, by its index.
    struct Hit {
        enum class Kind { Sample, Mark, Band } kind;
        Quantity quantity;
        std::size_t index;
    };

    void setSamples(Quantity quantity, std::span<const ChartSample> samples);
    void setBands(Quantity quantity, std::span<const ChartBand> bands);
    // Marks on a quantity's pane; a mark without a value sits on the pane's floor.
    void setMarks(Quantity quantity, std::span<const ChartMark> marks);
    void clear();
    // The time axis spans at least [startMs, endMs]; by default it spans the data.
    void setTimeSpan(qint64 startMs, qint64 endMs);
    // With no span set, the axis spans at least this much from 0 (the online chart).
    void setMinimumSpan(qint64 ms) { m_minimumSpanMs = ms; }
    void setTimeAxis(TimeAxis axis) { m_axis = axis; }
    // Samples further apart than this are not joined.
    void setGap(qint64 ms) { m_gapMs = ms; }
    void setRoentgen(bool roentgen) { m_roentgen = roentgen; }
    bool roentgen() const { return m_roentgen; }
    void setThresholds(const std::optional<CUserParams>& params) { m_thresholds = params; }
    void setTextColour(const QColor& colour) { m_text = colour; }
    void setEmptyText(const QString& text) { m_emptyText = text; }
    // A sample drawn with a ring; none by default.
    void setSelected(std::optional<std::pair<Quantity, std::size_t>> sample) { m_selected = sample; }

    std::span<const ChartSample> samples(Quantity q) const { return m_samples[std::size_t(q)]; }
    std::span<const ChartBand> bands(Quantity q) const { return m_bands[std::size_t(q)]; }
    std::span<const ChartMark> marks(Quantity q) const { return m_marks[std::size_t(q)]; }

    void paint(QPainter& painter, const QRect& area) const;

    // The panes as paint lays them out in area, top to bottom.
    std::vector<Pane> layout(const QRect& area) const;
    // The time span of the axis (ms).
    std::pair<qint64, qint64> timeSpan() const;
    QPointF pointOf(const Pane& pane, qint64 ms, double value) const;
    // The sample, mark or band nearest to point within radius pixels; marks come first.
    std::optional<Hit> hitTest(const QRect& area, const QPoint& point, int radius = 6) const;

    static QString quantityTitle(Quantity quantity);
    static QColor quantityColour(Quantity quantity);

private:
    struct Threshold {
        double value;
        QString label;
        QColor colour;
    };
    std::vector<Threshold> thresholds(Quantity quantity) const;
    bool hasData(Quantity quantity) const;
    Pane paneOf(Quantity quantity, const QRect& rect) const;
    void paintPane(QPainter& painter, const QRect& rect, const Pane& pane) const;
    void paintSeries(QPainter& painter, const Pane& pane) const;
    void paintBands(QPainter& painter, const Pane& pane) const;
    void paintMarks(QPainter& painter, const Pane& pane) const;
    void paintAxis(QPainter& painter, const QRect& axis, int left, int right) const;

    std::array<std::span<const ChartSample>, DoseQuantityCount> m_samples;
    std::array<std::span<const ChartBand>, DoseQuantityCount> m_bands;
    std::array<std::span<const ChartMark>, DoseQuantityCount> m_marks;
    std::optional<std::pair<qint64, qint64>> m_span;
    qint64 m_minimumSpanMs = 0;
    qint64 m_gapMs = 15000;
    TimeAxis m_axis = TimeAxis::Elapsed;
    bool m_roentgen = false;
    std::optional<CUserParams> m_thresholds;
    QColor m_text = Qt::black;
    QString m_emptyText;
    std::optional<std::pair<Quantity, std::size_t>> m_selected;
};
