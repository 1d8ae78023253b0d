#include "net/weblinkserver.h"

#include "net/webrequest.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

namespace {

// The kernel's send buffer of an event stream: small, so that a client that stops reading shows in the
// server's own backlog soon rather than after megabytes.
constexpr int eventStreamSendBuffer = 64 * 1024;
constexpr qint64 receiveLimit = 64 * 1024;
// How long a refused client may go on sending before its connection is aborted.
constexpr int refusalLinger = 2000;

QByteArray statusLine(int status)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + webReasonPhrase(status) + "\r\n";
}

// Fields of every answer: nothing is cached, nothing is sniffed into another type, and no CORS fields,
// so that pages from elsewhere cannot read the link.
constexpr const char commonFields[] = "Cache-Control: no-store\r\n"
                                      "X-Content-Type-Options: nosniff\r\n";

} // namespace

WebLinkServer::WebLinkServer(Content content, QObject *parent)
    : QObject(parent), m_content(std::move(content)), m_idleCheck(new QTimer(this))
{
    m_clock.start();
    connect(m_idleCheck, &QTimer::timeout, this, &WebLinkServer::closeIdleConnections);
    restartTimeoutCheck();
}

void WebLinkServer::setIdleTimeout(int milliseconds)
{
    m_idleTimeout = milliseconds;
    restartTimeoutCheck();
}

void WebLinkServer::setHeadTimeout(int milliseconds)
{
    m_headTimeout = milliseconds;
    restartTimeoutCheck();
}

void WebLinkServer::restartTimeoutCheck()
{
    m_idleCheck->start(std::max(10, std::min(m_idleTimeout, m_headTimeout) / 4));
}

void WebLinkServer::closeIdleConnections()
{
    const qint64 now = m_clock.elapsed();
    QList<QTcpSocket *> idle;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        if (it->eventStream || it->closing)
            continue;
        const bool headLate = it->headStart >= 0 && now - it->headStart > m_headTimeout;
        if (headLate || now - it->lastActivity > m_idleTimeout)
            idle.append(it.key());
    }
    for (QTcpSocket *socket : idle)
        closeAfterWriting(socket);
}

WebLinkServer::~WebLinkServer()
{
    close();
}

bool WebLinkServer::listen(quint16 port)
{
    close();
    m_errorText.clear();
    m_server = new QTcpServer(this);
    m_server->setMaxPendingConnections(maxConnections);
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &WebLinkServer::accept);
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        m_errorText = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    return true;
}

void WebLinkServer::close()
{
    const QList<QTcpSocket *> sockets = m_connections.keys();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    m_connections.clear();
    delete m_server;
    m_server = nullptr;
}

bool WebLinkServer::isListening() const
{
    return m_server && m_server->isListening();
}

quint16 WebLinkServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

int WebLinkServer::eventStreamCount() const
{
    int count = 0;
    for (const Connection &connection : m_connections)
        count += connection.eventStream && !connection.closing ? 1 : 0;
    return count;
}

void WebLinkServer::accept()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (m_connections.size() >= maxConnections) {
            refuse(socket);
            continue;
        }
        // Answers are written whole: no waiting for more to fill a segment (Nagle).
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // What a client sends is taken in bounded portions: a flood waits in the kernel, not in memory here.
        socket->setReadBufferSize(receiveLimit);
        Connection connection;
        connection.lastActivity = m_clock.elapsed();
        m_connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
            if (socket->state() != QAbstractSocket::ConnectedState)
                forget(socket);
        });
    }
}

void WebLinkServer::refuse(QTcpSocket *socket)
{
    // Closing a socket with the request unread resets the connection, and the reset can destroy the answer
    // before the client reads it. So the answer goes out, only the sending side is shut, and what the client
    // sends is read and dropped until it closes, for refusalLinger ms at most.
    const QByteArray body = "503 Service Unavailable\n";
    socket->write(statusLine(503) + commonFields +
                  "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    const auto shutSending = [socket] {
        if (socket->bytesToWrite() == 0)
            ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, shutSending);
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(refusalLinger, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->flush();
    shutSending();
}

void WebLinkServer::forget(QTcpSocket *socket)
{
    if (m_connections.remove(socket))
        socket->deleteLater();
}

void WebLinkServer::readFrom(QTcpSocket *socket)
{
    auto connection = m_connections.find(socket);
    if (connection == m_connections.end())
        return;
    if (connection->eventStream || connection->closing) {
        // What a stream's client sends after its request means nothing to the link.
        socket->readAll();
        return;
    }
    connection->received += socket->readAll();
    connection->lastActivity = m_clock.elapsed();
    if (connection->headStart < 0 && !connection->received.isEmpty())
        connection->headStart = connection->lastActivity;

    // Answers every whole request that arrived, in order (pipelining).
    while (true) {
        connection = m_connections.find(socket);
        if (connection == m_connections.end() || connection->closing || connection->eventStream)
            return;
        const WebRequestParse parse = parseWebRequest(connection->received);
        switch (parse.state) {
        case WebRequestParse::State::Incomplete:
            return;
        case WebRequestParse::State::Malformed:
            answer(socket, 400, "text/plain; charset=utf-8", "400 Bad Request\n", true, false);
            return;
        case WebRequestParse::State::TooLarge:
            answer(socket, 431, "text/plain; charset=utf-8", "431 Request Header Fields Too Large\n", true,
                   false);
            return;
        case WebRequestParse::State::Complete:
            break;
        }
        connection->received.remove(0, parse.consumed);
        // A request that was already waiting behind this one has its head time from this answer on.
        connection->headStart = connection->received.isEmpty() ? -1 : m_clock.elapsed();

        const WebRequest &request = parse.request;
        const bool withBody = request.method != "HEAD";
        const WebRoute route = routeWebRequest(request, m_content.topic(), port());
        if (route.status != 200) {
            // A refused request may carry a body that is not read: its connection ends with the answer.
            const bool keepAlive = route.status == 404 && request.keepAlive();
            answer(socket, route.status, "text/plain; charset=utf-8",
                   QByteArray::number(route.status) + ' ' + webReasonPhrase(route.status) + '\n', withBody,
                   keepAlive);
            if (!keepAlive)
                return;
            continue;
        }
        switch (route.resource) {
        case WebResource::Item:
            answer(socket, 200, "text/plain; charset=utf-8", m_content.item(), withBody, request.keepAlive());
            break;
        case WebResource::Json:
            answer(socket, 200, "application/json", m_content.json(), withBody, request.keepAlive());
            break;
        case WebResource::Dashboard:
            answer(socket, 200, "text/html; charset=utf-8", m_content.dashboard(), withBody,
                   request.keepAlive());
            break;
        case WebResource::Health: {
            const auto [status, json] = m_content.health();
            answer(socket, status, "application/json", json, withBody, request.keepAlive());
            break;
        }
        case WebResource::Metrics:
            answer(socket, 200, "text/plain; version=0.0.4; charset=utf-8", m_content.metrics(), withBody,
                   request.keepAlive());
            break;
        case WebResource::History:
            answer(socket, 200, "text/csv; charset=utf-8",
                   m_content.history ? m_content.history() : QByteArray(), withBody, request.keepAlive());
            break;
        case WebResource::Events:
            openEventStream(socket, withBody);
            return;
        }
        if (!request.keepAlive())
            return;
    }
}

void WebLinkServer::answer(QTcpSocket *socket, int status, const QByteArray &contentType,
                           const QByteArray &body, bool withBody, bool keepAlive)
{
    QByteArray message = statusLine(status);
    message += commonFields;
    message += "Content-Type: " + contentType + "\r\n";
    message += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (status == 405)
        message += "Allow: GET, HEAD\r\n";
    if (contentType.startsWith("text/html")) {
        // The dashboard runs its own inline script and style and talks to this server only.
        message += "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
                   "style-src 'unsafe-inline'; connect-src 'self'; img-src data:; base-uri 'none'; "
                   "form-action 'none'; frame-ancestors 'none'\r\n";
    }
    message += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (withBody)
        message += body;
    // The backlog counts what the client left unread before this answer: an answer larger than the bound
    // (the JSON view of a long day) is still sent whole.
    if (dropWhenBacklogged(socket))
        return;
    socket->write(message);
    socket->flush();
    if (!keepAlive)
        closeAfterWriting(socket);
}

void WebLinkServer::openEventStream(QTcpSocket *socket, bool withBody)
{
    const auto connection = m_connections.find(socket);
    connection->eventStream = true;
    connection->streamTopic = m_content.topic();
    connection->received.clear();
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, eventStreamSendBuffer);
    // The stream ends when the connection does, so it has no length (RFC 9112 section 6.3).
    QByteArray message = statusLine(200);
    message += commonFields;
    message += "Content-Type: text/event-stream; charset=utf-8\r\nConnection: close\r\n\r\n";
    if (withBody)
        message += "retry: 3000\n\n";
    socket->write(message);
    socket->flush();
    if (!withBody)
        closeAfterWriting(socket);
}

void WebLinkServer::closeAfterWriting(QTcpSocket *socket)
{
    const auto connection = m_connections.find(socket);
    if (connection == m_connections.end())
        return;
    connection->closing = true;
    socket->disconnectFromHost();
}

bool WebLinkServer::dropWhenBacklogged(QTcpSocket *socket)
{
    if (socket->bytesToWrite() <= m_maxBacklog)
        return false;
    socket->disconnect(this);
    m_connections.remove(socket);
    socket->abort();
    socket->deleteLater();
    emit clientDropped();
    return true;
}

void WebLinkServer::sendEvent(const QByteArray &data)
{
    const QString topic = m_content.topic();
    const QByteArray event = "data: " + data + "\n\n";
    QList<QTcpSocket *> streams;
    QList<QTcpSocket *> formerTopic;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        if (!it->eventStream || it->closing)
            continue;
        if (it->streamTopic.compare(topic, Qt::CaseInsensitive) == 0)
            streams.append(it.key());
        else
            formerTopic.append(it.key());
    }
    // A stream opened under an earlier caption gets no more events: it is ended, so that its client can
    // find the index shown now.
    for (QTcpSocket *socket : formerTopic)
        closeAfterWriting(socket);
    for (QTcpSocket *socket : streams) {
        if (dropWhenBacklogged(socket))
            continue;
        socket->write(event);
        socket->flush();
    }
}
