#include "commands.h"

#include "fields.h"
#include "history_decoder.h"

#include <cstdio>

namespace kestra::cmd {

bool getHistory(Driver& d, int32_t* count, KESTRAdrv_EventRecord** records)
{
    if (!records || !count)
        return false;
    // The record array is the library's: no other download may refill it while this one runs,
    // and no other exchange may fall between the chunks of the instrument's answer.
    std::lock_guard lock(d.portLock());
    auto& array = d.historyRecords();
    array.clear();
    *records = nullptr;
    *count = 0;

    std::string payload;
    if (!query(d, "read_history", payload))
        return false;
    std::vector<uint8_t> bytes;
    for (;;) {
        bool last = false;
        if (!appendHistoryChunk(payload, bytes, last))
            return false;
        if (last)
            break;
        if (!d.transact("info", 1000, payload))
            return false;
    }
    decodeRecords(bytes.data(), bytes.size(), array);
    if (array.size() > static_cast<std::size_t>(INT32_MAX)) {
        array.clear();
        return false;
    }
    *count = static_cast<int32_t>(array.size());
    if (!array.empty())
        *records = array.data();
    return true;
}

bool getHistTime(Driver& d, uint16_t* interval)
{
    return getValue(d, "read_hist_time", interval, [](std::string_view p) { return fields::hex(p, "t="); });
}

bool setHistTime(Driver& d, int32_t interval)
{
    char command[64];
    std::snprintf(
        command, sizeof command, "%s T=%04X Tp=%04X", "set_hist_time", static_cast<unsigned>(interval & 0xFFFF), 10u);
    return send(d, command, "set_hist_time");
}

bool clearHistory(Driver& d)
{
    return send(d, "delete_history");
}

bool getDeviceTime(Driver& d, SYSTEMTIME* time)
{
    return getValue(d, "read_enter_time", time, [](std::string_view p) {
        auto seconds = fields::hex(p, "t=");
        return seconds ? std::optional(systemTimeFromInstrument(static_cast<uint32_t>(*seconds))) : std::nullopt;
    });
}

bool setDeviceTime(Driver& d)
{
    int64_t seconds = instrumentSecondsAt(d.now());
    // The instrument counts from 1999 in 32 bits; a PC clock outside that range is wrong.
    if (seconds < 0 || seconds > static_cast<int64_t>(UINT32_MAX))
        return false;
    char command[40];
    std::snprintf(command, sizeof command, "set_enter_time T=%08X", static_cast<unsigned>(seconds));
    return send(d, command);
}

} // namespace kestra::cmd
