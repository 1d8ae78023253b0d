#include "net/webrequest.h"

#include <QUrl>
#include <algorithm>

namespace {

bool isTokenChar(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

QByteArrayView trimmedBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

bool parseRequestLine(QByteArrayView line, WebRequest &request)
{
    const qsizetype firstSpace = line.indexOf(' ');
    if (firstSpace <= 0)
        return false;
    const qsizetype secondSpace = line.indexOf(' ', firstSpace + 1);
    if (secondSpace <= firstSpace + 1)
        return false;
    const QByteArrayView method = line.first(firstSpace);
    const QByteArrayView target = line.sliced(firstSpace + 1, secondSpace - firstSpace - 1);
    const QByteArrayView version = line.sliced(secondSpace + 1);
    if (!isToken(method))
        return false;
    for (const char c : target) {
        if (uchar(c) <= ' ' || c == 0x7f)
            return false;
    }
    if (version == "HTTP/1.1")
        request.minorVersion = 1;
    else if (version == "HTTP/1.0")
        request.minorVersion = 0;
    else
        return false;
    request.method = method.toByteArray();
    request.target = target.toByteArray();
    return true;
}

bool parseHeaderLine(QByteArrayView line, WebRequest &request)
{
    // A line that begins with a blank continues the previous field (obsolete folding): refused, as a
    // proxy in front could read it differently.
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || !isToken(line.first(colon)))
        return false;
    request.headers.append(
        {line.first(colon).toByteArray(), trimmedBlanks(line.sliced(colon + 1)).toByteArray()});
    return true;
}

// The host part of a Host value and its port (-1 when none); false when it is no host[:port].
bool splitHost(QByteArrayView value, QByteArrayView &host, int &port)
{
    port = -1;
    host = value;
    const qsizetype colon = value.lastIndexOf(':');
    if (colon < 0)
        return !host.isEmpty();
    host = value.first(colon);
    const QByteArrayView digits = value.sliced(colon + 1);
    if (digits.isEmpty() || digits.size() > 5)
        return false;
    int number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    port = number;
    return !host.isEmpty();
}

bool isLoopbackHost(QByteArrayView value, quint16 port)
{
    QByteArrayView host;
    int hostPort = -1;
    if (!splitHost(value, host, hostPort))
        return false;
    if (hostPort >= 0 && hostPort != port)
        return false;
    return host == "127.0.0.1" || host.compare("localhost", Qt::CaseInsensitive) == 0;
}

} // namespace

QByteArray WebRequest::header(QByteArrayView name) const
{
    for (const auto &field : headers) {
        if (QByteArrayView(field.first).compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return QByteArray();
}

bool WebRequest::hasHeader(QByteArrayView name) const
{
    return headerCount(name) > 0;
}

qsizetype WebRequest::headerCount(QByteArrayView name) const
{
    return std::count_if(headers.cbegin(), headers.cend(), [name](const auto &field) {
        return QByteArrayView(field.first).compare(name, Qt::CaseInsensitive) == 0;
    });
}

bool WebRequest::keepAlive() const
{
    // A request with a body is answered and its connection closed: the link reads no bodies, and what
    // follows the head would otherwise be taken for the next request.
    if (hasHeader("Transfer-Encoding") || (hasHeader("Content-Length") && header("Content-Length") != "0"))
        return false;
    const QByteArray connection = header("Connection").toLower();
    if (minorVersion == 0)
        return connection.contains("keep-alive");
    return !connection.contains("close");
}

WebRequestParse parseWebRequest(QByteArrayView bytes, qsizetype maxHeadSize)
{
    WebRequestParse result;
    qsizetype position = 0;
    // Blank lines before a request line are allowed (RFC 9112 section 2.2).
    while (position < bytes.size() && (bytes[position] == '\r' || bytes[position] == '\n'))
        ++position;
    const qsizetype start = position;

    bool requestLineSeen = false;
    while (true) {
        const qsizetype lineEnd = bytes.indexOf('\n', position);
        if (lineEnd < 0) {
            result.state = bytes.size() - start > maxHeadSize ? WebRequestParse::State::TooLarge
                                                              : WebRequestParse::State::Incomplete;
            return result;
        }
        if (lineEnd + 1 - start > maxHeadSize) {
            result.state = WebRequestParse::State::TooLarge;
            return result;
        }
        QByteArrayView line = bytes.sliced(position, lineEnd - position);
        if (line.endsWith('\r'))
            line.chop(1);
        position = lineEnd + 1;
        if (line.contains('\r') || line.contains('\0')) {
            result.state = WebRequestParse::State::Malformed;
            return result;
        }
        if (line.isEmpty())
            break;
        const bool ok =
            requestLineSeen ? parseHeaderLine(line, result.request) : parseRequestLine(line, result.request);
        if (!ok) {
            result.state = WebRequestParse::State::Malformed;
            return result;
        }
        requestLineSeen = true;
    }
    if (!requestLineSeen) {
        result.state = WebRequestParse::State::Incomplete;
        return result;
    }
    // Two lengths or two hosts leave open which one counts; a proxy in front may have chosen the other
    // (RFC 9112 section 6.3, RFC 9110 section 7.2).
    if (result.request.headerCount("Content-Length") > 1 || result.request.headerCount("Host") > 1) {
        result.state = WebRequestParse::State::Malformed;
        return result;
    }
    result.state = WebRequestParse::State::Complete;
    result.consumed = position;
    return result;
}

WebRoute routeWebRequest(const WebRequest &request, const QString &topic, quint16 port)
{
    if (request.hasHeader("Host")) {
        if (!isLoopbackHost(request.header("Host"), port))
            return {421};
    } else if (request.minorVersion == 1) {
        return {400};
    }
    if (request.method != "GET" && request.method != "HEAD")
        return {405};
    if (!request.target.startsWith('/'))
        return {400};

    QByteArray pathBytes = request.target;
    const qsizetype query = pathBytes.indexOf('?');
    if (query >= 0)
        pathBytes.truncate(query);
    if (pathBytes == "/")
        return {200, WebResource::Dashboard};
    if (pathBytes == "/health")
        return {200, WebResource::Health};
    if (pathBytes == "/metrics")
        return {200, WebResource::Metrics};
    const QString path = QUrl::fromPercentEncoding(pathBytes);
    // The segments are those of the path as sent: a "%2F" is part of a segment's name and never
    // separates two, so it selects no resource.
    if (path.count(QLatin1Char('/')) != pathBytes.count('/'))
        return {404};

    const auto isTopic = [&topic](QStringView name) {
        return !topic.isEmpty() && name.compare(topic, Qt::CaseInsensitive) == 0;
    };
    const QStringView name = QStringView(path).sliced(1);
    if (isTopic(name))
        return {200, WebResource::Item};
    if (name.endsWith(QLatin1String(".json")) && isTopic(name.chopped(5)))
        return {200, WebResource::Json};
    if (name.endsWith(QLatin1String("/events")) && isTopic(name.chopped(7)))
        return {200, WebResource::Events};
    if (name.endsWith(QLatin1String("/history.csv")) && isTopic(name.chopped(12)))
        return {200, WebResource::History};
    return {404};
}

QByteArray webReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}
