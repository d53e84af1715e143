#include "ctl_session.h"

#include "ctl_format.h"
#include "port_check.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestra::ctl {

namespace {

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

} // namespace

void usageError(const std::string& message)
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

Session::Session(const Options& options)
    : m_options(options)
{
}

Session::~Session()
{
    if (m_open)
        KESTRAdrv_Close();
    if (m_tempLogDir.empty())
        return;
    unlink((m_tempLogDir + "/KESTRAdrv.log").c_str());
    rmdir(m_tempLogDir.c_str());
}

void Session::open()
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
        fail(
            "the driver could not open and configure port " + path + " at " + std::to_string(m_options.baud) + " baud");
    m_open = true;
}

void Session::fail(const std::string& what) const
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

void Session::prepareLog()
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

std::string Session::newLogLines() const
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

void print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printReport(const Options& options, const Report& report)
{
    print(options.json ? report.json() : report.text());
}

} // namespace kestra::ctl
