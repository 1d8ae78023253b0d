// "NV-ID auslesen" against a firma.db made by the tool (no index files: the fields are searched).
#include "core/indexdefinition.h"
#include "core/indextable.h"
#include "core/indexwindow.h"
#include "norvata/identifierlookup.h"
#include "norvata/norvatalayout.h"
#include "norvata/norvatatable.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Window : IndexWindow
{
    IndexTable grid;
    QString edit2 = QStringLiteral("1"), edit3 = QStringLiteral("0"), value;
    IndexTable &table() override { return grid; }
    QString referenzkursText() const override { return edit2; }
    void setReferenzkursText(const QString &text) override { edit2 = text; }
    QString indexFirmaText() const override { return edit3; }
    void setIndexFirmaText(const QString &text) override { edit3 = text; }
    void setComponentCount(int) override {}
    QString valueText() const override { return value; }
    void setValueText(const QString &text) override { value = text; }
    void setValueDirection(IndexDirection) override {}
    void showMessage(const QString &) override {}
};

} // namespace

class TestIdentifierLookup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fillsIds_data();
    void fillsIds();
    void indexId_data();
    void indexId();
    void failureEndsSilently();

private:
    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path() + QLatin1Char('/'); }
};

void TestIdentifierLookup::init()
{
    QFile::remove(m_dir.filePath(QStringLiteral("firma.db")));
    QFile::remove(m_dir.filePath(QStringLiteral("firma.PX")));
    NorvataLayout::createFirma(m_dir.filePath(QStringLiteral("firma.db")));
    QByteArray csv = "Firma;Name;WKN;ISIN\n"
                     "101;Alpha Bid;100100_Bid;\n"
                     "102;Alpha Ask;100100_Ask;\n"
                     "201;Beta;200200;\n"
                     "301;Gamma Ask;300300_Ask;\n"
                     "302;Gamma;300300;\n"
                     "401;Delta Ask;400400_Ask;\n"
                     "501;Epsilon;500500;DE0005005005\n"
                     "900;Dax;846900;DE0008469008\n"
                     "901;Müller & Söhne;;\n";
    QBuffer buffer(&csv);
    buffer.open(QIODevice::ReadOnly);
    NorvataLayout::importCsv(m_dir.filePath(QStringLiteral("firma.db")), buffer);
}

void TestIdentifierLookup::fillsIds_data()
{
    QTest::addColumn<QString>("wkn");
    QTest::addColumn<QString>("nvAskBefore");
    QTest::addColumn<QString>("wknAfter");
    QTest::addColumn<QString>("nv");
    QTest::addColumn<QString>("nvAsk");
    QTest::newRow("bid and ask entries") << "100100"
                                         << "7"
                                         << "100100"
                                         << "101"
                                         << "102";
    QTest::newRow("plain entry only") << "200200"
                                      << "7"
                                      << "200200"
                                      << "201"
                                      << "201";
    QTest::newRow("ask and plain, no bid: plain wins") << "300300"
                                                       << "7"
                                                       << "300300"
                                                       << "302"
                                                       << "302";
    QTest::newRow("ask entry only") << "400400"
                                    << "7"
                                    << "400400"
                                    << "0"
                                    << "401";
    QTest::newRow("no entry keeps NV_Ask") << "999999"
                                           << "7"
                                           << "999999"
                                           << "0"
                                           << "7";
    QTest::newRow("WKN 0 with known ISIN") << "0"
                                           << "DE0005005005"
                                           << "501"
                                           << "0"
                                           << "DE0005005005";
    QTest::newRow("WKN 0 with unknown ISIN") << "0"
                                             << "DE0000000000"
                                             << "0"
                                             << "0"
                                             << "DE0000000000";
}

void TestIdentifierLookup::fillsIds()
{
    QFETCH(QString, wkn);
    QFETCH(QString, nvAskBefore);
    Window window;
    IndexDefinition definition(window, QLatin1Char(','));
    window.grid.setRows(3);
    for (int row : {1, 2}) {
        window.grid.setCell(IndexTable::WKN, row, wkn);
        window.grid.setCell(IndexTable::NV, row, QStringLiteral("55"));
        window.grid.setCell(IndexTable::NV_Ask, row, nvAskBefore);
    }
    NorvataTable table;
    lookUpNorvataIds(table, folder(), QStringLiteral("Dax"), window, definition);
    QVERIFY(!table.isOpen());
    for (int row : {1, 2}) {
        QTEST(window.grid.cell(IndexTable::WKN, row), "wknAfter");
        QTEST(window.grid.cell(IndexTable::NV, row), "nv");
        QTEST(window.grid.cell(IndexTable::NV_Ask, row), "nvAsk");
    }
    QCOMPARE(window.edit3, QStringLiteral("900"));
    QCOMPARE(definition.IndexFirma, 900);
}

void TestIdentifierLookup::indexId_data()
{
    QTest::addColumn<QString>("indexName");
    QTest::addColumn<QString>("edit3Before");
    QTest::addColumn<QString>("edit3After");
    QTest::addColumn<qint32>("indexFirma");
    QTest::newRow("known index") << "Dax"
                                 << "0"
                                 << "900" << 900;
    QTest::newRow("name with umlauts") << QStringLiteral("Müller & Söhne") << "0"
                                       << "901" << 901;
    QTest::newRow("unknown index keeps Edit3") << "TecDax"
                                               << "4711"
                                               << "4711" << 4711;
    QTest::newRow("case matters") << "DAX"
                                  << "12"
                                  << "12" << 12;
}

void TestIdentifierLookup::indexId()
{
    QFETCH(QString, indexName);
    QFETCH(QString, edit3Before);
    Window window;
    IndexDefinition definition(window, QLatin1Char(','));
    window.grid.setRows(1);
    window.edit3 = edit3Before;
    NorvataTable table;
    lookUpNorvataIds(table, folder(), indexName, window, definition);
    QTEST(window.edit3, "edit3After");
    QTEST(definition.IndexFirma, "indexFirma");
}

void TestIdentifierLookup::failureEndsSilently()
{
    Window window;
    IndexDefinition definition(window, QLatin1Char(','));
    definition.IndexFirma = 3;
    window.grid.setRows(2);
    window.grid.setCell(IndexTable::WKN, 1, QStringLiteral("200200"));

    // Edit3 no integer after step 8: everything filled in stays, IndexFirma is not set.
    window.edit3 = QStringLiteral("abc");
    NorvataTable table;
    lookUpNorvataIds(table, folder(), QStringLiteral("Unbekannt"), window, definition);
    QCOMPARE(window.grid.cell(IndexTable::NV, 1), QStringLiteral("201"));
    QCOMPARE(definition.IndexFirma, 3);
    QVERIFY(!table.isOpen());

    // No firma.db at all: nothing changes.
    QTemporaryDir empty;
    window.grid.setCell(IndexTable::NV, 1, QStringLiteral("8"));
    lookUpNorvataIds(table, empty.path() + QLatin1Char('/'), QStringLiteral("Dax"), window, definition);
    QCOMPARE(window.grid.cell(IndexTable::NV, 1), QStringLiteral("8"));
    QVERIFY(!table.isOpen());
}

QTEST_GUILESS_MAIN(TestIdentifierLookup)
#include "test_identifierlookup.moc"
