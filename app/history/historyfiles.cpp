#include "history/historyfiles.h"

#include "history/archivestream.h"
#include "history/historydb.h"
#include "history/historyexport.h"
#include "history/localtime.h"
#include "history/messenger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <vector>

namespace HistoryFiles {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("HistoryFiles", text);
}

bool tellFileError(Messenger& messenger, const QString& text)
{
    messenger.tell(tr("Error!"), text, Messenger::Icon::Error);
    return false;
}

// Writes the bytes whole or not at all: an existing file is replaced only on success.
bool writeFile(Messenger& messenger, const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return tellFileError(messenger, tr("The file %1 cannot be written: %2").arg(path, file.errorString()));
    return true;
}

} // namespace

QString archivesFolder(const QString& programFolder)
{
    const QString folder = QDir(programFolder).filePath(QStringLiteral("Archives"));
    return QDir().mkpath(folder) ? folder : QString();
}

QString proposedName(const QString& pagerId, qint64 now)
{
    return QStringLiteral("%1[%2]").arg(pagerId, LocalTime::format(now, "%Y-%m-%d"));
}

QString archiveFileName(qint64 now)
{
    return QStringLiteral("DBArchive[%1].db").arg(LocalTime::format(now, "%Y-%m-%d"));
}

bool exportDay(Messenger& messenger, const CHistoryList* day, const QString& path, int filterIndex)
{
    QByteArray bytes;
    if (day) {
        StreamWriter out(&bytes, filterIndex);
        day->write(out);
    }
    return writeFile(messenger, path, bytes);
}

void addImported(CPager& pager, const ChistoryRec& record)
{
    CHistoryList& day = pager.ensureDay(record.hDateTime);
    if (day.loaded && !day.findEqual(record))
        day.addRecord(record);
}

bool importFile(
    Messenger& messenger, const QString& path, CPagerList& list, HistoryDb& db, const ImportHooks& hooks, int* added)
{
    std::vector<ChistoryRec> stored;
    if (!readAndStore(messenger, path, db, stored, added))
        return false;
    for (const ChistoryRec& r : stored) {
        const bool known = list.contains(r.hPagerID);
        CPager& pager = list.findOrCreate(r.hPagerID);
        if (!known && hooks.instrumentCreated)
            hooks.instrumentCreated(pager);
        if (hooks.addAndShow)
            hooks.addAndShow(pager, r);
        else
            addImported(pager, r);
    }
    return true;
}

bool readAndStore(
    Messenger& messenger, const QString& path, HistoryDb& db, std::vector<ChistoryRec>& stored, int* added)
{
    stored.clear();
    if (added)
        *added = 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return tellFileError(messenger, tr("The file %1 cannot be opened: %2").arg(path, file.errorString()));
    CHistoryList incoming;
    try {
        StreamReader in(&file);
        incoming.read(in);
    } catch (const StreamError& e) {
        return tellFileError(
            messenger, tr("The file %1 is not a history export: %2").arg(path, QString::fromUtf8(e.what())));
    }
    // A record whose time has no local day the store can hold could neither be filed nor
    // shown nor removed as old; like a file that cannot be read, the whole file is refused.
    for (const ChistoryRec& r : incoming.records()) {
        if (!HistoryDb::canStoreTime(r.hDateTime))
            return tellFileError(messenger,
                tr("The file %1 holds an event with an impossible time (%2 seconds since 1970)")
                    .arg(path, QString::number(r.hDateTime)));
    }

    // Group per instrument in the order the instruments first appear.
    std::vector<QString> order;
    std::map<QString, std::vector<ChistoryRec>> groups;
    for (const ChistoryRec& r : incoming.records()) {
        auto [it, isNew] = groups.try_emplace(r.hPagerID);
        if (isNew)
            order.push_back(r.hPagerID);
        it->second.push_back(r);
    }
    std::vector<ChistoryRec> batch;
    batch.reserve(static_cast<size_t>(incoming.size()));
    for (const QString& id : order)
        batch.insert(batch.end(), groups[id].begin(), groups[id].end());
    QString error;
    if (!db.insertEvents(batch, added, &error)) {
        messenger.tell(HistoryDb::errorCaption(), error, Messenger::Icon::Error);
        return false;
    }
    stored = std::move(batch);
    return true;
}

QByteArray textLines(const CHistoryList& day, int filterIndex, bool unitsRoentgen)
{
    QString text;
    for (const ChistoryRec& r : day.records()) {
        if (filterIndex == 1 && !r.isAlarm())
            continue;
        using HistoryExport::spreadsheetText;
        text += r.dateText() + QLatin1Char('\t') + r.timeText() + QLatin1Char('\t') + r.eventTypeText()
            + QLatin1Char('\t') + spreadsheetText(r.valueText(unitsRoentgen)) + QLatin1Char('\t') + r.alarmText()
            + QLatin1Char('\t') + spreadsheetText(r.commentText()) + QLatin1Char('\n');
    }
    return text.toLocal8Bit();
}

bool saveAsText(Messenger& messenger, const CHistoryList* day, const QString& path, int filterIndex, bool unitsRoentgen)
{
    return writeFile(messenger, path, day ? textLines(*day, filterIndex, unitsRoentgen) : QByteArray());
}

bool archive(Messenger& messenger, HistoryDb& db, const QString& destination, qint64 now)
{
    QString error;
    int code = 0;
    QString written;
    if (!db.archiveTo(destination, now, &error, &code, &written)) {
        messenger.tell(tr("Error!"),
            tr("Error during database archiving!\nError:%1").arg(code) + QLatin1Char('\n') + error,
            Messenger::Icon::Error);
        return false;
    }
    // An archive never replaces another: the person learns the name the copy took instead.
    messenger.tell(tr("Attention!"),
        written == destination
            ? tr("Database is successfully archived")
            : tr("Database is successfully archived into %1 (%2 exists already)").arg(written, destination),
        Messenger::Icon::Information);
    return true;
}

} // namespace HistoryFiles
