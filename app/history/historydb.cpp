#include "history/historydb.h"

#include "history/historyschema.h"
#include "history/localtime.h"

#include <QCoreApplication>
#include <QDir>
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
                q.exec(QStringLiteral("PRAGMA busy_timeout = 5000"));
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
    if (!HistorySchema::prepare(db, m_path, writable, error))
        return false;
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
    if (!when || !LocalTime::fromAutomation(when->first + when->second))
        return false;
    try {
        LocalTime::dayKey(seconds);
    } catch (const std::invalid_argument&) {
        return false;
    }
    return true;
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

bool HistoryDb::backupTo(const QString& destination, QString* error, int* code)
{
    return writeCopy(destination, std::nullopt, error, code);
}

bool HistoryDb::archiveTo(const QString& destination, qint64 now, QString* error, int* code)
{
    const auto yesterday = LocalTime::toAutomation(now - 86400);
    if (!yesterday) {
        if (error)
            *error = tr("The current time has no local date");
        if (code)
            *code = -1;
        return false;
    }
    return writeCopy(destination, yesterday->first, error, code);
}

bool HistoryDb::writeCopy(const QString& destination, std::optional<double> deleteBefore, QString* error, int* code)
{
    const QString part = destination + QStringLiteral(".part");
    QFile::remove(part);
    QString failure;
    int failureCode = 0;
    const auto failWith = [&](const QSqlError& e) {
        failure = e.text();
        failureCode = e.nativeErrorCode().toInt();
        if (failureCode == 0)
            failureCode = -1;
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
            else if (!copyToFile(part, &failure))
                failureCode = -1;
        } else {
            if (deleteBefore) {
                writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockName);
                writer.setDatabaseName(m_path);
                QSqlQuery q(writer);
                open = writer.open() && q.exec(QStringLiteral("PRAGMA busy_timeout = 5000"))
                    && q.exec(QStringLiteral("PRAGMA synchronous = FULL")) && q.exec(QStringLiteral("BEGIN IMMEDIATE"));
                if (!open)
                    failWith(writer.isOpen() ? q.lastError() : writer.lastError());
            }
            // VACUUM INTO reads one snapshot of the store: the copy is consistent however the
            // file changes meanwhile. It writes a new file, which then replaces the destination.
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
        if (failure.isEmpty()
            && std::rename(QFile::encodeName(part).constData(), QFile::encodeName(destination).constData()) != 0) {
            failure = QString::fromLocal8Bit(std::strerror(errno));
            failureCode = errno;
        }
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
    return true;
}
