#include "device/historyspool.h"

#include "history/archivestream.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

constexpr char Magic[] = "KSPOOL1\n";
constexpr qsizetype MagicSize = 8;
constexpr const char* Suffix = ".spool";
constexpr const char* TempSuffix = ".spool.tmp";

QString systemError(const QString& what, int code)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(code)));
}

bool syncFolder(const QString& folder, QString* error)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError(QStringLiteral("Cannot open spool folder %1").arg(folder), errno);
        return false;
    }
    const int rc = ::fsync(fd);
    const int code = errno;
    ::close(fd);
    if (rc != 0) {
        *error = systemError(QStringLiteral("Cannot sync spool folder %1").arg(folder), code);
        return false;
    }
    return true;
}

QString uniqueName()
{
    static std::atomic<int> counter { 0 };
    // The time first, so that names sort oldest first.
    return QStringLiteral("history-%1-%2-%3")
        .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")),
            QString::number(::getpid()), QString::number(counter.fetch_add(1)).rightJustified(4, QLatin1Char('0')));
}

} // namespace

HistorySpool::HistorySpool(const QString& folder)
    : m_folder(QDir::cleanPath(folder))
{
}

bool HistorySpool::write(const QString& pagerId, const QList<ChistoryRec>& records, QString* path, QString* error)
{
    QString scratch;
    if (!error)
        error = &scratch;
    path->clear();
    if (!QDir().mkpath(m_folder)) {
        *error = QStringLiteral("Cannot create spool folder %1").arg(m_folder);
        return false;
    }
    if (records.size() > std::numeric_limits<qint32>::max()) {
        *error = QStringLiteral("Too many records for one spool");
        return false;
    }

    QByteArray bytes(Magic, MagicSize);
    StreamWriter out(&bytes);
    out.writeText(pagerId);
    out.writeInt32(static_cast<qint32>(records.size()));
    for (const auto& record : records)
        record.write(out);
    out.writeInt32(static_cast<qint32>(records.size()));

    const QString base = m_folder + QLatin1Char('/') + uniqueName();
    const QString temp = base + QLatin1String(TempSuffix);
    const QString final = base + QLatin1String(Suffix);
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = QStringLiteral("Cannot create %1: %2").arg(temp, file.errorString());
        return false;
    }
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    const int synced = written ? ::fsync(file.handle()) : -1;
    const int code = errno;
    file.close();
    if (!written || synced != 0) {
        *error = written ? systemError(QStringLiteral("Cannot sync %1").arg(temp), code)
                         : QStringLiteral("Cannot write %1: %2").arg(temp, file.errorString());
        QFile::remove(temp);
        return false;
    }
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(final).constData()) != 0) {
        *error = systemError(QStringLiteral("Cannot rename %1").arg(temp), errno);
        QFile::remove(temp);
        return false;
    }
    if (!syncFolder(m_folder, error)) {
        // The rename may not survive a power cut, so the instrument must keep its history.
        QFile::remove(final);
        return false;
    }
    *path = final;
    return true;
}

QStringList HistorySpool::pending() const
{
    QDir dir(m_folder);
    QStringList result;
    const auto names = dir.entryList({ QStringLiteral("*") + QLatin1String(Suffix) }, QDir::Files, QDir::Name);
    for (const auto& name : names)
        result.append(dir.filePath(name));
    return result;
}

bool HistorySpool::load(const QString& path, QList<ChistoryRec>* records, QString* error, QString* pagerId)
{
    QString scratch;
    if (!error)
        error = &scratch;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxFileSize) {
        *error = QStringLiteral("%1 is too large for a spool (%2 bytes)").arg(path, QString::number(file.size()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size()) {
        *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (bytes.size() < MagicSize || !bytes.startsWith(QByteArray(Magic, MagicSize))) {
        *error = QStringLiteral("%1 is not a history spool").arg(path);
        return false;
    }
    const QByteArray body = bytes.mid(MagicSize);
    try {
        StreamReader in(body);
        const QString id = in.readText();
        const qint32 count = in.readInt32();
        if (count < 0) {
            *error = QStringLiteral("%1 is damaged: its record count is negative").arg(path);
            return false;
        }
        in.checkCount(count, ChistoryRec::minStreamSize);
        QList<ChistoryRec> loaded;
        loaded.reserve(count);
        for (qint32 i = 0; i < count; ++i) {
            ChistoryRec record;
            record.read(in);
            loaded.append(std::move(record));
        }
        if (in.readInt32() != count || !in.atEnd()) {
            *error = QStringLiteral("%1 is damaged: its trailer does not match").arg(path);
            return false;
        }
        *records = std::move(loaded);
        if (pagerId)
            *pagerId = id;
        return true;
    } catch (const StreamError& e) {
        *error = QStringLiteral("%1 is damaged: %2").arg(path, QString::fromUtf8(e.what()));
        return false;
    }
}

bool HistorySpool::remove(const QString& path)
{
    if (!QFile::remove(path))
        return false;
    QString ignored;
    syncFolder(QFileInfo(path).absolutePath(), &ignored);
    return true;
}

int HistorySpool::storePending(const std::function<bool(const QList<ChistoryRec>&)>& store, QStringList* failed)
{
    QDir dir(m_folder);
    for (const auto& name : dir.entryList({ QStringLiteral("*") + QLatin1String(TempSuffix) }, QDir::Files))
        QFile::remove(dir.filePath(name));

    int stored = 0;
    for (const auto& path : pending()) {
        QList<ChistoryRec> records;
        if (!load(path, &records) || !store(records) || !remove(path)) {
            if (failed)
                failed->append(path);
            continue;
        }
        ++stored;
    }
    return stored;
}
