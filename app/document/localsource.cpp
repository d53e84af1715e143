#include "document/localsource.h"

#include "config/applog.h"
#include "device/devworker.h"
#include "device/historyspool.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/messenger.h"

DocumentSource::~DocumentSource() = default;

QString LocalSource::title(bool connected, const QString& name) const
{
    const QString app = CKESTRADoc::tr(CKESTRADoc::ApplicationName);
    return connected ? CKESTRADoc::tr("%1 - Local mode. Connected to instrument '%2'").arg(app, name)
                     : CKESTRADoc::tr("%1 - Local mode. Not connected").arg(app);
}

bool LocalSource::loadInstrumentList(CPagerList& list)
{
    HistoryDb* db = m_doc.context().store().current();
    if (!db)
        return false;
    try {
        return db->loadDaySummary(list, m_doc.messenger());
    } catch (const DbError& e) {
        m_doc.messenger().tell(CKESTRADoc::tr("Database Error!"), QString::fromUtf8(e.what()), Messenger::Icon::Error);
        return false;
    }
}

bool LocalSource::loadDay(const QString& pagerId, const QString& dateText, int queryMode, CPagerList& out)
{
    HistoryDb* db = m_doc.context().store().current();
    return db && db->loadDayEvents(out, pagerId, dateText, queryMode);
}

bool LocalSource::readHistory()
{
    DocState& s = m_doc.state();
    // One download at a time, also when a timer fires while this one waits.
    bool expected = false;
    if (!s.downloadBusy.compare_exchange_strong(expected, true))
        return false;
    struct ClearBusy {
        std::atomic<bool>& flag;
        ~ClearBusy() { flag.store(false); }
    } clearBusy { s.downloadBusy };

    // A download whose commit failed earlier (the store was busy or gone) goes in first.
    if (m_doc.mainDatabaseShown() && !HistorySpool(m_doc.context().device().spoolFolder()).pending().isEmpty())
        m_doc.storePendingDownloads();

    // The instrument, found or created with its tree node. It is found again by name after
    // each wait rather than held.
    QString name;
    if (!instrumentName(name))
        return false;
    m_support.ensureInstrument(name);

    // The download on a worker thread. The worker gets its own copy of the instrument (for
    // the duplicate test) so that nothing it reads can change under it.
    CHistoryList downloaded;
    bool ok = false;
    QString spoolPath;
    QString spoolError;
    {
        const CPager snapshot(*m_doc.pagers().find(name));
        DevWorker worker(m_doc.context().device());
        worker.setCommand(DevWorker::ReadHistory);
        worker.setPager(&snapshot);
        worker.setOutputList(&downloaded);
        ok = m_support.runWorker(worker, CKESTRADoc::tr("History reading"), Messenger::ProgressKind::Bar);
        spoolPath = worker.spoolPath();
        spoolError = worker.spoolError();
    }
    // The records could not be kept on disk, so the instrument still holds them.
    if (!spoolError.isEmpty())
        m_support.tellError(spoolError);
    s.setConnected(ok);
    if (!ok)
        return false;
    if (downloaded.isEmpty()) {
        // Every record was a duplicate of one already held: the spool is committed already.
        if (!spoolPath.isEmpty())
            HistorySpool::remove(spoolPath);
        return false;
    }

    // Commit, then drop the spool; a failed commit keeps the spool for the next start.
    const std::vector<ChistoryRec> events(downloaded.records().begin(), downloaded.records().end());
    int added = 0;
    const bool committed = m_doc.storeEvents(name, events, &added);
    if (committed) {
        if (!spoolPath.isEmpty())
            HistorySpool::remove(spoolPath);
    } else if (!spoolPath.isEmpty()) {
        AppLog::write(QStringLiteral("Doc::Downloaded events are kept in %1 until they can be stored").arg(spoolPath));
    } else {
        AppLog::write(QStringLiteral("Doc::Downloaded events could not be stored; the instrument keeps them"));
    }
    emit m_doc.historyStored(name, static_cast<int>(events.size()), added, committed);
    m_support.addAndShowEvents(name, downloaded);
    return true;
}

bool LocalSource::readMeasurements(CMeasurements& out)
{
    return DevWorker::readMeasurements(m_doc.context().device(), out, m_doc.context().viewFlags().unitsRoentgen());
}

bool LocalSource::readUserParams(CUserParams& params)
{
    AppLog::write("Doc::User Params request begin");
    DevWorker worker(m_doc.context().device());
    worker.setCommand(DevWorker::ReadUserParams);
    worker.setUserParams(&params);
    AppLog::write("Doc:: DataWorker ready.");
    const bool ok
        = m_support.runWorker(worker, CKESTRADoc::tr("Reading instrument settings"), Messenger::ProgressKind::Window);
    AppLog::write(QStringLiteral("Doc::User Params request end. Result:%1\n").arg(ok ? "true" : "false"));
    return ok;
}

bool LocalSource::writeUserParams(const CUserParams& params)
{
    CUserParams input = params;
    DevWorker worker(m_doc.context().device());
    worker.setCommand(DevWorker::WriteUserParams);
    worker.setUserParams(&input);
    return m_support.runWorker(worker, CKESTRADoc::tr("Reading instrument settings"), Messenger::ProgressKind::Window);
}

bool LocalSource::instrumentName(QString& name)
{
    return DevWorker::instrumentName(m_doc.context().device(), name);
}

bool LocalSource::units()
{
    return m_doc.state().connected() && DevWorker::readUnits(m_doc.context().device(), m_doc.context().viewFlags());
}

bool LocalSource::updateComment(const ChistoryRec& record)
{
    HistoryDb* db = m_doc.context().store().current();
    if (!db)
        return false;
    // The store may wait for another writer's lock: in a job, not on the document's thread.
    bool stored = false;
    m_support.runAside(CKESTRADoc::tr("Data writing"), [&] {
        try {
            stored = db->updateComment(record);
        } catch (const DbError& e) {
            m_doc.messenger().tell(
                CKESTRADoc::tr("Database Error!"), QString::fromUtf8(e.what()), Messenger::Icon::Error);
        }
    });
    return stored;
}
