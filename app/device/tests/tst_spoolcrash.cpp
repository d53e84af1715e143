// A download killed right after the instrument was cleared loses nothing: the next start finds
// the spool and stores every record in the event database.
#include "historyconversion.h"
#include "historydb.h"
#include "historyspool.h"
#include "programfolder.h"
#include "simfixture.h"

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
};

void SpoolCrashTest::killedAfterClearThenStoredAtStart()
{
    QTemporaryDir dir;
    QVERIFY(ProgramFolder::setPath(dir.path()));
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
    HistorySpool spool(HistorySpool::defaultFolder());
    QCOMPARE(spool.pending().size(), 1);
    HistoryDb* db = HistoryDb::open(dir.filePath("DB/DataBase.db"), HistoryDb::OpenMode::Create);
    QVERIFY(db);
    QStringList failed;
    const int stored = spool.storePending(
        [db](const QList<ChistoryRec>& records) {
            return db->insertEvents(std::span<const ChistoryRec>(records.constData(), records.size()));
        },
        &failed);
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
    HistoryDb::close();
}

QTEST_GUILESS_MAIN(SpoolCrashTest)
#include "tst_spoolcrash.moc"
