#include "net/httpurl.h"
#include "net/socketerror.h"
#include "net/tcpconnection.h"
#include "scriptedserver.h"

#include <QTcpServer>
#include <QTest>

// The URL reading and the connection object under the HTTP client.
class TestTransport : public QObject
{
    Q_OBJECT

private slots:
    void urlParts_data();
    void urlParts();
    void socketErrorTexts_data();
    void socketErrorTexts();
    void lookupOfAddressesIsImmediate_data();
    void lookupOfAddressesIsImmediate();
    void lookupOfLocalhost();
    void refusedConnectIsFollowedByClose();
    void everyByteBeforeTheClosedEvent();
    void handlerExceptionAbortsTheConnection();
};

void TestTransport::urlParts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("parts"); // scheme, user, password, host, port, path

    QTest::newRow("empty") << QString() << QStringList{{}, {}, {}, {}, {}, {}};
    QTest::newRow("absolute") << QStringLiteral("http://host/a/b?q=1")
                              << QStringList{"http", {}, {}, "host", {}, "/a/b?q=1"};
    QTest::newRow("no path") << QStringLiteral("http://host") << QStringList{"http", {}, {}, "host", {}, {}};
    QTest::newRow("port") << QStringLiteral("http://host:8080/x")
                          << QStringList{"http", {}, {}, "host", "8080", "/x"};
    QTest::newRow("user and password, last @ and first colon")
        << QStringLiteral("ftp://us:er:pw@x@host:21/")
        << QStringList{"ftp", "us", "er:pw@x", "host", "21", "/"};
    QTest::newRow("user only") << QStringLiteral("http://user@host/")
                               << QStringList{"http", "user", {}, "host", {}, "/"};
    QTest::newRow("bare path") << QStringLiteral("/only/path")
                               << QStringList{"http", {}, {}, {}, {}, "/only/path"};
    QTest::newRow("no scheme") << QStringLiteral("host:81/p") << QStringList{{}, {}, {}, "host", "81", "/p"};
    QTest::newRow("network path") << QStringLiteral("//host/p") << QStringList{{}, {}, {}, "host", {}, "/p"};
    QTest::newRow("scheme without slashes")
        << QStringLiteral("HTTP:/p") << QStringList{"HTTP", {}, {}, {}, {}, "/p"};
    QTest::newRow("query without path")
        << QStringLiteral("http://host?x=1") << QStringList{"http", {}, {}, "host", {}, "/?x=1"};
}

void TestTransport::urlParts()
{
    QFETCH(QString, text);
    QFETCH(QStringList, parts);
    const HttpUrl url = HttpUrl::parse(text);
    QCOMPARE((QStringList{url.scheme, url.user, url.password, url.host, url.port, url.path}), parts);
}

void TestTransport::socketErrorTexts_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0 << QStringLiteral("No Error");
    QTest::newRow("refused") << 10061 << QStringLiteral("Connection refused");
    QTest::newRow("splice") << 10059 << QStringLiteral("Too many references: can't splice");
    QTest::newRow("host") << 11001 << QStringLiteral("Host not found");
    QTest::newRow("unknown") << 10000 << QStringLiteral("Not a WinSock error");
}

void TestTransport::socketErrorTexts()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    QCOMPARE(SocketError::text(number), text);
}

void TestTransport::lookupOfAddressesIsImmediate_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("address");
    QTest::newRow("dotted") << QStringLiteral("127.0.0.1") << 0 << QStringLiteral("127.0.0.1");
    QTest::newRow("empty") << QString() << 10022 << QString();
}

void TestTransport::lookupOfAddressesIsImmediate()
{
    QFETCH(QString, host);
    QFETCH(int, error);
    QFETCH(QString, address);
    TTcpConnection connection;
    QList<int> results;
    connection.OnDnsLookupDone = [&results](quint16 e) { results << e; };
    connection.DnsLookup(host);
    QCOMPARE(results, QList<int>{error});
    QCOMPARE(connection.DnsResult, address);
}

void TestTransport::lookupOfLocalhost()
{
    TTcpConnection connection;
    QList<int> results;
    connection.OnDnsLookupDone = [&results](quint16 e) { results << e; };
    connection.DnsLookup(QStringLiteral("localhost"));
    QTRY_COMPARE(results, QList<int>{0});
    QCOMPARE(connection.DnsResult, QStringLiteral("127.0.0.1"));
}

void TestTransport::refusedConnectIsFollowedByClose()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    TTcpConnection connection;
    QStringList events;
    connection.OnSessionConnected = [&events](quint16 e) { events << QStringLiteral("connected %1").arg(e); };
    connection.OnSessionClosed = [&events](quint16 e) { events << QStringLiteral("closed %1").arg(e); };
    connection.Connect(QStringLiteral("127.0.0.1"), QString::number(port));
    QTRY_COMPARE(events, (QStringList{QStringLiteral("connected 10061"), QStringLiteral("closed 10061")}));
    QVERIFY(!connection.isOpen());
}

void TestTransport::everyByteBeforeTheClosedEvent()
{
    ScriptedServer server;
    const QByteArray payload = QByteArray(200000, 'p') + "end";
    server.addScript(ScriptedServer::Script().send(payload).close());
    TTcpConnection connection;
    QByteArray received;
    int closed = 0;
    bool dataAfterClose = false;
    connection.OnDataAvailable = [&](quint16) {
        char buffer[1000];
        dataAfterClose = dataAfterClose || closed > 0;
        received.append(buffer, connection.Receive(buffer, sizeof buffer));
    };
    connection.OnSessionClosed = [&closed](quint16) { ++closed; };
    connection.Connect(QStringLiteral("127.0.0.1"), QString::number(server.port()));
    QTRY_COMPARE(closed, 1);
    QCOMPARE(received.size(), payload.size());
    QVERIFY(received == payload);
    QVERIFY(!dataAfterClose);
    connection.Close();
    QCOMPARE(closed, 1);
}

void TestTransport::handlerExceptionAbortsTheConnection()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::Script().send("data").waitPeerClose());
    TTcpConnection connection;
    QList<int> closedErrors;
    connection.OnDataAvailable = [](quint16) { throw std::runtime_error("handler failed"); };
    connection.OnSessionClosed = [&closedErrors](quint16 e) { closedErrors << e; };
    connection.Connect(QStringLiteral("127.0.0.1"), QString::number(server.port()));
    QTRY_COMPARE(closedErrors, QList<int>{10053});
    QTRY_COMPARE(server.closedByPeer(), 1);
}

QTEST_GUILESS_MAIN(TestTransport)
#include "test_transport.moc"
