#pragma once

#include <QString>

class IndexWindow;

// The state beside the index table: the divisor `Referenzkurs` and the index's own Norvata id
// `IndexFirma` (0 for none), with the load and write-back of the index definition file.
class IndexDefinition
{
public:
    IndexDefinition(IndexWindow &window, QChar decimalSeparator);

    QChar decimalSeparator() const { return m_decimalSeparator; }

    double Referenzkurs = 0;
    qint32 IndexFirma = 0;

    // Writes the header row, then loads the file at `path` (an existing file's path, or a path
    // that does not exist) into the table, "Referenzkurs", "NV Index" and "Werte-Anzahl:", and sets
    // the column count to 7. A missing file keeps what the window holds. A line 1 that is no number
    // or a line 2 that is no integer throws ConversionError; `IndexFirma` is then 0 and the rows are
    // unchanged.
    void load(const QString &path);

    // Writes "Referenzkurs" and "NV Index" as the boxes show them, then columns 0 to 6 of every
    // component row, replacing the file at `path` atomically. Throws FileError when it cannot.
    void save(const QString &path) const;

    // The boxes' change handlers: a 32-bit integer text becomes the value; any other text leaves it.
    void referenzkursEdited(const QString &text);
    void indexFirmaEdited(const QString &text);

private:
    IndexWindow &m_window;
    QChar m_decimalSeparator;
};
