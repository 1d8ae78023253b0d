#include "paradox/paradoxtable.h"

#include "core/programfiles.h"
#include "paradox/paradoxerror.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char journalMagic[] = "ZJRNL002";
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
    Descriptor() = default;
    Descriptor(Descriptor &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool isKeyedType(quint8 type)
{
    switch (type) {
    case ParadoxFile::KeyedTable:
    case ParadoxFile::SecondaryTable:
    case ParadoxFile::IncrementalSecondaryTable:
    case ParadoxFile::CompositeSecondaryTable:
    case ParadoxFile::IncrementalCompositeSecondaryTable:
        return true;
    default:
        return false;
    }
}

bool isCompositeType(quint8 type)
{
    return type == ParadoxFile::CompositeSecondaryTable ||
           type == ParadoxFile::IncrementalCompositeSecondaryTable;
}

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
        openFiles();
    } catch (...) {
        ::close(m_lockFd);
        throw;
    }
}

// A secondary index opened as a keyed table of its own: its owner locks and journals for it.
ParadoxTable::ParadoxTable(const QString &path, bool writable, Member member)
    : m_path(path), m_writable(writable), m_member(member)
{
    openFiles();
}

void ParadoxTable::openFiles()
{
    m_data = std::make_unique<ParadoxFile>(m_path, m_writable);
    if (isKeyedType(m_data->fileType()) && m_data->keyFieldCount() > 0) {
        const QString px = indexPath();
        if (QFileInfo::exists(px)) {
            m_index = std::make_unique<ParadoxFile>(px, m_writable);
            const quint8 expected = m_data->fileType() == ParadoxFile::KeyedTable ? ParadoxFile::PrimaryIndex
                                    : isCompositeType(m_data->fileType())
                                        ? ParadoxFile::CompositeSecondaryIndex
                                        : ParadoxFile::SecondaryIndex;
            if (m_index->fileType() != expected || m_index->keySize() != m_data->keySize())
                throw ParadoxError(QStringLiteral("Datei %1 ist nicht der Index von %2").arg(px, m_path));
        }
    }
}

ParadoxTable::~ParadoxTable()
{
    m_secondaries.clear();
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
    // The primary index is <table>.PX; the index of a secondary index <table>.Xnn is <table>.Ynn.
    const QFileInfo info(m_path);
    QString suffix = info.suffix();
    if (m_data && m_data->fileType() != ParadoxFile::KeyedTable &&
        suffix.startsWith(QLatin1Char('X'), Qt::CaseInsensitive))
        suffix[0] = QLatin1Char('Y');
    else
        suffix = QStringLiteral("PX");
    return ProgramFiles::resolve(info.absolutePath() + QLatin1Char('/'),
                                 info.completeBaseName() + QLatin1Char('.') + suffix);
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
    QByteArray before, after;
    quint32 fileCount;
    in >> before >> after >> fileCount;

    // A journal whose change is neither pending nor done is older than the table (someone changed it
    // since): replaying it would destroy that change.
    {
        QFile table(m_path);
        if (!table.open(QIODevice::ReadOnly))
            throw ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
        const QByteArray current = table.read(before.size());
        if (current != before && current != after) {
            drop();
            return;
        }
    }
    const QString folder = QFileInfo(m_path).absolutePath() + QLatin1Char('/');
    std::vector<Descriptor> descriptors(fileCount);
    QStringList paths;
    QList<qint64> sizes;
    for (quint32 i = 0; i < fileCount && in.status() == QDataStream::Ok; ++i) {
        QByteArray name;
        qint64 size;
        in >> name >> size;
        paths.append(folder + QString::fromUtf8(name));
        sizes.append(size);
        descriptors[i].fd = ::open(QFile::encodeName(paths.last()).constData(), O_RDWR | O_CLOEXEC);
        if (descriptors[i].fd < 0 || name.contains('/'))
            throw ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
    }
    quint32 count;
    in >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        quint32 file;
        qint64 offset;
        QByteArray block;
        in >> file >> offset >> block;
        if (file >= fileCount || offset < 0)
            break;
        writeAll(descriptors[file].fd, block.constData(), block.size(), offset, paths.at(file));
    }
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (sizes.at(i) >= 0 && ::ftruncate(descriptors[i].fd, sizes.at(i)) != 0)
            throw ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
        syncFile(descriptors[i].fd, paths.at(i));
    }
    drop();
}

QList<ParadoxFile *> ParadoxTable::files() const
{
    // Every file a change may touch, the table first.
    QList<ParadoxFile *> result{m_data.get()};
    if (m_index)
        result.append(m_index.get());
    for (const Secondary &secondary : m_secondaries)
        result += secondary.table->files();
    return result;
}

void ParadoxTable::discardStaged()
{
    for (ParadoxFile *file : files())
        file->restoreStaged({});
}

void ParadoxTable::commit()
{
    const QList<ParadoxFile *> family = files();
    QList<Write> writes;
    QList<qint64> sizes;
    for (int i = 0; i < family.size(); ++i) {
        const ParadoxFile &file = *family.at(i);
        const ParadoxFile::Staged &staged = file.staged();
        for (auto block = staged.blocks.cbegin(); block != staged.blocks.cend(); ++block) {
            const QByteArray stored = file.storedBlock(block.key(), block.value());
            const qint64 offset = file.blockOffset(block.key());
            // Neighbouring blocks go out in one write.
            if (!writes.isEmpty() && writes.last().file == i &&
                writes.last().offset + writes.last().bytes.size() == offset)
                writes.last().bytes += stored;
            else
                writes.append({i, offset, stored});
        }
        sizes.append(staged.size);
    }
    // The headers last: a reader that knows nothing of the journal sees the old header until all
    // blocks are in place. Blocks beyond the old end of a file come first: no old header reaches them.
    std::stable_partition(writes.begin(), writes.end(), [&](const Write &write) {
        return write.offset >= family.at(write.file)->fileSize();
    });
    for (int i = 0; i < family.size(); ++i)
        if (!family.at(i)->staged().header.isEmpty())
            writes.append({i, 0, family.at(i)->header()});
    if (writes.isEmpty())
        return;

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

    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out << m_data->storedHeader().left(guardedHeaderBytes) << m_data->header().left(guardedHeaderBytes)
            << quint32(family.size());
        for (int i = 0; i < family.size(); ++i)
            out << QFileInfo(family.at(i)->path()).fileName().toUtf8() << sizes.at(i);
        out << quint32(writes.size());
        for (const Write &write : writes)
            out << quint32(write.file) << write.offset << write.bytes;
    }
    QByteArray journal = QByteArray(journalMagic, 8) + payload;
    const quint64 sum = fnv1a(journal.constData(), journal.size());
    journal.append(reinterpret_cast<const char *>(&sum), 8);

    // The journal stays open for the whole use and is removed when the table is closed: one
    // directory change per use, not per change.
    const bool created = m_journalFd < 0;
    if (created) {
        m_journalFd = ::open(QFile::encodeName(journalPath()).constData(),
                             O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_journalFd < 0)
            throw ParadoxError(QStringLiteral("Datei %1 kann nicht angelegt werden").arg(journalPath()));
    }
    const qint64 half = journal.size() / 2;
    writeAll(m_journalFd, journal.constData(), half, 0, journalPath());
    step(1);
    writeAll(m_journalFd, journal.constData() + half, journal.size() - half, half, journalPath());
    if (::ftruncate(m_journalFd, journal.size()) != 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(journalPath()));
    syncFile(m_journalFd, journalPath());
    // The new journal's name must be on disk too before the table changes. Synced after its
    // contents, this usually finds the name written with them already and costs little.
    if (created)
        syncDirectory(m_path);
    m_journalPending = true;
    step(2);

    QList<bool> written(family.size(), false);
    bool first = true;
    for (const Write &write : writes) {
        const ParadoxFile &file = *family.at(write.file);
        writeAll(file.descriptor(), write.bytes.constData(), write.bytes.size(), write.offset, file.path());
        written[write.file] = true;
        if (first)
            step(3);
        first = false;
    }
    for (int i = 0; i < family.size(); ++i)
        if (sizes.at(i) >= 0 && ::ftruncate(family.at(i)->descriptor(), sizes.at(i)) != 0)
            throw ParadoxError(
                QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(family.at(i)->path()));
    step(4);
    for (int i = 0; i < family.size(); ++i)
        if (written.at(i) || sizes.at(i) >= 0)
            syncFile(family.at(i)->descriptor(), family.at(i)->path());
    step(5);
    // Done: the journal no longer holds a change. Should this not reach the disk, replaying the
    // journal later writes what is there already, or finds the table changed since and drops it.
    writeAll(m_journalFd, QByteArray(8, '\0').constData(), 8, 0, journalPath());
    m_journalPending = false;
    step(6);

    for (ParadoxFile *file : family)
        file->reload();
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
    m_hops = 0;
    return advanceTo(m_data->firstBlock());
}

bool ParadoxTable::moveNext()
{
    if (m_atEnd || m_blockNumber == 0)
        return false;
    if (++m_position < m_blockCount)
        return true;
    return advanceTo(ParadoxFile::nextBlock(m_block));
}

bool ParadoxTable::advanceTo(int number)
{
    // A walk from the first block visits each block once; more visits than the file has blocks mean
    // that the chain runs in a circle, and a reader would never reach the end.
    for (; number != 0; number = ParadoxFile::nextBlock(m_block)) {
        if (++m_hops > m_data->fileBlocks())
            throw ParadoxError(QStringLiteral("Datei %1 hat einen Kreis in der Blockkette").arg(m_path));
        if (loadBlock(number)) {
            m_position = 0;
            m_atEnd = false;
            return true;
        }
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
        if (number < 1 || number > m_data->fileBlocks())
            throw ParadoxError(QStringLiteral("Datei %1 verweist auf Block %2, der nicht zur Tabelle gehört")
                                   .arg(m_index->path())
                                   .arg(number));
        start = number;
    }
    int number = start;
    for (int hops = 1; number != 0; ++hops) {
        if (hops > m_data->fileBlocks())
            throw ParadoxError(QStringLiteral("Datei %1 hat einen Kreis in der Blockkette").arg(m_path));
        if (loadBlock(number)) {
            for (int i = 0; i < m_blockCount; ++i) {
                const int order = compareKey(m_block.constData() + 6 + i * m_data->recordSize(), keyPrefix);
                if (order == 0) {
                    m_position = i;
                    m_atEnd = false;
                    m_hops = hops;
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

void ParadoxTable::indexRebuild(const QList<IndexEntry> &leaves)
{
    // Levels bottom up, each cut into blocks left a fifth empty, so that most later splits find room
    // for their entry. levels[0] holds the blocks over the data blocks, the last level the root.
    const int capacity = std::max(1, m_index->blockCapacity() - m_index->blockCapacity() / 5);
    QList<QList<QList<IndexEntry>>> levels;
    for (QList<IndexEntry> entries = leaves; !entries.isEmpty();) {
        QList<QList<IndexEntry>> blocks;
        for (qsizetype start = 0; start < entries.size(); start += capacity)
            blocks.append(entries.mid(start, capacity));
        levels.append(blocks);
        if (blocks.size() == 1)
            break;
        entries.clear();
        for (const QList<IndexEntry> &block : std::as_const(blocks)) {
            int sum = 0;
            for (const IndexEntry &entry : block)
                sum += entry.count;
            entries.append({block.first().key, static_cast<int>(entries.size()), sum & 0xFFFF});
        }
    }
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
    ParadoxFile::setHeaderLong(header, 0x06, entries);
    ParadoxFile::setHeaderWord(header, 0x0A, total);
    ParadoxFile::setHeaderWord(header, 0x0C, total);
    ParadoxFile::setHeaderWord(header, 0x0E, total > 0 ? 1 : 0);
    ParadoxFile::setHeaderWord(header, 0x10, total);
    ParadoxFile::setHeaderWord(header, 0x1E, total > 0 ? 1 : 0);
    header[0x20] = static_cast<char>(levels.size());
    m_index->stageHeader(header);
    m_index->stageSize(m_index->blockOffset(total + 1));
}

int ParadoxTable::compareKeys(const char *a, const char *b, int length) const
{
    // Numbers, dates and times order by their bytes; so does text under the sort order "ascii". Under
    // a national sort order this layer knows the order of blanks, digits and letters (in that order,
    // letters regardless of case); text with other characters, or differing only in case, cannot be
    // placed safely and is refused.
    const bool bytewise = m_data->sortOrder().compare(QLatin1String("ascii"), Qt::CaseInsensitive) == 0;
    const auto weight = [](unsigned char c) {
        if (c == 0)
            return 0;
        if (c == ' ')
            return 1;
        if (c >= '0' && c <= '9')
            return 2 + (c - '0');
        if (c >= 'A' && c <= 'Z')
            return 12 + (c - 'A');
        if (c >= 'a' && c <= 'z')
            return 12 + (c - 'a');
        return -1;
    };
    int offset = 0;
    for (const ParadoxField &field : m_data->fields()) {
        if (offset >= length)
            break;
        const int size = std::min(field.size, length - offset);
        if (field.type == ParadoxField::Alpha && !bytewise) {
            for (int i = 0; i < size; ++i) {
                const unsigned char x = a[offset + i], y = b[offset + i];
                const int wx = weight(x), wy = weight(y);
                if (wx < 0 || wy < 0 || (wx == wy && x != y))
                    throw ParadoxError(
                        QStringLiteral("Datei %1: die Sortierfolge %2 dieser Texte ist unbekannt")
                            .arg(m_path, m_data->sortOrder()));
                if (wx != wy)
                    return wx < wy ? -1 : 1;
                if (wx == 0)
                    break;
            }
        } else if (const int order = std::memcmp(a + offset, b + offset, size)) {
            return order;
        }
        offset += field.size;
    }
    return 0;
}

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
    if (blocks > 0 && data.fileSize() < data.blockOffset(blocks) + 6)
        throw damaged(QStringLiteral("die Datei hat weniger Blöcke, als der Kopf angibt"));
    if (data.usedBlocks() > blocks)
        throw damaged(QStringLiteral("Blockzahl"));

    // The start of every block: its header and first key. A plain file is read in large pieces, as a
    // walk through every block of a big table must stay quick; an encrypted one block by block.
    const int keySize = data.keySize();
    const int startSize = 6 + keySize;
    QByteArray starts(qsizetype(blocks) * startSize, '\0');
    if (data.encryptionKey() == 0) {
        constexpr int piece = 512;
        for (int first = 1; first <= blocks; first += piece) {
            const int count = std::min(piece, blocks - first + 1);
            const qint64 offset = data.blockOffset(first);
            const qint64 length =
                std::min<qint64>(qint64(count) * data.blockSize(), data.fileSize() - offset);
            QByteArray bytes(length, Qt::Uninitialized);
            if (::pread(data.descriptor(), bytes.data(), length, offset) != length)
                throw damaged(QStringLiteral("nicht lesbar"));
            for (int i = 0; i < count; ++i) {
                const qint64 at = qint64(i) * data.blockSize();
                std::memcpy(starts.data() + qint64(first - 1 + i) * startSize, bytes.constData() + at,
                            std::min<qint64>(startSize, length - at));
            }
        }
    } else {
        for (int number = 1; number <= blocks; ++number)
            std::memcpy(starts.data() + qint64(number - 1) * startSize, data.readBlock(number).constData(),
                        startSize);
    }

    struct ChainBlock
    {
        int number, count;
        QByteArray firstKey;
    };
    QList<ChainBlock> chain;
    std::vector<bool> visited(blocks + 1, false);
    qint64 records = 0;
    int previous = 0;
    for (int number = data.firstBlock(); number != 0;) {
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
        const int lastOffset = static_cast<qint16>(ParadoxFile::headerWord(start, 4));
        if (lastOffset >= 0 &&
            data.blockOffset(number) + 6 + lastOffset + data.recordSize() > data.fileSize())
            throw damaged(QStringLiteral("Block %1 ist unvollständig").arg(number));
        const int count = data.recordCount(start);
        chain.append({number, count, start.mid(6)});
        records += count;
        previous = number;
        number = ParadoxFile::nextBlock(start);
    }
    if (chain.size() != data.usedBlocks() || records != data.numRecords() ||
        (!chain.isEmpty() && chain.last().number != data.lastBlock()))
        throw damaged(QStringLiteral("der Kopf passt nicht zur Blockkette"));

    std::vector<IndexNode> nodes;
    std::vector<std::pair<int, int>> leaves;
    loadIndexTree(nodes, leaves);
    if (leaves.size() != static_cast<size_t>(chain.size()))
        throw damaged(QStringLiteral("der Index %1 passt nicht zur Tabelle").arg(m_index->path()));
    for (qsizetype i = 0; i < chain.size(); ++i) {
        const IndexEntry &entry = nodes[leaves[i].first].entries.at(leaves[i].second);
        if (entry.block != chain.at(i).number || entry.count != chain.at(i).count ||
            entry.key != chain.at(i).firstKey)
            throw damaged(QStringLiteral("der Index %1 passt nicht zur Tabelle").arg(m_index->path()));
    }
}

void ParadoxTable::loadSecondaries()
{
    // Secondary indexes lie beside the table: <table>.Xnn over one field, <table>.XGn composite. Each
    // is a keyed table of the indexed fields, the table's key and the number of the record's block.
    const QFileInfo info(m_path);
    const QRegularExpression pattern(QStringLiteral("^%1\\.X(G[0-9A-F]|[0-9A-F]{2})$")
                                         .arg(QRegularExpression::escape(info.completeBaseName())),
                                     QRegularExpression::CaseInsensitiveOption);
    for (const QString &name : QDir(info.absolutePath()).entryList(QDir::Files, QDir::Name)) {
        if (!pattern.match(name).hasMatch())
            continue;
        const QString path = info.absolutePath() + QLatin1Char('/') + name;
        const auto unmaintainable = [&](const QString &why) {
            return ParadoxError(
                QStringLiteral(
                    "Sekundärindex %1 kann nicht mitgeführt werden (%2); die Tabelle wird nicht verändert")
                    .arg(path, why));
        };
        Secondary secondary;
        try {
            secondary.table.reset(new ParadoxTable(path, true, Member::OfFamily));
        } catch (const ParadoxError &error) {
            throw unmaintainable(error.text());
        }
        const ParadoxTable &index = *secondary.table;
        const QList<ParadoxField> &fields = index.fields();
        const int tableKeys = m_data->keyFieldCount();
        const int indexed = index.data().keyFieldCount() - tableKeys;
        if (!index.m_index)
            throw unmaintainable(QStringLiteral("sein Index fehlt"));
        if (indexed < 1 || fields.size() != index.data().keyFieldCount() + 1 ||
            fields.last().type != ParadoxField::Short)
            throw unmaintainable(QStringLiteral("unbekannter Aufbau"));
        for (int i = 0; i + 1 < fields.size(); ++i) {
            const int source = i < indexed ? m_data->fieldIndex(fields.at(i).name) : i - indexed;
            if (source < 0 || m_data->fields().at(source).type != fields.at(i).type ||
                m_data->fields().at(source).size != fields.at(i).size ||
                (i >= indexed &&
                 m_data->fields().at(source).name.compare(fields.at(i).name, Qt::CaseInsensitive)))
                throw unmaintainable(
                    QStringLiteral("Feld %1 passt nicht zur Tabelle").arg(fields.at(i).name));
            secondary.sourceFields.append(source);
        }
        try {
            secondary.table->checkInsertable();
            secondary.table->verifyStructure();
        } catch (const ParadoxError &error) {
            throw unmaintainable(error.text());
        }
        m_secondaries.push_back(std::move(secondary));
    }
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
                return compareKeys(entry.key.constData(), key.constData(), static_cast<int>(key.size())) <= 0;
            });
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

void ParadoxTable::insert(const QByteArray &record)
{
    prepareWrite();
    try {
        stageInsert(record);
        commit();
    } catch (...) {
        discardStaged();
        throw;
    }
}

QStringList ParadoxTable::insertAll(const QList<QByteArray> &records)
{
    prepareWrite();
    QStringList results;
    try {
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
    } catch (...) {
        discardStaged();
        throw;
    }
    return results;
}

int ParadoxTable::stageInsert(const QByteArray &record)
{
    if (record.size() != m_data->recordSize())
        throw ParadoxError(QStringLiteral("Tabelle %1: falsche Satzlänge").arg(m_path));
    const int recordSize = m_data->recordSize();
    const int keySize = m_data->keySize();
    const QByteArray key = record.left(keySize);

    QByteArray header = m_data->header();
    ParadoxFile::setHeaderLong(header, 0x06, m_data->numRecords() + 1);
    if (m_data->staged().header.isEmpty())
        header[0x2D] =
            static_cast<char>(header.at(0x2D) + 1); // change counter, once per change: other users re-read
    // The table's counter follows the values written into its auto-increment field.
    for (const ParadoxField &field : m_data->fields())
        if (field.type == ParadoxField::AutoIncrement && m_data->headerSize() >= 0x4D) {
            const QVariant value = field.value(record.constData());
            if (value.isValid() && value.toLongLong() > qint64(ParadoxFile::headerLong(header, 0x49)))
                ParadoxFile::setHeaderLong(header, 0x49, value.toUInt());
        }

    const auto indexWrite = [&](const IndexNode &node) {
        const QByteArray current = m_index->readBlock(node.block);
        m_index->stageBlock(node.block, indexBlockBytes(node.entries, ParadoxFile::nextBlock(current),
                                                        ParadoxFile::previousBlock(current)));
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

    int landed = 0;                 // the block the record goes into
    QList<QByteArray> movedRecords; // by a split, into block movedTo
    int movedTo = 0;
    if (m_data->numRecords() == 0 || m_index->indexLevels() == 0) {
        if (!allLeaves().isEmpty())
            throw ParadoxError(QStringLiteral("Der Primärindex von %1 passt nicht zur Tabelle").arg(m_path));
        const int number = m_data->fileBlocks() + 1;
        QByteArray block(m_data->blockSize(), '\0');
        m_data->setRecordCount(block, 1);
        std::memcpy(block.data() + 6, record.constData(), recordSize);
        m_data->stageBlock(number, block);
        ParadoxFile::setHeaderWord(header, 0x0A, 1);
        ParadoxFile::setHeaderWord(header, 0x0C, number);
        ParadoxFile::setHeaderWord(header, 0x0E, number);
        ParadoxFile::setHeaderWord(header, 0x10, number);
        indexRebuild({{key, number, 1}});
        landed = number;
    } else {
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
        while (position < count &&
               compareKeys(block.constData() + 6 + position * recordSize, key.constData(), keySize) <= 0)
            ++position;
        if (position > 0 &&
            compareKeys(block.constData() + 6 + (position - 1) * recordSize, key.constData(), keySize) == 0)
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
            m_data->stageBlock(number, block);
            landed = number;
            if (position == 0 &&
                compareKeys(key.constData(), leafNode.entries.at(slot).key.constData(), keySize) < 0) {
                // A new first key of the table: the keys on the path change, rebuild the index.
                QList<IndexEntry> leaves = allLeaves();
                leaves[0] = {key, number, count + 1};
                indexRebuild(leaves);
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
            if (added >= 0xFFFE)
                throw ParadoxError(QStringLiteral("Tabelle %1 ist voll").arg(m_path));
            const int following = ParadoxFile::nextBlock(block);
            landed = position < lower ? number : added;

            QByteArray left(m_data->blockSize(), '\0');
            ParadoxFile::setNextBlock(left, added);
            ParadoxFile::setPreviousBlock(left, ParadoxFile::previousBlock(block));
            m_data->setRecordCount(left, lower);
            std::memcpy(left.data() + 6, records.constData(), lower * recordSize);

            QByteArray right(m_data->blockSize(), '\0');
            ParadoxFile::setNextBlock(right, following);
            ParadoxFile::setPreviousBlock(right, number);
            m_data->setRecordCount(right, total - lower);
            std::memcpy(right.data() + 6, records.constData() + lower * recordSize,
                        (total - lower) * recordSize);

            m_data->stageBlock(number, left);
            m_data->stageBlock(added, right);
            movedTo = added;
            for (int i = lower; i < total; ++i)
                if (i != position)
                    movedRecords.append(records.mid(i * recordSize, recordSize));
            if (following != 0) {
                QByteArray next = m_data->readBlock(following);
                ParadoxFile::setPreviousBlock(next, added);
                m_data->stageBlock(following, next);
            } else {
                ParadoxFile::setHeaderWord(header, 0x10, added);
            }
            ParadoxFile::setHeaderWord(header, 0x0A, m_data->usedBlocks() + 1);
            ParadoxFile::setHeaderWord(header, 0x0C, added);
            const IndexEntry leftEntry{records.left(keySize), number, lower};
            const IndexEntry rightEntry{records.mid(lower * recordSize, keySize), added, total - lower};
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
                m_index->stageHeader(indexHeader);
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
                indexRebuild(leaves);
            }
        }
    }
    m_data->stageHeader(header);

    // Each secondary index gets the record's entry, and the entries of records that a split moved get
    // the number of their new block.
    for (const Secondary &secondary : m_secondaries) {
        const QList<ParadoxField> &fields = secondary.table->fields();
        const auto entryOf = [&](const char *source) {
            QByteArray entry(secondary.table->data().recordSize(), '\0');
            for (qsizetype i = 0; i < secondary.sourceFields.size(); ++i)
                std::memcpy(entry.data() + fields.at(i).offset,
                            source + m_data->fields().at(secondary.sourceFields.at(i)).offset,
                            fields.at(i).size);
            return entry;
        };
        for (const QByteArray &moved : movedRecords)
            secondary.table->stageBlockHint(entryOf(moved.constData()), movedTo);
        QByteArray entry = entryOf(record.constData());
        fields.last().setValue(entry.data(), landed);
        secondary.table->stageInsert(entry);
    }
    return landed;
}

void ParadoxTable::stageBlockHint(const QByteArray &entry, int block)
{
    const int keySize = m_data->keySize();
    int slot = -1;
    const std::vector<IndexNode> path = indexPath(entry.left(keySize), slot);
    const int number = path.back().entries.at(slot).block;
    QByteArray data = m_data->readBlock(number);
    const int count = m_data->recordCount(data);
    for (int i = 0; i < count; ++i) {
        char *stored = data.data() + 6 + i * m_data->recordSize();
        if (compareKeys(stored, entry.constData(), keySize) == 0) {
            fields().last().setValue(stored, block);
            m_data->stageBlock(number, data);
            return;
        }
    }
    throw ParadoxError(
        QStringLiteral("Sekundärindex %1 ist veraltet; die Tabelle wird nicht verändert").arg(m_path));
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
    const int blocks = static_cast<int>((records.size() + capacity - 1) / capacity);
    if (blocks >= 0xFFFE)
        throw ParadoxError(QStringLiteral("Tabelle %1 ist voll").arg(m_path));

    QList<IndexEntry> leaves;
    try {
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
            m_data->stageBlock(b + 1, block);
            leaves.append({records.at(start).left(keySize), b + 1, count});
        }
        QByteArray header = m_data->header();
        ParadoxFile::setHeaderLong(header, 0x06, static_cast<quint32>(records.size()));
        ParadoxFile::setHeaderWord(header, 0x0A, blocks);
        ParadoxFile::setHeaderWord(header, 0x0C, blocks);
        ParadoxFile::setHeaderWord(header, 0x0E, blocks > 0 ? 1 : 0);
        ParadoxFile::setHeaderWord(header, 0x10, blocks);
        header[0x2D] = static_cast<char>(header.at(0x2D) + 1);
        m_data->stageHeader(header);
        m_data->stageSize(m_data->blockOffset(blocks + 1));
        if (keyed)
            indexRebuild(leaves);
        commit();
    } catch (...) {
        discardStaged();
        throw;
    }
}
