#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <functional>

class QTcpServer;
class QTcpSocket;
class QTimer;

// The web link's HTTP server on 127.0.0.1: answers GET and HEAD for the live item, its JSON view, the
// dashboard, the refresh's health and its metrics, and keeps the event streams open to send them an event
// each time the item is set.
//
// It runs on the window's thread and never waits for a client: answers are handed to the socket and
// written as the client reads. A client that lets more than maxBacklog() bytes pile up (an event stream
// that it does not read, requests it sends without reading the answers) is dropped before the next
// message to it. At most
// maxConnections clients are served at a time; one more is answered 503 and closed. A connection other than
// an event stream that sends nothing for idleTimeout() ms is closed, and so is one whose request head is not
// complete headTimeout() ms after its first byte (or after the previous answer, for a request that was
// already waiting), so that neither silent nor slow clients can hold all the places. No files, no CORS.
class WebLinkServer : public QObject
{
    Q_OBJECT

public:
    // What the server serves, asked for at every request so that it always shows the current state.
    struct Content
    {
        std::function<QString()> topic;        // the window caption; a path matches it ignoring case
        std::function<QByteArray()> item;      // the item text, UTF-8
        std::function<QByteArray()> json;      // the JSON view
        std::function<QByteArray()> dashboard; // the dashboard page, UTF-8 HTML
        // GET /health: the status to answer with (200, or 503 while the refresh is failing) and the JSON.
        std::function<QPair<int, QByteArray>()> health;
        std::function<QByteArray()> metrics; // GET /metrics: Prometheus text, version 0.0.4
        std::function<QByteArray()> history; // the day's history file, CSV
    };

    static constexpr int maxConnections = 64;

    explicit WebLinkServer(Content content, QObject *parent = nullptr);
    ~WebLinkServer() override;

    // Listens on 127.0.0.1:port. False, with errorText() saying why, when the port is taken or cannot be
    // used: the program then runs without the web link.
    bool listen(quint16 port);
    void close();
    bool isListening() const;
    quint16 port() const;
    QString errorText() const { return m_errorText; }

    // Sends `data` (one line) as one server-sent event to every stream opened on the current topic; streams
    // opened on an earlier topic are ended.
    void sendEvent(const QByteArray &data);

    int connectionCount() const { return int(m_connections.size()); }
    int eventStreamCount() const;
    qint64 maxBacklog() const { return m_maxBacklog; }
    void setMaxBacklog(qint64 bytes) { m_maxBacklog = bytes; }
    int idleTimeout() const { return m_idleTimeout; }
    void setIdleTimeout(int milliseconds);
    int headTimeout() const { return m_headTimeout; }
    void setHeadTimeout(int milliseconds);

signals:
    // A client was dropped because it did not read what it was sent.
    void clientDropped();

private:
    struct Connection
    {
        QByteArray received;
        QString streamTopic;     // set once the connection is an event stream
        qint64 lastActivity = 0; // on m_clock, ms
        qint64 headStart = -1;   // on m_clock, ms: since when a request head has been waiting; -1: none
        bool eventStream = false;
        bool closing = false;
    };

    void accept();
    void refuse(QTcpSocket *socket);
    void restartTimeoutCheck();
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, int status, const QByteArray &contentType, const QByteArray &body,
                bool withBody, bool keepAlive);
    void openEventStream(QTcpSocket *socket, bool withBody);
    void closeAfterWriting(QTcpSocket *socket);
    // Drops the client when its unread output exceeds the backlog; true when it was dropped.
    bool dropWhenBacklogged(QTcpSocket *socket);
    void forget(QTcpSocket *socket);
    void closeIdleConnections();

    Content m_content;
    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, Connection> m_connections;
    QString m_errorText;
    qint64 m_maxBacklog = 64 * 1024;
    int m_idleTimeout = 30000;
    int m_headTimeout = 10000;
    QTimer *m_idleCheck = nullptr;
    QElapsedTimer m_clock;
};
