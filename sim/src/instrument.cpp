#include "kestrasim/instrument.h"

#include "instrument_detail.h"

#include "kestrasim/wire.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestra::sim {

using namespace detail;

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

} // namespace kestra::sim
