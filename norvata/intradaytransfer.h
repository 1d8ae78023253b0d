#pragma once

#include "norvata/norvatatable.h"

#include <QList>
#include <QString>

// The hand-over of web prices to "Intraday.db". A transfer that cannot have the table (another program
// holds it, it cannot be opened) keeps its records, and the next transfer writes them before its own,
// in one change: nothing is lost while the program runs, and nothing is written twice (a record the
// table holds already is refused by its key).
class IntradayTransfer
{
public:
    explicit IntradayTransfer(NorvataTable &table) : m_table(table) {}

    // Writes the kept records and then `records` into tableName in databaseDirectory, opening the table
    // object there and closing it again. Returns the number written; a record refused by the table
    // (its key exists, a value does not fit) is not kept. Throws NorvataError with the table's reason
    // when the table cannot be had: then all of them are kept.
    int transfer(const QString &databaseDirectory, const QString &tableName,
                 const QList<IntradayRecord> &records);

    // The records kept for the next transfer, oldest first.
    const QList<IntradayRecord> &pending() const { return m_pending; }

private:
    NorvataTable &m_table;
    QList<IntradayRecord> m_pending;
};
