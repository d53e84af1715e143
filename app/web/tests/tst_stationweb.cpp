// kestra-cli serve --http on the simulated instrument, over real TCP: the JSON API read back
// by Python, the CSV against the export, hostile requests and peers, a real browser and a real
// Prometheus.
#include "config/programconfig.h"
#include "history/historyexport.h"
#include "kestrasim/simulator.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace kestra::sim;

namespace {

struct Reply {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// Sends raw bytes and reads until the server closes.
Reply exchange(quint16 port, const QByteArray& request, int timeoutMs = 30000)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < timeoutMs) {
        socket.waitForReadyRead(100);
        all += socket.readAll();
    }
    all += socket.readAll();
    Reply r;
    const qsizetype end = all.indexOf("\r\n\r\n");
    r.head = all.left(end);
    r.body = end < 0 ? QByteArray() : all.mid(end + 4);
    const QList<QByteArray> first = r.head.left(r.head.indexOf('\r')).split(' ');
    r.status = first.size() > 1 ? first[1].toInt() : 0;
    return r;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A station process: kestra-cli serve on a simulated instrument, with its web server.
class Station {
public:
    bool start(const QString& home, const QString& port)
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral(KESTRA_CLI),
            { QStringLiteral("--home"), home, QStringLiteral("--port"), port, QStringLiteral("serve"),
                QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--http"),
                QStringLiteral("127.0.0.1:0") });
        // Up once it has downloaded the history the instrument holds.
        static const QRegularExpression web(QStringLiteral("web server on http://127\\.0\\.0\\.1:(\\d+)/"));
        static const QRegularExpression tcp(QStringLiteral("serving on 127\\.0\\.0\\.1 port (\\d+)"));
        for (int i = 0; i < 600 && m_process.state() != QProcess::NotRunning; ++i) {
            m_process.waitForReadyRead(100);
            m_said += QString::fromLocal8Bit(m_process.readAllStandardOutput());
            if (m_said.contains(QStringLiteral("events read"))) {
                httpPort = quint16(web.match(m_said).captured(1).toUInt());
                tcpPort = quint16(tcp.match(m_said).captured(1).toUInt());
                return httpPort != 0;
            }
        }
        return false;
    }
    ~Station()
    {
        m_process.terminate();
        m_process.waitForFinished(30000);
    }
    const QString& said() const { return m_said; }
    // What the station wrote to its standard error so far.
    QString errors()
    {
        m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_errors;
    }
    Reply get(const QString& target) const
    {
        return exchange(httpPort, "GET " + target.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }
    QString url(const QString& path = QStringLiteral("/")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort).arg(path);
    }
    // A figure of the metrics text; -1 when absent.
    double metric(const QString& line) const
    {
        const QString text = QString::fromUtf8(get(QStringLiteral("/metrics")).body);
        for (const QString& l : text.split(u'\n')) {
            if (l.startsWith(line + u' '))
                return l.mid(line.size() + 1).toDouble();
        }
        return -1;
    }

    quint16 httpPort = 0;
    quint16 tcpPort = 0;

private:
    QProcess m_process;
    QString m_said;
    QString m_errors;
};

constexpr double DoseRate = 2e-6; // Sv/h
const QString SimInstrument = QStringLiteral("KESTRA #123456");
const QString InstrumentQuery = QStringLiteral("KESTRA%20%23123456");

} // namespace

class StationWebTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Options options;
        options.liveHistory = false;
        options.historyRecords = 60;
        options.historyDays = 3;
        m_sim = std::make_unique<Simulator>(options);
        std::string error;
        QVERIFY2(m_sim->start(&error), error.c_str());
        m_sim->setDoseRate(DoseRate);
        QVERIFY2(
            m_station.start(m_home.path(), QString::fromStdString(m_sim->slavePath())), qPrintable(m_station.said()));
    }

    // Python's json reads every list back; the lists agree with each other and with what the
    // instrument held; events carry the export's field names.
    void jsonReadByPython()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        QProcess p;
        p.start(python, { QStringLiteral(CHECK_API), m_station.url() });
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        const QJsonObject out = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        const QJsonObject mine = out[QStringLiteral("instruments")].toObject()[SimInstrument].toObject();
        QCOMPARE(mine[QStringLiteral("events")].toInt(), 60);
        QVERIFY(mine[QStringLiteral("days")].toInt() >= 3);

        ChistoryRec record;
        record.hPagerID = SimInstrument;
        record.hDateTime = 1774742400;
        const QJsonObject exported
            = QJsonDocument::fromJson(HistoryExport::Writer::line(record, HistoryExport::Format::JsonLines, false))
                  .object();
        QStringList keys;
        for (const QJsonValue& k : mine[QStringLiteral("keys")].toArray())
            keys << k.toString();
        QCOMPARE(keys, exported.keys());

        const QJsonObject reading = out[QStringLiteral("reading")].toObject();
        QVERIFY(reading[QStringLiteral("connected")].toBool());
        QCOMPARE(reading[QStringLiteral("instrument")].toString(), SimInstrument);
        const double rate = reading[QStringLiteral("dose_rate_sv_per_h")].toDouble();
        QVERIFY2(rate > DoseRate / 2 && rate < DoseRate * 2, qPrintable(QString::number(rate)));
        QVERIFY(!reading[QStringLiteral("last_download")].toString().isEmpty());
        QCOMPARE(out[QStringLiteral("unknown")].toInt(), 404);
        QCOMPARE(out[QStringLiteral("backwards")].toInt(), 400);
    }

    // The CSV of a span is byte for byte what the export writes for it.
    void csvAsTheExportWritesIt()
    {
        const QDate today = QDate::currentDate();
        const QString from = today.addDays(-5).toString(Qt::ISODate);
        const QString to = today.toString(Qt::ISODate);
        const Reply web = m_station.get(
            QStringLiteral("/api/v1/events.csv?instrument=%1&from=%2&to=%3").arg(InstrumentQuery, from, to));
        QCOMPARE(web.status, 200);
        QVERIFY(web.head.contains("Content-Type: text/csv"));
        QProcess exporter;
        exporter.start(QStringLiteral(KESTRA_CLI),
            { QStringLiteral("--home"), m_home.path(), QStringLiteral("export"), QStringLiteral("--format"),
                QStringLiteral("csv"), QStringLiteral("--from"), from, QStringLiteral("--to"), to, SimInstrument,
                QStringLiteral("-") });
        QVERIFY(exporter.waitForFinished(60000));
        QCOMPARE(exporter.exitCode(), 0);
        const QByteArray expected = exporter.readAllStandardOutput();
        QCOMPARE(web.body.count("\r\n"), 61); // the header and every event
        QCOMPARE(web.body, expected);
    }

    // Requests that are malformed, too large, or ask too much get their status and change
    // nothing; the station goes on serving.
    void badRequests()
    {
        const double storedBefore = m_station.metric(QStringLiteral("kestra_events_stored"));
        QCOMPARE(storedBefore, 60.0);
        const struct {
            QByteArray request;
            int status;
        } cases[] = {
            { "GET /nothing HTTP/1.1\r\n\r\n", 404 },
            { "GET /../etc/passwd HTTP/1.1\r\n\r\n", 404 },
            { "POST /api/v1/events HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 405 },
            { "PUT / HTTP/1.1\r\n\r\n", 405 },
            { "GET / HTTP/2.0\r\n\r\n", 505 },
            { "garbage\r\n\r\n", 400 },
            { "GET /" + QByteArray(9000, 'a') + " HTTP/1.1\r\n\r\n", 414 },
            { "GET / HTTP/1.1\r\nX-Big: " + QByteArray(17 * 1024, 'b') + "\r\n\r\n", 431 },
            { "GET /api/v1/events?from=2020-01-01&to=2026-01-01 HTTP/1.1\r\n\r\n", 400 },
            { "GET /api/v1/events?day=yesterday HTTP/1.1\r\n\r\n", 400 },
            { "GET /api/v1/events?day=2026-01-01&from=2026-01-01 HTTP/1.1\r\n\r\n", 400 },
            { "GET /api/v1/events?instrument=nobody&day=2026-01-01 HTTP/1.1\r\n\r\n", 404 },
            { "GET /chart/day.png?day=2026-01-01 HTTP/1.1\r\n\r\n", 400 },
            { "GET /chart/range.png?instrument=x&from=2000-01-01&to=2026-01-01 HTTP/1.1\r\n\r\n", 400 },
            { "GET /?instrument=nobody HTTP/1.1\r\n\r\n", 404 },
        };
        for (const auto& c : cases) {
            const Reply r = exchange(m_station.httpPort, c.request);
            QVERIFY2(r.status == c.status, c.request.left(60).constData());
        }
        // A chart's size is asked for within bounds.
        const Reply chart = m_station.get(QStringLiteral("/chart/day.png?instrument=%1&day=%2&w=99999&h=5")
                                              .arg(InstrumentQuery, QDate::currentDate().toString(Qt::ISODate)));
        QCOMPARE(chart.status, 200);
        QCOMPARE(QImage::fromData(chart.body, "PNG").size(), QSize(1600, 150));

        // A HEAD gets the length of what a GET would get, without it.
        const Reply head = exchange(m_station.httpPort, "HEAD /api/v1/instruments HTTP/1.1\r\n\r\n");
        QCOMPARE(head.status, 200);
        QVERIFY(head.body.isEmpty());
        QVERIFY(head.head.contains("Content-Length: "));
        QVERIFY(!head.head.contains("Content-Length: 0\r"));

        QVERIFY(m_station.metric(QStringLiteral("kestra_http_refused_total{reason=\"too-large\"}")) >= 2);
        QVERIFY(m_station.metric(QStringLiteral("kestra_http_refused_total{reason=\"method\"}")) >= 2);
        QCOMPARE(m_station.metric(QStringLiteral("kestra_events_stored")), storedBefore);
        // Refusals are logged, one line a minute for a peer however many it sends.
        QTRY_VERIFY(m_station.errors().contains(QStringLiteral("web: refused 127.0.0.1")));
        QCOMPARE(m_station.errors().count(QStringLiteral("web: refused")), 1);
        QCOMPARE(m_station.get(QStringLiteral("/api/v1/instruments")).status, 200);
    }

    // A peer that sends its head slowly loses its connection at the deadline; more connections
    // from one peer than allowed are refused; neither stops the station serving others.
    void slowAndGreedyPeers()
    {
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 8; ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QStringLiteral("127.0.0.1"), m_station.httpPort);
            QVERIFY(s->waitForConnected(5000));
            s->write("GET / HTTP/1.1\r\nHost: x\r\n");
            s->flush();
            slow.push_back(std::move(s));
        }
        QTest::qWait(300);
        const Reply ninth = m_station.get(QStringLiteral("/metrics"));
        QCOMPARE(ninth.status, 503);

        // The deadline (10 s) closes them with 408.
        QElapsedTimer clock;
        clock.start();
        for (auto& s : slow) {
            while (s->state() == QAbstractSocket::ConnectedState && clock.elapsed() < 20000)
                s->waitForDisconnected(200);
            QCOMPARE(s->state(), QAbstractSocket::UnconnectedState);
            QVERIFY(s->readAll().startsWith("HTTP/1.1 408"));
        }
        QVERIFY2(clock.elapsed() > 8000, "closed before the deadline");
        QCOMPARE(m_station.get(QStringLiteral("/api/v1/instruments")).status, 200);
        QVERIFY(m_station.metric(QStringLiteral("kestra_http_refused_total{reason=\"deadline\"}")) >= 8);
        QVERIFY(m_station.metric(QStringLiteral("kestra_http_refused_total{reason=\"peer-limit\"}")) >= 1);
    }

    // A peer asking back to back past its allowance (100 at once, then 50 a second; the tests
    // before took some) is answered 429 without work, is told when to come back, and is served
    // again after a pause.
    void greedyPeerIsThrottled()
    {
        int served = 0;
        Reply refused;
        for (int i = 0; i < 400 && refused.status == 0; ++i) {
            const Reply r = m_station.get(QStringLiteral("/api/v1/instruments"));
            if (r.status == 200)
                ++served;
            else
                refused = r;
        }
        QCOMPARE(refused.status, 429);
        QVERIFY2(served >= 50, qPrintable(QStringLiteral("served %1").arg(served)));
        QVERIFY(refused.head.contains("Retry-After: 1"));
        QTest::qWait(2500); // the whole allowance back, for the tests that follow
        QCOMPARE(m_station.get(QStringLiteral("/api/v1/instruments")).status, 200);
        QVERIFY(m_station.metric(QStringLiteral("kestra_http_refused_total{reason=\"rate\"}")) >= 1);
    }

    // A real browser loads the page: the text read from its DOM, the charts it fetched, and a
    // screenshot at a phone's width (saved beside the test for a person to look at).
    void browser()
    {
        QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            QSKIP("chromium is not installed");
        const QStringList common { QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
            QStringLiteral("--disable-gpu"),
            QStringLiteral("--user-data-dir=") + m_home.filePath(QStringLiteral("chromium")) };
        QProcess dom;
        dom.start(chromium, common + QStringList { QStringLiteral("--dump-dom"), m_station.url() });
        QVERIFY(dom.waitForFinished(120000));
        const QString text = QString::fromUtf8(dom.readAllStandardOutput());
        QVERIFY2(text.contains(QStringLiteral("<h2>Current reading</h2>")), qPrintable(text.left(2000)));
        QVERIFY(text.contains(QStringLiteral("µSv/h")));
        QVERIFY(text.contains(SimInstrument));
        QVERIFY(text.contains(QStringLiteral("id=\"alarm\"")));
        QVERIFY(text.contains(QStringLiteral("<section id=\"days\">")));
        QVERIFY(text.contains(QStringLiteral("<img src=\"/chart/range.png?")));
        QVERIFY(text.contains(QStringLiteral("name=\"viewport\"")));

        const double charts
            = std::max(0.0, m_station.metric(QStringLiteral("kestra_http_requests_total{kind=\"chart\"}")));
        const QString shot = QStringLiteral(SHOT_PATH);
        QFile::remove(shot);
        QProcess screenshot;
        screenshot.start(chromium,
            common
                + QStringList { QStringLiteral("--screenshot=") + shot, QStringLiteral("--window-size=412,1600"),
                    QStringLiteral("--hide-scrollbars"), m_station.url() });
        QVERIFY(screenshot.waitForFinished(120000));
        QVERIFY2(QFile::exists(shot), screenshot.readAllStandardError().constData());
        QVERIFY(QFile(shot).size() > 10000);
        // The browser fetched both charts of the page.
        QVERIFY(m_station.metric(QStringLiteral("kestra_http_requests_total{kind=\"chart\"}")) >= charts + 2);
    }

    // A real Prometheus scrapes /metrics and answers a query with the dose rate and the store.
    void prometheus()
    {
        const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
        if (prometheus.isEmpty())
            QSKIP("prometheus is not installed");
        QTemporaryDir data;
        const quint16 port = freePort();
        QFile config(data.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n"
                     "  - job_name: kestra\n    static_configs:\n      - targets: ['127.0.0.1:"
            + QByteArray::number(m_station.httpPort) + "']\n");
        config.close();
        QProcess server;
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(prometheus,
            { QStringLiteral("--config.file=") + config.fileName(),
                QStringLiteral("--storage.tsdb.path=") + data.filePath(QStringLiteral("tsdb")),
                QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port) });
        QVERIFY(server.waitForStarted(10000));
        const auto query = [&](const QByteArray& expression) -> std::optional<double> {
            const Reply r = exchange(
                port, "GET /api/v1/query?query=" + expression + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            const QJsonArray result
                = QJsonDocument::fromJson(r.body)[QStringLiteral("data")][QStringLiteral("result")].toArray();
            if (result.isEmpty())
                return std::nullopt;
            return result[0][QStringLiteral("value")][1].toString().toDouble();
        };
        std::optional<double> rate;
        for (int i = 0; i < 300 && !rate && server.state() == QProcess::Running; ++i) {
            QTest::qWait(200);
            rate = query("kestra_dose_rate_sieverts_per_hour");
        }
        QVERIFY2(rate, server.readAll().right(2000).constData());
        QVERIFY2(*rate > DoseRate / 2 && *rate < DoseRate * 2, qPrintable(QString::number(*rate)));
        QCOMPARE(query("kestra_events_stored"), std::optional<double>(60));
        QCOMPARE(query("up%7Bjob%3D%22kestra%22%7D"), std::optional<double>(1));
        server.terminate();
        QVERIFY(server.waitForFinished(30000));
    }

    // With the language set to Russian, the page is in Russian.
    void russianPage()
    {
        QTemporaryDir home;
        ProgramConfig config;
        config.load(home.filePath(QStringLiteral("KESTRA.ini")));
        config.language = 1;
        QVERIFY(config.save());
        Options options;
        options.number = "654321";
        options.liveHistory = false;
        options.historyRecords = 5;
        Simulator sim(options);
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        Station station;
        QVERIFY2(station.start(home.path(), QString::fromStdString(sim.slavePath())), qPrintable(station.said()));
        const Reply r = station.get(QStringLiteral("/"));
        QCOMPARE(r.status, 200);
        const QString page = QString::fromUtf8(r.body);
        QVERIFY(page.contains(QStringLiteral("<html lang=\"ru\">")));
        QVERIFY2(page.contains(QStringLiteral("Текущее измерение")), qPrintable(page.left(1500)));
        QVERIFY(page.contains(QStringLiteral("Последнее считывание")));
    }

private:
    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    Station m_station;
};

QTEST_GUILESS_MAIN(StationWebTest)
#include "tst_stationweb.moc"
