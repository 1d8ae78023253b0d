// ParadoxTable: inserting records in key order, splitting a full block, and rewriting a whole table.
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"
#include "paradox/paradoxtableparts.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <cstring>

using namespace ParadoxTableParts;
using namespace ParadoxLayout;

namespace {

ParadoxError indexMismatch(const QString &path)
{
    return ParadoxError(QStringLiteral("Der Primärindex von %1 passt nicht zur Tabelle").arg(path));
}

} // namespace

void ParadoxTable::change(const std::function<void()> &work)
{
    if (!m_exclusive)
        takeExclusive();
    const auto release = qScopeGuard([this] { releaseExclusive(); });
    try {
        work();
    } catch (...) {
        discardStaged();
        throw;
    }
}

void ParadoxTable::insert(const QByteArray &record)
{
    checkInsertable();
    change([&] {
        prepareWrite();
        stageInsert(record);
        commit();
    });
}

QStringList ParadoxTable::insertAll(const QList<QByteArray> &records)
{
    checkInsertable();
    QStringList results;
    change([&] {
        prepareWrite();
        const QList<ParadoxFile *> family = files();
        for (const QByteArray &record : records) {
            // A savepoint per record: one that fails leaves the others' staged changes as they were.
            QList<ParadoxFile::Staged> savepoint;
            for (const ParadoxFile *file : family)
                savepoint.append(file->staged());
            try {
                stageInsert(record);
                results.append(QString());
            } catch (const ParadoxError &error) {
                for (qsizetype i = 0; i < family.size(); ++i)
                    family.at(i)->restoreStaged(savepoint.at(i));
                results.append(error.text());
            }
        }
        commit();
    });
    return results;
}

int ParadoxTable::stageInsert(const QByteArray &record)
{
    if (record.size() != m_data->recordSize())
        throw ParadoxError(QStringLiteral("Tabelle %1: falsche Satzlänge").arg(m_path));
    QByteArray header = countedHeader(record);
    Placement placement;
    if (m_data->numRecords() == 0 || m_index->indexLevels() == 0)
        placement.landed = stageFirstBlock(record, header);
    else
        placement = stageIntoBlock(record, header);
    m_data->stageHeader(header);
    stageSecondaries(record, placement);
    return placement.landed;
}

QByteArray ParadoxTable::countedHeader(const QByteArray &record) const
{
    QByteArray header = m_data->header();
    ParadoxFile::setHeaderLong(header, RecordCount, m_data->numRecords() + 1);
    // The change counter goes up once per change: other users read the table again.
    if (m_data->staged().header.isEmpty())
        header[ChangeCount] = static_cast<char>(header.at(ChangeCount) + 1);
    // The table's counter follows the values written into its auto-increment field.
    for (const ParadoxField &field : m_data->fields())
        if (field.type == ParadoxField::AutoIncrement && m_data->headerSize() >= AutoIncrementValue + 4) {
            const QVariant value = field.value(record.constData());
            if (value.isValid() &&
                value.toLongLong() > qint64(ParadoxFile::headerLong(header, AutoIncrementValue)))
                ParadoxFile::setHeaderLong(header, AutoIncrementValue, value.toUInt());
        }
    return header;
}

int ParadoxTable::stageFirstBlock(const QByteArray &record, QByteArray &header)
{
    if (!indexLeaves().isEmpty())
        throw indexMismatch(m_path);
    const int number = m_data->fileBlocks() + 1;
    QByteArray block(m_data->blockSize(), '\0');
    m_data->setRecordCount(block, 1);
    std::memcpy(block.data() + m_data->recordOffset(0), record.constData(), record.size());
    m_data->stageBlock(number, block);
    ParadoxFile::setHeaderWord(header, UsedBlocks, 1);
    ParadoxFile::setHeaderWord(header, FileBlocks, number);
    ParadoxFile::setHeaderWord(header, FirstBlock, number);
    ParadoxFile::setHeaderWord(header, LastBlock, number);
    indexRebuild({{record.left(m_data->keySize()), number, 1}});
    return number;
}

ParadoxTable::Placement ParadoxTable::stageIntoBlock(const QByteArray &record, QByteArray &header)
{
    const int recordSize = m_data->recordSize();
    const int keySize = m_data->keySize();
    const QByteArray key = record.left(keySize);
    int slot = -1;
    std::vector<IndexNode> path = indexPath(key, slot);
    qint64 rootCount = 0;
    for (const IndexEntry &entry : path.front().entries)
        rootCount += entry.count;
    if ((rootCount & 0xFFFF) != (m_data->numRecords() & 0xFFFF))
        throw indexMismatch(m_path);
    IndexNode &leaf = path.back();
    const int number = leaf.entries.at(slot).block;
    QByteArray block = m_data->readBlock(number);
    const int count = m_data->recordCount(block);
    if (count != leaf.entries.at(slot).count)
        throw indexMismatch(m_path);
    int position = 0;
    while (position < count &&
           compareKeys(block.constData() + m_data->recordOffset(position), key.constData(), keySize) <= 0)
        ++position;
    if (position > 0 &&
        compareKeys(block.constData() + m_data->recordOffset(position - 1), key.constData(), keySize) == 0)
        throw ParadoxError(QStringLiteral("Schlüssel bereits vorhanden in Tabelle %1").arg(m_path));

    QByteArray records = block.mid(BlockHeadSize, count * recordSize);
    records.insert(position * recordSize, record);
    if (count >= m_data->blockCapacity())
        return stageSplit(block, records, position, path, slot, header);

    std::memcpy(block.data() + BlockHeadSize, records.constData(), records.size());
    m_data->setRecordCount(block, count + 1);
    m_data->stageBlock(number, block);
    if (position == 0 && compareKeys(key.constData(), leaf.entries.at(slot).key.constData(), keySize) < 0) {
        // A new first key of the table: the keys on the path change, rebuild the index.
        QList<IndexEntry> leaves = indexLeaves();
        leaves[0] = {key, number, count + 1};
        indexRebuild(leaves);
    } else {
        leaf.entries[slot].count = count + 1;
        stagePathCounts(path);
    }
    return {number, 0, {}};
}

ParadoxTable::Placement ParadoxTable::stageSplit(const QByteArray &block, const QByteArray &records,
                                                 int position, std::vector<IndexNode> &path, int slot,
                                                 QByteArray &header)
{
    // The upper half of the full block moves to a new block chained in after it.
    const int recordSize = m_data->recordSize();
    const int keySize = m_data->keySize();
    IndexNode &leaf = path.back();
    const int number = leaf.entries.at(slot).block;
    const int total = static_cast<int>(records.size() / recordSize);
    const int lower = total / 2;
    const int added = m_data->fileBlocks() + 1;
    if (added >= 0xFFFE)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist voll").arg(m_path));
    const int following = ParadoxFile::nextBlock(block);
    const auto part = [&](int next, int previous, int first, int count) {
        QByteArray bytes(m_data->blockSize(), '\0');
        ParadoxFile::setNextBlock(bytes, next);
        ParadoxFile::setPreviousBlock(bytes, previous);
        m_data->setRecordCount(bytes, count);
        std::memcpy(bytes.data() + BlockHeadSize, records.constData() + first * recordSize,
                    count * recordSize);
        return bytes;
    };
    m_data->stageBlock(number, part(added, ParadoxFile::previousBlock(block), 0, lower));
    m_data->stageBlock(added, part(following, number, lower, total - lower));
    Placement placement{position < lower ? number : added, added, {}};
    for (int i = lower; i < total; ++i)
        if (i != position)
            placement.moved.append(records.mid(i * recordSize, recordSize));
    if (following != 0) {
        QByteArray next = m_data->readBlock(following);
        ParadoxFile::setPreviousBlock(next, added);
        m_data->stageBlock(following, next);
    } else {
        ParadoxFile::setHeaderWord(header, LastBlock, added);
    }
    ParadoxFile::setHeaderWord(header, UsedBlocks, m_data->usedBlocks() + 1);
    ParadoxFile::setHeaderWord(header, FileBlocks, added);

    stageSplitEntries(path, slot, {records.left(keySize), number, lower},
                      {records.mid(lower * recordSize, keySize), added, total - lower});
    return placement;
}

void ParadoxTable::stageSplitEntries(std::vector<IndexNode> &path, int slot, const IndexEntry &leftEntry,
                                     const IndexEntry &rightEntry)
{
    IndexNode &leaf = path.back();
    if (leaf.entries.size() < m_index->blockCapacity() &&
        !(slot == 0 && leftEntry.key != leaf.entries.at(0).key)) {
        // The new block's entry fits beside the old one's: patch the path in place.
        leaf.entries[slot] = leftEntry;
        leaf.entries.insert(slot + 1, rightEntry);
        stagePathCounts(path);
        QByteArray indexHeader = m_index->header();
        ParadoxFile::setHeaderLong(indexHeader, RecordCount, m_index->numRecords() + 1);
        m_index->stageHeader(indexHeader);
        return;
    }
    QList<IndexEntry> leaves = indexLeaves();
    const auto at = std::find_if(leaves.begin(), leaves.end(),
                                 [&](const IndexEntry &entry) { return entry.block == leftEntry.block; });
    if (at == leaves.end())
        throw indexMismatch(m_path);
    const qsizetype leafAt = at - leaves.begin();
    leaves[leafAt] = leftEntry;
    leaves.insert(leafAt + 1, rightEntry);
    indexRebuild(leaves);
}

void ParadoxTable::stagePathCounts(std::vector<IndexNode> &path)
{
    // The counts above the lowest level's entry (set by the caller) grow by one; the index
    // blocks on the path are patched in place.
    for (int node = static_cast<int>(path.size()) - 2, at = path.back().parentSlot; node >= 0; --node) {
        IndexEntry &entry = path[node].entries[at];
        entry.count = (entry.count + 1) & 0xFFFF;
        at = path[node].parentSlot;
    }
    for (const IndexNode &node : path)
        stageIndexNode(node);
}

void ParadoxTable::rebuild(QList<QByteArray> records)
{
    if (!m_writable)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist nur zum Lesen geöffnet").arg(m_path));
    const int keySize = m_data->keySize();
    const bool keyed = m_data->fileType() == ParadoxFile::KeyedTable && keySize > 0;
    if (keyed) {
        checkInsertable();
        std::sort(records.begin(), records.end(), [&](const QByteArray &a, const QByteArray &b) {
            return compareKeys(a.constData(), b.constData(), keySize) < 0;
        });
        for (qsizetype i = 1; i < records.size(); ++i)
            if (compareKeys(records.at(i - 1).constData(), records.at(i).constData(), keySize) == 0)
                throw ParadoxError(QStringLiteral("Schlüssel mehrfach vorhanden für Tabelle %1").arg(m_path));
    }
    // Rewriting the table would leave its secondary indexes pointing at the old blocks.
    const QFileInfo info(m_path);
    const QStringList secondaries =
        QDir(info.absolutePath()).entryList({info.completeBaseName() + QStringLiteral(".X*")}, QDir::Files);
    if (!secondaries.isEmpty())
        throw ParadoxError(
            QStringLiteral("Tabelle %1 hat Sekundärindizes (%2) und wird nicht neu geschrieben")
                .arg(m_path, secondaries.join(QStringLiteral(", "))));
    const int capacity = m_data->blockCapacity();
    if ((records.size() + capacity - 1) / capacity >= 0xFFFE)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist voll").arg(m_path));
    change([&] {
        stageRebuild(records, keyed);
        commit();
    });
}

void ParadoxTable::stageRebuild(const QList<QByteArray> &records, bool keyed)
{
    const int recordSize = m_data->recordSize();
    const int capacity = m_data->blockCapacity();
    const int blocks = static_cast<int>((records.size() + capacity - 1) / capacity);
    QList<IndexEntry> leaves;
    for (int b = 0; b < blocks; ++b) {
        const qsizetype start = qsizetype(b) * capacity;
        const int count = static_cast<int>(std::min<qsizetype>(capacity, records.size() - start));
        QByteArray block(m_data->blockSize(), '\0');
        ParadoxFile::setNextBlock(block, b + 1 < blocks ? b + 2 : 0);
        ParadoxFile::setPreviousBlock(block, b);
        m_data->setRecordCount(block, count);
        for (int i = 0; i < count; ++i) {
            if (records.at(start + i).size() != recordSize)
                throw ParadoxError(QStringLiteral("Tabelle %1: falsche Satzlänge").arg(m_path));
            std::memcpy(block.data() + m_data->recordOffset(i), records.at(start + i).constData(),
                        recordSize);
        }
        m_data->stageBlock(b + 1, block);
        leaves.append({records.at(start).left(m_data->keySize()), b + 1, count});
    }
    QByteArray header = m_data->header();
    ParadoxFile::setHeaderLong(header, RecordCount, static_cast<quint32>(records.size()));
    ParadoxFile::setHeaderWord(header, UsedBlocks, blocks);
    ParadoxFile::setHeaderWord(header, FileBlocks, blocks);
    ParadoxFile::setHeaderWord(header, FirstBlock, blocks > 0 ? 1 : 0);
    ParadoxFile::setHeaderWord(header, LastBlock, blocks);
    header[ChangeCount] = static_cast<char>(header.at(ChangeCount) + 1);
    m_data->stageHeader(header);
    m_data->stageSize(m_data->blockOffset(blocks + 1));
    if (keyed)
        indexRebuild(leaves);
}
