#include "history/localtime.h"
#include "history/pagerlist.h"
#include "history/viewflags.h"

#include <QTest>

#include <stdexcept>

namespace {

qint64 local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h, mi, s);
}

ChistoryRec rec(const QString& pager, qint64 t, qint32 type = 3, qint32 alarm = 0, double value = 10)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = type;
    r.hAlarm = alarm;
    r.hValue = value;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

} // namespace

class TestModel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Days and texts below are those of this zone, with its daylight-saving dates.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void valueText_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("precision");
        QTest::addColumn<bool>("roentgen");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no value") << 3 << -1.0 << 7 << true << "";
        QTest::newRow("zero R") << 3 << 0.0 << -1 << true << "0 µR/h";
        QTest::newRow("zero Sv") << 3 << 0.0 << -1 << false << "0.00 µSv/h";
        QTest::newRow("999.9 R") << 3 << 999.9 << -1 << true << "999 µR/h";
        QTest::newRow("1000 R") << 3 << 1000.0 << -1 << true << "1.00 mR/h";
        QTest::newRow("1e6 R") << 3 << 1000000.0 << -1 << true << "1.00 R/h";
        QTest::newRow("Sv truncates first") << 3 << 12345.67 << -1 << false << "123.45 µSv/h";
        QTest::newRow("1e5 Sv") << 3 << 100000.0 << -1 << false << "1.00 mSv/h";
        QTest::newRow("1e8 Sv") << 3 << 100000000.0 << -1 << false << "1.00 Sv/h";
        QTest::newRow("beta") << 5 << 3.14159 << -1 << true << "3.14 1/(min*cm²)";
        QTest::newRow("cps limit") << 7 << 9999.99 << -1 << true << "9999.99 cps";
        QTest::newRow("cps exponent") << 7 << 12345.6 << -1 << true << "1.2e+04 cps";
        QTest::newRow("precision 7") << 3 << 5.0 << 7 << true << "5± 7% µR/h";
        QTest::newRow("precision 15") << 4 << 2.5 << 15 << true << "2.50±15% cps";
        QTest::newRow("other type") << 9 << 1.0 << -1 << true << " ";
        QTest::newRow("other type, precision") << 0 << 1.0 << 3 << true << "± 3% ";
    }
    void valueText()
    {
        QFETCH(int, type);
        QFETCH(double, value);
        QFETCH(int, precision);
        QFETCH(bool, roentgen);
        QFETCH(QString, expected);
        ChistoryRec r = rec("A1", 0, type, 0, value);
        r.hPrecision = precision;
        QCOMPARE(r.valueText(roentgen), expected);
    }

    void alarmAndTypeTexts()
    {
        QCOMPARE(ChistoryRec::alarmText(0x003), QString("Threshold \"Danger\" is exceeded!"));
        QCOMPARE(ChistoryRec::alarmText(0x001), QString("Threshold \"Warning\" is exceeded!"));
        QCOMPARE(ChistoryRec::alarmText(0xFFF), QString("Detector error!"));
        QCOMPARE(ChistoryRec::alarmText(0x00C), QString("Accumulated dose threshold is exceeded!"));
        QCOMPARE(ChistoryRec::alarmText(0x804), QString("Dose overload!"));
        QCOMPARE(ChistoryRec::alarmText(0x010), QString());
        QVERIFY(!rec("A", 0, 8, 0x010).isAlarm());
        QVERIFY(rec("A", 0, 5, 0x400).isAlarm());
        QCOMPARE(ChistoryRec::eventTypeText(14), QString("Instrument sound mode is changed"));
        QCOMPARE(ChistoryRec::eventTypeText(0), QString());
        QCOMPARE(ChistoryRec::eventTypeText(15), QString());
    }

    void dateTimeAndCommentTexts()
    {
        ChistoryRec r = rec("A1", local(2008, 12, 25, 7, 5, 9));
        QCOMPARE(r.dateText(), QString("2008-12-25"));
        QCOMPARE(r.timeText(), QString("07:05:09"));
        r.hDateTime = std::numeric_limits<qint64>::max();
        QCOMPARE(r.dateText(), QString());
        r.hComment = "a\r\nb\nc";
        QCOMPARE(r.commentText(), QString("a b c"));
        QCOMPARE(ChistoryRec::makeKey("A1", 0x100000005LL), QString("A1|5"));
        QCOMPARE(ChistoryRec::makeKey("A1", 0xFFFFFFFFLL), QString("A1|-1"));
        // Place markers in the identifier are text like any other.
        QCOMPARE(ChistoryRec::makeKey("%1 and %2", 7), QString("%1 and %2|7"));
    }

    void equality()
    {
        const ChistoryRec a = rec("A1", 1000, 3, 1, 12.5);
        ChistoryRec b = a;
        b.hComment = "x";
        b.hID = "other";
        b.hValue2 = 99;
        b.hPrecision = 4;
        b.hVariation = 5;
        QVERIFY(a == b);
        for (auto change : { +[](ChistoryRec& r) { r.hDateTime++; }, +[](ChistoryRec& r) { r.hType++; },
                 +[](ChistoryRec& r) { r.hAlarm++; }, +[](ChistoryRec& r) { r.hValue += 1e-9; },
                 +[](ChistoryRec& r) { r.hPagerID = "a1"; } }) {
            ChistoryRec c = a;
            change(c);
            QVERIFY(!(a == c));
        }
    }

    void listBookkeepingAndStableSort()
    {
        CHistoryList list;
        const qint64 base = local(2009, 1, 2, 10, 0, 0);
        ChistoryRec& first = list.addRecord(rec("A", base + 1, 3, 0, 1));
        list.addRecord(rec("A", base + 5, 3, 0, 2));
        list.addRecord(rec("A", base + 3, 3, 0x010, 3));
        QCOMPARE(list.latestTime, base + 5);
        QVERIFY(!list.hasAlarms);
        // References stay valid while records are appended.
        for (int i = 0; i < 1000; ++i)
            list.addRecord(rec("A", base - 100, 3, 0, 100 + i));
        QCOMPARE(first.hValue, 1.0);
        QCOMPARE(list.latestTime, base + 5);
        list.addRecord(rec("A", base - 200, 3, 0x001, 7));
        QVERIFY(list.hasAlarms);

        list.sort();
        QCOMPARE(list.at(0).hDateTime, base + 5);
        QCOMPARE(list.at(1).hDateTime, base + 3);
        QCOMPARE(list.at(2).hDateTime, base + 1);
        // Same-second records keep their insertion order.
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(list.at(3 + i).hValue, 100.0 + i);

        QVERIFY(list.findEqual(rec("A", base + 3, 3, 0x010, 3)));
        QVERIFY(!list.findEqual(rec("A", base + 3, 3, 0, 3)));

        CHistoryList target;
        QCOMPARE(list.copyNewer(target, base + 1), 2);
        QCOMPARE(target.latestTime, base + 5);
        QCOMPARE(target.at(0).hDateTime, base + 5);

        // A copy is a list of its own, an empty one included; a move keeps the records where
        // they are.
        CHistoryList copy = target;
        copy.at(0).hComment = "copy";
        copy.addRecord(rec("A", base + 9));
        QCOMPARE(target.size(), 2);
        QVERIFY(target.at(0).hComment.isEmpty());
        CHistoryList empty;
        copy = empty;
        QVERIFY(copy.isEmpty() && copy.records().empty() && !copy.findEqual(rec("A", base + 5)));
        copy.addRecord(rec("A", base + 9));
        QVERIFY(empty.isEmpty());
        const ChistoryRec* kept = &list.at(0);
        CHistoryList moved = std::move(list);
        QCOMPARE(&moved.at(0), kept);

        moved.clear();
        QVERIFY(moved.isEmpty());
        QVERIFY(moved.hasAlarms);
        QCOMPARE(moved.latestTime, base + 5);
    }

    void daysAcrossMidnightAndDaylightSaving()
    {
        CPager p("A1");
        p.addEvent(rec("A1", local(2009, 3, 28, 23, 59, 59)));
        p.addEvent(rec("A1", local(2009, 3, 29, 0, 0, 0)));
        // 29 March 2009 has 23 hours here; the last second and the next midnight are apart.
        p.addEvent(rec("A1", local(2009, 3, 29, 23, 59, 59)));
        p.addEvent(rec("A1", local(2009, 3, 30, 0, 0, 0)));
        p.addEvent(rec("A1", local(2009, 3, 30, 0, 0, 0)));
        QCOMPARE(p.days().size(), size_t(3));
        auto it = p.days().begin();
        QCOMPARE(it->first, local(2009, 3, 28));
        QCOMPARE((++it)->first, local(2009, 3, 29));
        QCOMPARE((++it)->first, local(2009, 3, 30));
        QCOMPARE(local(2009, 3, 30) - local(2009, 3, 29), qint64(23 * 3600));
        QCOMPARE(p.dayEventCount(local(2009, 3, 30, 12)), 2);
        QCOMPARE(p.dayEventCount(local(2009, 3, 31)), -1);
        QCOMPARE(p.days().rbegin()->second.latestTime, local(2009, 3, 30));

        // The autumn change: the repeated hour belongs to its day.
        CPager q("B");
        const qint64 autumn = local(2009, 10, 25, 2, 30, 0);
        q.addEvent(rec("B", autumn));
        q.addEvent(rec("B", autumn + 3600));
        QCOMPARE(q.days().size(), size_t(1));
        QCOMPARE(q.days().begin()->first, local(2009, 10, 25));
        QCOMPARE(local(2009, 10, 26) - local(2009, 10, 25), qint64(25 * 3600));

        QVERIFY(q.isDuplicate(rec("B", autumn)));
        QVERIFY(!q.isDuplicate(rec("B", autumn + 1)));
        QVERIFY(q.findEvent(rec("B", autumn)));
        QVERIFY(!q.isDayLoaded(autumn));
        q.markDayLoaded(autumn);
        QVERIFY(q.isDayLoaded(autumn));
        q.markDayLoaded(local(2010, 1, 1));
        QCOMPARE(q.days().size(), size_t(1));
        q.setDayAlarm(local(2010, 1, 1, 5), true);
        QVERIFY(q.dayList(local(2010, 1, 1))->hasAlarms);
        QVERIFY(!q.isDayLoaded(local(2010, 1, 1)));

        CHistoryList newer;
        QCOMPARE(p.copyNewer(newer, local(2009, 3, 29, 0, 0, 0)), 3);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, p.addEvent(rec("A1", std::numeric_limits<qint64>::max())));
    }

    void dayTexts()
    {
        CPager p("A");
        p.ensureDay(local(2009, 1, 2, 12));
        p.ensureDay(local(2009, 2, 1, 12));
        p.ensureDay(local(2008, 1, 2, 12));
        QStringList texts { "stale" };
        p.dayTexts(texts);
        QCOMPARE(texts, QStringList({ "01-02-2009", "02-01-2008", "02-01-2009" }));
    }

    void parseDayText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("day first") << "25-12-2008" << local(2008, 12, 25);
        QTest::newRow("year first") << "2008-12-25" << local(2008, 12, 25);
        QTest::newRow("dots and time") << "25.12.2008 13:14:15" << local(2008, 12, 25);
        QTest::newRow("runs of separators") << "2008--12  25" << local(2008, 12, 25);
        QTest::newRow("nine characters") << "1-1-2009 " << qint64(0);
        QTest::newRow("short") << "1-1-2009" << qint64(0);
        QTest::newRow("no year") << "12-12-1912" << qint64(0);
        QTest::newRow("summer day") << "2009-07-01" << local(2009, 7, 1);
    }
    void parseDayText()
    {
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        QCOMPARE(CPager::parseDayText(text), expected);
    }
    void parseDayTextOutOfRange()
    {
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, CPager::parseDayText("2008-13-01"));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, CPager::parseDayText("32-01-2008"));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, CPager::parseDayText("2008-01-00"));
    }

    void pagerList()
    {
        CPagerList list;
        list.setTableName("B2", "Bench");
        CPager& a = list.findOrCreate("abc");
        CPager& upper = list.findOrCreate("ABC");
        QVERIFY(&a != &upper);
        QCOMPARE(&list.findOrCreate("abc"), &a);
        QCOMPARE(list.count(), 2);
        // References survive many more instruments.
        for (int i = 0; i < 500; ++i)
            list.findOrCreate(QString::number(i));
        QCOMPARE(a.identifier(), QString("abc"));
        CPager& b = list.findOrCreate("B2");
        QCOMPARE(b.name(), QString("Bench"));
        QCOMPARE(b.index(), list.count() - 1);
        QCOMPARE(list.instrumentAt(b.index()), &b);
        QVERIFY(!list.instrumentAt(list.count()));
        QVERIFY(!list.instrumentAt(-1));
        QCOMPARE(list.tableName("B2"), QString("Bench"));
        QCOMPARE(list.tableName("C3"), QString("C3"));
        QCOMPARE(upper.displayName(), QString("ABC"));

        CPager copy = b;
        QCOMPARE(copy.index(), -1);
        QCOMPARE(copy.name(), QString("Bench"));
        list.clearInstruments();
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.tableName("B2"), QString("Bench"));
    }

    void automationDates()
    {
        QCOMPARE(LocalTime::automationDay(1899, 12, 30), 0.0);
        QCOMPARE(LocalTime::automationDay(2008, 12, 25), 39807.0);
        const auto parts = LocalTime::fromAutomationDay(39807);
        QCOMPARE(parts.year, 2008);
        QCOMPARE(parts.month, 12);
        QCOMPARE(parts.day, 25);
        // Half a second rounds up; a fraction just below a whole day goes to the next day.
        QCOMPARE(*LocalTime::fromAutomation(39807 + 10.5 / 86400), local(2008, 12, 25, 0, 0, 11));
        QCOMPARE(*LocalTime::fromAutomation(39807 + 10.49 / 86400), local(2008, 12, 25, 0, 0, 10));
        QCOMPARE(*LocalTime::fromAutomation(39807 + 86399.7 / 86400), local(2008, 12, 26));
        const auto back = LocalTime::toAutomation(local(2008, 12, 25, 12, 0, 0));
        QCOMPARE(back->first, 39807.0);
        QCOMPARE(back->second, 0.5);
        QVERIFY(!LocalTime::fromAutomation(std::nan("")));
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
