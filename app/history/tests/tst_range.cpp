// The range summary against a store built here: every bucket's lowest, highest and mean value,
// its count and its alarms, checked against a plain pass over the same events.
#include "history/historydb.h"
#include "history/localtime.h"

#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <map>

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
    r.hAlarm = alarm;
    r.hValue = value;
    r.hPrecision = -1;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

struct Expected {
    double min = 0, max = 0, sum = 0;
    qint64 count = 0;
};

// The summary as a person would work it out from the events.
RangeSummary plainSummary(const std::vector<ChistoryRec>& events, const RangeRequest& request)
{
    std::array<std::map<qint64, Expected>, DoseQuantityCount> buckets;
    std::map<qint64, qint64> alarms;
    RangeSummary s;
    s.request = request;
    for (const ChistoryRec& r : events) {
        if (r.hPagerID != request.pagerId || r.hDateTime < request.from || r.hDateTime >= request.to)
            continue;
        ++s.events;
        const qint64 bucket = (r.hDateTime - request.from) / request.bucketSeconds;
        if (r.isAlarm())
            ++alarms[bucket];
        const auto q = quantityOfType(r.hType);
        if (!q || r.hValue < 0)
            continue;
        Expected& e = buckets[size_t(*q)][bucket];
        e.min = e.count == 0 ? r.hValue : std::min(e.min, r.hValue);
        e.max = e.count == 0 ? r.hValue : std::max(e.max, r.hValue);
        e.sum += r.hValue;
        ++e.count;
    }
    for (size_t q = 0; q < buckets.size(); ++q) {
        for (const auto& [bucket, e] : buckets[q])
            s.series[q].push_back({ bucket, e.min, e.max, e.sum / double(e.count), e.count });
    }
    s.alarms.assign(alarms.begin(), alarms.end());
    return s;
}

void compareSummaries(const RangeSummary& got, const RangeSummary& want)
{
    QCOMPARE(got.events, want.events);
    QCOMPARE(got.alarms, want.alarms);
    for (size_t q = 0; q < got.series.size(); ++q) {
        QCOMPARE(got.series[q].size(), want.series[q].size());
        for (size_t i = 0; i < got.series[q].size(); ++i) {
            const RangeBucket& g = got.series[q][i];
            const RangeBucket& w = want.series[q][i];
            QCOMPARE(g.index, w.index);
            QCOMPARE(g.count, w.count);
            QCOMPARE(g.min, w.min);
            QCOMPARE(g.max, w.max);
            QVERIFY2(std::abs(g.mean - w.mean) <= 1e-9 * std::max(1.0, std::abs(w.mean)),
                qPrintable(QStringLiteral("bucket %1: %2 vs %3").arg(g.index).arg(g.mean).arg(w.mean)));
        }
    }
}

} // namespace

class RangeTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    HistoryStore m_store;
    std::vector<ChistoryRec> m_events;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_store.open(m_dir.filePath(QStringLiteral("range.db")), HistoryDb::OpenMode::Create));
        // Two instruments from 20 October to 5 November 2026 (the clocks go back on 25
        // October): gamma every 7 minutes, beta and count rates now and then, events without
        // a value, switch-ons, alarms of every kind, a search mark that is no alarm, and two
        // silent days (29 and 30 October) that leave their buckets empty.
        QRandomGenerator random(18);
        const qint64 start = local(2026, 10, 20);
        const qint64 end = local(2026, 11, 5);
        const qint64 silentFrom = local(2026, 10, 29);
        const qint64 silentTo = local(2026, 10, 31);
        for (qint64 t = start; t < end; t += 420) {
            if (t >= silentFrom && t < silentTo)
                continue;
            const quint32 dice = random.bounded(100);
            const double value = random.bounded(5000) / 4.0;
            qint32 type = 3;
            if (dice < 8)
                type = 5;
            else if (dice < 12)
                type = dice % 2 == 0 ? 4 : 7;
            else if (dice < 14)
                type = 9; // no value of its own
            qint32 alarm = 0;
            if (dice >= 95)
                alarm = dice == 99 ? ChistoryRec::SearchAlarm : ChistoryRec::GammaWarning | ChistoryRec::GammaDanger;
            m_events.push_back(rec(QStringLiteral("A1"), t, type, dice == 50 ? -1 : value, alarm));
            if (dice % 5 == 0)
                m_events.push_back(rec(QStringLiteral("B2"), t + 1, 3, value * 3));
        }
        // The repeated hour of the change: both 02:30s, a second apart in the hour's two runs.
        const qint64 firstRun = local(2026, 10, 25, 1, 30) + 3600;
        m_events.push_back(rec(QStringLiteral("A1"), firstRun + 1, 3, 7777, ChistoryRec::DoseOverload));
        m_events.push_back(rec(QStringLiteral("A1"), firstRun + 3601, 3, 1));
        int added = 0;
        QVERIFY(m_store.current()->insertEvents(m_events, &added));
        QCOMPARE(added, int(m_events.size()));
    }

    void cleanupTestCase() { m_store.close(); }

    // Buckets of an hour to a week, spans that cut buckets, spans with empty buckets and one
    // over the change of the clocks: the store's answer is the plain pass's.
    void bucketsMatchAPlainPass_data()
    {
        QTest::addColumn<QString>("pager");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<qint64>("width");
        QTest::newRow("hours of the changing day")
            << "A1" << local(2026, 10, 25) << local(2026, 10, 26) << qint64(3600);
        QTest::newRow("days across the change and the silence")
            << "A1" << local(2026, 10, 20) << local(2026, 11, 5) << qint64(86400);
        QTest::newRow("odd start and width")
            << "A1" << local(2026, 10, 22, 13, 17) << local(2026, 11, 1, 5) << qint64(7 * 3600 + 11);
        QTest::newRow("a week bucket wider than the span")
            << "A1" << local(2026, 10, 24) << local(2026, 10, 27) << qint64(7 * 86400);
        QTest::newRow("the other instrument") << "B2" << local(2026, 10, 20) << local(2026, 11, 5) << qint64(7200);
        QTest::newRow("minutes of the silence's edge")
            << "A1" << local(2026, 10, 28, 23) << local(2026, 10, 29, 1) << qint64(60);
        QTest::newRow("an unknown instrument") << "C3" << local(2026, 10, 20) << local(2026, 11, 5) << qint64(86400);
    }
    void bucketsMatchAPlainPass()
    {
        QFETCH(QString, pager);
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(qint64, width);
        const RangeRequest request { pager, from, to, width };
        const RangeSummary got = m_store.current()->rangeSummary(request);
        compareSummaries(got, plainSummary(m_events, request));
        if (QTest::currentDataTag() == QByteArrayLiteral("days across the change and the silence")) {
            // Buckets follow the clock: the day of the change holds 24 hours from its midnight,
            // both runs of 02:30 among them, and every later bucket starts at 23:00. So the
            // tenth bucket takes the last hour before the silence and only the eleventh is empty.
            const auto& gamma = got.of(DoseQuantity::DoseRate);
            auto has = [&](qint64 index) {
                return std::any_of(gamma.begin(), gamma.end(), [&](const RangeBucket& b) { return b.index == index; });
            };
            QVERIFY(has(9));
            QVERIFY(!has(10));
            QVERIFY(has(11));
            const auto changing
                = std::find_if(gamma.begin(), gamma.end(), [](const RangeBucket& b) { return b.index == 5; });
            QVERIFY(changing != gamma.end());
            QCOMPARE(changing->max, 7777.0);
            QVERIFY(changing->min <= 1.0);
        }
    }

    // Several events in a bucket's first second, and events with an empty column in their key
    // (a damaged or foreign store may hold them; the unique index lets such twins both stay):
    // buckets mixing them with whole events, buckets of nothing else, one whose first whole
    // event comes late. Every event counts once, in its own bucket.
    void crowdedSecondsAndEmptyKeysCountOnce()
    {
        const QString pager = QStringLiteral("D4");
        const qint64 from = local(2026, 11, 10);
        const qint64 hour = 3600;
        std::vector<ChistoryRec> whole {
            rec(pager, from, 3, 5),
            rec(pager, from, 3, 9, ChistoryRec::GammaWarning),
            rec(pager, from, 5, 2),
            rec(pager, from, 7, 40),
            rec(pager, from, 9, -1),
            rec(pager, from + 600, 3, 6),
            rec(pager, from + hour, 5, 3),
            rec(pager, from + hour + 400, 3, 8),
            rec(pager, from + 4 * hour + 10, 4, 12),
            rec(pager, from + 5 * hour + 900, 3, 1.5),
        };
        QVERIFY(m_store.current()->insertEvents(whole));

        // Type, alarm and value of rows written with empty columns (a null QVariant), and the
        // event each is for the plain pass: no value, no type or no alarm.
        struct Partial {
            qint64 t;
            QVariant type, alarm, value;
            ChistoryRec model;
        };
        const QVariant none;
        const std::vector<Partial> partial {
            { from + hour, 3, ChistoryRec::GammaDanger, none,
                rec(pager, from + hour, 3, -1, ChistoryRec::GammaDanger) },
            { from + hour + 500, none, 0, 4.0, rec(pager, from + hour + 500, 0, 4) },
            { from + 2 * hour, 3, ChistoryRec::DoseOverload, none,
                rec(pager, from + 2 * hour, 3, -1, ChistoryRec::DoseOverload) },
            { from + 2 * hour + 100, 3, none, 11.0, rec(pager, from + 2 * hour + 100, 3, 11) },
            { from + 4 * hour + 10, none, 0, 30.0, rec(pager, from + 4 * hour + 10, 0, 30) },
            { from + 5 * hour, 3, 0, none, rec(pager, from + 5 * hour, 3, -1) },
            { from + 5 * hour, 3, 0, none, rec(pager, from + 5 * hour, 3, -1) },
        };
        QSqlQuery q(m_store.current()->connection());
        QVERIFY(q.prepare(QStringLiteral(
            "INSERT INTO History (hID, hPagerID, hDateTime, hType, hAlarm, hValue) VALUES (?, ?, ?, ?, ?, ?)")));
        std::vector<ChistoryRec> events = whole;
        for (const Partial& p : partial) {
            q.addBindValue(ChistoryRec::makeKey(pager, p.t));
            q.addBindValue(pager);
            q.addBindValue(p.t);
            q.addBindValue(p.type);
            q.addBindValue(p.alarm);
            q.addBindValue(p.value);
            QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
            events.push_back(p.model);
        }

        for (const qint64 width : { hour, 2 * hour, 6 * hour }) {
            const RangeRequest request { pager, from, from + 6 * hour, width };
            const RangeSummary got = m_store.current()->rangeSummary(request);
            compareSummaries(got, plainSummary(events, request));
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("bucket width %1").arg(width)));
        }
        const RangeSummary hours = m_store.current()->rangeSummary({ pager, from, from + 6 * hour, hour });
        QCOMPARE(hours.events, qint64(whole.size() + partial.size()));
        // The first hour's gamma holds both events of its first second and the later one.
        QCOMPARE(hours.of(DoseQuantity::DoseRate).front().count, qint64(3));
        QCOMPARE(hours.of(DoseQuantity::DoseRate).front().max, 9.0);
    }

    // Requests the store must not run: an empty span, no width, more buckets than a chart can
    // use. None reaches the store.
    void badRequestsAreRefused()
    {
        HistoryDb& db = *m_store.current();
        const qint64 t = local(2026, 10, 21);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, db.rangeSummary({ QStringLiteral("A1"), t, t, 3600 }));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, db.rangeSummary({ QStringLiteral("A1"), t + 10, t, 3600 }));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, db.rangeSummary({ QStringLiteral("A1"), t, t + 86400, 0 }));
        QVERIFY_THROWS_EXCEPTION(
            std::invalid_argument, db.rangeSummary({ QStringLiteral("A1"), 0, qint64(1) << 40, 1 }));
        const qint64 farOff = qint64(1) << 53;
        QVERIFY_THROWS_EXCEPTION(
            std::invalid_argument, db.rangeSummary({ QStringLiteral("A1"), farOff, farOff + 3600, 3600 }));
        // The widths the view picks: a week in half hours, a month in two hours, a year in days.
        QCOMPARE(HistoryRange::bucketWidthFor(7 * 86400), qint64(1800));
        QCOMPARE(HistoryRange::bucketWidthFor(31 * 86400), qint64(7200));
        QCOMPARE(HistoryRange::bucketWidthFor(366 * 86400), qint64(86400));
        QCOMPARE(HistoryRange::bucketWidthFor(20 * 366 * 86400), qint64(7 * 86400 * 3));
    }
};

QTEST_GUILESS_MAIN(RangeTest)
#include "tst_range.moc"
