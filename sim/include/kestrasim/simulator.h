#pragma once

// The simulated instrument on a pseudo-terminal: owns the master side and runs the instrument on a
// thread of its own. A driver opens slavePath() as it would open a serial port.

#include "kestrasim/instrument.h"
#include "kestrasim/records.h"
#include "kestrasim/wire.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestra::sim {

enum class FaultKind { Silence, BadChecksum, Split, StrayBytes, ForeignNumber, ErrorReply, Latency, HangUp };

/// "silence", "badcrc", "split", "stray", "foreign", "error", "latency", "hangup".
const char* faultName(FaultKind kind);
bool faultFromName(const std::string& name, FaultKind* kind);

struct Options {
    std::string number = "123456"; // instrument number reported after "KESTRA #"
    unsigned baud = 0; // 0 = unthrottled; else pace both directions as that line would (10 bits per byte)
    std::string linkPath; // optional stable symlink to the slave path (re-pointed after a hang-up)
    std::string stateFile; // optional: settings and history survive restarts
    std::string logFile; // optional frame log
    int historyRecords = 0; // pre-filled history size (replaces a history loaded from the state file)
    int historyDays = 7; // spread over the last D days
    unsigned seed = 1; // deterministic noise and fault rates
    bool liveHistory = true; // append a measurement record every history interval of the clock
    std::string scenario; // scripted dose-rate source: a built-in name or a file (see Scenario)
    std::size_t chunkBytes = 0; // history bytes per chunk; 0 = as many as fit in the driver's buffer
};

class Simulator {
public:
    explicit Simulator(Options options = {});
    ~Simulator(); // stops the thread, closes the master, saves the state file
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Opens the pty master, loads the state file and scenario, starts the instrument thread.
    bool start(std::string* error = nullptr);
    void stop();
    bool running() const;
    /// False from a hang-up until the pty is back (under its old name when it can be had).
    bool lineUp() const;

    std::string slavePath() const; // the path a driver opens (linkPath if given)
    std::string ptyPath() const; // the current /dev/pts/N, whatever the link

    // Faults: for the next `count` replies, or at a rate in [0,1]; `param` is kind-specific
    // (Split: pause ms between pieces, default 50; Latency: ms, default 500; HangUp: ms before
    // coming back, default 1000; StrayBytes: count, default 4). Several kinds may hit one reply.
    void injectFault(FaultKind kind, int count, int param = 0);
    void setFaultRate(FaultKind kind, double rate, int param = 0);
    void clearFaults();
    int faultsApplied(FaultKind kind) const; // how many replies each kind has hit so far

    // What the instrument received: the command text of every valid frame addressed to it (the
    // bytes between "$XXXX " and " CRC="), in order; and the full frames (with CR LF).
    std::vector<std::string> commands() const;
    std::vector<std::string> frames() const;
    void clearCommands();
    int repliesSent() const;

    /// Replaces the reply payload for commands that start with `commandPrefix` (the command still
    /// runs; the simulator still wraps the payload). Longest prefix wins. Empty payload removes it.
    void setReplyOverride(const std::string& commandPrefix, const std::string& payload);

    // state
    std::string number() const;
    std::vector<RawRecord> history() const;
    void setHistory(std::vector<RawRecord> records);
    void appendHistory(const RawRecord& record);
    void setDoseRate(double svPerHour); // the dose rate the instrument measures now (Sv/h); stops a scenario
    void setBetaFlux(double cpmPerCm2);
    Settings settings() const; // a copy of every setting
    void setSettings(const Settings& settings);
    int mode() const;
    void setMode(int mode);
    bool locked() const;
    uint16_t alarmWord() const;
    uint32_t instrumentClock() const; // seconds since 1999-01-01 local
    bool autocalRunning() const;
    std::vector<uint8_t> firmwareReceived() const; // packets since the last start_loading
    std::vector<uint8_t> firmwareLoaded() const; // image taken by the last start_loading
    int firmwareLoads() const;
    /// Runs the instrument's time-driven behaviour as if `seconds` had passed on its clock
    /// (live history records, dose, alarms, autocalibration), without waiting.
    void advanceClock(double seconds);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kestra::sim
