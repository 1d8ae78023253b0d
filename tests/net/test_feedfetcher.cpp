// The feed fetcher against servers on 127.0.0.1: plain HTTP, HTTPS with the test's own throw-away
// authority, and a forwarding proxy that the fetcher finds through http_proxy/https_proxy.

#include "net/feedfetcher.h"

#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

const QByteArray feed = "{\"quotes\":[]}";

QByteArray respond(const QByteArray &status, const QByteArray &headers, const QByteArray &body)
{
    return "HTTP/1.1 " + status +
           "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + headers +
           "\r\n" + body;
}

// The answer to a request by the last segment of its path; none for "/silent".
QByteArray answer(const QByteArray &request)
{
    const QByteArray target = request.split(' ').value(1);
    static const QHash<QByteArray, QByteArray> answers = {
        {"/feed", respond("200 OK", {}, feed)},
        {"/gzip", respond("200 OK", "Content-Encoding: gzip\r\n",
                          QByteArray::fromHex(
                              "1f8b08000000000002032b2ccd2f492dd65148afca2c28484d0100f4c628b40f000000"))},
        {"/moved", respond("302 Found", "Location: /feed\r\n", "moved")},
        {"/circle", respond("302 Found", "Location: /circle\r\n", {})},
        {"/short", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 100\r\n\r\nonly ten b"},
        {"/silent", {}},
        {"/busy", respond("429 Too Many Requests", "Retry-After: 20\r\n", {})},
        {"/endless", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(3 << 20, 'x')},
    };
    return answers.value(target.mid(target.lastIndexOf('/')), respond("404 Not Found", {}, "no such feed"));
}

// A server of answer(): plain when `stem` is empty, else TLS with the certificate and key `stem`.pem/.key.
std::unique_ptr<QTcpServer> startServer(const QString &stem)
{
    std::unique_ptr<QTcpServer> server;
    if (stem.isEmpty()) {
        server = std::make_unique<QTcpServer>();
    } else {
        auto tls = std::make_unique<QSslServer>();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificateChain(QSslCertificate::fromPath(stem + ".pem"));
        QFile key(stem + ".key");
        key.open(QIODevice::ReadOnly);
        configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
        tls->setSslConfiguration(configuration);
        server = std::move(tls);
    }
    QTcpServer *listener = server.get();
    QObject::connect(listener, &QTcpServer::pendingConnectionAvailable, listener, [listener] {
        while (QTcpSocket *socket = listener->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                const QByteArray request = socket->peek(65536);
                if (!request.contains("\r\n\r\n") || socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                if (const QByteArray response = answer(request); !response.isEmpty()) {
                    socket->write(response);
                    socket->disconnectFromHost();
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    listener->listen(QHostAddress::LocalHost);
    return server;
}

// A forwarding proxy: "CONNECT host:port" tunnels and absolute-form requests both go to 127.0.0.1 at the
// port named, whatever the host. It counts the requests it forwarded.
class ForwardingProxy : public QTcpServer
{
public:
    int forwarded = 0;

    ForwardingProxy()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = nextPendingConnection())
                connect(client, &QTcpSocket::readyRead, this, [this, client] { forward(client); });
        });
        listen(QHostAddress::LocalHost);
    }

private:
    void forward(QTcpSocket *client)
    {
        if (client->property("forwarding").toBool() || !client->canReadLine())
            return;
        client->setProperty("forwarding", true);
        ++forwarded;
        const QList<QByteArray> line = client->peek(4096).split('\r').first().split(' ');
        const bool tunnel = line.first() == "CONNECT";
        const QUrl target(tunnel ? "//" + line.value(1) : line.value(1));
        auto *server = new QTcpSocket(client);
        connect(server, &QTcpSocket::connected, client, [client, server, tunnel] {
            if (tunnel) {
                client->readAll();
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
};

// An authority "ca" and certificates signed by it: "trusted" for 127.0.0.1 and kurse.test, "other" for
// another host, "expired" for 127.0.0.1 but out of date.
const char *makeCertificates = R"(set -e
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $ec -keyout ca.key -out ca.pem -days 2 -subj /CN=ca 2>/dev/null
serial=1
for c in "trusted IP:127.0.0.1,DNS:kurse.test 2" "other DNS:other.example 2" "expired IP:127.0.0.1 -1"; do
  set -- $c
  openssl req $ec -keyout $1.key -out $1.csr -subj /CN=$1 2>/dev/null
  echo "subjectAltName=$2" > $1.ext
  serial=$((serial + 1))
  openssl x509 -req -in $1.csr -CA ca.pem -CAkey ca.key -set_serial $serial -days $3 -extfile $1.ext -out $1.pem
done)";

} // namespace

class TestFeedFetcher : public QObject
{
    Q_OBJECT

private:
    enum Server { Plain, Trusted, OtherHost, Expired };
    QTemporaryDir m_dir;
    std::unique_ptr<QTcpServer> m_servers[4];
    std::unique_ptr<ForwardingProxy> m_proxy;

private slots:
    void initTestCase()
    {
        QProcess openssl;
        openssl.setWorkingDirectory(m_dir.path());
        openssl.start(QStringLiteral("bash"), {"-c", makeCertificates});
        QVERIFY(openssl.waitForFinished(60000));
        QVERIFY2(openssl.exitCode() == 0, openssl.readAllStandardError().constData());
        m_servers[Plain] = startServer({});
        m_servers[Trusted] = startServer(m_dir.filePath("trusted"));
        m_servers[OtherHost] = startServer(m_dir.filePath("other"));
        m_servers[Expired] = startServer(m_dir.filePath("expired"));
        // Loopback targets never go through a proxy; the host "kurse.test" only the proxy can reach.
        m_proxy = std::make_unique<ForwardingProxy>();
        const QByteArray proxy = "http://127.0.0.1:" + QByteArray::number(m_proxy->serverPort());
        qputenv("http_proxy", proxy);
        qputenv("https_proxy", proxy);
        qunsetenv("no_proxy");
    }

    void fetch_data()
    {
        QTest::addColumn<int>("server");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("ca");      // the extra authorities' file in the test's folder
        QTest::addColumn<QByteArray>("body"); // expected on success
        QTest::addColumn<QString>("failure"); // part of the reason on failure

        const QString local = "127.0.0.1";
        QTest::newRow("http") << int(Plain) << local << "/feed"
                              << "" << feed << "";
        QTest::newRow("https, own authority") << int(Trusted) << local << "/feed"
                                              << "ca.pem" << feed << "";
        QTest::newRow("https, untrusted") << int(Trusted) << local << "/feed"
                                          << "" << QByteArray() << "Zertifikat nicht vertrauenswürdig";
        QTest::newRow("https, wrong host name") << int(OtherHost) << local << "/feed"
                                                << "ca.pem" << QByteArray() << "Zertifikat gilt nicht";
        QTest::newRow("https, expired") << int(Expired) << local << "/feed"
                                        << "ca.pem" << QByteArray() << "Zertifikat abgelaufen";
        QTest::newRow("ca file without certificate")
            << int(Trusted) << local << "/feed"
            << "trusted.key" << QByteArray() << "enthält kein Zertifikat";
        QTest::newRow("redirect") << int(Trusted) << local << "/moved"
                                  << "ca.pem" << feed << "";
        QTest::newRow("redirect in a circle") << int(Plain) << local << "/circle"
                                              << "" << QByteArray() << "Umleitungen";
        QTest::newRow("gzip") << int(Plain) << local << "/gzip"
                              << "" << QByteArray("quotes, gzipped") << "";
        QTest::newRow("404") << int(Plain) << local << "/nothing"
                             << "" << QByteArray() << "HTTP 404 Not Found";
        QTest::newRow("cut short") << int(Plain) << local << "/short"
                                   << "" << QByteArray() << "vorzeitig geschlossen";
        QTest::newRow("larger than MaxSize, no length") << int(Plain) << local << "/endless"
                                                        << "" << QByteArray() << "größer als 1 MiB";
        QTest::newRow("silent server") << int(Plain) << local << "/silent"
                                       << "" << QByteArray() << "keine Antwort in 1 s";
        QTest::newRow("http proxy") << int(Plain) << "kurse.test"
                                    << "/feed"
                                    << "" << feed << "";
        QTest::newRow("https proxy") << int(Trusted) << "kurse.test"
                                     << "/feed"
                                     << "ca.pem" << feed << "";
    }

    void fetch()
    {
        QFETCH(int, server);
        QFETCH(QString, host);
        QFETCH(QString, path);
        QFETCH(QString, ca);
        QFETCH(QByteArray, body);
        QFETCH(QString, failure);

        FeedFetcher fetcher;
        fetcher.IdleTimeout = server == Plain ? 500 : 5000; // a handshake on a loaded machine
        fetcher.MaxSize = 1 << 20;
        QStringList statuses;
        fetcher.OnStatus = [&statuses](const QString &text) { statuses.append(text); };
        const QUrl url(QStringLiteral("%1://%2:%3%4")
                           .arg(server == Plain ? "http" : "https", host)
                           .arg(m_servers[server]->serverPort())
                           .arg(path));
        const int forwarded = m_proxy->forwarded;
        try {
            const QByteArray received = fetcher.fetch(url, ca.isEmpty() ? QString() : m_dir.filePath(ca));
            QVERIFY2(failure.isEmpty(), "the fetch should have failed");
            QCOMPARE(received, body);
            QCOMPARE(statuses,
                     QStringList({"Loading", QStringLiteral("Received %1 bytes").arg(body.size())}));
        } catch (const FeedFetchError &error) {
            QVERIFY2(!failure.isEmpty() && error.text().contains(failure, Qt::CaseInsensitive),
                     qPrintable(error.text()));
            QVERIFY(statuses.size() <= 1);
        }
        QCOMPARE(m_proxy->forwarded > forwarded, host == u"kurse.test");
        QVERIFY(!fetcher.busy());
    }

    // Many requests: never more than `parallel` connections at once, each with the headers, and the
    // Retry-After of a 429 in its reply.
    void manyRequests()
    {
        QTcpServer server;
        int open = 0, most = 0, withKey = 0;
        connect(&server, &QTcpServer::pendingConnectionAvailable, &server, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                most = std::max(most, ++open);
                connect(socket, &QTcpSocket::readyRead, socket, [&withKey, socket] {
                    const QByteArray request = socket->peek(65536);
                    if (!request.contains("\r\n\r\n"))
                        return;
                    socket->readAll();
                    withKey += request.contains("\r\nX-Api-Key: geheim\r\n");
                    socket->write(answer(request));
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, [&open, socket] {
                    --open;
                    socket->deleteLater();
                });
            }
        });
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QList<QUrl> urls;
        for (int i = 0; i < 12; ++i)
            urls << QUrl(QStringLiteral("http://127.0.0.1:%1/%2")
                             .arg(server.serverPort())
                             .arg(i == 5 ? "busy" : "feed"));
        FeedFetcher fetcher;
        const QList<FeedReply> replies = fetcher.fetchAll(urls, {{"X-Api-Key", "geheim"}}, QString(), 3);
        QCOMPARE(replies.size(), 12);
        QCOMPARE(replies[5].failure, QStringLiteral("HTTP 429 Too Many Requests"));
        QCOMPARE(replies[5].retryAfterSeconds, 20);
        QCOMPARE(replies[11].body, feed);
        QCOMPARE(withKey, 12);
        QVERIFY2(most <= 3, qPrintable(QString::number(most)));
    }

    // Closing the window, and the application's quit (which ends every event loop), end a fetch that waits
    // for a silent server at once, as a failure.
    void abortEndsFetch_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("abort") << false;
        QTest::newRow("quit") << true; // the last: no event loop runs after it
    }

    void abortEndsFetch()
    {
        QFETCH(bool, quit);
        FeedFetcher fetcher;
        QTimer::singleShot(50, &fetcher,
                           [&fetcher, quit] { quit ? QCoreApplication::exit() : fetcher.abort(); });
        QVERIFY_THROWS_EXCEPTION(
            FeedFetchError,
            fetcher.fetch(
                QUrl(QStringLiteral("http://127.0.0.1:%1/silent").arg(m_servers[Plain]->serverPort()))));
        QVERIFY(!fetcher.busy());
    }
};

QTEST_GUILESS_MAIN(TestFeedFetcher)
#include "test_feedfetcher.moc"
