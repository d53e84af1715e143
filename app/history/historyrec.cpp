#include "history/historyrec.h"
#include "history/historytext.h"

#include "history/archivestream.h"
#include "history/localtime.h"

#include "kestracommon/texts.h"

#include <QCoreApplication>

namespace {

const char* const context = "ChistoryRec";

// The texts of the shared event and alarm tables, for the translation tools (which cannot see
// them there); they are translated through tr() with the table's context field.
[[maybe_unused]] constexpr const char* EventTypeSources[] = {
    QT_TRANSLATE_NOOP("ChistoryRec", "Measurement gamma"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Measurement gamma+beta"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Measurement beta"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Survey mode"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Background"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Search beta/gamma"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Instrument is switched On"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Instrument is switched Off"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Accumulated DE is cleared"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Start of instrument calibration"),
    QT_TRANSLATE_NOOP("ChistoryRec", "End of instrument calibration"),
    QT_TRANSLATE_NOOP("ChistoryRec", "Instrument sound mode is changed"),
};
struct SourceText {
    const char* source;
    const char* comment;
};
[[maybe_unused]] constexpr SourceText AlarmSources[] = {
    QT_TRANSLATE_NOOP3("ChistoryRec", "Detector error!", ""),
    QT_TRANSLATE_NOOP3("ChistoryRec", "Accumulated dose threshold is exceeded!", ""),
    QT_TRANSLATE_NOOP3("ChistoryRec", "Dose overload!", ""),
    QT_TRANSLATE_NOOP3("ChistoryRec", "Threshold \"Danger\" is exceeded!", "beta"),
    QT_TRANSLATE_NOOP3("ChistoryRec", "Threshold \"Danger\" is exceeded!", "gamma"),
    QT_TRANSLATE_NOOP3("ChistoryRec", "Threshold \"Warning\" is exceeded!", "beta"),
    QT_TRANSLATE_NOOP3("ChistoryRec", "Threshold \"Warning\" is exceeded!", "gamma"),
};

QString tr(const char* text, const char* disambiguation = nullptr)
{
    return QCoreApplication::translate(context, text, disambiguation);
}

} // namespace

QString ChistoryRec::makeKey(const QString& pagerId, qint64 dateTime)
{
    return pagerId + QLatin1Char('|') + QString::number(static_cast<qint32>(static_cast<quint32>(dateTime)));
}

QString ChistoryRec::dateText() const
{
    return LocalTime::format(hDateTime, "%Y-%m-%d");
}

QString ChistoryRec::timeText() const
{
    return LocalTime::format(hDateTime, "%H:%M:%S");
}

QString ChistoryRec::eventTypeText(qint32 type)
{
    const kestra::common::CodeText* entry = kestra::common::findCode(kestra::common::eventTypeTexts(), type);
    return entry ? tr(entry->text) : QString();
}

QString ChistoryRec::eventTypeText() const
{
    return eventTypeText(hType);
}

bool ChistoryRec::isAlarmBits(qint32 alarm)
{
    return alarm
        & (DetectorError | DoseThreshold | DoseOverload | BetaDanger | GammaDanger | BetaWarning | GammaWarning);
}

QString ChistoryRec::alarmText(qint32 alarm)
{
    // The most important bit names the alarm. The beta and gamma thresholds share their English
    // texts but stay apart for translation.
    const kestra::common::CodeText* entry
        = kestra::common::firstAlarm(kestra::common::alarmTexts(), static_cast<quint32>(alarm));
    return entry ? tr(entry->text, *entry->context ? entry->context : nullptr) : QString();
}

QString ChistoryRec::alarmText() const
{
    return alarmText(hAlarm);
}

QString ChistoryRec::valueText(bool unitsRoentgen) const
{
    if (hValue < 0)
        return {};
    QString number;
    QString unit;
    const double v = hValue;
    switch (hType) {
    case 3:
        if (unitsRoentgen) {
            if (v < 1000) {
                number = QString::asprintf("%d", static_cast<int>(v));
                unit = tr("µR/h");
            } else if (v < 1000000) {
                number = QString::asprintf("%.2f", v / 1000);
                unit = tr("mR/h");
            } else {
                number = QString::asprintf("%.2f", v / 1000000);
                unit = tr("R/h");
            }
        } else {
            if (v < 100000) {
                number = QString::asprintf("%.2f", static_cast<int>(v) / 100.0);
                unit = tr("µSv/h");
            } else if (v < 100000000) {
                number = QString::asprintf("%.2f", v / 100000);
                unit = tr("mSv/h");
            } else {
                number = QString::asprintf("%.2f", v / 100000000);
                unit = tr("Sv/h");
            }
        }
        break;
    case 5:
        number = QString::asprintf("%.2f", v);
        unit = tr("1/(min*cm²)");
        break;
    case 4:
    case 6:
    case 7:
    case 8:
        number = QString::asprintf(v <= 9999.99 ? "%.2f" : "%3.2g", v);
        unit = tr("cps");
        break;
    default:
        break;
    }
    if (hPrecision != -1)
        number += QString::asprintf("±%2d%%", hPrecision);
    return number + QLatin1Char(' ') + unit;
}

QString ChistoryRec::commentText() const
{
    QString text = hComment;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.remove(QLatin1Char('\r'));
    return text;
}

void ChistoryRec::write(StreamWriter& out) const
{
    out.writeText(hPagerID);
    out.writeTime(hDateTime);
    out.writeInt32(hAlarm);
    out.writeDouble(hValue);
    out.writeText(hComment);
    out.writeInt32(hType);
    out.writeText(hID);
    out.writeDouble(hValue2);
    out.writeInt32(hPrecision);
    out.writeInt32(hVariation);
}

void ChistoryRec::read(StreamReader& in)
{
    ChistoryRec r;
    r.hPagerID = in.readText();
    r.hDateTime = in.readTime();
    r.hAlarm = in.readInt32();
    r.hValue = in.readDouble();
    r.hComment = in.readText();
    r.hType = in.readInt32();
    r.hID = in.readText();
    r.hValue2 = in.readDouble();
    r.hPrecision = in.readInt32();
    r.hVariation = in.readInt32();
    // The texts of a record from outside follow the store's rule; the record is named.
    if (const QString why = HistoryText::recordProblem(r); !why.isEmpty()) {
        const QString text = HistoryText::recordName(r) + QStringLiteral(": ") + why;
        throw StreamError(StreamError::Kind::Format, text.toUtf8().constData());
    }
    *this = std::move(r);
}
