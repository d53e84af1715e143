// The request protocol over real TCP on 127.0.0.1: a server on a thread of its own with a
// backend holding real event data, and the client or raw sockets talking to it. Peers that must
// count as different hosts bind to other loopback addresses (all of 127/8 is local).
#include "config/applog.h"
#include "config/password.h"
#include "history/archivestream.h"
#include "remote/remoteclient.h"
#include "remote/remoteprotocol.h"
#include "remote/remoteserver.h"
#include "remote/requesthandler.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

namespace {

ChistoryRec event(const QString& pager, qint64 time, qint32 type, double value, qint32 alarm = 0)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = time;
    r.hType = type;
    r.hValue = value;
    r.hPrecision = 12;
    r.hAlarm = alarm;
    r.hID = ChistoryRec::makeKey(pager, time);
    return r;
}

// The program side of the server: a small instrument list and counters of what was asked.
class DataBackend final : public RequestHandler {
public:
    DataBackend()
    {
        CPager& pager = m_list.findOrCreate(QStringLiteral("4711"));
        pager.setName(QStringLiteral("Lab"));
        m_list.setTableName(QStringLiteral("4711"), QStringLiteral("Lab"));
        for (int i = 0; i < 5; ++i)
            pager.addEvent(event(QStringLiteral("4711"), base + i * 600, 3, 0.1 + i, i == 2 ? 1 : 0));
    }

    const CPagerList& loadInstrumentList() override { return m_list; }
    CHistoryList dayEvents(const QString& id, const QString&, int) override
    {
        CHistoryList list;
        if (const CPager* pager = m_list.find(id)) {
            if (const CHistoryList* day = pager->dayList(base))
                list = *day;
        }
        return list;
    }
    bool readHistory() override
    {
        note(QStringLiteral("history begins"));
        inHistory = true;
        // As the document does while it waits for the instrument: the event loop runs meanwhile.
        if (holdHistory) {
            QEventLoop loop;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (!holdHistory)
                    loop.quit();
            });
            poll.start(5);
            loop.exec();
        }
        inHistory = false;
        ++histories;
        note(QStringLiteral("history ends"));
        return true;
    }
    bool readMeasurements(CMeasurements& out) override
    {
        out.value = QStringLiteral("0.12");
        out.units = QStringLiteral("µSv/h");
        return true;
    }
    bool writeUserParams(const CUserParams& params) override
    {
        std::lock_guard lock(m_lock);
        written = params;
        return true;
    }
    bool readUserParams(CUserParams& out) override
    {
        out.historyInterval = 600;
        out.derThreshold1 = 12000;
        out.spareRealB = 1.5;
        return true;
    }
    bool instrumentName(QString& name) override
    {
        note(QStringLiteral("name"));
        name = bigName.isEmpty() ? QStringLiteral("4711") : bigName;
        return true;
    }
    bool units(bool& roentgen) override
    {
        note(QStringLiteral("units"));
        roentgen = true;
        return true;
    }
    bool downloadBusy() const override { return busy; }
    std::vector<ChistoryRec> eventsNewerThan(qint64 since) override
    {
        std::vector<ChistoryRec> result;
        for (const auto& [day, list] : m_list.find(QStringLiteral("4711"))->days()) {
            for (const ChistoryRec& r : list.records()) {
                if (r.hDateTime > since)
                    result.push_back(r);
            }
        }
        return result;
    }
    bool updateComment(const ChistoryRec& record) override
    {
        std::lock_guard lock(m_lock);
        comment = record.hComment;
        return true;
    }
    QString passwordDigest() const override
    {
        std::lock_guard lock(m_lock);
        return digest;
    }
    // While `holding`, the program is inside an operation: work waits until release().
    void whenIdle(std::function<void()> work) override
    {
        if (!holding) {
            work();
            return;
        }
        held.push_back(std::move(work));
        ++heldCount;
    }
    void release()
    {
        holding = false;
        while (!held.empty()) {
            auto work = std::move(held.front());
            held.pop_front();
            work();
        }
    }

    void note(const QString& call)
    {
        std::lock_guard lock(m_lock);
        calls.append(call);
    }
    QStringList takeCalls()
    {
        std::lock_guard lock(m_lock);
        return std::exchange(calls, {});
    }

    static constexpr qint64 base = 1'700'000'000;
    std::atomic<bool> busy { false };
    std::atomic<int> histories { 0 };
    std::atomic<bool> holdHistory { false };
    std::atomic<bool> inHistory { false };
    std::atomic<bool> holding { false };
    std::atomic<int> heldCount { 0 };
    std::deque<std::function<void()>> held; // the server's thread only
    // Set before the server starts: request 6 then answers many megabytes.
    QString bigName;
    mutable std::mutex m_lock;
    QString digest;
    QString comment;
    CUserParams written;
    QStringList calls;

private:
    CPagerList m_list;
};

// A server with its own event loop, as the window's thread would run it.
class ServerThread final : public QThread {
public:
    explicit ServerThread(DataBackend* backend, int deadlineMs = Remote::inputDeadlineMs)
        : m_backend(backend)
        , m_deadlineMs(deadlineMs)
    {
    }
    ~ServerThread() override
    {
        quit();
        wait();
    }
    quint16 startServer()
    {
        start();
        return m_port.get_future().get();
    }
    // Runs `work` on the server's thread, between two events of its loop, and waits for it.
    void runOnServer(std::function<void()> work)
    {
        QMetaObject::invokeMethod(m_pool, std::move(work), Qt::BlockingQueuedConnection);
    }
    // Set before startServer(): the pool's bounds for one test.
    std::function<void(CPool&)> configure;
    std::atomic<int> connections { -1 };
    std::atomic<int> subscribers { -1 };
    std::atomic<int> served { 0 };
    std::atomic<int> failedPasswordChecks { 0 };
    std::atomic<int> waiting { 0 };

protected:
    void run() override
    {
        CPool pool(m_backend);
        pool.setDeadlineMs(m_deadlineMs);
        if (configure)
            configure(pool);
        pool.start(0);
        m_pool = &pool;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            connections = pool.connectionCount();
            subscribers = pool.subscriberCount();
            served = pool.requestsServed();
            failedPasswordChecks = pool.failedPasswordChecks();
            waiting = pool.requestsWaiting();
        });
        sampler.start(10);
        m_port.set_value(pool.port());
        exec();
    }

private:
    DataBackend* m_backend;
    int m_deadlineMs;
    CPool* m_pool = nullptr;
    std::promise<quint16> m_port;
};

QByteArray word(qint32 value)
{
    QByteArray bytes;
    StreamWriter(&bytes).writeInt32(value);
    return bytes;
}

// The reply to request 6 for a name.
QByteArray nameReply(const QString& name)
{
    QByteArray bytes;
    StreamWriter out(&bytes);
    out.writeInt32(1);
    out.writeText(name);
    return bytes;
}

// A connection to the server from one of the loopback addresses. A small receive buffer keeps
// the kernel from taking much of a reply on the peer's behalf.
std::unique_ptr<QTcpSocket> connectFrom(const QString& address, quint16 port, int receiveBuffer = 0)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->bind(QHostAddress(address)))
        return nullptr;
    if (receiveBuffer > 0)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

// Everything the server sends until it closes; `closed` tells whether it did within the bound.
QByteArray readToClose(QTcpSocket& socket, bool* closed = nullptr)
{
    QElapsedTimer bound;
    bound.start();
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && bound.elapsed() < 20000) {
        socket.waitForReadyRead(1000);
        answer += socket.readAll();
    }
    answer += socket.readAll();
    if (closed)
        *closed = socket.state() == QAbstractSocket::UnconnectedState;
    return answer;
}

// One request from `address`: what came back, and whether the server closed the connection.
QByteArray askFrom(const QString& address, quint16 port, const QByteArray& request, bool* closed)
{
    auto socket = connectFrom(address, port);
    if (!socket)
        return "not connected";
    socket->write(request);
    socket->waitForBytesWritten(5000);
    return readToClose(*socket, closed);
}

QString loopback(int i)
{
    return QStringLiteral("127.0.0.%1").arg(2 + i);
}

// An address of this machine that is not loopback: a peer that connects to it counts as
// another computer. Empty when the machine has none.
QString otherComputer()
{
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && !a.isLinkLocal())
            return a.toString();
    }
    return {};
}

QStringList logLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestRemote : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server = new ServerThread(&m_backend);
        m_port = m_server->startServer();
        QVERIFY(m_port != 0);
        m_client.setServer(QStringLiteral("127.0.0.1"), m_port);
    }

    void cleanupTestCase()
    {
        m_server->quit();
        m_server->wait();
        delete m_server;
    }

    void init()
    {
        std::lock_guard lock(m_backend.m_lock);
        m_backend.digest.clear();
        m_backend.busy = false;
        m_backend.calls.clear();
    }

    void cleanup()
    {
        // Whatever a failed case left waiting on the server goes on.
        m_backend.holdHistory = false;
        m_server->runOnServer([this] { m_backend.release(); });
    }

    void everyRequestThroughTheClient()
    {
        CPagerList list;
        QVERIFY(m_client.loadInstrumentList(list));
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.tableName(QStringLiteral("4711")), QStringLiteral("Lab"));

        CHistoryList day;
        QVERIFY(m_client.dayEvents(QStringLiteral("4711"), QStringLiteral("2023-11-14"), 0, day));
        QVERIFY(day.size() > 0);
        CHistoryList none;
        QVERIFY(m_client.dayEvents(QStringLiteral("nobody"), QStringLiteral("2023-11-14"), 0, none));
        QCOMPARE(none.size(), 0);

        const int before = m_backend.histories;
        QVERIFY(m_client.readHistory());
        QCOMPARE(m_backend.histories.load(), before + 1);

        CMeasurements values;
        bool read = false;
        QVERIFY(m_client.readMeasurements(values, &read));
        QVERIFY(read);
        QCOMPARE(values.units, QStringLiteral("µSv/h"));

        CUserParams params;
        RemoteClient::PasswordCheck check;
        QVERIFY(m_client.readUserParams(QString(), params, &check));
        QCOMPARE(params.derThreshold1, 12000);
        QCOMPARE(params.spareRealB, 1.5);
        params.betaThreshold2 = 77;
        params.spareInt = -5;
        QVERIFY(m_client.writeUserParams(QString(), params, &check));
        {
            std::lock_guard lock(m_backend.m_lock);
            QVERIFY(m_backend.written == params);
        }

        QString name;
        QVERIFY(m_client.instrumentName(name));
        QCOMPARE(name, QStringLiteral("4711"));
        bool roentgen = false;
        QVERIFY(m_client.units(roentgen));
        QVERIFY(roentgen);

        std::vector<ChistoryRec> events;
        bool busy = true;
        QVERIFY(m_client.eventsSince(DataBackend::base + 600, events, &busy));
        QVERIFY(!busy);
        QCOMPARE(events.size(), size_t(3));

        ChistoryRec record = events.front();
        record.hComment = QStringLiteral("checked \"twice\"\nby hand");
        QVERIFY(m_client.updateComment(record));
        std::lock_guard lock(m_backend.m_lock);
        QCOMPARE(m_backend.comment, record.hComment);
    }

    void goldenBytes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QByteArray units = QByteArray::fromHex("01000000"
                                               "01");
        QByteArray name = QByteArray::fromHex("01000000"
                                              "fffeff04"
                                              "3400370031003100");
        QByteArray unknown = QByteArray::fromHex("00");
        QTest::newRow("request 6") << QByteArray::fromHex("06000000") << name;
        QTest::newRow("request 7") << QByteArray::fromHex("07000000") << units;
        QTest::newRow("code 42") << QByteArray::fromHex("2a000000") << unknown;
        QTest::newRow("code -1") << QByteArray::fromHex("ffffffff") << unknown;
    }

    void goldenBytes()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QCOMPARE(exchange(request), reply);
    }

    void eventsSinceWire()
    {
        // Request 8: the code, then the time as 8 little-endian bytes.
        QByteArray since = QByteArray::fromHex("08000000") + QByteArray::fromHex("0000000000000000");
        QByteArray answer = exchange(since);
        QCOMPARE(answer.left(12),
            QByteArray::fromHex("01000000"
                                "00000000"
                                "05000000"));
        m_backend.busy = true;
        QCOMPARE(exchange(since),
            QByteArray::fromHex("01000000"
                                "01000000"));
        std::vector<ChistoryRec> events;
        bool busy = false;
        QVERIFY(m_client.eventsSince(0, events, &busy));
        QVERIFY(busy);
        QVERIFY(events.empty());
        // Request 0 is the code alone; the reply is the instrument list.
        QByteArray list;
        CPagerList expected = m_backend.loadInstrumentList();
        StreamWriter(&list).writeInt32(0);
        QByteArray instruments;
        StreamWriter writer(&instruments);
        expected.write(writer);
        QCOMPARE(exchange(QByteArray::fromHex("00000000")), instruments);
    }

    void passwords()
    {
        // No password: the first word is 1 and nothing is asked.
        QCOMPARE(exchange(word(Remote::CheckPassword)), word(1));
        QCOMPARE(m_client.checkPassword(QString()), RemoteClient::PasswordCheck::Passed);

        const QString value = Password::promptValue(QStringLiteral("secret"));
        {
            std::lock_guard lock(m_backend.m_lock);
            m_backend.digest = Password::digest(QStringLiteral("secret"));
        }
        QCOMPARE(m_client.checkPassword(Password::promptValue(QStringLiteral("wrong"))),
            RemoteClient::PasswordCheck::Refused);
        QCOMPARE(m_client.checkPassword(value), RemoteClient::PasswordCheck::Passed);

        CUserParams params;
        RemoteClient::PasswordCheck check = RemoteClient::PasswordCheck::Passed;
        QVERIFY(!m_client.readUserParams(QStringLiteral("wrong"), params, &check));
        QCOMPARE(check, RemoteClient::PasswordCheck::Refused);
        QVERIFY(m_client.readUserParams(value, params, &check));
        QCOMPARE(check, RemoteClient::PasswordCheck::Passed);
    }

    // Another computer may read, but changes the instrument's settings or a comment only with
    // the station's password; this computer's own peers may as before. Each refusal is logged
    // with the peer.
    void writesFromOtherComputersNeedThePassword()
    {
        const QString other = otherComputer();
        if (other.isEmpty())
            QSKIP("this machine has no non-loopback IPv4 address to connect from");
        QTemporaryDir dir;
        QVERIFY(AppLog::start(dir.filePath("ProgLogFile.log")));
        RemoteClient remote(other, m_port);
        CUserParams params;
        params.derThreshold1 = 777;
        ChistoryRec record = ::event(QStringLiteral("4711"), DataBackend::base, 3, 1);
        record.hComment = QStringLiteral("from afar");
        RemoteClient::PasswordCheck check = RemoteClient::PasswordCheck::Passed;

        {
            std::lock_guard lock(m_backend.m_lock);
            m_backend.written = CUserParams();
            m_backend.comment.clear();
        }
        // No password: reads pass, writes from afar are refused, even after request 11.
        CUserParams read;
        QVERIFY(remote.readUserParams(QString(), read, &check));
        QCOMPARE(remote.checkPassword(QString()), RemoteClient::PasswordCheck::Passed);
        QVERIFY(!remote.writeUserParams(QStringLiteral("anything"), params, &check));
        QCOMPARE(check, RemoteClient::PasswordCheck::Refused);
        QVERIFY(!remote.updateComment(record));
        {
            std::lock_guard lock(m_backend.m_lock);
            QCOMPARE(m_backend.written.derThreshold1, 0);
            QVERIFY(m_backend.comment.isEmpty());
        }
        QVERIFY(m_client.writeUserParams(QString(), params, &check));
        record.hComment = QStringLiteral("from here");
        QVERIFY(m_client.updateComment(record));

        // With a password: a comment from afar needs a check that passed first.
        {
            std::lock_guard lock(m_backend.m_lock);
            m_backend.digest = Password::digest(QStringLiteral("secret"));
            m_backend.written = CUserParams();
        }
        const QString value = Password::promptValue(QStringLiteral("secret"));
        record.hComment = QStringLiteral("from afar");
        QVERIFY(!remote.updateComment(record));
        QCOMPARE(remote.checkPassword(value), RemoteClient::PasswordCheck::Passed);
        QVERIFY(remote.updateComment(record));
        QVERIFY(remote.writeUserParams(value, params, &check));
        std::lock_guard lock(m_backend.m_lock);
        QCOMPARE(m_backend.comment, QStringLiteral("from afar"));
        QCOMPARE(m_backend.written.derThreshold1, 777);
        AppLog::stop();
        const QStringList lines = logLines(dir.filePath("ProgLogFile.log"));
        QCOMPARE(lines.filter(QStringLiteral("request 4 from ") + other).size(), 1);
        QVERIFY2(
            lines.filter(QStringLiteral("this station has no password")).size() >= 2, qPrintable(lines.join('\n')));
        QVERIFY(lines.filter(QStringLiteral("comment from ") + other).size() >= 1);
        QCOMPARE(lines.filter(QStringLiteral("127.0.0.1")).size(), 0);
    }

    // Wrong guesses of one peer wait longer and longer, however many connections it uses at
    // once; each is logged with the count; the right password still passes, and another peer
    // is counted apart.
    void guessingIsSlowedAndLogged()
    {
        DataBackend backend;
        backend.digest = Password::digest(QStringLiteral("secret"));
        ServerThread server(&backend);
        server.configure = [](CPool& pool) { pool.setPasswordDelays(3, 10, 100); };
        const quint16 port = server.startServer();
        QTemporaryDir dir;
        QVERIFY(AppLog::start(dir.filePath("ProgLogFile.log")));
        RemoteClient client(QStringLiteral("127.0.0.1"), port);
        const QString wrong = Password::promptValue(QStringLiteral("guess"));

        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 50; ++i)
            QCOMPARE(client.checkPassword(wrong), RemoteClient::PasswordCheck::Refused);
        // Three free, then 10, 20, 40 and 80 ms, then 100 ms for each of the other 42.
        QVERIFY2(clock.elapsed() >= 10 + 20 + 40 + 80 + 42 * 100, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(
            client.checkPassword(Password::promptValue(QStringLiteral("secret"))), RemoteClient::PasswordCheck::Passed);

        // Eight guesses at once from another peer take their turns: 0, 0, 0, 10, 20, 40, 80 ms.
        std::vector<std::unique_ptr<QTcpSocket>> guesses;
        QByteArray guess = word(Remote::CheckPassword);
        StreamWriter(&guess).writeText(wrong);
        clock.restart();
        for (int i = 0; i < 8; ++i) {
            guesses.push_back(connectFrom(loopback(0), port));
            QVERIFY(guesses.back());
            guesses.back()->write(guess);
        }
        for (auto& g : guesses)
            QCOMPARE(readToClose(*g), word(0) + word(0));
        QVERIFY2(clock.elapsed() >= 10 + 20 + 40 + 80, qPrintable(QString::number(clock.elapsed())));
        AppLog::stop();

        const QStringList lines = logLines(dir.filePath("ProgLogFile.log"));
        QVERIFY2(!lines.isEmpty(), "nothing logged");
        QVERIFY2(lines.filter(QStringLiteral("from 127.0.0.1 refused (wrong password)")).size() == 50,
            qPrintable(lines.last()));
        QCOMPARE(lines.filter(QStringLiteral("50 failed in a row from 127.0.0.1")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("8 failed in a row from ") + loopback(0)).size(), 1);
        QTRY_COMPARE(server.failedPasswordChecks.load(), 58);
    }

    // A reply has a total deadline however steadily it is taken; a subscription ends.
    void repliesAndSubscriptionsEnd()
    {
        DataBackend backend;
        backend.bigName = QString(4 * 1024 * 1024, u'k');
        ServerThread server(&backend, 2000);
        server.configure = [](CPool& pool) {
            pool.setReplyDeadlineMs(1500);
            pool.setSubscriptionMs(300);
        };
        const quint16 port = server.startServer();
        auto reader = connectFrom(QStringLiteral("127.0.0.1"), port, 4096);
        QVERIFY(reader);
        reader->setReadBufferSize(4096);
        reader->write(word(Remote::InstrumentName));
        QVERIFY(reader->waitForBytesWritten(5000));
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE(server.connections.load(), 1);
        // A piece every 100 ms: steady, so the deadline of each piece never passes, but far too
        // slow for 8 MB. The server lets go of the connection (what the kernel holds of the
        // reply may still arrive).
        while (server.connections.load() != 0 && clock.elapsed() < 20000) {
            QThread::msleep(100);
            reader->waitForReadyRead(100);
            got += reader->read(4096);
        }
        QCOMPARE(server.connections.load(), 0);
        QVERIFY(got.size() < nameReply(backend.bigName).size());
        reader.reset();

        auto subscriber = connectFrom(QStringLiteral("127.0.0.1"), port);
        QVERIFY(subscriber);
        subscriber->write(word(Remote::Subscribe));
        bool closed = false;
        QCOMPARE(readToClose(*subscriber, &closed), word(1));
        QVERIFY(closed);
        QTRY_COMPARE(server.connections.load(), 0);
    }

    // Limits count an IPv6 peer by its /64 network; loopback in any form is this computer.
    void peersAndTheirGroups()
    {
        QCOMPARE(CPool::peerGroup(QHostAddress("fd00::2")), CPool::peerGroup(QHostAddress("fd00::ffff:1:2:3")));
        QVERIFY(CPool::peerGroup(QHostAddress("fd00::2")) != CPool::peerGroup(QHostAddress("fd00:0:0:1::2")));
        QCOMPARE(CPool::peerGroup(QHostAddress("::ffff:192.0.2.7")), QStringLiteral("192.0.2.7"));
        QVERIFY(CPool::peerGroup(QHostAddress("192.0.2.7")) != CPool::peerGroup(QHostAddress("192.0.2.8")));
        for (const char* local : { "127.0.0.1", "127.3.2.1", "::1", "::ffff:127.0.0.1" })
            QVERIFY2(CPool::isLocalPeer(QHostAddress(local)), local);
        for (const char* far : { "192.0.2.7", "fd00::2", "::ffff:192.0.2.7", "::" })
            QVERIFY2(!CPool::isLocalPeer(QHostAddress(far)), far);
    }

    void badPeersDoNotStallTheServer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("silent") << QByteArray();
        QTest::newRow("half a code") << QByteArray::fromHex("0100");
        QTest::newRow("half a request") << QByteArray::fromHex("01000000"
                                                               "fffeff05"
                                                               "3400");
        QTest::newRow("2^31 text length") << QByteArray::fromHex("01000000"
                                                                 "fffeffffff"
                                                                 "ffffffff"
                                                                 "7f");
        QTest::newRow("8-bit length running past") << QByteArray::fromHex("01000000"
                                                                          "ff41");
        QByteArray noise(4000, Qt::Uninitialized);
        QRandomGenerator random(7);
        for (char& c : noise)
            c = static_cast<char>(random.bounded(256));
        QTest::newRow("random bytes") << noise;
    }

    void badPeersDoNotStallTheServer()
    {
        QFETCH(QByteArray, bytes);
        QTcpSocket bad;
        bad.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(bad.waitForConnected(2000));
        bad.write(bytes);
        bad.waitForBytesWritten(2000);

        // While the bad peer holds its connection, a normal request is answered at once.
        QElapsedTimer timer;
        timer.start();
        QString name;
        QVERIFY(m_client.instrumentName(name));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

        // The bad connection is closed by the deadline at the latest.
        if (bad.state() == QAbstractSocket::ConnectedState)
            bad.waitForDisconnected(Remote::inputDeadlineMs + 2000);
        QCOMPARE(bad.state(), QAbstractSocket::UnconnectedState);
    }

    void subscriptionsAreBoundedAndDropped()
    {
        std::vector<std::unique_ptr<QTcpSocket>> subscribers;
        for (int i = 0; i < Remote::maxSubscribers + 2; ++i) {
            // Spread over addresses, as one address may not hold that many connections.
            auto socket = connectFrom(QStringLiteral("127.0.0.%1").arg(2 + i / Remote::maxConnectionsPerPeer), m_port);
            QVERIFY(socket);
            socket->write(word(Remote::Subscribe));
            socket->waitForBytesWritten(2000);
            socket->waitForReadyRead(2000);
            subscribers.push_back(std::move(socket));
        }
        QTRY_COMPARE(m_server->subscribers.load(), Remote::maxSubscribers);
        QCOMPARE(subscribers.front()->readAll(), word(1));
        subscribers.clear(); // the peers close
        QTRY_COMPARE(m_server->subscribers.load(), 0);
    }

    void manyRequestsLeaveNothingOpen()
    {
        QString name;
        for (int i = 0; i < 200; ++i)
            QVERIFY(m_client.instrumentName(name));
        QTRY_COMPARE(m_server->connections.load(), 0);
    }

    void aPeerLeavingDuringALongRequest_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("reset") << true;
        QTest::newRow("closed") << false;
    }

    // The server reads its instrument's history with its event loop running, and the peer that
    // asked for it leaves meanwhile: that costs only its own reply.
    void aPeerLeavingDuringALongRequest()
    {
        QFETCH(bool, reset);
        const int before = m_backend.histories;
        m_backend.holdHistory = true;
        auto leaving = connectFrom(QStringLiteral("127.0.0.1"), m_port);
        QVERIFY(leaving);
        leaving->write(word(Remote::ReadHistory));
        QVERIFY(leaving->waitForBytesWritten(5000));
        QTRY_VERIFY(m_backend.inHistory);

        // A request that becomes whole meanwhile waits its turn.
        auto next = connectFrom(QStringLiteral("127.0.0.1"), m_port);
        QVERIFY(next);
        next->write(word(Remote::InstrumentName));
        QVERIFY(next->waitForBytesWritten(5000));
        QTRY_COMPARE(m_server->waiting.load(), 1);

        if (reset)
            leaving->abort();
        else
            leaving->disconnectFromHost();
        leaving.reset();
        QTRY_COMPARE(m_server->connections.load(), 1); // the server has seen it leave
        m_backend.holdHistory = false;

        bool closed = false;
        QCOMPARE(readToClose(*next, &closed), nameReply(QStringLiteral("4711")));
        QVERIFY(closed);
        QCOMPARE(m_backend.histories.load(), before + 1);
        QCOMPARE(m_backend.takeCalls(), QStringList({ "history begins", "history ends", "name" }));
        QTRY_COMPARE(m_server->connections.load(), 0);
        QString name;
        QVERIFY(m_client.instrumentName(name));
    }

    // While the program is inside an operation that waits, requests are held; once it has ended
    // they are served in the order they became whole.
    void requestsWaitUntilTheProgramIsIdle()
    {
        m_backend.heldCount = 0;
        m_backend.holding = true;
        auto first = connectFrom(QStringLiteral("127.0.0.1"), m_port);
        QVERIFY(first);
        first->write(word(Remote::InstrumentName));
        QVERIFY(first->waitForBytesWritten(5000));
        QTRY_COMPARE(m_backend.heldCount.load(), 1);
        auto second = connectFrom(QStringLiteral("127.0.0.1"), m_port);
        QVERIFY(second);
        second->write(word(Remote::Units));
        QVERIFY(second->waitForBytesWritten(5000));
        QTRY_COMPARE(m_server->waiting.load(), 2);
        QVERIFY(m_backend.takeCalls().isEmpty());

        m_server->runOnServer([this] { m_backend.release(); });
        QCOMPARE(readToClose(*first), nameReply(QStringLiteral("4711")));
        QCOMPARE(readToClose(*second), word(1) + QByteArray(1, '\x01'));
        QCOMPARE(m_backend.takeCalls(), QStringList({ "name", "units" }));
    }

    // A peer that does not take its reply loses its connection after the deadline, so 64 of them
    // cannot lock everyone out; a slow but steady reader still gets the whole of a large reply.
    void peersThatDoNotTakeTheirRepliesLoseTheirSlots()
    {
        // Room for a loaded machine (the sanitizer build, other suites alongside): the reader
        // takes a piece at least every few hundred milliseconds.
        constexpr int deadlineMs = 2000;
        DataBackend backend;
        // Larger than what the kernel takes on a peer's behalf on loopback (a few megabytes).
        backend.bigName = QString(4 * 1024 * 1024, u'k');
        ServerThread server(&backend, deadlineMs);
        const quint16 port = server.startServer();
        const QByteArray whole = nameReply(backend.bigName);

        auto reader = connectFrom(QStringLiteral("127.0.0.1"), port, 256 * 1024);
        QVERIFY(reader);
        reader->write(word(Remote::InstrumentName));
        QVERIFY(reader->waitForBytesWritten(5000));
        QByteArray got;
        for (int pause = 0;
             pause < 400 && got.size() < whole.size() && reader->state() == QAbstractSocket::ConnectedState; ++pause) {
            QThread::msleep(deadlineMs / 10);
            reader->waitForReadyRead(deadlineMs / 10);
            got += reader->readAll();
        }
        got += reader->readAll();
        QCOMPARE(got.size(), whole.size());
        QVERIFY(got == whole);
        reader.reset();

        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < Remote::maxConnections; ++i) {
            auto peer = connectFrom(loopback(i / Remote::maxConnectionsPerPeer), port, 4096);
            QVERIFY(peer);
            peer->setReadBufferSize(4096);
            peer->write(word(Remote::InstrumentName));
            QVERIFY(peer->waitForBytesWritten(5000));
            idle.push_back(std::move(peer));
        }
        // Every one was let in and served; none takes its reply, and the deadline frees its slot.
        QTRY_COMPARE_WITH_TIMEOUT(server.served.load(), 1 + Remote::maxConnections, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(server.connections.load(), 0, 60000);
        RemoteClient client(QStringLiteral("127.0.0.1"), port);
        QString name;
        QVERIFY(client.instrumentName(name));
        QCOMPARE(name.size(), backend.bigName.size());
    }

    // One address holds at most a few connections, all addresses together at most 64; a peer
    // beyond either bound is closed at once, unanswered, while the others are served.
    void connectionBounds()
    {
        DataBackend backend;
        // Long enough that the silent peers below keep their slots through the test.
        ServerThread server(&backend, 120000);
        const quint16 port = server.startServer();
        RemoteClient client(QStringLiteral("127.0.0.1"), port);
        const QByteArray request = word(Remote::InstrumentName);
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        const auto fill = [&](int count) {
            for (int i = 0; i < count; ++i) {
                const int n = static_cast<int>(silent.size());
                silent.push_back(connectFrom(loopback(n / Remote::maxConnectionsPerPeer), port));
                QVERIFY(silent.back());
            }
        };

        fill(Remote::maxConnectionsPerPeer);
        QTRY_COMPARE(server.connections.load(), Remote::maxConnectionsPerPeer);
        bool closed = false;
        QCOMPARE(askFrom(loopback(0), port, request, &closed), QByteArray());
        QVERIFY(closed);
        QString name;
        QVERIFY(client.instrumentName(name));

        fill(Remote::maxConnections - Remote::maxConnectionsPerPeer);
        QTRY_COMPARE(server.connections.load(), Remote::maxConnections);
        const QString fresh = loopback(Remote::maxConnections / Remote::maxConnectionsPerPeer);
        closed = false;
        QCOMPARE(askFrom(fresh, port, request, &closed), QByteArray());
        QVERIFY(closed);

        // A slot that frees lets the next peer in.
        silent.pop_back();
        QTRY_COMPARE(server.connections.load(), Remote::maxConnections - 1);
        QCOMPARE(askFrom(fresh, port, request, &closed), nameReply(QStringLiteral("4711")));
        silent.clear();
        QTRY_COMPARE(server.connections.load(), 0);
    }

    void serverEntries()
    {
        QString host, listed;
        quint16 port = 0;
        QVERIFY(Remote::parseServer(QStringLiteral("lab-pc:3133"), &host, &port));
        QCOMPARE(host, QStringLiteral("lab-pc"));
        QCOMPARE(port, quint16(3133));
        QVERIFY(!Remote::parseServer(QStringLiteral("lab-pc"), &host, &port));
        QVERIFY(!Remote::parseServer(QStringLiteral("lab-pc:0"), &host, &port));
        QVERIFY(!Remote::parseServer(QStringLiteral(":3133"), &host, &port));
        QVERIFY(!Remote::parseServer(QStringLiteral("lab-pc:99999"), &host, &port));

        QVERIFY(Remote::acceptServerEntry(QStringLiteral("Lab-PC:3133x"), &listed));
        QCOMPARE(listed, QStringLiteral("lab-pc:3133"));
        QVERIFY(!Remote::acceptServerEntry(QStringLiteral("lab-pc"), &listed));
        QVERIFY(!Remote::acceptServerEntry(QStringLiteral("*lab:3133"), &listed));
        QVERIFY(!Remote::acceptServerEntry(QStringLiteral("lab:0"), &listed));
    }

    void unreachableServer()
    {
        RemoteClient nowhere(QStringLiteral("127.0.0.1"), 1);
        QString name;
        QVERIFY(!nowhere.instrumentName(name));
        QVERIFY(nowhere.connectFailed());
        QVERIFY(!nowhere.lastErrorText().isEmpty());
    }

private:
    // Sends raw bytes on a new connection and returns everything the server sends back.
    QByteArray exchange(const QByteArray& request)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (!socket.waitForConnected(2000))
            return "not connected";
        socket.write(request);
        socket.waitForBytesWritten(2000);
        QByteArray answer;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(2000))
            answer += socket.readAll();
        answer += socket.readAll();
        return answer;
    }

    DataBackend m_backend;
    ServerThread* m_server = nullptr;
    quint16 m_port = 0;
    RemoteClient m_client;
};

QTEST_GUILESS_MAIN(TestRemote)
#include "tst_remote.moc"
