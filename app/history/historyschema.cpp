#include "history/historyschema.h"
#include "history/historyschemasteps.h"

#include "history/localtime.h"

#include <QCoreApplication>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>
#include <vector>

namespace HistorySchema {

namespace {

// The columns every store has had, in the order of the documented table.
const char* const documentedColumns[] = { "hID", "hType", "hAlarm", "hDate", "hTime", "hValue", "hValue2", "hPrecision",
    "hVariation", "hComment", "hPagerID" };

const char* const schema[] = {
    "CREATE TABLE IF NOT EXISTS History (hID TEXT, hType INTEGER, hAlarm INTEGER, hDate REAL, hTime REAL, "
    "hValue REAL, hValue2 REAL, hPrecision INTEGER, hVariation INTEGER, hComment TEXT, hPagerID TEXT, "
    "hDateTime INTEGER)",
    // Record equality is the store's uniqueness: a re-import adds nothing, distinct events of
    // one second both stay. It also serves the range scan of an instrument's newer events.
    "CREATE UNIQUE INDEX IF NOT EXISTS HistoryEvent ON History (hPagerID, hDateTime, hType, hAlarm, hValue)",
    // Day events (instrument and date, by time) and the day summary (covering).
    "CREATE INDEX IF NOT EXISTS HistoryDay ON History (hPagerID, hDate, hTime, hAlarm)",
    "CREATE INDEX IF NOT EXISTS HistoryKey ON History (hID)",
    "CREATE TABLE IF NOT EXISTS Pagers (pID TEXT PRIMARY KEY, pName TEXT)",
};

// The day summary: events and alarm events per instrument and local day, kept by the store
// itself in the transaction that writes the events, so that listing the days does not read
// the events. A row without instrument or date counts under '' or 0, as the readers take it.
const char* const summaryTable = "CREATE TABLE DaySummary (sPagerID TEXT NOT NULL, sDate REAL NOT NULL, "
                                 "sEvents INTEGER NOT NULL, sAlarms INTEGER NOT NULL, PRIMARY KEY (sPagerID, sDate)) "
                                 "WITHOUT ROWID";
const char* const summaryFill
    = "INSERT INTO DaySummary (sPagerID, sDate, sEvents, sAlarms) SELECT coalesce(hPagerID, ''), coalesce(hDate, 0), "
      "count(*), sum(CASE WHEN hAlarm = 0 THEN 0 ELSE 1 END) FROM History GROUP BY 1, 2";
// The statements that count a row in (row is NEW) or out (OLD) of its day.
QString summaryAdd(const char* row)
{
    return QStringLiteral(
        "INSERT INTO DaySummary (sPagerID, sDate, sEvents, sAlarms) VALUES (coalesce(%1.hPagerID, ''), "
        "coalesce(%1.hDate, 0), 1, CASE WHEN %1.hAlarm = 0 THEN 0 ELSE 1 END) "
        "ON CONFLICT (sPagerID, sDate) DO UPDATE SET sEvents = sEvents + 1, "
        "sAlarms = sAlarms + excluded.sAlarms;")
        .arg(QLatin1String(row));
}
QString summaryRemove(const char* row)
{
    return QStringLiteral(
        "UPDATE DaySummary SET sEvents = sEvents - 1, sAlarms = sAlarms - (CASE WHEN %1.hAlarm = 0 "
        "THEN 0 ELSE 1 END) WHERE sPagerID = coalesce(%1.hPagerID, '') AND sDate = coalesce(%1.hDate, 0); "
        "DELETE FROM DaySummary WHERE sPagerID = coalesce(%1.hPagerID, '') AND "
        "sDate = coalesce(%1.hDate, 0) AND sEvents <= 0;")
        .arg(QLatin1String(row));
}

// Two rows that the unique index HistoryEvent holds equal; o is the other row.
constexpr const char* sameEvent = "o.hPagerID = History.hPagerID AND o.hDateTime = History.hDateTime AND "
                                  "o.hType = History.hType AND o.hAlarm = History.hAlarm AND o.hValue = History.hValue";
// A comment with something in it; a blank is what a missing comment reads as.
constexpr const char* filledComment = "trim(o.hComment, ' ' || char(9, 10, 13)) <> ''";

// The exact time of every row, from its local date and time. Rows are taken in slices so that
// a large store does not have to fit in memory. A row whose date cannot be read keeps no exact
// time; the readers fall back on the date columns for it, as they did before.
void fillExactTimes(QSqlDatabase& db)
{
    constexpr int Slice = 10000;
    QSqlQuery select(db);
    QSqlQuery update(db);
    if (!select.prepare(QStringLiteral("SELECT rowid, hDate, hTime FROM History WHERE rowid > ? ORDER BY rowid "
                                       "LIMIT %1")
                            .arg(Slice)))
        throw Failure { select.lastError().text() };
    if (!update.prepare(QStringLiteral("UPDATE History SET hDateTime = ? WHERE rowid = ?")))
        throw Failure { update.lastError().text() };
    qint64 after = std::numeric_limits<qint64>::min();
    for (;;) {
        select.bindValue(0, after);
        if (!select.exec())
            throw Failure { select.lastError().text() };
        int rows = 0;
        std::vector<std::pair<qint64, qint64>> times;
        while (select.next()) {
            ++rows;
            after = select.value(0).toLongLong();
            const double date = select.value(1).isNull() ? 0.0 : select.value(1).toDouble();
            const double time = select.value(2).isNull() ? 0.0 : select.value(2).toDouble();
            if (const auto exact = LocalTime::fromAutomation(date + time))
                times.emplace_back(after, *exact);
        }
        if (select.lastError().isValid())
            throw Failure { select.lastError().text() };
        select.finish();
        for (const auto& [row, exact] : times) {
            update.bindValue(0, exact);
            update.bindValue(1, row);
            if (!update.exec())
                throw Failure { update.lastError().text() };
        }
        if (rows < Slice)
            break;
    }
}

// Adds the exact-time column to a store of the documented columns and merges the rows that
// are now one event: the first row stays and keeps a comment that one of them carries.
void upgradeFromDocumentedColumns(QSqlDatabase& db)
{
    QSqlQuery q(db);
    run(q, QStringLiteral("ALTER TABLE History ADD COLUMN hDateTime INTEGER"));
    fillExactTimes(db);
    // An index of that name from an earlier layout cannot be the one on the new column.
    run(q, QStringLiteral("DROP INDEX IF EXISTS HistoryEvent"));
    run(q, QStringLiteral("CREATE INDEX HistoryUpgrade ON History (hPagerID, hDateTime, hType, hAlarm, hValue)"));
    run(q,
        QStringLiteral("UPDATE History SET hComment = (SELECT o.hComment FROM History o WHERE %1 AND %2 ORDER BY "
                       "o.rowid LIMIT 1) WHERE coalesce(trim(hComment, ' ' || char(9, 10, 13)), '') = '' AND rowid = "
                       "(SELECT min(o.rowid) FROM History o WHERE %1) AND EXISTS (SELECT 1 FROM History o WHERE %1 "
                       "AND %2)")
            .arg(QLatin1String(sameEvent), QLatin1String(filledComment)));
    run(q,
        QStringLiteral("DELETE FROM History WHERE rowid > (SELECT min(o.rowid) FROM History o WHERE %1)")
            .arg(QLatin1String(sameEvent)));
    run(q, QStringLiteral("DROP INDEX HistoryUpgrade"));
}

// Counts the stored events into a new day summary and keeps it from then on.
void addDaySummary(QSqlDatabase& db)
{
    QSqlQuery q(db);
    run(q, QString::fromLatin1(summaryTable));
    run(q, QString::fromLatin1(summaryFill));
    run(q,
        QStringLiteral("CREATE TRIGGER HistorySummaryInsert AFTER INSERT ON History BEGIN %1 END")
            .arg(summaryAdd("NEW")));
    run(q,
        QStringLiteral("CREATE TRIGGER HistorySummaryDelete AFTER DELETE ON History BEGIN %1 END")
            .arg(summaryRemove("OLD")));
    run(q,
        QStringLiteral(
            "CREATE TRIGGER HistorySummaryUpdate AFTER UPDATE OF hPagerID, hDate, hAlarm ON History BEGIN %1 %2 END")
            .arg(summaryRemove("OLD"), summaryAdd("NEW")));
}

} // namespace

namespace {

// Reads every page once: a damaged page is found now, not when a day is shown.
bool quickCheck(QSqlQuery& q, const QString& path, QString* error)
{
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next()) {
        *error = tr("%1 is damaged: %2").arg(path, q.lastError().text());
        return false;
    }
    if (q.value(0).toString() != QLatin1String("ok")) {
        *error = tr("%1 is damaged: %2").arg(path, q.value(0).toString());
        return false;
    }
    q.finish();
    return true;
}

} // namespace

bool prepare(QSqlDatabase& db, const QString& path, bool writable, QString* error, bool fullCheck)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Reading the catalogue fails at once on a file that is not a database, or one whose
    // first pages are damaged.
    const auto unreadable = [&] {
        const QSqlError e = q.lastError();
        *error = (e.nativeErrorCode() == QLatin1String("11") ? tr("%1 is damaged: %2")
                                                             : tr("%1 is not an event database: %2"))
                     .arg(path, e.text());
        return false;
    };
    QSet<QString> tables;
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return unreadable();
    while (q.next())
        tables.insert(q.value(0).toString());
    if (q.lastError().isValid())
        return unreadable();
    q.finish();

    if (fullCheck && !quickCheck(q, path, error))
        return false;

    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        *error = tr("%1 is not an event database: %2").arg(path, q.lastError().text());
        return false;
    }
    const int version = q.value(0).toInt();
    q.finish();
    if (version < 0) {
        *error = tr("%1 is not an event database: unknown layout %2").arg(path, QString::number(version));
        return false;
    }
    if (version > Version) {
        *error = tr("%1 was written by a newer version of the program (layout %2); it is not opened")
                     .arg(path, QString::number(version));
        return false;
    }

    const bool hasHistory = tables.contains(QStringLiteral("History"));
    bool hasExactTime = false;
    if (hasHistory) {
        QSet<QString> columns;
        if (!q.exec(QStringLiteral("PRAGMA table_info(History)"))) {
            *error = tr("%1 is damaged: %2").arg(path, q.lastError().text());
            return false;
        }
        while (q.next())
            columns.insert(q.value(1).toString());
        q.finish();
        for (const char* column : documentedColumns) {
            if (!columns.contains(QLatin1String(column))) {
                *error = tr("%1 is not an event database: its table History has no column %2")
                             .arg(path, QLatin1String(column));
                return false;
            }
        }
        hasExactTime = columns.contains(QStringLiteral("hDateTime"));
    }
    // A read-only store without the day summary is still read: the summary is then counted.
    const bool complete = hasHistory && hasExactTime && tables.contains(QStringLiteral("Pagers"));
    if (complete && (version == Version || !writable))
        return true;
    if (!writable) {
        *error = hasHistory
            ? tr("%1 is an event database of an earlier version and cannot be written to upgrade it").arg(path)
            : tr("%1 has no event tables and cannot be written").arg(path);
        return false;
    }

    const bool upgrade = hasHistory;
    // An upgrade rewrites much of the file: never into a damaged one.
    if (upgrade && !fullCheck && !quickCheck(q, path, error))
        return false;
    if (!db.transaction()) {
        *error = tr("%1 cannot be prepared: %2").arg(path, db.lastError().text());
        return false;
    }
    try {
        if (hasHistory && !hasExactTime)
            upgradeFromDocumentedColumns(db);
        for (const char* statement : schema)
            run(q, QString::fromLatin1(statement));
        if (!tables.contains(QStringLiteral("DaySummary")))
            addDaySummary(db);
        run(q, QStringLiteral("PRAGMA user_version = %1").arg(Version));
        commit(db, q);
    } catch (const Failure& failure) {
        return rolledBack(db, q, path, upgrade, failure, error);
    }
    return true;
}

} // namespace HistorySchema
