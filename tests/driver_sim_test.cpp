// Every export of the driver through its C interface against the simulated instrument,
// including the simulator's faults.
#include <KESTRAdrv.h>
#include <kestrasim/simulator.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

using namespace kestra::sim;
using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

class ExportsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char dir[] = "/tmp/kestra-drvlog-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        logDir = dir;
        Options options;
        options.number = "4711";
        options.liveHistory = false;
        // A stable name: after a hang-up the instrument comes back on another terminal.
        options.linkPath = logDir + "/port";
        sim = new Simulator(options);
        ASSERT_TRUE(sim->start());
        ASSERT_TRUE(KESTRAdrv_Init(wide(logDir).c_str(), wide(sim->slavePath()).c_str(), 115200));
    }
    static void TearDownTestSuite()
    {
        KESTRAdrv_Close();
        delete sim;
        sim = nullptr;
    }
    void SetUp() override
    {
        sim->clearFaults();
        sim->clearCommands();
    }
    /// Commands the instrument received, without the number queries.
    std::vector<std::string> sent() const
    {
        std::vector<std::string> result;
        for (const auto& c : sim->commands()) {
            if (c != "get_ID")
                result.push_back(c);
        }
        return result;
    }

    static Simulator* sim;
    static std::string logDir;
};

Simulator* ExportsTest::sim = nullptr;
std::string ExportsTest::logDir;

} // namespace

TEST_F(ExportsTest, IdentityAndNumber)
{
    EXPECT_TRUE(KESTRAdrv_IsDrvInit());
    char16_t full[KESTRADRV_TEXT_SIZE], number[KESTRADRV_TEXT_SIZE];
    ASSERT_TRUE(KESTRAdrv_FindDevice(full, number));
    EXPECT_EQ(std::u16string(full), u"KESTRA #4711");
    EXPECT_EQ(std::u16string(number), u"4711");
    ASSERT_TRUE(KESTRAdrv_FindDevice(nullptr, nullptr));

    ASSERT_TRUE(KESTRAdrv_SetDeviceNumber(u"5000"));
    EXPECT_EQ(sim->number(), "5000");
    int32_t battery = 0;
    EXPECT_TRUE(KESTRAdrv_GetBattery(&battery));
    EXPECT_THAT(sim->frames().back(), ::testing::StartsWith("KESTRA #5000 $"));
    ASSERT_TRUE(KESTRAdrv_SetDeviceNumber(u"4711"));
    EXPECT_EQ(KESTRAdrv_GetCmdCRC(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x906E);
}

TEST_F(ExportsTest, SettingsRoundTrips)
{
    uint8_t flag = 0;
    for (uint8_t value : { 1, 0 }) {
        ASSERT_TRUE(KESTRAdrv_SetMeasUnits(value));
        ASSERT_TRUE(KESTRAdrv_GetMeasUnits(&flag));
        EXPECT_EQ(flag, value);
        ASSERT_TRUE(KESTRAdrv_SetSound(value));
        ASSERT_TRUE(KESTRAdrv_GetSound(&flag));
        EXPECT_EQ(flag, value);
        ASSERT_TRUE(KESTRAdrv_SetLight(value));
        ASSERT_TRUE(KESTRAdrv_GetLight(&flag));
        EXPECT_EQ(flag, value);
        ASSERT_TRUE(KESTRAdrv_SetSearchBeep(value));
        ASSERT_TRUE(KESTRAdrv_GetSearchBeep(&flag));
        EXPECT_EQ(flag, value);
    }
    double real = 0;
    int32_t integer = 0;
    uint16_t word = 0;
    ASSERT_TRUE(KESTRAdrv_SetCoeffN(2.5));
    ASSERT_TRUE(KESTRAdrv_GetCoeffN(&real));
    EXPECT_DOUBLE_EQ(real, 2.5);
    ASSERT_TRUE(KESTRAdrv_SetQMTimeOut(0x1005A));
    ASSERT_TRUE(KESTRAdrv_GetQMTimeOut(&word));
    EXPECT_EQ(word, 0x5A);
    for (int level : { 1, 2 }) {
        ASSERT_TRUE(KESTRAdrv_SetDERThresh(level, 12000 * level));
        ASSERT_TRUE(KESTRAdrv_GetDERThresh(level, &integer));
        EXPECT_EQ(integer, 12000 * level);
        ASSERT_TRUE(KESTRAdrv_SetBetaThresh(level, 250 * level));
        ASSERT_TRUE(KESTRAdrv_GetBetaThresh(level, &integer));
        EXPECT_EQ(integer, 250 * level);
    }
    EXPECT_EQ(sim->settings().derThreshold1, 1.2e-4);
    ASSERT_TRUE(KESTRAdrv_SetDEThresh(250000));
    ASSERT_TRUE(KESTRAdrv_GetDEThresh(&real));
    EXPECT_NEAR(real, 250000, 1e-6);
    ASSERT_TRUE(KESTRAdrv_SetCoeffHV(0x150));
    ASSERT_TRUE(KESTRAdrv_GetCoeffHV(&integer));
    EXPECT_EQ(integer, 0x150);
    ASSERT_TRUE(KESTRAdrv_SetCoeffDER(1.125));
    ASSERT_TRUE(KESTRAdrv_GetCoeffDER(&real));
    EXPECT_DOUBLE_EQ(real, 1.125);
    ASSERT_TRUE(KESTRAdrv_SetCoeffBeta(51));
    ASSERT_TRUE(KESTRAdrv_GetCoeffBeta(&integer));
    EXPECT_EQ(integer, 51);
    ASSERT_TRUE(KESTRAdrv_SetCoeffAlpha(33));
    ASSERT_TRUE(KESTRAdrv_GetCoeffAlpha(&integer));
    EXPECT_EQ(integer, 33);
    ASSERT_TRUE(KESTRAdrv_SetDetBkg(7));
    ASSERT_TRUE(KESTRAdrv_GetDetBkg(&real));
    EXPECT_NEAR(real, 7, 1e-6);
    ASSERT_TRUE(KESTRAdrv_SetSearchBetaThr(150.5));
    ASSERT_TRUE(KESTRAdrv_GetSearchBetaThr(&real));
    EXPECT_DOUBLE_EQ(real, 150.5);

    uint8_t menu[KESTRADRV_MENU_READ_SIZE];
    uint8_t written[KESTRADRV_MENU_WRITE_SIZE];
    for (int i = 0; i < KESTRADRV_MENU_WRITE_SIZE; ++i)
        written[i] = static_cast<uint8_t>(0xF0 - i);
    ASSERT_TRUE(KESTRAdrv_SetDeviceMenu(written));
    ASSERT_TRUE(KESTRAdrv_GetDeviceMenu(menu));
    EXPECT_EQ(std::memcmp(menu, written, sizeof written), 0);
    EXPECT_EQ(menu[28], 0);
}

TEST_F(ExportsTest, ModesMeasurementsAndDose)
{
    int32_t mode = 0, precision = 0;
    double value = 0;
    uint16_t alarm = 0;
    uint8_t status = 0;
    for (int wanted : { 4, 8, 3 }) {
        ASSERT_TRUE(KESTRAdrv_SetDeviceMode(wanted));
        ASSERT_TRUE(KESTRAdrv_GetDeviceMode(&mode));
        EXPECT_EQ(mode, wanted);
    }
    EXPECT_FALSE(KESTRAdrv_SetDeviceMode(6));
    sim->setDoseRate(1.5e-6);
    ASSERT_TRUE(KESTRAdrv_GetMeasurementValue(&mode, &value, &precision, &alarm, &status));
    EXPECT_EQ(mode, 3);
    EXPECT_NEAR(value, 150, 150 * 0.5); // counting noise around 1.5 uSv/h
    EXPECT_GT(precision, 0);
    EXPECT_LT(precision, 100);
    EXPECT_EQ(KESTRAdrv_GetAlarmInfo(&alarm), 0);
    EXPECT_EQ(alarm & 0x8000, 0);

    ASSERT_TRUE(KESTRAdrv_SetDeviceLock(1));
    EXPECT_TRUE(sim->locked());
    ASSERT_TRUE(KESTRAdrv_SetDeviceLock(0));
    EXPECT_FALSE(sim->locked());

    double rate = 0;
    int32_t time = 0, dose = 0, battery = 0;
    ASSERT_TRUE(KESTRAdrv_GetDose(&rate, &time, &dose));
    EXPECT_GT(rate, 0);
    ASSERT_TRUE(KESTRAdrv_ResetDose());
    ASSERT_TRUE(KESTRAdrv_GetDose(nullptr, nullptr, &dose));
    EXPECT_EQ(dose, 0);
    ASSERT_TRUE(KESTRAdrv_ResetStatistic(1));
    ASSERT_TRUE(KESTRAdrv_ResetStatistic(0));
    ASSERT_TRUE(KESTRAdrv_GetBattery(&battery));
    EXPECT_EQ(battery, sim->settings().battery * 10);
    EXPECT_THAT(sent(), Contains("reset_stat_on"));
    EXPECT_THAT(sent(), Contains("reset_stat"));
}

TEST_F(ExportsTest, CalibrationVersionsAndFirmware)
{
    ASSERT_TRUE(KESTRAdrv_SetAutocalibration(9000, 3, 40));
    uint8_t running = 0;
    ASSERT_TRUE(KESTRAdrv_GetAutocalibration(&running));
    EXPECT_EQ(running, 1);
    int32_t rate = 0, tolerance = 0, precision = 0;
    ASSERT_TRUE(KESTRAdrv_GetAutocalParams(&rate, &tolerance, &precision));
    EXPECT_EQ(rate, 9000);
    EXPECT_EQ(tolerance, 3);
    EXPECT_EQ(precision, 40);
    ASSERT_TRUE(KESTRAdrv_StopAutocalibration());
    ASSERT_TRUE(KESTRAdrv_GetAutocalibration(&running));
    EXPECT_EQ(running, 0);

    char version[KESTRADRV_TEXT_SIZE];
    ASSERT_TRUE(KESTRAdrv_GetDeviceVersion(0, version));
    EXPECT_GT(std::strlen(version), 0u);

    std::vector<uint8_t> image(600);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    int loads = sim->firmwareLoads();
    ASSERT_TRUE(KESTRAdrv_WriteDeviceProg(image.data(), static_cast<int32_t>(image.size())));
    EXPECT_EQ(sim->firmwareLoads(), loads + 1);
    EXPECT_EQ(sim->firmwareLoaded(), image);
    EXPECT_FALSE(KESTRAdrv_WriteDeviceProg(nullptr, 5));
}

TEST_F(ExportsTest, ClockAndHistoryInterval)
{
    ASSERT_TRUE(KESTRAdrv_SetDeviceTime());
    SYSTEMTIME t {};
    ASSERT_TRUE(KESTRAdrv_GetDeviceTime(&t));
    std::time_t now = std::time(nullptr);
    tm local {};
    localtime_r(&now, &local);
    EXPECT_EQ(t.wYear, local.tm_year + 1900);
    EXPECT_EQ(t.wMonth, local.tm_mon + 1);
    EXPECT_EQ(t.wDay, local.tm_mday);
    EXPECT_NEAR(t.wHour * 60 + t.wMinute, local.tm_hour * 60 + local.tm_min, 1);

    ASSERT_TRUE(KESTRAdrv_SetHistTime(900));
    uint16_t interval = 0;
    ASSERT_TRUE(KESTRAdrv_GetHistTime(&interval));
    EXPECT_EQ(interval, 900);
}

TEST_F(ExportsTest, HistoryDownloadsInChunks)
{
    std::vector<RawRecord> records;
    const char types[] = "01RACBbDFGOgIJSis";
    for (int i = 0; i < 1000; ++i) {
        RecordFields f;
        f.value1 = 1e-7 * (i + 1);
        f.value2 = 2.5e-6;
        f.param1 = i % 100;
        f.param2 = 1;
        records.push_back(makeRecord(types[i % 17], 86400u * 365 * 27 + static_cast<uint32_t>(i) * 600, f));
    }
    records.push_back(makeRecord('X', 5)); // unknown to the driver
    sim->setHistory(records);

    int32_t count = -1;
    KESTRAdrv_EventRecord* array = nullptr;
    ASSERT_TRUE(KESTRAdrv_GetHistory(&count, &array));
    ASSERT_EQ(count, 1000);
    ASSERT_TRUE(array);
    EXPECT_GT(sim->commands().size(), 10u); // read_history, then one "info" per further chunk
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(array[i].type, types[i % 17]);
        if (array[i].type == 'F') {
            EXPECT_NEAR(array[i].value1, 1e-7 * (i + 1) * 1e8, 1e-3 * (i + 1));
        }
    }
    ASSERT_TRUE(KESTRAdrv_ClearHistory());
    EXPECT_TRUE(sim->history().empty());
    ASSERT_TRUE(KESTRAdrv_GetHistory(&count, &array));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(array, nullptr);

    // A download that fails half-way returns nothing, and the instrument keeps its history.
    sim->setHistory(records);
    sim->clearCommands();
    sim->setReplyOverride("info", "error busy");
    EXPECT_FALSE(KESTRAdrv_GetHistory(&count, &array));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(array, nullptr);
    sim->setReplyOverride("info", "");
    EXPECT_EQ(sim->history().size(), records.size());
}

TEST_F(ExportsTest, FaultsAreRiddenOutOrReported)
{
    struct Case {
        FaultKind kind;
        int count;
        bool succeeds;
    } cases[] = {
        { FaultKind::Silence, 3, true },
        { FaultKind::Silence, 4, false },
        { FaultKind::BadChecksum, 2, true },
        { FaultKind::Split, 1, true },
        { FaultKind::StrayBytes, 1, true },
        { FaultKind::Latency, 1, true },
        { FaultKind::ErrorReply, 1, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(faultName(c.kind) + std::string(" x") + std::to_string(c.count));
        int32_t battery = 0;
        ASSERT_TRUE(KESTRAdrv_GetBattery(&battery)); // the number is known
        sim->injectFault(c.kind, c.count, c.kind == FaultKind::Latency ? 300 : 0);
        EXPECT_EQ(KESTRAdrv_GetBattery(&battery), c.succeeds);
        sim->clearFaults();
    }

    // A foreign number makes the driver forget the number; the next command learns it again.
    int32_t battery = 0;
    sim->injectFault(FaultKind::ForeignNumber, 1);
    KESTRAdrv_GetBattery(&battery);
    sim->clearFaults();
    EXPECT_TRUE(KESTRAdrv_GetBattery(&battery));

    // A hang-up fails the command in flight; the port comes back under the same name (the
    // driver pauses 1 s after closing, the instrument is back after 200 ms).
    sim->injectFault(FaultKind::HangUp, 1, 200);
    KESTRAdrv_GetBattery(&battery);
    sim->clearFaults();
    bool back = false;
    for (int i = 0; i < 3 && !back; ++i)
        back = KESTRAdrv_GetBattery(&battery);
    EXPECT_TRUE(back);
}
