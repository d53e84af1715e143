#include "history/historydb.h"
#include "history/historyfiles.h"
#include "history/localtime.h"
#include "recorder.h"
#include "teststore.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <limits>
#include <set>
#include <thread>

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
    r.hPrecision = -1;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

int rows(HistoryDb* db)
{
    QSqlQuery q(db->connection());
    return q.exec("SELECT count(*) FROM History") && q.next() ? q.value(0).toInt() : -1;
}

} // namespace

class TestFiles : public QObject {
    Q_OBJECT

    TestStores m_stores;
    HistoryStore m_store;
    LogMessenger m_log;
    QString path(const QString& name) const { return m_stores.file(name); }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY2(m_stores.ready(), "KESTRA_TEST_PG names no server (run under scripts/pg-test-cluster)");
    }
    void cleanup() { m_store.close(); }

    void names()
    {
        const qint64 christmas = local(2008, 12, 25, 15);
        QCOMPARE(HistoryFiles::proposedName("A1", christmas), QString("A1[2008-12-25]"));
        QCOMPARE(HistoryFiles::archiveFileName(christmas), QString("DBArchive[2008-12-25].db"));
        const QString folder = HistoryFiles::archivesFolder(path("prog"));
        QCOMPARE(folder, path("prog/Archives"));
        QVERIFY(QFileInfo(folder).isDir());
    }

    void exportGoldenBytes()
    {
        CHistoryList empty;
        QVERIFY(HistoryFiles::exportDay(m_log, &empty, path("empty.ksexp"), 0));
        QCOMPARE(fileBytes(path("empty.ksexp")), QByteArray(22, '\0'));
        QVERIFY(HistoryFiles::exportDay(m_log, nullptr, path("none.ksexp"), 0));
        QCOMPARE(fileBytes(path("none.ksexp")), QByteArray());

        CHistoryList day;
        ChistoryRec r = rec("A1", 0x01020304, 0x001, 1.0);
        r.hID = "A1|1";
        day.addRecord(r);
        day.addRecord(rec("A1", 0x01020305, 0, 2.0));
        QVERIFY(HistoryFiles::exportDay(m_log, &day, path("one.ksexp"), 1));
        // Base time, latest time, not loaded, has alarms, one record (the filter left one out).
        const QByteArray expected = QByteArray::fromHex("0000000000000000"
                                                        "0503020100000000"
                                                        "00"
                                                        "01"
                                                        "01000000"
                                                        "FFFEFF0241003100"
                                                        "0403020100000000"
                                                        "01000000"
                                                        "000000000000F03F"
                                                        "FFFEFF00"
                                                        "03000000"
                                                        "FFFEFF0441003100"
                                                        "7C003100"
                                                        "0000000000000000FFFFFFFF00000000");
        QCOMPARE(fileBytes(path("one.ksexp")).toHex(), expected.toHex());
        // An unwritable target is told, not silently skipped.
        Recorder recorder;
        QVERIFY(!HistoryFiles::exportDay(recorder, &day, path("no/such/folder/x.ksexp"), 0));
        QCOMPARE(recorder.messages.size(), 1);
    }

    void importAddsOnceAndCreatesInstruments()
    {
        Recorder recorder;
        HistoryDb* db = m_store.open(m_stores.make("import"), HistoryDb::OpenMode::Create);
        const qint64 t = local(2009, 7, 1, 12);
        CHistoryList day;
        day.addRecord(rec("OLD", t, 0, 1));
        day.addRecord(rec("NEW", t, 0x002, 2));
        day.addRecord(rec("OLD", t + 1, 0, 3));
        day.addRecord(rec("NEW", t + 86400, 0, 4));
        QVERIFY(HistoryFiles::exportDay(recorder, &day, path("in.ksexp"), 0));

        CPagerList list;
        CPager& old = list.findOrCreate("OLD");
        old.ensureDay(t).loaded = true;
        old.addEvent(rec("OLD", t, 0, 1));
        QStringList created;
        HistoryFiles::ImportHooks hooks;
        hooks.instrumentCreated = [&](CPager& p) { created << p.identifier(); };
        int added = -1;
        QVERIFY(HistoryFiles::importFile(recorder, path("in.ksexp"), list, *db, hooks, &added));
        QCOMPARE(added, 4);
        QCOMPARE(created, QStringList({ "NEW" }));
        QCOMPARE(old.dayEventCount(t), 2); // the duplicate was dropped, the new one joined
        QCOMPARE(list.find("NEW")->days().size(), size_t(2));
        QCOMPARE(list.find("NEW")->dayEventCount(t), 0); // a day not loaded gets no events in memory

        QVERIFY(HistoryFiles::importFile(recorder, path("in.ksexp"), list, *db, hooks, &added));
        QCOMPARE(added, 0);
        QCOMPARE(rows(db), 4);
        QCOMPARE(old.dayEventCount(t), 2);
        QVERIFY(recorder.messages.isEmpty());

        // A file that ends early imports nothing and leaves the store usable.
        QByteArray cut = fileBytes(path("in.ksexp"));
        cut.chop(5);
        QFile f(path("cut.ksexp"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(cut);
        f.close();
        CPagerList fresh;
        QVERIFY(!HistoryFiles::importFile(recorder, path("cut.ksexp"), fresh, *db));
        QCOMPARE(fresh.count(), 0);
        QCOMPARE(recorder.messages.size(), 1);
        QVERIFY(!HistoryFiles::importFile(recorder, path("absent.ksexp"), fresh, *db));
        QCOMPARE(rows(db), 4);

        // An event whose time has no day the store can hold (year 10,000 and later, or no local
        // time at all) refuses the whole file, the good events with it.
        for (const qint64 impossible :
            { local(10000, 1, 1, 12), local(12000, 6, 1), std::numeric_limits<qint64>::min() }) {
            CHistoryList mixed;
            mixed.addRecord(rec("OLD", t + 7, 0, 7));
            mixed.addRecord(rec("FAR", impossible));
            QVERIFY(HistoryFiles::exportDay(recorder, &mixed, path("far.ksexp"), 0));
            const qsizetype told = recorder.messages.size();
            QVERIFY(!HistoryFiles::importFile(recorder, path("far.ksexp"), fresh, *db));
            QCOMPARE(recorder.messages.size(), told + 1);
            QCOMPARE(fresh.count(), 0);
            QCOMPARE(rows(db), 4);
        }
    }

    void textLines()
    {
        CHistoryList day;
        ChistoryRec a = rec("A", local(2009, 1, 2, 3, 4, 5), 0, 1500);
        a.hComment = "line\r\nbreak";
        day.addRecord(a);
        ChistoryRec b = rec("A", local(2009, 1, 2, 3, 4, 6), 0x002, 2.5, 5);
        b.hPrecision = 12;
        day.addRecord(b);
        const QByteArray all = HistoryFiles::textLines(day, 0, true);
        QCOMPARE(QString::fromUtf8(all),
            QString(
                "2009-01-02\t03:04:05\tMeasurement gamma\t1.50 mR/h\t\tline break\n"
                "2009-01-02\t03:04:06\tMeasurement beta\t2.50±12% 1/(min*cm²)\tThreshold \"Danger\" is exceeded!\t\n"));
        const QByteArray alarms = HistoryFiles::textLines(day, 1, false);
        QVERIFY(alarms.startsWith("2009-01-02\t03:04:06"));
        QCOMPARE(alarms.count('\n'), 1);
        QVERIFY(HistoryFiles::saveAsText(m_log, &day, path("day.xls"), 0, true));
        QCOMPARE(fileBytes(path("day.xls")), all);
    }

    void archiveCopiesThenDeletes()
    {
        Recorder recorder;
        const QString main = m_stores.make("main");
        HistoryDb* db = m_store.open(main, HistoryDb::OpenMode::Create);
        db->insertEvents(std::vector<ChistoryRec> {
            rec("A", local(2009, 2, 27, 12)), rec("A", local(2009, 3, 1, 12)), rec("A", local(2009, 3, 2, 0, 10)) });
        const QString target = HistoryFiles::archivesFolder(m_stores.folder()) + "/" + HistoryFiles::archiveFileName(0);
        QFile stale(target);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("old archive");
        stale.close();
        // The file there is another's: it stays, and the archive takes the next free name.
        const QString taken = HistoryDb::numberedName(target, 2);
        QVERIFY(HistoryFiles::archive(recorder, *db, target, local(2009, 3, 2, 0, 30)));
        QCOMPARE(recorder.messages,
            QStringList({ QStringLiteral("Attention!|Database is successfully archived into %1 (%2 exists already)")
                              .arg(taken, target) }));
        QCOMPARE(fileBytes(target), QByteArray("old archive"));
        QCOMPARE(rows(db), 2);
        HistoryDb* archive = m_store.open(taken);
        QVERIFY(archive);
        QCOMPARE(rows(archive), 3);

        // A copy that cannot be made deletes nothing.
        db = m_store.open(main);
        QVERIFY(!HistoryFiles::archive(recorder, *db, path("no/folder/x.db"), local(2010, 1, 1)));
        QVERIFY(recorder.messages.last().contains("Error during database archiving!\nError:"));
        QCOMPARE(rows(db), 2);
    }

    // Another station stores old-dated events while the store is archived: each of them ends
    // up in the archive or stays in the store, never deleted uncopied.
    void archiveLosesNothingStoredMeanwhile()
    {
        Recorder recorder;
        const QString main = m_stores.make("busy");
        HistoryDb* db = m_store.open(main, HistoryDb::OpenMode::Create);
        std::vector<ChistoryRec> february;
        for (int i = 0; i < 20000; ++i)
            february.push_back(rec("A", local(2009, 2, 1) + i * 60));
        QVERIFY(db->insertEvents(february));

        std::atomic<bool> stop { false };
        std::atomic<int> storedBefore { 0 };
        std::vector<qint64> stored;
        std::thread station([&] {
            for (qint64 t = local(2009, 2, 10, 12); !stop.load(); t += 7) {
                int added = 0;
                if (db->insertEvents(std::vector<ChistoryRec> { rec("W", t) }, &added) && added == 1) {
                    stored.push_back(t);
                    ++storedBefore;
                }
            }
        });
        QTRY_VERIFY(storedBefore.load() > 0);
        const QString target = m_stores.file("busy-archive.db");
        const bool archived = HistoryFiles::archive(recorder, *db, target, local(2009, 3, 2, 0, 30));
        const int atEnd = storedBefore.load();
        QTRY_VERIFY(storedBefore.load() > atEnd + 1);
        stop = true;
        station.join();
        QVERIFY2(archived, qPrintable(recorder.messages.join('\n')));

        const auto times = [](HistoryDb* from, const QString& id) {
            std::set<qint64> found;
            from->forEachEvent(
                id, 0, std::numeric_limits<qint64>::max(), 4096, [&](std::span<const ChistoryRec> batch) {
                    for (const ChistoryRec& r : batch)
                        found.insert(r.hDateTime);
                    return true;
                });
            return found;
        };
        const std::set<qint64> kept = times(db, "W");
        QCOMPARE(times(db, "A").size(), size_t(0));
        HistoryStore archiveStore;
        HistoryDb* archive = archiveStore.open(target);
        QVERIFY(archive);
        QCOMPARE(times(archive, "A").size(), february.size());
        const std::set<qint64> copied = times(archive, "W");
        int lost = 0;
        for (const qint64 t : stored)
            lost += !kept.count(t) && !copied.count(t);
        QCOMPARE(lost, 0);
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
