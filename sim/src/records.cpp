#include "kestrasim/records.h"

#include "kestrasim/wire.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace kestra::sim {

uint32_t RawRecord::time() const
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8
        | static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool RawRecord::operator==(const RawRecord& other) const
{
    return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

std::array<uint8_t, 4> encodeInstrumentFloat(double value)
{
    if (value == 0.0 || std::isnan(value))
        return { 0, 0, 0, 0 };
    const bool negative = value < 0;
    double magnitude = std::fabs(value);
    // Exponent byte 1..255 covers 2^-127 .. 2^127; 0 would mean a factor of 1, so it is never used.
    int exponent = 0;
    uint32_t fraction = 0;
    if (std::isinf(magnitude) || magnitude >= std::ldexp(2.0, 127)) {
        exponent = 127;
        fraction = 0x7FFFFF;
    } else {
        int e = 0;
        const double m = std::frexp(magnitude, &e); // magnitude = m * 2^e, m in [0.5, 1)
        exponent = e - 1;
        double scaled = std::round((m * 2.0 - 1.0) * 8388608.0);
        if (scaled >= 8388608.0) {
            scaled = 0;
            ++exponent;
        }
        fraction = static_cast<uint32_t>(scaled);
        if (exponent > 127) {
            exponent = 127;
            fraction = 0x7FFFFF;
        }
        if (exponent < -127)
            return { 0, 0, 0, 0 };
    }
    const auto b0 = static_cast<uint8_t>((negative ? 0x80 : 0x00) | ((fraction >> 16) & 0x7F));
    const auto b1 = static_cast<uint8_t>(exponent + 128);
    const auto b2 = static_cast<uint8_t>(fraction & 0xFF);
    const auto b3 = static_cast<uint8_t>((fraction >> 8) & 0xFF);
    return { b0, b1, b2, b3 };
}

double decodeInstrumentFloat(const uint8_t bytes[4])
{
    if (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0)
        return 0.0;
    const double mantissa = 1.0 + (bytes[0] & 0x7F) / 128.0 + bytes[3] / 32768.0 + bytes[2] / 8388608.0;
    const int exponent = bytes[1] == 0 ? 0 : bytes[1] - 128;
    const double value = std::ldexp(mantissa, exponent);
    return (bytes[0] & 0x80) ? -value : value;
}

namespace {

void putFloat(RawRecord& record, int offset, double value)
{
    const auto encoded = encodeInstrumentFloat(value);
    std::memcpy(record.bytes + offset, encoded.data(), 4);
}

uint8_t clampByte(int value)
{
    return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

} // namespace

RawRecord makeRecord(char type, uint32_t secondsSince1999, const RecordFields& fields)
{
    RawRecord record;
    record.bytes[0] = static_cast<uint8_t>(secondsSince1999);
    record.bytes[1] = static_cast<uint8_t>(secondsSince1999 >> 8);
    record.bytes[2] = static_cast<uint8_t>(secondsSince1999 >> 16);
    record.bytes[3] = static_cast<uint8_t>(secondsSince1999 >> 24);
    record.bytes[15] = static_cast<uint8_t>(type);
    switch (type) {
    case 'A':
    case 'C':
        putFloat(record, 4, fields.value1);
        putFloat(record, 10, fields.value2);
        record.bytes[9] = clampByte(fields.param1);
        record.bytes[14] = clampByte(fields.param2);
        break;
    case 'B':
    case 'b':
    case 'D':
    case 'F':
    case 'G':
    case 'O':
    case 'g':
        putFloat(record, 10, fields.value1);
        putFloat(record, 6, fields.value2);
        record.bytes[14] = clampByte(fields.param1);
        break;
    case 'I':
    case 'J':
    case 'S':
    case 'i':
        putFloat(record, 10, fields.value1);
        record.bytes[14] = clampByte(fields.param1);
        break;
    case 's':
        record.bytes[4] = static_cast<uint8_t>(fields.param1 & 1);
        record.bytes[5] = static_cast<uint8_t>(fields.param2 & 1);
        break;
    default:
        break;
    }
    return record;
}

int64_t localSecondsSince1999(std::time_t t)
{
    std::tm local {};
    localtime_r(&t, &local);
    // The wall-clock reading taken as if it were UTC gives a count free of zone offsets.
    std::tm epoch {};
    epoch.tm_year = 99;
    epoch.tm_mday = 1;
    return static_cast<int64_t>(timegm(&local)) - static_cast<int64_t>(timegm(&epoch));
}

double localSecondsSince1999Now()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t whole = std::chrono::system_clock::to_time_t(now);
    const double fraction = std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(whole)).count();
    return static_cast<double>(localSecondsSince1999(whole)) + fraction;
}

std::string recordToHex(const RawRecord& record)
{
    return toHex(record.bytes, sizeof record.bytes);
}

bool recordFromHex(const std::string& text, RawRecord* record)
{
    if (text.size() != 32)
        return false;
    const auto bytes = fromHex(text);
    if (!bytes)
        return false;
    std::memcpy(record->bytes, bytes->data(), 16);
    return true;
}

} // namespace kestra::sim
