#include "history/historydb.h"

#include "history/historyschema.h"
#include "history/localtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>

#include <fcntl.h>
#include <limits>
#include <signal.h>
#include <unistd.h>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("HistoryDb", text);
}

// Caption of errors while opening or reading fields (the program has always shown it in
// Russian, whatever the language).
QString openCaption()
{
    return QStringLiteral("Ошибка базы данных");
}

// The test probe of the archive's steps.
QMutex s_probeLock;
HistoryDb::ArchiveProbe s_archiveProbe;

// The wait of a writer for a locked file: per statement, and in all.
std::atomic<int> s_busyStatementMs { 5000 };
std::atomic<int> s_busyTotalMs { 120000 };

// Numbers the handles of the process, so that connection names never repeat; a handle's
// number stays in the live set while it exists.
std::atomic<quint64> s_generation { 0 };
QMutex s_liveLock;
std::set<quint64> s_live;

bool isLive(quint64 generation)
{
    QMutexLocker lock(&s_liveLock);
    return s_live.count(generation) != 0;
}

// The calling thread's connections, one per handle it has used (two programs' contexts in one
// process keep two stores open); removed when the thread ends, and a closed handle's
// connections when the thread next reaches any store.
thread_local bool t_connectionsGone = false; // trivially destructible: readable at thread exit

struct ThreadConnections {
    struct Entry {
        quint64 generation;
        QString name;
    };
    std::vector<Entry> entries;

    ~ThreadConnections()
    {
        for (const Entry& e : entries)
            drop(e.name);
        t_connectionsGone = true;
    }
    static void drop(const QString& name)
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isValid())
                db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    // Drops the connections of handles that no longer exist.
    void prune()
    {
        std::erase_if(entries, [](const Entry& e) {
            if (isLive(e.generation))
                return false;
            drop(e.name);
            return true;
        });
    }
    const Entry* find(quint64 generation) const
    {
        for (const Entry& e : entries) {
            if (e.generation == generation)
                return &e;
        }
        return nullptr;
    }
};
thread_local ThreadConnections t_connections;

} // namespace

HistoryDb::HistoryDb(const QString& path, const StoreAddress& address)
    : m_path(path)
    , m_address(address)
    , m_generation(++s_generation)
{
    QMutexLocker lock(&s_liveLock);
    s_live.insert(m_generation);
}

HistoryDb::~HistoryDb()
{
    // Closed cleanly: the next open need not read the whole file. A damaged file keeps its
    // mark and is checked (and refused) at the next open.
    if (!m_mark.isEmpty() && !m_damaged.load())
        QFile::remove(m_mark);
    {
        QMutexLocker lock(&s_liveLock);
        s_live.erase(m_generation);
    }
    // A handle that outlives its thread's connections (a static destroyed at exit) has none left.
    if (!t_connectionsGone)
        t_connections.prune();
}

HistoryStore::~HistoryStore()
{
    close();
}

HistoryDb* HistoryStore::current() const
{
    QMutexLocker lock(&m_mutex);
    return m_handle.get();
}

void HistoryStore::close()
{
    QMutexLocker lock(&m_mutex);
    m_handle.reset();
}

void HistoryDb::dropConnection()
{
    std::erase_if(t_connections.entries, [this](const ThreadConnections::Entry& e) {
        if (e.generation != m_generation)
            return false;
        ThreadConnections::drop(e.name);
        return true;
    });
}

QString HistoryDb::errorCaption()
{
    return openCaption();
}

HistoryDb* HistoryStore::open(const QString& path, HistoryDb::OpenMode mode, QString* error)
{
    QString scratch;
    if (!error)
        error = &scratch;
    error->clear();
    QMutexLocker lock(&m_mutex);
    if (m_handle && m_handle->m_path == path)
        return m_handle.get();
    // Whatever comes of this open, the store that was open is closed: after a failed switch
    // nothing may go on writing into the file that was left.
    m_handle.reset();
    const std::optional<StoreAddress> address = StoreAddress::parse(path, error);
    if (!address)
        return nullptr;
    if (address->engine == StoreAddress::Engine::SQLite && !QFileInfo::exists(path)) {
        if (mode == HistoryDb::OpenMode::Existing)
            return nullptr;
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder)) {
            *error = QCoreApplication::translate("HistoryDb", "The folder of the database cannot be created: %1")
                         .arg(folder);
            return nullptr;
        }
    }
    auto handle = std::unique_ptr<HistoryDb>(new HistoryDb(path, *address));
    bool missing = false;
    if (!handle->prepareStore(mode, error, &missing))
        return nullptr;
    m_handle = std::move(handle);
    return m_handle.get();
}

QSqlDatabase HistoryDb::connection()
{
    const QString name = QStringLiteral("kestra-history-%1-%2")
                             .arg(QString::number(m_generation),
                                 QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId())));
    t_connections.prune();
    if (!t_connections.find(m_generation)) {
        t_connections.entries.push_back({ m_generation, name });
        if (isServer()) {
            // No password: libpq takes it from its password file or PGPASSWORD.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(m_address.host);
            db.setPort(m_address.port);
            db.setUserName(m_address.user);
            db.setDatabaseName(m_address.database);
            db.setConnectOptions(m_address.connectOptions());
            if (db.open()) {
                QSqlQuery q(db);
                // Plain notices (an object that already exists, ...) are no concern of the log.
                q.exec(QStringLiteral("SET client_min_messages = warning"));
            }
        } else {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_path);
            const QFileInfo info(m_path);
            if (info.exists() && !info.isWritable())
                db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(s_busyStatementMs.load()));
                // A lost event is the worst fault: every commit reaches the disk.
                q.exec(QStringLiteral("PRAGMA synchronous = FULL"));
            }
        }
    }
    return QSqlDatabase::database(name, false);
}

bool HistoryDb::prepareStore(OpenMode mode, QString* error, bool* missing)
{
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        *error = tr("%1 cannot be opened: %2").arg(m_path, db.lastError().text());
        return false;
    }
    if (isServer())
        return HistorySchema::preparePostgres(db, m_path, mode == OpenMode::Create, error, missing);
    const bool writable = QFileInfo(m_path).isWritable();
    // The whole file is read only after an unclean end of a program that had it open.
    const QStringList stale = writable ? staleMarks() : QStringList();
    if (!HistorySchema::prepare(db, m_path, writable, error, !stale.isEmpty()))
        return false;
    if (writable) {
        for (const QString& mark : stale)
            QFile::remove(mark);
        const QString mark
            = m_path + QStringLiteral(".open-%1-%2").arg(QString::number(::getpid()), QString::number(m_generation));
        QFile file(mark);
        if (file.open(QIODevice::WriteOnly))
            m_mark = mark;
    }
    QSqlQuery q(db);
    if (writable) {
        // WAL lets a job thread read while another connection writes; a read-only folder keeps
        // the file's own journal mode. Set only once the file is known to be a sound store.
        q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    }
    m_hasSummary = q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'DaySummary'"))
        && q.next();
    return true;
}

QStringList HistoryDb::staleMarks() const
{
    const QFileInfo info(m_path);
    const QString prefix = info.fileName() + QStringLiteral(".open-");
    QStringList stale;
    const QStringList marks = info.absoluteDir().entryList({ prefix + QLatin1Char('*') }, QDir::Files | QDir::Hidden);
    for (const QString& name : marks) {
        bool ok = false;
        const qint64 pid = name.mid(prefix.size()).section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
        // A mark of a live process is a program that has the file open now (this one among
        // them); one that cannot be read is taken as stale.
        const bool alive = ok && pid > 0 && pid <= std::numeric_limits<pid_t>::max()
            && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
        if (!alive)
            stale.append(info.absoluteDir().filePath(name));
    }
    return stale;
}

QString HistoryDb::damagedText(const QString& reason) const
{
    return tr("%1 is damaged: %2. Nothing more is written into it; close the program and repair or replace the file")
        .arg(m_path, reason);
}

bool HistoryDb::noteDamage(const QSqlError& error)
{
    if (isServer())
        return false;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    if (!ok || (code != 11 && code != 26)) // SQLITE_CORRUPT, SQLITE_NOTADB
        return false;
    m_damaged = true;
    return true;
}

void HistoryDb::refuseDamaged() const
{
    if (m_damaged.load())
        throw DbError(damagedText(tr("a corruption error was met earlier")));
}

bool HistoryDb::canStoreTime(qint64 seconds)
{
    // The date texts ("%Y-%m-%d", "%d-%m-%Y") and the date columns are made for four-digit years.
    const auto local = LocalTime::toLocal(seconds);
    if (!local || local->tm_year + 1900 < 1 || local->tm_year + 1900 > 9999)
        return false;
    // With a 64-bit time every local date of these years converts back and has a midnight, so
    // the round trip below (two calls of mktime, which looks at the zone file each time) can
    // only fail where time_t is narrower.
    if constexpr (sizeof(time_t) >= 8)
        return true;
    const auto when = LocalTime::toAutomation(seconds);
    return when && LocalTime::fromAutomation(when->first + when->second) && LocalTime::dayKey(seconds);
}

double HistoryDb::dayNumber(const QString& dateText)
{
    const QStringList parts = dateText.split(QLatin1Char('-'));
    if (parts.size() != 3)
        return -1;
    bool ok1, ok2, ok3;
    const int y = parts[0].toInt(&ok1), m = parts[1].toInt(&ok2), d = parts[2].toInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || m < 1 || m > 12 || d < 1 || d > 31 || y < 1)
        return -1;
    return LocalTime::automationDay(y, m, d);
}

bool HistoryDb::backupTo(const QString& destination, QString* error, int* code, QString* written)
{
    return writeCopy(destination, std::nullopt, error, code, written);
}

bool HistoryDb::archiveTo(const QString& destination, qint64 now, QString* error, int* code, QString* written)
{
    const auto yesterday = LocalTime::toAutomation(now - 86400);
    if (!yesterday) {
        if (error)
            *error = tr("The current time has no local date");
        if (code)
            *code = -1;
        return false;
    }
    return writeCopy(destination, yesterday->first, error, code, written);
}

void HistoryDb::setBusyWait(int statementMs, int totalMs)
{
    s_busyStatementMs = std::max(0, statementMs);
    s_busyTotalMs = std::max(0, totalMs);
}

int HistoryDb::busyTotalMs()
{
    return s_busyTotalMs.load();
}

void HistoryDb::setArchiveProbe(ArchiveProbe probe)
{
    QMutexLocker lock(&s_probeLock);
    s_archiveProbe = std::move(probe);
}

QString HistoryDb::numberedName(const QString& destination, int number)
{
    if (number <= 1)
        return destination;
    const QString file = QFileInfo(destination).fileName();
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    const qsizetype cut = dot > 0 ? destination.size() - (file.size() - dot) : destination.size();
    return destination.left(cut) + QLatin1Char('-') + QString::number(number) + destination.mid(cut);
}

bool HistoryDb::writeCopy(
    const QString& destination, std::optional<double> deleteBefore, QString* error, int* code, QString* written)
{
    bool lost = false;
    if (writeCopyOnce(destination, deleteBefore, error, code, written, &lost))
        return true;
    if (!lost)
        return false;
    // The server connection was gone before anything was deleted (a restarted server): the
    // copy is made once more on a new connection.
    dropConnection();
    return writeCopyOnce(destination, deleteBefore, error, code, written, &lost);
}

namespace {

void probe(const char* step, const QString& path)
{
    QMutexLocker lock(&s_probeLock);
    if (s_archiveProbe)
        s_archiveProbe(step, path);
}

// Flushes a file or a folder to the disk; false with errno set when it cannot be.
bool syncPath(const QString& path, bool folder)
{
    const int fd = ::open(QFile::encodeName(path).constData(), (folder ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

// Gives from the name to without replacing a file there: false with errno EEXIST when the name
// is taken. A file system without the no-replace rename gets a hard link and an unlink, which
// refuse a taken name as well.
bool renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    ::unlink(source.constData());
    return true;
}

// Brings the written .part file to its final name: synced first, so that the name never
// stands for a copy that is not on the disk; renamed to the first free name; the folder
// synced, so that the name itself survives a power cut. Only after this may an archive delete.
QString settleCopy(const QString& part, const QString& destination, QString* finalName, int* code)
{
    const auto failed = [&] {
        *code = errno != 0 ? errno : -1;
        return QString::fromLocal8Bit(std::strerror(errno));
    };
    errno = 0;
    if (!syncPath(part, false))
        return failed();
    probe("synced", part);
    // A thousand archives of one day is far more than any program folder sees.
    for (int number = 1; number <= 1000; ++number) {
        const QString name = HistoryDb::numberedName(destination, number);
        if (QFileInfo::exists(name) || QFileInfo(name).isSymLink())
            continue;
        if (!renameNoReplace(part, name)) {
            if (errno == EEXIST)
                continue; // taken meanwhile
            return failed();
        }
        probe("renamed", name);
        *finalName = name;
        const QString folder = QFileInfo(name).absolutePath();
        if (!syncPath(folder, true))
            return failed();
        probe("folder-synced", folder);
        return {};
    }
    errno = EEXIST;
    return failed();
}

} // namespace

bool HistoryDb::writeCopyOnce(const QString& destination, std::optional<double> deleteBefore, QString* error, int* code,
    QString* written, bool* lost)
{
    *lost = false;
    if (deleteBefore && m_damaged.load()) {
        if (error)
            *error = damagedText(tr("a corruption error was met earlier"));
        if (code)
            *code = -1;
        return false;
    }
    const QString part = destination + QStringLiteral(".part");
    QFile::remove(part);
    QString failure;
    QString finalName;
    int failureCode = 0;
    const auto failWith = [&](const QSqlError& e) {
        failure = noteDamage(e) ? damagedText(e.text()) : e.text();
        failureCode = e.nativeErrorCode().toInt();
        if (failureCode == 0)
            failureCode = -1;
        *lost = isServer() && connectionLost(e);
    };
    const QString lockName
        = QStringLiteral("kestra-archive-lock-%1").arg(reinterpret_cast<quintptr>(QThread::currentThreadId()));
    {
        // The connection that deletes holds the store's write lock from before the copy reads
        // until the delete has run, so that the delete removes exactly what was copied: other
        // writers wait. On a server it is the copy's own transaction (a snapshot alone would not
        // do: deleting a day that another station added to meanwhile fails to serialise); on a
        // file, a second connection.
        QSqlDatabase writer = connection();
        bool open = false;
        if (isServer()) {
            QSqlQuery q(writer);
            open = writer.isOpen() && writer.transaction();
            if (!open)
                failWith(writer.lastError());
            else if (!q.exec(deleteBefore
                             ? QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ")
                             : QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")))
                failWith(q.lastError());
            // Before the first read, which takes the snapshot.
            else if (deleteBefore && !q.exec(QStringLiteral("LOCK TABLE History IN SHARE ROW EXCLUSIVE MODE")))
                failWith(q.lastError());
            else if (!copyToFile(part, &failure)) {
                failureCode = -1;
                // The copy reads through this connection: a dead one fails it first.
                QSqlQuery alive(writer);
                *lost = !alive.exec(QStringLiteral("SELECT 1")) && connectionLost(alive.lastError());
            }
        } else {
            if (deleteBefore) {
                writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockName);
                writer.setDatabaseName(m_path);
                QSqlQuery q(writer);
                open = writer.open() && q.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(s_busyStatementMs.load()))
                    && q.exec(QStringLiteral("PRAGMA synchronous = FULL"));
                if (open) {
                    // Another archive or a long write holds the lock: wait as any writer does.
                    QElapsedTimer waited;
                    waited.start();
                    while (!(open = q.exec(QStringLiteral("BEGIN IMMEDIATE"))) && fileBusy(q.lastError())
                        && waited.elapsed() < s_busyTotalMs.load())
                        QThread::msleep(50);
                }
                if (!open)
                    failWith(writer.isOpen() ? q.lastError() : writer.lastError());
            }
            // VACUUM INTO reads one snapshot of the store: the copy is consistent however the
            // file changes meanwhile.
            QSqlQuery q(connection());
            if (failure.isEmpty()) {
                bool copied = q.prepare(QStringLiteral("VACUUM INTO ?"));
                if (copied) {
                    q.addBindValue(part);
                    copied = q.exec();
                }
                if (!copied)
                    failWith(q.lastError());
            }
        }
        if (failure.isEmpty())
            failure = settleCopy(part, destination, &finalName, &failureCode);
        if (failure.isEmpty() && deleteBefore) {
            QSqlQuery q(writer);
            if (!q.prepare(QStringLiteral("DELETE FROM History WHERE hDate < ?")))
                failWith(q.lastError());
            q.addBindValue(*deleteBefore);
            if (failure.isEmpty() && !q.exec())
                failWith(q.lastError());
            q.finish();
            if (failure.isEmpty() && !writer.commit())
                failWith(writer.lastError());
            if (failure.isEmpty())
                probe("deleted", m_path);
            // The copy is in place under its name: a second try would only make another.
            *lost = false;
        }
        // A backup only read; a failed archive keeps every event.
        if (open && (!deleteBefore || !failure.isEmpty()))
            writer.rollback();
        if (writer.connectionName() == lockName)
            writer.close();
    }
    if (QSqlDatabase::contains(lockName))
        QSqlDatabase::removeDatabase(lockName);
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        if (code)
            *code = failureCode;
        QFile::remove(part);
        return false;
    }
    if (written)
        *written = finalName;
    return true;
}

bool HistoryDb::connectionLost(const QSqlError& error)
{
    if (error.type() == QSqlError::NoError)
        return false;
    const QString state = error.nativeErrorCode();
    return state.isEmpty() || state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P"));
}

bool HistoryDb::fileBusy(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 5 || code == 6); // SQLITE_BUSY, SQLITE_LOCKED and their extended codes
}

void HistoryDb::retrying(const std::function<void(QSqlDatabase&)>& op)
{
    QElapsedTimer waited;
    waited.start();
    bool reconnected = false;
    for (;;) {
        try {
            QSqlDatabase db = connection();
            if (isServer() && !db.isOpen())
                throw DbError(db.lastError());
            op(db);
            return;
        } catch (const DbError& e) {
            if (noteDamage(e.sqlError()))
                throw DbError(damagedText(e.sqlError().text()), e.sqlError());
            if (isServer() && !reconnected && connectionLost(e.sqlError())) {
                reconnected = true;
                dropConnection();
                continue;
            }
            if (!isServer() && fileBusy(e.sqlError()) && waited.elapsed() < s_busyTotalMs.load()) {
                QThread::msleep(50);
                continue;
            }
            throw;
        }
    }
}
