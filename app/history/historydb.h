#pragma once

#include "history/historyrange.h"
#include "history/pagerlist.h"
#include "history/storeaddress.h"

#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

class Messenger;

// A statement or query the store rejected. Carries the driver's description and, when the
// store gave one, its code (SQLite's result code, the server's SQLSTATE).
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& text)
        : std::runtime_error(text.toStdString())
    {
    }
    explicit DbError(const QSqlError& error)
        : std::runtime_error(error.text().toStdString())
        , m_error(error)
    {
    }
    DbError(const QString& text, const QSqlError& error)
        : std::runtime_error(text.toStdString())
        , m_error(error)
    {
    }
    const QSqlError& sqlError() const { return m_error; }

private:
    QSqlError m_error;
};

// The event database: the tables History and Pagers (and the day summary DaySummary) in one
// SQLite file, or in a PostgreSQL database that several stations share; opened through the
// program's HistoryStore. hDate and hTime hold the local date and time as automation dates; hDateTime holds
// the moment itself, so that the repeated hour of a daylight-saving change keeps its events
// apart. An event is stored once: instrument, time, type, alarm and value are unique.
//
// Threads: a SQLite connection belongs to the thread that opened it. Every operation uses a
// connection of the calling thread on the open file, made on first use and dropped when the
// thread ends or the handle is closed; so the document's job threads may call the
// operations directly. On a server, other programs write at the same time: every operation
// is one transaction, and equal events from two stations are stored once. Only one operation
// runs at a time (the document waits for its jobs); Open and Close belong to the
// user-interface thread and are not called while a job runs.
//
// A lost server connection (a restarted server, a network drop) costs no operation: every
// operation that fails on it is run once more, whole, on a new connection of the same thread.
// On a file that another program shares, a writer that finds the file locked (an archive holds
// the write lock while it copies) waits: each statement waits up to busyStatementMs, and the
// operation is tried again until busyTotalMs have passed, then fails as before.
//
// Damage: an open reads the file's catalogue and first pages, not the whole file. The whole
// file is checked (PRAGMA quick_check) when a program that had it open ended without closing
// it (each open handle keeps a mark "<file>.open-<process>-<handle>" beside the file, removed
// when it closes), and before an upgrade. The first corruption error that any operation meets
// ends all writing through the handle, with the file named; its mark then stays, so that the
// next open checks the whole file and refuses it.
class HistoryDb {
public:
    enum class OpenMode { Existing, Create };

    ~HistoryDb();
    HistoryDb(const HistoryDb&) = delete;
    HistoryDb& operator=(const HistoryDb&) = delete;

    // The caption under which open and store errors have always been shown.
    static QString errorCaption();

    const QString& path() const { return m_path; }
    bool isServer() const { return m_address.engine == StoreAddress::Engine::PostgreSQL; }

    // Files the events of an instrument's day (all events of every instrument when id is empty;
    // the whole instrument when dateText is empty) into the list, newest first. Bit 0 of
    // queryMode keeps only events with alarm bits. Throws DbError when the query fails.
    bool loadDayEvents(CPagerList& list, const QString& id, const QString& dateText, int queryMode);
    // Stores the records in one transaction; records already stored (equal events) and records
    // whose time the store cannot hold (canStoreTime) are skipped. A failure of the store (a
    // full disk among them) rolls the whole batch back and returns false with a text naming the
    // file in *error. added receives the number of new rows.
    bool insertEvents(std::span<const ChistoryRec> records, int* added = nullptr, QString* error = nullptr);
    bool insertEvents(const CHistoryList& list, int* added = nullptr, QString* error = nullptr);
    // Sets the comment text of exactly that event. Throws DbError when rejected, and when no
    // stored event is that one (one only in memory, a row of an old store without its exact
    // time): the comment is then not stored, and the caller says so.
    bool updateComment(const ChistoryRec& record);
    // Removes events dated before the local day before now. Throws DbError when rejected.
    bool deleteOldEvents(qint64 now);
    // Stores the display name of the instrument. Throws DbError when rejected.
    bool saveInstrumentName(const CPager& pager);
    // Fills the name table. Throws DbError when the query fails.
    bool loadInstrumentNames(CPagerList& list);
    // Rebuilds the instruments and their days (with alarm marks) without loading events, from
    // the day summary (counted from the events in a read-only store of an earlier layout).
    // A row that cannot be read is told through the messenger and skipped.
    bool loadDaySummary(CPagerList& list, Messenger& messenger);
    // Writes a consistent copy of the store to destination. The copy is a SQLite store
    // whichever engine holds the events, so an archive opens anywhere. An existing file is
    // never replaced: when destination is taken, the copy takes the first free name of
    // numberedName(destination, 2, 3, ...) ("DBArchive[2026-01-05]-2.db"), also when another
    // program takes the name meanwhile; *written receives the name used. The copy is written
    // as "<name>.part", synced, renamed without replacing, and its folder synced. On failure
    // returns false with a description and a code.
    bool backupTo(
        const QString& destination, QString* error = nullptr, int* code = nullptr, QString* written = nullptr);
    // Archives: writes the copy as backupTo does, then deletes the events dated before the day
    // before now's local day (deleteOldEvents). Both see one moment of the store: an event that
    // another station or program stores meanwhile is neither copied nor deleted, and the next
    // archive takes it. Nothing is deleted before the copy and its name are on the disk. Other
    // writers wait while the store is archived (its write lock is held from before the copy).
    bool archiveTo(const QString& destination, qint64 now, QString* error = nullptr, int* code = nullptr,
        QString* written = nullptr);
    // destination with "-number" before its extension; destination itself for number 1.
    static QString numberedName(const QString& destination, int number);

    // The steps of writing a copy, in their order, for tests: "synced" (the .part file),
    // "renamed" (to the final name), "folder-synced", and for an archive "deleted" (the delete
    // of the old events committed). path is the file or folder of the step.
    using ArchiveProbe = std::function<void(const char* step, const QString& path)>;
    static void setArchiveProbe(ArchiveProbe probe);

    // How long a writer waits for a file that another connection has locked: each statement
    // up to statementMs, and in all up to totalMs (5 s and 120 s unless set). Applies to
    // connections made afterwards.
    static void setBusyWait(int statementMs, int totalMs);

    // Automation day number of a "%Y-%m-%d" text; negative when the text is no date.
    static double dayNumber(const QString& dateText);
    // True when an event of that moment can be stored and read back: it has a local day in the
    // years 1 to 9999, and its local date and time survive the way through the date columns.
    static bool canStoreTime(qint64 seconds);

    // The connection of the calling thread; opened on first use.
    QSqlDatabase connection();

    // The instrument's events later than since (exact time), oldest first, in one indexed query. Throws DbError when
    // the query fails.
    std::vector<ChistoryRec> eventsAfter(const QString& id, qint64 since);

    // The number of events stored, of every instrument. Throws DbError when the query fails.
    qint64 eventCount();

    // Hands the instrument's events with from <= time < to to sink, oldest first, in batches of
    // at most batchSize records (all instruments, one after the other in identifier order, when
    // id is empty). One forward cursor over the exact-time index: a span of any length costs
    // one batch of memory. sink returns false to stop early. Throws DbError when the query fails.
    void forEachEvent(const QString& id, qint64 from, qint64 to, int batchSize,
        const std::function<bool(std::span<const ChistoryRec>)>& sink);

    // Minimum, maximum and mean per time bucket of one instrument over a span, in one query
    // (historyrange.cpp). Throws DbError when the query fails, std::invalid_argument for an
    // empty span, one that would make more than a million buckets or one beyond 2^52 seconds.
    RangeSummary rangeSummary(const RangeRequest& request);

private:
    friend class HistoryStore;
    HistoryDb(const QString& path, const StoreAddress& address);
    bool prepareStore(OpenMode mode, QString* error, bool* missing);
    // Copies the server store's rows into a new file store at destination, read in the
    // transaction the caller has begun on connection().
    bool copyToFile(const QString& destination, QString* error);
    bool writeCopy(
        const QString& destination, std::optional<double> deleteBefore, QString* error, int* code, QString* written);
    bool writeCopyOnce(const QString& destination, std::optional<double> deleteBefore, QString* error, int* code,
        QString* written, bool* lost);
    // Forgets the calling thread's connection to this store, so that the next operation connects anew.
    void dropConnection();
    // Runs op on the calling thread's connection, again on a new connection when the server
    // connection was lost, and again while a shared file stays locked (the bound above). op
    // must start afresh each time: nothing it filled on a failed run may stay.
    void retrying(const std::function<void(QSqlDatabase&)>& op);
    static int busyTotalMs();

public:
    // The error says the server connection is gone (no SQLSTATE, or the classes "connection
    // exception" and "operator intervention").
    static bool connectionLost(const QSqlError& error);
    // The error says another connection holds the file's lock (SQLite's BUSY or LOCKED).
    static bool fileBusy(const QSqlError& error);

private:
    QString m_path;
    StoreAddress m_address;
    quint64 m_generation; // names this handle's connections; unique in the process
    bool m_hasSummary = true;
    QString m_mark; // this handle's open mark beside the file; empty when none could be made
    std::atomic<bool> m_damaged { false };

    // The marks of programs that ended with the file open (their process is gone).
    QStringList staleMarks() const;
    // Notes a corruption error; true when the error is one.
    bool noteDamage(const QSqlError& error);
    // Throws DbError naming the file when a corruption error was met before.
    void refuseDamaged() const;
    QString damagedText(const QString& reason) const;
};

// The open store of one program: at most one handle at a time. Each program's context holds
// one, so two contexts in one process keep their stores and connections apart.
class HistoryStore {
public:
    HistoryStore() = default;
    ~HistoryStore(); // closes the open store
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens the store at path: a SQLite file, or a server database when path is an address
    // postgresql://user@host:port/database (StoreAddress; an address with a password is refused,
    // and a server database without event tables counts as missing). The same path as the open
    // one returns the same handle; any other path closes the open store first, so a failed open
    // leaves no store open. A missing
    // file fails with an empty *error unless mode is Create, which creates the file and its
    // folder. A file that is damaged, not an event database, or written by a newer program
    // fails with a text naming the file in *error, and nothing in it is changed. A store of an
    // earlier version is upgraded in place. Returns nullptr on failure. Tells nobody: the
    // caller decides what the person sees (under HistoryDb::errorCaption()).
    HistoryDb* open(
        const QString& path, HistoryDb::OpenMode mode = HistoryDb::OpenMode::Existing, QString* error = nullptr);
    // The open store; nullptr when none is open.
    HistoryDb* current() const;
    void close();

private:
    mutable QMutex m_mutex;
    std::unique_ptr<HistoryDb> m_handle;
};
