#include "commands.h"

#include "fields.h"
#include "text.h"

#include <cstdio>
#include <cstring>

namespace kestra::cmd {

bool setAutocalibration(Driver& d, int32_t rate, int32_t tolerance, int32_t precision)
{
    char tail[64];
    std::snprintf(tail, sizeof tail, "Sv/hr~%02d%% precision=%02d%%", tolerance, precision);
    return send(d, "autocalibr GM=" + formatE(rate / 1e8) + tail);
}

bool stopAutocalibration(Driver& d)
{
    return send(d, "autocalibr_stop");
}

bool getAutocalibration(Driver& d, uint8_t* running)
{
    return getValue(d, "info", running, [](std::string_view p) {
        auto word = fields::hex(p, "alarm=");
        return word ? std::optional<uint8_t>((*word & 0x8000) ? 1 : 0) : std::nullopt;
    });
}

bool getAutocalParams(Driver& d, int32_t* rate, int32_t* tolerance, int32_t* precision)
{
    if (!rate)
        return false;
    std::string payload;
    if (!query(d, "get_autocal_setting", payload))
        return false;
    std::string_view p = payload;
    auto key = p.find("gm=");
    if (key == std::string_view::npos)
        return false;
    auto unit = p.find("sv/hr", key + 3);
    std::string_view gamma = unit == std::string_view::npos ? std::string_view {} : p.substr(key + 3, unit - key - 3);
    auto value = fields::exponentValue(gamma);
    if (!value)
        return false;
    *rate = *value;

    auto tilde = p.find('~', unit == std::string_view::npos ? p.size() : unit);
    if (tilde == std::string_view::npos)
        return false;
    auto end = p.find("% ", tilde + 1);
    int32_t tol = parseInt(end == std::string_view::npos ? std::string_view {} : p.substr(tilde + 1, end - tilde - 1));
    if (tolerance)
        *tolerance = tol;

    auto prec = fields::text(p, "precision=", "% ");
    if (!prec)
        return false;
    if (precision)
        *precision = parseInt(*prec);

    if (*rate < 0) {
        // The instrument has no calibration set: report the usual reference.
        *rate = 8000;
        if (tolerance)
            *tolerance = 2;
        if (precision)
            *precision = 50;
    }
    return true;
}

bool getDeviceVersion(Driver& d, int32_t part, char* text)
{
    if (!text)
        return false;
    char command[32];
    std::snprintf(command, sizeof command, "r_det_vers N=%02d ", part);
    std::string payload;
    if (!query(d, command, payload))
        return false;
    std::string lower = toLower(command);
    auto at = payload.find(lower);
    if (at == std::string::npos)
        return false;
    std::size_t begin = at + lower.size() + 2;
    auto end = payload.find(" crc=", begin);
    if (begin > payload.size() || end == std::string::npos)
        return false;
    std::memset(text, 0, KESTRADRV_TEXT_SIZE);
    std::string_view data(payload.data() + begin, end - begin);
    // The output holds at most 259 characters and its NUL.
    for (std::size_t i = 0; i + 1 < data.size() && i / 2 < KESTRADRV_TEXT_SIZE - 1; i += 2)
        text[i / 2] = static_cast<char>(fields::hexValue(data.substr(i, 2)));
    return true;
}

bool writeDeviceProg(Driver& d, const uint8_t* image, int32_t length)
{
    if (length < 0 || (length > 0 && !image))
        return false;
    std::lock_guard lock(d.portLock());
    if (!setDeviceMode(d, 3) || !setDeviceLock(d, true))
        return false;
    auto unlock = [&] {
        setDeviceLock(d, false);
        return false;
    };
    char version[KESTRADRV_TEXT_SIZE];
    if (!getDeviceVersion(d, 0, version) || !getDeviceVersion(d, 2, version))
        return unlock();

    constexpr int64_t packetSize = 256;
    for (int64_t offset = 0;; offset += packetSize) {
        bool last = offset + packetSize >= length;
        int64_t size = last ? length - offset : packetSize;
        char head[32];
        std::snprintf(head, sizeof head, "package len=%04X P=", static_cast<unsigned>(size));
        std::string command = head;
        for (int64_t i = 0; i < size; ++i) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X", image[offset + i]);
            command += pair;
        }
        if (!send(d, command, {}, 4000))
            return unlock();
        if (last)
            break;
    }
    if (!send(d, "start_loading", {}, 60000))
        return unlock();
    return true;
}

} // namespace kestra::cmd
