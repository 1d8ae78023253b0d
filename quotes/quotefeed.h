#pragma once

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QString>
#include <optional>

// A quote feed of one index, as the feed file "kursquellen.json" describes it: where the web source
// fetches its document and how it reads the quotes out of it.
struct QuoteFeed
{
    enum class Kind {
        Page,    // the built-in extraction on the page at `url` (empty: the built-in address)
        Json,    // a JSON document read by the dot paths below
        Pattern, // a page read by the regular expression `pattern`
    };
    // What the feed's ids are compared with: the component's WKN or its ISIN.
    enum class Match { Wkn, Isin };

    QString entry; // the member name in the feed file, as written there
    Kind kind = Kind::Page;
    QString url; // "http://" or "https://" address; empty only for kind Page
    // Json: `items` leads from the document to an array of quote objects or to an object keyed by
    // id (empty: the document itself); `id`, `bid`, `ask` and `time` lead inside each item (`id` is
    // not needed for an object keyed by id; `time` is optional).
    QString items, id, bid, ask, time;
    // Pattern: a regular expression with the named groups id, bid, ask and optionally time.
    QString pattern;
    QChar decimal = QLatin1Char('.'); // decimal separator of number texts in the document
    Match match = Match::Wkn;
    QString ca; // absolute path of a PEM file of authorities trusted besides the system's; may be empty
};

// A fetched feed document and the time it arrived.
struct FeedPage
{
    QByteArray body;
    QDateTime arrival;
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

} // namespace FeedFile
