#include "ctl_options.h"

#include "ctl_format.h"
#include "ctl_strings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <string_view>

namespace kestra::ctl {

namespace {

constexpr std::string_view ValueOptions[] = { "--port", "--baud", "--log" };
constexpr std::string_view FlagOptions[] = { "--raw", "--json", "--help", "-h", "--version" };

/// One line for a person out of the library's report of a bad command line.
std::string usageMessage(const CLI::ParseError& error)
{
    std::string text = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        std::size_t colon = text.find(": ");
        return "unknown option " + (colon == std::string::npos ? text : text.substr(colon + 2));
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        std::string name = text.substr(0, text.find(':'));
        if (text.find("flag override") != std::string::npos)
            return "--" + text.substr(0, text.find(' ')) + " takes no value";
        if (text.find("missing") != std::string::npos)
            return name + " needs a value";
    }
    return text;
}

} // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args, const char* envPort)
{
    ParsedCommandLine result;
    Options options;
    if (envPort)
        options.port = envPort;

    // The library reads "--port=" as "--port" followed by the next word; an empty value after
    // '=' is given to it as an empty word instead, so that the checks below name it.
    std::vector<std::string> words;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        optionsEnded = optionsEnded || arg == "--";
        std::string_view name(arg);
        if (!optionsEnded && name.ends_with('=')
            && std::find(std::begin(ValueOptions), std::end(ValueOptions), name.substr(0, name.size() - 1))
                != std::end(ValueOptions)) {
            words.emplace_back(name.substr(0, name.size() - 1));
            words.emplace_back();
        } else {
            words.push_back(arg);
        }
    }

    CLI::App app("kestractl");
    app.set_help_flag(); // the help text is ours, grouped as the commands are
    std::string baudText;
    std::string logText;
    std::vector<std::string> positional;
    CLI::Option* port = app.add_option("--port", options.port);
    CLI::Option* baud = app.add_option("--baud", baudText);
    CLI::Option* log = app.add_option("--log", logText);
    for (CLI::Option* option : { port, baud, log })
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--raw", options.raw)->disable_flag_override();
    app.add_flag("--json", options.json)->disable_flag_override();
    app.add_flag("-h,--help", options.help)->disable_flag_override();
    app.add_flag("--version", options.version)->disable_flag_override();
    app.add_option("command", positional);
    try {
        std::reverse(words.begin(), words.end()); // the library takes the words last first
        app.parse(words);
    } catch (const CLI::ParseError& error) {
        result.error = usageMessage(error);
        return result;
    }

    if (port->count() > 0 && options.port.empty()) {
        result.error = "--port needs a device path";
        return result;
    }
    if (baud->count() > 0) {
        std::optional<long long> rate = parseInteger(baudText);
        if (!rate || *rate <= 0 || *rate > 4000000) {
            result.error = "--baud needs a line rate between 1 and 4000000";
            return result;
        }
        options.baud = static_cast<int>(*rate);
    }
    if (log->count() > 0) {
        if (logText.empty()) {
            result.error = "--log needs a directory";
            return result;
        }
        options.logDir = logText;
    }
    if (!positional.empty()) {
        options.command = positional.front();
        options.args.assign(positional.begin() + 1, positional.end());
    } else if (!options.help && !options.version) {
        result.error = "no command given";
        return result;
    }
    result.options = std::move(options);
    return result;
}

namespace {
struct CommandArity {
    std::string_view name;
    std::size_t minArgs;
    std::size_t maxArgs;
    bool needsPort;
};

constexpr CommandArity Commands[] = {
    { "crc", 1, 1, false },
    { "identify", 0, 0, true },
    { "set-number", 1, 1, true },
    { "info", 0, 0, true },
    { "alarm", 0, 0, true },
    { "mode", 0, 0, true },
    { "set-mode", 1, 1, true },
    { "dose", 0, 0, true },
    { "reset-dose", 0, 0, true },
    { "reset-stat", 0, 1, true },
    { "battery", 0, 0, true },
    { "history", 0, 0, true },
    { "clear-history", 0, 0, true },
    { "get", 1, 1, true },
    { "set", 2, 2, true },
    { "time", 0, 0, true },
    { "set-time", 0, 0, true },
    { "lock", 1, 1, true },
    { "menu", 0, 0, true },
    { "set-menu", 1, 1, true },
    { "autocal", 1, 4, true },
    { "version", 1, 1, true },
    { "firmware", 1, 1, true },
};
} // namespace

std::string checkCommandArity(const Options& options)
{
    for (const CommandArity& c : Commands) {
        if (c.name != options.command)
            continue;
        if (options.args.size() < c.minArgs)
            return "'" + options.command + "' needs more arguments";
        if (options.args.size() > c.maxArgs)
            return "'" + options.command + "' takes at most " + std::to_string(c.maxArgs) + " argument"
                + (c.maxArgs == 1 ? "" : "s");
        if (c.needsPort && options.port.empty())
            return "no port given: use --port PATH or set KESTRA_PORT";
        return {};
    }
    return "unknown command '" + printable(options.command) + "'";
}

std::string usageText()
{
    return R"(usage: kestractl [options] <command> [arguments]

Options:
  --port PATH   serial port of the instrument (default: $KESTRA_PORT); a bare name is
                looked up under /dev, COMn means /dev/ttyS(n-1)
  --baud N      line rate (default 115200)
  --log DIR     keep the driver log in DIR/KESTRAdrv.log; without it the log goes to a
                temporary directory, is shown on failure and removed at exit
  --raw         the driver's own numbers (1e-8 Sv/h, 1e-8 Sv, ...) in output and input
  --json        JSON output (info, alarm, dose, battery, identify, mode, time, get,
                history, autocal status|params, version, menu, crc)
  -h, --help    this text
  --version     the program's version

Commands:
  identify                  instrument identity and number
  set-number N|none         give the instrument a new number ("none": no number)
  info                      mode, current reading, alarm word, beta status
  alarm                     alarm word alone
  mode                      operating mode
  set-mode MODE             gamma, beta (beta1, beta2: the instrument picks which) or
                            beta-search (or 3, 4, 5, 8); prints the mode now set
  dose                      dose rate, accumulation time, accumulated dose
  reset-dose                clear the accumulated dose
  reset-stat [on|off]       reset the statistics (or switch the reset on/off)
  battery                   battery value
  history                   event history as a table (or --json)
  clear-history             empty the instrument's history memory
  get NAME | get all        read a setting (names below) or all of them
  set NAME VALUE            write a setting
  time                      the instrument's clock
  set-time                  set the instrument's clock to this computer's local time
  lock on|off               lock or unlock the instrument's keys
  menu                      menu bytes as 56 hex digits (--raw: all 29 bytes read)
  set-menu HEX56            write the 28 menu bytes
  autocal start RATE TOL PREC   start the gamma autocalibration: reference rate in uSv/h,
                            tolerance and precision in percent (0-99)
  autocal stop|status|params
  version N                 detector version text of part N (0-99)
  firmware FILE             load a firmware image (at most 1 MiB)
  crc TEXT                  checksum of TEXT as the instrument computes it (no port needed)

Settings (get/set), values in the units shown; with --raw in driver units:
)" + []() {
        std::string lines;
        for (const SettingInfo& s : settingTable()) {
            std::string line = "  " + detail::padRight(std::string(s.name), 14) + std::string(s.description);
            bool bounded = s.kind != SettingKind::OnOff && s.kind != SettingKind::Units && s.min >= 0 && s.max <= 1e9;
            if (bounded)
                line += " (" + formatDecimal(s.min, 0, 6) + "-" + formatDecimal(s.max, 0, 6)
                    + (s.unit.empty() ? "" : " " + std::string(s.unit)) + ")";
            lines += line + "\n";
        }
        return lines;
    }() + R"(
Dose rates may be typed with a unit (uSv/h, mSv/h, Sv/h), doses too (uSv, mSv, Sv).

Exit status: 0 success, 1 the instrument or the port failed, 2 usage error.
)";
}

std::string versionText()
{
    return "kestractl " KESTRA_VERSION "\n";
}

std::vector<std::string> optionNames()
{
    std::vector<std::string> names(std::begin(ValueOptions), std::end(ValueOptions));
    names.insert(names.end(), std::begin(FlagOptions), std::end(FlagOptions));
    return names;
}

std::vector<std::string> commandNames()
{
    std::vector<std::string> names;
    for (const CommandArity& c : Commands)
        names.emplace_back(c.name);
    names.emplace_back("help");
    return names;
}

} // namespace kestra::ctl
