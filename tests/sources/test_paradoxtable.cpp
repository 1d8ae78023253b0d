// Reading real Paradox tables: every sample reads back as pxlib reads it, and finding by key through
// a two-level primary index lands on the right record.
#include "sources/paradoxerror.h"
#include "sources/paradoxtable.h"
#include "tablecheck.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString samples()
{
    return QStringLiteral(ZALVENTO_SOURCE_DIR "/../shared/paradox-samples/");
}

QString recordText(const ParadoxTable &table)
{
    QStringList cells;
    for (const ParadoxField &field : table.fields()) {
        const char *record = table.record();
        if (field.isNull(record)) {
            cells << QStringLiteral("<null>");
            continue;
        }
        const QVariant value = field.value(record);
        switch (field.type) {
        case ParadoxField::Alpha:
        case ParadoxField::Short:
        case ParadoxField::Long:
        case ParadoxField::AutoIncrement:
            cells << value.toString();
            break;
        case ParadoxField::Number:
        case ParadoxField::Currency:
            cells << QString::number(value.toDouble(), 'g', 17);
            break;
        case ParadoxField::Timestamp:
            cells << QString::number(ParadoxField::timestampFromDateTime(value.toDateTime()), 'g', 17);
            break;
        case ParadoxField::Date:
            cells << QString::number(QDate(1, 1, 1).daysTo(value.toDate()) + 1);
            break;
        case ParadoxField::Time:
            cells << QString::number(value.toTime().msecsSinceStartOfDay());
            break;
        default:
            cells << QString::fromLatin1(QByteArray(record + field.offset, field.size).toHex());
        }
    }
    return cells.join(QLatin1Char('|'));
}

} // namespace

class TestParadoxTable : public QObject
{
    Q_OBJECT

private slots:
    // The real Paradox tables lie in the shared folder beside the project, not in the project itself.
    void initTestCase()
    {
        if (!QFileInfo::exists(samples()))
            QSKIP(qPrintable(QStringLiteral("the Paradox sample tables are not at %1").arg(samples())));
    }

    void samplesReadAsPxlibReadsThem_data();
    void samplesReadAsPxlibReadsThem();
    void seekThroughTwoLevelIndex();
    void germanTextAndTimestamps();
    void damagedFilesFailCleanly_data();
    void damagedFilesFailCleanly();
};

void TestParadoxTable::samplesReadAsPxlibReadsThem_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("index");
    QTest::newRow("zipcodes, two-level index") << "areas/ZIPCODES.DB"
                                               << "areas/ZIPCODES.PX";
    QTest::newRow("areacodes") << "db/AREACODES.DB"
                               << "db/AREACODES.PX";
    QTest::newRow("customer") << "db/CUSTOMER.DB"
                              << "db/CUSTOMER.PX";
    QTest::newRow("orders") << "db/ORDERS.DB"
                            << "db/ORDERS.PX";
    QTest::newRow("server") << "db/SERVER.DB"
                            << "db/SERVER.PX";
    QTest::newRow("long") << "fields/long.db"
                          << "fields/long.px";
    QTest::newRow("timestamp") << "fields/timestamp.db"
                               << "";
    QTest::newRow("typsammlung") << "typsammlung/TypSammlung.DB"
                                 << "";
    QTest::newRow("encrypted") << "encrypted.db"
                               << "";
    QTest::newRow("encrypted 3.5") << "encrypted35.db"
                                   << "";
}

void TestParadoxTable::samplesReadAsPxlibReadsThem()
{
    QFETCH(QString, table);
    QFETCH(QString, index);
    ParadoxTable paradox(samples() + table);
    QCOMPARE(paradox.hasPrimaryIndex(), !index.isEmpty());
    QStringList ours;
    for (bool more = paradox.moveFirst(); more; more = paradox.moveNext())
        ours << recordText(paradox);
    QVERIFY(paradox.atEnd());
    QCOMPARE(qint64(ours.size()), qint64(paradox.data().numRecords()));
    ours.sort();
    QCOMPARE(ours, TableCheck::recordsViaPxlib(samples() + table));
    if (!index.isEmpty()) {
        const QStringList problems = TableCheck::structure(samples() + table, samples() + index);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }
}

void TestParadoxTable::seekThroughTwoLevelIndex()
{
    ParadoxTable table(samples() + QStringLiteral("areas/ZIPCODES.DB"));
    QCOMPARE(table.data().numRecords(), 43185u);
    QList<QByteArray> records;
    for (bool more = table.moveFirst(); more; more = table.moveNext())
        records << table.recordBytes();
    const int keySize = table.data().keySize();
    for (qsizetype i = 0; i < records.size(); i += 487) {
        QVERIFY(table.seek(records.at(i).left(keySize)));
        QCOMPARE(table.recordBytes(), records.at(i));
    }
    QVERIFY(table.seek(records.last().left(keySize)));
    QVERIFY(!table.moveNext());
    QVERIFY(table.atEnd());
    // A key before the first, between two, and after the last is not found and moves nothing.
    QVERIFY(table.seek(records.first().left(keySize)));
    QVERIFY(!table.seek(QByteArray(keySize, '\0')));
    QVERIFY(!table.seek(QByteArray(keySize, '\xff')));
    QCOMPARE(table.recordBytes(), records.first());
}

void TestParadoxTable::germanTextAndTimestamps()
{
    ParadoxTable types(samples() + QStringLiteral("typsammlung/TypSammlung.DB"));
    QString all;
    for (bool more = types.moveFirst(); more; more = types.moveNext())
        for (const ParadoxField &field : types.fields())
            if (field.type == ParadoxField::Alpha)
                all += field.value(types.record()).toString();
    QVERIFY2(all.contains(QRegularExpression(QStringLiteral("[äöüÄÖÜß]"))), qPrintable(all));

    ParadoxTable stamps(samples() + QStringLiteral("fields/timestamp.db"));
    int seen = 0;
    for (bool more = stamps.moveFirst(); more; more = stamps.moveNext())
        for (const ParadoxField &field : stamps.fields())
            if (field.type == ParadoxField::Timestamp && !field.isNull(stamps.record())) {
                const QDateTime value = field.value(stamps.record()).toDateTime();
                QVERIFY(value.isValid());
                QVERIFY(value.date().year() > 1900 && value.date().year() < 2100);
                ++seen;
            }
    QVERIFY(seen > 0);
}

void TestParadoxTable::damagedFilesFailCleanly_data()
{
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("offset");
    QTest::addColumn<char>("byte");
    QTest::newRow("empty file") << 0 << -1 << '\0';
    QTest::newRow("header cut") << 100 << -1 << '\0';
    QTest::newRow("block missing") << 2048 + 100 << -1 << '\0';
    QTest::newRow("bad file type") << -1 << 4 << '\x33';
    QTest::newRow("bad block size") << -1 << 5 << '\0';
    QTest::newRow("no fields") << -1 << 0x21 << '\0';
    QTest::newRow("record count past block") << -1 << 2048 + 5 << '\x7f';
}

void TestParadoxTable::damagedFilesFailCleanly()
{
    QFETCH(int, keep);
    QFETCH(int, offset);
    QFETCH(char, byte);
    QTemporaryDir dir;
    QFile original(samples() + QStringLiteral("db/CUSTOMER.DB"));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray bytes = original.readAll();
    if (keep >= 0)
        bytes.truncate(keep);
    if (offset >= 0)
        bytes[offset] = byte;
    QFile copy(dir.filePath(QStringLiteral("damaged.db")));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(bytes);
    copy.close();
    try {
        ParadoxTable table(copy.fileName());
        for (bool more = table.moveFirst(); more; more = table.moveNext())
            (void)table.recordBytes();
        QFAIL("damage went unnoticed");
    } catch (const ParadoxError &error) {
        QVERIFY(!error.text().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestParadoxTable)
#include "test_paradoxtable.moc"
