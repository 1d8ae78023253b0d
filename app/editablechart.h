#pragma once

#include "app/chartsettings.h"

#include <QChartView>

class QAbstractAxis;

// A chart page whose display settings the chart properties dialog edits: "Verteilung" and
// "Index-Verlauf". The view owns its chart.
class EditableChart : public QChartView
{
    Q_OBJECT

public:
    explicit EditableChart(QWidget *parent = nullptr);

    virtual ChartSettings settings() const = 0;
    // Applies everything in `settings`; its series list matches settings() in length and order.
    virtual void applySettings(const ChartSettings &settings) = 0;

    // The automatic colour sequence of the charts: distinct, well-visible colours on white.
    static QColor automaticColour(int index);

    // An axis range that shows [low, high] with round tick values, and its number of ticks (about
    // `ticks`). An empty or reversed range is widened first.
    struct NiceRange
    {
        double minimum = 0;
        double maximum = 0;
        int ticks = 0;
    };
    static NiceRange niceRange(double low, double high, int ticks);

protected:
    // Title, legend, 3D and backgrounds, common to both charts.
    void readChartSettings(ChartSettings &settings) const;
    void applyChartSettings(const ChartSettings &settings);
    static void readAxisTexts(const QAbstractAxis *axis, AxisSettings &settings);
    static void applyAxisTexts(QAbstractAxis *axis, const AxisSettings &settings);

    bool m_threeD = false;
};
