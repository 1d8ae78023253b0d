// ParadoxTable: the primary index, read by descent from the root and written whole or in place.
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"
#include "paradox/paradoxtableparts.h"

#include <algorithm>
#include <cstring>

using namespace ParadoxTableParts;
using namespace ParadoxLayout;

QList<ParadoxTable::IndexEntry> ParadoxTable::readIndexBlock(int number) const
{
    const QByteArray block = m_index->readBlock(number);
    const int count = m_index->recordCount(block);
    const int keySize = m_index->keySize();
    QList<IndexEntry> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        const char *entry = block.constData() + m_index->recordOffset(i);
        entries.append({QByteArray(entry, keySize), readShort(entry + keySize + EntryBlock),
                        readShort(entry + keySize + EntryCount)});
    }
    return entries;
}

std::vector<ParadoxTable::IndexNode>
ParadoxTable::descend(const std::function<bool(const IndexEntry &)> &belowOrAt, int &slot) const
{
    std::vector<IndexNode> path;
    int number = m_index->indexRoot();
    for (int level = m_index->indexLevels(); level >= 1; --level) {
        if (static_cast<int>(path.size()) > m_index->fileBlocks())
            throw ParadoxError(QStringLiteral("Datei %1 hat einen Kreis im Index").arg(m_index->path()));
        IndexNode node{number, readIndexBlock(number), static_cast<int>(path.size()) - 1, slot};
        if (node.entries.isEmpty())
            throw ParadoxError(QStringLiteral("Datei %1 hat einen leeren Indexblock").arg(m_index->path()));
        const auto above = std::partition_point(node.entries.begin(), node.entries.end(), belowOrAt);
        slot = static_cast<int>(std::max<qsizetype>(0, (above - node.entries.begin()) - 1));
        number = node.entries.at(slot).block;
        path.push_back(std::move(node));
    }
    if (number < 1 || number > m_data->fileBlocks())
        throw ParadoxError(QStringLiteral("Datei %1 verweist auf Block %2, der nicht zur Tabelle gehört")
                               .arg(m_index->path())
                               .arg(number));
    return path;
}

std::vector<ParadoxTable::IndexNode> ParadoxTable::indexPath(const QByteArray &key, int &slot) const
{
    // The leaf entry of the block where `key` belongs: at each level the last entry whose key is not
    // above it (the first entry when all are).
    return descend(
        [&](const IndexEntry &entry) {
            return compareKeys(entry.key.constData(), key.constData(), static_cast<int>(key.size())) <= 0;
        },
        slot);
}

void ParadoxTable::loadIndexTree(std::vector<IndexNode> &nodes,
                                 std::vector<std::pair<int, int>> &leaves) const
{
    const int levels = m_index->indexLevels();
    if (levels == 0 || m_index->indexRoot() == 0)
        return;
    struct Pending
    {
        int block, level, parent, slot;
    };
    std::vector<Pending> stack{{m_index->indexRoot(), levels, -1, -1}};
    while (!stack.empty()) {
        const Pending item = stack.back();
        stack.pop_back();
        if (nodes.size() > static_cast<size_t>(m_index->fileBlocks()))
            throw ParadoxError(QStringLiteral("Datei %1 hat einen Kreis im Index").arg(m_index->path()));
        nodes.push_back({item.block, readIndexBlock(item.block), item.parent, item.slot});
        const int node = static_cast<int>(nodes.size()) - 1;
        const QList<IndexEntry> &entries = nodes.back().entries;
        if (item.level == 1) {
            for (int i = 0; i < entries.size(); ++i)
                leaves.emplace_back(node, i);
        } else {
            for (int i = static_cast<int>(entries.size()) - 1; i >= 0; --i)
                stack.push_back({entries.at(i).block, item.level - 1, node, i});
        }
    }
}

QList<ParadoxTable::IndexEntry> ParadoxTable::indexLeaves() const
{
    // Every entry of the lowest level, in key order; they must cover the table's blocks and records.
    std::vector<IndexNode> nodes;
    std::vector<std::pair<int, int>> leafSlots;
    loadIndexTree(nodes, leafSlots);
    QList<IndexEntry> leaves;
    qint64 indexed = 0;
    for (const auto &[node, slot] : leafSlots) {
        leaves.append(nodes[node].entries.at(slot));
        indexed += leaves.last().count;
    }
    if (indexed != m_data->numRecords() || leaves.size() != m_data->usedBlocks())
        throw ParadoxError(QStringLiteral("Der Primärindex von %1 passt nicht zur Tabelle").arg(m_path));
    return leaves;
}

void ParadoxTable::stageIndexNode(const IndexNode &node)
{
    const QByteArray current = m_index->readBlock(node.block);
    m_index->stageBlock(node.block, indexBlockBytes(node.entries, ParadoxFile::nextBlock(current),
                                                    ParadoxFile::previousBlock(current)));
}

QByteArray ParadoxTable::indexBlockBytes(const QList<IndexEntry> &entries, int next, int previous) const
{
    QByteArray block(m_index->blockSize(), '\0');
    ParadoxFile::setNextBlock(block, next);
    ParadoxFile::setPreviousBlock(block, previous);
    m_index->setRecordCount(block, static_cast<int>(entries.size()));
    const int keySize = m_index->keySize();
    for (int i = 0; i < entries.size(); ++i) {
        char *entry = block.data() + m_index->recordOffset(i);
        std::memcpy(entry, entries.at(i).key.constData(), keySize);
        writeShort(entry + keySize + EntryBlock, entries.at(i).block);
        writeShort(entry + keySize + EntryCount, entries.at(i).count);
        writeShort(entry + keySize + EntryReserved, 0);
    }
    return block;
}

namespace {

// The blocks of every level of an index over `leaves`, bottom up (the last level holds the root);
// each block filled to `capacity`. An entry of an upper level names its block below by its place in
// that level.
template <typename Entry> QList<QList<QList<Entry>>> indexLevels(const QList<Entry> &leaves, int capacity)
{
    QList<QList<QList<Entry>>> levels;
    for (QList<Entry> entries = leaves; !entries.isEmpty();) {
        QList<QList<Entry>> blocks;
        for (qsizetype start = 0; start < entries.size(); start += capacity)
            blocks.append(entries.mid(start, capacity));
        levels.append(blocks);
        if (blocks.size() == 1)
            break;
        entries.clear();
        for (const QList<Entry> &block : std::as_const(blocks)) {
            int sum = 0;
            for (const Entry &entry : block)
                sum += entry.count;
            entries.append({block.first().key, static_cast<int>(entries.size()), sum & 0xFFFF});
        }
    }
    return levels;
}

} // namespace

void ParadoxTable::indexRebuild(const QList<IndexEntry> &leaves)
{
    // Blocks are left a fifth empty, so that most later splits find room for their entry.
    const int capacity = std::max(1, m_index->blockCapacity() - m_index->blockCapacity() / 5);
    const QList<QList<QList<IndexEntry>>> levels = indexLevels(leaves, capacity);
    // Numbered and chained from the root down, level by level, the lowest level ending the chain: a
    // reader that walks the chain from the first block meets the root first and then every level
    // whole, never a block of an upper level among the entries of the blocks below.
    QList<int> firstOfLevel(levels.size());
    int total = 0;
    for (qsizetype level = levels.size() - 1; level >= 0; --level) {
        firstOfLevel[level] = total + 1;
        total += static_cast<int>(levels.at(level).size());
    }
    if (total >= 0xFFFE)
        throw ParadoxError(QStringLiteral("Datei %1 ist voll").arg(m_index->path()));
    int entries = 0;
    for (qsizetype level = levels.size() - 1; level >= 0; --level) {
        for (qsizetype i = 0; i < levels.at(level).size(); ++i) {
            QList<IndexEntry> block = levels.at(level).at(i);
            if (level > 0)
                for (IndexEntry &entry : block)
                    entry.block += firstOfLevel.at(level - 1);
            const int number = firstOfLevel.at(level) + static_cast<int>(i);
            entries += static_cast<int>(block.size());
            m_index->stageBlock(number, indexBlockBytes(block, number < total ? number + 1 : 0, number - 1));
        }
    }
    QByteArray header = m_index->header();
    ParadoxFile::setHeaderLong(header, RecordCount, entries);
    ParadoxFile::setHeaderWord(header, UsedBlocks, total);
    ParadoxFile::setHeaderWord(header, FileBlocks, total);
    ParadoxFile::setHeaderWord(header, FirstBlock, total > 0 ? 1 : 0);
    ParadoxFile::setHeaderWord(header, LastBlock, total);
    ParadoxFile::setHeaderWord(header, IndexRoot, total > 0 ? 1 : 0);
    header[IndexLevels] = static_cast<char>(levels.size());
    m_index->stageHeader(header);
    m_index->stageSize(m_index->blockOffset(total + 1));
}
