#include "net/httpclient.h"
#include "scriptedserver.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray defaultAccept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";

struct Outcome
{
    bool raised = false;
    QString text;
    quint16 code = 0;
    QByteArray body;
};

Outcome fetch(THttpClient &client, const QString &url)
{
    Outcome outcome;
    QBuffer buffer(&outcome.body);
    buffer.open(QIODevice::WriteOnly);
    client.URL = url;
    client.ReceiveStream = &buffer;
    client.Cookie.clear();
    try {
        client.Get();
    } catch (const EHttpException &error) {
        outcome.raised = true;
        outcome.text = error.text();
        outcome.code = error.ErrorCode;
    }
    client.ReceiveStream = nullptr;
    return outcome;
}

QString urlOf(const ScriptedServer &server, const QString &path = QStringLiteral("/doc"))
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(path);
}

QByteArray expectedRequest(const QByteArray &target, const QByteArray &extra = {})
{
    return "GET " + target + " HTTP/1.0\r\nAccept: " + defaultAccept +
           "\r\nUser-Agent: Mozilla/3.0 (compatible)\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

// The window's handler of cookies: the cookie lives on in the client for the requests that follow.
void storeCookies(THttpClient &client)
{
    client.OnCookie = [&client](QObject *, const QString &data, bool &accept) {
        client.Cookie = data;
        accept = true;
    };
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT

private slots:
    void responses_data();
    void responses();
    void errorStatus_data();
    void errorStatus();
    void anySplitGivesTheSameDocument();
    void requestHasFourLines();
    void relocationWithQueryAndCookie();
    void relocationForms_data();
    void relocationForms();
    void relocationThroughAProxyStaysOnIt();
    void circleOfRedirectsEnds();
    void failures_data();
    void failures();
    void credentialsFromUrlStay();
    void busyWhileWaiting();
    void nestedWaitEndsAfterTheInnerOne();
    void silentServersTimeOut_data();
    void silentServersTimeOut();
    void resetMidBody();
    void responseComplete_data();
    void responseComplete();
    void eventsInOrder();
    void failedStreamWriteAborts();
};

void TestHttpClient::responses_data()
{
    QTest::addColumn<QList<QByteArray>>("blocks");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<int>("failure");

    const QByteArray binary("line\r\n\0zero\nbytes\r\n", 20);
    QTest::newRow("200, body with zero bytes and line ends")
        << QList<QByteArray>{"HTTP/1.0 200 OK\r\nContent-Type: Text/Plain\r\n\r\n" + binary} << 200 << binary
        << QStringLiteral("text/plain") << 0;
    QTest::newRow("header and body in separate blocks")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n\r\n", "ab", "cde"} << 200
        << QByteArray("abcde") << QString() << 0;
    QTest::newRow("status line split inside the code")
        << QList<QByteArray>{"HTTP/1.0 2", "00 OK\r\n\r\nx"} << 200 << QByteArray("x") << QString() << 0;
    QTest::newRow("3xx without location is the document")
        << QList<QByteArray>{"HTTP/1.0 304 Not Modified\r\n\r\nabc"} << 304 << QByteArray("abc") << QString()
        << 0;
    QTest::newRow("<HTML> without header")
        << QList<QByteArray>{"<hTmL><body>\r\nsecond\r\n", "third"} << 0
        << QByteArray("<hTmL><body>second\r\nthird") << QStringLiteral("text/html") << 0;
    QTest::newRow("server closes at once") << QList<QByteArray>{} << 0 << QByteArray() << QString() << 0;
    QTest::newRow("header line of 8190 characters")
        << QList<QByteArray>{"HTTP/1.0 200 OK\r\nX-Long: " + QByteArray(8190 - 8, 'a') + "\r\n\r\nbody"}
        << 200 << QByteArray("body") << QString() << 0;
    QTest::newRow("header line of 8191 characters")
        << QList<QByteArray>{"HTTP/1.0 200 OK\r\nX-Long: " + QByteArray(8191 - 8, 'a') + "\r\n\r\nbody"}
        << 200 << QByteArray() << QString() << int(THttpClient::ErrorLineTooLong);
    QTest::newRow("endless header line") << QList<QByteArray>{QByteArray(100000, 'a')} << 0 << QByteArray()
                                         << QString() << int(THttpClient::ErrorLineTooLong);
    QTest::newRow("zero byte before the line end")
        << QList<QByteArray>{QByteArray("HTTP/1.0 200 OK\0\r\n", 18), QByteArray(9000, 'b')} << 0
        << QByteArray() << QString() << int(THttpClient::ErrorLineTooLong);
    QTest::newRow("status code that is no number")
        << QList<QByteArray>{"HTTP/1.0 2x0 OK\r\n\r\nbody"} << 0 << QByteArray() << QString()
        << int(THttpClient::ErrorBadNumber);
    QTest::newRow("content length that is no number")
        << QList<QByteArray>{"HTTP/1.0 200 OK\r\nContent-Length: 12a\r\n\r\nbody"} << 200 << QByteArray()
        << QString() << int(THttpClient::ErrorBadNumber);
    QTest::newRow("content length does not limit the body")
        << QList<QByteArray>{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nlonger"} << 200
        << QByteArray("longer") << QString() << 0;
}

void TestHttpClient::responses()
{
    QFETCH(QList<QByteArray>, blocks);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, contentType);
    QFETCH(int, failure);

    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond(blocks));
    THttpClient client;
    const Outcome outcome = fetch(client, urlOf(server));
    QVERIFY2(!outcome.raised, qPrintable(outcome.text));
    QCOMPARE(client.StatusCode, status);
    QCOMPARE(outcome.body, body);
    QCOMPARE(client.ContentType, contentType);
    QCOMPARE(int(client.requestError()), failure);
    QCOMPARE(client.State(), THttpState::Ready);
}

void TestHttpClient::errorStatus_data()
{
    QTest::addColumn<ScriptedServer::Script>("script");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("404 in a block of its own")
        << ScriptedServer::Script()
               .waitRequest()
               .send("HTTP/1.0 404 Not Found\r\n")
               .waitPeerClose()
               .send("Content-Type: text/html\r\n\r\n<html>missing</html>")
        << QByteArray();
    QTest::newRow("404 with the start of its body")
        << ScriptedServer::Script()
               .waitRequest()
               .send("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>")
               .waitPeerClose()
               .send("missing</html>")
        << QByteArray("<html>");
    QTest::newRow("404 with a location is not followed")
        << ScriptedServer::Script::respond({"HTTP/1.0 404 Not Found\r\nLocation: /elsewhere\r\n\r\n"})
        << QByteArray();
}

void TestHttpClient::errorStatus()
{
    QFETCH(ScriptedServer::Script, script);
    QFETCH(QByteArray, body);

    ScriptedServer server;
    server.addScript(script);
    THttpClient client;
    const Outcome outcome = fetch(client, urlOf(server));
    QVERIFY(outcome.raised);
    QCOMPARE(outcome.text, QStringLiteral("Not Found"));
    QCOMPARE(outcome.code, quint16(404));
    QCOMPARE(outcome.body, body);
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(client.State(), THttpState::Ready);
}

void TestHttpClient::anySplitGivesTheSameDocument()
{
    const QByteArray response = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nSet-Cookie: a=b\r\n"
                                "Content-Length: 12\r\n\r\nhello\r\nworld";
    for (int split = 1; split < response.size(); ++split) {
        ScriptedServer server;
        server.addScript(ScriptedServer::Script::respond({response.left(split), response.mid(split)}, 5));
        THttpClient client;
        QString cookie;
        client.OnCookie = [&cookie](QObject *, const QString &data, bool &) { cookie = data; };
        const Outcome outcome = fetch(client, urlOf(server));
        const QByteArray where = "split at " + QByteArray::number(split);
        QVERIFY2(!outcome.raised, where.constData());
        QVERIFY2(outcome.body == "hello\r\nworld", where.constData());
        QVERIFY2(client.StatusCode == 200 && client.ContentLength == 12, where.constData());
        QVERIFY2(client.ContentType == QStringLiteral("text/plain"), where.constData());
        QVERIFY2(cookie == QStringLiteral("a=b"), where.constData());
    }
}

void TestHttpClient::requestHasFourLines()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\n"}));
    THttpClient client;
    fetch(client, QStringLiteral("http://127.0.0.1:%1").arg(server.port()));
    QCOMPARE(server.requests().value(0), expectedRequest("/"));
    QCOMPARE(client.receivedHeader(), QStringList{QStringLiteral("HTTP/1.0 200 OK")});
}

void TestHttpClient::relocationWithQueryAndCookie()
{
    ScriptedServer server;
    server.addScript(
        ScriptedServer::Script::respond({"HTTP/1.0 302 Found\r\nLocation: /next?a=1&b=2\r\nSet-Cookie: "
                                         "id=42; path=/\r\n\r\nbody of the 302"}));
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\n", "final"}));
    THttpClient client;
    storeCookies(client);
    const Outcome outcome = fetch(client, urlOf(server, QStringLiteral("/first")));
    QVERIFY(!outcome.raised);
    QCOMPARE(outcome.body, QByteArray("final"));
    QCOMPARE(server.requests(),
             (QList<QByteArray>{expectedRequest("/first"),
                                expectedRequest("/next?a=1&b=2", "Cookie: id=42; path=/\r\n")}));
    QCOMPARE(client.Location, QStringLiteral("http://127.0.0.1/next?a=1&b=2"));
    QCOMPARE(client.StatusCode, 200);
}

void TestHttpClient::relocationForms_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QByteArray>("secondRequestLine");
    QTest::addColumn<QString>("finalLocation");

    QTest::newRow("absolute with port")
        << QStringLiteral("http://localhost:%1/abs") << QByteArray("GET /abs HTTP/1.0")
        << QStringLiteral("http://localhost/abs");
    QTest::newRow("absolute without path")
        << QStringLiteral("http://127.0.0.1:%1") << QByteArray("GET / HTTP/1.0")
        << QStringLiteral("http://127.0.0.1");
    QTest::newRow("single name") << QStringLiteral("page.html")
                                 << QByteArray("GET http://127.0.0.1/page.html HTTP/1.0")
                                 << QStringLiteral("http://127.0.0.1/page.html");
    QTest::newRow("several segments")
        << QStringLiteral("sub/page.html") << QByteArray("GET http://127.0.0.1/sub/page.html HTTP/1.0")
        << QStringLiteral("http://127.0.0.1/sub/page.html");
    QTest::newRow("scheme without slashes")
        << QStringLiteral("http:/plain") << QByteArray("GET /plain HTTP/1.0")
        << QStringLiteral("http://127.0.0.1/plain");
    QTest::newRow("other scheme goes out as HTTP")
        << QStringLiteral("https://127.0.0.1:%1/secure") << QByteArray("GET /secure HTTP/1.0")
        << QStringLiteral("https://127.0.0.1/secure");
}

void TestHttpClient::relocationForms()
{
    QFETCH(QString, location);
    QFETCH(QByteArray, secondRequestLine);
    QFETCH(QString, finalLocation);

    ScriptedServer server;
    const QString value = location.contains(QStringLiteral("%1")) ? location.arg(server.port()) : location;
    // A 200 with a location relocates as well as a 302.
    server.addScript(ScriptedServer::Script::respond(
        {"HTTP/1.0 200 OK\r\nLocation: " + value.toLatin1() + "\r\n\r\nnot this"}));
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\nthis"}));
    THttpClient client;
    const Outcome outcome = fetch(client, urlOf(server));
    QVERIFY2(!outcome.raised, qPrintable(outcome.text));
    QCOMPARE(outcome.body, QByteArray("this"));
    QCOMPARE(server.requests().value(1).split('\r').value(0), secondRequestLine);
    QCOMPARE(client.Location, finalLocation);
}

void TestHttpClient::relocationThroughAProxyStaysOnIt()
{
    ScriptedServer proxy;
    proxy.addScript(ScriptedServer::Script::respond(
        {"HTTP/1.0 302 Found\r\nLocation: http://u:p@b.invalid:81/x\r\n\r\n"}));
    proxy.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\nthis"}));
    THttpClient client;
    client.Proxy = QStringLiteral("127.0.0.1:%1").arg(proxy.port());
    const Outcome outcome = fetch(client, QStringLiteral("http://a.invalid/doc"));
    QVERIFY2(!outcome.raised, qPrintable(outcome.text));
    QCOMPARE(outcome.body, QByteArray("this"));
    const QList<QByteArray> second = proxy.requests().value(1).split('\r');
    QCOMPARE(second.value(0), QByteArray("GET http://b.invalid:81/x HTTP/1.0"));
    QVERIFY(second.contains("\nHost: b.invalid"));
}

void TestHttpClient::circleOfRedirectsEnds()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n"}));
    THttpClient client;
    client.MaxRelocations = 5;
    int locationChanges = 0;
    client.OnLocationChange = [&locationChanges](QObject *) { ++locationChanges; };
    const Outcome outcome = fetch(client, urlOf(server));
    QVERIFY(outcome.raised);
    QCOMPARE(outcome.text, QStringLiteral("too many relocations"));
    QCOMPARE(outcome.code, quint16(404));
    QCOMPARE(server.connectionCount(), 6);
    QCOMPARE(locationChanges, 6);
    QCOMPARE(client.State(), THttpState::Ready);
}

void TestHttpClient::failures_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty URL") << QString() << QStringLiteral("can't resolve hostname to IP address");
    QTest::newRow("bare path") << QStringLiteral("/doc")
                               << QStringLiteral("can't resolve hostname to IP address");
    QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:%1/").arg(closedPort())
                             << QStringLiteral("Connection refused (Error #10061)");
    QTest::newRow("refused after a lookup") << QStringLiteral("http://localhost:%1/").arg(closedPort())
                                            << QStringLiteral("Connection refused (Error #10061)");
    QTest::newRow("port out of range") << QStringLiteral("http://127.0.0.1:99999/")
                                       << QStringLiteral("can't connect: Invalid argument (Error #10022)");
    QTest::newRow("unknown service") << QStringLiteral("http://127.0.0.1:no-such-service/")
                                     << QStringLiteral("can't connect: Invalid argument (Error #10022)");
}

void TestHttpClient::failures()
{
    QFETCH(QString, url);
    QFETCH(QString, text);

    THttpClient client;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Outcome outcome = fetch(client, url);
        QVERIFY(outcome.raised);
        QCOMPARE(outcome.text, text);
        QCOMPARE(outcome.code, quint16(404));
        QCOMPARE(client.State(), THttpState::Ready);
        QVERIFY(outcome.body.isEmpty());
    }
}

void TestHttpClient::credentialsFromUrlStay()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\n"}));
    THttpClient client;
    fetch(client, QStringLiteral("http://user:pa:ss@127.0.0.1:%1/x").arg(server.port()));
    fetch(client, urlOf(server, QStringLiteral("/y")));
    const QByteArray authorization = "Authorization: Basic " + QByteArray("user:pa:ss").toBase64() + "\r\n";
    QCOMPARE(server.requests(),
             (QList<QByteArray>{expectedRequest("/x", authorization), expectedRequest("/y", authorization)}));
    QCOMPARE(client.Username, QStringLiteral("user"));
    QCOMPARE(client.Password, QStringLiteral("pa:ss"));
}

void TestHttpClient::busyWhileWaiting()
{
    ScriptedServer server;
    server.addScript(
        ScriptedServer::Script().waitRequest().pause(200).send("HTTP/1.0 200 OK\r\n\r\nfirst").close());
    THttpClient client;
    Outcome second;
    bool timerRan = false;
    // A caller that meets a busy client must not touch its properties; this one only calls Get.
    QTimer::singleShot(20, [&] {
        timerRan = true;
        try {
            client.Get();
        } catch (const EHttpException &error) {
            second.raised = true;
            second.text = error.text();
            second.code = error.ErrorCode;
        }
    });
    QByteArray body;
    QBuffer buffer(&body);
    buffer.open(QIODevice::WriteOnly);
    client.URL = urlOf(server);
    client.ReceiveStream = &buffer;
    client.Get();
    QVERIFY(timerRan);
    QVERIFY(second.raised);
    QCOMPARE(second.text, QStringLiteral("HTTP component is busy"));
    QCOMPARE(second.code, quint16(1));
    QCOMPARE(body, QByteArray("first"));
    QCOMPARE(server.connectionCount(), 1);
}

void TestHttpClient::nestedWaitEndsAfterTheInnerOne()
{
    // The outer request finishes first, yet its Get can only return once the wait started inside it
    // (by a timer, through a second client) has returned; both get their documents.
    ScriptedServer fast;
    fast.addScript(
        ScriptedServer::Script().waitRequest().pause(30).send("HTTP/1.0 200 OK\r\n\r\nouter").close());
    ScriptedServer slow;
    slow.addScript(
        ScriptedServer::Script().waitRequest().pause(300).send("HTTP/1.0 200 OK\r\n\r\ninner").close());
    THttpClient outer;
    THttpClient inner;
    QStringList order;
    Outcome innerOutcome;
    QTimer::singleShot(10, [&] {
        innerOutcome = fetch(inner, urlOf(slow));
        order << QStringLiteral("inner returned, outer %1").arg(outer.busy() ? "busy" : "ready");
    });
    const Outcome outerOutcome = fetch(outer, urlOf(fast));
    order << QStringLiteral("outer returned");
    QCOMPARE(order,
             (QStringList{QStringLiteral("inner returned, outer ready"), QStringLiteral("outer returned")}));
    QCOMPARE(outerOutcome.body, QByteArray("outer"));
    QCOMPARE(innerOutcome.body, QByteArray("inner"));
}

void TestHttpClient::silentServersTimeOut_data()
{
    QTest::addColumn<ScriptedServer::Script>("script");

    QTest::newRow("never answers") << ScriptedServer::Script().waitRequest();
    QTest::newRow("answers the header only")
        << ScriptedServer::Script().waitRequest().send("HTTP/1.0 200 OK\r\n");
    QTest::newRow("drips a byte at a time")
        << ScriptedServer::Script().waitRequest().drip("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(1000, 'x'), 50);
}

void TestHttpClient::silentServersTimeOut()
{
    QFETCH(ScriptedServer::Script, script);

    ScriptedServer server;
    server.addScript(script);
    THttpClient client;
    client.IdleTimeout = 300;
    client.Timeout = 1000;
    const Outcome outcome = fetch(client, urlOf(server));
    QVERIFY(outcome.raised);
    QCOMPARE(outcome.text, QStringLiteral("Connection timed out (Error #10060)"));
    QCOMPARE(outcome.code, quint16(404));
    QCOMPARE(client.requestError(), quint16(10060));
    QTRY_COMPARE(server.closedByPeer(), 1);

    // The client serves the next request as usual.
    ScriptedServer next;
    next.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\nfine"}));
    QCOMPARE(fetch(client, urlOf(next)).body, QByteArray("fine"));
}

void TestHttpClient::resetMidBody()
{
    ScriptedServer server;
    const QByteArray body(3000, 'r');
    server.addScript(ScriptedServer::Script()
                         .waitRequest()
                         .send("HTTP/1.0 200 OK\r\nContent-Length: 10000\r\n\r\n" + body)
                         .pause(50)
                         .reset());
    THttpClient client;
    const Outcome outcome = fetch(client, urlOf(server));
    QVERIFY(!outcome.raised);
    QVERIFY(body.startsWith(outcome.body));
    QCOMPARE(client.receivedBytes(), outcome.body.size());
    QCOMPARE(client.requestError(), quint16(10054));
    QCOMPARE(client.State(), THttpState::Ready);
}

void TestHttpClient::responseComplete_data()
{
    QTest::addColumn<ScriptedServer::Script>("script");
    QTest::addColumn<bool>("complete");
    const QByteArray whole = "HTTP/1.0 200 OK\r\nContent-Length: 5013\r\n\r\n" + QByteArray(5013, 'q');
    const QByteArray unsized = "HTTP/1.0 200 OK\r\n\r\n" + QByteArray(5013, 'q');
    using Script = ScriptedServer::Script;
    QTest::newRow("whole length, then reset") << Script().waitRequest().send(whole).pause(50).reset() << true;
    QTest::newRow("whole length, then close") << Script().waitRequest().send(whole).close() << true;
    QTest::newRow("short of the length, then close")
        << Script().waitRequest().send(whole.chopped(1)).close() << false;
    QTest::newRow("no length, close") << Script().waitRequest().send(unsized).close() << true;
    QTest::newRow("no length, reset") << Script().waitRequest().send(unsized).pause(50).reset() << false;
    QTest::newRow("header cut off") << Script().waitRequest().send("HTTP/1.0 200 OK\r\nServer: x\r\n").close()
                                    << false;
}

void TestHttpClient::responseComplete()
{
    QFETCH(ScriptedServer::Script, script);
    QFETCH(bool, complete);
    ScriptedServer server;
    server.addScript(script);
    THttpClient client;
    QVERIFY(!fetch(client, urlOf(server)).raised);
    QCOMPARE(client.responseComplete(), complete);
}

void TestHttpClient::eventsInOrder()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\nSet-Cookie: s=1\r\n\r\nab", "cd"}));
    THttpClient client;
    QStringList events;
    const auto note = [&events](const char *name) {
        return [&events, name](QObject *) { events << QString::fromLatin1(name); };
    };
    client.OnStateChange = [&](QObject *) { events << QStringLiteral("state %1").arg(int(client.State())); };
    client.OnSessionConnected = note("connected");
    client.OnRequestHeaderBegin = note("request begin");
    client.OnCommand = [&events](QObject *, QString &line) {
        events << QStringLiteral("command ") + line.section(QLatin1Char(' '), 0, 0);
    };
    client.OnRequestHeaderEnd = note("request end");
    client.OnHeaderBegin = note("header begin");
    client.OnHeaderData = note("header data");
    client.OnCookie = [&events](QObject *, const QString &data, bool &accept) {
        QVERIFY(accept);
        events << QStringLiteral("cookie ") + data;
    };
    client.OnHeaderEnd = note("header end");
    client.OnDocBegin = note("doc begin");
    client.OnDocData = [&events](QObject *, const char *buffer, int length) {
        events << QStringLiteral("data ") + QString::fromLatin1(buffer, length);
    };
    client.OnDocEnd = note("doc end");
    client.OnRequestDone = [&events](QObject *, THttpRequest, quint16 error) {
        events << QStringLiteral("done %1").arg(error);
    };
    fetch(client, urlOf(server));
    QTRY_COMPARE(events.value(events.size() - 1), QStringLiteral("done 0"));
    const QStringList expected{QStringLiteral("state 1"),         QStringLiteral("state 3"),
                               QStringLiteral("state 4"),         QStringLiteral("state 2"),
                               QStringLiteral("connected"),       QStringLiteral("state 5"),
                               QStringLiteral("request begin"),   QStringLiteral("command GET"),
                               QStringLiteral("command Accept:"), QStringLiteral("command User-Agent:"),
                               QStringLiteral("command Host:"),   QStringLiteral("request end"),
                               QStringLiteral("header begin"),    QStringLiteral("header data"),
                               QStringLiteral("cookie s=1"),      QStringLiteral("header data"),
                               QStringLiteral("state 6"),         QStringLiteral("header end"),
                               QStringLiteral("doc begin"),       QStringLiteral("data ab"),
                               QStringLiteral("data cd"),         QStringLiteral("doc end"),
                               QStringLiteral("state 0"),         QStringLiteral("done 0")};
    QCOMPARE(events, expected);
}

void TestHttpClient::failedStreamWriteAborts()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\nbody", "more"}));
    THttpClient client;
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    client.URL = urlOf(server);
    client.ReceiveStream = &readOnly;
    client.Get();
    QCOMPARE(client.requestError(), THttpClient::ErrorStreamWrite);
    QCOMPARE(client.State(), THttpState::Ready);
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "test_httpclient.moc"
