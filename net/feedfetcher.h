#pragma once

#include "core/errors.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>

class QEventLoop;

// A feed that could not be fetched; the text gives the reason (a certificate that failed, the response
// status, a time-out).
class FeedFetchError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};

// Fetches one quote feed over HTTPS or HTTP. Used like the program's own HTTP client: fetch() runs the
// event loop until the document is in, so the window keeps handling input meanwhile and a refresh asked
// for then is refused by the refresh itself.
//
// Certificates are verified against the system's authorities and, for a feed with a private certificate,
// those of an extra PEM file. The system proxy (http_proxy, https_proxy, no_proxy) is honoured, gzip is
// accepted, redirects are followed within a bound, and a server that stays silent or takes too long is
// given up.
class FeedFetcher : public QObject
{
    Q_OBJECT

public:
    explicit FeedFetcher(QObject *parent = nullptr);
    ~FeedFetcher() override;

    // The longest a whole fetch may take, and the longest the server may stay silent, in milliseconds.
    int Timeout = 120000;
    int IdleTimeout = 30000;
    // Redirects followed within one fetch; a redirect from HTTPS to HTTP is never followed.
    int MaxRedirects = 10;
    // A larger document is refused rather than held in memory.
    qint64 MaxSize = 64 * 1024 * 1024;

    // Called with "Loading" when the fetch starts and "Received <n> bytes" when the document is in.
    std::function<void(const QString &)> OnStatus;

    // Fetches `url` (http or https) and returns the body, decompressed. `caFile`, when not empty, is a
    // PEM file of authorities trusted besides the system's. Throws FeedFetchError with the reason when the
    // fetch fails: a certificate not trusted, not valid for the host or expired, a response status of 400
    // or more, too many redirects, a time-out, abort(), a second fetch while one runs, a CA file that
    // holds no certificate.
    QByteArray fetch(const QUrl &url, const QString &caFile = QString());

    bool busy() const { return m_reply != nullptr; }
    // Ends a running fetch, which then throws "abgebrochen"; nothing when none runs.
    void abort();

private:
    void fail(const QString &reason);

    QNetworkAccessManager m_manager;
    QPointer<QNetworkReply> m_reply;
    QString m_failure;
};
