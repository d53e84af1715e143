#include "frame.h"

#include "crc.h"
#include "fields.h"
#include "text.h"

#include <cstdio>

namespace kestra {

std::string buildFrame(std::string_view number, uint16_t sequence, std::string_view command)
{
    std::string frame;
    frame.reserve(framePrefix.size() + maxNumberLength + command.size() + 24);
    frame += framePrefix;
    frame += number.empty() ? noNumber : number;
    char text[16];
    std::snprintf(text, sizeof text, " $%04X ", sequence);
    frame += text;
    frame += command;
    frame += " CRC=";
    std::snprintf(text, sizeof text, "%04X\r\n", checksum(frame));
    frame += text;
    return frame;
}

uint64_t parseHexDigits(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && hexDigitValue(text[i + 2]) >= 0)
        i += 2;
    return fields::hexValue(text.substr(i));
}

ReplyCheck checkReply(std::string_view received, std::string_view number)
{
    std::size_t start = 0;
    if (!number.empty()) {
        std::string address;
        address.reserve(framePrefix.size() + number.size());
        address += framePrefix;
        address += number;
        start = received.find(address);
        if (start == std::string_view::npos)
            return {};
    }
    std::string_view reply = received.substr(start);
    std::size_t label = reply.find("CRC=");
    if (label == std::string_view::npos)
        return {};
    std::size_t digits = label + 4;
    std::size_t end = reply.find("\r\n", digits);
    if (end == std::string_view::npos)
        return {};

    std::string_view field = reply.substr(digits, std::min<std::size_t>(end - digits, maxNumberLength));
    if ((parseHexDigits(field) & 0xFFFF) != checksum(reply.substr(0, digits)))
        return { ReplyVerdict::BadChecksum, {} };

    // The useful part starts after "MODE=" when the instrument marks it; only a marker inside
    // this reply counts.
    std::size_t begin = 0;
    std::size_t mode = reply.substr(0, end).find("MODE=");
    if (mode != std::string_view::npos)
        begin = mode + 5;
    std::string_view payload = reply.substr(begin, std::min(end - begin, commandBufferSize - 1));
    return { ReplyVerdict::Accept, toLower(payload) };
}

} // namespace kestra
