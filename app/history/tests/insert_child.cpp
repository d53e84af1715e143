// Child of the crash test: stores one large batch into the given store and reports when the
// batch starts, so the parent can kill it in the middle.
#include "history/historydb.h"

#include <QCoreApplication>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    HistoryStore store;
    HistoryDb* db = store.open(QString::fromLocal8Bit(argv[1]), HistoryDb::OpenMode::Create);
    if (!db)
        return 3;
    const int count = std::atoi(argv[2]);
    std::vector<ChistoryRec> batch(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        ChistoryRec& r = batch[static_cast<size_t>(i)];
        r.hPagerID = QStringLiteral("CRASH");
        r.hDateTime = 1230000000 + i;
        r.hType = 3;
        r.hValue = i;
        r.hComment = QStringLiteral("event %1").arg(i);
        r.hID = ChistoryRec::makeKey(r.hPagerID, r.hDateTime);
    }
    std::puts("inserting");
    std::fflush(stdout);
    return db->insertEvents(batch) ? 0 : 1;
}
