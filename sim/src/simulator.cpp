#include "simulator_impl.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestra::sim {

namespace {

const char* const kFaultNames[kFaultKinds]
    = { "silence", "badcrc", "split", "stray", "foreign", "error", "latency", "hangup" };

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

bool Simulator::Impl::hits(FaultKind kind, int* param)
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

std::string Simulator::Impl::foreignNumber(const std::string& ours) const
{
    for (const char* candidate : { "900001", "800002", "700003" }) {
        if (std::string_view(candidate).substr(0, ours.size()) != ours && ours != candidate)
            return candidate;
    }
    return "x" + ours;
}

// Runs the instrument for one frame and decides what goes back on the wire. Called under the lock.
std::optional<Simulator::Impl::Plan> Simulator::Impl::plan(const Frame& frame)
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
    p.reply = formatReply(hits(FaultKind::ForeignNumber, &param) ? foreignNumber(replyNumber) : replyNumber, payload);
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

void Simulator::Impl::handleFrame(const Frame& frame, Clock::time_point arrived)
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
        if (!pauseUntil(arrived + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))))
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

void Simulator::Impl::saveIfDue(bool force)
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
