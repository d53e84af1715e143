#include "kestracommon/texts.h"

namespace kestra::common {

namespace {

constexpr CodeText EventTypes[] = {
    { 3, "Measurement gamma", "" },
    { 4, "Measurement gamma+beta", "" },
    { 5, "Measurement beta", "" },
    { 6, "Survey mode", "" },
    { 7, "Background", "" },
    { 8, "Search beta/gamma", "" },
    { 9, "Instrument is switched On", "" },
    { 10, "Instrument is switched Off", "" },
    { 11, "Accumulated DE is cleared", "" },
    { 12, "Start of instrument calibration", "" },
    { 13, "End of instrument calibration", "" },
    { 14, "Instrument sound mode is changed", "" },
};

constexpr CodeText Alarms[] = {
    { 0x200, "Detector error!", "" },
    { 0x008, "Accumulated dose threshold is exceeded!", "" },
    { 0x004, "Dose overload!", "" },
    { 0x800, "Threshold \"Danger\" is exceeded!", "beta" },
    { 0x002, "Threshold \"Danger\" is exceeded!", "gamma" },
    { 0x400, "Threshold \"Warning\" is exceeded!", "beta" },
    { 0x001, "Threshold \"Warning\" is exceeded!", "gamma" },
};

constexpr CodeText DeviceModes[] = {
    { 0, "none", "" },
    { 1, "reading history", "" },
    { 2, "test", "" },
    { 3, "gamma", "" },
    { 4, "beta 1", "" },
    { 5, "beta 2", "" },
    { 6, "survey", "" },
    { 7, "background", "" },
    { 8, "beta search", "" },
};

constexpr CodeText BetaStatuses[] = {
    { 0, "in process...", "" },
    { 1, "safe", "" },
    { 2, "contaminated", "" },
};

constexpr RecordCode RecordCodes[] = {
    { '0', 10, 0 },
    { '1', 9, 0 },
    { 'A', 12, 0 },
    { 'B', 7, 0 },
    { 'D', 3, 0x008 },
    { 'F', 3, 0 },
    { 'G', 3, 0x001 },
    { 'g', 3, 0x002 },
    { 'O', 3, 0x004 },
    { 'I', 5, 0x400 },
    { 'i', 5, 0x800 },
    { 'b', 5, 0 },
    { 'J', 8, SearchAlarm },
    { 'S', 8, 0 },
    { 'R', 11, 0 },
    { 'C', 13, 0 },
    { 's', 14, 0 },
};

} // namespace

std::span<const CodeText> eventTypeTexts()
{
    return EventTypes;
}

std::span<const CodeText> alarmTexts()
{
    return Alarms;
}

std::span<const CodeText> deviceModeNames()
{
    return DeviceModes;
}

std::span<const CodeText> betaStatusTexts()
{
    return BetaStatuses;
}

std::span<const RecordCode> recordCodes()
{
    return RecordCodes;
}

const RecordCode* findRecordCode(char code)
{
    for (const RecordCode& r : RecordCodes)
        if (r.code == code)
            return &r;
    return nullptr;
}

const CodeText* findCode(std::span<const CodeText> table, int code)
{
    for (const CodeText& entry : table)
        if (entry.code == code)
            return &entry;
    return nullptr;
}

const CodeText* firstAlarm(std::span<const CodeText> table, uint32_t word)
{
    for (const CodeText& entry : table)
        if (word & static_cast<uint32_t>(entry.code))
            return &entry;
    return nullptr;
}

} // namespace kestra::common
