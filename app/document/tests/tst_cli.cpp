// kestra-cli on a prepared program folder: every database command, its output and its exit
// code, in the order a script would run them.
#include "historydb.h"
#include "historyspool.h"
#include "localtime.h"
#include "programfolder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

ChistoryRec makeEvent(const QString& id, qint64 t, qint32 alarm = 0)
{
    ChistoryRec r;
    r.hPagerID = id;
    r.hDateTime = t;
    r.hType = 3;
    r.hAlarm = alarm;
    r.hValue = 150;
    r.hPrecision = 12;
    r.hID = ChistoryRec::makeKey(id, t);
    return r;
}

struct Run {
    int code = -1;
    QStringList lines;
    QString errors;
};

Run cli(const QString& home, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QStringLiteral(KESTRA_CLI), QStringList { QStringLiteral("--home"), home } + args);
    Run r;
    if (!p.waitForFinished(30000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    r.errors = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(ProgramFolder::setPath(m_home.path()));
        HistoryDb* db
            = HistoryDb::open(ProgramFolder::filePath(QStringLiteral("DB/DataBase.db")), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        const qint64 d24 = *LocalTime::fromLocal(2008, 12, 24);
        const qint64 d25 = *LocalTime::fromLocal(2008, 12, 25);
        QVERIFY(db->insertEvents(std::vector { makeEvent(QStringLiteral("A1"), d24 + 3600),
            makeEvent(QStringLiteral("A1"), d25 + 3600), makeEvent(QStringLiteral("A1"), d25 + 7200, 0x002),
            makeEvent(QStringLiteral("A1"), d25 + 5400), makeEvent(QStringLiteral("B2"), d25 + 60) }));
        HistoryDb::close();
    }

    void commands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("lines"); // each a prefix of the line at that place
        const auto l = [](std::initializer_list<const char*> items) {
            QStringList out;
            for (const char* s : items)
                out << QString::fromUtf8(s);
            return out;
        };
        QTest::newRow("instruments") << l({ "instruments" }) << 0 << l({ "A1\tA1\t2 days", "B2\tB2\t1 days" });
        QTest::newRow("days, alarms marked") << l({ "days", "A1" }) << 0 << l({ "2008-12-24", "2008-12-25 *" });
        QTest::newRow("events newest first")
            << l({ "events", "A1", "2008-12-25" }) << 0
            << l({ "2008-12-25\t02:00:00", "2008-12-25\t01:30:00", "2008-12-25\t01:00:00" });
        QTest::newRow("events, day-first date, alarms only")
            << l({ "events", "A1", "25-12-2008", "--alarms" }) << 0 << l({ "2008-12-25\t02:00:00" });
        QTest::newRow("events of an empty day") << l({ "events", "B2", "2008-12-24" }) << 0 << QStringList();
        QTest::newRow("unknown instrument") << l({ "events", "Z9", "2008-12-25" }) << 1 << QStringList();
        QTest::newRow("impossible date") << l({ "events", "A1", "2008-13-01" }) << 2 << QStringList();
        QTest::newRow("not a date") << l({ "days", "A1", "extra" }) << 2 << QStringList();
        QTest::newRow("unknown command") << l({ "frobnicate" }) << 2 << QStringList();
        QTest::newRow("unknown option") << l({ "instruments", "--fast" }) << 2 << QStringList();
        QTest::newRow("missing argument") << l({ "days" }) << 2 << QStringList();
        QTest::newRow("rename") << l({ "rename", "A1", "Alpha" }) << 0 << QStringList();
        QTest::newRow("renamed") << l({ "instruments" }) << 0 << l({ "A1\tAlpha\t2 days", "B2\tB2\t1 days" });
        QTest::newRow("empty name") << l({ "rename", "A1", " " }) << 2 << QStringList();
        QTest::newRow("import of what is stored") << l({ "import", "@export" }) << 0 << l({ "imported 0 new events" });
    }
    void commands()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, lines);
        if (args.first() == u"import") {
            const Run exported = cli(m_home.path(),
                { QStringLiteral("export"), QStringLiteral("A1"), QStringLiteral("2008-12-25"), exportFile() });
            QCOMPARE(exported.code, 0);
            args[1] = exportFile();
        }
        const Run r = cli(m_home.path(), args);
        QCOMPARE(r.code, code);
        if (code != 0)
            QVERIFY2(!r.errors.isEmpty(), "a failure says why");
        QCOMPARE(r.lines.size(), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(r.lines[i].startsWith(lines[i]), qPrintable(r.lines[i]));
    }

    void jsonEvents()
    {
        const Run r = cli(m_home.path(),
            { QStringLiteral("events"), QStringLiteral("A1"), QStringLiteral("2008-12-25"), QStringLiteral("--json") });
        QCOMPARE(r.code, 0);
        const QJsonArray array = QJsonDocument::fromJson(r.lines.join(u'\n').toUtf8()).array();
        QCOMPARE(array.size(), 3);
        QCOMPARE(array[0].toObject()[QStringLiteral("alarmBits")].toInt(), 0x002);
        QVERIFY(!array[0].toObject()[QStringLiteral("alarm")].toString().isEmpty());
        QVERIFY(array[0].toObject()[QStringLiteral("time")].toInteger()
            > array[1].toObject()[QStringLiteral("time")].toInteger());
    }

    // An export carried to another station's folder stores there; a file that is not an
    // export imports nothing.
    void exportImportAndText()
    {
        QTemporaryDir other;
        {
            QVERIFY(ProgramFolder::setPath(other.path()));
            QVERIFY(HistoryDb::open(
                ProgramFolder::filePath(QStringLiteral("DB/DataBase.db")), HistoryDb::OpenMode::Create));
            HistoryDb::close();
        }
        QCOMPARE(cli(m_home.path(),
                     { QStringLiteral("export"), QStringLiteral("A1"), QStringLiteral("2008-12-25"), exportFile() })
                     .code,
            0);
        const Run imported = cli(other.path(), { QStringLiteral("import"), exportFile() });
        QCOMPARE(imported.code, 0);
        QCOMPARE(imported.lines, QStringList { QStringLiteral("imported 3 new events") });
        QCOMPARE(cli(other.path(), { QStringLiteral("days"), QStringLiteral("A1") }).lines,
            QStringList { QStringLiteral("2008-12-25 *") });

        const QString garbage = m_home.filePath(QStringLiteral("garbage.ksexp"));
        QFile g(garbage);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write("\x05\x00\x00", 3);
        g.close();
        QCOMPARE(cli(other.path(), { QStringLiteral("import"), garbage }).code, 1);

        const QString text = m_home.filePath(QStringLiteral("day.xls"));
        QCOMPARE(cli(m_home.path(),
                     { QStringLiteral("save-text"), QStringLiteral("A1"), QStringLiteral("2008-12-25"), text })
                     .code,
            0);
        QFile t(text);
        QVERIFY(t.open(QIODevice::ReadOnly));
        QCOMPARE(t.readAll().count('\n'), 3);

        QTemporaryDir empty;
        QCOMPARE(cli(empty.path(), { QStringLiteral("instruments") }).code, 3);
    }

    // Archiving copies everything and keeps only yesterday and today in the main database.
    void archive()
    {
        const QString file = m_home.filePath(QStringLiteral("copy.db"));
        const Run r = cli(m_home.path(), { QStringLiteral("archive"), file });
        QCOMPARE(r.code, 0);
        QVERIFY(QFile::exists(file));
        QCOMPARE(cli(m_home.path(), { QStringLiteral("instruments") }).lines, QStringList());
        const Run defaulted = cli(m_home.path(), { QStringLiteral("archive") });
        QCOMPARE(defaulted.code, 0);
        QVERIFY(defaulted.lines.last().contains(QStringLiteral("Archives/DBArchive[")));
    }

    // A download that a stopped run cleared from the instrument but never stored is in the
    // store before any command reads it.
    void waitingDownloadsAreStoredFirst()
    {
        const qint64 t = *LocalTime::fromLocal(2009, 1, 5) + 600;
        QString path;
        QVERIFY(HistorySpool(m_home.filePath(QStringLiteral("Spool")))
                    .write(QStringLiteral("C3"), { makeEvent(QStringLiteral("C3"), t) }, &path));
        const Run r = cli(m_home.path(), { QStringLiteral("events"), QStringLiteral("C3"), QStringLiteral("2009-01-05") });
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines.size(), 1);
        QVERIFY(!QFile::exists(path));
    }

private:
    QString exportFile() const { return m_home.filePath(QStringLiteral("A1[2008-12-25].ksexp")); }

    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
