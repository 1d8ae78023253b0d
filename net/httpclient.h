#pragma once

#include "core/errors.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class QIODevice;
struct HttpHeadLine;
class TTcpConnection;

// A failed HTTP request: the text the user sees and a code (the response status, or 1 when the
// client was busy).
class EHttpException : public ZalventoError
{
public:
    EHttpException(QString text, quint16 code) : ZalventoError(std::move(text)), ErrorCode(code) {}
    quint16 ErrorCode;
};

// The states of a request, in the order of their declaration.
enum class THttpState { Ready, Starting, Connected, Resolving, Connecting, ReadingHeader, ReadingBody };

// The kinds of request; GET is the only one this program sends.
enum class THttpRequest { Get };

// An HTTP/1.0 client (RFC 1945): one request per connection, and the end of the connection is the end
// of the document. Everything runs on the user-interface thread; Get waits by running the event loop,
// so timers, menus and buttons go on working meanwhile.
//
// Use: set URL, attach ReceiveStream, clear Cookie, call Get. The properties belong to the running
// request until Get returns; a caller that wants to start a request tests busy() before it changes
// anything. The client must not be destroyed while Get runs.
class THttpClient : public QObject
{
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;
    using TDocDataEvent = std::function<void(QObject *Sender, const char *Buffer, int Len)>;
    using TCookieRcvdEvent = std::function<void(QObject *Sender, const QString &Data, bool &Accept)>;
    using TCommandEvent = std::function<void(QObject *Sender, QString &Command)>;
    using THttpRequestDone = std::function<void(QObject *Sender, THttpRequest RqType, quint16 Error)>;

    // Failure numbers of requests that ended without a socket error (see requestError()).
    static constexpr quint16 ErrorBusy = 1;
    static constexpr quint16 ErrorLineTooLong = 4;
    static constexpr quint16 ErrorBadNumber = 5;
    static constexpr quint16 ErrorStreamWrite = 6;
    static constexpr quint16 ErrorTooManyRelocations = 7;
    static constexpr quint16 ErrorTimedOut = 10060;

    explicit THttpClient(QObject *parent = nullptr);
    ~THttpClient() override;

    // Published properties and their defaults.
    QString URL;
    QString Proxy;
    QString ProxyPort = QStringLiteral("80");
    QString Agent = QStringLiteral("Mozilla/3.0 (compatible)");
    QString Accept = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    QString Username;
    QString Password;
    QString Cookie;
    QString ContentRangeBegin;
    QString ContentRangeEnd;
    QString AcceptRanges() const { return m_acceptRanges; }

    // The longest a whole Get may take, relocations included, and the longest the server may stay
    // silent (lookup, connect, or between two blocks of the response), in milliseconds. When either
    // runs out the request is abandoned and Get raises "Connection timed out (Error #10060)", 404.
    int Timeout = 120000;
    int IdleTimeout = 30000;
    // Relocations followed within one Get; one more raises "too many relocations", 404.
    int MaxRelocations = 10;

    // Receives the body, written at its current position; never freed, rewound or truncated here.
    QIODevice *ReceiveStream = nullptr;
    int StatusCode = 0;
    QString ReasonPhrase;
    int ContentLength = -1;
    QString ContentType;
    QString Location;

    // Events; only the assigned ones are called.
    TNotifyEvent OnStateChange;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnRequestHeaderBegin;
    TCommandEvent OnCommand;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderData;
    TCookieRcvdEvent OnCookie;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnDocBegin;
    TDocDataEvent OnDocData;
    TNotifyEvent OnDocEnd;
    TNotifyEvent OnLocationChange;
    THttpRequestDone OnRequestDone;

    // Fetches URL into ReceiveStream and returns when the client is Ready again.
    // Throws EHttpException "HTTP component is busy" (code 1) at once while a request runs, and after
    // the wait, when StatusCode is 400 or more, with ReasonPhrase and StatusCode: a response status of
    // 400 or more, or a failed lookup, connect or time-out (404). A server that closes early or resets
    // the connection, and a response that had to be aborted, return normally.
    void Get();

    bool busy() const { return m_state != THttpState::Ready; }
    THttpState State() const { return m_state; }

    // The failure number of the last request: 0 when none, a Windows Sockets number, or one of the
    // Error... numbers above. A normal return with a number other than 0 means an incomplete document.
    quint16 requestError() const { return m_requestError; }
    // Whether the last request's response arrived whole, by the one rule of isCompleteResponse().
    bool responseComplete() const;
    // Body bytes received by the last request.
    qint64 receivedBytes() const { return m_received; }
    // Every header line received by the last request, status lines included.
    const QStringList &receivedHeader() const { return m_headerLines; }
    // The values of the www-authenticate fields received.
    const QStringList &authenticateValues() const { return m_authenticate; }

protected:
    // Overridable steps, in this order: write one request line, start a request cycle (the name
    // lookup), close the connection, the closed handler of a relocation, and one operation per event.
    virtual void sendCommand(const QString &line);
    virtual void startRequestCycle();
    virtual void closeConnection();
    virtual void relocationClosed(quint16 error);
    virtual void fireCookie(const QString &data, bool &accept);
    virtual void fireSessionConnected();
    virtual void fireRequestHeaderBegin();
    virtual void fireRequestHeaderEnd();
    virtual void fireHeaderBegin();
    virtual void fireHeaderEnd();
    virtual void fireDocBegin();
    virtual void fireDocData(const char *buffer, int length);
    virtual void fireDocEnd();

private:
    void setState(THttpState state);
    void decomposeUrl();
    void lookupDone(quint16 error);
    void sessionConnected(quint16 error);
    void sendRequest();
    void dataAvailable();
    void processHead(quint64 serial);
    void headerLine(const HttpHeadLine &line);
    void headerField(const QString &name, const QString &value);
    void relocate(const QString &value);
    void deliverBody(const char *data, qint64 length);
    void sessionClosed(quint16 error);
    void closedEvent(quint16 error);
    void finishRequest();
    void becomeReady();
    void abandon();
    void restartIdleTimer();
    void idleTimedOut();
    [[noreturn]] void abortResponse(const QString &text, quint16 error);

    static constexpr int lineBufferSize = 8192;

    TTcpConnection *m_connection;
    THttpState m_state = THttpState::Ready;
    void (THttpClient::*m_closedHandler)(quint16) = &THttpClient::sessionClosed;

    QString m_connectHost;
    QString m_connectPort;
    QString m_hostHeader;
    QString m_target;
    QByteArray m_request;

    // The header line buffer; body data pass through it in segments of at most its size.
    char m_buffer[lineBufferSize + 1] = {};
    int m_unconsumed = 0;

    int m_headerLineCount = 0;
    int m_bodySegments = 0;
    qint64 m_received = 0;
    bool m_relocating = false;
    int m_relocations = 0;
    quint16 m_requestError = 0;
    bool m_headerEnded = false;
    QStringList m_headerLines;
    QStringList m_authenticate;
    QString m_acceptRanges;

    // One number per Get, so that steps posted for an earlier request leave the next one alone.
    quint64 m_serial = 0;
    bool m_readyPosted = false;
    bool m_abandoned = false;
    QTimer m_deadlineTimer;
    QTimer m_idleTimer;
    QElapsedTimer m_lastActivity;
};
