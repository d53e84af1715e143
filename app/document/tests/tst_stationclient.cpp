// A station and its client as two programs in one process, each with a context of its own:
// program folder, configuration, flags, link state, event store and messenger. The station runs
// its document on a thread of its own, as it would in its own process, with the simulated
// instrument and a real SQLite file, serving 127.0.0.1; the client's document, on the test's
// thread, is in remote mode on it and keeps a store of its own.
#include "docrecorders.h"
#include "document/appcontext.h"
#include "document/documentrequesthandler.h"
#include "document/kestradoc.h"
#include "remote/remoteserver.h"
#include "simhistory.h"

#include "kestrasim/simulator.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>
#include <set>

using namespace kestra::sim;
using namespace simhistory;

namespace {

// The station program: everything it owns is made, used and destroyed on its thread.
class StationProgram {
public:
    explicit StationProgram(const QString& home)
        : m_home(home)
    {
        m_anchor.moveToThread(&m_thread);
        m_thread.start();
    }
    ~StationProgram()
    {
        run([this] {
            m_pool.reset();
            if (m_doc)
                m_doc->stopBackground();
            m_backend.reset();
            m_doc.reset();
            m_context.reset();
        });
        m_thread.quit();
        m_thread.wait();
    }

    // Runs work on the station's thread and waits for it.
    void run(const std::function<void()>& work)
    {
        QMetaObject::invokeMethod(
            &m_anchor, [&work] { work(); }, Qt::BlockingQueuedConnection);
    }

    // Local mode on the instrument at port, its history downloaded, serving any free port.
    bool start(const QString& port)
    {
        bool ok = false;
        run([&] {
            m_context = std::make_unique<AppContext>(ProgramFolder(m_home));
            m_context->device().setDriverLogFolder(m_home);
            m_context->setMessenger(&messages);
            ProgramConfig& c = m_context->config();
            c.autoDetect = false;
            c.port = port;
            c.localMode = true;
            c.timeSynchronize = false;
            c.archivingInterval = 0;
            m_doc = std::make_unique<CKESTRADoc>(*m_context);
            if (!m_doc->initialise())
                return;
            m_doc->watcherProbe();
            m_backend = std::make_unique<DocumentRequestHandler>(*m_doc);
            m_pool = std::make_unique<CPool>(m_backend.get());
            ok = m_doc->state().connected() && m_doc->readHistory() && m_pool->start(0);
        });
        return ok;
    }

    quint16 port()
    {
        quint16 port = 0;
        run([&] { port = m_pool->port(); });
        return port;
    }

    // The station's stored events of an instrument, oldest first, as its own thread reads them.
    std::vector<ChistoryRec> stored(const QString& id)
    {
        std::vector<ChistoryRec> events;
        run([&] { events = m_context->store().current()->eventsAfter(id, 0); });
        return events;
    }

    // Only for reading on the test's thread while the station's thread waits for work.
    AppContext& context() { return *m_context; }

    RecordingMessenger messages;

private:
    const QString m_home;
    QThread m_thread;
    QObject m_anchor;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<CKESTRADoc> m_doc;
    std::unique_ptr<DocumentRequestHandler> m_backend;
    std::unique_ptr<CPool> m_pool;
};

std::set<qint64> timesOf(const std::vector<ChistoryRec>& events, qint64 day)
{
    std::set<qint64> times;
    for (const ChistoryRec& r : events) {
        if (LocalTime::dayKey(r.hDateTime).value() == day)
            times.insert(r.hDateTime);
    }
    return times;
}

int storedIn(AppContext& context, const QString& id, qint64 day)
{
    CPagerList list;
    context.store().current()->loadDayEvents(list, id, LocalTime::format(day, "%Y-%m-%d"), 0);
    int count = 0;
    if (const CPager* pager = list.find(id)) {
        for (const auto& [key, events] : pager->days())
            count += events.size();
    }
    return count;
}

} // namespace

class StationClientTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Ten events yesterday, every fourth an alarm, and five today.
        Options options;
        options.liveHistory = false;
        options.linkPath = m_dir.filePath(QStringLiteral("port")).toStdString();
        m_sim = std::make_unique<Simulator>(options);
        QVERIFY(m_sim->start());
        std::vector<RawRecord> history;
        for (int i = 0; i < 10; ++i)
            history.push_back(record(i % 4 == 1 ? 'G' : 'F', at(1, 3600 + i * 600)));
        for (int i = 0; i < 5; ++i)
            history.push_back(record('F', at(0, 60 + i * 60)));
        m_sim->setHistory(history);

        const ProgramFolder stationHome(m_dir.filePath(QStringLiteral("station")));
        QVERIFY(stationHome.make());
        m_station = std::make_unique<StationProgram>(stationHome.path());
        QVERIFY(m_station->start(QString::fromStdString(m_sim->slavePath())));
        QCOMPARE(m_station->stored(Id).size(), std::size_t(15));
        QVERIFY(m_sim->history().empty());

        const ProgramFolder clientHome(m_dir.filePath(QStringLiteral("client")));
        QVERIFY(clientHome.make());
        m_client = std::make_unique<AppContext>(clientHome);
        m_client->setMessenger(&m_messages);
        ProgramConfig& c = m_client->config();
        c.localMode = false;
        c.remoteServer = QStringLiteral("127.0.0.1:%1").arg(m_station->port());
        c.downloadingInterval = 3600;
        m_doc = std::make_unique<CKESTRADoc>(*m_client);
        m_doc->setHost(&m_host);
        m_doc->setViews(&m_views);
        QVERIFY(m_doc->initialise());
    }

    void cleanupTestCase()
    {
        if (m_doc)
            m_doc->stopBackground();
        m_doc.reset();
        m_client.reset();
        m_station.reset();
        m_sim.reset();
    }

    // The client lists the station's instrument and loads a day that the station downloaded:
    // the same events, which stay in the station's store only.
    void clientLoadsWhatTheStationDownloaded()
    {
        QVERIFY(m_host.titles.last().contains(QStringLiteral("Remote mode. Connected to server '127.0.0.1:")));
        CPagerList* list = m_doc->loadInstrumentList();
        QVERIFY(list);
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->instrumentAt(0)->identifier(), Id);

        const qint64 yesterday = LocalTime::dayKey(at(1, 0)).value();
        const CHistoryList* day = m_doc->dayEvents(Id, yesterday, 0);
        QVERIFY(day);
        const std::vector<ChistoryRec> loaded(day->records().begin(), day->records().end());
        QCOMPARE(timesOf(loaded, yesterday), timesOf(m_station->stored(Id), yesterday));
        QCOMPARE(loaded.size(), std::size_t(10));
        QCOMPARE(storedIn(*m_client, Id, yesterday), 0);
    }

    // A comment the client changes is stored by the station; the client's own store gets only
    // what it downloads from the station, and the station's keeps every event.
    void aCommentReachesTheStationsStore()
    {
        QVERIFY(m_doc->loadInstrumentList());
        const qint64 yesterday = LocalTime::dayKey(at(1, 0)).value();
        CHistoryList* day = m_doc->dayEvents(Id, yesterday, 0);
        QVERIFY(day && day->size() > 0);
        ChistoryRec record = day->at(0);
        record.hComment = QStringLiteral("checked by the client");
        QVERIFY(m_doc->updateComment(record));
        int commented = 0;
        for (const ChistoryRec& r : m_station->stored(Id)) {
            if (r == record)
                commented += r.hComment == record.hComment ? 1 : 100;
        }
        QCOMPARE(commented, 1);

        QVERIFY(m_doc->downloadFromRemote(Id, yesterday));
        QCOMPARE(storedIn(*m_client, Id, yesterday), 3); // the alarm events
        QCOMPARE(m_station->stored(Id).size(), std::size_t(15));
        QVERIFY(m_messages.messages.isEmpty());
        QVERIFY(m_station->messages.messages.isEmpty());
    }

    // What was process-wide is each program's own: the client's initialisation left the
    // station in local mode on its port, and the folders, stores, filter and settings files
    // are apart.
    void eachProgramKeepsItsOwnState()
    {
        AppContext& station = m_station->context();
        QVERIFY(station.state().localMode.load());
        QVERIFY(!m_client->state().localMode.load());
        QVERIFY(station.config().localMode);
        QVERIFY(!m_client->config().localMode);
        QCOMPARE(station.state().portName(), QString::fromStdString(m_sim->slavePath()));
        QVERIFY(m_client->state().portName().isEmpty());
        QVERIFY(station.folder().path() != m_client->folder().path());
        QVERIFY(station.store().current()->path().startsWith(station.folder().path()));
        QVERIFY(m_client->store().current()->path().startsWith(m_client->folder().path()));

        // The client's filter and units are its own.
        m_client->viewFlags().setFilterIndex(ViewFlags::AlarmsOnly);
        m_client->viewFlags().setUnitsRoentgen(!station.viewFlags().unitsRoentgen());
        QCOMPARE(station.viewFlags().filterIndex(), int(ViewFlags::AllEvents));
        QVERIFY(m_doc->units()); // the station's answer, into the client's flag
        QCOMPARE(m_client->viewFlags().unitsRoentgen(), station.viewFlags().unitsRoentgen());
        m_client->viewFlags().setFilterIndex(ViewFlags::AllEvents);

        // Saving the client's settings writes the client's file only.
        QVERIFY(m_client->config().save());
        ProgramConfig reread;
        QVERIFY(reread.load(m_client->folder().iniPath()));
        QVERIFY(!reread.localMode);
        QVERIFY(!QFile::exists(station.folder().iniPath()));
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<StationProgram> m_station;
    RecordingMessenger m_messages;
    RecordingHost m_host;
    RecordingViews m_views;
    std::unique_ptr<AppContext> m_client;
    std::unique_ptr<CKESTRADoc> m_doc;
};

QTEST_GUILESS_MAIN(StationClientTest)
#include "tst_stationclient.moc"
