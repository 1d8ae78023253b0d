#include "norvata/intradaytransfer.h"

int IntradayTransfer::transfer(const QString &databaseDirectory, const QString &tableName,
                               const QList<IntradayRecord> &records)
{
    m_pending += records;
    if (m_pending.isEmpty())
        return 0;
    // One change for all of them: written whole or not at all. The table is closed again at once
    // (a failed use closes it itself): held open, its lock would keep other writers out between two
    // transfers.
    m_table.open(databaseDirectory, tableName, QString());
    const int written = m_table.appendRecords(m_pending);
    m_table.close();
    m_pending.clear();
    return written;
}
