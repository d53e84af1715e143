// kestractl's command line, its help text and its shell completion.
#include "ctl_format.h"
#include "ctl_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace kestra::ctl;

namespace {

ParsedCommandLine parse(std::vector<std::string> args, const char* envPort = nullptr)
{
    return parseCommandLine(args, envPort);
}

TEST(CommandLine, OptionsAnywhereAndTheirValues)
{
    struct Case {
        std::vector<std::string> args;
        const char* env;
        std::string port;
        int baud;
        bool raw;
        bool json;
        std::string command;
        std::vector<std::string> rest;
    };
    const Case cases[] = {
        { { "--port", "/dev/ttyUSB0", "get", "der1" }, nullptr, "/dev/ttyUSB0", 115200, false, false, "get",
            { "der1" } },
        { { "get", "der1", "--raw", "--port=/dev/pts/3" }, nullptr, "/dev/pts/3", 115200, true, false, "get",
            { "der1" } },
        { { "--json", "history", "--baud", "9600" }, "/dev/ttyS0", "/dev/ttyS0", 9600, false, true, "history", {} },
        { { "--port", "a", "identify" }, "env", "a", 115200, false, false, "identify", {} }, // option beats env
        { { "crc", "--", "--raw" }, nullptr, "", 115200, false, false, "crc", { "--raw" } },
        { { "--baud=9600", "--json", "time", "--port", "p", "--port=q" }, nullptr, "q", 9600, false, true, "time", {} },
        { { "set", "k-beta", "-5" }, nullptr, "", 115200, false, false, "set", { "k-beta", "-5" } },
    };
    for (const Case& c : cases) {
        ParsedCommandLine parsed = parse(c.args, c.env);
        ASSERT_TRUE(parsed.options) << c.args[0] << ": " << parsed.error;
        EXPECT_EQ(parsed.options->port, c.port);
        EXPECT_EQ(parsed.options->baud, c.baud);
        EXPECT_EQ(parsed.options->raw, c.raw);
        EXPECT_EQ(parsed.options->json, c.json);
        EXPECT_EQ(parsed.options->command, c.command);
        EXPECT_EQ(parsed.options->args, c.rest);
    }
}

TEST(CommandLine, UsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        { "--port" },
        { "--port=", "identify" },
        { "--baud", "fast", "identify" },
        { "--baud", "0", "identify" },
        { "--log" },
        { "--verbose", "identify" },
        { "--raw=1", "identify" },
        { "-x", "identify" },
        { "identify", "--baud" },
    };
    for (const auto& args : bad) {
        ParsedCommandLine parsed = parse(args);
        EXPECT_FALSE(parsed.options) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error; // one line
    }
    // What the person reads names the option.
    EXPECT_EQ(parse({ "--verbose", "identify" }).error, "unknown option --verbose");
    EXPECT_EQ(parse({ "identify", "--log" }).error, "--log needs a value");
    EXPECT_EQ(parse({ "--port=", "identify" }).error, "--port needs a device path");
    EXPECT_EQ(parse({ "--raw=1", "identify" }).error, "--raw takes no value");
    EXPECT_TRUE(parse({ "--help" }).options->help);
    EXPECT_TRUE(parse({ "-h" }).options->help);
    EXPECT_TRUE(parse({ "--version" }).options->version);

    auto arity = [](std::vector<std::string> args) {
        ParsedCommandLine parsed = parseCommandLine(args, nullptr);
        return parsed.options ? checkCommandArity(*parsed.options) : parsed.error;
    };
    EXPECT_EQ(arity({ "crc", "abc" }), ""); // needs no port
    EXPECT_NE(arity({ "identify" }).find("no port"), std::string::npos);
    EXPECT_NE(arity({ "--port", "p", "set", "der1" }).find("needs more"), std::string::npos);
    EXPECT_NE(arity({ "--port", "p", "identify", "x" }).find("at most 0"), std::string::npos);
    EXPECT_NE(arity({ "--port", "p", "frobnicate" }).find("unknown command"), std::string::npos);
    EXPECT_EQ(arity({ "--port", "p", "autocal", "start", "80", "2", "50" }), "");
}

TEST(CommandLine, CompletionKnowsEveryOptionAndCommand)
{
    std::ifstream in(KESTRACTL_COMPLETION);
    std::stringstream text;
    text << in.rdbuf();
    ASSERT_FALSE(text.str().empty()) << KESTRACTL_COMPLETION;
    auto words = [&](const std::string& variable) {
        std::size_t at = text.str().find(variable + "=\"");
        EXPECT_NE(at, std::string::npos) << variable;
        std::size_t begin = at + variable.size() + 2;
        std::istringstream list(text.str().substr(begin, text.str().find('"', begin) - begin));
        std::vector<std::string> found;
        for (std::string word; list >> word;)
            found.push_back(word);
        return found;
    };
    EXPECT_EQ(words("options"), optionNames());
    EXPECT_EQ(words("commands"), commandNames());
    std::vector<std::string> settings;
    for (const SettingInfo& s : settingTable())
        settings.emplace_back(s.name);
    EXPECT_EQ(words("settings"), settings);
    for (const std::string& option : optionNames())
        EXPECT_NE(usageText().find(option), std::string::npos) << option;
}

} // namespace
