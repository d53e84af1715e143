#pragma once

#include "history/localtime.h"

#include "kestrasim/records.h"

#include <QString>

#include <ctime>

// The simulated instrument's history, written in the PC's local time as the instrument does.
namespace simhistory {

inline const QString Id = QStringLiteral("KESTRA #123456");

// A local moment days before today's midnight, plus seconds.
inline qint64 at(int daysAgo, int seconds)
{
    // Noon of today less whole days lies in the wanted day across month ends and summer time.
    const qint64 today = LocalTime::dayKey(std::time(nullptr)).value();
    return LocalTime::dayKey(today + 12 * 3600 - qint64(daysAgo) * 86400).value() + seconds;
}

inline kestra::sim::RawRecord record(char type, qint64 t, double rate = 1e-6)
{
    using namespace kestra::sim;
    return makeRecord(type, static_cast<uint32_t>(localSecondsSince1999(static_cast<std::time_t>(t))),
        RecordFields { rate, 1e-5, 12, 0 });
}

} // namespace simhistory
