// Opening a large event file: the open itself, and the open plus the instrument list that
// `kestra-cli instruments` shows, warm (file in the page cache) and cold (the file's pages
// dropped from the cache with posix_fadvise), after a clean end and after an unclean one
// (which reads the whole file).
//
//   bench_history_open [EVENTS]      (default 10000000; the store is made once under $TMPDIR)
#include "benchevents.h"
#include "history/historydb.h"
#include "history/messenger.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const qint64 start = 1199174400; // 2008-01-01 UTC
constexpr int Instruments = 50;

// Drops the file's pages from the page cache (no root needed for clean pages).
void dropCache(const QString& path)
{
    for (const QString& file : { path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm") }) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

bool makeStore(const QString& path, qint64 events)
{
    HistoryStore stores;
    QString error;
    HistoryDb* db = stores.open(path, HistoryDb::OpenMode::Create, &error);
    if (!db) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const qint64 each = events / Instruments;
    const qint64 step = std::max<qint64>(1, 5 * 365 * 86400LL / std::max<qint64>(1, each)); // five years
    std::vector<ChistoryRec> batch;
    int i = 0;
    for (int p = 0; p < Instruments; ++p) {
        const QString id = QStringLiteral("KESTRA #%1").arg(3000 + p);
        for (qint64 e = 0; e < each;) {
            batch.clear();
            for (int k = 0; k < 200000 && e < each; ++k, ++e, ++i)
                batch.push_back(benchEvent(id, start + e * step, i));
            if (!db->insertEvents(batch, nullptr, &error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return false;
            }
        }
        std::fprintf(stderr, "made %d of %d instruments\n", p + 1, Instruments);
    }
    return true;
}

struct Timing {
    double openMs;
    double listMs;
};

Timing openOnce(const QString& path, bool cold, bool unclean)
{
    if (unclean) {
        // The mark a program that crashed leaves: the next open reads the whole file.
        QFile mark(path + QStringLiteral(".open-2147483646-1"));
        mark.open(QIODevice::WriteOnly);
    }
    if (cold)
        dropCache(path);
    LogMessenger messenger;
    HistoryStore stores;
    QElapsedTimer timer;
    timer.start();
    HistoryDb* db = stores.open(path);
    const qint64 opened = timer.nsecsElapsed();
    CPagerList list;
    if (!db || !db->loadDaySummary(list, messenger) || list.count() != Instruments) {
        std::fprintf(stderr, "the store could not be read\n");
        std::exit(1);
    }
    return { opened / 1e6, timer.nsecsElapsed() / 1e6 };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 events = argc > 1 ? std::atoll(argv[1]) : 10000000;
    if (events < Instruments) {
        std::fprintf(stderr, "usage: bench_history_open [EVENTS >= %d]\n", Instruments);
        return 2;
    }
    const QString path = QDir::temp().filePath(QStringLiteral("kestra-bench-open-%1.db").arg(events));
    if (!QFile::exists(path)) {
        QElapsedTimer made;
        made.start();
        if (!makeStore(path, events))
            return 1;
        std::printf("made %lld events in %.0f s\n", static_cast<long long>(events), made.elapsed() / 1000.0);
    }
    std::printf("store %s: %lld events, %.0f MB\n", qPrintable(path), static_cast<long long>(events),
        QFileInfo(path).size() / 1e6);
    const struct {
        const char* name;
        bool cold;
        bool unclean;
        int runs;
    } cases[] = {
        { "warm, clean end", false, false, 7 },
        { "cold, clean end", true, false, 5 },
        { "warm, after an unclean end", false, true, 3 },
        { "cold, after an unclean end", true, true, 2 },
    };
    openOnce(path, false, false); // the first open after making it
    for (const auto& c : cases) {
        std::vector<Timing> runs;
        for (int r = 0; r < c.runs; ++r)
            runs.push_back(openOnce(path, c.cold, c.unclean));
        std::sort(runs.begin(), runs.end(), [](const Timing& a, const Timing& b) { return a.listMs < b.listMs; });
        const Timing& median = runs[runs.size() / 2];
        std::printf("%-28s open %8.1f ms   open + instrument list %8.1f ms   (median of %d)\n", c.name, median.openMs,
            median.listMs, c.runs);
    }
    return 0;
}
