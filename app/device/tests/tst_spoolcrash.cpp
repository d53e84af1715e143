// A download killed right after the instrument was cleared loses nothing: the next start finds
// the spool and stores every record in the event database.
#include "config/programfolder.h"
#include "device/driverlock.h"
#include "device/historyconversion.h"
#include "device/historyspool.h"
#include "history/historydb.h"
#include "simfixture.h"

#include <QDir>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <set>
#include <span>

using namespace kestra::sim;

class SpoolCrashTest : public QObject {
    Q_OBJECT

private slots:
    void killedAfterClearThenStoredAtStart();
    void fullDiskNeverClearsTheInstrument();
};

void SpoolCrashTest::killedAfterClearThenStoredAtStart()
{
    QTemporaryDir dir;
    const DeviceState device(ProgramFolder(dir.path()).path());
    Options options;
    options.number = "4711";
    options.liveHistory = false;
    Simulator sim(options);
    QVERIFY(sim.start());
    const int count = 2000;
    const auto raw = simfixture::makeHistory(count);
    sim.setHistory(raw);

    const QString id = QStringLiteral("KESTRA #4711");
    QProcess child;
    child.start(QStringLiteral(DOWNLOAD_CHILD), { dir.path(), QString::fromStdString(sim.slavePath()), id });
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY(sim.history().empty()); // the clear went out before the kill

    // The next start stores what was spooled.
    HistorySpool spool(device.spoolFolder());
    QCOMPARE(spool.pending().size(), 1);
    HistoryStore stores;
    HistoryDb* db = stores.open(dir.filePath("DB/DataBase.db"), HistoryDb::OpenMode::Create);
    QVERIFY(db);
    const auto store = [db](const QList<ChistoryRec>& records) {
        return db->insertEvents(std::span<const ChistoryRec>(records.constData(), records.size()));
    };
    // A store that is full keeps nothing of the spool, and the spool stays for the next try.
    QSqlQuery limit(db->connection());
    QVERIFY(limit.exec(QStringLiteral("PRAGMA max_page_count = 8")));
    QStringList failed;
    QCOMPARE(spool.storePending(store, &failed), 0);
    QCOMPARE(failed, spool.pending());
    QVERIFY(limit.exec(QStringLiteral("SELECT count(*) FROM History")) && limit.next());
    QCOMPARE(limit.value(0).toInt(), 0);
    QVERIFY(limit.exec(QStringLiteral("PRAGMA max_page_count = 1000000")));
    limit.finish();

    failed.clear();
    const int stored = spool.storePending(store, &failed);
    QCOMPARE(stored, 1);
    QVERIFY(failed.isEmpty());
    QVERIFY(spool.pending().isEmpty());

    QSqlQuery query(db->connection());
    QVERIFY(query.exec(QStringLiteral("SELECT hDateTime, hType FROM History WHERE hPagerID = '%1'").arg(id)));
    std::set<std::pair<qint64, int>> got;
    while (query.next())
        got.insert({ query.value(0).toLongLong(), query.value(1).toInt() });
    std::set<std::pair<qint64, int>> want;
    for (int i = 0; i < count; ++i)
        want.insert({ simfixture::expectedTime(raw[i].time()), HistoryConversion::fromCode(raw[i].type()).type });
    QCOMPARE(got.size(), std::size_t(count));
    QVERIFY(got == want);
}

// The spool cannot be written (the disk is full past a few kilobytes): the instrument keeps its
// history, nothing is left in the spool folder, and the worker says what failed and where.
void SpoolCrashTest::fullDiskNeverClearsTheInstrument()
{
    QTemporaryDir dir;
    const DeviceState device(ProgramFolder(dir.path()).path());
    Options options;
    options.number = "4711";
    options.liveHistory = false;
    Simulator sim(options);
    QVERIFY(sim.start());
    const auto raw = simfixture::makeHistory(500);
    sim.setHistory(raw);

    QProcess child;
    child.start(QStringLiteral(DOWNLOAD_CHILD),
        { dir.path(), QString::fromStdString(sim.slavePath()), QStringLiteral("KESTRA #4711"),
            QStringLiteral("4096") });
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n');
    QVERIFY(lines.size() >= 2);
    QVERIFY2(lines[0].contains(device.spoolFolder()) && lines[0].contains(QStringLiteral("not cleared")),
        qPrintable(lines[0]));
    QCOMPARE(lines[1], QStringLiteral("500")); // handed on all the same

    QCOMPARE(sim.history().size(), raw.size());
    for (const auto& command : sim.commands())
        QVERIFY2(command.rfind("delete_history", 0) != 0, command.c_str());
    QVERIFY(QDir(device.spoolFolder()).entryList(QDir::Files).isEmpty());
}

QTEST_GUILESS_MAIN(SpoolCrashTest)
#include "tst_spoolcrash.moc"
