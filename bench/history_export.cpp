// CSV and JSON Lines export: a whole store of 1,000,000 events (10 instruments, one event
// every 63 s for about two years each) streamed to a file, and the text writer alone on events
// in memory. The store is made once under $TMPDIR and reused. Figures: events per second.
#include "benchevents.h"
#include "history/historydb.h"
#include "history/historyexport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <limits>

namespace {

constexpr int Instruments = 10;
constexpr int PerInstrument = 100000;
const qint64 start = 1199174400; // 2008-01-01 UTC

// The store benchmarks' event without a second value, every 50th with a comment that needs quoting.
ChistoryRec makeRecord(const QString& pager, qint64 t, int i)
{
    ChistoryRec r = benchEvent(pager, t, i);
    r.hValue2 = 0;
    r.hComment = i % 50 == 0 ? QStringLiteral("checked, \"twice\"") : QString();
    return r;
}

// The benchmark's one open store, as a program holds it.
HistoryStore s_store;

HistoryDb* store()
{
    const QString path = QDir::temp().filePath(QStringLiteral("kestra-bench-export-1m.db"));
    if (HistoryDb* db = s_store.open(path))
        return db;
    HistoryDb* db = s_store.open(path, HistoryDb::OpenMode::Create);
    std::vector<ChistoryRec> batch;
    int i = 0;
    for (int p = 0; p < Instruments; ++p) {
        const QString id = QStringLiteral("KESTRA #%1").arg(3000 + p);
        batch.clear();
        for (int e = 0; e < PerInstrument; ++e, ++i)
            batch.push_back(makeRecord(id, start + qint64(e) * 63, i));
        db->insertEvents(batch);
    }
    return db;
}

void exportStore(benchmark::State& state, HistoryExport::Format format)
{
    HistoryDb* db = store();
    const QString out = QDir::temp().filePath(QStringLiteral("kestra-bench-export.out"));
    qint64 total = 0;
    for (auto _ : state) {
        qint64 count = 0;
        HistoryExport::exportSpan(*db,
            { {}, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), false }, format, false, out,
            &count);
        total += count;
    }
    if (total != qint64(state.iterations()) * Instruments * PerInstrument)
        state.SkipWithError("not every event was exported");
    state.SetItemsProcessed(total);
    state.counters["bytes"] = double(QFile(out).size());
    QFile::remove(out);
}

void BM_ExportCsv1M(benchmark::State& state)
{
    exportStore(state, HistoryExport::Format::Csv);
}
BENCHMARK(BM_ExportCsv1M)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportJsonLines1M(benchmark::State& state)
{
    exportStore(state, HistoryExport::Format::JsonLines);
}
BENCHMARK(BM_ExportJsonLines1M)->Unit(benchmark::kMillisecond)->Iterations(3);

// The writer alone: 100,000 events in memory to a buffer.
void BM_WriterCsv(benchmark::State& state)
{
    std::vector<ChistoryRec> events;
    for (int i = 0; i < 100000; ++i)
        events.push_back(makeRecord(QStringLiteral("A1"), start + i * 63, i));
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        HistoryExport::Writer writer(buffer, HistoryExport::Format::Csv, false);
        writer.write(events);
        writer.finish();
        benchmark::DoNotOptimize(buffer.size());
    }
    state.SetItemsProcessed(qint64(state.iterations()) * qint64(events.size()));
}
BENCHMARK(BM_WriterCsv)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
