#include "app/chartexport.h"

#include "app/chartprintpreview.h"
#include "core/errors.h"
#include "core/programfiles.h"

#include <QChart>
#include <QChartView>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSpinBox>
#include <QStandardPaths>
#include <QSvgGenerator>

namespace {

QString documentsFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return folder.isEmpty() ? QDir::homePath() : folder;
}

[[noreturn]] void failed(const QString &path)
{
    throw FileError(QStringLiteral("Konnte Datei nicht schreiben: %1").arg(QDir::toNativeSeparators(path)));
}

// The size to draw at: the view's, or one the user enters. None when the user cancels.
std::optional<QSize> askSize(QWidget *parent, QSize shown)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Diagramm speichern"));
    auto *form = new QFormLayout(&dialog);
    auto *width = new QSpinBox(&dialog);
    auto *height = new QSpinBox(&dialog);
    for (QSpinBox *box : {width, height}) {
        box->setRange(16, 10000);
        box->setSuffix(QStringLiteral(" Pixel"));
    }
    width->setValue(shown.width());
    height->setValue(shown.height());
    form->addRow(QStringLiteral("Breite:"), width);
    form->addRow(QStringLiteral("Höhe:"), height);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return QSize(width->value(), height->value());
}

} // namespace

namespace ChartExport {

void writeHistory(const QString &path, const QList<DayHistoryRow> &rows)
{
    QByteArray contents = QByteArray(DayHistory::header) + '\n';
    for (const DayHistoryRow &row : rows)
        contents += DayHistory::formatLine(row);
    ProgramFiles::writeAtomically(path, contents);
}

void writeChart(const QString &path, QChart *chart, QSize size)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        failed(path);
    const QRectF target(QPointF(0, 0), QSizeF(size));
    const QString suffix = QFileInfo(path).suffix().toLower();
    bool written = true;
    if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(target);
        svg.setTitle(chart->title().isEmpty() ? QFileInfo(path).completeBaseName() : chart->title());
        QPainter painter(&svg);
        ChartPrintPreview::paintChart(&painter, chart, target, 96);
    } else if (suffix == QLatin1String("pdf")) {
        // One page of the chart's size, without margins, at screen resolution.
        QPdfWriter pdf(&file);
        pdf.setResolution(96);
        pdf.setPageSize(
            QPageSize(QSizeF(size) * 72.0 / 96.0, QPageSize::Point, QString(), QPageSize::ExactMatch));
        pdf.setPageMargins(QMarginsF());
        QPainter painter(&pdf);
        ChartPrintPreview::paintChart(&painter, chart, target, 96);
    } else {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            ChartPrintPreview::paintChart(&painter, chart, target, 96);
        }
        written = image.save(&file, "PNG");
    }
    if (!written || !file.commit())
        failed(path);
}

void exportHistory(QWidget *parent, const QList<DayHistoryRow> &rows)
{
    const QString path = QFileDialog::getSaveFileName(
        parent, QStringLiteral("Verlauf exportieren"),
        QDir(documentsFolder()).filePath(QStringLiteral("Verlauf.csv")), QStringLiteral("CSV-Datei (*.csv)"));
    if (!path.isEmpty())
        writeHistory(path, rows);
}

void saveChart(QWidget *parent, QChartView *view, const QString &name)
{
    const QStringList filters = {QStringLiteral("PNG-Bild (*.png)"), QStringLiteral("SVG-Grafik (*.svg)"),
                                 QStringLiteral("PDF-Dokument (*.pdf)")};
    QString filter = filters.first();
    QString path =
        QFileDialog::getSaveFileName(parent, QStringLiteral("Diagramm speichern"),
                                     QDir(documentsFolder()).filePath(name + QStringLiteral(".png")),
                                     filters.join(QStringLiteral(";;")), &filter);
    if (path.isEmpty())
        return;
    // A name without a suffix takes the format chosen in the dialog.
    if (QFileInfo(path).suffix().isEmpty())
        path += u'.' + filter.section(u'.', 1).chopped(1);
    const std::optional<QSize> size = askSize(parent, view->size());
    if (size)
        writeChart(path, view->chart(), *size);
}

} // namespace ChartExport
