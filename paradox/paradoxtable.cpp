#include "paradox/paradoxtable.h"

#include "core/programfiles.h"
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtableparts.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <fcntl.h>

using namespace ParadoxTableParts;

namespace {

int &lockWait()
{
    static int milliseconds = 5000;
    return milliseconds;
}

// The table's lock covers the bytes up to `queueByte`; a writer waiting for its turn holds a shared
// lock on that byte, far beyond the end of any table, so that a writer just done lets it go first.
constexpr off_t queueByte = off_t(1) << 62;

bool setLock(int fd, short type, off_t start = 0, off_t length = queueByte)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool othersQueued(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = queueByte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

ParadoxError locked(const QString &path)
{
    return ParadoxError(QStringLiteral("Tabelle %1 ist von einem anderen Programm gesperrt").arg(path));
}

} // namespace

std::function<void(int)> &ParadoxTableParts::commitHook()
{
    static std::function<void(int)> hook;
    return hook;
}

void ParadoxTableParts::step(int number)
{
    if (commitHook())
        commitHook()(number);
}

bool ParadoxTableParts::isKeyedType(quint8 type)
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

bool ParadoxTableParts::isCompositeType(quint8 type)
{
    return type == ParadoxFile::CompositeSecondaryTable ||
           type == ParadoxFile::IncrementalCompositeSecondaryTable;
}

int ParadoxTableParts::readShort(const char *bytes)
{
    return ((static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1])) ^ 0x8000;
}

void ParadoxTableParts::writeShort(char *bytes, int value)
{
    const int raw = (value & 0xFFFF) ^ 0x8000;
    bytes[0] = static_cast<char>(raw >> 8);
    bytes[1] = static_cast<char>(raw & 0xFF);
}

void ParadoxTable::setCommitHook(std::function<void(int)> hook)
{
    commitHook() = std::move(hook);
}

void ParadoxTable::setLockWait(int milliseconds)
{
    lockWait() = milliseconds;
}

ParadoxTable::ParadoxTable(const QString &path, bool writable) : m_path(path), m_writable(writable)
{
    m_lock = ParadoxIo::open(path, O_RDWR);
    if (!m_lock.isOpen())
        m_lock = ParadoxIo::open(path, O_RDONLY);
    if (!m_lock.isOpen())
        throw ParadoxError(
            QStringLiteral("Datei %1 kann nicht geöffnet werden: %2").arg(path, ParadoxIo::lastError()));
    lockShared();
    openFiles();
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
    if (!isKeyedType(m_data->fileType()) || m_data->keyFieldCount() == 0)
        return;
    const QString px = indexPath();
    if (!QFileInfo::exists(px))
        return;
    m_index = std::make_unique<ParadoxFile>(px, m_writable);
    const quint8 expected = m_data->fileType() == ParadoxFile::KeyedTable ? ParadoxFile::PrimaryIndex
                            : isCompositeType(m_data->fileType()) ? ParadoxFile::CompositeSecondaryIndex
                                                                  : ParadoxFile::SecondaryIndex;
    if (m_index->fileType() != expected || m_index->keySize() != m_data->keySize())
        throw ParadoxError(QStringLiteral("Datei %1 ist nicht der Index von %2").arg(px, m_path));
}

ParadoxTable::~ParadoxTable()
{
    m_secondaries.clear();
    m_index.reset();
    m_data.reset();
    // The journal goes with the last user that changed the table. One that still holds a change (a
    // write failed half-way) stays: the next open finishes it.
    if (m_journal.isOpen()) {
        m_journal.reset();
        if (!journalHoldsChange())
            QFile::remove(journalPath());
    }
    // m_lock closes last: that releases the lock of this open file description.
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

void ParadoxTable::waitForLock(const std::function<bool()> &attempt)
{
    const QDeadlineTimer deadline(lockWait());
    while (!attempt()) {
        if (deadline.hasExpired())
            throw locked(m_path);
        QThread::msleep(2);
    }
}

void ParadoxTable::lockShared()
{
    // A change left by a writer that died is finished under the exclusive lock before anyone reads;
    // a writer still at work keeps its exclusive lock, and we wait for it. Never waiting with the
    // shared lock held: two openers would each wait for the other.
    const int fd = m_lock.get();
    waitForLock([&] {
        if (!journalHoldsChange()) {
            if (!setLock(fd, F_RDLCK))
                return false;
            if (!journalHoldsChange())
                return true;
            setLock(fd, F_UNLCK); // a writer died just now: its change is finished first
            return false;
        }
        if (!setLock(fd, F_WRLCK))
            return false;
        if (journalHoldsChange())
            replayJournal();
        return setLock(fd, F_RDLCK);
    });
}

void ParadoxTable::lockExclusive()
{
    if (m_exclusive)
        return;
    takeExclusive();
    m_exclusive = true;
}

void ParadoxTable::takeExclusive()
{
    // Never waiting for the exclusive lock while holding the shared one (two writers would wait for
    // each other), and behind those already waiting: a writer that has just finished does not
    // overtake them.
    const int fd = m_lock.get();
    setLock(fd, F_UNLCK);
    bool queued = false;
    try {
        waitForLock([&] {
            if (!queued && othersQueued(fd))
                return false;
            queued = queued || setLock(fd, F_RDLCK, queueByte, 1);
            return setLock(fd, F_WRLCK);
        });
    } catch (const ParadoxError &) {
        setLock(fd, F_UNLCK, queueByte, 1);
        setLock(fd, F_RDLCK); // back to reading, when the other user lets us
        throw;
    }
    setLock(fd, F_UNLCK, queueByte, 1);
    // Other writers may have changed the table since it was read.
    if (journalHoldsChange())
        replayJournal();
    for (ParadoxFile *file : files())
        file->reload();
    m_blockNumber = 0;
    m_atEnd = true;
}

void ParadoxTable::releaseExclusive()
{
    if (!m_exclusive)
        setLock(m_lock.get(), F_RDLCK);
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
    return m_block.constData() + m_data->recordOffset(m_position);
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
    // Through the index to the last entry whose key is below the prefix: the first record with that
    // key may sit at the end of the block before the one whose first key it is.
    int start = m_data->firstBlock();
    if (ordered && m_index && m_index->indexLevels() > 0 && m_index->indexRoot() > 0) {
        int slot = -1;
        const std::vector<IndexNode> path = descend(
            [&](const IndexEntry &entry) {
                return std::memcmp(entry.key.constData(), keyPrefix.constData(), keyPrefix.size()) < 0;
            },
            slot);
        start = path.back().entries.at(slot).block;
    }
    for (int number = start, hops = 1; number != 0; ++hops, number = ParadoxFile::nextBlock(m_block)) {
        if (hops > m_data->fileBlocks())
            throw ParadoxError(QStringLiteral("Datei %1 hat einen Kreis in der Blockkette").arg(m_path));
        for (int i = 0, count = loadBlock(number) ? m_blockCount : 0; i < count; ++i) {
            const int order = compareKey(m_block.constData() + m_data->recordOffset(i), keyPrefix);
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
    return restore();
}

int ParadoxTable::compareKey(const char *record, const QByteArray &key) const
{
    return std::memcmp(record, key.constData(), key.size());
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
