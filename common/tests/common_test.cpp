// The shared tables and text helpers.
#include "kestracommon/portname.h"
#include "kestracommon/texts.h"
#include "kestracommon/utf.h"

#include <gtest/gtest.h>

#include <set>

using namespace kestra::common;

TEST(PortName, DevicePaths)
{
    const std::pair<const char*, const char*> cases[] = {
        { "COM1", "/dev/ttyS0" },
        { "com12", "/dev/ttyS11" },
        { "COM999", "/dev/ttyS998" },
        { "COM0", "/dev/COM0" }, // no port 0: an ordinary name
        { "COM1000", "/dev/COM1000" },
        { "COM1a", "/dev/COM1a" },
        { "COM", "/dev/COM" },
        { "Com3", "/dev/ttyS2" },
        { "COM01", "/dev/COM01" },
        { "ttyUSB0", "/dev/ttyUSB0" },
        { "/dev/pts/3", "/dev/pts/3" },
        { "./port", "./port" },
        { "", "" },
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(portDevicePath(name), path) << name;
    EXPECT_EQ(portDevicePath("COM2", "/d"), "/d/ttyS1");
    EXPECT_EQ(portDevicePath("ttyACM0", "/d"), "/d/ttyACM0");
}

TEST(Utf, ConversionsBothWaysAndTheirLimits)
{
    // U+1D11E needs a surrogate pair; µ two UTF-8 bytes, € three.
    const std::string text = "a\xC2\xB5\xE2\x82\xAC\xF0\x9D\x84\x9E";
    std::optional<std::u16string> wide = utf8ToUtf16(text);
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, u"a\u00B5\u20AC\U0001D11E");
    EXPECT_EQ(utf16ToUtf8(wide->c_str(), 100), text);

    using namespace std::string_view_literals;
    for (std::string_view bad : { "\xFF"sv, "\xC0\x80"sv, "\xED\xA0\x80"sv, "\xE2\x82"sv, "a\0b"sv })
        EXPECT_FALSE(utf8ToUtf16(bad)) << printable(bad);

    // Lenient into a buffer: bad bytes become U+FFFD; a pair that does not fit stays out whole.
    char16_t buffer[4];
    utf8ToUtf16("x\xFFy", buffer, 4);
    EXPECT_EQ(std::u16string(buffer), u"x\uFFFDy");
    utf8ToUtf16("ab\xF0\x9D\x84\x9E", buffer, 4);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    utf8ToUtf16("abcdef", buffer, 4);
    EXPECT_EQ(std::u16string(buffer), u"abc");

    // Unpaired surrogates, the unit limit, the byte limit (never half a character), null.
    const char16_t lone[] = { u'a', 0xD800, u'b', 0xDC00, 0 };
    EXPECT_EQ(utf16ToUtf8(lone, 10),
        "a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD");
    EXPECT_EQ(utf16ToUtf8(u"abcdef", 3), "abc");
    EXPECT_EQ(utf16ToUtf8(u"a\u20AC", 10, 3), "a");
    EXPECT_EQ(utf16ToUtf8(u"\U0001D11E", 1), "\xEF\xBF\xBD"); // the pair is cut by the unit limit
    EXPECT_EQ(utf16ToUtf8(nullptr, 10), "");

    EXPECT_EQ(printable("ok \"x\"\t\x7F\xC2\xB5"), "ok \"x\"\\x09\\x7F\\xC2\\xB5");
}

TEST(Texts, EveryCodeHasOneTextAndEveryRecordCodeResolves)
{
    for (auto table : { eventTypeTexts(), alarmTexts(), deviceModeNames(), betaStatusTexts() }) {
        std::set<int> codes;
        for (const CodeText& entry : table) {
            EXPECT_TRUE(codes.insert(entry.code).second) << entry.text;
            EXPECT_NE(std::string(entry.text), "");
        }
    }
    std::set<char> seen;
    for (const RecordCode& r : recordCodes()) {
        EXPECT_TRUE(seen.insert(r.code).second) << r.code;
        EXPECT_NE(findCode(eventTypeTexts(), r.eventType), nullptr) << r.code;
        EXPECT_TRUE(r.alarm == 0 || r.alarm == SearchAlarm || findCode(alarmTexts(), r.alarm)) << r.code;
    }
    EXPECT_EQ(findRecordCode('X'), nullptr);
    EXPECT_EQ(findRecordCode('G')->alarm, 0x001);

    // The most important set bit is the one named: a detector error beats every threshold.
    EXPECT_STREQ(firstAlarm(alarmTexts(), 0x201)->text, "Detector error!");
    const CodeText* beta = firstAlarm(alarmTexts(), 0x803);
    EXPECT_STREQ(beta->text, "Threshold \"Danger\" is exceeded!");
    EXPECT_STREQ(beta->context, "beta");
    EXPECT_EQ(firstAlarm(alarmTexts(), 0x8010), nullptr);
}
