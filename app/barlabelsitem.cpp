#include "app/barlabelsitem.h"

#include <QFontMetricsF>
#include <QPainter>

BarLabelsItem::BarLabelsItem(QGraphicsItem *parent) : QGraphicsObject(parent), m_brush(Qt::black)
{
    setZValue(6);
}

void BarLabelsItem::setLabels(const QStringList &labels)
{
    prepareGeometryChange();
    m_labels = labels;
    update();
}

void BarLabelsItem::setFont(const QFont &font)
{
    prepareGeometryChange();
    m_font = font;
    update();
}

void BarLabelsItem::setBrush(const QBrush &brush)
{
    m_brush = brush;
    update();
}

int BarLabelsItem::neededHeight() const
{
    const QFontMetricsF metrics(m_font);
    double widest = 0;
    for (const QString &label : m_labels)
        widest = std::max(widest, metrics.horizontalAdvance(label));
    return int(std::ceil(widest)) + 2 * gap;
}

QRectF BarLabelsItem::boundingRect() const
{
    const QFontMetricsF metrics(m_font);
    return QRectF(m_plotArea.left() - metrics.height(), m_plotArea.bottom(),
                  m_plotArea.width() + 2 * metrics.height(), neededHeight());
}

void BarLabelsItem::setPlotArea(const QRectF &plotArea)
{
    prepareGeometryChange();
    m_plotArea = plotArea;
    update();
}

void BarLabelsItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (m_labels.isEmpty())
        return;
    const QFontMetricsF metrics(m_font);
    const double share = m_plotArea.width() / m_labels.size();
    const double height = metrics.height();
    painter->setFont(m_font);
    painter->setPen(QPen(m_brush, 1));
    for (int i = 0; i < m_labels.size(); ++i) {
        // Read from bottom to top, ending just below the axis under the bar's middle.
        painter->save();
        painter->translate(m_plotArea.left() + (i + 0.5) * share, m_plotArea.bottom() + gap);
        painter->rotate(-90);
        const double width = metrics.horizontalAdvance(m_labels.at(i)) + 1;
        painter->drawText(QRectF(-width, -height / 2, width, height), Qt::AlignRight | Qt::AlignVCenter,
                          m_labels.at(i));
        painter->restore();
    }
}
