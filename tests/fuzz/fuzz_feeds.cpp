// The quote feeds: a feed file entry, then a JSON document and a pattern page read by it. The input's
// first byte chooses what the rest is; no input may crash, hang or give a quote that is no finite number.

#include "fuzztarget.h"
#include "quotes/feedextraction.h"
#include "quotes/quotefeed.h"

#include <cmath>

namespace {

void checkQuotes(const FeedExtraction::FeedQuotes &quotes)
{
    for (const FeedExtraction::FeedQuote &quote : quotes)
        FUZZ_CHECK(std::isfinite(quote.bid) && std::isfinite(quote.ask));
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
    feed.time = QStringLiteral("time");
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    try {
        switch (data[0] % 4) {
        case 0: { // a feed file
            const FeedFile::Lookup lookup =
                FeedFile::parse(rest, QStringLiteral("/nonexistent/kursquellen.json"), QStringLiteral("Dax"));
            FUZZ_CHECK(!lookup.ok() || !lookup.feed || !lookup.feed->entry.isEmpty());
            break;
        }
        case 1: // a JSON feed of quote objects in a list
            checkQuotes(FeedExtraction::readJson(rest, jsonEntry(QStringLiteral("quotes"), QLatin1Char('.'))));
            break;
        case 2: // a JSON feed keyed by id at the top, decimal commas
            checkQuotes(FeedExtraction::readJson(rest, jsonEntry(QString(), QLatin1Char(','))));
            break;
        default: // a pattern page
            checkQuotes(FeedExtraction::readPattern(rest, patternEntry(QLatin1Char(','))));
            break;
        }
    } catch (const FeedError &) {
        // A document that does not fit its entry is refused with its reason: that is the sound outcome.
    }
    return 0;
}
