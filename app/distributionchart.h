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

    // Every calculation clears the bars and adds them again, mostly with the same names and new weights.
    // Re-creating the bars costs a layout of the whole chart per bar, and so does every change of the
    // value range: most of a web refresh. So the bars drawn stay for the refill: a bar added again
    // under the same name takes its new weight, and that and the value range are drawn in one go at the
    // next turn of the event loop (or at once when the chart's elements are asked for). A bar with
    // another name is drawn at once.
    void clear();
    // One bar for the component in table row `row`, in row order: height `weight`, label `label`.
    void addBar(int row, double weight, const QString &label);

    int barCount() const { return int(m_bars.size()); }
    // `Series1` as drawn now: a QStackedBarSeries of one set per bar, or the line, point or area series
    // the user chose in the properties dialog.
    QAbstractSeries *series() const;
    QBarCategoryAxis *categoryAxis() const;
    QValueAxis *valueAxis() const;
    // The names under the bars, in bar order.
    QStringList labels() const;

    ChartSettings settings() const override;
    void applySettings(const ChartSettings &settings) override;

private:
    struct Bar
    {
        int row = 0;
        double weight = 0;
        QString label;
    };

    void rebuild();
    void appendDrawn(const Bar &bar, int index);
    // Brings the drawn bars to the first `count` bars: new weights, and none drawn beyond them.
    void updateDrawn(int count);
    void drawLater();
    // Draws what drawLater() left; const for the accessors, which show the chart as it stands.
    void settle() const;
    QColor barColour(int index) const;
    QBrush barBrush(int index) const;
    void updateValueRange();
    void updateLabels();

    QList<Bar> m_bars;
    QStringList m_drawnLabels; // the names of the bars drawn, in order
    mutable bool m_drawPending = false;
    bool m_drawPosted = false;
    SeriesSettings m_series;
    AxisSettings m_valueAxis;
    QAbstractSeries *m_drawn = nullptr;
    QBarCategoryAxis *m_categories = nullptr;
    QValueAxis *m_values = nullptr;
    BarLabelsItem *m_labels = nullptr;
    bool m_labelsVisible = true;
};
