#include "net/pagefetch.h"

#include "net/httpclient.h"

#include <QBuffer>
#include <QScopeGuard>

QByteArray fetchPage(THttpClient &client, const QString &url, const QString &incompleteText,
                     const std::function<void(const QString &)> &setStatusText)
{
    if (client.busy())
        throw EHttpException(QStringLiteral("HTTP component is busy"), THttpClient::ErrorBusy);
    client.URL = url;
    QBuffer page;
    page.open(QIODevice::WriteOnly);
    setStatusText(QStringLiteral("Loading"));
    client.Cookie.clear();
    {
        client.ReceiveStream = &page;
        const auto detach = qScopeGuard([&client] { client.ReceiveStream = nullptr; });
        client.Get();
    }
    setStatusText(QStringLiteral("Received %1 bytes").arg(page.size()));
    // A server that closed without an answer or cut the page short returns normally from Get: the
    // refresh would then report success while it kept the old prices.
    if (page.size() == 0 || !client.responseComplete())
        throw ZalventoError(incompleteText);
    return page.data();
}
