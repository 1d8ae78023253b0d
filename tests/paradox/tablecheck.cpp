#include "tests/paradox/tablecheck.h"

#include "core/windows1252.h"

#include <QFile>
#include <QSet>
#include <cstring>
extern "C" {
#include <paradox.h>
void px_decrypt_db_block(unsigned char *, unsigned char *, unsigned long, unsigned long, unsigned long);
}

namespace {

int word(const QByteArray &b, int o)
{
    return static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8;
}
quint32 dword(const QByteArray &b, int o)
{
    return quint32(word(b, o)) | quint32(word(b, o + 2)) << 16;
}
int flipped(const char *p)
{
    return ((static_cast<unsigned char>(p[0]) << 8) | static_cast<unsigned char>(p[1])) ^ 0x8000;
}

struct RawFile
{
    QByteArray bytes;
    int headerSize = 0, blockSize = 0, recordSize = 0;
    quint32 key = 0;
    bool load(const QString &path, bool dataExtension)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        bytes = file.readAll();
        recordSize = word(bytes, 0);
        headerSize = word(bytes, 2);
        blockSize = static_cast<unsigned char>(bytes[5]) * 1024;
        key = dataExtension && static_cast<unsigned char>(bytes[0x39]) >= 5 ? dword(bytes, 0x5C)
                                                                            : dword(bytes, 0x25);
        if (key == 0xFF00FF00)
            key = 0;
        return true;
    }
    QByteArray block(int n) const
    {
        QByteArray plain = bytes.mid(headerSize + qint64(n - 1) * blockSize, blockSize);
        if (plain.size() < 6)
            return {};
        plain.append(QByteArray(blockSize - plain.size(), '\0')); // a short last block
        if (key) {
            QByteArray out(blockSize, '\0');
            px_decrypt_db_block(reinterpret_cast<unsigned char *>(plain.data()),
                                reinterpret_cast<unsigned char *>(out.data()), key, blockSize, n);
            return out;
        }
        return plain;
    }
    int count(const QByteArray &b) const
    {
        const int last = static_cast<qint16>(word(b, 4));
        return last < 0 ? 0 : last / recordSize + 1;
    }
};

} // namespace

QStringList TableCheck::structure(const QString &dbPath, const QString &pxPath)
{
    QStringList problems;
    RawFile db;
    if (!db.load(dbPath, true))
        return {QStringLiteral("cannot read ") + dbPath};
    const int numFields = word(db.bytes, 0x21), keyFields = word(db.bytes, 0x23);
    const int fieldInfo = static_cast<unsigned char>(db.bytes[0x39]) >= 5 ? 0x78 : 0x58;
    int keySize = 0;
    for (int i = 0; i < keyFields && i < numFields; ++i)
        keySize += static_cast<unsigned char>(db.bytes[fieldInfo + 2 * i + 1]);
    const int capacity = (db.blockSize - 6) / db.recordSize;

    // Data blocks in chain order.
    struct Block
    {
        int number, count;
        QByteArray firstKey;
    };
    QList<Block> chain;
    QSet<int> seen;
    QByteArray previousKey;
    qint64 records = 0;
    int previous = 0;
    for (int n = word(db.bytes, 0x0E); n != 0;) {
        if (seen.contains(n) || n > word(db.bytes, 0x0C)) {
            problems << QStringLiteral("chain revisits or leaves the file at block %1").arg(n);
            break;
        }
        seen.insert(n);
        const QByteArray b = db.block(n);
        if (b.isEmpty()) {
            problems << QStringLiteral("block %1 beyond end of file").arg(n);
            break;
        }
        if (word(b, 2) != previous)
            problems << QStringLiteral("block %1 has previous %2, expected %3")
                            .arg(n)
                            .arg(word(b, 2))
                            .arg(previous);
        const int last = static_cast<qint16>(word(b, 4));
        if (last >= 0 && (last % db.recordSize != 0 || last / db.recordSize + 1 > capacity))
            problems << QStringLiteral("block %1 has a bad record count").arg(n);
        const int count = db.count(b);
        for (int i = 0; i < count && keySize > 0; ++i) {
            const QByteArray key = b.mid(6 + i * db.recordSize, keySize);
            if (!previousKey.isNull() && std::memcmp(previousKey.constData(), key.constData(), keySize) >= 0)
                problems << QStringLiteral("key order broken in block %1 record %2").arg(n).arg(i);
            previousKey = key;
        }
        chain.append({n, count, b.mid(6, keySize)});
        records += count;
        previous = n;
        n = word(b, 0);
    }
    if (records != dword(db.bytes, 6))
        problems
            << QStringLiteral("header says %1 records, blocks hold %2").arg(dword(db.bytes, 6)).arg(records);
    if (chain.size() != word(db.bytes, 0x0A))
        problems << QStringLiteral("header says %1 blocks in use, chain has %2")
                        .arg(word(db.bytes, 0x0A))
                        .arg(chain.size());
    if (!chain.isEmpty() && chain.last().number != word(db.bytes, 0x10))
        problems << QStringLiteral("last block in header is %1, chain ends at %2")
                        .arg(word(db.bytes, 0x10))
                        .arg(chain.last().number);

    if (pxPath.isEmpty())
        return problems;
    RawFile px;
    if (!px.load(pxPath, false))
        return problems << QStringLiteral("cannot read ") + pxPath;
    const int levels = static_cast<unsigned char>(px.bytes[0x20]);
    const int root = word(px.bytes, 0x1E);
    int leafIndex = 0;
    qint64 entries = 0;
    // Returns the first key and the record count of the subtree at `number`.
    std::function<std::pair<QByteArray, int>(int, int)> walk = [&](int number,
                                                                   int level) -> std::pair<QByteArray, int> {
        const QByteArray b = px.block(number);
        if (b.isEmpty()) {
            problems << QStringLiteral("index block %1 missing").arg(number);
            return {};
        }
        const int count = px.count(b);
        entries += count;
        int sum = 0;
        QByteArray first;
        for (int i = 0; i < count; ++i) {
            const char *e = b.constData() + 6 + i * px.recordSize;
            const QByteArray key(e, keySize);
            const int child = flipped(e + keySize), childCount = flipped(e + keySize + 2);
            if (i == 0)
                first = key;
            if (level == 1) {
                if (leafIndex >= chain.size()) {
                    problems << QStringLiteral("index has more leaf entries than the chain has blocks");
                    continue;
                }
                const Block &expected = chain.at(leafIndex++);
                if (expected.number != child)
                    problems << QStringLiteral("leaf entry %1 points at block %2, chain has %3")
                                    .arg(leafIndex)
                                    .arg(child)
                                    .arg(expected.number);
                if (expected.firstKey != key)
                    problems << QStringLiteral("leaf entry %1 has a wrong key").arg(leafIndex);
                if (expected.count != childCount)
                    problems << QStringLiteral("leaf entry %1 counts %2, block has %3")
                                    .arg(leafIndex)
                                    .arg(childCount)
                                    .arg(expected.count);
                sum += expected.count;
            } else {
                const auto [childKey, childSum] = walk(child, level - 1);
                if (childKey != key)
                    problems << QStringLiteral("index entry in block %1 has a wrong key").arg(number);
                if ((childSum & 0xFFFF) != childCount)
                    problems << QStringLiteral("index entry in block %1 has a wrong count").arg(number);
                sum += childSum;
            }
        }
        return {first, sum};
    };
    if (levels > 0 && root > 0)
        walk(root, levels);
    if (leafIndex != chain.size())
        problems << QStringLiteral("index covers %1 of %2 blocks").arg(leafIndex).arg(chain.size());
    if (entries != dword(px.bytes, 6))
        problems << QStringLiteral("index header says %1 entries, blocks hold %2")
                        .arg(dword(px.bytes, 6))
                        .arg(entries);
    return problems;
}

QStringList TableCheck::indexChain(const QString &pxPath)
{
    RawFile px;
    if (!px.load(pxPath, false))
        return {QStringLiteral("cannot read ") + pxPath};
    const int entrySize = px.recordSize - 6;
    QList<int> expected{word(px.bytes, 0x1E)};
    for (int level = static_cast<unsigned char>(px.bytes[0x20]), first = 0; level > 1; --level) {
        const qsizetype end = expected.size();
        for (qsizetype i = first; i < end; ++i) {
            const QByteArray b = px.block(expected.at(i));
            for (int e = 0; e < px.count(b); ++e)
                expected << flipped(b.constData() + 6 + e * px.recordSize + entrySize);
        }
        first = static_cast<int>(end);
    }
    QStringList problems;
    QList<int> chain;
    qint64 entries = 0;
    for (int n = word(px.bytes, 0x0E), previous = 0; n != 0 && chain.size() <= expected.size();) {
        const QByteArray b = px.block(n);
        if (b.isEmpty())
            return problems << QStringLiteral("index chain leaves the file at block %1").arg(n);
        if (word(b, 2) != previous)
            problems << QStringLiteral("index block %1 has previous %2").arg(n).arg(word(b, 2));
        chain << n;
        entries += px.count(b);
        previous = n;
        n = word(b, 0);
    }
    const auto text = [](const QList<int> &blocks) {
        QStringList numbers;
        for (int block : blocks)
            numbers << QString::number(block);
        return numbers.join(QLatin1Char(','));
    };
    if (chain != expected)
        problems
            << QStringLiteral("index chain %1, levels from the root %2").arg(text(chain), text(expected));
    if (entries != dword(px.bytes, 6) || (!chain.isEmpty() && chain.last() != word(px.bytes, 0x10)))
        problems << QStringLiteral("index header does not match its chain");
    return problems;
}

QStringList TableCheck::recordsViaPxlib(const QString &dbPath)
{
    static const bool booted = (PX_boot(), true);
    Q_UNUSED(booted);
    QStringList result;
    pxdoc_t *doc = PX_new();
    if (PX_open_file(doc, QFile::encodeName(dbPath).constData()) < 0) {
        PX_delete(doc);
        return {QStringLiteral("<pxlib cannot open>")};
    }
    const int fields = PX_get_num_fields(doc);
    pxfield_t *info = PX_get_fields(doc);
    const int records = PX_get_num_records(doc);
    char *data = static_cast<char *>(malloc(doc->px_head->px_recordsize));
    for (int r = 0; r < records; ++r) {
        if (!PX_get_record(doc, r, data)) {
            result << QStringLiteral("<pxlib cannot read record %1>").arg(r);
            continue;
        }
        QStringList cells;
        int offset = 0;
        for (int f = 0; f < fields; ++f) {
            char *p = data + offset;
            const int len = info[f].px_flen;
            offset += len;
            bool allZero = true;
            for (int i = 0; i < len; ++i)
                allZero = allZero && p[i] == 0;
            if (allZero) {
                cells << QStringLiteral("<null>");
                continue;
            }
            switch (info[f].px_ftype) {
            case pxfAlpha:
                cells << Windows1252::decode(QByteArray(p, qstrnlen(p, len)));
                break;
            case pxfShort: {
                short v;
                PX_get_data_short(doc, p, len, &v);
                cells << QString::number(v);
                break;
            }
            case pxfLong:
            case pxfAutoInc:
            case pxfDate:
            case pxfTime: {
                long v;
                PX_get_data_long(doc, p, len, &v);
                cells << QString::number(static_cast<qint32>(v));
                break;
            }
            case pxfNumber:
            case pxfCurrency:
            case pxfTimestamp: {
                double v;
                PX_get_data_double(doc, p, len, &v);
                cells << QString::number(v, 'g', 17);
                break;
            }
            default:
                cells << QString::fromLatin1(QByteArray(p, len).toHex());
            }
        }
        result << cells.join(QLatin1Char('|'));
    }
    free(data);
    PX_close(doc);
    PX_delete(doc);
    result.sort();
    return result;
}

bool TableCheck::pxlibReadsIndex(const QString &dbPath, const QString &pxPath)
{
    pxdoc_t *doc = PX_new();
    pxdoc_t *index = PX_new();
    bool ok = PX_open_file(doc, QFile::encodeName(dbPath).constData()) >= 0 &&
              PX_open_file(index, QFile::encodeName(pxPath).constData()) >= 0 &&
              PX_read_primary_index(index) >= 0 && PX_add_primary_index(doc, index) >= 0;
    PX_close(doc);
    PX_delete(doc);
    return ok;
}
