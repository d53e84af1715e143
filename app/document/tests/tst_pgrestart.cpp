// A station (kestra-cli serve on a simulated instrument) whose PostgreSQL server is stopped and
// started under it: it goes on answering from the store and storing downloads, without a
// restart of its own. The server is started by scripts/pg-test-cluster, which also gives the
// script that restarts it.
#include "config/programconfig.h"
#include "history/historydb.h"
#include "pgstores.h"
#include "remote/remoteclient.h"
#include "simhistory.h"

#include "kestrasim/simulator.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra::sim;

namespace {

std::vector<RawRecord> history(int first, int count)
{
    std::vector<RawRecord> records;
    for (int k = first; k < first + count; ++k)
        records.push_back(simhistory::record(k % 11 == 0 ? 'G' : 'F', simhistory::at(1 + k % 2, 60 + k * 41)));
    return records;
}

qint64 storedEvents(const QString& store)
{
    qint64 n = -1;
    {
        QSqlDatabase db = pgstores::open(QStringLiteral("count"), store);
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT count(*) FROM History")) && q.next())
            n = q.value(0).toLongLong();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    return n;
}

bool restartServer()
{
    const QString script = QString::fromLocal8Bit(qgetenv("KESTRA_TEST_PG_RESTART"));
    return !script.isEmpty() && QProcess::execute(script, {}) == 0;
}

} // namespace

class PgRestartTest : public QObject {
    Q_OBJECT

private slots:
    void stationOutlivesAServerRestart()
    {
        QVERIFY2(!qgetenv("KESTRA_TEST_PG_RESTART").isEmpty(), "run under scripts/pg-test-cluster");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString error;
        const QString store = pgstores::createDatabase(QStringLiteral("restart"), &error);
        QVERIFY2(!store.isEmpty(), qPrintable(error));

        Options options;
        options.number = "3001";
        options.liveHistory = false;
        Simulator sim(options);
        std::string simError;
        QVERIFY2(sim.start(&simError), simError.c_str());
        sim.setHistory(history(0, 120));

        const QString home = dir.filePath(QStringLiteral("station"));
        QVERIFY(QDir().mkpath(home));
        ProgramConfig config;
        config.iniPath = home + QStringLiteral("/KESTRA.ini");
        config.databasePath = store;
        config.localMode = true;
        config.autoDetect = false;
        config.timeSynchronize = false;
        config.archivingInterval = 0;
        config.downloadingInterval = 3600;
        QVERIFY(config.save());
        QProcess station;
        station.setProgram(QStringLiteral(KESTRA_CLI));
        station.setArguments(
            { QStringLiteral("--home"), home, QStringLiteral("--port"), QString::fromStdString(sim.slavePath()),
                QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("0") });
        station.start();
        QVERIFY(station.waitForStarted());
        QString output;
        const QRegularExpression serving(QStringLiteral("serving on port (\\d+)"));
        const QRegularExpression read(QStringLiteral("events read"));
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() && !read.match(output).hasMatch() && station.state() == QProcess::Running) {
            station.waitForReadyRead(100);
            output += QString::fromLocal8Bit(station.readAllStandardOutput());
        }
        QVERIFY2(read.match(output).hasMatch(), qPrintable(output + station.readAllStandardError()));
        const quint16 port = static_cast<quint16>(serving.match(output).captured(1).toUInt());
        QVERIFY(port != 0);
        QCOMPARE(storedEvents(store), qint64(120));
        const QString id = QStringLiteral("KESTRA #3001");

        RemoteClient client(QStringLiteral("127.0.0.1"), port);
        CPagerList before;
        QVERIFY(client.loadInstrumentList(before));
        QVERIFY(before.find(id));
        const size_t days = before.find(id)->days().size();
        QVERIFY(days > 0);

        // Request 0 after the restart: the full list from the store, not an empty one.
        QVERIFY(restartServer());
        CPagerList after;
        QVERIFY(client.loadInstrumentList(after));
        QVERIFY2(after.find(id), "the station's list is empty after the server restarted");
        QCOMPARE(after.find(id)->days().size(), days);

        // Request 8 and request 10, each first on its connection after another restart.
        QVERIFY(restartServer());
        std::vector<ChistoryRec> events;
        bool busy = false;
        QVERIFY(client.eventsSince(0, events, &busy));
        QCOMPARE(events.size(), size_t(120));
        QVERIFY(restartServer());
        ChistoryRec commented = events.front();
        commented.hComment = QStringLiteral("after the restart");
        QVERIFY(client.updateComment(commented));

        // A download after the restart is stored.
        QVERIFY(restartServer());
        sim.setHistory(history(120, 60));
        QVERIFY(client.readHistory());
        QTRY_COMPARE_WITH_TIMEOUT(storedEvents(store), qint64(180), 30000);
        {
            QSqlDatabase db = pgstores::open(QStringLiteral("comment"), store);
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM History WHERE hComment = 'after the restart'")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 1);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("comment"));

        station.terminate();
        QVERIFY(station.waitForFinished(30000));
        output += QString::fromLocal8Bit(station.readAllStandardOutput());
        QCOMPARE(station.exitCode(), 0);
        QVERIFY2(!output.contains(QStringLiteral("not stored")), qPrintable(output));
        QVERIFY(QDir(home + QStringLiteral("/Spool")).entryList(QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(PgRestartTest)
#include "tst_pgrestart.moc"
