#pragma once

// Small text helpers that the kestractl sources share (not part of its interface).

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

namespace kestra::ctl::detail {

inline bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

inline bool endsWithIgnoreCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

inline std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

inline std::string hex4(unsigned value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFFu);
    return buffer;
}

inline std::string twoDigits(unsigned value)
{
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

inline std::string integerText(double value)
{
    return std::to_string(static_cast<long long>(value));
}

// Width in characters, not bytes: UTF-8 continuation bytes take no column.
inline std::size_t displayWidth(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

inline std::string padRight(std::string text, std::size_t width)
{
    std::size_t columns = displayWidth(text);
    if (columns < width)
        text.append(width - columns, ' ');
    return text;
}

inline constexpr std::string_view MicroSievert = "\xC2\xB5Sv"; // µSv, UTF-8
inline constexpr std::string_view MicroSievertPerHour = "\xC2\xB5Sv/h";
inline constexpr std::string_view FluxUnit = "CPM/cm\xC2\xB2"; // CPM/cm²
inline constexpr std::string_view CountRateUnit = "CPS";

} // namespace kestra::ctl::detail
