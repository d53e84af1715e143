#include "config/inifile.h"
#include "config/programconfig.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

qint64 localMidnight(int y, int m, int d)
{
    return QDateTime(QDate(y, m, d), QTime(0, 0), Qt::LocalTime).toSecsSinceEpoch();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class TestProgramConfig : public QObject {
    Q_OBJECT

private slots:
    void freshInstallationDefaults();
    void saveWritesEveryKeyAndReloads();
    void handWrittenFileInOtherCase();
    void serverList();
    void unusableValuesFallBack_data();
    void unusableValuesFallBack();
    void valueCannotInjectLines();
    void oversizedFileIsRefusedAndKept();
    void integerAndTextReading_data();
    void integerAndTextReading();
    void utf16FileIsRead();
};

void TestProgramConfig::freshInstallationDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KESTRA.ini");
    ProgramConfig c;
    QStringList problems;
    QVERIFY(c.load(path, &problems));
    QVERIFY(problems.isEmpty());
    QCOMPARE(c.language, 0);
    QCOMPARE(c.port, QStringLiteral("COM1"));
    QCOMPARE(c.autoDetect, true);
    QCOMPARE(c.downloadingInterval, 60);
    QCOMPARE(c.localMode, true);
    QCOMPARE(c.timeSynchronize, true);
    QCOMPARE(c.operateAsServer, true);
    QCOMPARE(c.serverPort, 3133);
    QCOMPARE(c.databasePath, QStringLiteral("DB/DataBase.db"));
    QCOMPARE(c.archivingInterval, 0);
    QCOMPARE(c.lastArchivingTime, localMidnight(1990, 2, 1));
    QVERIFY(c.passwordDigest.isEmpty());
    QVERIFY(c.servers.isEmpty());
    QVERIFY(c.remoteServer.isEmpty());
    QVERIFY(!QFile::exists(path)); // created by the first save, not by reading
}

void TestProgramConfig::saveWritesEveryKeyAndReloads()
{
    QTemporaryDir dir;
    ProgramConfig c;
    c.iniPath = dir.filePath("sub/KESTRA.ini"); // the folder is created too
    c.language = 1;
    c.port = QStringLiteral("/dev/ttyUSB3");
    c.autoDetect = false;
    c.downloadingInterval = 900;
    c.localMode = false;
    c.timeSynchronize = false;
    c.operateAsServer = false;
    c.remoteServer = QStringLiteral("lab-pc:4000");
    c.serverPort = 4001;
    c.databasePath = QStringLiteral("DB/Other.db");
    c.archivingInterval = 6;
    // Half past midnight local time is still the previous day in UTC: the local date is stored.
    c.lastArchivingTime = localMidnight(2008, 3, 15) + 30 * 60;
    c.passwordDigest = QStringLiteral("70350f6027bce3713f6b76473084309b");
    QVERIFY(c.save());

    const QByteArray text = readAll(c.iniPath);
    for (const char* line :
        { "language=1", "time Synchronize=0", "is local mode=0", "DB path=DB/Other.db", "Last Archiving time=20080315",
            "Archiving timeout=6", "Initiate command line=70350f6027bce3713f6b76473084309b", "COM port=/dev/ttyUSB3",
            "COM port autodetect=0", "is Server=0", "server port=4001", "on-line timeout=900",
            "remote Server=lab-pc:4000", "size of list=0", "[general]", "[local]", "[remote]" })
        QVERIFY2(text.contains(QByteArray(line) + '\n'), line);

    ProgramConfig r;
    QVERIFY(r.load(c.iniPath));
    QCOMPARE(r.language, 1);
    QCOMPARE(r.port, c.port);
    QCOMPARE(r.autoDetect, false);
    QCOMPARE(r.downloadingInterval, 900);
    QCOMPARE(r.localMode, false);
    QCOMPARE(r.timeSynchronize, false);
    QCOMPARE(r.operateAsServer, false);
    QCOMPARE(r.remoteServer, c.remoteServer);
    QCOMPARE(r.serverPort, 4001);
    QCOMPARE(r.databasePath, c.databasePath);
    QCOMPARE(r.archivingInterval, 6);
    QCOMPARE(r.lastArchivingTime, localMidnight(2008, 3, 15));
    QCOMPARE(r.passwordDigest, c.passwordDigest);

    // A second save rewrites the keys in place instead of adding new ones.
    QVERIFY(r.save());
    QCOMPARE(readAll(c.iniPath), text);

    // The file holds the password digest: its owner alone reads it, also after a save over a
    // file that others could read.
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    QCOMPARE(QFile::permissions(c.iniPath), ownerOnly);
    QVERIFY(QFile::setPermissions(c.iniPath, ownerOnly | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(r.save());
    QCOMPARE(QFile::permissions(c.iniPath), ownerOnly);
}

void TestProgramConfig::handWrittenFileInOtherCase()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KESTRA.ini");
    writeFile(path,
        "; written by hand\r\n"
        "[GENERAL]\r\n"
        "LANGUAGE = 1\r\n"
        "TIME SYNCHRONIZE=0\r\n"
        "db PATH=DB\\Old\\DataBase.mdb\r\n"
        "last archiving TIME=20080315\r\n"
        "\r\n"
        "[Local]\r\n"
        "com PORT=\"COM4\"\r\n"
        "IS SERVER=0\r\n"
        "Server Port=5000\r\n"
        "[REMOTE]\r\n"
        "REMOTE SERVER=host:1\r\n"
        "Size Of List=2\r\n"
        "REMOTE0=a:1\r\n"
        "Remote1=b:2\r\n"
        "[extra]\r\n"
        "kept=yes\r\n");
    ProgramConfig c;
    QVERIFY(c.load(path));
    QCOMPARE(c.language, 1);
    QCOMPARE(c.timeSynchronize, false);
    QCOMPARE(c.databasePath, QStringLiteral("DB/Old/DataBase.mdb"));
    QCOMPARE(c.lastArchivingTime, localMidnight(2008, 3, 15));
    QCOMPARE(c.port, QStringLiteral("COM4"));
    QCOMPARE(c.operateAsServer, false);
    QCOMPARE(c.serverPort, 5000);
    QCOMPARE(c.remoteServer, QStringLiteral("host:1"));
    QCOMPARE(c.servers, QStringList({ "a:1", "b:2" }));

    // Saving keeps the comment, the foreign section and one entry per key.
    QVERIFY(c.save());
    const QString text = QString::fromUtf8(readAll(path));
    QVERIFY(text.startsWith("; written by hand\n[GENERAL]\n"));
    QVERIFY(text.contains("[extra]\nkept=yes\n"));
    QCOMPARE(text.count("language", Qt::CaseInsensitive), 1);
    QCOMPARE(text.count("server port", Qt::CaseInsensitive), 1);
    QCOMPARE(text.count("[remote]", Qt::CaseInsensitive), 1);
    QVERIFY(text.contains("time Synchronize=0\n"));
}

void TestProgramConfig::serverList()
{
    QTemporaryDir dir;
    ProgramConfig c;
    c.iniPath = dir.filePath("KESTRA.ini");
    c.servers = QStringList({ "alpha:3133", "beta:1", "gamma:65535" });
    QVERIFY(c.save());
    const QByteArray text = readAll(c.iniPath);
    QVERIFY(text.contains("size of list=3\nremote0=alpha:3133\nremote1=beta:1\nremote2=gamma:65535\n"));

    ProgramConfig r;
    QVERIFY(r.load(c.iniPath));
    QCOMPARE(r.servers, c.servers);

    // A shorter list leaves the old entries in the file, but the count bounds the reading.
    r.servers = QStringList({ "delta:7" });
    QVERIFY(r.save());
    QVERIFY(readAll(c.iniPath).contains("remote2=gamma:65535"));
    QVERIFY(r.load(c.iniPath));
    QCOMPARE(r.servers, QStringList({ "delta:7" }));

    // Entries missing from the file are read as empty ones, in place.
    IniFile ini(c.iniPath);
    QVERIFY(ini.load());
    QVERIFY(ini.writeInt("remote", "size of list", 5));
    QVERIFY(ini.save());
    QVERIFY(r.load(c.iniPath));
    QCOMPARE(r.servers, QStringList({ "delta:7", "beta:1", "gamma:65535", "", "" }));
}

void TestProgramConfig::unusableValuesFallBack_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("lastArchiving");
    QTest::addColumn<int>("serverPort");
    QTest::addColumn<int>("servers");
    QTest::addColumn<int>("problems");

    const qint64 fallback = localMidnight(1990, 2, 1);
    const auto date = [](const char* v) { return QByteArray("[general]\nlast archiving time=") + v + '\n'; };
    QTest::newRow("year before 1900") << date("18991231") << fallback << 3133 << 0 << 1;
    QTest::newRow("month 13") << date("20081301") << fallback << 3133 << 0 << 1;
    QTest::newRow("month 0") << date("20080015") << fallback << 3133 << 0 << 1;
    QTest::newRow("day 0") << date("20080300") << fallback << 3133 << 0 << 1;
    QTest::newRow("day past month end") << date("20080230") << fallback << 3133 << 0 << 1;
    QTest::newRow("not a number") << date("yesterday") << fallback << 3133 << 0 << 1;
    QTest::newRow("negative") << date("-20080315") << fallback << 3133 << 0 << 1;
    QTest::newRow("1 January 1900") << date("19000101") << localMidnight(1900, 1, 1) << 3133 << 0 << 0;
    QTest::newRow("leap day") << date("20080229") << localMidnight(2008, 2, 29) << 3133 << 0 << 0;
    QTest::newRow("server port 0") << QByteArray("[local]\nserver port=0\n") << fallback << 3133 << 0 << 1;
    QTest::newRow("server port 70000") << QByteArray("[local]\nserver port=70000\n") << fallback << 3133 << 0 << 1;
    QTest::newRow("list size negative") << QByteArray("[remote]\nsize of list=-2\n") << fallback << 3133 << 0 << 1;
    QTest::newRow("list size huge") << QByteArray("[remote]\nsize of list=2000000000\n") << fallback << 3133 << 0 << 1;
    QTest::newRow("several at once") << QByteArray("[general]\nlast archiving time=1\n[local]\nserver port=-1\n")
                                     << fallback << 3133 << 0 << 2;
}

void TestProgramConfig::unusableValuesFallBack()
{
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    const QString path = dir.filePath("KESTRA.ini");
    writeFile(path, file);
    ProgramConfig c;
    QStringList problems;
    QVERIFY(c.load(path, &problems));
    QTEST(c.lastArchivingTime, "lastArchiving");
    QTEST(c.serverPort, "serverPort");
    QTEST(int(c.servers.size()), "servers");
    QTEST(int(problems.size()), "problems");
}

void TestProgramConfig::valueCannotInjectLines()
{
    QTemporaryDir dir;
    ProgramConfig c;
    c.iniPath = dir.filePath("KESTRA.ini");
    c.remoteServer = QStringLiteral("evil:1\n[general]\nlanguage=7\r\nInitiate command line=");
    c.passwordDigest = QStringLiteral("19fab0dd18aeb2d4f39f50e77787c18d");
    QVERIFY(c.save());
    ProgramConfig r;
    QVERIFY(r.load(c.iniPath));
    QCOMPARE(r.language, 0);
    QCOMPARE(r.passwordDigest, c.passwordDigest);
    QCOMPARE(r.remoteServer, QStringLiteral("evil:1 [general] language=7  Initiate command line="));
}

void TestProgramConfig::oversizedFileIsRefusedAndKept()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KESTRA.ini");
    const QByteArray big = "[general]\nlanguage=1\n" + QByteArray(IniFile::MaxFileSize, 'x');
    writeFile(path, big);
    ProgramConfig c;
    QStringList problems;
    QVERIFY(!c.load(path, &problems));
    QCOMPARE(problems.size(), 1);
    QCOMPARE(c.language, 0);
    QString error;
    QVERIFY(!c.save(&error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(path), big);
}

void TestProgramConfig::integerAndTextReading_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("plain") << QByteArray("42") << 42 << "42";
    QTest::newRow("trailing text") << QByteArray("  90,5 sec ") << 90 << "90,5 sec";
    QTest::newRow("no digits") << QByteArray("abc") << 0 << "abc";
    QTest::newRow("empty") << QByteArray("") << -99 << "";
    QTest::newRow("negative") << QByteArray("-7") << -7 << "-7";
    QTest::newRow("too large") << QByteArray("99999999999999999999") << std::numeric_limits<int>::max()
                               << "99999999999999999999";
    QTest::newRow("too small") << QByteArray("-99999999999") << std::numeric_limits<int>::min() << "-99999999999";
    QTest::newRow("quoted") << QByteArray("'a b'") << 0 << "a b";
    QTest::newRow("long text") << QByteArray(300, 'y') << 0 << QString(259, 'y');
    QTest::newRow("equals sign in value") << QByteArray("a=b") << 0 << "a=b";
}

void TestProgramConfig::integerAndTextReading()
{
    QFETCH(QByteArray, value);
    QTemporaryDir dir;
    const QString path = dir.filePath("t.ini");
    writeFile(path, "[s]\nk=" + value + "\n");
    IniFile ini(path);
    QVERIFY(ini.load());
    QTEST(ini.readInt("S", "K", -99), "number");
    QTEST(ini.readString("s", "k", "default"), "text");
    QCOMPARE(ini.readInt("s", "absent", -5), -5);
    QCOMPARE(ini.readString("other", "k", "d"), QStringLiteral("d"));
}

void TestProgramConfig::utf16FileIsRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KESTRA.ini");
    const QString text = QStringLiteral("[local]\r\nCOM port=Порт\r\n");
    QByteArray bytes("\xFF\xFE");
    for (QChar ch : text) {
        bytes.append(char(ch.unicode() & 0xff));
        bytes.append(char(ch.unicode() >> 8));
    }
    writeFile(path, bytes);
    ProgramConfig c;
    QVERIFY(c.load(path));
    QCOMPARE(c.port, QStringLiteral("Порт"));
}

QTEST_GUILESS_MAIN(TestProgramConfig)
#include "tst_programconfig.moc"
