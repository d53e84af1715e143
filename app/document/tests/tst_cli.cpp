// kestra-cli on a prepared program folder: every database command, its output and its exit
// code, in the order a script would run them.
#include "config/programfolder.h"
#include "device/historyspool.h"
#include "document/cliargs.h"
#include "history/historydb.h"
#include "history/localtime.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
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

Run runCli(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QStringLiteral(KESTRA_CLI), args);
    Run r;
    if (!p.waitForFinished(30000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    r.errors = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

Run cli(const QString& home, const QStringList& args)
{
    return runCli(QStringList { QStringLiteral("--home"), home } + args);
}

// The word list a completion script gives a variable: local name="a b c".
QStringList completionWords(const QString& script, const QString& variable)
{
    const QString start = variable + QStringLiteral("=\"");
    const qsizetype at = script.indexOf(start);
    if (at < 0)
        return {};
    const qsizetype begin = at + start.size();
    QStringList words = script.mid(begin, script.indexOf(u'"', begin) - begin).split(u' ', Qt::SkipEmptyParts);
    words.sort();
    return words;
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        HistoryStore store;
        HistoryDb* db = store.open(m_home.filePath(QStringLiteral("DB/DataBase.db")), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        const qint64 d24 = *LocalTime::fromLocal(2008, 12, 24);
        const qint64 d25 = *LocalTime::fromLocal(2008, 12, 25);
        QVERIFY(db->insertEvents(std::vector { makeEvent(QStringLiteral("A1"), d24 + 3600),
            makeEvent(QStringLiteral("A1"), d25 + 3600), makeEvent(QStringLiteral("A1"), d25 + 7200, 0x002),
            makeEvent(QStringLiteral("A1"), d25 + 5400), makeEvent(QStringLiteral("B2"), d25 + 60) }));
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

    // Help and version go to the standard output; a bad line is one line on the standard error
    // and exit code 2, whichever form the option took.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output"); // the first line of the output, or the one error line
        const QString home = m_home.path();
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        QTest::newRow("version") << QStringList { s("--version") } << 0 << s("kestra-cli " KESTRA_VERSION);
        QTest::newRow("help") << QStringList { s("instruments"), s("--help") } << 0 << s("usage: kestra-cli");
        QTest::newRow("-h") << QStringList { s("-h") } << 0 << s("usage: kestra-cli");
        QTest::newRow("help command") << QStringList { s("help") } << 0 << s("usage: kestra-cli");
        QTest::newRow("--home=DIR") << QStringList { s("--home=") + home, s("instruments") } << 0 << s("A1\t");
        QTest::newRow("--home DIR after the command")
            << QStringList { s("instruments"), s("--home"), home } << 0 << s("A1\t");
        QTest::newRow("-- ends the options")
            << QStringList { s("--home"), home, s("days"), s("--"), s("--json") } << 1 << QString();

        const QString hint = s(" (kestra-cli --help shows the commands)");
        const auto bad = [&](const char* name, QStringList args, const char* error) {
            QTest::newRow(name) << (QStringList { s("--home"), home } + args) << 2
                                << s("kestra-cli: ") + s(error) + hint;
        };
        bad("unknown option", { s("instruments"), s("--fast") }, "unknown option --fast");
        bad("unknown short option", { s("-x"), s("instruments") }, "unknown option -x");
        bad("missing value", { s("instruments"), s("--remote") }, "--remote needs a value");
        bad("empty value", { s("--port="), s("download") }, "--port needs a port name");
        bad("flag with a value", { s("--json=yes"), s("instruments") }, "--json takes no value");
        const char* listenError
            = "--listen needs [ADDRESS:]PORT (a port number 0-65535, an IP address, [...] around an IPv6 address)";
        bad("port out of range", { s("serve"), s("--listen=65536") }, listenError);
        bad("listen on a name", { s("serve"), s("--listen=lab-pc:3133") }, listenError);
        bad("IPv6 without brackets", { s("serve"), s("--listen=::1:3133") }, listenError);
        bad("address without a port", { s("serve"), s("--listen=127.0.0.1:") }, listenError);
        bad("web server on a name", { s("serve"), s("--http=lab-pc:8080") },
            "--http needs [ADDRESS:]PORT (a port number 0-65535, an IP address, [...] around an IPv6 address)");
        bad("web server without serve", { s("watch"), s("--http=8080") }, "--http belongs to serve");
        bad("--for beyond the timer", { s("watch"), s("--for"), s("2000001") },
            "--for needs a number of seconds (0-2000000)");
        bad("no command", {}, "no command given");
        bad("unknown command", { s("fro\tb") }, "unknown command 'fro\\x09b'");
        bad("too few", { s("events"), s("A1") }, "'events' needs more arguments");
        bad("too many", { s("archive"), s("a"), s("b") }, "'archive' takes at most 1 argument");
        bad("none expected", { s("watch"), s("now") }, "'watch' takes no arguments");
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, output);
        const Run r = runCli(args);
        QCOMPARE(r.code, code);
        if (code == 2) {
            QVERIFY2(r.lines.isEmpty(), qPrintable(r.lines.join(u'\n')));
            QCOMPARE(r.errors, output + u'\n');
        } else if (!output.isEmpty()) {
            QVERIFY(!r.lines.isEmpty());
            QVERIFY2(r.lines.first().startsWith(output), qPrintable(r.lines.first()));
            QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors));
        }
    }

    // The completion beside the program knows every option and command the parser takes, the
    // help names them all, and bash reads the script.
    void completion()
    {
        QFile file(QStringLiteral(KESTRA_CLI_COMPLETION));
        QVERIFY2(file.open(QIODevice::ReadOnly), KESTRA_CLI_COMPLETION);
        const QString script = QString::fromUtf8(file.readAll());
        QStringList options = CliArgs::optionNames();
        QStringList commands = CliArgs::commandNames();
        const QString help = CliArgs::usageText();
        for (const QString& word : options + commands)
            QVERIFY2(help.contains(word), qPrintable(word));
        options.sort();
        commands.sort();
        QCOMPARE(completionWords(script, QStringLiteral("options")), options);
        QCOMPARE(completionWords(script, QStringLiteral("commands")), commands);

        QProcess bash;
        bash.start(QStringLiteral("bash"),
            { QStringLiteral("-c"),
                QStringLiteral("source \"$0\" && COMP_WORDS=(kestra-cli --home /tmp ev) && COMP_CWORD=3 && _kestra_cli "
                               "&& echo \"${COMPREPLY[*]}\" && COMP_WORDS=(kestra-cli events --al) && COMP_CWORD=2 "
                               "&& _kestra_cli && echo \"${COMPREPLY[*]}\""),
                QStringLiteral(KESTRA_CLI_COMPLETION) });
        QVERIFY(bash.waitForFinished(30000));
        QCOMPARE(bash.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(bash.readAllStandardOutput()), QStringLiteral("events\n--alarms\n"));
    }

    // Comments from the store come out as valid JSON whatever they hold.
    void jsonOfAwkwardText()
    {
        QTemporaryDir home;
        const QString comment = QStringLiteral("said \"stop\" \\ then\tpaused\nat 3 \u00b5Sv/h \x01 end");
        {
            HistoryStore store;
            HistoryDb* db = store.open(home.filePath(QStringLiteral("DB/DataBase.db")), HistoryDb::OpenMode::Create);
            QVERIFY(db);
            ChistoryRec r = makeEvent(QStringLiteral("Q\"1"), *LocalTime::fromLocal(2010, 3, 4) + 60);
            r.hComment = comment;
            QVERIFY(db->insertEvents(std::vector { r }));
        }
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(KESTRA_CLI),
            { QStringLiteral("--home"), home.path(), QStringLiteral("events"), QStringLiteral("Q\"1"),
                QStringLiteral("2010-03-04"), QStringLiteral("--json") });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray json = p.readAllStandardOutput();

        // Another program's reader, not the one that wrote it.
        QProcess python;
        python.start(QStringLiteral(PYTHON_PATH),
            { QStringLiteral("-c"),
                QStringLiteral("import json, sys\n"
                               "events = json.load(sys.stdin)\n"
                               "assert len(events) == 1\n"
                               "sys.stdout.buffer.write(events[0]['comment'].encode('utf-8'))") });
        QVERIFY(python.waitForStarted(30000));
        python.write(json);
        python.closeWriteChannel();
        QVERIFY(python.waitForFinished(30000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()), comment);
    }

    // An export carried to another station's folder stores there; a file that is not an
    // export imports nothing.
    void exportImportAndText()
    {
        QTemporaryDir other;
        {
            HistoryStore store;
            QVERIFY(store.open(other.filePath(QStringLiteral("DB/DataBase.db")), HistoryDb::OpenMode::Create));
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

    // export --format: a day, a span, everything, the alarm filter, the standard output, and
    // the words that do not make an export.
    void exportCsvAndJson_data()
    {
        QTest::addColumn<QStringList>("args"); // "@": the output file
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("lines"); // of the output (prefixes), or the standard output for "-"
        const QString csvHead = QStringLiteral("time,instrument,type_code,type,value,unit,precision,alarm_code,alarm,");
        QTest::newRow("csv of a day") << QStringList { "export", "--format", "csv", "A1", "2008-12-25", "@" } << 0
                                      << QStringList { csvHead, "2008-12-25T01:00:00+01:00,A1,3,Measurement gamma,1.5,",
                                             "2008-12-25T01:30:00+01:00,A1,", "2008-12-25T02:00:00+01:00,A1," };
        QTest::newRow("json of a span to the standard output")
            << QStringList { "export", "--format=json", "--from", "24-12-2008", "--to=2008-12-24", "A1", "-" } << 0
            << QStringList { R"({"time":"2008-12-24T01:00:00+01:00","instrument":"A1","type_code":3,)" };
        QTest::newRow("everything, instruments in order")
            << QStringList { "export", "--format", "JSON", "@" } << 0
            << QStringList { R"({"time":"2008-12-24T01:00:00+01:00","instrument":"A1")",
                   R"({"time":"2008-12-25T01:00:00+01:00","instrument":"A1")",
                   R"({"time":"2008-12-25T01:30:00+01:00","instrument":"A1")",
                   R"({"time":"2008-12-25T02:00:00+01:00","instrument":"A1")",
                   R"({"time":"2008-12-25T00:01:00+01:00","instrument":"B2")" };
        QTest::newRow("alarms from a date on") << QStringList { "export", "--format", "json", "--alarms", "--from",
            "2008-12-25", "A1", "@" } << 0 << QStringList { R"({"time":"2008-12-25T02:00:00+01:00")" };
        QTest::newRow("unknown format") << QStringList { "export", "--format", "xml", "A1", "@" } << 2 << QStringList();
        QTest::newRow("export file needs a date") << QStringList { "export", "A1", "@" } << 2 << QStringList();
        QTest::newRow("a date and a span") << QStringList { "export", "--format", "csv", "--from", "2008-12-24", "A1",
            "2008-12-25", "@" } << 2 << QStringList();
        QTest::newRow("span backwards") << QStringList { "export", "--format", "csv", "--from", "2008-12-26", "--to",
            "2008-12-25", "A1", "@" } << 2
                                        << QStringList();
        QTest::newRow("not a date") << QStringList { "export", "--format", "csv", "--to", "soon", "@" } << 2
                                    << QStringList();
        QTest::newRow("format of another command")
            << QStringList { "events", "--format", "csv", "A1", "2008-12-25" } << 2 << QStringList();
        QTest::newRow("unknown instrument")
            << QStringList { "export", "--format", "csv", "Z9", "@" } << 1 << QStringList();
    }
    void exportCsvAndJson()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, lines);
        const QString file = m_home.filePath(QStringLiteral("export-%1.txt").arg(QTest::currentDataTag()));
        args.replaceInStrings(QRegularExpression("^@$"), file);
        const Run r = cli(m_home.path(), args);
        QVERIFY2(r.code == code, qPrintable(QString::number(r.code) + ' ' + r.errors));
        if (code != 0) {
            QVERIFY(!QFile::exists(file));
            QCOMPARE(r.errors.count(u'\n'), 1);
            return;
        }
        QStringList written = r.lines;
        if (args.last() != u"-") {
            const qsizetype events = lines.size() - (lines.first().startsWith(u"time,") ? 1 : 0);
            QCOMPARE(r.lines, QStringList { QStringLiteral("%1 events written to %2").arg(events).arg(file) });
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            written = QString::fromUtf8(f.readAll()).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
        }
        QCOMPARE(written.size(), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(written[i].startsWith(lines[i]), qPrintable(written[i]));
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
        const Run r
            = cli(m_home.path(), { QStringLiteral("events"), QStringLiteral("C3"), QStringLiteral("2009-01-05") });
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
