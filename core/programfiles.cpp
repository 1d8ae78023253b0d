#include "core/programfiles.h"

#include "core/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace ProgramFiles {

QString programDirectoryOf(const QString &executablePath)
{
    QString directory = executablePath.left(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype bin = directory.indexOf(QLatin1String("bin/"), 0, Qt::CaseInsensitive);
    if (bin >= 0)
        directory.remove(bin, 4);
    return directory;
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
