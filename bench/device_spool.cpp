// What the download adds between reading the instrument and clearing it: converting the items
// and writing them durably (fsync of the file and its folder). Spools go to $TMPDIR.
#include "device/historyconversion.h"
#include "device/historyspool.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<KESTRAdrv_EventRecord> makeItems(int count)
{
    static const char types[] = "01RACBbDFGOgIJSis";
    std::vector<KESTRAdrv_EventRecord> items(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        auto& item = items[static_cast<size_t>(i)];
        item.type = types[i % 17];
        item.time
            = { static_cast<uint16_t>(2024), static_cast<uint16_t>(1 + i % 12), 0, static_cast<uint16_t>(1 + i % 28),
                  static_cast<uint16_t>(i % 24), static_cast<uint16_t>(i % 60), static_cast<uint16_t>(i % 60), 0 };
        item.value1 = i * 1.5;
        item.value2 = -1;
        item.param1 = i % 100;
        item.param2 = -1;
    }
    return items;
}

void convert(benchmark::State& state)
{
    const auto items = makeItems(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(HistoryConversion::toRecords(items, QStringLiteral("KESTRA #4711")));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(convert)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void spoolWrite(benchmark::State& state)
{
    const auto records = HistoryConversion::toRecords(makeItems(static_cast<int>(state.range(0))), QStringLiteral("P"));
    QTemporaryDir dir;
    HistorySpool spool(dir.path());
    for (auto _ : state) {
        QString path;
        if (!spool.write(QStringLiteral("P"), records, &path)) {
            state.SkipWithError("spool write failed");
            break;
        }
        state.PauseTiming();
        HistorySpool::remove(path);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(spoolWrite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void spoolLoad(benchmark::State& state)
{
    const auto records = HistoryConversion::toRecords(makeItems(static_cast<int>(state.range(0))), QStringLiteral("P"));
    QTemporaryDir dir;
    HistorySpool spool(dir.path());
    QString path;
    spool.write(QStringLiteral("P"), records, &path);
    for (auto _ : state) {
        QList<ChistoryRec> loaded;
        benchmark::DoNotOptimize(HistorySpool::load(path, &loaded));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(spoolLoad)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
