// Four stations (kestra-cli serve, each on a simulated instrument) storing into one PostgreSQL
// store at the same time; the server is started by scripts/pg-test-cluster.
#include "config/programconfig.h"
#include "history/historydb.h"
#include "history/messenger.h"
#include "history/pagerlist.h"
#include "pgstores.h"
#include "simhistory.h"

#include "kestrasim/simulator.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <set>

using namespace kestra::sim;

namespace {

constexpr int Stations = 4;
constexpr int Records = 6000;

// Station i's history: Records events over three days before today, every 17th an alarm. The
// first two stations carry the same instrument with the same history, as two stations that
// both read it would.
std::vector<qint64> historyTimes(int station)
{
    const int variant = station < 2 ? 0 : station;
    std::vector<qint64> times;
    for (int k = 0; k < Records; ++k)
        times.push_back(simhistory::at(1 + k % 3, 60 + (k / 3) * 37 + variant));
    return times;
}

QString instrumentOf(int station)
{
    return QStringLiteral("KESTRA #%1").arg(station < 2 ? 2001 : 2000 + station);
}

} // namespace

class StationsTest : public QObject {
    Q_OBJECT

private slots:
    // Every downloaded event is in the store once, none is lost or left waiting in a spool,
    // and the day summary the store keeps equals a recount of the events.
    void fourStationsIntoOneStore()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString error;
        const QString store = pgstores::createDatabase(QStringLiteral("stations"), &error);
        QVERIFY2(!store.isEmpty(), qPrintable(error));

        std::vector<std::unique_ptr<Simulator>> sims;
        std::vector<std::unique_ptr<QProcess>> stations;
        for (int i = 0; i < Stations; ++i) {
            Options options;
            options.number = instrumentOf(i).section(u'#', 1).toStdString();
            options.liveHistory = false;
            sims.push_back(std::make_unique<Simulator>(options));
            std::string simError;
            QVERIFY2(sims.back()->start(&simError), simError.c_str());
            std::vector<RawRecord> history;
            int k = 0;
            for (const qint64 t : historyTimes(i)) {
                history.push_back(simhistory::record(k % 17 == 0 ? 'G' : 'F', t, 1e-6 * (1 + k % 50)));
                ++k;
            }
            sims.back()->setHistory(history);

            const QString home = dir.filePath(QStringLiteral("station%1").arg(i));
            QVERIFY(QDir().mkpath(home));
            ProgramConfig config;
            config.iniPath = home + QStringLiteral("/KESTRA.ini");
            config.databasePath = store;
            config.localMode = true;
            config.autoDetect = false;
            config.timeSynchronize = false;
            config.archivingInterval = 0;
            config.downloadingInterval = 3600;
            QVERIFY(config.save());
            auto p = std::make_unique<QProcess>();
            p->setProgram(QStringLiteral(KESTRA_CLI));
            p->setArguments({ QStringLiteral("--home"), home, QStringLiteral("--port"),
                QString::fromStdString(sims.back()->slavePath()), QStringLiteral("serve"), QStringLiteral("--listen"),
                QStringLiteral("0") });
            stations.push_back(std::move(p));
        }
        // All four start together and read their instruments at once.
        for (auto& p : stations)
            p->start();
        for (auto& p : stations)
            QVERIFY(p->waitForStarted());
        const QRegularExpression read(QStringLiteral("(KESTRA #\\d+): (\\d+) events read, (\\d+) new(.*)"));
        std::map<QString, int> added;
        QStringList outputs(Stations);
        QDeadlineTimer deadline(120000);
        for (int i = 0; i < Stations; ++i) {
            while (!deadline.hasExpired() && !read.match(outputs[i]).hasMatch()
                && stations[i]->state() == QProcess::Running) {
                stations[i]->waitForReadyRead(100);
                outputs[i] += QString::fromLocal8Bit(stations[i]->readAllStandardOutput());
            }
        }
        for (int i = 0; i < Stations; ++i) {
            stations[i]->terminate();
            QVERIFY(stations[i]->waitForFinished(30000));
            outputs[i] += QString::fromLocal8Bit(stations[i]->readAllStandardOutput());
            const QString errors = QString::fromLocal8Bit(stations[i]->readAllStandardError());
            QVERIFY2(stations[i]->exitStatus() == QProcess::NormalExit && stations[i]->exitCode() == 0,
                qPrintable(QStringLiteral("station %1 (status %2): ").arg(i).arg(stations[i]->exitCode()) + outputs[i]
                    + errors));
            const QRegularExpressionMatch m = read.match(outputs[i]);
            QVERIFY2(m.hasMatch(), qPrintable(outputs[i] + errors));
            QCOMPARE(m.captured(1), instrumentOf(i));
            QCOMPARE(m.captured(2).toInt(), Records);
            QVERIFY2(m.captured(4).trimmed().isEmpty(), qPrintable(outputs[i])); // stored, not kept back
            added[m.captured(1)] += m.captured(3).toInt();
            QVERIFY(sims[i]->history().empty());
            const QDir spool(dir.filePath(QStringLiteral("station%1/Spool").arg(i)));
            QVERIFY2(spool.entryList(QDir::Files).isEmpty(), qPrintable(spool.entryList(QDir::Files).join(u' ')));
        }
        // The two stations of one instrument together added its events once.
        for (int i = 1; i < Stations; ++i)
            QCOMPARE(added[instrumentOf(i)], Records);

        QSqlDatabase db = pgstores::open(QStringLiteral("stations"), store);
        QVERIFY(db.isOpen());
        std::map<QString, std::multiset<qint64>> stored;
        for (const pgstores::Row& row : pgstores::rows(db))
            stored[std::get<0>(row)].insert(std::get<1>(row));
        QCOMPARE(stored.size(), std::size_t(Stations - 1));
        for (int i = 1; i < Stations; ++i) {
            const std::vector<qint64> times = historyTimes(i);
            QVERIFY2(stored[instrumentOf(i)] == std::multiset<qint64>(times.begin(), times.end()),
                qPrintable(instrumentOf(i)));
        }

        // The kept summary against a plain recount, and the program's day list against both.
        const auto table = [&](const QString& statement) {
            std::map<std::pair<QString, qint64>, std::pair<qint64, qint64>> result;
            QSqlQuery q(db);
            if (!q.exec(statement))
                return result;
            while (q.next())
                result[{ q.value(0).toString(), q.value(1).toLongLong() }]
                    = { q.value(2).toLongLong(), q.value(3).toLongLong() };
            return result;
        };
        const auto recount = table(QStringLiteral("SELECT hPagerID, hDate, count(*), sum(CASE WHEN hAlarm = 0 THEN 0 "
                                                  "ELSE 1 END) FROM History GROUP BY hPagerID, hDate"));
        const auto kept = table(QStringLiteral("SELECT sPagerID, sDate, sEvents, sAlarms FROM DaySummary"));
        QCOMPARE(recount.size(), std::size_t(3 * (Stations - 1)));
        QVERIFY(kept == recount);
        HistoryStore opened;
        HistoryDb* history = opened.open(store);
        QVERIFY(history);
        CPagerList list;
        LogMessenger log;
        QVERIFY(history->loadDaySummary(list, log));
        std::size_t days = 0;
        for (int k = 0; k < list.count(); ++k) {
            const CPager* pager = list.instrumentAt(k);
            for (const auto& [day, events] : pager->days()) {
                ++days;
                const auto when = LocalTime::toAutomation(day);
                QVERIFY(when);
                const auto counted = recount.find({ pager->identifier(), qint64(when->first) });
                QVERIFY(counted != recount.end());
                QCOMPARE(events.hasAlarms, counted->second.second > 0);
            }
        }
        QCOMPARE(days, recount.size());
        opened.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("stations"));
    }
};

QTEST_GUILESS_MAIN(StationsTest)
#include "tst_stations.moc"
