#include "app/distributionchart.h"
#include "app/gridcelldelegate.h"
#include "app/historychart.h"
#include "app/livelink.h"
#include "app/weblink.h"
#include "programfolder.h"
#include "norvata/norvatalayout.h"
#include "norvata/norvatatable.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

namespace {

QString number(const char *text)
{
    return QString::fromLatin1(text).replace(QLatin1Char(','), QLocale::system().decimalPoint());
}

int historyPoints(MainWindow &form)
{
    int points = 0;
    for (int series = 0; series < HistoryChart::seriesCount; ++series)
        points += form.historyChart->pointCount(HistorySeries(series));
    return points;
}

// Records of `id` in the data folder's "Intraday.db".
int recordsOf(const ProgramFolder &folder, qint32 id)
{
    NorvataTable table;
    table.open(folder.dataFolder(), QStringLiteral("Intraday.db"), QString());
    int count = 0;
    if (table.findKey(QString::number(id))) {
        while (!table.eof() && table.fieldEquals(QStringLiteral("Firma"), QString::number(id))) {
            ++count;
            table.next();
        }
    }
    table.close();
    return count;
}

} // namespace

class TestPublication : public QObject
{
    Q_OBJECT

private slots:
    void startUpPublishesAndClearsTheHistory()
    {
        ProgramFolder folder;
        folder.writeDefinition(QStringLiteral("TecDax.txt"));
        folder.writeInfo();
        MainWindow form(folder.options());
        form.indexChoice->setEditText(QStringLiteral("TecDax"));
        QCOMPARE(form.windowTitle(), QStringLiteral("TECDAX"));
        QCOMPARE(form.liveLink->itemText(), number("10422,22"));
        QCOMPARE(form.liveLink->topic(), QStringLiteral("TECDAX"));
        const QByteArray expected =
            "<Table ID=\"KURS\">\r\n" + number("10422,22").toLatin1() + "\r\n</Table>\r\n";
        QCOMPARE(folder.read(QStringLiteral("TECDAX_k.xml")), expected);
        QCOMPARE(historyPoints(form), 0);
        QCOMPARE(form.distributionChart->barCount(), 2);
    }

    // A restart finds the day: today's file is read back into the chart and the web link, its damaged
    // line skipped; yesterday's file is left alone; the next point is appended to today's.
    void startUpReadsTheDayBack()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        QDir(folder.root.path()).mkpath(QStringLiteral("Verlauf"));
        const QDate today = QDate::currentDate();
        const QString todayFile = QStringLiteral("Verlauf/DAX-%1.csv").arg(today.toString(Qt::ISODate));
        const QString yesterdayFile =
            QStringLiteral("Verlauf/DAX-%1.csv").arg(today.addDays(-1).toString(Qt::ISODate));
        const QByteArray day = today.toString(Qt::ISODate).toLatin1();
        folder.write(todayFile, "Zeit;Index;Bid;Ask;Mittel\n" + day + "T00:00:01;10500,5;;;\ndamaged\n" +
                                    day + "T00:00:02;10501;10400;10600;10500\n");
        folder.write(yesterdayFile, "Zeit;Index;Bid;Ask;Mittel\n");

        MainWindow form(folder.options());
        QCOMPARE(form.historyChart->pointCount(HistorySeries::Index), 2);
        QCOMPARE(form.historyChart->pointCount(HistorySeries::IndexAsk), 1);
        QCOMPARE(form.historyChart->point(HistorySeries::IndexAsk, 0).y(), 10600.0);
        QCOMPARE(form.webLink->snapshot(true).history.size(), 2);

        form.indexTable.setCell(IndexTable::Kurswert, 1, QStringLiteral("13"));
        form.calculate();
        const QByteArray written = folder.read(todayFile);
        QVERIFY2(written.endsWith(";10642,22;;;\n"), written.constData());
        QCOMPARE(form.webLink->historyFile(), written);
        QCOMPARE(folder.read(yesterdayFile), QByteArray("Zeit;Index;Bid;Ask;Mittel\n"));
    }

    void unchangedValueRewritesTheFileButAddsNoPoint()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        QFile::remove(folder.path(QStringLiteral("DAX_k.xml")));
        form.calculate();
        QVERIFY(QFile::exists(folder.path(QStringLiteral("DAX_k.xml"))));
        QCOMPARE(historyPoints(form), 0);
    }

    void changedValueAddsPoints_data()
    {
        QTest::addColumn<bool>("quotes");
        QTest::addColumn<int>("points");
        QTest::newRow("7 columns: only Index") << false << 1;
        QTest::newRow("9 columns: all four") << true << 4;
    }

    void changedValueAddsPoints()
    {
        QFETCH(bool, quotes);
        QFETCH(int, points);
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        if (quotes) {
            form.indexTable.setColumns(9);
            for (int row = 1; row <= 2; ++row) {
                form.indexTable.setCell(IndexTable::BID, row, QStringLiteral("10"));
                form.indexTable.setCell(IndexTable::ASK, row, QStringLiteral("11"));
            }
        }
        form.indexTable.setCell(IndexTable::Kurswert, 1, QStringLiteral("13"));
        form.calculate();
        QCOMPARE(historyPoints(form), points);
        QCOMPARE(form.historyChart->pointCount(HistorySeries::Index), 1);
        QCOMPARE(form.historyChart->point(HistorySeries::Index, 0).y(), 10642.22);
    }

    void indexRecord_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<QString>("indexFirma");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<bool>("written");
        QTest::newRow("all four conditions") << true << "4711" << true << true;
        QTest::newRow("automatic mode off") << false << "4711" << true << false;
        QTest::newRow("IndexFirma 0") << true << "0" << true << false;
        QTest::newRow("menu item unchecked") << true << "4711" << false << false;
    }

    void indexRecord()
    {
        QFETCH(bool, automatic);
        QFETCH(QString, indexFirma);
        QFETCH(bool, checked);
        QFETCH(bool, written);
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        const QString datenpath = folder.norvataSettingsLine();
        QFile::remove(folder.dataFolder() + QStringLiteral("Intraday.db"));
        NorvataLayout::createIntraday(folder.dataFolder() + QStringLiteral("Intraday.db"));
        folder.writeSettings({datenpath});
        MainWindow form(folder.options());
        QVERIFY(form.norvataAvailable);
        form.indexFirmaEdit->setText(indexFirma);
        form.recordIndexValueAction->setChecked(checked);
        if (automatic)
            form.switchAutomaticOn();
        form.indexTable.setCell(IndexTable::Kurswert, 1, QStringLiteral("13"));
        form.calculate();
        form.indexTable.setCell(IndexTable::Kurswert, 1, QStringLiteral("13")); // unchanged: no second record
        form.calculate();
        QCOMPARE(recordsOf(folder, 4711), written ? 1 : 0);
        QVERIFY(!form.norvataTable.isOpen());
    }

    void highlightedCellWrite_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("selected");
        QTest::newRow("lime on ASK of row 3") << QColor(0, 255, 0) << false;
        QTest::newRow("over the selection") << QColor(255, 0, 255) << true;
        QTest::newRow("white is a plain write") << QColor(Qt::white) << false;
    }

    void highlightedCellWrite()
    {
        QFETCH(QColor, colour);
        QFETCH(bool, selected);
        ProgramFolder folder;
        folder.writeInfo();
        MainWindow form(folder.options());
        form.indexTable.setColumns(9);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QModelIndex cell = form.indexTable.index(2, IndexTable::ASK);
        if (selected)
            form.gridView->selectionModel()->select(cell, QItemSelectionModel::Select);
        form.writeHighlightedCell(IndexTable::ASK, 3, QStringLiteral("12,45"), colour);
        QCOMPARE(form.indexTable.cell(IndexTable::ASK, 3), QStringLiteral("12,45"));
        QCOMPARE(form.highlightColour, QColor(Qt::white));
        const QColor expected = colour == QColor(Qt::white) ? QColor() : colour;
        if (expected.isValid())
            QTRY_COMPARE(form.gridCells->lastHighlightDrawn(cell), expected);
        QTest::qWait(50);
        QCOMPARE(form.gridCells->lastHighlightDrawn(cell), expected);
        // Drawn for any other reason, the cell is drawn normally again.
        form.gridView->viewport()->repaint();
        QCOMPARE(form.gridCells->lastHighlightDrawn(cell), QColor());

        // A write while another page shows is drawn the normal way when the table shows again.
        form.pages->setCurrentIndex(1);
        form.writeHighlightedCell(IndexTable::ASK, 3, QStringLiteral("12,5"), colour);
        form.pages->setCurrentIndex(0);
        QTest::qWait(50);
        form.gridView->viewport()->repaint();
        QCOMPARE(form.gridCells->lastHighlightDrawn(cell), QColor());
    }
};

QTEST_MAIN(TestPublication)
#include "test_publication.moc"
