#pragma once

#include "core/dayhistory.h"

#include <QList>
#include <QSize>
#include <QString>

class QChart;
class QChartView;
class QWidget;

// Taking the day out of the program: the history as a CSV file for a spreadsheet, and a chart as a
// picture for a report.
namespace ChartExport {

// Writes `rows` as a day's history file (header and lines as the day's file has them) to `path`,
// replacing it atomically. Throws FileError naming the file.
void writeHistory(const QString &path, const QList<DayHistoryRow> &rows);

// Draws `chart` as it is shown, laid out at `size` pixels, into `path`: PNG, SVG or PDF by the file's
// suffix (PNG for any other), replacing the file atomically. Throws FileError naming the file.
void writeChart(const QString &path, QChart *chart, QSize size);

// "Verlauf exportieren …": asks for a file name, then writes `rows` there.
void exportHistory(QWidget *parent, const QList<DayHistoryRow> &rows);

// "Diagramm speichern …": asks for a file name and format and for the size (the view's, or another),
// then writes the chart of `view` there. `name` ("Verteilung") is the suggested file name.
void saveChart(QWidget *parent, QChartView *view, const QString &name);

} // namespace ChartExport
