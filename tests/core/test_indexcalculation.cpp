#include "core/indexcalculation.h"
#include "fakeindexwindow.h"

#include <QTest>

namespace {

const QString kursOderWichtung = QStringLiteral("Fehler - in Kurs oder Wichtung");
const QString berechnung = QStringLiteral("Fehler - in Berechnung des Index");
const QString prozent = QStringLiteral("Fehler - in Prozent der Wichtung");

struct Fixture
{
    explicit Fixture(QChar separator = QLatin1Char(',')) : definition(window, separator)
    {
        window.definition = &definition;
    }
    FakeIndexWindow window;
    IndexDefinition definition;
    RecordingPublication publication;
    IndexCalculation calculation{window, definition, publication};

    QString column4(int row) const { return window.cells.cell(IndexTable::Wichtung, row); }
};

} // namespace

class TestIndexCalculation : public QObject
{
    Q_OBJECT

private slots:
    void workedExample_data()
    {
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("value");
        QTest::newRow("German") << QChar(QLatin1Char(',')) << "10422,22";
        QTest::newRow("English") << QChar(QLatin1Char('.')) << "10422.22";
    }

    void workedExample()
    {
        QFETCH(QChar, separator);
        QFETCH(QString, value);
        Fixture f(separator);
        const auto n = [&](const char *text) {
            return QString::fromLatin1(text).replace(QLatin1Char(','), separator);
        };
        f.window.setComponents({{n("12,34"), QStringLiteral("3")}, {n("56,78"), QStringLiteral("1")}});
        f.definition.Referenzkurs = 9;
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList());
        QCOMPARE(f.calculation.Summe, 93.8);
        QCOMPARE(f.window.label, value);
        QCOMPARE(f.window.direction, IndexDirection::Rising);
        QCOMPARE(f.column4(1), n("39,47"));
        QCOMPARE(f.column4(2), n("60,53"));
        QCOMPARE(f.publication.log,
                 QStringList({QStringLiteral("value ") + value, "Index 10422.2", "record 10422.2",
                              "clear bars", "bar 1 39.47 Wert 1", "bar 2 60.53 Wert 2"}));
    }

    void unchangedValueIsPublishedButNotRecorded()
    {
        Fixture f;
        f.window.setComponents({{QStringLiteral("12,34"), QStringLiteral("3")}});
        f.definition.Referenzkurs = 9;
        f.calculation.calculate();
        f.publication.log.clear();
        f.calculation.calculate();
        QCOMPARE(f.window.direction, IndexDirection::Unchanged);
        QCOMPARE(f.publication.log, QStringList({"value 4113,33", "clear bars", "bar 1 100 Wert 1"}));
    }

    void directionColours()
    {
        Fixture f;
        f.window.setComponents({{QStringLiteral("10"), QStringLiteral("1")}});
        f.definition.Referenzkurs = 1000;
        f.calculation.calculate();
        QCOMPARE(f.window.label, QStringLiteral("10"));
        f.window.cells.setCell(IndexTable::Kurswert, 1, QStringLiteral("9,5"));
        QCOMPARE(f.calculation.calculate(), IndexDirection::Falling);
        QCOMPARE(f.calculation.direction, IndexDirection::Falling);
        QCOMPARE(f.window.label, QStringLiteral("9,5"));
        QCOMPARE(f.window.direction, IndexDirection::Falling);
        QVERIFY(f.publication.log.contains(QStringLiteral("record 9.5")));
    }

    void withQuotes_data()
    {
        QTest::addColumn<QStringList>("bids");
        QTest::addColumn<QStringList>("asks");
        QTest::addColumn<QStringList>("points");
        QTest::newRow("all series") << QStringList{"12", "56"} << QStringList{"13", "57"}
                                    << QStringList{"Index 10422.2", "Index_ASK 10666.7", "Index_BID 10222.2",
                                                   "Index_Mittel 10444.4"};
        QTest::newRow("bids all 0") << QStringList{"0", "0"} << QStringList{"13", "57"}
                                    << QStringList{"Index 10422.2", "Index_ASK 10666.7",
                                                   "Index_Mittel 5333.33"};
    }

    void withQuotes()
    {
        QFETCH(QStringList, bids);
        QFETCH(QStringList, asks);
        QFETCH(QStringList, points);
        Fixture f;
        f.window.setComponents(
            {{QStringLiteral("12,34"), QStringLiteral("3")}, {QStringLiteral("56,78"), "1"}});
        f.window.cells.setColumns(9);
        for (int row = 1; row <= 2; ++row) {
            f.window.cells.setCell(IndexTable::BID, row, bids[row - 1]);
            f.window.cells.setCell(IndexTable::ASK, row, asks[row - 1]);
        }
        f.definition.Referenzkurs = 9;
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList());
        QStringList history;
        for (const QString &entry : f.publication.log) {
            if (entry.startsWith(QLatin1String("Index")))
                history << entry;
        }
        QCOMPARE(history, points);
        QVERIFY(f.publication.log.indexOf(QStringLiteral("record 10422.2")) >
                f.publication.log.indexOf(points.last()));
    }

    // A failing cell in step 1 leaves everything but the products of the rows before it.
    void stepOneFailures_data()
    {
        QTest::addColumn<int>("failingRow");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("failingRowHasProduct");
        QTest::newRow("empty price") << 2 << int(IndexTable::Kurswert) << "" << false;
        QTest::newRow("grouped price") << 2 << int(IndexTable::Kurswert) << "1.234,56" << false;
        QTest::newRow("empty factor") << 1 << int(IndexTable::Fi) << "" << false;
        QTest::newRow("empty bid") << 2 << int(IndexTable::BID) << "" << true;
        QTest::newRow("product overflows") << 2 << int(IndexTable::Fi) << "1E4000" << false;
    }

    void stepOneFailures()
    {
        QFETCH(int, failingRow);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(bool, failingRowHasProduct);
        Fixture f;
        f.window.setComponents({{"1", "1"}, {"1E300", "1"}, {"3", "1"}});
        f.definition.Referenzkurs = 1;
        f.window.cells.setCell(IndexTable::Kurswert, 2, QStringLiteral("2"));
        f.calculation.calculate(); // a good run first: label 6000, Summe 6
        f.publication.log.clear();
        f.window.cells.setColumns(9);
        for (int row = 1; row <= 3; ++row) {
            f.window.cells.setCell(IndexTable::BID, row, QStringLiteral("1"));
            f.window.cells.setCell(IndexTable::ASK, row, QStringLiteral("1"));
            f.window.cells.setCell(IndexTable::Kurswert, row, QStringLiteral("5"));
        }
        if (text == QLatin1String("1E4000"))
            f.window.cells.setCell(IndexTable::Kurswert, failingRow, text);
        f.window.cells.setCell(column, failingRow, text);
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList{kursOderWichtung});
        QCOMPARE(f.calculation.Summe, 6.0);
        QCOMPARE(f.window.label, QStringLiteral("6000"));
        QCOMPARE(f.publication.log, QStringList());
        for (int row = 1; row < failingRow; ++row)
            QCOMPARE(f.column4(row), QStringLiteral("5"));
        QCOMPARE(f.column4(failingRow) == QLatin1String("5"), failingRowHasProduct);
    }

    void zeroDivisor()
    {
        Fixture f;
        f.window.setComponents({{"2", "3"}});
        f.definition.Referenzkurs = 0;
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList{berechnung});
        QCOMPARE(f.publication.log, QStringList());
        QCOMPARE(f.column4(1), QStringLiteral("6"));
        QCOMPARE(f.calculation.Summe, 6.0);
    }

    void stepTwoToSixFailures_data()
    {
        QTest::addColumn<QString>("price");
        QTest::newRow("index beyond the rounding range") << "1E16";
        QTest::newRow("sum beyond double")
            << "1E300"; // the extended product is written; the double sum overflows
    }

    void stepTwoToSixFailures()
    {
        QFETCH(QString, price);
        Fixture f;
        f.window.setComponents({{price, "1E300"}});
        f.window.cells.setCell(IndexTable::Fi, 1,
                               price == QLatin1String("1E16") ? QStringLiteral("1") : price);
        f.definition.Referenzkurs = 1;
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList{berechnung});
        QCOMPARE(f.window.label, QString());
    }

    void failingHistoryPointEndsTheCalculation()
    {
        Fixture f;
        f.window.setComponents({{"2", "3"}});
        f.definition.Referenzkurs = 1;
        f.publication.failHistory = true;
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList{berechnung});
        QCOMPARE(f.publication.log, QStringList{"value 6000"});
        QCOMPARE(f.window.label, QString());
    }

    void allProductsZero()
    {
        Fixture f;
        f.window.setComponents({{"0", "3"}, {"0", "1"}});
        f.definition.Referenzkurs = 9;
        f.window.label = QStringLiteral("5");
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList{prozent});
        QCOMPARE(f.window.label, QStringLiteral("0"));
        QCOMPARE(f.publication.log.last(), QStringLiteral("clear bars"));
        QCOMPARE(f.column4(1), QStringLiteral("0"));
    }

    void noComponents()
    {
        Fixture f;
        f.window.setComponents({});
        f.definition.Referenzkurs = 9;
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList());
        QCOMPARE(f.window.label, QString()); // 0 equals the previous value 0
        QCOMPARE(f.window.direction, IndexDirection::Unchanged);
        QCOMPARE(f.publication.log, QStringList({"value 0", "clear bars"}));
    }

    void firstStartWithEmptyRows()
    {
        Fixture f; // 29 empty component rows as laid out
        f.calculation.calculate();
        QCOMPARE(f.window.messages, QStringList{kursOderWichtung});
    }
};

QTEST_GUILESS_MAIN(TestIndexCalculation)
#include "test_indexcalculation.moc"
