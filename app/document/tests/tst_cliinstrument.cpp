// kestra-cli with the simulated instrument: download, and watch until its time is up.
#include "kestrasim/simulator.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra::sim;

class CliInstrumentTest : public QObject {
    Q_OBJECT

private slots:
    void downloadThenWatch()
    {
        QTemporaryDir home;
        Options options;
        options.liveHistory = false;
        options.historyRecords = 20;
        options.historyDays = 2;
        Simulator sim(options);
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        const QString port = QString::fromStdString(sim.slavePath());
        const auto run = [&](const QStringList& args, QString* output) {
            QProcess p;
            p.setStandardInputFile(QProcess::nullDevice());
            p.start(QStringLiteral(KESTRA_CLI),
                QStringList { QStringLiteral("--home"), home.path(), QStringLiteral("--port"), port } + args);
            if (!p.waitForFinished(60000))
                return -1;
            *output = QString::fromLocal8Bit(p.readAllStandardOutput());
            return p.exitCode();
        };

        QString out;
        QCOMPARE(run({ QStringLiteral("download") }, &out), 0);
        QVERIFY2(
            out.contains(QStringLiteral("KESTRA #123456: 20 events read, 20 new in the database")), qPrintable(out));
        QVERIFY(sim.history().empty());

        // watch reads at once and again on the instrument's alarm; it stops when its time is up.
        sim.setDoseRate(5e-3);
        sim.advanceClock(2); // the instrument logs its alarm
        QVERIFY(sim.alarmWord() != 0);
        QCOMPARE(run({ QStringLiteral("watch"), QStringLiteral("--for"), QStringLiteral("4") }, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("alarm: reading history")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("events read")), qPrintable(out));
        QVERIFY(out.trimmed().endsWith(QStringLiteral("stopped")));

        QCOMPARE(run({ QStringLiteral("download"), QStringLiteral("extra") }, &out), 2);
    }
};

QTEST_GUILESS_MAIN(CliInstrumentTest)
#include "tst_cliinstrument.moc"
