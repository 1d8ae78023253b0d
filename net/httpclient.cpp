#include "net/httpclient.h"

#include "core/numbertext.h"
#include "core/windows1252.h"
#include "net/completeresponse.h"
#include "net/httpresponsehead.h"
#include "net/httpurl.h"
#include "net/socketerror.h"
#include "net/tcpconnection.h"

#include <QCoreApplication>
#include <QIODevice>
#include <cstring>

namespace {

QString socketFailureText(int number)
{
    return SocketError::text(number) + QStringLiteral(" (Error #") + QString::number(number) +
           QLatin1Char(')');
}

} // namespace

THttpClient::THttpClient(QObject *parent) : QObject(parent), m_connection(new TTcpConnection(this))
{
    m_connection->OnDnsLookupDone = [this](quint16 error) { lookupDone(error); };
    m_connection->OnSessionConnected = [this](quint16 error) { sessionConnected(error); };
    m_connection->OnDataAvailable = [this](quint16) { dataAvailable(); };
    m_connection->OnSessionClosed = [this](quint16 error) { closedEvent(error); };
    m_deadlineTimer.setSingleShot(true);
    m_idleTimer.setSingleShot(true);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &THttpClient::abandon);
    connect(&m_idleTimer, &QTimer::timeout, this, &THttpClient::idleTimedOut);
}

THttpClient::~THttpClient()
{
    m_connection->OnDnsLookupDone = nullptr;
    m_connection->OnSessionConnected = nullptr;
    m_connection->OnDataAvailable = nullptr;
    m_connection->OnSessionClosed = nullptr;
}

void THttpClient::Get()
{
    if (m_state != THttpState::Ready)
        throw EHttpException(QStringLiteral("HTTP component is busy"), ErrorBusy);

    m_headerLines.clear();
    m_requestError = 0;
    m_headerEnded = false;
    m_closedHandler = &THttpClient::sessionClosed;
    ++m_serial;
    m_readyPosted = false;
    m_abandoned = false;
    m_relocating = false;
    m_relocations = 0;
    setState(THttpState::Starting);
    StatusCode = 0;
    m_received = 0;
    m_headerLineCount = 0;
    m_bodySegments = 0;
    m_unconsumed = 0;
    ContentLength = -1;
    ContentType.clear();
    Location = URL;

    try {
        decomposeUrl();
        m_idleTimer.stop();
        m_deadlineTimer.start(std::max(Timeout, 0));
        startRequestCycle();
    } catch (...) {
        m_readyPosted = true;
        m_deadlineTimer.stop();
        m_idleTimer.stop();
        m_connection->CancelDnsLookup();
        m_connection->Abort(0);
        setState(THttpState::Ready);
        throw;
    }

    // Everything else of the request happens in the event loop. A wait started by an event handler
    // in here (a second client, a dialog) has to end before this one can: that is how nested waits
    // work, and the time-outs of the inner ones keep it bounded.
    while (m_state != THttpState::Ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);

    if (StatusCode >= 400)
        throw EHttpException(ReasonPhrase, quint16(StatusCode));
}

void THttpClient::setState(THttpState state)
{
    if (m_state == state)
        return;
    m_state = state;
    if (state == THttpState::ReadingBody)
        m_headerEnded = true;
    if (OnStateChange)
        OnStateChange(this);
}

void THttpClient::decomposeUrl()
{
    const HttpUrl url = HttpUrl::parse(URL);
    m_hostHeader = url.host;
    if (Proxy.isEmpty()) {
        m_target = url.path;
        if (!url.user.isEmpty())
            Username = url.user;
        if (!url.password.isEmpty())
            Password = url.password;
        m_connectHost = url.host;
        m_connectPort = url.port.isEmpty() ? QStringLiteral("80") : url.port;
    } else {
        m_target = (url.scheme.isEmpty() ? QStringLiteral("http") : url.scheme) + QStringLiteral("://") +
                   url.host + (url.port.isEmpty() ? QString() : QLatin1Char(':') + url.port) + url.path;
        const HttpUrl proxy = HttpUrl::parse(Proxy);
        m_connectHost = proxy.host;
        m_connectPort = proxy.port.isEmpty() ? ProxyPort : proxy.port;
    }
    if (m_target.isEmpty())
        m_target = QStringLiteral("/");
}

void THttpClient::startRequestCycle()
{
    m_unconsumed = 0;
    setState(THttpState::Resolving);
    restartIdleTimer();
    m_connection->DnsLookup(m_connectHost);
}

void THttpClient::lookupDone(quint16 error)
{
    if (m_state != THttpState::Resolving || m_abandoned)
        return;
    if (error != 0) {
        m_requestError = error;
        StatusCode = 404;
        ReasonPhrase = QStringLiteral("can't resolve hostname to IP address");
        finishRequest();
        return;
    }
    setState(THttpState::Connecting);
    restartIdleTimer();
    try {
        m_connection->Connect(m_connection->DnsResult, m_connectPort);
    } catch (const ESocketException &) {
        m_requestError = quint16(m_connection->LastError);
        StatusCode = 404;
        ReasonPhrase = QStringLiteral("can't connect: ") + socketFailureText(m_connection->LastError);
        closeConnection();
        finishRequest();
    }
}

void THttpClient::sessionConnected(quint16 error)
{
    if (error != 0) {
        // The closed event follows and completes the request.
        m_requestError = error;
        StatusCode = 404;
        ReasonPhrase = socketFailureText(error);
        return;
    }
    restartIdleTimer();
    setState(THttpState::Connected);
    fireSessionConnected();
    setState(THttpState::ReadingHeader);
    sendRequest();
}

void THttpClient::sendRequest()
{
    m_request.clear();
    fireRequestHeaderBegin();
    sendCommand(QStringLiteral("GET ") + m_target + QStringLiteral(" HTTP/1.0"));
    if (!Accept.isEmpty())
        sendCommand(QStringLiteral("Accept: ") + Accept);
    if (!Agent.isEmpty())
        sendCommand(QStringLiteral("User-Agent: ") + Agent);
    sendCommand(QStringLiteral("Host: ") + m_hostHeader);
    if (!Username.isEmpty()) {
        sendCommand(
            QStringLiteral("Authorization: Basic ") +
            QString::fromLatin1(Windows1252::encode(Username + QLatin1Char(':') + Password).toBase64()));
    }
    if (!Cookie.isEmpty())
        sendCommand(QStringLiteral("Cookie: ") + Cookie);
    if (!ContentRangeBegin.isEmpty() || !ContentRangeEnd.isEmpty()) {
        sendCommand(QStringLiteral("Range: bytes=") + ContentRangeBegin + QLatin1Char('-') + ContentRangeEnd);
        ContentRangeBegin.clear();
        ContentRangeEnd.clear();
    }
    m_acceptRanges.clear();
    fireRequestHeaderEnd();
    m_request.append("\r\n");
    m_connection->Send(m_request);
    m_request.clear();
}

void THttpClient::sendCommand(const QString &line)
{
    QString command = line;
    if (OnCommand)
        OnCommand(this, command);
    if (command.isEmpty())
        return;
    m_request.append(Windows1252::encode(command));
    m_request.append("\r\n");
}

void THttpClient::dataAvailable()
{
    restartIdleTimer();
    if (m_unconsumed >= lineBufferSize)
        abortResponse(QStringLiteral("HTTP line too long"), ErrorLineTooLong);
    const qint64 count = m_connection->Receive(m_buffer + m_unconsumed, lineBufferSize - m_unconsumed);
    if (count <= 0)
        return;
    m_unconsumed += int(count);
    if (m_state == THttpState::ReadingBody) {
        const int length = m_unconsumed;
        m_unconsumed = 0;
        deliverBody(m_buffer, length);
        return;
    }
    processHead(m_serial);
}

void THttpClient::processHead(quint64 serial)
{
    // The whole lines go out of the buffer at once; what stays is a line still arriving, or the start of
    // the body once the head has ended.
    const HttpResponseHead head = parseHttpResponseHead(QByteArrayView(m_buffer, m_unconsumed));
    m_unconsumed -= int(head.consumed);
    std::memmove(m_buffer, m_buffer + head.consumed, size_t(m_unconsumed));
    // Lines that arrived in one block are all processed, even after the connection was closed at an
    // error status: the start of an error body in that block still reaches the stream.
    for (const HttpHeadLine &line : head.lines) {
        if (serial != m_serial)
            return;
        if (m_state == THttpState::ReadingHeader)
            headerLine(line);
    }
    if (serial == m_serial && m_state == THttpState::ReadingBody && m_unconsumed > 0) {
        const int length = m_unconsumed;
        m_unconsumed = 0;
        deliverBody(m_buffer, length);
    }
}

void THttpClient::headerLine(const HttpHeadLine &line)
{
    if (m_headerLineCount++ == 0)
        fireHeaderBegin();

    switch (line.kind) {
    case HttpHeadLine::Kind::Headless:
        // A document without header (a server that answers like HTTP/0.9). The first line reaches the
        // body without its line end; the rest of the block follows unchanged, line ends included.
        if (ContentType.isEmpty())
            ContentType = QStringLiteral("text/html");
        setState(THttpState::ReadingBody);
        fireHeaderEnd();
        deliverBody(line.bytes.constData(), line.bytes.size());
        return;
    case HttpHeadLine::Kind::HeadEnd:
        if (m_relocating) {
            fireHeaderEnd();
            m_unconsumed = 0;
            m_headerLineCount = 0;
            m_bodySegments = 0;
            m_closedHandler = &THttpClient::relocationClosed;
            closeConnection();
            return;
        }
        setState(THttpState::ReadingBody);
        fireHeaderEnd();
        return;
    case HttpHeadLine::Kind::Malformed:
        m_headerLines.append(line.text);
        abortResponse(line.error, ErrorBadNumber);
    case HttpHeadLine::Kind::Status:
        m_headerLines.append(line.text);
        StatusCode = line.statusCode;
        ReasonPhrase = line.reason;
        break;
    case HttpHeadLine::Kind::Field:
        m_headerLines.append(line.text);
        headerField(line.name, line.value);
        break;
    case HttpHeadLine::Kind::Other:
        m_headerLines.append(line.text);
        break;
    }
    if (OnHeaderData)
        OnHeaderData(this);
    if (StatusCode >= 400)
        closeConnection();
}

void THttpClient::headerField(const QString &name, const QString &value)
{
    if (name == QLatin1String("location")) {
        if (StatusCode < 400)
            relocate(value);
    } else if (name == QLatin1String("content-length")) {
        ContentLength = *NumberText::tryParseInteger(value);
    } else if (name == QLatin1String("content-range")) {
        // "bytes 100-199/1000"
        const qsizetype dash = value.indexOf(QLatin1Char('-'));
        const qsizetype slash = value.indexOf(QLatin1Char('/'));
        ContentRangeBegin = dash >= 6 ? value.mid(6, dash - 6) : value.mid(6);
        ContentRangeEnd = dash == -1     ? QString()
                          : slash > dash ? value.mid(dash + 1, slash - dash - 1)
                                         : value.mid(dash + 1);
    } else if (name == QLatin1String("accept-ranges")) {
        m_acceptRanges = value;
    } else if (name == QLatin1String("content-type")) {
        ContentType = value.toLower();
    } else if (name == QLatin1String("www-authenticate")) {
        m_authenticate.append(value);
    } else if (name == QLatin1String("set-cookie")) {
        bool accept = true;
        fireCookie(value, accept);
    }
}

void THttpClient::relocate(const QString &value)
{
    // An empty location names nothing to go to; following it would ask for the same document again.
    if (value.isEmpty())
        return;
    m_relocating = true;
    const HttpUrl url = HttpUrl::parse(value);
    const bool pathOnly = value.startsWith(QLatin1Char('/')) && !value.startsWith(QStringLiteral("//"));
    if (!Proxy.isEmpty()) {
        // Through a proxy every request goes to the proxy: a relocation changes the document asked for,
        // never the connection, so that a response cannot send the client past the proxy.
        QString host = m_hostHeader;
        QString port;
        QString path = pathOnly ? value : QLatin1Char('/') + value;
        if (!pathOnly && url.absolute) {
            host = url.host.isEmpty() ? m_hostHeader : url.host;
            port = url.host.isEmpty() ? QString() : url.port;
            path = url.path.isEmpty() ? QStringLiteral("/") : url.path;
        }
        m_hostHeader = host;
        m_target = (url.scheme.isEmpty() ? QStringLiteral("http") : url.scheme) + QStringLiteral("://") +
                   host + (port.isEmpty() ? QString() : QLatin1Char(':') + port) + path;
        Location = m_target;
        return;
    }
    if (pathOnly || (url.absolute && url.host.isEmpty())) {
        m_target = pathOnly ? value : (url.path.isEmpty() ? QStringLiteral("/") : url.path);
        Location = QStringLiteral("http://") + m_connectHost + m_target;
    } else if (url.absolute) {
        m_connectHost = url.host;
        m_hostHeader = url.host;
        m_target = url.path.isEmpty() ? QStringLiteral("/") : url.path;
        if (!url.port.isEmpty())
            m_connectPort = url.port;
        Location = (url.scheme.isEmpty() ? QStringLiteral("http") : url.scheme) + QStringLiteral("://") +
                   url.host + url.path;
    } else {
        // A name without scheme, also one of several segments, is taken from the server root.
        Location = QStringLiteral("http://") + m_hostHeader + QLatin1Char('/') + value;
        m_connectHost = m_hostHeader;
        m_target = Location;
    }
}

void THttpClient::deliverBody(const char *data, qint64 length)
{
    if (m_bodySegments++ == 0)
        fireDocBegin();
    m_received += length;
    if (ReceiveStream && ReceiveStream->write(data, length) != length)
        abortResponse(QStringLiteral("stream write error"), ErrorStreamWrite);
    fireDocData(data, int(length));
}

void THttpClient::abortResponse(const QString &text, quint16 error)
{
    // The connection object aborts the connection when this leaves its event handler.
    if (m_requestError == 0)
        m_requestError = error;
    throw EHttpException(text, error);
}

void THttpClient::closeConnection()
{
    m_connection->Close();
}

void THttpClient::closedEvent(quint16 error)
{
    (this->*m_closedHandler)(error);
}

void THttpClient::sessionClosed(quint16 error)
{
    if (error != 0 && m_requestError == 0)
        m_requestError = error;
    if (m_bodySegments > 0)
        fireDocEnd();
    finishRequest();
}

void THttpClient::relocationClosed(quint16)
{
    m_relocating = false;
    m_closedHandler = &THttpClient::sessionClosed;
    if (OnLocationChange)
        OnLocationChange(this);
    if (++m_relocations > MaxRelocations) {
        m_requestError = ErrorTooManyRelocations;
        StatusCode = 404;
        ReasonPhrase = QStringLiteral("too many relocations");
        finishRequest();
        return;
    }
    const quint64 serial = m_serial;
    QMetaObject::invokeMethod(
        this,
        [this, serial] {
            if (serial == m_serial && !m_abandoned && !m_readyPosted)
                startRequestCycle();
        },
        Qt::QueuedConnection);
}

void THttpClient::finishRequest()
{
    if (m_readyPosted)
        return;
    m_readyPosted = true;
    m_deadlineTimer.stop();
    m_idleTimer.stop();
    QMetaObject::invokeMethod(this, &THttpClient::becomeReady, Qt::QueuedConnection);
}

void THttpClient::becomeReady()
{
    setState(THttpState::Ready);
    const quint16 error = m_requestError;
    QMetaObject::invokeMethod(
        this,
        [this, error] {
            if (OnRequestDone)
                OnRequestDone(this, THttpRequest::Get, error);
        },
        Qt::QueuedConnection);
}

void THttpClient::abandon()
{
    if (m_state == THttpState::Ready || m_readyPosted)
        return;
    m_abandoned = true;
    m_requestError = ErrorTimedOut;
    StatusCode = 404;
    ReasonPhrase = socketFailureText(ErrorTimedOut);
    m_connection->CancelDnsLookup();
    m_closedHandler = &THttpClient::sessionClosed;
    m_connection->Abort(ErrorTimedOut);
    finishRequest();
}

void THttpClient::restartIdleTimer()
{
    // Called for every block received: only the time is noted here, and the timer, once running, is
    // re-armed when it fires early (idleTimedOut), which keeps a timer call out of the data path.
    if (m_readyPosted)
        return;
    m_lastActivity.start();
    if (!m_idleTimer.isActive())
        m_idleTimer.start(std::max(IdleTimeout, 0));
}

void THttpClient::idleTimedOut()
{
    const qint64 remaining = qint64(std::max(IdleTimeout, 0)) - m_lastActivity.elapsed();
    if (remaining > 0 && !m_readyPosted)
        m_idleTimer.start(int(remaining));
    else
        abandon();
}

void THttpClient::fireCookie(const QString &data, bool &accept)
{
    if (OnCookie)
        OnCookie(this, data, accept);
}

void THttpClient::fireSessionConnected()
{
    if (OnSessionConnected)
        OnSessionConnected(this);
}

void THttpClient::fireRequestHeaderBegin()
{
    if (OnRequestHeaderBegin)
        OnRequestHeaderBegin(this);
}

void THttpClient::fireRequestHeaderEnd()
{
    if (OnRequestHeaderEnd)
        OnRequestHeaderEnd(this);
}

void THttpClient::fireHeaderBegin()
{
    if (OnHeaderBegin)
        OnHeaderBegin(this);
}

void THttpClient::fireHeaderEnd()
{
    if (OnHeaderEnd)
        OnHeaderEnd(this);
}

void THttpClient::fireDocBegin()
{
    if (OnDocBegin)
        OnDocBegin(this);
}

void THttpClient::fireDocData(const char *buffer, int length)
{
    if (OnDocData)
        OnDocData(this, buffer, length);
}

void THttpClient::fireDocEnd()
{
    if (OnDocEnd)
        OnDocEnd(this);
}

bool THttpClient::responseComplete() const
{
    ResponseEnd end;
    end.headerEnded = m_headerEnded;
    end.statusCode = StatusCode;
    end.contentLength = ContentLength;
    end.bodyBytes = m_received;
    end.orderlyClose = m_requestError == 0;
    end.bodyStored = m_requestError != ErrorStreamWrite;
    return isCompleteResponse(end);
}
