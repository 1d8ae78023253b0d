// The quote page extraction. The input's first line holds the WKNs (separated by blanks), the rest is the
// page; the extraction runs with both decimal separators and gives finite quotes or none, and the one pass
// over the page for all WKNs gives what the search for each WKN alone gives.

#include "fuzztarget.h"
#include "quotes/quotepage.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QStringList wkns =
        QString::fromLatin1(input.left(lineEnd < 0 ? 0 : lineEnd)).split(QLatin1Char(' '));
    const QByteArray page = lineEnd < 0 ? input : input.mid(lineEnd + 1);
    for (const QChar separator : {QLatin1Char(','), QLatin1Char('.')}) {
        const QList<std::optional<QuotePage::Quote>> all = QuotePage::extractAll(page, wkns, separator);
        FUZZ_CHECK(all.size() == wkns.size());
        for (qsizetype i = 0; i < wkns.size(); ++i) {
            const auto quote = QuotePage::extract(page, wkns[i], separator);
            FUZZ_CHECK(quote.has_value() == all[i].has_value());
            if (!quote)
                continue;
            FUZZ_CHECK(std::isfinite(quote->bid) && std::isfinite(quote->ask));
            FUZZ_CHECK(quote->bid == all[i]->bid && quote->ask == all[i]->ask);
        }
    }
    return 0;
}
