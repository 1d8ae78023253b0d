#pragma once

#include <QPointer>
#include <QPrintPreviewDialog>

class QChart;
class QPrinter;

// The print preview `ChartPreviewer1`, shared by both charts: the window points it at a chart and opens
// it modally. The user sets up the page and prints; the chart fills the page inside margins of 31 % of
// the page's width on the left and right and 15 % of its height at the top and bottom. Where no printer
// is installed the print goes to a PDF file ("<document name>.pdf" in the documents folder).
class ChartPrintPreview : public QPrintPreviewDialog
{
    Q_OBJECT

public:
    explicit ChartPrintPreview(QWidget *parent = nullptr);
    ~ChartPrintPreview() override;

    // The chart to print and the document's name ("Verteilung", "Index-Verlauf").
    void setChart(QChart *chart, const QString &documentName);
    QChart *chart() const { return m_chart; }

    // The part of `page` that the chart fills.
    static QRectF chartArea(const QRectF &page);
    // Draws `chart` into `target` of `painter`, laid out anew for the target's proportions so that text
    // and lines keep their shapes; the chart on screen stays as it was.
    static void paintChart(QPainter *painter, QChart *chart, const QRectF &target, double dotsPerInch);
    // Prints the chart onto `printer`: what the preview shows and what "Drucken" sends.
    void print(QPrinter *printer);

private:
    QPointer<QChart> m_chart;
};
