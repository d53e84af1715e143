// kestra-sim: an instrument on a pseudo-terminal. Prints the port path on its first line and runs
// until SIGINT or SIGTERM.

#include "kestrasim/simulator.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace kestra::sim;

namespace {

void usage(std::FILE* out)
{
    std::fprintf(out,
        "usage: kestra-sim [options]\n"
        "  --number N          instrument number (default 123456)\n"
        "  --link PATH         keep a symbolic link to the port at PATH\n"
        "  --state FILE        keep settings and history in FILE across restarts\n"
        "  --history N         pre-fill N history records\n"
        "  --days D            spread them over the last D days (default 7)\n"
        "  --baud B            pace the line as B baud would (10 bits per byte; 0 = unpaced)\n"
        "  --seed S            seed for measurement noise and fault rates (default 1)\n"
        "  --log FILE          log every frame received and sent\n"
        "  --scenario NAME|FILE  dose-rate script: background, alarm, danger, ramp, or a file of\n"
        "                      \"SECONDS RATE_SV_PER_H\" lines (optional line \"loop\")\n"
        "  --chunk BYTES       history bytes per chunk (default: as many as fit)\n"
        "  --no-live-history   do not append a measurement every history interval\n"
        "  --fault KIND[:count=N|rate=R][:param=P]   repeatable (default count=1); KIND is one of\n"
        "                      silence badcrc split stray foreign error latency hangup\n"
        "                      (param: split/latency/hangup milliseconds, stray byte count)\n"
        "  --help              this text\n");
}

bool parseUnsigned(const char* text, unsigned long max, unsigned long* value)
{
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (*text == '\0' || *text == '-' || *end != '\0' || v > max)
        return false;
    *value = v;
    return true;
}

struct FaultRequest {
    FaultKind kind;
    int count = 0;
    double rate = -1;
    int param = 0;
};

bool parseFault(const std::string& text, FaultRequest* request, std::string* error)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    if (!faultFromName(parts[0], &request->kind)) {
        *error = "unknown fault kind \"" + parts[0] + "\"";
        return false;
    }
    request->count = 1;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        unsigned long n = 0;
        if (p.rfind("count=", 0) == 0 && parseUnsigned(p.c_str() + 6, 1000000000, &n)) {
            request->count = static_cast<int>(n);
        } else if (p.rfind("rate=", 0) == 0) {
            char* end = nullptr;
            const double r = std::strtod(p.c_str() + 5, &end);
            if (*end != '\0' || !(r >= 0 && r <= 1)) {
                *error = "fault rate must lie in [0,1]: " + p;
                return false;
            }
            request->rate = r;
        } else if (p.rfind("param=", 0) == 0 && parseUnsigned(p.c_str() + 6, 3600000, &n)) {
            request->param = static_cast<int>(n);
        } else {
            *error = "bad fault option \"" + p + "\"";
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::vector<FaultRequest> faults;
    std::string explicitNumber;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kestra-sim: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        auto count = [&](const char* name, unsigned long max) {
            unsigned long n = 0;
            const char* text = value(name);
            if (!parseUnsigned(text, max, &n)) {
                std::fprintf(stderr, "kestra-sim: bad value for %s: %s\n", name, text);
                std::exit(2);
            }
            return n;
        };
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--number") {
            explicitNumber = value("--number");
            options.number = explicitNumber;
        } else if (arg == "--link") {
            options.linkPath = value("--link");
        } else if (arg == "--state") {
            options.stateFile = value("--state");
        } else if (arg == "--history") {
            options.historyRecords = static_cast<int>(count("--history", 1000000));
        } else if (arg == "--days") {
            options.historyDays = static_cast<int>(count("--days", 3650));
        } else if (arg == "--baud") {
            options.baud = static_cast<unsigned>(count("--baud", 4000000));
        } else if (arg == "--seed") {
            options.seed = static_cast<unsigned>(count("--seed", 0xFFFFFFFFul));
        } else if (arg == "--log") {
            options.logFile = value("--log");
        } else if (arg == "--scenario") {
            options.scenario = value("--scenario");
        } else if (arg == "--chunk") {
            options.chunkBytes = count("--chunk", 4096);
        } else if (arg == "--no-live-history") {
            options.liveHistory = false;
        } else if (arg == "--fault") {
            FaultRequest request { FaultKind::Silence };
            std::string error;
            if (!parseFault(value("--fault"), &request, &error)) {
                std::fprintf(stderr, "kestra-sim: %s\n", error.c_str());
                return 2;
            }
            faults.push_back(request);
        } else {
            std::fprintf(stderr, "kestra-sim: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    // Block the stop signals before the simulator's thread exists, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator simulator(options);
    std::string error;
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "kestra-sim: %s\n", error.c_str());
        return 1;
    }
    if (!explicitNumber.empty()) {
        Settings settings = simulator.settings();
        settings.number = explicitNumber;
        simulator.setSettings(settings);
    }
    for (const FaultRequest& f : faults) {
        if (f.rate >= 0)
            simulator.setFaultRate(f.kind, f.rate, f.param);
        else
            simulator.injectFault(f.kind, f.count, f.param);
    }
    std::printf("%s\n", simulator.slavePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "kestra-sim: instrument %s on %s\n", simulator.number().c_str(), simulator.ptyPath().c_str());

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.stop();
    std::fprintf(stderr, "kestra-sim: stopped by signal %d\n", signal);
    return 0;
}
