#pragma once

#include <QSqlDatabase>
#include <QString>

// The layout of the event database and its upgrades. The version lives in the store (SQLite's
// user_version; on a server the one-row table KestraSchema): 0 is a store of a program that
// kept no version, either with the documented columns only or already with the exact-time
// column; 1 has the exact time and the uniqueness rule; 2 adds the day summary (DaySummary:
// events and alarm events per instrument and day, kept by the store's own triggers). Version
// is the current layout.
namespace HistorySchema {

constexpr int Version = 2;

// Makes the file behind db a current event database, or says why it cannot be one.
//
// A file that is not a database, is damaged, is written by a newer program, or has a History
// table without the documented columns is refused, and nothing in it is written. Damage in
// the first pages shows at once; the rest of the file is read through (PRAGMA quick_check,
// which reads every page) only with fullCheck, and always before an upgrade writes into it. An empty
// database gets the tables; a store of an earlier version is upgraded in place (exact-time
// column computed from the local date and time, rows that are now equal merged, indexes,
// version), all in one transaction: a failure rolls everything back and leaves the file as it
// was. A read-only file is used as it is when its layout is current, refused otherwise.
// Returns false with a text naming path in *error.
bool prepare(QSqlDatabase& db, const QString& path, bool writable, QString* error, bool fullCheck = true);

// The same for a PostgreSQL database (address names it in texts). A database without event
// tables gets them when create is set; otherwise it is reported as *missing, without an error
// text. Stations that prepare one database at the same time wait for each other.
bool preparePostgres(QSqlDatabase& db, const QString& address, bool create, QString* error, bool* missing);

} // namespace HistorySchema
