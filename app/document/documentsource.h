#pragma once

#include <QString>

class CHistoryList;
class CMeasurements;
class CPagerList;
class CUserParams;
class ChistoryRec;

// Where the document's data operations go: this computer's instrument and event database
// (LocalSource), or a station over the network (StationSource). The document picks one at
// initialisation; its operations keep their flow and leave the road to the source.
class DocumentSource {
public:
    virtual ~DocumentSource();

    // The window title for a link that is up (name: the instrument's) or down.
    virtual QString title(bool connected, const QString& name) const = 0;
    // Fills the instrument list without events. Called on the document's thread.
    virtual bool loadInstrumentList(CPagerList& list) = 0;
    // Files one day's events into a list of the job's own. Called on a job thread.
    virtual bool loadDay(const QString& pagerId, const QString& dateText, int queryMode, CPagerList& out) = 0;
    // Reads the instrument's new events (here, or on the station). True when events were read.
    virtual bool readHistory() = 0;
    virtual bool readMeasurements(CMeasurements& out) = 0;
    virtual bool readUserParams(CUserParams& params) = 0;
    virtual bool writeUserParams(const CUserParams& params) = 0;
    // May be called from the instrument watcher's thread.
    virtual bool instrumentName(QString& name) = 0;
    // Reads the measurement units into the units flag.
    virtual bool units() = 0;
    virtual bool updateComment(const ChistoryRec& record) = 0;
};
