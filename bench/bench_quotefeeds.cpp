#include "quotes/feedextraction.h"
#include "quotes/quotepage.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <benchmark/benchmark.h>
#include <random>

namespace {

constexpr int components = 5000;

// Six-character WKNs of digits and capitals, as a large index's components carry them.
QStringList makeWkns()
{
    std::mt19937 random(20261209);
    const char alphabet[] = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";
    QStringList wkns;
    QSet<QString> taken;
    while (wkns.size() < components) {
        QString wkn;
        for (int i = 0; i < 6; ++i)
            wkn += QLatin1Char(alphabet[random() % (i == 0 ? 10 : 34)]);
        if (!taken.contains(wkn)) {
            taken.insert(wkn);
            wkns << wkn;
        }
    }
    return wkns;
}

// A 1.2 MB page: a head of teasers and scripts full of digits, then one quote row per component with
// chart snippets between the rows.
QByteArray makePage(const QStringList &wkns)
{
    std::mt19937 random(7);
    const char *tokens[] = {"<div class=\"teaser\">",
                            "</div>\r\n",
                            "<a href=\"/news/",
                            ".html\">",
                            "</a>",
                            "var q = {\"id\": ",
                            ", \"p\": ",
                            "};\r\n",
                            "1.2345 ",
                            "+0,45% ",
                            "<li>",
                            "</li>"};
    QByteArray body = "<!DOCTYPE html>\r\n<html lang=\"de\"><head><title>Index</title>\r\n";
    const auto filler = [&](qsizetype until) {
        while (body.size() < until) {
            body += tokens[random() % std::size(tokens)];
            body += QByteArray::number(quint32(random() % 100000));
        }
    };
    filler(200 * 1024);
    body += "<table class=\"quotes\"><tbody>\r\n";
    for (int i = 0; i < wkns.size(); ++i) {
        const QByteArray price = QByteArray::number(10 + i % 900);
        body += "<tr><td class=\"name\">Firma " + QByteArray::number(i) + "</td><td class=\"wkn\">" +
                wkns[i].toLatin1() + "</td><td class=\"bid\">" + price + ".35</td><td class=\"ask\">" +
                price + ".40</td><td class=\"time\">17:29:58</td></tr>\r\n";
        filler(200 * 1024 + qsizetype(i + 1) * 1024 * 1024 / wkns.size());
    }
    body += "</tbody></table></body></html>\r\n";
    return body;
}

void BM_PageAllQuotesOnePass(benchmark::State &state)
{
    const QStringList wkns = makeWkns();
    const QByteArray page = makePage(wkns);
    for (auto _ : state) {
        const auto quotes = QuotePage::extractAll(page, wkns, QLatin1Char(','));
        benchmark::DoNotOptimize(quotes.data());
    }
    const auto quotes = QuotePage::extractAll(page, wkns, QLatin1Char(','));
    for (const auto &quote : quotes)
        if (!quote || quote->bid <= 0)
            state.SkipWithError("page does not read");
    state.counters["page_kb"] = double(page.size()) / 1024;
}
BENCHMARK(BM_PageAllQuotesOnePass)->Unit(benchmark::kMillisecond);

// The search per component, as the refresh did it before: for comparison only.
void BM_PageEachQuoteAlone(benchmark::State &state)
{
    const QStringList wkns = makeWkns();
    const QByteArray page = makePage(wkns);
    for (auto _ : state)
        for (const QString &wkn : wkns)
            benchmark::DoNotOptimize(QuotePage::extract(page, wkn, QLatin1Char(',')));
}
BENCHMARK(BM_PageEachQuoteAlone)->Unit(benchmark::kMillisecond)->Iterations(3);

// A JSON feed of 5,000 quotes as the demo server writes it, parsed and looked up by every component.
void BM_JsonFeedParsedAndMatched(benchmark::State &state)
{
    const QStringList wkns = makeWkns();
    QByteArray document = "{\"quotes\":[";
    for (int i = 0; i < wkns.size(); ++i) {
        const QByteArray price = QByteArray::number(10 + i % 900);
        document += (i ? ",{\"wkn\":\"" : "{\"wkn\":\"") + wkns[i].toLatin1() + "\",\"isin\":\"" +
                    FeedExtraction::isinOf(wkns[i]).toLatin1() + "\",\"bid\":" + price +
                    ".35,\"ask\":" + price + ".4,\"time\":\"2026-12-09T15:29:58+01:00\"}";
    }
    document += "]}";
    QuoteFeed feed;
    feed.entry = QStringLiteral("Dax");
    feed.kind = QuoteFeed::Kind::Json;
    feed.items = QStringLiteral("quotes");
    feed.id = QStringLiteral("wkn");
    feed.bid = QStringLiteral("bid");
    feed.ask = QStringLiteral("ask");
    feed.time = {QStringLiteral("time")};
    for (auto _ : state) {
        FeedExtraction::FeedQuotes quotes;
        FeedExtraction::readJson(quotes, document, feed);
        double sum = 0;
        for (const QString &wkn : wkns)
            sum += quotes.value(FeedExtraction::keyOf(wkn)).bid;
        benchmark::DoNotOptimize(sum);
        if (quotes.size() != wkns.size())
            state.SkipWithError("feed does not read");
    }
    state.counters["document_kb"] = double(document.size()) / 1024;
}
BENCHMARK(BM_JsonFeedParsedAndMatched)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
