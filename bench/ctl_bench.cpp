// How long kestractl takes to turn a downloaded history into its table or JSON.

#include "ctl_format.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<KESTRAdrv_EventRecord> makeHistory(std::size_t count)
{
    static constexpr char types[] = { 'F', 'G', 'b', 'S', '1', '0', 'i', 'B' };
    std::vector<KESTRAdrv_EventRecord> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        KESTRAdrv_EventRecord& r = records[i];
        r.type = types[i % sizeof types];
        r.time = { 2026, 12, 0, static_cast<uint16_t>(1 + i % 28), static_cast<uint16_t>(i % 24),
            static_cast<uint16_t>(i % 60), static_cast<uint16_t>(i * 7 % 60), 0 };
        r.value1 = 10.0 + static_cast<double>(i % 1000) * 0.37;
        r.value2 = 1234.5;
        r.param1 = static_cast<int32_t>(i % 30);
        r.param2 = -1;
    }
    return records;
}

void formatTable(benchmark::State& state)
{
    auto records = makeHistory(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(kestra::ctl::historyTable(records, false));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void formatJson(benchmark::State& state)
{
    auto records = makeHistory(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(kestra::ctl::historyJson(records));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(formatTable)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(formatJson)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
