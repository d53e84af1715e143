#include "kestrasim/simulator.h"
#include "replyrules.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace kestra::sim;
using Clock = std::chrono::steady_clock;

namespace {

// A host end of the line, written from the wire rules: raw port, purge, frame, collect.
class Port {
public:
    explicit Port(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios tio {};
            tcgetattr(m_fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Port()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }

    void send(const std::string& bytes)
    {
        tcflush(m_fd, TCIOFLUSH);
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Bytes received until a complete reply for `number` ("" = unknown) or the time-out.
    std::string collect(const std::string& number, int timeoutMs, std::vector<Clock::time_point>* arrivals = nullptr)
    {
        std::string received;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            pollfd fd { m_fd, POLLIN, 0 };
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (poll(&fd, 1, static_cast<int>(std::max<long long>(1, left))) <= 0)
                continue;
            if (fd.revents & (POLLHUP | POLLERR)) {
                m_hungUp = true;
                break;
            }
            char buffer[2048];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            if (arrivals)
                arrivals->push_back(Clock::now());
            received.append(buffer, static_cast<std::size_t>(n));
            if (replyrules::check(received, number).complete)
                break;
        }
        return received;
    }

    std::string transact(const std::string& address, uint16_t sequence, const std::string& command,
        const std::string& number, int timeoutMs = 1000)
    {
        send(replyrules::frame(address, sequence, command));
        return collect(number, timeoutMs);
    }

    bool hungUp() const { return m_hungUp; }

private:
    int m_fd = -1;
    bool m_hungUp = false;
};

Options quiet()
{
    Options options;
    options.liveHistory = false;
    return options;
}

std::string tempPath(const char* name)
{
    return testing::TempDir() + name + std::to_string(::getpid());
}

} // namespace

TEST(Simulator, AnswersOnlyValidFramesAddressedToIt)
{
    Simulator sim(quiet());
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    Port port(sim.slavePath());
    ASSERT_TRUE(port.ok());

    const std::string id = port.transact("nonumber", 0, "get_ID", "");
    const auto checked = replyrules::check(id, "");
    ASSERT_TRUE(checked.complete && checked.checksumOk) << id;
    EXPECT_EQ(replyrules::field(checked.payload, "kestra #", " "), "123456");

    struct Case {
        std::string bytes;
        bool answered;
    } cases[] = {
        { replyrules::frame("123456", 1, "get_sound"), true },
        { replyrules::frame("654321", 2, "get_sound"), false },
        { "KESTRA #123456 $0003 get_sound CRC=0000\r\n", false },
        { std::string("\x00\x13junk", 6) + replyrules::frame("123456", 4, "get_light"), true },
        { replyrules::frame("nonumber", 5, "get_beep"), true },
        { replyrules::frame("123456", 6, "no_such_command"), true },
    };
    for (const Case& c : cases) {
        port.send(c.bytes);
        const std::string reply = port.collect("123456", c.answered ? 1000 : 300);
        EXPECT_EQ(replyrules::check(reply, "123456").checksumOk, c.answered) << c.bytes;
    }
    EXPECT_EQ(sim.commands(),
        (std::vector<std::string> { "get_ID", "get_sound", "get_light", "get_beep", "no_such_command" }));
    ASSERT_EQ(sim.frames().size(), 5u);
    EXPECT_EQ(sim.frames()[0], "KESTRA #nonumber $0000 get_ID CRC=8ECE\r\n");
    EXPECT_NE(port.transact("123456", 7, "no_such_command", "123456").find("error"), std::string::npos);

    // Overrides replace the payload and keep the wrapping.
    sim.setReplyOverride("get_so", "sound maybe");
    const auto overridden = replyrules::check(port.transact("123456", 8, "get_sound", "123456"), "123456");
    EXPECT_TRUE(overridden.checksumOk);
    EXPECT_NE(overridden.payload.find("sound maybe"), std::string::npos);
    sim.setReplyOverride("get_so", "");
    EXPECT_NE(port.transact("123456", 9, "get_sound", "123456").find("sound on"), std::string::npos);
    sim.clearCommands();
    EXPECT_TRUE(sim.commands().empty());
}

TEST(Simulator, EveryFaultShowsOnTheWire)
{
    Options options = quiet();
    options.linkPath = tempPath("faultlink");
    Simulator sim(options);
    ASSERT_TRUE(sim.start());
    Port port(sim.slavePath());
    ASSERT_TRUE(port.ok());
    const std::string n = "123456";
    uint16_t seq = 100;

    struct Case {
        FaultKind kind;
        int param;
        std::function<void(const std::string& received, double ms)> verify;
    } cases[] = {
        { FaultKind::Silence, 0, [](const std::string& r, double) { EXPECT_TRUE(r.empty()) << r; } },
        { FaultKind::BadChecksum, 0,
            [&](const std::string& r, double) {
                const auto c = replyrules::check(r, n);
                EXPECT_TRUE(c.complete);
                EXPECT_FALSE(c.checksumOk) << r;
            } },
        { FaultKind::ErrorReply, 0,
            [&](const std::string& r, double) {
                const auto c = replyrules::check(r, n);
                EXPECT_TRUE(c.checksumOk);
                EXPECT_NE(c.payload.find("error"), std::string::npos) << r;
            } },
        { FaultKind::ForeignNumber, 0,
            [&](const std::string& r, double) {
                EXPECT_FALSE(replyrules::check(r, n).complete) << r;
                EXPECT_NE(r.find("KESTRA #"), std::string::npos);
                EXPECT_TRUE(replyrules::check(r, "").checksumOk) << r; // a valid reply, just not ours
            } },
        { FaultKind::StrayBytes, 5,
            [&](const std::string& r, double) {
                EXPECT_EQ(r.find("KESTRA #" + n), 5u) << r;
                EXPECT_TRUE(replyrules::check(r, n).checksumOk);
                EXPECT_FALSE(replyrules::check(r, "").checksumOk); // from the first byte it fails
            } },
        { FaultKind::Latency, 300,
            [&](const std::string& r, double ms) {
                EXPECT_TRUE(replyrules::check(r, n).checksumOk);
                EXPECT_GE(ms, 290);
            } },
        { FaultKind::Split, 120,
            [&](const std::string& r, double ms) {
                EXPECT_TRUE(replyrules::check(r, n).checksumOk) << r;
                EXPECT_GE(ms, 230); // three pieces, two pauses
            } },
    };
    for (const Case& c : cases) {
        sim.injectFault(c.kind, 1, c.param);
        const auto start = Clock::now();
        port.send(replyrules::frame(n, seq++, "get_sound"));
        const std::string received = port.collect(c.kind == FaultKind::StrayBytes ? "" : n, 1000);
        // Stray bytes: collect from the first byte, then judge both ways.
        const std::string all = c.kind == FaultKind::StrayBytes && !replyrules::check(received, n).complete
            ? received + port.collect(n, 500)
            : received;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        SCOPED_TRACE(faultName(c.kind));
        c.verify(all, ms);
        EXPECT_EQ(sim.faultsApplied(c.kind), 1);
        // The fault was for one reply only.
        EXPECT_TRUE(replyrules::check(port.transact(n, seq++, "get_sound", n), n).checksumOk);
    }

    // Split pieces arrive apart.
    sim.injectFault(FaultKind::Split, 1, 150);
    std::vector<Clock::time_point> arrivals;
    port.send(replyrules::frame(n, seq++, "read_menu"));
    port.collect(n, 2000, &arrivals);
    ASSERT_GE(arrivals.size(), 3u);
    const double spread = std::chrono::duration<double, std::milli>(arrivals.back() - arrivals.front()).count();
    EXPECT_GE(spread, 280);

    // Hang-up: the line drops; once the host closes its end the instrument is back under the
    // same name and behind the same link.
    const std::string before = sim.ptyPath();
    sim.injectFault(FaultKind::HangUp, 1, 300);
    port.send(replyrules::frame(n, seq++, "get_sound"));
    EXPECT_TRUE(port.collect(n, 250).empty());
    EXPECT_TRUE(port.hungUp());
    EXPECT_EQ(sim.faultsApplied(FaultKind::HangUp), 1);
}

TEST(Simulator, HangUpComesBackUnderTheSameName)
{
    for (bool withLink : { false, true }) {
        Options options = quiet();
        if (withLink)
            options.linkPath = tempPath("hanglink");
        Simulator sim(options);
        ASSERT_TRUE(sim.start());
        const std::string before = sim.ptyPath();
        auto port = std::make_unique<Port>(sim.slavePath());
        sim.injectFault(FaultKind::HangUp, 1, 200);
        port->send(replyrules::frame("123456", 1, "get_sound"));
        EXPECT_TRUE(port->collect("123456", 1000).empty());
        EXPECT_TRUE(port->hungUp());
        EXPECT_FALSE(sim.lineUp()); // and stays down while the host holds the old name
        port.reset(); // the host closes its end, as a driver does after a failed write
        const auto deadline = Clock::now() + std::chrono::seconds(8);
        while (Clock::now() < deadline && !sim.lineUp())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(sim.lineUp());
        // Another process may take the freed name first; only then may ours differ.
        if (sim.ptyPath() != before) {
            EXPECT_EQ(::access(before.c_str(), F_OK), 0) << "the old name was free but not taken back";
        }
        Port again(sim.slavePath());
        ASSERT_TRUE(again.ok());
        EXPECT_TRUE(replyrules::check(again.transact("123456", 2, "get_sound", "123456"), "123456").checksumOk);
    }
}

TEST(Simulator, FaultRatesHitAShareOfReplies)
{
    Simulator sim(quiet());
    ASSERT_TRUE(sim.start());
    Port port(sim.slavePath());
    sim.setFaultRate(FaultKind::ErrorReply, 0.5);
    int errors = 0;
    const int frames = 60;
    for (int i = 0; i < frames; ++i) {
        const auto c
            = replyrules::check(port.transact("123456", static_cast<uint16_t>(i), "get_light", "123456"), "123456");
        ASSERT_TRUE(c.checksumOk);
        errors += c.payload.find("error") != std::string::npos;
    }
    EXPECT_EQ(errors, sim.faultsApplied(FaultKind::ErrorReply));
    EXPECT_GT(errors, frames / 5);
    EXPECT_LT(errors, frames * 4 / 5);
    sim.clearFaults();
    EXPECT_EQ(port.transact("123456", 999, "get_light", "123456").find("error"), std::string::npos);
}

TEST(Simulator, BaudLimitPacesBothDirections)
{
    Options options = quiet();
    options.baud = 19200;
    options.historyRecords = 30; // one full chunk of about 1000 bytes
    Simulator sim(options);
    ASSERT_TRUE(sim.start());
    Port port(sim.slavePath());
    const std::string frame = replyrules::frame("123456", 1, "read_history");
    const auto start = Clock::now();
    port.send(frame);
    const std::string reply = port.collect("123456", 3000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_TRUE(replyrules::check(reply, "123456").checksumOk);
    const double expected = 10.0 * static_cast<double>(frame.size() + reply.size()) / 19200;
    EXPECT_GT(reply.size(), 900u);
    // Never faster than the line; an unpaced line would be a hundred times quicker, so the upper
    // bound leaves room for a busy machine.
    EXPECT_GE(seconds, expected * 0.97) << "reply " << reply.size() << " bytes";
    EXPECT_LE(seconds, expected * 3 + 0.5) << "reply " << reply.size() << " bytes";
}

TEST(Simulator, StateSurvivesARestart)
{
    const std::string state = tempPath("simstate");
    std::remove(state.c_str());
    Options options = quiet();
    options.stateFile = state;
    {
        Simulator sim(options);
        ASSERT_TRUE(sim.start());
        Port port(sim.slavePath());
        EXPECT_TRUE(replyrules::check(port.transact("123456", 1, "set_ID numb=4242", ""), "").checksumOk);
        EXPECT_NE(port.transact("4242", 2, "put_sound off", "4242").find("put_sound"), std::string::npos);
        port.transact("4242", 3, "set_hist_time T=0E10 Tp=000A", "4242");
        sim.appendHistory(makeRecord('1', 1234));
    }
    Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    Port port(sim.slavePath());
    EXPECT_EQ(sim.number(), "4242");
    const auto sound = replyrules::check(port.transact("4242", 1, "get_sound", "4242"), "4242");
    EXPECT_TRUE(sound.checksumOk);
    EXPECT_EQ(sound.payload.find(" on "), std::string::npos);
    EXPECT_EQ(sim.settings().historyInterval, 0x0E10);
    ASSERT_EQ(sim.history().size(), 2u); // the sound change and the record added above
    EXPECT_EQ(sim.history()[0].type(), 's');
    EXPECT_EQ(sim.history()[1], makeRecord('1', 1234));
    sim.stop();

    // A damaged state file stops the start with a reason.
    {
        std::FILE* f = std::fopen(state.c_str(), "a");
        std::fputs("sound=perhaps\n", f);
        std::fclose(f);
    }
    Simulator broken(options);
    EXPECT_FALSE(broken.start(&error));
    EXPECT_NE(error.find("sound"), std::string::npos) << error;
    std::remove(state.c_str());

    // So does a state file that cannot be written.
    options.stateFile = "/nonexistent-dir/state";
    Simulator unwritable(options);
    EXPECT_FALSE(unwritable.start(&error));
    EXPECT_NE(error.find("/nonexistent-dir/state"), std::string::npos) << error;
}

TEST(Simulator, ScenarioRaisesTheAlarmAndTheHistoryGrows)
{
    Options options;
    options.scenario = "alarm";
    Simulator sim(options);
    ASSERT_TRUE(sim.start());
    Port port(sim.slavePath());
    const auto alarm = [&](uint16_t seq) {
        return replyrules::field(
            replyrules::check(port.transact("123456", seq, "info", "123456"), "123456").payload, "alarm=", " ")
            .value_or("missing");
    };
    EXPECT_EQ(alarm(1), "0000");
    sim.advanceClock(15);
    EXPECT_EQ(alarm(2), "0001");
    ASSERT_FALSE(sim.history().empty());
    EXPECT_EQ(sim.history().back().type(), 'G');
    const std::size_t before = sim.history().size();
    sim.advanceClock(3 * sim.settings().historyInterval);
    EXPECT_EQ(sim.history().size(), before + 3);
    EXPECT_EQ(alarm(3), "0000");
}

TEST(Simulator, RejectsAnExistingFileAsLink)
{
    const std::string path = tempPath("notalink");
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fclose(f);
    Options options = quiet();
    options.linkPath = path;
    Simulator sim(options);
    std::string error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    std::remove(path.c_str());
}
