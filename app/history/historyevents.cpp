#include "history/historydb.h"

#include "history/historytext.h"
#include "history/localtime.h"
#include "history/messenger.h"
#include "history/querymode.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

// The operations on the events and names of the open store, on either engine.

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("HistoryDb", text);
}

// Caption of the day summary's row errors.
QString summaryCaption()
{
    return QCoreApplication::translate("HistoryDb", "Database Error!");
}

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
    throw DbError(query.lastError());
}

// The columns every event query selects, in the order recordOf reads them.
constexpr const char* eventColumns = "hID, hType, hAlarm, hDate, hTime, hValue, hValue2, hPrecision, hVariation, "
                                     "coalesce(hComment, ' ') as comment, hPagerID, hDateTime";

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
    // A file of an earlier version may hold what the text rule keeps out.
    HistoryText::mendRecord(r);
    return r;
}

// The columns an insert writes, in the order insertEvents binds them.
constexpr int InsertColumns = 12;
constexpr const char* insertColumns
    = "hID, hType, hAlarm, hDate, hTime, hValue, hValue2, hPrecision, hVariation, hComment, hPagerID, hDateTime";
// Rows per insert statement on SQLite: the multi-row VALUES list binds this many events.
constexpr int InsertRows = 200;
// Rows per insert statement on a server. The rows travel as one array per column, so a
// statement costs one round trip and one parse however many rows it carries; the summary
// trigger also runs once per statement.
constexpr int ServerInsertRows = 5000;
// ...and at most this many UTF-16 units of text, far below the server's statement limit of
// 1 GB whatever the comments hold.
constexpr qsizetype ServerInsertText = 16 * 1024 * 1024;

// One insert statement for rows events; an event already stored (the unique index HistoryEvent)
// is skipped, also when another station stores it at the same moment.
QString insertStatement(int rows)
{
    const QString row = QLatin1Char('(') + QStringLiteral("?, ").repeated(InsertColumns - 1) + QStringLiteral("?)");
    QStringList values;
    values.reserve(rows);
    for (int i = 0; i < rows; ++i)
        values << row;
    return QStringLiteral("INSERT INTO History (%1) VALUES %2 ON CONFLICT DO NOTHING")
        .arg(QLatin1String(insertColumns), values.join(QStringLiteral(", ")));
}

// The server's insert: each column arrives as one array, in insertColumns order.
QString serverInsertStatement()
{
    return QStringLiteral("INSERT INTO History (%1) SELECT * FROM unnest(?::text[], ?::integer[], ?::integer[], "
                          "?::float8[], ?::float8[], ?::float8[], ?::float8[], ?::integer[], ?::integer[], "
                          "?::text[], ?::text[], ?::bigint[]) ON CONFLICT DO NOTHING")
        .arg(QLatin1String(insertColumns));
}

// The elements of one array literal of the server's text form ("{a,b,c}").
class ArrayText {
public:
    void add(qint64 value) { next().append(QString::number(value)); }
    // Doubles keep every bit: the shortest text that reads back to the same value.
    void add(double value)
    {
        QString& t = next();
        if (std::isnan(value))
            t.append(QLatin1String("NaN"));
        else if (std::isinf(value))
            t.append(value > 0 ? QLatin1String("Infinity") : QLatin1String("-Infinity"));
        else
            t.append(QString::number(value, 'g', QLocale::FloatingPointShortest));
    }
    // A null text stays NULL, as a bound null string does; any other is quoted whole.
    void add(const QString& value)
    {
        QString& t = next();
        if (value.isNull()) {
            t.append(QLatin1String("NULL"));
            return;
        }
        t.append(QLatin1Char('"'));
        for (const QChar c : value) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                t.append(QLatin1Char('\\'));
            t.append(c);
        }
        t.append(QLatin1Char('"'));
    }
    QString take()
    {
        m_text.append(m_text.isEmpty() ? QLatin1String("{}") : QLatin1String("}"));
        return std::exchange(m_text, QString());
    }

private:
    QString& next()
    {
        m_text.append(m_text.isEmpty() ? QLatin1Char('{') : QLatin1Char(','));
        return m_text;
    }
    QString m_text;
};

// A server ends one of two transactions that wait for each other (a deadlock, SQLSTATE 40P01)
// or cannot be ordered (40001): the batch is then simply tried again.
bool mayRetry(const QSqlError& error)
{
    const QString state = error.nativeErrorCode();
    return state == QLatin1String("40P01") || state == QLatin1String("40001");
}

// The text the store keeps of a record's text: the same on both engines.
QString stored(const QString& text)
{
    QString mended = text;
    HistoryText::mend(mended);
    return mended;
}

// Stores the events in an SQLite store inside the open transaction, counting the rows added.
// Returns the error that ended it, or none.
QSqlError storeInFile(QSqlDatabase& db, const std::vector<const ChistoryRec*>& storable, int& count)
{
    QSqlQuery full(db);
    QSqlQuery tail(db);
    for (size_t done = 0; done < storable.size();) {
        const int rows = static_cast<int>(std::min<size_t>(InsertRows, storable.size() - done));
        // The statement for a full slice is prepared once; the last, shorter one once.
        QSqlQuery& q = rows == InsertRows ? full : tail;
        if ((&q == &tail || q.lastQuery().isEmpty()) && !q.prepare(insertStatement(rows)))
            return q.lastError();
        for (int i = 0; i < rows; ++i) {
            const ChistoryRec& r = *storable[done + i];
            const auto when = LocalTime::toAutomation(r.hDateTime);
            const int at = i * InsertColumns;
            q.bindValue(at + 0, stored(r.hID));
            q.bindValue(at + 1, r.hType);
            q.bindValue(at + 2, r.hAlarm);
            q.bindValue(at + 3, when->first);
            q.bindValue(at + 4, when->second);
            q.bindValue(at + 5, r.hValue);
            q.bindValue(at + 6, r.hValue2);
            q.bindValue(at + 7, r.hPrecision);
            q.bindValue(at + 8, r.hVariation);
            q.bindValue(at + 9, stored(r.hComment));
            q.bindValue(at + 10, stored(r.hPagerID));
            q.bindValue(at + 11, r.hDateTime);
        }
        if (!q.exec())
            return q.lastError();
        count += q.numRowsAffected();
        done += rows;
    }
    return {};
}

// The same on a server, ServerInsertRows events per statement.
QSqlError storeOnServer(QSqlDatabase& db, const std::vector<const ChistoryRec*>& storable, int& count)
{
    QSqlQuery q(db);
    if (!storable.empty() && !q.prepare(serverInsertStatement()))
        return q.lastError();
    std::array<ArrayText, InsertColumns> columns;
    for (size_t done = 0; done < storable.size();) {
        const size_t end = std::min(storable.size(), done + ServerInsertRows);
        qsizetype text = 0;
        for (; done < end && text < ServerInsertText; ++done) {
            const ChistoryRec& r = *storable[done];
            const auto when = LocalTime::toAutomation(r.hDateTime);
            text += r.hID.size() + r.hComment.size() + r.hPagerID.size();
            columns[0].add(stored(r.hID));
            columns[1].add(qint64 { r.hType });
            columns[2].add(qint64 { r.hAlarm });
            columns[3].add(when->first);
            columns[4].add(when->second);
            columns[5].add(r.hValue);
            columns[6].add(r.hValue2);
            columns[7].add(qint64 { r.hPrecision });
            columns[8].add(qint64 { r.hVariation });
            columns[9].add(stored(r.hComment));
            columns[10].add(stored(r.hPagerID));
            columns[11].add(r.hDateTime);
        }
        for (int c = 0; c < InsertColumns; ++c)
            q.bindValue(c, columns[c].take());
        if (!q.exec())
            return q.lastError();
        count += q.numRowsAffected();
    }
    return {};
}

} // namespace

bool HistoryDb::loadDayEvents(CPagerList& list, const QString& id, const QString& dateText, int queryMode)
{
    QString condition;
    if (!id.isEmpty()) {
        condition = QStringLiteral("WHERE hPagerID = :id");
        if (!dateText.isEmpty())
            condition += QStringLiteral(" AND hDate = :date");
        if (QueryMode::alarmsOnly(queryMode))
            condition += QStringLiteral(" AND hAlarm > 0");
    }
    // Read whole before anything is filed: a run that fails leaves the list as it was.
    std::vector<ChistoryRec> rows;
    retrying([&](QSqlDatabase& db) {
        rows.clear();
        QSqlQuery q(db);
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
        while (q.next())
            rows.push_back(recordOf(q));
        if (q.lastError().isValid())
            fail(q);
    });
    CPager* pager = id.isEmpty() ? nullptr : &list.findOrCreate(id);
    for (ChistoryRec& r : rows) {
        CPager* owner = pager ? pager : &list.findOrCreate(r.hPagerID);
        r.hPagerID = owner->identifier();
        owner->addEvent(r);
    }
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
    if (m_damaged.load()) {
        if (error)
            *error = damagedText(tr("a corruption error was met earlier"));
        return false;
    }
    std::vector<const ChistoryRec*> storable;
    storable.reserve(records.size());
    for (const ChistoryRec& r : records) {
        if (canStoreTime(r.hDateTime))
            storable.push_back(&r);
    }
    QString failure;
    int count = 0;
    QSqlDatabase db = connection();
    QElapsedTimer waited;
    waited.start();
    bool reconnected = false;
    for (int attempt = 0;; ++attempt) {
        failure.clear();
        count = 0;
        QSqlError cause;
        if (!db.isOpen()) {
            cause = db.lastError();
        } else if (!db.transaction()) {
            cause = db.lastError();
        } else {
            cause = isServer() ? storeOnServer(db, storable, count) : storeInFile(db, storable, count);
            if (!cause.isValid() && !db.commit())
                cause = db.lastError();
            // SQLite may have ended the transaction itself (a full disk does); the rollback is
            // then a no-op, and either way nothing of the batch stays.
            if (cause.isValid())
                db.rollback();
        }
        if (!cause.isValid())
            break;
        failure = cause.text();
        if (noteDamage(cause)) {
            failure = damagedText(cause.text());
            break;
        }
        if (isServer() && connectionLost(cause) && !reconnected) {
            // Nothing of the batch was committed: it goes again on a new connection.
            reconnected = true;
            dropConnection();
            db = connection();
        } else if (!isServer() && fileBusy(cause) && waited.elapsed() < busyTotalMs()) {
            // Another program holds the file (an archive): wait for it.
            QThread::msleep(50);
        } else if (!mayRetry(cause) || attempt >= 4) {
            break;
        }
    }
    if (!failure.isEmpty()) {
        if (error && m_damaged.load())
            *error = failure;
        else if (error)
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
    if (const QString why = HistoryText::problem(record.commentText(), HistoryText::MaxComment); !why.isEmpty())
        throw DbError(tr("The comment of %1 was not stored: it %2").arg(HistoryText::recordName(record), why));
    refuseDamaged();
    retrying([&](QSqlDatabase& db) {
        if (!db.transaction())
            throw DbError(db.lastError());
        QSqlQuery q(db);
        const auto failed = [&](const QSqlError& e) {
            q.finish();
            db.rollback();
            throw DbError(e);
        };
        // The key alone is shared by events of one second; the event's own fields pick it out.
        if (!q.prepare(QStringLiteral("UPDATE History SET hComment = ? WHERE hID = ? AND hPagerID = ? AND "
                                      "hDateTime = ? AND hType = ? AND hAlarm = ? AND hValue = ?")))
            failed(q.lastError());
        q.addBindValue(record.commentText());
        q.addBindValue(record.hID);
        q.addBindValue(record.hPagerID);
        q.addBindValue(record.hDateTime);
        q.addBindValue(record.hType);
        q.addBindValue(record.hAlarm);
        q.addBindValue(record.hValue);
        if (!q.exec())
            failed(q.lastError());
        // Exactly that one event: none means it is not in the store (only in memory after a
        // failed commit, or a row of an old store without its exact time).
        const int changed = q.numRowsAffected();
        q.finish();
        if (changed != 1) {
            db.rollback();
            throw DbError(changed == 0 ? tr("The comment of %1 was not stored: the event is not in the database %2")
                                             .arg(HistoryText::recordName(record), m_path)
                                       : tr("The comment of %1 was not stored: %2 events of the database match it")
                                             .arg(HistoryText::recordName(record), QString::number(changed)));
        }
        if (!db.commit())
            failed(db.lastError());
    });
    return true;
}

bool HistoryDb::deleteOldEvents(qint64 now)
{
    const auto yesterday = LocalTime::toAutomation(now - 86400);
    if (!yesterday)
        throw DbError(tr("The current time has no local date"));
    refuseDamaged();
    retrying([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.prepare(QStringLiteral("DELETE FROM History WHERE hDate < ?")))
            fail(q);
        q.addBindValue(yesterday->first);
        if (!q.exec())
            fail(q);
    });
    return true;
}

bool HistoryDb::saveInstrumentName(const CPager& pager)
{
    refuseDamaged();
    if (isServer()) {
        retrying([&](QSqlDatabase& db) {
            QSqlQuery q(db);
            // Two stations may name one instrument at once: one statement, whichever comes last wins.
            if (!q.prepare(QStringLiteral("INSERT INTO Pagers (pID, pName) VALUES (?, ?) ON CONFLICT (pID) DO UPDATE "
                                          "SET pName = excluded.pName")))
                fail(q);
            q.addBindValue(pager.identifier());
            q.addBindValue(stored(pager.displayName()));
            if (!q.exec())
                fail(q);
        });
        return true;
    }
    bool saved = true;
    retrying([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.prepare(QStringLiteral("SELECT pID, pName FROM Pagers WHERE pID = ?"))) {
            saved = false;
            return;
        }
        q.addBindValue(pager.identifier());
        if (!q.exec()) {
            saved = false;
            return;
        }
        const bool exists = q.next();
        q.finish();
        if (!exists) {
            if (!q.prepare(QStringLiteral("INSERT INTO Pagers (pID, pName) VALUES (?, ?);")))
                fail(q);
            q.addBindValue(pager.identifier());
            q.addBindValue(stored(pager.displayName()));
        } else {
            if (!q.prepare(QStringLiteral("UPDATE Pagers SET pName = ? WHERE pID = ?;")))
                fail(q);
            q.addBindValue(stored(pager.displayName()));
            q.addBindValue(pager.identifier());
        }
        if (!q.exec())
            fail(q);
    });
    return saved;
}

bool HistoryDb::loadInstrumentNames(CPagerList& list)
{
    CPagerList::NameTable names;
    retrying([&](QSqlDatabase& db) {
        names.clear();
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT pID, coalesce(pName, pID) as Name FROM Pagers;")))
            fail(q);
        while (q.next())
            names[textField(q.value(0))] = stored(textField(q.value(1)));
        if (q.lastError().isValid())
            fail(q);
    });
    // Replaced only once the whole table is read.
    list.clearNameTable();
    for (const auto& [id, name] : names)
        list.setTableName(id, name);
    return true;
}

bool HistoryDb::loadDaySummary(CPagerList& list, Messenger& messenger)
{
    // Built apart and put in place only when the query succeeded: a failure (a server that
    // is restarting) leaves the instruments shown as they were.
    CPagerList fresh;
    try {
        loadInstrumentNames(fresh);
    } catch (const DbError& e) {
        if (isServer() && connectionLost(e.sqlError()))
            throw;
        messenger.tell(summaryCaption(), QString::fromStdString(e.what()), Messenger::Icon::Error);
    }
    // The summary the store keeps; a read-only store of an earlier layout has none, and its
    // days are counted from the events.
    const QString statement = m_hasSummary
        ? QStringLiteral("SELECT sPagerID, sDate, sAlarms FROM DaySummary ORDER BY sPagerID, sDate")
        : QStringLiteral("SELECT coalesce(hPagerID, ''), coalesce(hDate, 0), sum(CASE WHEN hAlarm = 0 THEN 0 ELSE 1 "
                         "END) FROM History GROUP BY 1, 2 ORDER BY 1, 2");
    struct Row {
        QString id;
        QVariant date;
        double alarms;
    };
    std::vector<Row> rows;
    QSqlError rowError;
    try {
        retrying([&](QSqlDatabase& db) {
            rows.clear();
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (!q.exec(statement))
                fail(q);
            while (q.next())
                rows.push_back({ stored(textField(q.value(0))), q.value(1), numberField(q.value(2)) });
            rowError = q.lastError();
            // A connection lost in the middle is tried again; another error keeps what was read.
            if (rowError.isValid() && isServer() && connectionLost(rowError))
                fail(q);
        });
    } catch (const DbError&) {
        return false;
    }
    if (rowError.isValid())
        messenger.tell(summaryCaption(), rowError.text(), Messenger::Icon::Error);
    // Many instruments share each date: every date is turned into its day once (a local-time
    // conversion costs far more than the rest of a row), and the rows of one instrument come
    // together, so it is looked up once.
    QHash<double, std::optional<qint64>> dayKeys;
    CPager* pager = nullptr;
    QString pagerId;
    for (const Row& row : rows) {
        const double date = numberField(row.date);
        auto known = dayKeys.find(date);
        if (known == dayKeys.end()) {
            std::optional<qint64> key;
            if (const auto day = LocalTime::fromAutomation(date))
                key = LocalTime::dayKey(*day);
            known = dayKeys.insert(date, key);
        }
        if (!*known) {
            messenger.tell(summaryCaption(),
                tr("The date of a day of %1 cannot be read: %2").arg(row.id, row.date.toString()),
                Messenger::Icon::Error);
            continue;
        }
        if (!pager || row.id != pagerId) {
            pager = &fresh.findOrCreate(row.id);
            pager->setName(fresh.tableName(row.id));
            pagerId = row.id;
        }
        pager->setDayAlarmOfKey(**known, row.alarms > 0);
    }
    list = std::move(fresh);
    return true;
}

std::vector<ChistoryRec> HistoryDb::eventsAfter(const QString& id, qint64 since)
{
    std::vector<ChistoryRec> events;
    retrying([&](QSqlDatabase& db) {
        events.clear();
        QSqlQuery q(db);
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
        while (q.next())
            events.push_back(recordOf(q));
        if (q.lastError().isValid())
            fail(q);
    });
    return events;
}

qint64 HistoryDb::eventCount()
{
    qint64 count = 0;
    retrying([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM History")) || !q.next())
            fail(q);
        count = q.value(0).toLongLong();
    });
    return count;
}

void HistoryDb::forEachEvent(const QString& id, qint64 from, qint64 to, int batchSize,
    const std::function<bool(std::span<const ChistoryRec>)>& sink)
{
    QStringList ids;
    if (id.isEmpty()) {
        retrying([&](QSqlDatabase& db) {
            ids.clear();
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (!q.exec(QStringLiteral("SELECT DISTINCT hPagerID FROM History ORDER BY hPagerID")))
                fail(q);
            while (q.next())
                ids.append(textField(q.value(0)));
            if (q.lastError().isValid())
                fail(q);
        });
    } else {
        ids.append(id);
    }
    const size_t limit = static_cast<size_t>(std::max(1, batchSize));
    std::vector<ChistoryRec> batch;
    batch.reserve(limit);
    // Once a batch went to the sink, a failure can no longer be run again from the start.
    bool handed = false;
    for (const QString& pager : ids) {
        bool stopped = false;
        const auto scan = [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            // Forward-only: the driver steps the statement row by row and keeps no copy of the
            // rows already read.
            q.setForwardOnly(true);
            if (!q.prepare(QStringLiteral("SELECT %1 FROM History WHERE hPagerID = ? AND hDateTime >= ? AND "
                                          "hDateTime < ? ORDER BY hDateTime")
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
                    handed = true;
                    if (!sink(batch)) {
                        stopped = true;
                        return;
                    }
                    batch.clear();
                }
            }
            if (q.lastError().isValid())
                fail(q);
        };
        if (handed) {
            QSqlDatabase db = connection();
            scan(db);
        } else {
            const size_t kept = batch.size();
            retrying([&](QSqlDatabase& db) {
                batch.resize(kept);
                scan(db);
            });
        }
        if (stopped)
            return;
    }
    if (!batch.empty())
        sink(batch);
}
