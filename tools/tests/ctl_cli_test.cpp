// Runs the real kestractl program against the simulated instrument on a pseudo-terminal.

#include "kestrasim/simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using kestra::sim::FaultKind;
using kestra::sim::makeRecord;
using kestra::sim::RecordFields;

struct CtlRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Starts kestractl with `args`, without KESTRA_PORT from the test's own environment unless
/// given in `extraEnv`, and collects its output (killed after 60 s). A `uid` above 0 runs it
/// as that user (the test must be root for that).
CtlRun runCtl(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}, uid_t uid = 0)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "KESTRA_PORT=", 12) != 0)
            env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = { KESTRACTL_PATH };
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    CtlRun run;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return run;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return run;
    }
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (uid > 0 && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
            _exit(126);
        if (dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        run.err = std::string("fork failed: ") + std::strerror(errno);
        return run;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    pollfd fds[2] = { { outPipe[0], POLLIN, 0 }, { errPipe[0], POLLIN, 0 } };
    std::string* sinks[2] = { &run.out, &run.err };
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 200) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) {
            kill(pid, SIGKILL);
            close(f.fd);
        }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string describe(const CtlRun& run)
{
    return "exit " + std::to_string(run.exitCode) + "\nstdout:\n" + run.out + "stderr:\n" + run.err;
}

class CtlWithInstrument : public ::testing::Test {
protected:
    void SetUp() override
    {
        kestra::sim::Options options;
        options.liveHistory = false; // the history holds exactly what a test puts there
        m_sim = std::make_unique<kestra::sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(m_sim->start(&error)) << error;
    }

    CtlRun ctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), { "--port", m_sim->slavePath() });
        return runCtl(args);
    }

    bool sent(const std::string& prefix) const
    {
        for (const std::string& command : m_sim->commands())
            if (command.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    std::unique_ptr<kestra::sim::Simulator> m_sim;
};

TEST_F(CtlWithInstrument, IdentifyAndInfo)
{
    CtlRun run = ctl({ "identify" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(run.out, "instrument: KESTRA #123456\nnumber:     123456\n");

    run = ctl({ "--json", "identify" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(run.out, "{\n  \"id\": \"KESTRA #123456\",\n  \"number\": \"123456\"\n}\n");

    m_sim->setMode(3);
    m_sim->setDoseRate(2.5e-6); // 2.5 µSv/h
    run = ctl({ "info" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_NE(run.out.find("mode:      gamma\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" \xC2\xB5Sv/h\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("alarm:     0x0000 (none)\n"), std::string::npos) << run.out;
    // The reading is the simulated rate with counting noise: within its stated precision.
    std::size_t at = run.out.find("reading:");
    ASSERT_NE(at, std::string::npos);
    double shown = std::strtod(run.out.c_str() + at + 8, nullptr);
    EXPECT_GT(shown, 1.0);
    EXPECT_LT(shown, 4.0);

    run = ctl({ "--raw", "--json", "info" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_NE(run.out.find("\"mode\": 3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"unit\": \"\xC2\xB5Sv/h\""), std::string::npos) << run.out;
}

TEST_F(CtlWithInstrument, ThresholdRoundTripInHumanAndDriverUnits)
{
    CtlRun run = ctl({ "set", "der1", "1.2" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(run.out, "der1 = 1.20 \xC2\xB5Sv/h\n");
    EXPECT_NEAR(m_sim->settings().derThreshold1, 1.2e-6, 1e-12);

    run = ctl({ "set", "der2", "0.5 mSv/h" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_NEAR(m_sim->settings().derThreshold2, 5e-4, 1e-10);

    run = ctl({ "get", "der1" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(run.out, "1.20 \xC2\xB5Sv/h\n");

    run = ctl({ "--raw", "set", "der1", "250" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_NEAR(m_sim->settings().derThreshold1, 2.5e-6, 1e-12);
    run = ctl({ "--raw", "get", "der1" });
    EXPECT_EQ(run.out, "250\n") << describe(run);

    run = ctl({ "--json", "get", "der2" });
    EXPECT_EQ(run.out, "{\"value\":500,\"unit\":\"\xC2\xB5Sv/h\",\"raw\":50000}\n") << describe(run);

    // A value out of range is refused before anything is sent.
    m_sim->clearCommands();
    run = ctl({ "set", "der1", "0.01" });
    EXPECT_EQ(run.exitCode, 2) << describe(run);
    EXPECT_NE(run.err.find("der1 must be between 0.1 and 100000"), std::string::npos) << run.err;
    EXPECT_TRUE(m_sim->commands().empty());
    EXPECT_NEAR(m_sim->settings().derThreshold1, 2.5e-6, 1e-12);
}

TEST_F(CtlWithInstrument, SettingsOverviewAndOtherKinds)
{
    CtlRun run = ctl({ "set", "hist-interval", "120" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(m_sim->settings().historyInterval, 120);
    run = ctl({ "set", "units", "roentgen" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_TRUE(m_sim->settings().roentgen);
    run = ctl({ "set", "beta-search", "250.5" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_DOUBLE_EQ(m_sim->settings().searchBetaThreshold, 250.5);

    run = ctl({ "get", "all" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    for (const char* line : { "units:         roentgen\n", "hist-interval: 120 s\n", "beta-search:   250.5 CPS\n",
             "beta1:         10 CPM/cm\xC2\xB2\n", "hv:            0x0190 (400)\n", "k-beta:        45\n" })
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;

    run = ctl({ "--json", "get", "all" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_NE(run.out.find("\"sound\": {\"value\":true,\"raw\":1}"), std::string::npos) << run.out;
}

TEST_F(CtlWithInstrument, ReadBackThatDiffersIsAFailure)
{
    // An instrument that acknowledges but keeps another value must not look like success.
    m_sim->setReplyOverride("get_thresh_b1", "get_thresh_b1 thrG=7.000000E+000CPM/cm^2 ");
    CtlRun run = ctl({ "set", "beta1", "20" });
    EXPECT_EQ(run.exitCode, 1) << describe(run);
    EXPECT_NE(run.err.find("kept 7 CPM/cm\xC2\xB2 instead of 20 CPM/cm\xC2\xB2"), std::string::npos) << run.err;
}

TEST_F(CtlWithInstrument, HistoryTableJsonAndClear)
{
    const uint32_t day10 = 10 * 86400 + 3661; // 1999-01-11 01:01:01 on the instrument's clock
    RecordFields gamma;
    gamma.value1 = 1.5e-6; // Sv/h
    gamma.value2 = 2.0e-6; // Sv
    gamma.param1 = 12;
    RecordFields beta;
    beta.value1 = 25.5; // CPM/cm²
    beta.value2 = 1.0;
    beta.param1 = 7;
    m_sim->setHistory(
        { makeRecord('1', day10), makeRecord('F', day10 + 60, gamma), makeRecord('i', day10 + 120, beta) });

    CtlRun run = ctl({ "history" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_NE(run.out.find("1999-01-11 01:01:01  1     Instrument is switched On"), std::string::npos) << run.out;
    const std::string gammaRow = "1999-01-11 01:02:01  F     Measurement gamma          1.50 \xC2\xB5Sv/h \xC2\xB1"
                                 "12%\n";
    const std::string betaRow = "1999-01-11 01:03:01  i     Measurement beta           25.50 CPM/cm\xC2\xB2 \xC2\xB1"
                                "7%  Threshold \"Danger\" is exceeded! (beta)\n";
    EXPECT_NE(run.out.find(gammaRow), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(betaRow), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 events\n"), std::string::npos);

    run = ctl({ "--json", "history" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    std::size_t f = run.out.find("{\"time\":\"1999-01-11T01:02:01\",\"type\":\"F\"");
    ASSERT_NE(f, std::string::npos) << run.out;
    std::size_t v1 = run.out.find("\"value1\":", f);
    std::size_t v2 = run.out.find("\"value2\":", f);
    EXPECT_NEAR(std::strtod(run.out.c_str() + v1 + 9, nullptr), 150.0, 1e-3); // 1e-8 Sv/h
    EXPECT_NEAR(std::strtod(run.out.c_str() + v2 + 9, nullptr), 200.0, 1e-3);
    EXPECT_NE(run.out.find("\"param1\":12,\"param2\":-1}", f), std::string::npos);

    run = ctl({ "clear-history" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_TRUE(m_sim->history().empty());
    run = ctl({ "history" });
    EXPECT_EQ(run.out, "TIME  CODE  EVENT  VALUE  ALARM\n0 events\n") << describe(run);
}

TEST_F(CtlWithInstrument, MenuFirmwareAndInstrumentFailures)
{
    std::string menu = "0A0B0C0D" + std::string(48, '1');
    CtlRun run = ctl({ "set-menu", menu });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(m_sim->settings().menu[0], 0x0A);
    EXPECT_EQ(m_sim->settings().menu[27], 0x11);
    run = ctl({ "menu" });
    EXPECT_EQ(run.out, menu + "\n") << describe(run);

    char dir[] = "/tmp/ctl-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string image = std::string(dir) + "/image.bin";
    std::vector<char> bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    std::ofstream(image, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    run = ctl({ "firmware", image });
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(m_sim->firmwareLoaded(), std::vector<uint8_t>(bytes.begin(), bytes.end()));

    // Empty and oversized images are refused before the instrument is touched.
    std::string empty = std::string(dir) + "/empty.bin";
    std::ofstream(empty).close();
    std::string big = std::string(dir) + "/big.bin";
    std::ofstream(big).close();
    ASSERT_EQ(truncate(big.c_str(), 1024 * 1024 + 1), 0);
    m_sim->clearCommands();
    for (const std::string& file : { empty, big, std::string(dir) + "/missing.bin" }) {
        run = ctl({ "firmware", file });
        EXPECT_EQ(run.exitCode, 1) << file << "\n" << describe(run);
        EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
    }
    EXPECT_TRUE(m_sim->commands().empty());
    for (const std::string& file : { image, empty, big })
        unlink(file.c_str());
    rmdir(dir);

    // An instrument that answers "error" fails the command, and the driver log says why.
    m_sim->injectFault(FaultKind::ErrorReply, 100);
    run = ctl({ "get", "sound" });
    EXPECT_EQ(run.exitCode, 1) << describe(run);
    EXPECT_NE(run.err.find("reading sound failed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("driver log:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Error Message!!!"), std::string::npos) << run.err;

    // A silent instrument: the frames sent are shown as text, with a hint at the cabling.
    m_sim->clearFaults();
    m_sim->injectFault(FaultKind::Silence, 100);
    run = ctl({ "get", "sound" });
    EXPECT_EQ(run.exitCode, 1) << describe(run);
    EXPECT_NE(run.err.find("no reply came back"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("to COM port: KESTRA #nonumber $0000 get_ID CRC=8ECE\n"), std::string::npos) << run.err;
}

TEST_F(CtlWithInstrument, EveryCommandFamilyReachesTheInstrument)
{
    kestra::sim::Settings settings = m_sim->settings();
    settings.dose = 1.5e-6; // Sv
    settings.doseTime = 3725;
    settings.battery = 9;
    settings.clockOffset = -100000;
    m_sim->setSettings(settings);

    struct Step {
        std::vector<std::string> args;
        std::string output; // expected part of stdout
        std::function<bool()> state; // what the instrument must show afterwards
    };
    const Step steps[] = {
        // Both beta modes travel as one word; the instrument picks, and kestractl says which.
        { { "set-mode", "beta2" }, "mode: beta ", [&] { return m_sim->mode() == 4 || m_sim->mode() == 5; } },
        { { "set-mode", "beta-search" }, "mode: beta search (8)\n", [&] { return m_sim->mode() == 8; } },
        { { "mode" }, "beta search (8)\n", nullptr },
        { { "lock", "on" }, "keys locked\n", [&] { return m_sim->locked(); } },
        { { "lock", "off" }, "keys unlocked\n", [&] { return !m_sim->locked(); } },
        { { "set-mode", "gamma" }, "", [&] { return m_sim->mode() == 3; } },
        { { "autocal", "start", "120", "5", "40" }, "autocalibration started at 120.00 \xC2\xB5Sv/h\n",
            [&] { return m_sim->autocalRunning(); } },
        { { "autocal", "status" }, "running\n", nullptr },
        { { "autocal", "params" }, "reference rate: 120.00 \xC2\xB5Sv/h\ntolerance:      5%\nprecision:      40%\n",
            nullptr },
        { { "autocal", "stop" }, "autocalibration stopped\n", [&] { return !m_sim->autocalRunning(); } },
        { { "version", "0" }, kestra::sim::Instrument::versionText(0) + "\n", nullptr },
        { { "dose" }, "accumulated dose:  1.50 \xC2\xB5Sv\n", nullptr },
        { { "reset-dose" }, "accumulated dose cleared\n", [&] { return m_sim->settings().dose < 1e-9; } },
        { { "battery" }, "battery: 90%\n", nullptr },
        { { "alarm" }, "alarm: 0x", nullptr },
        { { "reset-stat", "on" }, "statistics reset on\n", [&] { return sent("reset_stat_on"); } },
        { { "set-time" }, "",
            [&] { return std::fabs(m_sim->instrumentClock() - kestra::sim::localSecondsSince1999Now()) < 5; } },
        { { "set-number", "777" }, "instrument: KESTRA #777\n", [&] { return m_sim->number() == "777"; } },
    };
    for (const Step& step : steps) {
        CtlRun run = ctl(step.args);
        ASSERT_EQ(run.exitCode, 0) << step.args[0] << "\n" << describe(run);
        EXPECT_NE(run.out.find(step.output), std::string::npos) << step.args[0] << "\n" << run.out;
        if (step.state) {
            EXPECT_TRUE(step.state()) << step.args[0];
        }
    }
}

TEST_F(CtlWithInstrument, InstrumentTextWithQuotesAndControlsIsValidJson)
{
    // A detector version text as no well-behaved instrument sends it: quotes, a backslash,
    // control characters and a byte that is not UTF-8.
    const std::string version = "v2 \"beta\" C:\\fw\x01\t\x1B\x7F\xFF!";
    std::string hex;
    for (unsigned char c : version) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", c);
        hex += pair;
    }
    m_sim->setReplyOverride("r_det_vers N=01", "r_det_vers N=01 : " + hex);
    CtlRun run = ctl({ "--json", "version", "1" });
    ASSERT_EQ(run.exitCode, 0) << describe(run);

    char dir[] = "/tmp/ctl-json-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string in = std::string(dir) + "/out.json";
    const std::string out = std::string(dir) + "/version.txt";
    std::ofstream(in, std::ios::binary) << run.out;
    // Python's json module reads it and writes the version text back as UTF-8.
    const std::string command = std::string(PYTHON_PATH)
        + " -c 'import json,sys; d=json.load(open(sys.argv[1],encoding=\"utf-8\")); "
          "open(sys.argv[2],\"w\",encoding=\"utf-8\",newline=\"\").write(str(d[\"part\"])+\"|\"+d[\"version\"])' "
        + in + " " + out;
    EXPECT_EQ(std::system(command.c_str()), 0) << run.out;
    std::ifstream back(out, std::ios::binary);
    std::string decoded((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    EXPECT_EQ(decoded, "1|v2 \"beta\" C:\\fw\x01\t\x1B\x7F\xEF\xBF\xBD!") << run.out;
    unlink(in.c_str());
    unlink(out.c_str());
    rmdir(dir);
}

TEST(CtlPort, VersionBothOptionFormsAndOneLineUsageErrors)
{
    CtlRun run = runCtl({ "--version" });
    EXPECT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(run.out, "kestractl " KESTRA_VERSION "\n");

    for (std::vector<std::string> args :
        { std::vector<std::string> { "--port", "/tmp/kestractl-no-such-port", "identify" },
            std::vector<std::string> { "--port=/tmp/kestractl-no-such-port", "identify" } }) {
        run = runCtl(args);
        EXPECT_EQ(run.exitCode, 1) << describe(run);
        EXPECT_EQ(run.err, "kestractl: port /tmp/kestractl-no-such-port does not exist\n") << args[0];
    }

    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        { { "--colour", "crc", "x" }, "unknown option --colour" },
        { { "crc", "x", "--baud" }, "--baud needs a value" },
        { { "--log=", "crc", "x" }, "--log needs a directory" },
        { { "--json=yes", "crc", "x" }, "--json takes no value" },
    };
    for (const Case& c : cases) {
        run = runCtl(c.args);
        EXPECT_EQ(run.exitCode, 2) << describe(run);
        EXPECT_EQ(run.err.rfind("kestractl: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST(CtlPort, MissingPortAndUsageErrors)
{
    CtlRun run = runCtl({ "--port", "/tmp/kestractl-no-such-port", "identify" });
    EXPECT_EQ(run.exitCode, 1) << describe(run);
    EXPECT_EQ(run.err, "kestractl: port /tmp/kestractl-no-such-port does not exist\n");

    run = runCtl({ "identify" }, { "KESTRA_PORT=/tmp/kestractl-no-such-port" });
    EXPECT_EQ(run.exitCode, 1) << describe(run);
    EXPECT_NE(run.err.find("/tmp/kestractl-no-such-port does not exist"), std::string::npos);

    run = runCtl({ "--port", "/dev/null", "identify" });
    EXPECT_EQ(run.exitCode, 1) << describe(run);
    EXPECT_NE(run.err.find("not a serial device"), std::string::npos) << run.err;

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        { {}, 2, "no command given" },
        { { "identify" }, 2, "no port given" },
        { { "--port", "/dev/null", "launch" }, 2, "unknown command 'launch'" },
        { { "--port", "/dev/null", "get", "colour" }, 2, "unknown setting 'colour'" },
        { { "--port", "/dev/null", "set", "der1" }, 2, "needs more arguments" },
        { { "--port", "/dev/null", "set", "sound", "loud" }, 2, "expected on or off" },
        { { "--port", "/dev/null", "set-mode", "survey" }, 2, "mode must be" },
        { { "--port", "/dev/null", "autocal", "start", "80", "2", "150" }, 2, "0 to 99" },
        { { "--port", "/dev/null", "set-menu", "0102" }, 2, "56 hex digits" },
        { { "--baud", "fast", "crc", "x" }, 2, "--baud" },
        { { "crc", "123456789" }, 0, "" },
        { { "--help" }, 0, "" },
    };
    for (const Case& c : cases) {
        run = runCtl(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << describe(run);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << "\n" << run.err;
    }
    EXPECT_EQ(runCtl({ "crc", "123456789" }).out, "906E\n");
}

TEST(CtlPort, PortWithoutPermission)
{
    // As root the check needs another user: "nobody" is in no group that owns the device.
    const uid_t nobody = 65534;
    char path[] = "/tmp/ctl-noaccess-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    group* dialout = getgrnam("dialout");
    bool asNobody = geteuid() == 0;
    if (asNobody) {
        ASSERT_EQ(chown(path, 0, dialout ? dialout->gr_gid : 20), 0);
        ASSERT_EQ(chmod(path, 0660), 0);
    } else {
        ASSERT_EQ(chmod(path, 0), 0);
    }
    CtlRun run = runCtl({ "--port", path, "identify" }, {}, asNobody ? nobody : 0);
    unlink(path);
    if (asNobody && (run.exitCode == 126 || run.exitCode == 127))
        GTEST_SKIP() << "the build tree is out of reach of user nobody; the message is checked in PortAccess";
    EXPECT_EQ(run.exitCode, 1) << describe(run);
    EXPECT_NE(run.err.find("permission denied"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
    if (asNobody && dialout) {
        EXPECT_NE(run.err.find("sudo usermod -aG dialout $USER"), std::string::npos) << run.err;
    }
}

} // namespace
