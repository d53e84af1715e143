#pragma once

#include <ctime>

namespace kestra {

/// The calendar fields of `when` in the computer's own time zone.
inline tm localCalendar(std::time_t when)
{
    tm local {};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

} // namespace kestra
