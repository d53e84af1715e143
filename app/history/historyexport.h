#pragma once

#include "history/historyrec.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>
#include <span>

class HistoryDb;
class QIODevice;

// Events as text for other programs: CSV (RFC 4180: comma separated, CRLF line ends, fields
// with commas, quotes or line breaks quoted, a header row) and JSON Lines (one object per line),
// both UTF-8 with the same fields:
//
//   time        local time in ISO 8601 with its UTC offset, 2026-03-29T03:00:00+02:00
//   instrument  the instrument's identifier
//   type_code   the event type code; type its text
//   value       the main value in the unit named by unit: gamma dose rate in µSv/h (or µR/h
//               when the instrument counts in roentgens), beta flux in 1/(min*cm²), count
//               rates in cps; empty (null) when the event carries no value
//   precision   statistical precision in percent; empty (null) when none
//   alarm_code  the alarm bits; alarm the alarm text
//   comment     the comment as stored, line breaks kept
//
// Numbers are written in the C locale with the fewest digits that read back exactly. A text
// field that a spreadsheet would take for a formula starts with ' (see spreadsheetText).
namespace HistoryExport {

// A spreadsheet runs a field that starts with =, +, - or @ as a formula, so a comment could
// run one on the reader's computer. Such a text gets a leading ' (the spreadsheet's mark of
// text); a plain number ("-12.5") stays as it is. For CSV and the tab-separated text.
QString spreadsheetText(const QString& text);
QByteArray spreadsheetText(const QByteArray& utf8);

enum class Format { Csv, JsonLines };

// "csv", "json" or "jsonl" (any case); nothing for another name.
std::optional<Format> formatNamed(const QString& name);

// "2026-03-29T03:00:00+02:00"; with seconds in the offset when the zone's offset has them.
// Empty when the moment has no local time.
QString isoLocalTime(qint64 seconds);

// The value of an event in the unit the export states, or nothing (no value, a negative or
// non-finite number, a type without a unit).
std::optional<double> valueInUnit(const ChistoryRec& record, bool unitsRoentgen);
QString unitOf(qint32 type, bool unitsRoentgen);

// Writes events to a device, buffered; the CSV header goes out before the first event (also
// for none at all, once finish() is called).
class Writer {
public:
    Writer(QIODevice& out, Format format, bool unitsRoentgen);

    bool write(const ChistoryRec& record);
    bool write(std::span<const ChistoryRec> records);
    // Flushes what is buffered. False when the device refused bytes (see errorString()).
    bool finish();

    qint64 count() const { return m_count; }
    QString errorString() const { return m_error; }

    // The text of one event with its line end, and of the header (empty for JSON Lines).
    static QByteArray line(const ChistoryRec& record, Format format, bool unitsRoentgen);
    static QByteArray header(Format format);

private:
    bool flush();
    void append(const ChistoryRec& record);
    const QByteArray& typeText(qint32 type);
    const QByteArray& alarmText(qint32 alarm);

    QIODevice& m_out;
    Format m_format;
    bool m_roentgen;
    bool m_headerDone = false;
    qint64 m_count = 0;
    QByteArray m_buffer;
    QString m_error;
    // Translated texts of the codes met so far, in UTF-8.
    QHash<qint32, QByteArray> m_typeTexts;
    QHash<qint32, QByteArray> m_alarmTexts;
};

// What to export: one instrument (all of them when empty) from one moment up to, not
// including, another; alarmsOnly keeps the events with an alarm text.
struct Span {
    QString instrument;
    qint64 from = 0;
    qint64 to = 0;
    bool alarmsOnly = false;
};

// The moments of local midnight of the first day and of the day after the last one of a span
// of dates ("YYYY-MM-DD" or "DD-MM-YYYY"); nothing when a date is no date or to is before from.
std::optional<std::pair<qint64, qint64>> daySpan(const QString& fromDate, const QString& toDate);

// Streams the span from the store into path ("-": the standard output) in batches, never
// holding more than one batch. A file is written whole or not at all. Returns false with the
// reason in *error; *count receives the number of events written.
bool exportSpan(HistoryDb& db, const Span& span, Format format, bool unitsRoentgen, const QString& path,
    qint64* count = nullptr, QString* error = nullptr);

// Writes what produce hands the writer into path ("-": the standard output). produce returns
// false with a reason in its second argument to fail the export (a false return without a
// reason is a write failure the writer already knows). A file is written whole or not at all.
using Producer = std::function<bool(Writer&, QString*)>;
bool exportWith(const QString& path, Format format, bool unitsRoentgen, const Producer& produce,
    qint64* count = nullptr, QString* error = nullptr);

// Writes the given events (a day the window shows) in their order.
bool exportRecords(std::span<const ChistoryRec> records, Format format, bool unitsRoentgen, const QString& path,
    QString* error = nullptr);

} // namespace HistoryExport
