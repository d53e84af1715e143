#include "history/localtime.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace LocalTime {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

DateParts civilFromDays(qint64 z)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 y = static_cast<qint64>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return { static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d) };
}

// 1899-12-30 counted from 1970-01-01.
constexpr qint64 automationEpoch = -25569;

} // namespace

std::optional<std::tm> toLocal(qint64 seconds)
{
    if (seconds < std::numeric_limits<time_t>::min() || seconds > std::numeric_limits<time_t>::max())
        return std::nullopt;
    const time_t t = static_cast<time_t>(seconds);
    std::tm tm {};
    if (!localtime_r(&t, &tm))
        return std::nullopt;
    return tm;
}

QString format(qint64 seconds, const char* pattern)
{
    const auto tm = toLocal(seconds);
    if (!tm)
        return {};
    char buffer[128];
    const size_t n = std::strftime(buffer, sizeof buffer, pattern, &*tm);
    if (n == 0)
        return {};
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

std::optional<qint64> fromLocal(int year, int month, int day, int hour, int minute, int second)
{
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59
        || second < 0 || second > 60 || year < 1 || year > 100000)
        return std::nullopt;
    std::tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    errno = 0;
    const time_t t = mktime(&tm);
    // mktime returns -1 both for an error and for 1969-12-31 23:59:59 UTC; the fields tell them apart.
    if (t == static_cast<time_t>(-1) && errno != 0)
        return std::nullopt;
    return static_cast<qint64>(t);
}

std::optional<qint64> dayKey(qint64 seconds)
{
    const auto tm = toLocal(seconds);
    if (!tm)
        return std::nullopt;
    return fromLocal(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday);
}

double automationDay(int year, int month, int day)
{
    return static_cast<double>(
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - automationEpoch);
}

DateParts fromAutomationDay(qint64 dayNumber)
{
    return civilFromDays(dayNumber + automationEpoch);
}

std::optional<std::pair<double, double>> toAutomation(qint64 seconds)
{
    const auto tm = toLocal(seconds);
    if (!tm)
        return std::nullopt;
    const double day = automationDay(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday);
    const int secs = tm->tm_hour * 3600 + tm->tm_min * 60 + std::min(tm->tm_sec, 59);
    return std::make_pair(day, secs / 86400.0);
}

std::optional<qint64> fromAutomation(double value)
{
    // Beyond a few million days the calendar and time_t give out; such a value is damage.
    if (!std::isfinite(value) || value < -1e6 || value > 3e6)
        return std::nullopt;
    double whole = std::floor(value);
    qint64 secondsOfDay = static_cast<qint64>(std::floor((value - whole) * 86400.0 + 0.5));
    if (secondsOfDay >= 86400) {
        whole += 1;
        secondsOfDay -= 86400;
    }
    const DateParts d = fromAutomationDay(static_cast<qint64>(whole));
    return fromLocal(d.year, d.month, d.day, static_cast<int>(secondsOfDay / 3600),
        static_cast<int>(secondsOfDay / 60 % 60), static_cast<int>(secondsOfDay % 60));
}

} // namespace LocalTime
