#pragma once

// Shared pieces of the tests that run the device worker against the simulated instrument.

#include "history/localtime.h"

#include <kestrasim/simulator.h>

#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace simfixture {

inline const char* const Types = "01RACBbDFGOgIJSis";

// Seconds since 1999-01-01 of the first generated record: 2023-01-01 00:00:00.
inline constexpr uint32_t FirstRecord = 757382400u;

// count records cycling through every type the instrument writes, ten minutes apart.
inline std::vector<kestra::sim::RawRecord> makeHistory(int count)
{
    std::vector<kestra::sim::RawRecord> records;
    for (int i = 0; i < count; ++i) {
        kestra::sim::RecordFields f;
        f.value1 = 1e-6 * (1 + i % 50);
        f.value2 = 2.5e-6;
        f.param1 = i % 100;
        f.param2 = i % 2;
        records.push_back(kestra::sim::makeRecord(Types[i % 17], FirstRecord + static_cast<uint32_t>(i) * 600u, f));
    }
    return records;
}

// The moment of an instrument time: its wall-clock fields read as local time.
inline qint64 expectedTime(uint32_t secondsSince1999)
{
    const QDateTime wall
        = QDateTime(QDate(1999, 1, 1), QTime(0, 0), Qt::UTC).addSecs(static_cast<qint64>(secondsSince1999));
    return LocalTime::fromLocal(wall.date().year(), wall.date().month(), wall.date().day(), wall.time().hour(),
        wall.time().minute(), wall.time().second())
        .value();
}

inline QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace simfixture
