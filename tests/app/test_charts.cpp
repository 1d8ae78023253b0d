#include "app/chartexport.h"
#include "app/chartprintpreview.h"
#include "app/chartpropertiesdialog.h"
#include "app/distributionchart.h"
#include "app/historychart.h"

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDialogButtonBox>
#include <QLegend>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QStackedBarSeries>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>
#include <memory>

namespace {

const QDateTime morning(QDate(2026, 12, 9), QTime(9, 0));

// Pixels close to `colour` in a picture of the widget as shown (lines are drawn smoothed).
int countColour(QWidget &widget, QColor colour)
{
    QApplication::processEvents();
    const QImage image = widget.grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                         std::abs(pixel.blue() - colour.blue()) <
                     60;
        }
    return count;
}

// What a distribution chart shows: names, categories, and per bar its values (a set per bar, or a
// point), read from the chart's own series and axes as they are drawn now.
struct DrawnBars
{
    QStringList labels;
    QStringList categories;
    QList<QList<qreal>> values;
    QList<QColor> colours;
    double maximum = 0;
    bool operator==(const DrawnBars &) const = default;
};

DrawnBars drawnBars(const DistributionChart &chart)
{
    DrawnBars drawn;
    drawn.labels = chart.labels();
    QChart *shown = chart.chart();
    drawn.categories =
        qobject_cast<QBarCategoryAxis *>(shown->axes(Qt::Horizontal).constFirst())->categories();
    drawn.maximum = qobject_cast<QValueAxis *>(shown->axes(Qt::Vertical).constFirst())->max();
    QAbstractSeries *series = shown->series().constFirst();
    if (auto *bars = qobject_cast<QStackedBarSeries *>(series)) {
        for (QBarSet *set : bars->barSets()) {
            QList<qreal> values;
            for (int i = 0; i < set->count(); ++i)
                values << set->at(i);
            drawn.values << values;
            drawn.colours << set->brush().color();
        }
        return drawn;
    }
    auto *area = qobject_cast<QAreaSeries *>(series);
    for (const QPointF &point : (area ? area->upperSeries() : qobject_cast<QXYSeries *>(series))->points())
        drawn.values << QList<qreal>{point.x(), point.y()};
    return drawn;
}

std::unique_ptr<DistributionChart> chartOfType(SeriesType type)
{
    auto chart = std::make_unique<DistributionChart>();
    ChartSettings settings = chart->settings();
    settings.series[0].type = type;
    chart->applySettings(settings);
    return chart;
}

void fill(DistributionChart &chart, const QStringList &names, double scale)
{
    chart.clear();
    for (int i = 0; i < names.size(); ++i)
        chart.addBar(i + 1, (i + 1) * scale, names.at(i));
}

QStringList companies(int count)
{
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names << QStringLiteral("Firma %1").arg(i);
    return names;
}

} // namespace

class TestCharts : public QObject
{
    Q_OBJECT

private slots:
    void barsInTheAutomaticColourSequence()
    {
        DistributionChart chart;
        QStringList names;
        for (int row = 1; row <= 40; ++row) {
            // Shared and empty names still get a bar and a label of their own.
            const QString name = row == 7        ? QString()
                                 : row % 10 == 0 ? QStringLiteral("Gleich")
                                                 : QStringLiteral("Firma %1").arg(row);
            names << name;
            chart.addBar(row, row * 0.1, name);
        }
        QCOMPARE(chart.barCount(), 40);
        QCOMPARE(chart.labels(), names);
        QCOMPARE(chart.categoryAxis()->count(), 40);
        auto *bars = qobject_cast<QStackedBarSeries *>(chart.series());
        QVERIFY(bars);
        QCOMPARE(bars->count(), 40);
        for (int i = 0; i < 40; ++i) {
            QBarSet *set = bars->barSets().at(i);
            QCOMPARE(set->brush().color(), EditableChart::automaticColour(i));
            QCOMPARE(set->count(), i + 1);
            QCOMPARE(set->at(i), (i + 1) * 0.1);
            if (i > 0)
                QVERIFY(EditableChart::automaticColour(i) != EditableChart::automaticColour(i - 1));
        }
        QVERIFY(chart.valueAxis()->max() >= 4.0);
        QVERIFY(chart.chart()->title().isEmpty());
        QVERIFY(!chart.chart()->legend()->isVisible());

        chart.clear();
        QCOMPARE(chart.barCount(), 0);
        QCOMPARE(qobject_cast<QStackedBarSeries *>(chart.series())->count(), 0);
        QCOMPARE(chart.categoryAxis()->count(), 0);
    }

    void distributionTypeChangeKeepsTheBars_data()
    {
        QTest::addColumn<SeriesType>("type");
        QTest::newRow("line") << SeriesType::Line;
        QTest::newRow("points") << SeriesType::Points;
        QTest::newRow("area") << SeriesType::Area;
        QTest::newRow("bar") << SeriesType::Bar;
    }

    void distributionTypeChangeKeepsTheBars()
    {
        QFETCH(SeriesType, type);
        DistributionChart chart;
        chart.addBar(1, 60, QStringLiteral("A"));
        chart.addBar(2, 40, QStringLiteral("B"));
        ChartSettings settings = chart.settings();
        settings.series[0].type = type;
        settings.series[0].title = QStringLiteral("Gewicht");
        chart.applySettings(settings);
        QCOMPARE(chart.settings().series.at(0).type, type);
        QCOMPARE(chart.series()->name(), QStringLiteral("Gewicht"));
        chart.addBar(3, 10, QStringLiteral("C"));
        if (auto *xy = qobject_cast<QXYSeries *>(chart.series()))
            QCOMPARE(xy->count(), 3);
        QCOMPARE(chart.categoryAxis()->count(), 3);
    }

    // Every calculation clears and refills the bars; the chart keeps what it drew for the refill and must
    // end up exactly as one filled afresh.
    void refillDrawsAsAFreshChart_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<SeriesType>("type");
        const QStringList forty = companies(40);
        QStringList renamed = forty;
        renamed[17] = QStringLiteral("Neu AG");
        QStringList shared = forty;
        shared[5] = shared[6] = QString();
        QTest::newRow("same names, new weights") << forty << forty << SeriesType::Bar;
        QTest::newRow("fewer bars") << forty << forty.mid(0, 30) << SeriesType::Bar;
        QTest::newRow("more bars") << forty.mid(0, 30) << forty << SeriesType::Bar;
        QTest::newRow("a name changed") << forty << renamed << SeriesType::Bar;
        QTest::newRow("empty and shared names") << shared << shared << SeriesType::Bar;
        QTest::newRow("none left") << forty << QStringList() << SeriesType::Bar;
        QTest::newRow("line, fewer bars") << forty << forty.mid(0, 10) << SeriesType::Line;
        QTest::newRow("points, new weights") << forty << forty << SeriesType::Points;
        QTest::newRow("area, new weights") << forty << forty << SeriesType::Area;
    }

    void refillDrawsAsAFreshChart()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(SeriesType, type);
        const auto refilled = chartOfType(type);
        fill(*refilled, before, 0.5);
        refilled->flush();
        fill(*refilled, after, 2.0);
        QCOMPARE(refilled->barCount(), int(after.size()));
        refilled->flush();
        const auto fresh = chartOfType(type);
        fill(*fresh, after, 2.0);
        fresh->flush();
        QVERIFY(drawnBars(*refilled) == drawnBars(*fresh));

        // Left to itself, the refill of a chart on screen is drawn by the event loop; a hidden one waits
        // until it shows.
        refilled->show();
        QVERIFY(QTest::qWaitForWindowExposed(refilled.get()));
        fill(*refilled, before, 0.5);
        refilled->flush();
        fill(*refilled, after, 3.0);
        const auto later = chartOfType(type);
        fill(*later, after, 3.0);
        later->flush();
        QTRY_VERIFY(drawnBars(*refilled) == drawnBars(*later));
    }

    void historySeriesAsLaidOut_data()
    {
        QTest::addColumn<HistorySeries>("series");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("width");
        QTest::addColumn<Qt::PenStyle>("style");
        QTest::addColumn<bool>("visible");
        QTest::newRow("Series2") << HistorySeries::Index << "Index" << QColor(0, 128, 255) << 2
                                 << Qt::SolidLine << true;
        QTest::newRow("Series3") << HistorySeries::IndexAsk << "Index_ASK" << QColor(0, 255, 64) << 1
                                 << Qt::SolidLine << false;
        QTest::newRow("Series4") << HistorySeries::IndexBid << "Index_BID" << QColor(255, 0, 0) << 1
                                 << Qt::SolidLine << false;
        QTest::newRow("Series5") << HistorySeries::IndexMittel << "Index_Mittel" << QColor(0, 0, 160) << 1
                                 << Qt::DotLine << false;
    }

    void historySeriesAsLaidOut()
    {
        QFETCH(HistorySeries, series);
        QFETCH(QString, title);
        QFETCH(QColor, colour);
        QFETCH(int, width);
        QFETCH(Qt::PenStyle, style);
        QFETCH(bool, visible);
        HistoryChart chart;
        const QLineSeries *line = chart.series(series);
        QCOMPARE(line->name(), title);
        QCOMPARE(line->pen().color(), colour);
        QCOMPARE(line->pen().width(), width);
        QCOMPARE(line->pen().style(), style);
        QCOMPARE(line->isVisible(), visible);
        QVERIFY(!line->pointsVisible());
        QCOMPARE(chart.seriesType(series), SeriesType::Line);

        // Hidden or not, the series receives its points.
        chart.addPoint(series, morning.addSecs(5), 12000.5);
        QCOMPARE(chart.pointCount(series), 1);
        QCOMPARE(chart.point(series, 0), QPointF(double(morning.addSecs(5).toMSecsSinceEpoch()), 12000.5));
        QCOMPARE(chart.pointLabel(series, 0), QStringLiteral("09:00:05"));
    }

    void historyAxesFollowTheShownSeries()
    {
        HistoryChart chart;
        chart.show();
        QVERIFY(chart.chart()->title().isEmpty());
        QVERIFY(!chart.chart()->legend()->isVisible());
        QCOMPARE(chart.chart()->backgroundBrush().color(), QColor(Qt::white));
        for (int i = 0; i < 100; ++i) {
            chart.addPoint(HistorySeries::Index, morning.addSecs(i * 5), 12000 + i);
            // A hidden series does not stretch the axes.
            chart.addPoint(HistorySeries::IndexAsk, morning.addSecs(i * 5), 50000);
        }
        QCOMPARE(chart.timeAxis()->min(), morning);
        QCOMPARE(chart.timeAxis()->max(), morning.addSecs(99 * 5));
        QVERIFY(chart.valueAxis()->min() <= 12000);
        QVERIFY(chart.valueAxis()->max() >= 12099);
        QVERIFY(chart.valueAxis()->max() < 13000);
        QCOMPARE(chart.rightValueAxis()->min(), chart.valueAxis()->min());
        QCOMPARE(chart.rightValueAxis()->max(), chart.valueAxis()->max());

        chart.series(HistorySeries::IndexAsk)->setVisible(true);
        QVERIFY(chart.valueAxis()->max() >= 50000);

        // A range the user fixed stays while points come in.
        ChartSettings settings = chart.settings();
        settings.yAxis.automatic = false;
        settings.yAxis.minimum = 11000;
        settings.yAxis.maximum = 13000;
        chart.applySettings(settings);
        chart.addPoint(HistorySeries::Index, morning.addSecs(1000), 20000);
        QCOMPARE(chart.valueAxis()->min(), 11000.0);
        QCOMPARE(chart.valueAxis()->max(), 13000.0);

        chart.clearAll();
        for (int i = 0; i < HistoryChart::seriesCount; ++i)
            QCOMPARE(chart.pointCount(HistorySeries(i)), 0);
    }

    void historyIsDrawnForShownSeriesOnly()
    {
        HistoryChart chart;
        chart.resize(500, 400);
        chart.show();
        for (int i = 0; i < 2000; ++i) {
            chart.addPoint(HistorySeries::Index, morning.addSecs(i * 5), 12000 + (i % 50));
            chart.addPoint(HistorySeries::IndexBid, morning.addSecs(i * 5), 11990 + (i % 50));
        }
        const QColor blue(0, 128, 255);
        const QColor red(255, 0, 0);
        QVERIFY(countColour(chart, blue) > 100);
        QCOMPARE(countColour(chart, red), 0);
        chart.series(HistorySeries::IndexBid)->setVisible(true);
        QVERIFY(countColour(chart, red) > 100);
        chart.clearAll();
        QCOMPARE(countColour(chart, blue), 0);
    }

    void dialogEditsTheChart()
    {
        HistoryChart chart;
        chart.addPoint(HistorySeries::Index, morning, 12000);
        ChartPropertiesDialog dialog;
        dialog.setChart(&chart);
        auto *list = dialog.findChild<QListWidget *>(QStringLiteral("seriesList"));
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->item(3)->text(), QStringLiteral("Index_Mittel"));
        QCOMPARE(list->item(3)->checkState(), Qt::Unchecked);

        // Show "Index_Mittel", rename "Index" and draw it as bars; legend and title on.
        list->item(3)->setCheckState(Qt::Checked);
        list->setCurrentRow(0);
        auto *title = dialog.findChild<QLineEdit *>(QStringLiteral("seriesTitle"));
        title->clear();
        QTest::keyClicks(title, QStringLiteral("DAX"));
        auto *type = dialog.findChild<QComboBox *>(QStringLiteral("seriesType"));
        type->setCurrentIndex(type->findText(QStringLiteral("Balken")));
        dialog.findChild<QCheckBox *>(QStringLiteral("legend"))->setChecked(true);
        dialog.findChild<QLineEdit *>(QStringLiteral("title"))->setText(QStringLiteral("Tagesverlauf"));

        // Nothing changes before "OK" or "Übernehmen".
        QCOMPARE(chart.series(HistorySeries::Index)->name(), QStringLiteral("Index"));
        QTest::mouseClick(dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);

        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(chart.series(HistorySeries::Index)->name(), QStringLiteral("DAX"));
        QCOMPARE(chart.seriesType(HistorySeries::Index), SeriesType::Bar);
        QVERIFY(chart.series(HistorySeries::IndexMittel)->isVisible());
        QVERIFY(chart.chart()->legend()->isVisible());
        QCOMPARE(chart.chart()->title(), QStringLiteral("Tagesverlauf"));
        QCOMPARE(chart.pointCount(HistorySeries::Index), 1);
    }

    void dialogCancelLeavesTheChart()
    {
        DistributionChart chart;
        chart.addBar(1, 100, QStringLiteral("A"));
        ChartPropertiesDialog dialog;
        dialog.setChart(&chart);
        QCOMPARE(dialog.findChild<QListWidget *>(QStringLiteral("seriesList"))->count(), 1);
        dialog.findChild<QCheckBox *>(QStringLiteral("threeD"))->setChecked(true);
        dialog.findChild<QListWidget *>(QStringLiteral("seriesList"))->item(0)->setCheckState(Qt::Unchecked);
        dialog.reject();
        QVERIFY(!chart.settings().threeD);
        QVERIFY(chart.series()->isVisible());

        // The same dialog serves the other chart next.
        HistoryChart history;
        dialog.setChart(&history);
        QCOMPARE(dialog.findChild<QListWidget *>(QStringLiteral("seriesList"))->count(), 4);
        QVERIFY(!dialog.findChild<QCheckBox *>(QStringLiteral("threeD"))->isChecked());
    }

    void printMargins_data()
    {
        QTest::addColumn<QRectF>("page");
        QTest::addColumn<QRectF>("area");
        QTest::newRow("A4 landscape, 100 dpi")
            << QRectF(0, 0, 1169, 827) << QRectF(362.39, 124.05, 444.22, 578.9);
        QTest::newRow("square") << QRectF(0, 0, 1000, 1000) << QRectF(310, 150, 380, 700);
        QTest::newRow("offset page") << QRectF(100, 200, 1000, 1000) << QRectF(410, 350, 380, 700);
    }

    void printMargins()
    {
        QFETCH(QRectF, page);
        QFETCH(QRectF, area);
        const QRectF result = ChartPrintPreview::chartArea(page);
        QVERIFY2(std::abs(result.left() - area.left()) < 0.01 && std::abs(result.top() - area.top()) < 0.01 &&
                     std::abs(result.width() - area.width()) < 0.01 &&
                     std::abs(result.height() - area.height()) < 0.01,
                 qPrintable(QStringLiteral("%1 %2 %3 %4")
                                .arg(result.left())
                                .arg(result.top())
                                .arg(result.width())
                                .arg(result.height())));
    }

    void printedPageKeepsTheMarginsFree()
    {
        DistributionChart chart;
        chart.resize(600, 500);
        for (int row = 1; row <= 40; ++row)
            chart.addBar(row, row, QStringLiteral("Firma %1").arg(row));
        chart.flush();
        const QSizeF onScreen = chart.chart()->size();
        QImage page(1000, 700, QImage::Format_RGB32);
        page.fill(Qt::white);
        {
            QPainter painter(&page);
            ChartPrintPreview::paintChart(&painter, chart.chart(), ChartPrintPreview::chartArea(page.rect()),
                                          100);
        }
        QCOMPARE(chart.chart()->size(), onScreen);
        int inside = 0;
        int outside = 0;
        for (int y = 0; y < page.height(); ++y) {
            for (int x = 0; x < page.width(); ++x) {
                const bool drawn = page.pixel(x, y) != qRgb(255, 255, 255);
                const bool inArea = x >= 310 && x < 690 && y >= 105 && y < 595;
                (inArea ? inside : outside) += drawn;
            }
        }
        QCOMPARE(outside, 0);
        QVERIFY(inside > 10000);
    }

    void printsToPdf()
    {
        QTemporaryDir dir;
        HistoryChart chart;
        chart.resize(600, 500);
        chart.addPoint(HistorySeries::Index, morning, 12000);
        chart.addPoint(HistorySeries::Index, morning.addSecs(60), 12010);
        const QSizeF onScreen = chart.chart()->size();
        ChartPrintPreview preview;
        preview.setChart(chart.chart(), QStringLiteral("Index-Verlauf"));
        QCOMPARE(preview.chart(), chart.chart());
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("verlauf.pdf")));
        preview.print(&printer);
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("verlauf.pdf"))).size() > 1000);
        QCOMPARE(chart.chart()->size(), onScreen);
    }

    void savesTheChart_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("PNG") << "verlauf.png";
        QTest::newRow("SVG") << "verlauf.svg";
        QTest::newRow("PDF") << "verlauf.pdf";
    }

    void savesTheChart()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        HistoryChart chart;
        chart.resize(600, 500);
        chart.show(); // as the window shows the page before it saves the chart
        chart.addPoint(HistorySeries::Index, morning, 12000);
        chart.addPoint(HistorySeries::Index, morning.addSecs(60), 12010);
        ChartExport::writeChart(path, chart.chart(), QSize(800, 400));
        if (name.endsWith(QLatin1String("png"))) {
            const QImage image(path);
            QCOMPARE(image.size(), QSize(800, 400));
            int line = 0; // pixels of the series "Index", drawn as shown
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    line += image.pixel(x, y) == qRgb(0, 128, 255);
            QVERIFY(line > 100);
        } else if (name.endsWith(QLatin1String("svg"))) {
            QSvgRenderer svg(path);
            QVERIFY(svg.isValid());
            QCOMPARE(svg.viewBoxF(), QRectF(0, 0, 800, 400));
        } else {
            QFile pdf(path);
            QVERIFY(pdf.open(QIODevice::ReadOnly));
            const QByteArray bytes = pdf.readAll();
            QVERIFY(bytes.startsWith("%PDF-") && bytes.trimmed().endsWith("%%EOF"));
        }
    }

    // The points of one moment make one line of the exported history.
    void exportsTheHistory()
    {
        QTemporaryDir dir;
        HistoryChart chart;
        chart.addPoint(HistorySeries::Index, morning, 12000.5);
        chart.addPoint(HistorySeries::IndexBid, morning, 11990);
        chart.addPoint(HistorySeries::Index, morning.addSecs(5), 12001);
        const QString path = dir.filePath(QStringLiteral("verlauf.csv"));
        ChartExport::writeHistory(path, chart.rows());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("Zeit;Index;Bid;Ask;Mittel\n2026-12-09T09:00:00;12000,5;11990;;\n"
                                            "2026-12-09T09:00:05;12001;;;\n"));
    }
};

QTEST_MAIN(TestCharts)
#include "test_charts.moc"
