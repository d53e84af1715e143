#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>

class HistoryDb;

// The instrument and local date (automation day number, the hDate column) of a day's events.
struct StoreDay {
    QString pagerId;
    double date = 0;

    bool operator<(const StoreDay& other) const
    {
        return std::pair(pagerId, date) < std::pair(other.pagerId, other.date);
    }
    bool operator==(const StoreDay& other) const { return pagerId == other.pagerId && date == other.date; }
    // "%Y-%m-%d", or the number itself when it is no date.
    QString dateText() const;
};

// Reading one event store, whatever its engine: the days with their event counts, a digest of
// one day and the names. Every event query reads at most one batch of rows at a time.
namespace StoreReader {

// What a day holds, as the program reads it.
struct DayDigest {
    qint64 count = 0; // rows of the day
    qint64 unmovable = 0; // rows without an exact time, type, alarm or value: no copy can hold them
    QByteArray checksum; // SHA-256 over the other rows in the order of the store's uniqueness
    bool operator==(const DayDigest& other) const = default;
};

// Rows per query of events.
constexpr int BatchSize = 2000;

// Every day of the store with its number of events (one grouped query). Throws DbError.
std::map<StoreDay, qint64> dayCounts(const QSqlDatabase& db);
// The first day whose earliest or latest event has another local date in this process's time
// zone than the store gave it (one grouped query): a store written in another zone. Throws
// DbError.
std::optional<StoreDay> otherZoneDay(const QSqlDatabase& db);
// The day's digest, read in batches. Throws DbError.
DayDigest digest(const QSqlDatabase& db, const StoreDay& day);
// The name table: identifier to name (a null QVariant for a null name). Throws DbError.
std::map<QString, QVariant> names(const QSqlDatabase& db);
// Fails with the store's text when db has no tables of events and names with the columns the
// program reads.
bool isEventStore(const QSqlDatabase& db, QString* error);

} // namespace StoreReader

// Copies the events and instrument names of one store into another, one instrument-day at a
// time, and checks each day on both sides by its count and checksum. Names are added where
// the target has none; a name the target holds already is kept (a rename made there stays)
// and reported when it differs. Texts that break the store's text rule (HistoryText) are
// mended on the way and reported; the checksums compare the mended texts. A source written in
// another time zone is refused before anything is written.
//
// The target's own insert does the writing, so its uniqueness rule and whatever it keeps beside
// the events stay true; each batch is one transaction. A run that was stopped is taken up again
// by running it once more: a day whose count and checksum already agree is left alone, a day
// copied in part is copied again and the events already there are skipped. Nothing is written
// into the source.
class StoreMigration {
public:
    struct Step {
        enum class Kind {
            Survey, // the source's days were counted (days, events)
            Names, // the names were copied (copied)
            DayCopied, // a day was copied and agrees (day, index, events, copied)
            DayPresent, // a day agreed already (day, index, events)
            DayMismatch, // a day or a name disagrees after the copy (day, events, targetEvents, reason)
            Finished, // the closing count over both stores (days, events, targetEvents, mismatches, extraDays)
            NameKept, // the target names the instrument otherwise and keeps its name (day.pagerId, detail)
            TextMended, // texts of a day's events broke the text rule and were mended (day, copied, detail)
        };
        enum class Reason {
            None,
            Counts, // the numbers of events differ
            Checksums, // as many events, but not the same ones
            Unmovable, // the source holds events without time, type, alarm or value (unmovable)
            Changed, // the day agreed, but no longer at the closing count: a store changed meanwhile
            Name, // the instrument's name differs (day.pagerId)
        };
        Kind kind = Kind::Survey;
        StoreDay day;
        qsizetype index = 0; // of the day, from 1
        qsizetype days = 0;
        qint64 events = 0;
        qint64 targetEvents = 0;
        qint64 copied = 0;
        qsizetype mismatches = 0;
        qsizetype extraDays = 0; // days only the target holds
        qint64 unmovable = 0;
        Reason reason = Reason::None;
        QString detail; // NameKept: the two names; TextMended: the first such event
    };
    using Progress = std::function<void(const Step&)>;

    // source stays open and is only read; target is written through its insert.
    StoreMigration(const QSqlDatabase& source, HistoryDb& target, Progress progress);

    // True when every day and name of the source is in the target as it is in the source. A
    // store that fails ends the run with the store's text in *error (false); a disagreement ends
    // no run: it is reported as a step, and the result is false with *error empty.
    bool run(QString* error);

    qsizetype mismatches() const { return m_mismatches; }

private:
    bool copyNames(QString* error);
    bool copyDay(const StoreDay& day, qint64* copied, QString* error);
    // targetCount: the target's count when known already, else -1.
    Step compareDay(const StoreDay& day, qint64 sourceCount, qint64 targetCount);
    void closingCount(const std::set<StoreDay>& reported);

    QSqlDatabase m_source;
    HistoryDb& m_target;
    Progress m_progress;
    qsizetype m_mismatches = 0;
};
