// kestractl: the driver's exports from the command line, for technicians and scripts.

#include "ctl_commands.h"
#include "ctl_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

using namespace kestra::ctl;

namespace {

int runCommand(const Options& options)
{
    if (options.command == "crc")
        return runCrc(options);
    Action action = prepare(options);
    Session session(options);
    session.open();
    return action(session);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    ParsedCommandLine parsed = parseCommandLine(args, std::getenv("KESTRA_PORT"));
    if (!parsed.options) {
        std::fprintf(stderr, "kestractl: %s (kestractl --help shows the commands)\n", parsed.error.c_str());
        return ExitUsage;
    }
    const Options& options = *parsed.options;
    if (options.help || options.command == "help") {
        print(usageText());
        return ExitOk;
    }
    if (options.version) {
        print(versionText());
        return ExitOk;
    }
    if (std::string error = checkCommandArity(options); !error.empty()) {
        std::fprintf(stderr, "kestractl: %s (kestractl --help shows the commands)\n", error.c_str());
        return ExitUsage;
    }
    try {
        int code = runCommand(options);
        if (std::fflush(stdout) != 0) {
            std::fprintf(stderr, "kestractl: cannot write the output: %s\n", std::strerror(errno));
            return ExitFailure;
        }
        return code;
    } catch (const CommandError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "kestractl: %s\n", error.message.c_str());
        return error.exitCode;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestractl: %s\n", error.what());
        return ExitFailure;
    }
}
