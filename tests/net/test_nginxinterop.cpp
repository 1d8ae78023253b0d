#include "localnginx.h"
#include "net/httpclient.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

// The HTTP client against a real server from Debian.
class TestNginxInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void plainDocument();
    void missingDocument();
    void redirectWithCookie();
    void largeBody();

private:
    QByteArray get(const QString &path);

    std::unique_ptr<LocalNginx> m_nginx;
    THttpClient m_client;
    QByteArray m_large;
};

void TestNginxInterop::initTestCase()
{
    if (!LocalNginx::available())
        QSKIP("/usr/sbin/nginx is not installed");
    m_nginx =
        std::make_unique<LocalNginx>(QStringLiteral("    location = /moved {\n"
                                                    "      add_header Set-Cookie \"session=7; Path=/\";\n"
                                                    "      return 302 /echo-cookie;\n"
                                                    "    }\n"
                                                    "    location = /echo-cookie {\n"
                                                    "      return 200 \"cookie=$http_cookie\";\n"
                                                    "    }\n"));
    m_large.resize(5 * 1024 * 1024 + 7);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32 *>(m_large.data()), m_large.size() / 4);
    QVERIFY(m_nginx->addFile(QStringLiteral("plain.txt"), "Dax;846900\r\nSAP;716460\r\n"));
    QVERIFY(m_nginx->addFile(QStringLiteral("large.bin"), m_large));
    QString error;
    QVERIFY2(m_nginx->start(&error), qPrintable(error));
    m_client.OnCookie = [this](QObject *, const QString &data, bool &accept) {
        m_client.Cookie = data;
        accept = true;
    };
}

QByteArray TestNginxInterop::get(const QString &path)
{
    QByteArray body;
    QBuffer buffer(&body);
    buffer.open(QIODevice::WriteOnly);
    m_client.URL = QStringLiteral("http://127.0.0.1:%1%2").arg(m_nginx->port()).arg(path);
    m_client.ReceiveStream = &buffer;
    m_client.Cookie.clear();
    m_client.Get();
    m_client.ReceiveStream = nullptr;
    return body;
}

void TestNginxInterop::plainDocument()
{
    QCOMPARE(get(QStringLiteral("/plain.txt")), QByteArray("Dax;846900\r\nSAP;716460\r\n"));
    QCOMPARE(m_client.StatusCode, 200);
    QCOMPARE(m_client.ContentType, QStringLiteral("application/octet-stream"));
    QCOMPARE(m_client.ContentLength, 24);
    QCOMPARE(m_client.requestError(), quint16(0));
}

void TestNginxInterop::missingDocument()
{
    try {
        get(QStringLiteral("/nothing-here.txt"));
        QFAIL("a missing document was delivered");
    } catch (const EHttpException &error) {
        QCOMPARE(error.text(), QStringLiteral("Not Found"));
        QCOMPARE(error.ErrorCode, quint16(404));
    }
    QVERIFY(!m_client.busy());
}

void TestNginxInterop::redirectWithCookie()
{
    // The cookie set by the redirect goes out with the request that follows it.
    QCOMPARE(get(QStringLiteral("/moved")), QByteArray("cookie=session=7; Path=/"));
    QCOMPARE(m_client.Location, QStringLiteral("http://127.0.0.1/echo-cookie"));
    QCOMPARE(m_client.Cookie, QStringLiteral("session=7; Path=/"));
    QCOMPARE(m_client.receivedHeader().first(), QStringLiteral("HTTP/1.1 302 Moved Temporarily"));
}

void TestNginxInterop::largeBody()
{
    const QByteArray body = get(QStringLiteral("/large.bin"));
    QCOMPARE(body.size(), m_large.size());
    QVERIFY(body == m_large);
    QCOMPARE(m_client.ContentLength, m_large.size());
}

QTEST_GUILESS_MAIN(TestNginxInterop)
#include "test_nginxinterop.moc"
