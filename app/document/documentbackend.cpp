#include "documentbackend.h"

#include "kestradoc.h"
#include "localtime.h"
#include "programconfig.h"
#include "viewflags.h"

#include <stdexcept>

const CPagerList& DocumentBackend::loadInstrumentList()
{
    const CPagerList* list = m_doc.loadInstrumentList();
    return list ? *list : m_empty;
}

CHistoryList DocumentBackend::dayEvents(const QString& pagerId, const QString& dateText, int queryMode)
{
    qint64 date = 0;
    try {
        date = CPager::parseDayText(dateText);
    } catch (const std::exception&) {
        return {}; // a date that is no date: the day is empty
    }
    // An instrument the server does not know is answered with an empty list.
    const CHistoryList* day = m_doc.dayEvents(pagerId, date, queryMode);
    if (!day)
        return {};
    if (!(queryMode & 1))
        return *day;
    // The day may already be loaded whole for the station's own view; the request asked for
    // its alarm events only.
    CHistoryList alarms;
    alarms.hasAlarms = day->hasAlarms;
    for (const ChistoryRec& r : day->records()) {
        if (r.isAlarm())
            alarms.addRecord(r);
    }
    return alarms;
}

bool DocumentBackend::readHistory()
{
    return m_doc.readHistory();
}

bool DocumentBackend::readMeasurements(CMeasurements& out)
{
    return m_doc.readMeasurements(out);
}

bool DocumentBackend::writeUserParams(const CUserParams& params)
{
    return m_doc.writeUserParams(params);
}

bool DocumentBackend::readUserParams(CUserParams& out)
{
    return m_doc.readUserParams(out);
}

bool DocumentBackend::instrumentName(QString& name)
{
    return m_doc.instrumentName(name);
}

bool DocumentBackend::units(bool& roentgen)
{
    const bool ok = m_doc.units();
    roentgen = ViewFlags::instance().unitsRoentgen();
    return ok;
}

bool DocumentBackend::downloadBusy() const
{
    return m_doc.state().downloadBusy.load();
}

std::vector<ChistoryRec> DocumentBackend::eventsNewerThan(qint64 since)
{
    std::vector<ChistoryRec> events;
    const QString id = m_doc.state().currentInstrument();
    CPager* pager = m_doc.pagers().find(id);
    if (!pager)
        return events;
    // Days the station has not shown are loaded first, so the answer does not depend on what
    // its window happens to show.
    std::vector<qint64> days;
    for (const auto& [day, list] : pager->days()) {
        if (day >= LocalTime::dayKey(since))
            days.push_back(day);
    }
    for (qint64 day : days)
        m_doc.dayEvents(id, day, 0);
    CHistoryList newer;
    pager->copyNewer(newer, since);
    events.assign(newer.records().begin(), newer.records().end());
    return events;
}

bool DocumentBackend::updateComment(const ChistoryRec& record)
{
    if (!m_doc.updateComment(record))
        return false;
    // The server's own copy of the event follows the stored one.
    if (CPager* pager = m_doc.pagers().find(record.hPagerID)) {
        if (ChistoryRec* mine = pager->findEvent(record))
            mine->hComment = record.hComment;
    }
    return true;
}

QString DocumentBackend::passwordDigest() const
{
    return ProgramConfig::instance().passwordDigest;
}
