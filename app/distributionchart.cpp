#include "app/distributionchart.h"

#include "app/barlabelsitem.h"

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLineSeries>
#include <QScatterSeries>
#include <QStackedBarSeries>
#include <QTimer>
#include <QValueAxis>

namespace {

// A category axis holds every text once; components may share a name or have none. Invisible
// zero-width spaces keep such labels apart without changing what is drawn.
QString uniqueCategory(const QString &label, const QStringList &categories)
{
    QString category = label;
    while (category.isEmpty() || categories.contains(category))
        category += QChar(0x200B);
    return category;
}

} // namespace

DistributionChart::DistributionChart(QWidget *parent) : EditableChart(parent)
{
    QChart *chart = this->chart();

    m_categories = new QBarCategoryAxis;
    m_categories->setLabelsAngle(-90);
    m_categories->setTruncateLabels(false);
    m_categories->setGridLineVisible(false);
    // The names are drawn by our own item below the plot, all of them.
    m_categories->setLabelsVisible(false);
    chart->addAxis(m_categories, Qt::AlignBottom);
    m_labels = new BarLabelsItem(chart);
    m_labels->setFont(m_categories->labelsFont());
    m_labels->setBrush(m_categories->labelsBrush());
    connect(chart, &QChart::plotAreaChanged, m_labels, &BarLabelsItem::setPlotArea);
    m_values = new QValueAxis;
    m_values->setLabelFormat(QStringLiteral("%.4g"));
    chart->addAxis(m_values, Qt::AlignLeft);

    m_series.title = QStringLiteral("Wichtung in %");
    m_series.type = SeriesType::Bar;
    m_series.colour = automaticColour(0);
    m_series.canColourEachPoint = true;
    m_series.colourEachPoint = true;
    rebuild();
}

void DistributionChart::clear()
{
    m_bars.clear();
    scheduleRebuild();
}

void DistributionChart::addBar(int row, double weight, const QString &label)
{
    m_bars.append({row, weight, label});
    scheduleRebuild();
}

void DistributionChart::scheduleRebuild()
{
    // A calculation clears the chart and adds every bar in one go: the chart is drawn anew once, when
    // the calculation has handed over its last bar, not for every bar (each costs a layout of the chart).
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    // A chart on a page that is not shown is drawn when it shows: most calculations happen while the
    // table or another page is in front.
    QTimer::singleShot(0, this, [this] {
        if (m_rebuildPending && isVisible())
            redraw();
    });
}

void DistributionChart::showEvent(QShowEvent *event)
{
    flush();
    EditableChart::showEvent(event);
}

void DistributionChart::flush() const
{
    if (m_rebuildPending)
        const_cast<DistributionChart *>(this)->redraw();
}

void DistributionChart::redraw()
{
    if (!updateWeights())
        rebuild();
}

bool DistributionChart::updateWeights()
{
    // Most calculations hand over the same components with new weights. Replacing the weights of the
    // bars drawn costs a fraction of drawing the series anew, which re-creates every bar's item.
    if (m_bars.size() != m_drawnLabels.size())
        return false;
    for (int i = 0; i < m_bars.size(); ++i) {
        if (m_bars.at(i).label != m_drawnLabels.at(i))
            return false;
    }
    m_rebuildPending = false;
    if (auto *bars = qobject_cast<QStackedBarSeries *>(m_drawn)) {
        const QList<QBarSet *> sets = bars->barSets();
        for (int i = 0; i < sets.size(); ++i) {
            if (sets.at(i)->at(i) != m_bars.at(i).weight)
                sets.at(i)->replace(i, m_bars.at(i).weight);
        }
    } else {
        QList<QPointF> points;
        for (int i = 0; i < m_bars.size(); ++i)
            points << QPointF(i, m_bars.at(i).weight);
        auto *area = qobject_cast<QAreaSeries *>(m_drawn);
        QXYSeries *xy = area ? area->upperSeries() : qobject_cast<QXYSeries *>(m_drawn);
        if (xy && xy->points() != points)
            xy->replace(points);
    }
    updateValueRange();
    return true;
}

QStringList DistributionChart::labels() const
{
    // The bars' labels as handed over: the drawn names follow at the next drawing.
    QStringList labels;
    for (const Bar &bar : m_bars)
        labels << bar.label;
    return labels;
}

void DistributionChart::updateLabels()
{
    m_labels->setVisible(m_labelsVisible);
    m_labels->setLabels(labels());
    QMargins margins = chart()->margins();
    margins.setBottom(m_labelsVisible ? m_labels->neededHeight() : 4);
    chart()->setMargins(margins);
}

QColor DistributionChart::barColour(int index) const
{
    return m_series.colourEachPoint ? automaticColour(index) : m_series.colour;
}

QBrush DistributionChart::barBrush(int index) const
{
    const QColor colour = barColour(index);
    if (!m_threeD)
        return colour;
    // A lit left edge and a shaded right one give the bars depth.
    QLinearGradient gradient(0, 0, 1, 0);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, colour.lighter(160));
    gradient.setColorAt(0.4, colour);
    gradient.setColorAt(1, colour.darker(200));
    return gradient;
}

void DistributionChart::rebuild()
{
    m_rebuildPending = false;
    if (m_drawn) {
        chart()->removeSeries(m_drawn);
        delete m_drawn;
        m_drawn = nullptr;
    }
    m_categories->clear();

    switch (m_series.type) {
    case SeriesType::Bar: {
        auto *bars = new QStackedBarSeries;
        bars->setBarWidth(0.7);
        m_drawn = bars;
        break;
    }
    case SeriesType::Line: {
        auto *line = new QLineSeries;
        line->setPen(QPen(m_series.colour, m_threeD ? 3 : 2));
        line->setPointsVisible(true);
        m_drawn = line;
        break;
    }
    case SeriesType::Points: {
        auto *points = new QScatterSeries;
        points->setColor(m_series.colour);
        points->setMarkerSize(9);
        m_drawn = points;
        break;
    }
    case SeriesType::Area: {
        auto *upper = new QLineSeries;
        auto *area = new QAreaSeries(upper);
        upper->setParent(area);
        area->setColor(m_series.colour);
        area->setBorderColor(m_series.colour.darker(150));
        m_drawn = area;
        break;
    }
    }
    m_drawn->setName(m_series.title);
    m_drawn->setVisible(m_series.visible);
    // Filled before it joins the chart: every set or point added to a shown series lays the chart out.
    QStringList categories;
    m_drawnLabels.clear();
    for (int i = 0; i < m_bars.size(); ++i) {
        categories.append(uniqueCategory(m_bars.at(i).label, categories));
        m_drawnLabels.append(m_bars.at(i).label);
        appendDrawn(m_bars.at(i), i);
    }
    m_categories->append(categories);
    chart()->addSeries(m_drawn);
    m_drawn->attachAxis(m_categories);
    m_drawn->attachAxis(m_values);
    updateValueRange();
    updateLabels();
}

void DistributionChart::appendDrawn(const Bar &bar, int index)
{
    if (auto *bars = qobject_cast<QStackedBarSeries *>(m_drawn)) {
        // One set per bar, so that every bar can have its own colour: zero below, the weight in its
        // own category.
        auto *set = new QBarSet(bar.label);
        for (int i = 0; i < index; ++i)
            set->append(0);
        set->append(bar.weight);
        set->setBrush(barBrush(index));
        set->setPen(QPen(barColour(index).darker(170), 1));
        bars->append(set);
    } else if (auto *area = qobject_cast<QAreaSeries *>(m_drawn)) {
        area->upperSeries()->append(index, bar.weight);
    } else if (auto *xy = qobject_cast<QXYSeries *>(m_drawn)) {
        xy->append(index, bar.weight);
    }
}

void DistributionChart::updateValueRange()
{
    if (!m_valueAxis.automatic) {
        m_values->setRange(m_valueAxis.minimum, m_valueAxis.maximum);
        return;
    }
    double low = 0;
    double high = 0;
    for (const Bar &bar : std::as_const(m_bars)) {
        low = std::min(low, bar.weight);
        high = std::max(high, bar.weight);
    }
    const NiceRange range = niceRange(low, high, 6);
    m_values->setRange(range.minimum, range.maximum);
    m_values->setTickCount(range.ticks);
}

ChartSettings DistributionChart::settings() const
{
    flush();
    ChartSettings settings;
    readChartSettings(settings);
    settings.xAxis.kind = AxisKind::Category;
    readAxisTexts(m_categories, settings.xAxis);
    settings.xAxis.labelsVisible = m_labelsVisible;
    settings.yAxis = m_valueAxis;
    settings.yAxis.kind = AxisKind::Value;
    readAxisTexts(m_values, settings.yAxis);
    settings.yAxis.minimum = m_values->min();
    settings.yAxis.maximum = m_values->max();
    settings.series = {m_series};
    return settings;
}

void DistributionChart::applySettings(const ChartSettings &settings)
{
    applyChartSettings(settings);
    applyAxisTexts(m_categories, settings.xAxis);
    m_categories->setLabelsVisible(false);
    m_labelsVisible = settings.xAxis.labelsVisible;
    applyAxisTexts(m_values, settings.yAxis);
    m_valueAxis = settings.yAxis;
    if (!m_valueAxis.automatic && !(m_valueAxis.maximum > m_valueAxis.minimum))
        m_valueAxis.automatic = true;
    if (!settings.series.isEmpty()) {
        m_series = settings.series.constFirst();
        m_series.canColourEachPoint = true;
    }
    rebuild();
}
