#pragma once

// Wire-level pieces of the simulated instrument: checksum, reply formatting and the parser that
// cuts command frames out of the byte stream. Plain functions over buffers, usable without a port.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestra::sim {

inline constexpr std::string_view kFramePrefix = "KESTRA #";
inline constexpr std::string_view kNoNumber = "nonumber";
// The driver's receive buffer holds 1023 bytes; every reply must fit in it.
inline constexpr std::size_t kMaxReplyBytes = 1023;

/// CRC-16/X-25: init 0xFFFF, reflected polynomial 0x8408, final complement. "123456789" -> 0x906E.
uint16_t crc16X25(const void* data, std::size_t length);
inline uint16_t crc16X25(std::string_view text)
{
    return crc16X25(text.data(), text.size());
}

/// A whole reply: "KESTRA #" + number + " " + payload + " CRC=" + 4 hex digits + CR LF.
/// The checksum covers everything from the "K" through the "=" of "CRC=".
std::string formatReply(std::string_view number, std::string_view payload);

/// A command frame as the instrument received it.
struct Frame {
    std::string raw; // the full frame text including CR LF
    std::string address; // the token after "KESTRA #" ("nonumber" or an instrument number)
    uint16_t sequence = 0;
    std::string command; // the bytes between "$XXXX " and " CRC="
    bool wellFormed = false; // prefix, address, " $XXXX ", " CRC=" and hex digits all present
    bool checksumOk = false;
};

/// Parses one frame text (with or without the trailing CR LF); never throws.
Frame parseFrame(std::string_view text);

/// Accumulates received bytes and hands out complete frames (text from "KESTRA #" to CR LF).
/// Bytes before a prefix are dropped; the buffer is bounded so a stream without CR LF cannot grow it.
class FrameParser {
public:
    static constexpr std::size_t kMaxFrameBytes = 4096;

    void feed(const void* data, std::size_t length);
    std::optional<Frame> next();
    void clear() { m_buffer.clear(); }
    std::size_t buffered() const { return m_buffer.size(); }
    std::size_t discarded() const { return m_discarded; }

private:
    std::string m_buffer;
    std::size_t m_discarded = 0;
};

/// Upper-case hex of bytes, two digits each, no separators.
std::string toHex(const uint8_t* data, std::size_t length);
/// Parses consecutive hex pairs; nullopt on an odd length or a non-hex digit.
std::optional<std::vector<uint8_t>> fromHex(std::string_view text);

/// "%E" as the instrument prints it: 1.200000E-004.
std::string formatE(double value);

} // namespace kestra::sim
