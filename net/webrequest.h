#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

// The head of one HTTP request as the web link receives it (RFC 9112): request line and header fields.
struct WebRequest
{
    QByteArray method;                            // as sent, case included ("GET", "HEAD", "POST", ...)
    QByteArray target;                            // the request target, e.g. "/DAX?x=1"
    int minorVersion = 1;                         // HTTP/1.<minorVersion>
    QList<QPair<QByteArray, QByteArray>> headers; // names as sent, values without surrounding blanks

    // The value of the first header field of this name (ignoring case); null when there is none.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;
    // How many header fields of this name (ignoring case) the request has.
    qsizetype headerCount(QByteArrayView name) const;
    // Whether the connection stays open after the answer: HTTP/1.1 unless "Connection: close", HTTP/1.0
    // only with "Connection: keep-alive".
    bool keepAlive() const;
};

struct WebRequestParse
{
    enum class State {
        Incomplete, // the head has not arrived whole yet
        Complete,   // `request` holds it, the head took `consumed` bytes
        Malformed,  // answer 400 and close
        TooLarge    // the head exceeds maxHeadSize: answer 431 and close
    };
    State state = State::Incomplete;
    WebRequest request;
    qsizetype consumed = 0;
};

// Parses the head of the first request in `bytes`. Pure: no state is kept between calls, so a caller
// buffers what arrived and calls again with more. A head longer than `maxHeadSize` is TooLarge even when it
// is incomplete, so a client cannot make the server buffer without end. Blank lines before the request
// line are skipped (RFC 9112 section 2.2). A NUL byte, a bare CR, a field without a name or colon, a
// blank before a field's colon, an obsolete folded line, an HTTP version other than 1.0 and 1.1, and two
// Content-Length or two Host fields are Malformed.
WebRequestParse parseWebRequest(QByteArrayView bytes, qsizetype maxHeadSize = 16 * 1024);

// What the web link serves at a path.
enum class WebResource { Item, Json, Events, Dashboard, Health, Metrics, History };

struct WebRoute
{
    int status = 200; // 200 with `resource`, or the error status to answer with
    WebResource resource = WebResource::Item;
};

// Decides the answer to a request: 421 for a Host that is not 127.0.0.1 or localhost (on `port`, or
// without a port) so that a page from elsewhere cannot reach the link through DNS rebinding; 400 for an
// HTTP/1.1 request without Host or a target that is no path; 405 for a method other than GET and HEAD;
// 404 for a path other than "/", "/health", "/metrics", "/<topic>", "/<topic>.json", "/<topic>/events" and
// "/<topic>/history.csv", the topic matched ignoring case after percent-decoding and the query ignored; the
// path is split into segments before percent-decoding, so a "%2F" separates nothing. "/health" and
// "/metrics" are exact and come before a topic of the same name.
WebRoute routeWebRequest(const WebRequest &request, const QString &topic, quint16 port);

// The reason phrase of the statuses the web link answers with.
QByteArray webReasonPhrase(int status);
