#pragma once

// One run of a kestractl command against the instrument: the port, the driver and its log, and
// how a failure reaches the person.

#include "ctl_options.h"
#include "report.h"

#include <functional>
#include <ios>
#include <string>

namespace kestra::ctl {

/// Ends a command with an exit status and a message for stderr.
struct CommandError {
    int exitCode;
    std::string message;
};

[[noreturn]] void usageError(const std::string& message);

/// Text for the driver's UTF-16 interface; a usage error names `what` when it is not UTF-8.
std::u16string toDriverText(const std::string& text, const char* what);

/// One connection to the instrument for the run of one command: checks the port, opens the
/// driver, and owns the driver log (a private temporary one unless --log names a directory).
class Session {
public:
    explicit Session(const Options& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void open();

    /// Reports a failed driver call with what the driver logged about it.
    [[noreturn]] void fail(const std::string& what) const;

    /// Runs a driver call and fails with "what" when it reports failure.
    template <typename Call> void require(Call&& call, const std::string& what) const
    {
        if (!call())
            fail(what + " failed: the instrument did not answer or refused");
    }

private:
    std::string logPath() const { return m_logDir + "/KESTRAdrv.log"; }
    void prepareLog();
    /// The last lines that the driver wrote during this run (bounded, printable).
    std::string newLogLines() const;

    const Options& m_options;
    std::string m_logDir;
    std::string m_tempLogDir;
    std::streamoff m_logStart = 0;
    bool m_open = false;
};

/// A command whose arguments have been checked; it runs once the port is open, so that a
/// usage error never touches the instrument.
using Action = std::function<int(Session&)>;

void print(const std::string& text);
void printReport(const Options& options, const Report& report);

} // namespace kestra::ctl
