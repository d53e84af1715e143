#include "document/documentrequesthandler.h"

#include "config/programconfig.h"
#include "document/kestradoc.h"
#include "history/querymode.h"
#include "history/viewflags.h"

#include <algorithm>
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
    if (QueryMode::alarmsOnly(queryMode))
        return m_doc.alarmEvents(pagerId, date, queryMode);
    const CPager* pager = m_doc.pagers().find(pagerId);
    const bool loadedBefore = pager && pager->isDayLoaded(date);
    const CHistoryList* day = m_doc.dayEvents(pagerId, date, queryMode);
    if (!day)
        return {};
    CHistoryList copy = *day;
    keepRequestedDay(pagerId, date, !loadedBefore, copy.size());
    return copy;
}

void DocumentRequestHandler::keepRequestedDay(const QString& pagerId, qint64 day, bool loadedHere, qsizetype size)
{
    const auto same = [&](const RequestedDay& d) { return d.pagerId == pagerId && d.day == day; };
    if (const auto known = std::find_if(m_requestedDays.begin(), m_requestedDays.end(), same);
        known != m_requestedDays.end()) {
        m_requestedDays.splice(m_requestedDays.begin(), m_requestedDays, known);
    } else if (loadedHere) {
        m_requestedDays.push_front({ pagerId, day, size });
    } else {
        return; // the program's own day: not the requests' to let go
    }
    // The least recently asked days go, but never the day the program shows, nor one that has
    // gained events since it was loaded (they might be held nowhere else).
    const DocState& state = m_doc.state();
    auto it = m_requestedDays.end();
    while (static_cast<int>(m_requestedDays.size()) > m_keptDays && it != m_requestedDays.begin()) {
        --it;
        CPager* owner = m_doc.pagers().find(it->pagerId);
        const CHistoryList* list = owner ? owner->dayList(it->day) : nullptr;
        const bool shown = it->pagerId == state.currentInstrument() && it->day == state.currentDate();
        if (shown || (list && list->size() != it->size))
            continue;
        if (owner)
            owner->unloadDay(it->day);
        it = m_requestedDays.erase(it);
    }
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
