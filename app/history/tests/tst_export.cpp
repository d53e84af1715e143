// CSV and JSON Lines exports read back by Python's csv and json modules: fields, quoting of
// comments, local times with their offsets across daylight-saving changes, spans, batches and
// failures. TZ is Europe/Berlin.
#include "history/historydb.h"
#include "history/historyexport.h"
#include "history/historyfiles.h"
#include "history/localtime.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

qint64 local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h, mi, s);
}

ChistoryRec rec(const QString& pager, qint64 t, qint32 type = 3, double value = 15, qint32 alarm = 0,
    const QString& comment = {}, qint32 precision = -1)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = type;
    r.hValue = value;
    r.hAlarm = alarm;
    r.hComment = comment;
    r.hPrecision = precision;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

// Reads an export back with Python's own modules and returns the rows as JSON objects with
// typed fields and "epoch", the moment Python reads from the time text.
const char* const ReadBack = R"(
import csv, datetime, json, sys
kind, path = sys.argv[1], sys.argv[2]
rows = []
if kind == 'csv':
    with open(path, newline='', encoding='utf-8') as f:
        reader = csv.DictReader(f, strict=True)
        header = reader.fieldnames
        for r in reader:
            if None in r or None in r.values():
                raise SystemExit('ragged row %r' % r)
            rows.append(r)
    for r in rows:
        r['type_code'] = int(r['type_code'])
        r['alarm_code'] = int(r['alarm_code'])
        r['value'] = float(r['value']) if r['value'] else None
        r['precision'] = int(r['precision']) if r['precision'] else None
else:
    with open(path, 'rb') as f:
        data = f.read().decode('utf-8')
    if data and not data.endswith('\n'):
        raise SystemExit('last line without its end')
    header = None
    for line in data.split('\n')[:-1]:
        obj = json.loads(line)
        if header is None:
            header = list(obj.keys())
        rows.append(obj)
for r in rows:
    r['epoch'] = int(datetime.datetime.fromisoformat(r['time']).timestamp())
print(json.dumps({'header': header, 'rows': rows}, ensure_ascii=False))
)";

QJsonObject readBack(const QString& kind, const QString& path)
{
    QProcess python;
    python.start(QStringLiteral(PYTHON), { "-c", ReadBack, kind, path });
    if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
        qWarning() << "python:" << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    HistoryStore m_store;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    HistoryDb* store(const QString& name, const std::vector<ChistoryRec>& events)
    {
        HistoryDb* db = m_store.open(path(name), HistoryDb::OpenMode::Create);
        int added = 0;
        if (!db || !db->insertEvents(events, &added) || added != int(events.size()))
            return nullptr;
        return db;
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY(m_dir.isValid());
    }
    void cleanup() { m_store.close(); }

    // Both formats of one day with the hour that comes twice at the end of summer time, read
    // back by Python: the same rows, the exact moments, the comments unchanged.
    void dayReadBackAcrossSummerTimeEnd_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("csv") << "csv";
        QTest::newRow("json lines") << "json";
    }
    void dayReadBackAcrossSummerTimeEnd()
    {
        QFETCH(QString, kind);
        // 2026-10-25: 03:00 summer time becomes 02:00 winter time; 02:30 happens twice.
        const qint64 firstHalfPast = local(2026, 10, 25, 1, 30) + 3600;
        const qint64 secondHalfPast = firstHalfPast + 3600;
        QCOMPARE(LocalTime::format(firstHalfPast, "%H:%M"), QString("02:30"));
        QCOMPARE(LocalTime::format(secondHalfPast, "%H:%M"), QString("02:30"));
        const QString quoted = QString::fromUtf8("He said \"stop, now\",\r\nthen left;\nµ ☢ done");
        const std::vector<ChistoryRec> events {
            rec("A1", local(2026, 10, 24, 23, 59, 59), 3, 99), // the day before
            rec("A1", local(2026, 10, 25, 0, 0, 0), 9, -1),
            rec("A1", firstHalfPast, 3, 1550, ChistoryRec::GammaWarning | ChistoryRec::GammaDanger, quoted, 7),
            rec("A1", secondHalfPast, 7, 12.5, 0, QStringLiteral("  leading blanks, \"\""), 15),
            rec("A1", local(2026, 10, 25, 23, 59, 59), 5, 0.25, ChistoryRec::SearchAlarm, QStringLiteral(" ")),
            rec("A1", local(2026, 10, 26, 0, 0, 0), 3, 99), // the day after
            rec("B2", local(2026, 10, 25, 12), 3, 20), // another instrument
        };
        HistoryDb* db = store("dst-" + kind + ".db", events);
        QVERIFY(db);
        const auto span = HistoryExport::daySpan("2026-10-25", "25-10-2026");
        QVERIFY(span);
        QCOMPARE(span->second - span->first, qint64(25 * 3600));
        const QString file = path("day." + kind);
        qint64 count = 0;
        QString error;
        QVERIFY2(HistoryExport::exportSpan(*db, { "A1", span->first, span->second, false },
                     *HistoryExport::formatNamed(kind), false, file, &count, &error),
            qPrintable(error));
        QCOMPARE(count, qint64(4));

        const QJsonObject back = readBack(kind, file);
        QCOMPARE(back.value("header").toVariant().toStringList(),
            QStringList({ "time", "instrument", "type_code", "type", "value", "unit", "precision", "alarm_code",
                "alarm", "comment" }));
        const QJsonArray rows = back.value("rows").toArray();
        QCOMPARE(rows.size(), 4);
        struct Expected {
            qint64 epoch;
            const char* time;
            int type;
            const char* typeText;
            QJsonValue value;
            const char* unit;
            QJsonValue precision;
            int alarm;
            QString alarmText;
            QString comment;
        };
        const Expected expected[] = {
            { local(2026, 10, 25), "2026-10-25T00:00:00+02:00", 9, "Instrument is switched On", QJsonValue::Null, "",
                QJsonValue::Null, 0, "", "" },
            { firstHalfPast, "2026-10-25T02:30:00+02:00", 3, "Measurement gamma", 15.5, "µSv/h", 7, 3,
                "Threshold \"Danger\" is exceeded!", quoted },
            { secondHalfPast, "2026-10-25T02:30:00+01:00", 7, "Background", 12.5, "cps", 15, 0, "",
                "  leading blanks, \"\"" },
            { local(2026, 10, 25, 23, 59, 59), "2026-10-25T23:59:59+01:00", 5, "Measurement beta", 0.25, "1/(min*cm²)",
                QJsonValue::Null, ChistoryRec::SearchAlarm, "", "" },
        };
        for (int i = 0; i < 4; ++i) {
            const QJsonObject row = rows[i].toObject();
            const Expected& e = expected[i];
            QCOMPARE(row.value("epoch").toInteger(), e.epoch);
            QCOMPARE(row.value("time").toString(), QString::fromUtf8(e.time));
            QCOMPARE(row.value("instrument").toString(), QString("A1"));
            QCOMPARE(row.value("type_code").toInt(), e.type);
            QCOMPARE(row.value("type").toString(), QString::fromUtf8(e.typeText));
            QCOMPARE(row.value("value"), e.value);
            QCOMPARE(row.value("unit").toString(), QString::fromUtf8(e.unit));
            QCOMPARE(row.value("precision"), e.precision);
            QCOMPARE(row.value("alarm_code").toInt(), e.alarm);
            QCOMPARE(row.value("alarm").toString(), e.alarmText);
            QCOMPARE(row.value("comment").toString(), e.comment);
        }
        if (kind == "csv") {
            const QByteArray bytes = fileBytes(file);
            QVERIFY(
                bytes.startsWith("time,instrument,type_code,type,value,unit,precision,alarm_code,alarm,comment\r\n"));
            QVERIFY(bytes.endsWith(",\r\n")); // the last row has an empty comment
        }
    }

    // The hour that never happens at the start of summer time: a span of dates is 23 hours,
    // the offsets change within the day, and roentgens are exported as µR/h.
    void spanOverSummerTimeStartInRoentgens()
    {
        const qint64 before = local(2026, 3, 29, 1, 59, 59);
        const qint64 after = before + 1;
        QCOMPARE(LocalTime::format(after, "%H:%M:%S"), QString("03:00:00"));
        HistoryDb* db = store("spring.db",
            { rec("A1", local(2026, 3, 28, 12), 3, 1234), rec("A1", before, 3, 12), rec("A1", after, 3, 13),
                rec("A1", local(2026, 3, 30), 3, 14) });
        QVERIFY(db);
        const auto oneDay = HistoryExport::daySpan("2026-03-29", "2026-03-29");
        QVERIFY(oneDay);
        QCOMPARE(oneDay->second - oneDay->first, qint64(23 * 3600));
        const auto twoDays = HistoryExport::daySpan("2026-03-28", "2026-03-29");
        QVERIFY(twoDays);
        const QString file = path("spring.jsonl");
        qint64 count = 0;
        QVERIFY(HistoryExport::exportSpan(*db, { "A1", twoDays->first, twoDays->second, false },
            HistoryExport::Format::JsonLines, true, file, &count));
        QCOMPARE(count, qint64(3));
        const QJsonArray rows = readBack("json", file).value("rows").toArray();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].toObject().value("value").toDouble(), 1234.0);
        QCOMPARE(rows[0].toObject().value("unit").toString(), QString("µR/h"));
        QCOMPARE(rows[1].toObject().value("time").toString(), QString("2026-03-29T01:59:59+01:00"));
        QCOMPARE(rows[2].toObject().value("time").toString(), QString("2026-03-29T03:00:00+02:00"));
        QCOMPARE(rows[2].toObject().value("epoch").toInteger(), after);

        // Dates that are no dates, or a span that ends before it starts.
        QVERIFY(!HistoryExport::daySpan("2026-03-30", "2026-03-29"));
        QVERIFY(!HistoryExport::daySpan("yesterday", "2026-03-29"));
        QVERIFY(!HistoryExport::daySpan("2026-13-01", "2026-12-31"));
        QVERIFY(HistoryExport::daySpan("2026-12-31", "2026-12-31")); // the day after is in the next year
    }

    // More events than one batch, several instruments, the alarm filter: every event once, in
    // identifier and time order, and the sink's stop is honoured.
    void batchesInstrumentsAndFilter()
    {
        std::vector<ChistoryRec> events;
        const qint64 start = local(2026, 5, 1);
        for (int i = 0; i < 9000; ++i)
            events.push_back(rec(i % 3 == 0 ? "C3" : "A1", start + i * 7, 3, i, i % 100 == 0 ? 1 : 0));
        HistoryDb* db = store("many.db", events);
        QVERIFY(db);

        qint64 last = 0;
        QString lastId;
        int seen = 0;
        int batches = 0;
        db->forEachEvent({}, start, start + 9000 * 7, 1000, [&](std::span<const ChistoryRec> batch) {
            ++batches;
            for (const ChistoryRec& r : batch) {
                if (r.hPagerID == lastId && r.hDateTime <= last)
                    return false;
                if (r.hPagerID < lastId)
                    return false;
                lastId = r.hPagerID;
                last = r.hDateTime;
                ++seen;
            }
            return batch.size() <= 1000;
        });
        QCOMPARE(seen, 9000);
        QCOMPARE(batches, 9);
        QCOMPARE(lastId, QString("C3"));

        int stoppedAfter = 0;
        db->forEachEvent("A1", start, start + 9000 * 7, 500, [&](std::span<const ChistoryRec> batch) {
            stoppedAfter += int(batch.size());
            return false;
        });
        QCOMPARE(stoppedAfter, 500);

        qint64 count = 0;
        QVERIFY(HistoryExport::exportSpan(
            *db, { {}, start, start + 9000 * 7, true }, HistoryExport::Format::Csv, false, path("alarms.csv"), &count));
        QCOMPARE(count, qint64(90));
        const QJsonArray rows = readBack("csv", path("alarms.csv")).value("rows").toArray();
        QCOMPARE(rows.size(), 90);
        for (const QJsonValue& row : rows)
            QCOMPARE(row.toObject().value("alarm_code").toInt(), 1);
        // An empty span still gives the header, a file a spreadsheet opens.
        QVERIFY(HistoryExport::exportSpan(
            *db, { "A1", 0, 1, false }, HistoryExport::Format::Csv, false, path("empty.csv"), &count));
        QCOMPARE(count, qint64(0));
        QCOMPARE(fileBytes(path("empty.csv")), HistoryExport::Writer::header(HistoryExport::Format::Csv));
    }

    // Failures leave the old file as it was and say why; numbers that JSON cannot hold are
    // written as no value.
    void failuresAndOddValues()
    {
        HistoryDb* db = store("fail.db", { rec("A1", local(2026, 6, 1, 12)) });
        QVERIFY(db);
        QString error;
        QVERIFY(!HistoryExport::exportSpan(*db, { "A1", 0, local(2027, 1, 1), false }, HistoryExport::Format::Csv,
            false, path("no/such/folder/x.csv"), nullptr, &error));
        QVERIFY2(error.contains("no/such/folder/x.csv"), qPrintable(error));

        QFile old(path("old.csv"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("previous contents");
        old.close();
        QSqlQuery q(db->connection());
        QVERIFY(q.exec("DROP TABLE History"));
        error.clear();
        QVERIFY(!HistoryExport::exportSpan(*db, { "A1", 0, local(2027, 1, 1), false }, HistoryExport::Format::Csv,
            false, path("old.csv"), nullptr, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(fileBytes(path("old.csv")), QByteArray("previous contents"));

        ChistoryRec nan = rec("A1", local(2026, 6, 1, 12), 3, std::numeric_limits<double>::quiet_NaN());
        ChistoryRec inf = rec("A1", local(2026, 6, 1, 12), 4, std::numeric_limits<double>::infinity());
        ChistoryRec control = rec("A1", local(2026, 6, 1, 12), 3, 1, 0, QString("bell\a,tab\t"));
        QVERIFY(HistoryExport::exportRecords(
            std::vector { nan, inf, control }, HistoryExport::Format::JsonLines, false, path("odd.jsonl"), &error));
        const QJsonArray rows = readBack("json", path("odd.jsonl")).value("rows").toArray();
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows[0].toObject().value("value").isNull());
        QVERIFY(rows[1].toObject().value("value").isNull());
        QCOMPARE(rows[2].toObject().value("comment").toString(), QString("bell\a,tab\t"));
        QCOMPARE(rows[2].toObject().value("value").toDouble(), 0.01);
    }

    // A comment (or an identifier) that a spreadsheet would run as a formula is written as text
    // in CSV and in the tab-separated text; numbers and JSON stay as they are.
    void formulasAreWrittenAsText()
    {
        const qint64 t = local(2026, 6, 1, 12);
        const std::vector<ChistoryRec> events { rec("A1", t, 3, 1, 0, QString("=HYPERLINK(\"http://x\",\"y\")")),
            rec("A1", t + 1, 3, 1, 0, QString("+1+1")), rec("A1", t + 2, 3, 1, 0, QString("@SUM(A1)")),
            rec("-A2", t + 3, 3, 1, 0, QString("-12.5")), rec("A1", t + 4, 3, 1, 0, QString("a=b")) };
        QString error;
        QVERIFY(HistoryExport::exportRecords(events, HistoryExport::Format::Csv, false, path("f.csv"), &error));
        const QJsonArray rows = readBack("csv", path("f.csv")).value("rows").toArray();
        QCOMPARE(rows.size(), 5);
        const char* comments[] = { "'=HYPERLINK(\"http://x\",\"y\")", "'+1+1", "'@SUM(A1)", "-12.5", "a=b" };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(rows[i].toObject().value("comment").toString(), QString(comments[i]));
        QCOMPARE(rows[3].toObject().value("instrument").toString(), QString("'-A2"));
        QCOMPARE(rows[0].toObject().value("value").toDouble(), 0.01);

        QVERIFY(HistoryExport::exportRecords(events, HistoryExport::Format::JsonLines, false, path("f.jsonl"), &error));
        QCOMPARE(readBack("json", path("f.jsonl")).value("rows").toArray()[1].toObject().value("comment").toString(),
            QString("+1+1"));

        CHistoryList day;
        for (const ChistoryRec& r : events)
            day.addRecord(r);
        const QStringList lines = QString::fromUtf8(HistoryFiles::textLines(day, 0, false)).split('\n');
        QVERIFY2(lines[0].endsWith("\t'=HYPERLINK(\"http://x\",\"y\")"), qPrintable(lines[0]));
        QVERIFY2(lines[3].endsWith("\t-12.5"), qPrintable(lines[3]));
        QVERIFY2(lines[4].endsWith("\ta=b"), qPrintable(lines[4]));
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
