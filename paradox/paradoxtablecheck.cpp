// ParadoxTable: whether a table may be changed, and the check of its whole structure before a first
// change.
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"
#include "paradox/paradoxtableparts.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

using namespace ParadoxTableParts;
using namespace ParadoxLayout;

void ParadoxTable::checkInsertable() const
{
    if (!m_writable)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist nur zum Lesen geöffnet").arg(m_path));
    if (!isKeyedType(m_data->fileType()) || m_data->keyFieldCount() == 0 || !m_index)
        throw ParadoxError(QStringLiteral("Tabelle %1 hat keinen Primärindex").arg(m_path));
    for (int i = 0; i < m_data->keyFieldCount(); ++i)
        if (!m_data->fields().at(i).ordersBytewise() && m_data->fields().at(i).type != ParadoxField::Alpha)
            throw ParadoxError(QStringLiteral("Tabelle %1: Schlüsselfeld %2 wird nicht unterstützt")
                                   .arg(m_path, m_data->fields().at(i).name));
    if (m_data->fileBlocks() >= 0xFFFE || m_index->fileBlocks() >= 0xFFFE)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist voll").arg(m_path));
}

void ParadoxTable::prepareWrite()
{
    checkInsertable();
    if (m_writeChecked)
        return;
    verifyStructure();
    loadSecondaries();
    m_writeChecked = true;
}

QByteArray ParadoxTable::blockStarts(int startSize) const
{
    // The start of every block, one after the other. A plain file is read in large pieces, as a walk
    // through every block of a big table must stay quick; an encrypted one block by block.
    const ParadoxFile &data = *m_data;
    const int blocks = data.fileBlocks();
    QByteArray starts(qsizetype(blocks) * startSize, '\0');
    if (data.encryptionKey() != 0) {
        for (int number = 1; number <= blocks; ++number)
            std::memcpy(starts.data() + qint64(number - 1) * startSize, data.readBlock(number).constData(),
                        startSize);
        return starts;
    }
    constexpr int piece = 512;
    for (int first = 1; first <= blocks; first += piece) {
        const int count = std::min(piece, blocks - first + 1);
        const qint64 offset = data.blockOffset(first);
        const qint64 length = std::min<qint64>(qint64(count) * data.blockSize(), data.fileSize() - offset);
        QByteArray bytes(length, Qt::Uninitialized);
        if (::pread(data.descriptor(), bytes.data(), length, offset) != length)
            throw ParadoxError(QStringLiteral("Tabelle %1 ist beschädigt (%2) und wird nicht verändert")
                                   .arg(data.path(), QStringLiteral("nicht lesbar")));
        for (int i = 0; i < count; ++i) {
            const qint64 at = qint64(i) * data.blockSize();
            std::memcpy(starts.data() + qint64(first - 1 + i) * startSize, bytes.constData() + at,
                        std::min<qint64>(startSize, length - at));
        }
    }
    return starts;
}

void ParadoxTable::verifyStructure() const
{
    // A header that does not match the file would make a change overwrite live blocks; a chain that
    // leaves the file or runs in a circle, or an index that does not cover the chain, would make it
    // write into a table no reader can follow. So the whole structure is checked before a first write.
    const ParadoxFile &data = *m_data;
    const auto damaged = [&](const QString &what) {
        return ParadoxError(
            QStringLiteral("Tabelle %1 ist beschädigt (%2) und wird nicht verändert").arg(data.path(), what));
    };
    const int blocks = data.fileBlocks();
    if (data.fileSize() > data.blockOffset(blocks + 1))
        throw damaged(QStringLiteral("die Datei hat mehr Blöcke, als der Kopf angibt"));
    if (blocks > 0 && data.fileSize() < data.blockOffset(blocks) + BlockHeadSize)
        throw damaged(QStringLiteral("die Datei hat weniger Blöcke, als der Kopf angibt"));
    if (data.usedBlocks() > blocks)
        throw damaged(QStringLiteral("Blockzahl"));

    const int startSize = BlockHeadSize + data.keySize();
    const QByteArray starts = blockStarts(startSize);
    QList<IndexEntry> chain; // per block in chain order: its first key, number and record count
    std::vector<bool> visited(blocks + 1, false);
    qint64 records = 0;
    for (int number = data.firstBlock(), previous = 0; number != 0;) {
        if (number < 1 || number > blocks)
            throw damaged(QStringLiteral("Verweis auf Block %1 außerhalb der Datei").arg(number));
        if (visited[number])
            throw damaged(QStringLiteral("Kreis in der Blockkette bei Block %1").arg(number));
        visited[number] = true;
        const QByteArray start =
            QByteArray::fromRawData(starts.constData() + qint64(number - 1) * startSize, startSize);
        if (ParadoxFile::previousBlock(start) != previous)
            throw damaged(QStringLiteral("Block %1 hat einen falschen Vorgänger").arg(number));
        // The records must lie within the file: the last block may be short.
        const int lastOffset = ParadoxFile::lastRecordOffset(start);
        if (lastOffset >= 0 &&
            data.blockOffset(number) + BlockHeadSize + lastOffset + data.recordSize() > data.fileSize())
            throw damaged(QStringLiteral("Block %1 ist unvollständig").arg(number));
        const int count = data.recordCount(start);
        chain.append({start.mid(BlockHeadSize), number, count});
        records += count;
        previous = number;
        number = ParadoxFile::nextBlock(start);
    }
    if (chain.size() != data.usedBlocks() || records != data.numRecords() ||
        (!chain.isEmpty() && chain.last().block != data.lastBlock()))
        throw damaged(QStringLiteral("der Kopf passt nicht zur Blockkette"));

    std::vector<IndexNode> nodes;
    std::vector<std::pair<int, int>> leaves;
    loadIndexTree(nodes, leaves);
    if (leaves.size() != static_cast<size_t>(chain.size()))
        throw damaged(QStringLiteral("der Index %1 passt nicht zur Tabelle").arg(m_index->path()));
    for (qsizetype i = 0; i < chain.size(); ++i) {
        const IndexEntry &entry = nodes[leaves[i].first].entries.at(leaves[i].second);
        if (entry.block != chain.at(i).block || entry.count != chain.at(i).count ||
            entry.key != chain.at(i).key)
            throw damaged(QStringLiteral("der Index %1 passt nicht zur Tabelle").arg(m_index->path()));
    }
}
