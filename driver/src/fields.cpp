#include "fields.h"

#include "text.h"

#include <cmath>
#include <limits>

namespace kestra::fields {

std::optional<std::string_view> text(std::string_view payload, std::string_view key, std::string_view terminator)
{
    std::size_t at = payload.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::size_t begin = at + key.size();
    std::size_t end = payload.find(terminator, begin);
    if (end == std::string_view::npos)
        return std::string_view {};
    return payload.substr(begin, end - begin);
}

uint64_t hexValue(std::string_view text)
{
    uint64_t value = 0;
    for (char c : text) {
        int digit = hexDigitValue(c);
        if (digit < 0)
            break;
        if (value > (std::numeric_limits<uint64_t>::max() >> 4))
            return std::numeric_limits<uint64_t>::max();
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return value;
}

std::optional<uint64_t> hex(std::string_view payload, std::string_view key, std::string_view terminator)
{
    auto field = text(payload, key, terminator);
    if (!field)
        return std::nullopt;
    return hexValue(*field);
}

std::optional<double> decimal(std::string_view payload, std::string_view key, std::string_view terminator)
{
    auto field = text(payload, key, terminator);
    if (!field)
        return std::nullopt;
    return parseDouble(*field);
}

std::optional<std::string_view> token(std::string_view payload, std::string_view key)
{
    std::size_t at = payload.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::size_t begin = at + key.size();
    while (begin < payload.size() && payload[begin] == ' ')
        ++begin;
    std::size_t end = payload.find(' ', begin);
    std::string_view result = payload.substr(begin, end == std::string_view::npos ? payload.npos : end - begin);
    if (result.empty())
        return std::nullopt;
    return result;
}

std::optional<int32_t> truncated(double value)
{
    double whole = std::trunc(value);
    if (!std::isfinite(whole) || whole < std::numeric_limits<int32_t>::min()
        || whole > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(whole);
}

std::optional<int32_t> exponentValue(std::string_view text)
{
    std::size_t e = text.find('e');
    if (e == std::string_view::npos || e == 0)
        return truncated(parseDouble(text) * 1e8);
    double mantissa = parseDouble(text.substr(0, e));
    int exponent = parseInt(text.substr(e + 1));
    // The power is taken in single precision, as the instrument's own tools do; 1.2e-06 is 120.
    auto power = static_cast<float>(std::pow(10.0, static_cast<double>(exponent) + 8.0));
    return truncated(mantissa * static_cast<double>(power));
}

} // namespace kestra::fields
