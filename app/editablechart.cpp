#include "app/editablechart.h"

#include <QAbstractAxis>
#include <QChart>
#include <QGraphicsLayout>
#include <QLegend>
#include <cmath>

namespace {

// Saturated hues first, then darker ones; none is close to white, so every bar stays visible.
const QRgb colourSequence[] = {
    0xff0000, 0x008000, 0xffc000, 0x0000ff, 0xff00ff, 0x008080, 0x800000, 0x00c0ff, 0x808000, 0x800080,
    0xff8000, 0x00ff40, 0x000080, 0xc00060, 0x408080, 0x804000, 0x8080ff, 0x40a000, 0xa0a0a0, 0x000000,
};

} // namespace

EditableChart::EditableChart(QWidget *parent) : QChartView(parent)
{
    setRenderHint(QPainter::Antialiasing);
    // Both charts start plain: white, no title, no legend, no rounded frame.
    auto *chart = new QChart;
    chart->legend()->setVisible(false);
    chart->setBackgroundRoundness(0);
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setBackgroundBrush(Qt::white);
    chart->setMargins(QMargins(4, 4, 4, 4));
    // setChart() only releases the view's own first chart: without the delete each view leaks one.
    QChart *released = QChartView::chart();
    setChart(chart);
    delete released;
}

QColor EditableChart::automaticColour(int index)
{
    constexpr int count = int(std::size(colourSequence));
    return QColor::fromRgb(colourSequence[((index % count) + count) % count]);
}

EditableChart::NiceRange EditableChart::niceRange(double low, double high, int ticks)
{
    if (!std::isfinite(low) || !std::isfinite(high))
        return {0, 1, 2};
    if (!(high > low)) {
        const double pad = std::max(1.0, std::abs(low) * 1e-3);
        low -= pad;
        high += pad;
    }
    const double rough = (high - low) / std::max(1, ticks - 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    double step = magnitude;
    for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        step = factor * magnitude;
        if (step >= rough)
            break;
    }
    const double minimum = std::floor(low / step) * step;
    const double maximum = std::ceil(high / step) * step;
    return {minimum, maximum, int(std::lround((maximum - minimum) / step)) + 1};
}

void EditableChart::readChartSettings(ChartSettings &settings) const
{
    settings.title = chart()->title();
    settings.legendVisible = chart()->legend()->isVisible();
    settings.threeD = m_threeD;
    settings.background = chart()->backgroundBrush().color();
    settings.plotBackground = chart()->isPlotAreaBackgroundVisible()
                                  ? chart()->plotAreaBackgroundBrush().color()
                                  : settings.background;
}

void EditableChart::applyChartSettings(const ChartSettings &settings)
{
    chart()->setTitle(settings.title);
    chart()->legend()->setVisible(settings.legendVisible);
    m_threeD = settings.threeD;
    chart()->setDropShadowEnabled(settings.threeD);
    chart()->setBackgroundBrush(settings.background);
    chart()->setPlotAreaBackgroundBrush(settings.plotBackground);
    chart()->setPlotAreaBackgroundVisible(settings.plotBackground != settings.background);
}

void EditableChart::readAxisTexts(const QAbstractAxis *axis, AxisSettings &settings)
{
    settings.title = axis->titleText();
    settings.labelsVisible = axis->labelsVisible();
}

void EditableChart::applyAxisTexts(QAbstractAxis *axis, const AxisSettings &settings)
{
    axis->setTitleText(settings.title);
    axis->setTitleVisible(!settings.title.isEmpty());
    axis->setLabelsVisible(settings.labelsVisible);
}
