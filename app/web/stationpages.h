#pragma once

#include "device/measurementtexts.h"
#include "history/historyrec.h"
#include "web/httprequest.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMap>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class CKESTRADoc;
class CPool;
class HistoryDb;
class QPainter;
class QRect;

// What the web server sends for a request.
struct WebReply {
    int status = 200;
    QByteArray type;
    QByteArray body;
    QByteArray headers; // extra header lines, each with its CRLF
    QString kind; // what the request counts as in the metrics
};

// The contents of the station's web server: the page, the charts, the JSON API, CSV and the
// metrics. Runs on the document's thread; reads the instrument list through the document and the
// events through the open store, and never writes either.
class StationPages {
    Q_DECLARE_TR_FUNCTIONS(StationPages)
public:
    // The longest span the events API, CSV and the range chart serve, and the most events one
    // reply holds.
    static constexpr int MaxSpanDays = 366;
    static constexpr qint64 MaxEvents = 100000;
    // A reading is taken from the instrument at most this often; requests in between get it again.
    static constexpr qint64 ReadingMaxAgeMs = 5000;

    explicit StationPages(CKESTRADoc& doc);

    void setStationPool(const CPool* pool) { m_pool = pool; }
    // A download ended (CKESTRADoc::historyStored): its time, or a store error.
    void downloaded(qint64 when, int count, int added, bool committed);

    WebReply answer(
        const HttpRequest::Request& request, const QMap<QString, qint64>& served, const QMap<QString, qint64>& refused);

private:
    // The station's state as the page, the API and the metrics show it.
    struct Status {
        bool connected = false;
        std::optional<MeasurementTexts::Reading> reading;
        qint64 readingTime = 0;
        std::optional<int> battery;
        quint32 alarmWord = 0;
    };
    struct Span {
        QString instrument;
        qint64 from = 0;
        qint64 to = 0; // exclusive
    };

    WebReply page(const HttpRequest::Request& request);
    WebReply dayChart(const HttpRequest::Request& request);
    WebReply rangeChart(const HttpRequest::Request& request);
    WebReply instrumentsJson();
    WebReply daysJson(const HttpRequest::Request& request);
    WebReply eventsReply(const HttpRequest::Request& request, bool csv);
    WebReply readingJson();
    WebReply metrics(const QMap<QString, qint64>& served, const QMap<QString, qint64>& refused);

    const Status& status();
    HistoryDb* store();
    bool roentgen() const;
    // The day or span a request names: day=DATE, or from=DATE&to=DATE (inclusive); an error
    // reply when the dates are no dates, the span is backwards or too long.
    std::optional<Span> spanOf(const HttpRequest::Request& request, WebReply* error, int defaultDays);
    // The events of a span, oldest first; nothing (with an error reply) past MaxEvents or when
    // the store fails.
    std::optional<std::vector<ChistoryRec>> eventsOf(const Span& span, WebReply* error);
    qint64 eventsStored();
    QByteArray png(int width, int height, const std::function<void(QPainter&, const QRect&)>& paint, WebReply* error);
    WebReply fail(int status, const QString& text) const;

    CKESTRADoc& m_doc;
    const CPool* m_pool = nullptr;
    Status m_status;
    qint64 m_statusAt = -1; // ms of the monotonic clock
    qint64 m_lastDownload = 0;
    qint64 m_lastDownloadCount = 0;
    std::optional<qint64> m_eventsStored;
    qint64 m_storeErrors = 0;
};
