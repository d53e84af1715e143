// Start-up: the version text, the language, and one running copy of the program.
#include "ui/startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

namespace {

// A program folder for the program: no port search, no server.
bool writeIni(const QString& folder)
{
    QFile ini(folder + QStringLiteral("/KESTRA.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    ini.write("[general]\nlanguage=0\nis local mode=1\n[local]\nCOM port=/nonexistent/port\n"
              "COM port autodetect=0\nIs Server=0\n");
    return true;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime;

    QProcess* launch(const QString& home, const QStringList& extra = {}, const char* program = KESTRA_PROGRAM)
    {
        auto* p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p->setProcessEnvironment(env);
        p->start(QString::fromUtf8(program),
            QStringList { QStringLiteral("--home"), home, QStringLiteral("--unattended"), QStringLiteral("200") }
                + extra);
        return p;
    }
    QString lockPath() const
    {
        return m_runtime.path() + u'/' + QString::fromLatin1(Startup::InstanceLock::Name) + QStringLiteral(".lock");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void fourPartVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        QTest::newRow("three parts") << "1.0.2"
                                     << "1.0.2.0";
        QTest::newRow("four parts") << "1.0.2.0"
                                    << "1.0.2.0";
        QTest::newRow("one part") << "7"
                                  << "7.0.0.0";
        QTest::newRow("five parts") << "1.2.3.4.5"
                                    << "1.2.3.4";
        QTest::newRow("empty") << ""
                               << "0.0.0.0";
        QTest::newRow("not a number") << "x.1"
                                      << "0.1.0.0";
    }

    void fourPartVersion()
    {
        QFETCH(QString, version);
        QFETCH(QString, expected);
        QCOMPARE(Startup::fourPartVersion(version), expected);
    }

    // Language 1 takes the Russian translation when there is one; otherwise English stays.
    void language()
    {
        QTemporaryDir folder;
        QTranslator translator;
        const char* text = "Software is already running.";
        QVERIFY(!Startup::loadTranslation(*QCoreApplication::instance(), 1, translator, folder.path()));
        QCOMPARE(QCoreApplication::translate("Startup", text), QString::fromLatin1(text));
        QVERIFY(QFile::copy(QStringLiteral(TEST_QM), folder.filePath(QStringLiteral("kestra_ru.qm"))));
        QVERIFY(!Startup::loadTranslation(*QCoreApplication::instance(), 0, translator, folder.path()));
        QCOMPARE(QCoreApplication::translate("Startup", text), QString::fromLatin1(text));
        QVERIFY(Startup::loadTranslation(*QCoreApplication::instance(), 1, translator, folder.path()));
        QCOMPARE(QCoreApplication::translate("Startup", text), QStringLiteral("Программа уже запущена."));
        QCoreApplication::removeTranslator(&translator);
    }

    // A second copy waits about two seconds, says so and ends; the first runs on. A copy that
    // died leaves a lock the next start takes over.
    // The command line: the version, both option forms, and a usage error as one line with 2.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("version") << QStringList { QStringLiteral("--version") } << 0
                                 << QStringLiteral("KESTRA %1\n").arg(Startup::version()) << QString();
        QTest::newRow("unknown") << QStringList { QStringLiteral("--fast") } << 2 << QString()
                                 << QStringLiteral(
                                        "KESTRA: Unknown option 'fast'. (KESTRA --help shows the options)\n");
        QTest::newRow("no value") << QStringList { QStringLiteral("--home") } << 2 << QString()
                                  << QStringLiteral("KESTRA: Missing value after '--home'. (KESTRA --help shows the "
                                                    "options)\n");
        QTest::newRow("both forms") << QStringList { QStringLiteral("--home=/nonexistent/x"),
            QStringLiteral("--version") }
                                    << 0 << QStringLiteral("KESTRA %1\n").arg(Startup::version()) << QString();
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KESTRA_PROGRAM), args);
        QVERIFY(p.waitForFinished(30000));
        QTEST(p.exitCode(), "code");
        QTEST(QString::fromLocal8Bit(p.readAllStandardOutput()), "out");
        QString err = QString::fromLocal8Bit(p.readAllStandardError());
        err.remove(QRegularExpression(QStringLiteral("QStandardPaths:[^\n]*\n")));
        QTEST(err, "err");
    }

    void oneRunningCopy()
    {
        QTemporaryDir home;
        QVERIFY(writeIni(home.path()));
        QProcess* first = launch(home.path());
        QVERIFY(first->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockPath()), 30000);

        QElapsedTimer clock;
        clock.start();
        // The first copy's log is its own: a second copy does not empty it.
        QFile log(home.filePath(QStringLiteral("ProgLogFile.log")));
        QTRY_VERIFY_WITH_TIMEOUT(log.size() > 0, 30000); // the first copy has started its log
        QVERIFY(log.open(QIODevice::Append));
        log.write("marker of the first copy\n");
        log.close();
        QProcess* second = launch(home.path());
        QVERIFY(second->waitForFinished(60000));
        QVERIFY(clock.elapsed() >= 1500);
        QCOMPARE(second->exitCode(), 1);
        QVERIFY2(second->readAllStandardError().contains("Software is already running."), "no message");
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("marker of the first copy"));
        log.close();

        first->kill();
        QVERIFY(first->waitForFinished(30000));
        QVERIFY(QFile::exists(lockPath())); // left behind by the killed copy
        // The demo's window starts as KESTRA's does, and ends by itself after its picture.
        QProcess* third = launch(
            home.path(), { QStringLiteral("--screenshot"), home.filePath(QStringLiteral("w.png")) }, DEMO_PROGRAM);
        QVERIFY(third->waitForFinished(60000));
        QCOMPARE(third->exitCode(), 0);
        QVERIFY(QFile::exists(home.filePath(QStringLiteral("w.png"))));
    }

    // A copy whose database cannot be opened goes on without one, and still keeps the lock.
    void lockHeldWithoutADatabase()
    {
        QTemporaryDir home;
        QVERIFY(writeIni(home.path()));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("DB/DataBase.db"))); // a folder, not a store
        QProcess* first = launch(home.path());
        QVERIFY(first->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockPath()), 30000);
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += first->readAllStandardError()).contains("Error during connection to database"), 30000);
        QProcess* second = launch(home.path());
        QVERIFY(second->waitForFinished(60000));
        QCOMPARE(second->exitCode(), 1);
        QVERIFY2(second->readAllStandardError().contains("Software is already running."), "no message");
        QCOMPARE(first->state(), QProcess::Running);
        first->kill();
        QVERIFY(first->waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
