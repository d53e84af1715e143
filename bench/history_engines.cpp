// The event database on both engines: SQLite files under $TMPDIR, and PostgreSQL databases on
// the server KESTRA_TEST_PG names (run under scripts/pg-test-cluster --durable; without it the
// server benchmarks are skipped). The large stores are made once per server (and once under
// $TMPDIR for SQLite) with bulk statements: 50 instruments, 1,000,000 events over two years
// or 10,000,000 events over three years.
#include "benchevents.h"
#include "history/historydb.h"
#include "history/localtime.h"
#include "history/messenger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

// The benchmark's one open store, as a program holds it.
HistoryStore s_store;

const qint64 start = 1199174400; // 2008-01-01 UTC
constexpr int Instruments = 50;

enum Engine { SQLite, PostgreSQL };

QString server()
{
    return QString::fromLocal8Bit(qgetenv("KESTRA_TEST_PG"));
}

// Runs statements on the server's maintenance database (making and dropping databases).
bool admin(const QStringList& statements)
{
    bool ok = true;
    {
        const QUrl url(server());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench-admin"));
        db.setHostName(url.host());
        db.setPort(url.port(5432));
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& s : statements)
            ok = ok && q.exec(s);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-admin"));
    return ok;
}

// The location of a store called name on the engine; fresh: emptied first.
QString location(Engine engine, const QString& name, bool fresh)
{
    if (engine == SQLite) {
        const QString path = QDir::temp().filePath(QStringLiteral("kestra-bench-engines-%1.db").arg(name));
        if (fresh) {
            s_store.close();
            for (const char* suffix : { "", "-wal", "-shm" })
                QFile::remove(path + QLatin1String(suffix));
        }
        return path;
    }
    const QString database = QStringLiteral("bench_%1").arg(name);
    if (fresh) {
        s_store.close();
        admin({ QStringLiteral("DROP DATABASE IF EXISTS %1").arg(database),
            QStringLiteral("CREATE DATABASE %1").arg(database) });
    } else {
        admin({ QStringLiteral("CREATE DATABASE %1").arg(database) }); // fails harmlessly when it exists
    }
    QUrl url(server());
    url.setPath(QLatin1Char('/') + database);
    return url.toString();
}

bool usable(benchmark::State& state, Engine engine)
{
    if (engine == PostgreSQL && server().isEmpty()) {
        state.SkipWithError("no server: run under scripts/pg-test-cluster --durable");
        return false;
    }
    return true;
}

// Fills an empty store with count events (Instruments instruments, one event each step
// seconds) in slices of a million rows, one statement each, written by the store's engine.
bool fill(HistoryDb* db, Engine engine, qint64 count, qint64 step)
{
    const QString row = QStringLiteral(
        "SELECT 'B' || (i % 50) || '|' || (%1 + (i / 50) * %2), 3 + i % 6, CASE WHEN i % 97 = 0 THEN 2 ELSE 0 END, "
        "25569 + (%1 + (i / 50) * %2) / 86400, ((%1 + (i / 50) * %2) % 86400) / 86400.0, 10 + i % 1000, i, i % 30, 0, "
        "NULL, 'B' || (i % 50), %1 + (i / 50) * %2")
                            .arg(QString::number(start), QString::number(step));
    const QString columns = QStringLiteral(
        "hID, hType, hAlarm, hDate, hTime, hValue, hValue2, hPrecision, hVariation, hComment, hPagerID, hDateTime");
    QSqlDatabase c = db->connection();
    QSqlQuery q(c);
    constexpr qint64 Slice = 1000000;
    for (qint64 from = 0; from < count; from += Slice) {
        const qint64 to = std::min(count, from + Slice) - 1;
        const QString statement = engine == SQLite
            ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
                             "INSERT INTO History (%3) %4 FROM n")
                  .arg(QString::number(from), QString::number(to), columns, row)
            : QStringLiteral("INSERT INTO History (%3) %4 FROM generate_series(%1::bigint, %2::bigint) AS i")
                  .arg(QString::number(from), QString::number(to), columns, row);
        if (!c.transaction() || !q.exec(statement) || !c.commit()) {
            std::fprintf(stderr, "fill: %s\n", qPrintable(q.lastError().text()));
            return false;
        }
        std::fprintf(stderr, "fill: %lld of %lld\n", to + 1, count);
    }
    if (engine == PostgreSQL)
        q.exec(QStringLiteral("VACUUM ANALYZE"));
    return true;
}

qint64 scalar(HistoryDb* db, const QString& sql)
{
    QSqlQuery q(db->connection());
    return q.exec(sql) && q.next() ? q.value(0).toLongLong() : -1;
}

// The store of count events, made when it is not there yet.
HistoryDb* largeStore(benchmark::State& state, Engine engine, qint64 count)
{
    const QString name = count >= 10000000 ? QStringLiteral("10m") : QStringLiteral("1m");
    const qint64 days = count >= 10000000 ? 1095 : 730;
    const QString where = location(engine, name, false);
    HistoryDb* db = s_store.open(where, HistoryDb::OpenMode::Create);
    if (db && scalar(db, QStringLiteral("SELECT count(*) FROM History")) == count)
        return db;
    db = s_store.open(location(engine, name, true), HistoryDb::OpenMode::Create);
    if (!db || !fill(db, engine, count, days * 86400 / (count / Instruments))) {
        state.SkipWithError("the store could not be made");
        return nullptr;
    }
    return db;
}

void BM_Insert100k(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    if (!usable(state, engine))
        return;
    std::vector<ChistoryRec> batch;
    for (int e = 0; e < 100000; ++e)
        batch.push_back(benchEvent(QStringLiteral("KESTRA #%1").arg(2000 + e % Instruments), start + e * 60, e));
    for (auto _ : state) {
        state.PauseTiming();
        HistoryDb* db = s_store.open(location(engine, QStringLiteral("insert"), true), HistoryDb::OpenMode::Create);
        state.ResumeTiming();
        int added = 0;
        if (!db || !db->insertEvents(batch, &added) || added != 100000)
            state.SkipWithError("events were not stored");
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_Insert100k)
    ->ArgName("postgresql")
    ->Arg(SQLite)
    ->Arg(PostgreSQL)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Rebuilding the instrument list, as Re-initialise and a client's instrument-list request do.
void BM_DaySummary(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    if (!usable(state, engine))
        return;
    HistoryDb* db = largeStore(state, engine, state.range(1));
    if (!db)
        return;
    LogMessenger log;
    int days = 0;
    for (auto _ : state) {
        CPagerList list;
        db->loadDaySummary(list, log);
        days = 0;
        for (int i = 0; i < list.count(); ++i)
            days += static_cast<int>(list.instrumentAt(i)->days().size());
    }
    state.counters["days"] = days;
}
BENCHMARK(BM_DaySummary)
    ->ArgNames({ "postgresql", "events" })
    ->Args({ SQLite, 1000000 })
    ->Args({ PostgreSQL, 1000000 })
    ->Args({ SQLite, 10000000 })
    ->Args({ PostgreSQL, 10000000 })
    ->Unit(benchmark::kMillisecond);

// For the comparison: the plain count of every event that the summary replaces.
void BM_DayRecount(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    if (!usable(state, engine))
        return;
    HistoryDb* db = largeStore(state, engine, state.range(1));
    if (!db)
        return;
    for (auto _ : state) {
        QSqlQuery q(db->connection());
        q.setForwardOnly(true);
        q.exec(
            QStringLiteral("SELECT coalesce(hPagerID, ''), coalesce(hDate, 0), sum(CASE WHEN hAlarm = 0 THEN 0 ELSE 1 "
                           "END) FROM History GROUP BY 1, 2 ORDER BY 1, 2"));
        int rows = 0;
        while (q.next())
            ++rows;
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_DayRecount)
    ->ArgNames({ "postgresql", "events" })
    ->Args({ SQLite, 10000000 })
    ->Args({ PostgreSQL, 10000000 })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    s_store.close();
    benchmark::Shutdown();
    return 0;
}
