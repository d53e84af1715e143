// The document's background threads (the instrument watcher in local mode, the remote poll
// thread in remote mode) and what they hand over to the document's thread.
#include "document/kestradoc.h"
#include "history/viewflags.h"

#include "device/devworker.h"
#include "device/driverlock.h"
#include "history/messenger.h"

#include <KESTRAdrv.h>

#include <QThread>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

// Set on the remote poll thread, whose failures are told once per outage.
thread_local bool t_pollThread = false;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

bool CKESTRADoc::useServer(const QString& serverText)
{
    state().localMode = false;
    m_source = &m_station;
    return m_station.setServer(serverText);
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
    messenger().tell(tr("Error!"),
        tr("Can't connect to server '%1'. Error %2.\nCheck program settings").arg(serverText(), QString::number(error)),
        Messenger::Icon::Question);
    if (m_host)
        m_host->openProgramSettings();
}

bool CKESTRADoc::pollTarget(QString& pagerId, qint64& since) const
{
    if (state().localMode || !m_station.usable())
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
    return pollTarget(pagerId, since) && fetchEventsSince(since, out, busy);
}

bool CKESTRADoc::fetchEventsSince(qint64 since, CHistoryList& out, bool& busy)
{
    busy = false;
    if (!m_station.eventsSince(since, out, busy))
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

void CKESTRADoc::fileRemoteEvents(const CHistoryList& events)
{
    const Operation operation(*this);
    std::vector<ChistoryRec> shown;
    for (const ChistoryRec& r : events.records()) {
        qint64& polled = m_polledUpTo[r.hPagerID];
        polled = std::max(polled, r.hDateTime);
        if (fileEvent(m_pagers.findOrCreate(r.hPagerID), r))
            shown.push_back(r);
    }
    if (!shown.empty() && m_views)
        m_views->insertEvents(shown);
}

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
    const bool link = DevWorker::readStatus(m_context.device(), status);
    if (link != s.connected()) {
        s.setConnected(link);
        updateTitle();
        if (s.connected() && s.timeSynchronize.load())
            DevWorker::synchronizeClock(m_context.device());
        if (s.connected())
            refreshUnits();
    }
    if (s.connected()) {
        const int bits = static_cast<int>(status) & DocState::AlarmMask;
        if (bits != 0 && bits != s.lastStatusBits.load()) {
            s.lastStatusBits = bits;
            emit historyTimerRestartRequested(100);
        }
    }
}

void CKESTRADoc::closeDriver()
{
    const auto close = [this] {
        std::lock_guard lock(m_context.device().driverLock());
        KESTRAdrv_Close();
    };
    runAside(tr("Closing the instrument's port"), close);
}

bool CKESTRADoc::probeJob()
{
    return runJob(tr("Connecting to the instrument"), [this] { watcherProbe(); });
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
        if (!fetchEventsSince(target->since, events, busy))
            continue;
        m_outageReported = false; // the server answers again
        if (!busy && !events.isEmpty())
            emit remoteEventsArrived(events);
        refreshUnits();
    }
    s.pollRunning = false;
}

void CKESTRADoc::refreshUnits()
{
    // Asked here, off the window's thread: the views show what the flags hold.
    const ViewFlags& flags = m_context.viewFlags();
    const bool before = flags.unitsRoentgen();
    if (m_source.load()->units() && flags.unitsRoentgen() != before)
        emit unitsChanged(flags.unitsRoentgen());
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
