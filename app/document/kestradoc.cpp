#include "document/kestradoc.h"

#include "config/applog.h"
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/devworker.h"
#include "device/driverlock.h"
#include "device/historyspool.h"
#include "device/portdiscovery.h"
#include "history/historydb.h"
#include "history/historytext.h"
#include "history/localtime.h"
#include "history/messenger.h"
#include "history/querymode.h"
#include "history/viewflags.h"

#include <KESTRAdrv.h>

#include <QCoreApplication>
#include <QElapsedTimer>
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
void DocumentHost::keepAlive()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}
DocumentViews::~DocumentViews() = default;

void DocumentViews::refreshEvent(const ChistoryRec&) { }

void DocumentViews::markAlarmDay(const QString&, qint64) { }

void DocumentViews::insertEvents(const std::vector<ChistoryRec>& oldestFirst)
{
    for (const ChistoryRec& r : oldestFirst)
        insertEventAtTop(r);
}

CKESTRADoc::CKESTRADoc(AppContext& context, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_local(*this, *this)
    , m_station(*this, *this)
    , m_source(&m_local)
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
    return m_station.serverText();
}

void CKESTRADoc::tellError(const QString& text)
{
    messenger().tell(tr("Error!"), text, Messenger::Icon::Error);
}

void CKESTRADoc::waitWhile(const std::function<bool()>& busy, int periodMs)
{
    // The job is looked at every millisecond, so that what waits for it (a station's next
    // request) is not held up; the host turns the event loop every 5 ms and the bar steps once
    // a period.
    constexpr int TurnMs = 5;
    QElapsedTimer turn;
    QElapsedTimer step;
    turn.start();
    step.start();
    while (busy()) {
        if (m_host && turn.elapsed() >= TurnMs) {
            m_host->keepAlive();
            turn.restart();
        }
        sleepMs(1);
        if (step.elapsed() >= periodMs) {
            messenger().progressStep();
            step.restart();
        }
    }
    // What the job handed over on its way out (a title, a message) is handled before the
    // operation goes on.
    if (m_host)
        m_host->keepAlive();
}

bool CKESTRADoc::runWorker(DevWorker& worker, const QString& progressText, Messenger::ProgressKind kind)
{
    if (m_jobRunning)
        return false;
    const Operation operation(*this);
    m_jobRunning = true;
    worker.setPortName(state().portName());
    messenger().progressStart(progressText, 100, kind);
    worker.setBusy(true);
    worker.start();
    if (worker.command() != DevWorker::ReadHistory)
        AppLog::write("Doc:: Thread started.");
    waitWhile([&worker] { return worker.isBusy(); }, 50);
    worker.wait();
    if (worker.command() != DevWorker::ReadHistory)
        AppLog::write("Doc:: Thread exited.");
    messenger().progressStop();
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
    messenger().progressStart(progressText, 100);
    s.jobBusy = true;
    std::thread thread([&job, &s] {
        job();
        s.jobBusy = false;
    });
    waitWhile([&s] { return s.jobBusy.load(); }, 100);
    thread.join();
    messenger().progressStop();
    m_jobRunning = false;
    return true;
}

void CKESTRADoc::runAside(const QString& progressText, const std::function<void()>& work)
{
    if (!runJob(progressText, work))
        work();
}

bool CKESTRADoc::initialise()
{
    const Operation operation(*this);
    ProgramConfig& config = m_context.config();
    DocState& s = state();

    // The database: the archive being viewed, else the main one (created when absent). Opened
    // in a job: after an unclean end the whole file is checked, which takes a while.
    bool dbOpen = false;
    QString dbError;
    const QString path = !m_archivePath.isEmpty()            ? m_archivePath
        : StoreAddress::isServerAddress(config.databasePath) ? config.databasePath
                                                             : m_context.folder().filePath(config.databasePath);
    const HistoryDb::OpenMode mode
        = m_archivePath.isEmpty() ? HistoryDb::OpenMode::Create : HistoryDb::OpenMode::Existing;
    const auto open = [&] { dbOpen = m_context.store().open(path, mode, &dbError) != nullptr; };
    runAside(tr("Opening the event database"), open);
    if (!dbOpen) {
        if (!dbError.isEmpty())
            messenger().tell(HistoryDb::errorCaption(), dbError, Messenger::Icon::Error);
        tellError(tr("Error during connection to database!"));
        if (m_host)
            m_host->exitApplication();
    }

    // Mode and the copies of the settings the background threads read.
    s.localMode = config.localMode;
    m_source = s.localMode ? static_cast<DocumentSource*>(&m_local) : &m_station;
    s.timeSynchronize = config.timeSynchronize;
    s.downloadingInterval = config.downloadingInterval;

    if (s.localMode) {
        // Downloads that an earlier run cleared from the instrument but never committed come
        // first, before anything else touches the instrument.
        if (dbOpen && mainDatabaseShown())
            storePendingDownloads();

        // The port: the override, else discovery, else the configured one.
        if (m_portOverride.isEmpty() && config.autoDetect) {
            QString found;
            if (PortDiscovery().findBridgePort(found)) {
                config.port = found;
            } else if (!m_portQuestionAsked) {
                m_portQuestionAsked = true;
                const int answer = messenger().ask(tr("Attention!"),
                    tr("COM port is not detected.\nDo you want to check program settings?"),
                    Messenger::Yes | Messenger::No, Messenger::Icon::Question);
                if (answer == Messenger::Yes && m_host)
                    m_host->openProgramSettings();
            }
        }
        // The next device operation opens the driver again on this port.
        s.setPortName(m_portOverride.isEmpty() ? config.port : m_portOverride);
        closeDriver();
        s.watcherPoke = true;
        // Archiving never runs on an archive being viewed: it would empty that file.
        if (dbOpen && mainDatabaseShown())
            autoArchiveCheck(nowSeconds());
    } else {
        // Remote mode: the server text, then the poll thread.
        if (!useServer(config.remoteServer)) {
            messenger().tell(tr("Error!"),
                tr("Can't connect to server '%1'. Error %2.\nCheck program settings").arg(serverText(), u"0"),
                Messenger::Icon::Error);
        }
        startPoll();
    }

    // The title asks the instrument or the station for its name: in a job too.
    runAside(
        s.localMode ? tr("Connecting to the instrument") : tr("Connecting to the server"), [this] { updateTitle(); });
    return dbOpen;
}

void CKESTRADoc::updateTitle()
{
    // Also run by the instrument watcher's thread.
    DocumentSource* source = m_source.load();
    QString name;
    const bool connected = source->instrumentName(name);
    state().setConnected(connected);
    state().setAttachedInstrument(connected ? name : QString());
    const QString text = source->title(connected, name);
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
    // Read in a job into a list of its own (a large store or a slow station takes a while);
    // the document's list is replaced here, on its own thread.
    CPagerList incoming;
    bool loaded = false;
    if (!runJob(tr("Data reading"), [&] { loaded = m_source.load()->loadInstrumentList(incoming); }) || !loaded)
        return nullptr;
    m_pagers = std::move(incoming);
    for (int i = 0; i < m_pagers.count(); ++i)
        m_pagers.instrumentAt(i)->setIndex(i);
    return &m_pagers;
}

CHistoryList* CKESTRADoc::dayEvents(const QString& pagerId, qint64 date, int queryMode)
{
    if (QueryMode::alarmsOnly(queryMode))
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
    // A date text longer than a date is read from this computer's store in either mode.
    DocumentSource& source = dateText.size() > 11 ? m_local : *m_source.load();

    // The job fills a list of its own; it is filed here, on the document's thread.
    bool ok = false;
    QString error;
    CPagerList loaded;
    const bool ran = runJob(tr("Data reading"), [&] {
        try {
            ok = source.loadDay(pagerId, dateText, queryMode, loaded);
        } catch (const std::exception& e) {
            ok = false;
            error = QString::fromUtf8(e.what());
        }
    });
    if (!ran)
        return false;
    if (!error.isEmpty())
        messenger().tell(tr("Database Error!"), error, Messenger::Icon::Error);
    if (!ok)
        return false;
    CPager& pager = list.findOrCreate(pagerId);
    if (const CPager* fetched = loaded.find(pagerId))
        mergeDays(pager, *fetched);
    return true;
}

bool CKESTRADoc::storeEvents(const QString& pagerId, std::span<const ChistoryRec> events, int* added)
{
    if (added)
        *added = 0;
    HistoryDb* db = m_context.store().current();
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
        messenger().tell(HistoryDb::errorCaption(), error, Messenger::Icon::Error);
    if (added)
        *added = count;
    return ok;
}

int CKESTRADoc::storePendingDownloads()
{
    const Operation operation(*this);
    HistoryDb* db = m_context.store().current();
    if (!db)
        return 0;
    QStringList failed;
    const int stored
        = HistorySpool(m_context.device().spoolFolder())
              .storePending(
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
    return m_source.load()->readHistory();
}

void CKESTRADoc::ensureInstrument(const QString& pagerId)
{
    if (m_pagers.contains(pagerId))
        return;
    CPager& pager = m_pagers.findOrCreate(pagerId);
    pager.setIndex(m_pagers.count() - 1);
    if (m_views)
        m_views->addInstrumentNode(pager);
}

void CKESTRADoc::addAndShowEvents(const QString& pagerId, CHistoryList& events)
{
    // Filed oldest first, so that the shown list, which takes them at the top, stays newest
    // first; the shown day's new events go to the event list as one batch.
    events.sort(); // newest first, stable
    CPager& pager = m_pagers.findOrCreate(pagerId);
    std::vector<ChistoryRec> shown;
    for (auto it = events.records().rbegin(); it != events.records().rend(); ++it) {
        if (fileEvent(pager, *it))
            shown.push_back(*it);
    }
    if (!shown.empty() && m_views)
        m_views->insertEvents(shown);
}

std::vector<ChistoryRec> CKESTRADoc::eventsAfter(const QString& pagerId, qint64 since)
{
    std::vector<ChistoryRec> events;
    if (HistoryDb* db = m_context.store().current()) {
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

bool CKESTRADoc::readMeasurements(CMeasurements& measurements)
{
    const Operation operation(*this);
    return m_source.load()->readMeasurements(measurements);
}

bool CKESTRADoc::readUserParams(CUserParams& params)
{
    const Operation operation(*this);
    return m_source.load()->readUserParams(params);
}

bool CKESTRADoc::writeUserParams(const CUserParams& params)
{
    const Operation operation(*this);
    return m_source.load()->writeUserParams(params);
}

bool CKESTRADoc::instrumentName(QString& name)
{
    return m_source.load()->instrumentName(name);
}

bool CKESTRADoc::units()
{
    return m_source.load()->units();
}

bool CKESTRADoc::updateComment(const ChistoryRec& record)
{
    const Operation operation(*this);
    // The text rule of the store, also before a request to a station.
    if (const QString why = HistoryText::problem(record.commentText(), HistoryText::MaxComment); !why.isEmpty()) {
        messenger().tell(tr("Database Error!"),
            tr("The comment of %1 was not stored: it %2").arg(HistoryText::recordName(record), why),
            Messenger::Icon::Error);
        return false;
    }
    DocumentSource* source = m_source.load();
    if (source->updateComment(record)) {
        if (CPager* pager = m_pagers.find(record.hPagerID)) {
            if (ChistoryRec* mine = pager->findEvent(record))
                mine->hComment = record.hComment;
        }
        if (m_views)
            m_views->refreshEvent(record);
        return true;
    }
    // This computer's store has told why; a station answers only yes or no.
    if (source == &m_station)
        messenger().tell(tr("Error!"),
            tr("The station %1 did not store the comment of %2").arg(serverText(), HistoryText::recordName(record)),
            Messenger::Icon::Error);
    return false;
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
    const int queryMode = m_context.viewFlags().filterIndex() == ViewFlags::AlarmsOnly ? 5 : 1;
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

void CKESTRADoc::addAndShowEvent(CPager& pager, const ChistoryRec& record)
{
    const Operation operation(*this);
    if (fileEvent(pager, record) && m_views)
        m_views->insertEventAtTop(record);
}

bool CKESTRADoc::fileEvent(CPager& pager, const ChistoryRec& record)
{
    const std::optional<qint64> key = LocalTime::dayKey(record.hDateTime);
    if (!key)
        return false; // no local day to file it under; the database refused it as well
    const qint64 day = *key;
    CHistoryList* list = pager.dayList(day);
    if (!list) {
        list = &pager.ensureDay(day);
        if (m_views)
            m_views->addDayNode(pager.identifier(), day);
    }
    // The event is in the store: an alarm marks its day, loaded or not, as the day summary
    // would at the next rebuild.
    if (record.isAlarm() && !list->hasAlarms) {
        list->hasAlarms = true;
        if (m_views)
            m_views->markAlarmDay(pager.identifier(), day);
    }
    if (!list->loaded || list->findEqual(record))
        return false;
    list->addRecord(record);
    const DocState& s = state();
    if (pager.identifier() != s.currentInstrument() || s.currentDate() == 0)
        return false;
    return LocalTime::dayKey(s.currentDate()) == day;
}
