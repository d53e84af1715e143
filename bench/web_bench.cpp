// The station's web server: a station (the document in local mode on the simulated instrument)
// with a 1,000,000-event store, its TCP server and its web server, both on the document's thread
// (this program's main thread). Prints single fresh web requests, then the latency of the
// station's TCP requests (instrument list, a day's events) alone, then while 20 web clients load
// the page, the metrics and a chart in a loop, and the web latencies.
// Usage: bench_web [seconds per phase] [pause in ms between a web client's requests]
// (defaults 10 and 0: every client asks again as soon as it has its answer).
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "document/documentrequesthandler.h"
#include "document/documentui.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/localtime.h"
#include "remote/remoteclient.h"
#include "remote/remoteserver.h"
#include "web/stationweb.h"

#include "benchevents.h"
#include "kestrasim/simulator.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

using namespace kestra::sim;

namespace {

class BenchHost final : public DocumentHost {
public:
    void setWindowTitle(const QString&) override { }
    std::optional<QString> promptPassword() override { return std::nullopt; }
    bool openProgramSettings() override { return false; }
    void exitApplication() override { }
};

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point begin)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

struct Figures {
    std::vector<double> ms;
    int failed = 0;
};

void print(const char* name, Figures& f, double seconds)
{
    std::sort(f.ms.begin(), f.ms.end());
    const auto at
        = [&](double q) { return f.ms.empty() ? 0 : f.ms[std::min(f.ms.size() - 1, size_t(f.ms.size() * q))]; };
    std::printf("  %-34s %7zu answered (%6.1f/s), %3d failed, median %7.2f ms, p95 %7.2f ms, worst %7.2f ms\n", name,
        f.ms.size(), double(f.ms.size()) / seconds, f.failed, at(0.5), at(0.95), f.ms.empty() ? 0 : f.ms.back());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One blocking HTTP GET; true on a 200 with its whole body.
bool httpGet(quint16 port, const QByteArray& target)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(10000))
        return false;
    socket.write("GET " + target + " HTTP/1.1\r\nHost: station\r\n\r\n");
    QByteArray all;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        all += socket.readAll();
    all += socket.readAll();
    const qsizetype end = all.indexOf("\r\n\r\n");
    const qsizetype length = all.indexOf("Content-Length: ");
    return all.startsWith("HTTP/1.1 200") && end > 0 && length > 0
        && all.size() - end - 4 == all.mid(length + 16, all.indexOf('\r', length) - length - 16).toLongLong();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int pauseMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    QTemporaryDir home;
    AppContext context { ProgramFolder(home.path()) };
    context.device().setDriverLogFolder(home.path());

    Options options;
    options.liveHistory = false;
    options.historyRecords = 200;
    options.historyDays = 2;
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

    BenchHost host;
    CKESTRADoc doc(context);
    doc.setHost(&host);
    if (!doc.initialise()) {
        std::fprintf(stderr, "the store does not open\n");
        return 1;
    }

    // 1,000,000 events: four instruments, 250,000 each over the last year (one every 2 min).
    const QString id = QStringLiteral("KESTRA #") + QString::fromStdString(options.number);
    const QStringList ids { id, QStringLiteral("KESTRA #200001"), QStringLiteral("KESTRA #200002"),
        QStringLiteral("KESTRA #200003") };
    QElapsedTimer fill;
    fill.start();
    const qint64 start = std::time(nullptr) - 250000LL * 126;
    for (const QString& pager : ids) {
        std::vector<ChistoryRec> batch;
        for (int i = 0; i < 250000; ++i) {
            batch.push_back(benchEvent(pager, start + i * 126LL, i));
            if (batch.size() == 50000) {
                context.store().current()->insertEvents(batch);
                batch.clear();
            }
        }
    }
    std::printf("web bench: store of %lld events filled in %.1f s; %d s per phase; web clients pause %d ms\n",
        context.store().current()->eventCount(), fill.elapsed() / 1000.0, seconds, pauseMs);

    doc.watcherProbe();
    doc.loadInstrumentList();
    doc.state().setCurrentInstrument(id);
    DocumentRequestHandler backend(doc);
    CPool pool(&backend);
    StationWeb web(doc);
    web.setStationPool(&pool);
    if (!pool.start(QHostAddress::LocalHost, 0) || !web.start(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "the servers do not listen\n");
        return 1;
    }
    // The bench's clients all come from 127.0.0.1: they stand for twenty browsers, so the
    // per-peer bounds are those of twenty peers.
    StationWeb::Limits limits;
    limits.connectionsPerPeer = 64;
    limits.requestsPerSecond *= 20;
    web.setLimits(limits);
    const quint16 tcpPort = pool.port();
    const quint16 webPort = web.port();
    const QString today = LocalTime::format(std::time(nullptr), "%Y-%m-%d");

    std::atomic<bool> stop { false };
    std::atomic<int> running { 0 };
    std::mutex lock;
    // The station's TCP client: the instrument list and today's events, one after the other.
    const auto tcpClient = [&](Figures* list, Figures* day) {
        ++running;
        for (int i = 0; !stop.load(); ++i) {
            RemoteClient client(QStringLiteral("127.0.0.1"), tcpPort);
            const auto begin = Clock::now();
            bool ok = false;
            if (i % 2 == 0) {
                CPagerList pagers;
                ok = client.loadInstrumentList(pagers);
            } else {
                CHistoryList events;
                ok = client.dayEvents(id, today, 0, events);
            }
            const double ms = msSince(begin);
            std::lock_guard guard(lock);
            Figures& f = i % 2 == 0 ? *list : *day;
            f.ms.push_back(ms);
            f.failed += ok ? 0 : 1;
        }
        --running;
    };
    const auto runPhase = [&](const std::function<void()>& startClients) {
        stop = false;
        startClients();
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        QCoreApplication::exec();
        stop = true;
        while (running.load() > 0) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };

    // Phase 1: the TCP client alone.
    Figures aloneList;
    Figures aloneDay;
    std::vector<std::thread> threads;
    runPhase([&] { threads.emplace_back(tcpClient, &aloneList, &aloneDay); });
    for (auto& t : threads)
        t.join();
    threads.clear();

    // Each target once, made afresh (nothing cached yet), one at a time.
    const QByteArray idQuery = "KESTRA%20%23" + QByteArray::fromStdString(options.number);
    const QByteArray yearAgo = LocalTime::format(std::time(nullptr) - 364 * 86400LL, "%Y-%m-%d").toLatin1();
    const QByteArray monthAgo = LocalTime::format(std::time(nullptr) - 30 * 86400LL, "%Y-%m-%d").toLatin1();
    std::printf("single requests, made afresh:\n");
    for (const QByteArray& target :
        { QByteArray("/"), QByteArray("/metrics"), "/chart/day.png?instrument=" + idQuery + "&day=" + today.toLatin1(),
            "/chart/range.png?instrument=" + idQuery + "&from=" + yearAgo,
            "/api/v1/events?instrument=" + idQuery + "&day=" + today.toLatin1(),
            "/api/v1/events.csv?instrument=" + idQuery + "&from=" + monthAgo }) {
        std::atomic<bool> ok { false };
        std::atomic<bool> finished { false };
        const auto begin = Clock::now();
        std::thread client([&] {
            ok = httpGet(webPort, target);
            finished = true;
        });
        // The station's thread serves while this one waits.
        while (!finished.load())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        client.join();
        std::printf("  %-60s %8.1f ms%s\n", target.left(60).constData(), msSince(begin), ok.load() ? "" : " (failed)");
    }

    // Phase 2: the same, with 20 web clients loading the page, the metrics and the charts.
    Figures withList;
    Figures withDay;
    Figures page;
    Figures metrics;
    Figures chart;
    runPhase([&] {
        threads.emplace_back(tcpClient, &withList, &withDay);
        for (int c = 0; c < 20; ++c) {
            threads.emplace_back([&, c] {
                ++running;
                for (int i = c; !stop.load(); ++i) {
                    const int kind = i % 5 < 2 ? 0 : i % 5 < 4 ? 1 : 2;
                    const QByteArray target = kind == 0 ? QByteArray("/")
                        : kind == 1                     ? QByteArray("/metrics")
                                                        : "/chart/range.png?instrument=" + idQuery;
                    const auto begin = Clock::now();
                    const bool ok = httpGet(webPort, target);
                    const double ms = msSince(begin);
                    {
                        std::lock_guard guard(lock);
                        Figures& f = kind == 0 ? page : kind == 1 ? metrics : chart;
                        f.ms.push_back(ms);
                        f.failed += ok ? 0 : 1;
                    }
                    if (pauseMs > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                }
                --running;
            });
        }
    });
    for (auto& t : threads)
        t.join();

    std::printf("station TCP requests alone:\n");
    print("request 0 (instrument list)", aloneList, seconds);
    print("request 1 (today's events)", aloneDay, seconds);
    std::printf("with 20 web clients:\n");
    print("request 0 (instrument list)", withList, seconds);
    print("request 1 (today's events)", withDay, seconds);
    print("web page /", page, seconds);
    print("web /metrics", metrics, seconds);
    print("web /chart/range.png (30 days)", chart, seconds);
    const auto change = [](const Figures& alone, const Figures& with) {
        const double before = median(alone.ms);
        return before > 0 ? (median(with.ms) / before - 1) * 100 : 0;
    };
    std::printf("station TCP median latency with web clients: request 0 %+.1f %%, request 1 %+.1f %% (target: at most "
                "+10 %%)\n",
        change(aloneList, withList), change(aloneDay, withDay));
    web.stop();
    pool.stop();
    doc.stopBackground();
    return 0;
}
