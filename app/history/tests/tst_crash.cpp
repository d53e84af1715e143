#include "history/historydb.h"

#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

// A store whose writer is killed in the middle of a batch holds all of that batch or none,
// and passes the integrity check.
class TestCrash : public QObject {
    Q_OBJECT

private slots:
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
        QTemporaryDir dir;
        const QString path = dir.filePath("crash.db");
        // One committed event before the batch must survive whatever happens.
        {
            HistoryStore store;
            HistoryDb* db = store.open(path, HistoryDb::OpenMode::Create);
            ChistoryRec r;
            r.hPagerID = "KEEP";
            r.hDateTime = 1;
            QVERIFY(db->insertEvents(std::vector<ChistoryRec> { r }));
        }
        QProcess child;
        child.start(INSERT_CHILD, { path, QString::number(batch) });
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(20000));
        QTest::qWait(delayMs);
        const bool finished = child.state() == QProcess::NotRunning;
        child.kill();
        child.waitForFinished();

        HistoryStore store;
        HistoryDb* db = store.open(path);
        QVERIFY(db);
        QSqlQuery q(db->connection());
        QVERIFY(q.exec("PRAGMA integrity_check") && q.next());
        QCOMPARE(q.value(0).toString(), QString("ok"));
        QVERIFY(q.exec("SELECT count(*) FROM History WHERE hPagerID = 'CRASH'") && q.next());
        const int stored = q.value(0).toInt();
        qInfo() << "killed after" << delayMs << "ms; finished before the kill:" << finished << "; stored" << stored;
        QVERIFY2(stored == 0 || stored == batch, qPrintable(QString::number(stored)));
        QVERIFY(q.exec("SELECT count(*) FROM History WHERE hPagerID = 'KEEP'") && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
