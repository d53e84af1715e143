#include "history/localtime.h"
#include "history/viewflags.h"
#include "models/eventlistmodel.h"

#include <QSortFilterProxyModel>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

namespace {

const QString pager = QStringLiteral("KESTRA #1000");

ChistoryRec makeRecord(qint64 t, int i)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = 3 + i % 6;
    r.hAlarm = i % 17 == 0 ? 0x001 : 0;
    r.hValue = 10 + i % 1000;
    r.hPrecision = i % 30;
    r.hID = ChistoryRec::makeKey(pager, t);
    if (i % 50 == 0)
        r.hComment = QStringLiteral("checked by the duty officer\nsecond line");
    return r;
}

qint64 theDay()
{
    return *LocalTime::fromLocal(2008, 12, 25);
}

// count events spread over the first 20 hours of the day, newest first as the database
// gives them; several share a second.
std::vector<ChistoryRec> makeDay(int count)
{
    std::vector<ChistoryRec> out;
    out.reserve(static_cast<size_t>(count));
    for (int i = count - 1; i >= 0; --i)
        out.push_back(makeRecord(theDay() + qint64(i) * 72000 / count, i));
    return out;
}

// 10,000 new events in the last hours of the day, oldest first as the remote poll hands them.
std::vector<ChistoryRec> makeNew()
{
    std::vector<ChistoryRec> out;
    for (int i = 0; i < 10000; ++i)
        out.push_back(makeRecord(theDay() + 72000 + i, i));
    return out;
}

void BM_ShowDay100k(benchmark::State& state)
{
    ViewFlags flags;
    flags.setFilterIndex(static_cast<int>(state.range(1)));
    EventListModel model(flags);
    std::vector<ChistoryRec> day = makeDay(100000);
    if (state.range(0)) // unordered input costs a stable sort
        std::shuffle(day.begin(), day.end(), std::mt19937(7));
    for (auto _ : state) {
        model.showDay(pager, theDay(), day); // the copy is part of showing
        benchmark::DoNotOptimize(model.rowCount());
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_ShowDay100k)
    ->ArgNames({ "shuffled", "alarmsOnly" })
    ->Args({ 0, 0 })
    ->Args({ 1, 0 })
    ->Args({ 0, 1 })
    ->Unit(benchmark::kMillisecond);

// The texts and colours a view asks for when it first paints 50 rows of a fresh day.
void BM_FirstPage50(benchmark::State& state)
{
    ViewFlags flags;
    EventListModel model(flags);
    const std::vector<ChistoryRec> day = makeDay(100000);
    for (auto _ : state) {
        state.PauseTiming();
        model.showDay(pager, theDay(), day);
        state.ResumeTiming();
        for (int row = 0; row < 50; ++row) {
            for (int c = 0; c < EventListModel::ColumnCount; ++c) {
                const QModelIndex index = model.index(row, c);
                benchmark::DoNotOptimize(model.data(index, Qt::DisplayRole));
                benchmark::DoNotOptimize(model.data(index, Qt::ForegroundRole));
                benchmark::DoNotOptimize(model.data(index, Qt::BackgroundRole));
            }
        }
    }
}
BENCHMARK(BM_FirstPage50)->Unit(benchmark::kMicrosecond);

// The same first page painted again (texts already made).
void BM_RepaintPage50(benchmark::State& state)
{
    ViewFlags flags;
    EventListModel model(flags);
    model.showDay(pager, theDay(), makeDay(100000));
    for (auto _ : state) {
        for (int row = 0; row < 50; ++row) {
            for (int c = 0; c < EventListModel::ColumnCount; ++c)
                benchmark::DoNotOptimize(model.data(model.index(row, c), Qt::DisplayRole));
        }
    }
}
BENCHMARK(BM_RepaintPage50)->Unit(benchmark::kMicrosecond);

// 10,000 new events into a shown day of 100,000: in insertions of a given size (the whole
// download, a poll's worth), or one top row at a time (size 1). With proxy, a sort-filter
// proxy follows the model, as a view's sorting or filtering layer would, and pays per insertion.
void BM_Insert10k(benchmark::State& state)
{
    ViewFlags flags;
    EventListModel model(flags);
    const std::vector<ChistoryRec> day = makeDay(100000);
    const std::vector<ChistoryRec> fresh = makeNew();
    const size_t size = static_cast<size_t>(state.range(0));
    QSortFilterProxyModel proxy;
    if (state.range(1))
        proxy.setSourceModel(&model);
    int insertions = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
    for (auto _ : state) {
        state.PauseTiming();
        model.showDay(pager, theDay(), day);
        insertions = 0;
        state.ResumeTiming();
        if (size == 1) {
            for (const ChistoryRec& r : fresh)
                model.insertAtTop(r);
        } else {
            for (size_t i = 0; i < fresh.size(); i += size) {
                const auto first = fresh.begin() + static_cast<std::ptrdiff_t>(i);
                model.insertEvents({ first, first + static_cast<std::ptrdiff_t>(std::min(size, fresh.size() - i)) });
            }
        }
    }
    state.counters["rows"] = model.rowCount();
    state.counters["insertions"] = insertions;
    benchmark::DoNotOptimize(proxy.rowCount());
}
BENCHMARK(BM_Insert10k)
    ->ArgNames({ "batch", "proxy" })
    ->ArgsProduct({ { 10000, 100, 1 }, { 0, 1 } })
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
