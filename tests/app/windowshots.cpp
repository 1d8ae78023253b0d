// Pictures of the main window's four pages on the bundled Dax, with a day of history, for a person to look
// at: windowshots <build dir> <out dir>.
#include "app/historychart.h"
#include "app/messages.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>

int main(int argc, char **argv)
{
    qputenv("LC_NUMERIC", "de_DE.UTF-8");
    QApplication application(argc, argv);
    if (argc < 3)
        return 2;
    const QString build = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    Messages::setSink([](Messages::Kind, const QString &text) { qWarning("message: %s", qPrintable(text)); });
    MainWindow form({build + QStringLiteral("/bin/zalvento"), {}, out + QStringLiteral("/Norvata.reg"), {}});
    const QDateTime start(QDate::currentDate(), QTime(9, 0));
    double value = 23409;
    for (int i = 0; i < 6000; ++i) {
        value += std::sin(i / 300.0) * 3 + ((i * 7919) % 11 - 5) * 0.8;
        form.historyChart->addPoint(HistorySeries::Index, start.addSecs(i * 5), value);
    }
    form.show();
    const char *names[] = {"uebersicht", "verteilung", "indexverlauf", "information"};
    for (int page = 0; page < 4; ++page) {
        form.pages->setCurrentIndex(page);
        QApplication::processEvents();
        form.grab().save(out + QStringLiteral("/%1.png").arg(QLatin1String(names[page])));
    }
    return 0;
}
