#include "core/indexcalculation.h"

#include "core/arithmetic.h"
#include "core/indexdefinition.h"
#include "core/indexpublication.h"
#include "core/indextable.h"
#include "core/indexwindow.h"
#include "core/numbertext.h"

using Arithmetic::add;
using Arithmetic::divide;
using Arithmetic::multiply;
using Arithmetic::round2;
using Arithmetic::toDouble;

namespace {

constexpr long double indexScale = 1000;
constexpr long double percent = 100;
constexpr long double halves = 2;

} // namespace

IndexCalculation::IndexCalculation(IndexWindow &window, IndexDefinition &definition,
                                   IndexPublication &publication)
    : m_window(window), m_definition(definition), m_publication(publication)
{
}

IndexDirection IndexCalculation::calculate()
{
    IndexTable &table = m_window.table();
    const QChar separator = m_definition.decimalSeparator();
    const auto number = [&](int column, int row) {
        return NumberText::parseFloat(table.cell(column, row), separator);
    };
    const int lastRow = table.rows() - 1;
    const bool withQuotes = table.columns() > 7;

    double SummeBid = 0;
    double SummeAsk = 0;
    double SummeMittel = 0;

    // 1. Component products.
    try {
        for (int row = 1; row <= lastRow; ++row) {
            const long double Fi = number(IndexTable::Fi, row);
            const long double product = multiply(number(IndexTable::Kurswert, row), Fi);
            table.setCell(IndexTable::Wichtung, row, NumberText::format(product, separator));
            if (withQuotes) {
                const long double bid = number(IndexTable::BID, row);
                const long double ask = number(IndexTable::ASK, row);
                SummeBid = toDouble(add(SummeBid, multiply(bid, Fi)));
                SummeAsk = toDouble(add(SummeAsk, multiply(ask, Fi)));
                SummeMittel = toDouble(add(SummeMittel, multiply(Fi, divide(add(ask, bid), halves))));
            }
        }
    } catch (...) {
        m_window.showMessage(QStringLiteral("Fehler - in Kurs oder Wichtung"));
        return IndexDirection::Unchanged;
    }

    try {
        // 2. Sum of the products as column 4 shows them.
        Summe = 0;
        for (int row = 1; row <= lastRow; ++row)
            Summe = toDouble(add(Summe, number(IndexTable::Wichtung, row)));

        // 3. Previous value: the one the label shows, 0 before the first change.
        const double previous = [&] {
            const auto shown = NumberText::tryParseFloat(m_window.valueText(), separator);
            return shown ? static_cast<double>(*shown) : 0.0;
        }();

        // 4. Index value.
        const long double Referenzkurs = m_definition.Referenzkurs;
        const auto indexOf = [&](double sum) {
            return round2(toDouble(divide(multiply(sum, indexScale), Referenzkurs)));
        };
        const double value = indexOf(Summe);
        const QString valueText = NumberText::format(value, separator);

        // 5. Live item and XML file, after every calculation that gets this far.
        try {
            m_publication.publishValue(valueText);
        } catch (...) {
        }

        // 6. Change test.
        const IndexDirection change = previous == value  ? IndexDirection::Unchanged
                                      : previous > value ? IndexDirection::Falling
                                                         : IndexDirection::Rising;
        if (change == IndexDirection::Unchanged) {
            m_window.setValueDirection(change);
            direction = change;
        } else {
            m_publication.addHistoryPoint(HistorySeries::Index, value);
            m_window.setValueText(valueText);
            m_window.setValueDirection(change);
            direction = change;
            if (withQuotes) {
                if (SummeAsk > 0)
                    m_publication.addHistoryPoint(HistorySeries::IndexAsk, indexOf(SummeAsk));
                if (SummeBid > 0)
                    m_publication.addHistoryPoint(HistorySeries::IndexBid, indexOf(SummeBid));
                if (SummeMittel > 0)
                    m_publication.addHistoryPoint(HistorySeries::IndexMittel, indexOf(SummeMittel));
            }
            try {
                m_publication.appendIndexRecord(value);
            } catch (...) {
            }
        }
    } catch (...) {
        m_window.showMessage(QStringLiteral("Fehler - in Berechnung des Index"));
        return IndexDirection::Unchanged;
    }

    // 7. Weights.
    try {
        m_publication.clearBars();
        for (int row = 1; row <= lastRow; ++row) {
            const double weight =
                round2(toDouble(divide(multiply(number(IndexTable::Wichtung, row), percent), Summe)));
            table.setCell(IndexTable::Wichtung, row, NumberText::format(weight, separator));
            // The bar's height is the weight as written: its number text reads back as the same double.
            m_publication.addBar(row, weight, table.cell(IndexTable::Name, row));
        }
    } catch (...) {
        m_window.showMessage(QStringLiteral("Fehler - in Prozent der Wichtung"));
    }
    return direction;
}
