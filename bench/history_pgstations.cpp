// Four stations storing into one PostgreSQL store at once: four threads, each with its own
// connection and instrument, insert 100,000 events each through the store's insert, in
// downloads of a given size (one transaction each). Prints events per second.
//
// Needs a server: run without KESTRA_TEST_PG set, it runs itself under scripts/pg-test-cluster
// --durable (a throwaway cluster with the server's usual syncing to disk).
#include "benchevents.h"
#include "history/historydb.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Stations = 4;
constexpr int EventsPerStation = 100000;
const qint64 Start = 1609459200; // 2021-01-01 UTC

// A new database of that name on the server of KESTRA_TEST_PG; its address, or empty.
QString freshDatabase(const QString& name)
{
    const QString server = qEnvironmentVariable("KESTRA_TEST_PG");
    QString address;
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
        admin.setDatabaseName(QStringLiteral("postgres"));
        QSqlQuery q(admin);
        if (admin.open() && q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name))
            && q.exec(QStringLiteral("CREATE DATABASE %1").arg(name)))
            address = server.left(server.lastIndexOf(u'/') + 1) + name;
        else
            std::fprintf(stderr, "no database: %s\n", qPrintable(admin.lastError().text() + q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    return address;
}

// Seconds for four stations storing EventsPerStation events each in downloads of `download`
// events; `shared`: the four store the same instrument's events (every event but the first
// copy is skipped by the uniqueness rule).
double run(const QString& name, int download, bool shared)
{
    const QString address = freshDatabase(name);
    if (address.isEmpty())
        return -1;
    HistoryStore store;
    HistoryDb* db = store.open(address, HistoryDb::OpenMode::Create);
    if (!db) {
        std::fprintf(stderr, "the store cannot be opened\n");
        return -1;
    }
    std::vector<std::vector<ChistoryRec>> events(Stations);
    for (int s = 0; s < Stations; ++s) {
        const QString id = QStringLiteral("KESTRA #%1").arg(shared ? 3000 : 3000 + s);
        for (int i = 0; i < EventsPerStation; ++i)
            events[s].push_back(benchEvent(id, Start + qint64(i) * 60, i));
    }
    std::atomic<int> failures { 0 };
    QElapsedTimer timer;
    timer.start();
    std::vector<std::thread> threads;
    for (int s = 0; s < Stations; ++s) {
        threads.emplace_back([&, s] {
            const std::span<const ChistoryRec> all(events[s]);
            for (std::size_t at = 0; at < all.size(); at += download) {
                QString error;
                if (!db->insertEvents(
                        all.subspan(at, std::min<std::size_t>(download, all.size() - at)), nullptr, &error)) {
                    ++failures;
                    std::fprintf(stderr, "%s\n", qPrintable(error));
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    const double seconds = timer.nsecsElapsed() / 1e9;
    return failures > 0 ? -1 : seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("KESTRA_TEST_PG")) {
        std::vector<char*> args { const_cast<char*>(PG_CLUSTER), const_cast<char*>("--durable") };
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execv(PG_CLUSTER, args.data());
        std::perror(PG_CLUSTER);
        return 1;
    }
    QCoreApplication app(argc, argv);
    struct Case {
        const char* name;
        int download;
        bool shared;
    };
    const Case cases[] = {
        { "downloads_1000", 1000, false },
        { "downloads_10000", 10000, false },
        { "one_download", EventsPerStation, false },
        { "same_instrument_1000", 1000, true },
    };
    int status = 0;
    for (const Case& c : cases) {
        const double seconds = run(QString::fromLatin1(c.name), c.download, c.shared);
        if (seconds < 0) {
            status = 1;
            continue;
        }
        std::printf("%-22s %d stations x %d events in downloads of %6d: %7.2f s, %9.0f events/s\n", c.name, Stations,
            EventsPerStation, c.download, seconds, Stations * EventsPerStation / seconds);
        std::fflush(stdout);
    }
    return status;
}
