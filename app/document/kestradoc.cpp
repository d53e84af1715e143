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

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Runs a job on a thread of its own; busy is set before the start and cleared by the job.
template <typename Job> std::thread startJob(std::atomic<bool>& busy, Job job)
{
    busy.store(true);
    return std::thread([&busy, job = std::move(job)]() mutable {
        job();
        busy.store(false);
    });
}

} // namespace

DocumentHost::~DocumentHost() = default;
void DocumentHost::keepAlive() { }
DocumentViews::~DocumentViews() = default;
RemoteRoad::~RemoteRoad() = default;

CKESTRADoc::CKESTRADoc(QObject* parent)
    : QObject(parent)
{
    // Events from the poll thread are filed on the document's own thread.
    connect(this, &CKESTRADoc::remoteEventsArrived, this, &CKESTRADoc::fileRemoteEvents, Qt::QueuedConnection);
}

CKESTRADoc::~CKESTRADoc()
{
    stopBackground();
}

QString CKESTRADoc::title() const
{
    std::lock_guard guard(m_titleLock);
    return m_title;
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
    return worker.succeeded();
}

bool CKESTRADoc::newDocument()
{
    initialise();
    updateTitle();
    return true;
}

bool CKESTRADoc::initialise()
{
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
                tr("Can't connect to server '%1'. Error %2.\nCheck program settings").arg(m_serverText).arg(0),
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
            text = tr("%1 - Remote mode. Connected to server '%2'").arg(app, m_serverText);
            s.setConnected(true);
        } else {
            text = tr("%1 - Remote mode. Not connected").arg(app);
            s.setConnected(false);
        }
    }
    {
        std::lock_guard guard(m_titleLock);
        m_title = text;
    }
    if (m_host)
        m_host->setWindowTitle(text);
}

CPagerList* CKESTRADoc::loadInstrumentList()
{
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
    const QString dateText = LocalTime::format(date, "%Y-%m-%d");
    CPager* pager = m_pagers.find(pagerId);
    if (!pager || dateText.isEmpty())
        return nullptr;
    try {
        if (!pager->isDayLoaded(date)) {
            if (!loadDayJob(m_pagers, pagerId, dateText, queryMode))
                return nullptr;
            // The job may have created the instrument anew only when it was absent; it was not.
            pager = m_pagers.find(pagerId);
            if (!pager)
                return nullptr;
            pager->markDayLoaded(date);
        }
        return pager->dayList(date);
    } catch (const std::exception&) {
        return nullptr; // a date without a local day
    }
}

bool CKESTRADoc::loadDayJob(CPagerList& list, const QString& pagerId, const QString& dateText, int queryMode)
{
    DocState& s = state();
    const bool fromDatabase = s.localMode || dateText.size() > 11;
    HistoryDb* db = HistoryDb::current();
    if (fromDatabase && !db)
        return false;
    if (!fromDatabase && !m_remoteUsable)
        return false;

    bool ok = false;
    QString error;
    Messenger::instance().progressStart(tr("Data reading"), 100);
    std::thread job = startJob(s.jobBusy, [&] {
        try {
            if (fromDatabase) {
                ok = db->loadDayEvents(list, pagerId, dateText, queryMode);
            } else {
                CHistoryList day;
                ok = m_remote->loadDay(pagerId, dateText, queryMode, day);
                if (ok) {
                    CPager& pager = list.findOrCreate(pagerId);
                    for (const ChistoryRec& r : day.records())
                        pager.addEvent(r);
                }
            }
        } catch (const std::exception& e) {
            ok = false;
            error = QString::fromUtf8(e.what());
        }
    });
    waitWhile([&s] { return s.jobBusy.load(); }, 100);
    job.join();
    Messenger::instance().progressStop();
    if (!error.isEmpty())
        Messenger::instance().tell(tr("Database Error!"), error, Messenger::Icon::Error);
    return ok;
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
    DocState& s = state();
    bool ok = false;
    int count = 0;
    QString error;
    Messenger::instance().progressStart(tr("Data writing"), 100);
    std::thread job = startJob(s.jobBusy, [&] { ok = db->insertEvents(events, &count, &error); });
    waitWhile([&s] { return s.jobBusy.load(); }, 100);
    job.join();
    Messenger::instance().progressStop();
    if (!ok)
        Messenger::instance().tell(HistoryDb::errorCaption(), error, Messenger::Icon::Error);
    if (added)
        *added = count;
    return ok;
}

int CKESTRADoc::storePendingDownloads()
{
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
                                  .arg(records.size())
                                  .arg(added));
            return ok;
        },
        &failed);
    for (const QString& path : failed)
        AppLog::write(QStringLiteral("Doc::Spooled download %1 could not be stored; it is kept").arg(path));
    return stored;
}

bool CKESTRADoc::readHistory()
{
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

    // 1, 2. The instrument, found or created with its tree node.
    QString name;
    if (!instrumentName(name))
        return false;
    const bool known = m_pagers.contains(name);
    CPager& pager = m_pagers.findOrCreate(name);
    if (!known) {
        pager.setIndex(m_pagers.count() - 1);
        if (m_views)
            m_views->addInstrumentNode(pager);
    }

    // 3 to 6. The download on a worker thread. The worker gets its own copy of the instrument
    // (for the duplicate test) so that nothing it reads can change under it.
    CHistoryList downloaded;
    bool ok = false;
    QString spoolPath;
    {
        const CPager snapshot(pager);
        DevWorker worker;
        worker.setCommand(DevWorker::ReadHistory);
        worker.setPager(&snapshot);
        worker.setOutputList(&downloaded);
        ok = runWorker(worker, tr("History reading"));
        spoolPath = worker.spoolPath();
    }
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
    const bool committed = storeEvents(pager.identifier(), events, &added);
    if (committed) {
        if (!spoolPath.isEmpty())
            HistorySpool::remove(spoolPath);
    } else {
        AppLog::write(QStringLiteral("Doc::Downloaded events are kept in %1 until they can be stored").arg(spoolPath));
    }
    emit historyStored(pager.identifier(), static_cast<int>(events.size()), added, committed);

    // Each event goes in as the top row, so they are handed over oldest first: the shown
    // list then stays newest first.
    downloaded.sort(); // newest first, stable
    for (auto it = downloaded.records().rbegin(); it != downloaded.records().rend(); ++it)
        addAndShowEvent(pager, *it);
    return true;
}

bool CKESTRADoc::useServer(const QString& serverText)
{
    state().localMode = false;
    m_serverText = serverText;
    const qsizetype colon = m_serverText.indexOf(u':');
    const QString host = colon < 0 ? QString() : m_serverText.left(colon);
    bool numberOk = false;
    const uint port = colon < 0 ? 0 : m_serverText.mid(colon + 1).toUInt(&numberOk);
    m_remoteUsable
        = !host.isEmpty() && numberOk && port > 0 && port <= 65535 && m_remote && m_remote->setServer(m_serverText);
    return m_remoteUsable;
}

void CKESTRADoc::serverUnreachable(int error)
{
    state().setConnected(false);
    // Only the document's own thread talks to the person; the poll thread just fails.
    if (QThread::currentThread() != thread())
        return;
    Messenger::instance().tell(tr("Error!"),
        tr("Can't connect to server '%1'. Error %2.\nCheck program settings").arg(m_serverText).arg(error),
        Messenger::Icon::Question);
    if (m_host)
        m_host->openProgramSettings();
}

bool CKESTRADoc::pollTarget(QString& pagerId, qint64& since) const
{
    if (state().localMode || !m_remoteUsable)
        return false;
    const CPager* pager = m_pagers.find(state().currentInstrument());
    if (!pager)
        return false;
    const std::optional<qint64> latest = pager->latestEventTime();
    if (!latest)
        return false;
    pagerId = pager->identifier();
    since = *latest;
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
    if (state().localMode)
        return DevWorker::readMeasurements(measurements);
    return m_remoteUsable && m_remote->readMeasurements(measurements);
}

bool CKESTRADoc::remotePassword(QString& value)
{
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
    for (const ChistoryRec& r : events.records())
        addAndShowEvent(m_pagers.findOrCreate(r.hPagerID), r);
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
        if (fetchEventsSince(target->pagerId, target->since, events, busy) && !busy && !events.isEmpty())
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
