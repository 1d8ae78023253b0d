#pragma once

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>
#include <optional>

// A quote feed of one index, as the feed file "kursquellen.json" describes it: where the web source
// fetches its documents and how it reads the quotes out of them.
struct QuoteFeed
{
    enum class Kind {
        Page,    // the built-in extraction on the page at `url` (empty: the built-in address)
        Json,    // a JSON document read by the paths below
        Pattern, // a page read by the regular expression `pattern`
        Csv,     // a table of separated values read by the columns below
    };
    // What the feed's ids are compared with: the component's WKN, its ISIN, or its entry in `symbols`
    // (the WKN when it has none).
    enum class Match { Wkn, Isin, Symbol };
    // How time texts are read: ISO 8601 or a number (Unix seconds, milliseconds above 10^11), Unix
    // seconds, Unix milliseconds, or the Qt date-time pattern `timePattern`.
    enum class TimeFormat { Iso, Unix, UnixMs, Pattern };

    QString entry; // the member name in the feed file, as written there
    Kind kind = Kind::Page;
    // "http://" or "https://" address with every {env:NAME} replaced; empty only for kind Page. It may
    // hold "{id}" (one request per component) or "{ids}" (one request per `batch` ids joined by ",").
    QString url;
    // Json: `items` leads from the document to an array of quote objects or to an object keyed by
    // id (empty: the document itself); `id`, `bid`, `ask`, `last` and `time` lead inside each item.
    // A path starting with "/" is a JSON Pointer, any other a dot path. Csv: the same members name
    // columns by header text or by a 0-based number. `id` is not needed for an object keyed by id,
    // nor with "{id}" in the url; `last` and `time` are optional.
    QString items, id, bid, ask, last;
    QStringList time; // texts of several paths are joined by one blank (a date and a time column)
    // Pattern: a regular expression with the named groups id, bid, ask and optionally last and time.
    QString pattern;
    QChar decimal = QLatin1Char('.'); // decimal separator of number texts in the document
    // Csv: the field separator (null: the first of ';' ',' TAB found in the header line) and the lines
    // before the header line.
    QChar separator;
    int skip = 0;
    TimeFormat timeFormat = TimeFormat::Iso;
    QString timePattern;
    QTimeZone timeZone; // for times without an offset; invalid: local time
    Match match = Match::Wkn;
    // The feed's id of single components, keyed by keyOf(WKN or ISIN).
    QHash<QString, QString> symbols;
    QList<QPair<QByteArray, QByteArray>> headers; // request headers, every {env:NAME} replaced
    int parallel = 4;                             // requests at once with "{id}"
    int batch = 50;                               // ids per request with "{ids}"
    int interval = 0;                             // least seconds between two fetches of the entry
    QString ca; // absolute path of a PEM file of authorities trusted besides the system's; may be empty

    bool perComponent() const { return url.contains(QLatin1String("{id}")); }
    bool batched() const { return url.contains(QLatin1String("{ids}")); }
};

// One request of a refresh through a feed: its address and the feed ids it asks for (empty when the
// url names no ids; the one id of a per-component request gives the quote of a document without ids).
struct FeedRequest
{
    QUrl url;
    QStringList ids;
};

// A fetched feed document and the time it arrived, or why it could not be fetched.
struct FeedPage
{
    QByteArray body;
    QDateTime arrival;
    QString failure;            // a short reason in the user's words; empty when the body is in
    int retryAfterSeconds = -1; // what a 429 or 503 asked for with Retry-After; -1 when nothing
};

// The feed file: `$XDG_CONFIG_HOME/zalvento/kursquellen.json` (`~/.config/...` when unset), optional.
namespace FeedFile {

QString defaultPath();

// The feed of one index, or why the feed file cannot be used. A missing file, or a file without a
// member for the index, gives neither: the web source then reads the built-in page.
struct Lookup
{
    std::optional<QuoteFeed> feed;
    QString error; // names the file, the entry and what is wrong; empty when the file is usable
    bool ok() const { return error.isEmpty(); }
};

// Reads the file at `path` and looks up `indexName`, ignoring case. Never throws.
Lookup find(const QString &path, const QString &indexName);

// The same on the file's text; `path` names the file in errors and is the base of a relative "ca".
Lookup parse(const QByteArray &text, const QString &path, const QString &indexName);

// The feed id a component is asked for and found by: its entry in `symbols` (by WKN, else by the ISIN
// made of it), else by `match` its WKN or ISIN. Compared by FeedExtraction::keyOf(); empty when the
// component has none (an ISIN that cannot be made).
QString feedIdOf(const QuoteFeed &feed, const QString &wkn);

// The requests of one refresh for the components' feed ids: one for a url without ids, one per distinct
// id with "{id}", one per `batch` distinct ids with "{ids}". Ids are percent-encoded into the url;
// empty ids are left out.
QList<FeedRequest> requestsOf(const QuoteFeed &feed, const QStringList &ids);

} // namespace FeedFile
