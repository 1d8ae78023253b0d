// Child process of the kill test: appends records to Intraday.db one by one and reports each one
// posted ("posted <firma> <ms>") until it is killed.
#include "sources/norvatatable.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    const QString folder = args.at(1);
    const qint64 base = args.at(2).toLongLong();
    QTextStream out(stdout);
    NorvataTable table;
    table.open(folder, QStringLiteral("Intraday.db"), QString());
    out << "ready" << Qt::endl;
    const QDateTime start(QDate(2024, 3, 1), QTime(9, 0));
    for (qint64 i = 0;; ++i) {
        const qint32 firma = 1 + static_cast<qint32>(i % 37);
        const qint64 ms = base + i;
        out << "posting " << firma << ' ' << ms << Qt::endl;
        table.appendRecord(firma, 1.5, start.addMSecs(ms));
        out << "posted " << firma << ' ' << ms << Qt::endl;
    }
}
