#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class CPool;
class RemoteBackend;

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
    enum class Stage { Code, Values, Password, ParamsAfterPassword, Ready };

    void takeInput();
    bool advance();
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
    QTimer m_deadline;

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
    explicit CPool(RemoteBackend* backend, QObject* parent = nullptr);
    ~CPool() override;

    // Listens on `port` of every local address; false with lastError() set when it cannot.
    bool start(quint16 port);
    void stop();
    bool listening() const;
    quint16 port() const;
    int lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }

    // How long a peer may take to deliver its request, and to take each part of its reply.
    void setDeadlineMs(int ms) { m_deadlineMs = ms; }
    int deadlineMs() const { return m_deadlineMs; }

    int connectionCount() const { return static_cast<int>(m_clients.size()); }
    int subscriberCount() const;
    int requestsServed() const { return m_served; }
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

    RemoteBackend* m_backend;
    CServer* m_server = nullptr;
    QList<CClientSocket*> m_clients;
    QList<QPointer<CClientSocket>> m_queue;
    // Set from the moment serving is asked of the backend until that request has been served.
    bool m_scheduled = false;
    int m_deadlineMs;
    int m_served = 0;
    int m_lastError = 0;
    QString m_lastErrorText;
};
