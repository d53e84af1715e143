#include "config/programconfig.h"
#include "config/programfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestProgramFolder : public QObject {
    Q_OBJECT

private slots:
    void homeOption_data();
    void homeOption();
    void resolutionOrder_data();
    void resolutionOrder();
    void processFolderAndFiles();
    void uncreatableFolder();
};

void TestProgramFolder::homeOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("home");

    QTest::newRow("separate value") << QStringList({ "KESTRA", "--home", "/data/k" }) << "/data/k";
    QTest::newRow("joined value") << QStringList({ "KESTRA", "-x", "--home=/data/j" }) << "/data/j";
    QTest::newRow("value missing") << QStringList({ "KESTRA", "--home" }) << "";
    QTest::newRow("program name is not an option") << QStringList({ "--home=/no" }) << "";
    QTest::newRow("absent") << QStringList({ "KESTRA", "file.ksexp" }) << "";
}

void TestProgramFolder::homeOption()
{
    QFETCH(QStringList, arguments);
    QTEST(ProgramFolder::homeOption(arguments), "home");
}

void TestProgramFolder::resolutionOrder_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<bool>("portable");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("expected"); // "<exe>" stands for the executable's folder

    QTest::newRow("option first") << "/opt/a/"
                                  << "/env/b" << true << "/xdg"
                                  << "/opt/a";
    QTest::newRow("variable second") << ""
                                     << "/env/b/../c" << true << "/xdg"
                                     << "/env/c";
    QTest::newRow("portable install") << ""
                                      << "" << true << "/xdg"
                                      << "<exe>";
    QTest::newRow("XDG data home") << ""
                                   << "" << false << "/xdg"
                                   << "/xdg/kestra";
    QTest::newRow("relative XDG ignored") << ""
                                          << "" << false << "rel"
                                          << "/home/u/.local/share/kestra";
    QTest::newRow("nothing set") << ""
                                 << "" << false << ""
                                 << "/home/u/.local/share/kestra";
    QTest::newRow("relative option") << "here"
                                     << "" << false << "" << QDir::current().absoluteFilePath("here");
}

void TestProgramFolder::resolutionOrder()
{
    QFETCH(QString, option);
    QFETCH(QString, variable);
    QFETCH(bool, portable);
    QFETCH(QString, xdg);
    QFETCH(QString, expected);

    QTemporaryDir exe;
    if (portable) {
        QFile ini(exe.filePath("KESTRA.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
    }
    ProgramFolder::Sources s { option, variable, exe.path(), xdg, QStringLiteral("/home/u") };
    expected.replace("<exe>", QDir::cleanPath(exe.path()));
    QCOMPARE(ProgramFolder::resolve(s), expected);
}

void TestProgramFolder::processFolderAndFiles()
{
    QTemporaryDir dir;
    const QString home = dir.filePath("new/home");
    QVERIFY(ProgramFolder::initialise({ "KESTRA", "--home", home }));
    QVERIFY(QDir(home).exists());
    QCOMPARE(ProgramFolder::path(), home + '/');
    QCOMPARE(ProgramFolder::iniPath(), home + "/KESTRA.ini");
    QCOMPARE(ProgramFolder::logPath(), home + "/ProgLogFile.log");
    QCOMPARE(ProgramFolder::filePath("DB\\DataBase.db"), home + "/DB/DataBase.db");
    QCOMPARE(ProgramFolder::filePath("/abs/x.db"), QStringLiteral("/abs/x.db"));

    // The process-wide configuration is read from the folder's INI file on first use.
    QFile ini(ProgramFolder::iniPath());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[general]\nlanguage=1\n");
    ini.close();
    QCOMPARE(ProgramConfig::instance().language, 1);
    QCOMPARE(ProgramConfig::instance().iniPath, ProgramFolder::iniPath());
    QVERIFY(ProgramConfig::instanceProblems().isEmpty());
    QCOMPARE(&ProgramConfig::instance(), &ProgramConfig::instance());
}

void TestProgramFolder::uncreatableFolder()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString before = ProgramFolder::path();
    QString error;
    QVERIFY(!ProgramFolder::setPath(dir.filePath("file/below"), &error));
    QVERIFY(error.contains("below"));
    QCOMPARE(ProgramFolder::path(), before);
}

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
