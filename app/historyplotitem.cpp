#include "app/historyplotitem.h"

#include "app/historychart.h"

#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <cmath>

namespace {

// The points of a series in pixels, at most two per pixel column: its lowest and highest point there,
// in the order they came. A line through them covers the same pixels as one through every point, to
// within a pixel. `columns` counts the columns that hold points.
QPolygonF reduceToColumns(const QList<QPointF> &points, const QRectF &area, double minimumX, double maximumX,
                          double minimumY, double maximumY, int *columns)
{
    QPolygonF reduced;
    *columns = 0;
    if (points.isEmpty() || !(maximumX > minimumX) || !(maximumY > minimumY))
        return reduced;
    const double scaleX = area.width() / (maximumX - minimumX);
    const double scaleY = area.height() / (maximumY - minimumY);
    reduced.reserve(std::min<qsizetype>(points.size(), qsizetype(area.width() + 2) * 2));

    qint64 column = std::numeric_limits<qint64>::min();
    QPointF low, high;
    int lowIndex = 0;
    int highIndex = 0;
    const auto flush = [&] {
        if (column == std::numeric_limits<qint64>::min())
            return;
        ++*columns;
        // Screen y grows downwards: the lowest value has the largest y.
        reduced.append(lowIndex <= highIndex ? low : high);
        if (low != high)
            reduced.append(lowIndex <= highIndex ? high : low);
    };
    for (int i = 0; i < points.size(); ++i) {
        const QPointF &point = points.at(i);
        const double x = area.left() + (point.x() - minimumX) * scaleX;
        const double y = area.bottom() - (point.y() - minimumY) * scaleY;
        // Far outside the area (a fixed axis range) a point only has to pull the line the right way.
        const QPointF pixel(std::clamp(x, area.left() - area.width(), area.right() + area.width()),
                            std::clamp(y, area.top() - area.height(), area.bottom() + area.height()));
        const qint64 pixelColumn = qint64(std::floor(pixel.x()));
        if (pixelColumn != column) {
            flush();
            column = pixelColumn;
            low = high = pixel;
            lowIndex = highIndex = i;
            continue;
        }
        if (pixel.y() > low.y()) {
            low = pixel;
            lowIndex = i;
        }
        if (pixel.y() < high.y()) {
            high = pixel;
            highIndex = i;
        }
    }
    flush();
    return reduced;
}

void drawSeries(QPainter *painter, const QPolygonF &line, int columns, SeriesType type, const QPen &pen,
                const QRectF &area, bool threeD)
{
    const QColor colour = pen.color();
    switch (type) {
    case SeriesType::Line:
        if (columns * 4 < area.width() || pen.widthF() <= 1) {
            painter->setPen(pen);
            painter->drawPolyline(line);
        } else {
            // A dense wide line: the same pixels as the wide pen gives, from thin lines side by side,
            // which the raster engine draws many times faster than it strokes a wide outline.
            QPen thin = pen;
            thin.setWidth(1);
            painter->setPen(thin);
            const int width = int(std::lround(pen.widthF()));
            for (int dx = 0; dx < width; ++dx) {
                for (int dy = 0; dy < width; ++dy) {
                    if (dx > 0 && dy > 0)
                        continue;
                    painter->drawPolyline(line.translated(dx - (width - 1) / 2.0, dy - (width - 1) / 2.0));
                }
            }
        }
        break;
    case SeriesType::Points: {
        painter->setPen(QPen(colour.darker(150), 1));
        painter->setBrush(colour);
        const double radius = columns * 6 < area.width() ? 3.5 : 2;
        for (const QPointF &point : line)
            painter->drawEllipse(point, radius, radius);
        break;
    }
    case SeriesType::Area: {
        QPolygonF polygon = line;
        polygon.append(QPointF(line.constLast().x(), area.bottom()));
        polygon.append(QPointF(line.constFirst().x(), area.bottom()));
        QColor fill = colour;
        fill.setAlpha(threeD ? 200 : 110);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawPolygon(polygon);
        painter->setPen(QPen(colour, 1));
        painter->drawPolyline(line);
        break;
    }
    case SeriesType::Bar: {
        // Few points get bars of their own; a dense history becomes a column per pixel.
        double width = 1;
        if (line.size() > 1 && columns * 4 < area.width())
            width = std::clamp(0.6 * area.width() / columns, 1.0, 24.0);
        painter->setPen(width > 2 ? QPen(colour.darker(160), 1) : Qt::NoPen);
        painter->setBrush(colour);
        double columnX = std::numeric_limits<double>::quiet_NaN();
        double top = 0;
        const auto drawColumn = [&] {
            if (!std::isnan(columnX))
                painter->drawRect(QRectF(columnX - width / 2, top, width, area.bottom() - top));
        };
        for (const QPointF &point : line) {
            if (std::floor(point.x()) != std::floor(columnX)) {
                drawColumn();
                columnX = point.x();
                top = point.y();
            } else {
                top = std::min(top, point.y());
            }
        }
        drawColumn();
        break;
    }
    }
}

} // namespace

HistoryPlotItem::HistoryPlotItem(const HistoryChart *chart, QGraphicsItem *parent)
    : QGraphicsObject(parent), m_chart(chart)
{
    // Above the plot background and grid, below the legend.
    setZValue(5);
}

void HistoryPlotItem::setPlotArea(const QRectF &plotArea)
{
    prepareGeometryChange();
    m_plotArea = plotArea;
    update();
}

void HistoryPlotItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    const double minimumX = double(m_chart->timeAxis()->min().toMSecsSinceEpoch());
    const double maximumX = double(m_chart->timeAxis()->max().toMSecsSinceEpoch());
    const double minimumY = m_chart->valueAxis()->min();
    const double maximumY = m_chart->valueAxis()->max();

    painter->save();
    painter->setClipRect(m_plotArea);
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < HistoryChart::seriesCount; ++i) {
        const QLineSeries *series = m_chart->series(i);
        if (!series->isVisible())
            continue;
        int columns = 0;
        const QPolygonF line =
            reduceToColumns(m_chart->points(i), m_plotArea, minimumX, maximumX, minimumY, maximumY, &columns);
        if (line.isEmpty())
            continue;
        const SeriesType type = m_chart->seriesType(i);
        // Smoothing pays off for a few points; for a dense history it costs far more than it shows.
        painter->setRenderHint(QPainter::Antialiasing, columns * 4 < m_plotArea.width());
        if (m_chart->isThreeD()) {
            // Depth: a shaded copy behind the series, offset to the back right.
            QPen shadow = series->pen();
            shadow.setColor(series->pen().color().darker(220));
            shadow.setStyle(Qt::SolidLine);
            shadow.setWidthF(std::max(2.0, shadow.widthF() + 1));
            painter->save();
            painter->setOpacity(0.45);
            painter->translate(4, -4);
            drawSeries(painter, line, columns, type == SeriesType::Points ? type : SeriesType::Line, shadow,
                       m_plotArea, true);
            painter->restore();
        }
        drawSeries(painter, line, columns, type, series->pen(), m_plotArea, m_chart->isThreeD());
    }
    painter->restore();
}
