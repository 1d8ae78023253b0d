// Writes pictures of the two chart pages as a person sees them: the bar chart "Verteilung" with 40
// components and the line chart "Index-Verlauf" with a trading day of history, at the window's laid-out
// size. Usage: zalvento_chartshots <output folder>
#include "app/chartprintpreview.h"
#include "app/chartpropertiesdialog.h"
#include "app/distributionchart.h"
#include "app/historychart.h"

#include <QApplication>
#include <QDir>
#include <QLineSeries>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QTimeZone>
#include <QValueAxis>
#include <cstdio>

namespace {

const char *const names[] = {
    "Adidas",
    "Airbus",
    "Allianz",
    "BASF",
    "Bayer",
    "Beiersdorf",
    "BMW St",
    "Brenntag",
    "Commerzbank",
    "Continental",
    "Covestro",
    "Daimler Truck Holding",
    "Deutsche Bank",
    "Deutsche Börse",
    "Deutsche Post",
    "Deutsche Telekom",
    "E.ON",
    "Fresenius",
    "Fresenius Medical Care",
    "Hannover Rück",
    "Heidelberg Materials",
    "Henkel Vz",
    "Infineon Technologies",
    "Mercedes-Benz Group",
    "Merck KGaA",
    "MTU Aero Engines",
    "Münchener Rück",
    "Porsche Automobil Holding",
    "Porsche AG",
    "Qiagen",
    "Rheinmetall",
    "RWE",
    "SAP",
    "Sartorius Vz",
    "Siemens",
    "Siemens Energy",
    "Siemens Healthineers",
    "Symrise",
    "Volkswagen Vz",
    "Vonovia",
};

// A printed page, landscape A4 at 100 dpi, as the print preview shows it.
bool savePrint(QChart *chart, const QString &path)
{
    QImage page(1169, 827, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        ChartPrintPreview::paintChart(&painter, chart, ChartPrintPreview::chartArea(page.rect()), 100);
        painter.setPen(Qt::lightGray);
        painter.drawRect(page.rect().adjusted(0, 0, -1, -1));
    }
    const bool saved = page.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

bool save(QWidget &page, const QString &path)
{
    // The chart lays itself out in the event loop, as it does in the window.
    QApplication::processEvents();
    const bool saved = page.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral(".")))
        return 1;
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    QApplication::setFont(font);

    // The chart pages fill the window below the top panel: about 692 x 580 pixels.
    const QSize pageSize(692, 580);
    QRandomGenerator random(20261209);
    bool ok = true;

    DistributionChart distribution;
    distribution.resize(pageSize);
    double total = 0;
    QList<double> weights;
    for (int i = 0; i < 40; ++i) {
        weights << 0.3 + random.bounded(9.0);
        total += weights.constLast();
    }
    for (int i = 0; i < 40; ++i)
        distribution.addBar(i + 1, weights.at(i) * 100 / total, QString::fromUtf8(names[i]));
    distribution.show();
    ok &= save(distribution, out.filePath(QStringLiteral("verteilung.png")));
    ok &= savePrint(distribution.chart(), out.filePath(QStringLiteral("verteilung-druck.png")));

    // A trading day, 9:00 to 17:30, one change every five seconds.
    HistoryChart history;
    history.resize(pageSize);
    const QDateTime start(QDate(2026, 12, 9), QTime(9, 0));
    double index = 16500;
    for (int step = 0; step <= 8.5 * 3600 / 5; ++step) {
        const QDateTime when = start.addSecs(step * 5);
        index += (random.generateDouble() - 0.497) * 4;
        const double spread = 1 + random.bounded(3.0);
        history.addPoint(HistorySeries::Index, when, index);
        history.addPoint(HistorySeries::IndexAsk, when, index + spread);
        history.addPoint(HistorySeries::IndexBid, when, index - spread);
        history.addPoint(HistorySeries::IndexMittel, when, index);
    }
    history.show();
    ok &= save(history, out.filePath(QStringLiteral("index-verlauf.png")));
    ok &= savePrint(history.chart(), out.filePath(QStringLiteral("index-verlauf-druck.png")));

    ChartPropertiesDialog dialog;
    dialog.setChart(&history);
    dialog.show();
    ok &= save(dialog, out.filePath(QStringLiteral("eigenschaften.png")));
    dialog.hide();

    ChartSettings settings = history.settings();
    settings.legendVisible = true;
    for (SeriesSettings &series : settings.series)
        series.visible = true;
    settings.xAxis.automatic = false;
    settings.xAxis.minimum = double(start.addSecs(3600 * 2).toMSecsSinceEpoch());
    settings.xAxis.maximum = double(start.addSecs(3600 * 2 + 600).toMSecsSinceEpoch());
    history.applySettings(settings);
    ok &= save(history, out.filePath(QStringLiteral("index-verlauf-alle-10min.png")));

    settings.threeD = true;
    settings.series[0].type = SeriesType::Area;
    settings.series[1].type = SeriesType::Points;
    settings.series[2].type = SeriesType::Bar;
    history.applySettings(settings);
    ok &= save(history, out.filePath(QStringLiteral("index-verlauf-typen.png")));

    return ok ? 0 : 1;
}
