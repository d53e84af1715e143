#include "history/historyrange.h"

#include "history/historydb.h"
#include "history/historyrec.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace {

// A request that would make more buckets than this is refused before anything is allocated.
constexpr qint64 MaxBuckets = 1000000;

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

const char* statement()
{
    // Integer division of whole seconds is the same in every engine the program uses; rows
    // before the span's start are excluded, so truncation is the floor. MIN, MAX and SUM skip
    // the NULL that the CASE gives an event without a value. Grouping by type as well lets the
    // quantities be told apart; the rows are few (buckets times types).
    return "SELECT (hDateTime - ?) / ? AS bucket, hType, "
           "MIN(CASE WHEN hValue >= 0 THEN hValue END), "
           "MAX(CASE WHEN hValue >= 0 THEN hValue END), "
           "SUM(CASE WHEN hValue >= 0 THEN hValue END), "
           "COUNT(CASE WHEN hValue >= 0 THEN 1 END), "
           "SUM(CASE WHEN (hAlarm & ?) <> 0 THEN 1 ELSE 0 END), "
           "COUNT(*) "
           "FROM History WHERE hPagerID = ? AND hDateTime >= ? AND hDateTime < ? "
           "GROUP BY bucket, hType ORDER BY bucket, hType";
}

} // namespace HistoryRange

RangeSummary HistoryDb::rangeSummary(const RangeRequest& request)
{
    if (request.bucketSeconds <= 0 || request.to <= request.from)
        throw std::invalid_argument("empty span or bucket width");
    if (request.bucketCount() > MaxBuckets)
        throw std::invalid_argument("too many buckets for one span");

    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.prepare(QString::fromLatin1(HistoryRange::statement())))
        throw DbError(q.lastError().text());
    q.addBindValue(request.from);
    q.addBindValue(request.bucketSeconds);
    q.addBindValue(AlarmTextBits);
    q.addBindValue(request.pagerId);
    q.addBindValue(request.from);
    q.addBindValue(request.to);
    if (!q.exec())
        throw DbError(q.lastError().text());

    RangeSummary summary;
    summary.request = request;
    // Per quantity, the bucket being gathered: the types of one quantity come as rows of their
    // own, and their sums add up before the mean is taken.
    std::array<double, DoseQuantityCount> sums {};
    auto close = [&](size_t q) {
        auto& series = summary.series[q];
        if (!series.empty() && series.back().count > 0)
            series.back().mean = sums[q] / double(series.back().count);
        sums[q] = 0;
    };
    while (q.next()) {
        const qint64 bucket = q.value(0).toLongLong();
        const qint64 alarms = q.value(6).toLongLong();
        summary.events += q.value(7).toLongLong();
        if (alarms > 0) {
            if (!summary.alarms.empty() && summary.alarms.back().first == bucket)
                summary.alarms.back().second += alarms;
            else
                summary.alarms.emplace_back(bucket, alarms);
        }
        const qint64 count = q.value(5).toLongLong();
        const auto quantity = quantityOfType(q.value(1).toInt());
        if (!quantity || count == 0)
            continue;
        const size_t i = static_cast<size_t>(*quantity);
        const double min = q.value(2).toDouble();
        const double max = q.value(3).toDouble();
        auto& series = summary.series[i];
        if (series.empty() || series.back().index != bucket) {
            close(i);
            series.push_back({ bucket, min, max, 0, 0 });
        } else {
            series.back().min = std::min(series.back().min, min);
            series.back().max = std::max(series.back().max, max);
        }
        series.back().count += count;
        sums[i] += q.value(4).toDouble();
    }
    if (q.lastError().isValid())
        throw DbError(q.lastError().text());
    for (size_t i = 0; i < summary.series.size(); ++i)
        close(i);
    return summary;
}
