#include "web/stationpages.h"

#include "charts/daychart.h"
#include "charts/rangechart.h"
#include "device/devworker.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/historyexport.h"
#include "history/historyrange.h"
#include "history/localtime.h"
#include "history/viewflags.h"
#include "remote/remoteserver.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSize>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace {

QElapsedTimer& monotonic()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

QString dateText(qint64 seconds)
{
    return LocalTime::format(seconds, "%Y-%m-%d");
}

// A link to the page with these query values.
QString pageLink(const QList<std::pair<QString, QString>>& values)
{
    QUrlQuery query;
    for (const auto& [name, value] : values)
        query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    return (QStringLiteral("/?") + query.toString(QUrl::FullyEncoded)).toHtmlEscaped();
}

QString apiLink(const QString& path, const QList<std::pair<QString, QString>>& values)
{
    QUrlQuery query;
    for (const auto& [name, value] : values)
        query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    return (path + u'?' + query.toString(QUrl::FullyEncoded)).toHtmlEscaped();
}

// A label value in the metrics text: backslash, quote and line feed escaped.
QByteArray label(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

QByteArray number(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

void metric(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

constexpr const char* Style = R"(
body{font-family:sans-serif;margin:0 auto;max-width:60em;padding:0 .6em;color:#222}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.4em;border-bottom:1px solid #ccc}
.value{font-size:2em;margin:.2em 0}.alarm{color:#b00;font-weight:bold}.ok{color:#070}
table{border-collapse:collapse;width:100%;font-size:.9em}td,th{border-bottom:1px solid #ddd;padding:.2em .4em;text-align:left}
img{max-width:100%;height:auto;border:1px solid #ddd}ul.days{columns:9em;padding-left:1.2em}
dl{display:grid;grid-template-columns:max-content auto;gap:.2em 1em}dt{color:#555}dd{margin:0}
.scroll{overflow-x:auto}form input{margin:.2em}
)";

// The size a chart request asks for (w, h in pixels), within bounds; 900 x 360 by default.
QSize chartSize(const HttpRequest::Request& request)
{
    const auto bounded = [&](const char* name, int fallback, int min, int max) {
        bool ok = false;
        const int n = request.value(QString::fromLatin1(name)).value_or(QString()).toInt(&ok);
        return ok ? std::clamp(n, min, max) : fallback;
    };
    return { bounded("w", 900, 200, 1600), bounded("h", 360, 150, 1200) };
}

// A chart at the page's width, and on a narrow screen one drawn for it, taller, so that its
// texts stay readable; no script needed.
QString chartImage(const QString& src, const QString& alt)
{
    return QStringLiteral("<picture><source media=\"(max-width: 600px)\" srcset=\"%1&amp;w=420&amp;h=440\">"
                          "<img src=\"%1\" width=\"900\" height=\"360\" alt=\"%2\"></picture>")
        .arg(src, alt);
}

} // namespace

StationPages::StationPages(CKESTRADoc& doc)
    : m_doc(doc)
{
}

void StationPages::downloaded(qint64 when, int, int added, bool committed)
{
    if (!committed) {
        ++m_storeErrors;
        return;
    }
    m_lastDownload = when;
    m_lastDownloadCount = added;
    if (m_eventsStored && added > 0)
        *m_eventsStored += added;
}

bool StationPages::roentgen() const
{
    return m_doc.context().viewFlags().unitsRoentgen();
}

HistoryDb* StationPages::store()
{
    return m_doc.context().store().current();
}

WebReply StationPages::fail(int status, const QString& text) const
{
    WebReply r;
    r.status = status;
    r.type = "text/plain; charset=utf-8";
    r.body = QByteArray::number(status) + ' ' + HttpRequest::reasonPhrase(status) + ": " + text.toUtf8() + '\n';
    r.kind = status == 404 ? QStringLiteral("missing") : QStringLiteral("error");
    return r;
}

WebReply StationPages::answer(
    const HttpRequest::Request& request, const QMap<QString, qint64>& served, const QMap<QString, qint64>& refused)
{
    WebReply reply;
    const QString& p = request.path;
    if (p == u"/" || p == u"/index.html")
        reply = page(request);
    else if (p == u"/chart/day.png")
        reply = dayChart(request);
    else if (p == u"/chart/range.png")
        reply = rangeChart(request);
    else if (p == u"/api/v1/instruments")
        reply = instrumentsJson();
    else if (p == u"/api/v1/days")
        reply = daysJson(request);
    else if (p == u"/api/v1/events")
        reply = eventsReply(request, false);
    else if (p == u"/api/v1/events.csv")
        reply = eventsReply(request, true);
    else if (p == u"/api/v1/reading")
        reply = readingJson();
    else if (p == u"/metrics")
        reply = metrics(served, refused);
    else
        return fail(404, QStringLiteral("no such page"));
    return reply;
}

const StationPages::Status& StationPages::status()
{
    const qint64 now = monotonic().elapsed();
    if (m_statusAt >= 0 && now - m_statusAt < ReadingMaxAgeMs)
        return m_status;
    m_statusAt = now;
    DocState& state = m_doc.state();
    m_status.connected = state.localMode.load() && state.connected();
    m_status.alarmWord = quint32(state.lastStatusBits.load());
    // Only an instrument that answers is asked: a port check would hold up every request.
    if (m_status.connected) {
        MeasurementTexts::Reading reading;
        if (DevWorker::readReading(m_doc.context().device(), reading)) {
            m_status.reading = reading;
            m_status.readingTime = std::time(nullptr);
            m_status.alarmWord = reading.statusWord;
        }
        int battery = 0;
        if (DevWorker::readBattery(m_doc.context().device(), battery))
            m_status.battery = battery;
    }
    return m_status;
}

qint64 StationPages::eventsStored()
{
    if (!m_eventsStored) {
        HistoryDb* db = store();
        if (!db)
            return -1;
        try {
            m_eventsStored = db->eventCount();
        } catch (const DbError&) {
            ++m_storeErrors;
            return -1;
        }
    }
    return *m_eventsStored;
}

std::optional<StationPages::Span> StationPages::spanOf(
    const HttpRequest::Request& request, WebReply* error, int defaultDays)
{
    Span span;
    span.instrument = request.value(QStringLiteral("instrument")).value_or(QString());
    const std::optional<QString> day = request.value(QStringLiteral("day"));
    std::optional<QString> from = request.value(QStringLiteral("from"));
    std::optional<QString> to = request.value(QStringLiteral("to"));
    if (day) {
        if (from || to) {
            *error = fail(400, QStringLiteral("give day, or from and to"));
            return std::nullopt;
        }
        from = to = day;
    }
    if (!to)
        to = dateText(std::time(nullptr));
    std::optional<std::pair<qint64, qint64>> whole = HistoryExport::daySpan(*to, *to);
    if (whole && !from)
        from = dateText(whole->second - qint64(defaultDays) * 86400 + 43200);
    if (whole)
        whole = HistoryExport::daySpan(*from, *to);
    if (!whole) {
        *error = fail(400, QStringLiteral("dates are YYYY-MM-DD, from not after to"));
        return std::nullopt;
    }
    if (whole->second - whole->first > qint64(MaxSpanDays) * 86400 + 7200) {
        *error = fail(400, QStringLiteral("a span is at most %1 days").arg(MaxSpanDays));
        return std::nullopt;
    }
    span.from = whole->first;
    span.to = whole->second;
    return span;
}

std::optional<std::vector<ChistoryRec>> StationPages::eventsOf(const Span& span, WebReply* error)
{
    HistoryDb* db = store();
    if (!db) {
        *error = fail(503, QStringLiteral("the event database is not open"));
        return std::nullopt;
    }
    std::vector<ChistoryRec> events;
    bool tooMany = false;
    try {
        db->forEachEvent(span.instrument, span.from, span.to, 4096, [&](std::span<const ChistoryRec> batch) {
            if (qint64(events.size() + batch.size()) > MaxEvents) {
                tooMany = true;
                return false;
            }
            events.insert(events.end(), batch.begin(), batch.end());
            return true;
        });
    } catch (const DbError& e) {
        ++m_storeErrors;
        *error = fail(503, QString::fromUtf8(e.what()));
        return std::nullopt;
    }
    if (tooMany) {
        *error = fail(413, QStringLiteral("more than %1 events; ask for a shorter span").arg(MaxEvents));
        return std::nullopt;
    }
    return events;
}

QByteArray StationPages::png(
    int width, int height, const std::function<void(QPainter&, const QRect&)>& paint, WebReply* error)
{
    // Text on an image needs the fonts of a GUI application (kestra-cli makes one for --http).
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        *error = fail(503, QStringLiteral("charts are not available in this program"));
        return {};
    }
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(painter, image.rect().adjusted(4, 4, -4, -4));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

WebReply StationPages::dayChart(const HttpRequest::Request& request)
{
    WebReply error;
    const std::optional<Span> span = spanOf(request, &error, 1);
    if (!span)
        return error;
    if (span->instrument.isEmpty() || span->to - span->from > 26 * 3600)
        return fail(400, QStringLiteral("a day chart needs instrument and day"));
    const std::optional<std::vector<ChistoryRec>> events = eventsOf(*span, &error);
    if (!events)
        return error;
    const bool units = roentgen();
    WebReply r;
    const QSize size = chartSize(request);
    r.body = png(
        size.width(), size.height(),
        [&](QPainter& painter, const QRect& area) { DayChart::paint(painter, area, span->from, *events, units); },
        &error);
    if (r.body.isEmpty())
        return error;
    r.type = "image/png";
    r.kind = QStringLiteral("chart");
    return r;
}

WebReply StationPages::rangeChart(const HttpRequest::Request& request)
{
    WebReply error;
    const std::optional<Span> span = spanOf(request, &error, 30);
    if (!span)
        return error;
    if (span->instrument.isEmpty())
        return fail(400, QStringLiteral("a range chart needs an instrument"));
    HistoryDb* db = store();
    if (!db)
        return fail(503, QStringLiteral("the event database is not open"));
    RangeSummary summary;
    try {
        RangeRequest range;
        range.pagerId = span->instrument;
        range.from = span->from;
        range.to = span->to;
        range.bucketSeconds = HistoryRange::bucketWidthFor(span->to - span->from);
        summary = db->rangeSummary(range);
    } catch (const DbError& e) {
        ++m_storeErrors;
        return fail(503, QString::fromUtf8(e.what()));
    } catch (const std::invalid_argument& e) {
        return fail(400, QString::fromUtf8(e.what()));
    }
    const bool units = roentgen();
    WebReply r;
    const QSize size = chartSize(request);
    r.body = png(
        size.width(), size.height(),
        [&](QPainter& painter, const QRect& area) { RangeChart::paint(painter, area, summary, units); }, &error);
    if (r.body.isEmpty())
        return error;
    r.type = "image/png";
    r.kind = QStringLiteral("chart");
    return r;
}

WebReply StationPages::instrumentsJson()
{
    const CPagerList* list = m_doc.loadInstrumentList();
    if (!list)
        return fail(503, QStringLiteral("the instrument list cannot be read"));
    QJsonArray out;
    for (int i = 0; i < list->count(); ++i) {
        const CPager* pager = list->instrumentAt(i);
        int alarmDays = 0;
        for (const auto& [key, day] : pager->days())
            alarmDays += day.hasAlarms ? 1 : 0;
        QJsonObject o;
        o.insert(QStringLiteral("instrument"), pager->identifier());
        o.insert(QStringLiteral("name"), pager->name());
        o.insert(QStringLiteral("days"), qint64(pager->days().size()));
        o.insert(QStringLiteral("alarm_days"), alarmDays);
        if (!pager->days().empty()) {
            o.insert(QStringLiteral("first_day"), dateText(pager->days().begin()->first));
            o.insert(QStringLiteral("last_day"), dateText(pager->days().rbegin()->first));
        }
        out.append(o);
    }
    WebReply r;
    r.type = "application/json";
    r.body = QJsonDocument(out).toJson(QJsonDocument::Compact);
    r.kind = QStringLiteral("api");
    return r;
}

WebReply StationPages::daysJson(const HttpRequest::Request& request)
{
    const std::optional<QString> id = request.value(QStringLiteral("instrument"));
    if (!id)
        return fail(400, QStringLiteral("days needs instrument"));
    const CPagerList* list = m_doc.loadInstrumentList();
    const CPager* pager = list ? list->find(*id) : nullptr;
    if (!pager)
        return fail(404, QStringLiteral("no such instrument"));
    QJsonArray out;
    for (const auto& [key, day] : pager->days()) {
        QJsonObject o;
        o.insert(QStringLiteral("date"), dateText(key));
        o.insert(QStringLiteral("alarm"), day.hasAlarms);
        out.append(o);
    }
    WebReply r;
    r.type = "application/json";
    r.body = QJsonDocument(out).toJson(QJsonDocument::Compact);
    r.kind = QStringLiteral("api");
    return r;
}

WebReply StationPages::eventsReply(const HttpRequest::Request& request, bool csv)
{
    WebReply error;
    const std::optional<Span> span = spanOf(request, &error, 1);
    if (!span)
        return error;
    if (!span->instrument.isEmpty() && !m_doc.pagers().find(span->instrument)) {
        const CPagerList* list = m_doc.loadInstrumentList();
        if (!list || !list->find(span->instrument))
            return fail(404, QStringLiteral("no such instrument"));
    }
    const std::optional<std::vector<ChistoryRec>> events = eventsOf(*span, &error);
    if (!events)
        return error;
    QByteArray text;
    QBuffer buffer(&text);
    buffer.open(QIODevice::WriteOnly);
    HistoryExport::Writer writer(
        buffer, csv ? HistoryExport::Format::Csv : HistoryExport::Format::JsonLines, roentgen());
    writer.write(*events);
    writer.finish();
    buffer.close();
    WebReply r;
    r.kind = csv ? QStringLiteral("csv") : QStringLiteral("api");
    if (csv) {
        QString name = span->instrument.isEmpty() ? QStringLiteral("all") : span->instrument;
        for (QChar& c : name) {
            if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_')
                c = u'_';
        }
        r.type = "text/csv; charset=utf-8";
        r.headers = "Content-Disposition: attachment; filename=\"kestra-" + name.toLatin1() + '-'
            + dateText(span->from).toLatin1() + '-' + dateText(span->to - 1).toLatin1() + ".csv\"\r\n";
        r.body = text;
        return r;
    }
    // The export's JSON Lines, one object per event, made one array.
    QByteArray body = "[";
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (body.size() > 1)
            body += ',';
        body += line;
    }
    body += ']';
    r.type = "application/json";
    r.body = body;
    return r;
}

WebReply StationPages::readingJson()
{
    const Status& s = status();
    QJsonObject o;
    o.insert(QStringLiteral("connected"), s.connected);
    o.insert(QStringLiteral("instrument"), m_doc.state().currentInstrument());
    if (s.reading) {
        CMeasurements texts;
        MeasurementTexts::fill(texts, *s.reading, roentgen());
        o.insert(QStringLiteral("time"), HistoryExport::isoLocalTime(s.readingTime));
        o.insert(QStringLiteral("mode"), s.reading->mode);
        o.insert(QStringLiteral("value"), s.reading->value);
        o.insert(QStringLiteral("text"), texts.value);
        o.insert(QStringLiteral("unit"), texts.units);
        o.insert(QStringLiteral("precision"), s.reading->error);
        if (s.reading->mode == 3)
            o.insert(QStringLiteral("dose_rate_sv_per_h"), s.reading->value * 1e-8);
    } else {
        o.insert(QStringLiteral("time"), QJsonValue::Null);
        o.insert(QStringLiteral("value"), QJsonValue::Null);
    }
    o.insert(QStringLiteral("alarm_word"), qint64(s.alarmWord));
    o.insert(QStringLiteral("alarm"), MeasurementTexts::statusText(s.alarmWord));
    o.insert(QStringLiteral("battery"), s.battery ? QJsonValue(*s.battery) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("last_download"),
        m_lastDownload > 0 ? QJsonValue(HistoryExport::isoLocalTime(m_lastDownload)) : QJsonValue(QJsonValue::Null));
    WebReply r;
    r.type = "application/json";
    r.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    r.kind = QStringLiteral("api");
    return r;
}

WebReply StationPages::metrics(const QMap<QString, qint64>& served, const QMap<QString, qint64>& refused)
{
    const Status& s = status();
    QByteArray out;
    metric(out, "kestra_instrument_connected", "gauge", "1 when the station's instrument answers.");
    out += "kestra_instrument_connected " + QByteArray(s.connected ? "1" : "0") + '\n';
    const QByteArray instrument = "{instrument=\"" + label(m_doc.state().currentInstrument()) + "\"}";
    if (s.reading && s.reading->mode == 3) {
        metric(out, "kestra_dose_rate_sieverts_per_hour", "gauge", "Gamma dose-equivalent rate of the last reading.");
        out += "kestra_dose_rate_sieverts_per_hour" + instrument + ' ' + number(s.reading->value * 1e-8) + '\n';
    }
    if (s.reading) {
        metric(out, "kestra_reading_mode", "gauge", "Instrument mode of the last reading (3: gamma dose rate).");
        out += "kestra_reading_mode" + instrument + ' ' + QByteArray::number(s.reading->mode) + '\n';
        metric(out, "kestra_reading_timestamp_seconds", "gauge", "When the last reading was taken.");
        out += "kestra_reading_timestamp_seconds" + instrument + ' ' + QByteArray::number(s.readingTime) + '\n';
    }
    metric(out, "kestra_alarm_word", "gauge", "The instrument's alarm word (0: no alarm).");
    out += "kestra_alarm_word" + instrument + ' ' + QByteArray::number(s.alarmWord) + '\n';
    metric(out, "kestra_alarm", "gauge", "1 while an alarm bit that starts a download is set.");
    out += "kestra_alarm" + instrument + ' ' + QByteArray((s.alarmWord & DocState::AlarmMask) ? "1" : "0") + '\n';
    if (s.battery) {
        metric(out, "kestra_battery_percent", "gauge", "Battery charge.");
        out += "kestra_battery_percent" + instrument + ' ' + QByteArray::number(*s.battery) + '\n';
    }
    metric(out, "kestra_last_download_timestamp_seconds", "gauge",
        "When the last download was stored (0: none since the station started).");
    out += "kestra_last_download_timestamp_seconds " + QByteArray::number(m_lastDownload) + '\n';
    if (const qint64 stored = eventsStored(); stored >= 0) {
        metric(out, "kestra_events_stored", "gauge", "Events in the station's database.");
        out += "kestra_events_stored " + QByteArray::number(stored) + '\n';
    }
    metric(out, "kestra_store_errors_total", "counter", "Downloads that could not be stored and failed store reads.");
    out += "kestra_store_errors_total " + QByteArray::number(m_storeErrors) + '\n';
    metric(out, "kestra_http_requests_total", "counter", "Web requests served, by kind.");
    QMap<QString, qint64> kinds = served;
    kinds[QStringLiteral("metrics")] += 1; // this one
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it)
        out += "kestra_http_requests_total{kind=\"" + label(it.key()) + "\"} " + QByteArray::number(it.value()) + '\n';
    metric(out, "kestra_http_refused_total", "counter", "Web requests refused, by reason.");
    for (auto it = refused.cbegin(); it != refused.cend(); ++it)
        out += "kestra_http_refused_total{reason=\"" + label(it.key()) + "\"} " + QByteArray::number(it.value()) + '\n';
    if (m_pool) {
        metric(out, "kestra_station_requests_total", "counter", "Requests the station's TCP server served.");
        out += "kestra_station_requests_total " + QByteArray::number(m_pool->requestsServed()) + '\n';
        metric(out, "kestra_password_check_failures_total", "counter", "Failed password checks of the TCP server.");
        out += "kestra_password_check_failures_total " + QByteArray::number(m_pool->failedPasswordChecks()) + '\n';
        metric(out, "kestra_station_connections", "gauge", "Open connections of the TCP server.");
        out += "kestra_station_connections " + QByteArray::number(m_pool->connectionCount()) + '\n';
    }
    WebReply r;
    r.type = "text/plain; version=0.0.4; charset=utf-8";
    r.body = out;
    r.kind = QStringLiteral("metrics");
    return r;
}

WebReply StationPages::page(const HttpRequest::Request& request)
{
    const Status& s = status();
    const CPagerList* list = m_doc.loadInstrumentList();
    QString id = request.value(QStringLiteral("instrument")).value_or(QString());
    if (id.isEmpty() && list) {
        id = m_doc.state().currentInstrument();
        if (!list->find(id) && list->count() > 0)
            id = list->instrumentAt(0)->identifier();
    }
    const CPager* pager = list ? list->find(id) : nullptr;
    if (!id.isEmpty() && !pager && request.value(QStringLiteral("instrument")))
        return fail(404, QStringLiteral("no such instrument"));

    // The day shown: the one asked for, else the instrument's newest.
    qint64 day = 0;
    if (const std::optional<QString> asked = request.value(QStringLiteral("day"))) {
        const auto span = HistoryExport::daySpan(*asked, *asked);
        if (!span)
            return fail(400, QStringLiteral("dates are YYYY-MM-DD"));
        day = span->first;
    } else if (pager && !pager->days().empty()) {
        day = pager->days().rbegin()->first;
    }
    // The range: from and to as asked, else the 30 days up to the day shown.
    const QString toText = request.value(QStringLiteral("to")).value_or(dateText(day > 0 ? day : std::time(nullptr)));
    const std::optional<std::pair<qint64, qint64>> toDay = HistoryExport::daySpan(toText, toText);
    const QString fromText = request.value(QStringLiteral("from"))
                                 .value_or(toDay ? dateText(toDay->second - 30 * 86400 + 43200) : QString());
    if (!toDay || !HistoryExport::daySpan(fromText, toText))
        return fail(400, QStringLiteral("dates are YYYY-MM-DD, from not after to"));

    const bool russian = m_doc.context().config().language == 1;
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\"><head><meta charset=\"utf-8\">"
                        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">")
             .arg(russian ? u"ru" : u"en");
    h += QStringLiteral("<title>%1</title><style>%2</style></head><body>\n")
             .arg(esc(tr("KESTRA station")), QString::fromLatin1(Style));
    h += QStringLiteral("<h1>%1</h1>\n").arg(esc(tr("KESTRA station")));

    // The reading and the state of the link.
    h += QStringLiteral("<section id=\"reading\"><h2>%1</h2>").arg(esc(tr("Current reading")));
    if (s.reading) {
        CMeasurements texts;
        MeasurementTexts::fill(texts, *s.reading, roentgen());
        h += QStringLiteral("<p class=\"value\" id=\"value\">%1 %2</p>").arg(esc(texts.value), esc(texts.units));
        h += QStringLiteral("<dl><dt>%1</dt><dd>%2</dd><dt>%3</dt><dd>%4</dd><dt>%5</dt><dd>%6 %</dd>")
                 .arg(esc(tr("Instrument")), esc(m_doc.state().currentInstrument()), esc(tr("Mode")), esc(texts.mode),
                     esc(tr("Precision")), QString::number(s.reading->error));
        h += QStringLiteral("<dt>%1</dt><dd>%2</dd>")
                 .arg(esc(tr("Measured at")), esc(LocalTime::format(s.readingTime, "%Y-%m-%d %H:%M:%S")));
    } else {
        h += QStringLiteral("<p class=\"value\" id=\"value\">%1</p><dl>")
                 .arg(esc(s.connected ? tr("No reading") : tr("No instrument answers")));
    }
    const QString alarm = MeasurementTexts::statusText(s.alarmWord);
    const bool inAlarm = (s.alarmWord & DocState::AlarmMask) != 0;
    h += QStringLiteral("<dt>%1</dt><dd id=\"alarm\" class=\"%2\">%3</dd>")
             .arg(esc(tr("Alarm")), inAlarm ? u"alarm" : u"ok",
                 esc(inAlarm ? (alarm.isEmpty() ? tr("Alarm") : alarm) : tr("None")));
    if (s.battery)
        h += QStringLiteral("<dt>%1</dt><dd>%2 %</dd>").arg(esc(tr("Battery")), QString::number(*s.battery));
    h += QStringLiteral("<dt>%1</dt><dd id=\"download\">%2</dd></dl></section>\n")
             .arg(esc(tr("Last download")),
                 m_lastDownload > 0 ? esc(tr("%1 (%n new events)", nullptr, int(m_lastDownloadCount))
                                              .arg(LocalTime::format(m_lastDownload, "%Y-%m-%d %H:%M:%S")))
                                    : esc(tr("none since the station started")));

    // The instruments.
    h += QStringLiteral("<section id=\"instruments\"><h2>%1</h2><ul>").arg(esc(tr("Instruments")));
    for (int i = 0; list && i < list->count(); ++i) {
        const CPager* p = list->instrumentAt(i);
        const QString text = p->name().isEmpty() || p->name() == p->identifier()
            ? p->identifier()
            : p->name() + QStringLiteral(" (") + p->identifier() + u')';
        h += QStringLiteral("<li><a href=\"%1\">%2</a>%3</li>")
                 .arg(pageLink({ { QStringLiteral("instrument"), p->identifier() } }), esc(text),
                     p->identifier() == id ? QStringLiteral(" &#9664;") : QString());
    }
    if (!list || list->count() == 0)
        h += QStringLiteral("<li>%1</li>").arg(esc(tr("No instruments in the database")));
    h += QStringLiteral("</ul></section>\n");

    if (pager) {
        // The days, alarm days marked; the newest first, at most a season of them.
        h += QStringLiteral("<section id=\"days\"><h2>%1</h2><ul class=\"days\">")
                 .arg(esc(tr("Days of %1").arg(pager->displayName())));
        int shown = 0;
        for (auto it = pager->days().rbegin(); it != pager->days().rend() && shown < 120; ++it, ++shown) {
            const QString date = dateText(it->first);
            h += QStringLiteral("<li%1><a href=\"%2\">%3</a>%4</li>")
                     .arg(it->second.hasAlarms ? QStringLiteral(" class=\"alarm\"") : QString(),
                         pageLink({ { QStringLiteral("instrument"), id }, { QStringLiteral("day"), date } }), date,
                         it->second.hasAlarms ? QStringLiteral(" &#9888; ") + esc(tr("alarm")) : QString());
        }
        h += QStringLiteral("</ul></section>\n");

        // The day's chart and events.
        if (day > 0) {
            const QString date = dateText(day);
            h += QStringLiteral("<section id=\"day\"><h2>%1</h2>").arg(esc(tr("Events of %1").arg(date)));
            h += chartImage(apiLink(QStringLiteral("/chart/day.png"),
                                { { QStringLiteral("instrument"), id }, { QStringLiteral("day"), date } }),
                esc(tr("Chart of %1").arg(date)));
            Span span { id, day, 0 };
            const auto whole = HistoryExport::daySpan(date, date);
            span.to = whole ? whole->second : day + 86400;
            WebReply error;
            const std::optional<std::vector<ChistoryRec>> events = eventsOf(span, &error);
            if (!events) {
                h += QStringLiteral("<p class=\"alarm\">%1</p>").arg(esc(QString::fromUtf8(error.body)));
            } else {
                QByteArray lines;
                QBuffer buffer(&lines);
                buffer.open(QIODevice::WriteOnly);
                HistoryExport::Writer writer(buffer, HistoryExport::Format::JsonLines, roentgen());
                // Newest first, as the window lists them; a long day shows its newest 2000.
                const std::size_t count = std::min<std::size_t>(events->size(), 2000);
                for (std::size_t i = 0; i < count; ++i)
                    writer.write((*events)[events->size() - 1 - i]);
                writer.finish();
                h += QStringLiteral("<div class=\"scroll\"><table><thead><tr><th>%1</th><th>%2</th><th>%3</th>"
                                    "<th>%4</th><th>%5</th></tr></thead><tbody>")
                         .arg(
                             esc(tr("Time")), esc(tr("Event")), esc(tr("Value")), esc(tr("Alarm")), esc(tr("Comment")));
                for (const QByteArray& line : lines.split('\n')) {
                    const QJsonObject o = QJsonDocument::fromJson(line).object();
                    if (o.isEmpty())
                        continue;
                    const QString value = o.value(QStringLiteral("value")).isDouble()
                        ? QString::number(o.value(QStringLiteral("value")).toDouble()) + u' '
                            + o.value(QStringLiteral("unit")).toString()
                        : QString();
                    const QString alarmText = o.value(QStringLiteral("alarm")).toString();
                    h += QStringLiteral("<tr%1><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td></tr>")
                             .arg(alarmText.isEmpty() ? QString() : QStringLiteral(" class=\"alarm\""),
                                 esc(o.value(QStringLiteral("time")).toString().mid(11, 8)),
                                 esc(o.value(QStringLiteral("type")).toString()), esc(value), esc(alarmText),
                                 esc(o.value(QStringLiteral("comment")).toString()));
                }
                h += QStringLiteral("</tbody></table></div>");
                if (events->empty())
                    h += QStringLiteral("<p>%1</p>").arg(esc(tr("No events on this day")));
                else if (count < events->size())
                    h += QStringLiteral("<p>%1</p>")
                             .arg(esc(tr("The newest %1 of %2 events").arg(count).arg(events->size())));
            }
            h += QStringLiteral("</section>\n");
        }

        // The range chart, with a form that works without scripts.
        h += QStringLiteral("<section id=\"range\"><h2>%1</h2>")
                 .arg(esc(tr("Dose rate from %1 to %2").arg(fromText, toText)));
        h += QStringLiteral(
            "<form method=\"get\" action=\"/\"><input type=\"hidden\" name=\"instrument\" value=\"%1\">")
                 .arg(esc(id));
        if (day > 0)
            h += QStringLiteral("<input type=\"hidden\" name=\"day\" value=\"%1\">").arg(dateText(day));
        h += QStringLiteral("<label>%1 <input type=\"date\" name=\"from\" value=\"%2\"></label>"
                            "<label>%3 <input type=\"date\" name=\"to\" value=\"%4\"></label>"
                            "<input type=\"submit\" value=\"%5\"></form>")
                 .arg(esc(tr("From")), esc(fromText), esc(tr("To")), esc(toText), esc(tr("Show")));
        const qint64 toMidnight = toDay->first;
        h += QStringLiteral("<p><a href=\"%1\">%2</a> &middot; <a href=\"%3\">%4</a></p>")
                 .arg(pageLink({ { QStringLiteral("instrument"), id }, { QStringLiteral("to"), toText },
                          { QStringLiteral("from"), dateText(toMidnight - 6 * 86400 + 43200) } }),
                     esc(tr("Week")),
                     pageLink({ { QStringLiteral("instrument"), id }, { QStringLiteral("to"), toText },
                         { QStringLiteral("from"), dateText(toMidnight - 364 * 86400 + 43200) } }),
                     esc(tr("Year")));
        h += chartImage(apiLink(QStringLiteral("/chart/range.png"),
                            { { QStringLiteral("instrument"), id }, { QStringLiteral("from"), fromText },
                                { QStringLiteral("to"), toText } }),
                 esc(tr("Dose rate from %1 to %2").arg(fromText, toText)))
            + QStringLiteral("</section>\n");
    }

    // For programs.
    h += QStringLiteral("<footer><h2>%1</h2><ul>").arg(esc(tr("Data")));
    h += QStringLiteral("<li><a href=\"/api/v1/reading\">/api/v1/reading</a></li>"
                        "<li><a href=\"/api/v1/instruments\">/api/v1/instruments</a></li>");
    if (pager) {
        h += QStringLiteral("<li><a href=\"%1\">%2</a></li>")
                 .arg(apiLink(QStringLiteral("/api/v1/events.csv"),
                          { { QStringLiteral("instrument"), id }, { QStringLiteral("from"), fromText },
                              { QStringLiteral("to"), toText } }),
                     esc(tr("CSV from %1 to %2").arg(fromText, toText)));
    }
    h += QStringLiteral("<li><a href=\"/metrics\">/metrics</a></li></ul></footer>\n</body></html>\n");

    WebReply r;
    r.type = "text/html; charset=utf-8";
    r.headers = "Content-Security-Policy: default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
                "form-action 'self'\r\n";
    r.body = h.toUtf8();
    r.kind = QStringLiteral("page");
    return r;
}
