// The quote page extraction. The input's first line is the WKN, the rest the page; the extraction
// runs with both decimal separators and gives finite quotes or none.

#include "fuzztarget.h"
#include "sources/quotepage.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QString wkn = QString::fromLatin1(input.left(lineEnd < 0 ? 0 : lineEnd));
    const QByteArray page = lineEnd < 0 ? input : input.mid(lineEnd + 1);
    for (const QChar separator : {QLatin1Char(','), QLatin1Char('.')}) {
        if (const auto quote = QuotePage::extract(page, wkn, separator))
            FUZZ_CHECK(std::isfinite(quote->bid) && std::isfinite(quote->ask));
    }
    return 0;
}
