#pragma once

#include <QBrush>
#include <QFont>
#include <QGraphicsObject>
#include <QStringList>

// The names under the bars of "Verteilung", turned upright, one per category and every one of them
// drawn, also where neighbours overlap or a name is longer than its share of the width. (The chart's
// own category labels leave out those that would overlap or reach past the plot's ends.)
class BarLabelsItem : public QGraphicsObject
{
    Q_OBJECT

public:
    explicit BarLabelsItem(QGraphicsItem *parent);

    void setLabels(const QStringList &labels);
    void setFont(const QFont &font);
    void setBrush(const QBrush &brush);
    // The height that the longest name needs below the plot area.
    int neededHeight() const;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

public slots:
    void setPlotArea(const QRectF &plotArea);

private:
    static constexpr int gap = 4;
    QStringList m_labels;
    QFont m_font;
    QBrush m_brush;
    QRectF m_plotArea;
};
