#include "historyscheduler.h"

#include "kestradoc.h"

#include <limits>

HistoryScheduler::HistoryScheduler(CKESTRADoc& document, QObject* parent)
    : QObject(parent)
    , m_document(document)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HistoryScheduler::tick);
    connect(&m_document, &CKESTRADoc::historyTimerRestartRequested, this, &HistoryScheduler::fireAfter,
        Qt::QueuedConnection);
}

int HistoryScheduler::period(int intervalSeconds)
{
    const qint64 ms = qint64(intervalSeconds) * 1000;
    if (ms <= 992)
        return 1000;
    return static_cast<int>(std::min<qint64>(ms, std::numeric_limits<int>::max()));
}

bool HistoryScheduler::readingAllowed() const
{
    return m_document.mainDatabaseShown() && m_document.state().localMode.load();
}

void HistoryScheduler::restart(int intervalSeconds)
{
    m_intervalSeconds = intervalSeconds;
    m_timer.stop();
    if (readingAllowed())
        m_document.readHistory();
    m_timer.start(period(m_intervalSeconds));
}

void HistoryScheduler::stop()
{
    m_timer.stop();
}

void HistoryScheduler::fireAfter(int ms)
{
    m_timer.start(ms);
}

void HistoryScheduler::tick()
{
    // A read waits for its jobs with the event loop running; a timer that fires meanwhile
    // must not start a second read inside the first.
    if (m_inTick)
        return;
    m_inTick = true;
    m_timer.stop();
    bool read = false;
    if (readingAllowed())
        read = m_document.readHistory();
    m_timer.start(period(m_intervalSeconds));
    m_inTick = false;
    emit ticked(read);
}
