// Reading real Paradox tables: every sample reads back as pxlib reads it, and finding by key through
// a two-level primary index lands on the right record.
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"
#include "tests/paradox/tablecheck.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
extern "C" {
#include <paradox.h>
}

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

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Copies of the files of one sample folder, to be changed by a test.
struct SampleCopy
{
    QTemporaryDir dir;
    explicit SampleCopy(const QString &folder)
    {
        for (const QFileInfo &file : QDir(samples() + folder).entryInfoList(QDir::Files))
            QFile::copy(file.filePath(), dir.filePath(file.fileName()));
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    void patch(const QString &name, int offset, const QByteArray &bytes) const
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(offset));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    QByteArray all() const
    {
        QByteArray bytes;
        for (const QFileInfo &file : QDir(dir.path()).entryInfoList(QDir::Files, QDir::Name))
            bytes += file.fileName().toUtf8() + fileBytes(file.filePath());
        return bytes;
    }
};

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
    void damagedTablesAreRefused_data();
    void damagedTablesAreRefused();
    void unrepresentableValuesReadAsNull_data();
    void unrepresentableValuesReadAsNull();
    void appendKeepsSecondaryIndexes();
    void unmaintainableSecondaryIndexRefusesAppend();
    void textInTheTablesCodePage_data();
    void textInTheTablesCodePage();
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

void TestParadoxTable::damagedTablesAreRefused_data()
{
    // A copy of a sample with some bytes changed, and what is done with it: "open", "read" (walk all
    // records), "seek" (find the first key) or "insert" (append a record).
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("action");
    const int block = 2048; // the header's size, then block n at 2048 * n
    QTest::newRow("number key declared 4 bytes wide") << "fields"
                                                      << "long.db" << 0x78 << QByteArray("\x06") << "open";
    QTest::newRow("block count below the file's")
        << "db"
        << "CUSTOMER.DB" << 0x0C << QByteArray("\x02\x00", 2) << "insert";
    QTest::newRow("first block out of range")
        << "db"
        << "CUSTOMER.DB" << 0x0E << QByteArray("\x09\x00", 2) << "insert";
    QTest::newRow("next block out of range")
        << "db"
        << "CUSTOMER.DB" << block << QByteArray("\x32\x00", 2) << "insert";
    QTest::newRow("corrupt record count")
        << "db"
        << "CUSTOMER.DB" << 2 * block + 4 << QByteArray("\x05\x00", 2) << "insert";
    QTest::newRow("chain loop, append")
        << "db"
        << "CUSTOMER.DB" << 4 * block << QByteArray("\x02\x00", 2) << "insert";
    QTest::newRow("chain loop, read") << "db"
                                      << "CUSTOMER.DB" << 4 * block << QByteArray("\x02\x00", 2) << "read";
    QTest::newRow("index entry at block 0, find")
        << "db"
        << "CUSTOMER.PX" << block + 6 + 4 << QByteArray("\x80\x00", 2) << "seek";
    QTest::newRow("index entry at block 0, append")
        << "db"
        << "CUSTOMER.PX" << block + 6 + 4 << QByteArray("\x80\x00", 2) << "insert";
}

void TestParadoxTable::damagedTablesAreRefused()
{
    QFETCH(QString, folder);
    QFETCH(QString, file);
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, action);
    SampleCopy copy(folder);
    copy.patch(file, offset, bytes);
    const QString table =
        copy.path(file.endsWith(QLatin1String(".PX")) ? QStringLiteral("CUSTOMER.DB") : file);
    const QByteArray before = copy.all();
    try {
        ParadoxTable paradox(table, true);
        if (action == QLatin1String("read")) {
            // A circle would never end: more steps than records mean the walk did not notice it.
            qint64 steps = 0;
            for (bool more = paradox.moveFirst(); more; more = paradox.moveNext())
                QVERIFY(++steps <= paradox.data().numRecords());
        } else if (action == QLatin1String("seek")) {
            paradox.seek(QByteArray("\x80\x00\x00\x01", 4));
        } else if (action == QLatin1String("insert")) {
            QByteArray record(paradox.data().recordSize(), '\0');
            paradox.fields().at(0).setValue(record.data(), 99);
            paradox.insert(record);
        }
        QFAIL("damage went unnoticed");
    } catch (const ParadoxError &error) {
        QVERIFY(!error.text().isEmpty());
    }
    QCOMPARE(copy.all(), before);
}

void TestParadoxTable::unrepresentableValuesReadAsNull_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("timestamp not a number") << int(ParadoxField::Timestamp) << QByteArray(8, '\xff');
    QTest::newRow("timestamp infinite")
        << int(ParadoxField::Timestamp) << QByteArray("\xff\xf0\0\0\0\0\0\0", 8);
    QTest::newRow("timestamp 1e300 ms")
        << int(ParadoxField::Timestamp) << QByteArray("\xfe\x36\x7b\xc7\x63\x8d\x5f\xc1", 8);
    QTest::newRow("time past midnight") << int(ParadoxField::Time) << QByteArray("\xff\xff\xff\xff", 4);
}

void TestParadoxTable::unrepresentableValuesReadAsNull()
{
    QFETCH(int, type);
    QFETCH(QByteArray, bytes);
    ParadoxField field;
    field.type = static_cast<quint8>(type);
    field.size = static_cast<int>(bytes.size());
    QVERIFY(!field.value(bytes.constData()).isValid());
}

void TestParadoxTable::appendKeepsSecondaryIndexes()
{
    SampleCopy copy(QStringLiteral("db"));
    {
        ParadoxTable customer(copy.path(QStringLiteral("CUSTOMER.DB")), true);
        QByteArray record(customer.data().recordSize(), '\0');
        customer.fields().at(0).setValue(record.data(), 45);
        customer.fields()
            .at(customer.data().fieldIndex(QStringLiteral("City")))
            .setValue(record.data(), QStringLiteral("Boulder Creek"));
        customer.insert(record);
    }
    for (const auto &[table, index] :
         {std::pair{"CUSTOMER.DB", "CUSTOMER.PX"}, std::pair{"CUSTOMER.X06", "CUSTOMER.Y06"}}) {
        const QStringList problems = TableCheck::structure(copy.path(QString::fromLatin1(table)),
                                                           copy.path(QString::fromLatin1(index)));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        QCOMPARE(TableCheck::recordsViaPxlib(copy.path(QString::fromLatin1(table))).size(), 21);
    }
    QCOMPARE(ParadoxFile::headerLong(fileBytes(copy.path(QStringLiteral("CUSTOMER.DB"))), 0x49), 45u);
    // The append split the last block: every entry names the block its record now lies in.
    ParadoxTable customer(copy.path(QStringLiteral("CUSTOMER.DB")));
    ParadoxTable city(copy.path(QStringLiteral("CUSTOMER.X06")));
    for (bool more = city.moveFirst(); more; more = city.moveNext()) {
        const QByteArray custNo(city.record() + city.fields().at(1).offset, 4);
        QVERIFY(customer.seek(custNo));
        QCOMPARE(city.fields().at(2).value(city.record()).toInt(), customer.blockNumber());
    }
}

void TestParadoxTable::unmaintainableSecondaryIndexRefusesAppend()
{
    // The composite index of AREACODES orders its states under a national sort order that this layer
    // cannot follow for "--": the append is refused, naming the index, and nothing is written.
    SampleCopy copy(QStringLiteral("db"));
    const QByteArray before = copy.all();
    ParadoxTable areacodes(copy.path(QStringLiteral("AREACODES.DB")), true);
    QByteArray record(areacodes.data().recordSize(), '\0');
    areacodes.fields().at(0).setValue(record.data(), QStringLiteral("999"));
    areacodes.fields().at(1).setValue(record.data(), QStringLiteral("ZZ"));
    try {
        areacodes.insert(record);
        QFAIL("the append went through");
    } catch (const ParadoxError &error) {
        QVERIFY2(error.text().contains(QLatin1String("AREACODES.XG0")), qPrintable(error.text()));
    }
    QCOMPARE(copy.all(), before);
}

void TestParadoxTable::textInTheTablesCodePage_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fits");
    QTest::newRow("850, umlaut") << 850 << QStringLiteral("Fünf Äpfel") << true;
    QTest::newRow("437, sharp s") << 437 << QStringLiteral("Straße") << true;
    QTest::newRow("1252, euro") << 1252 << QStringLiteral("5 €") << true;
    QTest::newRow("850 has no euro") << 850 << QStringLiteral("5 €") << false;
    QTest::newRow("1252 has no ruble") << 1252 << QStringLiteral("5 ₽") << false;
}

void TestParadoxTable::textInTheTablesCodePage()
{
    QFETCH(int, codePage);
    QFETCH(QString, name);
    QFETCH(bool, fits);
    SampleCopy copy(QStringLiteral("db"));
    const QString path = copy.path(QStringLiteral("CUSTOMER.DB"));
    copy.patch(QStringLiteral("CUSTOMER.DB"), 0x6A,
               QByteArray(1, char(codePage & 0xFF)) + char(codePage >> 8));
    ParadoxTable table(path, true);
    QByteArray record(table.data().recordSize(), '\0');
    table.fields().at(0).setValue(record.data(), 46); // the highest number: the table's last record
    const ParadoxField &field = table.fields().at(table.data().fieldIndex(QStringLiteral("FirstName")));
    if (!fits) {
        QVERIFY_THROWS_EXCEPTION(ParadoxError, field.setValue(record.data(), name));
        return;
    }
    field.setValue(record.data(), name);
    table.insert(record);
    QVERIFY(table.seek(record.left(table.data().keySize())));
    QCOMPARE(field.value(table.record()).toString(), name);

    // pxlib converts from the code page the header names.
    pxdoc_t *doc = PX_new();
    QVERIFY(PX_open_file(doc, QFile::encodeName(path).constData()) >= 0);
    PX_set_targetencoding(doc, "UTF-8");
    QByteArray data(doc->px_head->px_recordsize, '\0');
    QVERIFY(PX_get_record(doc, PX_get_num_records(doc) - 1, data.data()));
    char *text = nullptr;
    QVERIFY(PX_get_data_alpha(doc, data.data() + field.offset, field.size, &text) > 0);
    const QString read = QString::fromUtf8(text);
    doc->free(doc, text);
    PX_close(doc);
    PX_delete(doc);
    QCOMPARE(read, name);
}

QTEST_GUILESS_MAIN(TestParadoxTable)
#include "test_paradoxtable.moc"
