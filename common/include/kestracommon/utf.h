#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestra::common {

/// Decodes one UTF-8 sequence at text[i] and advances i past it; a malformed sequence (bad
/// lead or continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short) gives
/// nullopt and advances i by one byte.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& i);
void appendUtf8(std::string& out, char32_t codePoint);

/// Strict: nullopt for malformed UTF-8 or an embedded NUL (the C interface cannot carry it).
std::optional<std::u16string> utf8ToUtf16(std::string_view text);

/// Writes UTF-8 text into a UTF-16 buffer of `capacity` units, always NUL-terminated when
/// capacity > 0; malformed bytes become U+FFFD, and a pair that does not fit is left out whole.
void utf8ToUtf16(std::string_view text, char16_t* buffer, std::size_t capacity);

/// UTF-16 up to its NUL or maxUnits units (null: "") as UTF-8 of at most maxBytes bytes, never
/// cutting a character; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* text, std::size_t maxUnits, std::size_t maxBytes = SIZE_MAX);

/// Control characters and non-ASCII bytes as \xNN, so that text from outside cannot upset a
/// terminal or a log line.
std::string printable(std::string_view text);

} // namespace kestra::common
