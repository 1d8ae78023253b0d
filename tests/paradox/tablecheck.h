#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// Independent checks of a Paradox table for the tests: a structural walk of the raw blocks, and
// the records as pxlib reads them.
namespace TableCheck {

// Problems in the data blocks (chain, counts, key order, header counters) and in the primary index
// (levels, first keys, counts, block references); empty when the table is sound.
QStringList structure(const QString &dbPath, const QString &pxPath);

// Problems in the block chain of a primary index as a reader walks it from the header's first block:
// the root first, then each level whole from left to right, the lowest level ending the chain, every
// entry once (the header's count); empty when the chain is so.
QStringList indexChain(const QString &pxPath);

// Every record as pxlib reads it, one text per record ("|"-joined field texts, "<null>" for NULL),
// sorted. Alpha fields are taken as raw Windows-1252 bytes.
QStringList recordsViaPxlib(const QString &dbPath);

// Whether pxlib reads the primary index and attaches it to the table.
bool pxlibReadsIndex(const QString &dbPath, const QString &pxPath);

} // namespace TableCheck
