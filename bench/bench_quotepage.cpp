#include "quotes/quotepage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <benchmark/benchmark.h>
#include <random>

namespace {

// A page of about 300 KB shaped like the venue's index page: a large head of scripts, styles, menus
// and news full of digits and quotes, then the quote table with 40 rows spread over the last third.
struct Page
{
    QByteArray body;
    QStringList wkns;
};

Page makePage()
{
    std::mt19937 random(20261001);
    const char *tokens[] = {"<div class=\"teaser\">",
                            "</div>\r\n",
                            "<a href=\"/news/2026-10-01/",
                            ".html\">",
                            "</a>",
                            "<span data-v=\"",
                            "\">",
                            "</span>",
                            "var q = {\"id\": ",
                            ", \"p\": ",
                            "};\r\n",
                            "Rohstoffe ",
                            "Anleihen ",
                            "Devisen ",
                            "Nachrichten ",
                            "1.2345 ",
                            "17:29:58 ",
                            "+0,45% ",
                            "EUR ",
                            "<li>",
                            "</li>"};
    Page page;
    QByteArray &body = page.body;
    body.reserve(320 * 1024);
    body += "<!DOCTYPE html>\r\n<html lang=\"de\"><head><title>DAX</title>\r\n";
    while (body.size() < 200 * 1024) {
        body += tokens[random() % std::size(tokens)];
        body += QByteArray::number(quint32(random() % 100000));
    }
    body += "<table class=\"quotes\"><tbody>\r\n";
    for (int i = 0; i < 40; ++i) {
        const QByteArray wkn = QByteArray::number(500000 + i * 9973 % 400000) + (i % 3 ? "" : "X");
        page.wkns.append(QString::fromLatin1(wkn.right(6)));
        body += "<tr><td class=\"name\"><a href=\"/aktie/firma-" + QByteArray::number(i) + ".html\">Firma " +
                QByteArray::number(i) + "</a></td><td class=\"wkn\">" + wkn.right(6) +
                "</td><td class=\"bid\" id=\"b" + QByteArray::number(i) + "\">" + QByteArray::number(40 + i) +
                ".35</td><td class=\"ask\" id=\"a" + QByteArray::number(i) + "\">" +
                QByteArray::number(40 + i) + ".40</td><td class=\"time\">17:29:58</td></tr>\r\n";
        // Chart snippets and hidden menus between the rows, as the real table carries them.
        while (body.size() < 200 * 1024 + (i + 1) * 2500) {
            body += tokens[random() % std::size(tokens)];
            body += QByteArray::number(quint32(random() % 100000));
        }
    }
    body += "</tbody></table></body></html>\r\n";
    return page;
}

void BM_ExtractFortyQuotes(benchmark::State &state)
{
    const Page page = makePage();
    for (const QString &wkn : page.wkns) {
        const auto quote = QuotePage::extract(page.body, wkn, QLatin1Char(','));
        if (!quote || quote->bid <= 0 || quote->ask <= quote->bid)
            state.SkipWithError("page does not read");
    }
    for (auto _ : state) {
        double sum = 0;
        for (const QString &wkn : page.wkns) {
            if (const auto quote = QuotePage::extract(page.body, wkn, QLatin1Char(',')))
                sum += quote->bid + quote->ask;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * page.body.size());
    state.counters["page_kb"] = double(page.body.size()) / 1024;
}
BENCHMARK(BM_ExtractFortyQuotes)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
