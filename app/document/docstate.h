#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <mutex>

class DeviceState;
class ViewFlags;

// The state the document shares with the frame, the views, the background threads and the
// server: plain flags written by one thread and polled by another. One object per program
// (its AppContext). The link state and the port name live with the device operations
// (DeviceState), the units flag and the filter with the event texts (ViewFlags); this object
// forwards to the program's own so that callers find the whole state in one place.
class DocState {
public:
    DocState(DeviceState& device, ViewFlags& flags);
    DocState(const DocState&) = delete;
    DocState& operator=(const DocState&) = delete;

    // true: the instrument is on this computer; false: remote mode. Copied from the
    // configuration at every initialisation.
    std::atomic<bool> localMode { true };
    // A history download from the instrument is running (a server answers "busy").
    std::atomic<bool> downloadBusy { false };
    // A database or remote load job is running; the job clears it.
    std::atomic<bool> jobBusy { false };
    // Instrument watcher: probe now, end, and whether it runs.
    std::atomic<bool> watcherPoke { false };
    std::atomic<bool> watcherStop { false };
    std::atomic<bool> watcherRunning { false };
    // Remote poll thread: end, whether it runs, and fetch now.
    std::atomic<bool> pollStop { false };
    std::atomic<bool> pollRunning { false };
    std::atomic<bool> pollNow { false };
    // Last non-zero instrument status seen by the watcher, masked with AlarmMask.
    std::atomic<int> lastStatusBits { 0 };
    // Copies of configuration fields that the background threads read (the configuration
    // object itself belongs to the user-interface thread).
    std::atomic<bool> timeSynchronize { true };
    std::atomic<int> downloadingInterval { 60 };

    // The status bits that start a download: threshold, dose and detector alarms.
    static constexpr int AlarmMask = 0xE0F;

    bool connected() const;
    void setConnected(bool connected);
    QString portName() const;
    void setPortName(const QString& port);
    bool unitsRoentgen() const;

    // The identifier of the instrument on the link, as the title last read it; empty while
    // the link is down. Read this instead of asking the instrument on the window's thread.
    QString attachedInstrument() const;
    void setAttachedInstrument(const QString& identifier);

    // What the event list shows (set by the instrument tree).
    QString currentInstrument() const;
    void setCurrentInstrument(const QString& identifier);
    qint64 currentDate() const { return m_currentDate.load(); }
    void setCurrentDate(qint64 date) { m_currentDate.store(date); }

private:
    DeviceState& m_device;
    ViewFlags& m_flags;
    mutable std::mutex m_textLock;
    QString m_currentInstrument;
    QString m_attachedInstrument;
    std::atomic<qint64> m_currentDate { 0 };
};
