#pragma once

#include <QString>

// "Info.txt" in the program folder: the information text, whose first line names the newest program
// version in the form of the version title.
namespace VersionNotice {

// "NV Zalvento V1.7": this program's version, and the window's caption before the first start-up.
extern const QString versionTitle;
// Replaces the description of the maker's link while a newer version is announced.
extern const QString noticeText; // "Einen neue Programmversion ist verfügbar!!"

// The text of `programFolder` + "Info.txt" in the 8-bit code page. Throws FileError
// "Datei <path> kann nicht geöffnet werden" when it cannot be read.
QString readInformation(const QString &programFolder);

// Whether the text's first line names another version than this program's (exactly, with case).
bool announcesOtherVersion(const QString &information);

} // namespace VersionNotice
