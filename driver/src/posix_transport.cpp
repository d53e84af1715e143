#include "posix_transport.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kestra {

namespace {

bool speedFor(int baud, speed_t& speed)
{
    static constexpr struct {
        int rate;
        speed_t speed;
    } rates[]
        = { { 1200, B1200 }, { 2400, B2400 }, { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 }, { 38400, B38400 },
              { 57600, B57600 }, { 115200, B115200 }, { 230400, B230400 }, { 460800, B460800 }, { 921600, B921600 } };
    for (const auto& entry : rates) {
        if (entry.rate == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

int millisecondsUntil(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    // Round up so that poll() does not wake a fraction of a millisecond early and spin.
    return static_cast<int>(left) + 1;
}

} // namespace

// A terminal whose other end is gone answers EIO (a pseudo-terminal's closed master, an
// unplugged USB bridge) or polls POLLHUP.
bool PosixTransport::takeHangUp()
{
    bool hungUp = m_hungUp;
    m_hungUp = false;
    return hungUp;
}

PosixTransport::~PosixTransport()
{
    close();
}

OpenStep PosixTransport::open(const std::string& path, int baud, Status& status)
{
    close();
    m_hungUp = false;
    auto fail = [&](OpenStep step) {
        m_lastError = errno;
        status = statusFromErrno(errno);
        close();
        return step;
    };
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return fail(OpenStep::Open);
    // The port is not shared: a second opener (another program on the same bridge) is refused.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return fail(OpenStep::Open);

    termios tio {};
    if (::tcgetattr(m_fd, &tio) != 0)
        return fail(OpenStep::GetState);
    speed_t speed;
    if (!speedFor(baud, speed)) {
        errno = EINVAL;
        return fail(OpenStep::SetState);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return fail(OpenStep::SetState);

    // Reads return at once with what is buffered; waiting is done by poll() against a deadline.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return fail(OpenStep::SetTimeouts);
    if (::tcflush(m_fd, TCIOFLUSH) != 0)
        return fail(OpenStep::Purge);
    m_baud = baud;
    status = Status::Ok;
    return OpenStep::Done;
}

void PosixTransport::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

Status PosixTransport::purge()
{
    if (m_fd < 0)
        return Status::Io;
    if (::tcflush(m_fd, TCIOFLUSH) == 0)
        return Status::Ok;
    m_lastError = errno;
    m_hungUp = m_hungUp || errno == EIO;
    return statusFromErrno(errno);
}

Status PosixTransport::write(const char* data, std::size_t length)
{
    if (m_fd < 0)
        return Status::Io;
    // A line that takes no output (a hung peer, a full buffer) must not block the caller for
    // ever: allow the time the bytes need at the line rate, plus a second.
    auto deadline = Clock::now() + std::chrono::milliseconds(1000 + length * 10 * 1000 / (m_baud > 0 ? m_baud : 9600));
    std::size_t written = 0;
    while (written < length) {
        ssize_t n = ::write(m_fd, data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            m_lastError = errno;
            m_hungUp = m_hungUp || errno == EIO;
            return statusFromErrno(errno);
        }
        pollfd pfd { m_fd, POLLOUT, 0 };
        int wait = millisecondsUntil(deadline);
        if (wait == 0 || ::poll(&pfd, 1, wait) <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            m_hungUp = m_hungUp || (pfd.revents & POLLHUP);
            return Status::Io;
        }
    }
    return Status::Ok;
}

std::size_t PosixTransport::read(char* buffer, std::size_t capacity, Clock::time_point deadline)
{
    if (m_fd < 0 || capacity == 0) {
        std::this_thread::sleep_until(deadline);
        return 0;
    }
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, capacity);
        if (n > 0)
            return static_cast<std::size_t>(n);
        bool broken = n < 0 && errno != EAGAIN && errno != EINTR;
        int wait = millisecondsUntil(deadline);
        if (wait == 0)
            return 0;
        if (broken) {
            m_lastError = errno;
            m_hungUp = m_hungUp || errno == EIO;
            // A hung-up line reports readable at once for ever; wait out the deadline instead
            // of spinning on it.
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        pollfd pfd { m_fd, POLLIN, 0 };
        int ready = ::poll(&pfd, 1, wait);
        if (ready < 0 && errno != EINTR) {
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        if (ready > 0 && (pfd.revents & POLLHUP) && !(pfd.revents & POLLIN)) {
            m_hungUp = true;
            std::this_thread::sleep_until(deadline);
            return 0;
        }
    }
}

} // namespace kestra
