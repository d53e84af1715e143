#include "ctl_format.h"

#include "ctl_strings.h"

#include <cmath>
#include <limits>

namespace kestra::ctl {

using namespace detail;

namespace {

// Unit spellings a person may type after a number, with the factor to the base unit.
struct UnitSuffix {
    std::string_view text;
    double factor;
};

constexpr UnitSuffix DoseRateSuffixes[]
    = { { "\xC2\xB5Sv/h", 1.0 }, { "uSv/h", 1.0 }, { "mSv/h", 1000.0 }, { "Sv/h", 1e6 } };
constexpr UnitSuffix DoseSuffixes[] = { { "\xC2\xB5Sv", 1.0 }, { "uSv", 1.0 }, { "mSv", 1000.0 }, { "Sv", 1e6 } };

// Splits "1.5 mSv/h" into the number and the factor of its unit; no suffix means factor 1.
template <std::size_t N> std::optional<double> parseWithSuffix(std::string_view text, const UnitSuffix (&suffixes)[N])
{
    text = trim(text);
    double factor = 1.0;
    for (const UnitSuffix& suffix : suffixes) {
        if (endsWithIgnoreCase(text, suffix.text)) {
            text.remove_suffix(suffix.text.size());
            factor = suffix.factor;
            break;
        }
    }
    std::optional<double> number = parseNumber(trim(text));
    if (!number)
        return std::nullopt;
    return *number * factor;
}

std::optional<double> parseWithUnit(std::string_view text, std::string_view unit)
{
    text = trim(text);
    if (!unit.empty() && endsWithIgnoreCase(text, unit))
        text.remove_suffix(unit.size());
    return parseNumber(trim(text));
}

std::string rangeText(const SettingInfo& s, bool rawUnits)
{
    double low = rawUnits ? s.rawMin : s.min;
    double high = rawUnits ? s.rawMax : s.max;
    std::string text = formatDecimal(low, 0, 6) + " and " + formatDecimal(high, 0, 6);
    if (!rawUnits && !s.unit.empty())
        text += " " + std::string(s.unit);
    return text;
}

} // namespace

// ---- settings -------------------------------------------------------------------------------

std::span<const SettingInfo> settingTable()
{
    constexpr double int32Max = std::numeric_limits<int32_t>::max();
    constexpr double int32Min = std::numeric_limits<int32_t>::min();
    constexpr double doubleMax = std::numeric_limits<double>::max();
    // Human ranges are those the settings dialog accepts; the history interval stops at
    // 65535 because the instrument keeps 16 bits and would store a larger value truncated.
    static constexpr SettingInfo table[] = {
        { "units", SettingKind::Units, "", "units the instrument shows: sievert or roentgen", true, 0, 1, 0, 1 },
        { "sound", SettingKind::OnOff, "", "sound: on or off", true, 0, 1, 0, 1 },
        { "light", SettingKind::OnOff, "", "backlight: on or off", true, 0, 1, 0, 1 },
        { "beep", SettingKind::OnOff, "", "beep in search mode: on or off", true, 0, 1, 0, 1 },
        { "sigma", SettingKind::Real, "", "sigma factor, one decimal", false, 0, 99.9, 0, 99.9 },
        { "qm-timeout", SettingKind::Count, "", "quick-measurement time-out", true, 0, 65535, 0, 65535 },
        { "der1", SettingKind::DoseRate, MicroSievertPerHour, "dose-rate threshold \"Attention\"", true, 0.1, 100000, 0,
            int32Max },
        { "der2", SettingKind::DoseRate, MicroSievertPerHour, "dose-rate threshold \"Danger\"", true, 0.1, 100000, 0,
            int32Max },
        { "de", SettingKind::Dose, MicroSievert, "accumulated dose threshold", false, 0.01, 1e9, 0, 1e11 },
        { "hv", SettingKind::HexCode, "", "detector high-voltage code", true, 0, 65535, 0, 65535 },
        { "k-der", SettingKind::Real, "", "gamma dose-rate coefficient", false, -doubleMax, doubleMax, -doubleMax,
            doubleMax },
        { "k-beta", SettingKind::Count, "", "beta coefficient", true, int32Min, int32Max, int32Min, int32Max },
        { "k-alpha", SettingKind::Count, "", "alpha coefficient", true, int32Min, int32Max, int32Min, int32Max },
        { "background", SettingKind::DoseRate, MicroSievertPerHour, "the detector's own background", false, 0, 1e7, 0,
            1e9 },
        { "beta1", SettingKind::Count, FluxUnit, "beta threshold \"Attention\"", true, 6, 1000, 0, int32Max },
        { "beta2", SettingKind::Count, FluxUnit, "beta threshold \"Danger\"", true, 6, 1000, 0, int32Max },
        { "beta-search", SettingKind::Real, CountRateUnit, "beta search threshold", false, 0.1, 1000000, 0, 1e12 },
        { "hist-interval", SettingKind::Count, "s", "history recording interval", true, 60, 65535, 0, 65535 },
    };
    return table;
}

const SettingInfo* findSetting(std::string_view name)
{
    for (const SettingInfo& s : settingTable())
        if (equalsIgnoreCase(s.name, name))
            return &s;
    return nullptr;
}

SettingValue parseSettingValue(const SettingInfo& s, std::string_view text, bool rawUnits)
{
    SettingValue result;
    text = trim(text);
    std::string name(s.name);
    if (s.kind == SettingKind::OnOff || s.kind == SettingKind::Units) {
        std::optional<bool> flag;
        if (rawUnits) {
            if (text == "0" || text == "1")
                flag = text == "1";
        } else if (s.kind == SettingKind::OnOff) {
            flag = parseOnOff(text);
        } else if (equalsIgnoreCase(text, "roentgen") || equalsIgnoreCase(text, "r")) {
            flag = true;
        } else if (equalsIgnoreCase(text, "sievert") || equalsIgnoreCase(text, "sv")) {
            flag = false;
        }
        if (!flag) {
            result.error = name + ": expected "
                + (rawUnits                            ? "0 or 1"
                        : s.kind == SettingKind::OnOff ? "on or off"
                                                       : "sievert or roentgen");
            return result;
        }
        result.raw = *flag ? 1.0 : 0.0;
        return result;
    }

    std::optional<double> value;
    if (s.kind == SettingKind::HexCode || (rawUnits && s.integral) || (s.kind == SettingKind::Count && !rawUnits)) {
        std::string_view digits = text;
        if (!rawUnits && !s.unit.empty() && endsWithIgnoreCase(digits, s.unit))
            digits = trim(digits.substr(0, digits.size() - s.unit.size()));
        if (std::optional<long long> n = parseInteger(digits))
            value = static_cast<double>(*n);
    } else if (rawUnits) {
        value = parseNumber(text);
    } else if (s.kind == SettingKind::DoseRate) {
        value = parseWithSuffix(text, DoseRateSuffixes);
    } else if (s.kind == SettingKind::Dose) {
        value = parseWithSuffix(text, DoseSuffixes);
    } else {
        value = parseWithUnit(text, s.unit);
    }
    if (!value) {
        result.error = name + ": '" + printable(text) + "' is not "
            + ((s.integral && (rawUnits || s.kind != SettingKind::DoseRate)) ? "a whole number" : "a number");
        return result;
    }
    double low = rawUnits ? s.rawMin : s.min;
    double high = rawUnits ? s.rawMax : s.max;
    if (*value < low || *value > high) {
        result.error = name + " must be between " + rangeText(s, rawUnits);
        return result;
    }
    double raw = *value;
    if (!rawUnits && (s.kind == SettingKind::DoseRate || s.kind == SettingKind::Dose))
        raw = *value * 100.0; // µSv/h and µSv to the driver's 1e-8 units
    if (s.integral) {
        raw = std::round(raw);
        if (raw < s.rawMin || raw > s.rawMax) {
            result.error = name + " must be between " + rangeText(s, true) + " in driver units";
            return result;
        }
    }
    if (s.name == "sigma")
        raw = std::round(raw * 10.0) / 10.0; // the instrument keeps one decimal
    result.raw = raw;
    return result;
}

std::string formatSettingValue(const SettingInfo& s, double raw, bool rawUnits)
{
    if (rawUnits)
        return s.integral ? integerText(raw) : formatShortest(raw);
    switch (s.kind) {
    case SettingKind::OnOff:
        return raw != 0 ? "on" : "off";
    case SettingKind::Units:
        return raw != 0 ? "roentgen" : "sievert";
    case SettingKind::DoseRate:
        return formatDoseRate(raw);
    case SettingKind::Dose:
        return formatDose(raw);
    case SettingKind::HexCode:
        return "0x" + hex4(static_cast<unsigned>(raw)) + " (" + integerText(raw) + ")";
    case SettingKind::Count:
    case SettingKind::Real: {
        std::string text = s.integral ? integerText(raw)
            : s.name == "sigma"       ? formatDecimal(raw, 1, 1)
            : s.unit.empty()          ? formatShortest(raw)
                                      : formatDecimal(raw, 1, 6);
        if (!s.unit.empty())
            text += " " + std::string(s.unit);
        return text;
    }
    }
    return formatShortest(raw);
}

std::string settingJson(const SettingInfo& s, double raw)
{
    std::string value;
    std::string unit(s.unit);
    switch (s.kind) {
    case SettingKind::OnOff:
        value = raw != 0 ? "true" : "false";
        break;
    case SettingKind::Units:
        value = jsonString(raw != 0 ? "roentgen" : "sievert");
        break;
    case SettingKind::DoseRate:
    case SettingKind::Dose:
        value = jsonNumber(raw / 100.0);
        break;
    default:
        value = s.integral ? integerText(raw) : jsonNumber(raw);
        break;
    }
    std::string text = "{\"value\":" + value;
    if (!unit.empty())
        text += ",\"unit\":" + jsonString(unit);
    text += ",\"raw\":" + (s.integral ? integerText(raw) : jsonNumber(raw)) + "}";
    return text;
}

} // namespace kestra::ctl
