#pragma once

// The simulator's private state and its parts: the line (pseudo-terminal, pacing, hang-up) in
// simulator_line.cpp, the frames and faults in simulator.cpp.

#include "kestrasim/simulator.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kestra::sim {

using Clock = std::chrono::steady_clock;

inline constexpr int kFaultKinds = 8;
inline constexpr auto kWriteStall
    = std::chrono::seconds(2); // a reader that takes nothing for this long loses the reply
inline constexpr auto kTickPeriod = std::chrono::milliseconds(100);
inline constexpr auto kSavePeriod = std::chrono::seconds(1);
inline constexpr auto kSameNameWait = std::chrono::seconds(5); // how long a hang-up waits to get its old pty name back
inline constexpr std::size_t kMaxHeldPtys = 64;

/// Bytes for a log line: CR and LF by name, other control and non-ASCII bytes as \xNN.
std::string printableBytes(std::string_view bytes);

struct Simulator::Impl {
    struct Fault {
        int count = 0;
        double rate = 0;
        int param = 0;
        int applied = 0;
    };
    struct Plan {
        std::string reply;
        bool send = true;
        int latencyMs = 0;
        int hangUpMs = -1;
        int splitMs = -1;
    };

    Options options;
    mutable std::mutex mutex; // guards everything below that the thread and callers share
    Instrument instrument;
    Fault faults[kFaultKinds];
    std::mt19937 faultRng;
    std::vector<std::string> commands;
    std::vector<std::string> frames;
    std::map<std::string, std::string> overrides;
    int replies = 0;
    double timeShift = 0;
    std::string pty;
    Clock::time_point lastSave;

    // owned by the thread while it runs
    int master = -1;
    int slaveKeep = -1; // our own slave descriptor keeps the master from hanging up between clients
    std::string openedName; // the pty the thread has open, published to `pty` when it is final
    int wake[2] = { -1, -1 };
    FrameParser parser;
    Clock::time_point lineFreeAt;
    std::thread thread;
    std::atomic<bool> stopping { false };
    std::atomic<bool> lineUp { false };
    bool started = false;
    std::FILE* log = nullptr;
    std::mutex logMutex;

    explicit Impl(Options o)
        : options(std::move(o))
        , instrument(options.seed)
        , faultRng(options.seed * 2654435761u + 1)
    {
    }

    double now() const { return localSecondsSince1999Now() + timeShift; }

    void logLine(const char* direction, std::string_view text);

    // Sleeps until `until` unless stop() is called; false when stopping.
    bool pauseUntil(Clock::time_point until);

    // Opens a new pty; with `publish` it becomes the one callers see (and the link points to).
    bool openPty(std::string* error, bool publish = true);

    bool publishPty(std::string* error);

    bool linkPty(std::string* error);

    void closePty();

    void hangUp(int ms);

    // Writes all bytes, paced to the line rate when one is set. False when the reply was cut.
    bool writeReply(const std::string& data);

    bool writeSome(const char* data, std::size_t length);

    bool hits(FaultKind kind, int* param);

    std::string foreignNumber(const std::string& ours) const;

    // Runs the instrument for one frame and decides what goes back on the wire. Called under the lock.
    std::optional<Plan> plan(const Frame& frame);

    void handleFrame(const Frame& frame, Clock::time_point arrived);

    void saveIfDue(bool force);

    void run();
};

} // namespace kestra::sim
