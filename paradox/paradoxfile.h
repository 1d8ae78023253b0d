#pragma once

#include "paradox/paradoxerror.h"
#include "paradox/paradoxfield.h"
#include "paradox/paradoxio.h"
#include "paradox/paradoxlayout.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMap>
#include <QString>

// One file of a Paradox table family (.DB, .PX, .Xnn, .Ynn, .XGn, .YGn) opened for block access: the
// header as Paradox wrote it, the field list, and reading and writing of whole blocks, decrypted and
// encrypted as the table requires. The header is kept as raw bytes and only the counters that a change
// needs are patched, so everything else Paradox keeps there survives our writes.
// Moves but never copies: it owns the file descriptor.
class ParadoxFile
{
public:
    enum FileType : quint8 {
        KeyedTable = 0,
        PrimaryIndex = 1,
        PlainTable = 2,
        SecondaryTable = 3,
        SecondaryIndex = 4,
        IncrementalSecondaryTable = 5,
        CompositeSecondaryTable = 6,
        CompositeSecondaryIndex = 7,
        IncrementalCompositeSecondaryTable = 8,
    };

    // Opens and parses `path`. Throws ParadoxError naming the file when it cannot be opened or its
    // header is not that of a Paradox file.
    ParadoxFile(const QString &path, bool writable);
    ParadoxFile(ParadoxFile &&other) noexcept = default;
    ParadoxFile &operator=(ParadoxFile &&) = delete;
    ParadoxFile(const ParadoxFile &) = delete;
    ParadoxFile &operator=(const ParadoxFile &) = delete;

    const QString &path() const { return m_path; }
    int descriptor() const { return m_fd.get(); }

    quint8 fileType() const;
    int recordSize() const;
    int headerSize() const;
    int blockSize() const;
    quint32 numRecords() const;
    int usedBlocks() const;
    int fileBlocks() const;
    int firstBlock() const;
    int lastBlock() const;
    int indexRoot() const;
    int indexLevels() const;
    int keyFieldCount() const;
    int version() const { return static_cast<unsigned char>(m_header.at(ParadoxLayout::FileVersion)); }
    quint32 encryptionKey() const;
    int codePage() const;
    // The bytes of one record's key: the first keyFieldCount() fields.
    int keySize() const;
    // The name a secondary index is opened by: the stored name of a composite index, else the name
    // of its first field.
    QString indexName() const { return m_indexName; }

    const QList<ParadoxField> &fields() const { return m_fields; }
    // Field by name, ignoring case as the database engine does; -1 when there is none.
    int fieldIndex(const QString &name) const;

    // Records a block holds, and the number of records in `block` (validated against that capacity).
    int blockCapacity() const { return (blockSize() - ParadoxLayout::BlockHeadSize) / recordSize(); }
    int recordCount(const QByteArray &block) const;
    // Where record `i` of a block starts in the block.
    int recordOffset(int i) const { return ParadoxLayout::BlockHeadSize + i * recordSize(); }

    qint64 blockOffset(int number) const;
    // The plain bytes of block `number` (1-based). Throws ParadoxError on a short read or a block
    // number outside the file.
    QByteArray readBlock(int number) const;
    // The bytes to store for block `number`, encrypted when the file is.
    QByteArray storedBlock(int number, const QByteArray &plain) const;

    const QByteArray &header() const { return m_header; }
    qint64 fileSize() const { return m_fileSize; }
    // Reads the header again, after a change was written; drops what was staged.
    void reload()
    {
        m_staged = {};
        parseHeader();
    }

    // A change in preparation: new plain contents of blocks, a new header and a new file length.
    // readBlock() and the header accessors see them; nothing reaches the file until the owner writes
    // them out (through its journal) and reloads.
    struct Staged
    {
        QMap<int, QByteArray> blocks;
        QByteArray header; // empty: unchanged
        qint64 size = -1;  // -1: unchanged
    };
    void stageBlock(int number, const QByteArray &plain) { m_staged.blocks.insert(number, plain); }
    void stageHeader(const QByteArray &header);
    void stageSize(qint64 size) { m_staged.size = size; }
    const Staged &staged() const { return m_staged; }
    // Back to an earlier state of the change in preparation (a savepoint), or to none.
    void restoreStaged(const Staged &staged);
    // The header as the file holds it.
    const QByteArray &storedHeader() const { return m_storedHeader; }
    // The name of the sort order that orders the table's text keys ("ascii" orders by bytes).
    const QString &sortOrder() const { return m_sortOrder; }

    // Little-endian words and longs of a header or block head, at the offsets of ParadoxLayout.
    static int headerWord(const QByteArray &header, int offset);
    static void setHeaderWord(QByteArray &header, int offset, int value);
    static quint32 headerLong(const QByteArray &header, int offset);
    static void setHeaderLong(QByteArray &header, int offset, quint32 value);

    // Block header fields: next block, previous block, and the offset of the last record.
    static int nextBlock(const QByteArray &block) { return headerWord(block, ParadoxLayout::NextBlock); }
    static int previousBlock(const QByteArray &block)
    {
        return headerWord(block, ParadoxLayout::PreviousBlock);
    }
    static void setNextBlock(QByteArray &block, int number)
    {
        setHeaderWord(block, ParadoxLayout::NextBlock, number);
    }
    static void setPreviousBlock(QByteArray &block, int number)
    {
        setHeaderWord(block, ParadoxLayout::PreviousBlock, number);
    }
    // The records in `block` by the offset of its last record, as a writer stores it (not validated).
    static int lastRecordOffset(const QByteArray &block)
    {
        return static_cast<qint16>(headerWord(block, ParadoxLayout::LastRecordOffset));
    }
    void setRecordCount(QByteArray &block, int count) const;

private:
    void parseHeader();
    // The field names, the sort order and the index name that follow the field list at `position`.
    void parseNames(int position, int numFields);
    ParadoxError corrupt(const char *what) const;

    QString m_path;
    Descriptor m_fd;
    QByteArray m_header;
    QList<ParadoxField> m_fields;
    QString m_indexName;
    QString m_sortOrder;
    qint64 m_fileSize = 0;
    QByteArray m_storedHeader;
    Staged m_staged;
};
