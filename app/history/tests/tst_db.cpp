#include "historydb.h"
#include "localtime.h"
#include "recorder.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

qint64 local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h, mi, s);
}

ChistoryRec rec(const QString& pager, qint64 t, qint32 alarm = 0, double value = 10, qint32 type = 3)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = type;
    r.hAlarm = alarm;
    r.hValue = value;
    r.hValue2 = 2.25;
    r.hPrecision = 9;
    r.hVariation = -4;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

std::vector<ChistoryRec> dayRecords(const CPagerList& list, const QString& id, qint64 day)
{
    const CPager* p = list.find(id);
    const CHistoryList* d = p ? p->dayList(day) : nullptr;
    return d ? std::vector<ChistoryRec>(d->records().begin(), d->records().end()) : std::vector<ChistoryRec>();
}

} // namespace

class TestDb : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY(m_dir.isValid());
    }
    void cleanup() { HistoryDb::close(); }

    void openRules()
    {
        Recorder recorder;
        QVERIFY(!HistoryDb::open(path("missing/none.db")));
        QVERIFY(!QFile::exists(path("missing")));
        HistoryDb* db = HistoryDb::open(path("sub/dir/DataBase.db"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        QCOMPARE(HistoryDb::open(path("sub/dir/DataBase.db")), db);
        // A missing file leaves the open store alone.
        QVERIFY(!HistoryDb::open(path("other.db")));
        QCOMPARE(HistoryDb::current(), db);
        QVERIFY(recorder.messages.isEmpty());

        QFile junk(path("junk.db"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'j'));
        junk.close();
        QVERIFY(!HistoryDb::open(path("junk.db")));
        QCOMPARE(recorder.messages.size(), 1);
        QVERIFY(recorder.messages[0].startsWith(QStringLiteral("Ошибка базы данных|")));
        QVERIFY(!HistoryDb::current());
        QVERIFY(HistoryDb::open(path("sub/dir/DataBase.db")));
    }

    void eventsRoundTrip()
    {
        Recorder recorder;
        HistoryDb* db = HistoryDb::open(path("round.db"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        const qint64 t = local(2008, 12, 25, 10, 20, 30);
        ChistoryRec quoted = rec("A1", t, 0, 12.5);
        quoted.hComment = "He said \"stop\"; it's fine\nsecond line\r\nthird";
        // Two different events of one second share a key.
        ChistoryRec sameSecond = rec("A1", t, 0x002, 250);
        ChistoryRec hostile = rec("x'); DROP TABLE History;--", t + 5, 0x010, 1);
        const std::vector<ChistoryRec> batch
            = { quoted, sameSecond, rec("A1", t - 3600, 0, 7), rec("A1", t + 86400, 0x001, 8), hostile };
        int added = -1;
        QVERIFY(db->insertEvents(batch, &added));
        QCOMPARE(added, 5);
        // Storing again adds nothing.
        QVERIFY(db->insertEvents(batch, &added));
        QCOMPARE(added, 0);

        CPagerList list;
        QVERIFY(db->loadDayEvents(list, "A1", "2008-12-25", 0));
        auto events = dayRecords(list, "A1", t);
        QCOMPARE(events.size(), size_t(3));
        QCOMPARE(events[2].hDateTime, t - 3600); // newest first
        const auto found = std::find(events.begin(), events.end(), quoted);
        QVERIFY(found != events.end());
        QCOMPARE(found->hComment, quoted.hComment);
        QCOMPARE(found->hValue, 12.5);
        QCOMPARE(found->hValue2, 2.25);
        QCOMPARE(found->hPrecision, 9);
        QCOMPARE(found->hVariation, -4);
        QCOMPARE(found->hID, quoted.hID);
        QCOMPARE(list.find("A1")->days().size(), size_t(1));

        CPagerList alarms;
        QVERIFY(db->loadDayEvents(alarms, "A1", "2008-12-25", 5));
        events = dayRecords(alarms, "A1", t);
        QCOMPARE(events.size(), size_t(1));
        QVERIFY(events[0] == sameSecond);

        // The comment changes on that event only.
        ChistoryRec edited = sameSecond;
        edited.hComment = "checked\r\nby \"me\"";
        QVERIFY(db->updateComment(edited));
        CPagerList again;
        db->loadDayEvents(again, "A1", "2008-12-25", 0);
        for (const ChistoryRec& r : dayRecords(again, "A1", t)) {
            if (r == sameSecond)
                QCOMPARE(r.hComment, QString("checked by \"me\""));
            else if (r == quoted)
                QCOMPARE(r.hComment, quoted.hComment);
        }

        // No identifier: every event of every instrument, each under its own day.
        CPagerList all;
        QVERIFY(db->loadDayEvents(all, QString(), QString(), 0));
        QCOMPARE(all.count(), 2);
        QCOMPARE(all.find("A1")->days().size(), size_t(2));
        QVERIFY(all.find(hostile.hPagerID));
        QSqlQuery count(db->connection());
        QVERIFY(count.exec("SELECT count(*) FROM History") && count.next());
        QCOMPARE(count.value(0).toInt(), 5);

        // A row written without a comment reads as a blank.
        QSqlQuery raw(db->connection());
        QVERIFY(raw.exec(QString("INSERT INTO History (hID, hType, hAlarm, hDate, hTime, hValue, hValue2, hPrecision, "
                                 "hVariation, hPagerID) VALUES ('B|1', ' 3x', '-2', %1, 0.5, 1, 0, -1, 0, 'B')")
                             .arg(LocalTime::automationDay(2008, 12, 24))));
        CPagerList b;
        QVERIFY(db->loadDayEvents(b, "B", "2008-12-24", 0));
        events = dayRecords(b, "B", local(2008, 12, 24));
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(events[0].hComment, QString(" "));
        QCOMPARE(events[0].hType, 3);
        QCOMPARE(events[0].hAlarm, -2);
        QCOMPARE(events[0].hDateTime, local(2008, 12, 24, 12));
        QVERIFY(recorder.messages.isEmpty());
    }

    void daySummaryAndNames()
    {
        HistoryDb* db = HistoryDb::open(path("summary.db"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        const qint64 d1 = local(2009, 1, 2, 9);
        const qint64 d2 = local(2009, 1, 3, 9);
        db->insertEvents(std::vector<ChistoryRec> {
            rec("P1", d1, 0), rec("P1", d1 + 60, 0), rec("P1", d2, 0x010), rec("P2", d2, 0), rec("P0", d1, 0x800) });
        CPager named("P1");
        named.setName("Kitchen");
        QVERIFY(db->saveInstrumentName(named));
        named.setName("Lab");
        QVERIFY(db->saveInstrumentName(named));
        QVERIFY(db->saveInstrumentName(CPager("P2"))); // no name: the identifier is stored

        CPagerList list;
        list.findOrCreate("stale");
        QVERIFY(db->loadDaySummary(list));
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.instrumentAt(0)->identifier(), QString("P0"));
        const CPager* p1 = list.find("P1");
        QCOMPARE(p1->name(), QString("Lab"));
        QCOMPARE(list.find("P0")->name(), QString("P0"));
        QVERIFY(!p1->dayList(d1)->hasAlarms);
        QVERIFY(!p1->dayList(d1)->loaded);
        QCOMPARE(p1->dayEventCount(d1), 0);
        // The store counts any alarm bit, the search-mode bit too.
        QVERIFY(p1->dayList(d2)->hasAlarms);
        QVERIFY(list.find("P0")->dayList(d1)->hasAlarms);
        QCOMPARE(list.tableName("P2"), QString("P2"));
    }

    void deleteOldEventsOnPinnedClock()
    {
        HistoryDb* db = HistoryDb::open(path("old.db"), HistoryDb::OpenMode::Create);
        db->insertEvents(std::vector<ChistoryRec> { rec("A", local(2009, 2, 28, 23, 59, 59)),
            rec("A", local(2009, 3, 1, 0, 0, 0)), rec("A", local(2009, 3, 2, 0, 10)), rec("A", local(2008, 6, 1)) });
        QVERIFY(db->deleteOldEvents(local(2009, 3, 2, 0, 30)));
        CPagerList list;
        db->loadDayEvents(list, "A", QString(), 0);
        QStringList days;
        list.find("A")->dayTexts(days);
        QCOMPARE(days, QStringList({ "01-03-2009", "02-03-2009" }));
    }

    void repeatedHourKeepsBothEvents()
    {
        HistoryDb* db = HistoryDb::open(path("dst.db"), HistoryDb::OpenMode::Create);
        // 02:30 summer time and 02:30 winter time: the same local text, an hour apart.
        const qint64 first = local(2009, 10, 25, 1, 30, 0) + 3600;
        const qint64 second = first + 3600;
        QCOMPARE(LocalTime::format(first, "%H:%M"), QString("02:30"));
        QCOMPARE(LocalTime::format(second, "%H:%M"), QString("02:30"));
        int added = 0;
        QVERIFY(db->insertEvents(std::vector<ChistoryRec> { rec("A", first), rec("A", second) }, &added));
        QCOMPARE(added, 2);
        CPagerList list;
        db->loadDayEvents(list, "A", "2009-10-25", 0);
        const auto events = dayRecords(list, "A", first);
        QCOMPARE(events.size(), size_t(2));
        QCOMPARE(events[0].hDateTime + events[1].hDateTime, first + second);
    }

    void readOnlyStoreStaysUsable()
    {
        if (geteuid() == 0)
            QSKIP("root writes read-only files");
        Recorder recorder;
        {
            HistoryDb* db = HistoryDb::open(path("ro.db"), HistoryDb::OpenMode::Create);
            db->insertEvents(std::vector<ChistoryRec> { rec("A", local(2009, 5, 5, 5)) });
            HistoryDb::close();
        }
        QFile::remove(path("ro.db-wal"));
        QFile::remove(path("ro.db-shm"));
        QFile::setPermissions(path("ro.db"), QFileDevice::ReadOwner);
        HistoryDb* db = HistoryDb::open(path("ro.db"));
        QVERIFY(db);
        QVERIFY(!db->insertEvents(std::vector<ChistoryRec> { rec("A", local(2009, 5, 5, 6)) }));
        QCOMPARE(recorder.messages.size(), 1);
        CPagerList list;
        QVERIFY(db->loadDayEvents(list, "A", "2009-05-05", 0));
        QCOMPARE(list.find("A")->dayEventCount(local(2009, 5, 5)), 1);
    }

    void damagedStoreFailsClearly()
    {
        Recorder recorder;
        {
            HistoryDb* db = HistoryDb::open(path("damaged.db"), HistoryDb::OpenMode::Create);
            std::vector<ChistoryRec> many;
            for (int i = 0; i < 5000; ++i)
                many.push_back(rec("D", local(2009, 6, 1) + i * 60, 0, i));
            QVERIFY(db->insertEvents(many));
            QSqlQuery(db->connection()).exec("PRAGMA wal_checkpoint(TRUNCATE)");
            HistoryDb::close();
        }
        QFile file(path("damaged.db"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(8192);
        file.write(QByteArray(file.size() - 16384, char(0xA5)));
        file.close();
        HistoryDb* db = HistoryDb::open(path("damaged.db"));
        if (db) {
            CPagerList list;
            try {
                db->loadDaySummary(list);
                db->loadDayEvents(list, "D", "2009-06-02", 0);
            } catch (const DbError&) {
                recorder.messages << "thrown";
            }
        }
        QVERIFY(!recorder.messages.isEmpty());
        HistoryDb::close();
        QVERIFY(HistoryDb::open(path("thread2.db"), HistoryDb::OpenMode::Create));
    }

    void jobThreadHasItsOwnConnection()
    {
        HistoryDb* db = HistoryDb::open(path("thread.db"), HistoryDb::OpenMode::Create);
        db->insertEvents(std::vector<ChistoryRec> { rec("T", local(2009, 4, 4, 4)) });
        CPagerList list;
        bool ok = false;
        QThread* job = QThread::create([&] {
            ok = db->loadDayEvents(list, "T", "2009-04-04", 0);
            db->insertEvents(std::vector<ChistoryRec> { rec("T", local(2009, 4, 4, 5)) });
        });
        job->start();
        QVERIFY(job->wait(10000));
        delete job;
        QVERIFY(ok);
        QCOMPARE(list.find("T")->dayEventCount(local(2009, 4, 4)), 1);
        CPagerList after;
        db->loadDayEvents(after, "T", "2009-04-04", 0);
        QCOMPARE(after.find("T")->dayEventCount(local(2009, 4, 4)), 2);
    }
};

QTEST_GUILESS_MAIN(TestDb)
#include "tst_db.moc"
