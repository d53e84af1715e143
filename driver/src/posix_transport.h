#pragma once

#include "transport.h"

namespace kestra {

/// A termios serial line (a USB bridge, a real UART or a pseudo-terminal).
class PosixTransport final : public Transport {
public:
    PosixTransport() = default;
    ~PosixTransport() override;
    PosixTransport(const PosixTransport&) = delete;
    PosixTransport& operator=(const PosixTransport&) = delete;

    OpenStep open(const std::string& path, int baud, Status& status) override;
    bool isOpen() const override { return m_fd >= 0; }
    void close() override;
    Status purge() override;
    Status write(const char* data, std::size_t length) override;
    std::size_t read(char* buffer, std::size_t capacity, Clock::time_point deadline) override;
    int lastError() const override { return m_lastError; }
    bool takeHangUp() override;

private:
    int m_fd = -1;
    int m_baud = 0;
    int m_lastError = 0;
    bool m_hungUp = false;
};

} // namespace kestra
