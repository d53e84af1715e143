#pragma once

#include <QString>

#include <atomic>
#include <mutex>

// The link state of one program's device operations: the port they open, the last known link
// state, the folder of the driver's own log and the folder that spools downloads. Each
// program's context holds one. Written by one thread, read by others.
class DeviceState {
public:
    // programFolder: the driver log and the spool live below it unless set otherwise.
    explicit DeviceState(const QString& programFolder);
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    QString portName() const;
    void setPortName(const QString& port);

    // Last known link state; an operation that does not force a port check refuses to start
    // while it is false.
    bool connected() const { return m_connected.load(); }
    void setConnected(bool connected) { m_connected.store(connected); }

    // Where the driver writes its log; the program folder unless set.
    QString driverLogFolder() const;
    void setDriverLogFolder(const QString& folder);
    // Where a download is kept until it is stored: "Spool" in the program folder.
    QString spoolFolder() const;

    // The lock held around every call into the driver library, for the span of one caller's
    // own driver calls and never across two operations. The library keeps one port record for
    // the whole process (its C interface has no handle), so the lock is the same for every
    // program context in the process: two contexts may not drive the library at once.
    std::recursive_mutex& driverLock() const;

private:
    mutable std::mutex m_textLock; // guards the texts only; the flag is atomic
    const QString m_programFolder;
    QString m_portName;
    QString m_driverLogFolder;
    std::atomic<bool> m_connected { false };
};
