#pragma once

#include "driver_log.h"
#include "transport.h"

#include <KESTRAdrv.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestra {

/// The port record and the transaction engine: one serial line to one instrument, its number,
/// the frame sequence counter, the log, and the downloaded history records.
class Driver {
public:
    using Milliseconds = std::chrono::milliseconds;

    explicit Driver(std::unique_ptr<Transport> transport, Milliseconds closePause = Milliseconds(1000));
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    /// Sets the log directory, then opens the port.
    bool init(const std::string& logDirectory, const std::string& portName, int baud);
    /// Opens the port (closing it first when open). `portName` as the caller gave it.
    bool open(const std::string& portName, int baud);
    /// Closes the port when open, then pauses so the line settles; nothing when closed.
    void close();
    bool isOpen() const;

    /// Sends one frame; a failure reopens the port (and still reports failure).
    bool write(std::string_view frame);

    /// One transaction of up to four attempts. `payload` receives the accepted reply's
    /// payload, also when it reports an instrument error (the result is then false).
    bool transact(std::string_view command, int timeoutMs, std::string& payload);

    /// Learns the instrument's number when it is unknown.
    bool numberCheck();
    /// "get_ID": outputs are optional.
    bool getId(std::string* fullId, std::string* number);
    /// "set_ID": null sends "nonumber".
    bool setId(const std::string* number);

    DriverLog& log() { return m_log; }
    std::recursive_mutex& portLock() { return m_portLock; }

    /// State visible to tests.
    std::string deviceNumber() const;
    uint16_t sequence() const;
    /// Only for tests: reaching the wrap-around of the counter takes 65536 exchanges otherwise.
    void setSequence(uint16_t sequence);

    /// The library-owned record array of the last history download.
    std::vector<KESTRAdrv_EventRecord>& historyRecords() { return m_history; }

    /// The wall clock used for setting the instrument's clock (replaceable in tests).
    void setWallClock(std::function<std::time_t()> clock) { m_wallClock = std::move(clock); }
    std::time_t now() const { return m_wallClock(); }

    /// Device path for a configured port name: "COMn" is /dev/ttyS(n-1), a bare name lives in /dev.
    /// On Windows the device name for CreateFileW ("COM3", "\\.\COM12").
    static std::string devicePath(const std::string& portName);

private:
    enum class Outcome { Accepted, Rejected };
    Outcome collect(int timeoutMs, std::string& payload);
    bool reopen();
    /// Logs a hang-up of the line that the transport saw since the last look.
    void logHangUp();

    mutable std::recursive_mutex m_portLock;
    DriverLog m_log;
    std::unique_ptr<Transport> m_transport;
    Milliseconds m_closePause;
    std::string m_portName;
    int m_baud = 0;
    std::string m_number;
    uint16_t m_sequence = 0;
    std::vector<KESTRAdrv_EventRecord> m_history;
    std::function<std::time_t()> m_wallClock;
};

} // namespace kestra
