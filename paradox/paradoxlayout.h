#pragma once

// Where a Paradox file keeps what this library reads and writes: the fields of the file header, the
// head of every block, and the tail of an index entry. Offsets in bytes; the numbers of the header and
// of the block heads are little-endian.
namespace ParadoxLayout {

// The file header.
enum Header : int {
    RecordSize = 0x00,         // word
    HeaderSize = 0x02,         // word
    FileType = 0x04,           // byte
    MaxTableSize = 0x05,       // byte: the block size in KiB
    RecordCount = 0x06,        // long
    UsedBlocks = 0x0A,         // word: blocks in the chain
    FileBlocks = 0x0C,         // word: blocks in the file
    FirstBlock = 0x0E,         // word
    LastBlock = 0x10,          // word
    IndexRoot = 0x1E,          // word
    IndexLevels = 0x20,        // byte
    FieldCount = 0x21,         // word
    KeyFieldCount = 0x23,      // word
    OldEncryption = 0x25,      // long, in files without the data extension
    ChangeCount = 0x2D,        // byte: raised once per change, so that other users read again
    FileVersion = 0x39,        // byte
    AutoIncrementValue = 0x49, // long
    Encryption = 0x5C,         // long, in files with the data extension
    CodePage = 0x6A,           // word, likewise
    FieldInfo = 0x58,          // type and size of each field
    ExtendedFieldInfo = 0x78,  // likewise, in files with the data extension
    MinimumHeaderSize = 0x80,
};

// The head of a block, before its records.
enum BlockHead : int {
    NextBlock = 0,        // word
    PreviousBlock = 2,    // word
    LastRecordOffset = 4, // signed word: negative for a block without records
    BlockHeadSize = 6,
};

// An index entry: the key, then the number of the block below, the records that block covers and a
// reserved word, each a Paradox short integer.
enum IndexEntryTail : int {
    EntryBlock = 0,
    EntryCount = 2,
    EntryReserved = 4,
    EntryTailSize = 6,
};

} // namespace ParadoxLayout
