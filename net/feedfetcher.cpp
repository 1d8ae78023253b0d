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
#include <memory>

namespace {

struct ReplyDeleter
{
    // The handlers of a fetch refer to its stack: none may run once it has returned.
    void operator()(QNetworkReply *reply) const
    {
        reply->disconnect();
        reply->deleteLater();
    }
};

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

} // namespace

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
    fail(QStringLiteral("Die Übertragung wurde abgebrochen"));
}

void FeedFetcher::fail(const QString &reason)
{
    if (!m_reply)
        return;
    if (m_failure.isEmpty())
        m_failure = reason;
    m_reply->abort();
}

QByteArray FeedFetcher::fetch(const QUrl &url, const QString &caFile)
{
    if (busy())
        throw FeedFetchError(QStringLiteral("HTTP component is busy"));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        throw FeedFetchError(QStringLiteral("Keine HTTP- oder HTTPS-Adresse: %1").arg(url.toString()));

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Mozilla/5.0 (compatible; NV Zalvento)"));
    if (!caFile.isEmpty()) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(readAuthorities(caFile));
        request.setSslConfiguration(configuration);
    }

    if (OnStatus)
        OnStatus(QStringLiteral("Loading"));

    m_failure.clear();
    QStringList certificateErrors;
    QEventLoop loop;
    QTimer deadline;
    QTimer idle;
    deadline.setSingleShot(true);
    idle.setSingleShot(true);
    const std::unique_ptr<QNetworkReply, ReplyDeleter> reply(m_manager.get(request));
    m_reply = reply.get();

    const auto timedOut = [this] { fail(QStringLiteral("Connection timed out")); };
    connect(&deadline, &QTimer::timeout, this, timedOut);
    connect(&idle, &QTimer::timeout, this, timedOut);
    const auto alive = [&idle, this] { idle.start(std::max(IdleTimeout, 0)); };
    connect(reply.get(), &QNetworkReply::metaDataChanged, this, alive);
    connect(reply.get(), &QNetworkReply::redirected, this, alive);
    connect(reply.get(), &QNetworkReply::encrypted, this, alive);
    connect(reply.get(), &QNetworkReply::downloadProgress, this, [this, alive](qint64 received, qint64) {
        alive();
        if (received > MaxSize)
            fail(QStringLiteral("Das Dokument ist größer als %1 Bytes").arg(MaxSize));
    });
    connect(reply.get(), &QNetworkReply::sslErrors, this,
            [&certificateErrors](const QList<QSslError> &errors) {
                for (const QSslError &error : errors)
                    certificateErrors.append(error.errorString());
            });
    connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);

    deadline.start(std::max(Timeout, 0));
    alive();
    if (!reply->isFinished())
        loop.exec();
    // The application's quit ends every event loop, this one too, with the reply still running.
    if (!reply->isFinished())
        abort();
    m_reply = nullptr;

    if (!m_failure.isEmpty())
        throw FeedFetchError(m_failure);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        throw FeedFetchError(QStringLiteral("%1 %2").arg(status).arg(phrase).trimmed());
    }
    if (!certificateErrors.isEmpty())
        throw FeedFetchError(QStringLiteral("Zertifikat abgelehnt: %1").arg(certificateErrors.join(u"; ")));
    if (reply->error() != QNetworkReply::NoError)
        throw FeedFetchError(reply->errorString());

    const QByteArray body = reply->readAll();
    if (OnStatus)
        OnStatus(QStringLiteral("Received %1 bytes").arg(body.size()));
    return body;
}
