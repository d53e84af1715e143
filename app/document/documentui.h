#pragma once

#include "history/historyrec.h"

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

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
    // The application's exit step, run when the database cannot be opened at start-up. The
    // program goes on without one; it must not give up what keeps it the only running copy.
    virtual void exitApplication() = 0;
    // Called every few milliseconds while the document waits for a job: handles what has
    // arrived (the window painted and answering, a station serving). The default processes the
    // pending events.
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
    // New events of the shown day from one download or poll, oldest first, as one batch. The
    // default inserts each as the top row.
    virtual void insertEvents(const std::vector<ChistoryRec>& oldestFirst);
    // An event changed elsewhere (a client's comment through this station): its row follows.
    // The default does nothing.
    virtual void refreshEvent(const ChistoryRec& record);
    // A day has alarm events now (a download or poll brought one), loaded or not: its node is
    // marked. The default does nothing.
    virtual void markAlarmDay(const QString& pagerId, qint64 day);
};
