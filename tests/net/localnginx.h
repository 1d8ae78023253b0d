#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private nginx on 127.0.0.1: its own configuration and prefix in a temporary folder, on a free
// port, serving the folder's "www" tree. Used by the interoperability test and the benchmark.
class LocalNginx
{
public:
    static constexpr const char *binary = "/usr/sbin/nginx";
    static bool available();

    // `locations`: extra "location" blocks for the server section.
    explicit LocalNginx(const QString &locations = QString());
    ~LocalNginx();
    LocalNginx(const LocalNginx &) = delete;
    LocalNginx &operator=(const LocalNginx &) = delete;

    // Starts nginx and waits until it accepts connections; false (with the reason) when it did not.
    bool start(QString *error);
    quint16 port() const { return m_port; }
    QString documentRoot() const { return m_dir.path() + QStringLiteral("/www"); }
    // Writes a file below the document root, readable by nginx's workers.
    bool addFile(const QString &name, const QByteArray &contents);

private:
    QTemporaryDir m_dir;
    QString m_locations;
    QProcess m_process;
    quint16 m_port = 0;
};
