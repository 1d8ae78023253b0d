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
#include <memory>
#include <vector>

class QEventLoop;

// A feed that could not be fetched; the text gives the reason (a certificate that failed, the response
// status, a time-out).
class FeedFetchError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};

// The answer to one request of a fetch: the body, or a short reason in the user's words
// ("HTTP 429 Too Many Requests", "Zertifikat nicht vertrauenswürdig", "keine Antwort in 30 s").
struct FeedReply
{
    QByteArray body;
    QString failure; // empty when the body is in
    int retryAfterSeconds =
        -1; // a 429 or 503 with Retry-After (seconds, or an HTTP date): the wait asked for
};

// Fetches quote feeds over HTTPS or HTTP. Used like the program's own HTTP client: a fetch runs the
// event loop until its documents are in, so the window keeps handling input meanwhile and a refresh
// asked for then is refused by the refresh itself.
//
// Certificates are verified against the system's authorities and, for a feed with a private certificate,
// those of an extra PEM file. The system proxy (http_proxy, https_proxy, no_proxy) is honoured, gzip is
// accepted, redirects are followed within a bound, a server that stays silent or takes too long is
// given up, and a body is read in small steps and given up as soon as it passes MaxSize, so that an
// endless answer costs no more memory than that.
class FeedFetcher : public QObject
{
    Q_OBJECT

public:
    explicit FeedFetcher(QObject *parent = nullptr);
    ~FeedFetcher() override;

    // The longest a whole fetch may take, and the longest a server may stay silent, in milliseconds.
    int Timeout = 120000;
    int IdleTimeout = 30000;
    // Redirects followed within one request; a redirect from HTTPS to HTTP is never followed.
    int MaxRedirects = 10;
    // A larger document is refused rather than held in memory.
    qint64 MaxSize = 64 * 1024 * 1024;
    // The longest Retry-After honoured, in seconds: a server cannot shut a feed for days.
    static constexpr int longestRetryAfter = 3600;

    // Called with "Loading" when the fetch starts and "Received <n> bytes" (all bodies) when it ends.
    std::function<void(const QString &)> OnStatus;

    // Fetches every url (http or https) with the same request headers, at most `parallel` at once (and
    // so over at most that many connections), and returns one reply per url in their order. `caFile`,
    // when not empty, is a PEM file of authorities trusted besides the system's. Throws FeedFetchError
    // only for a fetch that cannot begin (a second fetch while one runs, a CA file that cannot be read or
    // holds no certificate); every failure of a request is its reply's reason.
    QList<FeedReply> fetchAll(const QList<QUrl> &urls, const QList<QPair<QByteArray, QByteArray>> &headers,
                              const QString &caFile = QString(), int parallel = 4);

    // One url without extra headers: the body, or FeedFetchError with the reason.
    QByteArray fetch(const QUrl &url, const QString &caFile = QString());

    bool busy() const { return m_running; }
    // Ends a running fetch: its unfinished requests fail with "abgebrochen"; nothing when none runs.
    void abort();

private:
    struct Transfer;
    void fail(Transfer &transfer, const QString &reason);

    // One manager per parallel slot: each has its own network thread, so requests of different slots
    // are read in parallel, and each holds at most one request and so at most one connection.
    std::vector<std::unique_ptr<QNetworkAccessManager>> m_managers;
    bool m_running = false;
    QList<Transfer *> m_transfers; // the requests under way
    bool m_aborted = false;
};
