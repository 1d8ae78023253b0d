// The price refresh against an Intraday.db made by the tool's code and a canned quote page.
#include "core/errors.h"
#include "core/indextable.h"
#include "core/numbertext.h"
#include "norvata/norvatalayout.h"
#include "norvata/norvatatable.h"
#include "refresh/pricerefresh.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

namespace {

const QString failed = QStringLiteral("Fehler beim Kursaktualisieren");
const QString done = QStringLiteral("Kurse aktualisiert");

// One component row: the texts of columns 1, 2, 5, 6, 7 and 8.
struct Row
{
    QString wkn, kurswert, nv, nvAsk, bid, ask;
};

struct HighlightedWrite
{
    int column, row;
    QString text;
    Highlight highlight;
};

struct Window : RefreshWindow
{
    IndexTable grid;
    bool norvata = true;
    bool transfer = false;
    QString folder;
    QByteArray page;
    bool fetchFails = false;
    QDateTime clock = QDateTime(QDate(2024, 3, 1), QTime(10, 15, 30, 250));

    QStringList events; // begin, fetch, calculate, status texts, end: in their order
    QList<HighlightedWrite> writes;
    int begun = 0, ended = 0, calculations = 0;
    bool tableOpenInCalculation = false;
    NorvataTable *norvataTable = nullptr;
    std::function<void()> duringFetch, duringCalculation;

    IndexTable &table() override { return grid; }
    void writeHighlightedCell(int column, int row, const QString &text, Highlight highlight) override
    {
        writes.append({column, row, text, highlight});
        grid.setCell(column, row, text);
    }
    void setStatusText(const QString &text) override { events << text; }
    void beginRefresh() override
    {
        ++begun;
        events << QStringLiteral("begin");
    }
    void endRefresh() override
    {
        ++ended;
        events << QStringLiteral("end");
    }
    bool norvataSourceSelected() const override { return norvata; }
    bool transferEnabled() const override { return transfer; }
    QString dataFolder() const override { return folder; }
    QByteArray fetchQuotePage() override
    {
        events << QStringLiteral("Loading");
        ++pageFetches;
        if (duringFetch)
            duringFetch();
        if (fetchFails)
            throw ZalventoError(QStringLiteral("Verbindung abgelehnt"));
        events << QStringLiteral("Received %1 bytes").arg(page.size());
        return page;
    }
    void calculate() override
    {
        ++calculations;
        tableOpenInCalculation = norvataTable && norvataTable->isOpen();
        events << QStringLiteral("calculate");
        if (duringCalculation)
            duringCalculation();
    }
    QDateTime now() const override { return clock; }

    // Feeds: no feed file unless a test writes one.
    QString index = QStringLiteral("Dax");
    QString feedFile = QStringLiteral("/nonexistent/kursquellen.json");
    QByteArray feedBody;
    int pageFetches = 0;
    QList<QuoteFeed> fetchedFeeds;
    QStringList feedErrors;
    bool boxAfterEnd = false;
    QuoteAges ages;
    int kursalter = 15;

    QString indexName() const override { return index; }
    QString feedFilePath() const override { return feedFile; }
    QStringList requestedIds; // the first id of every request, in order
    QStringList failingIds;   // their requests answer 404
    QString failure;          // every request fails with this, when set
    int retryAfter = -1;
    QList<FeedPage> fetchFeed(const QuoteFeed &feed, const QList<FeedRequest> &requests) override
    {
        events << QStringLiteral("Loading");
        fetchedFeeds << feed;
        QList<FeedPage> pages;
        for (const FeedRequest &request : requests) {
            requestedIds << request.ids.value(0);
            const QString failed =
                failingIds.contains(request.ids.value(0)) ? QStringLiteral("HTTP 404 Not Found") : failure;
            pages.append({failed.isEmpty() ? feedBody : QByteArray(), clock, failed, retryAfter});
        }
        return pages;
    }
    void showFeedError(const QString &text) override
    {
        feedErrors << text;
        boxAfterEnd = events.last() == QStringLiteral("end");
    }
    void setQuoteAges(const QuoteAges &quoteAges) override { ages = quoteAges; }
    QuoteAges quoteAges() const override { return ages; }
    int kursalterMinutes() const override { return kursalter; }

    // "hh:mm:ss" of each row's quote time ("-" for none), "*" when stale.
    QStringList ageTexts() const
    {
        QStringList texts;
        for (const QuoteAge &age : ages)
            texts << (age.time.isValid() ? age.time.toString(QStringLiteral("hh:mm:ss"))
                                         : QStringLiteral("-")) +
                         (age.stale ? QStringLiteral("*") : QString());
        return texts;
    }

    void setRows(const QList<Row> &rows)
    {
        grid.setColumns(7);
        grid.setRows(rows.size() + 1);
        for (int r = 0; r < rows.size(); ++r) {
            const Row &row = rows[r];
            grid.setCell(IndexTable::Name, r + 1, QStringLiteral("Wert %1").arg(r + 1));
            grid.setCell(IndexTable::WKN, r + 1, row.wkn);
            grid.setCell(IndexTable::Kurswert, r + 1, row.kurswert);
            grid.setCell(IndexTable::Fi, r + 1, QStringLiteral("1"));
            grid.setCell(IndexTable::NV, r + 1, row.nv);
            grid.setCell(IndexTable::NV_Ask, r + 1, row.nvAsk);
            grid.setCell(IndexTable::BID, r + 1, row.bid);
            grid.setCell(IndexTable::ASK, r + 1, row.ask);
        }
    }
    QStringList rowTexts(int row) const
    {
        return {grid.cell(IndexTable::Kurswert, row), grid.cell(IndexTable::BID, row),
                grid.cell(IndexTable::ASK, row)};
    }
};

// A quote row as the venue's page and the demo quote server write it.
QByteArray quoteRow(const QByteArray &wkn, const QByteArray &bid, const QByteArray &ask)
{
    return "<tr><td class=\"name\">Name</td><td class=\"wkn\">" + wkn + "</td><td class=\"bid\">" + bid +
           "</td><td class=\"ask\">" + ask + "</td></tr>\n";
}

QByteArray quotePage(const QByteArray &rows)
{
    return "<html><body><table class=\"quotes\">\n" + rows + "</table></body></html>\n";
}

struct Record
{
    qint32 firma;
    QDateTime zeit;
    double kurs;
};

} // namespace

Q_DECLARE_METATYPE(Row)
Q_DECLARE_METATYPE(Highlight)

class TestPriceRefresh : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void norvataRule_data();
    void norvataRule();
    void norvataReadsNewestAndCrosses();
    void norvataFailure_data();
    void norvataFailure();
    void norvataMissingTable();
    void norvataDamagedTableStops();

    void webRule_data();
    void webRule();
    void highlightOrder_data();
    void highlightOrder();
    void highlightColours_data();
    void highlightColours();
    void webRowsSkipped_data();
    void webRowsSkipped();
    void transfer_data();
    void transfer();
    void transferDisabledNeverOpensTable();
    void transferGoesOnAfterFailedAppend();
    void transferAfterTableClosedDuringFetch();
    void transferTableMissingFailsRefresh();
    void failedFetch();

    void staleness_data();
    void staleness();
    void feedRefresh_data();
    void feedRefresh();
    void feedFileError();
    void feedRequests();
    void norvataAges();

    void secondClickWhileRunning_data();
    void secondClickWhileRunning();

private:
    QString intradayPath() const { return m_dir.filePath(QStringLiteral("Intraday.db")); }
    QString folder() const { return m_dir.path() + QLatin1Char('/'); }
    void makeIntraday(const QByteArray &csvRecords);
    QString writeFeedFile(const QByteArray &text);
    QList<Record> intradayRecords() const;
    // Runs one refresh and checks what every path shares: it ran, begin and end paired, table closed.
    void refresh(Window &window, NorvataTable &table, const QString &expectedStatus);

    QTemporaryDir m_dir;
};

void TestPriceRefresh::init()
{
    QVERIFY(m_dir.isValid());
    for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files))
        QVERIFY(QFile::remove(m_dir.filePath(name)));
    // Prices of one id follow each other in time; the first is the one column 2 shows while the row
    // is worked on, the last one the newest.
    makeIntraday("101;2024-03-01 09:00:00;10\n"
                 "101;2024-03-01 09:05:00;10.5\n"
                 "102;2024-03-01 09:00:00;11\n"
                 "102;2024-03-01 09:01:00;9.5\n"
                 "102;2024-03-01 09:02:00;10.2\n"
                 "201;2024-03-01 09:00:00;19\n"
                 "201;2024-03-01 09:07:00;20\n"
                 "301;2024-03-01 09:00:00;-3\n"
                 "301;2024-03-01 09:03:00;-4\n");
}

void TestPriceRefresh::makeIntraday(const QByteArray &csvRecords)
{
    NorvataLayout::createIntraday(intradayPath());
    QByteArray csv = "Firma;Zeit;Kurs\n" + csvRecords;
    QBuffer buffer(&csv);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    NorvataLayout::importCsv(intradayPath(), buffer);
}

QList<Record> TestPriceRefresh::intradayRecords() const
{
    QString text;
    QTextStream out(&text);
    NorvataLayout::dump(intradayPath(), out);
    out.flush();
    QList<Record> records;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines.mid(1)) {
        const QStringList fields = line.split(QLatin1Char(';'));
        records.append({fields[0].toInt(),
                        QDateTime::fromString(fields[1], QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
                        fields[2].toDouble()});
    }
    return records;
}

void TestPriceRefresh::refresh(Window &window, NorvataTable &table, const QString &expectedStatus)
{
    window.folder = folder();
    window.norvataTable = &table;
    PriceRefresh refresh(window, table, QLatin1Char(','));
    QVERIFY(refresh.run());
    QVERIFY(!refresh.running());
    QCOMPARE(window.begun, 1);
    QCOMPARE(window.ended, 1);
    QCOMPARE(window.events.first(), QStringLiteral("begin"));
    QCOMPARE(window.events.last(), QStringLiteral("end"));
    QCOMPARE(window.events.at(window.events.size() - 2), expectedStatus);
    QVERIFY(!table.isOpen());
    if (expectedStatus == done) {
        QCOMPARE(window.calculations, 1);
        QVERIFY(!window.tableOpenInCalculation);
    } else {
        QCOMPARE(window.calculations, 0);
    }
}

// Ids 101 (newest 10,5, first 10) and 102 (newest 10,2, first 11) stand in columns 5 and 6 of most rows,
// so the ASK value is 10,5 and the BID value 10,2: each test of the rule picks a different price.
void TestPriceRefresh::norvataRule_data()
{
    QTest::addColumn<Row>("row");
    QTest::addColumn<QStringList>("expected"); // price, BID, ASK

    const QStringList mean{"10,35", "10,2", "10,5"};
    QTest::newRow("first refresh: mean") << Row{"A", "1", "101", "102", "", ""} << mean;
    QTest::newRow("first refresh, unreadable BID never read") << Row{"A", "1", "101", "102", "x", ""} << mean;
    QTest::newRow("1: ask up, bid down: mean") << Row{"A", "1", "101", "102", "10,4", "10"} << mean;
    QTest::newRow("2: bid down") << Row{"A", "1", "101", "102", "10,4", "10,5"}
                                 << QStringList{"10,2", "10,2", "10,5"};
    QTest::newRow("3: ask up") << Row{"A", "1", "101", "102", "10,2", "10"}
                               << QStringList{"10,5", "10,2", "10,5"};
    QTest::newRow("4: both unchanged: mean") << Row{"A", "1", "101", "102", "10,2", "10,5"} << mean;
    QTest::newRow("4: ask down, bid up: mean") << Row{"A", "1", "101", "102", "10", "11"} << mean;
    QTest::newRow("old quotes read with blanks")
        << Row{"A", "1", "101", "102", " 10,4 ", " 10,5"} << QStringList{"10,2", "10,2", "10,5"};

    const QStringList twenty{"20", "20", "20"};
    QTest::newRow("same id, rose") << Row{"A", "1", "201", "201", "19", "19"} << twenty;
    QTest::newRow("same id, fell") << Row{"A", "1", "201", "201", "21", "21"} << twenty;
    QTest::newRow("same id, unchanged") << Row{"A", "1", "201", "201", "20", "20"} << twenty;
    QTest::newRow("same id, first refresh") << Row{"A", "1", "201", "201", "", ""} << twenty;

    const QStringList previous{"12,5", "12,5", "12,5"};
    QTest::newRow("ids not found, first refresh") << Row{"A", "12,5", "999", "998", "", ""} << previous;
    QTest::newRow("ids 0") << Row{"A", "12,5", "0", "0", "", ""} << previous;
    QTest::newRow("ids not found, old quotes") << Row{"A", "12,5", "999", "998", "12", "13"} << previous;
    QTest::newRow("ids not found, price with blanks") << Row{"A", " 12,5 ", "999", "998", "", ""} << previous;

    // An id that is not found keeps its value at the previous price p.
    QTest::newRow("only column 5 found")
        << Row{"A", "7", "101", "999", "", ""} << QStringList{"8,75", "7", "10,5"};
    QTest::newRow("only column 6 found")
        << Row{"A", "7", "999", "102", "", ""} << QStringList{"8,6", "10,2", "7"};
    // p is 0 for a price cell that is no number; the found id's first Kurs then fills column 2.
    QTest::newRow("price no number, one id found")
        << Row{"A", "n/a", "101", "999", "", ""} << QStringList{"5,25", "0", "10,5"};
    QTest::newRow("price beyond a double, one id found")
        << Row{"A", "1E400", "101", "999", "", ""} << QStringList{"5,25", "0", "10,5"};

    // Quotes that sum to 0 or less take the price, which is the first Kurs of the id in column 6.
    QTest::newRow("negative quotes take column 2")
        << Row{"A", "5", "301", "301", "", ""} << QStringList{"-3", "-3", "-3"};
    QTest::newRow("negative quotes, old quotes")
        << Row{"A", "5", "301", "301", "1", "1"} << QStringList{"-3", "-3", "-3"};
    QTest::newRow("zero price, ids not found")
        << Row{"A", "0", "999", "999", "1", "1"} << QStringList{"0", "0", "0"};
}

void TestPriceRefresh::norvataRule()
{
    QFETCH(Row, row);
    QFETCH(QStringList, expected);
    Window window;
    window.setRows({row});
    NorvataTable table;
    refresh(window, table, done);
    QCOMPARE(window.rowTexts(1), expected);
    QCOMPARE(window.grid.columns(), 9);
    QCOMPARE(window.grid.cell(IndexTable::BID, 0), QStringLiteral("BID"));
    QCOMPARE(window.grid.cell(IndexTable::ASK, 0), QStringLiteral("ASK"));
    QVERIFY(window.writes.isEmpty()); // the Norvata source highlights nothing
}

// Several rows in one refresh: each row finds its own ids, whatever the row before left the cursor on.
void TestPriceRefresh::norvataReadsNewestAndCrosses()
{
    Window window;
    window.setRows({{"A", "1", "102", "101", "", ""},
                    {"B", "1", "101", "101", "", ""},
                    {"C", "1", "102", "102", "", ""},
                    {"D", "1", "201", "999", "", ""}});
    NorvataTable table;
    refresh(window, table, done);
    // Column 5 feeds ASK, column 6 feeds BID.
    QCOMPARE(window.rowTexts(1), (QStringList{"10,35", "10,5", "10,2"}));
    QCOMPARE(window.rowTexts(2), (QStringList{"10,5", "10,5", "10,5"}));
    QCOMPARE(window.rowTexts(3), (QStringList{"10,2", "10,2", "10,2"}));
    QCOMPARE(window.rowTexts(4), (QStringList{"10,5", "1", "20"}));

    // The second refresh compares with what the first one left: unchanged, so the mean again.
    window.begun = window.ended = window.calculations = 0;
    window.events.clear();
    refresh(window, table, done);
    QCOMPARE(window.rowTexts(1), (QStringList{"10,35", "10,5", "10,2"}));
    // An id not found now takes the previous price, no longer the one before it.
    QCOMPARE(window.rowTexts(4), (QStringList{"15,25", "10,5", "20"}));
}

void TestPriceRefresh::norvataFailure_data()
{
    QTest::addColumn<Row>("bad");
    QTest::addColumn<QString>("kurswertAfter"); // column 2 of the failed row

    QTest::newRow("empty price, no id found") << Row{"B", "", "999", "998", "", ""} << "";
    QTest::newRow("blank price, ids 0") << Row{"B", "  ", "0", "0", "", ""} << "  ";
    QTest::newRow("price beyond a double") << Row{"B", "1E400", "999", "998", "", ""} << "1E400";
    QTest::newRow("id in column 5 no integer") << Row{"B", "5", "abc", "101", "", ""} << "5";
    QTest::newRow("id in column 6 no integer") << Row{"B", "5", "101", "1,5", "", ""} << "10";
    QTest::newRow("empty id") << Row{"B", "5", "", "101", "", ""} << "5";
    QTest::newRow("old ASK no number") << Row{"B", "5", "101", "102", "10", "x"} << "11";
    QTest::newRow("old BID no number") << Row{"B", "5", "101", "102", "?", "10"} << "11";
}

// A failure ends the refresh at once: the rows before keep their new texts, the columns stay at 9,
// the calculation does not run and the table is closed.
void TestPriceRefresh::norvataFailure()
{
    QFETCH(Row, bad);
    QFETCH(QString, kurswertAfter);
    Window window;
    window.setRows({{"A", "1", "101", "102", "", ""}, bad, {"C", "3", "201", "201", "", ""}});
    NorvataTable table;
    refresh(window, table, failed);
    QCOMPARE(window.rowTexts(1), (QStringList{"10,35", "10,2", "10,5"}));
    QCOMPARE(window.rowTexts(2), (QStringList{kurswertAfter, bad.bid, bad.ask}));
    QCOMPARE(window.rowTexts(3), (QStringList{"3", "", ""}));
    QCOMPARE(window.grid.columns(), 9);
    QCOMPARE(window.grid.cell(IndexTable::BID, 0), QStringLiteral("BID"));
    QCOMPARE(window.grid.cell(IndexTable::ASK, 0), QStringLiteral("ASK"));

    // The table object serves the next use as before.
    table.open(folder(), QStringLiteral("Intraday.db"), QString());
    QVERIFY(table.findKey(QStringLiteral("201")));
    table.close();
}

void TestPriceRefresh::norvataMissingTable()
{
    QVERIFY(QFile::remove(intradayPath()));
    Window window;
    window.setRows({{"A", "1", "101", "102", "", ""}});
    NorvataTable table;
    refresh(window, table, failed);
    // The open comes first: a table that cannot be opened leaves the grid untouched.
    QCOMPARE(window.grid.columns(), 7);
    QCOMPARE(window.rowTexts(1), (QStringList{"1", "", ""}));
}

// A damaged Intraday.db (here: a price that is no finite number) fails the refresh instead of filling
// cells with texts that no later refresh or calculation can read.
void TestPriceRefresh::norvataDamagedTableStops()
{
    QFile file(intradayPath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    // Kurs is stored as a big-endian double with its sign bit flipped; 10.5 is 0x4025000000000000.
    const QByteArray stored = QByteArray::fromHex("C025000000000000");
    const qsizetype at = bytes.indexOf(stored);
    QVERIFY(at > 0);
    bytes.replace(at, 8, QByteArray::fromHex("FFF0000000000000")); // +infinity
    QVERIFY(file.seek(0));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();

    // Old quotes for which the rule would take the ASK value as it stands.
    Window window;
    window.setRows({{"A", "1", "101", "102", "10,2", "10"}});
    NorvataTable table;
    refresh(window, table, failed);
    QCOMPARE(window.rowTexts(1), (QStringList{"10", "10,2", "10"}));
}

// The row's quotes on the page are 47.35 (BID) and 47.40 (ASK) unless the row says otherwise.
void TestPriceRefresh::webRule_data()
{
    QTest::addColumn<Row>("row");
    QTest::addColumn<QByteArray>("bid");
    QTest::addColumn<QByteArray>("ask");
    QTest::addColumn<QStringList>("expected"); // price, BID, ASK

    const QStringList mean{"47,375", "47,35", "47,4"};
    QTest::newRow("first refresh: mean")
        << Row{"716460", "47", "", "", "", ""} << QByteArray("47.35") << QByteArray("47.40") << mean;
    QTest::newRow("both changed: mean")
        << Row{"716460", "47", "", "", "47", "47,1"} << QByteArray("47.35") << QByteArray("47.40") << mean;
    QTest::newRow("only bid changed") << Row{"716460", "47", "", "", "47,3", "47,4"} << QByteArray("47.35")
                                      << QByteArray("47.40") << QStringList{"47,35", "47,35", "47,4"};
    QTest::newRow("only ask changed") << Row{"716460", "47", "", "", "47,35", "48"} << QByteArray("47.35")
                                      << QByteArray("47.40") << QStringList{"47,4", "47,35", "47,4"};
    QTest::newRow("unchanged: price stays")
        << Row{"716460", "47,37", "", "", "47,35", "47,4"} << QByteArray("47.35") << QByteArray("47.40")
        << QStringList{"47,37", "47,35", "47,4"};
    QTest::newRow("price cell trimmed and rewritten")
        << Row{"716460", " 47,370 ", "", "", "47,35", "47,4"} << QByteArray("47.35") << QByteArray("47.40")
        << QStringList{"47,37", "47,35", "47,4"};
    QTest::newRow("decimal commas on the page")
        << Row{"716460", "47", "", "", "", ""} << QByteArray("47,35") << QByteArray("47,40") << mean;
    // Both quotes 0: BID and ASK take the previous price, which stays.
    QTest::newRow("unreadable bid") << Row{"716460", "47,37", "", "", "47,35", "47,4"} << QByteArray("n/a")
                                    << QByteArray("47.40") << QStringList{"47,37", "47,37", "47,37"};
    QTest::newRow("unreadable ask, first refresh")
        << Row{"716460", "47,37", "", "", "", ""} << QByteArray("47.35") << QByteArray("-")
        << QStringList{"47,37", "47,37", "47,37"};
    QTest::newRow("thousands separator") << Row{"716460", "1234", "", "", "", ""} << QByteArray("1.234,50")
                                         << QByteArray("1.235,00") << QStringList{"1234", "1234", "1234"};
    QTest::newRow("quotes 0") << Row{"716460", "47,37", "", "", "1", "1"} << QByteArray("0")
                              << QByteArray("0") << QStringList{"47,37", "47,37", "47,37"};
}

void TestPriceRefresh::webRule()
{
    QFETCH(Row, row);
    QFETCH(QByteArray, bid);
    QFETCH(QByteArray, ask);
    QFETCH(QStringList, expected);
    Window window;
    window.norvata = false;
    window.page = quotePage(quoteRow("846900", "1", "2") + quoteRow("716460", bid, ask));
    window.setRows({row});
    NorvataTable table;
    refresh(window, table, done);
    QCOMPARE(window.rowTexts(1), expected);
    QCOMPARE(window.grid.columns(), 9);
    QCOMPARE(window.grid.cell(IndexTable::BID, 0), QStringLiteral("BID"));
    QCOMPARE(window.grid.cell(IndexTable::ASK, 0), QStringLiteral("ASK"));
    QCOMPARE(window.events,
             (QStringList{"begin", "Loading", QStringLiteral("Received %1 bytes").arg(window.page.size()),
                          "calculate", done, "end"}));
}

void TestPriceRefresh::highlightOrder_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("next");
    QTest::addColumn<Highlight>("highlight");
    QTest::newRow("12,5 -> 12,45") << "12,5"
                                   << "12,45" << Highlight::Lime;
    QTest::newRow("9,5 -> 10,2") << "9,5"
                                 << "10,2" << Highlight::Lime;
    QTest::newRow("10,2 -> 9,5") << "10,2"
                                 << "9,5" << Highlight::Fuchsia;
    QTest::newRow("unchanged") << "10,2"
                               << "10,2" << Highlight::None;
    QTest::newRow("current begins the new one") << "12"
                                                << "12,5" << Highlight::Fuchsia;
    QTest::newRow("new one begins the current") << "12,5"
                                                << "12" << Highlight::Lime;
    QTest::newRow("empty before anything") << ""
                                           << "0" << Highlight::Fuchsia;
    QTest::newRow("by code: comma before digits") << "1,5"
                                                  << "10" << Highlight::Fuchsia;
    QTest::newRow("by code, not case") << "a"
                                       << "B" << Highlight::Lime;
}

void TestPriceRefresh::highlightOrder()
{
    QFETCH(QString, current);
    QFETCH(QString, next);
    QFETCH(Highlight, highlight);
    QCOMPARE(PriceRefresh::highlightFor(current, next), highlight);
}

// The exact writes of a web refresh: ASK first, then BID, each with the colour of its own cell.
void TestPriceRefresh::highlightColours_data()
{
    QTest::addColumn<QString>("oldBid");
    QTest::addColumn<QString>("oldAsk");
    QTest::addColumn<QByteArray>("bid");
    QTest::addColumn<QByteArray>("ask");
    QTest::addColumn<Highlight>("bidHighlight");
    QTest::addColumn<Highlight>("askHighlight");
    QTest::addColumn<QString>("bidText");
    QTest::addColumn<QString>("askText");
    QTest::newRow("12,5 -> 12,45 and 9,5 -> 10,2")
        << "9,5"
        << "12,5" << QByteArray("10.2") << QByteArray("12.45") << Highlight::Lime << Highlight::Lime << "10,2"
        << "12,45";
    QTest::newRow("10,2 -> 9,5 and unchanged") << "10,2"
                                               << "12,5" << QByteArray("9.50") << QByteArray("12.5")
                                               << Highlight::Fuchsia << Highlight::None << "9,5"
                                               << "12,5";
    QTest::newRow("first refresh") << ""
                                   << "" << QByteArray("9.5") << QByteArray("10.2") << Highlight::Fuchsia
                                   << Highlight::Fuchsia << "9,5"
                                   << "10,2";
    QTest::newRow("unreadable quotes take the price")
        << "9"
        << "1" << QByteArray("x") << QByteArray("11") << Highlight::Lime << Highlight::Fuchsia << "10"
        << "10";
}

void TestPriceRefresh::highlightColours()
{
    QFETCH(QString, oldBid);
    QFETCH(QString, oldAsk);
    QFETCH(QByteArray, bid);
    QFETCH(QByteArray, ask);
    QFETCH(Highlight, bidHighlight);
    QFETCH(Highlight, askHighlight);
    QFETCH(QString, bidText);
    QFETCH(QString, askText);
    Window window;
    window.norvata = false;
    window.page = quotePage(quoteRow("519000", bid, ask));
    window.setRows({{"519000", "10", "", "", oldBid, oldAsk}});
    NorvataTable table;
    refresh(window, table, done);
    QCOMPARE(window.writes.size(), 2);
    QCOMPARE(window.writes[0].column, int(IndexTable::ASK));
    QCOMPARE(window.writes[0].row, 1);
    QCOMPARE(window.writes[0].text, askText);
    QCOMPARE(window.writes[0].highlight, askHighlight);
    QCOMPARE(window.writes[1].column, int(IndexTable::BID));
    QCOMPARE(window.writes[1].row, 1);
    QCOMPARE(window.writes[1].text, bidText);
    QCOMPARE(window.writes[1].highlight, bidHighlight);
}

// Rows that the page does not know, or whose texts the rule cannot read, are left alone; the other
// rows are refreshed and the refresh succeeds.
void TestPriceRefresh::webRowsSkipped_data()
{
    QTest::addColumn<Row>("skipped");
    QTest::newRow("WKN missing from the page") << Row{"999999", "5", "501", "", "4", "6"};
    QTest::newRow("empty WKN") << Row{"", "5", "501", "", "4", "6"};
    QTest::newRow("price no number") << Row{"716460", "n/a", "501", "", "4", "6"};
    QTest::newRow("empty price") << Row{"716460", "", "501", "", "4", "6"};
    QTest::newRow("price beyond a double") << Row{"716460", "1E400", "501", "", "4", "6"};
    QTest::newRow("old ASK no number") << Row{"716460", "5", "501", "", "4", "x"};
    QTest::newRow("old BID no number") << Row{"716460", "5", "501", "", "", "6"};
}

void TestPriceRefresh::webRowsSkipped()
{
    QFETCH(Row, skipped);
    Window window;
    window.norvata = false;
    window.transfer = true;
    window.page = quotePage(quoteRow("846900", "47.35", "47.40") + quoteRow("716460", "5.5", "5.6") +
                            quoteRow("519000", "9.5", "9.7"));
    window.setRows({{"846900", "47", "502", "", "", ""}, skipped, {"519000", "9", "503", "", "", ""}});
    NorvataTable table;
    refresh(window, table, done);
    QCOMPARE(window.rowTexts(1), (QStringList{"47,375", "47,35", "47,4"}));
    QCOMPARE(window.rowTexts(2), (QStringList{skipped.kurswert, skipped.bid, skipped.ask}));
    QCOMPARE(window.rowTexts(3), (QStringList{"9,6", "9,5", "9,7"}));
    for (const HighlightedWrite &write : std::as_const(window.writes))
        QVERIFY(write.row != 2);
    // Only the refreshed rows are handed on.
    const QList<Record> records = intradayRecords();
    QList<qint32> ids;
    for (const Record &record : records)
        ids << record.firma;
    QCOMPARE(ids.count(501), 0);
    QCOMPARE(ids.count(502), 1);
    QCOMPARE(ids.count(503), 1);
}

void TestPriceRefresh::transfer_data()
{
    QTest::addColumn<QString>("nv");
    QTest::addColumn<QString>("kurswert");
    QTest::addColumn<QString>("oldBid");
    QTest::addColumn<QString>("oldAsk");
    QTest::addColumn<QByteArray>("bid");
    QTest::addColumn<bool>("appended");
    QTest::newRow("id 1, price changed") << "1"
                                         << "47"
                                         << ""
                                         << "" << QByteArray("47.35") << true;
    QTest::newRow("id 501, only bid changed") << "501"
                                              << "47"
                                              << "47"
                                              << "47,4" << QByteArray("47.35") << true;
    QTest::newRow("id with blanks before") << " 501"
                                           << "47"
                                           << ""
                                           << "" << QByteArray("47.35") << true;
    QTest::newRow("price unchanged") << "501"
                                     << "47,37"
                                     << "47,35"
                                     << "47,4" << QByteArray("47.35") << false;
    QTest::newRow("rule picks the previous price") << "501"
                                                   << "47,4"
                                                   << "47,35"
                                                   << "48" << QByteArray("47.35") << false;
    QTest::newRow("unreadable quotes") << "501"
                                       << "47"
                                       << ""
                                       << "" << QByteArray("n/a") << false;
    QTest::newRow("id 0") << "0"
                          << "47"
                          << ""
                          << "" << QByteArray("47.35") << false;
    QTest::newRow("empty id") << ""
                              << "47"
                              << ""
                              << "" << QByteArray("47.35") << false;
    QTest::newRow("negative id") << "-501"
                                 << "47"
                                 << ""
                                 << "" << QByteArray("47.35") << false;
    QTest::newRow("id no number") << "DE0007164600"
                                  << "47"
                                  << ""
                                  << "" << QByteArray("47.35") << false;
    QTest::newRow("id beyond 32 bits") << "4294967797"
                                       << "47"
                                       << ""
                                       << "" << QByteArray("47.35") << false;
}

void TestPriceRefresh::transfer()
{
    QFETCH(QString, nv);
    QFETCH(QString, kurswert);
    QFETCH(QString, oldBid);
    QFETCH(QString, oldAsk);
    QFETCH(QByteArray, bid);
    QFETCH(bool, appended);
    const QList<Record> before = intradayRecords();
    Window window;
    window.norvata = false;
    window.transfer = true;
    window.page = quotePage(quoteRow("716460", bid, "47.40"));
    window.setRows({{"716460", kurswert, nv, "", oldBid, oldAsk}});
    NorvataTable table;
    bool openDuringFetch = false;
    window.duringFetch = [&] { openDuringFetch = table.isOpen(); };
    refresh(window, table, done);
    QVERIFY(openDuringFetch); // opened before the fetch

    const QList<Record> after = intradayRecords();
    QCOMPARE(after.size(), before.size() + (appended ? 1 : 0));
    if (appended) {
        const double price =
            NumberText::parseFloat(window.grid.cell(IndexTable::Kurswert, 1), QLatin1Char(','));
        bool found = false;
        for (const Record &record : after) {
            if (record.firma == NumberText::parseInteger(nv) && record.zeit == window.clock) {
                QCOMPARE(record.kurs, price);
                found = true;
            }
        }
        QVERIFY(found);
    }
}

void TestPriceRefresh::transferDisabledNeverOpensTable()
{
    Window window;
    window.norvata = false;
    window.transfer = false;
    window.page = quotePage(quoteRow("716460", "47.35", "47.40"));
    window.setRows({{"716460", "47", "501", "", "", ""}});
    NorvataTable table;
    bool openDuringFetch = true;
    window.duringFetch = [&] { openDuringFetch = table.isOpen(); };
    const QList<Record> before = intradayRecords();
    // A data folder that does not exist: any open would fail the refresh.
    window.folder = m_dir.filePath(QStringLiteral("nowhere/"));
    PriceRefresh refresh(window, table, QLatin1Char(','));
    QVERIFY(refresh.run());
    QVERIFY(!openDuringFetch);
    QCOMPARE(window.events.at(window.events.size() - 2), done);
    QCOMPARE(window.rowTexts(1), (QStringList{"47,375", "47,35", "47,4"}));
    QCOMPARE(intradayRecords().size(), before.size());
}

// Two rows with the same id at the same moment: the second record is one key too many. Its failure
// costs only that record; the rows after it are handed on as usual.
void TestPriceRefresh::transferGoesOnAfterFailedAppend()
{
    Window window;
    window.norvata = false;
    window.transfer = true;
    window.page = quotePage(quoteRow("846900", "47.35", "47.40") + quoteRow("716460", "5.5", "5.6") +
                            quoteRow("519000", "9.5", "9.7"));
    window.setRows({{"846900", "47", "501", "", "", ""},
                    {"716460", "5", "501", "", "", ""},
                    {"519000", "9", "502", "", "", ""}});
    NorvataTable table;
    const int before = intradayRecords().size();
    refresh(window, table, done);
    QCOMPARE(window.rowTexts(2), (QStringList{"5,55", "5,5", "5,6"})); // the row goes on
    const QList<Record> records = intradayRecords();
    QCOMPARE(records.size(), before + 2);
    QList<qint32> ids;
    for (const Record &record : records)
        ids << record.firma;
    QCOMPARE(ids.count(501), 1);
    QCOMPARE(ids.count(502), 1);
}

// Another use of the table object while the page is fetched (the identifier lookup, an index record)
// closes the table; the transfer opens it again instead of losing this refresh's records.
void TestPriceRefresh::transferAfterTableClosedDuringFetch()
{
    Window window;
    window.norvata = false;
    window.transfer = true;
    window.page = quotePage(quoteRow("716460", "47.35", "47.40"));
    window.setRows({{"716460", "47", "501", "", "", ""}});
    NorvataTable table;
    window.duringFetch = [&] {
        table.open(folder(), QStringLiteral("Intraday.db"), QString());
        table.close();
    };
    const int before = intradayRecords().size();
    refresh(window, table, done);
    QCOMPARE(intradayRecords().size(), before + 1);
}

// The transfer's table is opened before the fetch; when it cannot be, the refresh fails as a whole.
void TestPriceRefresh::transferTableMissingFailsRefresh()
{
    QVERIFY(QFile::remove(intradayPath()));
    Window window;
    window.norvata = false;
    window.transfer = true;
    window.page = quotePage(quoteRow("716460", "47.35", "47.40"));
    window.setRows({{"716460", "47", "501", "", "", ""}});
    NorvataTable table;
    refresh(window, table, failed);
    QVERIFY(!window.events.contains(QStringLiteral("Loading")));
    QCOMPARE(window.grid.columns(), 7);
}

void TestPriceRefresh::failedFetch()
{
    for (const bool transfer : {false, true}) {
        Window window;
        window.norvata = false;
        window.transfer = transfer;
        window.fetchFails = true;
        window.setRows({{"716460", "47", "501", "", "47,1", "47,2"}});
        NorvataTable table;
        const int before = intradayRecords().size();
        refresh(window, table, failed);
        QCOMPARE(window.events, (QStringList{"begin", "Loading", failed, "end"}));
        QCOMPARE(window.grid.columns(), 7);
        QCOMPARE(window.rowTexts(1), (QStringList{"47", "47,1", "47,2"}));
        QVERIFY(window.writes.isEmpty());
        QCOMPARE(intradayRecords().size(), before);
    }
}

// A click or tick handled while a refresh runs (during the fetch, or from the calculation) is refused
// and changes nothing; the running refresh ends as usual and the next one runs.
void TestPriceRefresh::secondClickWhileRunning_data()
{
    QTest::addColumn<bool>("norvata");
    QTest::addColumn<bool>("duringFetch");
    QTest::newRow("web, during the fetch") << false << true;
    QTest::newRow("web, during the calculation") << false << false;
    QTest::newRow("Norvata, during the calculation") << true << false;
}

void TestPriceRefresh::secondClickWhileRunning()
{
    QFETCH(bool, norvata);
    QFETCH(bool, duringFetch);
    Window window;
    window.norvata = norvata;
    window.folder = folder();
    window.page = quotePage(quoteRow("716460", "10.2", "10.5"));
    window.setRows({{"716460", "1", "101", "102", "", ""}});
    NorvataTable table;
    window.norvataTable = &table;
    PriceRefresh refresh(window, table, QLatin1Char(','));

    int inner = -1;
    QStringList eventsBefore, eventsAfter, cellsBefore, cellsAfter;
    int columnsBefore = 0, columnsAfter = 0;
    const auto clickAgain = [&] {
        QVERIFY(refresh.running());
        eventsBefore = window.events;
        cellsBefore = window.rowTexts(1);
        columnsBefore = window.grid.columns();
        inner = refresh.run() ? 1 : 0;
        eventsAfter = window.events;
        cellsAfter = window.rowTexts(1);
        columnsAfter = window.grid.columns();
    };
    if (duringFetch)
        window.duringFetch = clickAgain;
    else
        window.duringCalculation = clickAgain;

    QVERIFY(refresh.run());
    QCOMPARE(inner, 0);
    QCOMPARE(eventsAfter, eventsBefore);
    QCOMPARE(cellsAfter, cellsBefore);
    QCOMPARE(columnsAfter, columnsBefore);
    QCOMPARE(window.begun, 1);
    QCOMPARE(window.ended, 1);
    QCOMPARE(window.calculations, 1);
    QCOMPARE(window.events.at(window.events.size() - 2), done);
    QCOMPARE(window.rowTexts(1), (QStringList{"10,35", "10,2", "10,5"}));

    window.duringFetch = nullptr;
    window.duringCalculation = nullptr;
    QVERIFY(refresh.run());
    QCOMPARE(window.begun, 2);
    QCOMPARE(window.ended, 2);
}

void TestPriceRefresh::staleness_data()
{
    QTest::addColumn<int>("secondsOld"); // < 0: the quote time is after now; INT_MIN: no quote
    QTest::addColumn<int>("kursalter");
    QTest::addColumn<bool>("stale");
    QTest::newRow("just at the age") << 15 * 60 << 15 << false;
    QTest::newRow("a second older") << 15 * 60 + 1 << 15 << true;
    QTest::newRow("ahead of the clock") << -3600 << 15 << false;
    QTest::newRow("Kursalter 0: never") << 86400 * 365 << 0 << false;
    QTest::newRow("no quote, Kursalter 0") << INT_MIN << 0 << true;
}

void TestPriceRefresh::staleness()
{
    QFETCH(int, secondsOld);
    QFETCH(int, kursalter);
    QFETCH(bool, stale);
    const QDateTime now(QDate(2024, 3, 1), QTime(10, 0));
    const QDateTime time = secondsOld == INT_MIN ? QDateTime() : now.addSecs(-secondsOld);
    QCOMPARE(isStale(time, now, kursalter), stale);
    QCOMPARE(quoteAgesOf({time, time.toOffsetFromUtc(3600)}, now, kursalter),
             (QuoteAges{{time, stale}, {time.toOffsetFromUtc(3600), stale}}));
}

QString TestPriceRefresh::writeFeedFile(const QByteArray &text)
{
    const QString path = m_dir.filePath(QStringLiteral("kursquellen.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write the feed file");
    return path;
}

// The clock stands at 10:15:30: a quote of 10:00:00 is older than the 15 minutes of "Kursalter".
void TestPriceRefresh::feedRefresh_data()
{
    QTest::addColumn<QByteArray>("feedFile");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("rowTexts"); // "price BID ASK" per row
    QTest::addColumn<QStringList>("ages");

    const QByteArray json =
        R"({"dax": {"kind": "json", "url": "https://127.0.0.1/feed/dax.json", "items": "quotes", )"
        R"("id": "wkn", "bid": "bid", "ask": "ask", "time": "time"}})";
    const QByteArray quotes =
        R"({"quotes": [{"wkn": "846900", "isin": "DE0008469008", "bid": 47.35, "ask": "47.40", )"
        R"("time": "2024-03-01T10:00:00"}, {"wkn": "716460", "isin": "DE0007164600", )"
        R"("bid": "5.5", "ask": 5.6}, {"wkn": "519000", "bid": "-", "ask": 1}]})";
    // A component without a quote keeps its BID and ASK, or takes its Kurswert; one side serves for both.
    QTest::newRow("json by WKN") << json << quotes << done
                                 << QStringList{"47,375 47,35 47,4", "5,55 5,5 5,6", "1 1 1", "8 8 8"}
                                 << QStringList{"10:00:00*", "10:15:30", "10:15:30", "-*"};
    QTest::newRow("json by ISIN") << QByteArray(json).replace(R"("wkn", "bid")",
                                                              R"("isin", "match": "isin", "bid")")
                                  << quotes << done
                                  << QStringList{"47,375 47,35 47,4", "5,55 5,5 5,6", "9 9,1 9,2", "8 8 8"}
                                  << QStringList{"10:00:00*", "10:15:30", "-*", "-*"};
    QTest::newRow("pattern with ','")
        << QByteArray(R"({"Dax": {"kind": "pattern", "url": "http://127.0.0.1/", "decimal": ",", )"
                      R"x("pattern": "(?<id>\\d+): (?<bid>\\S+) (?<ask>\\S+)"}})x")
        << QByteArray("846900: 47,35 47,40\n519000: 9,1 9,3\n") << done
        << QStringList{"47,375 47,35 47,4", "5 5 5", "9,3 9,1 9,3", "8 8 8"}
        << QStringList{"10:15:30", "-*", "10:15:30", "-*"};
    // Quotes that are no numbers take the price rule as before, but give no quote.
    QTest::newRow("no feed file: the built-in page")
        << QByteArray() << quotePage(quoteRow("846900", "47.35", "47.40") + quoteRow("716460", "n/a", "5.6"))
        << done << QStringList{"47,375 47,35 47,4", "5 5 5", "9 9,1 9,2", "47,375 47,35 47,4"}
        << QStringList{"10:15:30", "-*", "-*", "10:15:30"};
    QTest::newRow("page at the feed's address")
        << QByteArray(R"({"Dax": {"kind": "page", "url": "https://127.0.0.1/dax.html"}})")
        << quotePage(quoteRow("716460", "5.5", "5.6")) << done
        << QStringList{"47 47 47", "5,55 5,5 5,6", "9 9,1 9,2", "5,55 5,5 5,6"}
        << QStringList{"-*", "10:15:30", "-*", "10:15:30"}; // the WKN 0 finds the first zero of the page
    QTest::newRow("feed document not JSON")
        << json << QByteArray("<html>") << failed + ": dax: kein JSON"
        << QStringList{"47 47 47", "5 5 5", "9 9,1 9,2", "8  "} << QStringList{};
    QTest::newRow("no quote at all") << json << QByteArray(R"({"quotes": [{"wkn": "846900", "bid": 0}]})")
                                     << failed + ": dax: keine Kurse in der Antwort"
                                     << QStringList{"47 47 47", "5 5 5", "9 9,1 9,2", "8  "} << QStringList{};
}

void TestPriceRefresh::feedRefresh()
{
    QFETCH(QByteArray, feedFile);
    QFETCH(QByteArray, document);
    QFETCH(QString, status);
    QFETCH(QStringList, rowTexts);
    QFETCH(QStringList, ages);
    Window window;
    window.norvata = false;
    if (!feedFile.isEmpty())
        window.feedFile = writeFeedFile(feedFile);
    window.feedBody = document;
    window.page = document;
    window.setRows({{"846900", "47", "", "", "47", "47"},
                    {"716460", "5", "", "", "5", "5"},
                    {"519000", "9", "", "", "9,1", "9,2"},
                    {"0", "8", "", "", "", ""}});
    NorvataTable table;
    refresh(window, table, status);
    QCOMPARE(window.fetchedFeeds.size(), feedFile.isEmpty() ? 0 : 1);
    QCOMPARE(window.pageFetches, feedFile.isEmpty() ? 1 : 0);
    QVERIFY(window.feedErrors.isEmpty());
    QStringList texts;
    for (int row = 1; row <= 4; ++row)
        texts << window.rowTexts(row).join(QLatin1Char(' '));
    QCOMPARE(texts, rowTexts);
    QCOMPARE(window.ageTexts(), ages);
}

void TestPriceRefresh::feedFileError()
{
    Window window;
    window.norvata = false;
    window.transfer = true;
    window.feedFile = writeFeedFile(
        R"x({"Dax": {"kind": "pattern", "url": "http://127.0.0.1/", "pattern": "(?<id>\\d+)"}})x");
    window.setRows({{"846900", "47", "501", "", "47", "47"}});
    NorvataTable table;
    refresh(window, table, failed);
    QCOMPARE(window.events, (QStringList{"begin", failed, "end"}));
    QCOMPARE(window.feedErrors.size(), 1);
    QVERIFY(window.boxAfterEnd);
    const QString &error = window.feedErrors.first();
    QVERIFY2(error.contains(window.feedFile) && error.contains(QStringLiteral("„Dax“")) &&
                 error.contains(QStringLiteral("„bid“")),
             qPrintable(error));
    QCOMPARE(window.rowTexts(1), (QStringList{"47", "47", "47"}));
}

// One request per component, "interval" and Retry-After over refreshes of one PriceRefresh.
void TestPriceRefresh::feedRequests()
{
    Window window;
    window.norvata = false;
    window.folder = folder();
    window.feedFile =
        writeFeedFile(R"({"Dax": {"kind": "json", "url": "http://127.0.0.1/q/{id}", "bid": "b", )"
                      R"("ask": "a", "symbols": {"716460": "SAP.DE"}, "interval": 60}})");
    window.feedBody = R"({"b": 2, "a": 3})";
    window.failingIds = QStringList{"519000"};
    window.setRows(
        {{"846900", "47", "", "", "", ""}, {"716460", "5", "", "", "", ""}, {"519000", "9", "", "", "", ""}});
    NorvataTable table;
    PriceRefresh refresh(window, table, QLatin1Char(','));
    const auto statusAfter = [&](int seconds) {
        window.clock = window.clock.addSecs(seconds);
        refresh.run();
        return window.events.at(window.events.size() - 2);
    };
    QCOMPARE(statusAfter(0), failed + ": Dax: 1 von 3 Abrufen fehlgeschlagen (HTTP 404 Not Found)");
    QCOMPARE(window.requestedIds, (QStringList{"846900", "SAP.DE", "519000"}));
    QCOMPARE(window.calculations, 1);
    QVERIFY(refresh.lastFailed());
    QCOMPARE(window.rowTexts(2), (QStringList{"2,5", "2", "3"}));
    QCOMPARE(window.rowTexts(3), (QStringList{"9", "9", "9"}));

    QCOMPARE(statusAfter(59), done); // the last document's quotes, no request
    QCOMPARE(window.fetchedFeeds.size(), 1);

    // A 429 with Retry-After: nothing is asked before then, and the quotes turn stale meanwhile.
    window.failure = QStringLiteral("HTTP 429 Too Many Requests");
    window.retryAfter = 20;
    QCOMPARE(statusAfter(20 * 60),
             failed + ": Dax: 3 von 3 Abrufen fehlgeschlagen (HTTP 429 Too Many Requests)");
    QCOMPARE(refresh.retryAfterMs(), 20000);
    QCOMPARE(window.ageTexts(), (QStringList{"10:15:30*", "10:15:30*", "-*"}));
    QVERIFY(statusAfter(19).endsWith(QStringLiteral("(Retry-After)")));
    QCOMPARE(window.fetchedFeeds.size(), 2);
    window.failure.clear();
    QCOMPARE(statusAfter(1), failed + ": Dax: 1 von 3 Abrufen fehlgeschlagen (HTTP 404 Not Found)");
    QCOMPARE(window.fetchedFeeds.size(), 3);
}

void TestPriceRefresh::norvataAges()
{
    Window window;
    window.kursalter = 70;
    window.setRows({{"A", "1", "101", "102", "", ""},
                    {"B", "1", "201", "999", "", ""},
                    {"C", "1", "999", "998", "", ""}});
    NorvataTable table;
    refresh(window, table, done);
    // Row A: the newer of 101's records is 09:05, of 102's 09:02; the older of both counts.
    QCOMPARE(window.ageTexts(), (QStringList{"09:02:00*", "09:07:00", "-*"}));
}

QTEST_GUILESS_MAIN(TestPriceRefresh)
#include "test_pricerefresh.moc"
