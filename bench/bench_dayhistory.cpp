// Reading back a trading day: a history file of 17,000 lines (24 hours at one change every five
// seconds), every line with all four series, from disk into the chart as a start-up does it. Goal: at
// most 50 ms.
#include "app/historychart.h"
#include "core/dayhistory.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

const QDateTime midnight(QDate(2026, 12, 9), QTime(0, 0));
constexpr int dayLines = 17000;

// The day's file of `lines` moments in `folder`.
void writeDay(const QString &folder, int lines)
{
    QDir().mkpath(folder);
    QFile file(folder + DayHistory::fileName(QStringLiteral("DAX"), midnight.date()));
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(DayHistory::header) + '\n');
    for (int i = 0; i < lines; ++i) {
        const double value = std::round((16000 + 80 * std::sin(i / 700.0) + i % 13) * 100) / 100;
        file.write(DayHistory::formatLine({midnight.addSecs(i * 5), {value, value + 2, value - 2, value}}));
    }
}

// The file's rows alone.
void BM_ParseDay(benchmark::State &state)
{
    QTemporaryDir dir;
    writeDay(dir.path() + u'/', int(state.range(0)));
    QFile file(dir.path() + u'/' + DayHistory::fileName(QStringLiteral("DAX"), midnight.date()));
    file.open(QIODevice::ReadOnly);
    const QByteArray contents = file.readAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(DayHistory::parse(contents));
}

// What a start-up does: today's file read and taken into the chart.
void BM_ReadBackIntoChart(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeDay(folder, int(state.range(0)));
    const ManualClock clock(midnight.addSecs(dayLines * 5 - 60));
    HistoryChart chart;
    chart.resize(692, 580);
    for (auto _ : state) {
        DayHistory history(clock);
        chart.loadRows(history.start(folder, QStringLiteral("DAX")).rows);
    }
    state.counters["points"] = chart.pointCount(HistorySeries::Index);
}

} // namespace

BENCHMARK(BM_ParseDay)->Arg(dayLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBackIntoChart)->Arg(dayLines)->Unit(benchmark::kMillisecond);

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
