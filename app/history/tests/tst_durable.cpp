// What the store must never lose: archives that replace no other, the order in which an
// archive reaches the disk, comments that are stored or refused aloud, one text rule on both
// engines, writers that wait for a shared file, and a damaged file that is not written to.
#include "history/archivestream.h"
#include "history/historydb.h"
#include "history/historyfiles.h"
#include "history/historytext.h"
#include "history/localtime.h"
#include "recorder.h"
#include "teststore.h"

#include <QFile>
#include <QSqlQuery>
#include <QTest>

#include <atomic>
#include <limits>
#include <set>
#include <thread>

namespace {

qint64 local(int y, int mo, int d, int h = 0, int mi = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h, mi, 0);
}

ChistoryRec rec(const QString& pager, qint64 t, double value = 10, const QString& comment = QString())
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = 3;
    r.hValue = value;
    r.hPrecision = -1;
    r.hComment = comment;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

// Every exact time a SQLite file holds, read by a connection of its own.
std::multiset<qint64> fileTimes(const QString& file)
{
    std::multiset<qint64> times;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "durable-raw");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec("SELECT hDateTime FROM History");
            while (q.next())
                times.insert(q.value(0).toLongLong());
        }
    }
    QSqlDatabase::removeDatabase("durable-raw");
    return times;
}

std::multiset<qint64> storeTimes(HistoryDb* db)
{
    std::multiset<qint64> times;
    db->forEachEvent({}, std::numeric_limits<qint64>::min() / 2, std::numeric_limits<qint64>::max() / 2, 1000,
        [&](std::span<const ChistoryRec> batch) {
            for (const ChistoryRec& r : batch)
                times.insert(r.hDateTime);
            return true;
        });
    return times;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestDurable : public QObject {
    Q_OBJECT

    TestStores m_stores;
    HistoryStore m_store;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY2(m_stores.ready(), "KESTRA_TEST_PG names no server (run under scripts/pg-test-cluster)");
    }
    void cleanup()
    {
        HistoryDb::setArchiveProbe({});
        HistoryDb::setBusyWait(5000, 120000);
        m_store.close();
    }

    // 300 events over 7 days, archived; one old day imported again and archived on the same
    // day: the first archive is still whole, and the two hold every event.
    void twoArchivesOnOneDayKeepEveryEvent()
    {
        HistoryDb* db = m_store.open(m_stores.make("twice"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        std::vector<ChistoryRec> all;
        for (int i = 0; i < 300; ++i)
            all.push_back(rec("A", local(2009, 3, 1) + i * (7 * 86400 / 300)));
        QVERIFY(db->insertEvents(all));
        const qint64 now = local(2009, 3, 8, 12);
        const QString folder = HistoryFiles::archivesFolder(m_stores.folder());
        const QString name = folder + "/" + HistoryFiles::archiveFileName(now);

        Recorder recorder;
        QVERIFY(HistoryFiles::archive(recorder, *db, name, now));
        QCOMPARE(recorder.messages.last(), QString("Attention!|Database is successfully archived"));
        const std::multiset<qint64> first = fileTimes(name);
        QCOMPARE(first.size(), size_t(300));

        std::vector<ChistoryRec> oldDay;
        for (const ChistoryRec& r : all) {
            if (r.hDateTime < local(2009, 3, 2))
                oldDay.push_back(r);
        }
        QVERIFY(!oldDay.empty());
        QVERIFY(db->insertEvents(oldDay));
        QVERIFY(HistoryFiles::archive(recorder, *db, name, now));
        const QString second = HistoryDb::numberedName(name, 2);
        QVERIFY2(recorder.messages.last().contains(second), qPrintable(recorder.messages.last()));
        QCOMPARE(fileTimes(name), first);
        std::multiset<qint64> both = fileTimes(second);
        QVERIFY(both.size() < 300);
        both.insert(first.begin(), first.end());
        for (const ChistoryRec& r : all)
            QVERIFY(both.count(r.hDateTime) >= 1);
        QCOMPARE(HistoryDb::numberedName("/a/b.c/DBArchive[x].db", 3), QString("/a/b.c/DBArchive[x]-3.db"));
        QCOMPARE(HistoryDb::numberedName("/a/b.c/noext", 2), QString("/a/b.c/noext-2"));
    }

    // The copy and its name reach the disk before the old events are deleted: at each step
    // the store still holds every event, and once the name is there it holds them all too.
    void archiveSyncsBeforeItDeletes()
    {
        HistoryDb* db = m_store.open(m_stores.make("order"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        std::vector<ChistoryRec> all;
        for (int i = 0; i < 50; ++i)
            all.push_back(rec("B", local(2009, 1, 1) + i * 3600));
        QVERIFY(db->insertEvents(all));
        const QString target = m_stores.file("order-archive.db");
        QStringList steps;
        std::vector<size_t> archived;
        HistoryDb::setArchiveProbe([&](const char* step, const QString& path) {
            steps << QString::fromLatin1(step);
            if (steps.last() == "synced")
                QVERIFY(path.endsWith(".part") && QFileInfo::exists(path));
            if (steps.last() == "folder-synced")
                archived.push_back(fileTimes(target).size());
        });
        QString error;
        QString written;
        QVERIFY2(db->archiveTo(target, local(2009, 3, 1), &error, nullptr, &written), qPrintable(error));
        QCOMPARE(steps, QStringList({ "synced", "renamed", "folder-synced", "deleted" }));
        QCOMPARE(written, target);
        QCOMPARE(archived, std::vector<size_t> { 50 });
        QCOMPARE(storeTimes(db).size(), size_t(0));
        QVERIFY(!QFileInfo::exists(target + ".part"));

        // A backup syncs the same way and deletes nothing.
        steps.clear();
        QVERIFY(db->backupTo(target, &error, nullptr, &written));
        QCOMPARE(steps, QStringList({ "synced", "renamed", "folder-synced" }));
        QCOMPARE(written, HistoryDb::numberedName(target, 2));
    }

    // A comment is stored on exactly its event, or the caller hears why.
    void commentUpdateChangesExactlyOneRow()
    {
        const QString location = m_stores.make("comment");
        HistoryDb* db = m_store.open(location, HistoryDb::OpenMode::Create);
        QVERIFY(db);
        const ChistoryRec stored = rec("C", local(2009, 5, 1, 10), 12);
        QVERIFY(db->insertEvents(std::vector<ChistoryRec> { stored, rec("C", local(2009, 5, 1, 10), 13) }));

        ChistoryRec edited = stored;
        edited.hComment = "checked";
        QVERIFY(db->updateComment(edited));

        ChistoryRec memoryOnly = rec("C", local(2009, 5, 1, 11));
        memoryOnly.hComment = "lost?";
        try {
            db->updateComment(memoryOnly);
            QFAIL("a comment on an event the store lacks was taken");
        } catch (const DbError& e) {
            QVERIFY2(QString(e.what()).contains("not in the database"), e.what());
        }
        // A row of an old store without its exact time is not that event either.
        QVERIFY(TestStores::exec(location,
            { "INSERT INTO History (hID, hType, hAlarm, hDate, hTime, hValue, hPagerID) VALUES ('C|1', 3, 0, "
              "39934, 0.5, 12, 'C')" }));
        ChistoryRec oldRow = rec("C", *LocalTime::fromAutomation(39934.5), 12);
        oldRow.hComment = "old";
        QVERIFY_THROWS_EXCEPTION(DbError, db->updateComment(oldRow));

        CPagerList list;
        QVERIFY(db->loadDayEvents(list, "C", "2009-05-01", 0));
        QStringList comments;
        for (const auto& [day, events] : list.find("C")->days()) {
            for (const ChistoryRec& r : events.records())
                comments << r.hComment;
        }
        QCOMPARE(comments.count("checked"), 1);
        QVERIFY(!comments.contains("lost?"));
    }

    // NUL and lone surrogates: refused where they come in, mended alike in either store, and
    // a batch that holds them is stored whole on both engines.
    void oneTextRuleOnBothEngines()
    {
        HistoryDb* db = m_store.open(m_stores.make("texts"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        const QString nul = QString("a") + QChar(0) + "b";
        const QString lone = QString("x") + QChar(0xD800) + "y";
        const QString pair = QString("z") + QChar(0xD83D) + QChar(0xDE00);
        const QString mendedNul = QString("a") + QChar(QChar::ReplacementCharacter) + "b";
        const QString mendedLone = QString("x") + QChar(QChar::ReplacementCharacter) + "y";
        std::vector<ChistoryRec> batch;
        for (int i = 0; i < 100; ++i)
            batch.push_back(rec("T", local(2009, 7, 1) + i, 1, i == 10 ? nul : i == 20 ? lone : i == 30 ? pair : ""));
        QString error;
        QVERIFY2(db->insertEvents(batch, nullptr, &error), qPrintable(error));
        CPagerList list;
        QVERIFY(db->loadDayEvents(list, "T", "2009-07-01", 0));
        std::map<qint64, QString> comments;
        for (const auto& [day, events] : list.find("T")->days()) {
            for (const ChistoryRec& r : events.records())
                comments[r.hDateTime] = r.hComment;
        }
        QCOMPARE(comments.size(), size_t(100));
        QCOMPARE(comments[local(2009, 7, 1) + 10], mendedNul);
        QCOMPARE(comments[local(2009, 7, 1) + 20], mendedLone);
        QCOMPARE(comments[local(2009, 7, 1) + 30], pair);

        // The comment edit and request 10 refuse, naming the event and the fault.
        ChistoryRec edit = batch[0];
        for (const QString& bad : { nul, lone, QString(HistoryText::MaxComment + 1, 'c') }) {
            edit.hComment = bad;
            try {
                db->updateComment(edit);
                QFAIL("a comment against the rule was stored");
            } catch (const DbError& e) {
                QVERIFY2(QString(e.what()).contains("T at 2009-07-01"), e.what());
            }
        }
        edit.hComment = QString(HistoryText::MaxComment, 'c');
        QVERIFY(db->updateComment(edit));

        // An import of a file that holds one imports nothing and names the event.
        {
            CHistoryList day;
            day.addRecord(rec("I", local(2009, 7, 3, 9), 1, "fine"));
            day.addRecord(rec("I", local(2009, 7, 3, 10), 1, lone));
            QByteArray bytes;
            StreamWriter out(&bytes);
            day.write(out);
            QFile file(m_stores.file("lone.ksexp"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
            file.close();
            Recorder recorder;
            CPagerList into;
            QVERIFY(!HistoryFiles::importFile(recorder, file.fileName(), into, *db));
            QVERIFY2(recorder.messages.join("").contains("I at 2009-07-03 10:00:00"),
                qPrintable(recorder.messages.join("")));
            QVERIFY(!into.contains("I"));
            CPagerList stored;
            QVERIFY(db->loadDayEvents(stored, "I", "2009-07-03", 0));
            QVERIFY(stored.find("I")->days().empty() || stored.find("I")->days().begin()->second.records().empty());
        }

        // The stream reader (imports, requests) refuses such a record and names it.
        const struct {
            QString comment;
            const char* says;
        } streams[] = { { nul, "NUL character at position 2" }, { lone, "lone surrogate" },
            { QString(HistoryText::MaxComment + 1, 'c'), "longer than 4096" } };
        for (const auto& s : streams) {
            QByteArray bytes;
            StreamWriter out(&bytes);
            rec("S", local(2009, 7, 2, 8), 1, s.comment).write(out);
            StreamReader in(bytes);
            ChistoryRec back;
            try {
                back.read(in);
                QFAIL("the reader took a record against the rule");
            } catch (const StreamError& e) {
                QVERIFY2(QString(e.what()).contains("S at 2009-07-02 08:00:00")
                        && QString(e.what()).contains(QLatin1String(s.says)),
                    e.what());
            }
        }
    }

    // Another program holds the file's write lock longer than a statement waits: the writer
    // waits for it within the bound, and fails only beyond it.
    void writersWaitForALockedFile()
    {
        if (m_stores.server())
            QSKIP("the lock of a shared file");
        HistoryDb::setBusyWait(100, 5000);
        const QString file = m_stores.make("shared");
        HistoryDb* db = m_store.open(file, HistoryDb::OpenMode::Create);
        QVERIFY(db);
        ChistoryRec r = rec("L", local(2009, 8, 1, 9));
        QVERIFY(db->insertEvents(std::vector<ChistoryRec> { r }));

        const auto holdLock = [&](int ms, std::atomic<bool>& held) {
            return std::thread([&held, file, ms] {
                {
                    QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "durable-holder");
                    other.setDatabaseName(file);
                    other.open();
                    QSqlQuery q(other);
                    q.exec("BEGIN IMMEDIATE");
                    held = true;
                    QThread::msleep(ms);
                    q.exec("COMMIT");
                }
                QSqlDatabase::removeDatabase("durable-holder");
            });
        };
        std::atomic<bool> held { false };
        std::thread holder = holdLock(700, held);
        QTRY_VERIFY(held.load());
        QElapsedTimer waited;
        waited.start();
        r.hComment = "waited";
        bool stored = false;
        try {
            stored = db->updateComment(r);
        } catch (const DbError& e) {
            qWarning("%s", e.what());
        }
        QString error;
        const bool inserted
            = db->insertEvents(std::vector<ChistoryRec> { rec("L", local(2009, 8, 1, 10)) }, nullptr, &error);
        holder.join();
        QVERIFY(stored);
        QVERIFY2(inserted, qPrintable(error));
        QVERIFY(waited.elapsed() >= 400);

        // Beyond the bound the writer fails as it always did, and says so.
        HistoryDb::setBusyWait(50, 300);
        m_store.close();
        db = m_store.open(file);
        held = false;
        holder = holdLock(2000, held);
        QTRY_VERIFY(held.load());
        QVERIFY(!db->insertEvents(std::vector<ChistoryRec> { rec("L", local(2009, 8, 1, 11)) }, nullptr, &error));
        QVERIFY2(error.contains("locked"), qPrintable(error));
        holder.join();
    }

    // A file damaged beyond its catalogue opens (the whole file is not read at every open); the first
    // corruption error ends every write into it with the file named, and the next open,
    // which finds the mark of the handle that met it, reads the whole file and refuses it.
    void damageStopsEveryWrite()
    {
        if (m_stores.server())
            QSKIP("damage of a file");
        const QString file = m_stores.make("damaged");
        {
            HistoryDb* db = m_store.open(file, HistoryDb::OpenMode::Create);
            std::vector<ChistoryRec> many;
            for (int i = 0; i < 5000; ++i)
                many.push_back(rec("D", local(2009, 6, 1) + i * 60, i));
            QVERIFY(db->insertEvents(many));
            m_store.close();
        }
        QVERIFY(QDir(m_stores.folder()).entryList({ "damaged.db.open-*" }, QDir::Files).isEmpty());
        // Every page after the catalogue's first is garbage: whichever page an operation
        // reads, it meets the damage.
        QByteArray bytes = fileBytes(file);
        bytes.replace(4096, bytes.size() - 4096, QByteArray(bytes.size() - 4096, char(0xA5)));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        QString error;
        HistoryDb* db = m_store.open(file, HistoryDb::OpenMode::Existing, &error);
        QVERIFY2(db, qPrintable(error));
        CPagerList list;
        QVERIFY_THROWS_EXCEPTION(DbError, db->loadDayEvents(list, QString(), QString(), 0));
        QVERIFY(!db->insertEvents(std::vector<ChistoryRec> { rec("D", local(2010, 1, 1)) }, nullptr, &error));
        QVERIFY2(error.contains(file) && error.contains("damaged"), qPrintable(error));
        QVERIFY_THROWS_EXCEPTION(DbError, db->deleteOldEvents(local(2011, 1, 1)));
        QVERIFY(!db->archiveTo(m_stores.file("from-damaged.db"), local(2011, 1, 1), &error));
        m_store.close();
        QCOMPARE(fileBytes(file), bytes);

        // The mark of a process that is gone, as after a crash: the whole file is read.
        QFile mark(file + ".open-2147483646-1");
        QVERIFY(mark.open(QIODevice::WriteOnly));
        mark.close();
        QVERIFY(!m_store.open(file, HistoryDb::OpenMode::Existing, &error));
        QVERIFY2(error.contains(file) && error.contains("damaged"), qPrintable(error));
        QCOMPARE(fileBytes(file), bytes);
    }
};

QTEST_GUILESS_MAIN(TestDurable)
#include "tst_durable.moc"
