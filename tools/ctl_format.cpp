#include "ctl_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kestra::ctl {

namespace {

constexpr std::string_view MicroSievert = "\xC2\xB5Sv"; // µSv, UTF-8
constexpr std::string_view MicroSievertPerHour = "\xC2\xB5Sv/h";
constexpr std::string_view FluxUnit = "CPM/cm\xC2\xB2"; // CPM/cm²
constexpr std::string_view CountRateUnit = "CPS";

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool endsWithIgnoreCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string hex4(unsigned value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFFu);
    return buffer;
}

std::string twoDigits(unsigned value)
{
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

std::string integerText(double value)
{
    return std::to_string(static_cast<long long>(value));
}

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

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i, or
// nullopt (i advanced by one) for a malformed sequence.
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

// What the instrument's history codes mean, in the order of the decoder's table.
struct EventInfo {
    char code;
    std::string_view name;
    std::string_view alarm;
};

constexpr EventInfo Events[] = {
    { '0', "Instrument is switched Off", "" },
    { '1', "Instrument is switched On", "" },
    { 'A', "Start of instrument calibration", "" },
    { 'B', "Background", "" },
    { 'D', "Measurement gamma", "Accumulated dose threshold is exceeded!" },
    { 'F', "Measurement gamma", "" },
    { 'G', "Measurement gamma", "Threshold \"Warning\" is exceeded! (gamma)" },
    { 'g', "Measurement gamma", "Threshold \"Danger\" is exceeded! (gamma)" },
    { 'O', "Measurement gamma", "Dose overload!" },
    { 'I', "Measurement beta", "Threshold \"Warning\" is exceeded! (beta)" },
    { 'i', "Measurement beta", "Threshold \"Danger\" is exceeded! (beta)" },
    { 'b', "Measurement beta", "" },
    { 'J', "Search beta/gamma", "Search threshold is exceeded!" },
    { 'S', "Search beta/gamma", "" },
    { 'R', "Accumulated DE is cleared", "" },
    { 'C', "End of instrument calibration", "" },
    { 's', "Instrument sound mode is changed", "" },
};

const EventInfo* findEvent(char code)
{
    for (const EventInfo& e : Events)
        if (e.code == code)
            return &e;
    return nullptr;
}

// Width in characters, not bytes: UTF-8 continuation bytes take no column.
std::size_t displayWidth(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string padRight(std::string text, std::size_t width)
{
    std::size_t columns = displayWidth(text);
    if (columns < width)
        text.append(width - columns, ' ');
    return text;
}

} // namespace

// ---- command line ---------------------------------------------------------------------------

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args, const char* envPort)
{
    ParsedCommandLine result;
    Options options;
    if (envPort)
        options.port = envPort;
    bool optionsEnded = false;
    bool haveCommand = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || (arg[1] != '-' && arg != "-h")) {
            if (!haveCommand) {
                options.command = arg;
                haveCommand = true;
            } else {
                options.args.push_back(arg);
            }
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (std::size_t eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--raw" && !value) {
            options.raw = true;
        } else if (name == "--json" && !value) {
            options.json = true;
        } else if (name == "--port") {
            std::optional<std::string> port = takeValue();
            if (!port || port->empty()) {
                result.error = "--port needs a device path";
                return result;
            }
            options.port = *port;
        } else if (name == "--baud") {
            std::optional<std::string> text = takeValue();
            std::optional<long long> baud = text ? parseInteger(*text) : std::nullopt;
            if (!baud || *baud <= 0 || *baud > 4000000) {
                result.error = "--baud needs a line rate between 1 and 4000000";
                return result;
            }
            options.baud = static_cast<int>(*baud);
        } else if (name == "--log") {
            std::optional<std::string> dir = takeValue();
            if (!dir || dir->empty()) {
                result.error = "--log needs a directory";
                return result;
            }
            options.logDir = *dir;
        } else {
            result.error = "unknown option " + name;
            return result;
        }
    }
    if (!haveCommand && !options.help) {
        result.error = "no command given";
        return result;
    }
    result.options = std::move(options);
    return result;
}

namespace {
struct CommandArity {
    std::string_view name;
    std::size_t minArgs;
    std::size_t maxArgs;
    bool needsPort;
};

constexpr CommandArity Commands[] = {
    { "crc", 1, 1, false },
    { "identify", 0, 0, true },
    { "set-number", 1, 1, true },
    { "info", 0, 0, true },
    { "alarm", 0, 0, true },
    { "mode", 0, 0, true },
    { "set-mode", 1, 1, true },
    { "dose", 0, 0, true },
    { "reset-dose", 0, 0, true },
    { "reset-stat", 0, 1, true },
    { "battery", 0, 0, true },
    { "history", 0, 0, true },
    { "clear-history", 0, 0, true },
    { "get", 1, 1, true },
    { "set", 2, 2, true },
    { "time", 0, 0, true },
    { "set-time", 0, 0, true },
    { "lock", 1, 1, true },
    { "menu", 0, 0, true },
    { "set-menu", 1, 1, true },
    { "autocal", 1, 4, true },
    { "version", 1, 1, true },
    { "firmware", 1, 1, true },
};
} // namespace

std::string checkCommandArity(const Options& options)
{
    for (const CommandArity& c : Commands) {
        if (c.name != options.command)
            continue;
        if (options.args.size() < c.minArgs)
            return "'" + options.command + "' needs more arguments";
        if (options.args.size() > c.maxArgs)
            return "'" + options.command + "' takes at most " + std::to_string(c.maxArgs) + " argument"
                + (c.maxArgs == 1 ? "" : "s");
        if (c.needsPort && options.port.empty())
            return "no port given: use --port PATH or set KESTRA_PORT";
        return {};
    }
    return "unknown command '" + printable(options.command) + "'";
}

std::string usageText()
{
    return R"(usage: kestractl [options] <command> [arguments]

Options:
  --port PATH   serial port of the instrument (default: $KESTRA_PORT); a bare name is
                looked up under /dev, COMn means /dev/ttyS(n-1)
  --baud N      line rate (default 115200)
  --log DIR     keep the driver log in DIR/KESTRAdrv.log; without it the log goes to a
                temporary directory, is shown on failure and removed at exit
  --raw         the driver's own numbers (1e-8 Sv/h, 1e-8 Sv, ...) in output and input
  --json        JSON output (info, alarm, dose, battery, identify, mode, time, get,
                history, autocal status|params, version, menu, crc)
  --help        this text

Commands:
  identify                  instrument identity and number
  set-number N|none         give the instrument a new number ("none": no number)
  info                      mode, current reading, alarm word, beta status
  alarm                     alarm word alone
  mode                      operating mode
  set-mode MODE             gamma, beta (beta1, beta2: the instrument picks which) or
                            beta-search (or 3, 4, 5, 8); prints the mode now set
  dose                      dose rate, accumulation time, accumulated dose
  reset-dose                clear the accumulated dose
  reset-stat [on|off]       reset the statistics (or switch the reset on/off)
  battery                   battery value
  history                   event history as a table (or --json)
  clear-history             empty the instrument's history memory
  get NAME | get all        read a setting (names below) or all of them
  set NAME VALUE            write a setting
  time                      the instrument's clock
  set-time                  set the instrument's clock to this computer's local time
  lock on|off               lock or unlock the instrument's keys
  menu                      menu bytes as 56 hex digits (--raw: all 29 bytes read)
  set-menu HEX56            write the 28 menu bytes
  autocal start RATE TOL PREC   start the gamma autocalibration: reference rate in uSv/h,
                            tolerance and precision in percent (0-99)
  autocal stop|status|params
  version N                 detector version text of part N (0-99)
  firmware FILE             load a firmware image (at most 1 MiB)
  crc TEXT                  checksum of TEXT as the instrument computes it (no port needed)

Settings (get/set), values in the units shown; with --raw in driver units:
)" + []() {
        std::string lines;
        for (const SettingInfo& s : settingTable()) {
            std::string line = "  " + padRight(std::string(s.name), 14) + std::string(s.description);
            bool bounded = s.kind != SettingKind::OnOff && s.kind != SettingKind::Units && s.min >= 0 && s.max <= 1e9;
            if (bounded)
                line += " (" + formatDecimal(s.min, 0, 6) + "-" + formatDecimal(s.max, 0, 6)
                    + (s.unit.empty() ? "" : " " + std::string(s.unit)) + ")";
            lines += line + "\n";
        }
        return lines;
    }() + R"(
Dose rates may be typed with a unit (uSv/h, mSv/h, Sv/h), doses too (uSv, mSv, Sv).

Exit status: 0 success, 1 the instrument or the port failed, 2 usage error.
)";
}

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
    switch (mode) {
    case 0:
        return "none";
    case 1:
        return "reading history";
    case 2:
        return "test";
    case 3:
        return "gamma";
    case 4:
        return "beta 1";
    case 5:
        return "beta 2";
    case 6:
        return "survey";
    case 7:
        return "background";
    case 8:
        return "beta search";
    default:
        return "unknown";
    }
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

std::vector<std::string> alarmTexts(uint16_t word)
{
    struct Bit {
        uint16_t mask;
        std::string_view text;
    };
    static constexpr Bit bits[] = {
        { 0x0200, "Detector error!" },
        { 0x0008, "Accumulated dose threshold is exceeded!" },
        { 0x0004, "Dose overload!" },
        { 0x0800, "Threshold \"Danger\" is exceeded! (beta)" },
        { 0x0002, "Threshold \"Danger\" is exceeded! (gamma)" },
        { 0x0400, "Threshold \"Warning\" is exceeded! (beta)" },
        { 0x0001, "Threshold \"Warning\" is exceeded! (gamma)" },
        { 0x8000, "autocalibration running" },
    };
    std::vector<std::string> texts;
    uint16_t known = 0;
    for (const Bit& bit : bits) {
        known |= bit.mask;
        if (word & bit.mask)
            texts.emplace_back(bit.text);
    }
    for (unsigned mask = 1; mask <= 0x8000; mask <<= 1)
        if ((word & mask) && !(known & mask))
            texts.push_back("bit 0x" + hex4(mask));
    return texts;
}

std::string betaStatusText(int status)
{
    switch (status) {
    case 0:
        return "in process...";
    case 1:
        return "safe";
    case 2:
        return "contaminated";
    default:
        return "uncertain result";
    }
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

// ---- history --------------------------------------------------------------------------------

std::string formatSystemTime(const SYSTEMTIME& t)
{
    std::string year = std::to_string(t.wYear);
    if (year.size() < 4)
        year.insert(0, 4 - year.size(), '0');
    return year + "-" + twoDigits(t.wMonth) + "-" + twoDigits(t.wDay) + " " + twoDigits(t.wHour) + ":"
        + twoDigits(t.wMinute) + ":" + twoDigits(t.wSecond);
}

std::string eventName(char type)
{
    const EventInfo* e = findEvent(type);
    return e ? std::string(e->name) : "unknown event '" + printable(std::string_view(&type, 1)) + "'";
}

std::string eventAlarm(char type)
{
    const EventInfo* e = findEvent(type);
    return e ? std::string(e->alarm) : std::string();
}

std::string eventValueText(const KESTRAdrv_EventRecord& r)
{
    std::string text;
    switch (r.type) {
    case 'D':
    case 'F':
    case 'G':
    case 'g':
    case 'O':
        if (r.value1 >= 0)
            text = formatDoseRate(r.value1);
        break;
    case 'A':
    case 'C':
        if (r.value2 >= 0)
            text = formatDoseRate(r.value2);
        break;
    case 'b':
    case 'I':
    case 'i':
        if (r.value1 >= 0)
            text = formatDecimal(r.value1, 2, 4) + " " + std::string(FluxUnit);
        break;
    case 'B':
    case 'J':
    case 'S':
        if (r.value1 >= 0)
            text = formatDecimal(r.value1, 2, 4) + " " + std::string(CountRateUnit);
        break;
    case 's':
        if (r.param1 >= 0)
            text = std::string("sound ") + (r.param1 ? "on" : "off");
        break;
    default:
        break;
    }
    bool measurement = std::string_view("DFGgObIiBJS").find(r.type) != std::string_view::npos;
    if (!text.empty() && measurement && r.param1 >= 0)
        text += " \xC2\xB1" + std::to_string(r.param1) + "%"; // ±
    return text;
}

std::string historyTable(std::span<const KESTRAdrv_EventRecord> records, bool rawUnits)
{
    std::string out;
    if (rawUnits) {
        out = "time\ttype\tvalue1\tvalue2\tparam1\tparam2\n";
        for (const KESTRAdrv_EventRecord& r : records) {
            out += formatSystemTime(r.time) + "\t" + printable(std::string_view(&r.type, 1)) + "\t"
                + formatShortest(r.value1) + "\t" + formatShortest(r.value2) + "\t" + std::to_string(r.param1) + "\t"
                + std::to_string(r.param2) + "\n";
        }
        return out;
    }
    std::vector<std::array<std::string, 5>> rows;
    rows.push_back({ "TIME", "CODE", "EVENT", "VALUE", "ALARM" });
    for (const KESTRAdrv_EventRecord& r : records)
        rows.push_back({ formatSystemTime(r.time), printable(std::string_view(&r.type, 1)), eventName(r.type),
            eventValueText(r), eventAlarm(r.type) });
    std::array<std::size_t, 5> widths {};
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row[c]));
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? padRight(row[c], widths[c] + 2) : row[c];
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    out += std::to_string(records.size()) + (records.size() == 1 ? " event\n" : " events\n");
    return out;
}

std::string historyJson(std::span<const KESTRAdrv_EventRecord> records)
{
    std::string out = "[";
    bool first = true;
    for (const KESTRAdrv_EventRecord& r : records) {
        out += first ? "\n  " : ",\n  ";
        first = false;
        std::string time = formatSystemTime(r.time);
        time[10] = 'T';
        out += "{\"time\":" + jsonString(time) + ",\"type\":" + jsonString(std::string_view(&r.type, 1))
            + ",\"event\":" + jsonString(eventName(r.type)) + ",\"alarm\":" + jsonString(eventAlarm(r.type))
            + ",\"text\":" + jsonString(eventValueText(r)) + ",\"value1\":" + jsonNumber(r.value1)
            + ",\"value2\":" + jsonNumber(r.value2) + ",\"param1\":" + std::to_string(r.param1)
            + ",\"param2\":" + std::to_string(r.param2) + "}";
    }
    out += first ? "]\n" : "\n]\n";
    return out;
}

// ---- text -----------------------------------------------------------------------------------

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

std::string utf16ToUtf8(const char16_t* text, std::size_t maxUnits)
{
    std::string out;
    if (!text)
        return out;
    for (std::size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < maxUnits && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::optional<char32_t> cp = decodeUtf8(text, i);
        if (!cp) {
            out += "\\ufffd";
            continue;
        }
        switch (*cp) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (*cp < 0x20 || *cp == 0x7F) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(*cp));
                out += buffer;
            } else {
                appendUtf8(out, *cp);
            }
        }
    }
    return out + "\"";
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
    if (name.size() > 3 && name.size() <= 6 && (name.starts_with("COM") || name.starts_with("com"))) {
        std::string_view digits = name.substr(3);
        unsigned n = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec == std::errc() && end == digits.data() + digits.size() && n >= 1
            && digits.find_first_not_of("0123456789") == std::string_view::npos)
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    if (!name.empty() && name.find('/') == std::string_view::npos)
        return "/dev/" + std::string(name);
    return std::string(name);
}

} // namespace kestra::ctl
