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

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
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

QMutex s_mutex;
std::unique_ptr<HistoryDb> s_handle;
std::atomic<quint64> s_generation { 0 };

// The calling thread's connection; removed when the thread ends.
struct ThreadConnection {
    QString name;
    ~ThreadConnection() { drop(); }
    void drop()
    {
        if (name.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isValid())
                db.close();
        }
        QSqlDatabase::removeDatabase(name);
        name.clear();
    }
};
thread_local ThreadConnection t_connection;

} // namespace

HistoryDb::HistoryDb(const QString& path, const StoreAddress& address, quint64 generation)
    : m_path(path)
    , m_address(address)
    , m_generation(generation)
{
}

HistoryDb* HistoryDb::current()
{
    QMutexLocker lock(&s_mutex);
    return s_handle.get();
}

void HistoryDb::close()
{
    QMutexLocker lock(&s_mutex);
    s_handle.reset();
    ++s_generation;
    t_connection.drop();
}

void HistoryDb::dropConnection()
{
    t_connection.drop();
}

QString HistoryDb::errorCaption()
{
    return openCaption();
}

HistoryDb* HistoryDb::open(const QString& path, OpenMode mode, QString* error)
{
    QString scratch;
    if (!error)
        error = &scratch;
    error->clear();
    QMutexLocker lock(&s_mutex);
    if (s_handle && s_handle->m_path == path)
        return s_handle.get();
    // Whatever comes of this open, the store that was open is closed: after a failed switch
    // nothing may go on writing into the file that was left.
    s_handle.reset();
    ++s_generation;
    t_connection.drop();
    const std::optional<StoreAddress> address = StoreAddress::parse(path, error);
    if (!address)
        return nullptr;
    if (address->engine == StoreAddress::Engine::SQLite && !QFileInfo::exists(path)) {
        if (mode == OpenMode::Existing)
            return nullptr;
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder)) {
            *error = tr("The folder of the database cannot be created: %1").arg(folder);
            return nullptr;
        }
    }
    auto handle = std::unique_ptr<HistoryDb>(new HistoryDb(path, *address, ++s_generation));
    bool missing = false;
    if (!handle->prepareStore(mode, error, &missing)) {
        t_connection.drop();
        ++s_generation;
        return nullptr;
    }
    s_handle = std::move(handle);
    return s_handle.get();
}

QSqlDatabase HistoryDb::connection()
{
    const QString name = QStringLiteral("kestra-history-%1-%2")
                             .arg(QString::number(m_generation),
                                 QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId())));
    if (t_connection.name != name) {
        t_connection.drop();
        t_connection.name = name;
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
    const QString part = destination + QStringLiteral(".part");
    QFile::remove(part);
    QString failure;
    int failureCode = 0;
    if (isServer()) {
        if (!copyToFile(part, &failure))
            failureCode = -1;
    } else {
        QSqlQuery q(connection());
        // VACUUM INTO reads one snapshot of the store: the copy is consistent however the file
        // changes meanwhile. It writes a new file, which then replaces the destination.
        bool ok = q.prepare(QStringLiteral("VACUUM INTO ?"));
        if (ok) {
            q.addBindValue(part);
            ok = q.exec();
        }
        if (!ok) {
            failure = q.lastError().text();
            failureCode = q.lastError().nativeErrorCode().toInt();
        }
    }
    if (failure.isEmpty()
        && std::rename(QFile::encodeName(part).constData(), QFile::encodeName(destination).constData()) != 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        failureCode = errno;
    }
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
