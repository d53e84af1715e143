// Each command's wire text and field reading, against scripted replies over a pseudo-terminal.
#include "commands.h"
#include "posix_transport.h"
#include "pty_peer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unistd.h>

using namespace kestra;
using namespace kestra::test;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace {

/// An instrument whose replies are scripted per command prefix; by default it echoes.
class ScriptedInstrument {
public:
    explicit ScriptedInstrument(PtyPeer& peer)
    {
        peer.setHandler([this](const std::string& frame) -> std::vector<Piece> {
            std::string cmd = PtyPeer::command(frame);
            std::lock_guard lock(m_lock);
            m_commands.push_back(cmd);
            if (cmd == "get_ID")
                return { { PtyPeer::reply("42", "get_ID") } };
            for (auto it = m_bodies.rbegin(); it != m_bodies.rend(); ++it) {
                if (cmd.rfind(it->first, 0) == 0) {
                    if (it->second.empty())
                        return {}; // silence
                    return { { PtyPeer::reply("42", it->second) } };
                }
            }
            return { { PtyPeer::reply("42", cmd) } };
        });
    }
    void answer(const std::string& prefix, const std::string& body)
    {
        std::lock_guard lock(m_lock);
        m_bodies.emplace_back(prefix, body);
    }
    std::vector<std::string> commands()
    {
        std::lock_guard lock(m_lock);
        std::vector<std::string> result;
        for (const auto& c : m_commands) {
            if (c != "get_ID")
                result.push_back(c);
        }
        return result;
    }
    void clear()
    {
        std::lock_guard lock(m_lock);
        m_commands.clear();
        m_bodies.clear();
    }

private:
    std::mutex m_lock;
    std::vector<std::pair<std::string, std::string>> m_bodies;
    std::vector<std::string> m_commands;
};

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(driver.open(peer.path(), 115200)); }

    PtyPeer peer;
    ScriptedInstrument instrument { peer };
    Driver driver { std::make_unique<PosixTransport>(), 1ms };
};

} // namespace

TEST_F(CommandTest, WireFormsOfCommands)
{
    uint8_t menu[28];
    std::string menuText = "write_menu M=";
    for (int i = 0; i < 28; ++i) {
        menu[i] = static_cast<uint8_t>(i * 9);
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", menu[i]);
        menuText += pair;
    }
    struct Case {
        std::function<bool()> call;
        std::string command;
    };
    std::vector<Case> cases = {
        { [&] { return cmd::setDERThresh(driver, 1, 12000); }, "put_thresh_g thrG=1.200000E-004Sv/hr" },
        { [&] { return cmd::setDERThresh(driver, 2, 12000); }, "put_thresh_g2 thrG=1.200000E-004Sv/hr" },
        { [&] { return cmd::setDEThresh(driver, 100000); }, "put_thresh_de thrG=1.000000E-003Sv" },
        { [&] { return cmd::setDetBkg(driver, 15); }, "put_own_backgr GM=1.500000E-007Sv/hr" },
        { [&] { return cmd::setCoeffHV(driver, 0x150); }, "put_HI_V hi_v=0150" },
        { [&] { return cmd::setCoeffDER(driver, 1.25); }, "put_K_DER K=1.250000E+000" },
        { [&] { return cmd::setCoeffBeta(driver, 300); }, "put_K_b K=3.000000E+002" },
        { [&] { return cmd::setCoeffAlpha(driver, 7); }, "put_K_a K=7.000000E+000" },
        { [&] { return cmd::setBetaThresh(driver, 2, 500); }, "put_thresh_b2 thrG=5.000000E+002CPM/cm^2" },
        { [&] { return cmd::setSearchBetaThr(driver, 2.5); }, "put_thresh_b thrG=2.500000E+000CPS" },
        { [&] { return cmd::setCoeffN(driver, 2.25); }, "put_sigma Nsig=2.2" },
        { [&] { return cmd::setQMTimeOut(driver, 0x1003C); }, "put_timeout T=003C" },
        { [&] { return cmd::setDeviceMode(driver, 4); }, "SET_MODE=betta" },
        { [&] { return cmd::setDeviceMode(driver, 5); }, "SET_MODE=betta" },
        { [&] { return cmd::setDeviceMode(driver, 8); }, "SET_MODE=search_bg" },
        { [&] { return cmd::setDeviceLock(driver, true); }, "SET_MODE=control_on" },
        { [&] { return cmd::resetStatistic(driver, 0); }, "reset_stat" },
        { [&] { return cmd::resetStatistic(driver, 1); }, "reset_stat_on" },
        { [&] { return cmd::resetStatistic(driver, 2); }, "reset_stat_off" },
        { [&] { return cmd::resetDose(driver); }, "reset_dose" },
        { [&] { return cmd::setHistTime(driver, 0x12345); }, "set_hist_time T=2345 Tp=000A" },
        { [&] { return cmd::setMeasUnits(driver, true); }, "put_measur_unit U=R" },
        { [&] { return cmd::setMeasUnits(driver, false); }, "put_measur_unit U=Sv" },
        { [&] { return cmd::setSound(driver, false); }, "put_sound off" },
        { [&] { return cmd::setSearchBeep(driver, true); }, "put_beep on" },
        { [&] { return cmd::setAutocalibration(driver, 8000, 2, 50); },
            "autocalibr GM=8.000000E-005Sv/hr~02% precision=50%" },
        { [&] { return cmd::stopAutocalibration(driver); }, "autocalibr_stop" },
        { [&] { return cmd::clearHistory(driver); }, "delete_history" },
        { [&] { return cmd::setDeviceMenu(driver, menu); }, menuText },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        instrument.clear();
        // SET_MODE echoes its word with a space; the default echo of the command is enough
        // for the others.
        instrument.answer("SET_MODE=betta", "betta ");
        instrument.answer("SET_MODE=search_bg", "search_bg ");
        EXPECT_TRUE(c.call());
        EXPECT_THAT(instrument.commands(), ElementsAre(c.command));
    }
}

TEST_F(CommandTest, ClockIsSetFromLocalTime)
{
    tm local {};
    local.tm_year = 99;
    local.tm_mday = 1;
    local.tm_min = 1;
    local.tm_isdst = -1;
    std::time_t at = mktime(&local);
    driver.setWallClock([at] { return at; });
    EXPECT_TRUE(cmd::setDeviceTime(driver));
    EXPECT_THAT(instrument.commands(), ElementsAre("set_enter_time T=0000003C"));

    instrument.answer("read_enter_time", "read_enter_time t=00015180 ");
    SYSTEMTIME t {};
    ASSERT_TRUE(cmd::getDeviceTime(driver, &t));
    EXPECT_EQ(t.wYear, 1999);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 2); // 86400 s after 1999-01-01
    EXPECT_EQ(t.wDayOfWeek, 6);
    EXPECT_EQ(t.wHour + t.wMinute + t.wSecond, 0);
}

TEST_F(CommandTest, RefusalsSendNothing)
{
    int32_t value = 0;
    uint8_t flag = 0;
    double real = 0;
    EXPECT_FALSE(cmd::getDERThresh(driver, 1, nullptr));
    EXPECT_FALSE(cmd::getSound(driver, nullptr));
    EXPECT_FALSE(cmd::getMeasurementValue(driver, &value, nullptr, &value, nullptr, nullptr));
    EXPECT_FALSE(cmd::getHistory(driver, &value, nullptr));
    EXPECT_EQ(cmd::getAlarmInfo(driver, nullptr), 0);
    EXPECT_TRUE(peer.frames().empty()); // not even the number check

    EXPECT_FALSE(cmd::getDERThresh(driver, 3, &value));
    EXPECT_FALSE(cmd::setBetaThresh(driver, 0, 5));
    EXPECT_FALSE(cmd::setDeviceMode(driver, 6));
    EXPECT_TRUE(instrument.commands().empty()); // only the number check went out
    EXPECT_EQ(peer.frames().size(), 1u);

    // Put commands that need an echo fail without it, though the instrument answered.
    instrument.answer("put_sound", "ok");
    EXPECT_FALSE(cmd::setSound(driver, true));
    instrument.answer("SET_MODE=gm", "betta_1 ");
    EXPECT_FALSE(cmd::setDeviceMode(driver, 3));
    instrument.answer("set_hist_time", "ok");
    EXPECT_FALSE(cmd::setHistTime(driver, 600));
    (void)flag;
    (void)real;
}

TEST_F(CommandTest, InfoReadings)
{
    struct Case {
        std::string body;
        int deviceMode;
        int measuredMode;
        double value;
        int precision;
        uint16_t alarm;
        uint8_t status;
        int alarmResult;
    };
    std::vector<Case> cases = {
        { "MODE=gm alarm=0004 gm=1.5e-06sv/hr~12% ", 3, 3, 150.0, 12, 4, 0xEE, 0 },
        { "MODE=survey betta_1 alarm=0 gm=12.5cps~7% status=1 ", 6, 4, 12.5, 7, 0, 1, 0 },
        { "MODE=betta_2 alarm=8000 gm=40cpm/cm^2~20% ", 5, 5, 40.0, 20, 0x8000, 3, 0 },
        { "MODE=search_bg gm=3cps~50% status=2 ", 8, 8, 3.0, 50, 0, 2, 1 },
        { "MODE=test alarm=1 ", 2, 1, 0.0, 99, 1, 0xEE, 0 },
        { "MODE=read_history ", 1, 1, 0.0, 99, 0, 0xEE, 1 },
        { "MODE=idle ", 0, 0, 0.0, 99, 0, 0xEE, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        instrument.clear();
        instrument.answer("info", c.body);
        int32_t mode = -1, precision = -1;
        double value = -1;
        uint16_t alarm = 0xEEEE;
        uint8_t status = 0xEE;
        ASSERT_TRUE(cmd::getDeviceMode(driver, &mode));
        EXPECT_EQ(mode, c.deviceMode);
        ASSERT_TRUE(cmd::getMeasurementValue(driver, &mode, &value, &precision, &alarm, &status));
        EXPECT_EQ(mode, c.measuredMode);
        EXPECT_DOUBLE_EQ(value, c.value);
        EXPECT_EQ(precision, c.precision);
        EXPECT_EQ(alarm, c.alarm);
        EXPECT_EQ(status, c.status);
        uint16_t word = 0xEEEE;
        EXPECT_EQ(cmd::getAlarmInfo(driver, &word), c.alarmResult);
        uint8_t running = 0xEE;
        EXPECT_EQ(cmd::getAutocalibration(driver, &running), c.alarmResult == 0);
        if (c.alarmResult == 0) {
            EXPECT_EQ(running, (c.alarm & 0x8000) ? 1 : 0);
        }
    }
    // A reading without its unit fails after the mode was written.
    instrument.answer("info", "MODE=gm gm=1.5e-06 ");
    int32_t mode = -1, precision = -1;
    double value = -1;
    EXPECT_FALSE(cmd::getMeasurementValue(driver, &mode, &value, &precision, nullptr, nullptr));
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(value, -1);
    // A failed exchange is -1.
    instrument.answer("info", "");
    uint16_t word;
    EXPECT_EQ(cmd::getAlarmInfo(driver, &word), -1);
}

TEST_F(CommandTest, SettingsReadings)
{
    instrument.answer("get_thresh_g", "get_thresh_g thrg=1.200000e-004sv/hr ");
    instrument.answer("get_thresh_g2", "get_thresh_g2 thrg=1.2e-06sv/hr ");
    instrument.answer("get_thresh_de", "thrg=1.000000e-003sv ");
    instrument.answer("get_measur_unit", "get_measur_unit u=sv ");
    instrument.answer("get_sound", "get_sound on ");
    instrument.answer("get_light", "get_light off ");
    instrument.answer("get_sigma", "nsig=2.5 ");
    instrument.answer("get_timeout", "t=003c ");
    instrument.answer("get_HI_V", "hi_v=0150 ");
    instrument.answer("get_K_b", "k=3.5e+002 ");
    instrument.answer("get_own_backgr", "gm=1.5e-007sv/hr ");
    instrument.answer("get_thresh_b", "thrg=2.5cps ");
    instrument.answer("get_thresh_b1", "thrg=5.000000e+002cpm/cm^2 ");
    instrument.answer("read_hist_time", "read_hist_time t=0258 ");
    instrument.answer("get_dose", "get_dose d=1.5e-07sv/hr t=1e10s d_acc=2.5e-05sv ");
    instrument.answer("get_battery", "get_battery n= 42 ");
    instrument.answer("read_menu", "read_menu 0102ff ");
    instrument.answer("get_autocal_setting", "get_autocal_setting gm=8.000000e-005sv/hr~03% precision=40% ");

    int32_t i = 0;
    double d = 0;
    uint16_t u = 0;
    uint8_t b = 0xEE;
    EXPECT_TRUE(cmd::getDERThresh(driver, 1, &i));
    EXPECT_EQ(i, 12000);
    EXPECT_TRUE(cmd::getDERThresh(driver, 2, &i));
    EXPECT_EQ(i, 120);
    EXPECT_TRUE(cmd::getDEThresh(driver, &d));
    EXPECT_DOUBLE_EQ(d, 100000);
    EXPECT_TRUE(cmd::getMeasUnits(driver, &b));
    EXPECT_EQ(b, 0);
    EXPECT_TRUE(cmd::getSound(driver, &b));
    EXPECT_EQ(b, 1);
    EXPECT_TRUE(cmd::getLight(driver, &b));
    EXPECT_EQ(b, 0);
    EXPECT_TRUE(cmd::getCoeffN(driver, &d));
    EXPECT_DOUBLE_EQ(d, 2.5);
    EXPECT_TRUE(cmd::getQMTimeOut(driver, &u));
    EXPECT_EQ(u, 60);
    EXPECT_TRUE(cmd::getCoeffBeta(driver, &i));
    EXPECT_EQ(i, 350);
    EXPECT_TRUE(cmd::getDetBkg(driver, &d));
    EXPECT_NEAR(d, 15.0, 1e-9);
    EXPECT_TRUE(cmd::getBetaThresh(driver, 1, &i));
    EXPECT_EQ(i, 500);
    EXPECT_TRUE(cmd::getSearchBetaThr(driver, &d));
    EXPECT_DOUBLE_EQ(d, 2.5);
    EXPECT_TRUE(cmd::getHistTime(driver, &u));
    EXPECT_EQ(u, 600);
    int32_t t = 0, dose = 0;
    EXPECT_TRUE(cmd::getDose(driver, &d, &t, &dose));
    EXPECT_NEAR(d, 15.0, 1e-9);
    EXPECT_EQ(t, 0x1e10);
    EXPECT_EQ(dose, 0); // 2.5e-05 Sv times 100, truncated
    EXPECT_TRUE(cmd::getBattery(driver, &i));
    EXPECT_EQ(i, 420);
    uint8_t menu[29];
    std::memset(menu, 0xAA, sizeof menu);
    EXPECT_TRUE(cmd::getDeviceMenu(driver, menu));
    EXPECT_EQ(menu[0], 1);
    EXPECT_EQ(menu[1], 2);
    EXPECT_EQ(menu[2], 0xFF);
    EXPECT_EQ(menu[3], 0);
    int32_t tol = 0, prec = 0;
    EXPECT_TRUE(cmd::getAutocalParams(driver, &i, &tol, &prec));
    EXPECT_EQ(i, 8000);
    EXPECT_EQ(tol, 3);
    EXPECT_EQ(prec, 40);

    // Units: "u=r" after a space is roentgen; without " u=" the call fails.
    instrument.answer("get_measur_unit", "get_measur_unit u=r ");
    EXPECT_TRUE(cmd::getMeasUnits(driver, &b));
    EXPECT_EQ(b, 1);
    instrument.answer("get_measur_unit", "get_measur_unit ");
    EXPECT_FALSE(cmd::getMeasUnits(driver, &b));
    // Dose: the rate alone succeeds without "d_acc="; asking for the dose too fails.
    instrument.answer("get_dose", "get_dose d=1e-07sv/hr ");
    EXPECT_TRUE(cmd::getDose(driver, &d, nullptr, nullptr));
    EXPECT_FALSE(cmd::getDose(driver, &d, nullptr, &dose));
    // No calibration set in the instrument: the usual reference.
    instrument.answer("get_autocal_setting", "gm=-1.000000e+000sv/hr~00% precision=00% ");
    EXPECT_TRUE(cmd::getAutocalParams(driver, &i, &tol, &prec));
    EXPECT_EQ(i, 8000);
    EXPECT_EQ(tol, 2);
    EXPECT_EQ(prec, 50);
    // A threshold beyond 32 bits is not a value.
    instrument.answer("get_thresh_g", "thrg=1.0e+010sv/hr ");
    EXPECT_FALSE(cmd::getDERThresh(driver, 1, &i));
    EXPECT_EQ(i, 8000);
}

TEST_F(CommandTest, DetectorParametersAreReloadedFirst)
{
    instrument.answer("get_HI_V", "hi_v=0150 ");
    int32_t code = 0;
    ASSERT_TRUE(cmd::getCoeffHV(driver, &code));
    EXPECT_EQ(code, 0x150);
    EXPECT_THAT(instrument.commands(), ElementsAre("reload_det_param", "get_HI_V"));

    instrument.clear();
    instrument.answer("reload_det_param", "error busy");
    EXPECT_FALSE(cmd::getCoeffHV(driver, &code));
    EXPECT_THAT(instrument.commands(), ElementsAre("reload_det_param"));
}

TEST_F(CommandTest, DetectorVersionText)
{
    instrument.answer("r_det_vers N=02", "r_det_vers n=02 ::4b45535452412d31");
    char text[KESTRADRV_TEXT_SIZE];
    ASSERT_TRUE(cmd::getDeviceVersion(driver, 2, text));
    EXPECT_STREQ(text, "KESTRA-1");
    EXPECT_THAT(instrument.commands(), ElementsAre("r_det_vers N=02 "));
    // A very long version is cut to the buffer, never beyond it.
    instrument.answer("r_det_vers N=03", "r_det_vers n=03 ::" + std::string(900, '4'));
    ASSERT_TRUE(cmd::getDeviceVersion(driver, 3, text));
    EXPECT_EQ(std::strlen(text), KESTRADRV_TEXT_SIZE - 1u);
}

TEST_F(CommandTest, FirmwarePackets)
{
    instrument.answer("SET_MODE=gm", "gm ");
    instrument.answer("r_det_vers N=00", "r_det_vers n=00 ::41");
    instrument.answer("r_det_vers N=02", "r_det_vers n=02 ::41");
    std::vector<uint8_t> image(257);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i);
    std::string hex;
    for (int i = 0; i < 256; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", i);
        hex += pair;
    }

    ASSERT_TRUE(cmd::writeDeviceProg(driver, image.data(), 256));
    EXPECT_THAT(instrument.commands(),
        ElementsAre("SET_MODE=gm", "SET_MODE=control_on", "r_det_vers N=00 ", "r_det_vers N=02 ",
            "package len=0100 P=" + hex, "start_loading"));

    instrument.clear();
    instrument.answer("SET_MODE=gm", "gm ");
    instrument.answer("r_det_vers N=00", "r_det_vers n=00 ::41");
    instrument.answer("r_det_vers N=02", "r_det_vers n=02 ::41");
    ASSERT_TRUE(cmd::writeDeviceProg(driver, image.data(), 257));
    auto sent = instrument.commands();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[4], "package len=0100 P=" + hex);
    EXPECT_EQ(sent[5], "package len=0001 P=00");

    instrument.clear();
    instrument.answer("SET_MODE=gm", "gm ");
    instrument.answer("r_det_vers N=00", "r_det_vers n=00 ::41");
    instrument.answer("r_det_vers N=02", "r_det_vers n=02 ::41");
    ASSERT_TRUE(cmd::writeDeviceProg(driver, nullptr, 0));
    EXPECT_EQ(instrument.commands()[4], "package len=0000 P=");

    // A refused packet unlocks and stops.
    instrument.clear();
    instrument.answer("SET_MODE=gm", "gm ");
    instrument.answer("r_det_vers N=00", "r_det_vers n=00 ::41");
    instrument.answer("r_det_vers N=02", "r_det_vers n=02 ::41");
    instrument.answer("package", "error crc");
    EXPECT_FALSE(cmd::writeDeviceProg(driver, image.data(), 257));
    EXPECT_THAT(instrument.commands(),
        ElementsAre("SET_MODE=gm", "SET_MODE=control_on", "r_det_vers N=00 ", "r_det_vers N=02 ",
            "package len=0100 P=" + hex, "SET_MODE=control_off"));
}

namespace {

// Builds a German locale (decimal comma) into a folder of its own and makes it the numeric
// locale; false when this machine cannot build one.
bool useDecimalCommaLocale(std::string& folder)
{
    char dir[] = "/tmp/kestra-locale-XXXXXX";
    if (!mkdtemp(dir))
        return false;
    folder = dir;
    std::string command = "localedef -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return false;
    setenv("LOCPATH", folder.c_str(), 1);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        return false;
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    return std::string(text) == "1,5";
}

} // namespace

TEST_F(CommandTest, NumbersIgnoreADecimalCommaLocale)
{
    std::string folder;
    const bool active = useDecimalCommaLocale(folder);
    if (!active) {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no decimal-comma locale can be built here";
    }
    instrument.answer("get_thresh_g", "thrg=1.200000e-004sv/hr ");
    instrument.answer("get_sigma", "nsig=1.5 ");
    EXPECT_TRUE(cmd::setDERThresh(driver, 1, 12000));
    EXPECT_TRUE(cmd::setCoeffN(driver, 2.5));
    int32_t threshold = 0;
    double sigma = 0;
    EXPECT_TRUE(cmd::getDERThresh(driver, 1, &threshold));
    EXPECT_TRUE(cmd::getCoeffN(driver, &sigma));
    std::setlocale(LC_NUMERIC, "C");
    std::system(("rm -rf " + folder).c_str());
    EXPECT_THAT(instrument.commands(), ::testing::Contains("put_thresh_g thrG=1.200000E-004Sv/hr"));
    EXPECT_THAT(instrument.commands(), ::testing::Contains("put_sigma Nsig=2.5"));
    EXPECT_EQ(threshold, 12000);
    EXPECT_DOUBLE_EQ(sigma, 1.5);
}
