#include "ui/dialogs/dosechart.h"

#include "history/measurements.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Samples further apart than this are not joined: the readings in between failed or showed
// another quantity.
constexpr qint64 GapMs = 15000;
// The time axis spans at least this much, so that the first samples do not fill the width.
constexpr qint64 MinSpanMs = 60000;

// The unit texts of a reading, as the device texts write them.
QString deviceText(const char* text)
{
    return QCoreApplication::translate("MeasurementTexts", text);
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
    for (const ChartUnits::DoseUnit& unit : ChartUnits::doseUnits()) {
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

void DoseChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintChart(painter, rect());
}

void DoseChart::paintChart(QPainter& painter, const QRect& area) const
{
    ChartPainter chart;
    for (int i = 0; i < QuantityCount; ++i)
        chart.setSamples(Quantity(i), m_series[std::size_t(i)]);
    chart.setTimeAxis(ChartPainter::TimeAxis::Elapsed);
    chart.setMinimumSpan(MinSpanMs);
    chart.setGap(GapMs);
    chart.setRoentgen(m_roentgen);
    chart.setThresholds(m_thresholds);
    chart.setTextColour(palette().color(QPalette::WindowText));
    chart.setEmptyText(tr("Waiting for the first reading"));
    chart.paint(painter, area);
}
