#pragma once

#include "core/errors.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

// A failure of the transport while starting an operation; ErrorCode is a Windows Sockets number.
class ESocketException : public ZalventoError
{
public:
    ESocketException(QString text, quint16 code) : ZalventoError(std::move(text)), ErrorCode(code) {}
    quint16 ErrorCode;
};

// One TCP connection at a time, driven by the user-interface thread's event loop: asynchronous name
// lookup and connect, queued sends, and events for data and for the end of the connection. Errors are
// reported as Windows Sockets numbers (see SocketError).
//
// Every event arrives from the event loop, never from inside a call, with one exception that callers
// rely on: a lookup of a dotted IPv4 address finishes at once, before DnsLookup returns. An exception
// that escapes an event handler aborts the connection; the closed event follows and nothing reaches
// the event loop.
class TTcpConnection : public QObject
{
    Q_OBJECT

public:
    explicit TTcpConnection(QObject *parent = nullptr);
    ~TTcpConnection() override;

    // Lookup done: error 0 and the first IPv4 address of the host in DnsResult, or a lookup error.
    std::function<void(quint16 error)> OnDnsLookupDone;
    // Connect done: error 0 when connected. A failed attempt is followed by the closed event.
    std::function<void(quint16 error)> OnSessionConnected;
    // Unread data wait; fired again as long as the handler keeps reading and data remain.
    std::function<void(quint16 error)> OnDataAvailable;
    // Fired once per connection: by Close or Abort, or when the peer closed (after every byte that
    // arrived was offered through OnDataAvailable), or after a failed connect.
    std::function<void(quint16 error)> OnSessionClosed;

    // The dotted address found by the last successful lookup.
    QString DnsResult;
    // The error number of the last failure to start an operation.
    int LastError = 0;

    // Starts a lookup of `host`. An empty host fails at once with 10022; a dotted IPv4 address is
    // taken as it is. Either way OnDnsLookupDone fires before the call returns in these two cases.
    void DnsLookup(const QString &host);
    // Forgets a running lookup: its result will not be reported.
    void CancelDnsLookup();

    // Starts a connect to a dotted address and a port (a decimal number or a service name of the
    // system's service table) over "tcp". Throws ESocketException (and sets LastError) when the
    // attempt cannot be started; otherwise OnSessionConnected follows.
    void Connect(const QString &address, const QString &port);

    // Queues `data` for sending; never blocks.
    void Send(const QByteArray &data);
    // Reads up to `maximum` unread bytes into `buffer`; returns the count read (0 when none wait).
    qint64 Receive(char *buffer, qint64 maximum);

    // Ends the connection at once: unsent data are dropped and the peer sees a reset (linger 0).
    void Close();
    // The same as Close, with `error` reported by the closed event.
    void Abort(quint16 error);

    // A connection exists (connecting or connected) and has not been closed.
    bool isOpen() const { return m_socket != nullptr; }

private:
    void onConnected();
    void onError();
    void onReadyRead();
    void onDisconnected();
    void deliverData();
    void finish(quint16 error);
    void retireSocket();
    void closeDescriptorCopy();
    void purgeRetired();
    template <typename F> void dispatch(F &&handler);

    std::unique_ptr<QTcpSocket> m_socket;
    // Sockets of ended connections. They are deleted only outside our own event handlers: a socket
    // must not be deleted while one of its signals is still being emitted, and deleteLater would not
    // run while a nested wait of the HTTP client keeps the event loop busy.
    std::vector<std::unique_ptr<QTcpSocket>> m_retired;
    int m_lookupId = -1;
    int m_dispatchDepth = 0;
    bool m_connected = false;
    bool m_peerReset = false;
    int m_descriptorCopy = -1;
    QTcpSocket *m_deliveringSocket = nullptr;
};
