#include "app/settingsstore.h"

#include "core/programfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    m_before.clear();
    m_values.clear();
    m_unreadable.clear();
    m_after.clear();
    m_unicodeExport = false;

    // Join continued lines (a trailing backslash) before reading them.
    QStringList lines;
    QString pending;
    for (QString line : QString::fromUtf8(bytes).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!pending.isEmpty())
            line = pending + line.trimmed();
        if (line.endsWith(QLatin1Char('\\')) && !line.trimmed().startsWith(QLatin1Char('['))) {
            line.chop(1);
            pending = line;
            continue;
        }
        pending.clear();
        lines << line;
    }
    if (!pending.isEmpty())
        lines << pending;
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    enum { Before, Inside, After } where = Before;
    for (const QString &line : std::as_const(lines)) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (trimmed.compare(sectionHeader, Qt::CaseInsensitive) == 0 && where == Before) {
                where = Inside;
                continue;
            }
            if (where == Inside)
                where = After;
        }
        if (where == Before) {
            if (trimmed == QLatin1String("Windows Registry Editor Version 5.00"))
                m_unicodeExport = true;
            m_before << line;
            continue;
        }
        if (where == After) {
            m_after << line;
            continue;
        }
        if (trimmed.isEmpty())
            continue;

        Value value;
        qsizetype pos = 0;
        if (!unquote(trimmed, pos, value.name) || pos >= trimmed.size() || trimmed[pos] != QLatin1Char('=')) {
            m_unreadable << line;
            continue;
        }
        const QString data = trimmed.mid(pos + 1);
        value.line = line;
        if (data.startsWith(QLatin1Char('"'))) {
            qsizetype at = 0;
            if (!unquote(data, at, value.text) || at != data.size()) {
                m_unreadable << line;
                continue;
            }
            value.type = Type::String;
        } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            bool ok = false;
            const QString digits = data.mid(6);
            value.number = digits.toUInt(&ok, 16);
            if (!ok || digits.size() > 8) {
                m_unreadable << line;
                continue;
            }
            value.type = Type::DWord;
        } else if (data.startsWith(QLatin1String("hex(2):"), Qt::CaseInsensitive)) {
            const auto bytes = hexBytes(data.mid(7));
            if (!bytes) {
                m_unreadable << line;
                continue;
            }
            QString text;
            if (m_unicodeExport)
                text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes->constData()), bytes->size() / 2);
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

QByteArray SettingsStore::compose() const
{
    QStringList lines = m_before;
    if (lines.isEmpty())
        lines << QStringLiteral("REGEDIT4") << QString();
    if (!lines.isEmpty() && !lines.last().isEmpty())
        lines << QString();
    lines << sectionHeader;
    for (const Value &value : m_values) {
        switch (value.type) {
        case Type::String:
            lines << quote(value.name) + QLatin1Char('=') + quote(value.text);
            break;
        case Type::DWord:
            lines << quote(value.name) + QStringLiteral("=dword:%1").arg(value.number, 8, 16, QLatin1Char('0'));
            break;
        case Type::ExpandString:
        case Type::Other:
            lines << value.line;
            break;
        }
    }
    lines << m_unreadable;
    if (!m_after.isEmpty())
        lines << QString() << m_after;
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
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
    value.type = Type::DWord;
    value.number = static_cast<quint32>(number);
}

void SettingsStore::writeString(const QString &name, const QString &text)
{
    Value &value = findOrAdd(name);
    value.type = Type::String;
    value.text = text;
}

void SettingsStore::save() const
{
    ProgramFiles::writeAtomically(m_filePath, compose());
}
