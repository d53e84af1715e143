#pragma once

#include "history/historyrec.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Downloaded events kept on disk until the event database holds them. A download writes its
// records here, synced to disk, before it clears the instrument's memory; the document removes
// the file once Store events has committed them, and stores any file left behind at start-up.
//
// A spool file ("<name>.spool") is written as "<name>.spool.tmp", synced, renamed and its folder
// synced, so a spool either exists whole or not at all. Layout: the 8 bytes "KSPOOL1\n", the
// instrument identifier as a stream text, a 32-bit record count, the records in the stream form
// and the count again as a trailer.
class HistorySpool {
public:
    // Largest spool file that will be read (far above any instrument's memory).
    static constexpr qint64 MaxFileSize = 512LL * 1024 * 1024;

    // folder: "Spool" in the program folder (DeviceState::spoolFolder()) unless a test says otherwise.
    explicit HistorySpool(const QString& folder);
    const QString& folder() const { return m_folder; }

    // Writes the records durably. On success *path names the spool; on failure nothing is left
    // behind and *error says why.
    bool write(const QString& pagerId, const QList<ChistoryRec>& records, QString* path, QString* error = nullptr);

    // Spools waiting to be stored, oldest first.
    QStringList pending() const;

    // Reads a spool. A damaged file gives false and an error, never a partial list.
    static bool load(
        const QString& path, QList<ChistoryRec>* records, QString* error = nullptr, QString* pagerId = nullptr);
    // Removes a spool whose events are committed.
    static bool remove(const QString& path);

    // Start-up: hands every pending spool to store (which commits the records and returns true
    // on success) and removes the spools it stored. Spools that cannot be read or stored stay
    // for the next start and are listed in *failed. Leftover ".tmp" files belong to downloads
    // that never cleared the instrument and are removed. Returns the number of spools stored.
    int storePending(const std::function<bool(const QList<ChistoryRec>&)>& store, QStringList* failed = nullptr);

private:
    QString m_folder;
};
