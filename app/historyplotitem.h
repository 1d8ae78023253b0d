#pragma once

#include <QGraphicsObject>

class HistoryChart;

// Draws the points of the history chart in its plot area. Each series is reduced to at most two points
// per pixel column (its lowest and highest), which draws the same picture as every point would to
// within a pixel: painting costs grow with the width of the chart, not with the length of the history.
class HistoryPlotItem : public QGraphicsObject
{
    Q_OBJECT

public:
    HistoryPlotItem(const HistoryChart *chart, QGraphicsItem *parent);

    QRectF boundingRect() const override { return m_plotArea; }
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

public slots:
    void setPlotArea(const QRectF &plotArea);

private:
    const HistoryChart *m_chart;
    QRectF m_plotArea;
};
