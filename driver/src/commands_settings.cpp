#include "commands.h"

#include "fields.h"
#include "text.h"

#include <cstdio>
#include <cstring>

namespace kestra::cmd {

namespace {

constexpr double toDriverUnits = 1e8;

std::string hex4(int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

bool getSwitch(Driver& d, const char* command, uint8_t* on)
{
    if (!on)
        return false;
    std::lock_guard lock(d.portLock());
    std::string payload;
    if (!query(d, command, payload))
        return false;
    *on = fields::has(payload, " on ") ? 1 : 0;
    return true;
}

bool setSwitch(Driver& d, const std::string& command, bool on)
{
    return send(d, command + (on ? " on" : " off"), command);
}

std::optional<int32_t> truncatedField(std::string_view payload, std::string_view key, std::string_view terminator)
{
    auto value = fields::decimal(payload, key, terminator);
    return value ? fields::truncated(*value) : std::nullopt;
}

std::optional<double> scaledField(std::string_view payload, std::string_view key, std::string_view terminator)
{
    auto value = fields::decimal(payload, key, terminator);
    return value ? std::optional<double>(*value * toDriverUnits) : std::nullopt;
}

} // namespace

bool query(Driver& d, const std::string& command, std::string& payload, bool reload)
{
    std::lock_guard lock(d.portLock());
    if (!d.numberCheck())
        return false;
    if (reload && !d.transact("reload_det_param", 5000, payload))
        return false;
    return d.transact(command, 1000, payload);
}

bool send(Driver& d, const std::string& command, std::string_view echo, int timeoutMs)
{
    std::lock_guard lock(d.portLock());
    if (!d.numberCheck())
        return false;
    std::string payload;
    if (!d.transact(command, timeoutMs, payload))
        return false;
    return echo.empty() || fields::has(payload, echo);
}

bool getMeasUnits(Driver& d, uint8_t* roentgen)
{
    if (!roentgen)
        return false;
    std::lock_guard lock(d.portLock());
    std::string payload;
    if (!query(d, "get_measur_unit", payload) || !fields::has(payload, " u="))
        return false;
    *roentgen = fields::has(payload, " u=sv") ? 0 : 1;
    return true;
}

bool setMeasUnits(Driver& d, bool roentgen)
{
    return send(d, roentgen ? "put_measur_unit U=R" : "put_measur_unit U=Sv", "put_measur_unit");
}

bool getSound(Driver& d, uint8_t* on)
{
    return getSwitch(d, "get_sound", on);
}
bool setSound(Driver& d, bool on)
{
    return setSwitch(d, "put_sound", on);
}
bool getLight(Driver& d, uint8_t* on)
{
    return getSwitch(d, "get_light", on);
}
bool setLight(Driver& d, bool on)
{
    return setSwitch(d, "put_light", on);
}
bool getSearchBeep(Driver& d, uint8_t* on)
{
    return getSwitch(d, "get_beep", on);
}
bool setSearchBeep(Driver& d, bool on)
{
    return setSwitch(d, "put_beep", on);
}

bool getCoeffN(Driver& d, double* sigma)
{
    return getValue(d, "get_sigma", sigma, [](std::string_view p) { return fields::decimal(p, "nsig="); });
}

bool setCoeffN(Driver& d, double sigma)
{
    return send(d, "put_sigma Nsig=" + formatFixed(sigma, 1));
}

bool getQMTimeOut(Driver& d, uint16_t* timeout)
{
    return getValue(d, "get_timeout", timeout, [](std::string_view p) { return fields::hex(p, "t="); });
}

bool setQMTimeOut(Driver& d, int32_t timeout)
{
    return send(d, "put_timeout T=" + hex4(timeout & 0xFFFF));
}

bool getDERThresh(Driver& d, int32_t level, int32_t* threshold)
{
    if (!threshold)
        return false;
    std::lock_guard lock(d.portLock());
    if (!d.numberCheck() || (level != 1 && level != 2))
        return false;
    return getValue(d, level == 1 ? "get_thresh_g" : "get_thresh_g2", threshold, [](std::string_view p) {
        auto field = fields::text(p, "thrg=", "sv/hr");
        return field ? fields::exponentValue(*field) : std::nullopt;
    });
}

bool setDERThresh(Driver& d, int32_t level, int32_t threshold)
{
    std::lock_guard lock(d.portLock());
    if (!d.numberCheck() || (level != 1 && level != 2))
        return false;
    std::string command = level == 1 ? "put_thresh_g" : "put_thresh_g2";
    return send(d, command + " thrG=" + formatE(threshold / toDriverUnits) + "Sv/hr");
}

bool getDEThresh(Driver& d, double* threshold)
{
    return getValue(d, "get_thresh_de", threshold, [](std::string_view p) { return scaledField(p, "thrg=", "sv"); });
}

bool setDEThresh(Driver& d, double threshold)
{
    return send(d, "put_thresh_de thrG=" + formatE(threshold / toDriverUnits) + "Sv");
}

bool getCoeffHV(Driver& d, int32_t* code)
{
    return getValue(
        d, "get_HI_V", code, [](std::string_view p) { return fields::hex(p, "hi_v="); }, true);
}

bool setCoeffHV(Driver& d, int32_t code)
{
    return send(d, "put_HI_V hi_v=" + hex4(code));
}

bool getCoeffDER(Driver& d, double* coefficient)
{
    return getValue(
        d, "get_K_DER", coefficient, [](std::string_view p) { return fields::decimal(p, "k="); }, true);
}

bool setCoeffDER(Driver& d, double coefficient)
{
    return send(d, "put_K_DER K=" + formatE(coefficient));
}

bool getCoeffBeta(Driver& d, int32_t* coefficient)
{
    return getValue(
        d, "get_K_b", coefficient, [](std::string_view p) { return truncatedField(p, "k=", " "); }, true);
}

bool setCoeffBeta(Driver& d, int32_t coefficient)
{
    return send(d, "put_K_b K=" + formatE(coefficient));
}

bool getCoeffAlpha(Driver& d, int32_t* coefficient)
{
    return getValue(
        d, "get_K_a", coefficient, [](std::string_view p) { return truncatedField(p, "k=", " "); }, true);
}

bool setCoeffAlpha(Driver& d, int32_t coefficient)
{
    return send(d, "put_K_a K=" + formatE(coefficient));
}

bool getDetBkg(Driver& d, double* background)
{
    return getValue(
        d, "get_own_backgr", background, [](std::string_view p) { return scaledField(p, "gm=", "sv/hr"); }, true);
}

bool setDetBkg(Driver& d, double background)
{
    return send(d, "put_own_backgr GM=" + formatE(background / toDriverUnits) + "Sv/hr");
}

bool getBetaThresh(Driver& d, int32_t level, int32_t* threshold)
{
    if (!threshold)
        return false;
    std::lock_guard lock(d.portLock());
    if (!d.numberCheck() || (level != 1 && level != 2))
        return false;
    return getValue(d, level == 1 ? "get_thresh_b1" : "get_thresh_b2", threshold,
        [](std::string_view p) { return truncatedField(p, "thrg=", "cpm/cm"); });
}

bool setBetaThresh(Driver& d, int32_t level, int32_t threshold)
{
    std::lock_guard lock(d.portLock());
    if (!d.numberCheck() || (level != 1 && level != 2))
        return false;
    std::string command = level == 1 ? "put_thresh_b1" : "put_thresh_b2";
    return send(d, command + " thrG=" + formatE(threshold) + "CPM/cm^2");
}

bool getSearchBetaThr(Driver& d, double* threshold)
{
    return getValue(
        d, "get_thresh_b", threshold, [](std::string_view p) { return fields::decimal(p, "thrg=", "cps"); });
}

bool setSearchBetaThr(Driver& d, double threshold)
{
    return send(d, "put_thresh_b thrG=" + formatE(threshold) + "CPS");
}

bool getDeviceMenu(Driver& d, uint8_t* menu)
{
    if (!menu)
        return false;
    std::lock_guard lock(d.portLock());
    std::string payload;
    if (!query(d, "read_menu", payload))
        return false;
    std::size_t at = payload.find("read_menu ");
    if (at == std::string::npos)
        return false;
    std::size_t begin = at + 10;
    std::size_t end = payload.find(' ', begin);
    if (end == std::string::npos)
        return false;
    std::memset(menu, 0, KESTRADRV_MENU_READ_SIZE);
    std::string_view digits(payload.data() + begin, end - begin);
    for (std::size_t i = 0; i + 1 < digits.size() && i / 2 < KESTRADRV_MENU_READ_SIZE; i += 2)
        menu[i / 2] = static_cast<uint8_t>(fields::hexValue(digits.substr(i, 2)));
    return true;
}

bool setDeviceMenu(Driver& d, const uint8_t* menu)
{
    if (!menu)
        return false;
    std::string command = "write_menu M=";
    char pair[4];
    for (int i = 0; i < KESTRADRV_MENU_WRITE_SIZE; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", menu[i]);
        command += pair;
    }
    return send(d, command);
}

bool setDeviceMode(Driver& d, int32_t mode)
{
    std::lock_guard lock(d.portLock());
    if (!d.numberCheck())
        return false;
    const char* word = mode == 3 ? "gm" : (mode == 4 || mode == 5) ? "betta" : mode == 8 ? "search_bg" : nullptr;
    if (!word)
        return false;
    return send(d, std::string("SET_MODE=") + word, std::string(word) + ' ');
}

bool setDeviceLock(Driver& d, bool lock)
{
    return send(d, lock ? "SET_MODE=control_on" : "SET_MODE=control_off");
}

bool resetDose(Driver& d)
{
    return send(d, "reset_dose");
}

bool resetStatistic(Driver& d, int32_t kind)
{
    return send(d, kind == 1 ? "reset_stat_on" : kind == 2 ? "reset_stat_off" : "reset_stat");
}

} // namespace kestra::cmd
