#include "kestradoc.h"

#include "applog.h"
#include "archivestream.h"
#include "devworker.h"
#include "driverlock.h"
#include "historydb.h"
#include "historyfiles.h"
#include "historyspool.h"
#include "localtime.h"
#include "measurements.h"
#include "messenger.h"
#include "portdiscovery.h"
#include "programconfig.h"
#include "programfolder.h"
#include "remoteprotocol.h"
#include "userparams.h"
#include "viewflags.h"

#include <KESTRAdrv.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace {

qint64 nowSeconds()
{
    return static_cast<qint64>(std::time(nullptr));
}

// Set on the remote poll thread, whose failures are told once per outage.
thread_local bool t_pollThread = false;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Files the days of `from` into `into`: a day that holds nothing yet takes them as they are,
// else only the events it lacks are added.
void mergeDays(CPager& into, const CPager& from)
{
    for (const auto& [day, list] : from.days()) {
        CHistoryList* target = into.dayList(day);
        if (!target || target->isEmpty()) {
            CHistoryList& fresh = into.ensureDay(day);
            const bool loaded = fresh.loaded;
            fresh = list;
            fresh.loaded = loaded;
            continue;
        }
        for (const ChistoryRec& r : list.records()) {
            if (!target->findEqual(r))
                target->addRecord(r);
        }
    }
}

} // namespace

CKESTRADoc::Operation::Operation(CKESTRADoc& doc)
    : m_doc(QThread::currentThread() == doc.thread() ? &doc : nullptr)
{
    if (m_doc)
        ++m_doc->m_depth;
}

CKESTRADoc::Operation::~Operation()
{
    if (!m_doc || --m_doc->m_depth > 0 || m_doc->m_deferred.empty() || m_doc->m_deferredPosted)
        return;
    // Not from here: the caller of the operation may still hold what the work would change.
    m_doc->m_deferredPosted = true;
    QMetaObject::invokeMethod(m_doc, &CKESTRADoc::runDeferred, Qt::QueuedConnection);
}

void CKESTRADoc::whenIdle(std::function<void()> work)
{
    if (m_depth == 0 && m_deferred.empty()) {
        work();
        return;
    }
    m_deferred.push_back(std::move(work));
    if (m_depth == 0 && !m_deferredPosted) {
        m_deferredPosted = true;
        QMetaObject::invokeMethod(this, &CKESTRADoc::runDeferred, Qt::QueuedConnection);
    }
}

void CKESTRADoc::runDeferred()
{
    m_deferredPosted = false;
    // Reached inside a later operation's wait: that operation posts again when it ends.
    while (m_depth == 0 && !m_deferred.empty()) {
        const std::function<void()> work = std::move(m_deferred.front());
        m_deferred.pop_front();
        work();
    }
}

DocumentHost::~DocumentHost() = default;
void DocumentHost::keepAlive() { }
DocumentViews::~DocumentViews() = default;
RemoteRoad::~RemoteRoad() = default;

CKESTRADoc::CKESTRADoc(QObject* parent)
    : QObject(parent)
{
    // Events from the poll thread are filed on the document's own thread, once it is idle.
    connect(
        this, &CKESTRADoc::remoteEventsArrived, this,
        [this](const CHistoryList& events) { whenIdle([this, events] { fileRemoteEvents(events); }); },
        Qt::QueuedConnection);
}

CKESTRADoc::~CKESTRADoc()
{
    stopBackground();
}

QString CKESTRADoc::title() const
{
    std::lock_guard guard(m_textLock);
    return m_title;
}

QString CKESTRADoc::serverText() const
{
    std::lock_guard guard(m_textLock);
    return m_serverText;
}

void CKESTRADoc::tellError(const QString& text)
{
    Messenger::instance().tell(tr("Error!"), text, Messenger::Icon::Error);
}

void CKESTRADoc::waitWhile(const std::function<bool()>& busy, int periodMs)
{
    while (busy()) {
        if (m_host)
            m_host->keepAlive();
        sleepMs(periodMs);
        Messenger::instance().progressStep();
    }
}

bool CKESTRADoc::runWorker(DevWorker& worker, const QString& progressText)
{
    if (m_jobRunning)
        return false;
    const Operation operation(*this);
    m_jobRunning = true;
    worker.setPortName(state().portName());
    Messenger::instance().progressStart(progressText, 100);
    worker.setBusy(true);
    worker.start();
    if (worker.command() != DevWorker::ReadHistory)
        AppLog::write("Doc:: Thread started.");
    waitWhile([&worker] { return worker.isBusy(); }, 50);
    worker.wait();
    if (worker.command() != DevWorker::ReadHistory)
        AppLog::write("Doc:: Thread exited.");
    Messenger::instance().progressStop();
    m_jobRunning = false;
    return worker.succeeded();
}

bool CKESTRADoc::runJob(const QString& progressText, const std::function<void()>& job)
{
    DocState& s = state();
    if (m_jobRunning || s.jobBusy.load())
        return false;
    const Operation operation(*this);
    m_jobRunning = true;
    Messenger::instance().progressStart(progressText, 100);
    s.jobBusy = true;
    std::thread thread([&job, &s] {
        job();
        s.jobBusy = false;
    });
    waitWhile([&s] { return s.jobBusy.load(); }, 100);
    thread.join();
    Messenger::instance().progressStop();
    m_jobRunning = false;
    return true;
}

bool CKESTRADoc::newDocument()
{
    initialise();
    updateTitle();
    return true;
}

bool CKESTRADoc::initialise()
{
    const Operation operation(*this);
    ProgramConfig& config = ProgramConfig::instance();
    DocState& s = state();

    // 1. The database: the archive being viewed, else the main one (created when absent).
    bool dbOpen = false;
    QString dbError;
    if (!m_archivePath.isEmpty())
        dbOpen = HistoryDb::open(m_archivePath, HistoryDb::OpenMode::Existing, &dbError) != nullptr;
    else
        dbOpen = HistoryDb::open(ProgramFolder::filePath(config.databasePath), HistoryDb::OpenMode::Create, &dbError)
            != nullptr;
    if (!dbOpen) {
        if (!dbError.isEmpty())
            Messenger::instance().tell(HistoryDb::errorCaption(), dbError, Messenger::Icon::Error);
        tellError(tr("Error during connection to database!"));
        if (m_host)
            m_host->exitApplication();
    }

    // 3. Mode and the copies of the settings the background threads read.
    s.localMode = config.localMode;
    s.timeSynchronize = config.timeSynchronize;
    s.downloadingInterval = config.downloadingInterval;

    if (s.localMode) {
        // Downloads that an earlier run cleared from the instrument but never committed come
        // first, before anything else touches the instrument.
        if (dbOpen && mainDatabaseShown())
            storePendingDownloads();

        // 4.1 The port: the override, else discovery, else the configured one.
        if (m_portOverride.isEmpty() && config.autoDetect) {
            QString found;
            if (PortDiscovery().findBridgePort(found)) {
                config.port = found;
            } else if (!m_portQuestionAsked) {
                m_portQuestionAsked = true;
                const int answer = Messenger::instance().ask(tr("Attention!"),
                    tr("COM port is not detected.\nDo you want to check program settings?"),
                    Messenger::Yes | Messenger::No, Messenger::Icon::Question);
                if (answer == Messenger::Yes && m_host)
                    m_host->openProgramSettings();
            }
        }
        // 4.2, 4.3 The next device operation opens the driver again on this port.
        s.setPortName(m_portOverride.isEmpty() ? config.port : m_portOverride);
        {
            std::lock_guard lock(DriverLock::mutex());
            KESTRAdrv_Close();
        }
        s.watcherPoke = true;
        // 4.4 Archiving never runs on an archive being viewed: it would empty that file.
        if (dbOpen && mainDatabaseShown())
            autoArchiveCheck(nowSeconds());
    } else {
        // 5. Remote mode: the server text, then the poll thread.
        if (!useServer(config.remoteServer)) {
            Messenger::instance().tell(tr("Error!"),
                tr("Can't connect to server '%1'. Error %2.\nCheck program settings").arg(serverText(), u"0"),
                Messenger::Icon::Error);
        }
        startPoll();
    }

    // 6.
    updateTitle();
    return dbOpen;
}

void CKESTRADoc::updateTitle()
{
    DocState& s = state();
    const QString app = tr(ApplicationName);
    QString text;
    if (s.localMode) {
        QString name;
        if (instrumentName(name)) {
            text = tr("%1 - Local mode. Connected to instrument '%2'").arg(app, name);
            s.setConnected(true);
        } else {
            text = tr("%1 - Local mode. Not connected").arg(app);
            s.setConnected(false);
        }
    } else {
        QString name;
        if (m_remoteUsable && m_remote->instrumentName(name)) {
            text = tr("%1 - Remote mode. Connected to server '%2'").arg(app, serverText());
            s.setConnected(true);
        } else {
            text = tr("%1 - Remote mode. Not connected").arg(app);
            s.setConnected(false);
        }
    }
    {
        std::lock_guard guard(m_textLock);
        m_title = text;
    }
    if (m_host)
        m_host->setWindowTitle(text);
}

CPagerList* CKESTRADoc::loadInstrumentList()
{
    const Operation operation(*this);
    if (state().localMode) {
        HistoryDb* db = HistoryDb::current();
        if (!db)
            return nullptr;
        try {
            if (!db->loadDaySummary(m_pagers))
                return nullptr;
        } catch (const DbError& e) {
            Messenger::instance().tell(tr("Database Error!"), QString::fromUtf8(e.what()), Messenger::Icon::Error);
            return nullptr;
        }
    } else {
        CPagerList incoming;
        if (!m_remoteUsable || !m_remote->loadInstrumentList(incoming))
            return nullptr;
        m_pagers = std::move(incoming);
    }
    for (int i = 0; i < m_pagers.count(); ++i)
        m_pagers.instrumentAt(i)->setIndex(i);
    return &m_pagers;
}

CHistoryList* CKESTRADoc::dayEvents(const QString& pagerId, qint64 date, int queryMode)
{
    if (queryMode & 1)
        return nullptr; // alarm events only: alarmEvents, which keeps them apart
    const Operation operation(*this);
    const QString dateText = LocalTime::format(date, "%Y-%m-%d");
    if (!m_pagers.find(pagerId) || dateText.isEmpty())
        return nullptr;
    try {
        if (!m_pagers.find(pagerId)->isDayLoaded(date)) {
            if (!loadDayJob(m_pagers, pagerId, dateText, queryMode))
                return nullptr;
            m_pagers.findOrCreate(pagerId).markDayLoaded(date);
        }
        CPager* pager = m_pagers.find(pagerId);
        return pager ? pager->dayList(date) : nullptr;
    } catch (const std::exception&) {
        return nullptr; // a date without a local day
    }
}

CHistoryList CKESTRADoc::alarmEvents(const QString& pagerId, qint64 date, int queryMode)
{
    const Operation operation(*this);
    CHistoryList alarms;
    const CPager* pager = m_pagers.find(pagerId);
    const QString dateText = LocalTime::format(date, "%Y-%m-%d");
    if (!pager || dateText.isEmpty())
        return alarms;
    try {
        const CHistoryList* day = nullptr;
        CPagerList loaded;
        if (pager->isDayLoaded(date)) {
            day = pager->dayList(date);
        } else {
            if (!loadDayJob(loaded, pagerId, dateText, queryMode | 1))
                return alarms;
            const CPager* fetched = loaded.find(pagerId);
            day = fetched ? fetched->dayList(date) : nullptr;
        }
        if (!day)
            return alarms;
        alarms.hasAlarms = day->hasAlarms;
        for (const ChistoryRec& r : day->records()) {
            if (r.isAlarm())
                alarms.addRecord(r);
        }
    } catch (const std::exception&) {
    }
    return alarms;
}

bool CKESTRADoc::loadDayJob(CPagerList& list, const QString& pagerId, const QString& dateText, int queryMode)
{
    const Operation operation(*this);
    const bool fromDatabase = state().localMode || dateText.size() > 11;
    HistoryDb* db = HistoryDb::current();
    if (fromDatabase && !db)
        return false;
    if (!fromDatabase && !m_remoteUsable)
        return false;

    // The job fills a list of its own; it is filed here, on the document's thread.
    bool ok = false;
    QString error;
    CPagerList loaded;
    CHistoryList day;
    const bool ran = runJob(tr("Data reading"), [&] {
        try {
            if (fromDatabase)
                ok = db->loadDayEvents(loaded, pagerId, dateText, queryMode);
            else
                ok = m_remote->loadDay(pagerId, dateText, queryMode, day);
        } catch (const std::exception& e) {
            ok = false;
            error = QString::fromUtf8(e.what());
        }
    });
    if (!ran)
        return false;
    if (!error.isEmpty())
        Messenger::instance().tell(tr("Database Error!"), error, Messenger::Icon::Error);
    if (!ok)
        return false;
    try {
        CPager& pager = list.findOrCreate(pagerId);
        if (fromDatabase) {
            if (const CPager* fetched = loaded.find(pagerId))
                mergeDays(pager, *fetched);
        } else {
            CPager fetched(pagerId);
            for (const ChistoryRec& r : day.records())
                fetched.addEvent(r);
            mergeDays(pager, fetched);
        }
    } catch (const std::invalid_argument&) {
        return false; // an event without a local day
    }
    return true;
}

bool CKESTRADoc::storeEvents(const QString& pagerId, std::span<const ChistoryRec> events, int* added)
{
    if (added)
        *added = 0;
    HistoryDb* db = HistoryDb::current();
    if (!db) {
        AppLog::write(QStringLiteral("Doc::Store events for %1: no database is open").arg(pagerId));
        return false;
    }
    const Operation operation(*this);
    bool ok = false;
    int count = 0;
    QString error;
    if (!runJob(tr("Data writing"), [&] { ok = db->insertEvents(events, &count, &error); }))
        return false;
    if (!ok)
        Messenger::instance().tell(HistoryDb::errorCaption(), error, Messenger::Icon::Error);
    if (added)
        *added = count;
    return ok;
}

int CKESTRADoc::storePendingDownloads()
{
    const Operation operation(*this);
    HistoryDb* db = HistoryDb::current();
    if (!db)
        return 0;
    QStringList failed;
    const int stored = HistorySpool().storePending(
        [&](const QList<ChistoryRec>& records) {
            if (records.isEmpty())
                return true;
            int added = 0;
            const bool ok = storeEvents(records.first().hPagerID, records, &added);
            if (ok)
                AppLog::write(QStringLiteral("Doc::Stored %1 events of an earlier download (%2 new)")
                                  .arg(QString::number(records.size()), QString::number(added)));
            return ok;
        },
        &failed);
    for (const QString& path : failed)
        AppLog::write(QStringLiteral("Doc::Spooled download %1 could not be stored; it is kept").arg(path));
    return stored;
}

bool CKESTRADoc::readHistory()
{
    const Operation operation(*this);
    DocState& s = state();
    if (!s.localMode) {
        // Remote: the server runs its own download; the events come with the next poll.
        QString name;
        if (!m_remoteUsable || !m_remote->instrumentName(name))
            return false;
        if (!m_pagers.contains(name)) {
            CPager& pager = m_pagers.findOrCreate(name);
            pager.setIndex(m_pagers.count() - 1);
            if (m_views)
                m_views->addInstrumentNode(pager);
        }
        Messenger::instance().progressStart(tr("History reading"), 100);
        const bool ok = m_remote->readHistory();
        Messenger::instance().progressStop();
        return ok;
    }

    // One download at a time, also when a timer fires while this one waits.
    bool expected = false;
    if (!s.downloadBusy.compare_exchange_strong(expected, true))
        return false;
    struct ClearBusy {
        std::atomic<bool>& flag;
        ~ClearBusy() { flag.store(false); }
    } clearBusy { s.downloadBusy };

    // A download whose commit failed earlier (the store was busy or gone) goes in first.
    if (mainDatabaseShown() && !HistorySpool().pending().isEmpty())
        storePendingDownloads();

    // 1, 2. The instrument, found or created with its tree node. It is found again by name
    // after each wait rather than held.
    QString name;
    if (!instrumentName(name))
        return false;
    if (!m_pagers.contains(name)) {
        CPager& pager = m_pagers.findOrCreate(name);
        pager.setIndex(m_pagers.count() - 1);
        if (m_views)
            m_views->addInstrumentNode(pager);
    }

    // 3 to 6. The download on a worker thread. The worker gets its own copy of the instrument
    // (for the duplicate test) so that nothing it reads can change under it.
    CHistoryList downloaded;
    bool ok = false;
    QString spoolPath;
    QString spoolError;
    {
        const CPager snapshot(*m_pagers.find(name));
        DevWorker worker;
        worker.setCommand(DevWorker::ReadHistory);
        worker.setPager(&snapshot);
        worker.setOutputList(&downloaded);
        ok = runWorker(worker, tr("History reading"));
        spoolPath = worker.spoolPath();
        spoolError = worker.spoolError();
    }
    // The records could not be kept on disk, so the instrument still holds them.
    if (!spoolError.isEmpty())
        tellError(spoolError);
    s.setConnected(ok);
    if (!ok)
        return false;
    if (downloaded.isEmpty()) {
        // Every record was a duplicate of one already held: the spool is committed already.
        if (!spoolPath.isEmpty())
            HistorySpool::remove(spoolPath);
        return false;
    }

    // 7. Commit, then drop the spool; a failed commit keeps the spool for the next start.
    const std::vector<ChistoryRec> events(downloaded.records().begin(), downloaded.records().end());
    int added = 0;
    const bool committed = storeEvents(name, events, &added);
    if (committed) {
        if (!spoolPath.isEmpty())
            HistorySpool::remove(spoolPath);
    } else if (!spoolPath.isEmpty()) {
        AppLog::write(QStringLiteral("Doc::Downloaded events are kept in %1 until they can be stored").arg(spoolPath));
    } else {
        AppLog::write(QStringLiteral("Doc::Downloaded events could not be stored; the instrument keeps them"));
    }
    emit historyStored(name, static_cast<int>(events.size()), added, committed);

    // Each event goes in as the top row, so they are handed over oldest first: the shown
    // list then stays newest first.
    downloaded.sort(); // newest first, stable
    CPager& pager = m_pagers.findOrCreate(name);
    for (auto it = downloaded.records().rbegin(); it != downloaded.records().rend(); ++it)
        addAndShowEvent(pager, *it);
    return true;
}

std::vector<ChistoryRec> CKESTRADoc::eventsAfter(const QString& pagerId, qint64 since)
{
    std::vector<ChistoryRec> events;
    if (HistoryDb* db = HistoryDb::current()) {
        try {
            events = db->eventsAfter(pagerId, since);
        } catch (const DbError& e) {
            AppLog::write(QStringLiteral("Doc::Events after a time cannot be read: ") + QString::fromUtf8(e.what()));
        }
    }
    // What memory holds beyond the store: events of a download whose commit failed.
    if (const CPager* pager = m_pagers.find(pagerId)) {
        CHistoryList held;
        pager->copyNewer(held, since);
        const auto stored = events.size();
        for (const ChistoryRec& r : held.records()) {
            if (std::find(events.begin(), events.begin() + stored, r) == events.begin() + stored)
                events.push_back(r);
        }
        if (events.size() > stored) {
            std::stable_sort(events.begin(), events.end(),
                [](const ChistoryRec& a, const ChistoryRec& b) { return a.hDateTime < b.hDateTime; });
        }
    }
    return events;
}

bool CKESTRADoc::useServer(const QString& serverText)
{
    state().localMode = false;
    {
        std::lock_guard guard(m_textLock);
        m_serverText = serverText;
    }
    QString host;
    quint16 port = 0;
    m_remoteUsable = Remote::parseServer(serverText, &host, &port) && m_remote && m_remote->setServer(serverText);
    return m_remoteUsable;
}

void CKESTRADoc::serverUnreachable(int error)
{
    state().setConnected(false);
    if (QThread::currentThread() == thread()) {
        tellUnreachable(error);
        return;
    }
    // A background thread's request is told on the document's thread once it is idle; the poll
    // thread's, which repeat every interval, only once until the server answers again.
    if (t_pollThread && m_outageReported.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this, error] { whenIdle([this, error] { tellUnreachable(error); }); }, Qt::QueuedConnection);
}

void CKESTRADoc::tellUnreachable(int error)
{
    const Operation operation(*this);
    Messenger::instance().tell(tr("Error!"),
        tr("Can't connect to server '%1'. Error %2.\nCheck program settings").arg(serverText(), QString::number(error)),
        Messenger::Icon::Question);
    if (m_host)
        m_host->openProgramSettings();
}

bool CKESTRADoc::pollTarget(QString& pagerId, qint64& since) const
{
    if (state().localMode || !m_remoteUsable)
        return false;
    const CPager* pager = m_pagers.find(state().currentInstrument());
    if (!pager || pager->days().empty())
        return false;
    // The newest event held, or, when the latest day has not been loaded, its start: the
    // poll then carries that day and what followed it, never the whole instrument.
    const auto& [day, list] = *pager->days().rbegin();
    since = list.loaded ? list.latestTime : std::max(list.latestTime, day - 1);
    if (const auto polled = m_polledUpTo.find(pager->identifier()); polled != m_polledUpTo.end())
        since = std::max(since, polled->second);
    pagerId = pager->identifier();
    return true;
}

bool CKESTRADoc::eventsSince(CHistoryList& out, bool& busy)
{
    busy = false;
    QString pagerId;
    qint64 since = 0;
    return pollTarget(pagerId, since) && fetchEventsSince(pagerId, since, out, busy);
}

bool CKESTRADoc::fetchEventsSince(const QString& pagerId, qint64 since, CHistoryList& out, bool& busy)
{
    busy = false;
    if (!m_remoteUsable || !m_remote->eventsSince(pagerId, since, out, busy))
        return false;
    out.sort();
    CHistoryList oldestFirst;
    for (auto it = out.records().rbegin(); it != out.records().rend(); ++it)
        oldestFirst.appendRaw(*it);
    out.clear();
    for (const ChistoryRec& r : oldestFirst.records())
        out.appendRaw(r);
    return true;
}

bool CKESTRADoc::readMeasurements(CMeasurements& measurements)
{
    const Operation operation(*this);
    if (state().localMode)
        return DevWorker::readMeasurements(measurements);
    return m_remoteUsable && m_remote->readMeasurements(measurements);
}

bool CKESTRADoc::remotePassword(QString& value)
{
    const Operation operation(*this);
    if (!m_remoteUsable)
        return false;
    for (;;) {
        if (m_remotePassword.isEmpty()) {
            const std::optional<QString> entered = m_host ? m_host->promptPassword() : std::nullopt;
            if (!entered || entered->isEmpty())
                return false;
            m_remotePassword = *entered;
        }
        switch (m_remote->checkPassword(m_remotePassword)) {
        case RemoteRoad::PasswordAnswer::Accepted:
            value = m_remotePassword;
            return true;
        case RemoteRoad::PasswordAnswer::Unreachable:
            return false;
        case RemoteRoad::PasswordAnswer::Refused:
            m_remotePassword.clear();
            Messenger::instance().tell(tr("Error!"), tr("Incorrect password!"), Messenger::Icon::Error);
            break;
        }
    }
}

bool CKESTRADoc::readUserParams(CUserParams& params)
{
    const Operation operation(*this);
    DocState& s = state();
    if (!s.localMode) {
        QString password;
        return remotePassword(password) && m_remote->readUserParams(params, password);
    }
    AppLog::write("Doc::User Params request begin");
    DevWorker worker;
    worker.setCommand(DevWorker::ReadUserParams);
    worker.setUserParams(&params);
    AppLog::write("Doc:: DataWorker ready.");
    const bool ok = runWorker(worker, tr("Reading instrument settings"));
    AppLog::write(QStringLiteral("Doc::User Params request end. Result:%1\n").arg(ok ? "true" : "false"));
    return ok;
}

bool CKESTRADoc::writeUserParams(const CUserParams& params)
{
    const Operation operation(*this);
    DocState& s = state();
    if (!s.localMode) {
        QString password;
        return remotePassword(password) && m_remote->writeUserParams(params, password);
    }
    CUserParams input = params;
    DevWorker worker;
    worker.setCommand(DevWorker::WriteUserParams);
    worker.setUserParams(&input);
    return runWorker(worker, tr("Reading instrument settings"));
}

bool CKESTRADoc::instrumentName(QString& name)
{
    if (state().localMode)
        return DevWorker::instrumentName(name);
    return m_remoteUsable && m_remote->instrumentName(name);
}

bool CKESTRADoc::units()
{
    DocState& s = state();
    if (s.localMode)
        return s.connected() && DevWorker::readUnits();
    bool roentgen = false;
    if (!m_remoteUsable || !m_remote->units(roentgen))
        return false;
    ViewFlags::instance().setUnitsRoentgen(roentgen);
    return true;
}

bool CKESTRADoc::updateComment(const ChistoryRec& record)
{
    const Operation operation(*this);
    if (!state().localMode)
        return m_remoteUsable && m_remote->updateComment(record);
    HistoryDb* db = HistoryDb::current();
    if (!db)
        return false;
    try {
        return db->updateComment(record);
    } catch (const DbError& e) {
        Messenger::instance().tell(tr("Database Error!"), QString::fromUtf8(e.what()), Messenger::Icon::Error);
        return false;
    }
}

bool CKESTRADoc::downloadFromRemote(const QString& pagerId, qint64 date)
{
    const Operation operation(*this);
    if (pagerId.isEmpty() || date == 0)
        return false;
    const QString dateText = LocalTime::format(date, "%Y-%m-%d");
    if (dateText.isEmpty())
        return false;
    CPagerList temporary;
    const int queryMode = ViewFlags::instance().filterIndex() == ViewFlags::AlarmsOnly ? 5 : 1;
    if (!loadDayJob(temporary, pagerId, dateText, queryMode))
        return false;
    std::vector<ChistoryRec> events;
    for (int i = 0; i < temporary.count(); ++i) {
        for (const auto& [day, list] : temporary.instrumentAt(i)->days())
            events.insert(events.end(), list.records().begin(), list.records().end());
    }
    if (events.empty())
        return true;
    return storeEvents(pagerId, events);
}

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
        StreamWriter out(device);
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
    ProgramConfig& config = ProgramConfig::instance();
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
    HistoryDb* db = HistoryDb::current();
    if (!db)
        return false;
    const qint64 now = nowSeconds();
    const QString destination = ProgramFolder::path() + HistoryFiles::archiveFileName(now);
    if (!HistoryFiles::archive(*db, destination, now))
        return false;
    if (m_views)
        m_views->rebuildTree();
    ProgramConfig& config = ProgramConfig::instance();
    config.lastArchivingTime = now;
    QString error;
    if (!config.save(&error))
        AppLog::write(QStringLiteral("Doc::The configuration cannot be saved: ") + error);
    return true;
}

void CKESTRADoc::addAndShowEvent(CPager& pager, const ChistoryRec& record)
{
    const Operation operation(*this);
    qint64 day = 0;
    try {
        day = LocalTime::dayKey(record.hDateTime);
    } catch (const std::invalid_argument&) {
        return; // no local day to file it under; the database refused it as well
    }
    CHistoryList* list = pager.dayList(day);
    if (!list) {
        list = &pager.ensureDay(day);
        if (m_views)
            m_views->addDayNode(pager.identifier(), day);
    }
    if (!list->loaded || list->findEqual(record))
        return;
    list->addRecord(record);
    const DocState& s = state();
    if (pager.identifier() != s.currentInstrument() || s.currentDate() == 0)
        return;
    try {
        if (LocalTime::dayKey(s.currentDate()) == day && m_views)
            m_views->insertEventAtTop(record);
    } catch (const std::invalid_argument&) {
    }
}

void CKESTRADoc::fileRemoteEvents(const CHistoryList& events)
{
    for (const ChistoryRec& r : events.records()) {
        qint64& polled = m_polledUpTo[r.hPagerID];
        polled = std::max(polled, r.hDateTime);
        addAndShowEvent(m_pagers.findOrCreate(r.hPagerID), r);
    }
}

// ---- background threads ------------------------------------------------------------------

void CKESTRADoc::startWatcher()
{
    DocState& s = state();
    if (s.watcherRunning.load() || !s.localMode.load())
        return;
    if (m_watcher.joinable())
        m_watcher.join();
    s.watcherStop = false;
    s.watcherRunning = true;
    m_watcher = std::thread([this] { watcherLoop(); });
}

void CKESTRADoc::watcherLoop()
{
    DocState& s = state();
    while (s.localMode.load() && !s.watcherStop.load()) {
        for (int i = 0; i < 40 && !s.watcherPoke.load() && !s.watcherStop.load(); ++i)
            sleepMs(50);
        if (s.watcherStop.load())
            break;
        watcherProbe();
        s.watcherPoke = false;
    }
    s.watcherRunning = false;
}

void CKESTRADoc::watcherProbe()
{
    DocState& s = state();
    quint32 status = 0;
    const bool link = DevWorker::readStatus(status);
    if (link != s.connected()) {
        s.setConnected(link);
        updateTitle();
        if (s.connected() && s.timeSynchronize.load())
            DevWorker::synchronizeClock();
    }
    if (s.connected()) {
        const int bits = static_cast<int>(status) & DocState::AlarmMask;
        if (bits != 0 && bits != s.lastStatusBits.load()) {
            s.lastStatusBits = bits;
            emit historyTimerRestartRequested(100);
        }
    }
}

void CKESTRADoc::startPoll()
{
    DocState& s = state();
    if (s.pollRunning.load())
        return;
    if (m_poll.joinable())
        m_poll.join();
    s.pollStop = false;
    s.pollRunning = true;
    m_poll = std::thread([this] { pollLoop(); });
}

void CKESTRADoc::pollLoop()
{
    // What to ask for is read from the instrument list on the document's thread; the poll
    // thread makes only the request, and hands the events back through a queued signal.
    struct Target {
        std::mutex lock;
        bool ready = false;
        bool ok = false;
        QString pagerId;
        qint64 since = 0;
    };
    DocState& s = state();
    t_pollThread = true;
    int ticks = 0;
    while (!s.pollStop.load()) {
        sleepMs(100);
        ++ticks;
        const int due = std::max(1, s.downloadingInterval.load()) * 10;
        if (ticks < due && !s.pollNow.load())
            continue;
        s.pollNow = false;
        ticks = 0;
        auto target = std::make_shared<Target>();
        QMetaObject::invokeMethod(
            this,
            [this, target] {
                QString id;
                qint64 since = 0;
                const bool ok = pollTarget(id, since);
                std::lock_guard lock(target->lock);
                target->ok = ok;
                target->pagerId = id;
                target->since = since;
                target->ready = true;
            },
            Qt::QueuedConnection);
        bool ready = false;
        while (!ready && !s.pollStop.load()) {
            {
                std::lock_guard lock(target->lock);
                ready = target->ready;
            }
            if (!ready)
                sleepMs(100);
        }
        if (!ready || !target->ok)
            continue;
        CHistoryList events;
        bool busy = false;
        if (!fetchEventsSince(target->pagerId, target->since, events, busy))
            continue;
        m_outageReported = false; // the server answers again
        if (!busy && !events.isEmpty())
            emit remoteEventsArrived(events);
    }
    s.pollRunning = false;
}

void CKESTRADoc::stopBackground()
{
    DocState& s = state();
    s.pollStop = true;
    s.watcherStop = true;
    while (s.watcherRunning.load() || s.pollRunning.load())
        sleepMs(50);
    if (m_watcher.joinable())
        m_watcher.join();
    if (m_poll.joinable())
        m_poll.join();
}
