#include "history/historydb.h"
#include "history/localtime.h"
#include "recorder.h"

#include <QFile>
#include <QSqlError>
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

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Runs statements on the file through a connection of its own, as another program would.
void rawSql(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString& statement : statements)
            QVERIFY2(q.exec(statement), qPrintable(statement + ": " + q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

// The History table as the program wrote it before it kept the exact time, and one row of it.
const QString oldHistoryTable = QStringLiteral(
    "CREATE TABLE History (hID TEXT, hType INTEGER, hAlarm INTEGER, hDate REAL, hTime REAL, hValue REAL, "
    "hValue2 REAL, hPrecision INTEGER, hVariation INTEGER, hComment TEXT, hPagerID TEXT)");
QString oldRow(const QString& pager, qint64 t, int alarm, const char* comment)
{
    const auto when = *LocalTime::toAutomation(t);
    return QStringLiteral("INSERT INTO History VALUES ('%1|0', 3, %2, %3, %4, 10, 0, -1, 0, %5, '%1')")
        .arg(pager, QString::number(alarm), QString::number(when.first, 'g', 17), QString::number(when.second, 'g', 17),
            comment ? QLatin1Char('\'') + QLatin1String(comment) + QLatin1Char('\'') : QStringLiteral("NULL"));
}

qint64 scalar(HistoryDb* db, const QString& sql)
{
    QSqlQuery q(db->connection());
    return q.exec(sql) && q.next() ? q.value(0).toLongLong() : -1;
}

int rows(HistoryDb* db)
{
    return static_cast<int>(scalar(db, QStringLiteral("SELECT count(*) FROM History")));
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
    HistoryStore m_store;
    LogMessenger m_log;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY(m_dir.isValid());
    }
    void cleanup() { m_store.close(); }

    void openRules()
    {
        QVERIFY(!m_store.open(path("missing/none.db")));
        QVERIFY(!QFile::exists(path("missing")));
        HistoryDb* db = m_store.open(path("sub/dir/DataBase.db"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        QCOMPARE(m_store.open(path("sub/dir/DataBase.db")), db);
        // Any failed open, a missing file too, leaves no store open: a download must not land in
        // the file that was open before the switch. A missing file has no error text.
        QString error = "stale";
        QVERIFY(!m_store.open(path("other.db"), HistoryDb::OpenMode::Existing, &error));
        QVERIFY(error.isEmpty());
        QVERIFY(!m_store.current());

        QVERIFY(m_store.open(path("sub/dir/DataBase.db")));
        writeBytes(path("file"), "x");
        QVERIFY(!m_store.open(path("file/DB/DataBase.db"), HistoryDb::OpenMode::Create, &error));
        QVERIFY2(error.contains(path("file/DB")), qPrintable(error));
        QVERIFY(!m_store.current());
        QCOMPARE(HistoryDb::errorCaption(), QStringLiteral("Ошибка базы данных"));
        QVERIFY(m_store.open(path("sub/dir/DataBase.db")));
    }

    void eventsRoundTrip()
    {
        HistoryDb* db = m_store.open(path("round.db"), HistoryDb::OpenMode::Create);
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
    }

    void daySummaryAndNames()
    {
        HistoryDb* db = m_store.open(path("summary.db"), HistoryDb::OpenMode::Create);
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
        QVERIFY(db->loadDaySummary(list, m_log));
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
        HistoryDb* db = m_store.open(path("old.db"), HistoryDb::OpenMode::Create);
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
        HistoryDb* db = m_store.open(path("dst.db"), HistoryDb::OpenMode::Create);
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
        {
            HistoryDb* db = m_store.open(path("ro.db"), HistoryDb::OpenMode::Create);
            db->insertEvents(std::vector<ChistoryRec> { rec("A", local(2009, 5, 5, 5)) });
            m_store.close();
        }
        QFile::remove(path("ro.db-wal"));
        QFile::remove(path("ro.db-shm"));
        QFile::setPermissions(path("ro.db"), QFileDevice::ReadOwner);
        HistoryDb* db = m_store.open(path("ro.db"));
        QVERIFY(db);
        QString error;
        QVERIFY(!db->insertEvents(std::vector<ChistoryRec> { rec("A", local(2009, 5, 5, 6)) }, nullptr, &error));
        QVERIFY2(error.contains(path("ro.db")), qPrintable(error));
        CPagerList list;
        QVERIFY(db->loadDayEvents(list, "A", "2009-05-05", 0));
        QCOMPARE(list.find("A")->dayEventCount(local(2009, 5, 5)), 1);
    }

    // A file that is damaged, not an event database, newer, or whose upgrade fails is refused
    // with a text naming it; not one byte of it changes and no store stays open.
    void refusedFilesAreLeftUntouched()
    {
        {
            HistoryDb* db = m_store.open(path("good.db"), HistoryDb::OpenMode::Create);
            std::vector<ChistoryRec> many;
            for (int i = 0; i < 5000; ++i)
                many.push_back(rec("D", local(2009, 6, 1) + i * 60, 0, i));
            QVERIFY(db->insertEvents(many));
            m_store.close();
        }
        const QByteArray good = fileBytes(path("good.db"));
        QVERIFY(good.size() > 40 * 4096);
        QByteArray garbagePage = good;
        const qsizetype middle = good.size() / 4096 / 2 * 4096;
        garbagePage.replace(middle, 4096, QByteArray(4096, char(0xA5)));
        const qint64 t = local(2009, 3, 1, 12);
        const QStringList duplicates = { oldHistoryTable, oldRow("A", t, 0, nullptr), oldRow("A", t, 0, "x") };

        struct Case {
            const char* name;
            QByteArray bytes; // written as they are, or
            QStringList sql; // made by another program
            const char* says;
        };
        const Case cases[] = {
            { "not a database", QByteArray(4096, 'j'), {}, "not an event database" },
            { "truncated", good.left(good.size() / 2 + 100), {}, "damaged" },
            { "a page of garbage", garbagePage, {}, "damaged" },
            { "newer layout", {},
                { oldHistoryTable, "ALTER TABLE History ADD COLUMN hDateTime INTEGER",
                    "CREATE TABLE Pagers (pID TEXT, pName TEXT)", "PRAGMA user_version = 7" },
                "newer version" },
            { "foreign History table", {}, { "CREATE TABLE History (x TEXT)" }, "no column hID" },
            { "upgrade fails half-way", {},
                duplicates
                    + QStringList { "CREATE TRIGGER keep BEFORE DELETE ON History BEGIN SELECT RAISE(ABORT, "
                                    "'rows are kept'); END" },
                "rows are kept" },
        };
        for (const Case& c : cases) {
            const QString file = path(QStringLiteral("refused %1.db").arg(QLatin1String(c.name)));
            if (c.sql.isEmpty())
                writeBytes(file, c.bytes);
            else
                rawSql(file, c.sql);
            const QByteArray before = fileBytes(file);
            QVERIFY(m_store.open(path("good.db")));
            QString error;
            QVERIFY2(!m_store.open(file, HistoryDb::OpenMode::Create, &error), c.name);
            QVERIFY2(error.contains(file) && error.contains(QLatin1String(c.says)), qPrintable(error));
            QVERIFY2(!m_store.current(), c.name);
            QVERIFY2(fileBytes(file) == before, c.name);
        }
    }

    // The store refuses a batch for want of space: the whole batch is rolled back, the caller
    // hears which file, and the store takes the batch once there is room.
    void fullStoreKeepsNothingOfTheBatch()
    {
        HistoryDb* db = m_store.open(path("full.db"), HistoryDb::OpenMode::Create);
        QVERIFY(db->insertEvents(std::vector<ChistoryRec> { rec("F", local(2009, 8, 1)) }));
        std::vector<ChistoryRec> batch;
        for (int i = 0; i < 3000; ++i)
            batch.push_back(rec("F", local(2009, 8, 2) + i, 0, i));
        const qint64 pages = scalar(db, "PRAGMA page_count");
        QCOMPARE(scalar(db, QStringLiteral("PRAGMA max_page_count = %1").arg(pages + 3)), pages + 3);
        int added = -1;
        QString error;
        QVERIFY(!db->insertEvents(batch, &added, &error));
        QVERIFY2(error.contains(path("full.db")) && error.contains("full"), qPrintable(error));
        QCOMPARE(added, 0);
        QCOMPARE(scalar(db, "SELECT count(*) FROM History"), 1);

        scalar(db, "PRAGMA max_page_count = 1000000");
        QVERIFY(db->insertEvents(batch, &added, &error));
        QCOMPARE(added, 3000);
    }

    // A store of the program before the exact time was kept opens upgraded: the exact time from
    // the local date and time, equal rows merged keeping a comment, the uniqueness rule in force.
    void olderStoreIsUpgradedInPlace()
    {
        const qint64 t1 = local(2009, 3, 1, 12, 0, 5);
        const qint64 t2 = local(2009, 3, 2, 23, 59, 59);
        rawSql(path("older.db"),
            { oldHistoryTable, "CREATE TABLE Pagers (pID TEXT, pName TEXT)",
                "INSERT INTO Pagers VALUES ('A', 'Kitchen')", "CREATE INDEX HistoryEvent ON History (hID)",
                oldRow("A", t1, 0, nullptr), oldRow("A", t1, 0, " "), oldRow("A", t1, 0, "checked"),
                oldRow("A", t1, 2, nullptr), oldRow("B", t1, 0, nullptr), oldRow("A", t2, 0, "first"),
                oldRow("A", t2, 0, "second") });
        Recorder recorder;
        QString error;
        HistoryDb* db = m_store.open(path("older.db"), HistoryDb::OpenMode::Existing, &error);
        QVERIFY2(db, qPrintable(error));
        QCOMPARE(scalar(db, "PRAGMA user_version"), 1);

        QSqlQuery q(db->connection());
        QVERIFY(q.exec("SELECT hPagerID, hDateTime, hAlarm, hComment FROM History ORDER BY rowid"));
        QStringList got;
        while (q.next())
            got << QStringLiteral("%1 %2 %3 %4")
                       .arg(q.value(0).toString(), QString::number(q.value(1).toLongLong()), q.value(2).toString(),
                           q.value(3).toString());
        const QString s1 = QString::number(t1), s2 = QString::number(t2);
        QCOMPARE(got,
            QStringList({ "A " + s1 + " 0 checked", "A " + s1 + " 2 ", "B " + s1 + " 0 ", "A " + s2 + " 0 first" }));

        // Equal events are now refused by the store itself, and the newer-events scan works.
        int added = -1;
        QVERIFY(db->insertEvents(std::vector<ChistoryRec> { rec("A", t1), rec("A", t1 + 1) }, &added));
        QCOMPARE(added, 1);
        QVERIFY(scalar(db,
                    "SELECT count(*) FROM sqlite_master WHERE name = 'HistoryEvent' AND sql LIKE '%UNIQUE%hDateTime%'")
            == 1);
        CPagerList list;
        QVERIFY(db->loadDaySummary(list, recorder));
        QCOMPARE(list.find("A")->name(), QString("Kitchen"));
        QVERIFY(recorder.messages.isEmpty());

        // Opened again it is current: nothing more to do, nothing written.
        m_store.close();
        const QByteArray upgraded = fileBytes(path("older.db"));
        QVERIFY(m_store.open(path("older.db")));
        m_store.close();
        QCOMPARE(fileBytes(path("older.db")), upgraded);
    }

    void eventsAfterAreOldestFirst()
    {
        HistoryDb* db = m_store.open(path("after.db"), HistoryDb::OpenMode::Create);
        const qint64 t = local(2009, 9, 9, 9);
        db->insertEvents(std::vector<ChistoryRec> {
            rec("A", t + 20), rec("A", t), rec("B", t + 30), rec("A", t + 10, 1), rec("A", t + 10, 0) });
        const auto events = db->eventsAfter("A", t);
        std::vector<qint64> times;
        qint32 alarms = 0;
        for (const ChistoryRec& r : events) {
            times.push_back(r.hDateTime);
            alarms += r.hAlarm;
        }
        QCOMPARE(times, (std::vector<qint64> { t + 10, t + 10, t + 20 }));
        QCOMPARE(alarms, 1);
        QCOMPARE(events[2].hPagerID, QString("A"));
        QCOMPARE(events[2].hID, ChistoryRec::makeKey("A", t + 20));
        QVERIFY(db->eventsAfter("A", t + 20).empty());
    }

    void jobThreadHasItsOwnConnection()
    {
        HistoryDb* db = m_store.open(path("thread.db"), HistoryDb::OpenMode::Create);
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

    // Two programs in one process each keep a store open, used from the same threads in turn:
    // neither reaches the other's file, and closing or switching one leaves the other's
    // connections working, on this thread and on a job thread.
    void twoStoresInOneProcessStayApart()
    {
        HistoryStore other;
        HistoryDb* a = m_store.open(path("station.db"), HistoryDb::OpenMode::Create);
        HistoryDb* b = other.open(path("client.db"), HistoryDb::OpenMode::Create);
        QVERIFY(a && b && a != b);
        QVERIFY(a->insertEvents(std::vector<ChistoryRec> { rec("A", local(2009, 6, 1, 1)) }));
        QVERIFY(b->insertEvents(
            std::vector<ChistoryRec> { rec("B", local(2009, 6, 1, 2)), rec("B", local(2009, 6, 1, 3)) }));
        QCOMPARE(rows(a), 1);
        QCOMPARE(rows(b), 2);

        // A job thread reaches both, then the client's store is switched to another file.
        int seenA = -1;
        int seenB = -1;
        QThread* job = QThread::create([&] {
            seenA = rows(a);
            seenB = rows(b);
        });
        job->start();
        QVERIFY(job->wait(10000));
        delete job;
        QCOMPARE(seenA, 1);
        QCOMPARE(seenB, 2);
        HistoryDb* c = other.open(path("client2.db"), HistoryDb::OpenMode::Create);
        QVERIFY(c);
        QCOMPARE(rows(c), 0);
        QCOMPARE(m_store.current(), a);
        QVERIFY(a->insertEvents(std::vector<ChistoryRec> { rec("A", local(2009, 6, 1, 4)) }));
        QCOMPARE(rows(a), 2);

        // Closing the station's store leaves the client's alone.
        m_store.close();
        QVERIFY(!m_store.current());
        QVERIFY(c->insertEvents(std::vector<ChistoryRec> { rec("C", local(2009, 6, 1, 5)) }));
        QCOMPARE(rows(c), 1);
        QCOMPARE(other.current(), c);
        QVERIFY(!QSqlDatabase::connectionNames().filter("kestra-history").isEmpty());
        other.close();
        // Every connection of a closed store is gone from this thread.
        QVERIFY(QSqlDatabase::connectionNames().filter("kestra-history").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDb)
#include "tst_db.moc"
