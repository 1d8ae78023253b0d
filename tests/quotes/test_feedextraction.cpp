// The feed file reader and the JSON and pattern extraction on fixture documents.
#include "quotes/feedextraction.h"
#include "quotes/quotefeed.h"

#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <array>

namespace {

const QString dax = QStringLiteral("Dax");
const QString filePath = QStringLiteral("/etc/zalvento/kursquellen.json");
// A JSON entry reading the list "q" of objects with the members id, bid and ask.
const QByteArray plainJson =
    R"("kind": "json", "url": "http://a/", "items": "q", "id": "id", "bid": "bid", "ask": "ask")";

// The feed of an entry "Dax" with these members, as the feed file reader makes it.
QuoteFeed feedOf(const QByteArray &members)
{
    const FeedFile::Lookup lookup = FeedFile::parse("{\"Dax\": {" + members + "}}", filePath, dax);
    if (!lookup.feed)
        qFatal("fixture entry refused: %s", qPrintable(lookup.error));
    return *lookup.feed;
}

// "ID bid/ask time" per quote, sorted by id; the time in UTC, "-" when the feed gave none, "?" when it
// cannot be read.
QString summary(const FeedExtraction::FeedQuotes &quotes)
{
    QStringList lines;
    for (auto it = quotes.begin(); it != quotes.end(); ++it)
        lines << QStringLiteral("%1 %2/%3 %4")
                     .arg(it.key())
                     .arg(it->bid)
                     .arg(it->ask)
                     .arg(it->timeUnreadable   ? QStringLiteral("?")
                          : it->time.isValid() ? it->time.toUTC().toString(Qt::ISODate)
                                               : QStringLiteral("-"));
    std::sort(lines.begin(), lines.end());
    return lines.join(QLatin1Char(';'));
}

// Rows of two texts each, one line per row.
void addTextRows(const char *first, const char *second,
                 std::initializer_list<std::array<const char *, 3>> rows)
{
    QTest::addColumn<QString>(first);
    QTest::addColumn<QString>(second);
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromUtf8(row[1]) << QString::fromUtf8(row[2]);
}

} // namespace

class TestFeedExtraction : public QObject
{
    Q_OBJECT

private slots:
    void feedFileErrors_data();
    void feedFileErrors();
    void feedFileFound();
    void extract_data();
    void extract();
    void patternOnAMegabytePage();
    void isinOf_data();
    void isinOf();
    void timeOf_data();
    void timeOf();
    void feedTime_data();
    void feedTime();
    void requests_data();
    void requests();
};

void TestFeedExtraction::feedFileErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error"); // a part of the error text

    const QByteArray url = R"("url": "http://a/", )";
    QTest::newRow("not JSON") << QByteArray("{\"Dax\": {") << "kein gültiges JSON";
    QTest::newRow("two entries for the index")
        << QByteArray(R"({"Dax": {"kind": "page"}, "dax": {"kind": "page"}})") << "mehrere Einträge";
    QTest::newRow("entry not an object") << QByteArray(R"({"Dax": "json"})") << "„Dax“: kein JSON-Objekt";
    QTest::newRow("kind unknown") << QByteArray(R"({"Dax": {"kind": "xml"}})") << "„Dax“: „kind“ muss";
    QTest::newRow("url not http") << QByteArray(R"({"Dax": {"kind": "page", "url": "file:///etc/passwd"}})")
                                  << "keine http- oder https";
    QTest::newRow("bid missing") << R"({"Dax": {"kind": "json", )" + url + R"("ask": "a"}})"
                                 << "„bid“ fehlt";
    QTest::newRow("path with an empty name")
        << R"({"Dax": {"kind": "json", )" + url + R"("bid": "a..b", "ask": "a"}})"
        << "„bid“ ist kein Pfad";
    QTest::newRow("pattern without groups")
        << R"x({"Dax": {"kind": "pattern", )x" + url + R"x("pattern": "(?<id>\\w+) (\\S+) (?<ask>\\S+)"}})x"
        << "fehlt die benannte Gruppe „bid“";
    QTest::newRow("pattern invalid") << R"({"Dax": {"kind": "pattern", )" + url + R"("pattern": "(?<id>"}})"
                                     << "kein gültiger regulärer Ausdruck";
    QTest::newRow("decimal") << "{\"Dax\": {" + plainJson + R"(, "decimal": ";"}})"
                             << "„decimal“ muss";
    QTest::newRow("misspelt member") << "{\"Dax\": {" + plainJson + R"(, "itmes": "q"}})"
                                     << "unbekanntes Feld „itmes“";
    QTest::newRow("ca missing") << "{\"Dax\": {" + plainJson + R"(, "ca": "nirgends.pem"}})"
                                << "/etc/zalvento/nirgends.pem";
    const QByteArray json = R"({"Dax": {"kind": "json", "bid": "b", "ask": "a", )";
    const QByteArray csv = R"({"Dax": {"kind": "csv", "url": "http://a/", "id": 0, "bid": 1, "ask": 2, )";
    const std::initializer_list<std::array<const char *, 3>> members = {
        {"{id} and {ids}", R"("url": "http://a/{id}/{ids}")", "nur eins von beiden"},
        {"variable unset", R"("url": "http://a/?k={env:ZALVENTO_NOT_SET}")",
         "„ZALVENTO_NOT_SET“ ist nicht gesetzt"},
        {"header with a line break", R"("url": "http://a/", "headers": {"X-Key": "a\r\nHost: b"})",
         "Zeilenumbruch"},
        {"headers not an object", R"("url": "http://a/", "headers": ["X-Key: a"])",
         "„headers“ muss ein Objekt"},
        {"header name", R"("url": "http://a/", "headers": {"X Key": "a"})", "kein Name einer Kopfzeile"},
        {"parallel 0", R"("url": "http://a/{id}", "parallel": 0)",
         "„parallel“ muss eine ganze Zahl von 1 bis 64"},
        {"parallel without {id}", R"("url": "http://a/", "parallel": 2)", "„parallel“ gilt nur mit"},
        {"batch without {ids}", R"("url": "http://a/{id}", "batch": 2)", "„batch“ gilt nur mit"},
        {"interval negative", R"("url": "http://a/", "interval": -1)", "„interval“ muss"},
        {"symbol not a text", R"("url": "http://a/", "symbols": {"716460": 5})", "„symbols“: „716460“ muss"},
        {"match unknown", R"("url": "http://a/", "match": "ticker")", "„match“ muss"},
        {"pointer escape", R"("url": "http://a/", "items": "/a~2b")", "„~0“ oder „~1“"},
        {"time an empty list", R"("url": "http://a/", "time": [])", "leere Liste"},
        {"time format without hours", R"("url": "http://a/", "timeFormat": "dd.MM.yyyy")",
         "„timeFormat“ muss"},
        {"time zone unknown", R"("url": "http://a/", "timeZone": "Mars/Olympus")",
         "keine bekannte Zeitzone"}};
    for (const auto &row : members)
        QTest::newRow(row[0]) << json + row[1] + "}}" << QString::fromUtf8(row[2]);
    QTest::newRow("csv without bid")
        << QByteArray(R"({"Dax": {"kind": "csv", "url": "http://a/", "id": 0, "ask": 2}})") << "„bid“ fehlt";
    QTest::newRow("csv separator") << csv + R"("separator": "ab"}})"
                                   << "„separator“ muss ein Zeichen";
    QTest::newRow("csv column number") << csv + R"("last": -1}})"
                                       << "„last“ ist keine Spaltennummer";
}

void TestFeedExtraction::feedFileErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const FeedFile::Lookup lookup = FeedFile::parse(text, filePath, dax);
    QVERIFY(!lookup.feed);
    QVERIFY2(lookup.error.startsWith(QStringLiteral("Kursquellen-Datei ") + filePath + QLatin1Char(':')) &&
                 lookup.error.contains(error),
             qPrintable(lookup.error));
}

void TestFeedExtraction::feedFileFound()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kursquellen.json"));
    const FeedFile::Lookup missing = FeedFile::find(path, dax);
    QVERIFY(missing.ok() && !missing.feed);

    QFile ca(dir.filePath(QStringLiteral("demo-ca.pem")));
    QVERIFY(ca.open(QIODevice::WriteOnly));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        R"({"MDax": {"kind": "csv"}, "dax": {"kind": "json", "url": "https://127.0.0.1:8443/dax.json", )"
        R"("id": "wkn", "bid": "b", "ask": "a", "decimal": ",", "match": "isin", "ca": "demo-ca.pem"}})");
    file.close();
    const FeedFile::Lookup found = FeedFile::find(path, dax);
    QVERIFY2(found.ok(), qPrintable(found.error));
    QCOMPARE(found.feed->entry, QStringLiteral("dax"));
    QCOMPARE(found.feed->url, QStringLiteral("https://127.0.0.1:8443/dax.json"));
    QCOMPARE(found.feed->decimal, QLatin1Char(','));
    QCOMPARE(found.feed->match, QuoteFeed::Match::Isin);
    QCOMPARE(found.feed->ca, QFileInfo(ca).absoluteFilePath());
    QVERIFY(!FeedFile::find(path, QStringLiteral("SDax")).feed);
    QVERIFY(!FeedFile::find(dir.path(), dax).ok());
}

void TestFeedExtraction::extract_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nested paths, ISO time")
        << QByteArray(R"("kind": "json", "url": "http://a/", "items": "data.quotes", "id": "id.wkn", )"
                      R"("bid": "q.bid", "ask": "q.ask", "time": "q.ts")")
        << QByteArray(R"({"data": {"quotes": [{"id": {"wkn": "710000"}, "q": {"bid": 47.35, "ask": 47.4, )"
                      R"("ts": "2024-03-01T10:15:30+01:00"}}]}})")
        << "710000 47.35/47.4 2024-03-01T09:15:30Z";
    QTest::newRow("object keyed by id, Unix seconds")
        << QByteArray(
               R"("kind": "json", "url": "http://a/", "items": "q", "bid": "b", "ask": "a", "time": "t")")
        << QByteArray(R"({"q": {"710000": {"b": 1, "a": 2, "t": 1709287200}, )"
                      R"("723610": {"b": 3, "a": 4, "t": "1709287200.5"}}})")
        << "710000 1/2 2024-03-01T10:00:00Z;723610 3/4 2024-03-01T10:00:00Z";
    QTest::newRow("the document is the list; ids as numbers and in lower case")
        << QByteArray(R"("kind": "json", "url": "http://a/", "id": "id", "bid": "bid", "ask": "ask")")
        << QByteArray(R"([{"id": 710000, "bid": 1, "ask": 2}, {"id": " a1ewww ", "bid": 3, "ask": 4}])")
        << "710000 1/2 -;A1EWWW 3/4 -";
    QTest::newRow("number texts with ','")
        << plainJson + R"(, "decimal": ",")"
        << QByteArray(
               R"({"q": [{"id": "A", "bid": " 47,35 ", "ask": "47,4"}, {"id": "B", "bid": "1.5", "ask": "2"}]})")
        << "A 47.35/47.4 -;B 2/2 -";
    QTest::newRow("number texts with '.'")
        << plainJson
        << QByteArray(
               R"({"q": [{"id": "A", "bid": "47.35", "ask": "1E2"}, {"id": "B", "bid": "1,5", "ask": "2"}]})")
        << "A 47.35/100 -;B 2/2 -";
    QTest::newRow("one side missing: the other serves; no id: no quote")
        << plainJson
        << QByteArray(
               R"({"q": [{"id": "A", "bid": "n/a", "ask": 2}, {"id": "B", "bid": null, "ask": 2}, )"
               R"({"id": "C", "ask": 2}, {"bid": 1, "ask": 2}, {"id": "D", "bid": 1, "ask": "1E999"}, )"
               R"({"id": {}, "bid": 1, "ask": 2}, 7, {"id": "E", "bid": 1, "ask": 2}, {"id": "F", "bid": 0}]})")
        << "A 2/2 -;B 2/2 -;C 2/2 -;D 1/1 -;E 1/2 -";
    QTest::newRow("an id listed twice keeps its first quote")
        << plainJson
        << QByteArray(R"({"q": [{"id": "A", "bid": "x", "ask": 2}, {"id": "A", "bid": 1, "ask": 2}, )"
                      R"({"id": "a", "bid": 5, "ask": 6}]})")
        << "A 2/2 -";
    QTest::newRow("times that cannot be read")
        << plainJson + R"(, "time": "t")"
        << QByteArray(
               R"({"q": [{"id": "A", "bid": 1, "ask": 2, "t": "gestern"}, )"
               R"({"id": "B", "bid": 1, "ask": 2, "t": 1e300}, {"id": "C", "bid": 1, "ask": 2, "t": true}]})")
        << "A 1/2 ?;B 1/2 ?;C 1/2 ?";
    QTest::newRow("position in a list")
        << QByteArray(
               R"("kind": "json", "url": "http://a/", "items": "q", "id": "id", "bid": "p.0", "ask": "p.1")")
        << QByteArray(R"({"q": [{"id": "A", "p": [1, 2]}]})") << "A 1/2 -";
    QTest::newRow("not JSON") << plainJson << QByteArray("<html>") << "error: kein JSON";
    QTest::newRow("items lead nowhere")
        << plainJson << QByteArray(R"({"q": 1})") << "error: „items“ führt ins Leere";
    QTest::newRow("JSON Pointer, one component per request, epoch milliseconds")
        << QByteArray(
               R"("kind": "json", "url": "http://a/q?symbol={id}", "bid": "/Global Quote/05. price", )"
               R"("ask": "/Global Quote/05. price", "time": "/Global Quote/t~1s", "timeFormat": "unixms")")
        << QByteArray(R"({"Global Quote": {"01. symbol": "x", "05. price": "180.50", "t/s": 1709287200000}})")
        << "SAP.DE 180.5/180.5 2024-03-01T10:00:00Z";
    QTest::newRow("last for a side missing, 0 or less; grouped digits")
        << plainJson + R"(, "last": "l", "decimal": ",")"
        << QByteArray(
               R"({"q": [{"id": "A", "bid": 0, "ask": "1.932,83", "l": 5}, )"
               R"({"id": "B", "bid": null, "ask": -1, "l": "1.000,5"}, {"id": "C", "bid": "1.93,2"}]})")
        << "A 5/1932.83 -;B 1000.5/1000.5 -";
    QTest::newRow("csv: skip, quotes, German numbers, date and time columns")
        << QByteArray(R"("kind": "csv", "url": "http://a/", "skip": 1, "id": "Symbol", "bid": "Geld", )"
                      R"("ask": "Brief", "time": ["Datum", "Zeit"], "timeFormat": "dd.MM.yyyy HH:mm:ss", )"
                      R"("timeZone": "Europe/Berlin", "decimal": ",")")
        << QByteArray("Kurse vom Tag\r\nSymbol;Name;Geld;Brief;Datum;Zeit\r\n"
                      "716460;\"SAP; \"\"SE\"\"\";\"1.932,83\";1.933,10;01.03.2024;10:15:30\r\n\r\n"
                      "840400;\"Allianz\nvNA\";250;;01.03.2024;kaputt\r\n")
        << "716460 1932.83/1933.1 2024-03-01T09:15:30Z;840400 250/250 ?";
    QTest::newRow("csv: columns by number, ',' found in the header line")
        << QByteArray(
               R"("kind": "csv", "url": "http://a/", "id": 0, "bid": "1", "ask": 2, "time": 3, "timeFormat": "unix")")
        << QByteArray("id,bid,ask,t\nA,\"1,956.40\",1957,1709287200\nB\n")
        << "A 1956.4/1957 2024-03-01T10:00:00Z";
    QTest::newRow("csv: column missing")
        << QByteArray(R"("kind": "csv", "url": "http://a/", "id": "Symbol", "bid": "Geld", "ask": "Brief")")
        << QByteArray("Symbol;Brief\n716460;1\n") << "error: Spalte „Geld“ fehlt";
    QTest::newRow("list without id")
        << QByteArray(R"("kind": "json", "url": "http://a/", "items": "q", "bid": "b", "ask": "a")")
        << QByteArray(R"({"q": []})") << "error: „items“ führt zu einer Liste, aber „id“ fehlt";

    QTest::newRow("pattern, decimal ','")
        << QByteArray(R"x("kind": "pattern", "url": "http://a/", "decimal": ",", )x"
                      R"x("pattern": "<dt>(?<id>\\w+)</dt><dd>(?<bid>[0-9.,]+)/(?<ask>[^<]+)</dd>")x")
        << QByteArray("<dl><dt>710000</dt><dd>47,35/47,4</dd>\n<dt>723610</dt><dd>1.5/2</dd>"
                      "<dt>840400</dt><dd>3/-</dd><dt>710000</dt><dd>1/2</dd></dl>")
        << "710000 47.35/47.4 -;723610 2/2 -;840400 3/3 -";
    QTest::newRow("time group, UTF-8 around")
        << QByteArray(R"x("kind": "pattern", "url": "http://a/", )x"
                      R"x("pattern": "(?<id>\\w+)\\s+(?<bid>\\S+)\\s+(?<ask>\\S+)\\s+€ (?<time>\\S+)\\n")x")
        << QByteArray("A 1.5 2.5 € 2024-03-01T10:15:30Z\nB 3 4 € 1709287200\nC 5 6 € -\n")
        << "A 1.5/2.5 2024-03-01T10:15:30Z;B 3/4 2024-03-01T10:00:00Z;C 5/6 ?";
    QTest::newRow("optional time group that did not take part")
        << QByteArray(R"x("kind": "pattern", "url": "http://a/", )x"
                      R"x("pattern": "(?<id>\\w+)=(?<bid>\\d+)/(?<ask>\\d+)(@(?<time>\\d+))?")x")
        << QByteArray("A=1/2 B=3/4@1709287200") << "A 1/2 -;B 3/4 2024-03-01T10:00:00Z";
}

// The quotes a feed gives, or "error: " and the text of its FeedError.
void TestFeedExtraction::extract()
{
    QFETCH(QByteArray, entry);
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    const QuoteFeed feed = feedOf(entry);
    QString actual;
    try {
        FeedExtraction::FeedQuotes quotes;
        FeedExtraction::read(quotes, document, feed,
                             feed.perComponent() ? QStringLiteral("sap.de") : QString());
        actual = summary(quotes);
    } catch (const FeedError &e) {
        actual = QStringLiteral("error: ") + e.text();
    }
    QVERIFY2(expected.startsWith(QStringLiteral("error: ")) ? actual.startsWith(expected)
                                                            : actual == expected,
             qPrintable(actual));
}

void TestFeedExtraction::patternOnAMegabytePage()
{
    QByteArray page;
    int rows = 0;
    for (; page.size() < (1 << 20); ++rows)
        page += QStringLiteral("<tr><td>%1</td><td class=\"b\">%2,5</td><td class=\"a\">%2,75</td></tr>\n")
                    .arg(100000 + rows)
                    .arg(rows)
                    .toLatin1();
    FeedExtraction::FeedQuotes quotes;
    FeedExtraction::readPattern(
        quotes, page,
        feedOf(R"x("kind": "pattern", "url": "http://a/", "decimal": ",", )x"
               R"x("pattern": "<td>(?<id>\\d+)</td><td[^>]*>(?<bid>[^<]*)</td><td[^>]*>(?<ask>[^<]*)<")x"));
    QCOMPARE(quotes.size(), rows);
    QCOMPARE(quotes.value(QString::number(100000 + rows - 1)).ask, rows - 1 + 0.75);
}

void TestFeedExtraction::isinOf_data()
{
    addTextRows("wkn", "isin",
                {{{"German WKN", "710000", "DE0007100000"}},
                 {{"check digit over 9 when doubled", "723610", "DE0007236101"}},
                 {{"WKN with letters, lower case", "a1ewww", "DE000A1EWWW0"}},
                 {{"ISIN in the WKN cell", "NL0000235190", "NL0000235190"}},
                 {{"ISIN with a wrong check digit", "NL0000235191", ""}},
                 {{"not a WKN", "71000-", ""}}});
}

void TestFeedExtraction::isinOf()
{
    QFETCH(QString, wkn);
    QFETCH(QString, isin);
    QCOMPARE(FeedExtraction::isinOf(wkn), isin);
}

void TestFeedExtraction::timeOf_data()
{
    const QByteArray local =
        QDateTime(QDate(2024, 3, 1), QTime(10, 15, 30)).toUTC().toString(Qt::ISODateWithMs).toLatin1();
    addTextRows("text", "utc", // "-": no time
                {{{"Z", "2024-03-01T10:15:30Z", "2024-03-01T10:15:30.000Z"}},
                 {{"fraction, offset", "2024-03-01T10:15:30.5+01:00", "2024-03-01T09:15:30.500Z"}},
                 {{"blank, offset without colon", " 2024-03-01 10:15:30-0130 ", "2024-03-01T11:45:30.000Z"}},
                 {{"no seconds, hours offset", "2024-03-01T10:15+02", "2024-03-01T08:15:00.000Z"}},
                 {{"no leap day", "2023-02-29T00:00:00Z", "-"}},
                 {{"Unix seconds", "1709287200.25", "2024-03-01T10:00:00.250Z"}},
                 {{"words", "gestern", "-"}},
                 {{"no offset: local time", "2024-03-01T10:15:30", local.constData()}}});
}

void TestFeedExtraction::timeOf()
{
    QFETCH(QString, text);
    QFETCH(QString, utc);
    const QDateTime time = FeedExtraction::timeOf(text);
    QCOMPARE(time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("-"), utc);
}

// Each "timeFormat" once, with and without "timeZone"; the document arrived at 2024-07-01 23:30 UTC.
void TestFeedExtraction::feedTime_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("utc"); // "-": no time
    const auto row = [](const char *name, const char *members, const char *text, const char *utc) {
        QTest::newRow(name) << QByteArray(members) << QString::fromUtf8(text) << QString::fromUtf8(utc);
    };
    row("iso in a zone", R"("timeZone": "America/New_York")", "2024-03-01T10:15:30",
        "2024-03-01T15:15:30.000Z");
    row("iso with offset ignores the zone", R"("timeZone": "America/New_York")", "2024-03-01T10:15:30Z",
        "2024-03-01T10:15:30.000Z");
    row("iso number above 10^11: milliseconds", "", "1709287200250", "2024-03-01T10:00:00.250Z");
    row("unix", R"("timeFormat": "unix")", "1709287200", "2024-03-01T10:00:00.000Z");
    row("unix refuses a text", R"("timeFormat": "unix")", "2024-03-01", "-");
    row("unixms", R"("timeFormat": "unixms")", "1709287200000", "2024-03-01T10:00:00.000Z");
    row("German date text", R"("timeFormat": "dd.MM.yyyy HH:mm", "timeZone": "Europe/Berlin")",
        "01.03.2024 10:15", "2024-03-01T09:15:00.000Z");
    row("no date: the arrival's day in the zone", R"("timeFormat": "HH:mm:ss", "timeZone": "Europe/Berlin")",
        "09:00:00", "2024-07-02T07:00:00.000Z");
    row("pattern does not fit", R"("timeFormat": "HH:mm:ss")", "9 Uhr", "-");
}

void TestFeedExtraction::feedTime()
{
    QFETCH(QByteArray, members);
    QFETCH(QString, text);
    QFETCH(QString, utc);
    const QuoteFeed feed = feedOf(plainJson + (members.isEmpty() ? QByteArray() : ", " + members));
    const QDateTime arrival(QDate(2024, 7, 1), QTime(23, 30), Qt::UTC);
    const QDateTime time = FeedExtraction::timeOf(text, feed, arrival);
    QCOMPARE(time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("-"), utc);
}

// The requests of a refresh: ids by "symbols", distinct, percent-encoded, in batches; keys from the
// environment.
void TestFeedExtraction::requests_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<QString>("urls"); // joined by blanks
    QTest::newRow("one document") << QByteArray(R"("url": "http://a/all")") << "http://a/all";
    QTest::newRow("per component, symbols, WKN without one")
        << QByteArray(R"("url": "http://a/q?s={id}&k={env:ZALVENTO_TEST_KEY}", "match": "symbol", )"
                      R"("symbols": {"716460": "SAP.DE", "DE0008404005": "A&B"})")
        << "http://a/q?s=SAP.DE&k=geheim http://a/q?s=A%26B&k=geheim http://a/q?s=519000&k=geheim";
    QTest::newRow("batches of two") << QByteArray(
                                           R"("url": "http://a/q?s={ids}", "batch": 2, "match": "isin")")
                                    << "http://a/q?s=DE0007164600,DE0008404005 http://a/q?s=DE0005190003";
}

void TestFeedExtraction::requests()
{
    QFETCH(QByteArray, members);
    QFETCH(QString, urls);
    qputenv("ZALVENTO_TEST_KEY", "geheim");
    const QuoteFeed feed = feedOf(R"("kind": "json", "bid": "b", "ask": "a", )" + members);
    QStringList ids;
    for (const char *wkn : {"716460", "840400", "716460", "519000"})
        ids << FeedFile::feedIdOf(feed, QString::fromLatin1(wkn));
    QStringList actual;
    for (const FeedRequest &request : FeedFile::requestsOf(feed, ids))
        actual << request.url.toString(QUrl::FullyEncoded);
    QCOMPARE(actual.join(QLatin1Char(' ')), urls);
}

QTEST_APPLESS_MAIN(TestFeedExtraction)
#include "test_feedextraction.moc"
