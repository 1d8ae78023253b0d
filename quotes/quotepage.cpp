#include "quotes/quotepage.h"

#include "core/numbertext.h"
#include "core/windows1252.h"

#include <QHash>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

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

// The bytes a WKN is searched for as: the page is bytes and the WKN a cell text from a Windows-1252
// file; a WKN that this code page cannot hold is in no page (encoding it would turn it into "?",
// which might well be). Nothing for the empty WKN.
std::optional<QByteArray> searchKey(const QString &wkn)
{
    if (wkn.isEmpty())
        return std::nullopt;
    const QByteArray key = Windows1252::encode(wkn);
    if (Windows1252::decode(key) != wkn)
        return std::nullopt;
    return key;
}

// The quotes cut from the window at `at`, the first occurrence of the WKN.
Quote quoteAt(std::string_view text, std::size_t at, QChar decimalSeparator)
{
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

// An Aho-Corasick automaton over the WKNs, as a full transition table over the bytes that occur in
// them (every other byte leads back to the start), so that one pass over the page finds the first
// occurrence of every WKN.
class WknAutomaton
{
public:
    // Nothing when the table would grow beyond a few megabytes (WKN cells of absurd length); the
    // caller then searches for each WKN alone.
    static std::optional<WknAutomaton> build(const QList<QByteArray> &keys)
    {
        WknAutomaton a;
        std::size_t totalLength = 0;
        for (const QByteArray &key : keys) {
            totalLength += std::size_t(key.size());
            for (const char c : key) {
                std::uint16_t &symbol = a.m_symbolOf[std::uint8_t(c)];
                if (symbol == 0)
                    symbol = std::uint16_t(++a.m_symbols);
            }
        }
        ++a.m_symbols; // symbol 0: a byte in no WKN
        if ((totalLength + 1) * a.m_symbols > largestTable)
            return std::nullopt;

        // The trie; 0 in m_next means "no child yet", as the start state is nobody's child.
        a.m_next.assign(a.m_symbols, 0);
        a.m_key.assign(1, -1);
        for (qsizetype k = 0; k < keys.size(); ++k) {
            std::int32_t state = 0;
            for (const char c : keys[k]) {
                const std::size_t at = std::size_t(state) * a.m_symbols + a.m_symbolOf[std::uint8_t(c)];
                if (a.m_next[at] == 0) {
                    a.m_next[at] = std::int32_t(a.m_key.size());
                    a.m_key.push_back(-1);
                    a.m_next.resize(a.m_next.size() + a.m_symbols, 0);
                }
                state = a.m_next[at];
            }
            a.m_key[std::size_t(state)] = std::int32_t(k);
        }
        a.m_length.reserve(std::size_t(keys.size()));
        for (const QByteArray &key : keys)
            a.m_length.push_back(std::size_t(key.size()));

        // Breadth first: each state's failure state is already complete when the state is reached, so
        // its missing transitions are copied from there, and its output link (the longest proper
        // suffix that is a whole WKN) follows from the failure state's.
        const std::size_t states = a.m_key.size();
        std::vector<std::int32_t> failure(states, 0);
        a.m_output.assign(states, 0);
        std::vector<std::int32_t> queue;
        queue.reserve(states);
        for (std::size_t symbol = 0; symbol < a.m_symbols; ++symbol)
            if (const std::int32_t child = a.m_next[symbol])
                queue.push_back(child);
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const std::int32_t state = queue[head];
            const std::size_t row = std::size_t(state) * a.m_symbols;
            const std::size_t failureRow = std::size_t(failure[std::size_t(state)]) * a.m_symbols;
            for (std::size_t symbol = 0; symbol < a.m_symbols; ++symbol) {
                std::int32_t &child = a.m_next[row + symbol];
                if (child == 0) {
                    child = a.m_next[failureRow + symbol];
                    continue;
                }
                const std::int32_t childFailure = a.m_next[failureRow + symbol];
                failure[std::size_t(child)] = childFailure;
                a.m_output[std::size_t(child)] = a.m_key[std::size_t(childFailure)] >= 0
                                                     ? childFailure
                                                     : a.m_output[std::size_t(childFailure)];
                queue.push_back(child);
            }
        }
        return a;
    }

    // The position of each key's first occurrence in `text`, npos for a key that does not occur.
    std::vector<std::size_t> firstOccurrences(std::string_view text) const
    {
        std::vector<std::size_t> first(m_length.size(), std::string_view::npos);
        std::size_t missing = first.size();
        std::int32_t state = 0;
        for (std::size_t i = 0; i < text.size() && missing > 0; ++i) {
            state = m_next[std::size_t(state) * m_symbols + m_symbolOf[std::uint8_t(text[i])]];
            // Every WKN that ends here: the state's own and those along its output links.
            for (std::int32_t s = m_key[std::size_t(state)] >= 0 ? state : m_output[std::size_t(state)];
                 s != 0; s = m_output[std::size_t(s)]) {
                const auto key = std::size_t(m_key[std::size_t(s)]);
                if (first[key] == std::string_view::npos) {
                    first[key] = i + 1 - m_length[key];
                    --missing;
                }
            }
        }
        return first;
    }

private:
    // Transition table entries: 4 million of 4 bytes.
    static constexpr std::size_t largestTable = std::size_t(1) << 22;

    std::array<std::uint16_t, 256> m_symbolOf{};
    std::size_t m_symbols = 0;
    std::vector<std::int32_t> m_next;   // state * m_symbols + symbol -> state
    std::vector<std::int32_t> m_key;    // the key that ends in the state, or -1
    std::vector<std::int32_t> m_output; // the next state along the suffixes that is a key's end; 0: none
    std::vector<std::size_t> m_length;  // per key
};

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
    const auto key = searchKey(wkn);
    if (!key)
        return std::nullopt;
    const std::string_view text(page.constData(), std::size_t(page.size()));
    const std::size_t at = findBytes(text, std::string_view(key->constData(), std::size_t(key->size())));
    if (at == std::string_view::npos)
        return std::nullopt;
    return quoteAt(text, at, decimalSeparator);
}

QList<std::optional<Quote>> extractAll(const QByteArray &page, const QStringList &wkns,
                                       QChar decimalSeparator)
{
    // Components that share a WKN share its search.
    QList<QByteArray> keys;
    keys.reserve(wkns.size());
    QHash<QByteArray, qsizetype> keyIndex;
    keyIndex.reserve(wkns.size()); // one pass over thousands of WKNs without growing the table
    QList<qsizetype> keyOfRow(wkns.size(), -1);
    for (qsizetype row = 0; row < wkns.size(); ++row) {
        const auto key = searchKey(wkns[row]);
        if (!key)
            continue;
        auto it = keyIndex.constFind(*key);
        if (it == keyIndex.cend()) {
            it = keyIndex.insert(*key, keys.size());
            keys.append(*key);
        }
        keyOfRow[row] = *it;
    }

    const std::string_view text(page.constData(), std::size_t(page.size()));
    std::vector<std::size_t> found;
    if (const auto automaton = WknAutomaton::build(keys)) {
        found = automaton->firstOccurrences(text);
    } else {
        found.reserve(std::size_t(keys.size()));
        for (const QByteArray &key : std::as_const(keys))
            found.push_back(findBytes(text, std::string_view(key.constData(), std::size_t(key.size()))));
    }

    QList<std::optional<Quote>> quotes(wkns.size());
    for (qsizetype row = 0; row < wkns.size(); ++row) {
        const qsizetype key = keyOfRow[row];
        if (key >= 0 && found[std::size_t(key)] != std::string_view::npos)
            quotes[row] = quoteAt(text, found[std::size_t(key)], decimalSeparator);
    }
    return quotes;
}

} // namespace QuotePage
