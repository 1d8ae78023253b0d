#include "sources/paradoxtable.h"

#include "core/programfiles.h"
#include "sources/paradoxerror.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char journalMagic[] = "ZJRNL001";
constexpr int guardedHeaderBytes = 0x60;
constexpr int lockWaitMs = 500;

std::function<void(int)> &commitHook()
{
    static std::function<void(int)> hook;
    return hook;
}

void step(int number)
{
    if (commitHook())
        commitHook()(number);
}

quint64 fnv1a(const char *data, qint64 size)
{
    quint64 hash = 1469598103934665603ULL;
    for (qint64 i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// Index entries hold their block number and record count as Paradox short integers.
int readShort(const char *bytes)
{
    return ((static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1])) ^ 0x8000;
}

void writeShort(char *bytes, int value)
{
    const int raw = (value & 0xFFFF) ^ 0x8000;
    bytes[0] = static_cast<char>(raw >> 8);
    bytes[1] = static_cast<char>(raw & 0xFF);
}

bool setLock(int fd, short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

void writeAll(int fd, const char *data, qint64 size, qint64 offset, const QString &path)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden: %2")
                                   .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        done += n;
    }
}

void syncDirectory(const QString &path)
{
    const int fd =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void syncFile(int fd, const QString &path)
{
    if (::fdatasync(fd) != 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden: %2")
                               .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
}

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

void ParadoxTable::setCommitHook(std::function<void(int)> hook)
{
    commitHook() = std::move(hook);
}

ParadoxTable::ParadoxTable(const QString &path, bool writable) : m_path(path), m_writable(writable)
{
    const QByteArray encoded = QFile::encodeName(path);
    m_lockFd = ::open(encoded.constData(), O_RDWR | O_CLOEXEC);
    if (m_lockFd < 0)
        m_lockFd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
    if (m_lockFd < 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht geöffnet werden: %2")
                               .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    try {
        lockShared();
        m_data = std::make_unique<ParadoxFile>(path, writable);
        if (m_data->fileType() == ParadoxFile::KeyedTable && m_data->keyFieldCount() > 0) {
            const QString px = indexPath();
            if (QFileInfo::exists(px)) {
                m_index = std::make_unique<ParadoxFile>(px, writable);
                if (m_index->fileType() != ParadoxFile::PrimaryIndex ||
                    m_index->keySize() != m_data->keySize())
                    throw ParadoxError(
                        QStringLiteral("Datei %1 ist nicht der Primärindex von %2").arg(px, path));
            }
        }
    } catch (...) {
        ::close(m_lockFd);
        throw;
    }
}

ParadoxTable::~ParadoxTable()
{
    m_index.reset();
    m_data.reset();
    if (m_journalFd >= 0) {
        ::close(m_journalFd);
        // A change that failed half-way stays in the journal: the next open finishes it.
        if (!m_journalPending)
            QFile::remove(journalPath());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock of this open file description
}

QString ParadoxTable::indexPath() const
{
    const QFileInfo info(m_path);
    return ProgramFiles::resolve(info.absolutePath() + QLatin1Char('/'),
                                 info.completeBaseName() + QStringLiteral(".PX"));
}

QString ParadoxTable::journalPath() const
{
    return m_path + QStringLiteral(".zjournal");
}

void ParadoxTable::lockShared()
{
    // A journal left by a writer that died is finished under the exclusive lock before anyone reads;
    // a journal of a writer still at work keeps its exclusive lock, and we wait for it.
    const QDeadlineTimer deadline(lockWaitMs);
    for (;;) {
        if (QFileInfo::exists(journalPath())) {
            if (setLock(m_lockFd, F_WRLCK)) {
                replayJournal();
                setLock(m_lockFd, F_RDLCK);
                return;
            }
            // Another user has the table open between two changes: its journal holds no change.
            if (setLock(m_lockFd, F_RDLCK))
                return;
        } else if (setLock(m_lockFd, F_RDLCK)) {
            if (!QFileInfo::exists(journalPath()))
                return;
            continue;
        }
        if (deadline.hasExpired())
            throw ParadoxError(
                QStringLiteral("Tabelle %1 ist von einem anderen Programm gesperrt").arg(m_path));
        QThread::msleep(5);
    }
}

void ParadoxTable::replayJournal()
{
    QFile journal(journalPath());
    if (!journal.open(QIODevice::ReadOnly))
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht gelesen werden").arg(journalPath()));
    const QByteArray bytes = journal.readAll();
    journal.close();

    const auto drop = [this] {
        QFile::remove(journalPath());
        syncDirectory(m_path);
    };
    if (bytes.size() < 16 || !bytes.startsWith(journalMagic)) {
        drop();
        return;
    }
    quint64 stored;
    std::memcpy(&stored, bytes.constData() + bytes.size() - 8, 8);
    if (stored != fnv1a(bytes.constData(), bytes.size() - 8)) {
        drop(); // written only in part: the table files were not touched yet
        return;
    }
    QDataStream in(bytes.mid(8, bytes.size() - 16));
    QByteArray before, after, indexName;
    qint64 dataSize, indexSize;
    quint32 count;
    in >> before >> after >> indexName >> dataSize >> indexSize >> count;

    Descriptor data;
    data.fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CLOEXEC);
    if (data.fd < 0)
        throw ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
    // A journal whose change is neither pending nor done is older than the table (someone changed it
    // since): replaying it would destroy that change.
    QByteArray current(before.size(), '\0');
    if (::pread(data.fd, current.data(), current.size(), 0) != current.size() ||
        (current != before && current != after)) {
        drop();
        return;
    }
    Descriptor index;
    const QString indexFile =
        QFileInfo(m_path).absolutePath() + QLatin1Char('/') + QString::fromUtf8(indexName);
    if (!indexName.isEmpty()) {
        index.fd = ::open(QFile::encodeName(indexFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (index.fd < 0)
            throw ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
    }
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        bool toIndex;
        qint64 offset;
        QByteArray block;
        in >> toIndex >> offset >> block;
        if (toIndex && index.fd < 0)
            continue;
        writeAll(toIndex ? index.fd : data.fd, block.constData(), block.size(), offset,
                 toIndex ? indexFile : m_path);
    }
    if (dataSize >= 0 && ::ftruncate(data.fd, dataSize) != 0)
        throw ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
    if (index.fd >= 0 && indexSize >= 0 && ::ftruncate(index.fd, indexSize) != 0)
        throw ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
    syncFile(data.fd, m_path);
    if (index.fd >= 0)
        syncFile(index.fd, indexFile);
    drop();
}

void ParadoxTable::commit(const QList<Write> &writes, qint64 dataSize, qint64 indexSize)
{
    const QDeadlineTimer deadline(lockWaitMs);
    while (!setLock(m_lockFd, F_WRLCK)) {
        if (deadline.hasExpired())
            throw ParadoxError(
                QStringLiteral("Tabelle %1 ist von einem anderen Programm gesperrt").arg(m_path));
        QThread::msleep(5);
    }
    struct Downgrade
    {
        int fd;
        ~Downgrade() { setLock(fd, F_RDLCK); }
    } downgrade{m_lockFd};

    QByteArray after = m_data->header().left(guardedHeaderBytes);
    for (const Write &write : writes)
        if (!write.toIndex && write.offset == 0)
            after = write.bytes.left(guardedHeaderBytes);

    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out << m_data->header().left(guardedHeaderBytes) << after
            << (m_index ? QFileInfo(m_index->path()).fileName().toUtf8() : QByteArray()) << dataSize
            << indexSize << quint32(writes.size());
        for (const Write &write : writes)
            out << write.toIndex << write.offset << write.bytes;
    }
    QByteArray journal = QByteArray(journalMagic, 8) + payload;
    const quint64 sum = fnv1a(journal.constData(), journal.size());
    journal.append(reinterpret_cast<const char *>(&sum), 8);

    // The journal stays open for the whole use and is removed when the table is closed: one
    // directory change per use, not per append.
    if (m_journalFd < 0) {
        m_journalFd = ::open(QFile::encodeName(journalPath()).constData(),
                             O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_journalFd < 0)
            throw ParadoxError(QStringLiteral("Datei %1 kann nicht angelegt werden").arg(journalPath()));
        syncDirectory(m_path);
    }
    const qint64 half = journal.size() / 2;
    writeAll(m_journalFd, journal.constData(), half, 0, journalPath());
    step(1);
    writeAll(m_journalFd, journal.constData() + half, journal.size() - half, half, journalPath());
    if (::ftruncate(m_journalFd, journal.size()) != 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(journalPath()));
    syncFile(m_journalFd, journalPath());
    m_journalPending = true;
    step(2);

    // Blocks first, the headers last: a reader that knows nothing of the journal sees the old header
    // for as long as possible.
    QList<const Write *> ordered;
    for (const Write &write : writes)
        if (write.offset != 0)
            ordered.append(&write);
    for (const Write &write : writes)
        if (write.offset == 0)
            ordered.append(&write);
    bool first = true;
    bool indexWritten = false;
    for (const Write *write : ordered) {
        indexWritten = indexWritten || write->toIndex;
        const ParadoxFile &file = write->toIndex ? *m_index : *m_data;
        writeAll(file.descriptor(), write->bytes.constData(), write->bytes.size(), write->offset,
                 file.path());
        if (first)
            step(3);
        first = false;
    }
    if (dataSize >= 0 && ::ftruncate(m_data->descriptor(), dataSize) != 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(m_data->path()));
    if (m_index && indexSize >= 0 && ::ftruncate(m_index->descriptor(), indexSize) != 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(m_index->path()));
    step(4);
    syncFile(m_data->descriptor(), m_data->path());
    if (m_index && indexWritten)
        syncFile(m_index->descriptor(), m_index->path());
    step(5);
    // Done: the journal no longer holds a change. Should this not reach the disk, replaying the
    // journal later writes what is there already, or finds the table changed since and drops it.
    writeAll(m_journalFd, QByteArray(8, '\0').constData(), 8, 0, journalPath());
    m_journalPending = false;
    step(6);

    m_data->reload();
    if (m_index)
        m_index->reload();
    m_blockNumber = 0;
    m_atEnd = true;
}

bool ParadoxTable::loadBlock(int number)
{
    if (number != m_blockNumber) {
        m_block = m_data->readBlock(number);
        m_blockNumber = number;
    }
    m_blockCount = m_data->recordCount(m_block);
    return m_blockCount > 0;
}

const char *ParadoxTable::record() const
{
    if (!hasRecord())
        throw ParadoxError(QStringLiteral("Tabelle %1 hat keinen aktuellen Datensatz").arg(m_path));
    return m_block.constData() + 6 + m_position * m_data->recordSize();
}

bool ParadoxTable::moveFirst()
{
    int number = m_data->firstBlock();
    for (int hops = 0; number != 0 && hops <= m_data->fileBlocks(); ++hops) {
        if (loadBlock(number)) {
            m_position = 0;
            m_atEnd = false;
            return true;
        }
        number = ParadoxFile::nextBlock(m_block);
    }
    m_atEnd = true;
    return false;
}

bool ParadoxTable::moveNext()
{
    if (m_atEnd || m_blockNumber == 0)
        return false;
    if (++m_position < m_blockCount)
        return true;
    int number = ParadoxFile::nextBlock(m_block);
    for (int hops = 0; number != 0 && hops <= m_data->fileBlocks(); ++hops) {
        if (loadBlock(number)) {
            m_position = 0;
            return true;
        }
        number = ParadoxFile::nextBlock(m_block);
    }
    m_position = m_blockCount;
    m_atEnd = true;
    return false;
}

int ParadoxTable::compareKey(const char *record, const QByteArray &key) const
{
    return std::memcmp(record, key.constData(), key.size());
}

QList<ParadoxTable::IndexEntry> ParadoxTable::readIndexBlock(int number) const
{
    const QByteArray block = m_index->readBlock(number);
    const int count = m_index->recordCount(block);
    const int keySize = m_index->keySize();
    QList<IndexEntry> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        const char *entry = block.constData() + 6 + i * m_index->recordSize();
        entries.append(
            {QByteArray(entry, keySize), readShort(entry + keySize), readShort(entry + keySize + 2)});
    }
    return entries;
}

bool ParadoxTable::seek(const QByteArray &keyPrefix)
{
    const int savedBlock = m_blockNumber, savedPosition = m_position;
    const QByteArray savedData = m_block;
    const bool savedEnd = m_atEnd;
    const auto restore = [&] {
        m_blockNumber = savedBlock;
        m_block = savedData;
        m_position = savedPosition;
        m_atEnd = savedEnd;
        if (m_blockNumber > 0)
            m_blockCount = m_data->recordCount(m_block);
        return false;
    };
    const bool ordered =
        m_data->fileType() == ParadoxFile::KeyedTable && keyPrefix.size() <= m_data->keySize();

    int start = m_data->firstBlock();
    if (ordered && m_index && m_index->indexLevels() > 0 && m_index->indexRoot() > 0) {
        // Descend to the last entry whose key is below the prefix: the first record with that key may
        // sit at the end of the block before the one whose first key it is.
        int number = m_index->indexRoot();
        for (int level = m_index->indexLevels(); level >= 1; --level) {
            const QList<IndexEntry> entries = readIndexBlock(number);
            if (entries.isEmpty())
                throw ParadoxError(
                    QStringLiteral("Datei %1 hat einen leeren Indexblock").arg(m_index->path()));
            const auto above =
                std::partition_point(entries.begin(), entries.end(), [&](const IndexEntry &entry) {
                    return std::memcmp(entry.key.constData(), keyPrefix.constData(), keyPrefix.size()) < 0;
                });
            number = entries.at(std::max<qsizetype>(0, (above - entries.begin()) - 1)).block;
        }
        start = number;
    }
    int number = start;
    for (int hops = 0; number != 0 && hops <= m_data->fileBlocks(); ++hops) {
        if (loadBlock(number)) {
            for (int i = 0; i < m_blockCount; ++i) {
                const int order = compareKey(m_block.constData() + 6 + i * m_data->recordSize(), keyPrefix);
                if (order == 0) {
                    m_position = i;
                    m_atEnd = false;
                    return true;
                }
                if (order > 0 && ordered)
                    return restore();
            }
        }
        number = ParadoxFile::nextBlock(m_block);
    }
    return restore();
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

QByteArray ParadoxTable::indexBlockBytes(const QList<IndexEntry> &entries, int next, int previous) const
{
    QByteArray block(m_index->blockSize(), '\0');
    ParadoxFile::setNextBlock(block, next);
    ParadoxFile::setPreviousBlock(block, previous);
    m_index->setRecordCount(block, static_cast<int>(entries.size()));
    const int keySize = m_index->keySize();
    for (int i = 0; i < entries.size(); ++i) {
        char *entry = block.data() + 6 + i * m_index->recordSize();
        std::memcpy(entry, entries.at(i).key.constData(), keySize);
        writeShort(entry + keySize, entries.at(i).block);
        writeShort(entry + keySize + 2, entries.at(i).count);
        writeShort(entry + keySize + 4, 0);
    }
    return block;
}

QList<ParadoxTable::Write> ParadoxTable::indexRebuild(const QList<IndexEntry> &leaves,
                                                      qint64 &indexSize) const
{
    // Levels bottom up; blocks numbered in that order and chained one after the other, the root last.
    // Blocks are left a fifth empty, so that most later splits find room for their entry.
    const int capacity = std::max(1, m_index->blockCapacity() - m_index->blockCapacity() / 5);
    QList<QList<IndexEntry>> blocks;
    QList<IndexEntry> level = leaves;
    int levels = 0;
    while (!level.isEmpty()) {
        ++levels;
        QList<IndexEntry> upper;
        for (qsizetype start = 0; start < level.size(); start += capacity) {
            const QList<IndexEntry> chunk = level.mid(start, capacity);
            int sum = 0;
            for (const IndexEntry &entry : chunk)
                sum += entry.count;
            blocks.append(chunk);
            upper.append({chunk.first().key, static_cast<int>(blocks.size()), sum & 0xFFFF});
        }
        if (upper.size() == 1)
            break;
        level = upper;
    }
    const int total = static_cast<int>(blocks.size());
    QList<Write> writes;
    QByteArray header = m_index->header();
    int entries = 0;
    for (int i = 0; i < total; ++i) {
        entries += static_cast<int>(blocks.at(i).size());
        writes.append(
            {true, m_index->blockOffset(i + 1),
             m_index->storedBlock(i + 1, indexBlockBytes(blocks.at(i), i + 1 < total ? i + 2 : 0, i))});
    }
    ParadoxFile::setHeaderLong(header, 0x06, entries);
    ParadoxFile::setHeaderWord(header, 0x0A, total);
    ParadoxFile::setHeaderWord(header, 0x0C, total);
    ParadoxFile::setHeaderWord(header, 0x0E, total > 0 ? 1 : 0);
    ParadoxFile::setHeaderWord(header, 0x10, total);
    ParadoxFile::setHeaderWord(header, 0x1E, total);
    header[0x20] = static_cast<char>(levels);
    writes.append({true, 0, header});
    indexSize = m_index->blockOffset(total + 1);
    return writes;
}

void ParadoxTable::checkInsertable() const
{
    if (!m_writable)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist nur zum Lesen geöffnet").arg(m_path));
    if (m_data->fileType() != ParadoxFile::KeyedTable || m_data->keyFieldCount() == 0 || !m_index)
        throw ParadoxError(QStringLiteral("Tabelle %1 hat keinen Primärindex").arg(m_path));
    for (int i = 0; i < m_data->keyFieldCount(); ++i)
        if (!m_data->fields().at(i).ordersBytewise())
            throw ParadoxError(QStringLiteral("Tabelle %1: Schlüsselfeld %2 wird nicht unterstützt")
                                   .arg(m_path, m_data->fields().at(i).name));
    if (m_data->fileBlocks() >= 0xFFFE || m_index->fileBlocks() >= 0xFFFE)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist voll").arg(m_path));
}

std::vector<ParadoxTable::IndexNode> ParadoxTable::indexPath(const QByteArray &key, int &slot) const
{
    // From the root to the leaf entry of the block where `key` belongs: at each level the last entry
    // whose key is not above it (the first entry when all are).
    std::vector<IndexNode> path;
    int number = m_index->indexRoot();
    for (int level = m_index->indexLevels(); level >= 1; --level) {
        if (static_cast<int>(path.size()) > m_index->fileBlocks())
            throw ParadoxError(QStringLiteral("Datei %1 hat einen Kreis im Index").arg(m_index->path()));
        IndexNode node{number, readIndexBlock(number), static_cast<int>(path.size()) - 1, slot};
        if (node.entries.isEmpty())
            throw ParadoxError(QStringLiteral("Datei %1 hat einen leeren Indexblock").arg(m_index->path()));
        const auto above =
            std::partition_point(node.entries.begin(), node.entries.end(), [&](const IndexEntry &entry) {
                return std::memcmp(entry.key.constData(), key.constData(), key.size()) <= 0;
            });
        slot = static_cast<int>(std::max<qsizetype>(0, (above - node.entries.begin()) - 1));
        number = node.entries.at(slot).block;
        path.push_back(std::move(node));
    }
    return path;
}

void ParadoxTable::insert(const QByteArray &record)
{
    checkInsertable();
    if (record.size() != m_data->recordSize())
        throw ParadoxError(QStringLiteral("Tabelle %1: falsche Satzlänge").arg(m_path));
    const int recordSize = m_data->recordSize();
    const QByteArray key = record.left(m_data->keySize());

    QByteArray header = m_data->header();
    ParadoxFile::setHeaderLong(header, 0x06, m_data->numRecords() + 1);
    header[0x2D] = static_cast<char>(header.at(0x2D) + 1); // change counter: other users re-read the table

    QList<Write> writes;
    qint64 indexSize = -1;
    const auto blockWrite = [&](int number, const QByteArray &plain) {
        writes.append({false, m_data->blockOffset(number), m_data->storedBlock(number, plain)});
    };
    const auto indexWrite = [&](const IndexNode &node) {
        const QByteArray stored = m_index->readBlock(node.block);
        writes.append(
            {true, m_index->blockOffset(node.block),
             m_index->storedBlock(node.block, indexBlockBytes(node.entries, ParadoxFile::nextBlock(stored),
                                                              ParadoxFile::previousBlock(stored)))});
    };
    const auto allLeaves = [&] {
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
    };

    if (m_data->numRecords() == 0 || m_index->indexLevels() == 0) {
        if (!allLeaves().isEmpty())
            throw ParadoxError(QStringLiteral("Der Primärindex von %1 passt nicht zur Tabelle").arg(m_path));
        const int number = m_data->fileBlocks() + 1;
        QByteArray block(m_data->blockSize(), '\0');
        m_data->setRecordCount(block, 1);
        std::memcpy(block.data() + 6, record.constData(), recordSize);
        blockWrite(number, block);
        ParadoxFile::setHeaderWord(header, 0x0A, 1);
        ParadoxFile::setHeaderWord(header, 0x0C, number);
        ParadoxFile::setHeaderWord(header, 0x0E, number);
        ParadoxFile::setHeaderWord(header, 0x10, number);
        writes += indexRebuild({{key, number, 1}}, indexSize);
        writes.append({false, 0, header});
        commit(writes, -1, indexSize);
        return;
    }

    int slot = -1;
    std::vector<IndexNode> path = indexPath(key, slot);
    qint64 rootCount = 0;
    for (const IndexEntry &entry : path.front().entries)
        rootCount += entry.count;
    if ((rootCount & 0xFFFF) != (m_data->numRecords() & 0xFFFF))
        throw ParadoxError(QStringLiteral("Der Primärindex von %1 passt nicht zur Tabelle").arg(m_path));
    IndexNode &leafNode = path.back();
    const int number = leafNode.entries.at(slot).block;
    QByteArray block = m_data->readBlock(number);
    const int count = m_data->recordCount(block);
    if (count != leafNode.entries.at(slot).count)
        throw ParadoxError(QStringLiteral("Der Primärindex von %1 passt nicht zur Tabelle").arg(m_path));
    int position = 0;
    while (position < count && compareKey(block.constData() + 6 + position * recordSize, key) <= 0)
        ++position;
    if (position > 0 && compareKey(block.constData() + 6 + (position - 1) * recordSize, key) == 0)
        throw ParadoxError(QStringLiteral("Schlüssel bereits vorhanden in Tabelle %1").arg(m_path));

    QByteArray records = block.mid(6, count * recordSize);
    records.insert(position * recordSize, record);
    // Counts on the path to the block grow by one; index blocks are patched in place.
    const auto countPath = [&] {
        int at = slot;
        for (int node = static_cast<int>(path.size()) - 1; node >= 0; --node) {
            IndexEntry &entry = path[node].entries[at];
            entry.count = (entry.count + (node == static_cast<int>(path.size()) - 1 ? 0 : 1)) & 0xFFFF;
            at = path[node].parentSlot;
        }
    };

    if (count < m_data->blockCapacity()) {
        std::memcpy(block.data() + 6, records.constData(), records.size());
        m_data->setRecordCount(block, count + 1);
        blockWrite(number, block);
        if (position == 0 && key < leafNode.entries.at(slot).key) {
            // A new first key of the table: the keys on the path change, rebuild the index.
            QList<IndexEntry> leaves = allLeaves();
            leaves[0] = {key, number, count + 1};
            writes += indexRebuild(leaves, indexSize);
        } else {
            leafNode.entries[slot].count = count + 1;
            countPath();
            for (const IndexNode &node : path)
                indexWrite(node);
        }
    } else {
        // Split the full block: its upper half moves to a new block chained in after it.
        const int total = count + 1;
        const int lower = total / 2;
        const int added = m_data->fileBlocks() + 1;
        const int following = ParadoxFile::nextBlock(block);

        QByteArray left(m_data->blockSize(), '\0');
        ParadoxFile::setNextBlock(left, added);
        ParadoxFile::setPreviousBlock(left, ParadoxFile::previousBlock(block));
        m_data->setRecordCount(left, lower);
        std::memcpy(left.data() + 6, records.constData(), lower * recordSize);

        QByteArray right(m_data->blockSize(), '\0');
        ParadoxFile::setNextBlock(right, following);
        ParadoxFile::setPreviousBlock(right, number);
        m_data->setRecordCount(right, total - lower);
        std::memcpy(right.data() + 6, records.constData() + lower * recordSize, (total - lower) * recordSize);

        blockWrite(number, left);
        blockWrite(added, right);
        if (following != 0) {
            QByteArray next = m_data->readBlock(following);
            ParadoxFile::setPreviousBlock(next, added);
            blockWrite(following, next);
        } else {
            ParadoxFile::setHeaderWord(header, 0x10, added);
        }
        ParadoxFile::setHeaderWord(header, 0x0A, m_data->usedBlocks() + 1);
        ParadoxFile::setHeaderWord(header, 0x0C, added);
        const IndexEntry leftEntry{records.left(key.size()), number, lower};
        const IndexEntry rightEntry{records.mid(lower * recordSize, key.size()), added, total - lower};
        if (leafNode.entries.size() < m_index->blockCapacity() &&
            !(slot == 0 && leftEntry.key != leafNode.entries.at(0).key)) {
            // The new block's entry fits beside the old one's: patch the path in place.
            leafNode.entries[slot] = leftEntry;
            leafNode.entries.insert(slot + 1, rightEntry);
            countPath();
            for (const IndexNode &node : path)
                indexWrite(node);
            QByteArray indexHeader = m_index->header();
            ParadoxFile::setHeaderLong(indexHeader, 0x06, m_index->numRecords() + 1);
            writes.append({true, 0, indexHeader});
        } else {
            QList<IndexEntry> leaves = allLeaves();
            int leaf = 0;
            while (leaf < leaves.size() && leaves.at(leaf).block != number)
                ++leaf;
            if (leaf == leaves.size())
                throw ParadoxError(
                    QStringLiteral("Der Primärindex von %1 passt nicht zur Tabelle").arg(m_path));
            leaves[leaf] = leftEntry;
            leaves.insert(leaf + 1, rightEntry);
            writes += indexRebuild(leaves, indexSize);
        }
    }
    writes.append({false, 0, header});
    commit(writes, -1, indexSize);
}

void ParadoxTable::rebuild(QList<QByteArray> records)
{
    if (!m_writable)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist nur zum Lesen geöffnet").arg(m_path));
    const int recordSize = m_data->recordSize();
    const int keySize = m_data->keySize();
    const bool keyed = m_data->fileType() == ParadoxFile::KeyedTable && keySize > 0;
    if (keyed) {
        checkInsertable();
        std::sort(records.begin(), records.end(), [keySize](const QByteArray &a, const QByteArray &b) {
            return std::memcmp(a.constData(), b.constData(), keySize) < 0;
        });
        for (qsizetype i = 1; i < records.size(); ++i)
            if (std::memcmp(records.at(i - 1).constData(), records.at(i).constData(), keySize) == 0)
                throw ParadoxError(QStringLiteral("Schlüssel mehrfach vorhanden für Tabelle %1").arg(m_path));
    }
    const int capacity = m_data->blockCapacity();
    const int blocks = static_cast<int>((records.size() + capacity - 1) / capacity);
    if (blocks >= 0xFFFE)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist voll").arg(m_path));

    QByteArray contents = m_data->header();
    contents.reserve(m_data->headerSize() + qint64(blocks) * m_data->blockSize());
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
            std::memcpy(block.data() + 6 + i * recordSize, records.at(start + i).constData(), recordSize);
        }
        contents += m_data->storedBlock(b + 1, block);
        leaves.append({records.at(start).left(keySize), b + 1, count});
    }
    ParadoxFile::setHeaderLong(contents, 0x06, static_cast<quint32>(records.size()));
    ParadoxFile::setHeaderWord(contents, 0x0A, blocks);
    ParadoxFile::setHeaderWord(contents, 0x0C, blocks);
    ParadoxFile::setHeaderWord(contents, 0x0E, blocks > 0 ? 1 : 0);
    ParadoxFile::setHeaderWord(contents, 0x10, blocks);
    contents[0x2D] = static_cast<char>(contents.at(0x2D) + 1);

    QList<Write> writes{{false, 0, contents}};
    qint64 indexSize = -1;
    if (keyed)
        writes += indexRebuild(leaves, indexSize);
    commit(writes, contents.size(), indexSize);
}
