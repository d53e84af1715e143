#include "driver_log.h"

#include "localtime.h"

#include <ctime>
#ifdef _WIN32
#include "win32_transport.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestra {

void DriverLog::setDirectory(std::string directory)
{
    std::lock_guard lock(m_lock);
    if (directory.empty()) {
        m_path.clear();
        return;
    }
#ifdef _WIN32
    if (directory.back() != '\\' && directory.back() != '/')
        directory += '\\';
#else
    // Settings written on the other platform may use backslashes.
    for (char& c : directory) {
        if (c == '\\')
            c = '/';
    }
    if (directory.back() != '/')
        directory += '/';
#endif
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
    tm local = localCalendar(when);
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
#ifdef _WIN32
    // A text file of the platform: lines end in CR LF.
    line.insert(line.size() - 1, 1, '\r');
    HANDLE file = CreateFileW(windowsWide(m_path).c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size {};
    if (GetFileSizeEx(file, &size) && size.QuadPart > maxSize && !SetEndOfFile(file)) {
        CloseHandle(file);
        return;
    }
    LARGE_INTEGER end {};
    DWORD written = 0;
    if (SetFilePointerEx(file, LARGE_INTEGER {}, &end, FILE_END))
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
#else
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
#endif
}

} // namespace kestra
