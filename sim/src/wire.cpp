#include "kestrasim/wire.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestra::sim {

uint16_t crc16X25(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
    }
    return static_cast<uint16_t>(~crc);
}

std::string formatReply(std::string_view number, std::string_view payload)
{
    std::string reply;
    reply.reserve(kFramePrefix.size() + number.size() + payload.size() + 16);
    reply.append(kFramePrefix);
    reply.append(number);
    reply.push_back(' ');
    reply.append(payload);
    reply.append(" CRC=");
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", crc16X25(reply));
    reply.append(digits);
    reply.append("\r\n");
    return reply;
}

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

Frame parseFrame(std::string_view text)
{
    Frame frame;
    frame.raw = std::string(text);
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
        text.remove_suffix(2);
    if (text.substr(0, kFramePrefix.size()) != kFramePrefix)
        return frame;
    const std::size_t crcLabel = text.rfind(" CRC=");
    if (crcLabel == std::string_view::npos)
        return frame;
    const std::size_t addressStart = kFramePrefix.size();
    const std::size_t addressEnd = text.find(' ', addressStart);
    if (addressEnd == std::string_view::npos || addressEnd == addressStart || addressEnd > crcLabel)
        return frame;
    frame.address = std::string(text.substr(addressStart, addressEnd - addressStart));

    // " $XXXX " follows the address; the command runs from there to " CRC=".
    const std::size_t sequenceStart = addressEnd + 2;
    if (sequenceStart + 5 > crcLabel || text[addressEnd + 1] != '$' || text[sequenceStart + 4] != ' ')
        return frame;
    unsigned sequence = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int digit = hexValue(text[sequenceStart + i]);
        if (digit < 0)
            return frame;
        sequence = sequence * 16 + static_cast<unsigned>(digit);
    }
    frame.sequence = static_cast<uint16_t>(sequence);
    frame.command = std::string(text.substr(sequenceStart + 5, crcLabel - (sequenceStart + 5)));

    const std::string_view digits = text.substr(crcLabel + 5);
    if (digits.empty() || digits.size() > 4)
        return frame;
    unsigned crc = 0;
    for (char c : digits) {
        const int digit = hexValue(c);
        if (digit < 0)
            return frame;
        crc = crc * 16 + static_cast<unsigned>(digit);
    }
    frame.wellFormed = true;
    frame.checksumOk = crc == crc16X25(text.substr(0, crcLabel + 5));
    return frame;
}

void FrameParser::feed(const void* data, std::size_t length)
{
    m_buffer.append(static_cast<const char*>(data), length);
}

std::optional<Frame> FrameParser::next()
{
    for (;;) {
        const std::size_t start = m_buffer.find(kFramePrefix);
        if (start == std::string::npos) {
            // Keep a tail that may be the beginning of a prefix split across reads.
            const std::size_t keep = std::min(m_buffer.size(), kFramePrefix.size() - 1);
            m_discarded += m_buffer.size() - keep;
            m_buffer.erase(0, m_buffer.size() - keep);
            return std::nullopt;
        }
        if (start > 0) {
            m_discarded += start;
            m_buffer.erase(0, start);
        }
        const std::size_t end = m_buffer.find("\r\n");
        if (end == std::string::npos) {
            if (m_buffer.size() > kMaxFrameBytes) {
                // A frame this long is garbage; resynchronise on the next prefix.
                m_discarded += 1;
                m_buffer.erase(0, 1);
                continue;
            }
            return std::nullopt;
        }
        // A frame cut short by a newer one: the last prefix before CR LF starts the real frame.
        const std::size_t last = m_buffer.rfind(kFramePrefix, end);
        if (last > 0) {
            m_discarded += last;
            m_buffer.erase(0, last);
            continue;
        }
        Frame frame = parseFrame(std::string_view(m_buffer).substr(0, end + 2));
        m_buffer.erase(0, end + 2);
        return frame;
    }
}

std::string toHex(const uint8_t* data, std::size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.resize(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text[2 * i] = digits[data[i] >> 4];
        text[2 * i + 1] = digits[data[i] & 0x0F];
    }
    return text;
}

std::optional<std::vector<uint8_t>> fromHex(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::string formatE(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%E", value);
    // The instrument prints three exponent digits (1.200000E-004), as its C library does.
    const char* e = std::strchr(text, 'E');
    if (!e || !(e[1] == '+' || e[1] == '-'))
        return text; // INF or NAN
    const int exponent = std::atoi(e + 1);
    char result[80];
    std::snprintf(result, sizeof result, "%.*sE%c%03d", static_cast<int>(e - text), text, exponent < 0 ? '-' : '+',
        exponent < 0 ? -exponent : exponent);
    return result;
}

} // namespace kestra::sim
