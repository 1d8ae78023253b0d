#pragma once

#include <QtGlobal>

// How a response ended, as far as its completeness goes.
struct ResponseEnd
{
    bool headerEnded = false;  // the empty line after the header arrived (or a document without header began)
    int statusCode = 0;        // 0 for a document without header
    qint64 contentLength = -1; // -1: the header gave none
    qint64 bodyBytes = 0;      // body bytes received and stored
    bool orderlyClose = false; // the connection ended without a failure (no reset, no time-out)
    bool bodyStored = true;    // every body byte reached the receiving stream
};

// The one rule for a complete HTTP/1.0 response (RFC 1945, 7.2.2): its header ended, its status is below
// 400, and its body has the length the header gave, whatever happens to the connection after that (a reset
// after the last byte is harmless). Without a Content-Length only an orderly close ends the body; a reset
// or a time-out then means the body was cut off.
bool isCompleteResponse(const ResponseEnd &end);
