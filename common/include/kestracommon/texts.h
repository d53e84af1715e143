#pragma once

// The instrument's codes and the English texts that name them, each table once. The texts are
// the translation sources of the application (kept byte for byte); `context` tells apart two
// entries whose English reads alike ("beta" and "gamma" thresholds).

#include <cstdint>
#include <span>

namespace kestra::common {

struct CodeText {
    int code;
    const char* text;
    const char* context; // "" when the text needs none
};

/// Event types of the history (and, from 3 to 8, the measurement modes): 3 "Measurement gamma" …
/// 14 "Instrument sound mode is changed".
std::span<const CodeText> eventTypeTexts();

/// Alarm bits of the instrument's status word, in the order in which the most important set bit
/// is the one shown: detector error, dose threshold, overload, beta and gamma danger, beta and
/// gamma warning.
std::span<const CodeText> alarmTexts();

/// The search-threshold alarm of a history record (it has no bit in the status word).
inline constexpr int SearchAlarm = 0x010;
inline constexpr const char* SearchAlarmText = "Search threshold is exceeded!";

/// Short names of the instrument's operating modes (0 "none" … 8 "beta search").
std::span<const CodeText> deviceModeNames();

/// The verdict of a beta measurement: 0 "in process...", 1 "safe", 2 "contaminated";
/// anything else is BetaStatusUncertain.
std::span<const CodeText> betaStatusTexts();
inline constexpr const char* BetaStatusUncertain = "uncertain result";

/// What a history record's type character stands for: its event type and alarm bit.
struct RecordCode {
    char code;
    int eventType;
    int alarm; // an alarmTexts() bit, SearchAlarm, or 0
};
std::span<const RecordCode> recordCodes();
const RecordCode* findRecordCode(char code);

/// The entry of `code` in `table`, or null.
const CodeText* findCode(std::span<const CodeText> table, int code);
/// The entry of the first alarm bit of `table` set in `word`, or null.
const CodeText* firstAlarm(std::span<const CodeText> table, uint32_t word);

} // namespace kestra::common
