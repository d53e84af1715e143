// History records, chunks and field readers as plain functions; the export table.
#include "exports.h"
#include "fields.h"
#include "history_decoder.h"
#include "text.h"

#include "kestracommon/utf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

using namespace kestra;

namespace {

struct Raw {
    uint8_t b[16] = {};
    Raw(char type, uint32_t seconds)
    {
        b[15] = static_cast<uint8_t>(type);
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<uint8_t>(seconds >> (8 * i));
    }
    Raw& at(int offset, std::initializer_list<uint8_t> bytes)
    {
        for (uint8_t v : bytes)
            b[offset++] = v;
        return *this;
    }
};

std::string hexOf(const uint8_t* bytes, std::size_t n)
{
    std::string text;
    char pair[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

} // namespace

TEST(InstrumentFloat, Examples)
{
    struct Case {
        uint8_t b[4];
        double value;
    } cases[] = {
        { { 0x00, 0x80, 0x00, 0x00 }, 1.0 },
        { { 0x20, 0x81, 0x00, 0x00 }, 2.5 },
        { { 0xA0, 0x81, 0x00, 0x00 }, -2.5 },
        { { 0x00, 0x00, 0x00, 0x00 }, 0.0 },
        { { 0x00, 0x00, 0x00, 0x01 }, 1.0 + 1.0 / 32768 }, // exponent byte 0 is a factor 1
        { { 0x00, 0x7F, 0x00, 0x80 }, 0.501953125 },
        { { 0x00, 0x80, 0x01, 0x00 }, 1.0 + 1.0 / 8388608 },
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(decodeInstrumentFloat(c.b), c.value);
}

TEST(HistoryDecoding, EveryTypeOfTheTable)
{
    // F(4) = 1.0, F(6) = 2.5 overlaps F(4) at bytes 6-7 only in types that do not read F(4).
    auto one = std::initializer_list<uint8_t> { 0x00, 0x80, 0x00, 0x00 };
    auto twoHalf = std::initializer_list<uint8_t> { 0x20, 0x81, 0x00, 0x00 };
    struct Case {
        Raw raw;
        double v1, v2;
        int p1, p2;
    };
    std::vector<Case> cases = {
        { Raw('0', 0), -1, -1, -1, -1 },
        { Raw('1', 0), -1, -1, -1, -1 },
        { Raw('R', 0), -1, -1, -1, -1 },
        { Raw('A', 0).at(4, one).at(10, twoHalf).at(9, { 7 }).at(14, { 9 }), 1.0, 2.5e8, 7, 9 },
        { Raw('C', 0).at(4, one).at(10, twoHalf).at(9, { 1 }).at(14, { 2 }), 1.0, 2.5e8, 1, 2 },
        { Raw('B', 0).at(10, twoHalf).at(6, one).at(14, { 12 }), 2.5, 1.0, 12, -1 },
        { Raw('b', 0).at(10, one).at(6, twoHalf), 1.0, 2.5, 0, -1 },
        { Raw('D', 0).at(10, twoHalf).at(6, one).at(14, { 5 }), 2.5e8, 1e8, 5, -1 },
        { Raw('F', 0).at(10, one), 1e8, 0, 0, -1 },
        { Raw('G', 0).at(10, one), 1e8, 0, 0, -1 },
        { Raw('O', 0).at(10, one), 1e8, 0, 0, -1 },
        { Raw('g', 0).at(10, one), 1e8, 0, 0, -1 },
        { Raw('I', 0).at(10, twoHalf).at(14, { 33 }), 2.5, -1, 33, -1 },
        { Raw('J', 0).at(10, twoHalf), 2.5, -1, 0, -1 },
        { Raw('S', 0).at(10, twoHalf), 2.5, -1, 0, -1 },
        { Raw('i', 0).at(10, twoHalf), 2.5, -1, 0, -1 },
        { Raw('s', 0).at(4, { 0xFF, 0x02 }), -1, -1, 1, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, static_cast<char>(c.raw.b[15])));
        auto rec = decodeRecord(c.raw.b);
        ASSERT_TRUE(rec);
        EXPECT_EQ(rec->type, static_cast<char>(c.raw.b[15]));
        EXPECT_DOUBLE_EQ(rec->value1, c.v1);
        EXPECT_DOUBLE_EQ(rec->value2, c.v2);
        EXPECT_EQ(rec->param1, c.p1);
        EXPECT_EQ(rec->param2, c.p2);
    }
    EXPECT_FALSE(decodeRecord(Raw('X', 0).b));
}

TEST(HistoryDecoding, TimesAndRemainders)
{
    auto t0 = decodeRecord(Raw('0', 0).b)->time;
    EXPECT_EQ(t0.wYear, 1999);
    EXPECT_EQ(t0.wMonth, 1);
    EXPECT_EQ(t0.wDay, 1);
    EXPECT_EQ(t0.wDayOfWeek, 5); // a Friday
    auto t1 = decodeRecord(Raw('0', 86400).b)->time;
    EXPECT_EQ(t1.wDay, 2);
    EXPECT_EQ(t1.wHour, 0);
    auto t2 = systemTimeFromInstrument(0xFFFFFFFFu); // the far end of the counter
    EXPECT_EQ(t2.wYear, 2135);
    auto leap = systemTimeFromInstrument(static_cast<uint32_t>(instrumentSecondsFromCalendar(2024, 2, 29, 23, 59, 58)));
    EXPECT_EQ(leap.wMonth, 2);
    EXPECT_EQ(leap.wDay, 29);
    EXPECT_EQ(leap.wSecond, 58);

    // 40 bytes: two records, the last 8 bytes ignored; an unknown type is dropped.
    std::vector<uint8_t> bytes;
    for (const Raw& r : { Raw('0', 1), Raw('X', 2), Raw('1', 3) })
        bytes.insert(bytes.end(), r.b, r.b + 16);
    std::vector<KESTRAdrv_EventRecord> out;
    decodeRecords(bytes.data(), 40, out);
    ASSERT_EQ(out.size(), 1u); // '0' kept, 'X' dropped, the third is cut
    decodeRecords(bytes.data(), bytes.size(), out);
    EXPECT_EQ(out.size(), 3u);
}

TEST(HistoryChunks, ParsingAndBadChunks)
{
    Raw a('0', 10), b('1', 20);
    std::string data = hexOf(a.b, 16) + hexOf(b.b, 16);
    std::vector<uint8_t> bytes;
    bool last = false;
    ASSERT_TRUE(appendHistoryChunk(toLower("read_history length=20 end " + data + " crc=1234"), bytes, last));
    EXPECT_TRUE(last);
    EXPECT_EQ(bytes.size(), 32u);
    EXPECT_EQ(std::memcmp(bytes.data(), a.b, 16), 0);

    bytes.clear();
    ASSERT_TRUE(appendHistoryChunk("read_history length=10 " + hexOf(a.b, 16) + " crc=1", bytes, last));
    EXPECT_FALSE(last);
    EXPECT_EQ(bytes.size(), 16u);

    bytes.clear();
    EXPECT_FALSE(appendHistoryChunk("read_history " + data, bytes, last)); // no length
    EXPECT_FALSE(appendHistoryChunk("length=7fffffff end 00 crc=1", bytes, last)); // claims more than it has
    EXPECT_FALSE(appendHistoryChunk("length=2 end zz crc=1", bytes, last)); // not hex
    ASSERT_TRUE(appendHistoryChunk("length=0 end  crc=1", bytes, last));
    EXPECT_TRUE(bytes.empty());
}

TEST(Fields, Readers)
{
    std::string_view p = "info alarm=8000 gm=1.5e-06sv/hr~12% t=3c n=  42 crc=abcd";
    EXPECT_EQ(fields::text(p, "alarm="), "8000");
    EXPECT_EQ(*fields::hex(p, "alarm="), 0x8000u);
    EXPECT_EQ(*fields::hex(p, "t="), 0x3cu);
    EXPECT_DOUBLE_EQ(*fields::decimal(p, "gm=", "sv/hr"), 1.5e-06);
    EXPECT_DOUBLE_EQ(*fields::decimal(p, "gm="), 1.5e-06); // the number rule stops at "s"
    EXPECT_EQ(fields::token(p, "n="), "42");
    EXPECT_FALSE(fields::text(p, "status="));
    EXPECT_EQ(fields::text(p, "crc=", "zz"), ""); // no terminator: empty text
    EXPECT_EQ(*fields::hex(p, "crc=", "zz"), 0u);
    EXPECT_FALSE(fields::token("n= ", "n="));

    EXPECT_EQ(fields::exponentValue("1.2e-06"), 120);
    EXPECT_EQ(fields::exponentValue("1.200000e-004"), 12000);
    EXPECT_EQ(fields::exponentValue("8.000000e-005"), 8000);
    EXPECT_EQ(fields::exponentValue("-1.0e+000"), -100000000);
    EXPECT_EQ(fields::exponentValue("0.000002"), 200);
    EXPECT_EQ(fields::exponentValue(""), 0);
    EXPECT_FALSE(fields::exponentValue("5e+03"));
}

TEST(Text, NumbersIgnoreTheLocale)
{
    EXPECT_EQ(formatE(1.2e-4), "1.200000E-004");
    EXPECT_EQ(formatE(500), "5.000000E+002");
    EXPECT_EQ(formatE(0), "0.000000E+000");
    EXPECT_EQ(formatE(-8e-5), "-8.000000E-005");
    EXPECT_EQ(formatE(1e300), "1.000000E+300");
    EXPECT_EQ(formatFixed(2.25, 1), "2.2");
    EXPECT_DOUBLE_EQ(parseDouble("  +1.5e-06u"), 1.5e-06);
    EXPECT_DOUBLE_EQ(parseDouble("-.5"), -0.5);
    EXPECT_DOUBLE_EQ(parseDouble("x1"), 0.0);
    EXPECT_DOUBLE_EQ(parseDouble("1,5"), 1.0);
    EXPECT_EQ(parseInt(" -42x"), -42);
    EXPECT_EQ(parseInt("99999999999"), INT32_MAX);
}

TEST(Text, WideConversions)
{
    using kestra::common::utf16ToUtf8;
    using kestra::common::utf8ToUtf16;
    char16_t buffer[8];
    utf8ToUtf16("123456789", buffer, 8);
    EXPECT_EQ(std::u16string(buffer), u"1234567");
    utf8ToUtf16("µSv", buffer, 8);
    EXPECT_EQ(std::u16string(buffer), u"µSv");
    EXPECT_EQ(utf16ToUtf8(u"COM3", 4096, 259), "COM3");
    EXPECT_EQ(utf16ToUtf8(u"Zähler", 4096, 259), "Zähler");
    EXPECT_EQ(utf16ToUtf8(nullptr, 4096, 259), "");
    EXPECT_EQ(utf16ToUtf8(u"abcdef", 4096, 3), "abc");
}

TEST(Exports, AnEscapingExceptionIsLoggedAndBecomesTheFailureValue)
{
    char dir[] = "/tmp/kestra-log-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    kestra::instance().log().setDirectory(dir);
    EXPECT_EQ(
        kestra::guarded("KESTRAdrv_GetSound", uint8_t(0), []() -> int { throw std::length_error("too long"); }), 0);
    EXPECT_EQ(kestra::guarded("KESTRAdrv_GetAlarmInfo", int32_t(-1), []() -> int { throw 42; }), -1);
    EXPECT_EQ(kestra::guarded("KESTRAdrv_GetAlarmInfo", int32_t(-1), [] { return 1; }), 1);
    std::ifstream in(kestra::instance().log().path());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\tKESTRAdrv_GetSound: internal error: too long\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("\tKESTRAdrv_GetAlarmInfo: internal error: unknown exception\n"), std::string::npos);
    kestra::instance().log().setDirectory("");
    unlink((std::string(dir) + "/KESTRAdrv.log").c_str());
    rmdir(dir);
}

TEST(Exports, TableMatchesHeaderAndLibrary)
{
    std::ifstream in(KESTRADRV_HEADER);
    std::stringstream text;
    text << in.rdbuf();
    std::string header = text.str();
    std::regex declaration(R"(@ordinal (\d+)(?:(?!@ordinal)[\s\S])*?KESTRADRV_API \w+ (KESTRAdrv_\w+)\()");
    std::map<int, std::string> declared;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it)
        declared[std::stoi((*it)[1])] = (*it)[2];

    std::map<int, std::string> table;
    for (const auto& entry : exportTable())
        table[entry.ordinal] = entry.name;
    EXPECT_EQ(table.size(), 59u);
    EXPECT_EQ(declared, table);
    EXPECT_EQ(table.begin()->first, 2);
    EXPECT_EQ(table.rbegin()->first, 60);

    void* library = dlopen(KESTRADRV_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    for (const auto& [ordinal, name] : table)
        EXPECT_TRUE(dlsym(library, name.c_str())) << name;
    EXPECT_FALSE(dlsym(library, "_ZN6kestra8checksumEPKvm")); // internals stay hidden
    using Crc = uint16_t (*)(const uint8_t*, int32_t);
    auto crc = reinterpret_cast<Crc>(dlsym(library, "KESTRAdrv_GetCmdCRC"));
    ASSERT_TRUE(crc);
    EXPECT_EQ(crc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x906E);
    using Bool = uint8_t (*)();
    EXPECT_EQ(reinterpret_cast<Bool>(dlsym(library, "KESTRAdrv_IsDrvInit"))(), 0);
    dlclose(library);
}
