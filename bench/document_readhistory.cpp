// Read history of 10,000 events from the simulated instrument (unthrottled) into an event
// store that already holds 1,000,000: the whole road from the start of the download to the
// last event shown, and its three legs (download with the spool, store, show) on their own.
// The store is generated once under $TMPDIR and reused; each iteration removes what it added.
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/devworker.h"
#include "device/driverlock.h"
#include "device/historyspool.h"
#include "document/documentui.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/localtime.h"

#include "kestrasim/simulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

using namespace kestra::sim;
using Clock = std::chrono::steady_clock;

namespace {

const QString Id = QStringLiteral("KESTRA #123456");
constexpr int Events = 10000;

class CountingViews final : public DocumentViews {
public:
    void addInstrumentNode(const CPager&) override { }
    void addDayNode(const QString&, qint64) override { }
    void rebuildTree() override { }
    void showDay(const QString&, const QString&) override { }
    bool insertEventAtTop(const ChistoryRec&) override
    {
        ++rows;
        return true;
    }
    int rows = 0;
};

QString storePath()
{
    return QDir::temp().filePath(QStringLiteral("kestra-bench-doc-1m.db"));
}

// 1,000,000 events of 50 other instruments over two years.
HistoryDb* store(HistoryStore& stores)
{
    if (HistoryDb* db = stores.open(storePath()))
        return db;
    HistoryDb* db = stores.open(storePath(), HistoryDb::OpenMode::Create);
    const qint64 start = 1199174400; // 2008-01-01
    std::vector<ChistoryRec> batch;
    for (int p = 0; p < 50; ++p) {
        const QString id = QStringLiteral("KESTRA #%1").arg(2000 + p);
        batch.clear();
        for (int e = 0; e < 20000; ++e) {
            ChistoryRec r;
            r.hPagerID = id;
            r.hDateTime = start + qint64(e) * 3153;
            r.hType = 3;
            r.hValue = 10 + e % 1000;
            r.hAlarm = e % 97 == 0 ? 0x002 : 0;
            r.hID = ChistoryRec::makeKey(id, r.hDateTime);
            batch.push_back(r);
        }
        db->insertEvents(batch);
    }
    return db;
}

// 10,000 records of today, 8 s apart, newest last as the instrument keeps them.
std::vector<RawRecord> todaysRecords()
{
    const qint64 midnight = LocalTime::dayKey(std::time(nullptr)).value();
    std::vector<RawRecord> records;
    for (int i = 0; i < Events; ++i) {
        const auto t = static_cast<std::time_t>(midnight + i * 8);
        records.push_back(makeRecord(i % 50 == 0 ? 'G' : 'F', static_cast<uint32_t>(localSecondsSince1999(t)),
            RecordFields { 1e-6 + i * 1e-9, 1e-5, 10, 0 }));
    }
    return records;
}

void removeDownloaded(AppContext& context)
{
    QSqlQuery q(context.store().current()->connection());
    q.prepare(QStringLiteral("DELETE FROM History WHERE hPagerID = :id"));
    q.bindValue(QStringLiteral(":id"), Id);
    q.exec();
}

struct Fixture {
    QTemporaryDir home;
    std::unique_ptr<Simulator> sim;
    CountingViews views;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<CKESTRADoc> doc;
    std::vector<RawRecord> records = todaysRecords();
    CHistoryList downloaded; // the converted records of the last download leg

    Fixture()
    {
        context = std::make_unique<AppContext>(ProgramFolder(home.path()));
        context->device().setDriverLogFolder(home.path());
        Options options;
        options.liveHistory = false;
        sim = std::make_unique<Simulator>(options);
        sim->start();
        ProgramConfig& c = context->config();
        c.autoDetect = false;
        c.port = QString::fromStdString(sim->slavePath());
        c.timeSynchronize = false;
        c.archivingInterval = 0;
        store(context->store());
        doc = std::make_unique<CKESTRADoc>(*context);
        doc->setViews(&views);
        doc->initialise();
        context->store().open(storePath()); // the benchmark store, not the fresh folder's
        doc->watcherProbe();
    }

    // The instrument known, today's day loaded and shown, as on a screen watching it.
    void showToday()
    {
        doc->pagers().clearInstruments();
        CPager& pager = doc->pagers().findOrCreate(Id);
        const qint64 today = LocalTime::dayKey(std::time(nullptr)).value();
        pager.ensureDay(today).loaded = true;
        doc->state().setCurrentInstrument(Id);
        doc->state().setCurrentDate(today);
        views.rows = 0;
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_ReadHistory10kInto1M(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        removeDownloaded(*f.context);
        f.showToday();
        f.sim->setHistory(f.records);
        const auto t0 = Clock::now();
        const bool read = f.doc->readHistory();
        const auto t1 = Clock::now();
        if (!read || f.views.rows != Events)
            state.SkipWithError("the download did not show every event");
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["events"] = Events;
}
BENCHMARK(BM_ReadHistory10kInto1M)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The device worker's download: read, spool to disk, clear, convert.
void BM_Leg1_Download(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        f.sim->setHistory(f.records);
        CPager pager(Id);
        CHistoryList out;
        DevWorker worker(f.context->device());
        worker.setPortName(f.doc->state().portName());
        worker.setCommand(DevWorker::ReadHistory);
        worker.setPager(&pager);
        worker.setOutputList(&out);
        const auto t0 = Clock::now();
        worker.execute();
        const auto t1 = Clock::now();
        if (out.size() != Events)
            state.SkipWithError("short download");
        HistorySpool::remove(worker.spoolPath());
        f.downloaded = out;
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
}

BENCHMARK(BM_Leg1_Download)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Store events: one transaction of 10,000 into the 1,000,000.
void BM_Leg2_Store(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::vector<ChistoryRec> events(f.downloaded.records().begin(), f.downloaded.records().end());
    if (events.size() != Events) {
        state.SkipWithError("run the download leg first");
        return;
    }
    for (auto _ : state) {
        removeDownloaded(*f.context);
        int added = 0;
        const auto t0 = Clock::now();
        f.doc->storeEvents(Id, events, &added);
        const auto t1 = Clock::now();
        if (added != Events)
            state.SkipWithError("not every event was stored");
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    removeDownloaded(*f.context);
}
BENCHMARK(BM_Leg2_Store)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Sort newest first and hand each event to Add and show, into the shown day.
void BM_Leg3_Show(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        f.showToday();
        CHistoryList list = f.downloaded;
        CPager& pager = *f.doc->pagers().find(Id);
        const auto t0 = Clock::now();
        list.sort();
        for (const ChistoryRec& r : list.records())
            f.doc->addAndShowEvent(pager, r);
        const auto t1 = Clock::now();
        if (f.views.rows != Events)
            state.SkipWithError("not every event was shown");
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
}
BENCHMARK(BM_Leg3_Show)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
