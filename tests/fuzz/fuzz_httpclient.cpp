// The HTTP client against a server on 127.0.0.1 that answers every connection with the input: its
// first byte chooses the ending (bit 0: reset instead of close; bit 1: answer before the request has
// arrived), the rest is sent in pieces split at "~|~", each in a turn of the event loop of its own.
// Whatever arrives, Get returns or raises its exception, and the client ends Ready. The client talks to
// the server as its proxy, so a location in a response never leads it off this machine.

#include "fuzztarget.h"
#include "net/httpclient.h"

#include <QBuffer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

namespace {

class PieceServer : public QObject
{
    struct Script;

public:
    PieceServer()
    {
        FUZZ_CHECK(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, &PieceServer::answer);
    }

    quint16 port() const { return m_server.serverPort(); }

    void setInput(const QByteArray &input)
    {
        const auto flags = input.isEmpty() ? 0 : static_cast<unsigned char>(input[0]);
        m_script.reset = flags & 1;
        m_script.early = flags & 2;
        QList<QByteArray> pieces;
        QByteArray piece;
        for (qsizetype at = 1; at < input.size(); ++at) {
            if (input.mid(at, 3) == "~|~") {
                pieces << piece;
                piece.clear();
                at += 2;
            } else {
                piece += input[at];
            }
        }
        pieces << piece;
        m_script.pieces = pieces;
    }

private:
    void answer()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            // Each connection keeps the script it started with.
            const auto script = std::make_shared<const Script>(m_script);
            if (script->early) {
                sendFrom(socket, script, 0);
            } else {
                auto request = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request, script] {
                    const bool complete = request->contains("\r\n\r\n");
                    *request += socket->readAll();
                    if (!complete && request->contains("\r\n\r\n"))
                        sendFrom(socket, script, 0);
                });
            }
        }
    }

    void sendFrom(QTcpSocket *socket, const std::shared_ptr<const Script> &script, int piece)
    {
        if (piece == script->pieces.size()) {
            socket->flush();
            if (script->reset) {
                const linger option = {1, 0};
                setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &option, sizeof option);
                socket->abort();
                socket->deleteLater();
            } else {
                socket->disconnectFromHost();
            }
            return;
        }
        socket->write(script->pieces[piece]);
        socket->flush();
        QPointer<QTcpSocket> alive(socket);
        QTimer::singleShot(0, socket, [this, alive, script, piece] {
            if (alive)
                sendFrom(alive, script, piece + 1);
        });
    }

    struct Script
    {
        QList<QByteArray> pieces;
        bool reset = false;
        bool early = false;
    };

    QTcpServer m_server;
    Script m_script;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static PieceServer server;
    server.setInput(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

    THttpClient client;
    client.Proxy = QStringLiteral("127.0.0.1:%1").arg(server.port());
    client.URL = QStringLiteral("http://kurse.invalid/L-S-DAX-R.84.0.html");
    client.Timeout = 3000;
    client.IdleTimeout = 1000;
    client.MaxRelocations = 2;
    client.OnCookie = [&client](QObject *, const QString &cookie, bool &accept) {
        client.Cookie = cookie;
        accept = true;
    };
    QByteArray body;
    QBuffer stream(&body);
    stream.open(QIODevice::WriteOnly);
    client.ReceiveStream = &stream;
    try {
        client.Get();
    } catch (const EHttpException &error) {
        FUZZ_CHECK(client.StatusCode >= 400);
    }
    FUZZ_CHECK(client.State() == THttpState::Ready);
    FUZZ_CHECK(body.size() == client.receivedBytes());
    return 0;
}
