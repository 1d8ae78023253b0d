#include "net/indexfileupdate.h"

#include "core/errors.h"
#include "core/programfiles.h"
#include "net/httpclient.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <array>

namespace {

struct Download
{
    const char *path;
    const char *localName;
};

// In this order; the local names are found case-insensitively ("dax.txt" replaces "Dax.txt").
constexpr std::array downloads{
    Download{"/zalvento/dax.txt", "dax.txt"},   Download{"/zalvento/sdax.txt", "sdax.txt"},
    Download{"/zalvento/mdax.txt", "mdax.txt"}, Download{"/zalvento/tecdax.txt", "tecdax.txt"},
    Download{"/zalvento/info.txt", "info.txt"},
};

} // namespace

QString IndexFileUpdate::defaultServerHost()
{
    return QStringLiteral("download.quenkel.de");
}

QString IndexFileUpdate::serverHostFromSetting(const QString &updateserver)
{
    const QString host = updateserver.trimmed();
    return host.isEmpty() ? defaultServerHost() : host;
}

IndexFileUpdate::IndexFileUpdate(THttpClient &client, UpdateWindow &window, QString serverHost)
    : m_client(client), m_window(window), m_serverHost(std::move(serverHost))
{
}

void IndexFileUpdate::run()
{
    if (m_running)
        throw ZalventoError(QStringLiteral("Die Aktualisierung der Index-Dateien läuft bereits"));
    if (m_client.busy())
        throw EHttpException(QStringLiteral("HTTP component is busy"), THttpClient::ErrorBusy);
    const QScopedValueRollback running(m_running, true);
    for (const Download &step : downloads)
        download(QString::fromLatin1(step.path), QString::fromLatin1(step.localName));
    m_window.runStartUp();
}

void IndexFileUpdate::download(const QString &path, const QString &localName)
{
    m_client.URL = QStringLiteral("http://") + m_serverHost + path;
    m_client.Proxy.clear();
    m_client.ProxyPort = QStringLiteral("80");

    const QString directory = m_window.programDirectory();
    const QString target = ProgramFiles::resolve(directory, localName);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(QStringLiteral("Datei %1 kann nicht erstellt werden").arg(target));
    {
        // The stream leaves the client whatever happens, so that it never points to a closed file.
        m_client.ReceiveStream = &file;
        const auto detach = qScopeGuard([this] { m_client.ReceiveStream = nullptr; });
        m_window.setStatusText(QStringLiteral("Loading"));
        m_client.Cookie.clear();
        m_client.Get();
    }
    if (!m_client.responseComplete())
        throw ZalventoError(QStringLiteral("Die Datei %1 wurde nicht vollständig übertragen").arg(target));
    if (!file.commit())
        throw FileError(QStringLiteral("Datei %1 kann nicht erstellt werden").arg(target));
    m_window.setStatusText(QStringLiteral("Received ") + QString::number(QFileInfo(target).size()) +
                           QStringLiteral(" bytes"));
}
