#include "history/historyexport.h"

#include "history/historydb.h"
#include "history/localtime.h"
#include "history/pager.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

namespace HistoryExport {

namespace {

// Events are read from the store this many at a time, and the output is handed to the device
// in pieces of about this size.
constexpr int BatchSize = 4096;
constexpr qsizetype FlushSize = 256 * 1024;

QString tr(const char* text)
{
    return QCoreApplication::translate("HistoryExport", text);
}

// The unit texts are those of the event list.
QString unitText(const char* text)
{
    return QCoreApplication::translate("ChistoryRec", text);
}

void appendNumber(QByteArray& out, double value)
{
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr - digits);
}

void appendInt(QByteArray& out, qint64 value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr - digits);
}

void appendCsvField(QByteArray& out, const QByteArray& field)
{
    const QByteArray text = HistoryExport::spreadsheetText(field);
    bool quote = false;
    for (const char c : text) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendJsonString(QByteArray& out, const QByteArray& text)
{
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// The ISO 8601 text of a moment in local time with its offset; nothing when it has none.
void appendIsoTime(QByteArray& out, qint64 seconds)
{
    const std::optional<std::tm> tm = LocalTime::toLocal(seconds);
    if (!tm)
        return;
    const long offset = tm->tm_gmtoff;
    const long magnitude = offset < 0 ? -offset : offset;
    char text[48];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", tm->tm_year + 1900,
        tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec, offset < 0 ? '-' : '+', magnitude / 3600,
        magnitude / 60 % 60);
    if (n > 0 && magnitude % 60 != 0)
        n += std::snprintf(text + n, sizeof text - size_t(n), ":%02ld", magnitude % 60);
    if (n > 0)
        out.append(text, std::min<qsizetype>(n, qsizetype(sizeof text) - 1));
}

// A record read back from the store without a comment holds a single blank.
QByteArray commentOf(const ChistoryRec& record)
{
    return record.hComment == QLatin1String(" ") ? QByteArray() : record.hComment.toUtf8();
}

constexpr const char* FieldNames[]
    = { "time", "instrument", "type_code", "type", "value", "unit", "precision", "alarm_code", "alarm", "comment" };

void appendRecord(QByteArray& out, const ChistoryRec& r, Format format, bool roentgen, const QByteArray& typeText,
    const QByteArray& alarmText)
{
    QByteArray time;
    appendIsoTime(time, r.hDateTime);
    const std::optional<double> value = valueInUnit(r, roentgen);
    const QByteArray unit = value ? unitOf(r.hType, roentgen).toUtf8() : QByteArray();
    const QByteArray instrument = r.hPagerID.toUtf8();
    const QByteArray comment = commentOf(r);
    if (format == Format::Csv) {
        appendCsvField(out, time);
        out += ',';
        appendCsvField(out, instrument);
        out += ',';
        appendInt(out, r.hType);
        out += ',';
        appendCsvField(out, typeText);
        out += ',';
        if (value)
            appendNumber(out, *value);
        out += ',';
        appendCsvField(out, unit);
        out += ',';
        if (r.hPrecision != -1)
            appendInt(out, r.hPrecision);
        out += ',';
        appendInt(out, r.hAlarm);
        out += ',';
        appendCsvField(out, alarmText);
        out += ',';
        appendCsvField(out, comment);
        out += "\r\n";
        return;
    }
    const auto key = [&out](int i) {
        out += i == 0 ? "{\"" : ",\"";
        out += FieldNames[i];
        out += "\":";
    };
    key(0);
    if (time.isEmpty())
        out += "null";
    else
        appendJsonString(out, time);
    key(1);
    appendJsonString(out, instrument);
    key(2);
    appendInt(out, r.hType);
    key(3);
    appendJsonString(out, typeText);
    key(4);
    if (value)
        appendNumber(out, *value);
    else
        out += "null";
    key(5);
    appendJsonString(out, unit);
    key(6);
    if (r.hPrecision != -1)
        appendInt(out, r.hPrecision);
    else
        out += "null";
    key(7);
    appendInt(out, r.hAlarm);
    key(8);
    appendJsonString(out, alarmText);
    key(9);
    appendJsonString(out, comment);
    out += "}\n";
}

// The output device of a path: the standard output for "-", else a file that replaces the old
// one only when it is complete.
class Output {
public:
    explicit Output(const QString& path)
    {
        if (path == QLatin1String("-")) {
            auto file = std::make_unique<QFile>();
            m_ok = file->open(stdout, QIODevice::WriteOnly);
            m_device = std::move(file);
        } else {
            auto file = std::make_unique<QSaveFile>(path);
            m_ok = file->open(QIODevice::WriteOnly);
            m_save = file.get();
            m_device = std::move(file);
        }
    }
    bool isOpen() const { return m_ok; }
    QIODevice& device() { return *m_device; }
    bool commit()
    {
        if (m_save)
            return m_save->commit();
        return static_cast<QFile&>(*m_device).flush();
    }
    QString errorString() const { return m_device->errorString(); }

private:
    std::unique_ptr<QIODevice> m_device;
    QSaveFile* m_save = nullptr;
    bool m_ok = false;
};

QString cannotWrite(const QString& path, const QString& reason)
{
    return tr("The file %1 cannot be written: %2")
        .arg(path == QLatin1String("-") ? tr("(standard output)") : path, reason);
}

} // namespace

QByteArray spreadsheetText(const QByteArray& utf8)
{
    if (utf8.isEmpty() || !QByteArrayView("=+-@").contains(utf8.front()))
        return utf8;
    bool number = false;
    const double value = utf8.toDouble(&number);
    return number && std::isfinite(value) ? utf8 : '\'' + utf8;
}

QString spreadsheetText(const QString& text)
{
    if (text.isEmpty() || !QStringView(u"=+-@").contains(text.front()))
        return text;
    return QString::fromUtf8(spreadsheetText(text.toUtf8()));
}

std::optional<Format> formatNamed(const QString& name)
{
    const QString n = name.toLower();
    if (n == QLatin1String("csv"))
        return Format::Csv;
    if (n == QLatin1String("json") || n == QLatin1String("jsonl"))
        return Format::JsonLines;
    return std::nullopt;
}

QString isoLocalTime(qint64 seconds)
{
    QByteArray text;
    appendIsoTime(text, seconds);
    return QString::fromLatin1(text);
}

std::optional<double> valueInUnit(const ChistoryRec& record, bool unitsRoentgen)
{
    const double v = record.hValue;
    if (!std::isfinite(v) || v < 0)
        return std::nullopt;
    switch (record.hType) {
    case 3:
        // The instrument's number is µR/h, read as hundredths of µSv/h in sievert mode.
        return unitsRoentgen ? v : v / 100;
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
        return v;
    default:
        return std::nullopt;
    }
}

QString unitOf(qint32 type, bool unitsRoentgen)
{
    switch (type) {
    case 3:
        return unitText(unitsRoentgen ? "µR/h" : "µSv/h");
    case 5:
        return unitText("1/(min*cm²)");
    case 4:
    case 6:
    case 7:
    case 8:
        return unitText("cps");
    default:
        return {};
    }
}

Writer::Writer(QIODevice& out, Format format, bool unitsRoentgen)
    : m_out(out)
    , m_format(format)
    , m_roentgen(unitsRoentgen)
{
    m_buffer.reserve(FlushSize + 4096);
}

QByteArray Writer::header(Format format)
{
    if (format != Format::Csv)
        return {};
    QByteArray text;
    for (const char* name : FieldNames) {
        if (!text.isEmpty())
            text += ',';
        text += name;
    }
    return text + "\r\n";
}

QByteArray Writer::line(const ChistoryRec& record, Format format, bool unitsRoentgen)
{
    QByteArray text;
    appendRecord(text, record, format, unitsRoentgen, record.eventTypeText().toUtf8(), record.alarmText().toUtf8());
    return text;
}

const QByteArray& Writer::typeText(qint32 type)
{
    auto it = m_typeTexts.find(type);
    if (it == m_typeTexts.end())
        it = m_typeTexts.insert(type, ChistoryRec::eventTypeText(type).toUtf8());
    return *it;
}

const QByteArray& Writer::alarmText(qint32 alarm)
{
    auto it = m_alarmTexts.find(alarm);
    if (it == m_alarmTexts.end())
        it = m_alarmTexts.insert(alarm, ChistoryRec::alarmText(alarm).toUtf8());
    return *it;
}

void Writer::append(const ChistoryRec& record)
{
    if (!m_headerDone) {
        m_buffer += header(m_format);
        m_headerDone = true;
    }
    appendRecord(m_buffer, record, m_format, m_roentgen, typeText(record.hType), alarmText(record.hAlarm));
    ++m_count;
}

bool Writer::flush()
{
    if (!m_error.isEmpty())
        return false;
    if (m_buffer.isEmpty())
        return true;
    if (m_out.write(m_buffer) != m_buffer.size()) {
        m_error = m_out.errorString();
        if (m_error.isEmpty())
            m_error = QCoreApplication::translate("HistoryExport", "not every byte was written");
        return false;
    }
    m_buffer.clear();
    return true;
}

bool Writer::write(const ChistoryRec& record)
{
    append(record);
    return m_buffer.size() < FlushSize || flush();
}

bool Writer::write(std::span<const ChistoryRec> records)
{
    for (const ChistoryRec& r : records) {
        if (!write(r))
            return false;
    }
    return true;
}

bool Writer::finish()
{
    if (!m_headerDone) {
        m_buffer += header(m_format);
        m_headerDone = true;
    }
    return flush();
}

std::optional<std::pair<qint64, qint64>> daySpan(const QString& fromDate, const QString& toDate)
{
    qint64 first = 0;
    qint64 last = 0;
    try {
        first = CPager::parseDayText(fromDate);
        last = CPager::parseDayText(toDate);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (first == 0 || last == 0 || last < first)
        return std::nullopt;
    const std::optional<std::tm> tm = LocalTime::toLocal(last);
    if (!tm)
        return std::nullopt;
    // The day after by the calendar, not by 86400 seconds: a day may have 23 or 25 hours.
    const QDate next = QDate(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday).addDays(1);
    const std::optional<qint64> end = LocalTime::fromLocal(next.year(), next.month(), next.day());
    if (!end)
        return std::nullopt;
    return std::make_pair(first, *end);
}

bool exportWith(
    const QString& path, Format format, bool unitsRoentgen, const Producer& produce, qint64* count, QString* error)
{
    if (count)
        *count = 0;
    Output output(path);
    if (!output.isOpen()) {
        if (error)
            *error = cannotWrite(path, output.errorString());
        return false;
    }
    Writer writer(output.device(), format, unitsRoentgen);
    QString failure;
    if (!produce(writer, &failure) && !failure.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    if (!writer.finish() || !output.commit()) {
        if (error)
            *error = cannotWrite(path, writer.errorString().isEmpty() ? output.errorString() : writer.errorString());
        return false;
    }
    if (count)
        *count = writer.count();
    return true;
}

bool exportSpan(HistoryDb& db, const Span& span, Format format, bool unitsRoentgen, const QString& path, qint64* count,
    QString* error)
{
    return exportWith(
        path, format, unitsRoentgen,
        [&](Writer& writer, QString* failure) {
            try {
                db.forEachEvent(
                    span.instrument, span.from, span.to, BatchSize, [&](std::span<const ChistoryRec> batch) {
                        for (const ChistoryRec& r : batch) {
                            if ((!span.alarmsOnly || r.isAlarm()) && !writer.write(r))
                                return false;
                        }
                        return true;
                    });
            } catch (const DbError& e) {
                *failure = tr("The events cannot be read from %1: %2").arg(db.path(), QString::fromUtf8(e.what()));
                return false;
            }
            return true;
        },
        count, error);
}

bool exportRecords(
    std::span<const ChistoryRec> records, Format format, bool unitsRoentgen, const QString& path, QString* error)
{
    return exportWith(
        path, format, unitsRoentgen, [&](Writer& writer, QString*) { return writer.write(records); }, nullptr, error);
}

} // namespace HistoryExport
