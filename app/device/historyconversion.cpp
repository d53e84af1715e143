#include "device/historyconversion.h"

#include "history/localtime.h"

#include "kestracommon/texts.h"

namespace HistoryConversion {

TypeAndAlarm fromCode(char code)
{
    const kestra::common::RecordCode* record = kestra::common::findRecordCode(code);
    return record ? TypeAndAlarm { record->eventType, record->alarm } : TypeAndAlarm {};
}

namespace {

bool isLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

} // namespace

qint64 itemTime(const SYSTEMTIME& time)
{
    if (time.wYear < 1900)
        return 0;
    // mktime would quietly roll 31 February into March; such a date is no moment at all.
    if (time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 || time.wDay > daysInMonth(time.wYear, time.wMonth)
        || time.wHour > 23 || time.wMinute > 59 || time.wSecond > 59)
        return 0;
    return LocalTime::fromLocal(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond).value_or(0);
}

ChistoryRec toRecord(const KESTRAdrv_EventRecord& item, const QString& pagerId)
{
    ChistoryRec record;
    record.hDateTime = itemTime(item.time);
    const TypeAndAlarm code = fromCode(item.type);
    record.hValue = item.value1;
    record.hValue2 = item.value2;
    record.hPrecision = item.param1;
    record.hVariation = item.param2;
    record.hAlarm = code.alarm;
    record.hType = code.type;
    record.hPagerID = pagerId;
    record.hID = ChistoryRec::makeKey(pagerId, record.hDateTime);
    return record;
}

QList<ChistoryRec> toRecords(std::span<const KESTRAdrv_EventRecord> items, const QString& pagerId)
{
    QList<ChistoryRec> records;
    records.reserve(static_cast<qsizetype>(items.size()));
    for (const auto& item : items)
        records.append(toRecord(item, pagerId));
    return records;
}

} // namespace HistoryConversion
