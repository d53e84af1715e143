#pragma once

#include <QObject>
#include <QTimer>

class CKESTRADoc;

// The history timer: reads the instrument's history every downloading interval while the
// main database is shown in local mode, and at once (after 100 ms) when the watcher sees new
// alarm bits. The main window drives it; a station without a screen runs the same loop.
// Lives on the document's thread.
class HistoryScheduler : public QObject {
    Q_OBJECT
public:
    explicit HistoryScheduler(CKESTRADoc& document, QObject* parent = nullptr);

    // interval × 1000 ms when that is above 992, else 1000 ms.
    static int period(int intervalSeconds);

    // Re-initialisation: stop, read now when reading is allowed, then run with the period.
    void restart(int intervalSeconds);
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    int currentInterval() const { return m_timer.interval(); }
    // Whether a tick reads: local mode and the main database shown.
    bool readingAllowed() const;

    // Fires once after ms, then again with the period. Safe to request from any thread
    // through a queued connection (the watcher's historyTimerRestartRequested).
    void fireAfter(int ms);

signals:
    // A tick ran Read history; read is its result.
    void ticked(bool read);

private:
    void tick();

    void read();

    CKESTRADoc& m_document;
    QTimer m_timer;
    int m_intervalSeconds = 60;
    bool m_readQueued = false;
    bool m_stopped = false; // a read queued before stop() does not start the timer again
};
