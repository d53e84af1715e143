#pragma once

#include <KESTRAdrv.h>

#include "history/historyrec.h"

#include <QList>
#include <QString>

#include <span>

// Turns the driver's downloaded history items into event records. Plain functions, no port.
namespace HistoryConversion {

struct TypeAndAlarm {
    qint32 type = 0;
    qint32 alarm = 0;
};

// The event type and alarm bits of an item's code character; unknown codes give 0 and 0.
TypeAndAlarm fromCode(char code);

// Seconds since 1970 of the item's calendar fields read as local time. Items dated before
// 1900, and items whose month, day, hour, minute or second lies outside the calendar (or whose
// moment the platform cannot represent), get 0 so that the download keeps them.
qint64 itemTime(const SYSTEMTIME& time);

// One record for an item of the instrument pagerId, keyed "%s|%d".
ChistoryRec toRecord(const KESTRAdrv_EventRecord& item, const QString& pagerId);

QList<ChistoryRec> toRecords(std::span<const KESTRAdrv_EventRecord> items, const QString& pagerId);

} // namespace HistoryConversion
