#pragma once

#include "core/clock.h"
#include "norvata/intradaytransfer.h"
#include "quotes/feedextraction.h"
#include "quotes/quoteage.h"
#include "quotes/quotefeed.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

class IndexTable;
class NorvataTable;
struct IntradayRecord;

// The highlight of a quote cell written by the web source: lime green when the new number text sorts
// before the old one, fuchsia when after, none when they are equal.
enum class Highlight { None, Lime, Fuchsia };

// What the price refresh needs of the main window. The window implements it; tests implement it with a
// plain struct.
class RefreshWindow
{
public:
    virtual ~RefreshWindow() = default;

    virtual IndexTable &table() = 0;
    // The highlighted cell write: stores the text in the cell of table() and draws that cell at once in
    // the colour; it is drawn normally again when it is next drawn for any other reason.
    virtual void writeHighlightedCell(int column, int row, const QString &text, Highlight highlight) = 0;
    virtual void setStatusText(const QString &text) = 0;

    // Hourglass cursor and "Kurswerte aktualisieren" disabled; restored by endRefresh() on every path.
    virtual void beginRefresh() = 0;
    virtual void endRefresh() = 0;

    // Item 0 of "Einlese-Quelle" reads Norvata's "Intraday.db"; any other the quote page.
    virtual bool norvataSourceSelected() const = 0;
    // `NorvataVerfuegbar` and "Internet-Aktienkurse übertragen" checked.
    virtual bool transferEnabled() const = 0;
    virtual QString dataFolder() const = 0;

    // The quote page fetch of the current index: sets "Loading", fetches, sets "Received <n> bytes".
    // Throws when the fetch fails (a status of 400 or more included).
    virtual QByteArray fetchQuotePage() = 0;

    // The index name as the index choice shows it: the feed file's entry is looked up by it.
    virtual QString indexName() const { return {}; }
    // The feed file; a test points it at a folder of its own.
    virtual QString feedFilePath() const { return FeedFile::defaultPath(); }
    // The fetch of a feed's documents, one per request (https or http, with the feed's headers, at most
    // feed.parallel at once, trusting feed.ca besides the system's authorities): sets "Loading",
    // fetches, sets "Received <n> bytes". Returns one page per request in their order, each with its
    // body and arrival or its failure's reason (a status of 400 or more included) and Retry-After. A
    // refresh through a feed calls this instead of fetchQuotePage(). The default fails every request: a
    // window without a feed fetch cannot read feeds.
    virtual QList<FeedPage> fetchFeed(const QuoteFeed &feed, const QList<FeedRequest> &requests);
    // Shows in a message box why the feed file cannot be used (the text names the file, the entry and
    // the problem): once per refresh, after its failure status text and endRefresh().
    virtual void showFeedError(const QString &text) { Q_UNUSED(text) }
    // The dword setting "Kursalter": minutes after which a quote counts as stale, 0 = never.
    virtual int kursalterMinutes() const { return 15; }

    // The quote age of every component after a refresh, in row order (element 0 is row 1): after each
    // source pass that ends normally, with staleness judged by kursalterMinutes() at now(). A row
    // whose cells got no new quotes has an invalid time ("kein Kurs") and is stale.
    virtual void setQuoteAges(const QuoteAges &) {}
    // The quote ages last set: a refresh that fails judges them again at its end.
    virtual QuoteAges quoteAges() const { return {}; }

    virtual void calculate() = 0;
    // The time quotes arrive at; the window gives its one clock.
    virtual QDateTime now() const { return Clock::system().now(); }
};

// The price refresh ("Kurswerte aktualisieren"): fills columns 2 "Kurswert", 7 "BID" and 8 "ASK" of every
// component from Norvata's newest intraday prices or from the quote page, optionally hands web prices on to
// "Intraday.db", then runs the calculation. Its status texts: "Kurse aktualisiert" or
// "Fehler beim Kursaktualisieren", through a feed entry with ": <entry>: <reason>" after it.
//
// Through a feed entry a component without a quote never stops the calculation: it keeps its BID and
// ASK, or gets its Kurswert as both when it has none, and counts as "kein Kurs". The built-in page
// without a feed file keeps the rules of the web source as they are.
class PriceRefresh
{
public:
    PriceRefresh(RefreshWindow &window, NorvataTable &table, QChar decimalSeparator);

    // Runs one refresh to its end; a refresh asked for while one runs (from a click or a tick handled
    // while the web source waits for its page) returns at once and reports false.
    bool run();
    bool running() const { return m_running; }
    // Whether the last refresh through a feed entry failed (also in part: some of its requests), and how
    // many milliseconds from now the feed asked not to be asked again (Retry-After); 0 when it did not.
    // The built-in page and Norvata never count as failed here: the automatic mode keeps its pause.
    bool lastFailed() const { return m_failed; }
    qint64 retryAfterMs() const;

    // The order of two texts by character code, a text that begins the other being the smaller.
    static Highlight highlightFor(const QString &current, const QString &next);

private:
    void norvataSource();
    void webSource();
    // The feed of the current index; nothing for the built-in page. Throws when the feed file cannot be
    // used, keeping the reason for the message box.
    std::optional<QuoteFeed> currentFeed();
    // The quotes of every row through a feed entry of kind json, pattern or csv: fetched, or those of
    // the last document while "interval" has not passed.
    FeedExtraction::FeedQuotes feedQuotes(const QuoteFeed &feed, const QStringList &ids);
    // Hands the window the age of every row's quote (invalid: none) as of now.
    void setQuoteAges(const QList<QDateTime> &times, const QList<bool> &unreadable = {});
    void addQuoteColumns();
    void transferPrices(const QList<IntradayRecord> &records);

    RefreshWindow &m_window;
    NorvataTable &m_table;
    QChar m_decimalSeparator;
    IntradayTransfer m_transfer{m_table};
    bool m_running = false;
    bool m_failed = false;
    QString m_feedError;
    QString m_partialFailure; // a feed's requests that failed while others answered

    // The feed file as last read: read again only when it changed.
    struct FeedFileCache
    {
        QString path, indexName;
        QDateTime modified;
        qint64 size = -1;
        FeedFile::Lookup lookup;
    } m_feedFile;

    // What the entry last fetched, for "interval" and Retry-After.
    struct FeedState
    {
        QString entry, url;
        QDateTime fetched;
        QDateTime notBefore;
        FeedExtraction::FeedQuotes quotes; // every quote with its time (the arrival when none given)
    } m_feedState;
};
