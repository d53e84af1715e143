#include "ctl_format.h"

#include "kestracommon/portname.h"
#include "kestracommon/utf.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kestra::ctl {

// ---- text -----------------------------------------------------------------------------------

std::string jsonString(std::string_view text)
{
    // Invalid UTF-8 from the instrument comes out as U+FFFD rather than as broken JSON.
    return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string printable(std::string_view text)
{
    return common::printable(text);
}

std::string toHex(std::span<const uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

std::optional<std::array<uint8_t, KESTRADRV_MENU_WRITE_SIZE>> parseMenuHex(std::string_view text)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits += c;
    }
    if (digits.size() != 2 * KESTRADRV_MENU_WRITE_SIZE)
        return std::nullopt;
    std::array<uint8_t, KESTRADRV_MENU_WRITE_SIZE> menu {};
    for (std::size_t i = 0; i < menu.size(); ++i) {
        unsigned value = 0;
        std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, value, 16);
        menu[i] = static_cast<uint8_t>(value);
    }
    return menu;
}

std::string readableLogLine(std::string_view line)
{
    std::string out;
    for (char c : line)
        out += c == '\t' ? ' ' : c;
    for (std::string_view marker : { "to COM port: ", "from COM port: " }) {
        std::size_t at = out.find(marker);
        if (at == std::string::npos)
            continue;
        std::string_view hex = std::string_view(out).substr(at + marker.size());
        std::string bytes;
        for (std::size_t i = 0; i < hex.size();) {
            if (hex[i] == ' ') {
                ++i;
                continue;
            }
            unsigned value = 0;
            auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + std::min(hex.size(), i + 2), value, 16);
            if (ec != std::errc() || end != hex.data() + std::min(hex.size(), i + 2))
                return printable(out); // not a traffic line after all
            bytes += static_cast<char>(value);
            i += 2;
        }
        while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r'))
            bytes.pop_back();
        return printable(out.substr(0, at) + std::string(marker) + bytes);
    }
    return printable(out);
}

std::string resolvePortPath(std::string_view name)
{
    return common::portDevicePath(name);
}

} // namespace kestra::ctl
