#pragma once

#include "history/pagerlist.h"
#include "history/storeaddress.h"

#include <QSqlDatabase>
#include <QString>

#include <span>
#include <stdexcept>
#include <vector>

// A statement or query the store rejected. Carries the driver's description.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& text)
        : std::runtime_error(text.toStdString())
    {
    }
};

// The event database: the tables History and Pagers (and the day summary DaySummary) in one
// SQLite file, or in a PostgreSQL database that several stations share; open once for the
// process. hDate and hTime hold the local date and time as automation dates; hDateTime holds
// the moment itself, so that the repeated hour of a daylight-saving change keeps its events
// apart. An event is stored once: instrument, time, type, alarm and value are unique.
//
// Threads: a SQLite connection belongs to the thread that opened it. Every operation uses a
// connection of the calling thread on the open file, made on first use and dropped when the
// thread ends or the database is switched; so the document's job threads may call the
// operations directly. On a server, other programs write at the same time: every operation
// is one transaction, and equal events from two stations are stored once. Only one operation runs at a time (the
// document waits for its jobs); Open and Close belong to the user-interface thread and are not called while a job runs.
class HistoryDb {
public:
    enum class OpenMode { Existing, Create };

    // Opens the store at path: a SQLite file, or a server database when path is an address
    // postgresql://user@host:port/database (StoreAddress; an address with a password is refused,
    // and a server database without event tables counts as missing). The same path as the open
    // one returns the same handle; any
    // other path closes the open store first, so a failed open leaves no store open. A missing
    // file fails with an empty *error unless mode is Create, which creates the file and its
    // folder. A file that is damaged, not an event database, or written by a newer program
    // fails with a text naming the file in *error, and nothing in it is changed. A store of an
    // earlier version is upgraded in place. Returns nullptr on failure. Tells nobody: the
    // caller decides what the person sees (under errorCaption()).
    static HistoryDb* open(const QString& path, OpenMode mode = OpenMode::Existing, QString* error = nullptr);
    static HistoryDb* current();
    static void close();

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
    // Sets the comment text of exactly that event. Throws DbError when rejected.
    bool updateComment(const ChistoryRec& record);
    // Removes events dated before the local day before now. Throws DbError when rejected.
    bool deleteOldEvents(qint64 now);
    // Stores the display name of the instrument. Throws DbError when rejected.
    bool saveInstrumentName(const CPager& pager);
    // Fills the name table. Throws DbError when the query fails.
    bool loadInstrumentNames(CPagerList& list);
    // Rebuilds the instruments and their days (with alarm marks) without loading events, from
    // the day summary (counted from the events in a read-only store of an earlier layout).
    bool loadDaySummary(CPagerList& list);
    // Writes a consistent copy of the store to destination, replacing an existing file. The
    // copy is a SQLite store whichever engine holds the events, so an archive opens anywhere.
    // On failure returns false with a description and a code.
    bool backupTo(const QString& destination, QString* error = nullptr, int* code = nullptr);

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

private:
    HistoryDb(const QString& path, const StoreAddress& address, quint64 generation);
    bool prepareStore(OpenMode mode, QString* error, bool* missing);
    bool copyToFile(const QString& destination, QString* error);
    // Forgets the calling thread's connection, so that the next operation connects anew.
    static void dropConnection();

    QString m_path;
    StoreAddress m_address;
    quint64 m_generation;
    bool m_hasSummary = true;
};
