#include "core/programfiles.h"

#include "core/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace ProgramFiles {

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
