#include "net/httpurl.h"

#include <QRegularExpression>

namespace {

// "http:" or "https:" at the start without "//" after it; what follows is no port number.
qsizetype schemeWithoutSlashes(const QString &text)
{
    static const QRegularExpression scheme(QStringLiteral("^https?:(?![0-9]|$)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = scheme.match(text);
    return match.hasMatch() ? match.capturedLength() : -1;
}

void splitAuthority(const QString &rest, HttpUrl &url)
{
    qsizetype end = rest.indexOf(QLatin1Char('/'));
    const qsizetype query = rest.indexOf(QLatin1Char('?'));
    if (query != -1 && (end == -1 || query < end))
        end = query;
    QString authority = end == -1 ? rest : rest.left(end);
    if (end != -1)
        url.path = rest.at(end) == QLatin1Char('?') ? QLatin1Char('/') + rest.mid(end) : rest.mid(end);

    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at != -1) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
        if (colon == -1) {
            url.user = userInfo;
        } else {
            url.user = userInfo.left(colon);
            url.password = userInfo.mid(colon + 1);
        }
    }
    const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
    if (colon == -1) {
        url.host = authority;
    } else {
        url.host = authority.left(colon);
        url.port = authority.mid(colon + 1);
    }
}

} // namespace

HttpUrl HttpUrl::parse(const QString &text)
{
    HttpUrl url;
    if (text.isEmpty())
        return url;
    const qsizetype separator = text.indexOf(QStringLiteral("://"));
    if (separator != -1) {
        url.scheme = text.left(separator);
        url.absolute = true;
        splitAuthority(text.mid(separator + 3), url);
        return url;
    }
    if (text.startsWith(QStringLiteral("//"))) {
        url.absolute = true;
        splitAuthority(text.mid(2), url);
        return url;
    }
    QString rest = text;
    const qsizetype schemeLength = schemeWithoutSlashes(text);
    if (schemeLength != -1) {
        url.scheme = text.left(schemeLength - 1);
        url.absolute = true;
        rest = text.mid(schemeLength);
    }
    if (rest.startsWith(QLatin1Char('/'))) {
        if (url.scheme.isEmpty())
            url.scheme = QStringLiteral("http");
        url.path = rest;
        return url;
    }
    splitAuthority(rest, url);
    return url;
}
