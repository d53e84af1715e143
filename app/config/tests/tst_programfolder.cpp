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
    const ProgramFolder folder = ProgramFolder::fromArguments({ "KESTRA", "--home", home });
    QVERIFY(!QDir(home).exists()); // chosen, not made yet
    QVERIFY(folder.make());
    QVERIFY(QDir(home).exists());
    QCOMPARE(folder.path(), home + '/');
    QCOMPARE(folder.iniPath(), home + "/KESTRA.ini");
    QCOMPARE(folder.logPath(), home + "/ProgLogFile.log");
    QCOMPARE(folder.filePath("DB\\DataBase.db"), home + "/DB/DataBase.db");
    QCOMPARE(folder.filePath("/abs/x.db"), QStringLiteral("/abs/x.db"));
    QCOMPARE(ProgramFolder(home + "/./sub/..").path(), home + '/');

    // The configuration is read from the folder's INI file.
    QFile ini(folder.iniPath());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[general]\nlanguage=1\n");
    ini.close();
    ProgramConfig config;
    QStringList problems;
    QVERIFY(config.load(folder.iniPath(), &problems));
    QCOMPARE(config.language, 1);
    QCOMPARE(config.iniPath, folder.iniPath());
    QVERIFY(problems.isEmpty());
}

void TestProgramFolder::uncreatableFolder()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QVERIFY(!ProgramFolder(dir.filePath("file/below")).make(&error));
    QVERIFY(error.contains("below"));
}

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
