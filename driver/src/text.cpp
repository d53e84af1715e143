#include "text.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>

namespace kestra {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string toLower(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

std::string formatE(double value)
{
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 6);
    std::string s(text, result.ptr);
    std::size_t e = s.find('e');
    if (e == std::string::npos)
        return s; // inf or nan
    std::string mantissa = s.substr(0, e);
    char sign = s[e + 1];
    std::string exponent = s.substr(e + 2);
    while (exponent.size() < 3)
        exponent.insert(exponent.begin(), '0');
    return mantissa + 'E' + sign + exponent;
}

std::string formatFixed(double value, int decimals)
{
    char text[400];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

namespace {

// Skips leading blanks and one sign, as the C library's number rules do.
std::size_t skipBlanksAndSign(std::string_view text, bool& negative)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return i;
}

} // namespace

double parseDouble(std::string_view text)
{
    bool negative = false;
    std::size_t i = skipBlanksAndSign(text, negative);
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        return 0.0;
    double value = 0.0;
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument)
        return 0.0;
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: the C rule gives HUGE_VAL or 0.
        std::size_t e = text.find_first_of("eE", i);
        bool tiny = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
        value = tiny ? 0.0 : HUGE_VAL;
    }
    return negative ? -value : value;
}

int parseInt(std::string_view text)
{
    bool negative = false;
    std::size_t i = skipBlanksAndSign(text, negative);
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

} // namespace kestra
