#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A table of separated values as RFC 4180 writes it: fields separated by one character, a field in
// double quotes may hold the separator, line breaks and doubled quotes; lines end with CR LF or LF.
// Unlike the RFC, a quote inside an unquoted field is taken as it is, and an unclosed quote runs to the
// end of the text: feeds are not always tidy, and neither case may lose the lines before it.
namespace CsvTable {

// The records of `text`, each a list of fields. Empty lines give no record.
QList<QStringList> parse(QStringView text, QChar separator);

// Where the physical line `skip` lines into `text` starts (the size of `text` when it has fewer lines).
qsizetype lineStart(QStringView text, int skip);

} // namespace CsvTable
