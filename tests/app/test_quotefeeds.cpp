// The window reading a JSON feed of the demo quote server: the cells, the value and the XML file; a stale
// quote drawn in grey italics and counted in the status bar; a feed file with an error.
#include "app/gridcelldelegate.h"
#include "app/quoteagepanel.h"
#include "programfolder.h"

#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Two real Dax components; the demo server's "--stale-every 2" leaves the second one's quote old.
const QByteArray twoComponents = "10\r\n0\r\nAllianz\r\n840400\r\n416,3\r\n2\r\n\r\n0\r\n0\r\n"
                                 "BASF\r\nBASF11\r\n50,18\r\n10\r\n\r\n0\r\n0\r\n";

// The darkest grey level in a cell of the grid as drawn now.
int darkestIn(const QImage &image, const QRect &cell)
{
    int darkest = 255;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
    return darkest;
}

} // namespace

class TestQuoteFeeds : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;

    void writeFeedFile(const QByteArray &text)
    {
        QDir(m_config.path()).mkpath(QStringLiteral("zalvento"));
        QFile file(m_config.filePath(QStringLiteral("zalvento/kursquellen.json")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }

    void refreshFromJsonFeed()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
            QSKIP("python3 is missing");
        ProgramFolder folder;
        folder.write(QStringLiteral("Dax.txt"), twoComponents);
        folder.writeInfo();
        folder.writeSettings({});
        QProcess server;
        server.start(QStringLiteral("python3"),
                     {QStringLiteral(ZALVENTO_SOURCE_DIR "/tools/demoquoteserver/demoquoteserver.py"),
                      "--port", "0", "--data", folder.path(QString()), "--stale-every", "2", "--quiet",
                      "--exit-after", "60"});
        QVERIFY(server.waitForReadyRead(10000));
        const QByteArray port = server.readLine().trimmed();
        writeFeedFile(
            "{\"dax\": {\"kind\": \"json\", \"url\": \"http://127.0.0.1:" + port +
            "/feed/dax.json\", \"items\": \"quotes\", \"id\": \"wkn\", \"bid\": \"bid\", \"ask\": \"ask\","
            " \"time\": \"time\"}}");

        MainWindow form(folder.options());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QString label = form.valueLabel->text();
        form.refreshPrices();
        QCOMPARE(form.statusText(), QStringLiteral("Kurse aktualisiert"));
        QVERIFY2(folder.messages.isEmpty(), qPrintable(folder.messages.join(" | ")));
        for (int row = 1; row <= 2; ++row) {
            const double bid = form.indexTable.cell(IndexTable::BID, row).replace(',', '.').toDouble();
            const double ask = form.indexTable.cell(IndexTable::ASK, row).replace(',', '.').toDouble();
            QVERIFY2(bid > 0 && bid < ask, qPrintable(form.indexTable.cell(IndexTable::BID, row)));
        }
        QVERIFY(form.valueLabel->text() != label);
        QVERIFY(folder.read(QStringLiteral("DAX_k.xml")).contains(form.valueLabel->text().toUtf8()));

        QVERIFY(form.quoteAgePanel->isVisible());
        QCOMPARE(form.quoteAgePanel->text(), QStringLiteral("1 von 2 Kursen veraltet"));

        // Model row i is table row i + 1. The first paint shows the refresh's highlights, the next the cells'
        // own look.
        QAbstractItemModel *model = form.gridView->model();
        form.gridView->viewport()->grab();
        const QImage cells = form.gridView->viewport()->grab().toImage();
        const QRect freshAsk = form.gridView->visualRect(model->index(0, IndexTable::ASK));
        const QRect staleAsk = form.gridView->visualRect(model->index(1, IndexTable::ASK));
        QVERIFY2(darkestIn(cells, freshAsk) < 80, "a fresh quote in black");
        QVERIFY2(darkestIn(cells, staleAsk) > 100 && darkestIn(cells, staleAsk) < 160, "a stale one in grey");
        QStyleOptionViewItem stale;
        QStyleOptionViewItem fresh;
        form.gridCells->initStyleOption(&stale, model->index(1, IndexTable::BID));
        form.gridCells->initStyleOption(&fresh, model->index(0, IndexTable::BID));
        QVERIFY(stale.font.italic() && !fresh.font.italic());

        // The tool tip gives the feed's time, half an hour ago.
        const QDateTime time =
            QDateTime::fromString(form.gridCells->toolTip(model->index(1, IndexTable::Kurswert)),
                                  QStringLiteral("dd.MM.yyyy HH:mm:ss"));
        QVERIFY(std::abs(time.secsTo(QDateTime::currentDateTime()) - 1800) < 60);

        // A highlight covers the stale look while it shows.
        form.writeHighlightedCell(IndexTable::ASK, 2, form.indexTable.cell(IndexTable::ASK, 2),
                                  Highlight::Lime);
        const QImage highlighted = form.gridView->viewport()->grab().toImage();
        QCOMPARE(highlighted.pixelColor(staleAsk.center() + QPoint(staleAsk.width() / 3, 0)),
                 QColor(0, 255, 0));

        server.terminate();
        server.waitForFinished();
    }

    // A first refresh through per-symbol requests with an API key, three of four components unknown to
    // the service: the calculation runs with them at their Kurswert and the value is published.
    void firstRefreshWithComponentsMissing()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
            QSKIP("python3 is missing");
        ProgramFolder folder;
        folder.write(QStringLiteral("Dax.txt"), twoComponents +
                                                    "adidas\r\nA1EWWW\r\n145,3\r\n2\r\n\r\n0\r\n0\r\n"
                                                    "Airbus\r\n938914\r\n190,58\r\n5\r\n\r\n0\r\n0\r\n");
        folder.writeInfo();
        folder.writeSettings({});
        QProcess server;
        server.start(QStringLiteral("python3"),
                     {QStringLiteral(ZALVENTO_SOURCE_DIR "/tools/demoquoteserver/demoquoteserver.py"),
                      "--port", "0", "--data", folder.path(QString()), "--quiet", "--exit-after", "60",
                      "--api-key", "k1"});
        QVERIFY(server.waitForReadyRead(10000));
        qputenv("ZALVENTO_TEST_KEY", "k1");
        writeFeedFile(
            "{\"Dax\": {\"kind\": \"json\", \"url\": \"http://127.0.0.1:" + server.readLine().trimmed() +
            "/quote?symbol={id}\", \"headers\": {\"X-Api-Key\": \"{env:ZALVENTO_TEST_KEY}\"}, "
            "\"bid\": \"/Global Quote/03. bid\", \"ask\": \"/Global Quote/04. ask\", \"match\": \"symbol\", "
            "\"symbols\": {\"840400\": \"NIX1\", \"A1EWWW\": \"NIX2\", \"938914\": \"NIX3\"}}}");

        MainWindow form(folder.options());
        form.refreshPrices();
        QCOMPARE(form.statusText(), QStringLiteral("Kurse aktualisiert"));
        const double bid = form.indexTable.cell(IndexTable::BID, 2).replace(',', '.').toDouble();
        QVERIFY2(bid > 0 && bid != 50.18, "BASF from the service");
        for (const int row : {1, 3, 4})
            QCOMPARE(form.indexTable.cell(IndexTable::BID, row) + form.indexTable.cell(IndexTable::ASK, row),
                     form.indexTable.cell(IndexTable::Kurswert, row).repeated(2));
        QVERIFY(QLocale(QLocale::German).toDouble(form.valueLabel->text()) > 0);
        QVERIFY(folder.read(QStringLiteral("DAX_k.xml")).contains(form.valueLabel->text().toUtf8()));
        QCOMPARE(form.quoteAgePanel->text(), QStringLiteral("3 von 4 Kursen veraltet"));
        server.terminate();
        server.waitForFinished();
    }

    void kursalterSetting_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("minutes");
        QTest::newRow("missing") << QString() << 15;
        QTest::newRow("an hour") << "\"Kursalter\"=dword:0000003c" << 60;
        QTest::newRow("never") << "\"Kursalter\"=dword:00000000" << 0;
        QTest::newRow("mistyped") << "\"Kursalter\"=\"zehn\"" << 15;
    }

    void kursalterSetting()
    {
        QFETCH(QString, setting);
        QFETCH(int, minutes);
        ProgramFolder folder;
        folder.write(QStringLiteral("Dax.txt"), twoComponents);
        folder.writeInfo();
        folder.writeSettings(setting.isEmpty() ? QStringList() : QStringList{setting});
        MainWindow form(folder.options());
        QCOMPARE(form.kursalterMinutes(), minutes);
    }

    void feedFileWithAnError()
    {
        ProgramFolder folder;
        folder.write(QStringLiteral("Dax.txt"), twoComponents);
        folder.writeInfo();
        folder.writeSettings({});
        writeFeedFile("{\"Dax\": {\"kind\": \"json\"}}");
        MainWindow form(folder.options());
        form.refreshPrices();
        QCOMPARE(form.statusText(), QStringLiteral("Fehler beim Kursaktualisieren"));
        QVERIFY2(folder.messages.size() == 1, qPrintable(folder.messages.join(" | ")));
        QVERIFY2(folder.messages.first().contains(QStringLiteral("kursquellen.json")),
                 qPrintable(folder.messages.first()));
        QVERIFY(!form.quoteAgePanel->isVisible());
    }
};

QTEST_MAIN(TestQuoteFeeds)
#include "test_quotefeeds.moc"
