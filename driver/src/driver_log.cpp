#include "driver_log.h"

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestra {

void DriverLog::setDirectory(std::string directory)
{
    std::lock_guard lock(m_lock);
    if (directory.empty()) {
        m_path.clear();
        return;
    }
    // Settings written on the other platform may use backslashes.
    for (char& c : directory) {
        if (c == '\\')
            c = '/';
    }
    if (directory.back() != '/')
        directory += '/';
    m_path = directory + "KESTRAdrv.log";
}

std::string DriverLog::path() const
{
    std::lock_guard lock(m_lock);
    return m_path;
}

std::string DriverLog::formatLine(
    std::time_t when, std::string_view message, const char* bytes, std::size_t length, Direction direction)
{
    tm local {};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%d.%m.%Y\t%H:%M:%S", &local);

    std::string line = stamp;
    if (!message.empty()) {
        line += '\t';
        line += message;
    }
    if (direction != Direction::None) {
        line += direction == Direction::ToPort ? "\tto COM port: \t" : "\tfrom COM port: \t";
        static constexpr char digits[] = "0123456789ABCDEF";
        line.reserve(line.size() + length * 3 + 1);
        for (std::size_t i = 0; i < length; ++i) {
            auto byte = static_cast<unsigned char>(bytes[i]);
            line += digits[byte >> 4];
            line += digits[byte & 15];
            line += ' ';
        }
    }
    line += '\n';
    return line;
}

void DriverLog::entry(std::string_view message, const char* bytes, std::size_t length, Direction direction)
{
    if (message.empty() && length == 0)
        return;
    std::lock_guard lock(m_lock);
    if (m_path.empty())
        return;
    std::string line = formatLine(std::time(nullptr), message, bytes, length, direction);
    int fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    struct stat st { };
    if (::fstat(fd, &st) == 0 && st.st_size > maxSize && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return;
    }
    // One write per line, so a line is never split by another process appending.
    [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

} // namespace kestra
