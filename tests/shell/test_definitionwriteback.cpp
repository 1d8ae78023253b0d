#include "shell/definitionwriteback.h"

#include <QTest>

class TestDefinitionWriteBack : public QObject
{
    Q_OBJECT

private slots:
    // Steps: an index name for a start-up that ran, "!" for a damaged load.
    void fileName_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("file"); // empty: none written
        QTest::newRow("before any start-up") << QStringList{} << "";
        QTest::newRow("the index last run for") << QStringList{"Dax", "MDax"} << "MDax.txt";
        QTest::newRow("a typed new name") << QStringList{"Dax", "Foo"} << "Foo.txt";
        QTest::newRow("a damaged file keeps its content") << QStringList{"Dax", "MDax", "!"} << "";
        QTest::newRow("a good load after a damaged one") << QStringList{"MDax", "!", "Dax"} << "Dax.txt";
        QTest::newRow("an emptied choice names no file") << QStringList{"Dax", ""} << "";
    }

    void fileName()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, file);
        DefinitionWriteBack writeBack;
        for (const QString &step : steps) {
            if (step == QLatin1String("!"))
                writeBack.loadFailed();
            else
                writeBack.startUpRan(step);
        }
        QCOMPARE(writeBack.fileName().value_or(QString()), file);
    }
};

QTEST_GUILESS_MAIN(TestDefinitionWriteBack)
#include "test_definitionwriteback.moc"
