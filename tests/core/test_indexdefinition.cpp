#include "core/errors.h"
#include "core/indexdefinition.h"
#include "core/indexfile.h"
#include "core/windows1252.h"
#include "fakeindexwindow.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray crlf(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += Windows1252::encode(line) + "\r\n";
    return bytes;
}

} // namespace

class TestIndexDefinition : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QByteArray &bytes)
    {
        const QString path = dir.filePath(QStringLiteral("Dax.txt"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return path;
    }

private slots:
    void lineReader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("cr only") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("lone lf stays in the line") << QByteArray("a\nb\r\n") << QStringList{"a\nb"};
        QTest::newRow("no final line end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("ctrl-z ends the file") << QByteArray("a\r\nb\x1a\r\nc\r\n") << QStringList{"a", "b"};
        QTest::newRow("empty line") << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("cr cr lf") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("long line") << QByteArray(70000, 'x') << QStringList{QString(70000, QLatin1Char('x'))};
        QTest::newRow("windows-1252")
            << QByteArray("M\xfcnchener R\xfc\x80\r\n") << QStringList{QStringLiteral("Münchener Rü€")};
    }

    void lineReader()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        IndexFile::LineReader reader(bytes);
        QStringList read;
        while (!reader.atEnd())
            read << reader.readLine();
        QCOMPARE(read, lines);
        QCOMPARE(reader.readLine(), QString()); // past the end: empty lines
    }

    void loadWorkedExample()
    {
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        window.definition = &definition;
        window.cells.setColumns(9);
        const QString path = write(crlf(
            {"9", "4711", "A", "111", "12,34", "3", "", "5", "6", "B", "222", "56,78", "1", "", "0", "0"}));
        definition.load(path);
        QCOMPARE(definition.Referenzkurs, 9.0);
        QCOMPARE(definition.IndexFirma, 4711);
        QCOMPARE(window.edit2, QStringLiteral("9"));
        QCOMPARE(window.edit3, QStringLiteral("4711"));
        QCOMPARE(window.cells.rows(), 3);
        QCOMPARE(window.cells.columns(), 7);
        QCOMPARE(window.componentCount, 2);
        QCOMPARE(window.cells.cell(IndexTable::Kurswert, 2), QStringLiteral("56,78"));
        QCOMPARE(window.cells.cell(IndexTable::NV_Ask, 1), QStringLiteral("6"));
        QCOMPARE(window.cells.cell(IndexTable::Wichtung, 0), QStringLiteral("Wichtung in %"));
    }

    void loadShapes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("components");
        QTest::addColumn<double>("referenzkurs");
        QTest::newRow("only lines 1 and 2") << crlf({"9", "0"}) << 0 << 9.0;
        QTest::newRow("empty line at the end") << crlf({"9", "0", ""}) << 1 << 9.0;
        QTest::newRow("short last group")
            << crlf({"9", "0", "A", "1", "2", "3", "4", "5", "6", "B", "7"}) << 2 << 9.0;
        QTest::newRow("fractional divisor")
            << crlf({"1234,5", "0", "A", "1", "2", "3", "4", "5", "6"}) << 1 << 1234.5;
        QTest::newRow("ctrl-z after line 2") << QByteArray("9\r\n0\r\n\x1a"
                                                           "A\r\n")
                                             << 0 << 9.0;
    }

    void loadShapes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, components);
        QFETCH(double, referenzkurs);
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        window.definition = &definition;
        definition.load(write(bytes));
        QCOMPARE(window.cells.rows(), components + 1);
        QCOMPARE(window.componentCount, components);
        QCOMPARE(definition.Referenzkurs, referenzkurs);
    }

    void missingFileKeepsEverything()
    {
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        definition.Referenzkurs = 7;
        definition.IndexFirma = 3;
        window.cells.setCell(IndexTable::Name, 5, QStringLiteral("bleibt"));
        window.cells.setColumns(9);
        definition.load(dir.filePath(QStringLiteral("Foo.txt")));
        QCOMPARE(window.cells.rows(), IndexTable::laidOutRows);
        QCOMPARE(window.cells.columns(), 7);
        QCOMPARE(window.cells.cell(IndexTable::Name, 5), QStringLiteral("bleibt"));
        QCOMPARE(definition.Referenzkurs, 7.0);
        QCOMPARE(definition.IndexFirma, 3);
        QCOMPARE(window.cells.cell(IndexTable::Name, 0), QStringLiteral("Name"));
    }

    void badLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<double>("referenzkurs");
        QTest::newRow("line 1 no number")
            << crlf({"neun", "0"}) << "'neun' ist kein gültiger Gleitkommawert" << 5.0;
        QTest::newRow("divisor beyond the double range")
            << crlf({"1E400", "0"}) << "'1E400' ist kein gültiger Gleitkommawert" << 5.0;
        QTest::newRow("line 2 no integer")
            << crlf({"9", "1,5"}) << "'1,5' ist kein gültiger Integerwert" << 9.0;
        QTest::newRow("lf line ends")
            << QByteArray("9\n0\n") << "'9\n0\n' ist kein gültiger Gleitkommawert" << 5.0;
        QTest::newRow("empty file") << QByteArray() << "'' ist kein gültiger Gleitkommawert" << 5.0;
    }

    void badLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(double, referenzkurs);
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        definition.Referenzkurs = 5;
        definition.IndexFirma = 42;
        window.cells.setCell(IndexTable::Name, 1, QStringLiteral("bleibt"));
        window.cells.setColumns(9);
        try {
            definition.load(write(bytes));
            QFAIL("no error");
        } catch (const ConversionError &e) {
            QCOMPARE(e.text(), message);
        }
        QCOMPARE(definition.IndexFirma, 0);
        QCOMPARE(definition.Referenzkurs, referenzkurs);
        QCOMPARE(window.cells.cell(IndexTable::Name, 1), QStringLiteral("bleibt"));
        QCOMPARE(window.cells.rows(), IndexTable::laidOutRows);
        QCOMPARE(window.cells.columns(), 9); // the load stopped before the column count
    }

    void roundTripOfEveryCell()
    {
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        window.definition = &definition;
        window.edit2 = QStringLiteral("1234,5");
        window.edit3 = QStringLiteral("815");
        const QString fifty = QStringLiteral("Ä€ß") + QString(47, QLatin1Char('x'));
        for (int row = 1; row <= 3; ++row) {
            for (int column = 0; column < 7; ++column)
                window.cells.setCell(column, row, QStringLiteral("%1%2 ÄÖÜäöüß€").arg(row).arg(column));
        }
        window.cells.setCell(IndexTable::Name, 2, fifty);
        window.cells.setCell(IndexTable::WKN, 3, QString());
        window.cells.setRows(4);
        const QString path = dir.filePath(QStringLiteral("Rund.txt"));
        definition.save(path);

        FakeIndexWindow loaded;
        IndexDefinition reloaded(loaded, QLatin1Char(','));
        loaded.definition = &reloaded;
        reloaded.load(path);
        QCOMPARE(loaded.edit2, window.edit2);
        QCOMPARE(loaded.edit3, window.edit3);
        QCOMPARE(loaded.cells.rows(), 4);
        for (int row = 1; row <= 3; ++row) {
            for (int column = 0; column < 7; ++column)
                QCOMPARE(loaded.cells.cell(column, row), window.cells.cell(column, row));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("1234,5\r\n815\r\n"));
        QVERIFY(bytes.contains("\xc4\x80\xdf")); // Ä € ß in Windows-1252
    }

    void writeKeepsTheLayoutOfBadCells()
    {
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        window.definition = &definition;
        window.cells.setCell(IndexTable::Name, 1, QStringLiteral("zwei\r\nZeilen\x1a"));
        window.cells.setCell(IndexTable::WKN, 1, QString(80, QLatin1Char('w')));
        window.cells.setCell(IndexTable::Kurswert, 1, QStringLiteral("12,5"));
        window.cells.setRows(2);
        const QString path = dir.filePath(QStringLiteral("Kaputt.txt"));
        definition.save(path);

        FakeIndexWindow loaded;
        IndexDefinition reloaded(loaded, QLatin1Char(','));
        reloaded.load(path);
        QCOMPARE(loaded.cells.rows(), 2);
        QCOMPARE(loaded.cells.cell(IndexTable::Name, 1), QStringLiteral("zwei  Zeilen "));
        QCOMPARE(loaded.cells.cell(IndexTable::WKN, 1), QString(50, QLatin1Char('w')));
        QCOMPARE(loaded.cells.cell(IndexTable::Kurswert, 1), QStringLiteral("12,5"));
    }

    void failedWriteKeepsTheOldFile()
    {
        QTemporaryDir readOnly;
        const QString path = readOnly.filePath(QStringLiteral("Dax.txt"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("9\r\n0\r\n");
        old.close();
        QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::ExeOwner);
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        const bool root = QFileInfo(readOnly.path()).isWritable();
        if (!root)
            QVERIFY_THROWS_EXCEPTION(FileError, definition.save(path));
        QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(old.open(QIODevice::ReadOnly));
        if (!root)
            QCOMPARE(old.readAll(), QByteArray("9\r\n0\r\n"));
    }

    void edit2TakesWholeNumbersOnly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("referenzkurs");
        QTest::newRow("whole") << "12" << 12.0;
        QTest::newRow("fraction keeps") << "1234,5" << 9.0;
        QTest::newRow("empty keeps") << "" << 9.0;
    }

    void edit2TakesWholeNumbersOnly()
    {
        QFETCH(QString, text);
        QFETCH(double, referenzkurs);
        FakeIndexWindow window;
        IndexDefinition definition(window, QLatin1Char(','));
        definition.Referenzkurs = 9;
        definition.referenzkursEdited(text);
        QCOMPARE(definition.Referenzkurs, referenzkurs);
    }

    void tableCountsNeverEraseTexts()
    {
        IndexTable table;
        table.setCell(8, 20, QStringLiteral("ASK"));
        table.setRows(3);
        table.setColumns(7);
        QCOMPARE(table.rowCount(), 2);
        table.setRows(30);
        table.setColumns(9);
        QCOMPARE(table.cell(8, 20), QStringLiteral("ASK"));
        QCOMPARE(table.data(table.index(19, 8), Qt::DisplayRole).toString(), QStringLiteral("ASK"));
    }
};

QTEST_GUILESS_MAIN(TestIndexDefinition)
#include "test_indexdefinition.moc"
