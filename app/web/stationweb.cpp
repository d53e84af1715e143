#include "web/stationweb.h"

#include "config/applog.h"
#include "document/kestradoc.h"
#include "remote/remoteprotocol.h"
#include "remote/remoteserver.h"
#include "web/stationpages.h"

#include <QPointer>
#include <QTcpSocket>

#include <ctime>

StationWeb::StationWeb(CKESTRADoc& doc, QObject* parent)
    : QObject(parent)
    , m_doc(doc)
    , m_server(*this)
    , m_pages(std::make_unique<StationPages>(doc))
{
    m_clock.start();
    connect(&m_doc, &CKESTRADoc::historyStored, this, [this](const QString&, int count, int added, bool committed) {
        m_pages->downloaded(std::time(nullptr), count, added, committed);
        m_cache.clear();
    });
}

StationWeb::~StationWeb()
{
    stop();
}

void StationWeb::setStationPool(const CPool* pool)
{
    m_pool = pool;
    m_pages->setStationPool(pool);
}

std::optional<std::pair<QHostAddress, quint16>> StationWeb::parseListen(const QString& text)
{
    const std::optional<std::pair<QString, quint16>> where = Remote::parseListen(text);
    if (!where)
        return std::nullopt;
    // Loopback unless an address is given.
    const QHostAddress host
        = where->first.isEmpty() ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(where->first);
    return std::pair { host, where->second };
}

bool StationWeb::start(const QHostAddress& address, quint16 port)
{
    if (!m_server.listen(address, port)) {
        m_lastError = m_server.errorString();
        return false;
    }
    return true;
}

void StationWeb::stop()
{
    m_server.close();
    while (!m_connections.isEmpty())
        drop(m_connections.first());
}

void StationWeb::accept(qintptr descriptor)
{
    auto* c = new Connection;
    c->serial = ++m_serials;
    c->socket = new QTcpSocket(this);
    if (!c->socket->setSocketDescriptor(descriptor)) {
        delete c->socket;
        delete c;
        return;
    }
    c->peer = c->socket->peerAddress();
    c->group = CPool::peerGroup(c->peer);
    // Qt's own buffer is bounded too: past a whole head's bound nothing more is read.
    c->socket->setReadBufferSize(HttpRequest::MaxRequestLine + HttpRequest::MaxHeaders + 2);
    m_connections.append(c);
    const int fromPeer = ++m_perGroup[c->group];
    c->deadline.setSingleShot(true);
    connect(&c->deadline, &QTimer::timeout, this, [this, c] {
        if (c->answering) {
            // The peer does not take its reply.
            ++m_refused[QStringLiteral("deadline")];
            logRefusal(c->group, QStringLiteral("the reply to %1 did not end in time").arg(c->peer.toString()));
            drop(c);
        } else {
            refuse(c, 408, QStringLiteral("deadline"),
                QStringLiteral("%1 did not send its request in time").arg(c->peer.toString()));
        }
    });
    connect(c->socket, &QTcpSocket::readyRead, this, [this, c] { takeInput(c); });
    connect(c->socket, &QTcpSocket::disconnected, this, [this, c] { drop(c); });
    connect(c->socket, &QTcpSocket::bytesWritten, this, [this, c] {
        if (c->answering && c->socket->bytesToWrite() == 0)
            c->socket->disconnectFromHost();
    });
    if (m_connections.size() > 2 * m_limits.connections) {
        // A flood: not even a refusal is written, so that it holds nothing here.
        ++m_refused[QStringLiteral("peer-limit")];
        logRefusal(c->group, QStringLiteral("%1: too many connections open").arg(c->peer.toString()));
        drop(c);
        return;
    }
    if (fromPeer > m_limits.connectionsPerPeer || m_connections.size() > m_limits.connections) {
        refuse(c, 503, QStringLiteral("peer-limit"),
            QStringLiteral("%1 has too many connections open").arg(c->peer.toString()));
        return;
    }
    c->deadline.start(m_limits.headerDeadlineMs);
    if (c->socket->bytesAvailable() > 0)
        takeInput(c);
}

void StationWeb::takeInput(Connection* c)
{
    if (c->answering)
        return; // one request per connection: what follows it is not read
    constexpr qsizetype bound = HttpRequest::MaxRequestLine + HttpRequest::MaxHeaders + 2;
    c->input += c->socket->read(bound + 1 - c->input.size());
    HttpRequest::Request request;
    const HttpRequest::Outcome outcome = HttpRequest::parse(c->input, &request);
    if (outcome == HttpRequest::Outcome::Incomplete) {
        if (c->input.size() > bound)
            refuse(c, 431, QStringLiteral("too-large"),
                QStringLiteral("%1 sent a request head over the bound").arg(c->peer.toString()));
        return;
    }
    if (outcome != HttpRequest::Outcome::Ready) {
        const int status = HttpRequest::statusOf(outcome);
        const QString reason = status == 414 || status == 431 ? QStringLiteral("too-large")
            : status == 405                                   ? QStringLiteral("method")
                                                              : QStringLiteral("bad-request");
        refuse(c, status, reason,
            QStringLiteral("%1: %2 %3")
                .arg(c->peer.toString(), QString::number(status),
                    QString::fromLatin1(HttpRequest::reasonPhrase(status))));
        return;
    }
    if (!withinRate(c->group)) {
        refuse(c, 429, QStringLiteral("rate"),
            QStringLiteral("%1 asks more than %2 requests a second")
                .arg(c->peer.toString())
                .arg(m_limits.requestsPerSecond));
        return;
    }
    c->answering = true;
    c->input.clear();
    c->deadline.start(m_limits.replyDeadlineMs);
    schedule(c, request, 0);
}

bool StationWeb::withinRate(const QString& group)
{
    const qint64 now = m_clock.elapsed();
    const double burst = 2.0 * m_limits.requestsPerSecond;
    // Peers quiet for a minute have their whole allowance again: they need no entry.
    if (m_allowance.size() > 4096)
        m_allowance.removeIf([now](const auto& entry) { return now - entry.value().atMs >= 60 * 1000; });
    auto it = m_allowance.find(group);
    if (it == m_allowance.end())
        it = m_allowance.insert(group, Allowance { burst, now });
    Allowance& a = it.value();
    a.requests = std::min(burst, a.requests + double(now - a.atMs) * m_limits.requestsPerSecond / 1000.0);
    a.atMs = now;
    if (a.requests < 1.0)
        return false;
    a.requests -= 1.0;
    return true;
}

void StationWeb::schedule(Connection* c, const HttpRequest::Request& request, int yields)
{
    // Served once the document is idle, which may be after the peer has gone. The station's own
    // requests go first: while its TCP server has requests waiting, a web request waits a
    // moment, a bounded number of times, so that browsers never starve it nor it them.
    QPointer<StationWeb> self = this;
    const quint64 serial = c->serial;
    m_doc.whenIdle([self, c, serial, request, yields] {
        if (!self || !self->alive(c, serial))
            return;
        if (self->m_pool && self->m_pool->requestsWaiting() > 0 && yields < MaxYields) {
            QTimer::singleShot(1, self, [self, c, serial, request, yields] {
                if (self && self->alive(c, serial))
                    self->schedule(c, request, yields + 1);
            });
            return;
        }
        self->serve(c, request);
    });
}

bool StationWeb::alive(const Connection* connection, quint64 serial) const
{
    // The serial tells a connection from a later one that got the same address.
    return m_connections.contains(const_cast<Connection*>(connection)) && connection->serial == serial;
}

void StationWeb::serve(Connection* c, const HttpRequest::Request& request)
{
    QString key = request.path;
    for (const auto& [name, value] : request.query)
        key += u'\x1f' + name + u'=' + value;
    const qint64 now = m_clock.elapsed();
    auto cached = m_cache.constFind(key);
    if (cached == m_cache.cend() || now - cached->madeMs >= CacheMs) {
        WebReply fresh = m_pages->answer(request, m_served, m_refused);
        // The metrics and the reading are cheap and their counters must be current.
        if (fresh.status != 200 || fresh.body.size() > CacheMaxBytes || fresh.kind == u"metrics"
            || request.path == u"/api/v1/reading") {
            ++m_served[fresh.kind];
            send(c, fresh.status, fresh.type, fresh.body, request.head, fresh.headers);
            return;
        }
        if (m_cache.size() >= CacheEntries)
            m_cache.removeIf([now](const auto& entry) { return now - entry.value().madeMs >= CacheMs; });
        if (m_cache.size() >= CacheEntries)
            m_cache.clear();
        cached = m_cache.insert(key, { std::move(fresh), now });
    }
    const WebReply& reply = cached->reply;
    ++m_served[reply.kind];
    send(c, reply.status, reply.type, reply.body, request.head, reply.headers);
}

void StationWeb::refuse(Connection* c, int status, const QString& reason, const QString& logText)
{
    ++m_refused[reason];
    logRefusal(c->group, logText);
    c->answering = true;
    c->deadline.start(m_limits.replyDeadlineMs);
    const QByteArray extra = status == 405 ? QByteArray("Allow: GET, HEAD\r\n")
        : status == 429                    ? QByteArray("Retry-After: 1\r\n")
                                           : QByteArray();
    send(c, status, "text/plain; charset=utf-8",
        QByteArray::number(status) + ' ' + HttpRequest::reasonPhrase(status) + '\n', false, extra);
}

void StationWeb::send(Connection* c, int status, const QByteArray& type, const QByteArray& body, bool headOnly,
    const QByteArray& extraHeaders)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + HttpRequest::reasonPhrase(status) + "\r\n";
    head += "Content-Type: " + type + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Connection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    head += extraHeaders;
    head += "\r\n";
    c->socket->write(head);
    if (!headOnly)
        c->socket->write(body);
}

void StationWeb::drop(Connection* c)
{
    const qsizetype at = m_connections.indexOf(c);
    if (at < 0)
        return;
    m_connections.removeAt(at);
    if (--m_perGroup[c->group] <= 0)
        m_perGroup.remove(c->group);
    c->deadline.stop();
    c->socket->disconnect(this);
    c->socket->abort();
    c->socket->deleteLater();
    delete c;
}

void StationWeb::logRefusal(const QString& group, const QString& text)
{
    // One line a minute for each peer: a peer that repeats itself cannot fill the log.
    const qint64 now = m_clock.elapsed();
    if (m_lastLog.size() > 4096)
        m_lastLog.removeIf([now](const auto& entry) { return now - entry.value() >= 60 * 1000; });
    const auto last = m_lastLog.constFind(group);
    if (last != m_lastLog.cend() && now - last.value() < 60 * 1000)
        return;
    m_lastLog.insert(group, now);
    AppLog::write(QStringLiteral("Web: refused %1").arg(text));
    emit refused(text);
}
