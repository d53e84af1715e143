// Initialisation without an instrument: the database, the port question, automatic archiving
// and the remote road's absence.
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/portdiscovery.h"
#include "docrecorders.h"
#include "document/kestradoc.h"
#include "history/archivestream.h"
#include "history/historydb.h"
#include "history/historyfiles.h"
#include "history/measurements.h"

#include "device/driverlock.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

ChistoryRec makeEvent(const QString& id, qint64 t)
{
    ChistoryRec r;
    r.hPagerID = id;
    r.hDateTime = t;
    r.hType = 3;
    r.hValue = 100;
    r.hID = ChistoryRec::makeKey(id, t);
    return r;
}

} // namespace

class InitialiseTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_context = std::make_unique<AppContext>(ProgramFolder(m_home->path()));
        m_context->device().setDriverLogFolder(m_home->path());
        m_context->setMessenger(&m_messenger);
        ProgramConfig& c = m_context->config();
        c.autoDetect = false;
        c.port = m_home->filePath(QStringLiteral("no-such-port"));
        m_doc = std::make_unique<CKESTRADoc>(*m_context);
        m_doc->setHost(&m_host);
        m_doc->setViews(&m_views);
        m_messenger.questions.clear();
        m_messenger.messages.clear();
        m_host.exits = 0;
        m_host.settingsOpened = 0;
        m_views.calls.clear();
    }
    void cleanup()
    {
        m_doc.reset();
        m_context.reset();
    }

    void notConnectedWithoutInstrument()
    {
        QVERIFY(m_doc->initialise());
        QCOMPARE(m_doc->title(), QStringLiteral("KESTRA Software - Local mode. Not connected"));
        QVERIFY(QFile::exists(m_home->filePath(QStringLiteral("DB/DataBase.db"))));
        QVERIFY(m_doc->state().watcherPoke.load());
        QCOMPARE(m_doc->state().portName(), m_context->config().port);
        QVERIFY(!m_doc->readHistory());
        QVERIFY(m_views.calls.isEmpty());
    }

    // The question about an undetected port comes once per run, however often the program
    // re-initialises; Yes opens the settings.
    void portQuestionOncePerRun()
    {
        QString found;
        if (PortDiscovery().findBridgePort(found))
            QSKIP("this machine has an instrument bridge port");
        m_context->config().autoDetect = true;
        m_messenger.answer = Messenger::Yes;
        m_doc->initialise();
        m_doc->initialise();
        m_doc->initialise();
        QCOMPARE(m_messenger.questions,
            QStringList(
                { QStringLiteral("Attention!|COM port is not detected.\nDo you want to check program settings?") }));
        QCOMPARE(m_host.settingsOpened, 1);
        QVERIFY(m_doc->portQuestionAsked());
        // A new run (a new document) asks again.
        CKESTRADoc second(*m_context);
        second.initialise();
        QCOMPARE(m_messenger.questions.size(), 2);
        m_messenger.answer = Messenger::No;
    }

    // A database that cannot be opened is reported, the exit step runs, and the document
    // goes on without one.
    void databaseFailure()
    {
        QFile blocker(m_home->filePath(QStringLiteral("DB")));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        QVERIFY(!m_doc->initialise());
        QVERIFY(m_messenger.messages.contains(QStringLiteral("Error!|Error during connection to database!")));
        QCOMPARE(m_host.exits, 1);
        QVERIFY(!m_doc->loadInstrumentList());
        int added = -1;
        const ChistoryRec r = makeEvent(QStringLiteral("A1"), 1230000000);
        QVERIFY(!m_doc->storeEvents(QStringLiteral("A1"), std::span(&r, 1), &added));
        QCOMPARE(added, 0);
    }

    // First run sets the time and archives nothing; interval 1 archives after more than 30
    // whole days, not at 30; an archive being viewed is never archived.
    void autoArchiveRules_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("age"); // seconds since the last archiving; -1 never archived
        QTest::addColumn<bool>("viewingArchive");
        QTest::addColumn<bool>("archived");
        QTest::newRow("first run") << 1 << qint64(-1) << false << false;
        QTest::newRow("off") << 0 << qint64(400) * 86400 << false << false;
        // Almost 31 days, with room for the seconds the test itself takes before the check.
        QTest::newRow("30 whole days") << 1 << qint64(30) * 86400 + 86000 << false << false;
        QTest::newRow("31 days") << 1 << qint64(31) * 86400 << false << true;
        QTest::newRow("2 months, 61 days") << 2 << qint64(61) * 86400 << false << true;
        QTest::newRow("2 months, 60 days") << 2 << qint64(60) * 86400 + 3600 << false << false;
        QTest::newRow("viewing an archive") << 1 << qint64(90) * 86400 << true << false;
    }
    void autoArchiveRules()
    {
        QFETCH(int, interval);
        QFETCH(qint64, age);
        QFETCH(bool, viewingArchive);
        QFETCH(bool, archived);

        // A store with an old and a recent event.
        const QString main = m_context->folder().filePath(QStringLiteral("DB/DataBase.db"));
        const qint64 now = std::time(nullptr);
        {
            HistoryDb* db = m_context->store().open(main, HistoryDb::OpenMode::Create);
            QVERIFY(db);
            QVERIFY(db->insertEvents(std::vector {
                makeEvent(QStringLiteral("A1"), now - 40 * 86400), makeEvent(QStringLiteral("A1"), now) }));
            m_context->store().close();
        }
        QString viewed;
        if (viewingArchive) {
            viewed = m_home->filePath(QStringLiteral("viewed.db"));
            QVERIFY(QFile::copy(main, viewed));
            m_doc->setArchivePath(viewed);
        }
        ProgramConfig& c = m_context->config();
        c.archivingInterval = interval;
        const qint64 before = age < 0 ? c.lastArchivingTime : now - age;
        c.lastArchivingTime = before;

        QVERIFY(m_doc->initialise());
        const QString archive = m_context->folder().path() + HistoryFiles::archiveFileName(now);
        QCOMPARE(QFile::exists(archive), archived);
        QCOMPARE(m_views.calls.contains(QStringLiteral("rebuild")), archived);
        QCOMPARE(
            m_messenger.messages.contains(QStringLiteral("Attention!|Database is successfully archived")), archived);

        CPagerList list;
        m_context->store().current()->loadDayEvents(list, QStringLiteral("A1"), QString(), 0);
        int events = 0;
        for (const auto& [day, l] : list.find(QStringLiteral("A1"))->days())
            events += l.size();
        QCOMPARE(events, archived ? 1 : 2);

        if (age < 0) {
            QVERIFY(c.lastArchivingTime >= now);
            ProgramConfig reread;
            QVERIFY(reread.load(c.iniPath));
            QCOMPARE(reread.lastArchivingTime, LocalTime::dayKey(now).value()); // saved as a date
        } else if (archived) {
            QVERIFY(c.lastArchivingTime >= now);
        } else {
            QCOMPARE(c.lastArchivingTime, before);
        }
    }

    // Without a remote road, remote mode fails quietly after one message.
    void remoteModeWithoutServer_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("no colon") << QStringLiteral("host");
        QTest::newRow("port 0") << QStringLiteral("host:0");
        QTest::newRow("no host") << QStringLiteral(":3133");
        QTest::newRow("not a number") << QStringLiteral("host:31x");
    }
    void remoteModeWithoutServer()
    {
        QFETCH(QString, server);
        ProgramConfig& c = m_context->config();
        c.localMode = false;
        c.remoteServer = server;
        m_doc->initialise();
        // A server that cannot be reached is found by the title's request in a job: told once,
        // after it.
        QTRY_COMPARE(m_messenger.messages.filter(QStringLiteral("Can't connect to server '%1'").arg(server)).size(), 1);
        QTest::qWait(50);
        QCOMPARE(m_messenger.messages.filter(QStringLiteral("Can't connect to server '%1'").arg(server)).size(), 1);
        QCOMPARE(m_doc->title(), QStringLiteral("KESTRA Software - Remote mode. Not connected"));
        QVERIFY(!m_doc->readHistory());
        QVERIFY(!m_doc->loadInstrumentList());
        CMeasurements m;
        QVERIFY(!m_doc->readMeasurements(m));
        QVERIFY(m_doc->state().pollRunning.load());
        m_doc->stopBackground();
        QVERIFY(!m_doc->state().pollRunning.load());
        c.localMode = true;
    }

    // The document's store writes the shown day; its load replaces the instrument list.
    void serialiseRoundTrip()
    {
        QVERIFY(m_doc->initialise());
        const qint64 t = *LocalTime::fromLocal(2008, 12, 25, 10, 0, 0);
        const std::vector<ChistoryRec> events { makeEvent(QStringLiteral("A1"), t),
            makeEvent(QStringLiteral("A1"), t + 60) };
        QVERIFY(m_doc->storeEvents(QStringLiteral("A1"), events));
        QVERIFY(m_doc->loadInstrumentList());
        QByteArray bytes;
        {
            QBuffer none(&bytes);
            none.open(QIODevice::WriteOnly);
            QVERIFY(!m_doc->storeTo(&none)); // nothing shown
            QVERIFY(bytes.isEmpty());
        }
        m_doc->state().setCurrentInstrument(QStringLiteral("A1"));
        m_doc->state().setCurrentDate(t);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(m_doc->storeTo(&buffer));
        CHistoryList written;
        StreamReader reader(bytes);
        written.read(reader);
        QVERIFY(reader.atEnd());
        QCOMPARE(written.size(), 2);
        QCOMPARE(written.at(0).hDateTime, t + 60); // newest first, as the store returns them
        QCOMPARE(written.at(1).hDateTime, t);

        CPagerList source;
        source.findOrCreate(QStringLiteral("B2")).addEvent(makeEvent(QStringLiteral("B2"), t));
        QByteArray listBytes;
        StreamWriter w(&listBytes);
        source.write(w);
        QBuffer in(&listBytes);
        in.open(QIODevice::ReadOnly);
        QVERIFY(m_doc->loadFrom(&in));
        QCOMPARE(m_doc->pagers().count(), 1);
        QCOMPARE(m_doc->pagers().instrumentAt(0)->index(), 0);
        QBuffer truncated;
        truncated.setData(listBytes.left(listBytes.size() - 3));
        truncated.open(QIODevice::ReadOnly);
        QVERIFY(!m_doc->loadFrom(&truncated));
        QCOMPARE(m_doc->pagers().count(), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> m_home;
    RecordingMessenger m_messenger;
    std::unique_ptr<AppContext> m_context;
    RecordingHost m_host;
    RecordingViews m_views;
    std::unique_ptr<CKESTRADoc> m_doc;
};

QTEST_GUILESS_MAIN(InitialiseTest)
#include "tst_initialise.moc"
