#include "localnginx.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

const QFileDevice::Permissions readable =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
    QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

bool LocalNginx::available()
{
    return QFileInfo(QString::fromLatin1(binary)).isExecutable();
}

LocalNginx::LocalNginx(const QString &locations) : m_locations(locations)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("www"));
    QDir(m_dir.path()).mkpath(QStringLiteral("temp"));
    // Workers may run as another user when the tests run as root.
    QFile::setPermissions(m_dir.path(), readable);
    QFile::setPermissions(documentRoot(), readable);
}

LocalNginx::~LocalNginx()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool LocalNginx::addFile(const QString &name, const QByteArray &contents)
{
    QFile file(documentRoot() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return false;
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                               QFileDevice::ReadOther);
}

bool LocalNginx::start(QString *error)
{
    m_port = freePort();
    const QString dir = m_dir.path();
    const QString temp = dir + QStringLiteral("/temp");
    const QString config =
        QStringLiteral("worker_processes 1;\n"
                       "daemon off;\n"
                       "pid %1/nginx.pid;\n"
                       "error_log %1/error.log;\n"
                       "events { worker_connections 64; }\n"
                       "http {\n"
                       "  access_log off;\n"
                       "  client_body_temp_path %2; proxy_temp_path %2; fastcgi_temp_path %2;\n"
                       "  uwsgi_temp_path %2; scgi_temp_path %2;\n"
                       "  default_type application/octet-stream;\n"
                       "  server {\n"
                       "    listen 127.0.0.1:%3;\n"
                       "    root %4;\n"
                       "%5\n"
                       "  }\n"
                       "}\n")
            .arg(dir, temp, QString::number(m_port), documentRoot(), m_locations);
    QFile file(dir + QStringLiteral("/nginx.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write the configuration");
        return false;
    }
    file.close();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QString::fromLatin1(binary),
                    {QStringLiteral("-p"), dir, QStringLiteral("-c"), dir + QStringLiteral("/nginx.conf")});
    if (!m_process.waitForStarted(5000)) {
        *error = QStringLiteral("nginx did not start");
        return false;
    }
    // nginx gives no sign of readiness but its listening socket.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning) {
            *error = QStringLiteral("nginx ended: see %1/error.log").arg(dir);
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        m_process.waitForFinished(50);
    }
    *error = QStringLiteral("nginx does not accept connections");
    return false;
}
