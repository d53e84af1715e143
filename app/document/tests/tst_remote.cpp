// Remote mode end to end: a station (kestra-cli serve, in a process of its own) with the
// simulated instrument and its database, and a document here in remote mode talking to it
// over 127.0.0.1.
#include "config/password.h"
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "docrecorders.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/measurements.h"
#include "history/userparams.h"
#include "remote/remoteclient.h"
#include "simhistory.h"

#include "kestrasim/simulator.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <deque>

using namespace kestra::sim;
using namespace simhistory;

namespace {

// The window's part in the password exchange: answers the prompt from a script.
class PromptingHost final : public DocumentHost {
public:
    void setWindowTitle(const QString& text) override { title = text; }
    std::optional<QString> promptPassword() override
    {
        ++prompts;
        if (answers.empty())
            return std::nullopt;
        QString next = answers.front();
        answers.pop_front();
        return Password::promptValue(next);
    }
    bool openProgramSettings() override
    {
        ++settingsOpened;
        return false;
    }
    void exitApplication() override { }

    QString title;
    std::deque<QString> answers;
    int prompts = 0;
    int settingsOpened = 0;
};

} // namespace

class RemoteDocumentTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString serverHome = m_dir.filePath(QStringLiteral("station"));
        QDir().mkpath(serverHome);

        // The station's instrument: two days of history with alarms on the first.
        Options options;
        options.liveHistory = false;
        options.linkPath = m_dir.filePath(QStringLiteral("port")).toStdString();
        m_sim = std::make_unique<Simulator>(options);
        std::vector<RawRecord> history;
        for (int i = 0; i < 10; ++i)
            history.push_back(record(i % 4 == 1 ? 'G' : 'F', at(1, 3600 + i * 600)));
        for (int i = 0; i < 5; ++i)
            history.push_back(record('F', at(0, 60 + i * 60)));
        QVERIFY(m_sim->start());
        m_sim->setHistory(history);

        // The station keeps a settings password.
        ProgramConfig station;
        station.iniPath = serverHome + QStringLiteral("/KESTRA.ini");
        station.passwordDigest = Password::digest(QStringLiteral("secret"));
        station.downloadingInterval = 3600;
        QVERIFY(station.save());

        m_server.setProgram(QStringLiteral(KESTRA_CLI));
        m_server.setArguments(
            { QStringLiteral("--home"), serverHome, QStringLiteral("--port"), QString::fromStdString(options.linkPath),
                QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("0") });
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.start();
        QVERIFY(m_server.waitForStarted());
        const QRegularExpression serving(QStringLiteral("serving on port (\\d+)"));
        QString output;
        QDeadlineTimer deadline(20000);
        // The station downloads its instrument into its own database as soon as it is up.
        while (!deadline.hasExpired() && !output.contains(QStringLiteral("events read"))) {
            m_server.waitForReadyRead(200);
            output += QString::fromLocal8Bit(m_server.readAllStandardOutput());
        }
        const auto match = serving.match(output);
        QVERIFY2(match.hasMatch(), qPrintable(output));
        m_port = match.captured(1).toUShort();
        QVERIFY2(output.contains(QStringLiteral("15 events read, 15 new")), qPrintable(output));
        QVERIFY(m_sim->history().empty());

        // This computer: remote mode on the station.
        QVERIFY(m_context.folder().make());
        m_context.setMessenger(&m_msg);
        ProgramConfig& config = m_context.config();
        config.localMode = false;
        config.remoteServer = QStringLiteral("127.0.0.1:%1").arg(m_port);
        config.downloadingInterval = 3600;
        m_doc.setHost(&m_host);
        m_doc.setViews(&m_views);
        QVERIFY(m_doc.initialise());
    }

    void cleanupTestCase()
    {
        m_doc.stopBackground();
        m_server.terminate();
        m_server.waitForFinished(10000);
        m_context.store().close();
    }

    void titleAndInstrumentList()
    {
        QVERIFY2(m_host.title.contains(QStringLiteral("Remote mode. Connected to server '127.0.0.1:")),
            qPrintable(m_host.title));
        CPagerList* list = m_doc.loadInstrumentList();
        QVERIFY(list);
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->instrumentAt(0)->identifier(), Id);
        QCOMPARE(list->instrumentAt(0)->index(), 0);
        QString name;
        QVERIFY(m_doc.instrumentName(name));
        QCOMPARE(name, Id);
        QVERIFY(m_doc.units());
    }

    void aPollAsksFromItsLatestDayAndAlarmDaysStayApart()
    {
        // Before anything of today is loaded, on either side: the poll asks from the start of
        // the latest day, not for the whole instrument.
        QVERIFY(m_doc.loadInstrumentList());
        m_doc.state().setCurrentInstrument(Id);
        CHistoryList events;
        bool busy = true;
        QVERIFY(m_doc.eventsSince(events, busy));
        QVERIFY(!busy);
        QCOMPARE(events.size(), qsizetype(5)); // today's, not yesterday's ten

        // Alarm events only, then the whole day: the station did not take the first for the day.
        RemoteClient direct(QStringLiteral("127.0.0.1"), m_port);
        const QString today = LocalTime::format(at(0, 0), "%Y-%m-%d");
        CHistoryList alarms;
        QVERIFY(direct.dayEvents(Id, today, 1, alarms));
        QCOMPARE(alarms.size(), qsizetype(0));
        CHistoryList whole;
        QVERIFY(direct.dayEvents(Id, today, 0, whole));
        QCOMPARE(whole.size(), qsizetype(5));
    }

    void dayEventsThroughTheLoadDayJob()
    {
        QVERIFY(m_doc.loadInstrumentList());
        const CHistoryList* yesterday = m_doc.dayEvents(Id, LocalTime::dayKey(at(1, 0)).value(), 0);
        QVERIFY(yesterday);
        QCOMPARE(yesterday->size(), qsizetype(10));
        QVERIFY(m_msg.progress.contains(QStringLiteral("Data reading")));
        QVERIFY(!m_doc.dayEvents(QStringLiteral("nobody"), LocalTime::dayKey(at(1, 0)).value(), 0));
    }

    void measurementsAndUserParametersBehindThePassword()
    {
        CMeasurements values;
        QVERIFY(m_doc.readMeasurements(values));
        QVERIFY(!values.value.isEmpty());

        // A wrong password is refused, cleared and asked again.
        m_host.answers = { QStringLiteral("guess"), QStringLiteral("secret") };
        CUserParams params;
        QVERIFY(m_doc.readUserParams(params));
        QCOMPARE(m_host.prompts, 2);
        QVERIFY(m_msg.messages.contains(QStringLiteral("Error!|Incorrect password!")));
        QCOMPARE(params.historyInterval, int(m_sim->settings().historyInterval));

        params.historyInterval = 900;
        QVERIFY(m_doc.writeUserParams(params));
        QCOMPARE(m_sim->settings().historyInterval, uint16_t(900));
        QCOMPARE(m_host.prompts, 2); // the accepted password is kept for the run

        // Cancelling the prompt ends the operation.
        RemoteClient direct(QStringLiteral("127.0.0.1"), m_port);
        QCOMPARE(
            direct.checkPassword(Password::promptValue(QStringLiteral("nope"))), RemoteClient::PasswordCheck::Refused);
    }

    void newEventsReachThePollAndTheViews()
    {
        QVERIFY(m_doc.loadInstrumentList());
        const qint64 today = LocalTime::dayKey(std::time(nullptr)).value();
        QVERIFY(m_doc.dayEvents(Id, today, 0));
        m_doc.state().setCurrentInstrument(Id);
        m_doc.state().setCurrentDate(today);

        // The instrument logs a new event; Read history asks the station to download it.
        const qint64 fresh = at(0, 1800);
        m_sim->appendHistory(record('F', fresh));
        QVERIFY(m_doc.readHistory());

        CHistoryList events;
        bool busy = true;
        QVERIFY(m_doc.eventsSince(events, busy));
        QVERIFY(!busy);
        QCOMPARE(events.size(), qsizetype(1));
        QCOMPARE(events.at(0).hDateTime, fresh);

        // The poll thread fetches it and the document files it on its own thread.
        m_views.rows.clear();
        m_doc.state().pollNow = true;
        QTRY_COMPARE_WITH_TIMEOUT(m_views.rows.size(), qsizetype(1), 10000);
        QCOMPARE(m_views.rows.front(), LocalTime::format(fresh, "%Y-%m-%d %H:%M:%S"));
    }

    void commentsAndDownloadFromTheStation()
    {
        QVERIFY(m_doc.loadInstrumentList());
        const qint64 yesterday = LocalTime::dayKey(at(1, 0)).value();
        CHistoryList* day = m_doc.dayEvents(Id, yesterday, 0);
        QVERIFY(day && day->size() > 0);
        ChistoryRec record = day->at(0);
        record.hComment = QStringLiteral("badge \"B-7\"\nchecked");
        QVERIFY(m_doc.updateComment(record));
        RemoteClient direct(QStringLiteral("127.0.0.1"), m_port);
        CHistoryList fromStation;
        QVERIFY(direct.dayEvents(Id, LocalTime::format(yesterday, "%Y-%m-%d"), 0, fromStation));
        bool found = false;
        for (const ChistoryRec& r : fromStation.records())
            found = found || (r == record && r.hComment == record.hComment);
        QVERIFY(found);

        // Download from remote computer: the day's alarm events into this computer's database.
        QVERIFY(m_doc.downloadFromRemote(Id, yesterday));
        CPagerList local;
        QVERIFY(m_context.store().current()->loadDayEvents(local, Id, LocalTime::format(yesterday, "%Y-%m-%d"), 0));
        const CPager* pager = local.find(Id);
        QVERIFY(pager);
        int stored = 0;
        for (const auto& [key, list] : pager->days()) {
            for (const ChistoryRec& r : list.records()) {
                QVERIFY(r.hAlarm != 0);
                ++stored;
            }
        }
        QCOMPARE(stored, 3); // the 'G' records of that day
    }

    void aDownloadOnTheStationAnswersBusy()
    {
        // Slow replies, then an alarm: the station's watcher starts a download of its own.
        m_sim->appendHistory(record('F', at(0, 2400)));
        m_sim->injectFault(FaultKind::Latency, 12, 400);
        m_sim->setDoseRate(5e-3);
        bool sawBusy = false;
        QDeadlineTimer deadline(20000);
        while (!sawBusy && !deadline.hasExpired()) {
            CHistoryList events;
            bool busy = false;
            m_doc.eventsSince(events, busy);
            sawBusy = busy;
            if (!busy)
                QTest::qWait(100);
        }
        m_sim->clearFaults();
        m_sim->setDoseRate(1e-7);
        QVERIFY(sawBusy);
    }

    void anUnreachableServerIsToldOnce()
    {
        CKESTRADoc other(m_context);
        PromptingHost host;
        other.setHost(&host);
        QVERIFY(other.useServer(QStringLiteral("127.0.0.1:1")));
        m_msg.messages.clear();
        QString name;
        QVERIFY(!other.instrumentName(name));
        QCOMPARE(m_msg.messages.size(), 1);
        QVERIFY(m_msg.messages.front().contains(QStringLiteral("Can't connect to server '127.0.0.1:1'")));
        QCOMPARE(host.settingsOpened, 1);
        QVERIFY(!other.state().connected());

        // A Load-day job finds the server gone on its own thread: told once, after the job.
        other.pagers().findOrCreate(Id);
        QVERIFY(!other.dayEvents(Id, LocalTime::dayKey(at(1, 0)).value(), 0));
        QTRY_COMPARE(m_msg.messages.size(), 2);
        QCOMPARE(host.settingsOpened, 2);
        QTest::qWait(200);
        QCOMPARE(m_msg.messages.size(), 2);
        // A text without a port is refused before any connection.
        QVERIFY(!other.useServer(QStringLiteral("lab-pc")));
        // The shared state goes back to this test's document.
        QVERIFY(m_doc.useServer(QStringLiteral("127.0.0.1:%1").arg(m_port)));
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Simulator> m_sim;
    QProcess m_server;
    quint16 m_port = 0;
    RecordingMessenger m_msg;
    PromptingHost m_host;
    RecordingViews m_views;
    AppContext m_context { ProgramFolder(m_dir.filePath(QStringLiteral("client"))) };
    CKESTRADoc m_doc { m_context };
};

QTEST_GUILESS_MAIN(RemoteDocumentTest)
#include "tst_remote.moc"
