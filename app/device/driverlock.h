#pragma once

#include <QString>

#include <atomic>
#include <mutex>

// The one lock held around every call into the driver library. The driver reaches a single
// port for the whole process, so every thread that talks to the instrument (worker jobs, the
// watcher, dialogs) takes this lock for the span of its own driver calls and never across
// two operations.
class DriverLock {
public:
    static std::recursive_mutex& mutex();
};

// Process-wide link state shared by the device operations: the port they open, the last known
// link state and the folder of the driver's own log. Written by one thread, read by others.
class DeviceState {
public:
    static QString portName();
    static void setPortName(const QString& port);

    // Last known link state; an operation that does not force a port check refuses to start
    // while it is false.
    static bool connected();
    static void setConnected(bool connected);

    // Where the driver writes its log; the program folder unless set.
    static QString driverLogFolder();
    static void setDriverLogFolder(const QString& folder);
};
