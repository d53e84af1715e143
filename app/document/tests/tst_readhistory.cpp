// Read history end to end against the simulated instrument, a real SQLite file and recorders
// in place of the window; the watcher and the history timer on an alarm.
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/historyspool.h"
#include "docrecorders.h"
#include "document/historyscheduler.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "simhistory.h"

#include "device/driverlock.h"
#include "kestrasim/simulator.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra::sim;
using namespace simhistory;

namespace {

QString stamp(qint64 t)
{
    return LocalTime::format(t, "%Y-%m-%d %H:%M:%S");
}

int storedEvents(HistoryStore& store)
{
    CPagerList list;
    store.current()->loadDayEvents(list, Id, QString(), 0);
    const CPager* p = list.find(Id);
    int n = 0;
    if (p) {
        for (const auto& [day, events] : p->days())
            n += events.size();
    }
    return n;
}

} // namespace

class ReadHistoryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_context.device().setDriverLogFolder(m_home.path());
        m_context.setMessenger(&m_messenger);
        Options options;
        options.linkPath = m_home.filePath(QStringLiteral("port")).toStdString();
        options.liveHistory = false;
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
    }

    void cleanupTestCase()
    {
        m_doc.stopBackground();
        m_doc.setViews(nullptr);
        m_doc.setHost(nullptr);
        m_context.store().close();
        m_sim.reset();
    }

    // The title follows the link: not connected until the watcher's probe opens the port.
    void titleInBothLinkStates()
    {
        QVERIFY(m_doc.initialise());
        QCOMPARE(m_doc.title(), QStringLiteral("KESTRA Software - Local mode. Not connected"));
        QVERIFY(!m_doc.state().connected());
        m_doc.watcherProbe();
        QVERIFY(m_doc.state().connected());
        QCOMPARE(m_doc.title(), QStringLiteral("KESTRA Software - Local mode. Connected to instrument '%1'").arg(Id));
        QCOMPARE(m_host.titles.last(), m_doc.title());
    }

    // A download lands in the database, the instrument list and the views: new days get a
    // node once, the shown day gets its new events as top rows, newest first.
    void downloadStoresAndShows()
    {
        m_sim->setHistory({ record('F', at(2, 3600)), record('F', at(2, 7200)), record('F', at(1, 3600)),
            record('g', at(1, 5400), 2e-3), record('F', at(1, 9000)) });
        QSignalSpy stored(&m_doc, &CKESTRADoc::historyStored);
        QVERIFY(m_doc.readHistory());
        QCOMPARE(stored.count(), 1);
        QCOMPARE(stored.at(0).at(2).toInt(), 5);
        QCOMPARE(storedEvents(m_context.store()), 5);
        QVERIFY(m_sim->history().empty());
        // The alarm marks its day although the day's events are not loaded.
        QCOMPARE(m_views.calls,
            QStringList({ QStringLiteral("instrument ") + Id,
                QStringLiteral("day %1 %2").arg(Id, LocalTime::format(at(2, 0), "%Y-%m-%d")),
                QStringLiteral("day %1 %2").arg(Id, LocalTime::format(at(1, 0), "%Y-%m-%d")),
                QStringLiteral("alarm day %1 %2").arg(Id, LocalTime::format(at(1, 0), "%Y-%m-%d")) }));
        QVERIFY(m_doc.pagers().find(Id)->dayList(at(1, 0))->hasAlarms);
        QVERIFY(!m_doc.pagers().find(Id)->dayList(at(2, 0))->hasAlarms);
        QVERIFY(HistorySpool(m_context.device().spoolFolder()).pending().isEmpty());

        // Show day 1, then download more of it and a new day.
        CHistoryList* shown = m_doc.dayEvents(Id, at(1, 0), 0);
        QVERIFY(shown);
        QCOMPARE(shown->size(), 3);
        QVERIFY(shown->hasAlarms);
        m_doc.state().setCurrentInstrument(Id);
        m_doc.state().setCurrentDate(at(1, 0));
        m_views.calls.clear();
        m_views.rows.clear();

        m_sim->setHistory({ record('F', at(1, 20000)), record('G', at(1, 30000), 4e-4), record('F', at(0, 60)),
            record('F', at(0, 120)) });
        QVERIFY(m_doc.readHistory());
        QCOMPARE(storedEvents(m_context.store()), 9);
        // The shown day's new events go to the list as one batch, oldest first.
        QCOMPARE(m_views.calls,
            QStringList({ QStringLiteral("day %1 %2").arg(Id, LocalTime::format(at(0, 0), "%Y-%m-%d")),
                QStringLiteral("batch ") + stamp(at(1, 20000)) + u',' + stamp(at(1, 30000)) }));
        // Taken at the top in that order, the rows read newest first.
        QCOMPARE(m_views.rows.mid(0, 2), QStringList({ stamp(at(1, 30000)), stamp(at(1, 20000)) }));
        QCOMPARE(shown->size(), 5);
        const CPager* pager = m_doc.pagers().find(Id);
        QCOMPARE(pager->days().size(), size_t(3));
        QVERIFY(!pager->isDayLoaded(at(0, 0))); // a day not yet shown comes from the database later
        QVERIFY(m_host.titles.size() >= 2);
    }

    // The instrument's clear failed (or it kept its memory): the same records again add
    // nothing to the database, the shown day or the views.
    void secondDownloadAddsNothingTwice()
    {
        m_views.calls.clear();
        m_sim->setHistory({ record('F', at(1, 20000)), record('G', at(1, 30000), 4e-4), record('F', at(0, 60)),
            record('F', at(0, 120)) });
        QSignalSpy stored(&m_doc, &CKESTRADoc::historyStored);
        m_doc.readHistory();
        QCOMPARE(storedEvents(m_context.store()), 9);
        QVERIFY(m_views.calls.isEmpty());
        QCOMPARE(m_doc.pagers().find(Id)->dayList(at(1, 0))->size(), 5);
        if (!stored.isEmpty())
            QCOMPARE(stored.at(0).at(2).toInt(), 0);
        QVERIFY(HistorySpool(m_context.device().spoolFolder()).pending().isEmpty());

        // An empty history stores nothing and changes no view.
        m_sim->setHistory({});
        QVERIFY(!m_doc.readHistory());
        QCOMPARE(storedEvents(m_context.store()), 9);
        QVERIFY(m_views.calls.isEmpty());
        QVERIFY(!m_doc.state().downloadBusy.load());
    }

    // A commit that fails keeps the download on disk; the next download stores it first.
    void failedCommitKeepsDownload()
    {
        const QString path = m_context.store().current()->path();
        const int before = storedEvents(m_context.store());
        m_context.store().close();
        m_sim->setHistory({ record('F', at(0, 7200)), record('F', at(0, 7300)) });
        QSignalSpy stored(&m_doc, &CKESTRADoc::historyStored);
        QVERIFY(m_doc.readHistory());
        QCOMPARE(stored.count(), 1);
        QCOMPARE(stored.at(0).at(3).toBool(), false);
        QVERIFY(m_sim->history().empty()); // cleared: the spool holds the events now
        QCOMPARE(HistorySpool(m_context.device().spoolFolder()).pending().size(), 1);

        QVERIFY(m_context.store().open(path));
        QVERIFY(!m_doc.readHistory()); // nothing new on the instrument
        QVERIFY(HistorySpool(m_context.device().spoolFolder()).pending().isEmpty());
        QCOMPARE(storedEvents(m_context.store()), before + 2);
    }

    // Day events: an unknown instrument gives nothing; a known day is loaded once.
    void dayEventsLoadsOnce()
    {
        QVERIFY(!m_doc.dayEvents(QStringLiteral("nobody"), at(1, 0), 0));
        CHistoryList* first = m_doc.dayEvents(Id, at(2, 0), 0);
        QVERIFY(first);
        QCOMPARE(first->size(), 2);
        QCOMPARE(m_doc.dayEvents(Id, at(2, 0), 0), first);
        QCOMPARE(first->size(), 2);
    }

    // The watcher sees the instrument's alarm and the history timer fires within seconds,
    // long before its period.
    void watcherStartsDownloadOnAlarm()
    {
        HistoryScheduler scheduler(m_doc);
        scheduler.restart(3600);
        QCOMPARE(scheduler.currentInterval(), 3600 * 1000);
        QSignalSpy ticks(&scheduler, &HistoryScheduler::ticked);
        QSignalSpy stored(&m_doc, &CKESTRADoc::historyStored);
        m_doc.state().lastStatusBits = 0;
        m_doc.startWatcher();
        QTest::qWait(300);
        QVERIFY(ticks.isEmpty());

        m_sim->setHistory({ record('g', at(0, 600), 5e-3) });
        m_sim->setDoseRate(5e-3);
        m_sim->advanceClock(2);
        QVERIFY(m_sim->alarmWord() != 0);
        QTRY_VERIFY_WITH_TIMEOUT(!ticks.isEmpty(), 6000);
        QVERIFY(ticks.at(0).at(0).toBool());
        QCOMPARE(stored.count(), 1);
        QVERIFY(
            storedEvents(m_context.store()) >= 10); // the record set up, and what the instrument logged of its alarm
        QCOMPARE(scheduler.currentInterval(), 3600 * 1000); // back to its period
        m_doc.stopBackground();
        QVERIFY(!m_doc.state().watcherRunning.load());
        m_sim->setDoseRate(1e-7);
    }

    void timerPeriodRule_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("period");
        QTest::newRow("zero") << 0 << 1000;
        QTest::newRow("negative") << -5 << 1000;
        QTest::newRow("one") << 1 << 1000;
        QTest::newRow("default") << 60 << 60000;
        QTest::newRow("largest") << 30000 << 30000000;
        QTest::newRow("beyond int") << 3000000 << std::numeric_limits<int>::max();
    }
    void timerPeriodRule()
    {
        QFETCH(int, interval);
        QFETCH(int, period);
        QCOMPARE(HistoryScheduler::period(interval), period);
    }

private:
    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    RecordingMessenger m_messenger;
    RecordingHost m_host;
    RecordingViews m_views;
    AppContext m_context { ProgramFolder(m_home.path()) };
    CKESTRADoc m_doc { m_context };
};

QTEST_GUILESS_MAIN(ReadHistoryTest)
#include "tst_readhistory.moc"
