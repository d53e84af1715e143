#include "pty_peer.h"

#include "crc.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace kestra::test {

PtyPeer::PtyPeer()
{
    char dir[] = "/tmp/kestra-pty-XXXXXX";
    if (!mkdtemp(dir))
        throw std::runtime_error("mkdtemp");
    m_dir = dir;
    m_link = m_dir + "/port";
    if (pipe(m_wake) != 0)
        throw std::runtime_error("pipe");
    openMaster();
    m_thread = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer()
{
    m_stop = true;
    [[maybe_unused]] auto n = write(m_wake[1], "x", 1);
    m_thread.join();
    std::lock_guard lock(m_lock);
    if (m_master >= 0)
        close(m_master);
    close(m_wake[0]);
    close(m_wake[1]);
    unlink(m_link.c_str());
    rmdir(m_dir.c_str());
}

void PtyPeer::openMaster()
{
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
        throw std::runtime_error("posix_openpt");
    std::string slave = ptsname(fd);
    unlink(m_link.c_str());
    if (symlink(slave.c_str(), m_link.c_str()) != 0)
        throw std::runtime_error("symlink");
    m_master = fd;
}

void PtyPeer::setHandler(Handler handler)
{
    std::lock_guard lock(m_lock);
    m_handler = std::move(handler);
}

std::vector<std::string> PtyPeer::frames() const
{
    std::lock_guard lock(m_lock);
    return m_frames;
}

void PtyPeer::clearFrames()
{
    std::lock_guard lock(m_lock);
    m_frames.clear();
}

void PtyPeer::hangUp()
{
    std::lock_guard lock(m_lock);
    close(m_master);
    openMaster();
    [[maybe_unused]] auto n = write(m_wake[1], "x", 1);
}

std::string PtyPeer::reply(const std::string& number, const std::string& body, bool lowerCaseDigits)
{
    std::string text = "KESTRA #" + number + " " + body + " CRC=";
    char crc[8];
    std::snprintf(crc, sizeof crc, lowerCaseDigits ? "%04x" : "%04X", checksum(text));
    return text + crc + "\r\n";
}

std::string PtyPeer::command(const std::string& frame)
{
    auto begin = frame.find(" $");
    auto end = frame.rfind(" CRC=");
    if (begin == std::string::npos || end == std::string::npos || begin + 7 > end)
        return {};
    return frame.substr(begin + 7, end - begin - 7);
}

void PtyPeer::run()
{
    std::string pending;
    while (!m_stop) {
        int master;
        {
            std::lock_guard lock(m_lock);
            master = m_master;
        }
        pollfd fds[2] = { { master, POLLIN, 0 }, { m_wake[0], POLLIN, 0 } };
        if (poll(fds, 2, 1000) <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char drop[16];
            [[maybe_unused]] auto n = read(m_wake[0], drop, sizeof drop);
            pending.clear();
            continue;
        }
        if (!(fds[0].revents & POLLIN)) {
            usleep(1000); // no driver has the line open yet
            continue;
        }
        char buffer[4096];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find("\r\n")) != std::string::npos) {
            std::string frame = pending.substr(0, end + 2);
            pending.erase(0, end + 2);
            Handler handler;
            {
                std::lock_guard lock(m_lock);
                m_frames.push_back(frame);
                handler = m_handler;
            }
            if (!handler)
                continue;
            for (const auto& piece : handler(frame)) {
                if (piece.delayMs > 0)
                    usleep(static_cast<useconds_t>(piece.delayMs) * 1000);
                std::lock_guard lock(m_lock);
                [[maybe_unused]] auto w = write(m_master, piece.bytes.data(), piece.bytes.size());
            }
        }
    }
}

} // namespace kestra::test
