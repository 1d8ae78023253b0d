#include "app/historychart.h"

#include "app/historyplotitem.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>

namespace {

struct SeriesLook
{
    const char *title;
    QRgb colour;
    int width;
    Qt::PenStyle style;
    bool visible;
};

// Series2 .. Series5 in the order of HistorySeries.
constexpr SeriesLook looks[HistoryChart::seriesCount] = {
    {"Index", qRgb(0, 128, 255), 2, Qt::SolidLine, true},
    {"Index_ASK", qRgb(0, 255, 64), 1, Qt::SolidLine, false},
    {"Index_BID", qRgb(255, 0, 0), 1, Qt::SolidLine, false},
    {"Index_Mittel", qRgb(0, 0, 160), 1, Qt::DotLine, false},
};

} // namespace

HistoryChart::HistoryChart(QWidget *parent) : EditableChart(parent)
{
    QChart *chart = this->chart();

    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("hh:mm"));
    m_timeAxis->setTickCount(7);
    chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_valueAxis = new QValueAxis;
    m_valueAxis->setLabelFormat(QStringLiteral("%.7g"));
    chart->addAxis(m_valueAxis, Qt::AlignLeft);
    // The right axis shows the same scale as the left one.
    m_rightAxis = new QValueAxis;
    m_rightAxis->setLabelFormat(QStringLiteral("%.7g"));
    m_rightAxis->setGridLineVisible(false);
    chart->addAxis(m_rightAxis, Qt::AlignRight);
    connect(m_valueAxis, &QValueAxis::rangeChanged, m_rightAxis,
            [this](qreal min, qreal max) { m_rightAxis->setRange(min, max); });
    connect(m_valueAxis, &QValueAxis::tickCountChanged, m_rightAxis, &QValueAxis::setTickCount);

    m_plot = new HistoryPlotItem(this, chart);
    for (int i = 0; i < seriesCount; ++i) {
        auto *series = new QLineSeries;
        series->setName(QString::fromLatin1(looks[i].title));
        QPen pen(QColor::fromRgb(looks[i].colour), looks[i].width, looks[i].style);
        pen.setCapStyle(Qt::FlatCap);
        series->setPen(pen);
        series->setPointsVisible(false);
        series->setVisible(looks[i].visible);
        chart->addSeries(series);
        series->attachAxis(m_timeAxis);
        series->attachAxis(m_valueAxis);
        m_series[i] = series;
        m_types[i] = SeriesType::Line;
        // Whoever changes a series through the chart (the dialog, the window) sees it drawn at once.
        connect(series, &QXYSeries::visibleChanged, this, &HistoryChart::updateRanges);
        connect(series, &QXYSeries::penChanged, this, [this] { m_plot->update(); });
        connect(series, &QXYSeries::colorChanged, this, [this] { m_plot->update(); });
    }
    connect(m_timeAxis, &QDateTimeAxis::rangeChanged, this, [this] { m_plot->update(); });
    connect(m_valueAxis, &QValueAxis::rangeChanged, this, [this] { m_plot->update(); });
    connect(chart, &QChart::plotAreaChanged, m_plot, &HistoryPlotItem::setPlotArea);
    updateRanges();
}

HistoryChart::~HistoryChart() = default;

void HistoryChart::setClock(const Clock &clock)
{
    m_clock = &clock;
    updateRanges();
}

void HistoryChart::clearAll()
{
    for (SeriesData &data : m_data)
        data = SeriesData();
    updateRanges();
}

void HistoryChart::addPoint(HistorySeries series, const QDateTime &when, double value)
{
    SeriesData &data = m_data[int(series)];
    const double x = double(when.toMSecsSinceEpoch());
    data.points.append(QPointF(x, value));
    data.minimumX = std::min(data.minimumX, x);
    data.maximumX = std::max(data.maximumX, x);
    data.minimumY = std::min(data.minimumY, value);
    data.maximumY = std::max(data.maximumY, value);
    if (!m_series[int(series)]->isVisible())
        return;
    // Laying out the axes is most of a point's cost; on a page that is not shown it waits for the page.
    if (isVisible())
        updateRanges();
    else
        m_rangesPending = true;
}

void HistoryChart::showEvent(QShowEvent *event)
{
    EditableChart::showEvent(event);
    if (std::exchange(m_rangesPending, false))
        updateRanges();
}

void HistoryChart::loadRows(const QList<DayHistoryRow> &rows)
{
    for (SeriesData &data : m_data)
        data = SeriesData();
    for (const DayHistoryRow &row : rows) {
        const double x = double(row.time.toMSecsSinceEpoch());
        for (int i = 0; i < seriesCount; ++i) {
            const std::optional<double> value = row.values[i];
            if (!value)
                continue;
            SeriesData &data = m_data[i];
            data.points.append(QPointF(x, *value));
            data.minimumX = std::min(data.minimumX, x);
            data.maximumX = std::max(data.maximumX, x);
            data.minimumY = std::min(data.minimumY, *value);
            data.maximumY = std::max(data.maximumY, *value);
        }
    }
    updateRanges();
}

QList<DayHistoryRow> HistoryChart::rows() const
{
    // Each series is in time order; the rows are merged from their fronts, the points of one moment
    // sharing their time.
    QList<DayHistoryRow> rows;
    std::array<qsizetype, seriesCount> next{};
    while (true) {
        double x = std::numeric_limits<double>::infinity();
        for (int i = 0; i < seriesCount; ++i) {
            if (next[i] < m_data[i].points.size())
                x = std::min(x, m_data[i].points.at(next[i]).x());
        }
        if (x == std::numeric_limits<double>::infinity())
            return rows;
        DayHistoryRow row{QDateTime::fromMSecsSinceEpoch(qint64(x)), {}};
        for (int i = 0; i < seriesCount; ++i) {
            if (next[i] < m_data[i].points.size() && m_data[i].points.at(next[i]).x() == x)
                row.values[i] = m_data[i].points.at(next[i]++).y();
        }
        rows.append(row);
    }
}

int HistoryChart::pointCount(HistorySeries series) const
{
    return int(m_data[int(series)].points.size());
}

QPointF HistoryChart::point(HistorySeries series, int index) const
{
    return m_data[int(series)].points.at(index);
}

QString HistoryChart::pointLabel(HistorySeries series, int index) const
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(qint64(point(series, index).x()));
    return time.toString(QStringLiteral("hh:mm:ss"));
}

QLineSeries *HistoryChart::series(HistorySeries series) const
{
    return m_series[int(series)];
}

SeriesType HistoryChart::seriesType(HistorySeries series) const
{
    return m_types[int(series)];
}

void HistoryChart::updateRanges()
{
    double minimumX = std::numeric_limits<double>::infinity();
    double maximumX = -minimumX;
    double minimumY = minimumX;
    double maximumY = -minimumX;
    for (int i = 0; i < seriesCount; ++i) {
        if (!m_series[i]->isVisible() || m_data[i].points.isEmpty())
            continue;
        minimumX = std::min(minimumX, m_data[i].minimumX);
        maximumX = std::max(maximumX, m_data[i].maximumX);
        minimumY = std::min(minimumY, m_data[i].minimumY);
        maximumY = std::max(maximumY, m_data[i].maximumY);
    }

    if (!m_timeSettings.automatic) {
        minimumX = m_timeSettings.minimum;
        maximumX = m_timeSettings.maximum;
    } else if (minimumX > maximumX) {
        // No points: the coming minutes.
        minimumX = double(m_clock->now().toMSecsSinceEpoch());
        maximumX = minimumX + 60000;
    } else if (maximumX - minimumX < 1000) {
        minimumX -= 30000;
        maximumX += 30000;
    }
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(qint64(minimumX));
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(qint64(maximumX));
    if (m_timeAxis->min() != from || m_timeAxis->max() != to) {
        // Seconds matter only for a short history.
        m_timeAxis->setFormat(maximumX - minimumX < 15 * 60000 ? QStringLiteral("hh:mm:ss")
                                                               : QStringLiteral("hh:mm"));
        m_timeAxis->setRange(from, to);
    }

    if (!m_valueSettings.automatic) {
        m_valueAxis->setRange(m_valueSettings.minimum, m_valueSettings.maximum);
        return;
    }
    const NiceRange range = minimumY > maximumY ? NiceRange{0, 1000, 6} : niceRange(minimumY, maximumY, 6);
    // Unchanged nice ends leave the axis alone: most new points fall inside the range.
    if (m_valueAxis->min() != range.minimum || m_valueAxis->max() != range.maximum) {
        m_valueAxis->setRange(range.minimum, range.maximum);
        m_valueAxis->setTickCount(range.ticks);
    }
    m_plot->update();
}

void HistoryChart::updateLegendMarkers()
{
    for (int i = 0; i < seriesCount; ++i) {
        const QList<QLegendMarker *> markers = chart()->legend()->markers(m_series[i]);
        for (QLegendMarker *marker : markers) {
            switch (m_types[i]) {
            case SeriesType::Line:
                marker->setShape(QLegend::MarkerShapeFromSeries);
                break;
            case SeriesType::Points:
                marker->setShape(QLegend::MarkerShapeCircle);
                break;
            case SeriesType::Bar:
            case SeriesType::Area:
                marker->setShape(QLegend::MarkerShapeRectangle);
                marker->setBrush(m_series[i]->color());
                break;
            }
        }
    }
}

ChartSettings HistoryChart::settings() const
{
    ChartSettings settings;
    readChartSettings(settings);
    settings.xAxis = m_timeSettings;
    settings.xAxis.kind = AxisKind::DateTime;
    readAxisTexts(m_timeAxis, settings.xAxis);
    settings.xAxis.minimum = double(m_timeAxis->min().toMSecsSinceEpoch());
    settings.xAxis.maximum = double(m_timeAxis->max().toMSecsSinceEpoch());
    settings.yAxis = m_valueSettings;
    settings.yAxis.kind = AxisKind::Value;
    readAxisTexts(m_valueAxis, settings.yAxis);
    settings.yAxis.minimum = m_valueAxis->min();
    settings.yAxis.maximum = m_valueAxis->max();
    for (int i = 0; i < seriesCount; ++i) {
        SeriesSettings series;
        series.title = m_series[i]->name();
        series.visible = m_series[i]->isVisible();
        series.type = m_types[i];
        series.colour = m_series[i]->color();
        settings.series.append(series);
    }
    return settings;
}

void HistoryChart::applySettings(const ChartSettings &settings)
{
    applyChartSettings(settings);
    applyAxisTexts(m_timeAxis, settings.xAxis);
    applyAxisTexts(m_valueAxis, settings.yAxis);
    m_rightAxis->setLabelsVisible(settings.yAxis.labelsVisible);
    m_timeSettings = settings.xAxis;
    m_valueSettings = settings.yAxis;
    if (!(m_timeSettings.maximum > m_timeSettings.minimum))
        m_timeSettings.automatic = true;
    if (!(m_valueSettings.maximum > m_valueSettings.minimum))
        m_valueSettings.automatic = true;
    for (int i = 0; i < seriesCount && i < settings.series.size(); ++i) {
        const SeriesSettings &series = settings.series.at(i);
        m_types[i] = series.type;
        m_series[i]->setName(series.title);
        QPen pen = m_series[i]->pen();
        pen.setColor(series.colour);
        m_series[i]->setPen(pen);
        m_series[i]->setVisible(series.visible);
    }
    updateLegendMarkers();
    updateRanges();
}
