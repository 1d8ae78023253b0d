#include "app/lightbulbs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace LightBulbs {

namespace {

QPixmap bulb(const QColor &glass, bool rays)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (rays) {
        p.setPen(QPen(QColor(230, 160, 0), 1));
        p.drawLine(QPointF(8, 0), QPointF(8, 1.5));
        p.drawLine(QPointF(1, 6), QPointF(2.5, 6));
        p.drawLine(QPointF(13.5, 6), QPointF(15, 6));
        p.drawLine(QPointF(2.5, 1.5), QPointF(3.5, 2.5));
        p.drawLine(QPointF(13.5, 1.5), QPointF(12.5, 2.5));
    }
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(glass);
    p.drawEllipse(QRectF(4.5, 2.5, 7, 7));
    QPainterPath neck;
    neck.moveTo(6, 9);
    neck.lineTo(10, 9);
    neck.lineTo(9.5, 11);
    neck.lineTo(6.5, 11);
    neck.closeSubpath();
    p.drawPath(neck);
    p.setBrush(QColor(150, 150, 150));
    p.drawRect(QRectF(6.5, 11.5, 3, 3));
    return pixmap;
}

} // namespace

QIcon unlit()
{
    return QIcon(bulb(QColor(235, 235, 235), false));
}

QIcon lit()
{
    return QIcon(bulb(QColor(255, 235, 60), true));
}

} // namespace LightBulbs
