#pragma once

#include "app/editablechart.h"
#include "core/clock.h"
#include "core/dayhistory.h"
#include "core/indexpublication.h"

#include <QDateTime>
#include <QList>
#include <QPointF>
#include <array>
#include <limits>

class HistoryPlotItem;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// The line chart "Index-Verlauf" (`Chart2`): the index during the day in four series, `Series2` "Index",
// `Series3` "Index_ASK", `Series4` "Index_BID" and `Series5` "Index_Mittel"; the last three hidden at
// start but receiving their points all the same. White, flat, no title, no legend; a date-time x axis
// labelled with times and value axes left and right.
//
// A trading day brings thousands of points per series. The points are kept here and drawn by our own
// plot item, which reduces them to the few that each pixel column shows; the chart's own series stay
// empty and carry the title, pen and visibility of each series (legend, properties dialog). So a new
// point costs the same whether the chart holds ten points or a hundred thousand.
class HistoryChart : public EditableChart
{
    Q_OBJECT

public:
    static constexpr int seriesCount = 4;

    explicit HistoryChart(QWidget *parent = nullptr);
    ~HistoryChart() override;

    // The clock that places the empty chart's time axis at the coming minutes; the system's by default.
    void setClock(const Clock &clock);

    void clearAll();
    // A point of `series` at the time `when`; the axes follow the data unless the user fixed them.
    void addPoint(HistorySeries series, const QDateTime &when, double value);
    // Replaces every series by the points of `rows`, in one go: a day read back holds thousands.
    void loadRows(const QList<DayHistoryRow> &rows);
    // The points as moments, in time order: the points of the series at one time make one row.
    QList<DayHistoryRow> rows() const;

    int pointCount(HistorySeries series) const;
    // x: milliseconds since the epoch, y: the value.
    QPointF point(HistorySeries series, int index) const;
    // The point's label, its local time as "hh:mm:ss".
    QString pointLabel(HistorySeries series, int index) const;

    // The chart element of a series: its title (name), pen and visibility.
    QLineSeries *series(HistorySeries series) const;
    SeriesType seriesType(HistorySeries series) const;
    QDateTimeAxis *timeAxis() const { return m_timeAxis; }
    QValueAxis *valueAxis() const { return m_valueAxis; }
    QValueAxis *rightValueAxis() const { return m_rightAxis; }

    ChartSettings settings() const override;
    void applySettings(const ChartSettings &settings) override;

    // For the plot item.
    const QList<QPointF> &points(int seriesIndex) const { return m_data[seriesIndex].points; }
    SeriesType seriesType(int seriesIndex) const { return m_types[seriesIndex]; }
    QLineSeries *series(int seriesIndex) const { return m_series[seriesIndex]; }
    bool isThreeD() const { return m_threeD; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct SeriesData
    {
        QList<QPointF> points;
        double minimumX = std::numeric_limits<double>::infinity();
        double maximumX = -std::numeric_limits<double>::infinity();
        double minimumY = std::numeric_limits<double>::infinity();
        double maximumY = -std::numeric_limits<double>::infinity();
    };

    void updateRanges();
    void updateLegendMarkers();

    std::array<SeriesData, seriesCount> m_data;
    std::array<QLineSeries *, seriesCount> m_series{};
    std::array<SeriesType, seriesCount> m_types{};
    AxisSettings m_timeSettings;
    AxisSettings m_valueSettings;
    QDateTimeAxis *m_timeAxis = nullptr;
    QValueAxis *m_valueAxis = nullptr;
    QValueAxis *m_rightAxis = nullptr;
    HistoryPlotItem *m_plot = nullptr;
    const Clock *m_clock = &Clock::system();
    // Points came while the chart was hidden: its axes follow them when it shows.
    bool m_rangesPending = false;
};
