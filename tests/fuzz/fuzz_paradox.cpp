// The Paradox reader. The input packs the files of one table: each file is a kind byte (see
// fileSuffixes), its length as four bytes (little-endian) and its bytes. The target opens the table with
// its primary index, walks every record, reads every field and finds some keys; opens it as the program
// does through the table object, by a secondary index when the input has one; and appends a record.
// Every cursor must end: a walk longer than the table has bytes is a loop.

#include "core/errors.h"
#include "fuzztarget.h"
#include "norvata/norvatatable.h"
#include "paradox/paradoxtable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char *const fileSuffixes[] = {".db", ".px", ".x02", ".y02", ".xg0", ".yg0", ".mb"};
constexpr int kinds = int(std::size(fileSuffixes));

// Walks the table at `path`; returns the first record, or nothing.
QByteArray walk(const QString &path, const QByteArray &searchKey)
{
    QByteArray first;
    try {
        ParadoxTable table(path);
        const qint64 bound = QFileInfo(path).size() + 1;
        qint64 steps = 0;
        for (bool more = table.moveFirst(); more; more = table.moveNext()) {
            FUZZ_CHECK(++steps <= bound);
            const char *record = table.record();
            for (const ParadoxField &field : table.fields())
                field.value(record);
            if (first.isEmpty())
                first = table.recordBytes();
        }
        const int keySize = table.data().keySize();
        if (!first.isEmpty() && keySize > 0) {
            table.seek(first.left(keySize));
            table.seek(searchKey.left(keySize));
        }
    } catch (const ZalventoError &) {
    }
    return first;
}

void openAsTheProgramDoes(const QString &folder, const QString &indexFile, const QByteArray &searchKey)
{
    QString indexName = QStringLiteral("IWKN");
    if (QFileInfo::exists(indexFile)) {
        try {
            indexName = ParadoxFile(indexFile, false).indexName();
        } catch (const ZalventoError &) {
        }
    }
    NorvataTable table;
    try {
        QStringList names;
        {
            const ParadoxFile file(folder + QStringLiteral("/t.db"), false);
            for (const ParadoxField &field : file.fields())
                names << field.name;
        }
        table.open(folder + QLatin1Char('/'), QStringLiteral("t.db"), indexName);
        const qint64 bound = QFileInfo(folder + QStringLiteral("/t.db")).size() + 1;
        qint64 steps = 0;
        while (!table.eof()) {
            FUZZ_CHECK(++steps <= bound);
            for (const QString &name : std::as_const(names))
                table.fieldText(name);
            table.next();
        }
        table.findKey(QString::fromLatin1(searchKey));
    } catch (const ZalventoError &) {
    }
}

} // namespace

QByteArray fuzzInputFromFiles(const QStringList &paths)
{
    QByteArray packed;
    for (const QString &path : paths) {
        const QString suffix = QLatin1Char('.') + QFileInfo(path).suffix().toLower();
        int kind = 0;
        while (kind < kinds && suffix != QLatin1String(fileSuffixes[kind]))
            ++kind;
        QFile file(path);
        if (kind == kinds || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        const quint32 length = quint32(bytes.size());
        packed += char(kind);
        for (int shift = 0; shift < 32; shift += 8)
            packed += char((length >> shift) & 0xFF);
        packed += bytes;
    }
    return packed;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QDir folder(fuzzScratchFolder());
    QDir dir(folder.path());
    for (const QString &name : dir.entryList(QDir::Files))
        dir.remove(name);

    // Unpack; the bytes after the last file are the key to search for.
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    qsizetype at = 0;
    while (at + 5 <= input.size()) {
        const int kind = static_cast<unsigned char>(input[at]) % kinds;
        quint32 length = 0;
        for (int i = 0; i < 4; ++i)
            length |= quint32(static_cast<unsigned char>(input[at + 1 + i])) << (8 * i);
        at += 5;
        const qsizetype take = std::min<qsizetype>(length, input.size() - at);
        QFile file(folder.filePath(QStringLiteral("t") + QLatin1String(fileSuffixes[kind])));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(input.constData() + at, take);
        at += take;
    }
    const QByteArray searchKey = input.right(16);
    const QString table = folder.filePath(QStringLiteral("t.db"));
    if (!QFileInfo::exists(table))
        return 0;

    const QByteArray first = walk(table, searchKey);
    openAsTheProgramDoes(folder.path(), folder.filePath(QStringLiteral("t.x02")), searchKey);
    if (QFileInfo::exists(folder.filePath(QStringLiteral("t.xg0"))))
        openAsTheProgramDoes(folder.path(), folder.filePath(QStringLiteral("t.xg0")), searchKey);

    // Append a record: the first one with its last byte changed, so that its key is new.
    if (!first.isEmpty()) {
        QByteArray record = first;
        record[record.size() - 1] = char(record[record.size() - 1] ^ 0x5A);
        try {
            ParadoxTable writable(table, true);
            writable.insert(record);
        } catch (const ZalventoError &) {
        }
        walk(table, searchKey);
    }
    return 0;
}
