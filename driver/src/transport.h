#pragma once

#include "status.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace kestra {

using Clock = std::chrono::steady_clock;

/// The step of opening a port that failed; each has its own log message.
enum class OpenStep { Done, Open, GetState, SetState, SetTimeouts, Purge };

/// A serial line as the driver needs it. Reads never block beyond their deadline.
class Transport {
public:
    virtual ~Transport() = default;

    /// Opens and configures the line: raw 8N1 at `baud`, no flow control, reads that return at
    /// once, both directions purged. On failure the line is left closed.
    virtual OpenStep open(const std::string& path, int baud, Status& status) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    /// Drops pending input and output.
    virtual Status purge() = 0;
    /// Writes all bytes or fails.
    virtual Status write(const char* data, std::size_t length) = 0;
    /// Waits until bytes are there or the deadline passes; returns the count read (0: none).
    virtual std::size_t read(char* buffer, std::size_t capacity, Clock::time_point deadline) = 0;
    /// The system error of the last failed call (0: none or unknown), for the log: errno here,
    /// the Windows error code in the Windows transport.
    virtual int lastError() const { return 0; }
    /// The system's text for a lastError() value.
    virtual std::string errorText(int error) const { return errnoText(error); }
    /// Whether the other end hung up since the last call; clears the mark.
    virtual bool takeHangUp() { return false; }
};

} // namespace kestra
