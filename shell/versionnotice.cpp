#include "shell/versionnotice.h"

#include "core/errors.h"
#include "core/programfiles.h"
#include "core/windows1252.h"

#include <QFile>

namespace VersionNotice {

const QString versionTitle = QStringLiteral("NV Zalvento V1.7");
const QString noticeText = QStringLiteral("Einen neue Programmversion ist verfügbar!!");

QString readInformation(const QString &programFolder)
{
    const QString path = ProgramFiles::resolve(programFolder, QStringLiteral("Info.txt"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path));
    return Windows1252::decode(file.readAll());
}

bool announcesOtherVersion(const QString &information)
{
    // The memo's first line: lines end at CR LF, a lone LF or a lone CR alike.
    qsizetype end = 0;
    while (end < information.size() && information.at(end) != QLatin1Char('\r') &&
           information.at(end) != QLatin1Char('\n'))
        ++end;
    return information.left(end) != versionTitle;
}

} // namespace VersionNotice
