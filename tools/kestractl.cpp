// kestractl: the driver's exports from the command line, for technicians and scripts.

#include "KESTRAdrv.h"
#include "ctl_format.h"
#include "port_check.h"
#include "report.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace kestra::ctl;

namespace {

/// Ends a command with an exit status and a message for stderr.
struct CommandError {
    int exitCode;
    std::string message;
};

[[noreturn]] void usageError(const std::string& message)
{
    throw CommandError { ExitUsage, message };
}

std::u16string toDriverText(const std::string& text, const char* what)
{
    std::optional<std::u16string> wide = utf8ToUtf16(text);
    if (!wide)
        usageError(std::string(what) + " is not valid UTF-8 text");
    return *wide;
}

// The temporary log directory, for removal when a signal ends the run (fixed buffers: a
// signal handler may not allocate).
char g_tempLogFile[4096];
char g_tempLogDir[4096];

extern "C" void removeTempLogAndDie(int signal)
{
    unlink(g_tempLogFile);
    rmdir(g_tempLogDir);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

/// One connection to the instrument for the run of one command: checks the port, opens the
/// driver, and owns the driver log (a private temporary one unless --log names a directory).
class Session {
public:
    explicit Session(const Options& options)
        : m_options(options)
    {
    }

    ~Session()
    {
        if (m_open)
            KESTRAdrv_Close();
        if (m_tempLogDir.empty())
            return;
        unlink((m_tempLogDir + "/KESTRAdrv.log").c_str());
        rmdir(m_tempLogDir.c_str());
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void open()
    {
        std::string path = resolvePortPath(m_options.port);
        PortCheck check = checkPort(path);
        if (!check.ok) {
            std::string message = check.message;
            if (!message.empty() && message.back() == '\n')
                message.pop_back();
            throw CommandError { ExitFailure, message };
        }
        std::u16string port = toDriverText(m_options.port, "the port name");
        prepareLog();
        std::u16string logDir = toDriverText(m_logDir, "the log directory");
        if (!KESTRAdrv_Init(logDir.c_str(), port.c_str(), m_options.baud) || !KESTRAdrv_IsDrvInit())
            fail("the driver could not open and configure port " + path + " at " + std::to_string(m_options.baud)
                + " baud");
        m_open = true;
    }

    /// Reports a failed driver call with what the driver logged about it.
    [[noreturn]] void fail(const std::string& what) const
    {
        std::string message = what;
        std::string lines = newLogLines();
        if (lines.find("to COM port:") != std::string::npos && lines.find("from COM port:") == std::string::npos)
            message += "\nno reply came back: is the instrument switched on and connected to " + m_options.port + "?";
        if (!lines.empty()) {
            message += "\ndriver log:\n" + lines;
            message.pop_back();
        }
        if (m_tempLogDir.empty())
            message += "\n(the whole driver log is " + logPath() + ")";
        throw CommandError { ExitFailure, message };
    }

    /// Runs a driver call and fails with "what" when it reports failure.
    template <typename Call> void require(Call&& call, const std::string& what) const
    {
        if (!call())
            fail(what + " failed: the instrument did not answer or refused");
    }

private:
    std::string logPath() const { return m_logDir + "/KESTRAdrv.log"; }

    void prepareLog()
    {
        if (m_options.logDir) {
            m_logDir = *m_options.logDir;
            while (m_logDir.size() > 1 && m_logDir.back() == '/')
                m_logDir.pop_back();
            if (mkdir(m_logDir.c_str(), 0755) != 0 && errno != EEXIST)
                throw CommandError { ExitFailure,
                    "cannot create the log directory " + m_logDir + ": " + std::strerror(errno) };
            struct stat info { };
            if (stat(m_logDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || access(m_logDir.c_str(), W_OK) != 0)
                throw CommandError { ExitFailure, "the log directory " + m_logDir + " is not a writable directory" };
        } else {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestractl-XXXXXX";
            std::vector<char> buffer(pattern.begin(), pattern.end());
            buffer.push_back('\0');
            if (!mkdtemp(buffer.data()))
                throw CommandError { ExitFailure,
                    "cannot create a temporary directory for the driver log: " + std::string(std::strerror(errno)) };
            m_tempLogDir = buffer.data();
            m_logDir = m_tempLogDir;
            if (m_tempLogDir.size() + 16 < sizeof g_tempLogDir) {
                std::snprintf(g_tempLogDir, sizeof g_tempLogDir, "%s", m_tempLogDir.c_str());
                std::snprintf(g_tempLogFile, sizeof g_tempLogFile, "%s/KESTRAdrv.log", m_tempLogDir.c_str());
                for (int signal : { SIGINT, SIGTERM, SIGHUP })
                    std::signal(signal, removeTempLogAndDie);
            }
        }
        struct stat info { };
        m_logStart = stat(logPath().c_str(), &info) == 0 ? info.st_size : 0;
    }

    /// The last lines that the driver wrote during this run (bounded, printable).
    std::string newLogLines() const
    {
        constexpr std::streamoff maxTail = 4096;
        constexpr std::size_t maxLines = 12;
        std::ifstream file(logPath(), std::ios::binary);
        if (!file)
            return {};
        file.seekg(0, std::ios::end);
        std::streamoff size = file.tellg();
        std::streamoff from = size < m_logStart ? 0 : m_logStart; // the driver empties a full log
        if (size - from > maxTail)
            from = size - maxTail;
        file.seekg(from);
        std::string tail(static_cast<std::size_t>(size - from), '\0');
        file.read(tail.data(), static_cast<std::streamsize>(tail.size()));
        tail.resize(static_cast<std::size_t>(file.gcount()));
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < tail.size()) {
            std::size_t end = tail.find('\n', start);
            std::string line = tail.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                lines.push_back("  " + readableLogLine(line));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        std::size_t first = lines.size() > maxLines ? lines.size() - maxLines : 0;
        std::string out;
        for (std::size_t i = first; i < lines.size(); ++i)
            out += lines[i] + "\n";
        return out;
    }

    const Options& m_options;
    std::string m_logDir;
    std::string m_tempLogDir;
    std::streamoff m_logStart = 0;
    bool m_open = false;
};

void print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printReport(const Options& options, const Report& report)
{
    print(options.json ? report.json() : report.text());
}

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

// ---- settings -------------------------------------------------------------------------------

struct SettingAccess {
    std::string_view name;
    bool (*get)(double& value);
    bool (*set)(double value);
};

template <typename T, uint8_t (*Get)(T*)> bool getAs(double& value)
{
    T raw {};
    if (!Get(&raw))
        return false;
    value = static_cast<double>(raw);
    return true;
}

template <int Level, uint8_t (*Get)(int32_t, int32_t*)> bool getLevel(double& value)
{
    int32_t raw = 0;
    if (!Get(Level, &raw))
        return false;
    value = raw;
    return true;
}

const SettingAccess Accessors[] = {
    { "units", getAs<uint8_t, KESTRAdrv_GetMeasUnits>, [](double v) { return KESTRAdrv_SetMeasUnits(v != 0) != 0; } },
    { "sound", getAs<uint8_t, KESTRAdrv_GetSound>, [](double v) { return KESTRAdrv_SetSound(v != 0) != 0; } },
    { "light", getAs<uint8_t, KESTRAdrv_GetLight>, [](double v) { return KESTRAdrv_SetLight(v != 0) != 0; } },
    { "beep", getAs<uint8_t, KESTRAdrv_GetSearchBeep>, [](double v) { return KESTRAdrv_SetSearchBeep(v != 0) != 0; } },
    { "sigma", getAs<double, KESTRAdrv_GetCoeffN>, [](double v) { return KESTRAdrv_SetCoeffN(v) != 0; } },
    { "qm-timeout", getAs<uint16_t, KESTRAdrv_GetQMTimeOut>,
        [](double v) { return KESTRAdrv_SetQMTimeOut(static_cast<int32_t>(v)) != 0; } },
    { "der1", getLevel<1, KESTRAdrv_GetDERThresh>,
        [](double v) { return KESTRAdrv_SetDERThresh(1, static_cast<int32_t>(v)) != 0; } },
    { "der2", getLevel<2, KESTRAdrv_GetDERThresh>,
        [](double v) { return KESTRAdrv_SetDERThresh(2, static_cast<int32_t>(v)) != 0; } },
    { "de", getAs<double, KESTRAdrv_GetDEThresh>, [](double v) { return KESTRAdrv_SetDEThresh(v) != 0; } },
    { "hv", getAs<int32_t, KESTRAdrv_GetCoeffHV>,
        [](double v) { return KESTRAdrv_SetCoeffHV(static_cast<int32_t>(v)) != 0; } },
    { "k-der", getAs<double, KESTRAdrv_GetCoeffDER>, [](double v) { return KESTRAdrv_SetCoeffDER(v) != 0; } },
    { "k-beta", getAs<int32_t, KESTRAdrv_GetCoeffBeta>,
        [](double v) { return KESTRAdrv_SetCoeffBeta(static_cast<int32_t>(v)) != 0; } },
    { "k-alpha", getAs<int32_t, KESTRAdrv_GetCoeffAlpha>,
        [](double v) { return KESTRAdrv_SetCoeffAlpha(static_cast<int32_t>(v)) != 0; } },
    { "background", getAs<double, KESTRAdrv_GetDetBkg>, [](double v) { return KESTRAdrv_SetDetBkg(v) != 0; } },
    { "beta1", getLevel<1, KESTRAdrv_GetBetaThresh>,
        [](double v) { return KESTRAdrv_SetBetaThresh(1, static_cast<int32_t>(v)) != 0; } },
    { "beta2", getLevel<2, KESTRAdrv_GetBetaThresh>,
        [](double v) { return KESTRAdrv_SetBetaThresh(2, static_cast<int32_t>(v)) != 0; } },
    { "beta-search", getAs<double, KESTRAdrv_GetSearchBetaThr>,
        [](double v) { return KESTRAdrv_SetSearchBetaThr(v) != 0; } },
    { "hist-interval", getAs<uint16_t, KESTRAdrv_GetHistTime>,
        [](double v) { return KESTRAdrv_SetHistTime(static_cast<int32_t>(v)) != 0; } },
};

const SettingAccess& accessFor(const SettingInfo& setting)
{
    for (const SettingAccess& a : Accessors)
        if (a.name == setting.name)
            return a;
    throw CommandError { ExitFailure, "internal error: no accessor for " + std::string(setting.name) };
}

const SettingInfo& settingNamed(const std::string& name)
{
    const SettingInfo* setting = findSetting(name);
    if (!setting)
        usageError("unknown setting '" + printable(name) + "' (see kestractl --help)");
    return *setting;
}

/// Whether a value read back is the one written, within what the wire form keeps
/// (seven significant digits for "%E" values, one decimal for sigma).
bool sameStoredValue(const SettingInfo& setting, double written, double readBack)
{
    if (setting.integral)
        return std::llround(written) == std::llround(readBack);
    if (setting.name == "sigma")
        return std::fabs(written - readBack) < 0.05 + 1e-9;
    return std::fabs(written - readBack) <= 1e-6 * std::max(std::fabs(written), 1e-300) + 1e-9;
}

/// A command whose arguments have been checked; it runs once the port is open, so that a
/// usage error never touches the instrument.
using Action = std::function<int(Session&)>;

Action prepareGetAll(const Options& options)
{
    return [&options](Session& session) {
        Report report;
        std::vector<std::string> failed;
        for (const SettingInfo& setting : settingTable()) {
            double raw = 0;
            if (!accessFor(setting).get(raw)) {
                failed.emplace_back(setting.name);
                report.add(std::string(setting.name), std::string(setting.name), "(read failed)", "null");
                continue;
            }
            report.add(std::string(setting.name), std::string(setting.name),
                formatSettingValue(setting, raw, options.raw), settingJson(setting, raw));
        }
        printReport(options, report);
        if (!failed.empty()) {
            std::string list;
            for (const std::string& f : failed)
                list += (list.empty() ? "" : ", ") + f;
            session.fail("reading " + list + " failed");
        }
        return int(ExitOk);
    };
}

Action prepareGet(const Options& options)
{
    if (options.args[0] == "all")
        return prepareGetAll(options);
    const SettingInfo& setting = settingNamed(options.args[0]);
    return [&options, &setting](Session& session) {
        double raw = 0;
        session.require([&] { return accessFor(setting).get(raw); }, "reading " + std::string(setting.name));
        if (options.json)
            print(settingJson(setting, raw) + "\n");
        else
            print(formatSettingValue(setting, raw, options.raw) + "\n");
        return int(ExitOk);
    };
}

Action prepareSet(const Options& options)
{
    const SettingInfo& setting = settingNamed(options.args[0]);
    SettingValue value = parseSettingValue(setting, options.args[1], options.raw);
    if (!value.raw)
        usageError(value.error);
    double wanted = *value.raw;
    return [&options, &setting, wanted](Session& session) {
        const SettingAccess& access = accessFor(setting);
        session.require([&] { return access.set(wanted); }, "writing " + std::string(setting.name));
        // The instrument may accept a value and keep another; only a read-back tells.
        double readBack = 0;
        session.require([&] { return access.get(readBack); }, "reading back " + std::string(setting.name));
        if (!sameStoredValue(setting, wanted, readBack))
            throw CommandError { ExitFailure,
                std::string(setting.name) + ": the instrument kept "
                    + formatSettingValue(setting, readBack, options.raw) + " instead of "
                    + formatSettingValue(setting, wanted, options.raw) };
        print(std::string(setting.name) + " = " + formatSettingValue(setting, readBack, options.raw) + "\n");
        return int(ExitOk);
    };
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
        std::fprintf(stderr, "kestractl: %s\n(kestractl --help shows the commands)\n", parsed.error.c_str());
        return ExitUsage;
    }
    const Options& options = *parsed.options;
    if (options.help || options.command == "help") {
        print(usageText());
        return ExitOk;
    }
    if (std::string error = checkCommandArity(options); !error.empty()) {
        std::fprintf(stderr, "kestractl: %s\n(kestractl --help shows the commands)\n", error.c_str());
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
