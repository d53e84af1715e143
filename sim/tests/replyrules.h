#pragma once

// The host's view of a reply, written from the wire rules alone and sharing no code with the
// simulator: its own checksum, reply check and field reader.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace replyrules {

inline uint16_t x25(const std::string& text)
{
    uint16_t crc = 0xFFFF;
    for (unsigned char c : text) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    }
    return static_cast<uint16_t>(~crc);
}

inline std::string frame(const std::string& address, uint16_t sequence, const std::string& command)
{
    char head[32];
    std::snprintf(head, sizeof head, " $%04X ", sequence);
    std::string text = "KESTRA #" + address + head + command + " CRC=";
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", x25(text));
    return text + crc + "\r\n";
}

inline std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Checked {
    bool complete = false; // "CRC=" and CR LF after it were found
    bool checksumOk = false;
    std::string payload; // lower case, from after "MODE=" (or the reply start) to before CR LF
};

// The reply check: reply start at prefix+number (or the first byte when the number is unknown),
// checksum over reply start .. "=" of "CRC=".
inline Checked check(const std::string& received, const std::string& number)
{
    Checked result;
    std::size_t start = 0;
    if (!number.empty()) {
        start = received.find("KESTRA #" + number);
        if (start == std::string::npos)
            return result;
    }
    const std::size_t label = received.find("CRC=", start);
    if (label == std::string::npos)
        return result;
    const std::size_t end = received.find("\r\n", label);
    if (end == std::string::npos)
        return result;
    result.complete = true;
    const unsigned long given = std::strtoul(received.substr(label + 4, end - label - 4).c_str(), nullptr, 16);
    result.checksumOk = (given & 0xFFFF) == x25(received.substr(start, label + 4 - start));
    std::size_t from = received.find("MODE=", start);
    from = (from == std::string::npos || from > end) ? start : from + 5;
    result.payload = lower(received.substr(from, end - from));
    return result;
}

// First occurrence of key; text up to the terminator (empty when the terminator is missing).
inline std::optional<std::string> field(const std::string& payload, const std::string& key, const std::string& stop)
{
    const std::size_t at = payload.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t from = at + key.size();
    const std::size_t to = payload.find(stop, from);
    if (to == std::string::npos)
        return std::string();
    return payload.substr(from, to - from);
}

inline std::vector<uint8_t> hexBytes(const std::string& text, std::size_t count)
{
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < count && 2 * i + 1 < text.size(); ++i)
        bytes.push_back(static_cast<uint8_t>(std::strtoul(("0x" + text.substr(2 * i, 2)).c_str(), nullptr, 16)));
    return bytes;
}

// One history chunk as the host reads it: length (hex), " end" marks the last, data after.
struct Chunk {
    bool ok = false;
    bool last = false;
    std::vector<uint8_t> data;
};

inline Chunk chunk(const std::string& payload)
{
    Chunk c;
    const auto length = field(payload, "length=", " ");
    if (!length)
        return c;
    const std::size_t n = std::strtoul(("0x" + *length).c_str(), nullptr, 16);
    const std::size_t endMark = payload.find(" end");
    std::size_t from;
    if (endMark != std::string::npos) {
        c.last = true;
        from = endMark + 4 + 1;
    } else {
        from = payload.find("length=") + 7 + length->size() + 1;
    }
    if (from > payload.size())
        return c;
    c.data = hexBytes(payload.substr(from), n);
    c.ok = c.data.size() == n;
    return c;
}

} // namespace replyrules
