#include "shell/indexrecord.h"

#include "norvata/norvatatable.h"

#include <exception>

bool indexRecordWanted(const IndexRecordConditions &conditions)
{
    return conditions.norvataAvailable && conditions.automaticMode && conditions.indexFirma != 0 &&
           conditions.recordIndexValue;
}

bool writeIndexRecord(NorvataTable &table, const QString &dataFolder, const IndexRecordConditions &conditions,
                      double value, const QDateTime &now)
{
    if (!indexRecordWanted(conditions) || table.isOpen())
        return false;
    try {
        table.open(dataFolder, QStringLiteral("Intraday.db"), QString());
        table.appendRecord(conditions.indexFirma, value, now);
        table.close();
        return true;
    } catch (...) {
        table.close();
        return false;
    }
}
