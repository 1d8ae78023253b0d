#pragma once

#include "paradox/paradoxfile.h"
#include "paradox/paradoxio.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// A Paradox table (.DB) with its primary index (.PX) when it is keyed: a cursor in key order, finding by
// key through the index, and inserting records in key order.
//
// Changes are crash-safe: the new contents of every block, header and index that a change touches are
// first written to a journal beside the table ("<table>.zjournal") and synced; then the table files are
// written and synced, and the journal is marked done (it is removed when the table is closed). Opening a
// table whose journal is complete finishes the change; an incomplete journal is dropped, the table files not
// having been touched yet. So a crash at any moment leaves the table as it was before or as it is after the
// change.
//
// Open tables hold a shared lock on the .DB (an open file description lock). A change waits its turn for
// the exclusive lock (a few seconds at most): writers queue instead of locking each other out, as none
// waits for the exclusive lock while holding the shared one. Another program that holds the table longer
// makes the open or the change fail.
class ParadoxTable
{
public:
    // Opens `path`; its .PX is found beside it, case-insensitively. Finishes or drops an interrupted
    // change. Throws ParadoxError naming the file when the table cannot be opened, read or locked.
    explicit ParadoxTable(const QString &path, bool writable = false);
    ~ParadoxTable();
    ParadoxTable(const ParadoxTable &) = delete;
    ParadoxTable &operator=(const ParadoxTable &) = delete;

    const ParadoxFile &data() const { return *m_data; }
    const QList<ParadoxField> &fields() const { return m_data->fields(); }
    bool hasPrimaryIndex() const { return m_index != nullptr; }
    QString indexPath() const;

    // Cursor in key order (block order for a table without key). moveFirst() is false for an empty
    // table; moveNext() is false, and atEnd() true, once it passes the last record.
    bool moveFirst();
    bool moveNext();
    bool atEnd() const { return m_atEnd; }
    bool hasRecord() const { return m_blockNumber > 0 && !m_atEnd; }
    // The number of the block that holds the current record.
    int blockNumber() const { return m_blockNumber; }
    const char *record() const;
    QByteArray recordBytes() const { return QByteArray(record(), m_data->recordSize()); }

    // Moves to the first record whose key starts with `keyPrefix` (the stored bytes of the first key
    // fields), through the primary index when there is one: a few blocks are read, not the table.
    // Returns false, the cursor unchanged, when no record has that key.
    bool seek(const QByteArray &keyPrefix);

    // Inserts `record` (recordSize() bytes) in its place in key order, splitting a full block, and
    // keeps the primary index, every secondary index (.Xnn/.Ynn, .XGn/.YGn) and the header
    // consistent. Throws ParadoxError, the table unchanged, on a duplicate key, a table whose key this
    // layer cannot order, a secondary index it cannot maintain (named in the text), a table whose
    // structure does not add up, or a failed write.
    void insert(const QByteArray &record);

    // Inserts `records` as one crash-safe change. A record that cannot be inserted (a duplicate key,
    // a value its keys cannot order) is left out and does not cost the others theirs: the result
    // holds one text per record, empty for those inserted. Throws ParadoxError, the table unchanged,
    // when the table cannot be written at all.
    QStringList insertAll(const QList<QByteArray> &records);

    // Replaces all records by `records` (any order; sorted here by key), as one crash-safe change.
    // Throws ParadoxError on duplicate keys.
    void rebuild(QList<QByteArray> records);

    // Takes the table for changes until it is closed, waiting its turn: what the cursor reads from
    // now on stays as it is until a change of this table. For a change made of what was read
    // (rebuild()). Throws ParadoxError when another program holds the table too long.
    void lockExclusive();

    // Test seam for fault injection: called with a step number at each stage of writing a change.
    static void setCommitHook(std::function<void(int)> hook);
    // How long a change or an open waits for other users of the table (5 s unless a test sets it).
    static void setLockWait(int milliseconds);

private:
    struct IndexEntry
    {
        QByteArray key;
        int block = 0;
        int count = 0;
    };
    struct IndexNode
    {
        int block = 0;
        QList<IndexEntry> entries;
        int parent = -1;
        int parentSlot = -1;
    };
    struct Write
    {
        int file = 0; // in files()
        qint64 offset = 0;
        QByteArray bytes;
    };
    // A secondary index kept up to date with the table: where its fields come from in a record of
    // the table; its last field holds the number of the block the record lies in.
    struct Secondary
    {
        std::unique_ptr<ParadoxTable> table;
        QList<int> sourceFields;
    };
    // An insert in preparation: the block the record lands in, and the records that a split moved
    // into another block.
    struct Placement
    {
        int landed = 0;
        int movedTo = 0;
        QList<QByteArray> moved;
    };
    enum class Member { Owner, OfFamily };
    ParadoxTable(const QString &path, bool writable, Member member);

    // Open, lock and cursor.
    void openFiles();
    void waitForLock(const std::function<bool()> &attempt);
    void lockShared();
    // For one change: the exclusive lock, waiting in turn, and the files read again; then back.
    void takeExclusive();
    void releaseExclusive();
    bool advanceTo(int number);
    bool loadBlock(int number);
    int compareKey(const char *record, const QByteArray &key) const;
    int compareKeys(const char *a, const char *b, int length) const;

    // The primary index.
    QList<IndexEntry> readIndexBlock(int number) const;
    // From the root to the entry of the lowest level where `belowOrAt` turns false; `slot` is that
    // entry's place in its block (the first entry when it is false for all).
    std::vector<IndexNode> descend(const std::function<bool(const IndexEntry &)> &belowOrAt, int &slot) const;
    std::vector<IndexNode> indexPath(const QByteArray &key, int &slot) const;
    void loadIndexTree(std::vector<IndexNode> &nodes, std::vector<std::pair<int, int>> &leaves) const;
    QList<IndexEntry> indexLeaves() const;
    void stageIndexNode(const IndexNode &node);
    QByteArray indexBlockBytes(const QList<IndexEntry> &entries, int next, int previous) const;
    void indexRebuild(const QList<IndexEntry> &leaves);

    // Insert and block split.
    int stageInsert(const QByteArray &record);
    QByteArray countedHeader(const QByteArray &record) const;
    int stageFirstBlock(const QByteArray &record, QByteArray &header);
    Placement stageIntoBlock(const QByteArray &record, QByteArray &header);
    Placement stageSplit(const QByteArray &block, const QByteArray &records, int position,
                         std::vector<IndexNode> &path, int slot, QByteArray &header);
    // The entries of a split block and of the new one beside it, in place of the block's entry at `slot`.
    void stageSplitEntries(std::vector<IndexNode> &path, int slot, const IndexEntry &leftEntry,
                           const IndexEntry &rightEntry);
    void stagePathCounts(std::vector<IndexNode> &path);
    void stageRebuild(const QList<QByteArray> &records, bool keyed);
    // One change under the exclusive lock; what it staged is dropped when it fails.
    void change(const std::function<void()> &work);

    // Secondary indexes.
    void loadSecondaries();
    Secondary openSecondary(const QString &path) const;
    void stageSecondaries(const QByteArray &record, const Placement &placement);
    // In a secondary index: the entry with the key of `entry` gets `block` as its record's block.
    void stageBlockHint(const QByteArray &entry, int block);

    // Journal.
    QString journalPath() const;
    bool journalHoldsChange() const;
    void replayJournal();
    QList<ParadoxFile *> files() const;
    void discardStaged();
    void commit();
    QList<Write> collectWrites(const QList<ParadoxFile *> &family) const;
    QByteArray journalOf(const QList<ParadoxFile *> &family, const QList<Write> &writes) const;
    void writeJournal(const QByteArray &journal);
    void writeFiles(const QList<ParadoxFile *> &family, const QList<Write> &writes);

    // Structure checks before a first change.
    void prepareWrite();
    void verifyStructure() const;
    QByteArray blockStarts(int startSize) const;
    void checkInsertable() const;

    QString m_path;
    Descriptor m_lock;
    Descriptor m_journal;
    bool m_exclusive = false; // held until closed (lockExclusive())
    std::unique_ptr<ParadoxFile> m_data;
    std::unique_ptr<ParadoxFile> m_index;
    bool m_writable = false;
    Member m_member = Member::Owner;
    bool m_writeChecked = false;
    std::vector<Secondary> m_secondaries;

    int m_blockNumber = 0;
    QByteArray m_block;
    int m_blockCount = 0;
    int m_position = 0;
    int m_hops = 0; // blocks visited since moveFirst()
    bool m_atEnd = true;
};
