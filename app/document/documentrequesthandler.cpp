#include "document/documentrequesthandler.h"

#include "config/programconfig.h"
#include "document/kestradoc.h"
#include "history/viewflags.h"

#include <stdexcept>

const CPagerList& DocumentRequestHandler::loadInstrumentList()
{
    // A failed query leaves the list as it was: the peer gets the last one read, never an
    // empty one for a store that is only briefly out of reach.
    const CPagerList* list = m_doc.loadInstrumentList();
    return list ? *list : m_doc.pagers();
}

CHistoryList DocumentRequestHandler::dayEvents(const QString& pagerId, const QString& dateText, int queryMode)
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

bool DocumentRequestHandler::readHistory()
{
    return m_doc.readHistory();
}

bool DocumentRequestHandler::readMeasurements(CMeasurements& out)
{
    return m_doc.readMeasurements(out);
}

bool DocumentRequestHandler::writeUserParams(const CUserParams& params)
{
    return m_doc.writeUserParams(params);
}

bool DocumentRequestHandler::readUserParams(CUserParams& out)
{
    return m_doc.readUserParams(out);
}

bool DocumentRequestHandler::instrumentName(QString& name)
{
    return m_doc.instrumentName(name);
}

bool DocumentRequestHandler::units(bool& roentgen)
{
    const bool ok = m_doc.units();
    roentgen = m_doc.context().viewFlags().unitsRoentgen();
    return ok;
}

bool DocumentRequestHandler::downloadBusy() const
{
    return m_doc.state().downloadBusy.load();
}

std::vector<ChistoryRec> DocumentRequestHandler::eventsNewerThan(qint64 since)
{
    // From the store and what memory holds beyond it, whatever the station's window shows.
    return m_doc.eventsAfter(m_doc.state().currentInstrument(), since);
}

bool DocumentRequestHandler::updateComment(const ChistoryRec& record)
{
    if (!m_doc.updateComment(record))
        return false;
    // The server's own copy of the event and its row follow the stored one.
    if (CPager* pager = m_doc.pagers().find(record.hPagerID)) {
        if (ChistoryRec* mine = pager->findEvent(record))
            mine->hComment = record.hComment;
    }
    if (DocumentViews* views = m_doc.views())
        views->refreshEvent(record);
    return true;
}

int DocumentRequestHandler::filterIndex() const
{
    return m_doc.context().viewFlags().filterIndex();
}

QString DocumentRequestHandler::passwordDigest() const
{
    return m_doc.context().config().passwordDigest;
}

void DocumentRequestHandler::whenIdle(std::function<void()> work)
{
    m_doc.whenIdle(std::move(work));
}
