#include "charts/timeticks.h"

#include "history/localtime.h"

#include <iterator>
#include <stdexcept>

namespace {

constexpr qint64 MinuteMs = 60 * 1000;
constexpr qint64 HourMs = 60 * MinuteMs;
constexpr qint64 DayMs = 24 * HourMs;
// No axis gets more ticks than this, whatever it is asked.
constexpr std::size_t MaxTicks = 400;

constexpr qint64 Steps[] = { MinuteMs, 5 * MinuteMs, 10 * MinuteMs, 15 * MinuteMs, 30 * MinuteMs, HourMs, 2 * HourMs,
    3 * HourMs, 6 * HourMs, 12 * HourMs, DayMs, 2 * DayMs, 7 * DayMs, 14 * DayMs, 31 * DayMs, 92 * DayMs };

// The local midnight on or before a moment (ms); the moment itself when it has no local day.
qint64 localMidnight(qint64 ms)
{
    const std::optional<qint64> key = LocalTime::dayKey(ms / 1000);
    return key ? *key * 1000 : ms;
}

qint64 nextLocalDay(qint64 midnightMs)
{
    // 36 hours on is within the next day whatever daylight saving does.
    return localMidnight(midnightMs + 36 * HourMs);
}

} // namespace

namespace TimeTicks {

Ticks ticks(qint64 start, qint64 end, qint64 fit)
{
    Ticks out;
    if (end <= start)
        return out;
    const qint64 span = end - start;
    out.step = Steps[std::size(Steps) - 1];
    for (const qint64 s : Steps) {
        if (span / s <= std::max<qint64>(1, fit)) {
            out.step = s;
            break;
        }
    }
    std::vector<qint64>& at = out.at;
    if (out.step < DayMs) {
        // Within a day, ticks are round times of the local clock: a time that the clocks skip
        // has no tick, one that they repeat has one.
        const int stepMinutes = int(out.step / MinuteMs);
        for (qint64 day = localMidnight(start); day <= end && at.size() < MaxTicks;) {
            const auto date = LocalTime::toLocal(day / 1000);
            const qint64 next = nextLocalDay(day);
            if (!date || next <= day)
                break;
            for (int minutes = 0; minutes < 24 * 60 && at.size() < MaxTicks; minutes += stepMinutes) {
                const auto t = LocalTime::fromLocal(
                    date->tm_year + 1900, date->tm_mon + 1, date->tm_mday, minutes / 60, minutes % 60);
                const auto back = t ? LocalTime::toLocal(*t) : std::nullopt;
                if (!back || back->tm_hour != minutes / 60 || back->tm_min != minutes % 60)
                    continue;
                if (*t * 1000 >= start && *t * 1000 <= end)
                    at.push_back(*t * 1000);
            }
            day = next;
        }
    } else if (out.step <= 14 * DayMs) {
        const qint64 every = out.step / DayMs;
        qint64 n = 0;
        for (qint64 day = localMidnight(start); day <= end && at.size() < MaxTicks; ++n) {
            if (day >= start && n % every == 0)
                at.push_back(day);
            const qint64 next = nextLocalDay(day);
            if (next <= day)
                break;
            day = next;
        }
    } else if (const auto first = LocalTime::toLocal(start / 1000)) {
        // Firsts of months; every third for long spans.
        const int every = out.step > 31 * DayMs ? 3 : 1;
        int year = first->tm_year + 1900;
        int month = first->tm_mon + 1;
        for (std::size_t n = 0; n < MaxTicks; ++n) {
            const auto t = LocalTime::fromLocal(year, month, 1);
            if (!t || *t * 1000 > end)
                break;
            if (*t * 1000 >= start && (month - 1) % every == 0)
                at.push_back(*t * 1000);
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
    return out;
}

QString text(qint64 ms, qint64 step)
{
    if (step < DayMs)
        return LocalTime::format(ms / 1000, "%H:%M");
    if (step < 28 * DayMs)
        return LocalTime::format(ms / 1000, "%d.%m");
    return LocalTime::format(ms / 1000, "%m.%Y");
}

QString elapsedText(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace TimeTicks
