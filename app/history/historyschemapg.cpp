#include "history/historyschema.h"
#include "history/historyschemasteps.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

// The event database on a PostgreSQL server. The layout matches the SQLite file's: the same
// tables, columns and indexes (identifiers in the text compared byte by byte, as SQLite does,
// so that every list comes out in the same order), the day summary kept by statement triggers,
// and the version in a one-row table KestraSchema.
namespace HistorySchema {

namespace {

// Layout 1: the tables and indexes. A file store also indexes hID; a server does without: the
// comment update finds its row through HistoryEvent, and keeping a text index in the server's
// collation costs a third of every insert.
const char* const tables[] = {
    "CREATE TABLE History (hID TEXT, hType INTEGER, hAlarm INTEGER, hDate DOUBLE PRECISION, hTime DOUBLE PRECISION, "
    "hValue DOUBLE PRECISION, hValue2 DOUBLE PRECISION, hPrecision INTEGER, hVariation INTEGER, hComment TEXT, "
    "hPagerID TEXT COLLATE \"C\", hDateTime BIGINT)",
    "CREATE UNIQUE INDEX HistoryEvent ON History (hPagerID, hDateTime, hType, hAlarm, hValue)",
    "CREATE INDEX HistoryDay ON History (hPagerID, hDate, hTime, hAlarm)",
    "CREATE TABLE Pagers (pID TEXT COLLATE \"C\" PRIMARY KEY, pName TEXT)",
};

// Layout 2: the day summary. A statement's rows are counted together, once per statement:
// a batch of inserts costs one summary write per day it touches, not one per event. The
// days are taken in key order so that two stations writing the same days lock them in the
// same order.
const char* const summary[] = {
    "CREATE TABLE DaySummary (sPagerID TEXT COLLATE \"C\" NOT NULL, sDate DOUBLE PRECISION NOT NULL, "
    "sEvents BIGINT NOT NULL, sAlarms BIGINT NOT NULL, PRIMARY KEY (sPagerID, sDate))",
    "INSERT INTO DaySummary (sPagerID, sDate, sEvents, sAlarms) SELECT coalesce(hPagerID, ''), coalesce(hDate, 0), "
    "count(*), sum(CASE WHEN hAlarm = 0 THEN 0 ELSE 1 END) FROM History GROUP BY 1, 2",
    "CREATE FUNCTION kestra_day_summary() RETURNS trigger LANGUAGE plpgsql AS $body$\n"
    "BEGIN\n"
    "  IF TG_OP IN ('DELETE', 'UPDATE') THEN\n"
    "    UPDATE DaySummary s SET sEvents = s.sEvents - r.e, sAlarms = s.sAlarms - r.a\n"
    "      FROM (SELECT coalesce(hPagerID, '') AS p, coalesce(hDate, 0) AS d, count(*) AS e,\n"
    "                   sum(CASE WHEN hAlarm = 0 THEN 0 ELSE 1 END) AS a FROM removed GROUP BY 1, 2) r\n"
    "      WHERE s.sPagerID = r.p AND s.sDate = r.d;\n"
    "    DELETE FROM DaySummary s USING (SELECT DISTINCT coalesce(hPagerID, '') AS p, coalesce(hDate, 0) AS d\n"
    "                                    FROM removed) r\n"
    "      WHERE s.sPagerID = r.p AND s.sDate = r.d AND s.sEvents <= 0;\n"
    "  END IF;\n"
    "  IF TG_OP IN ('INSERT', 'UPDATE') THEN\n"
    "    INSERT INTO DaySummary AS s (sPagerID, sDate, sEvents, sAlarms)\n"
    "      SELECT coalesce(hPagerID, ''), coalesce(hDate, 0), count(*), sum(CASE WHEN hAlarm = 0 THEN 0 ELSE 1 END)\n"
    "        FROM added GROUP BY 1, 2 ORDER BY 1, 2\n"
    "      ON CONFLICT (sPagerID, sDate) DO UPDATE SET sEvents = s.sEvents + excluded.sEvents,\n"
    "                                                  sAlarms = s.sAlarms + excluded.sAlarms;\n"
    "  END IF;\n"
    "  RETURN NULL;\n"
    "END\n"
    "$body$",
    "CREATE TRIGGER HistorySummaryInsert AFTER INSERT ON History REFERENCING NEW TABLE AS added "
    "FOR EACH STATEMENT EXECUTE FUNCTION kestra_day_summary()",
    "CREATE TRIGGER HistorySummaryDelete AFTER DELETE ON History REFERENCING OLD TABLE AS removed "
    "FOR EACH STATEMENT EXECUTE FUNCTION kestra_day_summary()",
    "CREATE TRIGGER HistorySummaryUpdate AFTER UPDATE ON History REFERENCING OLD TABLE AS removed NEW TABLE AS added "
    "FOR EACH STATEMENT EXECUTE FUNCTION kestra_day_summary()",
};

template <size_t N> void runAll(QSqlQuery& q, const char* const (&statements)[N])
{
    for (const char* statement : statements)
        run(q, QString::fromUtf8(statement));
}

// Any number, the same for every program that prepares a store: stations that open a new
// server database at the same time make its tables once.
constexpr qint64 PrepareLock = 0x4b455354524131;

} // namespace

bool preparePostgres(QSqlDatabase& db, const QString& address, bool create, QString* error, bool* missing)
{
    *missing = false;
    if (!db.transaction()) {
        *error = tr("%1 cannot be prepared: %2").arg(address, db.lastError().text());
        return false;
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    int version = 0;
    bool hasVersion = false;
    try {
        run(q, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(PrepareLock));
        run(q,
            QStringLiteral("SELECT to_regclass('kestraschema') IS NOT NULL, to_regclass('history') IS NOT NULL, "
                           "to_regclass('historykey') IS NOT NULL"));
        if (!q.next())
            throw Failure { q.lastError().text() };
        hasVersion = q.value(0).toBool();
        const bool hasHistory = q.value(1).toBool();
        const bool hasKeyIndex = q.value(2).toBool();
        q.finish();
        if (hasVersion) {
            run(q, QStringLiteral("SELECT version FROM KestraSchema"));
            if (!q.next() || q.value(0).isNull()) {
                q.finish();
                db.rollback();
                *error = tr("%1 is not an event database: its layout version cannot be read").arg(address);
                return false;
            }
            version = q.value(0).toInt();
            q.finish();
        } else if (hasHistory) {
            db.rollback();
            *error = tr("%1 is not an event database: it has a table History without a layout version").arg(address);
            return false;
        } else if (!create) {
            db.rollback();
            *missing = true;
            return false;
        }
        if (version > Version) {
            db.rollback();
            *error = tr("%1 was written by a newer version of the program (layout %2); it is not opened")
                         .arg(address, QString::number(version));
            return false;
        }
        if (version < 0) {
            db.rollback();
            *error = tr("%1 is not an event database: unknown layout %2").arg(address, QString::number(version));
            return false;
        }
        if (version < 1)
            runAll(q, tables);
        if (version < 2)
            runAll(q, summary);
        // Stores made by the first server release have the hID index: it goes once. Only the
        // tables' owner may drop it; any other station goes on with it.
        if (hasVersion && hasKeyIndex) {
            run(q, QStringLiteral("SAVEPOINT dropkey"));
            run(q,
                q.exec(QStringLiteral("DROP INDEX HistoryKey")) ? QStringLiteral("RELEASE SAVEPOINT dropkey")
                                                                : QStringLiteral("ROLLBACK TO SAVEPOINT dropkey"));
        }
        if (version < Version) {
            if (!hasVersion) {
                run(q, QStringLiteral("CREATE TABLE KestraSchema (version INTEGER NOT NULL)"));
                run(q, QStringLiteral("INSERT INTO KestraSchema (version) VALUES (%1)").arg(Version));
            } else {
                run(q, QStringLiteral("UPDATE KestraSchema SET version = %1").arg(Version));
            }
        }
        commit(db, q);
    } catch (const Failure& failure) {
        return rolledBack(db, q, address, hasVersion, failure, error);
    }
    return true;
}

} // namespace HistorySchema
