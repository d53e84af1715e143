#pragma once

#include "history/measurements.h"

#include <QString>
#include <QtGlobal>

// The texts of a live reading. Plain functions, no port.
namespace MeasurementTexts {

// One reading as the driver reports it.
struct Reading {
    int mode = 0; // device mode 0 to 8
    double value = 0; // 1e-8 Sv/h in mode 3, counts per second or 1/(min*cm²) otherwise
    int error = 0; // statistical error in percent
    quint32 statusWord = 0; // the alarm word
    int betaState = 0; // 0 in process, 1 safe, 2 contaminated
};

// Dose-equivalent rate in instrument units as number and unit, by the units flag.
void doseRate(double x, bool roentgen, QString* number, QString* unit);
// Count rate, "%.2f" up to 9999.99 and "%3.2g" above.
QString countRate(double value);
// " (in process...)", " (safe)", " (contaminated)" or " (uncertain result)".
QString betaVerdict(int betaState);
// The alarm text of the first bit of the status word that has one; empty when none.
QString statusText(quint32 statusWord);

// Fills the texts for the reading's mode; the spare text is left as it is.
void fill(CMeasurements& out, const Reading& reading, bool roentgen);

} // namespace MeasurementTexts
