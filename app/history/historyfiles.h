#pragma once

#include "history/pagerlist.h"

#include <QString>

#include <functional>
#include <vector>

class HistoryDb;
class Messenger;

// The history files: export (one list stream, ".ksexp"), import, tab-separated text (".xls")
// and the archive copy. The file dialogs belong to the window; these take paths. Failures are
// told to the person through the messenger passed in and return false.
namespace HistoryFiles {

// "<Archives>" under the program folder, created when missing; empty when it cannot be made.
QString archivesFolder(const QString& programFolder);
// "%s[%s]" of the instrument and the local date of now ("%Y-%m-%d"); no extension.
QString proposedName(const QString& pagerId, qint64 now);
// "DBArchive[%s].db" with the local date of now.
QString archiveFileName(qint64 now);

// Writes the day's list stream under the filter rule. With no day the file is made empty.
bool exportDay(Messenger& messenger, const CHistoryList* day, const QString& path, int filterIndex);

// What the document does with each imported record; the default files it in memory as the
// event list expects: the day is created when new, and a loaded day receives the record
// unless it already holds an equal one.
struct ImportHooks {
    std::function<void(CPager&)> instrumentCreated;
    std::function<void(CPager&, const ChistoryRec&)> addAndShow;
};
// Reads one list stream and stores every record in one transaction; only then are the
// records filed in memory, per instrument, creating unknown instruments. A file that cannot
// be read or stored imports nothing. added receives the number of events new to the store.
bool importFile(Messenger& messenger, const QString& path, CPagerList& list, HistoryDb& db,
    const ImportHooks& hooks = {}, int* added = nullptr);
// The first half of importFile, which touches no instrument list (a job may run it): reads the
// stream and stores it; stored receives the records, grouped per instrument in the order the
// instruments first appear.
bool readAndStore(
    Messenger& messenger, const QString& path, HistoryDb& db, std::vector<ChistoryRec>& stored, int* added = nullptr);
// The default in-memory filing of one imported record.
void addImported(CPager& pager, const ChistoryRec& record);

// One line per record, "date\ttime\ttype\tvalue\talarm\tcomment\n", in the locale's
// character set; with the filter on "Alarms only" records without alarm text are left out.
QByteArray textLines(const CHistoryList& day, int filterIndex, bool unitsRoentgen);
bool saveAsText(
    Messenger& messenger, const CHistoryList* day, const QString& path, int filterIndex, bool unitsRoentgen);

// The archive step: a consistent copy of the open store to destination (another name when that
// is taken, HistoryDb::archiveTo), then removal of the events before yesterday. Tells
// "Database is successfully archived" (with the name used when it is not destination) or the
// error.
bool archive(Messenger& messenger, HistoryDb& db, const QString& destination, qint64 now);

} // namespace HistoryFiles
