#include "replyrules.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

Child spawn(const std::vector<std::string>& args)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        std::vector<char*> argv;
        std::string program = KESTRA_SIM_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    return { pid, out[0], err[0] };
}

std::string readLine(int fd, int timeoutMs)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, 50) <= 0)
            continue;
        char c;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line.push_back(c);
    }
    return line;
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

int finish(Child& c)
{
    int status = 0;
    waitpid(c.pid, &status, 0);
    ::close(c.out);
    ::close(c.err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ask(const std::string& path, const std::string& number, const std::string& command)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    termios tio {};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    const std::string frame = replyrules::frame(number, 1, command);
    std::string received;
    if (::write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size())) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < deadline && !replyrules::check(received, "").complete) {
            pollfd p { fd, POLLIN, 0 };
            char buffer[1024];
            if (poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0)
                    received.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    ::close(fd);
    return received;
}

} // namespace

TEST(Program, RunsOnItsPortAndStopsCleanly)
{
    const std::string dir = testing::TempDir() + "simprog" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    const std::string link = dir + "/port";
    const std::string state = dir + "/state";
    const std::string log = dir + "/frames.log";
    Child c = spawn({ "--number", "5150", "--link", link, "--state", state, "--log", log, "--history", "12", "--fault",
        "error:count=1", "--scenario", "alarm" });
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(readLine(c.out, 3000), link);

    const auto first = replyrules::check(ask(link, "5150", "get_battery"), "5150");
    EXPECT_TRUE(first.checksumOk);
    EXPECT_NE(first.payload.find("error"), std::string::npos); // the one injected fault
    const auto second = replyrules::check(ask(link, "5150", "put_light on"), "5150");
    EXPECT_NE(second.payload.find("put_light"), std::string::npos);

    ::kill(c.pid, SIGTERM);
    const std::string errors = readAll(c.err);
    EXPECT_EQ(finish(c), 0) << errors;
    EXPECT_NE(::access(link.c_str(), F_OK), 0); // the link goes with the program

    std::FILE* f = std::fopen(state.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string saved;
    char buffer[256];
    int records = 0;
    while (std::fgets(buffer, sizeof buffer, f)) {
        saved += buffer;
        records += std::string(buffer).rfind("record=", 0) == 0;
    }
    std::fclose(f);
    EXPECT_NE(saved.find("number=5150\n"), std::string::npos);
    EXPECT_NE(saved.find("light=1\n"), std::string::npos);
    EXPECT_GE(records, 12);

    f = std::fopen(log.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string logged;
    while (std::fgets(buffer, sizeof buffer, f))
        logged += buffer;
    std::fclose(f);
    EXPECT_NE(logged.find("<- KESTRA #5150 $0001 get_battery CRC="), std::string::npos) << logged;
    EXPECT_NE(logged.find("-> KESTRA #5150 error CRC="), std::string::npos) << logged;
    std::remove(state.c_str());
    std::remove(log.c_str());
    ::rmdir(dir.c_str());
}

TEST(Program, RejectsBadArgumentsInOneLine)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode; // 2: the command line; 1: the simulator could not start with it
        std::string message;
    };
    const Case cases[] = {
        { { "--bogus" }, 2, "unknown option --bogus" },
        { { "--baud" }, 2, "--baud needs a value" },
        { { "--baud", "fast" }, 2, "bad value for --baud: fast" },
        { { "--baud=fast" }, 2, "bad value for --baud: fast" },
        { { "--history", "-3" }, 2, "bad value for --history: -3" },
        { { "--no-live-history=1" }, 2, "takes no value" },
        { { "--fault", "meteor" }, 2, "unknown fault kind" },
        { { "--fault=silence:rate=2" }, 2, "fault rate" },
        { { "--fault", "split:pause=3" }, 2, "bad fault option" },
        { { "--scenario", "/no/such/file" }, 1, "" },
        { { "--number", "12 34" }, 1, "" },
    };
    for (const Case& c : cases) {
        Child child = spawn(c.args);
        ASSERT_GT(child.pid, 0);
        const std::string out = readAll(child.out);
        const std::string err = readAll(child.err);
        EXPECT_EQ(finish(child), c.exitCode) << c.args[0] << ": " << err;
        EXPECT_TRUE(out.empty()) << out;
        EXPECT_EQ(err.rfind("kestra-sim: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    for (const char* flag : { "--help", "-h" }) {
        Child help = spawn({ flag });
        const std::string usage = readAll(help.out);
        EXPECT_EQ(finish(help), 0);
        EXPECT_NE(usage.find("--fault KIND"), std::string::npos);
    }
    Child version = spawn({ "--version" });
    EXPECT_EQ(readAll(version.out), "kestra-sim " KESTRA_VERSION "\n");
    EXPECT_EQ(finish(version), 0);
}
