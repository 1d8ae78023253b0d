#include "app/chartprintpreview.h"

#include <QChart>
#include <QDir>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>

namespace {

QPrinter *makePrinter()
{
    auto *printer = new QPrinter(QPrinter::HighResolution);
    // A chart is wider than high: landscape suits it better; the user may turn the page.
    printer->setPageOrientation(QPageLayout::Landscape);
    // The chart's own margins are inside the page; the paper's edges are handled by the printer.
    printer->setFullPage(true);
    if (QPrinterInfo::availablePrinterNames().isEmpty())
        printer->setOutputFormat(QPrinter::PdfFormat);
    return printer;
}

} // namespace

ChartPrintPreview::ChartPrintPreview(QWidget *parent) : QPrintPreviewDialog(makePrinter(), parent)
{
    setWindowTitle(QStringLiteral("Druckvorschau"));
    connect(this, &QPrintPreviewDialog::paintRequested, this, &ChartPrintPreview::print);
}

ChartPrintPreview::~ChartPrintPreview()
{
    delete printer();
}

void ChartPrintPreview::setChart(QChart *chart, const QString &documentName)
{
    m_chart = chart;
    printer()->setDocName(documentName);
    if (printer()->outputFormat() == QPrinter::PdfFormat) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        printer()->setOutputFileName(QDir(folder.isEmpty() ? QDir::homePath() : folder)
                                         .filePath(documentName + QStringLiteral(".pdf")));
    }
}

QRectF ChartPrintPreview::chartArea(const QRectF &page)
{
    return QRectF(page.left() + page.width() * 0.31, page.top() + page.height() * 0.15, page.width() * 0.38,
                  page.height() * 0.70);
}

void ChartPrintPreview::paintChart(QPainter *painter, QChart *chart, const QRectF &target, double dotsPerInch)
{
    if (!chart || !chart->scene() || target.isEmpty())
        return;
    // Lay the chart out at the target's physical size in screen pixels, draw it, and restore it.
    const double pixelsPerDot = 96.0 / dotsPerInch;
    const QSizeF printSize(target.width() * pixelsPerDot, target.height() * pixelsPerDot);
    const QSizeF screenSize = chart->size();
    chart->resize(printSize);
    if (chart->layout())
        chart->layout()->activate();
    chart->scene()->render(painter, target, QRectF(chart->pos(), printSize), Qt::IgnoreAspectRatio);
    chart->resize(screenSize);
    if (chart->layout())
        chart->layout()->activate();
}

void ChartPrintPreview::print(QPrinter *printer)
{
    QPainter painter(printer);
    const QRectF page = printer->pageLayout().fullRectPixels(printer->resolution());
    paintChart(&painter, m_chart, chartArea(page), printer->resolution());
}
