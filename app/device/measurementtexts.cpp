#include "device/measurementtexts.h"

#include "kestracommon/texts.h"

#include <QCoreApplication>

#include <cmath>

namespace MeasurementTexts {

namespace {

// The texts of the shared alarm and beta verdict tables, for the translation tools (which
// cannot see them there); they are translated through tr() with the table's context field.
struct SourceText {
    const char* source;
    const char* comment;
};
[[maybe_unused]] constexpr SourceText TableSources[] = {
    QT_TRANSLATE_NOOP3("MeasurementTexts", "Detector error!", ""),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "Accumulated dose threshold is exceeded!", ""),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "Dose overload!", ""),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "Threshold \"Danger\" is exceeded!", "beta"),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "Threshold \"Danger\" is exceeded!", "gamma"),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "Threshold \"Warning\" is exceeded!", "beta"),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "Threshold \"Warning\" is exceeded!", "gamma"),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "in process...", ""),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "safe", ""),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "contaminated", ""),
    QT_TRANSLATE_NOOP3("MeasurementTexts", "uncertain result", ""),
};

QString tr(const char* text, const char* disambiguation = nullptr)
{
    return QCoreApplication::translate("MeasurementTexts", text, disambiguation);
}

// Truncates toward zero without the undefined behaviour of casting a value out of range.
qint64 truncated(double x)
{
    if (!std::isfinite(x))
        return 0;
    if (x >= 9.0e18)
        return Q_INT64_C(9000000000000000000);
    if (x <= -9.0e18)
        return -Q_INT64_C(9000000000000000000);
    return static_cast<qint64>(x);
}

} // namespace

void doseRate(double x, bool roentgen, QString* number, QString* unit)
{
    if (roentgen) {
        if (x < 1000) {
            *number = QString::number(truncated(x));
            *unit = tr("µR/h");
        } else if (x < 1000000) {
            *number = QString::asprintf("%.2f", x / 1000);
            *unit = tr("mR/h");
        } else {
            *number = QString::asprintf("%.2f", x / 1000000);
            *unit = tr("R/h");
        }
    } else {
        if (x < 100000) {
            *number = QString::asprintf("%.2f", static_cast<double>(truncated(x)) / 100);
            *unit = tr("µSv/h");
        } else if (x < 100000000) {
            *number = QString::asprintf("%.2f", x / 100000);
            *unit = tr("mSv/h");
        } else {
            *number = QString::asprintf("%.2f", x / 100000000);
            *unit = tr("Sv/h");
        }
    }
}

QString countRate(double value)
{
    return value > 9999.99 ? QString::asprintf("%3.2g", value) : QString::asprintf("%.2f", value);
}

QString betaVerdict(int betaState)
{
    const kestra::common::CodeText* entry = kestra::common::findCode(kestra::common::betaStatusTexts(), betaState);
    return QStringLiteral(" (%1)").arg(tr(entry ? entry->text : kestra::common::BetaStatusUncertain));
}

QString statusText(quint32 statusWord)
{
    // The most important bit names the alarm. The beta and gamma threshold texts read alike in
    // English but are separate entries, so that a translation can tell them apart.
    const kestra::common::CodeText* entry = kestra::common::firstAlarm(kestra::common::alarmTexts(), statusWord);
    return entry ? tr(entry->text, *entry->context ? entry->context : nullptr) : QString();
}

void fill(CMeasurements& out, const Reading& reading, bool roentgen)
{
    const QString cps = tr("cps");
    switch (reading.mode) {
    case 3:
        doseRate(reading.value, roentgen, &out.value, &out.units);
        out.mode = tr("Measurement gamma");
        out.radiation = tr("gamma");
        break;
    case 4:
        out.value = countRate(reading.value);
        out.units = cps;
        out.mode = tr("Measurement gamma+beta");
        out.radiation = tr("gamma+beta");
        break;
    case 5:
        out.value = QString::asprintf("%.2f", reading.value);
        out.units = tr("1/(min*cm²)");
        out.mode = tr("Measurement beta") + betaVerdict(reading.betaState);
        out.radiation = tr("beta");
        break;
    case 6:
        out.value = countRate(reading.value);
        out.units = cps;
        out.mode = tr("Survey mode") + betaVerdict(reading.betaState);
        out.radiation = tr("gamma+beta");
        break;
    case 7:
        out.value = countRate(reading.value);
        out.units = cps;
        out.mode = tr("Background");
        break;
    case 8:
        out.value = countRate(reading.value);
        out.units = cps;
        out.mode = tr("Search beta/gamma");
        out.radiation = tr("gamma+beta");
        break;
    default:
        out.mode.clear();
        break;
    }
    if (reading.mode >= 3 && reading.mode <= 8)
        out.error = QString::asprintf("±%02d %%", reading.error);
    out.dose = QStringLiteral("-1");
    out.doseTime = QStringLiteral("00:00:00");
    out.status = statusText(reading.statusWord);
}

} // namespace MeasurementTexts
