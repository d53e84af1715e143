#include "driver.h"

#include "fields.h"
#include "frame.h"
#ifdef _WIN32
#include "win32_transport.h"
#endif

#include "kestracommon/portname.h"

#include <algorithm>
#include <cctype>
#include <thread>

namespace kestra {

namespace {

/// The number after "kestra #" in a get_ID or set_ID payload: the next space-delimited token.
bool numberFromPayload(std::string_view payload, std::string& number)
{
    auto token = fields::token(payload, "kestra #");
    if (!token)
        return false;
    number.assign(token->substr(0, maxNumberLength));
    return true;
}

} // namespace

Driver::Driver(std::unique_ptr<Transport> transport, Milliseconds closePause)
    : m_transport(std::move(transport))
    , m_closePause(closePause)
    , m_wallClock([] { return std::time(nullptr); })
{
}

Driver::~Driver()
{
    // Unloading closes the port; nobody waits for the line to settle at that point.
    std::lock_guard lock(m_portLock);
    if (m_transport->isOpen()) {
        m_transport->close();
        m_log.entry("COM port is closed");
    }
}

std::string Driver::devicePath(const std::string& portName)
{
#ifdef _WIN32
    return windowsDeviceName(portName);
#else
    return common::portDevicePath(portName);
#endif
}

bool Driver::init(const std::string& logDirectory, const std::string& portName, int baud)
{
    std::lock_guard lock(m_portLock);
    m_log.setDirectory(logDirectory);
    return open(portName, baud);
}

bool Driver::open(const std::string& portName, int baud)
{
    std::lock_guard lock(m_portLock);
    close();
    m_portName = portName;
    m_baud = baud;

    Status status = Status::Ok;
    std::string path = devicePath(portName);
    OpenStep step = m_transport->open(path, baud, status);
    switch (step) {
    case OpenStep::Done:
        break;
    case OpenStep::Open:
        m_log.entry("COM port open error: " + portName);
        break;
    case OpenStep::GetState:
        m_log.entry("Error GetCommState");
        break;
    case OpenStep::SetState:
        m_log.entry("Error SetCommState");
        break;
    case OpenStep::SetTimeouts:
        m_log.entry("Error SetCommTimeouts");
        break;
    case OpenStep::Purge:
        m_log.entry("Error PurgeComm");
        break;
    }
    if (step != OpenStep::Done) {
        // The line above is the one every version wrote; the reason follows on its own line.
        int error = m_transport->lastError();
        m_log.entry("COM port error reason: " + std::string(statusText(status)) + ", "
            + (error ? m_transport->errorText(error) : std::string("no system error")) + " (" + path + ")");
        return false;
    }
    m_log.entry("COM port is initialized: " + portName);
    m_sequence = 0;
    m_number.clear();
    return true;
}

void Driver::close()
{
    std::lock_guard lock(m_portLock);
    if (!m_transport->isOpen())
        return;
    m_transport->close();
    m_log.entry("COM port is closed");
    std::this_thread::sleep_for(m_closePause);
}

void Driver::logHangUp()
{
    if (m_transport->takeHangUp())
        m_log.entry("COM port hang-up: " + m_portName);
}

bool Driver::isOpen() const
{
    std::lock_guard lock(m_portLock);
    return m_transport->isOpen();
}

bool Driver::reopen()
{
    return open(m_portName, m_baud);
}

bool Driver::write(std::string_view frame)
{
    std::lock_guard lock(m_portLock);
    if (!m_transport->isOpen()) {
        reopen();
        return false;
    }
    if (frame.empty())
        return true;
    if (m_transport->purge() != Status::Ok || m_transport->write(frame.data(), frame.size()) != Status::Ok) {
        logHangUp();
        reopen();
        return false;
    }
    m_log.entry({}, frame.data(), frame.size(), DriverLog::Direction::ToPort);
    return true;
}

Driver::Outcome Driver::collect(int timeoutMs, std::string& payload)
{
    char received[commandBufferSize] = {};
    std::size_t count = 0;
    auto deadline = Clock::now() + Milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    while (Clock::now() < deadline) {
        // A full buffer reads nothing more: the read then just waits out the deadline.
        std::size_t n = m_transport->read(received + count, commandBufferSize - 1 - count, deadline);
        if (n == 0)
            continue;
        count += n;
        ReplyCheck check = checkReply(std::string_view(received, count), m_number);
        if (check.verdict == ReplyVerdict::Accept) {
            payload = std::move(check.payload);
            m_log.entry({}, payload.data(), payload.size(), DriverLog::Direction::FromPort);
            return Outcome::Accepted;
        }
        if (check.verdict == ReplyVerdict::BadChecksum) {
            m_log.entry("CRC Error !!!");
            return Outcome::Rejected;
        }
    }
    logHangUp();
    if (count > 0) {
        m_log.entry("Unknown instrument's number!");
        // Someone answered, but not the instrument we address: learn the number again.
        if (std::string_view(received, count).find(framePrefix) != std::string_view::npos)
            m_number.clear();
    }
    return Outcome::Rejected;
}

bool Driver::transact(std::string_view command, int timeoutMs, std::string& payload)
{
    std::lock_guard lock(m_portLock);
    if (command.size() >= commandBufferSize)
        return false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!write(buildFrame(m_number, m_sequence, command)))
            return false;
        std::string reply;
        if (collect(timeoutMs, reply) != Outcome::Accepted)
            continue;
        payload = std::move(reply);
        ++m_sequence;
        if (payload.find("error") != std::string::npos) {
            m_log.entry("Error Message!!!");
            return false;
        }
        return true;
    }
    return false;
}

bool Driver::numberCheck()
{
    std::lock_guard lock(m_portLock);
    return !m_number.empty() || getId(nullptr, nullptr);
}

bool Driver::getId(std::string* fullId, std::string* number)
{
    std::lock_guard lock(m_portLock);
    m_number.clear();
    std::string payload;
    if (!transact("get_ID", 1000, payload))
        return false;
    std::string found;
    if (!numberFromPayload(payload, found))
        return false;
    m_number = found;
    if (fullId)
        *fullId = std::string(framePrefix) + found;
    if (number)
        *number = found;
    return true;
}

bool Driver::setId(const std::string* number)
{
    std::lock_guard lock(m_portLock);
    if (m_number.empty() && !getId(nullptr, nullptr))
        return false;
    m_number.clear();
    std::string payload;
    if (!transact("set_ID numb=" + (number ? *number : std::string(noNumber)), 1000, payload))
        return false;
    std::string found;
    if (!numberFromPayload(payload, found))
        return false;
    m_number = found;
    return true;
}

std::string Driver::deviceNumber() const
{
    std::lock_guard lock(m_portLock);
    return m_number;
}

uint16_t Driver::sequence() const
{
    std::lock_guard lock(m_portLock);
    return m_sequence;
}

void Driver::setSequence(uint16_t sequence)
{
    std::lock_guard lock(m_portLock);
    m_sequence = sequence;
}

} // namespace kestra
