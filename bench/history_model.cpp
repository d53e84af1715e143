#include "history/archivestream.h"
#include "history/localtime.h"
#include "history/pagerlist.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

ChistoryRec makeRecord(const QString& pager, qint64 t, int i)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = 3 + i % 6;
    r.hAlarm = i % 17 == 0 ? 0x001 : 0;
    r.hValue = 10 + i % 1000;
    r.hValue2 = i;
    r.hPrecision = i % 30;
    r.hID = ChistoryRec::makeKey(pager, t);
    if (i % 50 == 0)
        r.hComment = QStringLiteral("checked by the duty officer");
    return r;
}

// 100,000 events: 10 instruments, 100 days, 100 events a day.
CPagerList makeList()
{
    CPagerList list;
    const qint64 start = *LocalTime::fromLocal(2008, 1, 1, 8);
    int i = 0;
    for (int p = 0; p < 10; ++p) {
        const QString id = QStringLiteral("KESTRA #%1").arg(1000 + p);
        CPager& pager = list.findOrCreate(id);
        for (int d = 0; d < 100; ++d)
            for (int e = 0; e < 100; ++e)
                pager.addEvent(makeRecord(id, start + d * 86400 + e * 300, i++));
        list.setTableName(id, QStringLiteral("Worker %1").arg(p));
    }
    return list;
}

void BM_WritePagerList100k(benchmark::State& state)
{
    const CPagerList list = makeList();
    qint64 bytes = 0;
    for (auto _ : state) {
        QByteArray out;
        StreamWriter w(&out, 0);
        list.write(w);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_WritePagerList100k)->Unit(benchmark::kMillisecond);

void BM_ReadPagerList100k(benchmark::State& state)
{
    QByteArray bytes;
    {
        StreamWriter w(&bytes, 0);
        makeList().write(w);
    }
    for (auto _ : state) {
        CPagerList list;
        StreamReader r(bytes);
        list.read(r);
        benchmark::DoNotOptimize(list.count());
    }
}
BENCHMARK(BM_ReadPagerList100k)->Unit(benchmark::kMillisecond);

void BM_Sort100k(benchmark::State& state)
{
    CHistoryList source;
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> seconds(0, 86399);
    for (int i = 0; i < 100000; ++i)
        source.addRecord(makeRecord("A1", 1230000000 + seconds(rng), i));
    for (auto _ : state) {
        state.PauseTiming();
        CHistoryList list = source;
        state.ResumeTiming();
        list.sort();
        benchmark::DoNotOptimize(list.at(0).hDateTime);
    }
}
BENCHMARK(BM_Sort100k)->Unit(benchmark::kMillisecond);

void BM_CopyNewer365x300(benchmark::State& state)
{
    CPager pager("A1");
    const qint64 start = *LocalTime::fromLocal(2008, 1, 1);
    int i = 0;
    for (int d = 0; d < 365; ++d)
        for (int e = 0; e < 300; ++e)
            pager.addEvent(makeRecord("A1", start + d * 86400 + e * 280, i++));
    // Half of the year is newer than the cut.
    const qint64 cut = start + 182 * 86400;
    for (auto _ : state) {
        CHistoryList target;
        benchmark::DoNotOptimize(pager.copyNewer(target, cut));
    }
}
BENCHMARK(BM_CopyNewer365x300)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
