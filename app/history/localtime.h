#pragma once

#include <QString>
#include <QtGlobal>

#include <ctime>
#include <optional>

// Local-time helpers shared by the record texts, the day keys and the database. All of them
// follow the process time zone (TZ), so tests can pin it.
namespace LocalTime {

// Broken-down local time of seconds since 1970, or nothing when the platform cannot convert it.
std::optional<std::tm> toLocal(qint64 seconds);

// Formats the local time with a strftime pattern; empty when conversion or formatting fails.
QString format(qint64 seconds, const char* pattern);

// Seconds since 1970 of a local date and time, daylight saving decided by the platform.
// Nothing when the fields are out of range or the platform cannot represent the moment.
std::optional<qint64> fromLocal(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Local midnight of the day holding the moment; nothing when the moment cannot be converted.
std::optional<qint64> dayKey(qint64 seconds);

// Automation dates: days since 1899-12-30, the time of day as a fraction.
double automationDay(int year, int month, int day);
struct DateParts {
    int year = 0;
    int month = 0;
    int day = 0;
};
DateParts fromAutomationDay(qint64 dayNumber);

// The local date and time of a moment as (whole day number, fraction of the day).
std::optional<std::pair<double, double>> toAutomation(qint64 seconds);

// Local moment of an automation date-time: whole part is the date, the fraction times 86400,
// rounded half up, the seconds of the day. Nothing for values the calendar cannot represent.
std::optional<qint64> fromAutomation(double value);

} // namespace LocalTime
