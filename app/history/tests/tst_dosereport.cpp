// The figures of the dose report from a store: highest and mean per day, alarms by kind, time
// above the thresholds with gaps and day ends, cleared-dose events. TZ is Europe/Berlin.
#include "history/dosereport.h"
#include "history/historydb.h"
#include "history/localtime.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

qint64 local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h, mi, s);
}

ChistoryRec rec(const QString& pager, qint64 t, qint32 type, double value, qint32 alarm = 0)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = type;
    r.hValue = value;
    r.hAlarm = alarm;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

} // namespace

class TestDoseReport : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    HistoryStore m_store;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY(m_dir.isValid());
    }
    void cleanup() { m_store.close(); }

    void figuresFromStore()
    {
        // 25 October 2026 has 25 hours; the report spans it and the next day.
        const std::vector<ChistoryRec> events {
            rec("A1", local(2026, 10, 24, 23), 3, 5000), // before the span
            rec("A1", local(2026, 10, 25, 10, 0), 3, 10),
            rec("A1", local(2026, 10, 25, 10, 10), 3, 50, ChistoryRec::GammaWarning),
            rec("A1", local(2026, 10, 25, 10, 20), 3, 150, ChistoryRec::GammaWarning | ChistoryRec::GammaDanger),
            rec("A1", local(2026, 10, 25, 10, 30), 9, -1, ChistoryRec::DetectorError | ChistoryRec::GammaWarning),
            rec("A1", local(2026, 10, 25, 10, 31), 5, 80, ChistoryRec::BetaWarning),
            rec("A1", local(2026, 10, 25, 10, 32), 6, 3, ChistoryRec::SearchAlarm), // no alarm text
            rec("A1", local(2026, 10, 25, 11, 30), 3, 20), // 70 minutes after the last: a gap
            rec("A1", local(2026, 10, 25, 12, 0), 11, -1),
            rec("A1", local(2026, 10, 25, 23, 55), 3, 200), // stands until midnight only
            rec("B2", local(2026, 10, 25, 12, 0), 3, 9000), // another instrument
            rec("A1", local(2026, 10, 26, 0, 5), 3, 40), // the last one: one interval
            rec("A1", local(2026, 10, 27, 0, 0), 3, 7000), // after the span
        };
        HistoryDb* db = m_store.open(m_dir.filePath("report.db"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        QVERIFY(db->insertEvents(events));
        CUserParams params;
        params.derThreshold1 = 30; // 0.30 µSv/h
        params.derThreshold2 = 120;
        params.historyInterval = 600;
        const qint64 from = local(2026, 10, 25);
        const qint64 to = local(2026, 10, 27);

        const DoseReport report = DoseReport::fromStore(*db, "A1", from, to, false, params);
        QVERIFY(report.thresholdsKnown());
        QCOMPARE(report.warningThreshold(), 0.3);
        QCOMPARE(report.dangerThreshold(), 1.2);
        QCOMPARE(report.unit(), QString("µSv/h"));
        QCOMPARE(int(report.days().size()), 2);

        const DoseReport::Day& first = report.days()[0];
        QCOMPARE(first.day, from);
        QCOMPARE(first.measurements, 5);
        QCOMPARE(first.highest, 2.0);
        QCOMPARE(first.mean(), (10 + 50 + 150 + 20 + 200) / 5.0 / 100);
        QCOMPARE(first.aboveWarning, qint64(600 + 600 + 300));
        QCOMPARE(first.aboveDanger, qint64(600 + 300));
        std::array<int, DoseReport::AlarmKinds> alarms {};
        alarms[DoseReport::GammaWarning] = 1;
        alarms[DoseReport::GammaDanger] = 1;
        alarms[DoseReport::DetectorError] = 1;
        alarms[DoseReport::BetaWarning] = 1;
        QCOMPARE(first.alarms, alarms);
        QCOMPARE(first.doseCleared, std::vector<qint64> { local(2026, 10, 25, 12) });

        const DoseReport::Day& second = report.days()[1];
        QCOMPARE(second.day, local(2026, 10, 26));
        QCOMPARE(second.highest, 0.4);
        QCOMPARE(second.aboveWarning, qint64(600));
        QCOMPARE(second.aboveDanger, qint64(0));

        const DoseReport::Day all = report.total();
        QCOMPARE(all.measurements, 6);
        QCOMPARE(all.highest, 2.0);
        QCOMPARE(all.alarmCount(), 4);
        QCOMPARE(all.aboveWarning, qint64(2100));

        // Without the settings there is nothing to be above; roentgens keep the instrument's number.
        const DoseReport plain = DoseReport::fromStore(*db, "A1", from, to, true);
        QVERIFY(!plain.thresholdsKnown());
        QCOMPARE(plain.days()[0].highest, 200.0);
        QCOMPARE(plain.days()[0].aboveWarning, qint64(0));
        QCOMPARE(plain.unit(), QString("µR/h"));

        // A measurement with no later one stands one interval at most, and never past the span.
        DoseReport cut("A1", from, local(2026, 10, 25, 10, 5), false, params);
        cut.add(events[1]);
        cut.add(rec("A1", local(2026, 10, 25, 10, 1), 3, 500));
        cut.finish();
        QCOMPARE(cut.days()[0].aboveDanger, qint64(240));
    }
};

QTEST_GUILESS_MAIN(TestDoseReport)
#include "tst_dosereport.moc"
