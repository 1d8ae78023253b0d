#pragma once

#include <QString>

// The parts of a URL text as the HTTP client reads it:
//   scheme "://" [user [":" password] "@"] host [":" port] path
// Everything before "://" is the scheme. The authority runs up to the first "/" (or "?"), and the path
// is the rest, query included. In the authority the last "@" ends the user information and the last
// ":" after it starts the port; the user information splits at its first ":".
//
// Other forms:
// - a text that begins with a single "/" is a bare path (scheme "http", nothing else set);
// - "//host/path" and a text without "://" ("host:8080/path") are read as authority and path;
// - "http:" or "https:" without "//" ("http:/path", "http:host/path") is followed by a bare path or
//   by authority and path;
// - the empty text gives all parts empty.
struct HttpUrl
{
    QString scheme;
    QString user;
    QString password;
    QString host;
    QString port;
    QString path;
    // The text named a scheme ("http://...", "http:...") or began with "//": it is an absolute
    // reference, not a name relative to some server.
    bool absolute = false;

    static HttpUrl parse(const QString &text);
};
