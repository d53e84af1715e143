#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace kestra {

/// The driver's text log: one line per entry, emptied when it grows past its limit.
class DriverLog {
public:
    enum class Direction { None, ToPort, FromPort };

    static constexpr long maxSize = 1024000;

    /// Sets the log file from a directory ("/" added unless it ends in one); empty: no log.
    void setDirectory(std::string directory);
    std::string path() const;

    /// Appends one line: local date and time, the message, and for traffic the direction and
    /// the bytes in hex. An entry with neither message nor bytes writes nothing. Failures to
    /// write are silent: the log never reports on itself.
    void entry(std::string_view message, const char* bytes = nullptr, std::size_t length = 0,
        Direction direction = Direction::None);

    /// The line as it would be written at the given time (for tests).
    static std::string formatLine(
        std::time_t when, std::string_view message, const char* bytes, std::size_t length, Direction direction);

private:
    mutable std::recursive_mutex m_lock;
    std::string m_path;
};

} // namespace kestra
