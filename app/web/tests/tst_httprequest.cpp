// The request-head reader on its own: every bound and every malformed head, without a socket.
#include "web/httprequest.h"

#include <QTest>

using HttpRequest::Outcome;

class HttpRequestTest : public QObject {
    Q_OBJECT

private slots:
    void heads_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("outcome");

        const QByteArray longTarget = "GET /" + QByteArray(HttpRequest::MaxRequestLine, 'a') + " HTTP/1.1\r\n\r\n";
        QByteArray manyHeaders = "GET / HTTP/1.1\r\n";
        for (int i = 0; i <= HttpRequest::MaxHeaderLines; ++i)
            manyHeaders += "X-" + QByteArray::number(i) + ": 1\r\n";
        manyHeaders += "\r\n";
        const QByteArray bigHeader
            = "GET / HTTP/1.1\r\nX-Big: " + QByteArray(HttpRequest::MaxHeaders, 'b') + "\r\n\r\n";

        QTest::newRow("plain") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << int(Outcome::Ready);
        QTest::newRow("bare line feeds") << QByteArray("GET / HTTP/1.0\nHost: x\n\n") << int(Outcome::Ready);
        QTest::newRow("head") << QByteArray("HEAD /metrics HTTP/1.1\r\n\r\n") << int(Outcome::Ready);
        QTest::newRow("no empty line yet") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << int(Outcome::Incomplete);
        QTest::newRow("half a request line") << QByteArray("GET /ap") << int(Outcome::Incomplete);
        QTest::newRow("request line over the bound, unended")
            << longTarget.left(HttpRequest::MaxRequestLine + 1) << int(Outcome::UriTooLong);
        QTest::newRow("request line over the bound") << longTarget << int(Outcome::UriTooLong);
        QTest::newRow("header block over the bound") << bigHeader << int(Outcome::HeadersTooLarge);
        QTest::newRow("header block over the bound, unended")
            << bigHeader.left(bigHeader.size() - 4) << int(Outcome::HeadersTooLarge);
        QTest::newRow("too many header lines") << manyHeaders << int(Outcome::HeadersTooLarge);
        QTest::newRow("post") << QByteArray("POST / HTTP/1.1\r\n\r\n") << int(Outcome::MethodNotAllowed);
        QTest::newRow("delete") << QByteArray("DELETE /api/v1/events HTTP/1.1\r\n\r\n")
                                << int(Outcome::MethodNotAllowed);
        QTest::newRow("http 2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << int(Outcome::VersionNotSupported);
        QTest::newRow("no version") << QByteArray("GET /\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("absolute form") << QByteArray("GET http://x/ HTTP/1.1\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("control byte") << QByteArray("GET /\x01 HTTP/1.1\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("header without colon")
            << QByteArray("GET / HTTP/1.1\r\nHost x\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("space before colon")
            << QByteArray("GET / HTTP/1.1\r\nHost : x\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("folded header") << QByteArray("GET / HTTP/1.1\r\nA: x\r\n y\r\n\r\n")
                                       << int(Outcome::BadRequest);
        QTest::newRow("broken escape") << QByteArray("GET /%4 HTTP/1.1\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("escape at the end") << QByteArray("GET /?a=% HTTP/1.1\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("not utf-8") << QByteArray("GET /?a=%ff%fe HTTP/1.1\r\n\r\n") << int(Outcome::BadRequest);
        QTest::newRow("escaped nul") << QByteArray("GET /%00 HTTP/1.1\r\n\r\n") << int(Outcome::BadRequest);
    }

    void heads()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, outcome);
        HttpRequest::Request request;
        QCOMPARE(int(HttpRequest::parse(head, &request)), outcome);
    }

    // What a whole head holds: the decoded path, the query in order, and where the head ends.
    void contents()
    {
        const QByteArray head = "GET /api/v1/events?instrument=KESTRA+%23123456&day=2026-03-29&flag&day=x HTTP/1.1\r\n"
                                "Host: station\r\n\r\nrest";
        HttpRequest::Request r;
        qsizetype used = 0;
        QCOMPARE(HttpRequest::parse(head, &r, &used), Outcome::Ready);
        QCOMPARE(used, head.size() - 4);
        QCOMPARE(r.method, QByteArray("GET"));
        QVERIFY(!r.head);
        QCOMPARE(r.path, QStringLiteral("/api/v1/events"));
        QCOMPARE(r.value(QStringLiteral("instrument")), QStringLiteral("KESTRA #123456"));
        QCOMPARE(r.value(QStringLiteral("day")), QStringLiteral("2026-03-29")); // the first of two
        QCOMPARE(r.value(QStringLiteral("flag")), QString());
        QVERIFY(!r.value(QStringLiteral("from")));
        QCOMPARE(r.query.size(), 4);

        // '+' is a space in the query only; UTF-8 escapes decode.
        QVERIFY(HttpRequest::parse("GET /a+b%D0%B6?x=%D0%B6+1 HTTP/1.1\r\n\r\n", &r) == Outcome::Ready);
        QCOMPARE(r.path, QStringLiteral("/a+b\u0436"));
        QCOMPARE(r.value(QStringLiteral("x")), QStringLiteral("\u0436 1"));
    }

    // Bytes arriving one at a time reach the same result as the whole head, and the bound is
    // met before the buffer grows past it.
    void byteByByte()
    {
        const QByteArray head = "GET /metrics HTTP/1.1\r\nHost: x\r\nAccept: */*\r\n\r\n";
        QByteArray buffer;
        HttpRequest::Request r;
        for (qsizetype i = 0; i < head.size() - 1; ++i) {
            buffer += head[i];
            QCOMPARE(HttpRequest::parse(buffer, &r), Outcome::Incomplete);
        }
        buffer += head.back();
        QCOMPARE(HttpRequest::parse(buffer, &r), Outcome::Ready);
        QCOMPARE(r.path, QStringLiteral("/metrics"));

        QByteArray endless = "GET / HTTP/1.1\r\n";
        while (HttpRequest::parse(endless, &r) == Outcome::Incomplete)
            endless += "X: 0123456789\r\n";
        QCOMPARE(HttpRequest::parse(endless, &r), Outcome::HeadersTooLarge);
        QVERIFY(endless.size() <= HttpRequest::MaxRequestLine + HttpRequest::MaxHeaders);
    }
};

QTEST_APPLESS_MAIN(HttpRequestTest)
#include "tst_httprequest.moc"
