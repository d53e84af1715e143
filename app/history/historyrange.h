#pragma once

#include "history/dosequantity.h"

#include <QString>

#include <array>
#include <vector>

// One instrument's values over a span, summarised per time bucket by the store itself, so
// that a year is drawn without its events being loaded.
//
// Buckets are fixed lengths of time counted from the span's start (bucket k holds the events
// from + k * width <= time < from + (k + 1) * width). They follow the clock, not the calendar:
// a day-wide bucket that crosses a daylight-saving change still holds 24 hours of events.
struct RangeRequest {
    QString pagerId;
    qint64 from = 0; // seconds since 1970, inclusive
    qint64 to = 0; // exclusive
    qint64 bucketSeconds = 3600;

    // Number of buckets that cover the span (the last one may reach past its end).
    qint64 bucketCount() const;
};

struct RangeBucket {
    qint64 index = 0; // from + index * width is the bucket's start
    double min = 0;
    double max = 0;
    double mean = 0;
    qint64 count = 0; // events with a value in the bucket
};

struct RangeSummary {
    RangeRequest request;
    // Per quantity, the buckets that hold at least one value, in time order. Values are as
    // stored (dose rate in instrument units); events without a value (negative) take no part.
    std::array<std::vector<RangeBucket>, DoseQuantityCount> series;
    // Alarm events (those with an alarm text) per bucket index, in time order, of any type.
    std::vector<std::pair<qint64, qint64>> alarms;
    qint64 events = 0; // every event of the span, with or without a value

    const std::vector<RangeBucket>& of(DoseQuantity q) const { return series[static_cast<size_t>(q)]; }
};

namespace HistoryRange {

// A bucket width from a fixed list of round lengths (a minute up to a week), the shortest that
// gives the span no more than maxBuckets buckets.
qint64 bucketWidthFor(qint64 spanSeconds, int maxBuckets = 400);

// The statement the store runs; portable SQL (a recursive walk over the buckets, integer
// division on the exact-time column, aggregates with FILTER), with the instrument, the span,
// the width and the alarm bits as bound values. Its plan reads each bucket as one index range
// and groups without sorting.
const char* statement();

} // namespace HistoryRange
