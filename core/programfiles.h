#pragma once

#include <QByteArray>
#include <QString>

// Files in the program and data folders. The program's users come from a file system that ignores
// case: the index file update stores "dax.txt" where the start-up reads "Dax.txt".
namespace ProgramFiles {

// The program directory of an executable: its folder with the trailing "/", the first "bin/" in it
// removed. The search looks at characters, case-insensitively, not at whole folder names:
// "/opt/norvata/bin/zalvento" gives "/opt/norvata/", "/d/cabin/x/zalvento" gives "/d/cax/".
QString programDirectoryOf(const QString &executablePath);

// The index name as the window caption shows it: the letters a to z upper-cased, nothing else
// ("TecDax" -> "TECDAX", "Börse" -> "BöRSE").
QString upperCaseAZ(const QString &text);

// The path of the file `name` in `directory` (a folder text ending in "/"): the exact name when it
// exists, else the one file whose name differs from it only in case (the first in name order when
// there are several), else the name asked for.
QString resolve(const QString &directory, const QString &name);

// Replaces the file at `path` by `contents` atomically: a temporary file in the same folder is
// written, flushed and renamed over the old one, so a reader never sees half a file.
// Throws FileError naming the file when it cannot be done; the old file then stays as it was.
void writeAtomically(const QString &path, const QByteArray &contents);

} // namespace ProgramFiles
