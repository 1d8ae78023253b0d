#pragma once

#include "core/errors.h"
#include "quotes/quotefeed.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

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
    QDateTime time; // invalid when the feed gives none (or none that can be read)
};

// Keyed by keyOf(id). An id listed more than once keeps its first quote; an item whose bid or ask is
// no number, or that has no id, gives no quote.
using FeedQuotes = QHash<QString, FeedQuote>;

// The key a feed id and a component's identifier are compared by: trimmed and in upper case (WKNs and
// ISINs are written in upper case, feeds do not always).
QString keyOf(const QString &id);

// The ISIN a component is matched by under "match": "isin": its WKN cell when that already holds an
// ISIN, else the German ISIN of a six-character WKN ("DE000", the WKN, the check digit); empty for
// anything else.
QString isinOf(const QString &wkn);

// The document as JSON read by the entry's dot paths. Bid and ask are JSON numbers or number texts with
// the entry's decimal separator; the time ISO 8601 text or Unix seconds (a number or a digit text).
// Throws FeedError when the document is no JSON or `items` leads to neither a list nor an object.
FeedQuotes readJson(const QByteArray &document, const QuoteFeed &feed);

// Every match of the entry's pattern over the page (UTF-8) in turn, its groups read as above.
// Throws FeedError when the pattern is not valid or lacks a group (the feed file reader refuses such
// an entry before).
FeedQuotes readPattern(const QByteArray &page, const QuoteFeed &feed);

// A time text: ISO 8601 (with or without offset; local time without), or Unix seconds. Invalid for
// anything else.
QDateTime timeOf(const QString &text);

} // namespace FeedExtraction
