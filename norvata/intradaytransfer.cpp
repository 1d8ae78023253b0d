#include "norvata/intradaytransfer.h"

int IntradayTransfer::transfer(const QString &databaseDirectory, const QString &tableName,
                               const QList<IntradayRecord> &records)
{
    m_pending += records;
    if (m_pending.isEmpty())
        return 0;
    // The table is found closed when another use of the table object ran in between, or a failed
    // use closed it.
    if (!m_table.isOpen())
        m_table.open(databaseDirectory, tableName, QString());
    // One change for all of them: written whole or not at all.
    const int written = m_table.appendRecords(m_pending);
    m_pending.clear();
    return written;
}
