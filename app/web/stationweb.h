#pragma once

#include "web/httprequest.h"
#include "web/stationpages.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

class CKESTRADoc;
class CPool;
class QTcpSocket;

// The station's read-only web server: a page per station, charts, a JSON API, CSV and
// Prometheus metrics, over HTTP/1.1 (GET and HEAD, one request per connection).
//
// The request reader is our own rather than Qt's HTTP server module: that module (6.4) reads
// its sockets itself and buffers a request head of any size for any time, and offers no hook
// before it does, so the bounds a station needs (request line, header block, header deadline,
// connections per peer) could not be kept in front of it. Here every byte is read against
// them: a request line over 8 KiB, a header block over 16 KiB, a head not whole within the
// deadline, or more connections from one peer (an IPv4 address, an IPv6 /64) than allowed are
// refused with their status, closed and logged (one line a minute per peer). A peer asking
// faster than its rate is answered 429 without work, so that it cannot take the document's
// thread from the station's own clients.
//
// Requests are served on the thread that owns the document, one at a time, once it is idle
// (CKESTRADoc::whenIdle); nothing served here writes to the instrument or the store.
class StationWeb final : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int connectionsPerPeer = 8;
        int connections = 128;
        int headerDeadlineMs = 10000;
        int replyDeadlineMs = 60000;
        // Requests a peer may make: this many a second, with a burst of twice as many; past it
        // a request is answered 429 at once. Far above a person browsing or a scraper.
        int requestsPerSecond = 50;
    };

    explicit StationWeb(CKESTRADoc& doc, QObject* parent = nullptr);
    ~StationWeb() override;

    // The station's TCP server, whose figures the metrics show; may be null.
    void setStationPool(const CPool* pool);
    void setLimits(const Limits& limits) { m_limits = limits; }

    // "PORT", "ADDRESS:PORT" or "[IPv6 ADDRESS]:PORT" (the web server setting); the loopback
    // address when none is given. Nothing for text that is none of these.
    static std::optional<std::pair<QHostAddress, quint16>> parseListen(const QString& text);

    bool start(const QHostAddress& address, quint16 port);
    void stop();
    bool listening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    QString lastErrorText() const { return m_lastError; }

    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    // Requests served, by kind ("page", "chart", "api", "csv", "metrics", "missing").
    const QMap<QString, qint64>& requestsServed() const { return m_served; }
    // Requests refused, by reason ("bad-request", "too-large", "deadline", "peer-limit", ...).
    const QMap<QString, qint64>& requestsRefused() const { return m_refused; }

signals:
    // A request or a peer was refused (at most one line a minute for each peer); the text says
    // who and why. Also written to the application log.
    void refused(const QString& text);

private:
    class Server final : public QTcpServer {
    public:
        explicit Server(StationWeb& web)
            : m_web(web)
        {
        }

    protected:
        void incomingConnection(qintptr descriptor) override { m_web.accept(descriptor); }

    private:
        StationWeb& m_web;
    };

    struct Connection {
        quint64 serial = 0;
        QTcpSocket* socket = nullptr;
        QHostAddress peer;
        QString group;
        QByteArray input;
        QTimer deadline;
        bool answering = false;
    };

    void accept(qintptr descriptor);
    void takeInput(Connection* connection);
    void schedule(Connection* connection, const HttpRequest::Request& request, int yields);
    void serve(Connection* connection, const HttpRequest::Request& request);
    void refuse(Connection* connection, int status, const QString& reason, const QString& logText);
    void send(Connection* connection, int status, const QByteArray& type, const QByteArray& body, bool headOnly,
        const QByteArray& extraHeaders = {});
    void drop(Connection* connection);
    bool alive(const Connection* connection, quint64 serial) const;
    // Takes one request from the peer group's allowance; false when it has none left.
    bool withinRate(const QString& group);
    void logRefusal(const QString& group, const QString& text);

    // Replies made in the last moments, by request target: twenty browsers reloading a page cost
    // the document's thread one page, and the station's own requests do not wait behind them.
    struct Cached {
        WebReply reply;
        qint64 madeMs = 0;
    };
    static constexpr int CacheEntries = 64;
    static constexpr qsizetype CacheMaxBytes = 1024 * 1024; // per reply
    static constexpr qint64 CacheMs = 2000;

    static constexpr int MaxYields = 200;

    CKESTRADoc& m_doc;
    const CPool* m_pool = nullptr;
    Server m_server;
    std::unique_ptr<StationPages> m_pages;
    Limits m_limits;
    QList<Connection*> m_connections;
    quint64 m_serials = 0;
    QHash<QString, int> m_perGroup;
    struct Allowance {
        double requests = 0;
        qint64 atMs = 0;
    };
    QHash<QString, Allowance> m_allowance;
    QHash<QString, qint64> m_lastLog;
    QMap<QString, qint64> m_served;
    QMap<QString, qint64> m_refused;
    QHash<QString, Cached> m_cache;
    QElapsedTimer m_clock;
    QString m_lastError;
};
