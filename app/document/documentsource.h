#pragma once

#include "history/messenger.h"

#include <QString>

#include <functional>

class CHistoryList;
class DevWorker;
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
    // Fills a list of the job's own with the instruments, without events. Called on a job thread.
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

// What a source asks of the document beyond its public operations. The document implements it
// privately and hands it to its sources; nothing else reaches these.
class SourceSupport {
public:
    // The instrument of that identifier, created with its tree node when new.
    virtual void ensureInstrument(const QString& pagerId) = 0;
    // Runs a device-worker job on its thread, waiting with a progress; false without running it
    // when another job runs.
    virtual bool runWorker(DevWorker& worker, const QString& progressText, Messenger::ProgressKind kind) = 0;
    virtual void tellError(const QString& text) = 0;
    // Files a download's events of an instrument and shows the shown day's new ones.
    virtual void addAndShowEvents(const QString& pagerId, CHistoryList& events) = 0;
    // Runs work on a thread of its own while the document's thread waits with a progress bar;
    // at once, on the calling thread, when another job runs.
    virtual void runAside(const QString& progressText, const std::function<void()>& work) = 0;

protected:
    ~SourceSupport() = default;
};
