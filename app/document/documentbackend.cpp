#include "documentbackend.h"

#include "kestradoc.h"
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
    if (queryMode & 1)
        return m_doc.alarmEvents(pagerId, date, queryMode);
    const CHistoryList* day = m_doc.dayEvents(pagerId, date, queryMode);
    return day ? *day : CHistoryList();
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
    // From the store and what memory holds beyond it, whatever the station's window shows.
    return m_doc.eventsAfter(m_doc.state().currentInstrument(), since);
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

void DocumentBackend::whenIdle(std::function<void()> work)
{
    m_doc.whenIdle(std::move(work));
}
