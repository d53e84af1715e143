#include "history/storemigration.h"

#include "history/historydb.h"
#include "history/historyrec.h"
#include "history/historytext.h"
#include "history/localtime.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>

#include <bit>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

[[noreturn]] void fail(const QSqlQuery& query)
{
    throw DbError(query.lastError());
}

// The integer columns as the program reads them: numbers as they are, texts by the C rule.
qint32 intField(const QVariant& value)
{
    if (value.isNull())
        return 0;
    const int type = value.typeId();
    if (type == QMetaType::LongLong || type == QMetaType::Int)
        return static_cast<qint32>(value.toLongLong());
    return std::atoi(value.toString().toLatin1().constData());
}

// Rows the copy can move: the columns of the uniqueness rule all have a value.
constexpr const char* movable
    = "hDateTime IS NOT NULL AND hType IS NOT NULL AND hAlarm IS NOT NULL AND hValue IS NOT NULL";
constexpr const char* columns = "hID, hType, hAlarm, hValue, hValue2, hPrecision, hVariation, hComment, hPagerID, "
                                "hDateTime";
// The order of the uniqueness rule within one instrument: a key for reading in batches.
constexpr const char* order = "hDateTime, hType, hAlarm, hValue";

ChistoryRec recordOf(const QSqlQuery& q)
{
    ChistoryRec r;
    r.hID = q.value(0).toString();
    r.hType = intField(q.value(1));
    r.hAlarm = intField(q.value(2));
    r.hValue = q.value(3).toDouble();
    r.hValue2 = q.value(4).isNull() ? 0.0 : q.value(4).toDouble();
    r.hPrecision = intField(q.value(5));
    r.hVariation = intField(q.value(6));
    // A missing comment reads as a blank, and that is what a copy stores.
    r.hComment = q.value(7).isNull() ? QStringLiteral(" ") : q.value(7).toString();
    r.hPagerID = q.value(8).toString();
    r.hDateTime = q.value(9).toLongLong();
    return r;
}

// The mended texts of the store's rule (historytext.h), on both sides of a comparison.
ChistoryRec mendedRecordOf(const QSqlQuery& q, int* mended)
{
    ChistoryRec r = recordOf(q);
    if (HistoryText::mendRecord(r) > 0)
        ++*mended;
    return r;
}

// Reads the movable events of one day in batches, in the order of the uniqueness rule: each
// batch starts after the last event of the one before.
class DayBatches {
public:
    DayBatches(const QSqlDatabase& db, const StoreDay& day)
        : m_first(db)
        , m_next(db)
        , m_day(day)
    {
        const QString select = QStringLiteral("SELECT %1 FROM History WHERE hPagerID = ? AND hDate = ? AND %2 %3 "
                                              "ORDER BY %4 LIMIT %5");
        const QString limit = QString::number(StoreReader::BatchSize);
        m_first.setForwardOnly(true);
        m_next.setForwardOnly(true);
        if (!m_first.prepare(
                select.arg(QLatin1String(columns), QLatin1String(movable), QString(), QLatin1String(order), limit)))
            fail(m_first);
        if (!m_next.prepare(select.arg(QLatin1String(columns), QLatin1String(movable),
                QStringLiteral("AND (%1) > (?, ?, ?, ?)").arg(QLatin1String(order)), QLatin1String(order), limit)))
            fail(m_next);
    }

    // The next batch; empty at the end.
    const std::vector<ChistoryRec>& next()
    {
        m_batch.clear();
        if (m_done)
            return m_batch;
        QSqlQuery& q = m_started ? m_next : m_first;
        q.bindValue(0, m_day.pagerId);
        q.bindValue(1, m_day.date);
        if (m_started) {
            const ChistoryRec& last = m_last;
            q.bindValue(2, last.hDateTime);
            q.bindValue(3, last.hType);
            q.bindValue(4, last.hAlarm);
            q.bindValue(5, last.hValue);
        }
        if (!q.exec())
            fail(q);
        m_batch.reserve(StoreReader::BatchSize);
        m_mended = 0;
        m_firstMended.reset();
        while (q.next()) {
            const int before = m_mended;
            m_batch.push_back(mendedRecordOf(q, &m_mended));
            if (m_mended != before && !m_firstMended)
                m_firstMended = m_batch.back();
        }
        if (q.lastError().isValid())
            fail(q);
        q.finish();
        m_started = true;
        m_done = m_batch.size() < static_cast<std::size_t>(StoreReader::BatchSize);
        if (!m_batch.empty())
            m_last = m_batch.back();
        return m_batch;
    }
    // Events of the last batch whose texts were mended, and the first of them.
    int mended() const { return m_mended; }
    const std::optional<ChistoryRec>& firstMended() const { return m_firstMended; }

private:
    QSqlQuery m_first;
    QSqlQuery m_next;
    StoreDay m_day;
    std::vector<ChistoryRec> m_batch;
    ChistoryRec m_last;
    bool m_started = false;
    bool m_done = false;
    int m_mended = 0;
    std::optional<ChistoryRec> m_firstMended;
};

void addNumber(QCryptographicHash& hash, quint64 value)
{
    const quint64 le = qToLittleEndian(value);
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(&le), sizeof le));
}

void addText(QCryptographicHash& hash, const QString& text)
{
    addNumber(hash, static_cast<quint64>(text.size()));
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
}

// Every field the program reads of an event, doubles by their exact bits.
void addRecord(QCryptographicHash& hash, const ChistoryRec& r)
{
    addText(hash, r.hPagerID);
    addNumber(hash, static_cast<quint64>(r.hDateTime));
    addNumber(hash, static_cast<quint32>(r.hType));
    addNumber(hash, static_cast<quint32>(r.hAlarm));
    addNumber(hash, std::bit_cast<quint64>(r.hValue));
    addNumber(hash, std::bit_cast<quint64>(r.hValue2));
    addNumber(hash, static_cast<quint32>(r.hPrecision));
    addNumber(hash, static_cast<quint32>(r.hVariation));
    addText(hash, r.hComment);
    addText(hash, r.hID);
}

} // namespace

QString StoreDay::dateText() const
{
    if (const auto t = LocalTime::fromAutomation(date))
        return LocalTime::format(*t, "%Y-%m-%d");
    return QString::number(date, 'g', 17);
}

namespace StoreReader {

std::map<StoreDay, qint64> dayCounts(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT hPagerID, hDate, count(*) FROM History GROUP BY hPagerID, hDate")))
        fail(q);
    std::map<StoreDay, qint64> days;
    while (q.next())
        days[StoreDay { q.value(0).toString(), q.value(1).toDouble() }] += q.value(2).toLongLong();
    if (q.lastError().isValid())
        fail(q);
    return days;
}

std::optional<StoreDay> otherZoneDay(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT hPagerID, hDate, min(hDateTime), max(hDateTime) FROM History WHERE hDateTime "
                               "IS NOT NULL GROUP BY hPagerID, hDate")))
        fail(q);
    // A shift of the zone moves the latest event of a day past its midnight first (or the
    // earliest before it): the two ends of each day tell.
    while (q.next()) {
        const StoreDay day { q.value(0).toString(), q.value(1).toDouble() };
        for (const int column : { 2, 3 }) {
            const auto local = LocalTime::toAutomation(q.value(column).toLongLong());
            if (!local || local->first != day.date)
                return day;
        }
    }
    if (q.lastError().isValid())
        fail(q);
    return std::nullopt;
}

DayDigest digest(const QSqlDatabase& db, const StoreDay& day)
{
    DayDigest d;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    DayBatches batches(db, day);
    for (;;) {
        const std::vector<ChistoryRec>& batch = batches.next();
        if (batch.empty())
            break;
        for (const ChistoryRec& r : batch)
            addRecord(hash, r);
        d.count += static_cast<qint64>(batch.size());
    }
    d.checksum = hash.result();
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("SELECT count(*) FROM History WHERE hPagerID = ? AND hDate = ? AND NOT (%1)")
                       .arg(QLatin1String(movable))))
        fail(q);
    q.addBindValue(day.pagerId);
    q.addBindValue(day.date);
    if (!q.exec() || !q.next())
        fail(q);
    d.unmovable = q.value(0).toLongLong();
    d.count += d.unmovable;
    return d;
}

std::map<QString, QVariant> names(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT pID, pName FROM Pagers")))
        fail(q);
    std::map<QString, QVariant> result;
    while (q.next()) {
        const QVariant name = q.value(1);
        result[q.value(0).toString()] = name.isNull() ? QVariant() : QVariant(name.toString());
    }
    if (q.lastError().isValid())
        fail(q);
    return result;
}

bool isEventStore(const QSqlDatabase& db, QString* error)
{
    QSqlQuery q(db);
    // Reading nothing is enough: the statements fail on a missing table or column.
    if (!q.exec(QStringLiteral("SELECT %1, hDate FROM History WHERE 1 = 0").arg(QLatin1String(columns)))
        || !q.exec(QStringLiteral("SELECT pID, pName FROM Pagers WHERE 1 = 0"))) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

} // namespace StoreReader

StoreMigration::StoreMigration(const QSqlDatabase& source, HistoryDb& target, Progress progress)
    : m_source(source)
    , m_target(target)
    , m_progress(std::move(progress))
{
}

bool StoreMigration::run(QString* error)
{
    m_mismatches = 0;
    error->clear();
    try {
        const std::map<StoreDay, qint64> days = StoreReader::dayCounts(m_source);
        Step survey;
        survey.days = static_cast<qsizetype>(days.size());
        for (const auto& [day, count] : days)
            survey.events += count;
        m_progress(survey);

        // Before the first write: a refused run has copied nothing at all.
        if (const std::optional<StoreDay> other = StoreReader::otherZoneDay(m_source)) {
            *error = QCoreApplication::translate("StoreMigration",
                "the events of %1 on %2 were dated in another time zone than this one (TZ); nothing was copied. "
                "Run the migration in the time zone of the stations")
                         .arg(other->pagerId, other->dateText());
            return false;
        }

        if (!copyNames(error))
            return false;

        const std::map<StoreDay, qint64> present = StoreReader::dayCounts(m_target.connection());
        std::set<StoreDay> reported;
        qsizetype index = 0;
        for (const auto& [day, count] : days) {
            ++index;
            const auto there = present.find(day);
            // A day that agrees already is left alone: a resumed run goes straight past it.
            Step step = compareDay(day, count, there == present.end() ? 0 : there->second);
            if (step.kind != Step::Kind::DayPresent) {
                qint64 copied = 0;
                if (!copyDay(day, &copied, error))
                    return false;
                step = compareDay(day, count, -1);
                step.copied = copied;
                if (step.kind == Step::Kind::DayPresent)
                    step.kind = Step::Kind::DayCopied;
            }
            step.index = index;
            step.days = survey.days;
            if (step.kind == Step::Kind::DayMismatch) {
                ++m_mismatches;
                reported.insert(day);
            }
            m_progress(step);
        }
        closingCount(reported);
    } catch (const DbError& e) {
        *error = QString::fromUtf8(e.what());
        return false;
    }
    return m_mismatches == 0;
}

void StoreMigration::closingCount(const std::set<StoreDay>& reported)
{
    const std::map<StoreDay, qint64> source = StoreReader::dayCounts(m_source);
    const std::map<StoreDay, qint64> target = StoreReader::dayCounts(m_target.connection());
    Step finished;
    finished.kind = Step::Kind::Finished;
    finished.days = static_cast<qsizetype>(source.size());
    for (const auto& [day, count] : source) {
        const auto there = target.find(day);
        const qint64 targetCount = there == target.end() ? 0 : there->second;
        finished.events += count;
        finished.targetEvents += targetCount;
        if (targetCount != count && !reported.count(day)) {
            Step late;
            late.kind = Step::Kind::DayMismatch;
            late.reason = Step::Reason::Changed;
            late.day = day;
            late.events = count;
            late.targetEvents = targetCount;
            ++m_mismatches;
            m_progress(late);
        }
    }
    for (const auto& [day, count] : target)
        finished.extraDays += source.count(day) ? 0 : 1;
    // Names last: a name given meanwhile is a change like an event.
    const std::map<QString, QVariant> sourceNames = StoreReader::names(m_source);
    const std::map<QString, QVariant> targetNames = StoreReader::names(m_target.connection());
    for (const auto& entry : sourceNames) {
        const QString& id = entry.first;
        // A name the target holds otherwise was kept on purpose and reported at the start.
        if (!targetNames.count(id)) {
            Step wrong;
            wrong.kind = Step::Kind::DayMismatch;
            wrong.reason = Step::Reason::Name;
            wrong.day.pagerId = id;
            ++m_mismatches;
            m_progress(wrong);
        }
    }
    finished.mismatches = m_mismatches;
    m_progress(finished);
}

bool StoreMigration::copyNames(QString* error)
{
    const std::map<QString, QVariant> names = StoreReader::names(m_source);
    const std::map<QString, QVariant> present = StoreReader::names(m_target.connection());
    QSqlDatabase db = m_target.connection();
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    // Only names the target lacks: a name given there (a rename on the server) is not
    // reverted by a later run.
    QSqlQuery insert(db);
    QString failure = insert.prepare(QStringLiteral("INSERT INTO Pagers (pID, pName) VALUES (?, ?) ON CONFLICT (pID) "
                                                    "DO NOTHING"))
        ? QString()
        : insert.lastError().text();
    qint64 added = 0;
    std::vector<Step> kept;
    for (auto it = names.begin(); failure.isEmpty() && it != names.end(); ++it) {
        const auto there = present.find(it->first);
        if (there != present.end()) {
            if (there->second != it->second) {
                Step step;
                step.kind = Step::Kind::NameKept;
                step.day.pagerId = it->first;
                step.detail = QStringLiteral("\"%1\" in TO, \"%2\" in FROM")
                                  .arg(there->second.toString(), it->second.toString());
                kept.push_back(step);
            }
            continue;
        }
        // A null name stays null: the program shows the identifier for it.
        const QVariant name = it->second.isNull() ? QVariant(QMetaType(QMetaType::QString)) : it->second;
        insert.bindValue(0, it->first);
        insert.bindValue(1, name);
        if (!insert.exec())
            failure = insert.lastError().text();
        else
            added += insert.numRowsAffected();
    }
    insert.finish();
    if (failure.isEmpty() && !db.commit())
        failure = db.lastError().text();
    if (!failure.isEmpty()) {
        db.rollback();
        *error = failure;
        return false;
    }
    Step step;
    step.kind = Step::Kind::Names;
    step.copied = added;
    m_progress(step);
    for (const Step& k : kept)
        m_progress(k);
    return true;
}

bool StoreMigration::copyDay(const StoreDay& day, qint64* copied, QString* error)
{
    *copied = 0;
    DayBatches batches(m_source, day);
    for (;;) {
        const std::vector<ChistoryRec>& batch = batches.next();
        if (batch.empty())
            return true;
        // The target dates each event anew in this process's time zone. A store written in
        // another zone would have its events moved to other days: better not to start.
        for (const ChistoryRec& r : batch) {
            const auto local = LocalTime::toAutomation(r.hDateTime);
            if (!local || local->first != day.date) {
                *error = QCoreApplication::translate("StoreMigration",
                    "the events of %1 on %2 were dated in another time zone than this one (TZ); nothing of them was "
                    "copied. Run the migration in the time zone of the stations")
                             .arg(day.pagerId, day.dateText());
                return false;
            }
        }
        if (batches.mended() > 0) {
            Step step;
            step.kind = Step::Kind::TextMended;
            step.day = day;
            step.copied = batches.mended();
            step.detail = HistoryText::recordName(*batches.firstMended());
            m_progress(step);
        }
        int added = 0;
        if (!m_target.insertEvents(batch, &added, error))
            return false;
        *copied += added;
    }
}

StoreMigration::Step StoreMigration::compareDay(const StoreDay& day, qint64 sourceCount, qint64 targetCount)
{
    Step step;
    step.kind = Step::Kind::DayMismatch;
    step.day = day;
    step.events = sourceCount;
    // A count that differs needs no checksum to tell.
    if (targetCount >= 0 && targetCount != sourceCount) {
        step.targetEvents = targetCount;
        step.reason = Step::Reason::Counts;
        return step;
    }
    const StoreReader::DayDigest source = StoreReader::digest(m_source, day);
    const StoreReader::DayDigest target = StoreReader::digest(m_target.connection(), day);
    step.events = source.count;
    step.targetEvents = target.count;
    step.unmovable = source.unmovable;
    if (source.unmovable > 0)
        step.reason = Step::Reason::Unmovable;
    else if (source.count != target.count)
        step.reason = Step::Reason::Counts;
    else if (source.checksum != target.checksum)
        step.reason = Step::Reason::Checksums;
    else
        step.kind = Step::Kind::DayPresent;
    return step;
}
