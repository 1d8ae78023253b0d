#include "sources/pricerefresh.h"

#include "core/arithmetic.h"
#include "core/errors.h"
#include "core/indextable.h"
#include "core/numbertext.h"
#include "sources/norvatatable.h"
#include "sources/quotepage.h"

namespace {

const QString intradayTable = QStringLiteral("Intraday.db");

// The mean of bid and ask, formed at extended precision and stored as a double.
double meanOf(double bid, double ask)
{
    return Arithmetic::toDouble((static_cast<long double>(bid) + ask) / 2);
}

enum class Rule { Norvata, Web };

// A number read from a cell, rounded to a double. Throws ConversionError for a text that is no number
// and ArithmeticError for one beyond the range of a double, which no price can be.
double cellNumber(const QString &text, QChar separator)
{
    return Arithmetic::toDouble(NumberText::parseFloat(text, separator));
}

// Chooses the price from the new quotes and the old ones in columns 7 and 8 (read only when column 8
// holds a text). When the quotes sum to 0 or less both take the price.
double choosePrice(Rule rule, double price, double &bid, double &ask, const IndexTable &table, int row,
                   QChar separator)
{
    const QString oldAskText = table.cell(IndexTable::ASK, row);
    if (!oldAskText.isEmpty() && bid + ask > 0) {
        // A number read from a cell is rounded to a double before it is compared.
        const double oldAsk = cellNumber(oldAskText, separator);
        const double oldBid = cellNumber(table.cell(IndexTable::BID, row), separator);
        if (rule == Rule::Norvata) {
            if (oldAsk < ask && oldBid > bid)
                return meanOf(bid, ask);
            if (oldBid > bid)
                return bid;
            if (oldAsk < ask)
                return ask;
            return meanOf(bid, ask);
        }
        if (oldAsk != ask && oldBid != bid)
            return meanOf(bid, ask);
        if (oldBid != bid)
            return bid;
        if (oldAsk != ask)
            return ask;
        return price;
    }
    if (bid + ask > 0)
        return meanOf(bid, ask);
    bid = price;
    ask = price;
    return price;
}

// Finds `id` in the open "Intraday.db" and walks its records: column 2 takes the first one's "Kurs",
// `newest` the last one's. An id that is not found leaves both. A stored price that is no finite
// double (a damaged record) fails the refresh rather than reaching the cells as "INF" or "NAN".
void readNewest(NorvataTable &table, const QString &id, IndexTable &cells, int row, double &newest)
{
    if (!table.findKey(id))
        return;
    cells.setCell(IndexTable::Kurswert, row, table.fieldText(QStringLiteral("Kurs")));
    while (!table.eof() && table.fieldEquals(QStringLiteral("Firma"), id)) {
        newest = Arithmetic::toDouble(table.fieldFloat(QStringLiteral("Kurs")));
        table.next();
    }
}

} // namespace

PriceRefresh::PriceRefresh(RefreshWindow &window, NorvataTable &table, QChar decimalSeparator)
    : m_window(window), m_table(table), m_decimalSeparator(decimalSeparator)
{
}

Highlight PriceRefresh::highlightFor(const QString &current, const QString &next)
{
    const int order = current.compare(next, Qt::CaseSensitive);
    if (order > 0)
        return Highlight::Lime;
    if (order < 0)
        return Highlight::Fuchsia;
    return Highlight::None;
}

bool PriceRefresh::run()
{
    if (m_running)
        return false;
    // Cleared however this ends: a refresh left marked as running would refuse every later one and
    // stall the automatic mode.
    struct RunningFlag
    {
        bool &flag;
        explicit RunningFlag(bool &f) : flag(f) { flag = true; }
        ~RunningFlag() { flag = false; }
    } running(m_running);
    m_window.beginRefresh();
    try {
        if (m_window.norvataSourceSelected())
            norvataSource();
        else
            webSource();
        if (m_table.isOpen())
            m_table.close();
        m_window.calculate();
        m_window.setStatusText(QStringLiteral("Kurse aktualisiert"));
    } catch (...) {
        if (m_table.isOpen())
            m_table.close();
        m_window.setStatusText(QStringLiteral("Fehler beim Kursaktualisieren"));
    }
    m_window.endRefresh();
    return true;
}

void PriceRefresh::addQuoteColumns()
{
    IndexTable &cells = m_window.table();
    cells.setColumns(9);
    cells.setCell(IndexTable::BID, 0, QStringLiteral("BID"));
    cells.setCell(IndexTable::ASK, 0, QStringLiteral("ASK"));
}

void PriceRefresh::norvataSource()
{
    m_table.open(m_window.dataFolder(), intradayTable, QString());
    addQuoteColumns();
    IndexTable &cells = m_window.table();
    for (int row = 1; row < cells.rows(); ++row) {
        double p = 0;
        try {
            p = cellNumber(cells.cell(IndexTable::Kurswert, row), m_decimalSeparator);
        } catch (const ZalventoError &) {
            // No price yet: the quotes of an id that is not found start from 0.
        }
        double bid = p;
        double ask = p;
        // Column 5 holds the id of the "_Bid" entry and feeds "ASK"; column 6 the "_Ask" entry's, feeding
        // "BID". The crossing is Norvata's and the users' tables rely on it.
        readNewest(m_table, cells.cell(IndexTable::NV, row), cells, row, ask);
        readNewest(m_table, cells.cell(IndexTable::NV_Ask, row), cells, row, bid);
        const double price = choosePrice(
            Rule::Norvata, cellNumber(cells.cell(IndexTable::Kurswert, row).trimmed(), m_decimalSeparator),
            bid, ask, cells, row, m_decimalSeparator);
        cells.setCell(IndexTable::ASK, row, NumberText::format(ask, m_decimalSeparator));
        cells.setCell(IndexTable::BID, row, NumberText::format(bid, m_decimalSeparator));
        cells.setCell(IndexTable::Kurswert, row, NumberText::format(price, m_decimalSeparator));
    }
    m_table.close();
}

void PriceRefresh::webSource()
{
    const bool transfer = m_window.transferEnabled();
    if (transfer)
        m_table.open(m_window.dataFolder(), intradayTable, QString());
    const QByteArray page = m_window.fetchQuotePage();
    addQuoteColumns();
    IndexTable &cells = m_window.table();
    for (int row = 1; row < cells.rows(); ++row) {
        const auto quote = QuotePage::extract(page, cells.cell(IndexTable::WKN, row), m_decimalSeparator);
        if (!quote)
            continue;
        double bid = quote->bid;
        double ask = quote->ask;
        // A failure within a row skips the rest of that row only.
        try {
            const double previous =
                cellNumber(cells.cell(IndexTable::Kurswert, row).trimmed(), m_decimalSeparator);
            const double price = choosePrice(Rule::Web, previous, bid, ask, cells, row, m_decimalSeparator);

            const QString askText = NumberText::format(ask, m_decimalSeparator);
            m_window.writeHighlightedCell(IndexTable::ASK, row, askText,
                                          highlightFor(cells.cell(IndexTable::ASK, row), askText));
            const QString bidText = NumberText::format(bid, m_decimalSeparator);
            m_window.writeHighlightedCell(IndexTable::BID, row, bidText,
                                          highlightFor(cells.cell(IndexTable::BID, row), bidText));

            if (transfer) {
                const auto id = NumberText::tryParseInteger(cells.cell(IndexTable::NV, row));
                if (id && *id >= 1 && previous != price)
                    transferPrice(*id, price);
            }
            cells.setCell(IndexTable::Kurswert, row, NumberText::format(price, m_decimalSeparator));
        } catch (...) {
        }
    }
}

void PriceRefresh::transferPrice(qint32 id, double price)
{
    try {
        // The table is found closed after a failed append (a failed use closes it) or when another
        // use of the table object ran while the page was fetched; one lost record must not cost the
        // rest of this refresh theirs.
        if (!m_table.isOpen())
            m_table.open(m_window.dataFolder(), intradayTable, QString());
        m_table.appendRecord(id, price, m_window.now());
    } catch (...) {
        // A record that cannot be handed on to Norvata does not stop the refresh.
    }
}
