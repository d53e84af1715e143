#pragma once

#include "history/historylist.h"
#include "history/historyrec.h"
#include "history/measurements.h"
#include "history/pagerlist.h"
#include "history/userparams.h"

#include <QString>
#include <functional>
#include <vector>

// What a server needs from the program it serves: each request runs the same operation that the
// program runs for itself in local mode. The document implements it.
class RequestHandler {
public:
    virtual ~RequestHandler() = default;

    // Request 0: the instrument list, loaded afresh.
    virtual const CPagerList& loadInstrumentList() = 0;
    // Request 1: the events of one instrument and day; an unknown instrument gives an empty list.
    virtual CHistoryList dayEvents(const QString& pagerId, const QString& dateText, int queryMode) = 0;
    // Request 2: the server reads its own instrument's history.
    virtual bool readHistory() = 0;
    // Request 3.
    virtual bool readMeasurements(CMeasurements& out) = 0;
    // Request 4.
    virtual bool writeUserParams(const CUserParams& params) = 0;
    // Request 5.
    virtual bool readUserParams(CUserParams& out) = 0;
    // Request 6.
    virtual bool instrumentName(QString& name) = 0;
    // Request 7: the result of the units call, and the units flag (sent whatever the result).
    virtual bool units(bool& roentgen) = 0;
    // Request 8: true while a history download runs (the answer is then "busy").
    virtual bool downloadBusy() const = 0;
    // Request 8: the events of the current instrument newer than `since`.
    virtual std::vector<ChistoryRec> eventsNewerThan(qint64 since) = 0;
    // Request 10.
    virtual bool updateComment(const ChistoryRec& record) = 0;
    // The filter index of the program's event list, which the lists it sends follow unless
    // they are sent whole.
    virtual int filterIndex() const { return 0; }
    // The configured password value (empty: no password).
    virtual QString passwordDigest() const = 0;
    // Runs work now, or, while the program is inside an operation that waits, once that operation has
    // ended. Requests wait their turn in order.
    virtual void whenIdle(std::function<void()> work) { work(); }
};
