// The feed fetcher against servers on 127.0.0.1: plain HTTP, HTTPS with the test's own throw-away
// authority, and a forwarding proxy that the fetcher finds through http_proxy/https_proxy.

#include "net/feedfetcher.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace {

// Answers each request by the response that `answer` gives for its header; an empty one leaves the
// connection silent.
class FeedServer : public QObject
{
public:
    FeedServer(const QString &certificate, const QString &key)
    {
        if (certificate.isEmpty()) {
            m_server = std::make_unique<QTcpServer>();
        } else {
            auto server = std::make_unique<QSslServer>();
            QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
            configuration.setLocalCertificateChain(QSslCertificate::fromPath(certificate));
            QFile keyFile(key);
            keyFile.open(QIODevice::ReadOnly);
            configuration.setPrivateKey(QSslKey(&keyFile, QSsl::Ec));
            configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
            server->setSslConfiguration(configuration);
            m_server = std::move(server);
        }
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->setProperty("request",
                                        socket->property("request").toByteArray() + socket->readAll());
                    const QByteArray request = socket->property("request").toByteArray();
                    if (!request.contains("\r\n\r\n") || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    const QByteArray response = answer(request);
                    if (!response.isEmpty()) {
                        socket->write(response);
                        socket->disconnectFromHost();
                    }
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        QVERIFY(m_server->listen(QHostAddress::LocalHost));
    }

    quint16 port() const { return m_server->serverPort(); }

    static QByteArray answer(const QByteArray &request)
    {
        const QByteArray target = request.split(' ').value(1);
        const auto respond = [](const QByteArray &status, const QByteArray &headers, const QByteArray &body) {
            return "HTTP/1.1 " + status +
                   "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
                   headers + "\r\n" + body;
        };
        if (target.endsWith("/feed"))
            return respond("200 OK", "Content-Type: application/json\r\n", "{\"quotes\":[]}");
        if (target.endsWith("/gzip")) {
            static const QRegularExpression acceptsGzip(QStringLiteral("accept-encoding:[^\r]*gzip"),
                                                        QRegularExpression::CaseInsensitiveOption);
            if (!acceptsGzip.match(QString::fromLatin1(request)).hasMatch())
                return respond("406 Not Acceptable", {}, {});
            return respond(
                "200 OK", "Content-Encoding: gzip\r\n",
                QByteArray::fromHex("1f8b08000000000002032b2ccd2f492dd65148afca2c28484d0100f4c628b40f0"
                                    "00000"));
        }
        if (target.endsWith("/moved"))
            return respond("302 Found", "Location: /feed\r\n", "moved");
        if (target.endsWith("/circle"))
            return respond("302 Found", "Location: /circle\r\n", {});
        if (target.endsWith("/short"))
            return "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 100\r\n\r\nonly ten b";
        if (target.endsWith("/silent"))
            return {};
        return respond("404 Not Found", {}, "no such feed");
    }

private:
    std::unique_ptr<QTcpServer> m_server;
};

// A forwarding proxy: "CONNECT host:port" tunnels and absolute-form requests both go to 127.0.0.1 at
// the port named, whatever the host. It records the first line of every request it forwarded.
class ForwardingProxy : public QObject
{
public:
    ForwardingProxy()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_server.nextPendingConnection())
                connect(client, &QTcpSocket::readyRead, this, [this, client] { forward(client); });
        });
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
    }

    quint16 port() const { return m_server.serverPort(); }
    QList<QByteArray> requestLines;

private:
    void forward(QTcpSocket *client)
    {
        if (client->property("forwarding").toBool())
            return;
        if (!client->canReadLine())
            return;
        client->setProperty("forwarding", true);
        const QByteArray line = client->peek(4096).split('\r').first();
        requestLines.append(line);
        const bool tunnel = line.startsWith("CONNECT ");
        const QUrl target = tunnel ? QUrl("//" + line.split(' ').value(1)) : QUrl(line.split(' ').value(1));
        auto *server = new QTcpSocket(client);
        connect(server, &QTcpSocket::connected, client, [client, server, tunnel] {
            if (tunnel) {
                client->readAll(); // the CONNECT header
                client->write("HTTP/1.1 200 Connection established\r\n\r\n");
            } else {
                server->write(client->readAll());
            }
            connect(client, &QTcpSocket::readyRead, server,
                    [client, server] { server->write(client->readAll()); });
        });
        connect(server, &QTcpSocket::readyRead, client,
                [client, server] { client->write(server->readAll()); });
        connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        server->connectToHost(QHostAddress::LocalHost, quint16(target.port()));
    }

    QTcpServer m_server;
};

} // namespace

class TestFeedFetcher : public QObject
{
    Q_OBJECT

private:
    enum Server { Plain, Trusted, OtherHost, Expired };

    QString makeCertificate(const QString &name, const QString &altNames, int days)
    {
        const QString stem = m_dir.filePath(name);
        QFile extensions(stem + QStringLiteral(".ext"));
        extensions.open(QIODevice::WriteOnly);
        extensions.write("subjectAltName=" + altNames.toUtf8() + "\n");
        extensions.close();
        openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                 stem + ".key", "-out", stem + ".csr", "-subj", "/CN=" + name});
        openssl({"x509", "-req", "-in", stem + ".csr", "-CA", m_dir.filePath("ca.pem"), "-CAkey",
                 m_dir.filePath("ca.key"), "-set_serial", QString::number(++m_serial), "-days",
                 QString::number(days), "-extfile", stem + ".ext", "-out", stem + ".pem"});
        return stem;
    }

    static void openssl(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("openssl"), arguments);
        QVERIFY(process.waitForFinished(30000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    }

    QTemporaryDir m_dir;
    int m_serial = 0;
    std::unique_ptr<FeedServer> m_servers[4];
    std::unique_ptr<ForwardingProxy> m_proxy;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", m_dir.filePath("ca.key"), "-out", m_dir.filePath("ca.pem"), "-days", "2", "-subj",
                 "/CN=Zalvento Test CA"});
        const QString trusted = makeCertificate("trusted", "IP:127.0.0.1,DNS:kurse.test", 2);
        const QString other = makeCertificate("other", "DNS:other.example", 2);
        const QString expired = makeCertificate("expired", "IP:127.0.0.1", -1);
        m_servers[Plain] = std::make_unique<FeedServer>(QString(), QString());
        m_servers[Trusted] = std::make_unique<FeedServer>(trusted + ".pem", trusted + ".key");
        m_servers[OtherHost] = std::make_unique<FeedServer>(other + ".pem", other + ".key");
        m_servers[Expired] = std::make_unique<FeedServer>(expired + ".pem", expired + ".key");
        // Loopback targets never go through a proxy; the host "kurse.test" only the proxy can reach.
        m_proxy = std::make_unique<ForwardingProxy>();
        const QByteArray proxy = "http://127.0.0.1:" + QByteArray::number(m_proxy->port());
        qputenv("http_proxy", proxy);
        qputenv("https_proxy", proxy);
        qunsetenv("no_proxy");
    }

    void fetch_data()
    {
        QTest::addColumn<int>("server");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("withCa");
        QTest::addColumn<QByteArray>("body"); // expected on success
        QTest::addColumn<QString>("failure"); // part of the reason on failure

        const QByteArray feed = "{\"quotes\":[]}";
        QTest::newRow("http") << int(Plain) << "127.0.0.1"
                              << "/feed" << false << feed << "";
        QTest::newRow("https, own authority") << int(Trusted) << "127.0.0.1"
                                              << "/feed" << true << feed << "";
        QTest::newRow("https, untrusted") << int(Trusted) << "127.0.0.1"
                                          << "/feed" << false << QByteArray() << "Zertifikat abgelehnt";
        QTest::newRow("https, wrong host name")
            << int(OtherHost) << "127.0.0.1"
            << "/feed" << true << QByteArray() << "host name did not match";
        QTest::newRow("https, expired") << int(Expired) << "127.0.0.1"
                                        << "/feed" << true << QByteArray() << "expired";
        QTest::newRow("redirect") << int(Trusted) << "127.0.0.1"
                                  << "/moved" << true << feed << "";
        QTest::newRow("redirect in a circle") << int(Plain) << "127.0.0.1"
                                              << "/circle" << false << QByteArray() << "redirect";
        QTest::newRow("gzip") << int(Plain) << "127.0.0.1"
                              << "/gzip" << false << QByteArray("quotes, gzipped") << "";
        QTest::newRow("404") << int(Plain) << "127.0.0.1"
                             << "/nothing" << false << QByteArray() << "404 Not Found";
        QTest::newRow("cut short") << int(Plain) << "127.0.0.1"
                                   << "/short" << false << QByteArray() << "closed";
        QTest::newRow("silent server") << int(Plain) << "127.0.0.1"
                                       << "/silent" << false << QByteArray() << "timed out";
        QTest::newRow("http proxy") << int(Plain) << "kurse.test"
                                    << "/feed" << false << feed << "";
        QTest::newRow("https proxy") << int(Trusted) << "kurse.test"
                                     << "/feed" << true << feed << "";
    }

    void fetch()
    {
        QFETCH(int, server);
        QFETCH(QString, host);
        QFETCH(QString, path);
        QFETCH(bool, withCa);
        QFETCH(QByteArray, body);
        QFETCH(QString, failure);

        FeedFetcher fetcher;
        fetcher.IdleTimeout = 500;
        if (server != Plain)
            fetcher.IdleTimeout = 5000; // a handshake on a loaded machine
        QStringList statuses;
        fetcher.OnStatus = [&statuses](const QString &text) { statuses.append(text); };
        const QUrl url(QStringLiteral("%1://%2:%3%4")
                           .arg(server == Plain ? "http" : "https", host)
                           .arg(m_servers[server]->port())
                           .arg(path));
        const int proxied = int(m_proxy->requestLines.size());
        try {
            const QByteArray received = fetcher.fetch(url, withCa ? m_dir.filePath("ca.pem") : QString());
            QVERIFY2(failure.isEmpty(), "the fetch should have failed");
            QCOMPARE(received, body);
            QCOMPARE(statuses,
                     QStringList({"Loading", QStringLiteral("Received %1 bytes").arg(body.size())}));
        } catch (const FeedFetchError &error) {
            QVERIFY2(!failure.isEmpty() && error.text().contains(failure, Qt::CaseInsensitive),
                     qPrintable(error.text()));
            QCOMPARE(statuses, QStringList({"Loading"}));
        }
        QCOMPARE(m_proxy->requestLines.size() > proxied, host == u"kurse.test");
        QVERIFY(!fetcher.busy());
    }

    // Closing the window ends a fetch that waits for a silent server at once.
    void abortEndsFetch()
    {
        FeedFetcher fetcher;
        QTimer::singleShot(50, &fetcher, &FeedFetcher::abort);
        QVERIFY_THROWS_EXCEPTION(
            FeedFetchError,
            fetcher.fetch(QUrl(QStringLiteral("http://127.0.0.1:%1/silent").arg(m_servers[Plain]->port()))));
    }

    void caFileWithoutCertificate()
    {
        FeedFetcher fetcher;
        QVERIFY_THROWS_EXCEPTION(FeedFetchError, fetcher.fetch(QUrl(QStringLiteral("https://127.0.0.1:1/")),
                                                               m_dir.filePath("trusted.key")));
        QVERIFY(!fetcher.busy());
    }
};

QTEST_GUILESS_MAIN(TestFeedFetcher)
#include "test_feedfetcher.moc"
