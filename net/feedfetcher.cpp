#include "net/feedfetcher.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Qt's own buffer for a reply between two reads: the network thread stops reading once it is full,
// so memory stays near MaxSize however fast a server sends.
constexpr qint64 readBufferSize = 256 * 1024;

QList<QSslCertificate> readAuthorities(const QString &caFile)
{
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly))
        throw FeedFetchError(QStringLiteral("Die CA-Datei %1 kann nicht gelesen werden").arg(caFile));
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty())
        throw FeedFetchError(QStringLiteral("Die CA-Datei %1 enthält kein Zertifikat").arg(caFile));
    return certificates;
}

// Retry-After (RFC 9110 §10.2.3): delay seconds or an HTTP date; -1 for anything else.
int retryAfterOf(const QByteArray &value)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (isNumber && seconds >= 0 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return int(std::min<qint64>(seconds, FeedFetcher::longestRetryAfter));
    const QDateTime date = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
    if (!date.isValid())
        return -1;
    return int(
        std::clamp<qint64>(QDateTime::currentDateTimeUtc().secsTo(date), 0, FeedFetcher::longestRetryAfter));
}

QString certificateReason(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors)
        if (error.error() == QSslError::HostNameMismatch)
            return QStringLiteral("Zertifikat gilt nicht für diesen Server");
    for (const QSslError &error : errors)
        if (error.error() == QSslError::CertificateExpired)
            return QStringLiteral("Zertifikat abgelaufen");
    return QStringLiteral("Zertifikat nicht vertrauenswürdig");
}

QString networkReason(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Verbindung abgelehnt");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Server nicht gefunden");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Verbindung vorzeitig geschlossen");
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("zu viele oder unsichere Umleitungen");
    default:
        return reply.errorString();
    }
}

} // namespace

// One request under way: its reply, what has arrived, and its own silence timer.
struct FeedFetcher::Transfer
{
    qsizetype index = 0;
    int slot = 0;
    QNetworkReply *reply = nullptr;
    QTimer idle;
    QByteArray body;
    QString failure;
    QList<QSslError> certificateErrors;
};

FeedFetcher::FeedFetcher(QObject *parent) : QObject(parent)
{
    // http_proxy, https_proxy and no_proxy, or the desktop's proxy settings.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

FeedFetcher::~FeedFetcher()
{
    abort();
}

void FeedFetcher::abort()
{
    if (!m_running)
        return;
    m_aborted = true;
    const QList<Transfer *> running = m_transfers;
    for (Transfer *transfer : running)
        fail(*transfer, QStringLiteral("abgebrochen"));
}

void FeedFetcher::fail(Transfer &transfer, const QString &reason)
{
    if (transfer.failure.isEmpty())
        transfer.failure = reason;
    if (transfer.reply)
        transfer.reply->abort();
}

QByteArray FeedFetcher::fetch(const QUrl &url, const QString &caFile)
{
    FeedReply reply = fetchAll({url}, {}, caFile, 1).first();
    if (!reply.failure.isEmpty())
        throw FeedFetchError(reply.failure);
    return reply.body;
}

QList<FeedReply> FeedFetcher::fetchAll(const QList<QUrl> &urls,
                                       const QList<QPair<QByteArray, QByteArray>> &headers,
                                       const QString &caFile, int parallel)
{
    if (busy())
        throw FeedFetchError(QStringLiteral("Ein Abruf läuft schon"));
    std::optional<QSslConfiguration> tls;
    if (!caFile.isEmpty()) {
        tls = QSslConfiguration::defaultConfiguration();
        tls->addCaCertificates(readAuthorities(caFile));
    }
    if (OnStatus)
        OnStatus(QStringLiteral("Loading"));

    QList<FeedReply> replies(urls.size());
    const int slotCount = std::max(parallel, 1);
    while (int(m_managers.size()) < slotCount)
        m_managers.push_back(std::make_unique<QNetworkAccessManager>());
    QList<int> freeSlots;
    for (int slot = slotCount - 1; slot >= 0; --slot)
        freeSlots.append(slot);
    m_running = true;
    m_aborted = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    qsizetype next = 0;
    qsizetype finished = 0;
    std::vector<std::unique_ptr<Transfer>> transfers;

    const auto finish = [&](Transfer &transfer) {
        QNetworkReply &reply = *transfer.reply;
        FeedReply &result = replies[transfer.index];
        if (reply.isOpen())
            transfer.body += reply.readAll();
        const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!transfer.failure.isEmpty()) {
            result.failure = transfer.failure;
        } else if (status >= 400) {
            const QString phrase = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            result.failure = QStringLiteral("HTTP %1 %2").arg(status).arg(phrase).trimmed();
            if (status == 429 || status == 503)
                result.retryAfterSeconds = retryAfterOf(reply.rawHeader("Retry-After"));
        } else if (!transfer.certificateErrors.isEmpty()) {
            result.failure = certificateReason(transfer.certificateErrors);
        } else if (reply.error() != QNetworkReply::NoError) {
            result.failure = networkReason(reply);
        } else {
            result.body = std::move(transfer.body);
        }
        transfer.idle.stop();
        // The handlers of a request refer to this fetch's stack: none may run once it has returned.
        reply.disconnect();
        reply.deleteLater();
        transfer.reply = nullptr;
        m_transfers.removeOne(&transfer);
        freeSlots.append(transfer.slot);
        ++finished;
    };

    std::function<void()> startNext;
    startNext = [&] {
        while (!freeSlots.isEmpty() && next < urls.size()) {
            const qsizetype index = next++;
            const QUrl &url = urls[index];
            const QString scheme = url.scheme().toLower();
            if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https") ||
                m_aborted) {
                replies[index].failure = m_aborted ? QStringLiteral("abgebrochen")
                                                   : QStringLiteral("keine HTTP- oder HTTPS-Adresse");
                ++finished;
                continue;
            }
            QNetworkRequest request(url);
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                 QNetworkRequest::NoLessSafeRedirectPolicy);
            request.setMaximumRedirectsAllowed(MaxRedirects);
            request.setHeader(QNetworkRequest::UserAgentHeader,
                              QStringLiteral("Mozilla/5.0 (compatible; NV Zalvento)"));
            for (const auto &[name, value] : headers)
                request.setRawHeader(name, value);
            if (tls)
                request.setSslConfiguration(*tls);

            transfers.push_back(std::make_unique<Transfer>());
            Transfer &transfer = *transfers.back();
            transfer.index = index;
            transfer.slot = freeSlots.takeLast();
            transfer.reply = m_managers[transfer.slot]->get(request);
            transfer.reply->setReadBufferSize(readBufferSize);
            m_transfers.append(&transfer);
            QNetworkReply *reply = transfer.reply;
            transfer.idle.setSingleShot(true);
            const auto alive = [&transfer, this] { transfer.idle.start(std::max(IdleTimeout, 0)); };
            connect(&transfer.idle, &QTimer::timeout, this, [&transfer, this] {
                fail(transfer, QStringLiteral("keine Antwort in %1 s").arg((IdleTimeout + 999) / 1000));
            });
            connect(reply, &QNetworkReply::metaDataChanged, this, [&transfer, alive, this] {
                alive();
                const qint64 declared =
                    transfer.reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
                if (declared > MaxSize)
                    fail(transfer, QStringLiteral("Dokument größer als %1 MiB").arg(MaxSize / (1024 * 1024)));
            });
            connect(reply, &QNetworkReply::redirected, this, alive);
            connect(reply, &QNetworkReply::encrypted, this, alive);
            connect(reply, &QNetworkReply::readyRead, this, [&transfer, alive, this] {
                alive();
                transfer.body += transfer.reply->readAll();
                if (transfer.body.size() > MaxSize) {
                    transfer.body.clear();
                    transfer.body.squeeze();
                    fail(transfer, QStringLiteral("Dokument größer als %1 MiB").arg(MaxSize / (1024 * 1024)));
                }
            });
            connect(reply, &QNetworkReply::sslErrors, this,
                    [&transfer](const QList<QSslError> &errors) { transfer.certificateErrors += errors; });
            connect(reply, &QNetworkReply::finished, this,
                    [&transfer, &finish, &startNext, &finished, &urls, &loop] {
                        finish(transfer);
                        startNext();
                        if (finished == urls.size())
                            loop.quit();
                    });
            alive();
        }
    };

    connect(&deadline, &QTimer::timeout, this, [this] {
        // First, so that a request ended here starts no other.
        m_aborted = true;
        const QList<Transfer *> running = m_transfers;
        for (Transfer *transfer : running)
            fail(*transfer, QStringLiteral("nicht in %1 s übertragen").arg((Timeout + 999) / 1000));
    });
    deadline.start(std::max(Timeout, 0));
    startNext();
    if (finished < urls.size())
        loop.exec();
    // The application's quit ends every event loop, this one too, with requests still running.
    m_aborted = true;
    while (!m_transfers.isEmpty()) {
        Transfer &transfer = *m_transfers.first();
        fail(transfer, QStringLiteral("abgebrochen"));
        if (transfer.reply)
            finish(transfer);
    }
    for (qsizetype index = next; index < urls.size(); ++index)
        replies[index].failure = QStringLiteral("abgebrochen");
    m_running = false;

    qint64 bytes = 0;
    bool anyBody = false;
    for (const FeedReply &reply : replies) {
        bytes += reply.body.size();
        anyBody = anyBody || reply.failure.isEmpty();
    }
    if (OnStatus && anyBody)
        OnStatus(QStringLiteral("Received %1 bytes").arg(bytes));
    return replies;
}
