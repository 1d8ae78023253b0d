#include "scriptedserver.h"

#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

class ScriptedServer::Connection : public QObject
{
public:
    Connection(QTcpSocket *socket, Script script) : m_socket(socket), m_script(std::move(script))
    {
        connect(m_socket, &QTcpSocket::readyRead, this, [this] {
            received += m_socket->readAll();
            if (waiting(Step::WaitRequest) && received.contains("\r\n\r\n"))
                next();
        });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] {
            peerClosed = true;
            if (waiting(Step::WaitRequest) || waiting(Step::WaitPeerClose))
                next();
        });
        connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
            if (waiting(Step::Reset) && m_socket->bytesToWrite() == 0)
                resetNow();
        });
        QTimer::singleShot(0, this, [this] { run(); });
    }

    ~Connection() override
    {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
    }

    QByteArray received;
    bool peerClosed = false;

private:
    bool waiting(Step::Kind kind) const
    {
        return m_index < m_script.steps.size() && m_script.steps[m_index].kind == kind;
    }

    void next()
    {
        ++m_index;
        m_dripped = 0;
        run();
    }

    void run()
    {
        if (m_index >= m_script.steps.size())
            return;
        const Step &step = m_script.steps[m_index];
        switch (step.kind) {
        case Step::Send:
            if (m_socket->state() == QAbstractSocket::ConnectedState)
                m_socket->write(step.bytes);
            next();
            break;
        case Step::Pause:
            QTimer::singleShot(step.milliseconds, this, [this] { next(); });
            break;
        case Step::WaitRequest:
            if (received.contains("\r\n\r\n") || peerClosed)
                next();
            break;
        case Step::WaitPeerClose:
            if (peerClosed)
                next();
            break;
        case Step::Close:
            m_socket->disconnectFromHost();
            ++m_index;
            break;
        case Step::Reset:
            if (m_socket->bytesToWrite() == 0)
                resetNow();
            break;
        case Step::Drip:
            if (m_dripped >= step.bytes.size()) {
                next();
                break;
            }
            if (m_socket->state() == QAbstractSocket::ConnectedState)
                m_socket->write(step.bytes.mid(m_dripped++, 1));
            QTimer::singleShot(step.milliseconds, this, [this] { run(); });
            break;
        }
    }

    void resetNow()
    {
        const int fd = int(m_socket->socketDescriptor());
        if (fd != -1) {
            const linger noLinger{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
        }
        m_socket->abort();
        ++m_index;
    }

    QTcpSocket *m_socket;
    Script m_script;
    qsizetype m_index = 0;
    qsizetype m_dripped = 0;
};

ScriptedServer::Script ScriptedServer::Script::respond(const QList<QByteArray> &blocks, int pauseMs)
{
    Script script;
    script.waitRequest();
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        if (i > 0)
            script.pause(pauseMs);
        script.send(blocks[i]);
    }
    script.close();
    return script;
}

ScriptedServer::ScriptedServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::~ScriptedServer() = default;

void ScriptedServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(nullptr);
        const Script script = m_scripts.isEmpty()
                                  ? Script()
                                  : m_scripts[std::min<qsizetype>(m_nextScript, m_scripts.size() - 1)];
        ++m_nextScript;
        m_connections.push_back(std::make_unique<Connection>(socket, script));
    }
}

QList<QByteArray> ScriptedServer::requests() const
{
    QList<QByteArray> result;
    for (const auto &connection : m_connections)
        result.append(connection->received);
    return result;
}

int ScriptedServer::closedByPeer() const
{
    int count = 0;
    for (const auto &connection : m_connections)
        count += connection->peerClosed ? 1 : 0;
    return count;
}
