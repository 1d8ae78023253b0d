// ParadoxTable: writing a change crash-safe through the journal, and finishing a change that a writer
// left behind.
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"
#include "paradox/paradoxtableparts.h"

#include <QDataStream>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace ParadoxTableParts;
using ParadoxIo::syncFile;
using ParadoxIo::writeAll;

namespace {

constexpr char journalMagic[] = "ZJRNL002";
constexpr int journalMagicSize = 8;
constexpr int checksumSize = 8;
// The start of the table's header that tells whether a journal is older than the table.
constexpr int guardedHeaderBytes = 0x60;
// More files than a table, its index and every possible secondary index have: not our journal.
constexpr quint32 maxJournalFiles = 1024;

quint64 fnv1a(const char *data, qint64 size)
{
    quint64 hash = 1469598103934665603ULL;
    for (qint64 i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// A complete journal: the table's guarded header before and after the change, the files with their
// new lengths (-1: unchanged), and the writes.
struct Journal
{
    QByteArray before, after;
    QStringList names;
    QList<qint64> sizes;
    struct Write
    {
        quint32 file;
        qint64 offset;
        QByteArray bytes;
    };
    QList<Write> writes;
};

// Nothing for a journal written only in part (the table files were not touched yet) or done.
std::optional<Journal> parseJournal(const QByteArray &bytes)
{
    if (bytes.size() < journalMagicSize + checksumSize || !bytes.startsWith(journalMagic))
        return std::nullopt;
    quint64 stored;
    std::memcpy(&stored, bytes.constData() + bytes.size() - checksumSize, checksumSize);
    if (stored != fnv1a(bytes.constData(), bytes.size() - checksumSize))
        return std::nullopt;
    QDataStream in(bytes.mid(journalMagicSize, bytes.size() - journalMagicSize - checksumSize));
    Journal journal;
    quint32 fileCount;
    in >> journal.before >> journal.after >> fileCount;
    if (fileCount > maxJournalFiles)
        return std::nullopt;
    for (quint32 i = 0; i < fileCount && in.status() == QDataStream::Ok; ++i) {
        QByteArray name;
        qint64 size;
        in >> name >> size;
        journal.names.append(QString::fromUtf8(name));
        journal.sizes.append(size);
    }
    quint32 count;
    in >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        Journal::Write write;
        in >> write.file >> write.offset >> write.bytes;
        if (in.status() != QDataStream::Ok || write.file >= quint32(journal.names.size()) || write.offset < 0)
            break;
        journal.writes.append(write);
    }
    return journal;
}

} // namespace

QString ParadoxTable::journalPath() const
{
    return m_path + QStringLiteral(".zjournal");
}

bool ParadoxTable::journalHoldsChange() const
{
    // A journal marked done starts with zeros; one being written or not yet finished with the magic.
    QFile journal(journalPath());
    return journal.open(QIODevice::ReadOnly) && journal.read(journalMagicSize).startsWith(journalMagic);
}

void ParadoxTable::replayJournal()
{
    QFile file(journalPath());
    if (!file.open(QIODevice::ReadOnly))
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht gelesen werden").arg(journalPath()));
    const std::optional<Journal> journal = parseJournal(file.readAll());
    file.close();
    const auto drop = [this] {
        QFile::remove(journalPath());
        ParadoxIo::syncDirectory(m_path);
    };
    const auto unrecoverable = [this] {
        return ParadoxError(QStringLiteral("Tabelle %1 kann nicht wiederhergestellt werden").arg(m_path));
    };
    if (!journal)
        return drop();
    // A journal whose change is neither pending nor done is older than the table (someone changed it
    // since): replaying it would destroy that change.
    QFile table(m_path);
    if (!table.open(QIODevice::ReadOnly))
        throw unrecoverable();
    const QByteArray current = table.read(journal->before.size());
    if (current != journal->before && current != journal->after)
        return drop();

    const QString folder = QFileInfo(m_path).absolutePath() + QLatin1Char('/');
    std::vector<Descriptor> descriptors;
    for (const QString &name : journal->names) {
        descriptors.push_back(ParadoxIo::open(folder + name, O_RDWR));
        if (!descriptors.back().isOpen() || name.contains(QLatin1Char('/')))
            throw unrecoverable();
    }
    for (const Journal::Write &write : journal->writes)
        writeAll(descriptors[write.file].get(), write.bytes.constData(), write.bytes.size(), write.offset,
                 folder + journal->names.at(write.file));
    for (qsizetype i = 0; i < journal->names.size(); ++i) {
        if (journal->sizes.at(i) >= 0 && ::ftruncate(descriptors[i].get(), journal->sizes.at(i)) != 0)
            throw unrecoverable();
        syncFile(descriptors[i].get(), folder + journal->names.at(i));
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
    const QList<Write> writes = collectWrites(family);
    if (writes.isEmpty())
        return;
    writeJournal(journalOf(family, writes));
    step(2);
    writeFiles(family, writes);
    // Done: the journal no longer holds a change. Should this not reach the disk, replaying the
    // journal later writes what is there already, or finds the table changed since and drops it.
    writeAll(m_journal.get(), QByteArray(journalMagicSize, '\0').constData(), journalMagicSize, 0,
             journalPath());
    step(6);
    for (ParadoxFile *file : family)
        file->reload();
    m_blockNumber = 0;
    m_atEnd = true;
}

QList<ParadoxTable::Write> ParadoxTable::collectWrites(const QList<ParadoxFile *> &family) const
{
    QList<Write> writes;
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
    }
    // The headers last: a reader that knows nothing of the journal sees the old header until all
    // blocks are in place. Blocks beyond the old end of a file come first: no old header reaches them.
    std::stable_partition(writes.begin(), writes.end(), [&](const Write &write) {
        return write.offset >= family.at(write.file)->fileSize();
    });
    for (int i = 0; i < family.size(); ++i)
        if (!family.at(i)->staged().header.isEmpty())
            writes.append({i, 0, family.at(i)->header()});
    return writes;
}

QByteArray ParadoxTable::journalOf(const QList<ParadoxFile *> &family, const QList<Write> &writes) const
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << m_data->storedHeader().left(guardedHeaderBytes) << m_data->header().left(guardedHeaderBytes)
        << quint32(family.size());
    for (const ParadoxFile *file : family)
        out << QFileInfo(file->path()).fileName().toUtf8() << file->staged().size;
    out << quint32(writes.size());
    for (const Write &write : writes)
        out << quint32(write.file) << write.offset << write.bytes;
    QByteArray journal = QByteArray(journalMagic, journalMagicSize) + payload;
    const quint64 sum = fnv1a(journal.constData(), journal.size());
    journal.append(reinterpret_cast<const char *>(&sum), checksumSize);
    return journal;
}

void ParadoxTable::writeJournal(const QByteArray &journal)
{
    // The journal stays open for the whole use and is removed when the table is closed: one
    // directory change per use, not per change. Another writer may have removed the one we hold
    // open since our last change; then a new one is made.
    struct stat held, named;
    const bool created = !m_journal.isOpen() || ::fstat(m_journal.get(), &held) != 0 ||
                         ::stat(QFile::encodeName(journalPath()).constData(), &named) != 0 ||
                         held.st_ino != named.st_ino || held.st_dev != named.st_dev;
    if (created) {
        m_journal = ParadoxIo::open(journalPath(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (!m_journal.isOpen())
            throw ParadoxError(QStringLiteral("Datei %1 kann nicht angelegt werden").arg(journalPath()));
    }
    const qint64 half = journal.size() / 2;
    writeAll(m_journal.get(), journal.constData(), half, 0, journalPath());
    step(1);
    writeAll(m_journal.get(), journal.constData() + half, journal.size() - half, half, journalPath());
    if (::ftruncate(m_journal.get(), journal.size()) != 0)
        throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(journalPath()));
    syncFile(m_journal.get(), journalPath());
    // The new journal's name must be on disk too before the table changes. Synced after its
    // contents, this usually finds the name written with them already and costs little.
    if (created)
        ParadoxIo::syncDirectory(m_path);
}

void ParadoxTable::writeFiles(const QList<ParadoxFile *> &family, const QList<Write> &writes)
{
    QList<bool> written(family.size(), false);
    for (const Write &write : writes) {
        const ParadoxFile &file = *family.at(write.file);
        writeAll(file.descriptor(), write.bytes.constData(), write.bytes.size(), write.offset, file.path());
        if (!written.contains(true))
            step(3);
        written[write.file] = true;
    }
    for (const ParadoxFile *file : family)
        if (file->staged().size >= 0 && ::ftruncate(file->descriptor(), file->staged().size) != 0)
            throw ParadoxError(QStringLiteral("Datei %1 kann nicht geschrieben werden").arg(file->path()));
    step(4);
    for (int i = 0; i < family.size(); ++i)
        if (written.at(i) || family.at(i)->staged().size >= 0)
            syncFile(family.at(i)->descriptor(), family.at(i)->path());
    step(5);
}
