#include "core/valuexmlfile.h"

#include "core/programfiles.h"
#include "core/windows1252.h"

namespace ValueXmlFile {

QString path(const QString &dataDirectory, const QString &caption)
{
    return dataDirectory + caption + QStringLiteral("_k.xml");
}

QByteArray compose(const QString &valueText)
{
    QString escaped = valueText;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    // A line break inside the value would add a line that readers do not expect.
    escaped.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));

    QByteArray bytes("<Table ID=\"KURS\">\r\n");
    bytes += Windows1252::encode(escaped);
    bytes += "\r\n</Table>\r\n";
    return bytes;
}

void write(const QString &path, const QString &valueText)
{
    ProgramFiles::writeAtomically(path, compose(valueText));
}

} // namespace ValueXmlFile
