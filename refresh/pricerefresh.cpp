#include "refresh/pricerefresh.h"

#include "core/arithmetic.h"
#include "core/errors.h"
#include "core/indextable.h"
#include "core/numbertext.h"
#include "norvata/norvatatable.h"
#include "quotes/feedextraction.h"
#include "quotes/quotepage.h"

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
// `newest` the last one's, and `time` (when earlier or still invalid) the last one's "Zeit", so that a
// row's quote is as old as the older of its two records. An id that is not found leaves all three. A
// stored price that is no finite double (a damaged record) fails the refresh rather than reaching the
// cells as "INF" or "NAN".
void readNewest(NorvataTable &table, const QString &id, IndexTable &cells, int row, double &newest,
                QDateTime &time)
{
    if (!table.findKey(id))
        return;
    cells.setCell(IndexTable::Kurswert, row, table.fieldText(QStringLiteral("Kurs")));
    QDateTime zeit;
    while (!table.eof() && table.fieldEquals(QStringLiteral("Firma"), id)) {
        newest = Arithmetic::toDouble(table.fieldFloat(QStringLiteral("Kurs")));
        zeit = table.fieldDateTime(QStringLiteral("Zeit"));
        table.next();
    }
    if (zeit.isValid() && (!time.isValid() || zeit < time))
        time = zeit;
}

// A component's new quotes and their time, as the web source found them.
struct RowQuote
{
    double bid = 0;
    double ask = 0;
    QDateTime time;
};

QStringList wknsOf(const IndexTable &cells)
{
    QStringList wkns;
    wkns.reserve(cells.rows());
    for (int row = 1; row < cells.rows(); ++row)
        wkns << cells.cell(IndexTable::WKN, row);
    return wkns;
}

// The built-in extraction: the quotes of every row at the page's arrival. Quotes that are no numbers
// (both 0) still go through the price rule as before, but count as no quote for their age.
QList<std::optional<RowQuote>> pageQuotes(const FeedPage &page, const IndexTable &cells, QChar separator)
{
    const auto quotes = QuotePage::extractAll(page.body, wknsOf(cells), separator);
    QList<std::optional<RowQuote>> rows;
    rows.reserve(quotes.size());
    for (const auto &quote : quotes) {
        if (!quote)
            rows.append(std::nullopt);
        else
            rows.append(
                RowQuote{quote->bid, quote->ask, quote->bid + quote->ask > 0 ? page.arrival : QDateTime()});
    }
    return rows;
}

// A JSON or pattern feed: each row looks its WKN (or the ISIN made of it) up among the feed's quotes; a
// quote without a time of its own is as old as the document.
QList<std::optional<RowQuote>> feedQuotes(const QuoteFeed &feed, const FeedPage &page,
                                          const IndexTable &cells)
{
    const FeedExtraction::FeedQuotes quotes = feed.kind == QuoteFeed::Kind::Json
                                                  ? FeedExtraction::readJson(page.body, feed)
                                                  : FeedExtraction::readPattern(page.body, feed);
    QList<std::optional<RowQuote>> rows;
    rows.reserve(cells.rows());
    for (int row = 1; row < cells.rows(); ++row) {
        const QString wkn = cells.cell(IndexTable::WKN, row);
        const QString key =
            feed.match == QuoteFeed::Match::Isin ? FeedExtraction::isinOf(wkn) : FeedExtraction::keyOf(wkn);
        const auto it = key.isEmpty() ? quotes.cend() : quotes.constFind(key);
        if (it == quotes.cend())
            rows.append(std::nullopt);
        else
            rows.append(RowQuote{it->bid, it->ask, it->time.isValid() ? it->time : page.arrival});
    }
    return rows;
}

} // namespace

FeedPage RefreshWindow::fetchFeed(const QuoteFeed &feed)
{
    throw ZalventoError(QStringLiteral("Kein Abruf für %1").arg(feed.url));
}

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
    m_feedError.clear();
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
    // After the cursor is restored: the box waits for the user.
    if (!m_feedError.isEmpty())
        m_window.showFeedError(m_feedError);
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
    QList<QDateTime> times(qMax(0, cells.rows() - 1));
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
        readNewest(m_table, cells.cell(IndexTable::NV, row), cells, row, ask, times[row - 1]);
        readNewest(m_table, cells.cell(IndexTable::NV_Ask, row), cells, row, bid, times[row - 1]);
        const double price = choosePrice(
            Rule::Norvata, cellNumber(cells.cell(IndexTable::Kurswert, row).trimmed(), m_decimalSeparator),
            bid, ask, cells, row, m_decimalSeparator);
        cells.setCell(IndexTable::ASK, row, NumberText::format(ask, m_decimalSeparator));
        cells.setCell(IndexTable::BID, row, NumberText::format(bid, m_decimalSeparator));
        cells.setCell(IndexTable::Kurswert, row, NumberText::format(price, m_decimalSeparator));
    }
    m_table.close();
    setQuoteAges(times);
}

std::optional<QuoteFeed> PriceRefresh::currentFeed()
{
    FeedFile::Lookup lookup = FeedFile::find(m_window.feedFilePath(), m_window.indexName());
    if (!lookup.ok()) {
        m_feedError = lookup.error;
        throw ZalventoError(lookup.error);
    }
    return std::move(lookup.feed);
}

void PriceRefresh::webSource()
{
    const std::optional<QuoteFeed> feed = currentFeed();
    const bool transfer = m_window.transferEnabled();
    if (transfer)
        m_table.open(m_window.dataFolder(), intradayTable, QString());
    FeedPage page;
    if (feed && !feed->url.isEmpty()) {
        page = m_window.fetchFeed(*feed);
    } else {
        page.body = m_window.fetchQuotePage();
        page.arrival = m_window.now();
    }
    addQuoteColumns();
    IndexTable &cells = m_window.table();
    const QList<std::optional<RowQuote>> quotes = !feed || feed->kind == QuoteFeed::Kind::Page
                                                      ? pageQuotes(page, cells, m_decimalSeparator)
                                                      : feedQuotes(*feed, page, cells);
    // A row's age is that of the quotes written into its cells; a row left as it was has none.
    QList<QDateTime> times(qMax(0, cells.rows() - 1));
    QList<IntradayRecord> transfers; // posted together after the last row
    for (int row = 1; row < cells.rows(); ++row) {
        const std::optional<RowQuote> &quote = quotes[row - 1];
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
            times[row - 1] = quote->time;

            if (transfer) {
                const auto id = NumberText::tryParseInteger(cells.cell(IndexTable::NV, row));
                if (id && *id >= 1 && previous != price)
                    transfers.append({*id, price, m_window.now()});
            }
            cells.setCell(IndexTable::Kurswert, row, NumberText::format(price, m_decimalSeparator));
        } catch (...) {
        }
    }
    transferPrices(transfers);
    setQuoteAges(times);
}

void PriceRefresh::setQuoteAges(const QList<QDateTime> &times)
{
    m_window.setQuoteAges(quoteAgesOf(times, m_window.now(), m_window.kursalterMinutes()));
}

void PriceRefresh::transferPrices(const QList<IntradayRecord> &records)
{
    if (records.isEmpty())
        return;
    try {
        // The table is found closed when another use of the table object ran while the page was
        // fetched.
        if (!m_table.isOpen())
            m_table.open(m_window.dataFolder(), intradayTable, QString());
        // One change for the whole refresh; a record that cannot be appended costs the others nothing.
        m_table.appendRecords(records);
    } catch (...) {
        // Records that cannot be handed on to Norvata do not stop the refresh.
    }
}
