#pragma once

#include "history/historyrec.h"
#include "history/userparams.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

class HistoryDb;

// The figures of a dose report for one instrument over a span, per local day: the highest and
// the mean gamma dose rate of the day's measurements, the alarms by kind, the time the dose
// rate stood at or above each threshold, and the cleared-dose events.
//
// Time above a threshold: a gamma measurement at or above it counts from its own time until
// the next gamma measurement, but for at most one history interval (one hour when the interval
// is not known) and not past the end of its day; so a gap in the history, when the instrument
// was off, counts as nothing.
class DoseReport {
public:
    // Alarm kinds in the order in which the alarm bits decide the alarm text.
    enum AlarmKind { DetectorError, DoseThreshold, DoseOverload, BetaDanger, GammaDanger, BetaWarning, GammaWarning };
    static constexpr int AlarmKinds = 7;
    // The kind of an event's alarm bits; -1 when they give no alarm text.
    static int alarmKind(qint32 bits);
    // A short name for a table ("Danger γ").
    static QString kindName(int kind);

    struct Day {
        qint64 day = 0; // local midnight
        int measurements = 0; // gamma dose rate measurements
        double highest = 0; // dose rate in the report's unit
        double sum = 0;
        std::array<int, AlarmKinds> alarms {};
        qint64 aboveWarning = 0; // seconds
        qint64 aboveDanger = 0;
        std::vector<qint64> doseCleared; // times of the cleared-dose events

        double mean() const { return measurements > 0 ? sum / measurements : 0; }
        int alarmCount() const;
    };

    // thresholds: the instrument's settings when known; the dose rate thresholds are then
    // those of its gamma warning and danger (zero: not set).
    DoseReport(QString instrument, qint64 from, qint64 to, bool unitsRoentgen,
        std::optional<CUserParams> thresholds = std::nullopt);

    // Events in time order; others than the instrument's and outside the span are ignored.
    void add(const ChistoryRec& record);
    // Closes the last measurement's time above the thresholds. Called once after the last add.
    void finish();

    // Reads the span from the store in batches and returns the finished report. Throws DbError.
    static DoseReport fromStore(HistoryDb& db, const QString& instrument, qint64 from, qint64 to, bool unitsRoentgen,
        std::optional<CUserParams> thresholds = std::nullopt);

    const QString& instrument() const { return m_instrument; }
    qint64 from() const { return m_from; }
    qint64 to() const { return m_to; } // exclusive
    bool unitsRoentgen() const { return m_roentgen; }
    QString unit() const; // of the dose rates
    bool thresholdsKnown() const { return m_warning > 0 || m_danger > 0; }
    // In the report's unit; 0 when not set.
    double warningThreshold() const { return toUnit(m_warning); }
    double dangerThreshold() const { return toUnit(m_danger); }

    // The days that hold events, oldest first.
    const std::vector<Day>& days() const { return m_days; }
    // The whole span as one day (its key is from()).
    Day total() const;

private:
    double toUnit(double instrumentValue) const;
    Day* dayOf(qint64 time); // nullptr for a moment without a local day
    void closeMeasurement(qint64 until);

    QString m_instrument;
    qint64 m_from;
    qint64 m_to;
    bool m_roentgen;
    double m_warning = 0; // instrument units
    double m_danger = 0;
    qint64 m_maxGap = 3600;
    std::vector<Day> m_days;
    // The last gamma measurement, until the next one says how long it stood.
    struct Pending {
        qint64 time = 0;
        double value = 0;
        qint64 dayEnd = 0;
        size_t dayIndex = 0;
    };
    std::optional<Pending> m_pending;
};
