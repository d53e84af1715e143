#include "history/historyrange.h"

#include "history/historydb.h"
#include "history/historyrec.h"

#include <QByteArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <stdexcept>

namespace {

// A request that would make more buckets than this is refused before anything is allocated.
constexpr qint64 MaxBuckets = 1000000;
// Times beyond this (some hundred million years) are refused, so that no sum of times and
// widths in the statement can overflow.
constexpr qint64 MaxTime = qint64(1) << 52;

constexpr qint64 RoundWidths[]
    = { 60, 300, 600, 900, 1800, 3600, 2 * 3600, 3 * 3600, 6 * 3600, 12 * 3600, 86400, 2 * 86400, 7 * 86400 };

// The bits that give an event an alarm text; the store's own "hAlarm > 0" would also count a
// search-mode mark, which the lists and the tree do not.
constexpr qint32 AlarmTextBits = ChistoryRec::DetectorError | ChistoryRec::DoseThreshold | ChistoryRec::DoseOverload
    | ChistoryRec::BetaDanger | ChistoryRec::GammaDanger | ChistoryRec::BetaWarning | ChistoryRec::GammaWarning;

} // namespace

qint64 RangeRequest::bucketCount() const
{
    if (to <= from || bucketSeconds <= 0)
        return 0;
    return (to - from + bucketSeconds - 1) / bucketSeconds;
}

namespace HistoryRange {

qint64 bucketWidthFor(qint64 spanSeconds, int maxBuckets)
{
    const qint64 limit = std::max(1, maxBuckets);
    for (const qint64 width : RoundWidths) {
        if ((spanSeconds + width - 1) / width <= limit)
            return width;
    }
    // Longer than the list reaches: whole weeks.
    const qint64 week = RoundWidths[std::size(RoundWidths) - 1];
    const qint64 weeks = (spanSeconds + week * limit - 1) / (week * limit);
    return std::max<qint64>(1, weeks) * week;
}

} // namespace HistoryRange

namespace {

// The statement with its values named: {P} the instrument, {F} the span's start, {T} its end,
// {W} the bucket width, {M} the alarm bits. They are bound in the order they appear.
//
// A plain GROUP BY over the bucket number makes the engine sort every event of the span (the
// index gives them by time, but not the engine the order of an expression on it). So each
// bucket is led instead by one event of its own, reached through the index:
// - b walks the buckets that hold events, one index seek each (the first event at or after the
//   next bucket's start);
// - c finds in each the first second with an event whose key has no empty column, and the outer
//   query takes, at that second, the lowest such event: exactly one per bucket, since the index
//   is unique over keys without empty columns;
// - the lead events come out of the index in time order and each bucket's events are an index
//   range after its own lead, so grouping by the lead's time needs no sort;
// - the quantities are told apart by FILTER rather than grouping by type, which would sort
//   again; the type lists are those of quantityOfType, in the order of DoseQuantity;
// - a bucket whose every event has an empty key column (only a damaged or foreign store holds
//   such rows) has no lead; the second part sums those buckets the ordinary way.
// Integer division of whole seconds is the same in every engine the program uses; rows before
// the span's start are excluded, so truncation is the floor.
#define RANGE_VALUES(h, types)                                                                                         \
    "MIN(" h ".hValue) FILTER (WHERE " types " AND " h ".hValue >= 0), "                                               \
    "MAX(" h ".hValue) FILTER (WHERE " types " AND " h ".hValue >= 0), "                                               \
    "SUM(" h ".hValue) FILTER (WHERE " types " AND " h ".hValue >= 0), "                                               \
    "COUNT(*) FILTER (WHERE " types " AND " h ".hValue >= 0), "
#define RANGE_AGGREGATES                                                                                               \
    RANGE_VALUES("h", "h.hType = 3")                                                                                   \
    RANGE_VALUES("h", "h.hType = 5")                                                                                   \
    RANGE_VALUES("h", "h.hType BETWEEN 4 AND 8 AND h.hType <> 5")                                                      \
    "COUNT(*) FILTER (WHERE (h.hAlarm & {M}) <> 0), COUNT(*) "
#define RANGE_FULL_KEY(o) o ".hType IS NOT NULL AND " o ".hAlarm IS NOT NULL AND " o ".hValue IS NOT NULL"
#define RANGE_BUCKET_END(t) "{F} + (" t " - {F}) / {W} * {W} + {W}"

constexpr const char* NamedStatement
    = "WITH RECURSIVE b(t) AS ("
      "SELECT MIN(hDateTime) FROM History WHERE hPagerID = {P} AND hDateTime >= {F} AND hDateTime < {T} "
      "UNION ALL "
      "SELECT (SELECT MIN(n.hDateTime) FROM History n WHERE n.hPagerID = {P} "
      "AND n.hDateTime >= " RANGE_BUCKET_END(
          "b.t") " AND n.hDateTime < {T}) "
                 "FROM b WHERE b.t IS NOT NULL), "
                 "c(t, head) AS (SELECT t, (SELECT MIN(o.hDateTime) FROM History o WHERE o.hPagerID = {P} "
                 "AND o.hDateTime >= b.t AND o.hDateTime < " RANGE_BUCKET_END(
                     "b.t") " AND o.hDateTime < {T} "
                            "AND " RANGE_FULL_KEY(
                                "o") ") FROM b WHERE b.t IS NOT NULL) "
                                     "SELECT (s.hDateTime - {F}) / {W}, " RANGE_AGGREGATES
                                     "FROM History s CROSS JOIN History h "
                                     "WHERE s.hPagerID = {P} AND s.hDateTime IN (SELECT head FROM c) "
                                     "AND " RANGE_FULL_KEY(
                                         "s") " "
                                              "AND NOT EXISTS (SELECT 1 FROM History o WHERE o.hPagerID = s.hPagerID "
                                              "AND o.hDateTime = s.hDateTime "
                                              "AND " RANGE_FULL_KEY(
                                                  "o") " AND (o.hType < s.hType OR (o.hType = s.hType "
                                                       "AND (o.hAlarm < s.hAlarm OR (o.hAlarm = s.hAlarm AND o.hValue "
                                                       "< s.hValue))))) "
                                                       "AND h.hPagerID = s.hPagerID AND h.hDateTime >= {F} + "
                                                       "(s.hDateTime - {F}) / {W} * {W} "
                                                       "AND h.hDateTime < " RANGE_BUCKET_END(
                                                           "s.hDateTime") " AND h.hDateTime < {T} "
                                                                          "GROUP BY s.hDateTime "
                                                                          "UNION ALL "
                                                                          "SELECT (c.t - {F}) / {W}, " RANGE_AGGREGATES
                                                                          "FROM c CROSS JOIN History h "
                                                                          "WHERE c.head IS NULL AND h.hPagerID = {P} "
                                                                          "AND h.hDateTime >= c.t "
                                                                          "AND h.hDateTime < " RANGE_BUCKET_END(
                                                                              "c.t") " AND h.hDateTime < {T} "
                                                                                     "GROUP BY c.t";

#undef RANGE_VALUES
#undef RANGE_AGGREGATES
#undef RANGE_FULL_KEY
#undef RANGE_BUCKET_END

// The statement with "?" for each named value, and the names in binding order.
struct Prepared {
    QByteArray text;
    QByteArray names;
};

const Prepared& prepared()
{
    static const Prepared p = [] {
        Prepared r;
        for (const char* c = NamedStatement; *c; ++c) {
            if (c[0] == '{' && c[1] && c[2] == '}') {
                r.text += '?';
                r.names += c[1];
                c += 2;
            } else {
                r.text += *c;
            }
        }
        return r;
    }();
    return p;
}

// Columns of a row: the bucket, then minimum, maximum, sum and count per quantity, then the
// alarm events and all events.
constexpr int ValueColumns = 4;
constexpr int AlarmColumn = 1 + ValueColumns * DoseQuantityCount;
constexpr int EventColumn = AlarmColumn + 1;

} // namespace

namespace HistoryRange {

const char* statement()
{
    return prepared().text.constData();
}

} // namespace HistoryRange

RangeSummary HistoryDb::rangeSummary(const RangeRequest& request)
{
    if (request.bucketSeconds <= 0 || request.to <= request.from)
        throw std::invalid_argument("empty span or bucket width");
    if (request.bucketCount() > MaxBuckets)
        throw std::invalid_argument("too many buckets for one span");
    // The statement adds bucket widths to times; within these bounds no sum can overflow.
    if (std::max(std::abs(request.from), std::abs(request.to)) > MaxTime)
        throw std::invalid_argument("span outside the times a store can hold");

    RangeSummary summary;
    retrying([&](QSqlDatabase& db) {
        summary = RangeSummary();
        QSqlQuery q(db);
        q.setForwardOnly(true);
        const QByteArray& names = prepared().names;
        if (!q.prepare(QString::fromLatin1(HistoryRange::statement())))
            throw DbError(q.lastError());
        // A bucket wider than the span holds all of it, as one of exactly the span's width does;
        // the narrower width keeps the sums small.
        const qint64 width = std::min(request.bucketSeconds, request.to - request.from);
        for (const char name : names) {
            switch (name) {
            case 'P':
                q.addBindValue(request.pagerId);
                break;
            case 'F':
                q.addBindValue(request.from);
                break;
            case 'T':
                q.addBindValue(request.to);
                break;
            case 'W':
                q.addBindValue(width);
                break;
            case 'M':
                q.addBindValue(AlarmTextBits);
                break;
            default:
                throw std::logic_error("unknown value in the range statement");
            }
        }
        if (!q.exec())
            throw DbError(q.lastError());

        // One row per bucket that holds events, the buckets with a lead event first, in time
        // order, then those without one; each list is put in order at the end.
        summary.request = request;
        while (q.next()) {
            const qint64 bucket = q.value(0).toLongLong();
            summary.events += q.value(EventColumn).toLongLong();
            const qint64 alarms = q.value(AlarmColumn).toLongLong();
            if (alarms > 0)
                summary.alarms.emplace_back(bucket, alarms);
            for (size_t i = 0; i < summary.series.size(); ++i) {
                const int column = 1 + ValueColumns * int(i);
                const qint64 count = q.value(column + 3).toLongLong();
                if (count <= 0)
                    continue;
                const double min = q.value(column).toDouble();
                const double max = q.value(column + 1).toDouble();
                const double mean = q.value(column + 2).toDouble() / double(count);
                summary.series[i].push_back({ bucket, min, max, mean, count });
            }
        }
        if (q.lastError().isValid())
            throw DbError(q.lastError());
    });
    auto byIndex = [](const RangeBucket& a, const RangeBucket& b) { return a.index < b.index; };
    for (auto& series : summary.series) {
        if (!std::is_sorted(series.begin(), series.end(), byIndex))
            std::sort(series.begin(), series.end(), byIndex);
    }
    if (!std::is_sorted(summary.alarms.begin(), summary.alarms.end()))
        std::sort(summary.alarms.begin(), summary.alarms.end());
    return summary;
}
