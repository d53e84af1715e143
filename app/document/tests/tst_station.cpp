// A station in this process: the document in local mode on the simulated instrument and a real
// SQLite file, serving other computers over 127.0.0.1 while it downloads. Nothing that arrives
// while one of its operations waits may run inside it.
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "docrecorders.h"
#include "document/documentrequesthandler.h"
#include "document/historyscheduler.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "remote/remoteclient.h"
#include "remote/remoteserver.h"
#include "simhistory.h"

#include "device/driverlock.h"
#include "kestrasim/simulator.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <thread>

using namespace kestra::sim;
using namespace simhistory;

namespace {

// The window's part: keeps the event loop running while the document waits, and lets a test
// act from inside that wait.
class StationHost final : public DocumentHost {
public:
    void setWindowTitle(const QString&) override { }
    std::optional<QString> promptPassword() override { return std::nullopt; }
    bool openProgramSettings() override { return false; }
    void exitApplication() override { }
    void keepAlive() override
    {
        ++waits;
        if (duringWait) {
            auto action = std::move(duringWait);
            duringWait = nullptr;
            action();
        }
        DocumentHost::keepAlive();
    }

    int waits = 0;
    std::function<void()> duringWait;
};

ChistoryRec makeEvent(const QString& id, qint64 t, qint32 alarm = 0)
{
    ChistoryRec r;
    r.hPagerID = id;
    r.hDateTime = t;
    r.hType = 3;
    r.hAlarm = alarm;
    r.hValue = 100 + double(t % 97);
    r.hPrecision = 12;
    r.hID = ChistoryRec::makeKey(id, t);
    return r;
}

// No two events of a list equal, and each of the given instrument.
QString checkList(const std::vector<ChistoryRec>& events, const QString& id)
{
    std::set<std::tuple<qint64, qint32, qint32, double>> seen;
    for (const ChistoryRec& r : events) {
        if (r.hPagerID != id)
            return QStringLiteral("an event of %1").arg(r.hPagerID);
        if (!seen.insert({ r.hDateTime, r.hType, r.hAlarm, r.hValue }).second)
            return QStringLiteral("an event twice at %1").arg(r.hDateTime);
    }
    return {};
}

} // namespace

class StationTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_context.device().setDriverLogFolder(m_home.path());
        m_context.setMessenger(&m_msg);
        Options options;
        options.linkPath = m_home.filePath(QStringLiteral("port")).toStdString();
        options.liveHistory = false;
        options.baud = 115200;
        options.historyRecords = 1500;
        options.historyDays = 3;
        m_sim = std::make_unique<Simulator>(options);
        std::string error;
        QVERIFY2(m_sim->start(&error), error.c_str());

        ProgramConfig& c = m_context.config();
        c.autoDetect = false;
        c.port = QString::fromStdString(m_sim->slavePath());
        c.localMode = true;
        c.timeSynchronize = false;
        c.archivingInterval = 0;
        m_doc.setHost(&m_host);
        m_doc.setViews(&m_views);
        QVERIFY(m_doc.initialise());
        m_doc.watcherProbe();
        QVERIFY(m_doc.state().connected());
        QVERIFY(m_pool.start(0));
    }

    void cleanupTestCase()
    {
        m_pool.stop();
        m_doc.stopBackground();
        m_doc.setViews(nullptr);
        m_doc.setHost(nullptr);
        m_context.store().close();
        m_sim.reset();
    }

    // Four clients ask for the instrument list, a day, the instrument's name and new events
    // throughout a download: each answer is whole, and every downloaded event is stored once.
    void requestsThroughoutADownload()
    {
        const auto downloaded = static_cast<qsizetype>(m_sim->history().size());
        QVERIFY(downloaded > 1000);
        QVERIFY(m_doc.loadInstrumentList());
        m_doc.state().setCurrentInstrument(Id);
        const QString day = LocalTime::format(at(1, 0), "%Y-%m-%d");
        const quint16 port = m_pool.port();

        std::atomic<bool> stop { false };
        std::mutex lock;
        QStringList faults;
        std::atomic<int> answered[4] {};
        std::atomic<int> busyAnswers { 0 };
        std::atomic<int> finished { 0 };
        const auto fault = [&](const QString& text) {
            std::lock_guard guard(lock);
            faults << text;
        };
        // Four clients ask for each in turn. A fifth only polls: a poll is answered at once
        // during the download while the other requests wait for its end, so polls arrive
        // throughout however the threads are scheduled.
        const auto client = [&](int first, int step) {
            for (int i = first; !stop.load(); i += step) {
                RemoteClient c(QStringLiteral("127.0.0.1"), port);
                switch (i % 4) {
                case 0: {
                    CPagerList list;
                    if (!c.loadInstrumentList(list))
                        fault(QStringLiteral("request 0 failed"));
                    for (int k = 0; k < list.count(); ++k) {
                        if (list.instrumentAt(k)->identifier() != Id)
                            fault(QStringLiteral("request 0: ") + list.instrumentAt(k)->identifier());
                    }
                    break;
                }
                case 1: {
                    CHistoryList list;
                    if (!c.dayEvents(Id, day, 0, list))
                        fault(QStringLiteral("request 1 failed"));
                    const std::vector<ChistoryRec> events(list.records().begin(), list.records().end());
                    if (const QString problem = checkList(events, Id); !problem.isEmpty())
                        fault(QStringLiteral("request 1: ") + problem);
                    for (const ChistoryRec& r : events) {
                        if (LocalTime::format(r.hDateTime, "%Y-%m-%d") != day)
                            fault(QStringLiteral("request 1: an event of another day"));
                    }
                    break;
                }
                case 2: {
                    QString name;
                    if (!c.instrumentName(name) || name != Id)
                        fault(QStringLiteral("request 6: ") + name);
                    break;
                }
                case 3: {
                    std::vector<ChistoryRec> events;
                    bool busy = false;
                    if (!c.eventsSince(0, events, &busy))
                        fault(QStringLiteral("request 8 failed"));
                    busyAnswers += busy ? 1 : 0;
                    if (const QString problem = checkList(events, Id); !problem.isEmpty())
                        fault(QStringLiteral("request 8: ") + problem);
                    if (!std::is_sorted(events.begin(), events.end(),
                            [](const ChistoryRec& a, const ChistoryRec& b) { return a.hDateTime < b.hDateTime; }))
                        fault(QStringLiteral("request 8: not oldest first"));
                    break;
                }
                }
                ++answered[i % 4];
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ++finished;
        };
        std::vector<std::thread> clients;
        for (int k = 0; k < 4; ++k)
            clients.emplace_back(client, k, 1);
        clients.emplace_back(client, 3, 4);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(std::begin(answered), std::end(answered), [](const auto& n) { return n > 0; }), 30000);
        QVERIFY(m_doc.readHistory());
        QTest::qWait(1500); // what waited for the download is answered now
        // The clients' last requests are served by this thread's event loop.
        stop = true;
        QTRY_COMPARE_WITH_TIMEOUT(finished.load(), 5, 60000);
        for (std::thread& t : clients)
            t.join();

        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        for (const auto& n : answered)
            QVERIFY(n.load() > 1);
        QVERIFY(busyAnswers.load() > 0);
        const std::vector<ChistoryRec> stored = m_context.store().current()->eventsAfter(Id, 0);
        QCOMPARE(qsizetype(stored.size()), downloaded);
        QCOMPARE(checkList(stored, Id), QString());
    }

    // A poll from the beginning of time on an instrument of two years: one query, nothing
    // loaded into the station's memory.
    void aPollFromZeroOnTwoYears()
    {
        const QString id = QStringLiteral("KESTRA #000730");
        std::vector<ChistoryRec> events;
        const qint64 first = LocalTime::dayKey(at(0, 0) - 730 * qint64(86400) + 43200).value();
        for (int d = 0; d < 730; ++d) {
            for (int k = 0; k < 20; ++k)
                events.push_back(makeEvent(id, first + d * 86400 + 3600 + k * 120, k == 7 ? 2 : 0));
        }
        QVERIFY(m_context.store().current()->insertEvents(events));
        QVERIFY(m_doc.loadInstrumentList());
        m_doc.state().setCurrentInstrument(id);

        std::vector<ChistoryRec> answer;
        bool busy = true;
        bool ok = false;
        std::atomic<bool> done { false };
        std::thread client([&] {
            ok = RemoteClient(QStringLiteral("127.0.0.1"), m_pool.port()).eventsSince(0, answer, &busy);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 15000); // a bound for a hang, not a speed
        client.join();
        QVERIFY(ok);
        QVERIFY(!busy);
        QCOMPARE(answer.size(), events.size());
        QCOMPARE(answer.front().hDateTime, events.front().hDateTime);
        QCOMPARE(answer.back().hDateTime, events.back().hDateTime);
        const CPager* pager = m_doc.pagers().find(id);
        QVERIFY(pager);
        for (const auto& [day, list] : pager->days())
            QVERIFY(!list.loaded && list.isEmpty());

        // Days of alarm events only are never taken for whole days.
        const QString dayText = LocalTime::format(first, "%Y-%m-%d");
        CHistoryList alarms;
        CHistoryList whole;
        done = false;
        client = std::thread([&] {
            RemoteClient c(QStringLiteral("127.0.0.1"), m_pool.port());
            ok = c.dayEvents(id, dayText, 1, alarms) && c.dayEvents(id, dayText, 0, whole);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 15000);
        client.join();
        QVERIFY(ok);
        QCOMPARE(alarms.size(), qsizetype(1));
        QCOMPARE(whole.size(), qsizetype(20));
        m_doc.state().setCurrentInstrument(Id);
    }

    // A history tick and events delivered by the poll thread while a day loads wait until the
    // load has ended, then run in order.
    void nothingRunsInsideALoadDayWait()
    {
        const QString id = QStringLiteral("KESTRA #000001");
        const qint64 day = at(5, 0);
        std::vector<ChistoryRec> events;
        for (int k = 0; k < 60000; ++k)
            events.push_back(makeEvent(id, day + k));
        QVERIFY(m_context.store().current()->insertEvents(events));
        QVERIFY(m_doc.loadInstrumentList());

        HistoryScheduler scheduler(m_doc);
        QSignalSpy ticks(&scheduler, &HistoryScheduler::ticked);
        CHistoryList delivered;
        delivered.addRecord(makeEvent(QStringLiteral("KESTRA #000002"), at(2, 60)));
        m_views.calls.clear();
        QStringList seenInside;
        bool ticksInside = false;
        m_host.waits = 0;
        m_host.duringWait = [&] {
            scheduler.fireAfter(0);
            emit m_doc.remoteEventsArrived(delivered);
            for (int k = 0; k < 20; ++k) {
                QCoreApplication::processEvents();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            seenInside = m_views.calls;
            ticksInside = !ticks.isEmpty();
        };
        const CHistoryList* loaded = m_doc.dayEvents(id, day, 0);
        QVERIFY(loaded);
        QCOMPARE(loaded->size(), qsizetype(60000));
        QVERIFY2(m_host.waits > 0, "the load ended before its first wait");
        QVERIFY(!m_host.duringWait);
        QCOMPARE(seenInside, QStringList());
        QVERIFY(!ticksInside);

        QTRY_COMPARE(ticks.count(), 1);
        QVERIFY(
            m_views.calls.contains(QStringLiteral("day KESTRA #000002 ") + LocalTime::format(at(2, 0), "%Y-%m-%d")));
        scheduler.stop();
    }

    // Days that requests load stay within a bound, the least recently asked going first; the
    // day the station shows and a day that gained events stay, and a day let go keeps its
    // alarm mark and loads again.
    void requestedDaysAreBounded()
    {
        const QString id = QStringLiteral("KESTRA #000009");
        std::vector<ChistoryRec> events;
        for (int d = 10; d < 20; ++d)
            events.push_back(makeEvent(id, at(d, 60), d == 19 ? 1 : 0));
        QVERIFY(m_context.store().current()->insertEvents(events));
        QVERIFY(m_doc.loadInstrumentList());
        DocumentRequestHandler handler(m_doc, 4);

        const auto ask
            = [&](int d) { return handler.dayEvents(id, LocalTime::format(at(d, 0), "%Y-%m-%d"), 0).size(); };
        const auto loadedDays = [&] {
            QList<int> days;
            for (int d = 10; d < 20; ++d) {
                if (m_doc.pagers().find(id)->isDayLoaded(at(d, 0)))
                    days << d;
            }
            return days;
        };
        for (int d = 19; d >= 10; --d)
            QCOMPARE(ask(d), qsizetype(1));
        QCOMPARE(loadedDays(), QList<int>({ 10, 11, 12, 13 }));
        QVERIFY(m_doc.pagers().find(id)->dayList(at(19, 0))->hasAlarms);
        QCOMPARE(ask(19), qsizetype(1)); // loaded again

        // The shown day and a day with a new event are kept however old.
        m_doc.state().setCurrentInstrument(id);
        m_doc.state().setCurrentDate(LocalTime::dayKey(at(10, 0)).value());
        m_doc.pagers().find(id)->dayList(at(11, 0))->addRecord(makeEvent(id, at(11, 120)));
        for (int d = 14; d < 18; ++d)
            QCOMPARE(ask(d), qsizetype(1));
        QCOMPARE(loadedDays(), QList<int>({ 10, 11, 16, 17 }));
        m_doc.state().setCurrentDate(0);
    }

private:
    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    RecordingMessenger m_msg;
    StationHost m_host;
    RecordingViews m_views;
    AppContext m_context { ProgramFolder(m_home.path()) };
    CKESTRADoc m_doc { m_context };
    DocumentRequestHandler m_backend { m_doc };
    CPool m_pool { &m_backend };
};

QTEST_GUILESS_MAIN(StationTest)
#include "tst_station.moc"
