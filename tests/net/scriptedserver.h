#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <memory>
#include <vector>

// A TCP server on 127.0.0.1 that answers each connection by a script of exact bytes, split into the
// blocks the test chooses, and records what the client sent. It runs in the test's thread and is
// driven by the event loop that the client under test keeps running while it waits.
class ScriptedServer : public QObject
{
    Q_OBJECT

public:
    struct Step
    {
        enum Kind { Send, Pause, WaitRequest, WaitPeerClose, Close, Reset, Drip };
        Kind kind;
        QByteArray bytes;
        int milliseconds = 0;
    };

    class Script
    {
    public:
        // Waits until the request header has arrived (the empty line), or the client closed.
        Script &waitRequest() { return add({Step::WaitRequest, {}, 0}); }
        Script &send(const QByteArray &bytes) { return add({Step::Send, bytes, 0}); }
        Script &pause(int milliseconds) { return add({Step::Pause, {}, milliseconds}); }
        // Waits until the client closed the connection.
        Script &waitPeerClose() { return add({Step::WaitPeerClose, {}, 0}); }
        // Sends what is queued, then closes orderly.
        Script &close() { return add({Step::Close, {}, 0}); }
        // Sends what is queued, then resets the connection.
        Script &reset() { return add({Step::Reset, {}, 0}); }
        // Sends the bytes one at a time, `milliseconds` apart.
        Script &drip(const QByteArray &bytes, int milliseconds)
        {
            return add({Step::Drip, bytes, milliseconds});
        }

        // The usual answer: wait for the request, send the blocks `pauseMs` apart, close.
        static Script respond(const QList<QByteArray> &blocks, int pauseMs = 30);

        QList<Step> steps;

    private:
        Script &add(const Step &step)
        {
            steps.append(step);
            return *this;
        }
    };

    ScriptedServer();
    ~ScriptedServer() override;

    quint16 port() const { return m_server.serverPort(); }

    // Scripts for the connections to come, in order; the last one serves every further connection.
    void addScript(const Script &script) { m_scripts.append(script); }

    // What each connection received, in the order the connections were accepted.
    QList<QByteArray> requests() const;
    int connectionCount() const { return int(m_connections.size()); }
    // Connections whose client has closed.
    int closedByPeer() const;

private:
    class Connection;

    void onNewConnection();

    QTcpServer m_server;
    QList<Script> m_scripts;
    int m_nextScript = 0;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
