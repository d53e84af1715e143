#include "ctl_format.h"

#include "ctl_strings.h"
#include "kestracommon/texts.h"

#include <array>

namespace kestra::ctl {

using namespace detail;

// ---- history --------------------------------------------------------------------------------

std::string formatSystemTime(const SYSTEMTIME& t)
{
    std::string year = std::to_string(t.wYear);
    if (year.size() < 4)
        year.insert(0, 4 - year.size(), '0');
    return year + "-" + twoDigits(t.wMonth) + "-" + twoDigits(t.wDay) + " " + twoDigits(t.wHour) + ":"
        + twoDigits(t.wMinute) + ":" + twoDigits(t.wSecond);
}

std::string eventName(char type)
{
    const common::RecordCode* record = common::findRecordCode(type);
    const common::CodeText* event = record ? common::findCode(common::eventTypeTexts(), record->eventType) : nullptr;
    return event ? std::string(event->text) : "unknown event '" + printable(std::string_view(&type, 1)) + "'";
}

std::string eventAlarm(char type)
{
    const common::RecordCode* record = common::findRecordCode(type);
    if (!record || record->alarm == 0)
        return {};
    if (record->alarm == common::SearchAlarm)
        return common::SearchAlarmText;
    const common::CodeText* alarm = common::findCode(common::alarmTexts(), record->alarm);
    return alarm ? alarmText(*alarm) : std::string();
}

std::string eventValueText(const KESTRAdrv_EventRecord& r)
{
    std::string text;
    switch (r.type) {
    case 'D':
    case 'F':
    case 'G':
    case 'g':
    case 'O':
        if (r.value1 >= 0)
            text = formatDoseRate(r.value1);
        break;
    case 'A':
    case 'C':
        if (r.value2 >= 0)
            text = formatDoseRate(r.value2);
        break;
    case 'b':
    case 'I':
    case 'i':
        if (r.value1 >= 0)
            text = formatDecimal(r.value1, 2, 4) + " " + std::string(FluxUnit);
        break;
    case 'B':
    case 'J':
    case 'S':
        if (r.value1 >= 0)
            text = formatDecimal(r.value1, 2, 4) + " " + std::string(CountRateUnit);
        break;
    case 's':
        if (r.param1 >= 0)
            text = std::string("sound ") + (r.param1 ? "on" : "off");
        break;
    default:
        break;
    }
    bool measurement = std::string_view("DFGgObIiBJS").find(r.type) != std::string_view::npos;
    if (!text.empty() && measurement && r.param1 >= 0)
        text += " \xC2\xB1" + std::to_string(r.param1) + "%"; // ±
    return text;
}

std::string historyTable(std::span<const KESTRAdrv_EventRecord> records, bool rawUnits)
{
    std::string out;
    if (rawUnits) {
        out = "time\ttype\tvalue1\tvalue2\tparam1\tparam2\n";
        for (const KESTRAdrv_EventRecord& r : records) {
            out += formatSystemTime(r.time) + "\t" + printable(std::string_view(&r.type, 1)) + "\t"
                + formatShortest(r.value1) + "\t" + formatShortest(r.value2) + "\t" + std::to_string(r.param1) + "\t"
                + std::to_string(r.param2) + "\n";
        }
        return out;
    }
    std::vector<std::array<std::string, 5>> rows;
    rows.push_back({ "TIME", "CODE", "EVENT", "VALUE", "ALARM" });
    for (const KESTRAdrv_EventRecord& r : records)
        rows.push_back({ formatSystemTime(r.time), printable(std::string_view(&r.type, 1)), eventName(r.type),
            eventValueText(r), eventAlarm(r.type) });
    std::array<std::size_t, 5> widths {};
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row[c]));
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? padRight(row[c], widths[c] + 2) : row[c];
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    out += std::to_string(records.size()) + (records.size() == 1 ? " event\n" : " events\n");
    return out;
}

std::string historyJson(std::span<const KESTRAdrv_EventRecord> records)
{
    std::string out = "[";
    bool first = true;
    for (const KESTRAdrv_EventRecord& r : records) {
        out += first ? "\n  " : ",\n  ";
        first = false;
        std::string time = formatSystemTime(r.time);
        time[10] = 'T';
        out += "{\"time\":" + jsonString(time) + ",\"type\":" + jsonString(std::string_view(&r.type, 1))
            + ",\"event\":" + jsonString(eventName(r.type)) + ",\"alarm\":" + jsonString(eventAlarm(r.type))
            + ",\"text\":" + jsonString(eventValueText(r)) + ",\"value1\":" + jsonNumber(r.value1)
            + ",\"value2\":" + jsonNumber(r.value2) + ",\"param1\":" + std::to_string(r.param1)
            + ",\"param2\":" + std::to_string(r.param2) + "}";
    }
    out += first ? "]\n" : "\n]\n";
    return out;
}

} // namespace kestra::ctl
