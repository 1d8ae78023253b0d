#pragma once

#include <QByteArray>
#include <QString>

// The small XML file with the index value that other programs read: `Datenverzeichnis` + caption +
// "_k.xml", three lines in Windows-1252, each ended by CR LF, without an XML declaration:
//   <Table ID="KURS">
//   10422,22
//   </Table>
namespace ValueXmlFile {

// The file's name: the data folder text (ending in "/"), directly followed by the caption and "_k.xml".
QString path(const QString &dataDirectory, const QString &caption);

// The file's bytes for `valueText`. The value is a number text and passes unchanged; the characters
// that XML reserves ("&", "<", ">") are written as entities, so no text can break the file.
QByteArray compose(const QString &valueText);

// Replaces the file at `path` atomically: a reader sees the old file or the new one, never half of
// one. Throws FileError naming the file when it cannot be written (a data folder that does not
// exist, for example); the old file then stays as it was.
void write(const QString &path, const QString &valueText);

} // namespace ValueXmlFile
