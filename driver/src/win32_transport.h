#pragma once

#include "transport.h"

#include <string>
#include <windows.h>

namespace kestra {

/// UTF-8 text as the platform's wide text, for file and device names.
std::wstring windowsWide(const std::string& text);

/// The name CreateFileW opens for a configured port name: "\\.\" goes in front of a name longer
/// than four characters (COM10 and up need it; COM1 to COM9 are opened as they are) unless the
/// name is a device or network path already.
std::string windowsDeviceName(const std::string& portName);

/// Maps a Windows error code to a status; the one place where those codes are interpreted.
Status statusFromWindowsError(DWORD error);

/// A COM port through the Win32 file API: raw 8N1, no flow control, reads that return at once
/// with what is buffered, both directions purged after opening and before every frame.
class Win32Transport final : public Transport {
public:
    Win32Transport() = default;
    ~Win32Transport() override;
    Win32Transport(const Win32Transport&) = delete;
    Win32Transport& operator=(const Win32Transport&) = delete;

    OpenStep open(const std::string& path, int baud, Status& status) override;
    bool isOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }
    void close() override;
    Status purge() override;
    Status write(const char* data, std::size_t length) override;
    std::size_t read(char* buffer, std::size_t capacity, Clock::time_point deadline) override;
    int lastError() const override { return static_cast<int>(m_lastError); }
    std::string errorText(int error) const override;
    bool takeHangUp() override;

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DWORD m_lastError = 0;
    bool m_hungUp = false;
};

} // namespace kestra
