#pragma once

#include "document/appcontext.h"
#include "document/docstate.h"
#include "document/documentui.h"
#include "document/localsource.h"
#include "document/stationsource.h"
#include "history/pagerlist.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

class CMeasurements;
class DevWorker;
class CUserParams;
class HistoryDb;
class QIODevice;

// The single document: owns the instrument list and is the one place through which commands,
// views and dialogs reach instrument data. Its data operations go to a source chosen at
// initialisation: this computer's instrument and event database (LocalSource), or a station
// over the network (StationSource).
//
// The document runs on one thread (the user-interface thread, or the main thread of the
// command line). Long jobs run on threads of their own while that thread polls their busy
// flag, stepping a progress bar and keeping the window alive. The instrument watcher and the
// remote poll thread run beside it and reach it only through flags and queued signals.
//
// Nothing runs inside an operation that is in progress: a server request, a history tick or
// events delivered by the poll thread that arrive while an operation waits for its job are
// queued (whenIdle) and run, in order, once it has ended. Job threads never touch the
// instrument list; what they load is filed on the document's thread after they end.
class CKESTRADoc : public QObject, private SourceSupport {
    Q_OBJECT
public:
    static constexpr const char* ApplicationName = "KESTRA Software";

    // The context is the program's; it must outlive the document.
    explicit CKESTRADoc(AppContext& context, QObject* parent = nullptr);
    ~CKESTRADoc() override; // stops the background threads

    // Not owned; they must outlive the document or be replaced by nullptr first.
    void setHost(DocumentHost* host) { m_host = host; }
    void setViews(DocumentViews* views) { m_views = views; }
    DocumentHost* host() const { return m_host; }
    DocumentViews* views() const { return m_views; }

    // The archive database being viewed; empty while the main database is shown.
    void setArchivePath(const QString& path) { m_archivePath = path; }
    const QString& archivePath() const { return m_archivePath; }
    bool mainDatabaseShown() const { return m_archivePath.isEmpty(); }
    // The events shown are a station's (remote mode, no archive viewed): this computer's store
    // does not hold them.
    bool eventsOnServer() const { return !m_context.state().localMode.load() && mainDatabaseShown(); }
    // A port that replaces discovery and the configured port (the command line's --port).
    void setPortOverride(const QString& port) { m_portOverride = port; }

    AppContext& context() const { return m_context; }
    DocState& state() const { return m_context.state(); }
    Messenger& messenger() const { return m_context.messenger(); }
    CPagerList& pagers() { return m_pagers; }
    QString title() const;
    bool portQuestionAsked() const { return m_portQuestionAsked; }
    // The program settings dialog asks its own port question once per run in the document's stead.
    void setPortQuestionAsked() { m_portQuestionAsked = true; }

    // An operation is in progress (it may be waiting for a job with the event loop running).
    bool busy() const { return m_depth > 0; }
    // Runs work at once when no operation is in progress, else once it has ended, after the
    // work queued before it. Call on the document's thread.
    void whenIdle(std::function<void()> work);

    // A read of a store that may be long (a span: range view, dose report) as a job: on a
    // thread of its own while this thread waits with the "Data reading" bar. The read must not
    // touch the instrument list. False without running it when another job runs.
    bool readJob(const std::function<void()>& read) { return runJob(tr("Data reading"), read); }
    // Closes the instrument's port (the next device operation opens it again) in a job, since
    // the driver pauses after a close; at once on this thread when another job runs.
    void closeDriver();

    // Opens the database, stores downloads left by an earlier run, decides the mode, finds
    // the port, archives when due and sets the title. False when the database cannot be opened
    // (the document goes on without one).
    bool initialise();
    // Sets the window title from the state of the link.
    void updateTitle();
    // The instrument list (without events); nullptr when it cannot be loaded.
    CPagerList* loadInstrumentList();
    // The whole day of an instrument (query mode 0), loaded on first use; nullptr when the
    // instrument is unknown or the day cannot be loaded. A query mode with bit 0 (alarm events
    // only) is answered by alarmEvents and never marks the day loaded.
    CHistoryList* dayEvents(const QString& pagerId, qint64 date, int queryMode);
    // The alarm events of a day: from the day when it is loaded whole, else loaded into a list
    // of their own; the instrument list is not changed. Empty for an unknown instrument.
    CHistoryList alarmEvents(const QString& pagerId, qint64 date, int queryMode);
    // Loads a day into a list, waiting with the "Data reading" bar. False on failure or
    // while another job runs.
    bool loadDayJob(CPagerList& list, const QString& pagerId, const QString& dateText, int queryMode);
    // Downloads, stores and shows the instrument's new events. True when events were read.
    bool readHistory();
    // Remote mode: fetches the current instrument's events newer than its latest into out,
    // oldest first. busy receives the server's download flag.
    bool eventsSince(CHistoryList& out, bool& busy);
    // The events of an instrument later than since, oldest first, as a server answers a poll:
    // from the store in one query, with the events held in memory that the store lacks (a
    // download whose commit failed). Loads nothing into the instrument list.
    std::vector<ChistoryRec> eventsAfter(const QString& pagerId, qint64 since);
    // Remote mode on the server "<host>:<port>" without touching the configuration; false
    // when the text cannot be used (remote operations then fail quietly).
    bool useServer(const QString& serverText);
    QString serverText() const;
    // The remote road could not reach the server: the link is down, and the person is told
    // and the program settings are opened, on the document's thread. A job thread's report
    // waits until the document is idle; the poll thread's is told once per outage.
    void serverUnreachable(int error);
    // Through the source: the instrument here, or the station.
    bool readMeasurements(CMeasurements& measurements);
    bool readUserParams(CUserParams& params);
    bool writeUserParams(const CUserParams& params);
    bool instrumentName(QString& name);
    bool units();
    // Stores the comment of the event (instrument, time and key as in record); on success the
    // document's own copy of the event carries it and the views are told (refreshEvent).
    bool updateComment(const ChistoryRec& record);
    // Names an instrument: the list and, in a job, the open store; false when the instrument is
    // unknown or the store refused the name (the person is told).
    bool renameInstrument(const QString& pagerId, const QString& name);
    // Imports an export file: read and stored in a job, then filed into the instrument list
    // (new instruments get their tree node) and shown. added: events new to the store.
    bool importHistory(const QString& path, int* added = nullptr);
    // Commits the events of an instrument, waiting with the "Data writing" bar. False
    // when nothing could be stored; added receives the number of events new to the store.
    bool storeEvents(const QString& pagerId, std::span<const ChistoryRec> events, int* added = nullptr);
    // Copies one day of the server's events (alarms only) into this computer's database.
    bool downloadFromRemote(const QString& pagerId, qint64 date);
    // Reads an instrument list into the document, or writes the current day's list.
    bool loadFrom(QIODevice* device);
    bool storeTo(QIODevice* device);
    // Archives the open database beside the program and removes its old events.
    bool autoArchive();
    // The archive step (HistoryFiles::archive) on the open database, in a job; the tree is
    // rebuilt after it.
    bool archiveTo(const QString& destination, qint64 now);
    // Files an event that arrived after its day may have been shown.
    void addAndShowEvent(CPager& pager, const ChistoryRec& record);

    // The auto-archiving check of initialisation; true when an archive was made.
    bool autoArchiveCheck(qint64 now);
    // Whole days since the last archiving after which an interval of months is due.
    static bool archiveDue(qint64 last, qint64 now, int intervalMonths);

    // Stores every download spooled by an earlier run; returns how many were stored.
    int storePendingDownloads();

    // Instrument watcher (local mode): probes every 2 s or when poked.
    void startWatcher();
    // One probe, as the watcher makes it; public so that a station can probe on demand.
    void watcherProbe();
    // The same probe as a job: on a thread of its own while this thread waits with the
    // "Connecting to the instrument" bar. False when another job runs.
    bool probeJob();
    // Remote poll thread (remote mode).
    void startPoll();
    // Sets both stop flags and waits, in 50 ms sleeps, for both threads to end.
    void stopBackground();

signals:
    // The watcher saw new alarm bits: the history timer should fire after ms milliseconds.
    // Emitted from the watcher's thread.
    void historyTimerRestartRequested(int ms);
    // Read history downloaded count events of an instrument, of which added were new to the
    // store; committed is false when the store failed (the download then stays spooled).
    void historyStored(const QString& pagerId, int count, int added, bool committed);
    // Emitted from the poll thread; handled on the document's thread.
    void remoteEventsArrived(const CHistoryList& events);
    // The instrument's units changed (read by the watcher when the link comes up, or by the
    // poll thread from the station); emitted from that thread.
    void unitsChanged(bool roentgen);

private:
    // Marks an operation in progress for its lifetime; work queued meanwhile runs after it.
    class Operation {
    public:
        explicit Operation(CKESTRADoc& doc);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        CKESTRADoc* m_doc;
    };
    void runDeferred();
    // Reads the units on the calling (background) thread and tells when they changed.
    void refreshUnits();
    void tellUnreachable(int error);

    // What the sources ask of the document (SourceSupport).
    void tellError(const QString& text) override;
    void ensureInstrument(const QString& pagerId) override;
    // Files oldest first; the shown day's new events go to the event list as one batch.
    void addAndShowEvents(const QString& pagerId, CHistoryList& events) override;
    // On the port name, from the worker's own thread.
    bool runWorker(DevWorker& worker, const QString& progressText, Messenger::ProgressKind kind) override;
    // Files an event into its day (created with its tree node when new) when the day is
    // loaded and lacks it; true when it joined the day the event list shows.
    bool fileEvent(CPager& pager, const ChistoryRec& record);
    // Polls busy every periodMs until it drops, stepping the progress bar.
    void waitWhile(const std::function<bool()>& busy, int periodMs);
    // Runs a database or remote job on a thread of its own, waiting with a progress bar. The
    // job must not touch the instrument list. False without running it when another job runs.
    bool runJob(const QString& progressText, const std::function<void()>& job);
    void runAside(const QString& progressText, const std::function<void()>& work) override;
    void fileRemoteEvents(const CHistoryList& events);
    // The instrument and time the poll asks about; read on the document's thread.
    bool pollTarget(QString& pagerId, qint64& since) const;
    // The request of Events since, from any thread; out is oldest first.
    bool fetchEventsSince(qint64 since, CHistoryList& out, bool& busy);
    void watcherLoop();
    void pollLoop();

    AppContext& m_context;
    CPagerList m_pagers;
    QString m_title;
    bool m_portQuestionAsked = false;
    QString m_archivePath;
    QString m_portOverride;
    DocumentHost* m_host = nullptr;
    DocumentViews* m_views = nullptr;
    LocalSource m_local;
    StationSource m_station;
    std::atomic<DocumentSource*> m_source; // read by the instrument watcher
    std::thread m_watcher;
    std::thread m_poll;
    mutable std::mutex m_textLock; // the title
    int m_depth = 0; // operations in progress, on the document's thread
    bool m_jobRunning = false;
    bool m_deferredPosted = false;
    std::deque<std::function<void()>> m_deferred;
    std::atomic<bool> m_outageReported { false };
    // The newest event time that a poll brought, per instrument, so that the next poll asks
    // only for what came after it.
    std::map<QString, qint64> m_polledUpTo;
};
