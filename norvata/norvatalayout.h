#pragma once

#include <QIODevice>
#include <QString>
#include <QTextStream>

// The layout of Norvata's tables as this program creates them, and the import and dump that the
// command-line tool offers:
//   "firma.db":    Firma Long (key), Name Alpha 40, WKN Alpha 20, ISIN Alpha 12
//   "Intraday.db": Firma Long (key), Zeit Timestamp (key), Kurs Number
// Both are keyed Paradox 7 tables with a primary index (.PX), Windows-1252, 2 KB blocks.
namespace NorvataLayout {

// Create an empty table (and its .PX) at `path`, replacing nothing: throws ParadoxError when the file
// exists or cannot be created. A non-empty `password` encrypts the table with it.
void createFirma(const QString &path, const QString &password = {});
void createIntraday(const QString &path, const QString &password = {});

// Adds the records of a CSV text (";"-separated, fields holding ";", quotes or line breaks in double
// quotes with inner quotes doubled, first line the field names, numbers with "." or
// ",", timestamps as "yyyy-MM-dd hh:mm:ss[.zzz]", dates as "yyyy-MM-dd") to the table at `path`, as
// one crash-safe change in key order. Returns the number of records added. Throws ParadoxError
// naming the line of a bad value, or on a duplicate key; the table then stays as it was.
int importCsv(const QString &path, QIODevice &csv);

// Writes the table's records in key order in the CSV form that importCsv() reads.
void dump(const QString &path, QTextStream &out);

} // namespace NorvataLayout
