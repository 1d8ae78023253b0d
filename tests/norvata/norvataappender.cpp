// Child process of the kill and lock tests: appends records to Intraday.db in changes of <batch>
// records each and reports each record in flight ("posting <firma> <ms>") and posted ("posted <firma>
// <ms>") until it is killed, or [changes] changes are made.
#include "norvata/norvatatable.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 5)
        return 2;
    const qint64 changes = args.size() == 5 ? args.at(4).toLongLong() : -1;
    const QString folder = args.at(1);
    const qint64 base = args.at(2).toLongLong();
    const int batch = args.at(3).toInt();
    QTextStream out(stdout);
    NorvataTable table;
    table.open(folder, QStringLiteral("Intraday.db"), QString());
    out << "ready" << Qt::endl;
    const QDateTime start(QDate(2024, 3, 1), QTime(9, 0));
    for (qint64 i = 0; changes < 0 || i < changes * batch; i += batch) {
        QList<IntradayRecord> records;
        for (qint64 n = i; n < i + batch; ++n)
            records.append({1 + static_cast<qint32>(n % 37), 1.5, start.addMSecs(base + n)});
        for (const IntradayRecord &record : records)
            out << "posting " << record.firma << ' ' << start.msecsTo(record.zeit) << Qt::endl;
        if (table.appendRecords(records) != batch)
            return 1;
        for (const IntradayRecord &record : records)
            out << "posted " << record.firma << ' ' << start.msecsTo(record.zeit) << Qt::endl;
    }
    return 0;
}
