#include "ctl_commands.h"
#include "ctl_format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestra::ctl {

namespace {

std::string jsonBool(bool value)
{
    return value ? "true" : "false";
}

std::string hexWord(unsigned value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%04X", value & 0xFFFFu);
    return buffer;
}

std::string jsonStringList(const std::vector<std::string>& texts)
{
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i)
        out += (i ? "," : "") + jsonString(texts[i]);
    return out + "]";
}

void addAlarm(Report& report, uint16_t alarm)
{
    std::vector<std::string> texts = alarmTexts(alarm);
    std::string text = hexWord(alarm);
    if (texts.empty()) {
        text += " (none)";
    } else {
        text += " (";
        for (std::size_t i = 0; i < texts.size(); ++i)
            text += (i ? "; " : "") + texts[i];
        text += ")";
    }
    report.add("alarm", "alarm", text, std::to_string(alarm));
    report.add("", "alarms", "", jsonStringList(texts));
}

int runIdentify(Session& session, const Options& options)
{
    char16_t fullId[KESTRADRV_TEXT_SIZE] = {};
    char16_t number[KESTRADRV_TEXT_SIZE] = {};
    session.require([&] { return KESTRAdrv_FindDevice(fullId, number); }, "identifying the instrument");
    std::string full = utf16ToUtf8(fullId, KESTRADRV_TEXT_SIZE);
    std::string digits = utf16ToUtf8(number, KESTRADRV_TEXT_SIZE);
    Report report;
    report.add("instrument", "id", printable(full), jsonString(full));
    report.add("number", "number", printable(digits), jsonString(digits));
    printReport(options, report);
    return ExitOk;
}

Action prepareSetNumber(const Options& options)
{
    const std::string& text = options.args[0];
    bool none = text == "none";
    bool valid = !text.empty() && text.size() <= 32;
    for (char c : text)
        valid = valid && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_');
    if (!valid)
        usageError("an instrument number is 1 to 32 letters, digits, '-' or '_' (or 'none')");
    std::u16string number = toDriverText(text, "the number");
    return [&options, none, number](Session& session) {
        session.require([&] { return KESTRAdrv_SetDeviceNumber(none ? nullptr : number.c_str()); },
            "setting the instrument number");
        return runIdentify(session, options);
    };
}

int runInfo(Session& session, const Options& options)
{
    int32_t mode = 0;
    double value = 0;
    int32_t precision = 0;
    uint16_t alarm = 0;
    uint8_t status = 0;
    session.require([&] { return KESTRAdrv_GetMeasurementValue(&mode, &value, &precision, &alarm, &status); },
        "reading the measurement");
    Report report;
    report.add("mode", "mode", options.raw ? std::to_string(mode) : modeName(mode), std::to_string(mode));
    if (options.json)
        report.add("", "mode_name", "", jsonString(modeName(mode)));
    std::string_view unit = readingUnit(mode);
    if (unit.empty()) {
        report.add("reading", "value", "none", "null");
    } else {
        double shown = mode == 3 ? value / 100.0 : value;
        report.add(
            "reading", "value", options.raw ? formatShortest(value) : formatReading(mode, value), jsonNumber(shown));
        if (options.json) {
            report.add("", "unit", "", jsonString(unit));
            report.add("", "raw", "", jsonNumber(value));
        }
        report.add("precision", "precision", "\xC2\xB1" + std::to_string(precision) + "%", std::to_string(precision));
    }
    addAlarm(report, alarm);
    if (mode >= 4 && mode <= 8)
        report.add("beta status", "status", std::to_string(status) + " (" + betaStatusText(status) + ")",
            std::to_string(status));
    printReport(options, report);
    return ExitOk;
}

int runAlarm(Session& session, const Options& options)
{
    uint16_t alarm = 0;
    int32_t result = KESTRAdrv_GetAlarmInfo(&alarm);
    if (result < 0)
        session.fail("reading the alarm word failed: the instrument did not answer or refused");
    if (result == 1)
        throw CommandError { ExitFailure, "the instrument's status reply carries no alarm word" };
    Report report;
    addAlarm(report, alarm);
    printReport(options, report);
    return ExitOk;
}

int runMode(Session& session, const Options& options)
{
    int32_t mode = 0;
    session.require([&] { return KESTRAdrv_GetDeviceMode(&mode); }, "reading the mode");
    if (options.json)
        print("{\"mode\": " + std::to_string(mode) + ", \"mode_name\": " + jsonString(modeName(mode)) + "}\n");
    else
        print((options.raw ? std::to_string(mode) : modeName(mode) + " (" + std::to_string(mode) + ")") + "\n");
    return ExitOk;
}

Action prepareSetMode(const Options& options)
{
    std::optional<int> mode = parseSelectableMode(options.args[0]);
    if (!mode)
        usageError("mode must be gamma, beta1, beta2 or beta-search (3, 4, 5 or 8)");
    return [mode = *mode](Session& session) {
        session.require([&] { return KESTRAdrv_SetDeviceMode(mode); }, "switching to mode " + modeName(mode));
        // Both beta modes go out as the same word, so only the instrument knows which it chose.
        int32_t now = 0;
        session.require([&] { return KESTRAdrv_GetDeviceMode(&now); }, "reading the mode back");
        print("mode: " + modeName(now) + " (" + std::to_string(now) + ")\n");
        return int(ExitOk);
    };
}

int runDose(Session& session, const Options& options)
{
    double rate = 0;
    int32_t time = 0;
    int32_t dose = 0;
    session.require([&] { return KESTRAdrv_GetDose(&rate, &time, &dose); }, "reading the dose");
    Report report;
    report.add(
        "dose rate", "rate", options.raw ? formatShortest(rate) : formatDoseRate(rate), jsonNumber(rate / 100.0));
    report.add("accumulation time", "time",
        options.raw ? std::to_string(time) : formatDuration(time) + " (" + std::to_string(time) + " s)",
        std::to_string(time));
    report.add(
        "accumulated dose", "dose", options.raw ? std::to_string(dose) : formatDose(dose), jsonNumber(dose / 100.0));
    if (options.json) {
        report.add("", "rate_raw", "", jsonNumber(rate));
        report.add("", "dose_raw", "", std::to_string(dose));
    }
    printReport(options, report);
    return ExitOk;
}

int runBattery(Session& session, const Options& options)
{
    int32_t value = 0;
    session.require([&] { return KESTRAdrv_GetBattery(&value); }, "reading the battery");
    // The instrument counts 0 to 10 bars; the driver's tenfold value reads as a percentage.
    Report report;
    report.add(
        "battery", "battery", options.raw ? std::to_string(value) : std::to_string(value) + "%", std::to_string(value));
    printReport(options, report);
    return ExitOk;
}

int runHistory(Session& session, const Options& options)
{
    int32_t count = 0;
    KESTRAdrv_EventRecord* records = nullptr;
    session.require([&] { return KESTRAdrv_GetHistory(&count, &records); }, "downloading the history");
    if (count < 0 || (count > 0 && !records))
        throw CommandError { ExitFailure, "the driver returned an inconsistent history" };
    std::span<const KESTRAdrv_EventRecord> events(records, static_cast<std::size_t>(count));
    print(options.json ? historyJson(events) : historyTable(events, options.raw));
    return ExitOk;
}

int runTime(Session& session, const Options& options)
{
    SYSTEMTIME time {};
    session.require([&] { return KESTRAdrv_GetDeviceTime(&time); }, "reading the instrument's clock");
    std::string text = formatSystemTime(time);
    if (options.json) {
        std::string iso = text;
        iso[10] = 'T';
        print("{\"time\": " + jsonString(iso) + "}\n");
    } else {
        print(text + "\n");
    }
    return ExitOk;
}

Action prepareAutocalStart(const Options& options)
{
    if (options.args.size() != 4)
        usageError("usage: autocal start RATE TOLERANCE PRECISION");
    const SettingInfo rateSetting { "rate", SettingKind::DoseRate, "\xC2\xB5Sv/h", "", true, 0.01, 1e7, 1, 1e9 };
    SettingValue rate = parseSettingValue(rateSetting, options.args[1], options.raw);
    if (!rate.raw)
        usageError(rate.error);
    std::optional<long long> tolerance = parseInteger(options.args[2]);
    std::optional<long long> precision = parseInteger(options.args[3]);
    // Both travel as two decimal digits.
    if (!tolerance || *tolerance < 0 || *tolerance > 99 || !precision || *precision < 0 || *precision > 99)
        usageError("tolerance and precision are whole percentages from 0 to 99");
    auto r = static_cast<int32_t>(*rate.raw);
    auto t = static_cast<int32_t>(*tolerance);
    auto p = static_cast<int32_t>(*precision);
    return [r, t, p](Session& session) {
        session.require([&] { return KESTRAdrv_SetAutocalibration(r, t, p); }, "starting the autocalibration");
        print("autocalibration started at " + formatDoseRate(r) + "\n");
        return int(ExitOk);
    };
}

int runAutocalParams(Session& session, const Options& options)
{
    int32_t rate = 0;
    int32_t tolerance = 0;
    int32_t precision = 0;
    session.require(
        [&] { return KESTRAdrv_GetAutocalParams(&rate, &tolerance, &precision); }, "reading the autocalibration");
    Report report;
    report.add(
        "reference rate", "rate", options.raw ? std::to_string(rate) : formatDoseRate(rate), jsonNumber(rate / 100.0));
    report.add("tolerance", "tolerance", std::to_string(tolerance) + "%", std::to_string(tolerance));
    report.add("precision", "precision", std::to_string(precision) + "%", std::to_string(precision));
    printReport(options, report);
    return ExitOk;
}

Action prepareAutocal(const Options& options)
{
    const std::string& action = options.args[0];
    if (action == "start")
        return prepareAutocalStart(options);
    if (action != "stop" && action != "status" && action != "params")
        usageError("autocal takes start, stop, status or params");
    if (options.args.size() != 1)
        usageError("'autocal " + action + "' takes no further arguments");
    if (action == "params")
        return [&options](Session& session) { return runAutocalParams(session, options); };
    if (action == "stop")
        return [](Session& session) {
            session.require([] { return KESTRAdrv_StopAutocalibration(); }, "stopping the autocalibration");
            print("autocalibration stopped\n");
            return int(ExitOk);
        };
    return [&options](Session& session) {
        uint8_t running = 0;
        session.require([&] { return KESTRAdrv_GetAutocalibration(&running); }, "reading the autocalibration state");
        if (options.json)
            print("{\"running\": " + jsonBool(running) + "}\n");
        else
            print(options.raw ? std::to_string(running) + "\n" : running ? "running\n" : "not running\n");
        return int(ExitOk);
    };
}

Action prepareVersion(const Options& options)
{
    std::optional<long long> part = parseInteger(options.args[0]);
    if (!part || *part < 0 || *part > 99)
        usageError("the detector part is a number from 0 to 99");
    return [&options, part = static_cast<int32_t>(*part)](Session& session) {
        char text[KESTRADRV_TEXT_SIZE] = {};
        session.require([&] { return KESTRAdrv_GetDeviceVersion(part, text); },
            "reading the version of part " + std::to_string(part));
        text[KESTRADRV_TEXT_SIZE - 1] = '\0';
        std::string version(text);
        if (options.json)
            print("{\"part\": " + std::to_string(part) + ", \"version\": " + jsonString(version) + "}\n");
        else
            print(printable(version) + "\n");
        return int(ExitOk);
    };
}

int runMenu(Session& session, const Options& options)
{
    uint8_t menu[KESTRADRV_MENU_READ_SIZE] = {};
    session.require([&] { return KESTRAdrv_GetDeviceMenu(menu); }, "reading the menu");
    std::span<const uint8_t> all(menu, KESTRADRV_MENU_READ_SIZE);
    std::string writable = toHex(all.first(KESTRADRV_MENU_WRITE_SIZE));
    if (options.json)
        print("{\"menu\": " + jsonString(writable) + ", \"read\": " + jsonString(toHex(all)) + "}\n");
    else
        print((options.raw ? toHex(all) : writable) + "\n");
    return ExitOk;
}

Action prepareSetMenu(const Options& options)
{
    auto menu = parseMenuHex(options.args[0]);
    if (!menu)
        usageError("the menu is " + std::to_string(KESTRADRV_MENU_WRITE_SIZE) + " bytes: exactly "
            + std::to_string(2 * KESTRADRV_MENU_WRITE_SIZE) + " hex digits");
    return [menu = *menu](Session& session) {
        session.require([&] { return KESTRAdrv_SetDeviceMenu(menu.data()); }, "writing the menu");
        print("menu written\n");
        return int(ExitOk);
    };
}

std::vector<uint8_t> readFirmware(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw CommandError { ExitFailure, "cannot open firmware file " + path + ": " + std::strerror(errno) };
    struct stat info { };
    std::string problem;
    if (fstat(fd, &info) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        problem = "not a regular file";
    else if (info.st_size == 0)
        problem = "the file is empty";
    else if (static_cast<unsigned long long>(info.st_size) > MaxFirmwareSize)
        problem = "the file has " + std::to_string(info.st_size) + " bytes; a firmware image has at most "
            + std::to_string(MaxFirmwareSize);
    std::vector<uint8_t> image;
    if (problem.empty()) {
        image.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < image.size()) {
            ssize_t n = ::read(fd, image.data() + done, image.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                problem = n < 0 ? std::strerror(errno) : "the file shrank while it was read";
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    if (!problem.empty())
        throw CommandError { ExitFailure, "firmware file " + path + ": " + problem };
    return image;
}

Action prepareFirmware(const Options& options)
{
    auto image = std::make_shared<const std::vector<uint8_t>>(readFirmware(options.args[0]));
    return [image](Session& session) {
        std::fprintf(stderr, "sending %zu bytes of firmware; do not disconnect the instrument...\n", image->size());
        session.require([&] { return KESTRAdrv_WriteDeviceProg(image->data(), static_cast<int32_t>(image->size())); },
            "loading the firmware");
        print("firmware accepted (" + std::to_string(image->size()) + " bytes); the instrument is loading it\n");
        return int(ExitOk);
    };
}

} // namespace

int runCrc(const Options& options)
{
    const std::string& text = options.args[0];
    if (text.size() > static_cast<std::size_t>(INT32_MAX))
        usageError("text too long");
    uint16_t crc
        = KESTRAdrv_GetCmdCRC(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", crc);
    if (options.json)
        print("{\"crc\": " + jsonString(hex) + ", \"value\": " + std::to_string(crc) + "}\n");
    else
        print((options.raw ? std::to_string(crc) : std::string(hex)) + "\n");
    return ExitOk;
}

namespace {

/// Turns a plain driver call into an action that prints a confirmation.
Action simple(uint8_t (*call)(), std::string what, std::string done)
{
    return [call, what, done](Session& session) {
        session.require(call, what);
        print(done + "\n");
        return int(ExitOk);
    };
}

Action prepareOnOff(const Options& options, uint8_t (*call)(uint8_t), std::string what, std::string on, std::string off)
{
    std::optional<bool> flag = parseOnOff(options.args[0]);
    if (!flag)
        usageError("'" + options.command + "' takes on or off");
    return [call, what, done = *flag ? on : off, value = *flag](Session& session) {
        session.require([&] { return call(value ? 1 : 0); }, what);
        print(done + "\n");
        return int(ExitOk);
    };
}

Action prepareResetStat(const Options& options)
{
    int kind = 0;
    if (!options.args.empty()) {
        std::optional<bool> flag = parseOnOff(options.args[0]);
        if (!flag)
            usageError("'reset-stat' takes nothing, on or off");
        kind = *flag ? 1 : 2;
    }
    return [kind](Session& session) {
        session.require([&] { return KESTRAdrv_ResetStatistic(kind); }, "resetting the statistics");
        print(kind == 0 ? "statistics reset\n" : kind == 1 ? "statistics reset on\n" : "statistics reset off\n");
        return int(ExitOk);
    };
}

} // namespace

Action prepare(const Options& options)
{
    using Run = int (*)(Session&, const Options&);
    auto bind = [&options](Run run) { return Action([run, &options](Session& s) { return run(s, options); }); };
    const std::string& command = options.command;
    if (command == "identify")
        return bind(runIdentify);
    if (command == "set-number")
        return prepareSetNumber(options);
    if (command == "info")
        return bind(runInfo);
    if (command == "alarm")
        return bind(runAlarm);
    if (command == "mode")
        return bind(runMode);
    if (command == "set-mode")
        return prepareSetMode(options);
    if (command == "dose")
        return bind(runDose);
    if (command == "reset-dose")
        return simple(KESTRAdrv_ResetDose, "clearing the dose", "accumulated dose cleared");
    if (command == "reset-stat")
        return prepareResetStat(options);
    if (command == "battery")
        return bind(runBattery);
    if (command == "history")
        return bind(runHistory);
    if (command == "clear-history")
        return simple(KESTRAdrv_ClearHistory, "clearing the history", "history cleared");
    if (command == "get")
        return prepareGet(options);
    if (command == "set")
        return prepareSet(options);
    if (command == "time")
        return bind(runTime);
    if (command == "set-time")
        return bind([](Session& session, const Options& o) {
            session.require([] { return KESTRAdrv_SetDeviceTime(); }, "setting the instrument's clock");
            return runTime(session, o);
        });
    if (command == "lock")
        return prepareOnOff(options, KESTRAdrv_SetDeviceLock, "locking the keys", "keys locked", "keys unlocked");
    if (command == "menu")
        return bind(runMenu);
    if (command == "set-menu")
        return prepareSetMenu(options);
    if (command == "autocal")
        return prepareAutocal(options);
    if (command == "version")
        return prepareVersion(options);
    if (command == "firmware")
        return prepareFirmware(options);
    usageError("unknown command '" + printable(command) + "'");
}

} // namespace kestra::ctl
