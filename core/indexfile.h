#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The index definition file: line 1 the divisor "Referenzkurs", line 2 the index's Norvata id, then
// seven lines per component (Name, WKN, Kurswert, Fi, Wichtung in %, NV, NV_Ask). Windows-1252 text
// with CR LF line ends; no header, no count, no end marker.
namespace IndexFile {

// Longest value that the file holds; longer cell texts are cut on writing.
constexpr int maximumValueLength = 50;

// Reads lines by the file's rules: a line ends at CR (an LF right after it belongs to the line end),
// an LF alone does not end a line, a Ctrl-Z ends the file wherever it stands, lines of any length are
// read whole, and reading past the end yields empty lines.
class LineReader
{
public:
    explicit LineReader(const QByteArray &bytes);

    bool atEnd() const { return m_position >= m_text.size(); }
    QString readLine();

private:
    QString m_text;
    qsizetype m_position = 0;
};

// The bytes of a file holding `values` one per line. A value is cut to 50 characters, and CR, LF and
// Ctrl-Z in it become blanks, so that no cell text can shift the lines after it.
QByteArray compose(const QStringList &values);

} // namespace IndexFile
