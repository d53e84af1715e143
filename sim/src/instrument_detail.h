#pragma once

// What the instrument's command handling and its measurement model share: the counting model's
// constants and the small parsers of command words (private to the simulator library).

#include "kestrasim/instrument.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace kestra::sim::detail {

// Counting model: 0.1 uSv/h gives 0.5 counts per second; the reading averages two minutes.
inline constexpr double kCountsPerSvh = 5.0e6;
inline constexpr double kAveragingSeconds = 120.0;
inline constexpr double kOverloadRate = 10.0; // Sv/h
inline constexpr double kRetryWindow = 1.5; // seconds within which a repeated frame is a retry
inline constexpr double kDownloadIdleLimit = 10.0; // an abandoned download ends after this long
inline constexpr int kMaxCatchUpRecords = 1000;
inline constexpr std::size_t kReplyMargin = 16; // room for a few stray bytes in the driver's buffer

inline std::string lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

inline bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The value after `key` (case-insensitive) up to the next space or the end.
inline std::optional<std::string> argument(std::string_view command, std::string_view key)
{
    const std::string haystack = lower(command);
    const std::size_t at = haystack.find(lower(key));
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t start = at + key.size();
    const std::size_t end = command.find(' ', start);
    return std::string(command.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

// A decimal number optionally followed by exactly `unit` (case-insensitive).
inline std::optional<double> number(const std::optional<std::string>& text, std::string_view unit = {})
{
    if (!text || text->empty())
        return std::nullopt;
    const char* begin = text->c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value))
        return std::nullopt;
    const std::string rest = lower(std::string_view(end));
    if (!rest.empty() && rest != lower(unit))
        return std::nullopt;
    return value;
}

inline std::optional<unsigned long> hexNumber(const std::optional<std::string>& text, std::size_t maxDigits)
{
    if (!text || text->empty() || text->size() > maxDigits)
        return std::nullopt;
    unsigned long value = 0;
    for (char c : *text) {
        const int digit = std::isxdigit(static_cast<unsigned char>(c))
            ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10)
            : -1;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    return value;
}

inline std::string hex(unsigned long value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0*lX", digits, value);
    return text;
}

inline bool validNumber(std::string_view number)
{
    if (number.empty() || number.size() > 32)
        return false;
    return std::all_of(number.begin(), number.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; });
}

inline const char* modeWord(int mode)
{
    switch (mode) {
    case ModeReadHistory:
        return "read_history";
    case ModeTest:
        return "test";
    case ModeGamma:
        return "gm";
    case ModeBeta1:
        return "betta_1";
    case ModeBeta2:
        return "betta_2";
    case ModeSurvey:
        return "survey";
    case ModeBackground:
        return "backgr";
    case ModeSearch:
        return "search_bg";
    default:
        return "idle";
    }
}

inline const std::string kError = "error";

} // namespace kestra::sim::detail
