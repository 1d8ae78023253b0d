// norvatatool: sets up and inspects Norvata's tables for users without Norvata.
//   norvatatool create <folder> [password]   firma.db and Intraday.db, empty
//   norvatatool import <table> <csv-file>    adds the CSV's records
//   norvatatool dump <table>                 writes the records as CSV
#include "core/errors.h"
#include "norvata/norvatalayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

namespace {

int usage(QTextStream &err)
{
    err << "Aufruf: norvatatool create <Verzeichnis> [Passwort]\n"
           "        norvatatool import <Tabelle> <CSV-Datei>\n"
           "        norvatatool dump <Tabelle>\n";
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (args.isEmpty())
        return usage(err);
    try {
        const QString &command = args.first();
        if (command == QLatin1String("create") && (args.size() == 2 || args.size() == 3)) {
            const QDir folder(args.at(1));
            if (!folder.mkpath(QStringLiteral(".")))
                throw FileError(QStringLiteral("Verzeichnis %1 kann nicht angelegt werden").arg(args.at(1)));
            const QString password = args.value(2);
            NorvataLayout::createFirma(folder.filePath(QStringLiteral("firma.db")), password);
            NorvataLayout::createIntraday(folder.filePath(QStringLiteral("Intraday.db")), password);
            return 0;
        }
        if (command == QLatin1String("import") && args.size() == 3) {
            QFile csv(args.at(2));
            if (!csv.open(QIODevice::ReadOnly))
                throw FileError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(args.at(2)));
            out << NorvataLayout::importCsv(args.at(1), csv) << " Datensätze importiert\n";
            return 0;
        }
        if (command == QLatin1String("dump") && args.size() == 2) {
            NorvataLayout::dump(args.at(1), out);
            return 0;
        }
        return usage(err);
    } catch (const ZalventoError &error) {
        err << error.text() << '\n';
        return 1;
    } catch (const std::exception &error) {
        err << error.what() << '\n';
        return 1;
    }
}
