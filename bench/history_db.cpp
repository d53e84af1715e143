// Event database benchmarks on a generated store of 1,000,000 events (50 instruments, two
// years, 27 or 28 events a day) plus one instrument-day of 10,000 events. The store is made
// once under $TMPDIR and reused.
#include "benchevents.h"
#include "history/historydb.h"
#include "history/localtime.h"
#include "history/messenger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <benchmark/benchmark.h>

#include <atomic>

namespace {

const qint64 start = 1199174400; // 2008-01-01 UTC

// The benchmark's store, owned by main.
HistoryStore* g_store = nullptr;
LogMessenger g_messenger;

QString storePath()
{
    return QDir::temp().filePath(QStringLiteral("kestra-bench-1m.db"));
}

HistoryDb* store()
{
    const QString path = storePath();
    if (HistoryDb* db = g_store->open(path))
        return db;
    HistoryDb* db = g_store->open(path, HistoryDb::OpenMode::Create);
    std::vector<ChistoryRec> batch;
    int i = 0;
    for (int p = 0; p < 50; ++p) {
        const QString id = QStringLiteral("KESTRA #%1").arg(2000 + p);
        batch.clear();
        for (int e = 0; e < 20000; ++e, ++i)
            batch.push_back(benchEvent(id, start + qint64(e) * 3153, i)); // two years
        db->insertEvents(batch);
    }
    batch.clear();
    const qint64 bigDay = *LocalTime::fromLocal(2009, 6, 15);
    for (int e = 0; e < 10000; ++e)
        batch.push_back(benchEvent(QStringLiteral("BIG"), bigDay + e * 8, e));
    db->insertEvents(batch);
    return db;
}

std::atomic<qint64> s_next { 1500000000 };

void BM_Insert100kInto1M(benchmark::State& state)
{
    HistoryDb* db = store();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<ChistoryRec> batch;
        for (int e = 0; e < 100000; ++e)
            batch.push_back(benchEvent(QStringLiteral("KESTRA #%1").arg(2000 + e % 50), s_next++, e));
        state.ResumeTiming();
        int added = 0;
        db->insertEvents(batch, &added);
        if (added != 100000)
            state.SkipWithError("events were not stored");
    }
}
BENCHMARK(BM_Insert100kInto1M)->Unit(benchmark::kMillisecond)->Iterations(2);

// The naive road for comparison: one autocommitted statement per event. Per event.
void BM_NaiveInsertPerEvent(benchmark::State& state)
{
    HistoryDb* db = store();
    QSqlQuery q(db->connection());
    q.prepare("INSERT OR IGNORE INTO History (hID, hType, hAlarm, hDate, hTime, hValue, hValue2, hPrecision, "
              "hVariation, hComment, hPagerID, hDateTime) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (auto _ : state) {
        const ChistoryRec r = benchEvent("NAIVE", s_next++, 1);
        const auto when = LocalTime::toAutomation(r.hDateTime);
        const QVariant values[] = { r.hID, r.hType, r.hAlarm, when->first, when->second, r.hValue, r.hValue2,
            r.hPrecision, r.hVariation, r.hComment, r.hPagerID, r.hDateTime };
        for (int i = 0; i < 12; ++i)
            q.bindValue(i, values[i]);
        q.exec();
    }
}
BENCHMARK(BM_NaiveInsertPerEvent)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// For the ratio: the batched road, per event, in the same run.
void BM_BatchedInsertPerEvent(benchmark::State& state)
{
    HistoryDb* db = store();
    std::vector<ChistoryRec> batch;
    for (auto _ : state) {
        state.PauseTiming();
        batch.clear();
        for (int e = 0; e < 10000; ++e)
            batch.push_back(benchEvent("BATCH", s_next++, e));
        state.ResumeTiming();
        db->insertEvents(batch);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_BatchedInsertPerEvent)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_DaySummary1M(benchmark::State& state)
{
    HistoryDb* db = store();
    for (auto _ : state) {
        CPagerList list;
        db->loadDaySummary(list, g_messenger);
        benchmark::DoNotOptimize(list.count());
    }
}
BENCHMARK(BM_DaySummary1M)->Unit(benchmark::kMillisecond);

void BM_DayEvents10k(benchmark::State& state)
{
    HistoryDb* db = store();
    for (auto _ : state) {
        CPagerList list;
        db->loadDayEvents(list, "BIG", "2009-06-15", 0);
        if (list.find("BIG")->dayEventCount(*LocalTime::fromLocal(2009, 6, 15)) != 10000)
            state.SkipWithError("wrong day");
    }
}
BENCHMARK(BM_DayEvents10k)->Unit(benchmark::kMillisecond);

// A fresh open (no cached pages in this process) followed by the day summary.
void BM_OpenPlusSummary(benchmark::State& state)
{
    store();
    for (auto _ : state) {
        g_store->close();
        HistoryDb* db = g_store->open(storePath());
        CPagerList list;
        db->loadDaySummary(list, g_messenger);
        benchmark::DoNotOptimize(list.count());
    }
}
BENCHMARK(BM_OpenPlusSummary)->Unit(benchmark::kMillisecond)->Iterations(3);

// The open alone: every page is read once to find damage before anything is shown.
void BM_Open1M(benchmark::State& state)
{
    store();
    for (auto _ : state) {
        g_store->close();
        if (!g_store->open(storePath()))
            state.SkipWithError("the store did not open");
    }
}
BENCHMARK(BM_Open1M)->Unit(benchmark::kMillisecond)->Iterations(3);

// An instrument's events of its last day, as a station's client asks for them.
void BM_EventsAfterLastDay(benchmark::State& state)
{
    HistoryDb* db = store();
    const qint64 since = start + qint64(20000 - 28) * 3153;
    for (auto _ : state) {
        const auto events = db->eventsAfter(QStringLiteral("KESTRA #2025"), since);
        if (events.size() < 27)
            state.SkipWithError("wrong events");
    }
}
BENCHMARK(BM_EventsAfterLastDay)->Unit(benchmark::kMicrosecond);

// Upgrade in place of a store of the earlier layout (no exact time) with 200,000 events, a
// tenth of them stored twice.
void BM_UpgradeOlderStore200k(benchmark::State& state)
{
    const QString original = QDir::temp().filePath(QStringLiteral("kestra-bench-older.db"));
    const QString copy = QDir::temp().filePath(QStringLiteral("kestra-bench-older-copy.db"));
    if (!QFile::exists(original)) {
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
            raw.setDatabaseName(original);
            raw.open();
            QSqlQuery q(raw);
            q.exec("CREATE TABLE History (hID TEXT, hType INTEGER, hAlarm INTEGER, hDate REAL, hTime REAL, hValue "
                   "REAL, hValue2 REAL, hPrecision INTEGER, hVariation INTEGER, hComment TEXT, hPagerID TEXT)");
            q.exec("CREATE TABLE Pagers (pID TEXT, pName TEXT)");
            raw.transaction();
            q.prepare("INSERT INTO History VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, NULL, ?)");
            for (int e = 0; e < 200000; ++e) {
                const ChistoryRec r = benchEvent(QStringLiteral("OLD%1").arg(e % 20), start + qint64(e / 20) * 300, e);
                const auto when = LocalTime::toAutomation(r.hDateTime);
                const QVariant values[] = { r.hID, r.hType, r.hAlarm, when->first, when->second, r.hValue, r.hValue2,
                    r.hPrecision, r.hVariation, r.hPagerID };
                for (int copies = e % 10 == 0 ? 2 : 1; copies > 0; --copies) {
                    for (int i = 0; i < 10; ++i)
                        q.bindValue(i, values[i]);
                    q.exec();
                }
            }
            raw.commit();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("older"));
    }
    for (auto _ : state) {
        state.PauseTiming();
        g_store->close();
        QFile::remove(copy);
        QFile::copy(original, copy);
        state.ResumeTiming();
        if (!g_store->open(copy))
            state.SkipWithError("the upgrade failed");
    }
    g_store->close();
    QFile::remove(copy);
}
BENCHMARK(BM_UpgradeOlderStore200k)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    HistoryStore store;
    g_store = &store;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    store.close();
    return 0;
}
