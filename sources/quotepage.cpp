#include "sources/quotepage.h"

#include "core/numbertext.h"
#include "core/windows1252.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace QuotePage {

namespace {

constexpr std::size_t windowLength = 1024;
constexpr std::size_t firstFieldLength = 124;
// A quoted attribute value closing its tag: the cells that hold the quotes open with one.
constexpr std::string_view tagEnd = "\">";

// The first occurrence of `needle`. The page is searched once per component on every refresh, so
// candidates are found sixteen bytes at a time by the needle's first and last byte together, which
// rarely pass both in a page full of digits; only those are compared in full.
std::size_t findBytes(std::string_view haystack, std::string_view needle)
{
    const std::size_t n = needle.size();
    if (n == 0 || n > haystack.size())
        return n == 0 ? 0 : std::string_view::npos;
    const char *const data = haystack.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 2) {
        const __m128i first = _mm_set1_epi8(needle.front());
        const __m128i last = _mm_set1_epi8(needle.back());
        for (; i + n - 1 + 16 <= haystack.size(); i += 16) {
            const __m128i blockFirst = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
            const __m128i blockLast = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + n - 1));
            unsigned mask = unsigned(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(blockFirst, first), _mm_cmpeq_epi8(blockLast, last))));
            while (mask != 0) {
                const unsigned bit = unsigned(__builtin_ctz(mask));
                if (std::memcmp(data + i + bit + 1, needle.data() + 1, n - 2) == 0)
                    return i + bit;
                mask &= mask - 1;
            }
        }
    }
#endif
    const void *hit = ::memmem(data + i, haystack.size() - i, needle.data(), n);
    return hit ? std::size_t(static_cast<const char *>(hit) - data) : std::string_view::npos;
}

std::string_view dropFront(std::string_view text, std::size_t count)
{
    return text.substr(std::min(count, text.size()));
}

// Everything after the first tag end, or all but the first character when there is none.
std::string_view afterTagEnd(std::string_view text)
{
    const std::size_t at = text.find(tagEnd);
    return at == std::string_view::npos ? dropFront(text, 1) : text.substr(at + tagEnd.size());
}

std::string_view cutAt(std::string_view text, std::string_view marker)
{
    return text.substr(0, text.find(marker));
}

std::optional<double> fieldValue(std::string_view field, QChar decimalSeparator)
{
    QString text = QString::fromLatin1(field.data(), qsizetype(field.size()));
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point >= 0)
        text[point] = QLatin1Char(',');

    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;

    const auto value = NumberText::tryParseFloat(text.mid(begin, end - begin), decimalSeparator);
    // The price rule and the cells work with doubles; a quote beyond their range is no quote.
    if (!value || std::fabs(*value) > static_cast<long double>(DBL_MAX))
        return std::nullopt;
    return static_cast<double>(*value);
}

} // namespace

QString pathOf(const QString &indexName)
{
    if (indexName == QLatin1String("Dax"))
        return QStringLiteral("/L-S-DAX-R.84.0.html");
    if (indexName == QLatin1String("MDax"))
        return QStringLiteral("/L-S-MDAX.83.0.html");
    if (indexName == QLatin1String("SDax"))
        return QStringLiteral("/L-S-SDAX.82.0.html");
    if (indexName == QLatin1String("TecDax"))
        return QStringLiteral("/L-S-TecDax.81.0.html");
    return {};
}

QString addressOf(const QString &host, const QString &indexName)
{
    const QString path = pathOf(indexName);
    if (path.isEmpty() || host.isEmpty())
        return {};
    return QStringLiteral("http://") + host + path;
}

QString defaultHost()
{
    return QStringLiteral("www.ls-tc.de");
}

QString hostFromSetting(const QString &kursserver)
{
    QString host = kursserver.trimmed();
    if (host.isEmpty())
        return defaultHost();
    if (host.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        host.remove(0, 7);
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    if (host.isEmpty())
        return {};
    for (const QChar c : std::as_const(host)) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u == 0x7F || u == u'/' || u == u'\\' || u == u'?' || u == u'#' || u == u'@')
            return {};
    }
    return host;
}

std::optional<Quote> extract(const QByteArray &page, const QString &wkn, QChar decimalSeparator)
{
    if (wkn.isEmpty())
        return std::nullopt;
    // The page is bytes and the WKN a cell text from a Windows-1252 file; a WKN that this code page
    // cannot hold is in no page (encoding it would turn it into "?", which might well be).
    const QByteArray key = Windows1252::encode(wkn);
    if (Windows1252::decode(key) != wkn)
        return std::nullopt;

    const std::string_view text(page.constData(), std::size_t(page.size()));
    const std::size_t at = findBytes(text, std::string_view(key.constData(), std::size_t(key.size())));
    if (at == std::string_view::npos)
        return std::nullopt;

    std::string_view window = text.substr(at, windowLength);
    window = window.substr(0, window.find('\0'));

    const std::string_view first = cutAt(afterTagEnd(window), "</");

    const std::size_t firstTagEnd = window.find(tagEnd);
    const std::string_view skipped = firstTagEnd == std::string_view::npos
                                         ? dropFront(window, 3)
                                         : dropFront(window, firstTagEnd + tagEnd.size() + 2);
    const std::string_view second = cutAt(afterTagEnd(skipped), "<");

    const auto ask = fieldValue(second, decimalSeparator);
    const auto bid = first.size() <= firstFieldLength ? fieldValue(first, decimalSeparator) : std::nullopt;
    if (!ask || !bid)
        return Quote{};
    return Quote{*bid, *ask};
}

} // namespace QuotePage
