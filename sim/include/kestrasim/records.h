#pragma once

// The instrument's raw history record (16 bytes) and its 4-byte float format.

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace kestra::sim {

/// The 16-byte raw history record of the wire: time (LE seconds since 1999-01-01 local) at 0,
/// type-dependent fields at 4..14, type character at 15.
struct RawRecord {
    uint8_t bytes[16] = {};

    char type() const { return static_cast<char>(bytes[15]); }
    uint32_t time() const;
    bool operator==(const RawRecord& other) const;
};

/// Encodes a value as the instrument float: b0 = sign and high 7 fraction bits, b1 = exponent + 128,
/// b2 = low 8 fraction bits, b3 = middle 8 fraction bits. 0 (and NaN) encode as four zero bytes;
/// magnitudes beyond the exponent range saturate, those below it encode as 0.
std::array<uint8_t, 4> encodeInstrumentFloat(double value);
double decodeInstrumentFloat(const uint8_t bytes[4]);

/// Type-specific contents of a record, in the units of the wire (Sv/h, Sv, CPS, CPM/cm^2).
/// Unused fields are ignored. Placement by type (F(n) = instrument float at offset n, r[n] = byte):
///   '0' switched off, '1' switched on, 'R' dose cleared: no fields.
///   'A' calibration start, 'C' calibration end: value1 -> F(4) (DER coefficient),
///       value2 -> F(10) (reference rate, Sv/h), param1 -> r[9] (tolerance %), param2 -> r[14] (precision %).
///   'B' background (CPS), 'b' beta flux (CPM/cm^2): value1 -> F(10), value2 -> F(6), param1 -> r[14].
///   'F' gamma measurement, 'G' warning, 'g' danger, 'O' overload, 'D' dose threshold:
///       value1 -> F(10) (dose rate, Sv/h), value2 -> F(6) (accumulated dose, Sv), param1 -> r[14] (precision %).
///   'I' beta warning, 'i' beta danger (CPM/cm^2), 'J' search alarm, 'S' search (CPS):
///       value1 -> F(10), param1 -> r[14] (precision %).
///   's' sound changed: param1 & 1 -> r[4] (sound on), param2 & 1 -> r[5] (search beep on).
/// Any other type character gets the time and the type only (the driver drops such records).
struct RecordFields {
    double value1 = 0.0;
    double value2 = 0.0;
    int param1 = 0;
    int param2 = 0;
};

RawRecord makeRecord(char type, uint32_t secondsSince1999, const RecordFields& fields = {});

/// Seconds since 1999-01-01 00:00:00 of the local wall-clock time at `t` (process TZ).
int64_t localSecondsSince1999(std::time_t t);
/// The same for the current time, with sub-second resolution.
double localSecondsSince1999Now();

/// Hex text of records, 32 digits each (for state files and logs).
std::string recordToHex(const RawRecord& record);
bool recordFromHex(const std::string& text, RawRecord* record);

} // namespace kestra::sim
