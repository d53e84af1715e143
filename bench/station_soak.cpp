// Soak of a station: the document in local mode downloads the simulated instrument at 115200
// baud every second, with new history arriving all the time, while four clients send requests
// 0, 1, 6 and 8 in a loop. Prints the requests served, failures, latencies and resident memory
// at the start and the end. Usage: bench_station_soak [seconds] (default 60).
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/driverlock.h"
#include "document/documentrequesthandler.h"
#include "document/documentui.h"
#include "document/historyscheduler.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/localtime.h"
#include "remote/remoteclient.h"
#include "remote/remoteserver.h"

#include "kestrasim/records.h"
#include "kestrasim/simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace kestra::sim;

namespace {

class SoakHost final : public DocumentHost {
public:
    void setWindowTitle(const QString&) override { }
    std::optional<QString> promptPassword() override { return std::nullopt; }
    bool openProgramSettings() override { return false; }
    void exitApplication() override { }
};

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

std::vector<RawRecord> freshRecords(int count)
{
    std::vector<RawRecord> records;
    const auto now = static_cast<uint32_t>(localSecondsSince1999(std::time(nullptr)));
    static uint32_t shift = 0;
    for (int i = 0; i < count; ++i)
        records.push_back(makeRecord(
            i % 50 == 0 ? 'G' : 'F', now - 3000 + shift++ % 3000, RecordFields { 1e-6 * (1 + i % 7), 1e-5, 12, 0 }));
    return records;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QTemporaryDir home;
    AppContext context { ProgramFolder(home.path()) };
    context.device().setDriverLogFolder(home.path());

    Options options;
    options.linkPath = home.filePath(QStringLiteral("port")).toStdString();
    options.liveHistory = false;
    options.baud = 115200;
    options.historyRecords = 3000;
    options.historyDays = 30;
    Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "the simulator does not start: %s\n", error.c_str());
        return 1;
    }
    ProgramConfig& config = context.config();
    config.autoDetect = false;
    config.port = QString::fromStdString(sim.slavePath());
    config.localMode = true;
    config.timeSynchronize = false;
    config.archivingInterval = 0;

    SoakHost host;
    CKESTRADoc doc(context);
    doc.setHost(&host);
    doc.initialise();
    doc.watcherProbe();
    DocumentRequestHandler backend(doc);
    CPool pool(&backend);
    if (!pool.start(0)) {
        std::fprintf(stderr, "the server does not listen\n");
        return 1;
    }
    QObject::connect(&doc, &CKESTRADoc::historyStored, [&doc](const QString& id) {
        if (doc.state().currentInstrument().isEmpty())
            doc.state().setCurrentInstrument(id);
    });
    int downloads = 0;
    int stored = 0;
    QObject::connect(&doc, &CKESTRADoc::historyStored, [&](const QString&, int count) {
        ++downloads;
        stored += count;
    });
    HistoryScheduler scheduler(doc);
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [&sim] {
        for (const RawRecord& r : freshRecords(300))
            sim.appendHistory(r);
    });
    feeder.start(2000);

    const long rssStart = residentKiB();
    const quint16 port = pool.port();
    std::atomic<bool> stop { false };
    std::mutex lock;
    std::vector<double> latencies[4];
    std::atomic<int> failures[4] {};
    std::atomic<int> busy { 0 };
    std::atomic<int> finished { 0 };
    const QString dayText = LocalTime::format(std::time(nullptr), "%Y-%m-%d");
    const QString id = QStringLiteral("KESTRA #") + QString::fromStdString(options.number);
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            for (int i = c; !stop.load(); ++i) {
                RemoteClient client(QStringLiteral("127.0.0.1"), port);
                const auto begin = std::chrono::steady_clock::now();
                bool ok = false;
                switch (i % 4) {
                case 0: {
                    CPagerList list;
                    ok = client.loadInstrumentList(list);
                    break;
                }
                case 1: {
                    CHistoryList list;
                    ok = client.dayEvents(id, dayText, 0, list);
                    break;
                }
                case 2: {
                    QString name;
                    ok = client.instrumentName(name);
                    break;
                }
                case 3: {
                    std::vector<ChistoryRec> events;
                    bool serverBusy = false;
                    ok = client.eventsSince(std::time(nullptr) - 600, events, &serverBusy);
                    busy += serverBusy ? 1 : 0;
                    break;
                }
                }
                const double ms
                    = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
                std::lock_guard guard(lock);
                latencies[i % 4].push_back(ms);
                if (!ok)
                    ++failures[i % 4];
            }
            ++finished;
        });
    }

    scheduler.restart(1);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    scheduler.stop();
    feeder.stop();
    stop = true;
    // Requests still waiting are answered while the clients finish.
    while (finished.load() < 4) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (auto& t : clients)
        t.join();
    const long rssEnd = residentKiB();

    static const char* names[4] = { "0 instrument list", "1 day events", "6 instrument name", "8 events since" };
    int served = 0;
    double worst = 0;
    std::printf("station soak: %d s, %d downloads storing %d events, %d requests served by the pool\n", seconds,
        downloads, stored, pool.requestsServed());
    for (int k = 0; k < 4; ++k) {
        auto& l = latencies[k];
        std::sort(l.begin(), l.end());
        served += static_cast<int>(l.size());
        const double median = l.empty() ? 0 : l[l.size() / 2];
        const double p99 = l.empty() ? 0 : l[std::min(l.size() - 1, l.size() * 99 / 100)];
        const double max = l.empty() ? 0 : l.back();
        worst = std::max(worst, max);
        std::printf("  request %-18s %6zu answered, %3d failed, median %7.1f ms, p99 %7.1f ms, worst %7.1f ms\n",
            names[k], l.size(), failures[k].load(), median, p99, max);
    }
    std::printf(
        "  requests: %d, of which request 8 answered busy: %d; worst latency %.1f ms\n", served, busy.load(), worst);
    std::printf("  resident memory: %ld KiB at the start, %ld KiB at the end\n", rssStart, rssEnd);
    pool.stop();
    doc.stopBackground();
    return 0;
}
