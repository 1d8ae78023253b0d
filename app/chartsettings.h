#pragma once

#include <QColor>
#include <QList>
#include <QString>

// The display settings of a chart that the chart properties dialog edits. A chart reads them out of its
// elements and applies them back; the dialog works on a copy, so "Abbrechen" changes nothing.

enum class SeriesType { Line, Bar, Points, Area };

struct SeriesSettings
{
    QString title;
    bool visible = true;
    SeriesType type = SeriesType::Line;
    QColor colour;
    // Bars in the chart's automatic colour sequence, one colour per bar; only where the chart offers it.
    bool canColourEachPoint = false;
    bool colourEachPoint = false;
};

enum class AxisKind { Value, DateTime, Category };

struct AxisSettings
{
    AxisKind kind = AxisKind::Value;
    QString title;
    bool labelsVisible = true;
    // Fitted to the data; otherwise the range below. Date-time ranges are milliseconds since the epoch.
    // A category axis has no range of its own.
    bool automatic = true;
    double minimum = 0;
    double maximum = 0;
};

struct ChartSettings
{
    QString title;
    bool legendVisible = false;
    bool threeD = false;
    QColor background;
    QColor plotBackground;
    AxisSettings xAxis;
    AxisSettings yAxis;
    QList<SeriesSettings> series;
};
