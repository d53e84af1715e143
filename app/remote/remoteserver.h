#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class CPool;
class RequestHandler;

// One accepted connection: gathers its request without blocking, is served by the pool from its
// queue once the request is whole, and must take its reply within the pool's deadline.
class CClientSocket final : public QTcpSocket {
    Q_OBJECT
public:
    explicit CClientSocket(CPool* pool);

    // The two flags of a connection: it has been served, it is subscribed (request 9).
    bool served = false;
    bool subscribed = false;

    // What the request holds once whole.
    qint32 code() const { return m_code; }
    const QByteArray& values() const { return m_values; }

private:
    enum class Stage { Code, Values, Password, PasswordWait, ParamsAfterPassword, Ready };

    void takeInput();
    void resume();
    bool advance();
    bool checkPassword();
    bool parseValues(qint32 code, const QByteArray& bytes, qsizetype* used);
    void sendReply(const QByteArray& reply, bool keepOpen);
    void replyProgress();

    CPool* m_pool;
    // The peer's address, taken at accept time: a socket that closes forgets it.
    QHostAddress m_peer;
    bool m_replying = false;
    QByteArray m_input;
    QByteArray m_values;
    qint32 m_code = -1;
    Stage m_stage = Stage::Code;
    // The password a peer sent, while its check waits for the peer's turn.
    QString m_password;
    bool m_checkDue = false;
    QTimer m_deadline;
    // The whole reply's deadline, however steadily the peer takes it.
    QTimer m_replyDeadline;

    friend class CPool;
};

// The listening socket.
class CServer final : public QTcpServer {
    Q_OBJECT
public:
    explicit CServer(CPool* pool);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    CPool* m_pool;
};

// The server: its listening socket, its open connections and the subscribed ones. Requests are
// served one at a time, in the order they became whole, on the thread that owns the pool: from
// its event loop, and only when the backend is idle.
class CPool final : public QObject {
    Q_OBJECT
public:
    explicit CPool(RequestHandler* backend, QObject* parent = nullptr);
    ~CPool() override;

    // Listens on `port` of every local address, or of one; false with lastError() set when it
    // cannot.
    bool start(quint16 port);
    bool start(const QHostAddress& address, quint16 port);
    void stop();
    bool listening() const;
    quint16 port() const;
    QHostAddress address() const;
    int lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }

    // How long a peer may take to deliver its request, and to take each part of its reply.
    void setDeadlineMs(int ms) { m_deadlineMs = ms; }
    int deadlineMs() const { return m_deadlineMs; }
    // How long a whole reply may take, and how long a subscription lasts.
    void setReplyDeadlineMs(int ms) { m_replyDeadlineMs = ms; }
    void setSubscriptionMs(int ms) { m_subscriptionMs = ms; }
    // The waits after failed password checks: so many failures free, then the first wait,
    // doubled at each failure up to the cap.
    void setPasswordDelays(int freeFailures, int firstMs, int capMs);

    // This computer's own peers; other computers may change nothing without the password.
    static bool isLocalPeer(const QHostAddress& peer);
    // What limits count a peer by: its IPv4 address, or the /64 network of its IPv6 address.
    static QString peerGroup(const QHostAddress& peer);

    int connectionCount() const { return static_cast<int>(m_clients.size()); }
    int subscriberCount() const;
    int requestsServed() const { return m_served; }
    int failedPasswordChecks() const { return m_failedChecks; }
    // Requests that are whole and wait their turn.
    int requestsWaiting() const;

private:
    friend class CServer;
    friend class CClientSocket;

    void accept(qintptr descriptor);
    int connectionsFrom(const QHostAddress& peer) const;
    void ready(CClientSocket* client);
    void drop(CClientSocket* client);
    void schedule();
    void serveWhenIdle();
    void serveNext();
    bool serve(CClientSocket* client);
    bool passwordSet() const;
    // Milliseconds the password check of a peer must wait for its turn; takes the turn.
    int reservePasswordCheck(const QHostAddress& peer);
    void passwordChecked(const CClientSocket& client, bool accepted);
    // Request 10 from other computers needs a password check that passed shortly before.
    bool commentAllowed(const QHostAddress& peer);
    void logRefusal(const QHostAddress& peer, const QString& what);
    void prunePeers();

    // What the server remembers of a peer (group): its failed checks in a row, checks waiting,
    // and when the next check may run.
    struct PeerRecord {
        int failures = 0;
        int pending = 0;
        qint64 nextCheckMs = 0;
        qint64 lastFailureMs = -1;
        qint64 lastRefusalLogMs = -1;
    };

    RequestHandler* m_backend;
    CServer* m_server = nullptr;
    QList<CClientSocket*> m_clients;
    QList<QPointer<CClientSocket>> m_queue;
    // Set from the moment serving is asked of the backend until that request has been served.
    bool m_scheduled = false;
    int m_deadlineMs;
    int m_replyDeadlineMs;
    int m_subscriptionMs;
    int m_freeFailures;
    int m_firstDelayMs;
    int m_delayCapMs;
    int m_served = 0;
    int m_failedChecks = 0;
    QElapsedTimer m_clock;
    QHash<QString, PeerRecord> m_peers;
    // Peers (exact addresses) that passed request 11, with the time their comment grant ends.
    QHash<QString, qint64> m_grants;
    int m_lastError = 0;
    QString m_lastErrorText;
};
