#include "refresh/pricerefresh.h"

#include "core/arithmetic.h"
#include "core/errors.h"
#include "core/indextable.h"
#include "core/numbertext.h"
#include "norvata/norvatatable.h"
#include "quotes/feedextraction.h"
#include "quotes/quotepage.h"

#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

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
    bool timeUnreadable = false;
};

// A refresh through a feed entry that failed, with the short reason its status text gives.
struct FeedFailure
{
    QString reason;
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

// A feed entry's quotes: each row looks its feed id up; a quote without a time of its own is as old as
// its document (its time was set when the document was read).
QList<std::optional<RowQuote>> rowsOf(const FeedExtraction::FeedQuotes &quotes, const QStringList &ids)
{
    QList<std::optional<RowQuote>> rows;
    rows.reserve(ids.size());
    for (const QString &id : ids) {
        const QString key = FeedExtraction::keyOf(id);
        const auto it = key.isEmpty() ? quotes.cend() : quotes.constFind(key);
        if (it == quotes.cend())
            rows.append(std::nullopt);
        else
            rows.append(RowQuote{it->bid, it->ask, it->time, it->timeUnreadable});
    }
    return rows;
}

} // namespace

QList<FeedPage> RefreshWindow::fetchFeed(const QuoteFeed &, const QList<FeedRequest> &requests)
{
    QList<FeedPage> pages(requests.size());
    for (FeedPage &page : pages)
        page.failure = QStringLiteral("kein Abruf möglich");
    return pages;
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
    m_partialFailure.clear();
    m_failed = false;
    bool done = false;
    const QString failed = QStringLiteral("Fehler beim Kursaktualisieren");
    m_window.beginRefresh();
    try {
        if (m_window.norvataSourceSelected())
            norvataSource();
        else
            webSource();
        if (m_table.isOpen())
            m_table.close();
        m_window.calculate();
        m_failed = !m_partialFailure.isEmpty();
        done = !m_failed;
        m_window.setStatusText(m_failed ? failed + QStringLiteral(": ") + m_partialFailure
                                        : QStringLiteral("Kurse aktualisiert"));
    } catch (const FeedFailure &failure) {
        if (m_table.isOpen())
            m_table.close();
        m_failed = true;
        m_window.setStatusText(QStringLiteral("%1: %2: %3").arg(failed, m_feedState.entry, failure.reason));
    } catch (...) {
        if (m_table.isOpen())
            m_table.close();
        m_window.setStatusText(failed);
    }
    if (!done) {
        // Quotes that stay while the source does not answer turn stale meanwhile.
        const QuoteAges ages = m_window.quoteAges();
        if (!ages.isEmpty())
            m_window.setQuoteAges(rejudged(ages, m_window.now(), m_window.kursalterMinutes()));
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
    const QString path = m_window.feedFilePath();
    const QFileInfo file(path);
    const QString indexName = m_window.indexName();
    if (!file.exists())
        return std::nullopt;
    // A refresh every few seconds reads the file again only when it changed.
    if (m_feedFile.path != path || m_feedFile.indexName != indexName ||
        m_feedFile.modified != file.lastModified() || m_feedFile.size != file.size())
        m_feedFile = {path, indexName, file.lastModified(), file.size(), FeedFile::find(path, indexName)};
    const FeedFile::Lookup &lookup = m_feedFile.lookup;
    if (!lookup.ok()) {
        m_feedError = lookup.error;
        throw ZalventoError(lookup.error);
    }
    if (lookup.feed && (m_feedState.entry != lookup.feed->entry || m_feedState.url != lookup.feed->url))
        m_feedState = {lookup.feed->entry, lookup.feed->url, {}, {}, {}};
    return lookup.feed;
}

qint64 PriceRefresh::retryAfterMs() const
{
    if (!m_feedState.notBefore.isValid())
        return 0;
    return std::max<qint64>(0, m_window.now().msecsTo(m_feedState.notBefore));
}

FeedExtraction::FeedQuotes PriceRefresh::feedQuotes(const QuoteFeed &feed, const QStringList &ids)
{
    const QDateTime now = m_window.now();
    if (m_feedState.notBefore.isValid() && now < m_feedState.notBefore)
        throw FeedFailure{QStringLiteral("nächster Abruf erst um %1 (Retry-After)")
                              .arg(m_feedState.notBefore.toString(QStringLiteral("HH:mm:ss")))};
    if (feed.interval > 0 && m_feedState.fetched.isValid() && m_feedState.fetched.secsTo(now) < feed.interval)
        return m_feedState.quotes;

    const QList<FeedRequest> requests = FeedFile::requestsOf(feed, ids);
    const QList<FeedPage> pages = m_window.fetchFeed(feed, requests);
    FeedExtraction::FeedQuotes quotes;
    quotes.reserve(ids.size());
    QString firstFailure;
    qsizetype failures = 0;
    int retryAfter = -1;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const FeedPage &page =
            i < pages.size() ? pages[i] : FeedPage{{}, {}, QStringLiteral("keine Antwort"), -1};
        QString failure = page.failure;
        if (failure.isEmpty()) {
            try {
                // A quote without a time of its own is as old as its document.
                const QString requestId = feed.perComponent() ? requests[i].ids.value(0) : QString();
                FeedExtraction::read(quotes, page.body, feed, requestId, page.arrival);
            } catch (const FeedError &error) {
                failure = error.text();
            }
        }
        retryAfter = std::max(retryAfter, page.retryAfterSeconds);
        if (!failure.isEmpty()) {
            if (firstFailure.isEmpty())
                firstFailure = failure;
            ++failures;
        }
    }
    if (retryAfter > 0)
        m_feedState.notBefore = now.addSecs(retryAfter);
    if (failures > 0 && requests.size() > 1) {
        const QString reason = QStringLiteral("%1 von %2 Abrufen fehlgeschlagen (%3)")
                                   .arg(failures)
                                   .arg(requests.size())
                                   .arg(firstFailure);
        if (failures == requests.size())
            throw FeedFailure{reason};
        m_partialFailure = m_feedState.entry + QStringLiteral(": ") + reason;
    } else if (failures > 0) {
        throw FeedFailure{firstFailure};
    }
    m_feedState.fetched = now;
    m_feedState.quotes = quotes;
    return quotes;
}

void PriceRefresh::webSource()
{
    const std::optional<QuoteFeed> feed = currentFeed();
    const bool transfer = m_window.transferEnabled();
    if (transfer)
        m_table.open(m_window.dataFolder(), intradayTable, QString());
    IndexTable &cells = m_window.table();
    QList<std::optional<RowQuote>> quotes;
    if (feed && feed->kind != QuoteFeed::Kind::Page) {
        QStringList ids;
        ids.reserve(cells.rows());
        for (int row = 1; row < cells.rows(); ++row)
            ids << FeedFile::feedIdOf(*feed, cells.cell(IndexTable::WKN, row));
        quotes = rowsOf(feedQuotes(*feed, ids), ids);
        addQuoteColumns();
    } else {
        FeedPage page;
        if (feed && !feed->url.isEmpty()) {
            const QList<FeedPage> pages = m_window.fetchFeed(*feed, FeedFile::requestsOf(*feed, {}));
            page = pages.value(0, FeedPage{{}, {}, QStringLiteral("keine Antwort"), -1});
            if (!page.failure.isEmpty())
                throw FeedFailure{page.failure};
        } else {
            page.body = m_window.fetchQuotePage();
            page.arrival = m_window.now();
        }
        addQuoteColumns();
        quotes = pageQuotes(page, cells, m_decimalSeparator);
        // Through a feed entry, quotes that are no numbers are no quotes.
        if (feed)
            for (std::optional<RowQuote> &quote : quotes)
                if (quote && !quote->time.isValid())
                    quote.reset();
    }
    if (feed && cells.rows() > 1 &&
        std::none_of(quotes.cbegin(), quotes.cend(), [](const auto &quote) { return quote.has_value(); }))
        throw FeedFailure{QStringLiteral("keine Kurse in der Antwort")};

    // A row's age is that of the quotes written into its cells; a row left as it was has none.
    QList<QDateTime> times(qMax(0, cells.rows() - 1));
    QList<bool> unreadable(times.size());
    QList<IntradayRecord> transfers; // posted together after the last row
    for (int row = 1; row < cells.rows(); ++row) {
        const std::optional<RowQuote> &quote = quotes[row - 1];
        if (!quote) {
            // Through a feed, a component without a quote still takes part in the calculation: at its
            // last quotes, or at its Kurswert when it never had any.
            if (feed) {
                const QString price = cells.cell(IndexTable::Kurswert, row).trimmed();
                for (const int column : {int(IndexTable::BID), int(IndexTable::ASK)})
                    if (cells.cell(column, row).trimmed().isEmpty())
                        cells.setCell(column, row, price);
            }
            continue;
        }
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
            unreadable[row - 1] = quote->timeUnreadable;

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
    setQuoteAges(times, unreadable);
}

void PriceRefresh::setQuoteAges(const QList<QDateTime> &times, const QList<bool> &unreadable)
{
    QuoteAges ages = quoteAgesOf(times, m_window.now(), m_window.kursalterMinutes());
    for (qsizetype i = 0; i < ages.size(); ++i) {
        if (unreadable.value(i)) {
            ages[i].timeUnreadable = true;
            ages[i].stale = true;
        }
    }
    m_window.setQuoteAges(ages);
}

void PriceRefresh::transferPrices(const QList<IntradayRecord> &records)
{
    // Records that cannot be handed on to Norvata do not stop the refresh; while the table cannot be
    // had, they wait for the next transfer.
    try {
        m_transfer.transfer(m_window.dataFolder(), intradayTable, records);
    } catch (const std::exception &error) {
        const QString text = QString::fromUtf8(error.what());
        QTextStream(stderr) << m_window.now().toString(Qt::ISODateWithMs) << ' ' << text.simplified() << ": "
                            << m_transfer.pending().size()
                            << " Kurse werden mit der nächsten Übertragung geschrieben" << Qt::endl;
    }
}
