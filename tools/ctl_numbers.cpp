#include "ctl_format.h"

#include "ctl_strings.h"
#include "kestracommon/texts.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kestra::ctl {

using namespace detail;

// ---- numbers ------------------------------------------------------------------------------

std::string formatDecimal(double value, int minDecimals, int maxDecimals)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, maxDecimals);
    if (ec != std::errc())
        return formatShortest(value);
    std::string text(buffer, end);
    std::size_t point = text.find('.');
    if (point != std::string::npos) {
        std::size_t keep = point + 1 + static_cast<std::size_t>(minDecimals);
        while (text.size() > keep && text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0" || (text.starts_with("-0.") && text.find_first_not_of("-0.") == std::string::npos))
        text.erase(0, 1); // no "-0.00" for a value that rounds to zero
    return text;
}

std::string jsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    // Ten decimals hide the noise of a division (0.08315431000000001) without losing digits
    // that the instrument sends; tiny values keep their exponent.
    if (std::fabs(value) >= 1e-4 && std::fabs(value) < 1e15)
        return formatDecimal(value, 0, 10);
    return formatShortest(value);
}

std::string formatShortest(double value)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    // Plain digits where a person expects them (100000, not 1e+05); exponents only far out.
    double magnitude = std::fabs(value);
    bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e15);
    char buffer[400];
    auto [end, ec] = plain ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                           : std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::optional<double> parseNumber(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> parseInteger(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-')
        return std::nullopt;
    unsigned long long magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
        return std::nullopt;
    long long value = static_cast<long long>(magnitude);
    return negative ? -value : value;
}

// ---- units ----------------------------------------------------------------------------------

std::string formatDoseRate(double driverUnits)
{
    return formatDecimal(driverUnits / 100.0, 2, 4) + " " + std::string(MicroSievertPerHour);
}

std::string formatDose(double driverUnits)
{
    double microSievert = driverUnits / 100.0;
    if (std::fabs(microSievert) < 1000.0)
        return formatDecimal(microSievert, 2, 4) + " " + std::string(MicroSievert);
    return formatDecimal(microSievert / 1000.0, 3, 5) + " mSv";
}

std::string formatDuration(long long seconds)
{
    std::string sign;
    if (seconds < 0) {
        sign = "-";
        seconds = -seconds;
    }
    return sign + std::to_string(seconds / 3600) + ":" + twoDigits(static_cast<unsigned>(seconds / 60 % 60)) + ":"
        + twoDigits(static_cast<unsigned>(seconds % 60));
}

std::string modeName(int mode)
{
    const common::CodeText* entry = common::findCode(common::deviceModeNames(), mode);
    return entry ? entry->text : "unknown";
}

std::optional<int> parseSelectableMode(std::string_view text)
{
    struct Name {
        std::string_view text;
        int mode;
    };
    static constexpr Name names[] = { { "gamma", 3 }, { "3", 3 }, { "beta", 4 }, { "beta1", 4 }, { "beta-1", 4 },
        { "4", 4 }, { "beta2", 5 }, { "beta-2", 5 }, { "5", 5 }, { "beta-search", 8 }, { "search", 8 }, { "8", 8 } };
    for (const Name& n : names)
        if (equalsIgnoreCase(text, n.text))
            return n.mode;
    return std::nullopt;
}

std::optional<bool> parseOnOff(std::string_view text)
{
    for (std::string_view on : { "on", "1", "yes", "true" })
        if (equalsIgnoreCase(text, on))
            return true;
    for (std::string_view off : { "off", "0", "no", "false" })
        if (equalsIgnoreCase(text, off))
            return false;
    return std::nullopt;
}

std::string alarmText(const common::CodeText& alarm)
{
    std::string text = alarm.text;
    if (*alarm.context)
        text += std::string(" (") + alarm.context + ")";
    return text;
}

std::vector<std::string> alarmTexts(uint16_t word)
{
    // The instrument's alarm bits in the order of their importance, then the flag that only
    // the status word carries.
    constexpr uint16_t AutocalibrationRunning = 0x8000;
    std::vector<std::string> texts;
    uint16_t known = AutocalibrationRunning;
    for (const common::CodeText& alarm : common::alarmTexts()) {
        known |= static_cast<uint16_t>(alarm.code);
        if (word & alarm.code)
            texts.push_back(alarmText(alarm));
    }
    if (word & AutocalibrationRunning)
        texts.emplace_back("autocalibration running");
    for (unsigned mask = 1; mask <= 0x8000; mask <<= 1)
        if ((word & mask) && !(known & mask))
            texts.push_back("bit 0x" + hex4(mask));
    return texts;
}

std::string betaStatusText(int status)
{
    const common::CodeText* entry = common::findCode(common::betaStatusTexts(), status);
    return entry ? entry->text : common::BetaStatusUncertain;
}

std::string_view readingUnit(int mode)
{
    switch (mode) {
    case 3:
        return MicroSievertPerHour;
    case 5:
        return FluxUnit;
    case 4:
    case 6:
    case 7:
    case 8:
        return CountRateUnit;
    default:
        return "";
    }
}

std::string formatReading(int mode, double value)
{
    if (mode == 3)
        return formatDoseRate(value);
    std::string_view unit = readingUnit(mode);
    if (unit.empty())
        return "none";
    return formatDecimal(value, 2, 4) + " " + std::string(unit);
}

} // namespace kestra::ctl
