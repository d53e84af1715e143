#include "kestrasim/simulator.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kestra::sim {

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFaultKinds = 8;
constexpr auto kWriteStall = std::chrono::seconds(2); // a reader that takes nothing for this long loses the reply
constexpr auto kTickPeriod = std::chrono::milliseconds(100);
constexpr auto kSavePeriod = std::chrono::seconds(1);
constexpr auto kSameNameWait = std::chrono::seconds(5); // how long a hang-up waits to get its old pty name back
constexpr std::size_t kMaxHeldPtys = 64;

const char* const kFaultNames[kFaultKinds]
    = { "silence", "badcrc", "split", "stray", "foreign", "error", "latency", "hangup" };

std::string printable(std::string_view bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else
            text.push_back(static_cast<char>(c));
    }
    return text;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The host finds replies by "KESTRA #" plus the number, so the number must be one plain token.
bool plainNumber(const std::string& number)
{
    return !number.empty() && number.size() <= 32 && std::all_of(number.begin(), number.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
    });
}

} // namespace

const char* faultName(FaultKind kind)
{
    return kFaultNames[static_cast<int>(kind)];
}

bool faultFromName(const std::string& name, FaultKind* kind)
{
    for (int i = 0; i < kFaultKinds; ++i) {
        if (lower(name) == kFaultNames[i]) {
            *kind = static_cast<FaultKind>(i);
            return true;
        }
    }
    return false;
}

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

    void logLine(const char* direction, std::string_view text)
    {
        std::lock_guard lock(logMutex);
        if (!log)
            return;
        const auto wall = std::chrono::system_clock::now();
        const std::time_t t = std::chrono::system_clock::to_time_t(wall);
        std::tm local {};
        localtime_r(&t, &local);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count() % 1000;
        char stamp[64];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::fprintf(log, "%s.%03d %s %s\n", stamp, static_cast<int>(ms), direction, printable(text).c_str());
        std::fflush(log);
    }

    // Sleeps until `until` unless stop() is called; false when stopping.
    bool pauseUntil(Clock::time_point until)
    {
        for (;;) {
            if (stopping)
                return false;
            const auto left = until - Clock::now();
            if (left <= Clock::duration::zero())
                return true;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timespec timeout { static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000) };
            pollfd fd { wake[0], POLLIN, 0 };
            ppoll(&fd, 1, &timeout, nullptr);
        }
    }

    // Opens a new pty; with `publish` it becomes the one callers see (and the link points to).
    bool openPty(std::string* error, bool publish = true)
    {
        const int fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
            if (error)
                *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        char name[128];
        if (ptsname_r(fd, name, sizeof name) != 0) {
            if (error)
                *error = "cannot name the pseudo-terminal";
            ::close(fd);
            return false;
        }
        const int slave = ::open(name, O_RDWR | O_NOCTTY);
        if (slave < 0) {
            if (error)
                *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        // Raw 8N1 from the start: no echo of our replies back into our own input, no CR/LF mapping.
        termios tio {};
        if (tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B115200);
            cfsetospeed(&tio, B115200);
            tcsetattr(slave, TCSANOW, &tio);
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        master = fd;
        slaveKeep = slave;
        openedName = name;
        parser.clear();
        return !publish || publishPty(error);
    }

    bool publishPty(std::string* error)
    {
        {
            std::lock_guard lock(mutex);
            pty = openedName;
        }
        const bool linked = linkPty(error);
        lineUp = true;
        return linked;
    }

    bool linkPty(std::string* error)
    {
        if (options.linkPath.empty())
            return true;
        struct stat st { };
        if (lstat(options.linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            if (error)
                *error = options.linkPath + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        // Re-point atomically so a client never finds the link missing.
        const std::string temporary = options.linkPath + ".new";
        ::unlink(temporary.c_str());
        if (::symlink(pty.c_str(), temporary.c_str()) != 0
            || std::rename(temporary.c_str(), options.linkPath.c_str()) != 0) {
            if (error)
                *error = "cannot link " + options.linkPath + ": " + std::strerror(errno);
            ::unlink(temporary.c_str());
            return false;
        }
        return true;
    }

    void closePty()
    {
        if (master >= 0)
            ::close(master);
        if (slaveKeep >= 0)
            ::close(slaveKeep);
        master = slaveKeep = -1;
    }

    void hangUp(int ms)
    {
        logLine("!!", "hang-up for " + std::to_string(ms) + " ms");
        const std::string oldName = openedName;
        lineUp = false;
        closePty();
        if (!options.linkPath.empty())
            ::unlink(options.linkPath.c_str());
        if (!pauseUntil(Clock::now() + std::chrono::milliseconds(ms)))
            return;
        // Come back under the old name, as a replugged device does, so a host that reopens its port
        // by name finds us. The old index frees once the host closes its end; meanwhile every other
        // index we are given is held, so the allocator cannot hand it out again.
        std::vector<int> held;
        const auto deadline = Clock::now() + kSameNameWait;
        std::string error;
        while (openPty(&error, false)) {
            if (openedName == oldName || Clock::now() >= deadline || held.size() >= kMaxHeldPtys)
                break;
            held.push_back(master);
            ::close(slaveKeep);
            master = slaveKeep = -1;
            if (!pauseUntil(Clock::now() + std::chrono::milliseconds(5)))
                break;
        }
        for (int fd : held)
            ::close(fd);
        if (master < 0) {
            logLine("!!", "cannot come back after the hang-up: " + error);
            return;
        }
        if (!publishPty(&error))
            logLine("!!", error);
        logLine("!!", "back on " + openedName);
    }

    // Writes all bytes, paced to the line rate when one is set. False when the reply was cut.
    bool writeReply(const std::string& data)
    {
        if (master < 0)
            return false;
        const unsigned baud = options.baud;
        const double secondsPerByte = baud ? 10.0 / baud : 0.0;
        const auto start = std::max(Clock::now(), lineFreeAt);
        const std::size_t piece = baud ? std::max<std::size_t>(1, baud / 10 / 500) : data.size();
        std::size_t sent = 0;
        while (sent < data.size()) {
            const std::size_t n = std::min(piece, data.size() - sent);
            if (baud) {
                const auto due = start
                    + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(secondsPerByte * static_cast<double>(sent + n)));
                if (!pauseUntil(due))
                    return false;
            }
            if (!writeSome(data.data() + sent, n))
                return false;
            sent += n;
        }
        if (baud)
            lineFreeAt = start
                + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(secondsPerByte * static_cast<double>(data.size())));
        return true;
    }

    bool writeSome(const char* data, std::size_t length)
    {
        const auto deadline = Clock::now() + kWriteStall;
        while (length > 0) {
            const ssize_t n = ::write(master, data, length);
            if (n > 0) {
                data += n;
                length -= static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                logLine("!!", std::string("write failed: ") + std::strerror(errno));
                return false;
            }
            if (Clock::now() >= deadline || stopping) {
                logLine("!!", "nobody reads the line; reply dropped");
                return false;
            }
            pollfd fd { master, POLLOUT, 0 };
            poll(&fd, 1, 20);
        }
        return true;
    }

    bool hits(FaultKind kind, int* param)
    {
        Fault& f = faults[static_cast<int>(kind)];
        bool hit = false;
        if (f.count > 0) {
            --f.count;
            hit = true;
        } else if (f.rate > 0) {
            hit = std::uniform_real_distribution<double>(0.0, 1.0)(faultRng) < f.rate;
        }
        if (hit) {
            ++f.applied;
            *param = f.param;
        }
        return hit;
    }

    std::string foreignNumber(const std::string& ours) const
    {
        for (const char* candidate : { "900001", "800002", "700003" }) {
            if (std::string_view(candidate).substr(0, ours.size()) != ours && ours != candidate)
                return candidate;
        }
        return "x" + ours;
    }

    // Runs the instrument for one frame and decides what goes back on the wire. Called under the lock.
    std::optional<Plan> plan(const Frame& frame)
    {
        const std::string& number = instrument.settings().number;
        if (!frame.wellFormed) {
            logLine("!!", "malformed frame ignored");
            return std::nullopt;
        }
        if (!frame.checksumOk) {
            logLine("!!", "checksum error, no reply");
            return std::nullopt;
        }
        if (frame.address != kNoNumber && lower(frame.address) != number) {
            logLine("!!", "frame for instrument " + frame.address + ", not for us");
            return std::nullopt;
        }
        commands.push_back(frame.command);
        frames.push_back(frame.raw);
        const double t = now();
        instrument.tick(t);
        std::string payload = instrument.handle(frame.command, frame.sequence, t);
        std::size_t longest = 0;
        for (const auto& [prefix, text] : overrides) {
            if (prefix.size() >= longest && frame.command.compare(0, prefix.size(), prefix) == 0) {
                longest = prefix.size();
                payload = text;
            }
        }

        Plan p;
        int param = 0;
        if (hits(FaultKind::Latency, &param))
            p.latencyMs = param > 0 ? param : 500;
        if (hits(FaultKind::HangUp, &param))
            p.hangUpMs = param > 0 ? param : 1000;
        if (hits(FaultKind::Silence, &param))
            p.send = false;
        if (hits(FaultKind::ErrorReply, &param))
            payload = "error";
        const std::string& replyNumber = instrument.settings().number;
        p.reply
            = formatReply(hits(FaultKind::ForeignNumber, &param) ? foreignNumber(replyNumber) : replyNumber, payload);
        if (hits(FaultKind::BadChecksum, &param)) {
            // Change one checksum digit; the rest of the reply stays intact.
            char& digit = p.reply[p.reply.size() - 3];
            digit = digit == '0' ? '1' : '0';
        }
        if (hits(FaultKind::StrayBytes, &param)) {
            static const char junk[] = { '\0', '\x7F', '?', '\xFF', '#', 'K', '\r', '\n' };
            std::string stray;
            for (int i = 0; i < (param > 0 ? std::min(param, 512) : 4); ++i)
                stray.push_back(junk[i % sizeof junk]);
            p.reply = stray + p.reply;
        }
        if (hits(FaultKind::Split, &param))
            p.splitMs = param > 0 ? param : 50;
        return p;
    }

    void handleFrame(const Frame& frame, Clock::time_point arrived)
    {
        logLine("<-", frame.raw);
        std::optional<Plan> p;
        {
            std::lock_guard lock(mutex);
            p = plan(frame);
        }
        if (!p)
            return;
        if (options.baud) {
            // The frame itself needed its time on the line before the instrument could answer.
            const double seconds = 10.0 * static_cast<double>(frame.raw.size()) / options.baud;
            if (!pauseUntil(
                    arrived + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))))
                return;
        }
        if (p->latencyMs > 0) {
            logLine("!!", "latency " + std::to_string(p->latencyMs) + " ms");
            if (!pauseUntil(Clock::now() + std::chrono::milliseconds(p->latencyMs)))
                return;
        }
        if (p->hangUpMs >= 0) {
            hangUp(p->hangUpMs);
            return;
        }
        if (!p->send) {
            logLine("!!", "silence");
            return;
        }
        bool ok = true;
        if (p->splitMs >= 0) {
            const std::size_t third = std::max<std::size_t>(1, p->reply.size() / 3);
            for (std::size_t at = 0; at < p->reply.size() && ok; at += third) {
                if (at > 0 && !pauseUntil(Clock::now() + std::chrono::milliseconds(p->splitMs)))
                    return;
                ok = writeReply(p->reply.substr(at, third));
            }
        } else {
            ok = writeReply(p->reply);
        }
        logLine("->", p->reply);
        if (ok) {
            std::lock_guard lock(mutex);
            ++replies;
        }
    }

    void saveIfDue(bool force)
    {
        if (options.stateFile.empty())
            return;
        std::lock_guard lock(mutex);
        if (!force && Clock::now() - lastSave < kSavePeriod)
            return;
        if (!instrument.takeDirty() && !force)
            return;
        lastSave = Clock::now();
        std::string error;
        if (!saveState(options.stateFile, instrument.settings(), instrument.history(), &error))
            logLine("!!", "state not saved: " + error);
    }

    void run()
    {
        auto nextTick = Clock::now();
        char buffer[4096];
        while (!stopping) {
            if (master < 0) {
                // A failed return after a hang-up: try again shortly.
                std::string error;
                if (!pauseUntil(Clock::now() + std::chrono::milliseconds(500)) || !openPty(&error))
                    continue;
            }
            pollfd fds[2] = { { master, POLLIN, 0 }, { wake[0], POLLIN, 0 } };
            const int ready = poll(fds, 2, 20);
            if (ready > 0 && (fds[0].revents & POLLIN)) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0) {
                    parser.feed(buffer, static_cast<std::size_t>(n));
                    const auto arrived = Clock::now();
                    while (auto frame = parser.next()) {
                        handleFrame(*frame, arrived);
                        if (stopping || master < 0)
                            break;
                    }
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    logLine("!!", std::string("read failed: ") + std::strerror(errno));
                    lineUp = false;
                    closePty();
                }
            }
            if (Clock::now() >= nextTick) {
                nextTick = Clock::now() + kTickPeriod;
                {
                    std::lock_guard lock(mutex);
                    instrument.tick(now());
                }
                saveIfDue(false);
            }
        }
    }
};

Simulator::Simulator(Options options)
    : m_impl(std::make_unique<Impl>(std::move(options)))
{
}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(std::string* error)
{
    Impl& d = *m_impl;
    if (d.started)
        return true;
    Settings settings = d.instrument.settings();
    settings.number = lower(d.options.number);
    if (!plainNumber(settings.number)) {
        if (error)
            *error = "instrument number must be 1 to 32 letters, digits, '-' or '_': \"" + d.options.number + "\"";
        return false;
    }
    std::vector<RawRecord> history;
    if (!d.options.stateFile.empty() && ::access(d.options.stateFile.c_str(), F_OK) == 0) {
        if (!loadState(d.options.stateFile, &settings, &history, error))
            return false;
    }
    Scenario scenario;
    if (!d.options.scenario.empty() && !Scenario::load(d.options.scenario, &scenario, error))
        return false;
    {
        std::lock_guard lock(d.mutex);
        d.instrument.settings() = settings;
        d.instrument.setHistory(std::move(history));
        d.instrument.setChunkBytes(d.options.chunkBytes);
        d.instrument.setLiveHistory(d.options.liveHistory);
        const double t = d.now();
        if (d.options.historyRecords > 0)
            d.instrument.prefillHistory(d.options.historyRecords, d.options.historyDays, t);
        if (!scenario.empty())
            d.instrument.setScenario(std::move(scenario), t);
        d.instrument.tick(t);
        d.lastSave = Clock::now();
        // Write the state once now, so an unwritable path is reported at start, not lost at exit.
        if (!d.options.stateFile.empty()
            && !saveState(d.options.stateFile, d.instrument.settings(), d.instrument.history(), error))
            return false;
    }
    if (pipe2(d.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error)
            *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    const auto undo = [&d] {
        d.closePty();
        ::close(d.wake[0]);
        ::close(d.wake[1]);
        d.wake[0] = d.wake[1] = -1;
        if (d.log)
            std::fclose(d.log);
        d.log = nullptr;
    };
    if (!d.options.logFile.empty()) {
        d.log = std::fopen(d.options.logFile.c_str(), "a");
        if (!d.log) {
            if (error)
                *error = "cannot open log " + d.options.logFile + ": " + std::strerror(errno);
            undo();
            return false;
        }
    }
    if (!d.openPty(error)) {
        undo();
        return false;
    }
    d.stopping = false;
    d.thread = std::thread([&d] { d.run(); });
    d.started = true;
    d.logLine("!!", "instrument " + d.instrument.settings().number + " on " + d.pty);
    return true;
}

void Simulator::stop()
{
    Impl& d = *m_impl;
    if (!d.started)
        return;
    d.stopping = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(d.wake[1], &byte, 1);
    if (d.thread.joinable())
        d.thread.join();
    d.closePty();
    if (!d.options.linkPath.empty())
        ::unlink(d.options.linkPath.c_str());
    ::close(d.wake[0]);
    ::close(d.wake[1]);
    d.wake[0] = d.wake[1] = -1;
    d.saveIfDue(true);
    {
        std::lock_guard lock(d.logMutex);
        if (d.log)
            std::fclose(d.log);
        d.log = nullptr;
    }
    d.started = false;
}

bool Simulator::running() const
{
    return m_impl->started;
}

bool Simulator::lineUp() const
{
    return m_impl->started && m_impl->lineUp;
}

std::string Simulator::slavePath() const
{
    if (!m_impl->options.linkPath.empty())
        return m_impl->options.linkPath;
    return ptyPath();
}

std::string Simulator::ptyPath() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->pty;
}

void Simulator::injectFault(FaultKind kind, int count, int param)
{
    std::lock_guard lock(m_impl->mutex);
    auto& f = m_impl->faults[static_cast<int>(kind)];
    f.count = std::max(0, count);
    f.param = param;
}

void Simulator::setFaultRate(FaultKind kind, double rate, int param)
{
    std::lock_guard lock(m_impl->mutex);
    auto& f = m_impl->faults[static_cast<int>(kind)];
    f.rate = std::isfinite(rate) ? std::clamp(rate, 0.0, 1.0) : 0.0;
    f.param = param;
}

void Simulator::clearFaults()
{
    std::lock_guard lock(m_impl->mutex);
    for (auto& f : m_impl->faults) {
        f.count = 0;
        f.rate = 0;
    }
}

int Simulator::faultsApplied(FaultKind kind) const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->faults[static_cast<int>(kind)].applied;
}

std::vector<std::string> Simulator::commands() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->commands;
}

std::vector<std::string> Simulator::frames() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->frames;
}

void Simulator::clearCommands()
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->commands.clear();
    m_impl->frames.clear();
}

int Simulator::repliesSent() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->replies;
}

void Simulator::setReplyOverride(const std::string& commandPrefix, const std::string& payload)
{
    std::lock_guard lock(m_impl->mutex);
    if (payload.empty())
        m_impl->overrides.erase(commandPrefix);
    else
        m_impl->overrides[commandPrefix] = payload;
}

std::string Simulator::number() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.settings().number;
}

std::vector<RawRecord> Simulator::history() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.history();
}

void Simulator::setHistory(std::vector<RawRecord> records)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->instrument.setHistory(std::move(records));
}

void Simulator::appendHistory(const RawRecord& record)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->instrument.appendHistory(record);
}

void Simulator::setDoseRate(double svPerHour)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->instrument.setDoseRate(svPerHour);
}

void Simulator::setBetaFlux(double cpmPerCm2)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->instrument.setBetaFlux(cpmPerCm2);
}

Settings Simulator::settings() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.settings();
}

void Simulator::setSettings(const Settings& settings)
{
    std::lock_guard lock(m_impl->mutex);
    const std::string number = m_impl->instrument.settings().number;
    m_impl->instrument.settings() = settings;
    // A number the host could not find in a reply is not taken; the old one stays.
    m_impl->instrument.settings().number = plainNumber(settings.number) ? lower(settings.number) : number;
    m_impl->instrument.settings().mode = std::clamp(settings.mode, 0, 8);
}

int Simulator::mode() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.settings().mode;
}

void Simulator::setMode(int mode)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->instrument.settings().mode = std::clamp(mode, 0, 8);
}

bool Simulator::locked() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.settings().locked;
}

uint16_t Simulator::alarmWord() const
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->instrument.tick(m_impl->now());
    return m_impl->instrument.alarmWord();
}

uint32_t Simulator::instrumentClock() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.clock(m_impl->now());
}

bool Simulator::autocalRunning() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.autocalRunning();
}

std::vector<uint8_t> Simulator::firmwareReceived() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.firmwareReceived();
}

std::vector<uint8_t> Simulator::firmwareLoaded() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.firmwareLoaded();
}

int Simulator::firmwareLoads() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->instrument.firmwareLoads();
}

void Simulator::advanceClock(double seconds)
{
    std::lock_guard lock(m_impl->mutex);
    if (std::isfinite(seconds) && seconds > 0)
        m_impl->timeShift += seconds;
    m_impl->instrument.tick(m_impl->now());
}

} // namespace kestra::sim
