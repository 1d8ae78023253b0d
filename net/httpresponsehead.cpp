#include "net/httpresponsehead.h"

#include "core/numbertext.h"
#include "core/windows1252.h"

namespace {

HttpHeadLine readLine(QByteArrayView bytes)
{
    HttpHeadLine line;
    line.bytes = bytes.toByteArray();
    if (line.bytes.left(6).toUpper() == "<HTML>") {
        line.kind = HttpHeadLine::Kind::Headless;
        return line;
    }
    if (line.bytes.isEmpty()) {
        line.kind = HttpHeadLine::Kind::HeadEnd;
        return line;
    }
    line.text = Windows1252::decode(line.bytes);
    const QString &text = line.text;
    if (text.startsWith(QStringLiteral("HTTP/1.0")) || text.startsWith(QStringLiteral("HTTP/1.1"))) {
        const std::optional<qint32> status = NumberText::tryParseInteger(text.mid(9, 3));
        if (!status) {
            line.kind = HttpHeadLine::Kind::Malformed;
            line.error = QStringLiteral("invalid status code");
            return line;
        }
        line.kind = HttpHeadLine::Kind::Status;
        line.statusCode = *status;
        line.reason = text.mid(13);
        return line;
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon == -1)
        return line;
    line.kind = HttpHeadLine::Kind::Field;
    line.name = text.left(colon).toLower();
    qsizetype start = colon + 1;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    line.value = text.mid(start);
    if (line.name == QLatin1String("content-length") && !NumberText::tryParseInteger(line.value)) {
        line.kind = HttpHeadLine::Kind::Malformed;
        line.error = QStringLiteral("invalid content length");
    }
    return line;
}

// The position of the line feed that ends the first line of `bytes`; -1 when none comes before the end
// or before a NUL byte.
qsizetype lineEnd(QByteArrayView bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            return i;
        if (bytes[i] == '\0')
            return -1;
    }
    return -1;
}

} // namespace

int HttpResponseHead::statusCode() const
{
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (line->kind == HttpHeadLine::Kind::Status)
            return line->statusCode;
    }
    return 0;
}

QString HttpResponseHead::field(const QString &name) const
{
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (line->kind == HttpHeadLine::Kind::Field && line->name == name)
            return line->value;
    }
    return QString();
}

qint64 HttpResponseHead::contentLength() const
{
    const QString value = field(QStringLiteral("content-length"));
    return value.isNull() ? -1 : *NumberText::tryParseInteger(value);
}

HttpResponseHead parseHttpResponseHead(QByteArrayView bytes)
{
    HttpResponseHead head;
    while (true) {
        const QByteArrayView rest = bytes.sliced(head.consumed);
        const qsizetype end = lineEnd(rest);
        if (end < 0)
            return head;
        QByteArrayView text = rest.first(end);
        if (text.endsWith('\r'))
            text.chop(1);
        head.lines.append(readLine(text));
        head.consumed += end + 1;
        switch (head.lines.last().kind) {
        case HttpHeadLine::Kind::HeadEnd:
        case HttpHeadLine::Kind::Headless:
            head.state = HttpResponseHead::State::Complete;
            return head;
        case HttpHeadLine::Kind::Malformed:
            head.state = HttpResponseHead::State::Malformed;
            return head;
        default:
            break;
        }
    }
}
