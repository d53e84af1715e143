#include "ctl_commands.h"
#include "ctl_format.h"

#include <cmath>

namespace kestra::ctl {

namespace {

struct SettingAccess {
    std::string_view name;
    bool (*get)(double& value);
    bool (*set)(double value);
};

template <typename T, uint8_t (*Get)(T*)> bool getAs(double& value)
{
    T raw {};
    if (!Get(&raw))
        return false;
    value = static_cast<double>(raw);
    return true;
}

template <int Level, uint8_t (*Get)(int32_t, int32_t*)> bool getLevel(double& value)
{
    int32_t raw = 0;
    if (!Get(Level, &raw))
        return false;
    value = raw;
    return true;
}

const SettingAccess Accessors[] = {
    { "units", getAs<uint8_t, KESTRAdrv_GetMeasUnits>, [](double v) { return KESTRAdrv_SetMeasUnits(v != 0) != 0; } },
    { "sound", getAs<uint8_t, KESTRAdrv_GetSound>, [](double v) { return KESTRAdrv_SetSound(v != 0) != 0; } },
    { "light", getAs<uint8_t, KESTRAdrv_GetLight>, [](double v) { return KESTRAdrv_SetLight(v != 0) != 0; } },
    { "beep", getAs<uint8_t, KESTRAdrv_GetSearchBeep>, [](double v) { return KESTRAdrv_SetSearchBeep(v != 0) != 0; } },
    { "sigma", getAs<double, KESTRAdrv_GetCoeffN>, [](double v) { return KESTRAdrv_SetCoeffN(v) != 0; } },
    { "qm-timeout", getAs<uint16_t, KESTRAdrv_GetQMTimeOut>,
        [](double v) { return KESTRAdrv_SetQMTimeOut(static_cast<int32_t>(v)) != 0; } },
    { "der1", getLevel<1, KESTRAdrv_GetDERThresh>,
        [](double v) { return KESTRAdrv_SetDERThresh(1, static_cast<int32_t>(v)) != 0; } },
    { "der2", getLevel<2, KESTRAdrv_GetDERThresh>,
        [](double v) { return KESTRAdrv_SetDERThresh(2, static_cast<int32_t>(v)) != 0; } },
    { "de", getAs<double, KESTRAdrv_GetDEThresh>, [](double v) { return KESTRAdrv_SetDEThresh(v) != 0; } },
    { "hv", getAs<int32_t, KESTRAdrv_GetCoeffHV>,
        [](double v) { return KESTRAdrv_SetCoeffHV(static_cast<int32_t>(v)) != 0; } },
    { "k-der", getAs<double, KESTRAdrv_GetCoeffDER>, [](double v) { return KESTRAdrv_SetCoeffDER(v) != 0; } },
    { "k-beta", getAs<int32_t, KESTRAdrv_GetCoeffBeta>,
        [](double v) { return KESTRAdrv_SetCoeffBeta(static_cast<int32_t>(v)) != 0; } },
    { "k-alpha", getAs<int32_t, KESTRAdrv_GetCoeffAlpha>,
        [](double v) { return KESTRAdrv_SetCoeffAlpha(static_cast<int32_t>(v)) != 0; } },
    { "background", getAs<double, KESTRAdrv_GetDetBkg>, [](double v) { return KESTRAdrv_SetDetBkg(v) != 0; } },
    { "beta1", getLevel<1, KESTRAdrv_GetBetaThresh>,
        [](double v) { return KESTRAdrv_SetBetaThresh(1, static_cast<int32_t>(v)) != 0; } },
    { "beta2", getLevel<2, KESTRAdrv_GetBetaThresh>,
        [](double v) { return KESTRAdrv_SetBetaThresh(2, static_cast<int32_t>(v)) != 0; } },
    { "beta-search", getAs<double, KESTRAdrv_GetSearchBetaThr>,
        [](double v) { return KESTRAdrv_SetSearchBetaThr(v) != 0; } },
    { "hist-interval", getAs<uint16_t, KESTRAdrv_GetHistTime>,
        [](double v) { return KESTRAdrv_SetHistTime(static_cast<int32_t>(v)) != 0; } },
};

const SettingAccess& accessFor(const SettingInfo& setting)
{
    for (const SettingAccess& a : Accessors)
        if (a.name == setting.name)
            return a;
    throw CommandError { ExitFailure, "internal error: no accessor for " + std::string(setting.name) };
}

const SettingInfo& settingNamed(const std::string& name)
{
    const SettingInfo* setting = findSetting(name);
    if (!setting)
        usageError("unknown setting '" + printable(name) + "' (see kestractl --help)");
    return *setting;
}

/// Whether a value read back is the one written, within what the wire form keeps
/// (seven significant digits for "%E" values, one decimal for sigma).
bool sameStoredValue(const SettingInfo& setting, double written, double readBack)
{
    if (setting.integral)
        return std::llround(written) == std::llround(readBack);
    if (setting.name == "sigma")
        return std::fabs(written - readBack) < 0.05 + 1e-9;
    return std::fabs(written - readBack) <= 1e-6 * std::max(std::fabs(written), 1e-300) + 1e-9;
}

Action prepareGetAll(const Options& options)
{
    return [&options](Session& session) {
        Report report;
        std::vector<std::string> failed;
        for (const SettingInfo& setting : settingTable()) {
            double raw = 0;
            if (!accessFor(setting).get(raw)) {
                failed.emplace_back(setting.name);
                report.add(std::string(setting.name), std::string(setting.name), "(read failed)", "null");
                continue;
            }
            report.add(std::string(setting.name), std::string(setting.name),
                formatSettingValue(setting, raw, options.raw), settingJson(setting, raw));
        }
        printReport(options, report);
        if (!failed.empty()) {
            std::string list;
            for (const std::string& f : failed)
                list += (list.empty() ? "" : ", ") + f;
            session.fail("reading " + list + " failed");
        }
        return int(ExitOk);
    };
}

} // namespace

Action prepareGet(const Options& options)
{
    if (options.args[0] == "all")
        return prepareGetAll(options);
    const SettingInfo& setting = settingNamed(options.args[0]);
    return [&options, &setting](Session& session) {
        double raw = 0;
        session.require([&] { return accessFor(setting).get(raw); }, "reading " + std::string(setting.name));
        if (options.json)
            print(settingJson(setting, raw) + "\n");
        else
            print(formatSettingValue(setting, raw, options.raw) + "\n");
        return int(ExitOk);
    };
}

Action prepareSet(const Options& options)
{
    const SettingInfo& setting = settingNamed(options.args[0]);
    SettingValue value = parseSettingValue(setting, options.args[1], options.raw);
    if (!value.raw)
        usageError(value.error);
    double wanted = *value.raw;
    return [&options, &setting, wanted](Session& session) {
        const SettingAccess& access = accessFor(setting);
        session.require([&] { return access.set(wanted); }, "writing " + std::string(setting.name));
        // The instrument may accept a value and keep another; only a read-back tells.
        double readBack = 0;
        session.require([&] { return access.get(readBack); }, "reading back " + std::string(setting.name));
        if (!sameStoredValue(setting, wanted, readBack))
            throw CommandError { ExitFailure,
                std::string(setting.name) + ": the instrument kept "
                    + formatSettingValue(setting, readBack, options.raw) + " instead of "
                    + formatSettingValue(setting, wanted, options.raw) };
        print(std::string(setting.name) + " = " + formatSettingValue(setting, readBack, options.raw) + "\n");
        return int(ExitOk);
    };
}

} // namespace kestra::ctl
