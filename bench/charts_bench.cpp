// The charts' cost on the user-interface thread, from the data to the painted image:
// - the day chart of 100,000 events (built from the rows, then painted);
// - the range view of one instrument's year in a store of 1,000,000 events (the aggregate
//   query, the chart built from its buckets, then painted).
#include "charts/daychart.h"
#include "charts/rangechart.h"
#include "history/historydb.h"
#include "history/localtime.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

namespace {

// The benchmark's one open store, as a program holds it.
HistoryStore s_store;

constexpr QSize ChartSize(1000, 420);

ChistoryRec event(const QString& id, qint64 t, qint32 type, double value, qint32 alarm)
{
    ChistoryRec r;
    r.hPagerID = id;
    r.hDateTime = t;
    r.hType = type;
    r.hValue = value;
    r.hAlarm = alarm;
    r.hPrecision = 12;
    r.hID = ChistoryRec::makeKey(id, t);
    return r;
}

// A day of n events, newest first as the list holds them: gamma mostly, some beta, an alarm
// in fifty.
std::vector<ChistoryRec> longDay(int n, qint64 day)
{
    std::vector<ChistoryRec> rows;
    rows.reserve(std::size_t(n));
    for (int i = n - 1; i >= 0; --i) {
        const qint64 t = day + qint64(i) * 86400 / n;
        const bool beta = i % 10 == 0;
        rows.push_back(event(QStringLiteral("A1"), t, beta ? 5 : 3,
            beta ? 4 + (i % 11) * 0.7 : 18 + 15 * std::sin(i / 900.0) + (i % 7), i % 50 == 0 ? 1 : 0));
    }
    return rows;
}

void BM_DayChart(benchmark::State& state)
{
    const qint64 day = *LocalTime::fromLocal(2026, 6, 15);
    const std::vector<ChistoryRec> rows = longDay(int(state.range(0)), day);
    QImage image(ChartSize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        DayChart chart;
        chart.build(day, rows);
        ChartPainter painter;
        chart.configure(painter);
        painter.setRoentgen(true);
        QPainter p(&image);
        painter.paint(p, image.rect());
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["events"] = double(rows.size());
}
BENCHMARK(BM_DayChart)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A store of a million events: A1 a reading every minute for a year (525,600), B2 the rest
// over the same year; made once per run.
struct Store {
    QTemporaryDir dir;
    qint64 from = 0;
    qint64 to = 0;
    Store()
    {
        if (!s_store.open(dir.filePath(QStringLiteral("year.db")), HistoryDb::OpenMode::Create))
            std::abort();
        from = *LocalTime::fromLocal(2025, 1, 1);
        to = *LocalTime::fromLocal(2026, 1, 1);
        constexpr int Total = 1000000;
        const qint64 minutes = (to - from) / 60;
        const qint64 others = Total - minutes;
        std::vector<ChistoryRec> batch;
        batch.reserve(100000);
        auto flush = [&] {
            if (!s_store.current()->insertEvents(batch))
                std::abort();
            batch.clear();
        };
        for (qint64 i = 0; i < minutes; ++i) {
            batch.push_back(event(QStringLiteral("A1"), from + i * 60, i % 10 == 0 ? 5 : 3,
                20 + 12 * std::sin(double(i) / 5000) + double(i % 13), i % 997 == 0 ? 2 : 0));
            if (batch.size() == batch.capacity())
                flush();
        }
        for (qint64 i = 0; i < others; ++i) {
            batch.push_back(event(QStringLiteral("B2"), from + i * (to - from) / others, 3, 30, 0));
            if (batch.size() == batch.capacity())
                flush();
        }
        flush();
        std::fprintf(stderr, "store: %lld events of A1, %lld of B2\n", static_cast<long long>(minutes),
            static_cast<long long>(others));
    }
};

void BM_RangeYear(benchmark::State& state)
{
    static Store store;
    QImage image(ChartSize, QImage::Format_ARGB32_Premultiplied);
    const RangeRequest request { QStringLiteral("A1"), store.from, store.to,
        HistoryRange::bucketWidthFor(store.to - store.from) };
    qint64 events = 0;
    for (auto _ : state) {
        const RangeSummary summary = s_store.current()->rangeSummary(request);
        RangeChart chart;
        chart.build(summary);
        ChartPainter painter;
        chart.configure(painter);
        QPainter p(&image);
        painter.paint(p, image.rect());
        p.end();
        events = summary.events;
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["events"] = double(events);
    state.counters["buckets"] = double(request.bucketCount());
}
BENCHMARK(BM_RangeYear)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    {
        // The fonts are loaded by the first text a process draws; a window has done that long
        // before it draws a chart.
        QImage image(ChartSize, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&image);
        ChartPainter empty;
        empty.setEmptyText(QStringLiteral("fonts"));
        empty.paint(p, image.rect());
        p.drawText(10, 10, QStringLiteral("0123456789:. µSv/h"));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    s_store.close();
    return 0;
}
