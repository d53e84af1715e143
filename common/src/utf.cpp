#include "kestracommon/utf.h"

#include <cstdio>

namespace kestra::common {

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

std::size_t utf8Length(char32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

} // namespace

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& i)
{
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead < 0x80 ? 1
        : (lead >> 5) == 0x6         ? 2
        : (lead >> 4) == 0xE         ? 3
        : (lead >> 3) == 0x1E        ? 4
                                     : 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return std::nullopt;
    }
    char32_t cp = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t minimum[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (cp < minimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += length;
    return cp;
}

std::optional<std::u16string> utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        std::optional<char32_t> cp = decodeUtf8(text, i);
        if (!cp || *cp == 0)
            return std::nullopt;
        if (*cp >= 0x10000) {
            char32_t v = *cp - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            out += static_cast<char16_t>(*cp);
        }
    }
    return out;
}

void utf8ToUtf16(std::string_view text, char16_t* buffer, std::size_t capacity)
{
    if (!buffer || capacity == 0)
        return;
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size() && out + 1 < capacity;) {
        char32_t cp = decodeUtf8(text, i).value_or(Replacement);
        if (cp >= 0x10000) {
            if (out + 2 >= capacity)
                break;
            cp -= 0x10000;
            buffer[out++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            buffer[out++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            buffer[out++] = static_cast<char16_t>(cp);
        }
    }
    buffer[out] = 0;
}

std::string utf16ToUtf8(const char16_t* text, std::size_t maxUnits, std::size_t maxBytes)
{
    std::string out;
    if (!text)
        return out;
    for (std::size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
        char32_t cp = text[i];
        if (isHighSurrogate(cp) && i + 1 < maxUnits && isLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (isHighSurrogate(cp) || isLowSurrogate(cp)) {
            cp = Replacement;
        }
        if (out.size() + utf8Length(cp) > maxBytes)
            break;
        appendUtf8(out, cp);
    }
    return out;
}

std::string printable(std::string_view text)
{
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
            out += buffer;
        }
    }
    return out;
}

} // namespace kestra::common
