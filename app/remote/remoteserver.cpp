#include "remote/remoteserver.h"

#include "config/applog.h"
#include "config/password.h"
#include "history/archivestream.h"
#include "remote/remoteprotocol.h"
#include "remote/requesthandler.h"

#include <QtEndian>

#include <algorithm>

namespace {

qint32 wordAt(const QByteArray& bytes)
{
    return qFromLittleEndian<qint32>(bytes.constData());
}

// An IPv4 peer reached on a dual-stack socket shows as ::ffff:a.b.c.d; it is that IPv4 address.
QHostAddress plainAddress(const QHostAddress& peer)
{
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    return mapped && peer.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4) : peer;
}

QByteArray word(qint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

} // namespace

CClientSocket::CClientSocket(CPool* pool)
    : QTcpSocket(pool)
    , m_pool(pool)
{
    m_deadline.setSingleShot(true);
    m_replyDeadline.setSingleShot(true);
    // Silent or slow peers lose their connection; nobody else waits for them. A subscriber's
    // time is up the same way.
    const auto close = [this] {
        abort();
        m_pool->drop(this);
    };
    connect(&m_deadline, &QTimer::timeout, this, close);
    connect(&m_replyDeadline, &QTimer::timeout, this, close);
    connect(this, &QTcpSocket::readyRead, this, &CClientSocket::takeInput);
    connect(this, &QTcpSocket::bytesWritten, this, &CClientSocket::replyProgress);
    connect(this, &QTcpSocket::disconnected, this, [this] { m_pool->drop(this); });
}

void CClientSocket::sendReply(const QByteArray& reply, bool keepOpen)
{
    // A peer that does not take its reply would keep its slot for ever; it has the deadline for
    // each part of it, so a slow but steady reader of a large reply is served to the end.
    m_replying = true;
    m_deadline.start(m_pool->deadlineMs());
    m_replyDeadline.start(m_pool->m_replyDeadlineMs);
    write(reply);
    if (!keepOpen)
        disconnectFromHost(); // closes once the reply is out
}

void CClientSocket::replyProgress()
{
    if (!m_replying)
        return;
    if (bytesToWrite() > 0) {
        m_deadline.start(m_pool->deadlineMs());
        return;
    }
    m_replyDeadline.stop();
    if (subscribed)
        m_deadline.start(m_pool->m_subscriptionMs);
    else
        m_deadline.stop();
}

void CClientSocket::takeInput()
{
    if (m_stage == Stage::Ready) {
        // A subscriber or a connection waiting to be served: nothing more is read.
        if (bytesAvailable() > Remote::maxRequestBytes) {
            abort();
            m_pool->drop(this);
        }
        return;
    }
    m_input += readAll();
    if (m_input.size() > Remote::maxRequestBytes) {
        abort();
        m_pool->drop(this);
        return;
    }
    resume();
}

void CClientSocket::resume()
{
    try {
        while (advance()) { }
    } catch (const StreamError&) {
        // A malformed request closes its connection; the server goes on listening.
        abort();
        m_pool->drop(this);
    }
}

bool CClientSocket::parseValues(qint32 code, const QByteArray& bytes, qsizetype* used)
{
    StreamReader in(bytes);
    try {
        switch (code) {
        case Remote::DayEvents:
            in.readText();
            in.readText();
            in.readInt32();
            break;
        case Remote::EventsSince:
            in.readTime();
            break;
        case Remote::UpdateComment: {
            ChistoryRec record;
            record.read(in);
            break;
        }
        case Remote::WriteUserParams: {
            CUserParams params;
            params.read(in);
            break;
        }
        default:
            break;
        }
    } catch (const StreamError& error) {
        if (error.kind() == StreamError::Kind::EndOfFile)
            return false; // the rest has not arrived yet
        throw;
    }
    *used = bytes.size() - in.remaining();
    return true;
}

// The check of a password whose turn has come; false when the request ends with it.
bool CClientSocket::checkPassword()
{
    m_checkDue = false;
    const bool accepted = m_pool->passwordSet() && Password::matches(m_password, m_pool->m_backend->passwordDigest());
    m_password.clear();
    m_pool->passwordChecked(*this, accepted);
    if (!accepted) {
        // Nothing more for this request.
        m_stage = Stage::Ready;
        served = true;
        sendReply(word(0), false);
        return false;
    }
    write(word(1));
    m_stage = m_code == Remote::WriteUserParams ? Stage::ParamsAfterPassword : Stage::Ready;
    if (m_stage == Stage::ParamsAfterPassword)
        m_deadline.start(m_pool->deadlineMs());
    return true;
}

// Takes the next step of the request from the input; false when it needs more bytes.
bool CClientSocket::advance()
{
    switch (m_stage) {
    case Stage::Code:
        if (m_input.size() < 4)
            return false;
        m_code = wordAt(m_input);
        m_input.remove(0, 4);
        if (Remote::needsPassword(m_code)) {
            // Without a password only this computer may change the instrument's settings: another
            // computer is asked for a password that nothing matches.
            const bool required
                = m_pool->passwordSet() || (m_code == Remote::WriteUserParams && !CPool::isLocalPeer(m_peer));
            write(word(required ? 0 : 1));
            if (required)
                m_stage = Stage::Password;
            else
                m_stage = m_code == Remote::WriteUserParams ? Stage::ParamsAfterPassword : Stage::Ready;
        } else {
            m_stage = Stage::Values;
        }
        break;
    case Stage::Password: {
        StreamReader in(m_input);
        QString value;
        try {
            value = in.readText();
        } catch (const StreamError& error) {
            if (error.kind() == StreamError::Kind::EndOfFile)
                return false;
            throw;
        }
        m_input.remove(0, m_input.size() - in.remaining());
        m_password = value;
        m_stage = Stage::PasswordWait;
        // A peer that keeps guessing waits longer for each answer; meanwhile its connection
        // holds one of its slots and reads nothing.
        if (const int waitMs = m_pool->reservePasswordCheck(m_peer); waitMs > 0) {
            m_deadline.stop();
            QTimer::singleShot(waitMs, this, [this] {
                m_checkDue = true;
                resume();
            });
            return false;
        }
        m_checkDue = true;
        break;
    }
    case Stage::PasswordWait:
        if (!m_checkDue || !checkPassword())
            return false;
        break;
    case Stage::Values:
    case Stage::ParamsAfterPassword: {
        qsizetype used = 0;
        if (!parseValues(m_code, m_input, &used))
            return false;
        m_values = m_input.left(used);
        m_input.remove(0, used);
        m_stage = Stage::Ready;
        break;
    }
    case Stage::Ready:
        return false;
    }
    if (m_stage == Stage::Ready && !served) {
        m_deadline.stop();
        m_pool->ready(this);
        return false;
    }
    return true;
}

CServer::CServer(CPool* pool)
    : QTcpServer(pool)
    , m_pool(pool)
{
}

void CServer::incomingConnection(qintptr descriptor)
{
    m_pool->accept(descriptor);
}

CPool::CPool(RequestHandler* backend, QObject* parent)
    : QObject(parent)
    , m_backend(backend)
    , m_deadlineMs(Remote::inputDeadlineMs)
    , m_replyDeadlineMs(Remote::replyTotalDeadlineMs)
    , m_subscriptionMs(Remote::subscriptionMs)
    , m_freeFailures(Remote::freePasswordFailures)
    , m_firstDelayMs(Remote::passwordDelayMs)
    , m_delayCapMs(Remote::passwordDelayCapMs)
{
    m_clock.start();
}

CPool::~CPool()
{
    stop();
}

bool CPool::start(quint16 port)
{
    return start(QHostAddress::Any, port);
}

bool CPool::start(const QHostAddress& address, quint16 port)
{
    stop();
    m_server = new CServer(this);
    if (!m_server->listen(address, port)) {
        m_lastError = static_cast<int>(m_server->serverError());
        m_lastErrorText = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    return true;
}

void CPool::stop()
{
    const auto clients = m_clients;
    m_clients.clear();
    m_queue.clear();
    for (CClientSocket* client : clients) {
        client->disconnect(this);
        client->abort();
        delete client;
    }
    delete m_server;
    m_server = nullptr;
}

bool CPool::listening() const
{
    return m_server && m_server->isListening();
}

quint16 CPool::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QHostAddress CPool::address() const
{
    return m_server ? m_server->serverAddress() : QHostAddress();
}

void CPool::setPasswordDelays(int freeFailures, int firstMs, int capMs)
{
    m_freeFailures = freeFailures;
    m_firstDelayMs = firstMs;
    m_delayCapMs = capMs;
}

bool CPool::isLocalPeer(const QHostAddress& peer)
{
    return plainAddress(peer).isLoopback();
}

QString CPool::peerGroup(const QHostAddress& peer)
{
    const QHostAddress plain = plainAddress(peer);
    if (plain.protocol() != QAbstractSocket::IPv6Protocol)
        return plain.toString();
    Q_IPV6ADDR bytes = plain.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

int CPool::reservePasswordCheck(const QHostAddress& peer)
{
    prunePeers();
    const qint64 now = m_clock.elapsed();
    PeerRecord& record = m_peers[peerGroup(peer)];
    if (record.lastFailureMs >= 0 && now - record.lastFailureMs > Remote::passwordFailuresForgottenMs
        && record.pending == 0) {
        record.failures = 0;
        record.nextCheckMs = 0;
    }
    // Checks of one peer take turns, each counted as failed until it is done: a peer that
    // guesses on many connections at once waits as long as one that guesses on one.
    const qint64 at = std::max(now, record.nextCheckMs);
    ++record.pending;
    const int assumedFailures = record.failures + record.pending;
    qint64 delay = 0;
    if (assumedFailures > m_freeFailures) {
        const int doublings = std::min(assumedFailures - m_freeFailures - 1, 30);
        delay = std::min<qint64>(qint64(m_firstDelayMs) << doublings, m_delayCapMs);
    }
    record.nextCheckMs = at + delay;
    return static_cast<int>(at - now);
}

void CPool::passwordChecked(const CClientSocket& client, bool accepted)
{
    const qint64 now = m_clock.elapsed();
    const QString group = peerGroup(client.m_peer);
    PeerRecord& record = m_peers[group];
    record.pending = std::max(0, record.pending - 1);
    if (accepted) {
        record.failures = 0;
        record.nextCheckMs = 0;
        m_grants.insert(client.m_peer.toString(), now + Remote::commentGrantMs);
        return;
    }
    ++m_failedChecks;
    ++record.failures;
    record.lastFailureMs = now;
    const QString why = passwordSet()
        ? QStringLiteral("wrong password")
        : QStringLiteral("this station has no password, and only this computer may change the instrument's settings "
                         "without one");
    AppLog::write(
        QStringLiteral("Server: password check of request %1 from %2 refused (%3); %4 failed in a row from "
                       "%5, the next check waits %6 ms")
            .arg(QString::number(client.code()), client.m_peer.toString(), why, QString::number(record.failures), group,
                QString::number(std::max<qint64>(0, record.nextCheckMs - now))));
}

bool CPool::commentAllowed(const QHostAddress& peer)
{
    if (isLocalPeer(peer))
        return true;
    if (!passwordSet()) {
        logRefusal(peer,
            QStringLiteral("this station has no password, and only this computer may change comments without one"));
        return false;
    }
    const auto grant = m_grants.constFind(peer.toString());
    if (grant != m_grants.cend() && grant.value() >= m_clock.elapsed())
        return true;
    logRefusal(peer, QStringLiteral("the peer has not passed the password check"));
    return false;
}

void CPool::logRefusal(const QHostAddress& peer, const QString& what)
{
    // One line a minute for each peer: a peer that repeats itself cannot fill the log.
    const qint64 now = m_clock.elapsed();
    PeerRecord& record = m_peers[peerGroup(peer)];
    if (record.lastRefusalLogMs >= 0 && now - record.lastRefusalLogMs < 60 * 1000)
        return;
    record.lastRefusalLogMs = now;
    AppLog::write(QStringLiteral("Server: comment from %1 refused: %2").arg(peer.toString(), what));
}

void CPool::prunePeers()
{
    // Bounded whoever calls: what is over and done is forgotten first.
    constexpr qsizetype bound = 4096;
    const qint64 now = m_clock.elapsed();
    if (m_grants.size() > bound)
        m_grants.removeIf([now](const auto& grant) { return grant.value() < now; });
    if (m_peers.size() <= bound)
        return;
    m_peers.removeIf([now](const auto& peer) {
        const PeerRecord& r = peer.value();
        return r.pending == 0 && r.nextCheckMs <= now
            && (r.failures == 0 || now - r.lastFailureMs > Remote::passwordFailuresForgottenMs);
    });
    // Guessed at from very many addresses at once: the memory stays bounded, at the price of
    // forgetting the failures of peers that wait for nothing now.
    if (m_peers.size() > 4 * bound)
        m_peers.removeIf(
            [now](const auto& peer) { return peer.value().pending == 0 && peer.value().nextCheckMs <= now; });
}

int CPool::subscriberCount() const
{
    int n = 0;
    for (const CClientSocket* client : m_clients)
        n += client->subscribed ? 1 : 0;
    return n;
}

int CPool::requestsWaiting() const
{
    int n = 0;
    for (const QPointer<CClientSocket>& client : m_queue)
        n += client && m_clients.contains(client.data()) ? 1 : 0;
    return n;
}

bool CPool::passwordSet() const
{
    return Password::isSet(m_backend->passwordDigest());
}

void CPool::accept(qintptr descriptor)
{
    auto* client = new CClientSocket(this);
    if (!client->setSocketDescriptor(descriptor)) {
        delete client;
        return;
    }
    client->m_peer = plainAddress(client->peerAddress());
    if (m_clients.size() >= Remote::maxConnections
        || connectionsFrom(client->m_peer) >= Remote::maxConnectionsPerPeer) {
        // Closed at once: whoever holds the slots, they are freed by their deadlines, and one
        // address cannot hold them all.
        client->abort();
        delete client;
        return;
    }
    m_clients.append(client);
    client->m_deadline.start(m_deadlineMs);
    if (client->bytesAvailable() > 0)
        client->takeInput();
}

int CPool::connectionsFrom(const QHostAddress& peer) const
{
    const QString group = peerGroup(peer);
    int n = 0;
    for (const CClientSocket* client : m_clients)
        n += peerGroup(client->m_peer) == group ? 1 : 0;
    return n;
}

void CPool::drop(CClientSocket* client)
{
    if (!m_clients.removeOne(client))
        return;
    if (client->m_stage == CClientSocket::Stage::PasswordWait) {
        // Its turn is given back; it counts as no check at all.
        PeerRecord& record = m_peers[peerGroup(client->m_peer)];
        record.pending = std::max(0, record.pending - 1);
    }
    client->m_deadline.stop();
    client->m_replyDeadline.stop();
    client->disconnect(this);
    client->deleteLater();
}

void CPool::ready(CClientSocket* client)
{
    // A poll that comes during the program's own download needs nothing of the program but its
    // answer "busy"; it gets it at once instead of after the download.
    if (client->code() == Remote::EventsSince && m_backend->downloadBusy()) {
        client->served = true;
        ++m_served;
        client->sendReply(word(1) + word(1), false);
        return;
    }
    m_queue.append(client);
    schedule();
}

void CPool::schedule()
{
    // One request at a time: a request that becomes whole while another is served (the document
    // spins an event loop during a long job) waits its turn. Serving starts from the event loop,
    // never inside the connection's own notification, which may not outlive the request.
    if (m_scheduled || m_queue.isEmpty())
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(this, &CPool::serveWhenIdle, Qt::QueuedConnection);
}

void CPool::serveWhenIdle()
{
    m_backend->whenIdle([pool = QPointer<CPool>(this)] {
        if (pool)
            pool->serveNext();
    });
}

void CPool::serveNext()
{
    QPointer<CClientSocket> client;
    while (!client && !m_queue.isEmpty()) {
        client = m_queue.takeFirst();
        if (client && !m_clients.contains(client.data()))
            client = nullptr; // dropped while it waited
    }
    if (client && !serve(client))
        return; // the pool itself went during the request
    m_scheduled = false;
    schedule();
}

// False when the pool was destroyed while the backend ran the request.
bool CPool::serve(CClientSocket* client)
{
    // The document may run an event loop during a long request; the peer, or the whole server,
    // may be gone after it. The reply of a peer that left is dropped.
    const QPointer<CPool> self(this);
    const QPointer<CClientSocket> guard(client);
    client->served = true;
    const QByteArray values = client->values();
    QByteArray reply;
    StreamWriter out(&reply, m_backend->filterIndex());
    StreamReader in(values);
    try {
        switch (client->code()) {
        case Remote::LoadInstruments:
            m_backend->loadInstrumentList().write(out);
            break;
        case Remote::DayEvents: {
            const QString id = in.readText();
            const QString date = in.readText();
            const qint32 queryMode = in.readInt32();
            CHistoryList list = m_backend->dayEvents(id, date, queryMode);
            list.writeAll = true;
            list.write(out);
            break;
        }
        case Remote::ReadHistory:
            out.writeInt32(m_backend->readHistory() ? 1 : 0);
            break;
        case Remote::ReadMeasurements: {
            CMeasurements values;
            const bool ok = m_backend->readMeasurements(values);
            out.writeInt32(ok ? 1 : 0);
            if (ok)
                values.write(out);
            break;
        }
        case Remote::WriteUserParams: {
            CUserParams params;
            params.read(in);
            out.writeInt32(m_backend->writeUserParams(params) ? 1 : 0);
            break;
        }
        case Remote::ReadUserParams: {
            CUserParams params;
            const bool ok = m_backend->readUserParams(params);
            out.writeInt32(ok ? 1 : 0);
            if (ok)
                params.write(out);
            break;
        }
        case Remote::InstrumentName: {
            QString name;
            const bool ok = m_backend->instrumentName(name);
            out.writeInt32(ok ? 1 : 0);
            if (ok)
                out.writeText(name);
            break;
        }
        case Remote::Units: {
            bool roentgen = false;
            out.writeInt32(m_backend->units(roentgen) ? 1 : 0);
            out.writeBool(roentgen);
            break;
        }
        case Remote::EventsSince: {
            const qint64 since = in.readTime();
            out.writeInt32(1);
            if (m_backend->downloadBusy()) {
                out.writeInt32(1);
                break;
            }
            out.writeInt32(0);
            const std::vector<ChistoryRec> events = m_backend->eventsNewerThan(since);
            out.writeInt32(static_cast<qint32>(events.size()));
            for (const ChistoryRec& record : events)
                record.write(out);
            break;
        }
        case Remote::Subscribe:
            if (subscriberCount() >= Remote::maxSubscribers) {
                // Beyond the bound a subscription is refused by closing its connection.
                client->abort();
                drop(client);
                return true;
            }
            client->subscribed = true;
            out.writeInt32(1);
            break;
        case Remote::UpdateComment: {
            ChistoryRec record;
            record.read(in);
            out.writeInt32(commentAllowed(client->m_peer) && m_backend->updateComment(record) ? 1 : 0);
            break;
        }
        case Remote::CheckPassword:
            break;
        default:
            out.writeByte(0);
            break;
        }
    } catch (const std::exception&) {
        if (!self)
            return false;
        if (guard) {
            client->abort();
            drop(client);
        }
        return true;
    }
    if (!self)
        return false;
    ++m_served;
    if (guard && m_clients.contains(client) && client->state() == QAbstractSocket::ConnectedState)
        client->sendReply(reply, client->subscribed);
    return true;
}
