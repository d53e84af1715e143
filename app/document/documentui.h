#pragma once

#include "historyrec.h"

#include <QString>
#include <QtGlobal>

#include <optional>

class CHistoryList;
class CMeasurements;
class CPager;
class CPagerList;
class CUserParams;

// What the document needs from the main window besides questions, messages and progress
// (those go through the Messenger). The window implements it; tests and the command line
// replace it. setWindowTitle may be called from the instrument watcher's thread; every other
// call comes from the thread the document runs on.
class DocumentHost {
public:
    virtual ~DocumentHost();

    virtual void setWindowTitle(const QString& title) = 0;
    // The settings password prompt: the prompt value (the digest of the entry, empty for an
    // empty entry), or nothing when cancelled.
    virtual std::optional<QString> promptPassword() = 0;
    // Opens the program settings dialog; true when it was confirmed.
    virtual bool openProgramSettings() = 0;
    // The application's exit step, run when the database cannot be opened at start-up.
    virtual void exitApplication() = 0;
    // Called between polls while the document waits for a job, so that the window stays
    // painted. The default does nothing.
    virtual void keepAlive();
};

// The two views as the document sees them: the instrument tree and the event list.
class DocumentViews {
public:
    virtual ~DocumentViews();

    // A new instrument: a node first in the tree.
    virtual void addInstrumentNode(const CPager& pager) = 0;
    // A new day of an instrument: a node first under that instrument's node.
    virtual void addDayNode(const QString& pagerId, qint64 day) = 0;
    // Rebuild the tree from the document's instrument list (after archiving).
    virtual void rebuildTree() = 0;
    // Show one day in the event list; an empty date text clears it.
    virtual void showDay(const QString& pagerId, const QString& dateText) = 0;
    // A new event of the shown day, as the top row. False when the filter hides it.
    virtual bool insertEventAtTop(const ChistoryRec& record) = 0;
};

// The remote road of the document's operations: one request to the server per call, on a
// connection of its own. Implemented by the remote client; without one, remote-mode
// operations fail. Calls come from the document's thread, except eventsSince, which the remote
// poll thread makes.
class RemoteRoad {
public:
    virtual ~RemoteRoad();

    // Accepts the server text "<host>:<port>"; false when it cannot be used.
    virtual bool setServer(const QString& serverText) = 0;
    virtual bool loadInstrumentList(CPagerList& out) = 0;
    virtual bool loadDay(const QString& pagerId, const QString& dateText, int queryMode, CHistoryList& out) = 0;
    virtual bool readHistory() = 0;
    virtual bool readMeasurements(CMeasurements& out) = 0;
    // The password exchange in front of the user-parameter requests (request 11).
    enum class PasswordAnswer { Accepted, Refused, Unreachable };
    virtual PasswordAnswer checkPassword(const QString& promptValue) = 0;
    // Requests 5 and 4, which repeat the password exchange inside the request.
    virtual bool readUserParams(CUserParams& out, const QString& promptValue) = 0;
    virtual bool writeUserParams(const CUserParams& params, const QString& promptValue) = 0;
    virtual bool instrumentName(QString& name) = 0;
    virtual bool units(bool& roentgen) = 0;
    virtual bool updateComment(const ChistoryRec& record) = 0;
    // Events of the instrument newer than since, oldest first; busy is the server's download flag.
    virtual bool eventsSince(const QString& pagerId, qint64 since, CHistoryList& out, bool& busy) = 0;
};
