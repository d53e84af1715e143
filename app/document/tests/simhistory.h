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
    const qint64 today = LocalTime::dayKey(std::time(nullptr));
    const std::tm tm = *LocalTime::toLocal(today);
    return *LocalTime::fromLocal(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday - daysAgo) + seconds;
}

inline kestra::sim::RawRecord record(char type, qint64 t, double rate = 1e-6)
{
    using namespace kestra::sim;
    return makeRecord(type, static_cast<uint32_t>(localSecondsSince1999(static_cast<std::time_t>(t))),
        RecordFields { rate, 1e-5, 12, 0 });
}

} // namespace simhistory
