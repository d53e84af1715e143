#pragma once

#include "history/historylist.h"

#include <QStringList>

#include <map>
#include <optional>

// One instrument with its days, keyed by local midnight, ascending. References to day lists
// stay valid while days and records are added.
class CPager {
public:
    using Days = std::map<qint64, CHistoryList>;
    // Minimum size of an instrument in the stream form (two empty 8-bit texts, no days).
    static constexpr qint64 minStreamSize = 1 + 1 + 4;

    CPager() = default;
    explicit CPager(const QString& identifier)
        : m_identifier(identifier)
    {
    }
    // A copy keeps identifier, name and days; it is in no list (index -1).
    CPager(const CPager& other);
    CPager& operator=(const CPager& other);
    CPager(CPager&&) = default;
    CPager& operator=(CPager&&) = default;

    const QString& identifier() const { return m_identifier; }
    const QString& name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    // The name, or the identifier when there is none.
    QString displayName() const { return m_name.isEmpty() ? m_identifier : m_name; }
    int index() const { return m_index; }
    void setIndex(int index) { m_index = index; }

    const Days& days() const { return m_days; }

    // Files a copy under the day of its time, creating the day when new; no duplicate test.
    // Throws std::invalid_argument when the time has no local day.
    ChistoryRec& addEvent(const ChistoryRec& record);
    CHistoryList* dayList(qint64 time);
    const CHistoryList* dayList(qint64 time) const;
    // Events held for the day, or -1 when the day does not exist.
    int dayEventCount(qint64 time) const;
    CHistoryList& ensureDay(qint64 time);
    void setDayAlarm(qint64 time, bool alarm);
    // The same for a day whose key (LocalTime::dayKey) the caller already has.
    void setDayAlarmOfKey(qint64 key, bool alarm) { m_days[key].hasAlarms = alarm; }
    bool isDayLoaded(qint64 time) const;
    void markDayLoaded(qint64 time);
    // Lets go of a loaded day's events; the day stays, with its alarm mark, to be loaded again.
    void unloadDay(qint64 time);
    bool isDuplicate(const ChistoryRec& record) const;
    ChistoryRec* findEvent(const ChistoryRec& record);
    int copyNewer(CHistoryList& target, qint64 t) const;
    // "%d-%m-%Y" of every day, sorted by exact text order.
    void dayTexts(QStringList& out) const;

    // Day key named by a "%d-%m-%Y" or "%Y-%m-%d" text; 0 for a text of 9 characters or fewer
    // or without a year. Throws std::out_of_range for a day or month out of range and
    // std::invalid_argument for a date the platform cannot represent.
    static qint64 parseDayText(const QString& text);

    void write(StreamWriter& out) const;
    // Reads identifier, name and days, merging into existing days; unchanged on error.
    void read(StreamReader& in);

private:
    QString m_identifier;
    QString m_name;
    Days m_days;
    int m_index = -1;
};
