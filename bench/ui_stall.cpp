// How long the window's event loop stalls while the program works: a 0 ms timer notes every
// turn of the loop (nested loops included), and the gaps between turns are the stalls a person
// would feel. Three cases: a download of 3,000 events at 115200 baud into the shown day, the
// range view reading a year of a 1,000,000-event store, and Instrument Settings opening (its
// read at 115200 baud). Run offscreen; prints the 50th and 99th percentiles and the worst gap.
// Figures only; never pass/fail.
#include "benchevents.h"

#include "config/programconfig.h"
#include "config/programfolder.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/localtime.h"
#include "models/instrumenttreemodel.h"
#include "ui/dialogs/deviceconfig.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/mainframe.h"
#include "ui/rangeview.h"

#include "kestrasim/simulator.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

const QString SimId = QStringLiteral("KESTRA #123456");
const QString StoreId = QStringLiteral("KESTRA #300000");

// Notes the gaps between turns of the event loop while work runs (started from the loop).
void measure(const char* name, const std::function<void()>& work)
{
    std::vector<qint64> gaps;
    QElapsedTimer clock;
    QTimer turn;
    turn.setInterval(0);
    qint64 last = -1;
    QObject::connect(&turn, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            gaps.push_back(now - last);
        last = now;
    });
    bool done = false;
    qint64 took = 0;
    QTimer::singleShot(0, [&] {
        clock.start();
        last = 0;
        turn.start();
        work();
        // What ran before the first turn and after the last one counts too.
        gaps.push_back(clock.nsecsElapsed() - last);
        took = clock.elapsed();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    turn.stop();
    std::sort(gaps.begin(), gaps.end());
    const auto ms = [&](double share) {
        if (gaps.empty())
            return 0.0;
        const size_t i = std::min(gaps.size() - 1, static_cast<size_t>(share * double(gaps.size())));
        return double(gaps[i]) / 1e6;
    };
    std::printf("%-42s %7.0f ms  turns %7zu  p50 %7.2f ms  p99 %7.2f ms  worst %7.2f ms\n", name, double(took),
        gaps.size(), ms(0.5), ms(0.99), gaps.empty() ? 0.0 : double(gaps.back()) / 1e6);
    std::fflush(stdout);
}

qint64 midnight(int daysAgo)
{
    const qint64 today = LocalTime::dayKey(std::time(nullptr)).value();
    return LocalTime::dayKey(today + 12 * 3600 - qint64(daysAgo) * 86400).value();
}

kestra::sim::RawRecord simRecord(qint64 t)
{
    using namespace kestra::sim;
    return makeRecord('F', static_cast<uint32_t>(localSecondsSince1999(static_cast<std::time_t>(t))),
        RecordFields { 1e-6, 1e-5, 12, 0 });
}

// A year of one instrument, 1,000,000 events (one every 31.5 s), made once and kept.
bool fillYear(const QString& path)
{
    if (QFile::exists(path + QStringLiteral(".done")))
        return true;
    QFile::remove(path);
    std::fprintf(stderr, "writing a store of 1,000,000 events (once)...\n");
    HistoryStore store;
    HistoryDb* db = store.open(path, HistoryDb::OpenMode::Create);
    if (!db)
        return false;
    const qint64 first = midnight(365);
    std::vector<ChistoryRec> batch;
    for (int i = 0; i < 1000000; ++i) {
        batch.push_back(benchEvent(StoreId, first + qint64(i) * 31 + i / 2 % 2, i));
        if (batch.size() == 50000) {
            db->insertEvents(batch);
            batch.clear();
        }
    }
    db->insertEvents(batch);
    QFile done(path + QStringLiteral(".done"));
    return done.open(QIODevice::WriteOnly);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    kestra::sim::Options options;
    options.baud = 115200;
    options.liveHistory = false;
    options.linkPath = home.filePath(QStringLiteral("port")).toStdString();
    kestra::sim::Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "the simulator did not start: %s\n", error.c_str());
        return 1;
    }
    // One event yesterday, so that the day is in the tree and can be shown before the download.
    sim.setHistory({ simRecord(midnight(1) + 60) });

    AppContext context { ProgramFolder(home.path()) };
    ProgramConfig& c = context.config();
    c.autoDetect = false;
    c.port = QString::fromStdString(sim.slavePath());
    c.localMode = true;
    c.operateAsServer = false;
    c.archivingInterval = 0;
    c.timeSynchronize = false;
    c.downloadingInterval = 3600;
    CKESTRADoc doc(context);
    CMainFrame frame(doc);
    frame.setUnattended(1);
    frame.resize(1200, 800);
    frame.show();
    frame.start();
    CKESTRADevView& tree = frame.treeView();
    tree.setCurrentIndex(tree.treeModel().indexOf(SimId, midnight(1)));
    QElapsedTimer settle;
    settle.start();
    while (frame.listView().model()->rowCount() < 1 && settle.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    std::vector<kestra::sim::RawRecord> records;
    for (int i = 0; i < 3000; ++i)
        records.push_back(simRecord(midnight(1) + 120 + i * 20));
    sim.setHistory(records);
    measure("download, 3000 events at 115200 baud", [&] { frame.runCommand(Commands::Id::ReadHistory); });
    std::printf("%-42s %d rows shown\n", "", frame.listView().model()->rowCount());

    const QString storePath = QDir::tempPath() + QStringLiteral("/kestra-bench-stall.db");
    if (!fillYear(storePath)) {
        std::fprintf(stderr, "the store could not be made\n");
        return 1;
    }
    // A second program on that store: its document knows the instrument the view offers.
    QTemporaryDir yearHome;
    AppContext yearContext { ProgramFolder(yearHome.path()) };
    ProgramConfig& y = yearContext.config();
    y.autoDetect = false;
    y.port = yearHome.filePath(QStringLiteral("no-port"));
    y.localMode = true;
    y.operateAsServer = false;
    y.archivingInterval = 0;
    y.databasePath = storePath;
    CKESTRADoc yearDoc(yearContext);
    yearDoc.setHost(&frame.host()); // its waits keep the window's loop turning, as the window's own
    if (!yearDoc.initialise() || !yearDoc.loadInstrumentList() || !yearDoc.pagers().find(StoreId)) {
        std::fprintf(stderr, "the store could not be opened (%d instruments)\n", int(yearDoc.pagers().count()));
        return 1;
    }
    {
        RangeView view(
            yearDoc, [&yearContext] { return yearContext.store().current(); }, false, {}, &frame);
        view.show();
        measure("range view, a year of 1,000,000 events",
            [&] { view.choose(StoreId, RangeView::Year, QDateTime::fromSecsSinceEpoch(midnight(0)).date()); });
        std::printf("%-42s %s\n", "", qPrintable(view.statusLabel()->text()));
    }
    yearDoc.setHost(nullptr);

    measure("Instrument Settings opening (read)", [&] {
        DeviceConfig dialog(doc, context.config(), &frame);
        dialog.readFromInstrument();
        dialog.show();
    });
    return 0;
}
