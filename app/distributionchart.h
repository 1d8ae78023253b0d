#pragma once

#include "app/editablechart.h"

class BarLabelsItem;
class QAbstractSeries;
class QBarCategoryAxis;
class QValueAxis;

// The bar chart "Verteilung" (`Chart1` with `Series1`): one bar per component, its weight in percent,
// each bar in the next colour of the automatic sequence, the component names upright under the bars
// and all of them drawn. Flat, no title, no legend, no value marks.
class DistributionChart : public EditableChart
{
    Q_OBJECT

public:
    explicit DistributionChart(QWidget *parent = nullptr);

    void clear();
    // One bar for the component in table row `row`, in row order: height `weight`, label `label`.
    void addBar(int row, double weight, const QString &label);

    int barCount() const { return int(m_bars.size()); }
    // `Series1` as drawn now: a QStackedBarSeries of one set per bar, or the line, point or area series
    // the user chose in the properties dialog.
    // The drawn parts, brought up to date with the bars first.
    QAbstractSeries *series() const
    {
        flush();
        return m_drawn;
    }
    QBarCategoryAxis *categoryAxis() const
    {
        flush();
        return m_categories;
    }
    QValueAxis *valueAxis() const
    {
        flush();
        return m_values;
    }
    // Draws the bars handed over since the last drawing now rather than when the event loop next runs.
    void flush() const;
    // The names under the bars, in bar order.
    QStringList labels() const;

    ChartSettings settings() const override;
    void applySettings(const ChartSettings &settings) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct Bar
    {
        int row = 0;
        double weight = 0;
        QString label;
    };

    void rebuild();
    void scheduleRebuild();
    // The pending drawing: new weights into the bars drawn when the names are the same, else rebuild().
    void redraw();
    bool updateWeights();
    void appendDrawn(const Bar &bar, int index);
    QColor barColour(int index) const;
    QBrush barBrush(int index) const;
    void updateValueRange();
    void updateLabels();

    QList<Bar> m_bars;
    SeriesSettings m_series;
    AxisSettings m_valueAxis;
    QAbstractSeries *m_drawn = nullptr;
    QBarCategoryAxis *m_categories = nullptr;
    QValueAxis *m_values = nullptr;
    BarLabelsItem *m_labels = nullptr;
    bool m_labelsVisible = true;
    bool m_rebuildPending = false;
    QStringList m_drawnLabels; // the names of the bars drawn, in order
};
