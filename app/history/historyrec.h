#pragma once

#include <QString>
#include <QtGlobal>

class StreamReader;
class StreamWriter;

// One event of an instrument. A plain value: copying copies every field.
class ChistoryRec {
public:
    // Alarm bits, in the order in which they decide the alarm text.
    enum AlarmBit : qint32 {
        DetectorError = 0x200,
        DoseThreshold = 0x008,
        DoseOverload = 0x004,
        BetaDanger = 0x800,
        GammaDanger = 0x002,
        BetaWarning = 0x400,
        GammaWarning = 0x001,
        SearchAlarm = 0x010, // set for a search-mode alarm; gives no alarm text
    };
    // Minimum size of a record in the stream form (three empty 8-bit texts).
    static constexpr qint64 minStreamSize = 3 * 1 + 8 + 4 + 8 + 4 + 8 + 4 + 4;

    qint64 hDateTime = 0; // seconds since 1970-01-01 UTC
    double hValue = 0; // negative: no value
    double hValue2 = 0;
    qint32 hPrecision = -1; // percent; -1: none
    qint32 hVariation = 0;
    QString hComment;
    qint32 hAlarm = 0;
    qint32 hType = 0;
    QString hPagerID;
    QString hID; // "%s|%d" of instrument and the low 32 bits of the time

    static QString makeKey(const QString& pagerId, qint64 dateTime);

    QString dateText() const; // local "%Y-%m-%d"
    QString timeText() const; // local "%H:%M:%S"
    QString eventTypeText() const;
    QString alarmText() const;
    // The value with precision and unit, in roentgens or sieverts.
    QString valueText(bool unitsRoentgen) const;
    QString commentText() const; // line feeds become blanks, carriage returns go
    const QString& key() const { return hID; }

    // An alarm for the filter, the list flag and the exports: the alarm text is not empty.
    bool isAlarm() const { return isAlarmBits(hAlarm); }
    static bool isAlarmBits(qint32 alarm);

    // Equality drops duplicates: time, type, alarm, value (exact) and instrument. Comment,
    // key, second value, precision and variation take no part.
    bool operator==(const ChistoryRec& other) const
    {
        return hDateTime == other.hDateTime && hType == other.hType && hAlarm == other.hAlarm && hValue == other.hValue
            && hPagerID == other.hPagerID;
    }
    // Newest first.
    static bool newerThan(const ChistoryRec& a, const ChistoryRec& b) { return a.hDateTime > b.hDateTime; }

    void write(StreamWriter& out) const;
    // Reads a record; on a stream error the record keeps its old value.
    void read(StreamReader& in);

    // Texts used by the event type and alarm texts, for callers that need the table.
    static QString eventTypeText(qint32 type);
    static QString alarmText(qint32 alarm);
};
