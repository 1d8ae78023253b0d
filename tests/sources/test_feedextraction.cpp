// The feed file reader and the JSON and pattern extraction on fixture documents.
#include "sources/feedextraction.h"
#include "sources/quotefeed.h"

#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

using FeedExtraction::FeedQuotes;

namespace {

QuoteFeed jsonFeed(const QString &items, const QString &id, const QString &bid, const QString &ask,
                   const QString &time = {}, QChar decimal = QLatin1Char('.'))
{
    QuoteFeed feed;
    feed.entry = QStringLiteral("Dax");
    feed.kind = QuoteFeed::Kind::Json;
    feed.items = items;
    feed.id = id;
    feed.bid = bid;
    feed.ask = ask;
    feed.time = time;
    feed.decimal = decimal;
    return feed;
}

QuoteFeed patternFeed(const QString &pattern, QChar decimal = QLatin1Char('.'))
{
    QuoteFeed feed;
    feed.entry = QStringLiteral("MDax");
    feed.kind = QuoteFeed::Kind::Pattern;
    feed.pattern = pattern;
    feed.decimal = decimal;
    return feed;
}

// "ID bid/ask time" per quote, sorted by id; the time in UTC, "-" when the feed gave none.
QString summary(const FeedQuotes &quotes)
{
    QStringList lines;
    for (auto it = quotes.begin(); it != quotes.end(); ++it)
        lines << QStringLiteral("%1 %2/%3 %4")
                     .arg(it.key())
                     .arg(it->bid)
                     .arg(it->ask)
                     .arg(it->time.isValid() ? it->time.toUTC().toString(Qt::ISODate) : QStringLiteral("-"));
    std::sort(lines.begin(), lines.end());
    return lines.join(QLatin1Char(';'));
}

const QString dax = QStringLiteral("Dax");

} // namespace

Q_DECLARE_METATYPE(QuoteFeed)

class TestFeedExtraction : public QObject
{
    Q_OBJECT

private slots:
    void feedFile_data();
    void feedFile();
    void feedFileMissingOrRelativeCa();
    void readJson_data();
    void readJson();
    void badJsonDocument_data();
    void badJsonDocument();
    void readPattern_data();
    void readPattern();
    void patternOnAMegabytePage();
    void isinOf_data();
    void isinOf();
    void timeOf_data();
    void timeOf();

private:
    QTemporaryDir m_dir;
};

void TestFeedExtraction::feedFile_data()
{
    QTest::addColumn<QByteArray>("text");
    // An error: a part of its text; else "kind url items|id|bid|ask|time pattern decimal match", or
    // "none" for the built-in page.
    QTest::addColumn<QString>("expected");

    const QByteArray json = R"("kind": "json", "url": "https://q.example/dax.json", "id": "wkn", )"
                            R"("bid": "b", "ask": "a")";
    QTest::newRow("no entry") << QByteArray(R"({"MDax": {"kind": "page"}})") << "none";
    QTest::newRow("entry matched ignoring case")
        << "{\"DAX\": {" + json +
               R"(, "items": "data.quotes", "time": "t.ts", "decimal": ",", "match": "isin"}})"
        << "json https://q.example/dax.json data.quotes|wkn|b|a|t.ts  , isin";
    QTest::newRow("page, built-in address")
        << QByteArray(R"({"Dax": {"kind": "page"}})") << "page  ||||  . wkn";
    QTest::newRow("pattern")
        << QByteArray(R"({"Dax": {"kind": "pattern", "url": "http://127.0.0.1:8/x", )"
                      R"x("pattern": "(?<id>\\w+) (?<bid>\\S+) (?<ask>\\S+)"}})x")
        << R"(pattern http://127.0.0.1:8/x |||| (?<id>\w+) (?<bid>\S+) (?<ask>\S+) . wkn)";

    QTest::newRow("not JSON") << QByteArray("{\"Dax\": {") << "kein gültiges JSON";
    QTest::newRow("not an object") << QByteArray("[]") << "kein JSON-Objekt";
    QTest::newRow("two entries for the index")
        << QByteArray(R"({"Dax": {"kind": "page"}, "dax": {"kind": "page"}})") << "mehrere Einträge";
    QTest::newRow("entry not an object") << QByteArray(R"({"Dax": "json"})") << "„Dax“: kein JSON-Objekt";
    QTest::newRow("kind missing") << QByteArray(R"({"Dax": {"url": "http://a/"}})") << "„Dax“: „kind“ fehlt";
    QTest::newRow("kind unknown") << QByteArray(R"({"Dax": {"kind": "csv"}})") << "„kind“ muss";
    QTest::newRow("kind not a text") << QByteArray(R"({"Dax": {"kind": 1}})") << "„kind“ muss ein Text sein";
    QTest::newRow("url missing") << QByteArray(R"({"Dax": {"kind": "pattern", "pattern": "x"}})")
                                 << "„url“ fehlt";
    QTest::newRow("url not http") << "{\"Dax\": {" +
                                         QByteArray(json).replace("https://q.example/dax.json",
                                                                  "file:///etc/passwd") +
                                         "}}"
                                  << "keine http- oder https-Adresse";
    QTest::newRow("bid missing") << QByteArray(R"({"Dax": {"kind": "json", "url": "http://a/", "ask": "a"}})")
                                 << "„bid“ fehlt";
    QTest::newRow("path with an empty name")
        << QByteArray(R"({"Dax": {"kind": "json", "url": "http://a/", "bid": "a..b", "ask": "a"}})")
        << "„bid“ ist kein Pfad";
    QTest::newRow("pattern without groups")
        << QByteArray(
               R"x({"Dax": {"kind": "pattern", "url": "http://a/", "pattern": "(?<id>\\w+) (\\S+) (?<ask>\\S+)"}})x")
        << "fehlt die benannte Gruppe „bid“";
    QTest::newRow("pattern invalid")
        << QByteArray(R"({"Dax": {"kind": "pattern", "url": "http://a/", "pattern": "(?<id>"}})")
        << "kein gültiger regulärer Ausdruck";
    QTest::newRow("decimal") << "{\"Dax\": {" + json + R"(, "decimal": ";"}})"
                             << "„decimal“ muss";
    QTest::newRow("match") << "{\"Dax\": {" + json + R"(, "match": "name"}})"
                           << "„match“ muss";
    QTest::newRow("member of another kind")
        << QByteArray(R"({"Dax": {"kind": "page", "pattern": "x"}})") << "unbekanntes Feld „pattern“";
    QTest::newRow("misspelt member") << "{\"Dax\": {" + json + R"(, "itmes": "q"}})"
                                     << "unbekanntes Feld „itmes“";
    QTest::newRow("ca missing") << "{\"Dax\": {" + json + R"(, "ca": "nirgends.pem"}})"
                                << "nirgends.pem";
}

void TestFeedExtraction::feedFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    const QString path = QStringLiteral("/etc/zalvento/kursquellen.json");
    const FeedFile::Lookup lookup = FeedFile::parse(text, path, dax);
    if (!lookup.ok()) {
        QVERIFY2(lookup.error.contains(expected), qPrintable(lookup.error));
        QVERIFY(lookup.error.startsWith(QStringLiteral("Kursquellen-Datei ") + path + QLatin1Char(':')));
        return;
    }
    QVERIFY2(!expected.contains(QChar(u'„')) && !expected.contains(QStringLiteral("kein")), "no error");
    if (!lookup.feed) {
        QCOMPARE(expected, QStringLiteral("none"));
        return;
    }
    const QuoteFeed &f = *lookup.feed;
    static const char *const kinds[] = {"page", "json", "pattern"};
    const QString actual = QStringLiteral("%1 %2 %3|%4|%5|%6|%7 %8 %9 %10")
                               .arg(QLatin1String(kinds[int(f.kind)]), f.url, f.items, f.id, f.bid, f.ask,
                                    f.time, f.pattern, QString(f.decimal))
                               .arg(f.match == QuoteFeed::Match::Isin ? "isin" : "wkn");
    QCOMPARE(actual, expected);
}

void TestFeedExtraction::feedFileMissingOrRelativeCa()
{
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("kursquellen.json"));
    const FeedFile::Lookup missing = FeedFile::find(path, dax);
    QVERIFY(missing.ok() && !missing.feed);

    QFile ca(m_dir.filePath(QStringLiteral("demo-ca.pem")));
    QVERIFY(ca.open(QIODevice::WriteOnly));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"dax": {"kind": "page", "url": "https://127.0.0.1:8443/", "ca": "demo-ca.pem"}})");
    file.close();
    const FeedFile::Lookup found = FeedFile::find(path, dax);
    QVERIFY2(found.ok(), qPrintable(found.error));
    QCOMPARE(found.feed->entry, QStringLiteral("dax"));
    QCOMPARE(found.feed->ca, QFileInfo(ca).absoluteFilePath());

    const FeedFile::Lookup folder = FeedFile::find(m_dir.path(), dax);
    QVERIFY(!folder.ok());
}

void TestFeedExtraction::readJson_data()
{
    QTest::addColumn<QuoteFeed>("feed");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nested paths, ISO time")
        << jsonFeed("data.quotes", "id.wkn", "q.bid", "q.ask", "q.ts")
        << QByteArray(R"({"data": {"quotes": [{"id": {"wkn": "710000"}, "q": {"bid": 47.35, "ask": 47.4, )"
                      R"("ts": "2024-03-01T10:15:30+01:00"}}]}})")
        << "710000 47.35/47.4 2024-03-01T09:15:30Z";
    QTest::newRow("object keyed by id, Unix seconds")
        << jsonFeed("quotes", {}, "b", "a", "t")
        << QByteArray(R"({"quotes": {"710000": {"b": 1, "a": 2, "t": 1709287200}, )"
                      R"("723610": {"b": 3, "a": 4, "t": "1709287200.5"}}})")
        << "710000 1/2 2024-03-01T10:00:00Z;723610 3/4 2024-03-01T10:00:00Z";
    QTest::newRow("the document is the list; ids as numbers and in lower case")
        << jsonFeed({}, "id", "bid", "ask")
        << QByteArray(R"([{"id": 710000, "bid": 1, "ask": 2}, {"id": " a1ewww ", "bid": 3, "ask": 4}])")
        << "710000 1/2 -;A1EWWW 3/4 -";
    QTest::newRow("number texts with ','")
        << jsonFeed("q", "id", "bid", "ask", {}, QLatin1Char(','))
        << QByteArray(
               R"({"q": [{"id": "A", "bid": " 47,35 ", "ask": "47,4"}, {"id": "B", "bid": "1.5", "ask": "2"}]})")
        << "A 47.35/47.4 -";
    QTest::newRow("number texts with '.'")
        << jsonFeed("q", "id", "bid", "ask")
        << QByteArray(
               R"({"q": [{"id": "A", "bid": "47.35", "ask": "1E2"}, {"id": "B", "bid": "1,5", "ask": "2"}]})")
        << "A 47.35/100 -";
    QTest::newRow("no number, no id: no quote")
        << jsonFeed("q", "id", "bid", "ask")
        << QByteArray(
               R"({"q": [{"id": "A", "bid": "n/a", "ask": 2}, {"id": "B", "bid": null, "ask": 2}, )"
               R"({"id": "C", "ask": 2}, {"bid": 1, "ask": 2}, {"id": "D", "bid": 1, "ask": "1E999"}, )"
               R"({"id": {}, "bid": 1, "ask": 2}, 7, {"id": "E", "bid": 1, "ask": 2}]})")
        << "E 1/2 -";
    QTest::newRow("an id listed twice keeps its first quote")
        << jsonFeed("q", "id", "bid", "ask")
        << QByteArray(R"({"q": [{"id": "A", "bid": "x", "ask": 2}, {"id": "A", "bid": 1, "ask": 2}, )"
                      R"({"id": "a", "bid": 5, "ask": 6}]})")
        << "A 1/2 -";
    QTest::newRow("times that cannot be read are none")
        << jsonFeed("q", "id", "bid", "ask", "t")
        << QByteArray(
               R"({"q": [{"id": "A", "bid": 1, "ask": 2, "t": "gestern"}, )"
               R"({"id": "B", "bid": 1, "ask": 2, "t": 1e300}, {"id": "C", "bid": 1, "ask": 2, "t": true}]})")
        << "A 1/2 -;B 1/2 -;C 1/2 -";
    QTest::newRow("position in a list") << jsonFeed("q", "id", "p.0", "p.1")
                                        << QByteArray(R"({"q": [{"id": "A", "p": [1, 2]}]})") << "A 1/2 -";
}

void TestFeedExtraction::readJson()
{
    QFETCH(QuoteFeed, feed);
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    QCOMPARE(summary(FeedExtraction::readJson(document, feed)), expected);
}

void TestFeedExtraction::badJsonDocument_data()
{
    QTest::addColumn<QuoteFeed>("feed");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("error");

    QTest::newRow("not JSON") << jsonFeed("q", "id", "b", "a") << QByteArray("<html>")
                              << "kein gültiges JSON";
    QTest::newRow("empty") << jsonFeed("q", "id", "b", "a") << QByteArray() << "kein gültiges JSON";
    QTest::newRow("items lead nowhere") << jsonFeed("data.quotes", "id", "b", "a")
                                        << QByteArray(R"({"data": 1})") << "„items“ „data.quotes“ führt";
    QTest::newRow("list without id") << jsonFeed("q", {}, "b", "a") << QByteArray(R"({"q": []})")
                                     << "„id“ fehlt";
}

void TestFeedExtraction::badJsonDocument()
{
    QFETCH(QuoteFeed, feed);
    QFETCH(QByteArray, document);
    QFETCH(QString, error);
    try {
        FeedExtraction::readJson(document, feed);
        QFAIL("no error");
    } catch (const FeedError &e) {
        QVERIFY2(e.text().startsWith(QStringLiteral("Kursquelle „Dax“: ")) && e.text().contains(error),
                 qPrintable(e.text()));
    }
}

void TestFeedExtraction::readPattern_data()
{
    QTest::addColumn<QuoteFeed>("feed");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("expected");

    const QString definitionList =
        QStringLiteral("<dt>(?<id>\\w+)</dt><dd>(?<bid>[0-9.,]+)/(?<ask>[^<]+)</dd>");
    QTest::newRow("decimal ','")
        << patternFeed(definitionList, QLatin1Char(','))
        << QByteArray("<dl><dt>710000</dt><dd>47,35/47,4</dd>\n<dt>723610</dt><dd>1.5/2</dd>"
                      "<dt>840400</dt><dd>3/-</dd><dt>710000</dt><dd>1/2</dd></dl>")
        << "710000 47.35/47.4 -";
    QTest::newRow("time group, UTF-8 around")
        << patternFeed(QStringLiteral("(?<id>\\w+)\\s+(?<bid>\\S+)\\s+(?<ask>\\S+)\\s+€ (?<time>\\S+)\\n"))
        << QByteArray("A 1.5 2.5 \xE2\x82\xAC 2024-03-01T10:15:30Z\nB 3 4 \xE2\x82\xAC 1709287200\n"
                      "C 5 6 \xE2\x82\xAC -\n")
        << "A 1.5/2.5 2024-03-01T10:15:30Z;B 3/4 2024-03-01T10:00:00Z;C 5/6 -";
    QTest::newRow("optional time group that did not take part")
        << patternFeed(QStringLiteral("(?<id>\\w+)=(?<bid>\\d+)/(?<ask>\\d+)(@(?<time>\\d+))?"))
        << QByteArray("A=1/2 B=3/4@1709287200") << "A 1/2 -;B 3/4 2024-03-01T10:00:00Z";
}

void TestFeedExtraction::readPattern()
{
    QFETCH(QuoteFeed, feed);
    QFETCH(QByteArray, page);
    QFETCH(QString, expected);
    QCOMPARE(summary(FeedExtraction::readPattern(page, feed)), expected);
}

void TestFeedExtraction::patternOnAMegabytePage()
{
    QByteArray page;
    int rows = 0;
    while (page.size() < (1 << 20)) {
        page += QStringLiteral("<tr><td>%1</td><td class=\"b\">%2,5</td><td class=\"a\">%2,75</td></tr>\n")
                    .arg(100000 + rows)
                    .arg(rows)
                    .toLatin1();
        ++rows;
    }
    const FeedQuotes quotes = FeedExtraction::readPattern(
        page,
        patternFeed(QStringLiteral("<td>(?<id>\\d+)</td><td[^>]*>(?<bid>[^<]*)</td><td[^>]*>(?<ask>[^<]*)<"),
                    QLatin1Char(',')));
    QCOMPARE(quotes.size(), rows);
    QCOMPARE(quotes.value(QString::number(100000 + rows - 1)).ask, rows - 1 + 0.75);
}

void TestFeedExtraction::isinOf_data()
{
    QTest::addColumn<QString>("wkn");
    QTest::addColumn<QString>("isin");
    QTest::newRow("German WKN") << "710000"
                                << "DE0007100000";
    QTest::newRow("check digit over 9 when doubled") << "723610"
                                                     << "DE0007236101";
    QTest::newRow("WKN with letters, lower case") << "a1ewww"
                                                  << "DE000A1EWWW0";
    QTest::newRow("ISIN in the WKN cell") << "NL0000235190"
                                          << "NL0000235190";
    QTest::newRow("ISIN with a wrong check digit") << "NL0000235191"
                                                   << "";
    QTest::newRow("WKN 0") << "0"
                           << "";
    QTest::newRow("not a WKN") << "71000-"
                               << "";
}

void TestFeedExtraction::isinOf()
{
    QFETCH(QString, wkn);
    QFETCH(QString, isin);
    QCOMPARE(FeedExtraction::isinOf(wkn), isin);
}

void TestFeedExtraction::timeOf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("utc"); // "-": no time
    QTest::newRow("Z") << "2024-03-01T10:15:30Z"
                       << "2024-03-01T10:15:30.000Z";
    QTest::newRow("fraction, offset") << "2024-03-01T10:15:30.5+01:00"
                                      << "2024-03-01T09:15:30.500Z";
    QTest::newRow("blank, offset without colon") << " 2024-03-01 10:15:30-0130 "
                                                 << "2024-03-01T11:45:30.000Z";
    QTest::newRow("no seconds, hours offset") << "2024-03-01T10:15+02"
                                              << "2024-03-01T08:15:00.000Z";
    QTest::newRow("leap day") << "2024-02-29T23:59:59.999Z"
                              << "2024-02-29T23:59:59.999Z";
    QTest::newRow("no leap day") << "2023-02-29T00:00:00Z"
                                 << "-";
    QTest::newRow("month 13") << "2024-13-01T00:00:00Z"
                              << "-";
    QTest::newRow("hour 24") << "2024-03-01T24:00:00Z"
                             << "-";
    QTest::newRow("Unix seconds") << "1709287200"
                                  << "2024-03-01T10:00:00.000Z";
    QTest::newRow("Unix seconds, fraction") << "1709287200.25"
                                            << "2024-03-01T10:00:00.250Z";
    QTest::newRow("negative number") << "-1"
                                     << "-";
    QTest::newRow("words") << "gestern"
                           << "-";
    QTest::newRow("no offset: local time")
        << "2024-03-01T10:15:30"
        << QDateTime(QDate(2024, 3, 1), QTime(10, 15, 30)).toUTC().toString(Qt::ISODateWithMs);
}

void TestFeedExtraction::timeOf()
{
    QFETCH(QString, text);
    QFETCH(QString, utc);
    const QDateTime time = FeedExtraction::timeOf(text);
    QCOMPARE(time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("-"), utc);
}

QTEST_APPLESS_MAIN(TestFeedExtraction)
#include "test_feedextraction.moc"
