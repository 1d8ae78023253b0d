#include "norvata/norvatalayout.h"

#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
extern "C" {
#include <paradox.h>
}

namespace {

struct FieldSpec
{
    const char *name;
    char type;
    int size;
};

// A pxlib document that is always deleted, once: it moves but is never copied.
struct Document
{
    pxdoc_t *doc = PX_new();
    Document() = default;
    Document(Document &&other) noexcept : doc(std::exchange(other.doc, nullptr)) {}
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;
    Document &operator=(Document &&) = delete;
    ~Document()
    {
        if (doc)
            PX_delete(doc);
    }
};

pxfield_t *fieldArray(const QList<FieldSpec> &specs)
{
    // pxlib takes the array and the names over and frees them with free().
    auto *fields = static_cast<pxfield_t *>(std::calloc(specs.size(), sizeof(pxfield_t)));
    for (int i = 0; i < specs.size(); ++i) {
        fields[i].px_fname = strdup(specs.at(i).name);
        fields[i].px_ftype = specs.at(i).type;
        fields[i].px_flen = specs.at(i).size;
    }
    return fields;
}

void createFile(const QString &path, const QList<FieldSpec> &specs, int type, int keyFields,
                const QString &password)
{
    if (QFileInfo::exists(path))
        throw ParadoxError(QStringLiteral("Datei %1 existiert bereits").arg(path));
    static const bool booted = (PX_boot(), true);
    Q_UNUSED(booted);
    Document document;
    const QByteArray file = QFile::encodeName(path);
    if (!document.doc || PX_create_file(document.doc, fieldArray(specs), static_cast<int>(specs.size()),
                                        file.constData(), type) < 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht angelegt werden").arg(path));
    PX_set_tablename(document.doc, QFileInfo(path).fileName().toLocal8Bit().constData());
    if (type == pxfFileTypIndexDB) {
        PX_set_value(document.doc, "numprimkeys", keyFields);
        PX_set_value(document.doc, "codepage", 1252);
        if (!password.isEmpty())
            PX_set_parameter(document.doc, "password", password.toLatin1().constData());
    }
    PX_close(document.doc);
}

void createTable(const QString &path, const QList<FieldSpec> &specs, int keyFields, const QString &password)
{
    const QFileInfo info(path);
    const QString indexPath =
        info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".PX");
    createFile(path, specs, pxfFileTypIndexDB, keyFields, password);
    createFile(indexPath, specs.mid(0, keyFields), pxfFileTypPrimIndex, keyFields, {});
    const quint32 key = ParadoxFile(path, false).encryptionKey();
    if (key != 0) {
        // The index of an encrypted table is encrypted with the table's key.
        QFile index(indexPath);
        if (!index.open(QIODevice::ReadWrite) || !index.seek(0x25))
            throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(indexPath));
        QByteArray bytes(4, '\0');
        ParadoxFile::setHeaderLong(bytes, 0, key);
        index.write(bytes);
    }
}

QVariant parseValue(const ParadoxField &field, const QString &text, bool &ok)
{
    ok = true;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    switch (field.type) {
    case ParadoxField::Short:
    case ParadoxField::Long:
    case ParadoxField::AutoIncrement:
        return trimmed.toInt(&ok);
    case ParadoxField::Number:
    case ParadoxField::Currency: {
        const double value = QString(trimmed).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        ok = ok && std::isfinite(value);
        return value;
    }
    case ParadoxField::Timestamp: {
        QDateTime value = QDateTime::fromString(trimmed, QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        if (!value.isValid())
            value = QDateTime::fromString(trimmed, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        ok = value.isValid();
        return value;
    }
    case ParadoxField::Date: {
        const QDate value = QDate::fromString(trimmed, QStringLiteral("yyyy-MM-dd"));
        ok = value.isValid();
        return value;
    }
    case ParadoxField::Logical:
        return trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
               trimmed == QLatin1String("1");
    default:
        return text;
    }
}

QString valueText(const ParadoxField &field, const QVariant &value)
{
    if (!value.isValid())
        return {};
    switch (field.type) {
    case ParadoxField::Number:
    case ParadoxField::Currency:
        // The shortest text that reads back as the same number, without an exponent: 163.6, not
        // 163.59999999999999, and 1000000, not 1e+06, so a spreadsheet reads it as the number it is.
        return QString::number(value.toDouble(), 'f', QLocale::FloatingPointShortest);
    case ParadoxField::Timestamp:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    case ParadoxField::Date:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case ParadoxField::Time:
        return value.toTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    case ParadoxField::Logical:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case ParadoxField::Alpha:
    case ParadoxField::Short:
    case ParadoxField::Long:
    case ParadoxField::AutoIncrement:
        return value.toString();
    default:
        return QString::fromLatin1(value.toByteArray().toHex());
    }
}

// A field as CSV writes it: in double quotes, inner quotes doubled, when it holds the separator, a
// quote or a line break, or starts or ends with a blank that a reader might trim.
QString csvField(const QString &text)
{
    const bool quote = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
                       (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

struct CsvRecord
{
    int line = 0; // where the record starts
    QStringList fields;
};

// The records of a CSV text: ";" between fields; a field in double quotes may hold ";", line breaks
// and doubled quotes. Empty lines are no records. Throws ParadoxError on a quote left open.
QList<CsvRecord> parseCsv(const QString &text)
{
    QList<CsvRecord> records;
    CsvRecord record;
    QString field;
    bool quoted = false, wasQuoted = false;
    int line = 1;
    record.line = line;
    const auto endRecord = [&] {
        if (!(record.fields.isEmpty() && field.trimmed().isEmpty() && !wasQuoted)) {
            record.fields.append(field);
            records.append(record);
        }
        record = {};
        field.clear();
        wasQuoted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n'))
            ++line;
        if (quoted) {
            if (c != QLatin1Char('"'))
                field += c;
            else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += text.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            field.clear();
            quoted = wasQuoted = true;
        } else if (c == QLatin1Char(';')) {
            record.fields.append(field);
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('\n')) {
            endRecord();
            record.line = line;
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    if (quoted)
        throw ParadoxError(QStringLiteral("Zeile %1: Anführungszeichen nicht geschlossen").arg(record.line));
    endRecord();
    return records;
}

} // namespace

void NorvataLayout::createFirma(const QString &path, const QString &password)
{
    createTable(
        path, {{"Firma", pxfLong, 4}, {"Name", pxfAlpha, 40}, {"WKN", pxfAlpha, 20}, {"ISIN", pxfAlpha, 12}},
        1, password);
}

void NorvataLayout::createIntraday(const QString &path, const QString &password)
{
    createTable(path, {{"Firma", pxfLong, 4}, {"Zeit", pxfTimestamp, 8}, {"Kurs", pxfNumber, 8}}, 2,
                password);
}

int NorvataLayout::importCsv(const QString &path, QIODevice &csv)
{
    ParadoxTable table(path, true);
    // The records read here are written back with the new ones: nobody may change the table between.
    table.lockExclusive();
    const QList<ParadoxField> &fields = table.fields();
    QList<QByteArray> records;
    for (bool more = table.moveFirst(); more; more = table.moveNext())
        records.append(table.recordBytes());
    const qsizetype existing = records.size();

    QTextStream in(&csv);
    in.setEncoding(QStringConverter::Utf8);
    QList<int> columns;
    for (const CsvRecord &line : parseCsv(in.readAll())) {
        const QStringList &cells = line.fields;
        const int lineNumber = line.line;
        if (columns.isEmpty()) {
            for (const QString &name : cells) {
                const int index = table.data().fieldIndex(name.trimmed());
                if (index < 0)
                    throw ParadoxError(
                        QStringLiteral("Zeile %1: Feld '%2' gibt es nicht").arg(lineNumber).arg(name));
                columns.append(index);
            }
            continue;
        }
        if (cells.size() != columns.size())
            throw ParadoxError(QStringLiteral("Zeile %1: %2 Werte statt %3")
                                   .arg(lineNumber)
                                   .arg(cells.size())
                                   .arg(columns.size()));
        QByteArray record(table.data().recordSize(), '\0');
        for (int i = 0; i < cells.size(); ++i) {
            const ParadoxField &field = fields.at(columns.at(i));
            bool ok;
            const QVariant value = parseValue(field, cells.at(i), ok);
            if (!ok)
                throw ParadoxError(QStringLiteral("Zeile %1: '%2' passt nicht in das Feld %3")
                                       .arg(lineNumber)
                                       .arg(cells.at(i), field.name));
            try {
                field.setValue(record.data(), value);
            } catch (const ParadoxError &error) {
                throw ParadoxError(QStringLiteral("Zeile %1: %2").arg(lineNumber).arg(error.text()));
            }
        }
        records.append(record);
    }
    table.rebuild(records);
    return static_cast<int>(records.size() - existing);
}

void NorvataLayout::dump(const QString &path, QTextStream &out)
{
    ParadoxTable table(path, false);
    QStringList names;
    for (const ParadoxField &field : table.fields())
        names.append(csvField(field.name));
    out << names.join(QLatin1Char(';')) << '\n';
    for (bool more = table.moveFirst(); more; more = table.moveNext()) {
        QStringList cells;
        for (const ParadoxField &field : table.fields())
            cells.append(csvField(valueText(field, field.value(table.record()))));
        out << cells.join(QLatin1Char(';')) << '\n';
    }
}
