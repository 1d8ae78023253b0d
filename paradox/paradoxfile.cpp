#include "paradox/paradoxfile.h"

#include "core/windows1252.h"
#include "paradox/paradoxerror.h"

using namespace ParadoxLayout;
using ParadoxIo::readExactly;

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The block cipher of encrypted Paradox tables, as pxlib implements it (exported by the library but
// not declared in its header). Blocks are numbered from 1 as in the file.
extern "C" {
void px_encrypt_db_block(unsigned char *source, unsigned char *target, unsigned long key, unsigned long size,
                         unsigned long blockNumber);
void px_decrypt_db_block(unsigned char *source, unsigned char *target, unsigned long key, unsigned long size,
                         unsigned long blockNumber);
}

namespace {

constexpr quint32 noEncryption = 0xFF00FF00;

bool hasDataExtension(quint8 fileType, int version)
{
    if (version < 5)
        return false;
    switch (fileType) {
    case ParadoxFile::KeyedTable:
    case ParadoxFile::PlainTable:
    case ParadoxFile::SecondaryTable:
    case ParadoxFile::IncrementalSecondaryTable:
    case ParadoxFile::CompositeSecondaryTable:
    case ParadoxFile::IncrementalCompositeSecondaryTable:
        return true;
    default:
        return false;
    }
}

bool isIndexFile(quint8 fileType)
{
    return fileType == ParadoxFile::PrimaryIndex || fileType == ParadoxFile::SecondaryIndex ||
           fileType == ParadoxFile::CompositeSecondaryIndex;
}

} // namespace

ParadoxFile::ParadoxFile(const QString &path, bool writable)
    : m_path(path), m_fd(ParadoxIo::open(path, writable ? O_RDWR : O_RDONLY))
{
    if (!m_fd.isOpen())
        throw ParadoxError(
            QStringLiteral("Datei %1 kann nicht geöffnet werden: %2").arg(path, ParadoxIo::lastError()));
    parseHeader();
}

ParadoxError ParadoxFile::corrupt(const char *what) const
{
    return ParadoxError(QStringLiteral("Datei %1 ist keine lesbare Paradox-Tabelle (%2)")
                            .arg(m_path, QString::fromLatin1(what)));
}

void ParadoxFile::parseHeader()
{
    struct stat info;
    if (::fstat(m_fd.get(), &info) != 0)
        throw corrupt("fstat");
    m_fileSize = info.st_size;
    if (m_fileSize < MinimumHeaderSize)
        throw corrupt("zu kurz");
    const QByteArray start = readExactly(m_fd.get(), 0, MinimumHeaderSize, m_path);
    const int size = headerWord(start, HeaderSize);
    if (size < MinimumHeaderSize || size > m_fileSize)
        throw corrupt("Kopfgröße");
    m_header = readExactly(m_fd.get(), 0, size, m_path);
    m_storedHeader = m_header;

    const quint8 type = fileType();
    if (type > IncrementalCompositeSecondaryTable)
        throw corrupt("Dateityp");
    const int maxTableSize = static_cast<unsigned char>(m_header.at(MaxTableSize));
    if (maxTableSize < 1 || maxTableSize > 32)
        throw corrupt("Blockgröße");
    const int numFields = headerWord(m_header, FieldCount);
    if (numFields < 1 || numFields > 255 || keyFieldCount() > numFields)
        throw corrupt("Felderzahl");

    int position = hasDataExtension(type, version()) ? ExtendedFieldInfo : FieldInfo;
    if (position + numFields * 2 > size)
        throw corrupt("Feldliste");
    m_fields.clear();
    int offset = 0;
    for (int i = 0; i < numFields; ++i) {
        ParadoxField field;
        field.type = static_cast<quint8>(m_header.at(position + 2 * i));
        field.size = static_cast<unsigned char>(m_header.at(position + 2 * i + 1));
        if (field.type == ParadoxField::Bcd)
            field.size = 17; // the header holds its decimal places; the value always takes 17 bytes
        if (!field.hasValidSize())
            throw corrupt("Feldgröße");
        field.offset = offset;
        field.codePage = codePage();
        field.name = QStringLiteral("Feld%1").arg(i + 1);
        offset += field.size;
        m_fields.append(field);
    }
    const int indexFields = isIndexFile(type) ? 3 : 0; // block number, count, reserved
    if (offset + indexFields * 2 != recordSize() || recordSize() < 1 ||
        recordSize() > blockSize() - BlockHeadSize)
        throw corrupt("Satzlänge");
    if (blockCapacity() < 1)
        throw corrupt("Satzlänge");

    parseNames(position + numFields * 2, numFields);
}

void ParadoxFile::parseNames(int position, int numFields)
{
    // Names follow the pointer slots: one for the table name, one per field for data files.
    const quint8 type = fileType();
    position += 4 + (isIndexFile(type) ? 0 : numFields * 4);
    position += version() >= 0x0C ? 261 : 79;
    if (!isIndexFile(type)) {
        const auto nextString = [&](QString &target) {
            const int end = m_header.indexOf('\0', position);
            if (end < 0)
                return false;
            target = Windows1252::decode(m_header.mid(position, end - position));
            position = end + 1;
            return true;
        };
        for (int i = 0; i < numFields; ++i)
            if (!nextString(m_fields[i].name))
                throw corrupt("Feldnamen");
        m_indexName = m_fields.first().name;
        position += numFields * 2; // the field numbers
        m_sortOrder.clear();
        if (nextString(m_sortOrder) &&
            (type == CompositeSecondaryTable || type == IncrementalCompositeSecondaryTable)) {
            QString name;
            if (nextString(name) && !name.isEmpty())
                m_indexName = name;
        }
    }
}

quint8 ParadoxFile::fileType() const
{
    return static_cast<quint8>(m_header.at(ParadoxLayout::FileType));
}
int ParadoxFile::recordSize() const
{
    return headerWord(m_header, RecordSize);
}
int ParadoxFile::headerSize() const
{
    return headerWord(m_header, HeaderSize);
}
int ParadoxFile::blockSize() const
{
    return static_cast<unsigned char>(m_header.at(MaxTableSize)) * 1024;
}
quint32 ParadoxFile::numRecords() const
{
    return headerLong(m_header, RecordCount);
}
int ParadoxFile::usedBlocks() const
{
    return headerWord(m_header, UsedBlocks);
}
int ParadoxFile::fileBlocks() const
{
    return headerWord(m_header, FileBlocks);
}
int ParadoxFile::firstBlock() const
{
    return headerWord(m_header, FirstBlock);
}
int ParadoxFile::lastBlock() const
{
    return headerWord(m_header, LastBlock);
}
int ParadoxFile::indexRoot() const
{
    return headerWord(m_header, IndexRoot);
}
int ParadoxFile::indexLevels() const
{
    return static_cast<unsigned char>(m_header.at(IndexLevels));
}
int ParadoxFile::keyFieldCount() const
{
    return isIndexFile(fileType()) ? headerWord(m_header, FieldCount) : headerWord(m_header, KeyFieldCount);
}

quint32 ParadoxFile::encryptionKey() const
{
    const quint32 key = hasDataExtension(fileType(), version()) ? headerLong(m_header, Encryption)
                                                                : headerLong(m_header, OldEncryption);
    return key == noEncryption ? 0 : key;
}

int ParadoxFile::codePage() const
{
    return hasDataExtension(fileType(), version()) ? headerWord(m_header, CodePage) : 0;
}

int ParadoxFile::keySize() const
{
    int size = 0;
    for (int i = 0; i < keyFieldCount(); ++i)
        size += m_fields.at(i).size;
    return size;
}

int ParadoxFile::fieldIndex(const QString &name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int ParadoxFile::recordCount(const QByteArray &block) const
{
    const int lastOffset = lastRecordOffset(block);
    if (lastOffset < 0)
        return 0;
    if (lastOffset % recordSize() != 0 || lastOffset / recordSize() + 1 > blockCapacity())
        throw ParadoxError(QStringLiteral("Datei %1 hat einen beschädigten Block").arg(m_path));
    return lastOffset / recordSize() + 1;
}

void ParadoxFile::setRecordCount(QByteArray &block, int count) const
{
    setHeaderWord(block, LastRecordOffset, static_cast<quint16>((count - 1) * recordSize()));
}

qint64 ParadoxFile::blockOffset(int number) const
{
    return headerSize() + qint64(number - 1) * blockSize();
}

void ParadoxFile::stageHeader(const QByteArray &header)
{
    m_header = header;
    m_staged.header = header;
}

void ParadoxFile::restoreStaged(const Staged &staged)
{
    m_staged = staged;
    m_header = staged.header.isEmpty() ? m_storedHeader : staged.header;
}

QByteArray ParadoxFile::readBlock(int number) const
{
    if (const auto staged = m_staged.blocks.constFind(number); staged != m_staged.blocks.cend())
        return *staged;
    // Paradox may leave the last block of a file short, holding only its records.
    const qint64 available = std::min<qint64>(blockSize(), m_fileSize - blockOffset(number));
    if (number < 1 || available < BlockHeadSize)
        throw ParadoxError(QStringLiteral("Datei %1: Block %2 fehlt").arg(m_path).arg(number));
    QByteArray block = readExactly(m_fd.get(), blockOffset(number), static_cast<int>(available), m_path);
    block.append(QByteArray(blockSize() - available, '\0'));
    if (const quint32 key = encryptionKey()) {
        QByteArray plain(block.size(), Qt::Uninitialized);
        px_decrypt_db_block(reinterpret_cast<unsigned char *>(block.data()),
                            reinterpret_cast<unsigned char *>(plain.data()), key, block.size(), number);
        block = plain;
    }
    const int lastOffset = lastRecordOffset(block);
    if (lastOffset >= 0 && BlockHeadSize + lastOffset + recordSize() > available)
        throw ParadoxError(QStringLiteral("Datei %1: Block %2 ist unvollständig").arg(m_path).arg(number));
    return block;
}

QByteArray ParadoxFile::storedBlock(int number, const QByteArray &plain) const
{
    if (const quint32 key = encryptionKey()) {
        QByteArray source = plain;
        QByteArray stored(plain.size(), Qt::Uninitialized);
        px_encrypt_db_block(reinterpret_cast<unsigned char *>(source.data()),
                            reinterpret_cast<unsigned char *>(stored.data()), key, source.size(), number);
        return stored;
    }
    return plain;
}

int ParadoxFile::headerWord(const QByteArray &header, int offset)
{
    return static_cast<unsigned char>(header.at(offset)) | static_cast<unsigned char>(header.at(offset + 1))
                                                               << 8;
}

void ParadoxFile::setHeaderWord(QByteArray &header, int offset, int value)
{
    header[offset] = static_cast<char>(value & 0xFF);
    header[offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

quint32 ParadoxFile::headerLong(const QByteArray &header, int offset)
{
    return quint32(headerWord(header, offset)) | quint32(headerWord(header, offset + 2)) << 16;
}

void ParadoxFile::setHeaderLong(QByteArray &header, int offset, quint32 value)
{
    setHeaderWord(header, offset, value & 0xFFFF);
    setHeaderWord(header, offset + 2, value >> 16);
}
