// The window's views on large days and stores, run offscreen. Figures only; never pass/fail.
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/localtime.h"
#include "models/eventlistmodel.h"
#include "models/instrumenttreemodel.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/mainframe.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

const QString Pager = QStringLiteral("KESTRA #1000");

ChistoryRec makeRecord(const QString& id, qint64 t, int i)
{
    ChistoryRec r;
    r.hPagerID = id;
    r.hDateTime = t;
    r.hType = 3 + i % 6;
    r.hAlarm = i % 17 == 0 ? 0x001 : 0;
    r.hValue = 1e-6 + (i % 1000) * 1e-9;
    r.hPrecision = i % 30;
    r.hID = ChistoryRec::makeKey(id, t);
    return r;
}

qint64 theDay()
{
    return *LocalTime::fromLocal(2024, 3, 14);
}

// count events over the first 20 hours of the day.
CHistoryList makeDay(int count)
{
    CHistoryList list;
    for (int i = count - 1; i >= 0; --i)
        list.addRecord(makeRecord(Pager, theDay() + qint64(i) * 72000 / count, i));
    list.loaded = true;
    return list;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

// A program folder whose store is made once and kept between runs (a million events take a
// while to write).
QString benchFolder(const QString& name)
{
    const QString folder = QDir::tempPath() + QStringLiteral("/kestra-bench-ui/") + name;
    QDir().mkpath(folder);
    return folder;
}

// The program's context of the benchmark running; main makes the first.
std::unique_ptr<AppContext> g_context;

void useFolder(const QString& folder)
{
    g_context.reset();
    g_context = std::make_unique<AppContext>(ProgramFolder(folder));
    ProgramConfig& c = g_context->config();
    c.autoDetect = false;
    c.port = folder + QStringLiteral("/no-port");
    c.localMode = true;
    c.operateAsServer = false;
    c.archivingInterval = 0;
    c.timeSynchronize = false;
    c.iniPath = folder + QStringLiteral("/KESTRA.ini");
}

// The store of folder/DB/DataBase.db, filled by fill when it is new.
bool openStore(const QString& folder, const std::function<void(HistoryDb&)>& fill)
{
    useFolder(folder);
    const QString path = g_context->folder().filePath(g_context->config().databasePath);
    const bool fresh = !QFile::exists(path + QStringLiteral(".done"));
    if (fresh)
        QFile::remove(path);
    HistoryDb* db = g_context->store().open(path, HistoryDb::OpenMode::Create);
    if (!db)
        return false;
    if (fresh) {
        fill(*db);
        QFile done(path + QStringLiteral(".done"));
        done.open(QIODevice::WriteOnly);
    }
    return true;
}

// 50 instruments, 730 days each, 1,000,000 events in all.
void fillTwoYears(HistoryDb& db)
{
    std::fprintf(stderr, "writing a store of 1,000,000 events (once)...\n");
    const qint64 first = *LocalTime::fromLocal(2022, 3, 14);
    std::vector<ChistoryRec> batch;
    for (int i = 0; i < 1000000; ++i) {
        const int instrument = i % 50;
        const int day = (i / 50) % 730;
        const int slot = i / (50 * 730);
        const QString id = QStringLiteral("KESTRA #%1").arg(200000 + instrument);
        const qint64 dayStart = LocalTime::dayKey(first + qint64(day) * 86400 + 43200).value();
        batch.push_back(makeRecord(id, dayStart + 600 + slot * 2000 + instrument, i));
        if (batch.size() == 50000) {
            db.insertEvents(batch);
            batch.clear();
        }
    }
    db.insertEvents(batch);
}

void BM_ShowDay100k_View(benchmark::State& state)
{
    const CHistoryList day = makeDay(100000);
    CKESTRADoc doc(*g_context);
    CKESTRAView view(doc);
    view.resize(1000, 700);
    view.show();
    for (auto _ : state) {
        view.eventModel().showDay(Pager, theDay(), day);
        benchmark::DoNotOptimize(view.viewport()->grab()); // the first rows painted
    }
    state.counters["rows"] = view.model()->rowCount();
}
BENCHMARK(BM_ShowDay100k_View)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ShowDay100k_TableWidgetRowByRow(benchmark::State& state)
{
    const CHistoryList day = makeDay(100000);
    for (auto _ : state) {
        QTableWidget table(0, 5);
        table.resize(1000, 700);
        table.show();
        table.setRowCount(static_cast<int>(day.size()));
        int row = 0;
        for (const ChistoryRec& r : day.records()) {
            table.setItem(row, 0, new QTableWidgetItem(LocalTime::format(r.hDateTime, "%H:%M:%S %d-%m-%Y")));
            table.setItem(row, 1, new QTableWidgetItem(r.eventTypeText()));
            table.setItem(row, 2, new QTableWidgetItem(r.valueText(false)));
            table.setItem(row, 3, new QTableWidgetItem(r.alarmText()));
            table.setItem(row, 4, new QTableWidgetItem(r.commentText()));
            ++row;
        }
        benchmark::DoNotOptimize(table.viewport()->grab());
    }
}
BENCHMARK(BM_ShowDay100k_TableWidgetRowByRow)->Unit(benchmark::kMillisecond)->Iterations(1);

// The whole road of a tree selection: the day loaded from the store, sorted and shown.
void BM_ShowDay100k_FromStore(benchmark::State& state)
{
    if (!openStore(benchFolder(QStringLiteral("day100k")), [](HistoryDb& db) {
            const CHistoryList day = makeDay(100000);
            db.insertEvents(day);
        })) {
        state.SkipWithError("no store");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto doc = std::make_unique<CKESTRADoc>(*g_context);
        doc->loadInstrumentList();
        CKESTRAView view(*doc);
        view.resize(1000, 700);
        view.show();
        state.ResumeTiming();
        view.showDay(Pager, LocalTime::format(theDay(), "%Y-%m-%d"));
        benchmark::DoNotOptimize(view.viewport()->grab());
        state.counters["rows"] = view.model()->rowCount();
    }
    g_context->store().close();
}
BENCHMARK(BM_ShowDay100k_FromStore)->Unit(benchmark::kMillisecond)->Iterations(3);

// A download brings 10,000 events of the shown day: each comes in as the top row, as the
// document hands them over, and the window paints once the download has ended.
void BM_Download10kIntoShownDay(benchmark::State& state)
{
    const CHistoryList day = makeDay(100000);
    std::vector<ChistoryRec> arriving;
    for (int i = 0; i < 10000; ++i)
        arriving.push_back(makeRecord(Pager, theDay() + 72000 + i, i));
    CKESTRADoc doc(*g_context);
    CKESTRAView view(doc);
    view.resize(1000, 700);
    view.show();
    for (auto _ : state) {
        state.PauseTiming();
        view.eventModel().showDay(Pager, theDay(), day);
        view.viewport()->grab();
        state.ResumeTiming();
        for (const ChistoryRec& r : arriving)
            view.insertEvent(r, 0);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(view.viewport()->grab());
    }
    state.counters["rows"] = view.model()->rowCount();
    state.counters["per_event"]
        = benchmark::Counter(10000, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Download10kIntoShownDay)->Unit(benchmark::kMillisecond)->Iterations(5);

// The tree of 50 instruments over 730 days (1,000,000 events): the instrument list read
// from the store and every node made. The aim is under 300 ms.
void BM_TreeRebuild50x730(benchmark::State& state)
{
    if (!openStore(benchFolder(QStringLiteral("twoyears")), fillTwoYears)) {
        state.SkipWithError("no store");
        return;
    }
    CKESTRADoc doc(*g_context);
    CKESTRAView list(doc);
    CKESTRADevView tree(doc, list);
    tree.resize(200, 700);
    tree.show();
    for (auto _ : state) {
        tree.rebuild();
        benchmark::DoNotOptimize(tree.viewport()->grab());
    }
    int days = 0;
    for (int i = 0; i < tree.treeModel().rowCount(); ++i)
        days += tree.treeModel().rowCount(tree.treeModel().index(i, 0));
    state.counters["instruments"] = tree.treeModel().rowCount();
    state.counters["days"] = days;
}
BENCHMARK(BM_TreeRebuild50x730)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same, split: the list from the store alone, and the nodes alone from a loaded list.
void BM_TreeRebuild50x730_Parts(benchmark::State& state)
{
    if (!openStore(benchFolder(QStringLiteral("twoyears")), fillTwoYears)) {
        state.SkipWithError("no store");
        return;
    }
    CKESTRADoc doc(*g_context);
    InstrumentTreeModel model;
    for (auto _ : state) {
        if (state.range(0) == 0)
            benchmark::DoNotOptimize(doc.loadInstrumentList());
        else
            model.rebuild(*doc.loadInstrumentList());
    }
    state.SetLabel(state.range(0) == 0 ? "store only" : "store and nodes");
}
BENCHMARK(BM_TreeRebuild50x730_Parts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

// From nothing to the window shown and initialised on the million-event store.
void BM_StartToWindowShown(benchmark::State& state)
{
    if (!openStore(benchFolder(QStringLiteral("twoyears")), fillTwoYears)) {
        state.SkipWithError("no store");
        return;
    }
    g_context->store().close(); // the window opens it itself
    const long before = residentKiB();
    for (auto _ : state) {
        CKESTRADoc doc(*g_context);
        CMainFrame frame(doc);
        frame.resize(1280, 800);
        frame.show();
        frame.start();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(frame.grab());
        state.counters["rss_MiB"] = residentKiB() / 1024.0;
        state.counters["rss_growth_MiB"] = (residentKiB() - before) / 1024.0;
        doc.stopBackground();
    }
    g_context->store().close();
}
BENCHMARK(BM_StartToWindowShown)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    useFolder(benchFolder(QStringLiteral("plain")));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_context.reset();
    return 0;
}
