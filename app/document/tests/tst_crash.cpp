// A process killed between the instrument's clear and the commit loses nothing: the next
// start stores what the download spooled, before it touches the instrument.
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/historyspool.h"
#include "docrecorders.h"
#include "document/kestradoc.h"
#include "history/historydb.h"

#include "kestrasim/simulator.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra::sim;

class CrashTest : public QObject {
    Q_OBJECT

private slots:
    void killedBetweenClearAndCommit()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        Options options;
        options.liveHistory = false;
        options.historyRecords = 300;
        options.historyDays = 5;
        Simulator sim(options);
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        const QString port = QString::fromStdString(sim.slavePath());

        QProcess child;
        child.start(QStringLiteral(DOWNLOAD_CHILD), { home.path(), port });
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 9); // died right after the clear
        QVERIFY(sim.history().empty()); // the instrument forgot its events

        // The next start, here through the command line, stores the spool first.
        QProcess cli;
        cli.start(QStringLiteral(KESTRA_CLI),
            { QStringLiteral("--home"), home.path(), QStringLiteral("--port"), home.filePath(QStringLiteral("absent")),
                QStringLiteral("download") });
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 4); // no instrument on that port, but the spool was stored

        AppContext context { ProgramFolder(home.path()) };
        QVERIFY(HistorySpool(context.device().spoolFolder()).pending().isEmpty());
        HistoryDb* db = context.store().open(context.folder().filePath(context.config().databasePath));
        QVERIFY(db);
        CPagerList list;
        QVERIFY(db->loadDayEvents(list, QString(), QString(), 0));
        QCOMPARE(list.count(), 1);
        int events = 0;
        for (const auto& [day, l] : list.instrumentAt(0)->days())
            events += l.size();
        QVERIFY(events > 250); // every downloaded record that has a time (a few may coincide)
    }
};

QTEST_GUILESS_MAIN(CrashTest)
#include "tst_crash.moc"
