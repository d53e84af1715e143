#include "history/historylist.h"

#include "history/archivestream.h"
#include "history/viewflags.h"

#include <algorithm>

CHistoryList::CHistoryList(const CHistoryList& other)
    : loaded(other.loaded)
    , baseTime(other.baseTime)
    , latestTime(other.latestTime)
    , hasAlarms(other.hasAlarms)
    , writeAll(other.writeAll)
    , m_records(other.m_records ? std::make_unique<Records>(*other.m_records) : nullptr)
{
}

CHistoryList& CHistoryList::operator=(const CHistoryList& other)
{
    if (this != &other)
        *this = CHistoryList(other);
    return *this;
}

const CHistoryList::Records& CHistoryList::records() const
{
    static const Records none;
    return m_records ? *m_records : none;
}

CHistoryList::Records& CHistoryList::stored()
{
    if (!m_records)
        m_records = std::make_unique<Records>();
    return *m_records;
}

ChistoryRec& CHistoryList::addRecord(const ChistoryRec& record)
{
    ChistoryRec& stored = this->stored().emplace_back(record);
    if (stored.isAlarm())
        hasAlarms = true;
    if (stored.hDateTime > latestTime)
        latestTime = stored.hDateTime;
    return stored;
}

const ChistoryRec* CHistoryList::findEqual(const ChistoryRec& record) const
{
    const auto it = std::find(records().begin(), records().end(), record);
    return it == records().end() ? nullptr : &*it;
}

ChistoryRec* CHistoryList::findEqual(const ChistoryRec& record)
{
    if (!m_records)
        return nullptr;
    const auto it = std::find(m_records->begin(), m_records->end(), record);
    return it == m_records->end() ? nullptr : &*it;
}

int CHistoryList::copyNewer(CHistoryList& target, qint64 t) const
{
    int count = 0;
    for (const ChistoryRec& r : records()) {
        if (r.hDateTime > t) {
            target.addRecord(r);
            ++count;
        }
    }
    return count;
}

void CHistoryList::sort()
{
    if (m_records)
        std::stable_sort(m_records->begin(), m_records->end(), &ChistoryRec::newerThan);
}

void CHistoryList::write(StreamWriter& out) const
{
    const bool filtered = !writeAll && out.filterIndex() == ViewFlags::AlarmsOnly;
    qint32 count = 0;
    for (const ChistoryRec& r : records())
        count += !filtered || r.isAlarm();
    out.writeTime(baseTime);
    out.writeTime(latestTime);
    out.writeBool(loaded);
    out.writeBool(hasAlarms);
    out.writeInt32(count);
    for (const ChistoryRec& r : records()) {
        if (!filtered || r.isAlarm())
            r.write(out);
    }
}

void CHistoryList::read(StreamReader& in)
{
    CHistoryList list;
    list.writeAll = writeAll;
    list.baseTime = in.readTime();
    list.latestTime = in.readTime();
    list.loaded = in.readBool();
    list.hasAlarms = in.readBool();
    const qint32 count = in.readInt32();
    in.checkCount(count, ChistoryRec::minStreamSize);
    for (qint32 i = 0; i < count; ++i) {
        ChistoryRec r;
        r.read(in);
        list.appendRaw(std::move(r));
    }
    *this = std::move(list);
}
