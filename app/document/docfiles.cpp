// The document's own store and load, and the archiving of the event database.
#include "document/kestradoc.h"

#include "config/applog.h"
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "history/archivestream.h"
#include "history/historydb.h"
#include "history/historyfiles.h"
#include "history/localtime.h"

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
    const CHistoryList* day = dayEvents(s.currentInstrument(), s.currentDate(), 0);
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

bool CKESTRADoc::autoArchive()
{
    const Operation operation(*this);
    HistoryDb* db = m_context.store().current();
    if (!db)
        return false;
    const qint64 now = static_cast<qint64>(std::time(nullptr));
    const QString destination = m_context.folder().path() + HistoryFiles::archiveFileName(now);
    if (!HistoryFiles::archive(messenger(), *db, destination, now))
        return false;
    if (m_views)
        m_views->rebuildTree();
    ProgramConfig& config = m_context.config();
    config.lastArchivingTime = now;
    QString error;
    if (!config.save(&error))
        AppLog::write(QStringLiteral("Doc::The configuration cannot be saved: ") + error);
    return true;
}
