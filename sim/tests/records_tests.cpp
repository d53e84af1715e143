#include "kestrasim/records.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>

using namespace kestra::sim;

namespace {

// The float as the host decodes it, written from the format description.
double hostFloat(const uint8_t* b)
{
    if (!b[0] && !b[1] && !b[2] && !b[3])
        return 0;
    double m = 1 + (b[0] & 0x7F) / 128.0 + b[3] / 32768.0 + b[2] / 8388608.0;
    const int e = (b[1] == 0 || b[1] == 128) ? 0 : b[1] - 128;
    m *= std::pow(2.0, e);
    return (b[0] & 0x80) ? -m : m;
}

} // namespace

TEST(InstrumentFloat, KnownBytes)
{
    struct Case {
        uint8_t bytes[4];
        double value;
    } cases[] = {
        { { 0x00, 0x80, 0x00, 0x00 }, 1.0 },
        { { 0x20, 0x81, 0x00, 0x00 }, 2.5 },
        { { 0xA0, 0x81, 0x00, 0x00 }, -2.5 },
        { { 0x00, 0x00, 0x00, 0x00 }, 0.0 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeInstrumentFloat(c.bytes), c.value);
        const auto encoded = encodeInstrumentFloat(c.value);
        EXPECT_EQ(std::memcmp(encoded.data(), c.bytes, 4), 0) << c.value;
    }
    // Exponent byte 0 means a factor of 1, like 128.
    const uint8_t zeroExponent[] = { 0x20, 0x00, 0x00, 0x00 };
    EXPECT_EQ(decodeInstrumentFloat(zeroExponent), 1.25);
}

TEST(InstrumentFloat, RoundTripKeepsTwentyThreeBits)
{
    for (double v : { 1.0e-7, 3.0e-4, 8.0e-5, 0.1234, 45.0, 12345.678, -7.5e-9, 1.0e30, 1.0 / 3.0 }) {
        const auto bytes = encodeInstrumentFloat(v);
        const double back = hostFloat(bytes.data());
        EXPECT_NEAR(back, v, std::fabs(v) * std::ldexp(1.0, -23)) << v;
    }
    // Out of range: saturates at the top, becomes zero at the bottom, NaN becomes zero.
    EXPECT_GT(hostFloat(encodeInstrumentFloat(1e300).data()), 1e38);
    EXPECT_EQ(hostFloat(encodeInstrumentFloat(1e-300).data()), 0.0);
    EXPECT_EQ(hostFloat(encodeInstrumentFloat(std::nan("")).data()), 0.0);
}

TEST(Records, EveryTypeLandsWhereTheHostReadsIt)
{
    // Expected decoding (value1, value2, param1, param2) per the host's table, with values given
    // in wire units; -1 marks "none".
    struct Case {
        char type;
        RecordFields in;
        double v1, v2;
        int p1, p2;
    } cases[] = {
        { '0', { 1, 2, 3, 4 }, -1, -1, -1, -1 },
        { '1', { 1, 2, 3, 4 }, -1, -1, -1, -1 },
        { 'R', { 1, 2, 3, 4 }, -1, -1, -1, -1 },
        { 'A', { 1.0, 8.0e-5, 2, 50 }, 1.0, 8.0e-5, 2, 50 },
        { 'C', { 1.01, 8.0e-5, 3, 40 }, 1.01, 8.0e-5, 3, 40 },
        { 'B', { 0.5, 0.25, 30, 0 }, 0.5, 0.25, 30, -1 },
        { 'b', { 2.0, 0.1, 25, 0 }, 2.0, 0.1, 25, -1 },
        { 'D', { 1.0e-7, 1.0e-3, 15, 0 }, 1.0e-7, 1.0e-3, 15, -1 },
        { 'F', { 1.2e-7, 3.0e-6, 26, 0 }, 1.2e-7, 3.0e-6, 26, -1 },
        { 'G', { 4.2e-4, 3.0e-6, 4, 0 }, 4.2e-4, 3.0e-6, 4, -1 },
        { 'O', { 12.0, 3.0e-6, 1, 0 }, 12.0, 3.0e-6, 1, -1 },
        { 'g', { 1.6e-3, 3.0e-6, 3, 0 }, 1.6e-3, 3.0e-6, 3, -1 },
        { 'I', { 14.0, 9, 20, 0 }, 14.0, -1, 20, -1 },
        { 'J', { 140.0, 9, 15, 0 }, 140.0, -1, 15, -1 },
        { 'S', { 0.6, 9, 30, 0 }, 0.6, -1, 30, -1 },
        { 'i', { 140.0, 9, 20, 0 }, 140.0, -1, 20, -1 },
        { 's', { 0, 0, 1, 0 }, -1, -1, 1, 0 },
        { 's', { 0, 0, 0, 3 }, -1, -1, 0, 1 },
    };
    for (const Case& c : cases) {
        const RawRecord r = makeRecord(c.type, 0x12345678, c.in);
        const uint8_t* b = r.bytes;
        ASSERT_EQ(b[15], static_cast<uint8_t>(c.type));
        EXPECT_EQ(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24, 0x12345678u);
        double v1 = -1, v2 = -1;
        int p1 = -1, p2 = -1;
        switch (c.type) {
        case 'A':
        case 'C':
            v1 = hostFloat(b + 4), v2 = hostFloat(b + 10), p1 = b[9], p2 = b[14];
            break;
        case 'B':
        case 'b':
        case 'D':
        case 'F':
        case 'G':
        case 'O':
        case 'g':
            v1 = hostFloat(b + 10), v2 = hostFloat(b + 6), p1 = b[14];
            break;
        case 'I':
        case 'J':
        case 'S':
        case 'i':
            v1 = hostFloat(b + 10), p1 = b[14];
            break;
        case 's':
            p1 = b[4] & 1, p2 = b[5] & 1;
            break;
        }
        EXPECT_NEAR(v1, c.v1, std::fabs(c.v1) * 1e-6) << c.type;
        EXPECT_NEAR(v2, c.v2, std::fabs(c.v2) * 1e-6) << c.type;
        EXPECT_EQ(p1, c.p1) << c.type;
        EXPECT_EQ(p2, c.p2) << c.type;
    }
}

TEST(Records, LocalClockCountsFrom1999)
{
    // Test runs pin TZ; the count follows the local wall clock, whatever the zone.
    std::tm tm {};
    tm.tm_year = 99;
    tm.tm_mday = 1;
    tm.tm_min = 1;
    tm.tm_isdst = -1;
    EXPECT_EQ(localSecondsSince1999(std::mktime(&tm)), 60);
    tm = {};
    tm.tm_year = 99;
    tm.tm_mday = 2;
    tm.tm_isdst = -1;
    EXPECT_EQ(localSecondsSince1999(std::mktime(&tm)), 86400);
    // A summer date: the wall clock, not UTC, counts.
    tm = {};
    tm.tm_year = 124;
    tm.tm_mon = 6;
    tm.tm_mday = 1;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    std::tm expected {};
    expected.tm_year = 124;
    expected.tm_mon = 6;
    expected.tm_mday = 1;
    expected.tm_hour = 12;
    std::tm epoch {};
    epoch.tm_year = 99;
    epoch.tm_mday = 1;
    EXPECT_EQ(localSecondsSince1999(std::mktime(&tm)), timegm(&expected) - timegm(&epoch));
}

TEST(Records, HexRoundTripRejectsBadText)
{
    const RawRecord r = makeRecord('F', 1000, { 1e-7, 1e-6, 20 });
    RawRecord back;
    ASSERT_TRUE(recordFromHex(recordToHex(r), &back));
    EXPECT_EQ(back, r);
    EXPECT_FALSE(recordFromHex("00", &back));
    EXPECT_FALSE(recordFromHex(std::string(32, 'g'), &back));
}
