#include "document/historyscheduler.h"

#include "document/kestradoc.h"

#include <QPointer>

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
    m_stopped = false;
    m_timer.stop();
    if (readingAllowed())
        m_document.readHistory();
    m_timer.start(period(m_intervalSeconds));
}

void HistoryScheduler::stop()
{
    m_stopped = true;
    m_timer.stop();
}

void HistoryScheduler::fireAfter(int ms)
{
    m_timer.start(ms);
}

void HistoryScheduler::tick()
{
    // A tick that comes while the document is inside an operation (the event loop runs while
    // it waits) reads once that operation has ended; ticks meanwhile make one read.
    m_timer.stop();
    if (m_readQueued)
        return;
    m_readQueued = true;
    m_document.whenIdle([guard = QPointer<HistoryScheduler>(this)] {
        if (guard)
            guard->read();
    });
}

void HistoryScheduler::read()
{
    m_readQueued = false;
    if (m_stopped)
        return;
    bool done = false;
    if (readingAllowed())
        done = m_document.readHistory();
    m_timer.start(period(m_intervalSeconds));
    emit ticked(done);
}
