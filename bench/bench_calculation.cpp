// The calculation on a 40-component table without widgets. Goal: at most 20 us median.
#include "core/indexcalculation.h"
#include "core/indexdefinition.h"
#include "core/indexpublication.h"
#include "core/indextable.h"
#include "core/indexwindow.h"
#include "core/numbertext.h"

#include <benchmark/benchmark.h>

namespace {

struct Window : IndexWindow
{
    IndexTable cells;
    QString label;
    IndexTable &table() override { return cells; }
    QString referenzkursText() const override { return {}; }
    void setReferenzkursText(const QString &) override {}
    QString indexFirmaText() const override { return {}; }
    void setIndexFirmaText(const QString &) override {}
    void setComponentCount(int) override {}
    QString valueText() const override { return label; }
    void setValueText(const QString &text) override { label = text; }
    void setValueDirection(IndexDirection) override {}
    void showMessage(const QString &) override { std::abort(); }
};

void calculate(benchmark::State &state)
{
    const bool withQuotes = state.range(0) != 0;
    Window window;
    IndexDefinition definition(window, QLatin1Char(','));
    IndexPublication publication;
    IndexCalculation calculation(window, definition, publication);
    definition.Referenzkurs = 10457;
    for (int row = 1; row <= 40; ++row) {
        const double price = 20 + row * 7.31;
        window.cells.setCell(IndexTable::Name, row, QStringLiteral("Wert %1").arg(row));
        window.cells.setCell(IndexTable::Kurswert, row, NumberText::format(price, QLatin1Char(',')));
        window.cells.setCell(IndexTable::Fi, row, QString::number(100 + row * 37));
        window.cells.setCell(IndexTable::BID, row, NumberText::format(price - 0.05, QLatin1Char(',')));
        window.cells.setCell(IndexTable::ASK, row, NumberText::format(price + 0.05, QLatin1Char(',')));
    }
    window.cells.setRows(41);
    window.cells.setColumns(withQuotes ? 9 : 7);
    int tick = 0;
    for (auto _ : state) {
        // A changed price each time, so that the value changes and every step runs.
        window.cells.setCell(IndexTable::Kurswert, 1,
                             (++tick % 2) ? QStringLiteral("27,31") : QStringLiteral("27,32"));
        calculation.calculate();
    }
}
BENCHMARK(calculate)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
