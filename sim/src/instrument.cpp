#include "kestrasim/instrument.h"

#include "kestrasim/wire.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestra::sim {

namespace {

// Counting model: 0.1 uSv/h gives 0.5 counts per second; the reading averages two minutes.
constexpr double kCountsPerSvh = 5.0e6;
constexpr double kAveragingSeconds = 120.0;
constexpr double kOverloadRate = 10.0; // Sv/h
constexpr double kRetryWindow = 1.5; // seconds within which a repeated frame is a retry
constexpr double kDownloadIdleLimit = 10.0; // an abandoned download ends after this long
constexpr int kMaxCatchUpRecords = 1000;
constexpr std::size_t kReplyMargin = 16; // room for a few stray bytes in the driver's buffer

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The value after `key` (case-insensitive) up to the next space or the end.
std::optional<std::string> argument(std::string_view command, std::string_view key)
{
    const std::string haystack = lower(command);
    const std::size_t at = haystack.find(lower(key));
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t start = at + key.size();
    const std::size_t end = command.find(' ', start);
    return std::string(command.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

// A decimal number optionally followed by exactly `unit` (case-insensitive).
std::optional<double> number(const std::optional<std::string>& text, std::string_view unit = {})
{
    if (!text || text->empty())
        return std::nullopt;
    const char* begin = text->c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value))
        return std::nullopt;
    const std::string rest = lower(std::string_view(end));
    if (!rest.empty() && rest != lower(unit))
        return std::nullopt;
    return value;
}

std::optional<unsigned long> hexNumber(const std::optional<std::string>& text, std::size_t maxDigits)
{
    if (!text || text->empty() || text->size() > maxDigits)
        return std::nullopt;
    unsigned long value = 0;
    for (char c : *text) {
        const int digit = std::isxdigit(static_cast<unsigned char>(c))
            ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10)
            : -1;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    return value;
}

std::string hex(unsigned long value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0*lX", digits, value);
    return text;
}

bool validNumber(std::string_view number)
{
    if (number.empty() || number.size() > 32)
        return false;
    return std::all_of(number.begin(), number.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; });
}

const char* modeWord(int mode)
{
    switch (mode) {
    case ModeReadHistory:
        return "read_history";
    case ModeTest:
        return "test";
    case ModeGamma:
        return "gm";
    case ModeBeta1:
        return "betta_1";
    case ModeBeta2:
        return "betta_2";
    case ModeSurvey:
        return "survey";
    case ModeBackground:
        return "backgr";
    case ModeSearch:
        return "search_bg";
    default:
        return "idle";
    }
}

const std::string kError = "error";

} // namespace

Instrument::Instrument(unsigned seed)
    : m_rng(seed)
{
}

uint32_t Instrument::clock(double now) const
{
    const double value = std::floor(now) + static_cast<double>(m_settings.clockOffset);
    return static_cast<uint32_t>(std::clamp(value, 0.0, 4294967295.0));
}

bool Instrument::takeDirty()
{
    const bool dirty = m_dirty;
    m_dirty = false;
    return dirty;
}

std::string Instrument::handle(std::string_view command, uint16_t sequence, double now)
{
    if (sequence == m_lastSequence && command == m_lastCommand && now - m_lastCommandTime < kRetryWindow
        && now >= m_lastCommandTime) {
        m_lastCommandTime = now;
        return m_lastReply;
    }
    std::string reply = execute(command, now);
    m_lastSequence = sequence;
    m_lastCommand = std::string(command);
    m_lastCommandTime = now;
    m_lastReply = reply;
    return reply;
}

std::string Instrument::execute(std::string_view command, double now)
{
    // Anything but "info" ends a download in progress, as the instrument leaves its history mode.
    const std::string word = lower(command.substr(0, command.find(' ')));
    if (m_download && word != "info")
        m_download.reset();

    if (word == "get_id")
        return "get_ID";
    if (word == "set_id") {
        const auto numb = argument(command, "numb=");
        if (!numb || !validNumber(*numb))
            return kError;
        // Numbers are kept in lower case: the host compares the reply's number as it read it.
        m_settings.number = lower(*numb);
        markDirty();
        return "set_ID";
    }
    if (word == "info") {
        if (m_download) {
            m_download->lastRequest = now;
            return chunkPayload();
        }
        return infoPayload(now);
    }
    if (word == "read_history") {
        m_download = Download { m_history, 0, now };
        return chunkPayload();
    }
    if (word == "delete_history") {
        m_history.clear();
        markDirty();
        return "delete_history ok";
    }
    if (word == "get_dose") {
        const double rate = currentRate(now);
        return "d=" + formatE(rate) + "Sv/hr t=" + hex(static_cast<unsigned long>(m_settings.doseTime), 8)
            + "s d_acc=" + formatE(m_settings.dose * 1.0e6) + "uSv";
    }
    if (word == "get_battery")
        return "battery n=" + std::to_string(m_settings.battery) + " ";
    if (word == "read_hist_time")
        return "T=" + hex(m_settings.historyInterval, 4);
    if (word == "set_hist_time") {
        const auto t = hexNumber(argument(command, "T="), 4);
        const auto tp = hexNumber(argument(command, "Tp="), 4);
        if (!t || !tp || *t == 0)
            return kError;
        m_settings.historyInterval = static_cast<uint16_t>(*t);
        m_nextRecord = -1;
        markDirty();
        return "set_hist_time ok";
    }
    if (word == "read_enter_time")
        return "T=" + hex(clock(now), 8);
    if (word == "set_enter_time") {
        const auto t = hexNumber(argument(command, "T="), 8);
        if (!t)
            return kError;
        m_settings.clockOffset = static_cast<int64_t>(*t) - static_cast<int64_t>(std::floor(now));
        m_nextRecord = -1;
        markDirty();
        return "set_enter_time ok";
    }
    if (word == "reset_dose") {
        m_settings.dose = 0;
        m_settings.doseTime = 0;
        appendHistory(makeRecord('R', clock(now)));
        markDirty();
        return "reset_dose ok";
    }
    if (word == "reset_stat" || word == "reset_stat_on" || word == "reset_stat_off")
        return word + " ok";
    if (word == "reload_det_param")
        return "reload_det_param ok";
    if (word == "get_autocal_setting") {
        char text[128];
        std::snprintf(text, sizeof text, "GM=%sSv/hr~%02d%% precision=%02d%%", formatE(m_settings.autocalRate).c_str(),
            m_settings.autocalTolerance, m_settings.autocalPrecision);
        return text;
    }
    if (word == "autocalibr") {
        const auto rate = argument(command, "GM=");
        if (!rate)
            return kError;
        // "8.000000E-005Sv/hr~02%": the rate, then the tolerance between "~" and "%".
        const std::size_t tilde = rate->find('~');
        const std::size_t percent = rate->find('%');
        if (tilde == std::string::npos || percent == std::string::npos || percent <= tilde + 1)
            return kError;
        const auto value = number(rate->substr(0, tilde), "Sv/hr");
        const auto tolerance = number(rate->substr(tilde + 1, percent - tilde - 1));
        auto precisionText = argument(command, "precision=");
        if (precisionText && !precisionText->empty() && precisionText->back() == '%')
            precisionText->pop_back();
        const auto precision = number(precisionText);
        if (!value || *value <= 0 || !tolerance || *tolerance < 0 || *tolerance > 99 || !precision || *precision < 0
            || *precision > 99)
            return kError;
        m_settings.autocalRate = *value;
        m_settings.autocalTolerance = static_cast<int>(*tolerance);
        m_settings.autocalPrecision = static_cast<int>(*precision);
        m_autocalRunning = true;
        m_autocalStart = now;
        appendHistory(makeRecord('A', clock(now),
            { m_settings.kDer, m_settings.autocalRate, m_settings.autocalTolerance, m_settings.autocalPrecision }));
        markDirty();
        return "autocalibr ok";
    }
    if (word == "autocalibr_stop") {
        m_autocalRunning = false;
        return "autocalibr_stop ok";
    }
    if (word == "r_det_vers") {
        const auto part = number(argument(command, "N="));
        if (!part || *part < 0 || *part > 3 || *part != std::floor(*part))
            return kError;
        const int n = static_cast<int>(*part);
        const std::string text = versionText(n);
        char head[32];
        std::snprintf(head, sizeof head, "r_det_vers N=%02d : ", n);
        return head + toHex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    if (word == "package") {
        const auto length = hexNumber(argument(command, "len="), 4);
        auto data = argument(command, "P=");
        if (!length || !data || *length > 256)
            return kError;
        const auto bytes = fromHex(*data);
        if (!bytes || bytes->size() != *length)
            return kError;
        // Loading firmware needs the keys locked, as the host does before the first packet.
        if (!m_settings.locked || m_firmware.size() + bytes->size() > kMaxFirmwareBytes)
            return kError;
        m_firmware.insert(m_firmware.end(), bytes->begin(), bytes->end());
        ++m_firmwarePackets;
        return "package ok";
    }
    if (word == "start_loading") {
        if (!m_settings.locked)
            return kError;
        m_firmwareLoaded = std::move(m_firmware);
        m_firmware.clear();
        m_firmwarePackets = 0;
        ++m_firmwareLoads;
        // The new firmware restarts the instrument: off, on, unlocked, in gamma mode.
        const uint32_t t = clock(now);
        appendHistory(makeRecord('0', t));
        appendHistory(makeRecord('1', t));
        m_settings.locked = false;
        m_settings.mode = ModeGamma;
        markDirty();
        return "start_loading ok";
    }
    if (startsWith(lower(command), "set_mode=")) {
        const std::string what = lower(command.substr(
            9, command.find(' ') == std::string_view::npos ? std::string_view::npos : command.find(' ') - 9));
        if (what == "gm")
            m_settings.mode = ModeGamma;
        else if (what == "betta")
            m_settings.mode = m_settings.mode == ModeBeta1 ? ModeBeta2 : ModeBeta1;
        else if (what == "search_bg")
            m_settings.mode = ModeSearch;
        else if (what == "survey")
            m_settings.mode = ModeSurvey;
        else if (what == "backgr")
            m_settings.mode = ModeBackground;
        else if (what == "control_on")
            m_settings.locked = true;
        else if (what == "control_off")
            m_settings.locked = false;
        else
            return kError;
        markDirty();
        // The echo carries "MODE=", so the host's payload starts with the word itself.
        return "SET_MODE=" + what + " ok";
    }

    bool handled = false;
    std::string reply = getSetting(command, &handled);
    if (handled)
        return reply;
    reply = putSetting(command, now, &handled);
    if (handled)
        return reply;
    return kError;
}

std::string Instrument::getSetting(std::string_view command, bool* handled)
{
    const std::string word = lower(command.substr(0, command.find(' ')));
    const Settings& s = m_settings;
    *handled = true;
    auto onOff = [](const char* name, bool on) { return std::string(name) + (on ? " on " : " off "); };
    if (word == "get_measur_unit")
        return s.roentgen ? "u=R" : "u=Sv";
    if (word == "get_sound")
        return onOff("sound", s.sound);
    if (word == "get_light")
        return onOff("light", s.light);
    if (word == "get_beep")
        return onOff("beep", s.searchBeep);
    if (word == "get_sigma") {
        char text[32];
        std::snprintf(text, sizeof text, "Nsig=%1.1f", s.sigma);
        return text;
    }
    if (word == "get_timeout")
        return "T=" + hex(s.qmTimeout, 4);
    if (word == "get_thresh_g")
        return "thrG=" + formatE(s.derThreshold1) + "Sv/hr";
    if (word == "get_thresh_g2")
        return "thrG=" + formatE(s.derThreshold2) + "Sv/hr";
    if (word == "get_thresh_de")
        return "thrG=" + formatE(s.deThreshold) + "Sv";
    if (word == "get_hi_v")
        return "hi_v=" + hex(static_cast<unsigned long>(s.hvCode & 0xFFFF), 4);
    if (word == "get_k_der")
        return "K=" + formatE(s.kDer);
    if (word == "get_k_b")
        return "K=" + formatE(s.kBeta);
    if (word == "get_k_a")
        return "K=" + formatE(s.kAlpha);
    if (word == "get_own_backgr")
        return "GM=" + formatE(s.ownBackground) + "Sv/hr";
    if (word == "get_thresh_b1")
        return "thrG=" + formatE(s.betaThreshold1) + "CPM/cm^2";
    if (word == "get_thresh_b2")
        return "thrG=" + formatE(s.betaThreshold2) + "CPM/cm^2";
    if (word == "get_thresh_b")
        return "thrG=" + formatE(s.searchBetaThreshold) + "CPS";
    if (word == "read_menu")
        return "read_menu " + toHex(s.menu.data(), s.menu.size());
    *handled = false;
    return {};
}

std::string Instrument::putSetting(std::string_view command, double now, bool* handled)
{
    const std::string word = lower(command.substr(0, command.find(' ')));
    Settings& s = m_settings;
    *handled = true;
    const std::string ok = std::string(command.substr(0, command.find(' '))) + " ok";
    auto onOff = [&](bool* target) -> std::string {
        const std::string rest = lower(command.substr(std::min(command.size(), word.size())));
        if (rest != " on" && rest != " off")
            return kError;
        *target = rest == " on";
        markDirty();
        return ok;
    };
    auto positive = [](std::optional<double> v) { return v && *v >= 0; };

    if (word == "put_measur_unit") {
        const auto unit = argument(command, "U=");
        if (!unit)
            return kError;
        const std::string u = lower(*unit);
        if (u != "r" && u != "sv")
            return kError;
        s.roentgen = u == "r";
        markDirty();
        return ok;
    }
    if (word == "put_sound" || word == "put_beep") {
        bool& target = word == "put_sound" ? s.sound : s.searchBeep;
        const bool before = target;
        std::string reply = onOff(&target);
        if (reply != kError && before != target)
            appendHistory(makeRecord('s', clock(now), { 0, 0, s.sound ? 1 : 0, s.searchBeep ? 1 : 0 }));
        return reply;
    }
    if (word == "put_light")
        return onOff(&s.light);
    if (word == "put_sigma") {
        const auto v = number(argument(command, "Nsig="));
        if (!v || *v <= 0 || *v > 10)
            return kError;
        s.sigma = *v;
    } else if (word == "put_timeout") {
        const auto v = hexNumber(argument(command, "T="), 4);
        if (!v)
            return kError;
        s.qmTimeout = static_cast<uint16_t>(*v);
    } else if (word == "put_thresh_g" || word == "put_thresh_g2") {
        const auto v = number(argument(command, "thrG="), "Sv/hr");
        if (!positive(v))
            return kError;
        (word == "put_thresh_g" ? s.derThreshold1 : s.derThreshold2) = *v;
    } else if (word == "put_thresh_de") {
        const auto v = number(argument(command, "thrG="), "Sv");
        if (!positive(v))
            return kError;
        s.deThreshold = *v;
    } else if (word == "put_hi_v") {
        const auto v = hexNumber(argument(command, "hi_v="), 4);
        if (!v)
            return kError;
        s.hvCode = static_cast<int>(*v);
    } else if (word == "put_k_der") {
        const auto v = number(argument(command, "K="));
        if (!v)
            return kError;
        s.kDer = *v;
    } else if (word == "put_k_b" || word == "put_k_a") {
        const auto v = number(argument(command, "K="));
        if (!v || std::fabs(*v) > 2.0e9)
            return kError;
        (word == "put_k_b" ? s.kBeta : s.kAlpha) = static_cast<int>(*v);
    } else if (word == "put_own_backgr") {
        const auto v = number(argument(command, "GM="), "Sv/hr");
        if (!positive(v))
            return kError;
        s.ownBackground = *v;
    } else if (word == "put_thresh_b1" || word == "put_thresh_b2") {
        const auto v = number(argument(command, "thrG="), "CPM/cm^2");
        if (!positive(v) || *v > 2.0e9)
            return kError;
        (word == "put_thresh_b1" ? s.betaThreshold1 : s.betaThreshold2) = static_cast<int>(*v);
    } else if (word == "put_thresh_b") {
        const auto v = number(argument(command, "thrG="), "CPS");
        if (!positive(v))
            return kError;
        s.searchBetaThreshold = *v;
    } else if (word == "write_menu") {
        const auto text = argument(command, "M=");
        if (!text || text->size() != 2 * s.menu.size())
            return kError;
        const auto bytes = fromHex(*text);
        if (!bytes)
            return kError;
        std::copy(bytes->begin(), bytes->end(), s.menu.begin());
    } else {
        *handled = false;
        return {};
    }
    markDirty();
    return ok;
}

std::string Instrument::versionText(int part)
{
    switch (part) {
    case 0:
        return "KESTRA-G detector v2.14";
    case 1:
        return "KESTRA-B detector v1.07";
    case 2:
        return "KESTRA boot v1.03";
    default:
        return "KESTRA main v3.21";
    }
}

double Instrument::currentRate(double now) const
{
    if (!m_scenario.empty())
        return m_scenario.rateAt(now - m_scenarioStart);
    return m_doseRate;
}

void Instrument::setDoseRate(double svPerHour)
{
    m_doseRate = std::isfinite(svPerHour) && svPerHour > 0 ? svPerHour : 0.0;
    m_scenario = Scenario();
}

void Instrument::setScenario(Scenario scenario, double now)
{
    m_scenario = std::move(scenario);
    m_scenarioStart = now;
}

double Instrument::countRate() const
{
    return m_doseRate * kCountsPerSvh + m_betaFlux * 0.05;
}

Instrument::Measurement Instrument::measure(double now)
{
    const double rate = currentRate(now);
    double value = 0;
    double countsPerSecond = 0;
    switch (m_settings.mode) {
    case ModeGamma:
        value = rate;
        countsPerSecond = rate * kCountsPerSvh;
        break;
    case ModeBeta2:
        value = m_betaFlux;
        countsPerSecond = m_betaFlux * 0.05 + rate * kCountsPerSvh;
        break;
    case ModeBeta1:
    case ModeSurvey:
    case ModeBackground:
    case ModeSearch:
        value = rate * kCountsPerSvh + m_betaFlux * 0.05;
        countsPerSecond = value;
        break;
    default:
        return { 0.0, 99 };
    }
    const double counts = std::max(countsPerSecond * kAveragingSeconds, 1.0);
    const double sigma = 1.0 / std::sqrt(counts);
    const int precision = std::clamp(static_cast<int>(std::lround(200.0 * sigma)), 1, 99);
    std::normal_distribution<double> noise(0.0, sigma);
    value = std::max(0.0, value * (1.0 + noise(m_rng)));
    return { value, precision };
}

std::string Instrument::infoPayload(double now)
{
    const Measurement m = measure(now);
    std::string payload = "MODE=";
    payload += modeWord(m_settings.mode);
    payload += " alarm=" + hex(alarmWord(), 4);
    const int mode = m_settings.mode;
    const std::string precision = "~" + std::to_string(m.precision) + "%";
    if (mode == ModeGamma) {
        payload += " gm=" + formatE(m.value) + "Sv/hr" + precision;
    } else if (mode == ModeBeta2) {
        payload += " gm=" + formatE(m.value) + "CPM/cm^2" + precision;
    } else if (mode == ModeBeta1 || mode == ModeSurvey || mode == ModeBackground || mode == ModeSearch) {
        payload += " gm=" + formatE(m.value) + "CPS" + precision;
    }
    if (mode >= ModeBeta1 && mode <= ModeSearch && mode != ModeGamma) {
        unsigned status = 0;
        if (m_alarms & AlarmBetaWarning)
            status |= 0x01;
        if (m_alarms & AlarmBetaDanger)
            status |= 0x02;
        payload += " status=" + hex(status, 2);
    }
    return payload;
}

uint16_t Instrument::alarmWord() const
{
    return static_cast<uint16_t>(m_alarms | (m_autocalRunning ? AlarmAutocalibration : 0));
}

std::size_t Instrument::chunkBytes() const
{
    // prefix, number, space, "length=" + up to 4 digits, " end ", data, " CRC=XXXX" CR LF
    const std::size_t overhead = kFramePrefix.size() + m_settings.number.size() + 1 + 11 + 5 + 11;
    std::size_t most = (kMaxReplyBytes - kReplyMargin - overhead) / 2;
    most -= most % 16;
    if (m_chunkBytes == 0 || m_chunkBytes > most)
        return most;
    return m_chunkBytes;
}

std::string Instrument::chunkPayload()
{
    Download& d = *m_download;
    const std::size_t total = d.records.size() * sizeof(RawRecord::bytes);
    const std::size_t length = std::min(chunkBytes(), total - d.offset);
    const bool last = d.offset + length >= total;
    std::vector<uint8_t> data(length);
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t at = d.offset + i;
        data[i] = d.records[at / 16].bytes[at % 16];
    }
    d.offset += length;
    std::string payload = "length=" + hex(length, 2) + (last ? " end " : " ") + toHex(data.data(), data.size());
    if (last)
        m_download.reset();
    return payload;
}

void Instrument::setHistory(std::vector<RawRecord> records)
{
    if (records.size() > kMaxHistoryRecords)
        records.erase(records.begin(), records.begin() + static_cast<long>(records.size() - kMaxHistoryRecords));
    m_history = std::move(records);
    markDirty();
}

void Instrument::appendHistory(const RawRecord& record)
{
    // A full memory drops its oldest record, as a ring buffer would.
    if (m_history.size() >= kMaxHistoryRecords)
        m_history.erase(m_history.begin());
    m_history.push_back(record);
    markDirty();
}

void Instrument::appendMeasurementRecord(uint32_t time)
{
    const double rate = currentRate(static_cast<double>(time) - static_cast<double>(m_settings.clockOffset));
    switch (m_settings.mode) {
    case ModeGamma: {
        const double counts = std::max(rate * kCountsPerSvh * kAveragingSeconds, 1.0);
        std::normal_distribution<double> noise(0.0, 1.0 / std::sqrt(counts));
        const int precision = std::clamp(static_cast<int>(std::lround(200.0 / std::sqrt(counts))), 1, 99);
        appendHistory(makeRecord('F', time, { std::max(0.0, rate * (1 + noise(m_rng))), m_settings.dose, precision }));
        break;
    }
    case ModeBeta2:
        appendHistory(makeRecord('b', time, { m_betaFlux, countRate(), 20 }));
        break;
    case ModeSearch:
        appendHistory(makeRecord('S', time, { countRate(), 0, 20 }));
        break;
    case ModeBeta1:
    case ModeSurvey:
    case ModeBackground:
        appendHistory(makeRecord('B', time, { countRate(), 0, 20 }));
        break;
    default:
        break;
    }
}

void Instrument::appendAlarmRecords(uint16_t risen, uint32_t time)
{
    const double rate
        = m_scenario.empty() ? m_doseRate : currentRate(static_cast<double>(time) - m_settings.clockOffset);
    const RecordFields gamma { rate, m_settings.dose, 5 };
    if (risen & AlarmGammaWarning)
        appendHistory(makeRecord('G', time, gamma));
    if (risen & AlarmGammaDanger)
        appendHistory(makeRecord('g', time, gamma));
    if (risen & AlarmOverload)
        appendHistory(makeRecord('O', time, gamma));
    if (risen & AlarmDoseThreshold)
        appendHistory(makeRecord('D', time, gamma));
    if (risen & AlarmBetaWarning)
        appendHistory(makeRecord('I', time, { m_betaFlux, 0, 20 }));
    if (risen & AlarmBetaDanger)
        appendHistory(makeRecord('i', time, { m_betaFlux, 0, 20 }));
    if (risen & AlarmSearch)
        appendHistory(makeRecord('J', time, { countRate(), 0, 20 }));
}

void Instrument::tick(double now)
{
    if (m_lastTick < 0)
        m_lastTick = now;
    const double dt = std::clamp(now - m_lastTick, 0.0, 366.0 * 86400.0);
    m_lastTick = now;
    const double rate = currentRate(now);
    if (!m_scenario.empty())
        m_doseRate = rate;
    if (dt > 0) {
        m_settings.dose += rate * dt / 3600.0;
        m_settings.doseTime += dt;
    }
    const uint32_t t = clock(now);

    uint16_t alarms = 0;
    if (rate >= m_settings.derThreshold1)
        alarms |= AlarmGammaWarning;
    if (rate >= m_settings.derThreshold2)
        alarms |= AlarmGammaDanger;
    if (rate >= kOverloadRate)
        alarms |= AlarmOverload;
    if (m_settings.dose >= m_settings.deThreshold)
        alarms |= AlarmDoseThreshold;
    if (m_settings.mode == ModeBeta2 && m_betaFlux >= m_settings.betaThreshold1)
        alarms |= AlarmBetaWarning;
    if (m_settings.mode == ModeBeta2 && m_betaFlux >= m_settings.betaThreshold2)
        alarms |= AlarmBetaDanger;
    if (m_settings.mode == ModeSearch && countRate() >= m_settings.searchBetaThreshold)
        alarms |= AlarmSearch;
    const auto risen = static_cast<uint16_t>(alarms & ~m_alarms);
    m_alarms = alarms;
    if (risen)
        appendAlarmRecords(risen, t);

    if (m_autocalRunning && now - m_autocalStart >= kAutocalSeconds) {
        m_autocalRunning = false;
        std::normal_distribution<double> drift(0.0, 0.01);
        m_settings.kDer *= 1.0 + drift(m_rng);
        appendHistory(makeRecord('C', t,
            { m_settings.kDer, m_settings.autocalRate, m_settings.autocalTolerance, m_settings.autocalPrecision }));
    }

    if (m_download && now - m_download->lastRequest > kDownloadIdleLimit)
        m_download.reset();

    const uint16_t interval = m_settings.historyInterval;
    if (m_liveHistory && interval > 0) {
        if (m_nextRecord < 0)
            m_nextRecord = static_cast<double>(t) + interval;
        int appended = 0;
        while (static_cast<double>(t) >= m_nextRecord && appended < kMaxCatchUpRecords) {
            appendMeasurementRecord(static_cast<uint32_t>(m_nextRecord));
            m_nextRecord += interval;
            ++appended;
        }
        if (static_cast<double>(t) >= m_nextRecord)
            m_nextRecord = static_cast<double>(t) + interval;
    }
}

void Instrument::prefillHistory(int count, int days, double now)
{
    if (count <= 0)
        return;
    count = std::min<int>(count, static_cast<int>(kMaxHistoryRecords));
    days = std::clamp(days, 1, 3650);
    const double end = clock(now);
    const double start = std::max(0.0, end - days * 86400.0);
    const double spacing = (end - start) / count;
    std::vector<RawRecord> records;
    records.reserve(static_cast<std::size_t>(count));
    double dose = 0;
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double background = 1.0e-7;
    // A day of the instrument repeats in cycles of 40 records: switched on, measurements with the
    // occasional beta, search, background, alarm, calibration, dose reset or sound change, switched off.
    // The first cycle has one of each, so even a short history shows every kind of event.
    for (int i = 0; i < count; ++i) {
        const auto t = static_cast<uint32_t>(start + (i + 0.5) * spacing);
        const int cycle = i / 40;
        const int pos = i % 40;
        const double counts = background * kCountsPerSvh * kAveragingSeconds;
        const int precision = static_cast<int>(std::lround(200.0 / std::sqrt(counts)));
        const double rate = std::max(1.0e-9, background * (1.0 + gauss(m_rng) / std::sqrt(counts)));
        dose += rate * spacing / 3600.0;
        RawRecord record;
        if (pos == 0)
            record = makeRecord('1', t);
        else if (pos == 39)
            record = makeRecord('0', t);
        else if (pos == 10)
            record = makeRecord('b', t, { 2.0 + gauss(m_rng) * 0.3, 0.1, 25 });
        else if (pos == 20)
            record = makeRecord('S', t, { 0.5 + std::fabs(gauss(m_rng)) * 0.1, 0, 30 });
        else if (pos == 25)
            record = makeRecord('B', t, { 0.5 + std::fabs(gauss(m_rng)) * 0.1, 0, 30 });
        else if (pos == 15 && cycle % 5 == 0)
            record = makeRecord('G', t, { 4.2e-4, dose, 4 });
        else if (pos == 15 && cycle % 5 == 3)
            record = makeRecord('g', t, { 1.6e-3, dose, 3 });
        else if (pos == 30 && cycle % 7 == 0)
            record = makeRecord('A', t, { m_settings.kDer, 8.0e-5, 2, 50 });
        else if (pos == 31 && cycle % 7 == 0)
            record = makeRecord('C', t, { m_settings.kDer * 1.01, 8.0e-5, 2, 50 });
        else if (pos == 5 && cycle % 6 == 0) {
            dose = 0;
            record = makeRecord('R', t);
        } else if (pos == 35 && cycle % 4 == 0)
            record = makeRecord('s', t, { 0, 0, cycle % 8 == 0 ? 0 : 1, 1 });
        else if (pos == 12 && cycle % 9 == 0)
            record = makeRecord('I', t, { 14.0, 0, 20 });
        else if (pos == 13 && cycle % 11 == 0)
            record = makeRecord('J', t, { 140.0, 0, 15 });
        else
            record = makeRecord('F', t, { rate, dose, precision });
        records.push_back(record);
    }
    setHistory(std::move(records));
}

} // namespace kestra::sim
