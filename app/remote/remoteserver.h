#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class CPool;
class RemoteBackend;

// One accepted connection: gathers its request without blocking, and is served by the pool
// once the request is whole.
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

    CPool* m_pool;
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
// served one at a time on the thread that owns the pool.
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

    int connectionCount() const { return static_cast<int>(m_clients.size()); }
    int subscriberCount() const;
    int requestsServed() const { return m_served; }

private:
    friend class CServer;
    friend class CClientSocket;

    void accept(qintptr descriptor);
    void ready(CClientSocket* client);
    void drop(CClientSocket* client);
    void serveQueue();
    void serve(CClientSocket* client);
    bool passwordSet() const;

    RemoteBackend* m_backend;
    CServer* m_server = nullptr;
    QList<CClientSocket*> m_clients;
    QList<QPointer<CClientSocket>> m_queue;
    bool m_serving = false;
    int m_served = 0;
    int m_lastError = 0;
    QString m_lastErrorText;
};
