#pragma once

#include "core/errors.h"
#include "quotes/quotefeed.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

// A feed document that does not fit its entry (no JSON, no list where `items` leads). The text names
// the entry and what is wrong.
class FeedError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};

// The reading of quotes out of a feed's document: pure functions like the page extraction. One pass
// over the document builds the quotes of all ids; each component then looks its own up by keyOf().
namespace FeedExtraction {

struct FeedQuote
{
    double bid = 0;
    double ask = 0;
    QDateTime time; // the document's arrival when the entry reads none; invalid when it cannot be read
    bool timeUnreadable = false; // the feed gave a time that cannot be read: the quote counts as stale
};

// Keyed by keyOf(id). An id listed more than once keeps its first quote. A side (bid or ask) that is
// missing, no number, or 0 or less takes the item's `last` when that is a number above 0; a side still
// missing takes the other side; an item with neither, or without an id, gives no quote.
using FeedQuotes = QHash<QString, FeedQuote>;

// The key a feed id and a component's identifier are compared by: trimmed and in upper case (WKNs and
// ISINs are written in upper case, feeds do not always).
QString keyOf(const QString &id);

// The ISIN a component is matched by under "match": "isin": its WKN cell when that already holds an
// ISIN, else the German ISIN of a six-character WKN ("DE000", the WKN, the check digit); empty for
// anything else.
QString isinOf(const QString &wkn);

// Each reader below takes a document of one request. `requestId` is the one feed id a per-component
// request asked for: the quote of a document without ids is that id's. `arrival` is the time the
// document arrived: the time of quotes when the entry reads none, and the day of a time pattern
// without a date. They add to `quotes` (the
// quotes of earlier documents of the same refresh) and throw FeedError with a short reason in the
// user's words ("kein JSON", "„items“ führt ins Leere") when the document does not fit the entry.

// The document as JSON read by the entry's paths (dot paths or JSON Pointers). Numbers are JSON
// numbers or number texts with the entry's decimal separator, digits optionally grouped by the other.
void readJson(FeedQuotes &quotes, const QByteArray &document, const QuoteFeed &feed,
              const QString &requestId = QString(), const QDateTime &arrival = QDateTime());

// Every match of the entry's pattern over the page (UTF-8) in turn, its groups read as above.
void readPattern(FeedQuotes &quotes, const QByteArray &page, const QuoteFeed &feed,
                 const QString &requestId = QString(), const QDateTime &arrival = QDateTime());

// A table of separated values (UTF-8, else Latin-1) with RFC 4180 quoting: `skip` lines, the
// header line, then one quote per line; columns by header text or 0-based number.
void readCsv(FeedQuotes &quotes, const QByteArray &document, const QuoteFeed &feed,
             const QString &requestId = QString(), const QDateTime &arrival = QDateTime());

// The reader of the entry's kind (not for kind Page).
void read(FeedQuotes &quotes, const QByteArray &document, const QuoteFeed &feed,
          const QString &requestId = QString(), const QDateTime &arrival = QDateTime());

// A number text with `decimal` as its separator; digits before it may be grouped by threes with the
// other separator ("1.932,83" with ','). Nothing for anything else or a value beyond a double.
std::optional<double> numberOf(const QString &text, QChar decimal);

// A time text: ISO 8601 (with or without offset; local time without), or Unix seconds (milliseconds
// when above 10^11). Invalid for anything else.
QDateTime timeOf(const QString &text);

// A time text read by the entry's "timeFormat" and "timeZone": a pattern without a date is a time of
// the day of `arrival` (in the entry's zone; today when invalid). Invalid when it cannot be read.
QDateTime timeOf(const QString &text, const QuoteFeed &feed, const QDateTime &arrival);

} // namespace FeedExtraction
