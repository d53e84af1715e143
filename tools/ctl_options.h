#pragma once

// kestractl's command line: options, the command and its arguments, the help text.

#include <optional>
#include <string>
#include <vector>

namespace kestra::ctl {

enum ExitCode : int { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

inline constexpr int DefaultBaud = 115200;

struct Options {
    std::string port; // empty when neither --port nor KESTRA_PORT was given
    int baud = DefaultBaud;
    std::optional<std::string> logDir; // empty: a private temporary directory
    bool raw = false;
    bool json = false;
    bool help = false;
    bool version = false;
    std::string command;
    std::vector<std::string> args;
};

struct ParsedCommandLine {
    std::optional<Options> options; // set on success
    std::string error; // usage error text otherwise (one line)
};

/// Options may stand before or after the command, as "--name value" or "--name=value"; "--"
/// ends option parsing.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args, const char* envPort);

/// Checks the command name and its argument count; returns an error text or "".
std::string checkCommandArity(const Options& options);

std::string usageText();
/// "kestractl 1.0.0" and a line end.
std::string versionText();

/// The options and commands, one word a line, for shell completion.
std::vector<std::string> optionNames();
std::vector<std::string> commandNames();

} // namespace kestra::ctl
