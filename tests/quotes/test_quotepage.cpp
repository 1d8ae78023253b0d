#include "quotes/quotepage.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <optional>

using QuotePage::Quote;

Q_DECLARE_METATYPE(std::optional<Quote>)

namespace {

// A quote row as the venue writes it: the WKN cell, then a bid and an ask cell whose opening tags end in
// a quoted attribute.
QByteArray row(const QByteArray &wkn, const QByteArray &bid, const QByteArray &ask)
{
    return "<tr><td class=\"name\">Firma</td><td class=\"wkn\">" + wkn + "</td><td class=\"bid\">" + bid +
           "</td><td class=\"ask\">" + ask + "</td><td class=\"time\">17:29:58</td></tr>\r\n";
}

const QByteArray chrome = "<html><head><title>Index</title></head><body><h1>Realtime-Kurse</h1>\r\n";

std::optional<Quote> found(double bid, double ask)
{
    return Quote{bid, ask};
}

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(ZALVENTO_SOURCE_DIR "/tests/data/quotes/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("fixture %s missing", name);
    return file.readAll();
}

} // namespace

class TestQuotePage : public QObject
{
    Q_OBJECT

private slots:
    void pathAndAddress_data();
    void pathAndAddress();
    void hostFromSetting_data();
    void hostFromSetting();
    void extract_data();
    void extract();
    void extractFromExcerpt_data();
    void extractFromExcerpt();
    void windowIsCutAt1024Characters();
    void everyPrefixOfARowIsSafe();
    void findsTheWknAtEveryOffset();
    void oneSearchForAllAgreesWithEachAlone();
};

void TestQuotePage::pathAndAddress_data()
{
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("address");

    QTest::newRow("Dax") << "Dax"
                         << "/L-S-DAX-R.84.0.html"
                         << "http://www.ls-tc.de/L-S-DAX-R.84.0.html";
    QTest::newRow("MDax") << "MDax"
                          << "/L-S-MDAX.83.0.html"
                          << "http://www.ls-tc.de/L-S-MDAX.83.0.html";
    QTest::newRow("SDax") << "SDax"
                          << "/L-S-SDAX.82.0.html"
                          << "http://www.ls-tc.de/L-S-SDAX.82.0.html";
    QTest::newRow("TecDax") << "TecDax"
                            << "/L-S-TecDax.81.0.html"
                            << "http://www.ls-tc.de/L-S-TecDax.81.0.html";
    QTest::newRow("case differs") << "DAX" << QString() << QString();
    QTest::newRow("blank added") << "Dax " << QString() << QString();
    QTest::newRow("own index") << "Eurostoxx" << QString() << QString();
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestQuotePage::pathAndAddress()
{
    QFETCH(QString, index);
    QFETCH(QString, path);
    QFETCH(QString, address);

    QCOMPARE(QuotePage::pathOf(index), path);
    QCOMPARE(QuotePage::addressOf(QuotePage::defaultHost(), index), address);
    QCOMPARE(QuotePage::addressOf(QString(), index), QString());
}

void TestQuotePage::hostFromSetting_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("host");

    QTest::newRow("not set") << QString() << QuotePage::defaultHost();
    QTest::newRow("blank") << "  \t" << QuotePage::defaultHost();
    QTest::newRow("demo server") << "127.0.0.1:18080"
                                 << "127.0.0.1:18080";
    QTest::newRow("trimmed") << " localhost:8080 "
                             << "localhost:8080";
    QTest::newRow("pasted address") << "http://127.0.0.1:8080/"
                                    << "127.0.0.1:8080";
    QTest::newRow("scheme only") << "http://" << QString();
    QTest::newRow("path") << "example.org/kurse" << QString();
    QTest::newRow("blank inside") << "local host" << QString();
    QTest::newRow("header injection") << QStringLiteral("a.b\r\nX-Evil: 1") << QString();
    QTest::newRow("user info") << "user@host" << QString();
}

void TestQuotePage::hostFromSetting()
{
    QFETCH(QString, setting);
    QFETCH(QString, host);

    QCOMPARE(QuotePage::hostFromSetting(setting), host);
}

void TestQuotePage::extract_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("wkn");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<std::optional<Quote>>("quote");

    const QChar comma = QLatin1Char(',');
    const QChar point = QLatin1Char('.');
    const QByteArray points = chrome + row("840400", "416.30", "416.60") + row("716460", "212.35", "212.45");

    QTest::newRow("decimal points") << points << "716460" << comma << found(212.35, 212.45);
    // The first "." becomes ","; a user whose separator is "." reads such a page as no numbers.
    QTest::newRow("decimal points, point separator") << points << "716460" << point << found(0, 0);
    QTest::newRow("decimal commas") << chrome + row("716460", "212,35", "212,45") << "716460" << comma
                                    << found(212.35, 212.45);
    QTest::newRow("whole numbers, point separator")
        << chrome + row("843002", "512", "513") << "843002" << point << found(512, 513);
    QTest::newRow("thousands separator")
        << chrome + row("703000", "1.734,50", "1.735,00") << "703000" << comma << found(0, 0);
    QTest::newRow("only the ask unreadable")
        << chrome + row("703000", "17.50", "n/a") << "703000" << comma << found(0, 0);
    QTest::newRow("only the bid unreadable")
        << chrome + row("703000", "", "17.55") << "703000" << comma << found(0, 0);
    QTest::newRow("two points") << chrome + row("703000", "17.50.1", "17.55") << "703000" << comma
                                << found(0, 0);
    QTest::newRow("blanks and line breaks")
        << chrome + row("ENER6Y", "\r\n\t 98.1 \n", "  98.14\t") << "ENER6Y" << comma << found(98.1, 98.14);
    QTest::newRow("exponent") << chrome + row("BAY001", "2.7E1", "27.5") << "BAY001" << comma
                              << found(27, 27.5);
    QTest::newRow("beyond a double") << chrome + row("BAY001", "1E400", "27.5") << "BAY001" << comma
                                     << found(0, 0);

    // The first field is everything between the first tag end and "</"; a one-character field must not
    // make the second search miss the ask's tag end.
    QTest::newRow("one-character bid")
        << chrome + row("BASF11", "7", "8.5") << "BASF11" << comma << found(7, 8.5);
    QTest::newRow("empty bid") << chrome + row("BASF11", "", "8.5") << "BASF11" << comma << found(0, 0);

    // A WKN that occurs first in a link moves the window there: the "fields" are the link text.
    QTest::newRow("WKN first in a link")
        << chrome + "<a href=\"/aktie/716460\" title=\"SAP\">SAP</a>\r\n" + row("716460", "212.35", "212.45")
        << "716460" << comma << found(0, 0);
    // ... and a link whose text happens to be a number is read as the bid.
    QTest::newRow("link text read as bid")
        << chrome + "<a href=\"/aktie/716460\">3</a> <b class=\"x\">4</b>" + row("716460", "212.35", "212.45")
        << "716460" << comma << found(3, 4);

    // A component without WKN has "0": it matches the first zero digit anywhere in the page.
    QTest::newRow("WKN 0")
        << chrome + "<td class=\"wkn\">A1EWWW</td><td class=\"bid\">145.30</td><td class=\"ask\">145.42</td>"
                    "<td class=\"vol\">17</td>"
        << "0" << comma << found(145.42, 17);
    QTest::newRow("WKN 0 in a time") << QByteArray("<p>10:15</p><td x=\"1\">5</td><td y=\"2\">6</td>") << "0"
                                     << comma << found(5, 6);

    // Search with case, of the whole cell text; a WKN the code page cannot hold is in no page.
    QTest::newRow("case differs") << points << "basf11" << comma << std::optional<Quote>();
    QTest::newRow("not in the page") << points << "ZAL111" << comma << std::optional<Quote>();
    QTest::newRow("empty WKN") << points << QString() << comma << std::optional<Quote>();
    QTest::newRow("blank after WKN") << points << "716460 " << comma << std::optional<Quote>();
    QTest::newRow("not in Windows-1252") << QByteArray("<td>?</td><td a=\"b\">1</td><td a=\"b\">2</td>")
                                         << QStringLiteral("\u03a9") << comma << std::optional<Quote>();
    QTest::newRow("umlaut as one byte") << QByteArray("<td>M\xfc"
                                                      "1</td><td a=\"b\">1</td><td a=\"b\">2</td>")
                                        << QStringLiteral("M\u00fc1") << comma << found(1, 2);
    QTest::newRow("empty page") << QByteArray() << "716460" << comma << std::optional<Quote>();

    // Shapes without the expected tags: the fallbacks drop one and three characters.
    QTest::newRow("page ends after WKN") << QByteArray("xZAL111") << "ZAL111" << comma << found(0, 0);
    QTest::newRow("no tag end") << QByteArray("716460 5</td> 6<") << "716460" << comma << found(0, 0);
    QTest::newRow("no tag end, numbers right after") << QByteArray("A1234") << "A" << comma << found(1234, 4);

    // A zero byte ends the window, but the WKN is searched past it.
    QTest::newRow("zero byte before the WKN")
        << QByteArray("<p>\0</p>", 8) + row("716460", "212.35", "212.45") << "716460" << comma
        << found(212.35, 212.45);
    QTest::newRow("zero byte in the ask")
        << QByteArray("716460</td><td c=\"b\">212.35</td><td c=\"a\">21") + '\0' + "2.45</td>"
        << "716460" << comma << found(212.35, 21);

    // The first field holds at most 124 characters; a longer one counts as no number.
    const QByteArray padded = "1.5" + QByteArray(121, ' ');
    QTest::newRow("bid of 124 characters")
        << chrome + row("BASF11", padded, "8.5") << "BASF11" << comma << found(1.5, 8.5);
    QTest::newRow("bid of 125 characters")
        << chrome + row("BASF11", padded + ' ', "8.5") << "BASF11" << comma << found(0, 0);
}

void TestQuotePage::extract()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, wkn);
    QFETCH(QChar, separator);
    QFETCH(std::optional<Quote>, quote);

    const auto result = QuotePage::extract(page, wkn, separator);
    QCOMPARE(result.has_value(), quote.has_value());
    if (quote) {
        QCOMPARE(result->bid, quote->bid);
        QCOMPARE(result->ask, quote->ask);
    }
}

void TestQuotePage::extractFromExcerpt_data()
{
    QTest::addColumn<QString>("wkn");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<std::optional<Quote>>("quote");

    const QChar comma = QLatin1Char(',');
    const QChar point = QLatin1Char('.');
    QTest::newRow("adidas") << "A1EWWW" << comma << found(145.30, 145.42);
    QTest::newRow("adidas, point separator") << "A1EWWW" << point << found(0, 0);
    QTest::newRow("Airbus") << "938914" << comma << found(190.58, 190.70);
    QTest::newRow("Munich Re, point separator") << "843002" << point << found(512, 513);
    QTest::newRow("Bayer, three decimals") << "BAY001" << comma << found(27.115, 27.135);
    QTest::newRow("Telekom, one decimal") << "555750" << comma << found(29.8, 29.81);
    QTest::newRow("Rheinmetall, thousands") << "703000" << comma << found(0, 0);
    QTest::newRow("SAP, first in the news") << "716460" << comma << found(0, 0);
    QTest::newRow("Siemens Energy, padded ask") << "ENER6Y" << comma << found(98.1, 98.14);
    QTest::newRow("Zalando, no quotes") << "ZAL111" << comma << found(0, 0);
    QTest::newRow("Porsche, not listed") << "PAG911" << comma << std::optional<Quote>();
}

void TestQuotePage::extractFromExcerpt()
{
    QFETCH(QString, wkn);
    QFETCH(QChar, separator);
    QFETCH(std::optional<Quote>, quote);

    static const QByteArray page = fixture("dax-excerpt.html");
    const auto result = QuotePage::extract(page, wkn, separator);
    QCOMPARE(result.has_value(), quote.has_value());
    if (quote) {
        QCOMPARE(result->bid, quote->bid);
        QCOMPARE(result->ask, quote->ask);
    }
}

void TestQuotePage::windowIsCutAt1024Characters()
{
    // The ask's digits straddle the end of the window: what lies beyond character 1024 is not seen.
    const QByteArray head = "716460<b c=\"x\">1.5</b><i c=\"";
    const QByteArray page = head + QByteArray(1024 - 5 - head.size(), 'y') + "\">2.25</i>";
    QCOMPARE(page.indexOf("2.25") + 3, 1024);

    const auto result = QuotePage::extract("<p>Kurse</p>" + page, QStringLiteral("716460"), QLatin1Char(','));
    QVERIFY(result);
    QCOMPARE(result->bid, 1.5);
    QCOMPARE(result->ask, 2.2);
}

void TestQuotePage::everyPrefixOfARowIsSafe()
{
    const QByteArray page = row("716460", "212.35", "212.45");
    const qsizetype complete = page.indexOf("</td><td class=\"time\">");
    for (qsizetype length = 0; length <= page.size(); ++length) {
        const QByteArray prefix = page.left(length);
        const auto result = QuotePage::extract(prefix, QStringLiteral("716460"), QLatin1Char(','));
        QCOMPARE(result.has_value(), prefix.contains("716460"));
        if (length >= complete) {
            QCOMPARE(result->bid, 212.35);
            QCOMPARE(result->ask, 212.45);
        }
    }
}

void TestQuotePage::findsTheWknAtEveryOffset()
{
    // Near misses share the WKN's first and last character; the search must pass over them wherever the
    // WKN itself stands, the page's last bytes included.
    const QByteArray cells = "716460</td><td c=\"b\">1.5</td><td c=\"a\">2.5</td>";
    for (int offset = 0; offset < 100; ++offset) {
        QByteArray page;
        while (page.size() < offset)
            page += "7_6460 716450 ";
        page.truncate(offset);
        const QByteArray tail = offset % 2 ? QByteArray() : QByteArray("7_6460 716450");
        const auto result =
            QuotePage::extract(page + cells + tail, QStringLiteral("716460"), QLatin1Char(','));
        QVERIFY2(result, QByteArray::number(offset).constData());
        QCOMPARE(result->bid, 1.5);
        QCOMPARE(result->ask, 2.5);
    }
    QVERIFY(!QuotePage::extract("716450 7_6460 71646 716450 7_6460 71646", QStringLiteral("716460"),
                                QLatin1Char(',')));
}

void TestQuotePage::oneSearchForAllAgreesWithEachAlone()
{
    // Few distinct bytes, so that WKNs overlap, nest, repeat and end the page; zero bytes, a byte from
    // the upper half and WKNs that Windows-1252 cannot hold or that are empty come in too.
    static const char pieces[][8] = {"0", "1", "A", "B", "01",   "A0", "\">",  "</",
                                     "<", ".", ",", "5", "7.25", " ",  "\xE4", "\xE4\x42"};
    static const char *const wkns[] = {"0",   "1",   "A", "01",   "10",       "A0",  "0A0", "AB", "BA",
                                       "01A", "A01", "B", "\xE4", "\xE4\x42", "\">", "0.",  "",   "\xC4\x80"};
    QRandomGenerator random(12);
    for (int round = 0; round < 10000; ++round) {
        QByteArray page;
        const int length = int(random.bounded(400));
        while (page.size() < length)
            page += random.bounded(40) == 0 ? QByteArray(1, '\0') : QByteArray(pieces[random.bounded(16)]);
        QStringList components;
        const int count = int(random.bounded(1, 12));
        for (int i = 0; i < count; ++i)
            components << QString::fromLatin1(wkns[random.bounded(18)]);
        const auto all = QuotePage::extractAll(page, components, QLatin1Char(','));
        QCOMPARE(all.size(), components.size());
        for (int i = 0; i < count; ++i) {
            const auto alone = QuotePage::extract(page, components[i], QLatin1Char(','));
            const bool same = alone.has_value() == all[i].has_value() &&
                              (!alone || (alone->bid == all[i]->bid && alone->ask == all[i]->ask));
            QVERIFY2(same, qPrintable(QStringLiteral("round %1, WKN %2").arg(round).arg(components[i])));
        }
    }
}

QTEST_APPLESS_MAIN(TestQuotePage)
#include "test_quotepage.moc"
