// The document's own store and load, and the archiving of the event database.
#include "document/kestradoc.h"

#include "config/applog.h"
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "history/archivestream.h"
#include "history/historydb.h"
#include "history/historyfiles.h"
#include "history/localtime.h"
#include "history/querymode.h"

#include <ctime>

bool CKESTRADoc::loadFrom(QIODevice* device)
{
    const Operation operation(*this);
    try {
        StreamReader in(device);
        m_pagers.read(in);
    } catch (const StreamError& e) {
        tellError(tr("The document cannot be read: %1").arg(QString::fromUtf8(e.what())));
        return false;
    }
    for (int i = 0; i < m_pagers.count(); ++i)
        m_pagers.instrumentAt(i)->setIndex(i);
    return true;
}

bool CKESTRADoc::storeTo(QIODevice* device)
{
    const Operation operation(*this);
    const DocState& s = state();
    const CHistoryList* day = dayEvents(s.currentInstrument(), s.currentDate(), QueryMode::AllEvents);
    if (!day)
        return false;
    try {
        StreamWriter out(device, m_context.viewFlags().filterIndex());
        day->write(out);
    } catch (const StreamError& e) {
        tellError(tr("The document cannot be written: %1").arg(QString::fromUtf8(e.what())));
        return false;
    }
    return true;
}

bool CKESTRADoc::importHistory(const QString& path, int* added)
{
    const Operation operation(*this);
    HistoryDb* db = m_context.store().current();
    if (!db) {
        tellError(tr("No event database is open."));
        return false;
    }
    bool ok = false;
    std::vector<ChistoryRec> stored;
    if (!runJob(tr("Data writing"), [&] { ok = HistoryFiles::readAndStore(messenger(), path, *db, stored, added); })
        || !ok)
        return false;
    for (const ChistoryRec& r : stored) {
        ensureInstrument(r.hPagerID);
        addAndShowEvent(*m_pagers.find(r.hPagerID), r);
    }
    return true;
}

bool CKESTRADoc::renameInstrument(const QString& pagerId, const QString& name)
{
    const Operation operation(*this);
    CPager* pager = m_pagers.find(pagerId);
    if (!pager)
        return false;
    pager->setName(name);
    m_pagers.setTableName(pagerId, name);
    HistoryDb* db = m_context.store().current();
    if (!db)
        return false;
    CPager named(pagerId); // the job gets its own copy: the list stays this thread's
    named.setName(name);
    bool saved = false;
    QString error;
    const bool ran = runJob(tr("Data writing"), [&] {
        try {
            saved = db->saveInstrumentName(named);
        } catch (const DbError& e) {
            error = QString::fromUtf8(e.what());
        }
    });
    if (!error.isEmpty())
        messenger().tell(tr("Database Error!"), error, Messenger::Icon::Error);
    return ran && saved;
}

bool CKESTRADoc::archiveDue(qint64 last, qint64 now, int intervalMonths)
{
    if (intervalMonths <= 0)
        return false;
    const qint64 days = (now - last) / 86400;
    return days > qint64(intervalMonths) * 30;
}

bool CKESTRADoc::autoArchiveCheck(qint64 now)
{
    ProgramConfig& config = m_context.config();
    if (config.archivingInterval == 0)
        return false;
    const std::optional<qint64> t0 = LocalTime::fromLocal(1999, 12, 31);
    if (t0 && config.lastArchivingTime >= *t0) {
        if (archiveDue(config.lastArchivingTime, now, config.archivingInterval))
            return autoArchive();
        return false;
    }
    // Never archived: start counting from now.
    config.lastArchivingTime = now;
    QString error;
    if (!config.save(&error))
        AppLog::write(QStringLiteral("Doc::The configuration cannot be saved: ") + error);
    return false;
}

bool CKESTRADoc::archiveTo(const QString& destination, qint64 now)
{
    const Operation operation(*this);
    HistoryDb* db = m_context.store().current();
    if (!db) {
        tellError(tr("No event database is open."));
        return false;
    }
    // A copy of a large store takes a while: a job, whose words are told once it has ended.
    HeldMessenger held;
    bool archived = false;
    const bool ran = runJob(tr("Archiving"), [&] { archived = HistoryFiles::archive(held, *db, destination, now); });
    held.tellAll(messenger());
    if (!ran || !archived)
        return false;
    if (m_views)
        m_views->rebuildTree();
    return true;
}

bool CKESTRADoc::autoArchive()
{
    const Operation operation(*this);
    const qint64 now = static_cast<qint64>(std::time(nullptr));
    if (!archiveTo(m_context.folder().path() + HistoryFiles::archiveFileName(now), now))
        return false;
    ProgramConfig& config = m_context.config();
    config.lastArchivingTime = now;
    QString error;
    if (!config.save(&error))
        AppLog::write(QStringLiteral("Doc::The configuration cannot be saved: ") + error);
    return true;
}
