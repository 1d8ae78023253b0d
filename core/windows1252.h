#pragma once

#include <QByteArray>
#include <QString>

// Windows-1252, the code page of the index definition files, "Info.txt" and the XML file.
namespace Windows1252 {

QString decode(const QByteArray &bytes);

// Characters that Windows-1252 cannot hold become "?".
QByteArray encode(const QString &text);

} // namespace Windows1252
