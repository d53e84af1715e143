// kestra-sim: an instrument on a pseudo-terminal. Prints the port path on its first line and runs
// until SIGINT or SIGTERM.

#include "kestrasim/simulator.h"

#include <CLI/CLI.hpp>

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
        "  -h, --help          this text\n"
        "  --version           the program's version\n");
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

/// One line for a person out of the library's report of a bad command line.
std::string usageMessage(const CLI::ParseError& error)
{
    std::string text = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::size_t colon = text.find(": ");
        return "unknown option " + (colon == std::string::npos ? text : text.substr(colon + 2));
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        if (text.find("flag override") != std::string::npos)
            return "--" + text.substr(0, text.find(' ')) + " takes no value";
        if (text.find("missing") != std::string::npos)
            return text.substr(0, text.find(':')) + " needs a value";
    }
    return text;
}

[[noreturn]] void usageFailure(const std::string& message)
{
    std::fprintf(stderr, "kestra-sim: %s (kestra-sim --help lists the options)\n", message.c_str());
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::vector<FaultRequest> faults;
    std::string explicitNumber;
    std::string history, days, baud, seed, chunk;
    std::vector<std::string> faultTexts;
    bool help = false;
    bool version = false;
    bool noLiveHistory = false;

    CLI::App app("kestra-sim");
    app.set_help_flag(); // the help text is ours
    CLI::Option* number = app.add_option("--number", explicitNumber);
    std::vector<CLI::Option*> single = {
        number,
        app.add_option("--link", options.linkPath),
        app.add_option("--state", options.stateFile),
        app.add_option("--history", history),
        app.add_option("--days", days),
        app.add_option("--baud", baud),
        app.add_option("--seed", seed),
        app.add_option("--log", options.logFile),
        app.add_option("--scenario", options.scenario),
        app.add_option("--chunk", chunk),
    };
    for (CLI::Option* option : single)
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--fault", faultTexts)->allow_extra_args(false);
    app.add_flag("--no-live-history", noLiveHistory)->disable_flag_override();
    app.add_flag("-h,--help", help)->disable_flag_override();
    app.add_flag("--version", version)->disable_flag_override();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        usageFailure(usageMessage(error));
    }
    if (help) {
        usage(stdout);
        return 0;
    }
    if (version) {
        std::printf("kestra-sim %s\n", KESTRA_VERSION);
        return 0;
    }

    auto count = [](const char* name, const std::string& text, unsigned long max) {
        unsigned long n = 0;
        if (!parseUnsigned(text.c_str(), max, &n))
            usageFailure(std::string("bad value for ") + name + ": " + text);
        return n;
    };
    if (number->count() > 0)
        options.number = explicitNumber;
    if (!history.empty())
        options.historyRecords = static_cast<int>(count("--history", history, 1000000));
    if (!days.empty())
        options.historyDays = static_cast<int>(count("--days", days, 3650));
    if (!baud.empty())
        options.baud = static_cast<unsigned>(count("--baud", baud, 4000000));
    if (!seed.empty())
        options.seed = static_cast<unsigned>(count("--seed", seed, 0xFFFFFFFFul));
    if (!chunk.empty())
        options.chunkBytes = count("--chunk", chunk, 4096);
    if (noLiveHistory)
        options.liveHistory = false;
    for (const std::string& text : faultTexts) {
        FaultRequest request { FaultKind::Silence };
        std::string error;
        if (!parseFault(text, &request, &error))
            usageFailure(error);
        faults.push_back(request);
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
