#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// One line of an HTTP/1.0 response head (RFC 1945 section 6), read on its own: the client interprets
// every line by its own text, wherever it stands in the head.
struct HttpHeadLine
{
    enum class Kind {
        Status,    // begins "HTTP/1.0" or "HTTP/1.1": `statusCode` and `reason`
        Field,     // "name: value": `name` in lower case, `value` without the blanks after the colon
        Other,     // neither: kept in the head, meaning nothing
        HeadEnd,   // the empty line that ends the head
        Headless,  // begins "<HTML>" (any case): a document without head, this line its first text
        Malformed, // a status line whose code is no number, or a Content-Length that is none
    };
    Kind kind = Kind::Other;
    QByteArray bytes; // as received, without the line feed and one carriage return before it
    QString text;     // `bytes` read as Windows-1252
    int statusCode = 0;
    QString reason;
    QString name;
    QString value;
    QString error; // Malformed: "invalid status code" or "invalid content length"
};

struct HttpResponseHead
{
    enum class State {
        Incomplete, // no end of the head yet: `lines` holds the whole lines so far
        Complete,   // `lines` ends with the HeadEnd or Headless line; the body follows `consumed`
        Malformed,  // `lines` ends with the Malformed line
    };
    State state = State::Incomplete;
    QList<HttpHeadLine> lines;
    qsizetype consumed = 0; // the bytes of `lines`, line ends included

    // The status of the last status line; 0 when there is none (a document without head).
    int statusCode() const;
    // The value of the last field of this name (lower case); null when there is none.
    QString field(const QString &name) const;
    // The last Content-Length; -1 when there is none.
    qint64 contentLength() const;
};

// Reads the lines of a response head from the start of `bytes` (a server's first bytes, or what follows
// the lines of an earlier call). Pure: no state between calls, and a line means the same in any call, so a
// caller may hand over the lines it read and call again with the rest. A line ends at a line feed; a NUL
// byte before it holds the line open, so the head stays Incomplete and the caller's bound on a line ends
// it. Reading stops after the first line that ends the head or is malformed.
HttpResponseHead parseHttpResponseHead(QByteArrayView bytes);
