#pragma once

#include <KESTRAdrv.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

namespace kestra {

inline constexpr std::size_t rawRecordSize = 16;

/// The instrument's 4-byte float: sign in bit 7 of b0, 23-bit fraction spread over b0 (high 7
/// bits), b3 (middle) and b2 (low), exponent byte b1 biased by 128 (0 also means a factor 1).
double decodeInstrumentFloat(const uint8_t bytes[4]);

/// Decodes one 16-byte raw record; no value for a type the driver does not know.
std::optional<KESTRAdrv_EventRecord> decodeRecord(const uint8_t raw[rawRecordSize]);

/// Decodes consecutive raw records (a trailing remainder is ignored), dropping unknown types.
void decodeRecords(const uint8_t* bytes, std::size_t length, std::vector<KESTRAdrv_EventRecord>& out);

/// Calendar time of a count of seconds since 1999-01-01 00:00:00, with no time-zone conversion.
SYSTEMTIME systemTimeFromInstrument(uint32_t seconds);

/// Seconds since 1999-01-01 00:00:00 of a calendar time taken as it stands (the PC's local time).
int64_t instrumentSecondsFromCalendar(int year, int month, int day, int hour, int minute, int second);

/// Seconds since 1999-01-01 00:00:00 of the local time at `when` (process time zone).
int64_t instrumentSecondsAt(std::time_t when);

/// One chunk of a history download: its data bytes appended to `bytes`. `last` tells whether the
/// chunk carried the end marker. False when the chunk has no "length=" field or fewer valid hex
/// pairs than its length says.
bool appendHistoryChunk(std::string_view payload, std::vector<uint8_t>& bytes, bool& last);

} // namespace kestra
