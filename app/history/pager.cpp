#include "history/pager.h"

#include "history/archivestream.h"
#include "history/localtime.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

CPager::CPager(const CPager& other)
    : m_identifier(other.m_identifier)
    , m_name(other.m_name)
    , m_days(other.m_days)
{
}

CPager& CPager::operator=(const CPager& other)
{
    if (this != &other) {
        m_identifier = other.m_identifier;
        m_name = other.m_name;
        m_days = other.m_days;
    }
    return *this;
}

ChistoryRec& CPager::addEvent(const ChistoryRec& record)
{
    return ensureDay(record.hDateTime).addRecord(record);
}

namespace {

qint64 keyOf(qint64 time)
{
    if (const std::optional<qint64> key = LocalTime::dayKey(time))
        return *key;
    throw std::invalid_argument("the time has no local day");
}

} // namespace

CHistoryList* CPager::dayList(qint64 time)
{
    const auto it = m_days.find(keyOf(time));
    return it == m_days.end() ? nullptr : &it->second;
}

const CHistoryList* CPager::dayList(qint64 time) const
{
    const auto it = m_days.find(keyOf(time));
    return it == m_days.end() ? nullptr : &it->second;
}

int CPager::dayEventCount(qint64 time) const
{
    const CHistoryList* list = dayList(time);
    return list ? static_cast<int>(list->size()) : -1;
}

CHistoryList& CPager::ensureDay(qint64 time)
{
    return m_days[keyOf(time)];
}

void CPager::setDayAlarm(qint64 time, bool alarm)
{
    ensureDay(time).hasAlarms = alarm;
}

bool CPager::isDayLoaded(qint64 time) const
{
    const CHistoryList* list = dayList(time);
    return list && list->loaded;
}

void CPager::markDayLoaded(qint64 time)
{
    if (CHistoryList* list = dayList(time))
        list->loaded = true;
}

void CPager::unloadDay(qint64 time)
{
    if (CHistoryList* list = dayList(time)) {
        list->clear();
        list->loaded = false;
    }
}

bool CPager::isDuplicate(const ChistoryRec& record) const
{
    const CHistoryList* list = dayList(record.hDateTime);
    return list && list->findEqual(record);
}

ChistoryRec* CPager::findEvent(const ChistoryRec& record)
{
    CHistoryList* list = dayList(record.hDateTime);
    return list ? list->findEqual(record) : nullptr;
}

int CPager::copyNewer(CHistoryList& target, qint64 t) const
{
    int count = 0;
    for (const auto& [day, list] : m_days)
        count += list.copyNewer(target, t);
    return count;
}

void CPager::dayTexts(QStringList& out) const
{
    out.clear();
    for (const auto& [day, list] : m_days)
        out.append(LocalTime::format(day, "%d-%m-%Y"));
    std::sort(out.begin(), out.end());
}

qint64 CPager::parseDayText(const QString& text)
{
    if (text.size() <= 9)
        return 0;
    static const QRegularExpression separators(QStringLiteral("[.: -]+"));
    const QStringList pieces = text.split(separators, Qt::SkipEmptyParts);
    // atoi rules: leading blanks, a sign, digits; anything else ends the number.
    const auto piece = [&](int i) { return i < pieces.size() ? std::atoi(pieces[i].toLatin1().constData()) : 0; };
    const int a = piece(0), b = piece(1), c = piece(2);
    if (a <= 1970 && c <= 1970)
        return 0;
    int year, month, day;
    if (a <= 1900) {
        day = a;
        month = b;
        year = c;
    } else {
        year = a;
        month = b;
        day = c;
    }
    if (day < 1 || day > 31 || month < 1 || month > 12)
        throw std::out_of_range("day or month out of range in a day text");
    const auto key = LocalTime::fromLocal(year, month, day);
    if (!key)
        throw std::invalid_argument("the date of a day text cannot be represented");
    return *key;
}

void CPager::write(StreamWriter& out) const
{
    out.writeText(m_identifier);
    out.writeText(m_name);
    out.writeInt32(static_cast<qint32>(m_days.size()));
    for (const auto& [day, list] : m_days) {
        out.writeTime(day);
        list.write(out);
    }
}

void CPager::read(StreamReader& in)
{
    CPager pager(*this);
    pager.m_identifier = in.readText();
    pager.m_name = in.readText();
    const qint32 count = in.readInt32();
    in.checkCount(count, 8 + CHistoryList::minStreamSize);
    for (qint32 i = 0; i < count; ++i) {
        const qint64 day = in.readTime();
        CHistoryList list;
        list.read(in);
        // The key is filed as given: it is the writer's local midnight.
        CHistoryList& target = pager.m_days[day];
        list.writeAll = target.writeAll;
        target = std::move(list);
    }
    pager.m_index = m_index;
    *this = std::move(pager);
}
