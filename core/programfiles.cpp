#include "core/programfiles.h"

#include "core/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace ProgramFiles {

namespace {

QString folderOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

QString programDirectoryOf(const QString &executablePath)
{
    QString directory = folderOf(executablePath);
    const QLatin1String bin("bin/");
    for (qsizetype at = directory.indexOf(bin, 0, Qt::CaseInsensitive); at >= 0;
         at = directory.indexOf(bin, at + 1, Qt::CaseInsensitive)) {
        if (at == 0 || directory.at(at - 1) == QLatin1Char('/')) {
            directory.remove(at, bin.size());
            break;
        }
    }
    return directory;
}

QString installedDataDirectory(const QString &executablePath)
{
    const QString folder = folderOf(executablePath);
    if (!folder.endsWith(QLatin1String("/bin/")))
        return {};
    const QString bundled = folder.chopped(4) + QLatin1String("share/zalvento/");
    return QFileInfo(bundled).isDir() ? bundled : QString();
}

QString userDataDirectory()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QLatin1String("/.local/share");
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QLatin1String("zalvento/");
}

void copyMissingFiles(const QString &bundledDirectory, const QString &userDirectory)
{
    if (!QDir().mkpath(userDirectory))
        throw FileError(QStringLiteral("Verzeichnis %1 kann nicht angelegt werden").arg(userDirectory));
    const QStringList names = QDir(bundledDirectory).entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (QFileInfo::exists(resolve(userDirectory, name)))
            continue;
        QFile bundled(bundledDirectory + name);
        if (!bundled.open(QIODevice::ReadOnly))
            throw FileError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(bundled.fileName()));
        // Written whole or not at all: a half copy would count as the user's own file from then on.
        writeAtomically(userDirectory + name, bundled.readAll());
    }
}

QString programDirectory(const QString &executablePath)
{
    const QString bundled = installedDataDirectory(executablePath);
    if (bundled.isEmpty())
        return programDirectoryOf(executablePath);
    const QString user = userDataDirectory();
    try {
        copyMissingFiles(bundled, user);
    } catch (const FileError &) {
        // Still the user's folder: the start-up then reports the file it cannot read there, and nothing is
        // ever written into the bundled folder or the current one.
    }
    return user;
}

QString upperCaseAZ(const QString &text)
{
    QString upper = text;
    for (QChar &c : upper) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return upper;
}

QString resolve(const QString &directory, const QString &name)
{
    const QString exact = directory + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QDir dir(directory.isEmpty() ? QStringLiteral(".") : directory);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return directory + entry;
    }
    return exact;
}

void writeAtomically(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(QStringLiteral("Datei %1 kann nicht erstellt werden").arg(path));
    if (file.write(contents) != contents.size() || !file.commit())
        throw FileError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(path));
}

} // namespace ProgramFiles
