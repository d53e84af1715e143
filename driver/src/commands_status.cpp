#include "commands.h"

#include "fields.h"
#include "text.h"

namespace kestra::cmd {

namespace {

bool info(Driver& d, std::string& payload)
{
    return query(d, "info", payload);
}

/// The reading after "gm=" up to `unit`, and the precision between the "~" after the unit and
/// the next "%". False when the value, the unit or the "~" is missing.
bool reading(std::string_view payload, std::string_view unit, double& value, int32_t& precision)
{
    auto key = payload.find("gm=");
    if (key == std::string_view::npos)
        return false;
    auto unitAt = payload.find(unit, key + 3);
    if (unitAt == std::string_view::npos)
        return false;
    auto tilde = payload.find('~', unitAt);
    if (tilde == std::string_view::npos)
        return false;
    value = parseDouble(payload.substr(key + 3, unitAt - key - 3));
    auto percent = payload.find('%', tilde + 1);
    precision = percent == std::string_view::npos ? 0 : parseInt(payload.substr(tilde + 1, percent - tilde - 1));
    return true;
}

} // namespace

bool getDeviceMode(Driver& d, int32_t* mode)
{
    if (!mode)
        return false;
    std::string payload;
    if (!info(d, payload))
        return false;
    static constexpr std::string_view words[]
        = { "read_history ", "test ", "gm ", "betta_1 ", "betta_2 ", "survey ", "backgr ", "search_bg " };
    // Each word found overrides the ones before it in mode order, so with two words in one
    // reply the higher mode counts ("survey " beats "betta_1 ").
    *mode = 0;
    for (int i = 0; i < 8; ++i) {
        if (fields::has(payload, words[i]))
            *mode = i + 1;
    }
    return true;
}

bool getMeasurementValue(Driver& d, int32_t* mode, double* value, int32_t* precision, uint16_t* alarm, uint8_t* status)
{
    if (!mode || !value || !precision)
        return false;
    std::string payload;
    if (!info(d, payload))
        return false;
    if (alarm) {
        auto word = fields::hex(payload, "alarm=");
        *alarm = static_cast<uint16_t>(word ? *word : 0);
    }
    auto none = [&](int32_t m) {
        *mode = m;
        *value = 0.0;
        *precision = 99;
        return true;
    };
    auto betaStatus = [&] {
        if (status) {
            auto byte = fields::hex(payload, "status=");
            *status = static_cast<uint8_t>(byte ? *byte : 3);
        }
    };
    if (fields::has(payload, "test ") || fields::has(payload, "read_history "))
        return none(1);

    double reading_ = 0.0;
    int32_t precision_ = 0;
    bool count = false;
    for (auto [word, m] : { std::pair { "search_bg ", 8 }, { "backgr ", 7 }, { "survey ", 6 }, { "betta_1 ", 4 } }) {
        if (fields::has(payload, word)) {
            *mode = m; // a later word wins
            count = true;
        }
    }
    if (count) {
        if (!reading(payload, "cps", reading_, precision_))
            return false;
        *value = reading_;
        *precision = precision_;
        betaStatus();
        return true;
    }
    if (fields::has(payload, "betta_2 ")) {
        *mode = 5;
        if (!reading(payload, "cpm/cm", reading_, precision_))
            return false;
        *value = reading_;
        *precision = precision_;
        betaStatus();
        return true;
    }
    if (fields::has(payload, "gm ")) {
        *mode = 3;
        if (!reading(payload, "sv/hr", reading_, precision_))
            return false;
        *value = reading_ * 1e8;
        *precision = precision_;
        return true;
    }
    return none(0);
}

int32_t getAlarmInfo(Driver& d, uint16_t* alarm)
{
    if (!alarm)
        return 0;
    std::string payload;
    if (!info(d, payload))
        return -1;
    auto word = fields::hex(payload, "alarm=");
    if (!word)
        return 1;
    *alarm = static_cast<uint16_t>(*word);
    return 0;
}

bool getDose(Driver& d, double* rate, int32_t* time, int32_t* dose)
{
    std::string payload;
    if (!query(d, "get_dose", payload))
        return false;
    if (rate) {
        auto value = fields::decimal(payload, "d=", "sv");
        if (!value)
            return false;
        *rate = *value * 1e8;
    }
    if (time) {
        auto value = fields::hex(payload, "t=", "s ");
        if (!value)
            return false;
        *time = static_cast<int32_t>(*value);
    }
    if (dose) {
        auto value = fields::decimal(payload, "d_acc=", "sv");
        auto scaled = value ? fields::truncated(*value * 100) : std::nullopt;
        if (!scaled)
            return false;
        *dose = *scaled;
    }
    return true;
}

bool getBattery(Driver& d, int32_t* value)
{
    return getValue(d, "get_battery", value, [](std::string_view p) {
        auto token = fields::token(p, "n=");
        return token ? fields::truncated(parseInt(*token) * 10.0) : std::nullopt;
    });
}

} // namespace kestra::cmd
