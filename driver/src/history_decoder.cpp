#include "history_decoder.h"

#include "fields.h"
#include "localtime.h"
#include "text.h"

#include <cmath>
#include <cstring>

namespace kestra {

namespace {

constexpr double toDriverUnits = 1e8; // Sv/h and Sv to 1e-8 units

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

const int64_t epoch1999Days = daysFromCivil(1999, 1, 1);

} // namespace

double decodeInstrumentFloat(const uint8_t b[4])
{
    if (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0)
        return 0.0;
    double mantissa = 1.0 + (b[0] & 0x7F) / 128.0 + b[3] / 32768.0 + b[2] / 8388608.0;
    int exponent = b[1] == 0 ? 0 : b[1] - 128;
    double value = std::ldexp(mantissa, exponent);
    return (b[0] & 0x80) ? -value : value;
}

SYSTEMTIME systemTimeFromInstrument(uint32_t seconds)
{
    int64_t days = epoch1999Days + seconds / 86400;
    uint32_t rest = seconds % 86400;
    // Back from days to a civil date.
    int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);

    SYSTEMTIME t {};
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(m);
    t.wDay = static_cast<uint16_t>(d);
    t.wDayOfWeek = static_cast<uint16_t>((days % 7 + 11) % 7); // 1970-01-01 was a Thursday
    t.wHour = static_cast<uint16_t>(rest / 3600);
    t.wMinute = static_cast<uint16_t>(rest / 60 % 60);
    t.wSecond = static_cast<uint16_t>(rest % 60);
    t.wMilliseconds = 0;
    return t;
}

int64_t instrumentSecondsFromCalendar(int year, int month, int day, int hour, int minute, int second)
{
    return (daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - epoch1999Days) * 86400
        + hour * 3600 + minute * 60 + second;
}

int64_t instrumentSecondsAt(std::time_t when)
{
    tm local = localCalendar(when);
    return instrumentSecondsFromCalendar(
        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

std::optional<KESTRAdrv_EventRecord> decodeRecord(const uint8_t r[rawRecordSize])
{
    KESTRAdrv_EventRecord rec {};
    rec.type = static_cast<char>(r[15]);
    uint32_t seconds = static_cast<uint32_t>(r[0]) | static_cast<uint32_t>(r[1]) << 8
        | static_cast<uint32_t>(r[2]) << 16 | static_cast<uint32_t>(r[3]) << 24;
    rec.time = systemTimeFromInstrument(seconds);
    rec.value1 = -1.0;
    rec.value2 = -1.0;
    rec.param1 = -1;
    rec.param2 = -1;
    auto F = [r](int offset) { return decodeInstrumentFloat(r + offset); };

    switch (rec.type) {
    case '0':
    case '1':
    case 'R':
        break;
    case 'A':
    case 'C':
        rec.value1 = F(4);
        rec.value2 = F(10) * toDriverUnits;
        rec.param1 = r[9];
        rec.param2 = r[14];
        break;
    case 'B':
    case 'b':
        rec.value1 = F(10);
        rec.value2 = F(6);
        rec.param1 = r[14];
        break;
    case 'D':
    case 'F':
    case 'G':
    case 'O':
    case 'g':
        rec.value1 = F(10) * toDriverUnits;
        rec.value2 = F(6) * toDriverUnits;
        rec.param1 = r[14];
        break;
    case 'I':
    case 'J':
    case 'S':
    case 'i':
        rec.value1 = F(10);
        rec.param1 = r[14];
        break;
    case 's':
        rec.param1 = r[4] & 1;
        rec.param2 = r[5] & 1;
        break;
    default:
        return std::nullopt;
    }
    return rec;
}

void decodeRecords(const uint8_t* bytes, std::size_t length, std::vector<KESTRAdrv_EventRecord>& out)
{
    out.reserve(out.size() + length / rawRecordSize);
    for (std::size_t offset = 0; offset + rawRecordSize <= length; offset += rawRecordSize) {
        if (auto rec = decodeRecord(bytes + offset))
            out.push_back(*rec);
    }
}

bool appendHistoryChunk(std::string_view payload, std::vector<uint8_t>& bytes, bool& last)
{
    std::size_t key = payload.find("length=");
    if (key == std::string_view::npos)
        return false;
    std::size_t lengthEnd = payload.find(' ', key + 7);
    uint64_t length = fields::hexValue(payload.substr(key + 7, lengthEnd == payload.npos ? 0 : lengthEnd - key - 7));

    std::size_t data;
    std::size_t end = payload.find(" end");
    last = end != std::string_view::npos;
    if (last)
        data = end + 4 + 1;
    else
        data = lengthEnd == std::string_view::npos ? payload.size() : lengthEnd + 1;
    // The data must be as many hex pairs as the chunk says. A short or damaged chunk would
    // otherwise decode the checksum field or garbage into events, so it fails the download.
    std::string_view digits = data < payload.size() ? payload.substr(data) : std::string_view {};
    if (length > digits.size() / 2)
        return false;
    std::size_t count = static_cast<std::size_t>(length);
    bytes.reserve(bytes.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        int hi = hexDigitValue(digits[2 * i]);
        int lo = hexDigitValue(digits[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

} // namespace kestra
