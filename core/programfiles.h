#pragma once

#include <QByteArray>
#include <QString>

// Files in the program and data folders. The program's users come from a file system that ignores
// case: the index file update stores "dax.txt" where the start-up reads "Dax.txt".
namespace ProgramFiles {

// The program directory of an executable: its folder with the trailing "/", the first folder named
// "bin" (ignoring case) taken out: "/opt/norvata/bin/zalvento" gives "/opt/norvata/",
// "/x/BIN/bin/zalvento" gives "/x/bin/". A name that only ends in "bin" stays: "/d/cabin/x/zalvento"
// gives "/d/cabin/x/". This is the rule of a build and of a copied build folder.
QString programDirectoryOf(const QString &executablePath);

// The bundled files of an installed copy: "<prefix>/share/zalvento/" when the executable sits in
// "<prefix>/bin/" and that folder exists; empty for a build or a copied build folder.
QString installedDataDirectory(const QString &executablePath);

// The user's own program folder of an installed copy: "$XDG_DATA_HOME/zalvento/", or
// "~/.local/share/zalvento/" when that variable is unset or not an absolute path.
QString userDataDirectory();

// Copies into `userDirectory` (created when missing) each file of `bundledDirectory` that is not there,
// names compared as resolve() finds them, so a user's "dax.txt" keeps the bundled "Dax.txt" out. A file
// that is there is never replaced. Throws FileError naming the folder or file that cannot be made.
void copyMissingFiles(const QString &bundledDirectory, const QString &userDirectory);

// The program directory of the running copy. An installed copy cannot write beside itself: its program
// directory is userDataDirectory(), first filled by copyMissingFiles() as far as it can be. Anything else:
// programDirectoryOf().
QString programDirectory(const QString &executablePath);

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
