#include "win32_transport.h"

#include <thread>

namespace kestra {

namespace {

constexpr DWORD purgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

} // namespace

std::wstring windowsWide(const std::string& text)
{
    if (text.empty())
        return {};
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    return wide;
}

std::string windowsDeviceName(const std::string& portName)
{
    if (portName.size() <= 4 || portName.starts_with("\\\\"))
        return portName;
    return "\\\\.\\" + portName;
}

Status statusFromWindowsError(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return Status::Ok;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return Status::NoDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return Status::NoAccess;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
        return Status::BadArgument;
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
        return Status::Timeout;
    default:
        return Status::Io;
    }
}

Win32Transport::~Win32Transport()
{
    close();
}

OpenStep Win32Transport::open(const std::string& path, int baud, Status& status)
{
    close();
    m_hungUp = false;
    auto fail = [&](OpenStep step) {
        m_lastError = GetLastError();
        status = statusFromWindowsError(m_lastError);
        close();
        return step;
    };
    // Not shared: a second program on the same port is refused by the system.
    m_handle
        = CreateFileW(windowsWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        return fail(OpenStep::Open);

    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb))
        return fail(OpenStep::GetState);
    if (baud <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return fail(OpenStep::SetState);
    }
    // Only the line format and the flow control change; the rest stays as the port has it.
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(m_handle, &dcb))
        return fail(OpenStep::SetState);

    // A read returns at once with whatever is buffered, possibly nothing; writes have no limit.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(m_handle, &timeouts))
        return fail(OpenStep::SetTimeouts);
    if (!PurgeComm(m_handle, purgeAll))
        return fail(OpenStep::Purge);
    status = Status::Ok;
    return OpenStep::Done;
}

void Win32Transport::close()
{
    if (m_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}

Status Win32Transport::purge()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return Status::Io;
    if (PurgeComm(m_handle, purgeAll))
        return Status::Ok;
    m_lastError = GetLastError();
    m_hungUp = true;
    return statusFromWindowsError(m_lastError);
}

Status Win32Transport::write(const char* data, std::size_t length)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return Status::Io;
    // Frames are bounded by the command buffer: far below what one WriteFile takes.
    DWORD written = 0;
    if (length > MAXDWORD || !WriteFile(m_handle, data, static_cast<DWORD>(length), &written, nullptr)) {
        m_lastError = GetLastError();
        m_hungUp = true;
        return statusFromWindowsError(m_lastError);
    }
    return written == length ? Status::Ok : Status::Io;
}

std::size_t Win32Transport::read(char* buffer, std::size_t capacity, Clock::time_point deadline)
{
    if (m_handle == INVALID_HANDLE_VALUE || capacity == 0) {
        std::this_thread::sleep_until(deadline);
        return 0;
    }
    DWORD ask = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer, ask, &got, nullptr)) {
            // A removed bridge fails every read at once: wait out the deadline instead of spinning.
            m_lastError = GetLastError();
            m_hungUp = true;
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        if (got > 0)
            return got;
        if (Clock::now() >= deadline)
            return 0;
        // The port's reads never wait, so the wait is here: a millisecond between polls keeps
        // an idle line from taking a whole processor.
        Sleep(1);
    }
}

std::string Win32Transport::errorText(int error) const
{
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        --length;
    if (length == 0)
        return "Windows error " + std::to_string(error);
    return std::string(text, length);
}

bool Win32Transport::takeHangUp()
{
    bool hungUp = m_hungUp;
    m_hungUp = false;
    return hungUp;
}

} // namespace kestra
