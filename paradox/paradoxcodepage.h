#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The code page a Paradox table names in its header for its text: 437 (DOS US), 850 (DOS
// multilingual) and 1252 (Windows). Text of other code pages reads as Windows-1252, as older tables
// without a code page do.
namespace ParadoxCodePage {

QString decode(const QByteArray &bytes, int codePage);

// The bytes of `text` in `codePage`; nullopt when the code page cannot hold one of its characters
// (for a code page not named above: any character beyond ASCII).
std::optional<QByteArray> encode(const QString &text, int codePage);

} // namespace ParadoxCodePage
