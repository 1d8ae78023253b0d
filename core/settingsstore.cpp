#include "core/settingsstore.h"

#include "core/programfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

const QString SettingsStore::keyPath = QStringLiteral("\\SOFTWARE\\Quenkel\\Norvata");

namespace {

const QString sectionHeader = QStringLiteral("[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]");

// A quoted registry text: \\ and \" are the only escapes.
bool unquote(const QString &text, qsizetype &pos, QString &out)
{
    if (pos >= text.size() || text[pos] != QLatin1Char('"'))
        return false;
    ++pos;
    out.clear();
    while (pos < text.size()) {
        const QChar c = text[pos++];
        if (c == QLatin1Char('"'))
            return true;
        if (c == QLatin1Char('\\') && pos < text.size())
            out += text[pos++];
        else
            out += c;
    }
    return false;
}

QString quote(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out + QLatin1Char('"');
}

std::optional<QByteArray> hexBytes(const QString &text)
{
    QByteArray bytes;
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        const uint byte = part.trimmed().toUInt(&ok, 16);
        if (!ok || byte > 0xFF)
            return std::nullopt;
        bytes += char(byte);
    }
    return bytes;
}

// One line of the file as text, without its line end.
QString textOf(QByteArray raw)
{
    if (raw.endsWith('\n'))
        raw.chop(1);
    if (raw.endsWith('\r'))
        raw.chop(1);
    return QString::fromUtf8(raw);
}

// A value line whose data is a hex list: "name"=hex:, hex(2):, hex(7):, ...
bool isHexValueLine(const QString &line)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\s*"(?:[^"\\]|\\.)*"\s*=\s*hex(\([0-9a-f]+\))?:)"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(line).hasMatch();
}

// A continuation of a hex list as the registry export writes it: blanks, hex digits and commas, maybe
// continued again.
bool isHexContinuation(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[\s0-9a-f,]*[0-9a-f][\s0-9a-f,]*\\?$)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern.match(line).hasMatch();
}

// Ends the last line of the file: a CR already there becomes CR LF, so that the line's text stays the same.
void endLine(QByteArray &raw)
{
    if (!raw.endsWith('\n'))
        raw += raw.endsWith('\r') ? "\n" : "\r\n";
}

} // namespace

QString SettingsStore::defaultFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Quenkel/Norvata.reg");
}

SettingsStore::SettingsStore(QString filePath) : m_filePath(std::move(filePath)) {}

void SettingsStore::openKey()
{
    if (!QDir().mkpath(QFileInfo(m_filePath).absolutePath()))
        throw ZalventoError(QStringLiteral("Erzeugung von Schlüssel %1 misslungen").arg(keyPath));
    QFile file(m_filePath);
    parse(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
}

void SettingsStore::parse(const QByteArray &bytes)
{
    m_entries.clear();
    m_values.clear();
    m_sectionHeader = -1;
    m_lastSectionLine = -1;
    m_unicodeExport = false;

    // The file's lines with their line ends, so that the lines nobody changed are written back as read.
    QList<QByteArray> physical;
    for (qsizetype from = 0; from < bytes.size();) {
        qsizetype to = bytes.indexOf('\n', from);
        to = to < 0 ? bytes.size() : to + 1;
        physical << bytes.mid(from, to - from);
        from = to;
    }

    enum { Before, Inside, After } where = Before;
    for (qsizetype i = 0; i < physical.size(); ++i) {
        QByteArray raw = physical[i];
        QString line = textOf(raw);
        // Only a hex value list continues, and only onto a line that is more of the list.
        while (line.endsWith(QLatin1Char('\\')) && isHexValueLine(line) && i + 1 < physical.size() &&
               isHexContinuation(textOf(physical[i + 1]))) {
            ++i;
            raw += physical[i];
            line.chop(1);
            line += textOf(physical[i]).trimmed();
        }
        const qsizetype entry = m_entries.size();
        m_entries << raw;

        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (trimmed.compare(sectionHeader, Qt::CaseInsensitive) == 0 && where == Before) {
                where = Inside;
                m_sectionHeader = m_lastSectionLine = entry;
                continue;
            }
            if (where == Inside)
                where = After;
        }
        if (where == Before && trimmed == QLatin1String("Windows Registry Editor Version 5.00"))
            m_unicodeExport = true;
        if (where != Inside || trimmed.isEmpty())
            continue;
        m_lastSectionLine = entry;

        Value value;
        value.entry = entry;
        qsizetype pos = 0;
        if (!unquote(trimmed, pos, value.name) || pos >= trimmed.size() || trimmed[pos] != QLatin1Char('='))
            continue; // unreadable: kept as it stands
        const QString data = trimmed.mid(pos + 1);
        if (data.startsWith(QLatin1Char('"'))) {
            qsizetype at = 0;
            if (!unquote(data, at, value.text) || at != data.size())
                continue;
            value.type = Type::String;
        } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            bool ok = false;
            const QString digits = data.mid(6);
            value.number = digits.toUInt(&ok, 16);
            if (!ok || digits.size() > 8)
                continue;
            value.type = Type::DWord;
        } else if (data.startsWith(QLatin1String("hex(2):"), Qt::CaseInsensitive)) {
            QString list = data.mid(7);
            if (list.endsWith(QLatin1Char('\\'))) // a continuation mark with nothing after it
                list.chop(1);
            const auto bytes = hexBytes(list);
            if (!bytes)
                continue;
            QString text;
            if (m_unicodeExport)
                text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes->constData()),
                                          bytes->size() / 2);
            else
                text = QString::fromUtf8(*bytes);
            while (text.endsWith(QChar(0)))
                text.chop(1);
            value.text = text;
            value.type = Type::ExpandString;
        } else {
            value.type = Type::Other; // binary, multi-text, deletions: kept, never read as text or integer
        }
        // A later line of the same name replaces an earlier one, as an import into the registry does.
        if (Value *existing = const_cast<Value *>(find(value.name)))
            *existing = value;
        else
            m_values << value;
    }
}

QByteArray SettingsStore::composeLine(const Value &value) const
{
    QString line = quote(value.name) + QLatin1Char('=');
    if (value.type == Type::DWord)
        line += QStringLiteral("dword:%1").arg(value.number, 8, 16, QLatin1Char('0'));
    else
        line += quote(value.text); // only integers and plain texts are ever written
    return line.toUtf8();
}

QByteArray SettingsStore::compose() const
{
    QList<QByteArray> entries = m_entries;
    qsizetype insertAt = m_lastSectionLine + 1;
    const bool anyNew =
        std::any_of(m_values.cbegin(), m_values.cend(), [](const Value &v) { return v.entry < 0; });
    if (m_sectionHeader < 0 && anyNew) {
        if (entries.isEmpty())
            entries << "REGEDIT4\r\n";
        endLine(entries.last());
        if (!textOf(entries.last()).trimmed().isEmpty())
            entries << "\r\n";
        entries << sectionHeader.toUtf8() + "\r\n";
        insertAt = entries.size();
    }

    QByteArray added;
    for (const Value &value : m_values) {
        if (value.entry < 0) {
            added += composeLine(value) + "\r\n";
        } else if (value.changed) {
            const QByteArray &raw = m_entries[value.entry];
            entries[value.entry] = composeLine(value) + (raw.endsWith("\r\n") ? "\r\n"
                                                         : raw.endsWith('\n') ? "\n"
                                                                              : "\r\n");
        }
    }
    if (!added.isEmpty()) {
        if (insertAt > 0)
            endLine(entries[insertAt - 1]);
        entries.insert(insertAt, added);
    }
    return entries.join();
}

const SettingsStore::Value *SettingsStore::find(const QString &name) const
{
    // Value names ignore case, as in the registry.
    for (const Value &value : m_values) {
        if (value.name.compare(name, Qt::CaseInsensitive) == 0)
            return &value;
    }
    return nullptr;
}

SettingsStore::Value &SettingsStore::findOrAdd(const QString &name)
{
    if (const Value *value = find(name))
        return *const_cast<Value *>(value);
    m_values << Value{name};
    return m_values.last();
}

bool SettingsStore::valueExists(const QString &name) const
{
    return find(name) != nullptr;
}

QStringList SettingsStore::valueNames() const
{
    QStringList names;
    for (const Value &value : m_values)
        names << value.name;
    return names;
}

QString SettingsStore::readString(const QString &name) const
{
    const Value *value = find(name);
    if (!value || (value->type != Type::String && value->type != Type::ExpandString))
        throw SettingsTypeError(QStringLiteral("Ungültiger Datentyp für '%1'").arg(name));
    return value->text;
}

qint32 SettingsStore::readInteger(const QString &name) const
{
    const Value *value = find(name);
    if (!value || value->type != Type::DWord)
        throw SettingsTypeError(QStringLiteral("Ungültiger Datentyp für '%1'").arg(name));
    return static_cast<qint32>(value->number);
}

void SettingsStore::writeInteger(const QString &name, qint32 number)
{
    Value &value = findOrAdd(name);
    if (value.type == Type::DWord && value.number == static_cast<quint32>(number) && value.entry >= 0)
        return; // the same value: its line stays as it was written
    value.type = Type::DWord;
    value.number = static_cast<quint32>(number);
    value.changed = true;
}

void SettingsStore::writeString(const QString &name, const QString &text)
{
    Value &value = findOrAdd(name);
    if (value.type == Type::String && value.text == text && value.entry >= 0)
        return;
    value.type = Type::String;
    value.text = text;
    value.changed = true;
}

void SettingsStore::save() const
{
    ProgramFiles::writeAtomically(m_filePath, compose());
}
