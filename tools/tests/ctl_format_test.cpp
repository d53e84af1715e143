#include "ctl_format.h"
#include "port_check.h"
#include "report.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace kestra::ctl;

namespace {

TEST(Numbers, StrictAndLocaleFree)
{
    // A comma locale must not change what is read or printed.
    const char* previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(parseNumber("1.5"), 1.5);
    EXPECT_EQ(parseNumber("+2e3"), 2000.0);
    EXPECT_EQ(parseNumber("-0.25"), -0.25);
    for (const char* bad : { "", "1,5", "1.5x", " 1", "nan", "inf", "++1", "+", "1e999" })
        EXPECT_FALSE(parseNumber(bad)) << bad;
    EXPECT_EQ(formatDecimal(1.5, 2, 4), "1.50");
    EXPECT_EQ(formatDecimal(1.23456, 2, 4), "1.2346");
    EXPECT_EQ(formatDecimal(-0.001, 2, 2), "0.00");
    EXPECT_EQ(formatDecimal(120.00000000000001, 0, 6), "120");
    if (previous)
        std::setlocale(LC_NUMERIC, "C");

    EXPECT_EQ(parseInteger("0x1F"), 31);
    EXPECT_EQ(parseInteger("-5"), -5);
    EXPECT_EQ(parseInteger("010"), 10); // never octal
    for (const char* bad : { "", "12a", "0x", "1.0", "99999999999999999999", "--1", "+-1" })
        EXPECT_FALSE(parseInteger(bad)) << bad;
}

TEST(Units, DoseRateDoseAndDuration)
{
    EXPECT_EQ(formatDoseRate(120), "1.20 \xC2\xB5Sv/h");
    EXPECT_EQ(formatDoseRate(15.5), "0.155 \xC2\xB5Sv/h");
    EXPECT_EQ(formatDoseRate(10'000'000), "100000.00 \xC2\xB5Sv/h");
    EXPECT_EQ(formatDose(99'999), "999.99 \xC2\xB5Sv");
    EXPECT_EQ(formatDose(100'000), "1.000 mSv");
    EXPECT_EQ(formatDose(123'456'789), "1234.56789 mSv");
    EXPECT_EQ(formatDuration(0), "0:00:00");
    EXPECT_EQ(formatDuration(45'296), "12:34:56");
    EXPECT_EQ(formatDuration(360'000), "100:00:00");
    EXPECT_EQ(formatReading(5, 25.5), "25.50 CPM/cm\xC2\xB2");
    EXPECT_EQ(formatReading(7, 3), "3.00 CPS");
    EXPECT_EQ(formatReading(1, 0), "none");
}

TEST(Settings, HumanInputToDriverUnits)
{
    struct Case {
        const char* setting;
        const char* text;
        bool raw;
        std::optional<double> expected; // nullopt: refused
    };
    const Case cases[] = {
        { "der1", "1.2", false, 120 },
        { "der1", "1.2 uSv/h", false, 120 },
        { "der1", "1.2\xC2\xB5Sv/h", false, 120 },
        { "der2", "0.3mSv/h", false, 30'000 },
        { "der2", "0.1 Sv/h", false, 10'000'000 },
        { "der1", "0.05", false, std::nullopt }, // below the 0.1 µSv/h floor
        { "der1", "100001", false, std::nullopt },
        { "der1", "1.2 R/h", false, std::nullopt },
        { "der1", "120", true, 120 },
        { "der1", "1.5", true, std::nullopt }, // the driver takes whole 1e-8 Sv/h
        { "de", "1 mSv", false, 100'000 },
        { "de", "250", false, 25'000 },
        { "background", "0.05", false, 5 },
        { "hist-interval", "60", false, 60 },
        { "hist-interval", "59", false, std::nullopt },
        { "hist-interval", "70000", false, std::nullopt }, // would be cut to 16 bits
        { "hist-interval", "600 s", false, 600 },
        { "beta1", "6", false, 6 },
        { "beta1", "5", false, std::nullopt },
        { "beta1", "abc", false, std::nullopt },
        { "beta-search", "500000", false, 500'000 },
        { "beta-search", "0.05", false, std::nullopt },
        { "units", "roentgen", false, 1 },
        { "units", "Sv", false, 0 },
        { "units", "2", true, std::nullopt },
        { "sound", "off", false, 0 },
        { "beep", "maybe", false, std::nullopt },
        { "hv", "0x150", false, 336 },
        { "hv", "70000", false, std::nullopt },
        { "sigma", "2.25", false, 2.3 },
        { "k-beta", "-45", false, -45 },
        { "k-der", "1.07", false, 1.07 },
        { "qm-timeout", "65536", true, std::nullopt },
    };
    for (const Case& c : cases) {
        const SettingInfo* setting = findSetting(c.setting);
        ASSERT_NE(setting, nullptr) << c.setting;
        SettingValue value = parseSettingValue(*setting, c.text, c.raw);
        if (!c.expected) {
            EXPECT_FALSE(value.raw) << c.setting << " " << c.text;
            EXPECT_NE(value.error.find(c.setting), std::string::npos) << value.error;
            continue;
        }
        ASSERT_TRUE(value.raw) << c.setting << " " << c.text << ": " << value.error;
        EXPECT_NEAR(*value.raw, *c.expected, 1e-9 * std::max(1.0, *c.expected)) << c.setting << " " << c.text;
    }
}

TEST(Settings, DriverUnitsToText)
{
    struct Case {
        const char* setting;
        double raw;
        std::string human;
        std::string rawText;
    };
    const Case cases[] = {
        { "der1", 30'000, "300.00 \xC2\xB5Sv/h", "30000" },
        { "de", 100'000, "1.000 mSv", "100000" },
        { "hv", 336, "0x0150 (336)", "336" },
        { "beta1", 10, "10 CPM/cm\xC2\xB2", "10" },
        { "beta-search", 100, "100.0 CPS", "100" },
        { "sigma", 2, "2.0", "2" },
        { "units", 1, "roentgen", "1" },
        { "light", 0, "off", "0" },
        { "hist-interval", 600, "600 s", "600" },
        { "background", 5.5, "0.055 \xC2\xB5Sv/h", "5.5" },
    };
    for (const Case& c : cases) {
        const SettingInfo& setting = *findSetting(c.setting);
        EXPECT_EQ(formatSettingValue(setting, c.raw, false), c.human) << c.setting;
        EXPECT_EQ(formatSettingValue(setting, c.raw, true), c.rawText) << c.setting;
        // What is printed for a person reads back to the same driver value.
        SettingValue back = parseSettingValue(setting, c.human, false);
        if (setting.kind != SettingKind::HexCode && back.raw) {
            EXPECT_NEAR(*back.raw, c.raw, 1e-9 * std::max(1.0, c.raw)) << c.setting;
        }
    }
    EXPECT_EQ(settingJson(*findSetting("der1"), 120), "{\"value\":1.2,\"unit\":\"\xC2\xB5Sv/h\",\"raw\":120}");
    EXPECT_EQ(settingJson(*findSetting("sound"), 1), "{\"value\":true,\"raw\":1}");
}

TEST(Alarms, EveryBitNamedOnce)
{
    EXPECT_TRUE(alarmTexts(0).empty());
    std::vector<std::string> texts = alarmTexts(0x8003);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Threshold \"Danger\" is exceeded! (gamma)");
    EXPECT_EQ(texts[2], "autocalibration running");
    EXPECT_EQ(alarmTexts(0x0100), std::vector<std::string> { "bit 0x0100" });
    EXPECT_EQ(alarmTexts(0xFFFF).size(), 16u);
}

KESTRAdrv_EventRecord event(char type, double v1, double v2, int32_t p1, int32_t p2)
{
    KESTRAdrv_EventRecord r {};
    r.type = type;
    r.time = { 2026, 3, 0, 7, 9, 5, 3, 0 };
    r.value1 = v1;
    r.value2 = v2;
    r.param1 = p1;
    r.param2 = p2;
    return r;
}

TEST(History, ValueTextByType)
{
    struct Case {
        KESTRAdrv_EventRecord record;
        std::string text;
    };
    const Case cases[] = {
        { event('F', 1234, 55, 12, -1),
            "12.34 \xC2\xB5Sv/h \xC2\xB1"
            "12%" },
        { event('G', 1234, 55, -1, -1), "12.34 \xC2\xB5Sv/h" },
        { event('b', 25.5, 1, 7, -1),
            "25.50 CPM/cm\xC2\xB2 \xC2\xB1"
            "7%" },
        { event('S', 3, -1, 20, -1),
            "3.00 CPS \xC2\xB1"
            "20%" },
        { event('B', -1, -1, 20, -1), "" }, // no value
        { event('C', 1.02, 8000, 2, 50), "80.00 \xC2\xB5Sv/h" },
        { event('s', -1, -1, 1, 0), "sound on" },
        { event('1', -1, -1, -1, -1), "" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(eventValueText(c.record), c.text) << c.record.type;
    EXPECT_EQ(eventName('G'), "Measurement gamma");
    EXPECT_EQ(eventAlarm('D'), "Accumulated dose threshold is exceeded!");
    EXPECT_EQ(eventName('\x01'), "unknown event '\\x01'");
}

TEST(History, TableAndJson)
{
    std::vector<KESTRAdrv_EventRecord> records = { event('F', 1234, 55, 12, -1), event('i', 40, -1, 9, -1) };
    std::string table = historyTable(records, false);
    EXPECT_EQ(table,
        "TIME                 CODE  EVENT              VALUE              ALARM\n"
        "2026-03-07 09:05:03  F     Measurement gamma  12.34 \xC2\xB5Sv/h \xC2\xB1"
        "12%\n"
        "2026-03-07 09:05:03  i     Measurement beta   40.00 CPM/cm\xC2\xB2 \xC2\xB1"
        "9%  "
        "Threshold \"Danger\" is exceeded! (beta)\n"
        "2 events\n");
    EXPECT_EQ(historyTable({}, false), "TIME  CODE  EVENT  VALUE  ALARM\n0 events\n");
    EXPECT_EQ(historyTable(records, true),
        "time\ttype\tvalue1\tvalue2\tparam1\tparam2\n"
        "2026-03-07 09:05:03\tF\t1234\t55\t12\t-1\n"
        "2026-03-07 09:05:03\ti\t40\t-1\t9\t-1\n");
    std::string json = historyJson(records);
    EXPECT_NE(
        json.find("{\"time\":\"2026-03-07T09:05:03\",\"type\":\"F\",\"event\":\"Measurement gamma\",\"alarm\":\"\""),
        std::string::npos)
        << json;
    EXPECT_NE(json.find("\"alarm\":\"Threshold \\\"Danger\\\" is exceeded! (beta)\""), std::string::npos);
    EXPECT_NE(json.find("\"value1\":1234,\"value2\":55,\"param1\":12,\"param2\":-1}"), std::string::npos);
    EXPECT_EQ(historyJson({}), "[]\n");
}

TEST(Text, Utf16RoundTripAndJsonEscapes)
{
    std::string text = "/dev/tty\xC3\xBC-\xF0\x9F\x98\x80"; // ü and an emoji (surrogate pair)
    std::optional<std::u16string> wide = utf8ToUtf16(text);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->size(), 12u);
    EXPECT_EQ(utf16ToUtf8(wide->c_str(), 260), text);
    for (std::string bad :
        { std::string("\xC3"), std::string("\xC0\xAF"), std::string("a\0b", 3), std::string("\xED\xA0\x80") })
        EXPECT_FALSE(utf8ToUtf16(bad));
    const char16_t lone[] = { u'a', 0xD800, u'b', 0 };
    EXPECT_EQ(utf16ToUtf8(lone, 260),
        "a\xEF\xBF\xBD"
        "b");
    const char16_t unterminated[] = { u'x', u'y', u'z' };
    EXPECT_EQ(utf16ToUtf8(unterminated, 2), "xy");

    EXPECT_EQ(jsonString("a\"b\\c\n\x01\xFF\xC2\xB5"), "\"a\\\"b\\\\c\\n\\u0001\xEF\xBF\xBD\xC2\xB5\"");
    EXPECT_EQ(printable("ok\x1B[2J\xC2"), "ok\\x1B[2J\\xC2");
}

TEST(Text, MenuHexAndPortPaths)
{
    std::string hex56(56, '0');
    hex56[1] = '1';
    hex56[55] = 'f';
    auto menu = parseMenuHex(hex56);
    ASSERT_TRUE(menu);
    EXPECT_EQ((*menu)[0], 0x01);
    EXPECT_EQ((*menu)[27], 0x0F);
    EXPECT_EQ(toHex(*menu), "01" + std::string(52, '0') + "0F");
    EXPECT_TRUE(parseMenuHex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C"));
    EXPECT_FALSE(parseMenuHex(hex56.substr(1)));
    EXPECT_FALSE(parseMenuHex(hex56 + "00"));
    EXPECT_FALSE(parseMenuHex("zz" + hex56.substr(2)));

    const std::pair<const char*, const char*> ports[] = {
        { "/dev/ttyUSB0", "/dev/ttyUSB0" },
        { "ttyUSB1", "/dev/ttyUSB1" },
        { "COM1", "/dev/ttyS0" },
        { "com10", "/dev/ttyS9" },
        { "COM0", "/dev/COM0" },
        { "COMX", "/dev/COMX" },
        { "./link", "./link" },
    };
    for (auto [name, path] : ports)
        EXPECT_EQ(resolvePortPath(name), path) << name;
}

TEST(Text, DriverLogLinesForAPerson)
{
    EXPECT_EQ(readableLogLine("08.12.2026\t01:55:27\tto COM port: \t4B 45 20 24 30 0D 0A "),
        "08.12.2026 01:55:27 to COM port: KE $0");
    EXPECT_EQ(readableLogLine("d\tt\tfrom COM port: \t6B 01 "), "d t from COM port: k\\x01");
    EXPECT_EQ(readableLogLine("d\tt\tCOM port open error: /dev/x"), "d t COM port open error: /dev/x");
    EXPECT_EQ(readableLogLine("to COM port: zz"), "to COM port: zz");
}

TEST(PortAccess, MessageSaysWhatFixesIt)
{
    AccessDenied denied { "/dev/ttyUSB0", "ann", "root", "dialout", 020660, false, false };
    std::string notMember = accessDeniedMessage(denied);
    EXPECT_NE(notMember.find("/dev/ttyUSB0"), std::string::npos);
    EXPECT_NE(notMember.find("group dialout"), std::string::npos);
    EXPECT_NE(notMember.find("sudo usermod -aG dialout $USER"), std::string::npos);
    EXPECT_NE(notMember.find("log out and in again"), std::string::npos);

    denied.group = "uucp"; // the group of the device, whatever it is called
    EXPECT_NE(accessDeniedMessage(denied).find("sudo usermod -aG uucp $USER"), std::string::npos);

    denied.inGroupDatabase = true; // joined, but this login predates it
    std::string stale = accessDeniedMessage(denied);
    EXPECT_EQ(stale.find("usermod"), std::string::npos);
    EXPECT_NE(stale.find("log out and in again"), std::string::npos);

    denied = { "/tmp/p", "ann", "ann", "ann", 0100000, false, false }; // mode 000: the group would not help
    std::string locked = accessDeniedMessage(denied);
    EXPECT_EQ(locked.find("usermod"), std::string::npos);
    EXPECT_NE(locked.find("mode 0000"), std::string::npos);
}

TEST(ReportOutput, TextAlignedJsonEscaped)
{
    Report report;
    report.add("mode", "mode", "gamma", "3");
    report.add("dose rate", "rate", "1.20 \xC2\xB5Sv/h", "1.2");
    report.add("id", "id", "KESTRA \"x\"", jsonString("KESTRA \"x\""));
    EXPECT_EQ(report.text(), "mode:      gamma\ndose rate: 1.20 \xC2\xB5Sv/h\nid:        KESTRA \"x\"\n");
    EXPECT_EQ(report.json(), "{\n  \"mode\": 3,\n  \"rate\": 1.2,\n  \"id\": \"KESTRA \\\"x\\\"\"\n}\n");
}

} // namespace
