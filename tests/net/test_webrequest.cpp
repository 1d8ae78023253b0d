#include "net/webrequest.h"

#include <QTest>

using State = WebRequestParse::State;
Q_DECLARE_METATYPE(WebRequestParse::State)

namespace {

const QByteArray goodRequest = "GET /DAX HTTP/1.1\r\nHost: 127.0.0.1:47654\r\nAccept: */*\r\n\r\n";

WebRequest request(const QByteArray &head)
{
    return parseWebRequest(head).request;
}

} // namespace

class TestWebRequest : public QObject
{
    Q_OBJECT

private slots:
    void parsesAWholeHeadAndLeavesWhatFollows()
    {
        const WebRequestParse parse = parseWebRequest("\r\n" + goodRequest + "GET /x");
        QCOMPARE(parse.state, State::Complete);
        QCOMPARE(parse.consumed, goodRequest.size() + 2);
        QCOMPARE(parse.request.method, QByteArray("GET"));
        QCOMPARE(parse.request.target, QByteArray("/DAX"));
        QCOMPARE(parse.request.header("host"), QByteArray("127.0.0.1:47654"));
        QVERIFY(parse.request.keepAlive());
    }

    void everyTruncatedPrefixIsIncomplete()
    {
        for (qsizetype length = 0; length < goodRequest.size(); ++length)
            QVERIFY2(parseWebRequest(goodRequest.first(length)).state == State::Incomplete,
                     goodRequest.first(length).constData());
    }

    void refusesMalformedHeads_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<State>("state");
        QTest::newRow("LF line ends") << QByteArray("GET / HTTP/1.0\nHost: x\n\n") << State::Complete;
        QTest::newRow("no target") << QByteArray("GET HTTP/1.1\r\n\r\n") << State::Malformed;
        QTest::newRow("two blanks") << QByteArray("GET  / HTTP/1.1\r\n\r\n") << State::Malformed;
        QTest::newRow("HTTP/2.0") << QByteArray("GET / HTTP/2.0\r\n\r\n") << State::Malformed;
        QTest::newRow("lower-case version") << QByteArray("GET / http/1.1\r\n\r\n") << State::Malformed;
        QTest::newRow("NUL in target") << QByteArray("GET /D\0X HTTP/1.1\r\n\r\n", 22) << State::Malformed;
        QTest::newRow("NUL in field")
            << QByteArray("GET / HTTP/1.1\r\nA: \0\r\n\r\n", 24) << State::Malformed;
        QTest::newRow("bare CR") << QByteArray("GET / HTTP/1.1\r\nA: b\rc\r\n\r\n") << State::Malformed;
        QTest::newRow("field without colon")
            << QByteArray("GET / HTTP/1.1\r\nHost\r\n\r\n") << State::Malformed;
        QTest::newRow("empty field name") << QByteArray("GET / HTTP/1.1\r\n: x\r\n\r\n") << State::Malformed;
        QTest::newRow("blank before colon")
            << QByteArray("GET / HTTP/1.1\r\nHost : x\r\n\r\n") << State::Malformed;
        QTest::newRow("folded line") << QByteArray("GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n")
                                     << State::Malformed;
        QTest::newRow("overlong line") << "GET /" + QByteArray(17000, 'a') << State::TooLarge;
        QTest::newRow("overlong head")
            << "GET / HTTP/1.1\r\n" + QByteArray("A: b\r\n").repeated(3000) + "\r\n"
            << State::TooLarge;
        QTest::newRow("two lengths")
            << QByteArray("GET / HTTP/1.1\r\nContent-Length: 0\r\ncontent-length: 0\r\n\r\n")
            << State::Malformed;
        QTest::newRow("two hosts") << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\nHost: x\r\n\r\n")
                                   << State::Malformed;
    }

    void refusesMalformedHeads()
    {
        QFETCH(QByteArray, head);
        QFETCH(State, state);
        QCOMPARE(parseWebRequest(head).state, state);
    }

    void keepAliveFollowsVersionConnectionAndBody_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("1.1") << QByteArray("GET / HTTP/1.1\r\n\r\n") << true;
        QTest::newRow("1.1 close") << QByteArray("GET / HTTP/1.1\r\nConnection: Close\r\n\r\n") << false;
        QTest::newRow("1.0") << QByteArray("GET / HTTP/1.0\r\n\r\n") << false;
        QTest::newRow("1.0 keep-alive")
            << QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n") << true;
        QTest::newRow("with a body") << QByteArray("GET / HTTP/1.1\r\nContent-Length: 5\r\n\r\n") << false;
        QTest::newRow("chunked") << QByteArray("GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                 << false;
    }

    void keepAliveFollowsVersionConnectionAndBody()
    {
        QFETCH(QByteArray, head);
        QFETCH(bool, keepAlive);
        QCOMPARE(request(head).keepAlive(), keepAlive);
    }

    void routes_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("resource");
        const auto get = [](const QByteArray &target, const QByteArray &host = "127.0.0.1:47654") {
            return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
        };
        QTest::newRow("item") << get("/DAX") << 200 << int(WebResource::Item);
        QTest::newRow("item, query") << get("/DAX?x=/y") << 200 << int(WebResource::Item);
        QTest::newRow("item, encoded") << get("/%64ax") << 200 << int(WebResource::Item);
        QTest::newRow("events") << get("/Dax/events") << 200 << int(WebResource::Events);
        QTest::newRow("encoded slash") << get("/DAX%2fevents") << 404 << 0;
        QTest::newRow("health") << get("/health?x") << 200 << int(WebResource::Health);
        QTest::newRow("metrics") << get("/metrics") << 200 << int(WebResource::Metrics);
        QTest::newRow("health in upper case is a topic") << get("/HEALTH") << 404 << 0;
        QTest::newRow("history") << get("/dax/history.csv") << 200 << int(WebResource::History);
        QTest::newRow("history of another index") << get("/MDAX/history.csv") << 404 << 0;
        QTest::newRow("below the item") << get("/DAX/Kurs") << 404 << 0;
        QTest::newRow("a file") << get("/../../etc/passwd") << 404 << 0;
        QTest::newRow("JSON suffix upper case") << get("/DAX.JSON") << 404 << 0;
        QTest::newRow("absolute form") << get("http://127.0.0.1:47654/DAX") << 400 << 0;
        QTest::newRow("get in lower case")
            << QByteArray("get /DAX HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") << 405 << 0;
        QTest::newRow("OPTIONS *") << QByteArray("OPTIONS * HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") << 405 << 0;
        QTest::newRow("LOCALHOST") << get("/DAX", "LOCALHOST:47654") << 200 << int(WebResource::Item);
        QTest::newRow("foreign host, POST")
            << QByteArray("POST /DAX HTTP/1.1\r\nHost: example.org\r\n\r\n") << 421 << 0;
        QTest::newRow("rebinding name") << get("/DAX", "127.0.0.1.example.org") << 421 << 0;
        QTest::newRow("other port") << get("/DAX", "127.0.0.1:80") << 421 << 0;
        QTest::newRow("empty port") << get("/DAX", "127.0.0.1:") << 421 << 0;
        QTest::newRow("IPv6 loopback") << get("/DAX", "[::1]:47654") << 421 << 0;
        QTest::newRow("1.1 without Host") << QByteArray("GET /DAX HTTP/1.1\r\n\r\n") << 400 << 0;
        QTest::newRow("1.0 without Host")
            << QByteArray("GET /DAX HTTP/1.0\r\n\r\n") << 200 << int(WebResource::Item);
    }

    void routes()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, status);
        QFETCH(int, resource);
        const WebRequestParse parse = parseWebRequest(head);
        QCOMPARE(parse.state, State::Complete);
        const WebRoute route = routeWebRequest(parse.request, QStringLiteral("DAX"), 47654);
        QCOMPARE(route.status, status);
        if (status == 200)
            QCOMPARE(int(route.resource), resource);
    }
};

QTEST_APPLESS_MAIN(TestWebRequest)
#include "test_webrequest.moc"
