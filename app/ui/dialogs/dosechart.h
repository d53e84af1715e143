#pragma once

#include "charts/chartpainter.h"
#include "history/userparams.h"

#include <QWidget>

#include <array>
#include <optional>
#include <vector>

class CMeasurements;
class QPainter;

// A live chart of the readings since the online window opened. Gamma dose rate, beta flux and
// count rate are different quantities, so each gets a pane of its own on a common time axis;
// a pane appears once it has a sample. The instrument's thresholds are drawn as lines when they
// are known. Samples are kept in plain vectors and painted by ChartPainter, whose cost does not
// grow with the window's age beyond one pass over the samples.
class DoseChart : public QWidget {
    Q_OBJECT
public:
    using Quantity = DoseQuantity;
    static constexpr int QuantityCount = DoseQuantityCount;
    // Samples kept per quantity (more than four days at one sample every 2 s); the oldest half
    // goes when a series is full.
    static constexpr std::size_t MaxSamples = 200000;

    // ms: since the chart's start.
    using Sample = ChartSample;

    explicit DoseChart(QWidget* parent = nullptr);

    // The quantity and value of a reading as the online window shows it; false when its texts
    // carry nothing to chart (no mode, a unit this program does not write).
    static bool sampleOf(const CMeasurements& reading, Quantity* quantity, double* value, bool* roentgen);

    // ms: milliseconds since the chart's start (the window's opening).
    void addSample(Quantity quantity, qint64 ms, double value);
    void setRoentgen(bool roentgen);
    void setThresholds(const std::optional<CUserParams>& params);
    const std::optional<CUserParams>& thresholds() const { return m_thresholds; }
    void clear();

    int sampleCount(Quantity quantity) const { return int(series(quantity).size()); }
    int sampleCount() const;
    const std::vector<Sample>& series(Quantity quantity) const { return m_series[std::size_t(quantity)]; }

    // Draws the chart into a rectangle of any painter (the widget, an image in a benchmark).
    void paintChart(QPainter& painter, const QRect& area) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<std::vector<Sample>, QuantityCount> m_series;
    bool m_roentgen = false;
    std::optional<CUserParams> m_thresholds;
};
