// The quote feeds: a feed file entry, then a JSON document, a pattern page and a CSV table read by it.
// The input's first byte chooses what the rest is; no input may crash, hang or give a quote that is no
// finite number above 0.

#include "fuzztarget.h"
#include "quotes/feedextraction.h"
#include "quotes/quotefeed.h"

#include <cmath>

namespace {

void checkQuotes(const FeedExtraction::FeedQuotes &quotes)
{
    for (const FeedExtraction::FeedQuote &quote : quotes)
        FUZZ_CHECK(std::isfinite(quote.bid) && std::isfinite(quote.ask) && quote.bid > 0 && quote.ask > 0);
}

QuoteFeed jsonEntry(const QString &items, QChar decimal)
{
    QuoteFeed feed;
    feed.entry = QStringLiteral("Dax");
    feed.kind = QuoteFeed::Kind::Json;
    feed.url = QStringLiteral("https://127.0.0.1/dax.json");
    feed.items = items;
    feed.id = QStringLiteral("wkn");
    feed.bid = QStringLiteral("bid");
    feed.ask = QStringLiteral("ask");
    feed.last = QStringLiteral("/last");
    feed.time = {QStringLiteral("time"), QStringLiteral("/clock")};
    feed.decimal = decimal;
    return feed;
}

QuoteFeed patternEntry(QChar decimal)
{
    QuoteFeed feed = jsonEntry(QString(), decimal);
    feed.kind = QuoteFeed::Kind::Pattern;
    feed.pattern = QStringLiteral("<dt>(?<id>\\w+)</dt><dd>(?<bid>[0-9.,]+)/(?<ask>[0-9.,]+)"
                                  "(?:@(?<time>[^<]+))?</dd>");
    return feed;
}

// A CSV table with German numbers and a date and a time column read by a pattern in Berlin's zone.
QuoteFeed csvEntry()
{
    QuoteFeed feed = jsonEntry(QString(), QLatin1Char(','));
    feed.kind = QuoteFeed::Kind::Csv;
    feed.skip = 1;
    feed.last = QStringLiteral("3");
    feed.time = {QStringLiteral("Datum"), QStringLiteral("Zeit")};
    feed.timeFormat = QuoteFeed::TimeFormat::Pattern;
    feed.timePattern = QStringLiteral("dd.MM.yyyy HH:mm:ss");
    feed.timeZone = QTimeZone("Europe/Berlin");
    return feed;
}

FeedExtraction::FeedQuotes read(const QByteArray &document, const QuoteFeed &feed,
                                const QString &requestId = {})
{
    FeedExtraction::FeedQuotes quotes;
    FeedExtraction::read(quotes, document, feed, requestId, QDateTime::currentDateTime());
    return quotes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    try {
        switch (data[0] % 6) {
        case 0: { // a feed file
            const FeedFile::Lookup lookup =
                FeedFile::parse(rest, QStringLiteral("/nonexistent/kursquellen.json"), QStringLiteral("Dax"));
            FUZZ_CHECK(!lookup.ok() || !lookup.feed || !lookup.feed->entry.isEmpty());
            break;
        }
        case 1: // a JSON feed of quote objects in a list
            checkQuotes(read(rest, jsonEntry(QStringLiteral("quotes"), QLatin1Char('.'))));
            break;
        case 2: // a JSON feed keyed by id at the top, decimal commas
            checkQuotes(read(rest, jsonEntry(QString(), QLatin1Char(','))));
            break;
        case 3: { // one component's document read by JSON Pointers, times in milliseconds
            QuoteFeed feed = jsonEntry(QStringLiteral("/Global Quote"), QLatin1Char('.'));
            feed.url = QStringLiteral("https://127.0.0.1/q?s={id}");
            feed.id.clear();
            feed.bid = QStringLiteral("/05. price");
            feed.timeFormat = QuoteFeed::TimeFormat::UnixMs;
            checkQuotes(read(rest, feed, QStringLiteral("SAP.DE")));
            break;
        }
        case 4: // a CSV table
            checkQuotes(read(rest, csvEntry()));
            break;
        default: // a pattern page
            checkQuotes(read(rest, patternEntry(QLatin1Char(','))));
            break;
        }
    } catch (const FeedError &) {
        // A document that does not fit its entry is refused with its reason: that is the sound outcome.
    }
    return 0;
}
