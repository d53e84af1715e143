// kestra-cli with the simulated instrument: download, and watch until its time is up.
#include "config/password.h"
#include "kestrasim/simulator.h"
#include "remote/remoteclient.h"

#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
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

    // The station's password is set from the standard input into a file only its owner reads;
    // serve listens on the one address it is given, and says when it has no password.
    void passwordAndListenAddress()
    {
        QTemporaryDir home;
        Simulator sim;
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        const QStringList common { QStringLiteral("--home"), home.path(), QStringLiteral("--port"),
            QString::fromStdString(sim.slavePath()) };

        QProcess serve;
        serve.start(QStringLiteral(KESTRA_CLI),
            common
                + QStringList { QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0") });
        QString said;
        quint16 port = 0;
        for (int i = 0; i < 300 && port == 0 && serve.state() != QProcess::NotRunning; ++i) {
            serve.waitForReadyRead(100);
            said += QString::fromLocal8Bit(serve.readAllStandardOutput());
            const QRegularExpressionMatch m
                = QRegularExpression(QStringLiteral("serving on 127\\.0\\.0\\.1 port (\\d+)")).match(said);
            port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        }
        QVERIFY2(port != 0, qPrintable(said));
        QString name;
        QVERIFY(RemoteClient(QStringLiteral("127.0.0.1"), port).instrumentName(name));
        for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
            if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol)
                QVERIFY2(!RemoteClient(a.toString(), port).instrumentName(name), qPrintable(a.toString()));
        }
        serve.terminate();
        QVERIFY(serve.waitForFinished(30000));
        QVERIFY2(QString::fromLocal8Bit(serve.readAllStandardError()).contains(QStringLiteral("no password")),
            "serve did not say that the station has no password");

        QProcess password;
        password.start(QStringLiteral(KESTRA_CLI), common + QStringList { QStringLiteral("password") });
        password.write("s3cret\n");
        password.closeWriteChannel();
        QVERIFY(password.waitForFinished(30000));
        QCOMPARE(password.exitCode(), 0);
        const QString ini = home.filePath(QStringLiteral("KESTRA.ini"));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(
            file.readAll().contains("Initiate command line=" + Password::digest(QStringLiteral("s3cret")).toLatin1()));
        QCOMPARE(QFile::permissions(ini), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

        // An empty line changes nothing.
        password.start(QStringLiteral(KESTRA_CLI), common + QStringList { QStringLiteral("password") });
        password.closeWriteChannel();
        QVERIFY(password.waitForFinished(30000));
        QCOMPARE(password.exitCode(), 1);
        QVERIFY(file.seek(0));
        QVERIFY(file.readAll().contains(Password::digest(QStringLiteral("s3cret")).toLatin1()));
    }
};

QTEST_GUILESS_MAIN(CliInstrumentTest)
#include "tst_cliinstrument.moc"
