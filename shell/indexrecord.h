#pragma once

#include <QDateTime>
#include <QString>

class NorvataTable;

// The index record: after a calculation in the automatic mode, the index value is appended to Norvata's
// "Intraday.db" under the index's own Norvata id.
struct IndexRecordConditions
{
    bool norvataAvailable = false;
    bool automaticMode = false;
    qint32 indexFirma = 0;         // "NV Index"; 0 names no index
    bool recordIndexValue = false; // "&Index-Kurs übertragen" checked
};

// All four conditions hold.
bool indexRecordWanted(const IndexRecordConditions &conditions);

// Appends the record when it is wanted. A table already open belongs to a refresh that waits for its
// page: the record is skipped rather than written into the middle of that refresh's use. Failures are
// silent; the table is closed again in every case. Returns whether a record was written.
bool writeIndexRecord(NorvataTable &table, const QString &dataFolder, const IndexRecordConditions &conditions,
                      double value, const QDateTime &now);
