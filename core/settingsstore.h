#pragma once

#include "core/errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A settings value read with the wrong type: a text where a 32-bit integer is expected, or the reverse.
class SettingsTypeError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};

// The settings key HKEY_CURRENT_USER "\SOFTWARE\Quenkel\Norvata", Norvata's own key, kept in a text file
// in the Windows registry export format:
//
//     REGEDIT4
//
//     [HKEY_CURRENT_USER\SOFTWARE\Quenkel\Norvata]
//     "Datenpath"="/home/anna/norvata/daten/"
//     "IndexQuelle"=dword:00000001
//     "Archiv"=hex(2):2f,00
//
// The file keeps the value types that the settings rely on: text ("..."), expandable text (hex(2):,
// bytes of the text and a closing zero) and 32-bit integers (dword:). Other keys, and lines that cannot be
// read, are kept as they stand when the file is written back. Only the lines of values that were written
// with a new value change: a file written back without such a change keeps its bytes. A line ending in
// a backslash continues only a hex value list (hex:, hex(2):, ...), and only onto a line of hex digits and
// commas, so a section header or a value line is never swallowed.
class SettingsStore
{
public:
    static const QString keyPath; // "\SOFTWARE\Quenkel\Norvata"

    // `$XDG_CONFIG_HOME/Quenkel/Norvata.reg`, `~/.config/Quenkel/Norvata.reg` when unset.
    static QString defaultFilePath();

    explicit SettingsStore(QString filePath);

    // Opens the key with full access, creating its folder when it does not exist, and reads the file.
    // Throws ZalventoError "Erzeugung von Schlüssel \SOFTWARE\Quenkel\Norvata misslungen" when the folder
    // cannot be created.
    void openKey();

    bool valueExists(const QString &name) const;
    // The names of the values of the settings key, as read or written.
    QStringList valueNames() const;
    // Throws SettingsTypeError when the value is no text (plain or expandable).
    QString readString(const QString &name) const;
    // Throws SettingsTypeError when the value is no 32-bit integer.
    qint32 readInteger(const QString &name) const;

    void writeInteger(const QString &name, qint32 value);
    void writeString(const QString &name, const QString &value);

    // Replaces the file atomically. Throws FileError when it cannot.
    void save() const;

    // The file's text for the values held; exposed for tests.
    QByteArray compose() const;
    void parse(const QByteArray &bytes);

private:
    enum class Type { String, ExpandString, DWord, Other };
    struct Value
    {
        QString name;
        Type type = Type::Other;
        QString text;
        quint32 number = 0;
        qsizetype entry = -1; // the line (with its continuations) in m_entries; -1 for a new value
        bool changed = false; // written with a new value: its line is composed anew
    };

    const Value *find(const QString &name) const;
    Value &findOrAdd(const QString &name);
    QByteArray composeLine(const Value &value) const;

    QString m_filePath;
    QList<QByteArray>
        m_entries; // the file's lines as read, line ends included; a continued line is one entry
    qsizetype m_sectionHeader = -1;   // our section's header in m_entries; -1 when the file has none
    qsizetype m_lastSectionLine = -1; // last non-blank entry of our section: new values go after it
    QList<Value> m_values;
    bool m_unicodeExport = false;
};
