#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

// The labelled moments of a chart's time axis, on round local times: whole minutes and hours
// of the local clock, local midnights, firsts of months. Daylight saving is the platform's.
namespace TimeTicks {

struct Ticks {
    qint64 step = 0; // ms between ticks (a day or a month where the calendar decides)
    std::vector<qint64> at; // ms since 1970, ascending
};

// At most about fit ticks within [startMs, endMs].
Ticks ticks(qint64 startMs, qint64 endMs, qint64 fit);
// The label of a tick: "13:30" within a day, "25.10" for days, "10.2026" for months.
QString text(qint64 ms, qint64 step);
// Minutes and seconds (hours past the first) of a time since 0: "2:05", "1:02:05".
QString elapsedText(qint64 ms);

} // namespace TimeTicks
