#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The trading venue's public quote page of an index, and the cutting of a component's bid and ask
// quotes out of it. Pure functions: the fetch itself belongs to the price refresh and the HTTP client.
namespace QuotePage {

// Path on the quote server of the index named exactly so ("Dax" -> "/L-S-DAX-R.84.0.html", "MDax",
// "SDax", "TecDax"); empty for any other name, a different case included.
QString pathOf(const QString &indexName);

// "http://" + host + path, without a port of its own (the host may carry one: "127.0.0.1:8080").
// Empty when the index has no page or the host is empty; a request for the empty address fails.
QString addressOf(const QString &host, const QString &indexName);

// The built-in quote server host of the trading venue's quote centre.
QString defaultHost();

// The host to fetch from, given the settings value "Kursserver" (empty when the value is not set):
// defaultHost() for an empty or blank value, else the value trimmed, with a leading "http://" and
// trailing "/" dropped so that a pasted address works too. A value that cannot be a host (blanks,
// control characters, a path, a query, user info) gives the empty host, so the refresh fails
// visibly instead of fetching from somewhere the user did not mean or putting the text into the request.
QString hostFromSetting(const QString &kursserver);

struct Quote
{
    double bid = 0;
    double ask = 0;
};

// Cuts the bid and ask quotes of `wkn` out of `page`, the response body taken one character per byte:
//  1. the first occurrence of the WKN, with case; nothing when the WKN is empty or does not occur;
//  2. a window of up to 1024 characters from there, ending early at a zero byte;
//  3. first field: after the first tag end `">` (else after the first character), up to "</";
//  4. second field: after the first tag end and the two characters after it (else after the first three
//     characters), then after the next tag end (else after one character), up to "<";
//  5. the first "." of each field becomes ",";
//  6. both fields trimmed of characters up to 0x20 and parsed as number texts with `decimalSeparator`:
//     ask from the second field, bid from the first. When either is no number both are 0.
// A first field longer than 124 characters counts as no number; so does a value beyond the range of
// a double. Never throws.
std::optional<Quote> extract(const QByteArray &page, const QString &wkn, QChar decimalSeparator);

// The quotes of all components at once: element i is what extract(page, wkns[i], decimalSeparator)
// gives, but the page is searched once for the first occurrences of all WKNs together, so that a
// large index on a large page costs one pass instead of one per component. Never throws.
QList<std::optional<Quote>> extractAll(const QByteArray &page, const QStringList &wkns,
                                       QChar decimalSeparator);

} // namespace QuotePage
