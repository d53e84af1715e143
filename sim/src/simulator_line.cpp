// The simulator's line: the pseudo-terminal and its name, pacing to the line rate, hang-ups,
// and the thread that reads frames.
#include "simulator_impl.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kestra::sim {

std::string printableBytes(std::string_view bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else
            text.push_back(static_cast<char>(c));
    }
    return text;
}

void Simulator::Impl::logLine(const char* direction, std::string_view text)
{
    std::lock_guard lock(logMutex);
    if (!log)
        return;
    const auto wall = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(wall);
    std::tm local {};
    localtime_r(&t, &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count() % 1000;
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(log, "%s.%03d %s %s\n", stamp, static_cast<int>(ms), direction, printableBytes(text).c_str());
    std::fflush(log);
}

// Sleeps until `until` unless stop() is called; false when stopping.
bool Simulator::Impl::pauseUntil(Clock::time_point until)
{
    for (;;) {
        if (stopping)
            return false;
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec timeout { static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000) };
        pollfd fd { wake[0], POLLIN, 0 };
        ppoll(&fd, 1, &timeout, nullptr);
    }
}

// Opens a new pty; with `publish` it becomes the one callers see (and the link points to).
bool Simulator::Impl::openPty(std::string* error, bool publish)
{
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
        if (error)
            *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    char name[128];
    if (ptsname_r(fd, name, sizeof name) != 0) {
        if (error)
            *error = "cannot name the pseudo-terminal";
        ::close(fd);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        if (error)
            *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // Raw 8N1 from the start: no echo of our replies back into our own input, no CR/LF mapping.
    termios tio {};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    master = fd;
    slaveKeep = slave;
    openedName = name;
    parser.clear();
    return !publish || publishPty(error);
}

bool Simulator::Impl::publishPty(std::string* error)
{
    {
        std::lock_guard lock(mutex);
        pty = openedName;
    }
    const bool linked = linkPty(error);
    lineUp = true;
    return linked;
}

bool Simulator::Impl::linkPty(std::string* error)
{
    if (options.linkPath.empty())
        return true;
    struct stat st { };
    if (lstat(options.linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (error)
            *error = options.linkPath + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // Re-point atomically so a client never finds the link missing.
    const std::string temporary = options.linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(pty.c_str(), temporary.c_str()) != 0
        || std::rename(temporary.c_str(), options.linkPath.c_str()) != 0) {
        if (error)
            *error = "cannot link " + options.linkPath + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void Simulator::Impl::closePty()
{
    if (master >= 0)
        ::close(master);
    if (slaveKeep >= 0)
        ::close(slaveKeep);
    master = slaveKeep = -1;
}

void Simulator::Impl::hangUp(int ms)
{
    logLine("!!", "hang-up for " + std::to_string(ms) + " ms");
    const std::string oldName = openedName;
    lineUp = false;
    closePty();
    if (!options.linkPath.empty())
        ::unlink(options.linkPath.c_str());
    if (!pauseUntil(Clock::now() + std::chrono::milliseconds(ms)))
        return;
    // Come back under the old name, as a replugged device does, so a host that reopens its port
    // by name finds us. The old index frees once the host closes its end; meanwhile every other
    // index we are given is held, so the allocator cannot hand it out again.
    std::vector<int> held;
    const auto deadline = Clock::now() + kSameNameWait;
    std::string error;
    while (openPty(&error, false)) {
        if (openedName == oldName || Clock::now() >= deadline || held.size() >= kMaxHeldPtys)
            break;
        held.push_back(master);
        ::close(slaveKeep);
        master = slaveKeep = -1;
        if (!pauseUntil(Clock::now() + std::chrono::milliseconds(5)))
            break;
    }
    for (int fd : held)
        ::close(fd);
    if (master < 0) {
        logLine("!!", "cannot come back after the hang-up: " + error);
        return;
    }
    if (!publishPty(&error))
        logLine("!!", error);
    logLine("!!", "back on " + openedName);
}

// Writes all bytes, paced to the line rate when one is set. False when the reply was cut.
bool Simulator::Impl::writeReply(const std::string& data)
{
    if (master < 0)
        return false;
    const unsigned baud = options.baud;
    const double secondsPerByte = baud ? 10.0 / baud : 0.0;
    const auto start = std::max(Clock::now(), lineFreeAt);
    const std::size_t piece = baud ? std::max<std::size_t>(1, baud / 10 / 500) : data.size();
    std::size_t sent = 0;
    while (sent < data.size()) {
        const std::size_t n = std::min(piece, data.size() - sent);
        if (baud) {
            const auto due = start
                + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(secondsPerByte * static_cast<double>(sent + n)));
            if (!pauseUntil(due))
                return false;
        }
        if (!writeSome(data.data() + sent, n))
            return false;
        sent += n;
    }
    if (baud)
        lineFreeAt = start
            + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(secondsPerByte * static_cast<double>(data.size())));
    return true;
}

bool Simulator::Impl::writeSome(const char* data, std::size_t length)
{
    const auto deadline = Clock::now() + kWriteStall;
    while (length > 0) {
        const ssize_t n = ::write(master, data, length);
        if (n > 0) {
            data += n;
            length -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            logLine("!!", std::string("write failed: ") + std::strerror(errno));
            return false;
        }
        if (Clock::now() >= deadline || stopping) {
            logLine("!!", "nobody reads the line; reply dropped");
            return false;
        }
        pollfd fd { master, POLLOUT, 0 };
        poll(&fd, 1, 20);
    }
    return true;
}

void Simulator::Impl::run()
{
    auto nextTick = Clock::now();
    char buffer[4096];
    while (!stopping) {
        if (master < 0) {
            // A failed return after a hang-up: try again shortly.
            std::string error;
            if (!pauseUntil(Clock::now() + std::chrono::milliseconds(500)) || !openPty(&error))
                continue;
        }
        pollfd fds[2] = { { master, POLLIN, 0 }, { wake[0], POLLIN, 0 } };
        const int ready = poll(fds, 2, 20);
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                parser.feed(buffer, static_cast<std::size_t>(n));
                const auto arrived = Clock::now();
                while (auto frame = parser.next()) {
                    handleFrame(*frame, arrived);
                    if (stopping || master < 0)
                        break;
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                logLine("!!", std::string("read failed: ") + std::strerror(errno));
                lineUp = false;
                closePty();
            }
        }
        if (Clock::now() >= nextTick) {
            nextTick = Clock::now() + kTickPeriod;
            {
                std::lock_guard lock(mutex);
                instrument.tick(now());
            }
            saveIfDue(false);
        }
    }
}

} // namespace kestra::sim
