#pragma once

// What a day's query returns: the query-mode word of the event list, the store and the
// station's day request (request 1). Bit 0 keeps only the events with alarm bits; the other
// bits are kept as they come and mean nothing yet.
namespace QueryMode {

constexpr int AllEvents = 0;
constexpr int AlarmsOnly = 1;

constexpr bool alarmsOnly(int mode)
{
    return (mode & AlarmsOnly) != 0;
}

} // namespace QueryMode
