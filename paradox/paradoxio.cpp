#include "paradox/paradoxio.h"

#include "paradox/paradoxerror.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void Descriptor::reset()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

Descriptor ParadoxIo::open(const QString &path, int flags, int mode)
{
    return Descriptor(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode));
}

QByteArray ParadoxIo::readExactly(int fd, qint64 offset, int size, const QString &path)
{
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ParadoxError(QStringLiteral("Datei %1 ist unvollständig").arg(path));
        done += n;
    }
    return bytes;
}

void ParadoxIo::writeAll(int fd, const char *data, qint64 size, qint64 offset, const QString &path)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ParadoxError(
                QStringLiteral("Datei %1 kann nicht geschrieben werden: %2").arg(path, lastError()));
        done += n;
    }
}

void ParadoxIo::syncFile(int fd, const QString &path)
{
    if (::fdatasync(fd) != 0)
        throw ParadoxError(
            QStringLiteral("Datei %1 kann nicht geschrieben werden: %2").arg(path, lastError()));
}

void ParadoxIo::syncDirectory(const QString &path)
{
    const Descriptor folder = open(QFileInfo(path).absolutePath(), O_RDONLY);
    if (folder.isOpen())
        ::fsync(folder.get());
}

QString ParadoxIo::lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
