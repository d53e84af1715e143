#include "kestrasim/instrument.h"
#include "kestrasim/wire.h"
#include "replyrules.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kestra::sim;

namespace {

// Talks to the instrument as a host would see the replies: wrapped, checked, lower-cased.
struct Host {
    Instrument instrument { 7 };
    double now = 800000000.0;
    uint16_t sequence = 0;

    std::string ask(const std::string& command)
    {
        const std::string reply
            = formatReply(instrument.settings().number, instrument.handle(command, sequence++, now));
        EXPECT_LE(reply.size(), kMaxReplyBytes) << command;
        const auto checked = replyrules::check(reply, instrument.settings().number);
        EXPECT_TRUE(checked.complete && checked.checksumOk) << reply;
        return checked.payload;
    }
    std::string field(const std::string& command, const std::string& key, const std::string& stop)
    {
        const auto value = replyrules::field(ask(command), key, stop);
        return value ? *value : "<missing " + key + ">";
    }
};

std::string tempPath(const char* name)
{
    return testing::TempDir() + name + std::to_string(::getpid());
}

} // namespace

TEST(Instrument, GetRepliesCarryFieldsWhereTheHostLooks)
{
    Host host;
    struct Case {
        const char* command;
        const char* key;
        const char* stop;
        const char* expected;
    } cases[] = {
        { "get_sigma", "nsig=", " ", "2.0" },
        { "get_timeout", "t=", " ", "003c" },
        { "get_thresh_g", "thrg=", "sv/hr", "3.000000e-004" },
        { "get_thresh_g2", "thrg=", "sv/hr", "1.000000e-003" },
        { "get_thresh_de", "thrg=", "sv", "1.000000e-003" },
        { "get_HI_V", "hi_v=", " ", "0190" },
        { "get_K_DER", "k=", " ", "1.000000e+000" },
        { "get_K_b", "k=", " ", "4.500000e+001" },
        { "get_K_a", "k=", " ", "3.000000e+001" },
        { "get_own_backgr", "gm=", "sv/hr", "5.000000e-008" },
        { "get_thresh_b1", "thrg=", "cpm/cm", "1.000000e+001" },
        { "get_thresh_b2", "thrg=", "cpm/cm", "1.000000e+002" },
        { "get_thresh_b", "thrg=", "cps", "1.000000e+002" },
        { "read_hist_time", "t=", " ", "0258" },
        { "get_battery", "n=", " ", "9" },
        { "get_autocal_setting", "gm=", "sv/hr", "8.000000e-005" },
        { "get_autocal_setting", "precision=", "% ", "50" },
        { "read_menu", "read_menu ", " ", "010100010300000a0064003c02000100000000000000000000000000" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(host.field(c.command, c.key, c.stop), c.expected) << c.command;

    // Tolerance: from the "~" after the rate's unit to the next "% ".
    const std::string autocal = host.ask("get_autocal_setting");
    const std::size_t unit = autocal.find("sv/hr");
    const std::size_t tilde = autocal.find('~', unit);
    ASSERT_NE(tilde, std::string::npos);
    EXPECT_EQ(autocal.substr(tilde + 1, autocal.find("% ", tilde) - tilde - 1), "02");

    // Switches: " on " with spaces on both sides; units: " u=" present, " u=sv" for sieverts.
    EXPECT_NE(host.ask("get_sound").find(" on "), std::string::npos);
    EXPECT_EQ(host.ask("get_light").find(" on "), std::string::npos);
    EXPECT_NE(host.ask("get_beep").find(" on "), std::string::npos);
    EXPECT_NE(host.ask("get_measur_unit").find(" u=sv"), std::string::npos);

    // get_ID: the token after "kestra #" is the number.
    EXPECT_EQ(host.field("get_ID", "kestra #", " "), "123456");
}

TEST(Instrument, DoseReplyReadsBackAsAccumulated)
{
    Host host;
    host.instrument.setDoseRate(3.6e-3); // 1 uSv per second
    host.instrument.tick(host.now);
    host.now += 100;
    host.instrument.tick(host.now);
    const std::string payload = host.ask("get_dose");
    const auto rate = replyrules::field(payload, "d=", "sv");
    const auto time = replyrules::field(payload, "t=", "s ");
    const auto dose = replyrules::field(payload, "d_acc=", "sv");
    ASSERT_TRUE(rate && time && dose) << payload;
    EXPECT_NEAR(std::strtod(rate->c_str(), nullptr) * 1e8, 3.6e5, 1);
    EXPECT_EQ(std::strtoul(("0x" + *time).c_str(), nullptr, 16), 100u);
    // The host multiplies by 100 into 1e-8 Sv: 100 uSv -> 10000.
    EXPECT_EQ(static_cast<int>(std::strtod(dose->c_str(), nullptr) * 100), 10000);
    host.ask("reset_dose");
    EXPECT_EQ(host.field("get_dose", "t=", "s "), "00000000");
    EXPECT_EQ(host.instrument.history().back().type(), 'R');
}

TEST(Instrument, PutCommandsEchoAndReadBack)
{
    Host host;
    const std::string menu = "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C";
    struct Case {
        std::string put;
        const char* echo;
        const char* get;
        const char* key;
        const char* stop;
        std::string expected;
    } cases[] = {
        { "put_sigma Nsig=3.5", "put_sigma", "get_sigma", "nsig=", " ", "3.5" },
        { "put_timeout T=0100", "put_timeout", "get_timeout", "t=", " ", "0100" },
        { "put_thresh_g thrG=1.200000E-004Sv/hr", "put_thresh_g", "get_thresh_g", "thrg=", "sv/hr", "1.200000e-004" },
        { "put_thresh_g2 thrG=2.000000E-003Sv/hr", "put_thresh_g2", "get_thresh_g2", "thrg=", "sv/hr",
            "2.000000e-003" },
        { "put_thresh_de thrG=5.000000E-002Sv", "put_thresh_de", "get_thresh_de", "thrg=", "sv", "5.000000e-002" },
        { "put_HI_V hi_v=0150", "put_HI_V", "get_HI_V", "hi_v=", " ", "0150" },
        { "put_K_DER K=1.050000E+000", "put_K_DER", "get_K_DER", "k=", " ", "1.050000e+000" },
        { "put_K_b K=5.000000E+001", "put_K_b", "get_K_b", "k=", " ", "5.000000e+001" },
        { "put_K_a K=2.000000E+001", "put_K_a", "get_K_a", "k=", " ", "2.000000e+001" },
        { "put_own_backgr GM=7.000000E-008Sv/hr", "put_own_backgr", "get_own_backgr", "gm=", "sv/hr", "7.000000e-008" },
        { "put_thresh_b1 thrG=1.200000E+001CPM/cm^2", "put_thresh_b1", "get_thresh_b1", "thrg=", "cpm/cm",
            "1.200000e+001" },
        { "put_thresh_b2 thrG=1.500000E+002CPM/cm^2", "put_thresh_b2", "get_thresh_b2", "thrg=", "cpm/cm",
            "1.500000e+002" },
        { "put_thresh_b thrG=5.000000E+005CPS", "put_thresh_b", "get_thresh_b", "thrg=", "cps", "5.000000e+005" },
        { "set_hist_time T=2345 Tp=000A", "set_hist_time", "read_hist_time", "t=", " ", "2345" },
        { "write_menu M=" + menu, "write_menu", "read_menu", "read_menu ", " ", replyrules::lower(menu) },
    };
    for (const Case& c : cases) {
        EXPECT_NE(host.ask(c.put).find(replyrules::lower(c.echo)), std::string::npos) << c.put;
        EXPECT_EQ(host.field(c.get, c.key, c.stop), c.expected) << c.put;
    }

    struct Switch {
        const char* put;
        const char* get;
        bool on;
    } switches[] = {
        { "put_sound off", "get_sound", false },
        { "put_sound on", "get_sound", true },
        { "put_light on", "get_light", true },
        { "put_beep off", "get_beep", false },
    };
    for (const Switch& s : switches) {
        const std::string word = std::string(s.put).substr(0, std::string(s.put).find(' '));
        EXPECT_NE(host.ask(s.put).find(word), std::string::npos) << s.put;
        EXPECT_EQ(host.ask(s.get).find(" on ") != std::string::npos, s.on) << s.put;
    }
    EXPECT_NE(host.ask("put_measur_unit U=R").find("put_measur_unit"), std::string::npos);
    const std::string units = host.ask("get_measur_unit");
    EXPECT_NE(units.find(" u="), std::string::npos);
    EXPECT_EQ(units.find(" u=sv"), std::string::npos);
    // Sound and beep changes are events of the history.
    int soundRecords = 0;
    for (const RawRecord& r : host.instrument.history())
        soundRecords += r.type() == 's';
    EXPECT_EQ(soundRecords, 3);
}

TEST(Instrument, BadCommandsAnswerErrorAndChangeNothing)
{
    Host host;
    const char* commands[] = {
        "nonsense",
        "put_sound maybe",
        "put_measur_unit U=X",
        "put_sigma Nsig=abc",
        "put_sigma Nsig=-1.0",
        "put_thresh_g thrG=1.0E-004mSv/hr",
        "put_thresh_g thrG=",
        "put_HI_V hi_v=12345",
        "put_K_b K=9.9E+099",
        "write_menu M=00",
        "write_menu M=ZZ02030405060708090A0B0C0D0E0F101112131415161718191A1B1C",
        "set_hist_time T=0000 Tp=000A",
        "set_hist_time Tp=000A",
        "set_enter_time T=XYZ",
        "set_ID numb=",
        "set_ID numb=a/b",
        "SET_MODE=flying",
        "r_det_vers N=07 ",
        "package len=0001 P=00",
        "start_loading",
        "autocalibr GM=abc",
        "autocalibr GM=8.000000E-005Sv/hr~02% precision=",
    };
    const Settings before = host.instrument.settings();
    const std::size_t records = host.instrument.history().size();
    for (const char* command : commands)
        EXPECT_NE(host.ask(command).find("error"), std::string::npos) << command;
    const Settings& after = host.instrument.settings();
    EXPECT_EQ(after.number, before.number);
    EXPECT_EQ(after.sound, before.sound);
    EXPECT_EQ(after.sigma, before.sigma);
    EXPECT_EQ(after.derThreshold1, before.derThreshold1);
    EXPECT_EQ(after.hvCode, before.hvCode);
    EXPECT_EQ(after.kBeta, before.kBeta);
    EXPECT_EQ(after.menu, before.menu);
    EXPECT_EQ(after.historyInterval, before.historyInterval);
    EXPECT_EQ(after.clockOffset, before.clockOffset);
    EXPECT_EQ(after.mode, before.mode);
    EXPECT_FALSE(host.instrument.autocalRunning());
    EXPECT_EQ(host.instrument.history().size(), records);
}

TEST(Instrument, ModesShowTheirWordAndUnit)
{
    Host host;
    const char* words[]
        = { "read_history ", "test ", "gm ", "betta_1 ", "betta_2 ", "survey ", "backgr ", "search_bg " };
    struct Case {
        const char* command; // empty: set the mode directly
        int mode;
        const char* echo;
        const char* unit;
        bool status;
    } cases[] = {
        { "SET_MODE=gm", 3, "gm ", "sv/hr", false },
        { "SET_MODE=betta", 4, "betta ", "cps", true },
        { "SET_MODE=betta", 5, "betta ", "cpm/cm", true },
        { "SET_MODE=search_bg", 8, "search_bg ", "cps", true },
        { "", 6, nullptr, "cps", true },
        { "", 7, nullptr, "cps", true },
        { "", 2, nullptr, nullptr, false },
        { "", 1, nullptr, nullptr, false },
        { "", 0, nullptr, nullptr, false },
    };
    for (const Case& c : cases) {
        if (*c.command)
            EXPECT_NE(host.ask(c.command).find(c.echo), std::string::npos) << c.command;
        else
            host.instrument.settings().mode = c.mode;
        EXPECT_EQ(host.instrument.settings().mode, c.mode);
        const std::string info = host.ask("info");
        for (int m = 1; m <= 8; ++m)
            EXPECT_EQ(info.find(words[m - 1]) != std::string::npos, m == c.mode) << info;
        EXPECT_EQ(host.field("info", "alarm=", " "), "0000");
        EXPECT_EQ(info.find("status=") != std::string::npos, c.status) << info;
        if (!c.unit) {
            EXPECT_EQ(info.find("gm="), std::string::npos) << info;
            continue;
        }
        const auto value = replyrules::field(info, "gm=", c.unit);
        ASSERT_TRUE(value && !value->empty()) << info;
        EXPECT_GT(std::strtod(value->c_str(), nullptr), 0.0) << info;
        const std::size_t tilde = info.find('~', info.find(c.unit));
        ASSERT_NE(tilde, std::string::npos) << info;
        const int precision = std::atoi(info.substr(tilde + 1, info.find('%', tilde) - tilde - 1).c_str());
        EXPECT_GE(precision, 1);
        EXPECT_LE(precision, 99);
    }
    EXPECT_NE(host.ask("SET_MODE=control_on").find("control_on"), std::string::npos);
    EXPECT_TRUE(host.instrument.settings().locked);
    host.ask("SET_MODE=control_off");
    EXPECT_FALSE(host.instrument.settings().locked);
}

TEST(Instrument, GammaReadingScattersAroundTheDoseRate)
{
    Host host;
    host.instrument.setDoseRate(1.0e-6);
    double sum = 0;
    const int n = 200;
    for (int i = 0; i < n; ++i)
        sum += std::strtod(host.field("info", "gm=", "sv/hr").c_str(), nullptr);
    EXPECT_NEAR(sum / n, 1.0e-6, 0.05e-6);
}

TEST(Instrument, AlarmsRaiseBitsAndRecords)
{
    Host host;
    host.instrument.setLiveHistory(false);
    auto alarm = [&] { return host.field("info", "alarm=", " "); };
    host.instrument.tick(host.now);
    EXPECT_EQ(alarm(), "0000");
    host.instrument.setDoseRate(5.0e-4);
    host.instrument.tick(host.now += 1);
    EXPECT_EQ(alarm(), "0001");
    host.instrument.setDoseRate(2.0e-3);
    host.instrument.tick(host.now += 1);
    EXPECT_EQ(alarm(), "0003");
    host.instrument.setDoseRate(1.0e-7);
    host.instrument.tick(host.now += 1);
    EXPECT_EQ(alarm(), "0000");
    std::string types;
    for (const RawRecord& r : host.instrument.history())
        types += r.type();
    EXPECT_EQ(types, "Gg");

    // Autocalibration runs with bit 15 set, then ends with its record.
    EXPECT_NE(host.ask("autocalibr GM=8.000000E-005Sv/hr~02% precision=50%").find("autocalibr"), std::string::npos);
    EXPECT_EQ(alarm(), "8000");
    host.instrument.tick(host.now += Instrument::kAutocalSeconds + 1);
    EXPECT_EQ(alarm(), "0000");
    EXPECT_EQ(host.instrument.history()[2].type(), 'A');
    EXPECT_EQ(host.instrument.history()[3].type(), 'C');
    host.ask("autocalibr GM=9.000000E-005Sv/hr~03% precision=40%");
    EXPECT_EQ(host.field("get_autocal_setting", "precision=", "% "), "40");
    host.ask("autocalibr_stop");
    EXPECT_EQ(alarm(), "0000");
}

TEST(Instrument, HistoryChunksDecodeBackToTheRecords)
{
    for (std::size_t chunkBytes : { std::size_t(0), std::size_t(100), std::size_t(16) }) {
        for (int count : { 0, 1, 30, 1000 }) {
            Host host;
            host.instrument.setLiveHistory(false);
            host.instrument.setChunkBytes(chunkBytes);
            host.instrument.prefillHistory(count, 7, host.now);
            ASSERT_EQ(host.instrument.history().size(), static_cast<std::size_t>(count));
            std::vector<uint8_t> gathered;
            std::string payload = host.ask("read_history");
            int chunks = 0;
            for (;;) {
                const auto c = replyrules::chunk(payload);
                ASSERT_TRUE(c.ok) << payload;
                gathered.insert(gathered.end(), c.data.begin(), c.data.end());
                ++chunks;
                if (c.last)
                    break;
                ASSERT_LT(chunks, 100000);
                payload = host.ask("info");
            }
            ASSERT_EQ(gathered.size(), static_cast<std::size_t>(count) * 16) << count;
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(std::memcmp(gathered.data() + 16 * i, host.instrument.history()[i].bytes, 16), 0) << i;
            EXPECT_FALSE(host.instrument.downloading());
            // After the download "info" is a measurement again.
            EXPECT_NE(host.ask("info").find("alarm="), std::string::npos);
        }
    }
}

TEST(Instrument, PrefilledHistoryIsPlausible)
{
    Host host;
    host.instrument.prefillHistory(2000, 7, host.now);
    const auto& h = host.instrument.history();
    std::string seen;
    uint32_t last = 0;
    const uint32_t now = host.instrument.clock(host.now);
    for (const RawRecord& r : h) {
        EXPECT_GE(r.time(), last);
        EXPECT_LE(r.time(), now);
        last = r.time();
        if (seen.find(r.type()) == std::string::npos)
            seen += r.type();
        if (r.type() == 'F') {
            const double rate = decodeInstrumentFloat(r.bytes + 10);
            EXPECT_GT(rate, 1.0e-8);
            EXPECT_LT(rate, 1.0e-6);
        }
    }
    EXPECT_GE(h.front().time(), now - 7 * 86400);
    for (char type : std::string("01FbSBGgACRsIJ"))
        EXPECT_NE(seen.find(type), std::string::npos) << type;

    // A short history still shows every kind of event but the danger alarm.
    Host brief;
    brief.instrument.prefillHistory(40, 1, brief.now);
    std::string types;
    for (const RawRecord& r : brief.instrument.history())
        types += r.type();
    for (char type : std::string("01FbSBGACRsIJ"))
        EXPECT_NE(types.find(type), std::string::npos) << type;
}

TEST(Instrument, RetriedFramesGetTheSameAnswerOnce)
{
    Instrument instrument(3);
    instrument.setLiveHistory(false);
    instrument.setChunkBytes(32);
    instrument.prefillHistory(6, 1, 1000000.0); // three chunks
    const double t = 1000000.0;
    const std::string first = instrument.handle("read_history", 5, t);
    const std::string second = instrument.handle("info", 6, t + 0.1);
    EXPECT_EQ(instrument.handle("info", 6, t + 1.1), second); // the host's retry after a lost reply
    const std::string third = instrument.handle("info", 7, t + 1.2);
    EXPECT_NE(third, second);
    EXPECT_NE(third.find(" end"), std::string::npos);

    // A retried firmware packet is stored once.
    instrument.handle("SET_MODE=control_on", 8, t);
    instrument.handle("package len=0002 P=ABCD", 9, t);
    instrument.handle("package len=0002 P=ABCD", 9, t + 1.0);
    EXPECT_EQ(instrument.firmwareReceived().size(), 2u);
    // The same text with a new sequence number is a new packet.
    instrument.handle("package len=0002 P=ABCD", 10, t + 1.1);
    EXPECT_EQ(instrument.firmwareReceived().size(), 4u);
}

TEST(Instrument, FirmwareLoadingTakesThePacketsInOrder)
{
    Host host;
    std::vector<uint8_t> image(257);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    host.ask("SET_MODE=control_on");
    EXPECT_NE(host.ask("package len=0100 P=" + toHex(image.data(), 256)).find("package"), std::string::npos);
    EXPECT_EQ(host.ask("package len=0002 P=" + toHex(image.data() + 256, 1)).find("error") != std::string::npos,
        true); // length disagrees with the data
    host.ask("package len=0001 P=" + toHex(image.data() + 256, 1));
    EXPECT_EQ(host.instrument.firmwarePackets(), 2);
    EXPECT_EQ(host.ask("start_loading").find("error"), std::string::npos);
    EXPECT_EQ(host.instrument.firmwareLoaded(), image);
    EXPECT_EQ(host.instrument.firmwareLoads(), 1);
    EXPECT_FALSE(host.instrument.settings().locked);
    EXPECT_TRUE(host.instrument.firmwareReceived().empty());
    // An empty image is one empty packet.
    host.ask("SET_MODE=control_on");
    EXPECT_EQ(host.ask("package len=0000 P=").find("error"), std::string::npos);
    host.ask("start_loading");
    EXPECT_TRUE(host.instrument.firmwareLoaded().empty());
    EXPECT_EQ(host.instrument.firmwareLoads(), 2);
}

TEST(Instrument, VersionTextsDecodeAsTheHostReadsThem)
{
    Host host;
    for (int part = 0; part < 4; ++part) {
        char command[32];
        std::snprintf(command, sizeof command, "r_det_vers N=%02d ", part);
        const std::string payload = host.ask(command);
        const std::string key = replyrules::lower(command);
        const std::size_t at = payload.find(key);
        ASSERT_NE(at, std::string::npos) << payload;
        const std::size_t from = at + key.size() + 2;
        const std::size_t to = payload.find(" crc=", from);
        ASSERT_NE(to, std::string::npos);
        const auto bytes = replyrules::hexBytes(payload.substr(from, to - from), (to - from) / 2);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Instrument::versionText(part));
    }
}

TEST(Instrument, NumberAndClock)
{
    Host host;
    EXPECT_EQ(host.field("set_ID numb=ABC777", "kestra #", " "), "abc777");
    EXPECT_EQ(host.instrument.settings().number, "abc777");
    EXPECT_EQ(host.field("get_ID", "kestra #", " "), "abc777");

    host.ask("set_enter_time T=0000003C");
    EXPECT_EQ(host.field("read_enter_time", "t=", " "), "0000003c");
    host.now += 10;
    EXPECT_EQ(host.field("read_enter_time", "t=", " "), "00000046");
}

TEST(Instrument, LiveHistoryFollowsTheInterval)
{
    Host host;
    host.ask("set_hist_time T=003C Tp=000A");
    host.instrument.tick(host.now);
    const uint32_t start = host.instrument.clock(host.now);
    host.instrument.tick(host.now + 600);
    const auto& h = host.instrument.history();
    ASSERT_EQ(h.size(), 10u);
    for (std::size_t i = 0; i < h.size(); ++i) {
        EXPECT_EQ(h[i].type(), 'F');
        EXPECT_EQ(h[i].time(), start + 60 * (i + 1));
    }
    // A jump of years appends a bounded number of records, then carries on from now.
    host.instrument.tick(host.now + 600 + 5.0e7);
    EXPECT_LE(h.size(), 10u + 1001u);
    const std::size_t after = h.size();
    host.instrument.tick(host.now + 600 + 5.0e7 + 60);
    EXPECT_EQ(h.size(), after + 1);
    EXPECT_NE(host.ask("delete_history").find("delete_history"), std::string::npos);
    EXPECT_TRUE(h.empty());
}

TEST(StateFile, RoundTripAndRejectsBadFiles)
{
    const std::string path = tempPath("state");
    Settings s;
    s.number = "777";
    s.roentgen = true;
    s.sigma = 3.5;
    s.derThreshold1 = 1.2e-4;
    s.menu[27] = 0xEE;
    s.historyInterval = 24464;
    s.clockOffset = -3600;
    s.mode = 5;
    s.dose = 1.234567890123e-5;
    std::vector<RawRecord> history = { makeRecord('1', 10), makeRecord('F', 20, { 1e-7, 2e-6, 22 }) };
    std::string error;
    ASSERT_TRUE(saveState(path, s, history, &error)) << error;
    Settings loaded;
    std::vector<RawRecord> back;
    ASSERT_TRUE(loadState(path, &loaded, &back, &error)) << error;
    EXPECT_EQ(loaded.number, "777");
    EXPECT_TRUE(loaded.roentgen);
    EXPECT_EQ(loaded.sigma, 3.5);
    EXPECT_EQ(loaded.derThreshold1, 1.2e-4);
    EXPECT_EQ(loaded.menu, s.menu);
    EXPECT_EQ(loaded.historyInterval, 24464);
    EXPECT_EQ(loaded.clockOffset, -3600);
    EXPECT_EQ(loaded.mode, 5);
    EXPECT_EQ(loaded.dose, s.dose);
    EXPECT_EQ(back, history);

    struct Bad {
        std::string text;
        const char* why;
    } bad[] = {
        { "colour=red\n", "unknown entry" },
        { "sound=2\n", "bad value for sound" },
        { "historyInterval=70000\n", "bad value for historyInterval" },
        { "sigma=nan\n", "bad value for sigma" },
        { "menu=00\n", "bad value for menu" },
        { "record=0011\n", "bad value for record" },
        { "number=12 34\n", "bad value for number" },
        { "number=" + std::string(300, '1') + "\n", "line too long" },
    };
    for (const Bad& b : bad) {
        {
            std::ofstream file(path, std::ios::trunc);
            file << "# ok\nsound=1\n" << b.text;
        }
        Settings untouched;
        untouched.sigma = 9;
        error.clear();
        EXPECT_FALSE(loadState(path, &untouched, &back, &error)) << b.text;
        EXPECT_NE(error.find(b.why), std::string::npos) << error;
        EXPECT_NE(error.find(":3"), std::string::npos) << error; // names the line
        EXPECT_EQ(untouched.sigma, 9);
    }
    EXPECT_FALSE(loadState(path + ".missing", &loaded, &back, &error));
    std::remove(path.c_str());
}

TEST(ScenarioScript, BuiltInsFilesAndErrors)
{
    Scenario alarm;
    std::string error;
    ASSERT_TRUE(Scenario::load("alarm", &alarm, &error)) << error;
    EXPECT_LT(alarm.rateAt(5), 3.0e-4);
    EXPECT_GT(alarm.rateAt(15), 3.0e-4); // above the default first threshold
    EXPECT_LT(alarm.rateAt(15), 1.0e-3); // below the second
    EXPECT_LT(alarm.rateAt(45), 3.0e-4);
    Scenario ramp;
    ASSERT_TRUE(Scenario::load("ramp", &ramp, &error));
    EXPECT_EQ(ramp.rateAt(62), ramp.rateAt(62 + 105)); // loops

    const std::string path = tempPath("scenario");
    {
        std::ofstream file(path);
        file << "# test\n0 1e-7\n2.5 4e-4 # spike\nloop\n";
    }
    Scenario fromFile;
    ASSERT_TRUE(Scenario::load(path, &fromFile, &error)) << error;
    EXPECT_EQ(fromFile.rateAt(3), 1e-7);
    EXPECT_EQ(fromFile.rateAt(2.4), 1e-7);
    std::remove(path.c_str());

    const char* bad[]
        = { "", "0\n", "0 abc\n", "-1 1e-7\n", "5 1e-7\n3 1e-7\n", "0 1e-7 extra\n", "0 5000\n", "0 nan\n" };
    for (const char* text : bad)
        EXPECT_FALSE(Scenario::parse(text, &fromFile, &error)) << text;
    EXPECT_FALSE(Scenario::load("/no/such/scenario", &fromFile, &error));
    EXPECT_NE(error.find("alarm"), std::string::npos); // the message lists the built-ins
}
