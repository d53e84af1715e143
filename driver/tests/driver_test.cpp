// The transaction engine over a real pseudo-terminal: framing, retries, the number, the log.
#include "driver.h"
#include "frame.h"
#include "posix_transport.h"
#include "pty_peer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestra;
using namespace kestra::test;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

/// An instrument that knows its number, answers get_ID and echoes every other command.
PtyPeer::Handler instrument(std::string number)
{
    return [number](const std::string& frame) -> std::vector<Piece> {
        std::string cmd = PtyPeer::command(frame);
        if (cmd == "get_ID")
            return { { PtyPeer::reply(number, "get_ID") } };
        return { { PtyPeer::reply(number, cmd + " done") } };
    };
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/kestra-log-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        m_logDir = dir;
        peer.setHandler(instrument("123456"));
        ASSERT_TRUE(driver.init(m_logDir, peer.path(), 115200));
    }
    void TearDown() override
    {
        driver.close();
        unlink(logPath().c_str());
        rmdir(m_logDir.c_str());
    }
    std::string logPath() const { return m_logDir + "/KESTRAdrv.log"; }
    std::string log() const { return readFile(logPath()); }
    std::vector<std::string> sequences() const
    {
        std::vector<std::string> result;
        for (const auto& frame : peer.frames())
            result.push_back(frame.substr(frame.find(" $") + 2, 4));
        return result;
    }

    PtyPeer peer;
    Driver driver { std::make_unique<PosixTransport>(), 20ms };
    std::string m_logDir;
};

} // namespace

TEST_F(DriverTest, FirstFrameAsksTheNumberThenAddressesIt)
{
    std::string full, number;
    ASSERT_TRUE(driver.getId(&full, &number));
    EXPECT_EQ(full, "KESTRA #123456");
    EXPECT_EQ(number, "123456");

    std::string payload;
    ASSERT_TRUE(driver.transact("get_dose", 1000, payload));
    auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], "KESTRA #nonumber $0000 get_ID CRC=8ECE\r\n");
    EXPECT_EQ(frames[1], buildFrame("123456", 1, "get_dose"));
    EXPECT_EQ(payload.substr(0, 22), "kestra #123456 get_dos");
    EXPECT_EQ(driver.sequence(), 2);
}

TEST_F(DriverTest, NumberCheckLearnsTheNumberOnce)
{
    EXPECT_TRUE(driver.numberCheck());
    EXPECT_TRUE(driver.numberCheck());
    EXPECT_EQ(peer.frames().size(), 1u);
    EXPECT_EQ(driver.deviceNumber(), "123456");
}

TEST_F(DriverTest, SetIdAddressesTheNewNumber)
{
    std::string current = "123456";
    peer.setHandler([&current](const std::string& frame) -> std::vector<Piece> {
        std::string cmd = PtyPeer::command(frame);
        if (cmd.rfind("set_ID numb=", 0) == 0)
            current = cmd.substr(12);
        return { { PtyPeer::reply(current, cmd) } };
    });
    std::string next = "777";
    ASSERT_TRUE(driver.setId(&next));
    EXPECT_EQ(driver.deviceNumber(), "777");
    auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 2u); // the hidden get_ID, then set_ID, both unaddressed
    EXPECT_THAT(frames[1], HasSubstr("KESTRA #nonumber $0001 set_ID numb=777 CRC="));
    ASSERT_TRUE(driver.setId(nullptr));
    EXPECT_THAT(peer.frames().back(), HasSubstr("set_ID numb=nonumber"));
}

TEST_F(DriverTest, ReplyCheckVariantsOnTheWire)
{
    struct Case {
        const char* name;
        std::function<std::vector<Piece>(const std::string&)> answer;
        bool accepted;
    };
    const std::string good = PtyPeer::reply("123456", "MODE=gm alarm=0000");
    std::vector<Case> cases = {
        { "in pieces",
            [&](const std::string&) -> std::vector<Piece> {
                return { { good.substr(0, 10) }, { good.substr(10, 15), 30 }, { good.substr(25), 30 } };
            },
            true },
        { "lower-case digits",
            [](const std::string&) -> std::vector<Piece> { return { { PtyPeer::reply("123456", "x", true) } }; },
            true },
        { "stray bytes before the addressed reply",
            [&](const std::string&) -> std::vector<Piece> { return { { "\x01zz" + good } }; }, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(driver.numberCheck());
        peer.setHandler(c.answer);
        std::string payload;
        EXPECT_EQ(driver.transact("info", 1000, payload), c.accepted);
        peer.setHandler(instrument("123456"));
    }
    std::string payload;
    peer.setHandler([&](const std::string&) -> std::vector<Piece> { return { { good } }; });
    ASSERT_TRUE(driver.transact("info", 1000, payload));
    EXPECT_EQ(payload.substr(0, 9), "gm alarm="); // the payload starts after MODE=
}

TEST_F(DriverTest, ChecksumErrorIsRejectedAtOnceAndLogged)
{
    ASSERT_TRUE(driver.numberCheck());
    peer.setHandler([](const std::string&) -> std::vector<Piece> {
        std::string bad = PtyPeer::reply("123456", "info");
        bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';
        return { { bad } };
    });
    peer.clearFrames();
    auto start = std::chrono::steady_clock::now();
    std::string payload;
    EXPECT_FALSE(driver.transact("info", 1000, payload));
    // Four rejections without waiting for the reply time-out (which would take 4 s): a bound
    // that a busy machine does not reach.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);
    EXPECT_EQ(peer.frames().size(), 4u);
    EXPECT_EQ(count(log(), "CRC Error !!!"), 4);
}

TEST_F(DriverTest, RetriesKeepTheSequenceNumber)
{
    ASSERT_TRUE(driver.numberCheck());
    int calls = 0;
    peer.setHandler([&](const std::string& frame) -> std::vector<Piece> {
        if (++calls <= 3)
            return {};
        return { { PtyPeer::reply("123456", PtyPeer::command(frame)) } };
    });
    peer.clearFrames();
    std::string payload;
    EXPECT_TRUE(driver.transact("get_battery", 150, payload));
    EXPECT_EQ(sequences(), std::vector<std::string>(4, "0001"));
    EXPECT_EQ(driver.sequence(), 2);
    EXPECT_EQ(count(log(), "Unknown instrument's number!"), 0); // silence is not logged
}

TEST_F(DriverTest, FourSilentAttemptsFailWithoutAdvancing)
{
    ASSERT_TRUE(driver.numberCheck());
    peer.setHandler([](const std::string&) -> std::vector<Piece> { return {}; });
    peer.clearFrames();
    std::string payload;
    EXPECT_FALSE(driver.transact("get_battery", 100, payload));
    EXPECT_EQ(peer.frames().size(), 4u);
    EXPECT_EQ(driver.sequence(), 1);
    EXPECT_EQ(driver.deviceNumber(), "123456");
}

TEST_F(DriverTest, ForeignInstrumentMakesTheDriverForgetItsNumber)
{
    ASSERT_TRUE(driver.numberCheck());
    peer.setHandler([](const std::string& frame) -> std::vector<Piece> {
        return { { PtyPeer::reply("999", PtyPeer::command(frame)) } };
    });
    peer.clearFrames();
    std::string payload;
    // The reply of instrument 999 is never taken for 123456; at the deadline the driver
    // forgets its number, and the retry goes out unaddressed, where the first reply counts.
    EXPECT_TRUE(driver.transact("info", 100, payload));
    EXPECT_EQ(driver.deviceNumber(), "");
    auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_THAT(frames[0], HasSubstr("KESTRA #123456 $0001 info"));
    EXPECT_THAT(frames[1], HasSubstr("KESTRA #nonumber $0001 info"));
    EXPECT_THAT(payload, HasSubstr("kestra #999"));
    EXPECT_EQ(count(log(), "Unknown instrument's number!"), 1);
    // The next command learns the number again.
    EXPECT_TRUE(driver.numberCheck());
    EXPECT_EQ(driver.deviceNumber(), "999");
}

TEST_F(DriverTest, ErrorPayloadFailsButAdvances)
{
    ASSERT_TRUE(driver.numberCheck());
    peer.setHandler([](const std::string&) -> std::vector<Piece> {
        return { { PtyPeer::reply("123456", "Error: unknown command") } };
    });
    std::string payload;
    EXPECT_FALSE(driver.transact("bogus", 1000, payload));
    EXPECT_THAT(payload, HasSubstr("error: unknown command"));
    EXPECT_EQ(driver.sequence(), 2);
    EXPECT_EQ(count(log(), "Error Message!!!"), 1);
}

TEST_F(DriverTest, SequenceWrapsFromFFFFToZero)
{
    ASSERT_TRUE(driver.numberCheck());
    driver.setSequence(0xFFFF);
    peer.clearFrames();
    std::string payload;
    ASSERT_TRUE(driver.transact("info", 1000, payload));
    ASSERT_TRUE(driver.transact("info", 1000, payload));
    EXPECT_EQ(sequences(), (std::vector<std::string> { "FFFF", "0000" }));
}

TEST_F(DriverTest, HangUpReopensTheSamePortAndStartsOver)
{
    ASSERT_TRUE(driver.numberCheck());
    std::string payload;
    ASSERT_TRUE(driver.transact("info", 1000, payload));
    peer.hangUp();
    EXPECT_FALSE(driver.transact("info", 1000, payload));
    EXPECT_TRUE(driver.isOpen());
    std::string text = log();
    auto closed = text.rfind("COM port is closed");
    ASSERT_NE(closed, std::string::npos);
    // The reason of the reopening is in the log, before it.
    auto hungUp = text.find("\tCOM port hang-up: " + peer.path() + "\n");
    ASSERT_NE(hungUp, std::string::npos) << text;
    EXPECT_LT(hungUp, closed);
    EXPECT_NE(text.find("COM port is initialized: " + peer.path(), closed), std::string::npos);

    peer.clearFrames();
    ASSERT_TRUE(driver.numberCheck());
    auto frames = peer.frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].substr(0, 23), "KESTRA #nonumber $0000 ");
}

TEST_F(DriverTest, CloseTwiceLogsAndPausesOnce)
{
    Driver slow(std::make_unique<PosixTransport>(), 2000ms);
    slow.log().setDirectory(m_logDir);
    driver.close();
    ASSERT_TRUE(slow.open(peer.path(), 115200));
    auto start = std::chrono::steady_clock::now();
    slow.close();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2000ms);
    start = std::chrono::steady_clock::now();
    slow.close(); // no second pause
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_FALSE(slow.isOpen());
    std::string text = log();
    EXPECT_EQ(count(text, "COM port is closed"), 2); // one from the fixture's driver, one from ours
}

TEST_F(DriverTest, MissingPortIsLoggedAndLeavesTheDriverClosed)
{
    EXPECT_FALSE(driver.open("/dev/kestra-no-such-port", 115200));
    EXPECT_FALSE(driver.isOpen());
    EXPECT_THAT(log(), HasSubstr("\tCOM port open error: /dev/kestra-no-such-port\n"));
    // A command on a closed port tries to reopen and fails without a frame.
    std::string payload;
    EXPECT_FALSE(driver.transact("info", 100, payload));
}

TEST_F(DriverTest, OpenFailuresLogTheSystemsReason)
{
    char file[] = "/tmp/kestra-not-a-tty-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    struct Case {
        std::string port;
        std::string stepLine; // the line every version wrote
        std::string reason;
    };
    const Case cases[] = {
        { "/dev/kestra-no-such-port", "COM port open error: /dev/kestra-no-such-port",
            "COM port error reason: no device, No such file or directory (/dev/kestra-no-such-port)" },
        { file, "Error GetCommState",
            "COM port error reason: I/O error, Inappropriate ioctl for device (" + std::string(file) + ")" },
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(driver.open(c.port, 115200)) << c.port;
        std::string text = log();
        auto step = text.rfind("\t" + c.stepLine + "\n");
        ASSERT_NE(step, std::string::npos) << text;
        EXPECT_NE(text.find("\t" + c.reason + "\n", step), std::string::npos) << text;
    }
    unlink(file);
}

TEST_F(DriverTest, TrafficIsLoggedAsHex)
{
    ASSERT_TRUE(driver.numberCheck());
    std::string text = log();
    EXPECT_THAT(text, HasSubstr("\tto COM port: \t4B 45 53 54 52 41 20 23 6E 6F 6E 75 6D 62 65 72 "));
    // what is logged from the port is the accepted payload, lower-cased
    EXPECT_THAT(text, HasSubstr("\tfrom COM port: \t6B 65 73 74 72 61 20 23 31 32 33 34 35 36 "));
}

TEST(DriverLog, LineLayout)
{
    tm when {};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 5;
    when.tm_hour = 7;
    when.tm_min = 8;
    when.tm_sec = 9;
    when.tm_isdst = -1;
    std::time_t t = mktime(&when);
    EXPECT_EQ(DriverLog::formatLine(t, "COM port is closed", nullptr, 0, DriverLog::Direction::None),
        "05.03.2026\t07:08:09\tCOM port is closed\n");
    EXPECT_EQ(DriverLog::formatLine(t, "", "A\x0f", 2, DriverLog::Direction::ToPort),
        "05.03.2026\t07:08:09\tto COM port: \t41 0F \n");
    EXPECT_EQ(DriverLog::formatLine(t, "", "a", 1, DriverLog::Direction::FromPort),
        "05.03.2026\t07:08:09\tfrom COM port: \t61 \n");
}

TEST(DriverLog, SizeLimitAndDirectory)
{
    char dir[] = "/tmp/kestra-log-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    DriverLog log;
    log.setDirectory(dir);
    EXPECT_EQ(log.path(), std::string(dir) + "/KESTRAdrv.log");
    log.setDirectory(std::string(dir) + "\\");
    EXPECT_EQ(log.path(), std::string(dir) + "/KESTRAdrv.log");

    for (long size : { DriverLog::maxSize, DriverLog::maxSize + 1 }) {
        {
            std::ofstream out(log.path(), std::ios::binary | std::ios::trunc);
            out << std::string(static_cast<std::size_t>(size), 'x');
        }
        log.entry("next");
        struct stat st { };
        ASSERT_EQ(stat(log.path().c_str(), &st), 0);
        if (size == DriverLog::maxSize)
            EXPECT_GT(st.st_size, size); // appended
        else
            EXPECT_LT(st.st_size, 100); // emptied first
    }
    log.entry(""); // nothing to write
    unlink(log.path().c_str());
    rmdir(dir);
}

TEST(DriverPorts, PortNamesMapToDevices)
{
    EXPECT_EQ(Driver::devicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(Driver::devicePath("COM10"), "/dev/ttyS9");
    EXPECT_EQ(Driver::devicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(Driver::devicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(Driver::devicePath("COMX"), "/dev/COMX");
}
