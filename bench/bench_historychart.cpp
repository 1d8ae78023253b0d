// The history chart over several trading days: 20,000 points per series, one change every five seconds.
// A new point must be taken in (stored, axes followed, chart laid out and repainted) in at most 1 ms.
#include "app/historychart.h"

#include <QApplication>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

const QDateTime start(QDate(2026, 12, 7), QTime(9, 0));

void fill(HistoryChart &chart, int points, qint64 &step)
{
    for (int i = 0; i < points; ++i, ++step) {
        const QDateTime when = start.addSecs(step * 5);
        const double value = 16000 + 80 * std::sin(double(step) / 700) + (step % 13);
        chart.addPoint(HistorySeries::Index, when, value);
        chart.addPoint(HistorySeries::IndexAsk, when, value + 2);
        chart.addPoint(HistorySeries::IndexBid, when, value - 2);
        chart.addPoint(HistorySeries::IndexMittel, when, value);
    }
}

void showAll(HistoryChart &chart, bool all)
{
    for (int i = 1; i < HistoryChart::seriesCount; ++i)
        chart.series(HistorySeries(i))->setVisible(all);
}

// One calculation that changed the value: a point for each shown series, then the event loop lays the
// chart out and repaints it, as in the running window.
void addPoint(benchmark::State &state, bool allShown)
{
    HistoryChart chart;
    chart.resize(692, 580);
    chart.show();
    qint64 step = 0;
    fill(chart, int(state.range(0)), step);
    showAll(chart, allShown);
    QApplication::processEvents();
    for (auto _ : state) {
        const QDateTime when = start.addSecs(step * 5);
        const double value = 16000 + 80 * std::sin(double(step) / 700);
        chart.addPoint(HistorySeries::Index, when, value);
        if (allShown) {
            chart.addPoint(HistorySeries::IndexAsk, when, value + 2);
            chart.addPoint(HistorySeries::IndexBid, when, value - 2);
            chart.addPoint(HistorySeries::IndexMittel, when, value);
        }
        QApplication::processEvents();
        ++step;
    }
}

// The call alone, as the calculation makes it; the event loop runs outside the measurement.
void BM_AddPointCall(benchmark::State &state)
{
    HistoryChart chart;
    chart.resize(692, 580);
    chart.show();
    qint64 step = 0;
    fill(chart, int(state.range(0)), step);
    showAll(chart, false);
    QApplication::processEvents();
    for (auto _ : state) {
        chart.addPoint(HistorySeries::Index, start.addSecs(step * 5),
                       16000 + 80 * std::sin(double(step) / 700));
        state.PauseTiming();
        QApplication::processEvents();
        ++step;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddPointCall)->Arg(20000)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly();

void BM_AddPointIndexShown(benchmark::State &state)
{
    addPoint(state, false);
}

void BM_AddPointAllShown(benchmark::State &state)
{
    addPoint(state, true);
}

void BM_Repaint(benchmark::State &state)
{
    HistoryChart chart;
    chart.resize(692, 580);
    qint64 step = 0;
    fill(chart, int(state.range(0)), step);
    showAll(chart, true);
    chart.show();
    QApplication::processEvents();
    QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        chart.render(&painter);
    }
}

void BM_RepaintEach(benchmark::State &state)
{
    HistoryChart chart;
    chart.resize(692, 580);
    qint64 step = 0;
    fill(chart, 20000, step);
    showAll(chart, false);
    chart.series(HistorySeries::Index)->setVisible(false);
    chart.series(HistorySeries(state.range(0)))->setVisible(true);
    chart.show();
    QApplication::processEvents();
    QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        chart.render(&painter);
    }
}
BENCHMARK(BM_RepaintEach)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_MemoryPerPoint(benchmark::State &state)
{
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        HistoryChart chart;
        const size_t empty = mallinfo2().uordblks;
        qint64 step = 0;
        fill(chart, int(state.range(0)), step);
        const size_t after = mallinfo2().uordblks;
        state.counters["bytes_per_point"] = double(after - empty) / (4.0 * double(state.range(0)));
        state.counters["empty_chart_kB"] = double(empty - before) / 1024;
    }
}

} // namespace

BENCHMARK(BM_AddPointIndexShown)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_AddPointAllShown)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_Repaint)->Arg(0)->Arg(100)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerPoint)->Arg(20000)->Iterations(1);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
