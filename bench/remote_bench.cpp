// Prints the remote figures: request 0 for 50 instruments x 730 days, request 8 returning
// 100,000 events, and small requests (request 6) per second, over 127.0.0.1 against a server
// on a thread of its own.
#include "remote/remoteclient.h"
#include "remote/remoteserver.h"
#include "remote/requesthandler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <future>

namespace {

constexpr qint64 Start = 1'700'000'000;

class BenchBackend final : public RequestHandler {
public:
    BenchBackend()
    {
        for (int i = 0; i < 50; ++i) {
            const QString id = QStringLiteral("KESTRA #%1").arg(100000 + i);
            CPager& pager = m_list.findOrCreate(id);
            m_list.setTableName(id, QStringLiteral("Badge %1").arg(i));
            for (int d = 0; d < 730; ++d)
                pager.ensureDay(Start + d * 86400LL);
        }
        m_events.reserve(100000);
        for (int i = 0; i < 100000; ++i) {
            ChistoryRec r;
            r.hPagerID = QStringLiteral("KESTRA #100000");
            r.hDateTime = Start + i * 60LL;
            r.hType = 3;
            r.hValue = 0.1 + (i % 7) * 0.01;
            r.hPrecision = 12;
            r.hID = ChistoryRec::makeKey(r.hPagerID, r.hDateTime);
            m_events.push_back(r);
        }
    }
    const CPagerList& loadInstrumentList() override { return m_list; }
    CHistoryList dayEvents(const QString&, const QString&, int) override { return {}; }
    bool readHistory() override { return true; }
    bool readMeasurements(CMeasurements&) override { return true; }
    bool writeUserParams(const CUserParams&) override { return true; }
    bool readUserParams(CUserParams&) override { return true; }
    bool instrumentName(QString& name) override
    {
        name = QStringLiteral("KESTRA #100000");
        return true;
    }
    bool units(bool& roentgen) override
    {
        roentgen = false;
        return true;
    }
    bool downloadBusy() const override { return false; }
    std::vector<ChistoryRec> eventsNewerThan(qint64) override { return m_events; }
    bool updateComment(const ChistoryRec&) override { return true; }
    QString passwordDigest() const override { return {}; }

private:
    CPagerList m_list;
    std::vector<ChistoryRec> m_events;
};

class ServerThread final : public QThread {
public:
    explicit ServerThread(BenchBackend* backend)
        : m_backend(backend)
    {
    }
    quint16 begin()
    {
        start();
        return m_port.get_future().get();
    }

protected:
    void run() override
    {
        CPool pool(m_backend);
        pool.start(0);
        m_port.set_value(pool.port());
        exec();
    }

private:
    BenchBackend* m_backend;
    std::promise<quint16> m_port;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    BenchBackend backend;
    ServerThread server(&backend);
    RemoteClient client(QStringLiteral("127.0.0.1"), server.begin());

    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        CPagerList list;
        QElapsedTimer t;
        t.start();
        if (!client.loadInstrumentList(list) || list.count() != 50)
            std::printf("request 0 failed\n");
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    std::printf("request 0, 50 instruments x 730 days: %.1f ms (best of 5)\n", best);

    best = 1e9;
    for (int round = 0; round < 3; ++round) {
        std::vector<ChistoryRec> events;
        bool busy = false;
        QElapsedTimer t;
        t.start();
        if (!client.eventsSince(0, events, &busy) || events.size() != 100000)
            std::printf("request 8 failed\n");
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    std::printf("request 8 returning 100,000 events: %.1f ms (best of 3)\n", best);

    const int n = 2000;
    QString name;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        client.instrumentName(name);
    const double seconds = t.nsecsElapsed() / 1e9;
    std::printf("request 6, one connection each: %d requests in %.2f s = %.0f requests/s\n", n, seconds, n / seconds);

    server.quit();
    server.wait();
    return 0;
}
