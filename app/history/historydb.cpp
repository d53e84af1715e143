#include "history/historydb.h"

#include "history/historyschema.h"
#include "history/localtime.h"
#include "history/messenger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("HistoryDb", text);
}

// Caption of errors while opening or reading fields (the program has always shown it in
// Russian, whatever the language); of the day summary's row errors.
QString openCaption()
{
    return QStringLiteral("Ошибка базы данных");
}
QString summaryCaption()
{
    return QCoreApplication::translate("HistoryDb", "Database Error!");
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

// The decimal text-to-integer rule for integer columns: leading blanks, a sign, digits.
qint32 intField(const QVariant& value)
{
    if (value.isNull())
        return 0;
    const int type = value.typeId();
    if (type == QMetaType::LongLong || type == QMetaType::Int)
        return static_cast<qint32>(value.toLongLong());
    return std::atoi(value.toString().toLatin1().constData());
}

double numberField(const QVariant& value)
{
    return value.isNull() ? 0.0 : value.toDouble();
}

QString textField(const QVariant& value)
{
    return value.isNull() ? QString() : value.toString();
}

[[noreturn]] void fail(const QSqlQuery& query)
{
    throw DbError(query.lastError().text());
}

// The columns every event query selects, in the order recordOf reads them.
constexpr const char* eventColumns = "hID, hType, hAlarm, hDate, hTime, hValue, hValue2, hPrecision, hVariation, "
                                     "iif(hComment is null, ' ', hComment) as comment, hPagerID, hDateTime";

ChistoryRec recordOf(const QSqlQuery& q)
{
    ChistoryRec r;
    const QVariant exact = q.value(11);
    if (!exact.isNull()) {
        r.hDateTime = exact.toLongLong();
    } else {
        const auto t = LocalTime::fromAutomation(numberField(q.value(4)) + numberField(q.value(3)));
        r.hDateTime = t.value_or(0);
    }
    r.hType = intField(q.value(1));
    r.hAlarm = intField(q.value(2));
    r.hValue = numberField(q.value(5));
    r.hComment = textField(q.value(9));
    r.hID = textField(q.value(0));
    r.hValue2 = numberField(q.value(6));
    r.hPrecision = intField(q.value(7));
    r.hVariation = intField(q.value(8));
    r.hPagerID = textField(q.value(10));
    return r;
}

} // namespace

HistoryDb::HistoryDb(const QString& path, quint64 generation)
    : m_path(path)
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
    if (!QFileInfo::exists(path)) {
        if (mode == OpenMode::Existing)
            return nullptr;
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder)) {
            *error = tr("The folder of the database cannot be created: %1").arg(folder);
            return nullptr;
        }
    }
    auto handle = std::unique_ptr<HistoryDb>(new HistoryDb(path, ++s_generation));
    if (!handle->prepareStore(error)) {
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
    return QSqlDatabase::database(name, false);
}

bool HistoryDb::prepareStore(QString* error)
{
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        *error = tr("%1 cannot be opened: %2").arg(m_path, db.lastError().text());
        return false;
    }
    const bool writable = QFileInfo(m_path).isWritable();
    if (!HistorySchema::prepare(db, m_path, writable, error))
        return false;
    if (writable) {
        // WAL lets a job thread read while another connection writes; a read-only folder keeps
        // the file's own journal mode. Set only once the file is known to be a sound store.
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    }
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

bool HistoryDb::loadDayEvents(CPagerList& list, const QString& id, const QString& dateText, int queryMode)
{
    QString condition;
    if (!id.isEmpty()) {
        condition = QStringLiteral("WHERE hPagerID = :id");
        if (!dateText.isEmpty())
            condition += QStringLiteral(" AND hDate = :date");
        if (queryMode & 1)
            condition += QStringLiteral(" AND hAlarm > 0");
    }
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT %1 FROM History %2 ORDER BY hDate DESC, hTime DESC;")
                       .arg(QLatin1String(eventColumns), condition)))
        fail(q);
    if (!id.isEmpty()) {
        q.bindValue(QStringLiteral(":id"), id);
        if (!dateText.isEmpty()) {
            const double day = dayNumber(dateText);
            q.bindValue(QStringLiteral(":date"), day < 0 ? QVariant() : QVariant(day));
        }
    }
    if (!q.exec())
        fail(q);
    CPager* pager = id.isEmpty() ? nullptr : &list.findOrCreate(id);
    while (q.next()) {
        CPager* owner = pager ? pager : &list.findOrCreate(textField(q.value(10)));
        ChistoryRec r = recordOf(q);
        r.hPagerID = owner->identifier();
        owner->addEvent(r);
    }
    if (q.lastError().isValid())
        fail(q);
    return true;
}

bool HistoryDb::insertEvents(const CHistoryList& list, int* added, QString* error)
{
    std::vector<ChistoryRec> records(list.records().begin(), list.records().end());
    return insertEvents(records, added, error);
}

bool HistoryDb::insertEvents(std::span<const ChistoryRec> records, int* added, QString* error)
{
    if (added)
        *added = 0;
    QString failure;
    int count = 0;
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        failure = db.lastError().text();
    } else if (!db.transaction()) {
        failure = db.lastError().text();
    } else {
        QSqlQuery q(db);
        // OR IGNORE: an event already stored is skipped; any other failure ends the batch.
        if (!q.prepare(QStringLiteral("INSERT OR IGNORE INTO History (hID, hType, hAlarm, hDate, hTime, hValue, "
                                      "hValue2, hPrecision, hVariation, hComment, hPagerID, hDateTime) "
                                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);"))) {
            failure = q.lastError().text();
        } else {
            for (const ChistoryRec& r : records) {
                if (!canStoreTime(r.hDateTime))
                    continue;
                const auto when = LocalTime::toAutomation(r.hDateTime);
                q.bindValue(0, r.hID);
                q.bindValue(1, r.hType);
                q.bindValue(2, r.hAlarm);
                q.bindValue(3, when->first);
                q.bindValue(4, when->second);
                q.bindValue(5, r.hValue);
                q.bindValue(6, r.hValue2);
                q.bindValue(7, r.hPrecision);
                q.bindValue(8, r.hVariation);
                q.bindValue(9, r.hComment);
                q.bindValue(10, r.hPagerID);
                q.bindValue(11, r.hDateTime);
                if (!q.exec()) {
                    failure = q.lastError().text();
                    break;
                }
                count += q.numRowsAffected();
            }
        }
        q.finish();
        if (failure.isEmpty() && !db.commit())
            failure = db.lastError().text();
        // SQLite may have ended the transaction itself (a full disk does); the rollback is then
        // a no-op, and either way nothing of the batch stays.
        if (!failure.isEmpty())
            db.rollback();
    }
    if (!failure.isEmpty()) {
        if (error)
            *error = tr("The events could not be stored in %1; none of this batch of %2 was kept: %3")
                         .arg(m_path, QString::number(records.size()), failure);
        return false;
    }
    if (added)
        *added = count;
    return true;
}

bool HistoryDb::updateComment(const ChistoryRec& record)
{
    QSqlQuery q(connection());
    // The key alone is shared by events of one second; the event's own fields pick it out.
    if (!q.prepare(QStringLiteral("UPDATE History SET hComment = ? WHERE hID = ? AND hPagerID = ? AND hDateTime = ? "
                                  "AND hType = ? AND hAlarm = ? AND hValue = ?")))
        fail(q);
    q.addBindValue(record.commentText());
    q.addBindValue(record.hID);
    q.addBindValue(record.hPagerID);
    q.addBindValue(record.hDateTime);
    q.addBindValue(record.hType);
    q.addBindValue(record.hAlarm);
    q.addBindValue(record.hValue);
    if (!q.exec())
        fail(q);
    return true;
}

bool HistoryDb::deleteOldEvents(qint64 now)
{
    const auto yesterday = LocalTime::toAutomation(now - 86400);
    if (!yesterday)
        throw DbError(tr("The current time has no local date"));
    QSqlQuery q(connection());
    if (!q.prepare(QStringLiteral("DELETE FROM History WHERE hDate < ?")))
        fail(q);
    q.addBindValue(yesterday->first);
    if (!q.exec())
        fail(q);
    return true;
}

bool HistoryDb::saveInstrumentName(const CPager& pager)
{
    QSqlQuery q(connection());
    if (!q.prepare(QStringLiteral("SELECT pID, pName FROM Pagers WHERE pID = ?")))
        return false;
    q.addBindValue(pager.identifier());
    if (!q.exec())
        return false;
    const bool exists = q.next();
    q.finish();
    if (!exists) {
        if (!q.prepare(QStringLiteral("INSERT INTO Pagers (pID, pName) VALUES (?, ?);")))
            fail(q);
        q.addBindValue(pager.identifier());
        q.addBindValue(pager.displayName());
    } else {
        if (!q.prepare(QStringLiteral("UPDATE Pagers SET pName = ? WHERE pID = ?;")))
            fail(q);
        q.addBindValue(pager.displayName());
        q.addBindValue(pager.identifier());
    }
    if (!q.exec())
        fail(q);
    return true;
}

bool HistoryDb::loadInstrumentNames(CPagerList& list)
{
    list.clearNameTable();
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT pID, iif(pName is null, pID, pName) as Name FROM Pagers;")))
        fail(q);
    while (q.next())
        list.setTableName(textField(q.value(0)), textField(q.value(1)));
    if (q.lastError().isValid())
        fail(q);
    return true;
}

bool HistoryDb::loadDaySummary(CPagerList& list)
{
    list.clearInstruments();
    try {
        loadInstrumentNames(list);
    } catch (const DbError& e) {
        Messenger::instance().tell(summaryCaption(), QString::fromStdString(e.what()), Messenger::Icon::Error);
    }
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT DISTINCT History.hPagerID, History.hDate, Sum(IIf([hAlarm]=0,0,1)) AS cAlarm "
                               "\t\tFROM History \t\tGROUP BY History.hPagerID, History.hDate "
                               "\t\tORDER BY History.hPagerID, History.hDate;")))
        return false;
    while (q.next()) {
        const QString id = textField(q.value(0));
        const auto day = LocalTime::fromAutomation(numberField(q.value(1)));
        if (!day) {
            Messenger::instance().tell(summaryCaption(),
                tr("The date of a day of %1 cannot be read: %2").arg(id, q.value(1).toString()),
                Messenger::Icon::Error);
            continue;
        }
        CPager& pager = list.findOrCreate(id);
        pager.setName(list.tableName(id));
        pager.setDayAlarm(*day, numberField(q.value(2)) > 0);
    }
    if (q.lastError().isValid())
        Messenger::instance().tell(summaryCaption(), q.lastError().text(), Messenger::Icon::Error);
    return true;
}

bool HistoryDb::backupTo(const QString& destination, QString* error, int* code)
{
    const QString part = destination + QStringLiteral(".part");
    QFile::remove(part);
    QSqlQuery q(connection());
    // VACUUM INTO reads one snapshot of the store: the copy is consistent however the file
    // changes meanwhile. It writes a new file, which then replaces the destination.
    bool ok = q.prepare(QStringLiteral("VACUUM INTO ?"));
    if (ok) {
        q.addBindValue(part);
        ok = q.exec();
    }
    if (!ok) {
        if (error)
            *error = q.lastError().text();
        if (code)
            *code = q.lastError().nativeErrorCode().toInt();
        QFile::remove(part);
        return false;
    }
    if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(destination).constData()) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        if (code)
            *code = errno;
        QFile::remove(part);
        return false;
    }
    return true;
}

std::vector<ChistoryRec> HistoryDb::eventsAfter(const QString& id, qint64 since)
{
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    // A range of the unique index HistoryEvent (instrument, exact time, ...), which also gives
    // the order.
    if (!q.prepare(QStringLiteral("SELECT %1 FROM History WHERE hPagerID = ? AND hDateTime > ? ORDER BY hDateTime")
                       .arg(QLatin1String(eventColumns))))
        fail(q);
    q.addBindValue(id);
    q.addBindValue(since);
    if (!q.exec())
        fail(q);
    std::vector<ChistoryRec> events;
    while (q.next())
        events.push_back(recordOf(q));
    if (q.lastError().isValid())
        fail(q);
    return events;
}

void HistoryDb::forEachEvent(const QString& id, qint64 from, qint64 to, int batchSize,
    const std::function<bool(std::span<const ChistoryRec>)>& sink)
{
    QStringList ids;
    if (id.isEmpty()) {
        QSqlQuery q(connection());
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT DISTINCT hPagerID FROM History ORDER BY hPagerID")))
            fail(q);
        while (q.next())
            ids.append(textField(q.value(0)));
        if (q.lastError().isValid())
            fail(q);
    } else {
        ids.append(id);
    }
    const size_t limit = static_cast<size_t>(std::max(1, batchSize));
    std::vector<ChistoryRec> batch;
    batch.reserve(limit);
    for (const QString& pager : ids) {
        QSqlQuery q(connection());
        // Forward-only: the driver steps the statement row by row and keeps no copy of the
        // rows already read.
        q.setForwardOnly(true);
        if (!q.prepare(QStringLiteral("SELECT %1 FROM History WHERE hPagerID = ? AND hDateTime >= ? AND hDateTime < ? "
                                      "ORDER BY hDateTime")
                           .arg(QLatin1String(eventColumns))))
            fail(q);
        q.addBindValue(pager);
        q.addBindValue(from);
        q.addBindValue(to);
        if (!q.exec())
            fail(q);
        while (q.next()) {
            batch.push_back(recordOf(q));
            if (batch.size() == limit) {
                if (!sink(batch))
                    return;
                batch.clear();
            }
        }
        if (q.lastError().isValid())
            fail(q);
    }
    if (!batch.empty())
        sink(batch);
}
