#pragma once

// Pure parts of kestractl: unit conversion and text formatting (the command line is in
// ctl_options.h).
// Nothing here touches the instrument or the process locale, so all of it is testable
// without a port and prints the same digits whatever LC_NUMERIC says.

#include "KESTRAdrv.h"
#include "kestracommon/texts.h"
#include "kestracommon/utf.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestra::ctl {

// Firmware images of the instrument are a few tens of KiB; anything larger is not an image.
inline constexpr std::size_t MaxFirmwareSize = 1024 * 1024;

// ---- numbers ------------------------------------------------------------------------------

/// Fixed notation with at least minDecimals and at most maxDecimals digits after the point
/// (trailing zeros beyond minDecimals are dropped). Always a '.' decimal point.
std::string formatDecimal(double value, int minDecimals, int maxDecimals);
/// Shortest text that reads back to the same double.
std::string formatShortest(double value);
/// A JSON number ("null" for nan/inf), without the noise digits of binary fractions.
std::string jsonNumber(double value);
/// Strict decimal number: the whole text, optional sign, no locale, no nan/inf.
std::optional<double> parseNumber(std::string_view text);
/// Strict integer: decimal, or hexadecimal with a 0x prefix; optional sign.
std::optional<long long> parseInteger(std::string_view text);

// ---- units ----------------------------------------------------------------------------------

/// Driver dose rate (1e-8 Sv/h) as µSv/h, e.g. "1.20 µSv/h".
std::string formatDoseRate(double driverUnits);
/// Driver dose (1e-8 Sv) in µSv below 1 mSv, otherwise in mSv.
std::string formatDose(double driverUnits);
/// Seconds as h:mm:ss (hours unbounded).
std::string formatDuration(long long seconds);

std::string modeName(int mode);
/// Accepts 3/gamma, 4/beta1, 5/beta2, 8/beta-search; other modes cannot be selected.
std::optional<int> parseSelectableMode(std::string_view text);
std::optional<bool> parseOnOff(std::string_view text);

/// An alarm's text with its context: `Threshold "Danger" is exceeded! (beta)`.
std::string alarmText(const common::CodeText& alarm);
/// One text per set bit of the instrument's alarm word, known bits by name.
std::vector<std::string> alarmTexts(uint16_t word);
std::string betaStatusText(int status);

/// The unit of the reading that KESTRAdrv_GetMeasurementValue reports in a mode, "" for none.
std::string_view readingUnit(int mode);
/// Reading in the units a person reads: µSv/h for gamma, unscaled counts otherwise.
std::string formatReading(int mode, double value);

// ---- settings -------------------------------------------------------------------------------

enum class SettingKind {
    OnOff, // bool
    Units, // roentgen flag
    DoseRate, // 1e-8 Sv/h, shown in µSv/h
    Dose, // 1e-8 Sv, shown in µSv / mSv
    Count, // integer, unit given
    Real, // double, unit given
    HexCode, // 16-bit code
};

struct SettingInfo {
    std::string_view name;
    SettingKind kind;
    std::string_view unit; // unit a person reads ("" for none)
    std::string_view description;
    bool integral; // the driver takes an integer
    double min; // accepted range in the units a person reads
    double max;
    double rawMin; // accepted range in driver units (--raw)
    double rawMax;
};

std::span<const SettingInfo> settingTable();
const SettingInfo* findSetting(std::string_view name);

struct SettingValue {
    std::optional<double> raw; // driver units
    std::string error;
};

/// Reads a value typed by a person (or, with rawUnits, in driver units) into driver units.
SettingValue parseSettingValue(const SettingInfo& setting, std::string_view text, bool rawUnits);
/// Driver units to text; rawUnits prints the driver's number alone.
std::string formatSettingValue(const SettingInfo& setting, double raw, bool rawUnits);
/// JSON object {"value":…, "unit":…, "raw":…} for one setting.
std::string settingJson(const SettingInfo& setting, double raw);

// ---- history --------------------------------------------------------------------------------

/// "YYYY-MM-DD HH:MM:SS" of a calendar time as the instrument keeps it (its own local time).
std::string formatSystemTime(const SYSTEMTIME& time);
std::string eventName(char type);
std::string eventAlarm(char type);
/// The event's main value in the units a person reads, "" when the type has none.
std::string eventValueText(const KESTRAdrv_EventRecord& record);
std::string historyTable(std::span<const KESTRAdrv_EventRecord> records, bool rawUnits);
std::string historyJson(std::span<const KESTRAdrv_EventRecord> records);

// ---- text -----------------------------------------------------------------------------------

using common::utf16ToUtf8; // (text, maxUnits): bad surrogates become U+FFFD
using common::utf8ToUtf16; // strict: nullopt for malformed text or a NUL
/// Quoted JSON string; bytes that are not valid UTF-8 become U+FFFD.
std::string jsonString(std::string_view text);
/// Control characters and non-ASCII bytes as \xNN, so instrument text cannot upset a terminal.
std::string printable(std::string_view text);

std::string toHex(std::span<const uint8_t> bytes);
/// Exactly KESTRADRV_MENU_WRITE_SIZE bytes as hex digits (blanks ignored).
std::optional<std::array<uint8_t, KESTRADRV_MENU_WRITE_SIZE>> parseMenuHex(std::string_view text);

/// A driver log line for a person: tabs as blanks, the hex bytes of a traffic entry as the
/// frame text they carry (non-printable bytes escaped).
std::string readableLogLine(std::string_view line);

/// The device path the driver opens for a port name: a path as is, "COMn" as /dev/ttyS(n-1),
/// any other bare name under /dev.
std::string resolvePortPath(std::string_view name);

} // namespace kestra::ctl
