#include "quotes/csvtable.h"

namespace CsvTable {

QList<QStringList> parse(QStringView text, QChar separator)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;    // inside a quoted field
    bool fieldSeen = false; // the record has a field already (a separator or any character)
    const auto endField = [&] {
        record.append(field);
        field.clear();
    };
    const auto endRecord = [&] {
        if (fieldSeen || !field.isEmpty()) {
            endField();
            records.append(record);
        }
        record.clear();
        fieldSeen = false;
    };
    const qsizetype size = text.size();
    for (qsizetype at = 0; at < size; ++at) {
        const QChar c = text[at];
        if (quoted) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (at + 1 < size && text[at + 1] == QLatin1Char('"')) {
                field += c;
                ++at;
            } else {
                quoted = false;
            }
        } else if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
            fieldSeen = true;
        } else if (c == separator) {
            endField();
            fieldSeen = true;
        } else if (c == QLatin1Char('\n')) {
            endRecord();
        } else if (c == QLatin1Char('\r')) {
            if (at + 1 >= size || text[at + 1] != QLatin1Char('\n'))
                endRecord();
        } else {
            field += c;
            fieldSeen = true;
        }
    }
    endRecord();
    return records;
}

qsizetype lineStart(QStringView text, int skip)
{
    qsizetype at = 0;
    for (int line = 0; line < skip && at < text.size(); ++line) {
        const qsizetype end = text.indexOf(QLatin1Char('\n'), at);
        at = end < 0 ? text.size() : end + 1;
    }
    return at;
}

} // namespace CsvTable
