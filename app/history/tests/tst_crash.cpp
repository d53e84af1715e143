#include "history/historydb.h"
#include "teststore.h"

#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

// A store whose writer is killed in the middle of a batch holds all of that batch or none,
// and passes the integrity check.
class TestCrash : public QObject {
    Q_OBJECT

    TestStores m_stores;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_stores.ready(), "KESTRA_TEST_PG names no server (run under scripts/pg-test-cluster)");
    }
    void killedInsertLeavesAllOrNothing_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("early") << 20;
        QTest::newRow("middle") << 150;
        QTest::newRow("late") << 400;
    }
    void killedInsertLeavesAllOrNothing()
    {
        QFETCH(int, delayMs);
        const int batch = 150000;
        const QString path = m_stores.make(QStringLiteral("crash%1").arg(delayMs));
        // One committed event before the batch must survive whatever happens.
        {
            HistoryDb* db = HistoryDb::open(path, HistoryDb::OpenMode::Create);
            ChistoryRec r;
            r.hPagerID = "KEEP";
            r.hDateTime = 1;
            QVERIFY(db->insertEvents(std::vector<ChistoryRec> { r }));
            HistoryDb::close();
        }
        QProcess child;
        child.start(INSERT_CHILD, { path, QString::number(batch) });
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(20000));
        QTest::qWait(delayMs);
        const bool finished = child.state() == QProcess::NotRunning;
        child.kill();
        child.waitForFinished();

        HistoryDb* db = HistoryDb::open(path);
        QVERIFY(db);
        QSqlQuery q(db->connection());
        if (!m_stores.server()) {
            QVERIFY(q.exec("PRAGMA integrity_check") && q.next());
            QCOMPARE(q.value(0).toString(), QString("ok"));
        }
        QVERIFY(q.exec("SELECT count(*) FROM History WHERE hPagerID = 'CRASH'") && q.next());
        const int stored = q.value(0).toInt();
        qInfo() << "killed after" << delayMs << "ms; finished before the kill:" << finished << "; stored" << stored;
        QVERIFY2(stored == 0 || stored == batch, qPrintable(QString::number(stored)));
        QVERIFY(q.exec("SELECT count(*) FROM History WHERE hPagerID = 'KEEP'") && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        // The day summary went with the events, or stayed without them.
        QVERIFY(q.exec("SELECT coalesce(sum(sEvents), 0) FROM DaySummary WHERE sPagerID = 'CRASH'") && q.next());
        QCOMPARE(q.value(0).toInt(), stored);
        HistoryDb::close();
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
