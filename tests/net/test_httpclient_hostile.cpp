#include "net/httpclient.h"
#include "scriptedserver.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

// Hundreds of damaged responses, cut into random blocks and ended by a close, a reset or silence:
// every Get must come back (normally or with EHttpException), with the client Ready for the next.
class TestHttpClientHostile : public QObject
{
    Q_OBJECT

private slots:
    void damagedResponses();
};

namespace {

QByteArray damaged(QRandomGenerator &random)
{
    QByteArray response = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nSet-Cookie: k=v\r\n"
                          "Location: /x\r\nContent-Length: 40\r\nContent-Range: bytes 1-2/3\r\n\r\n" +
                          QByteArray(40, 'b');
    if (random.bounded(4) == 0)
        response.replace("Location: /x\r\n", "");
    const int damages = random.bounded(1, 6);
    for (int i = 0; i < damages; ++i) {
        const int at = random.bounded(int(response.size()) + 1);
        switch (random.bounded(6)) {
        case 0:
            response.truncate(at);
            break;
        case 1:
            if (at < response.size())
                response[at] = char(random.bounded(256));
            break;
        case 2:
            response.insert(at, QByteArray(random.bounded(1, 9000), char(random.bounded(256))));
            break;
        case 3:
            response.insert(at, random.bounded(2) ? QByteArray("\0", 1) : QByteArray("\n"));
            break;
        case 4:
            response.insert(at, "HTTP/1.1 " + QByteArray::number(random.bounded(100, 700)) + " X\r\n");
            break;
        case 5:
            response.insert(at, "<html>");
            break;
        }
    }
    return response;
}

} // namespace

void TestHttpClientHostile::damagedResponses()
{
    QRandomGenerator random(20240607);
    THttpClient client;
    client.IdleTimeout = 300;
    client.Timeout = 2000;
    client.MaxRelocations = 3;
    client.OnCookie = [&client](QObject *, const QString &data, bool &) { client.Cookie = data; };
    for (int round = 0; round < 400; ++round) {
        const QByteArray response = damaged(random);
        ScriptedServer::Script script;
        script.waitRequest();
        for (qsizetype at = 0; at < response.size();) {
            const qsizetype length = random.bounded(1, 3000);
            script.send(response.mid(at, length));
            if (random.bounded(3) == 0)
                script.pause(random.bounded(1, 10));
            at += length;
        }
        switch (random.bounded(8)) {
        case 0:
            script.reset();
            break;
        case 1:
            break; // silence: the idle time-out ends it
        default:
            script.close();
        }
        ScriptedServer server;
        server.addScript(script);
        QByteArray body;
        QBuffer buffer(&body);
        buffer.open(QIODevice::WriteOnly);
        client.URL = QStringLiteral("http://127.0.0.1:%1/").arg(server.port());
        client.ReceiveStream = &buffer;
        client.Cookie.clear();
        try {
            client.Get();
        } catch (const EHttpException &error) {
            QVERIFY2(error.ErrorCode >= 400, qPrintable(error.text()));
        }
        client.ReceiveStream = nullptr;
        QVERIFY2(!client.busy(), qPrintable(QStringLiteral("round %1").arg(round)));
        QCOMPARE(client.receivedBytes(), body.size());
    }
}

QTEST_GUILESS_MAIN(TestHttpClientHostile)
#include "test_httpclient_hostile.moc"
