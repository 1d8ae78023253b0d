// The table object on tables made by the tool: appending keeps them valid for pxlib and for the
// structural check, finding walks to the newest price, failures close the table, an interrupted
// append leaves the table as before or after.
#include "norvata/intradaytransfer.h"
#include "norvata/norvatalayout.h"
#include "norvata/norvatatable.h"
#include "paradox/paradoxtable.h"
#include "tests/paradox/tablecheck.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

extern "C" unsigned long px_passwd_checksum(const char *);

namespace {

const QDateTime start(QDate(2024, 3, 1), QTime(9, 0));

QString pxlibText(qint32 firma, const QDateTime &zeit, double kurs)
{
    return QStringLiteral("%1|%2|%3")
        .arg(firma)
        .arg(QString::number(ParadoxField::timestampFromDateTime(zeit), 'g', 17),
             QString::number(kurs, 'g', 17));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Fixture
{
    QTemporaryDir dir;
    QString folder() const { return dir.path() + QLatin1Char('/'); }
    QString intraday() const { return dir.filePath(QStringLiteral("Intraday.db")); }
    QString intradayIndex() const { return dir.filePath(QStringLiteral("Intraday.PX")); }

    explicit Fixture(const QString &password = {}) { NorvataLayout::createIntraday(intraday(), password); }

    // Bulk records (through one rebuild): `ids` ids with `perId` prices a minute apart.
    QStringList fill(int ids, int perId)
    {
        QByteArray csv("Firma;Zeit;Kurs\n");
        QStringList expected;
        for (int id = 1; id <= ids; ++id)
            for (int i = 0; i < perId; ++i) {
                const QDateTime zeit = start.addSecs(60 * i);
                const double kurs = id + i / 100.0;
                csv += QStringLiteral("%1;%2;%3\n")
                           .arg(id)
                           .arg(zeit.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                           .arg(QString::number(kurs, 'g', 17))
                           .toUtf8();
                expected << pxlibText(id, zeit, kurs);
            }
        QBuffer buffer(&csv);
        buffer.open(QIODevice::ReadOnly);
        NorvataLayout::importCsv(intraday(), buffer);
        return expected;
    }

    QStringList problems() const { return TableCheck::structure(intraday(), intradayIndex()); }
};

} // namespace

class TestNorvataTable : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        ParadoxTable::setCommitHook(nullptr);
        ParadoxTable::setLockWait(5000);
    }
    void appendsKeepTableValid_data();
    void appendsKeepTableValid();
    void indexAtTheLevelBoundary_data();
    void indexAtTheLevelBoundary();
    void findWalksToNewestPrice();
    void failuresCloseTheTable_data();
    void failuresCloseTheTable();
    void duplicateKeyChangesNothing();
    void interruptedAppend_data();
    void interruptedAppend();
    void lockedTableIsNotWritten();
    void writersQueue();
    void transferKeepsRecordsWhileLocked();
    void refreshIsOneChange();
    void dumpImportsBack();
    void dumpWritesShortestNumbers();
    void secondaryIndexOfSample();
    void sessionPreparation();
};

void TestNorvataTable::appendsKeepTableValid_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("ids");
    QTest::addColumn<int>("perId");
    QTest::addColumn<int>("appends");
    QTest::newRow("empty table, blocks split") << QString() << 0 << 0 << 400;
    QTest::newRow("two index levels") << QString() << 50 << 300 << 150;
    QTest::newRow("encrypted") << QStringLiteral("PeppiLorenz") << 20 << 200 << 150;
}

void TestNorvataTable::appendsKeepTableValid()
{
    QFETCH(QString, password);
    QFETCH(int, ids);
    QFETCH(int, perId);
    QFETCH(int, appends);
    Fixture fixture(password);
    QStringList expected = fixture.fill(ids, perId);

    NorvataTable table(QLatin1Char(','));
    table.open(fixture.folder(), QStringLiteral("intraday.DB"), QString());
    QRandomGenerator random(42);
    for (int i = 0; i < appends; ++i) {
        // Ids in random order, new and known; times after and between the existing ones.
        const qint32 firma = random.bounded(1, 60);
        const QDateTime zeit = start.addMSecs(random.bounded(0, 400 * 60'000) + 7);
        const double kurs = random.bounded(10000) / 100.0;
        try {
            table.appendRecord(firma, kurs, zeit);
            expected << pxlibText(firma, zeit, kurs);
        } catch (const NorvataError &) {
            // A random duplicate key: the use ends, the table stays as it was.
            QVERIFY(std::any_of(expected.cbegin(), expected.cend(), [&](const QString &record) {
                return record.startsWith(pxlibText(firma, zeit, 0).section(QLatin1Char('|'), 0, 1) +
                                         QLatin1Char('|'));
            }));
            table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
        }
    }
    table.close();
    expected.sort();
    const QStringList problems = fixture.problems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QCOMPARE(TableCheck::recordsViaPxlib(fixture.intraday()), expected);
    ParadoxTable reread(fixture.intraday());
    QVERIFY(TableCheck::pxlibReadsIndex(fixture.intraday(), fixture.intradayIndex()));

    if (!password.isEmpty()) {
        QCOMPARE(reread.data().encryptionKey(), quint32(px_passwd_checksum(password.toLatin1().constData())));
        // No record is stored in the clear.
        QVERIFY(reread.moveFirst());
        QVERIFY(!fileBytes(fixture.intraday()).contains(reread.recordBytes()));
    }
}

void TestNorvataTable::indexAtTheLevelBoundary_data()
{
    // A data block holds 102 prices, an index block 113 entries and is filled to 91 when rebuilt: 91
    // full blocks are the most that one index level covers after a rebuild. Appended prices split the
    // last block until the root is full and the index is rebuilt with a second level.
    QTest::addColumn<int>("bulk");
    QTest::addColumn<int>("appended");
    QTest::addColumn<int>("levels");
    QTest::newRow("one level, full") << 91 * 102 << 0 << 1;
    QTest::newRow("two levels after a rebuild") << 91 * 102 + 1 << 0 << 2;
    QTest::newRow("root filled by splits") << 91 * 102 << 22 * 51 << 1;
    QTest::newRow("root split by appends") << 91 * 102 << 23 * 51 << 2;
    QTest::newRow("20000 prices") << 20000 << 0 << 2;
}

void TestNorvataTable::indexAtTheLevelBoundary()
{
    QFETCH(int, bulk);
    QFETCH(int, appended);
    QFETCH(int, levels);
    Fixture fixture;
    fixture.fill(1, bulk);
    QList<IntradayRecord> records;
    for (int i = 0; i < appended; ++i)
        records.append({2, 1.5, start.addSecs(i)});
    NorvataTable table(QLatin1Char(','));
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    QCOMPARE(table.appendRecords(records), appended);
    table.close();

    QCOMPARE(ParadoxFile(fixture.intradayIndex(), false).indexLevels(), levels);
    const QStringList problems = fixture.problems() + TableCheck::indexChain(fixture.intradayIndex());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QVERIFY(TableCheck::pxlibReadsIndex(fixture.intraday(), fixture.intradayIndex()));
}

void TestNorvataTable::findWalksToNewestPrice()
{
    Fixture fixture;
    fixture.fill(30, 40);
    NorvataTable table(QLatin1Char(','));
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    table.appendRecord(7, 12.5, start.addSecs(3600 * 5)); // newest of id 7
    table.appendRecord(7, 11.25, start.addSecs(-60));     // oldest of id 7

    QVERIFY(table.findKey(QStringLiteral("7")));
    QCOMPARE(table.fieldText(QStringLiteral("Kurs")), QStringLiteral("11,25"));
    QCOMPARE(table.fieldText(QStringLiteral("Firma")), QStringLiteral("7"));
    double newest = 0;
    int walked = 0;
    while (!table.eof() && table.fieldEquals(QStringLiteral("Firma"), QStringLiteral("7"))) {
        newest = table.fieldFloat(QStringLiteral("Kurs"));
        table.next();
        ++walked;
    }
    QCOMPARE(walked, 42);
    QCOMPARE(newest, 12.5);
    QCOMPARE(table.fieldText(QStringLiteral("Firma")), QStringLiteral("8"));

    QVERIFY(!table.findKey(QStringLiteral("31")));
    QVERIFY(!table.findKey(QStringLiteral("0")));
    QVERIFY(table.findKey(QStringLiteral(" 30")));
    while (!table.eof())
        table.next();
    QVERIFY(table.isOpen());
    QCOMPARE(table.fieldText(QStringLiteral("Kurs")), QString()); // past the end: no record
}

void TestNorvataTable::failuresCloseTheTable_data()
{
    QTest::addColumn<QString>("tableName");
    QTest::addColumn<QString>("indexName");
    QTest::addColumn<QString>("action");
    QTest::newRow("key is no integer") << "Intraday.db"
                                       << ""
                                       << "find:abc";
    QTest::newRow("empty key") << "Intraday.db"
                               << ""
                               << "find:";
    QTest::newRow("compare with no integer") << "Intraday.db"
                                             << ""
                                             << "equals:12x";
    QTest::newRow("unknown field") << "Intraday.db"
                                   << ""
                                   << "field:Preis";
    QTest::newRow("missing table") << "Tagesende.db"
                                   << ""
                                   << "";
    QTest::newRow("unknown index") << "firma.db"
                                   << "IKUERZEL"
                                   << "";
}

void TestNorvataTable::failuresCloseTheTable()
{
    QFETCH(QString, tableName);
    QFETCH(QString, indexName);
    QFETCH(QString, action);
    Fixture fixture;
    fixture.fill(3, 3);
    NorvataLayout::createFirma(fixture.dir.filePath(QStringLiteral("firma.db")));
    NorvataTable table;
    try {
        table.open(fixture.folder(), tableName, indexName);
        QVERIFY(table.findKey(QStringLiteral("2")));
        const QString argument = action.section(QLatin1Char(':'), 1);
        if (action.startsWith(QLatin1String("find")))
            table.findKey(argument);
        else if (action.startsWith(QLatin1String("equals")))
            table.fieldEquals(QStringLiteral("Firma"), argument);
        else if (action.startsWith(QLatin1String("field")))
            table.fieldText(argument);
        QFAIL("no failure");
    } catch (const NorvataError &error) {
        QVERIFY(!error.text().isEmpty());
    }
    QVERIFY(!table.isOpen());
    QVERIFY_THROWS_EXCEPTION(NorvataError, table.next());
    // The next use starts afresh.
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    QVERIFY(table.findKey(QStringLiteral("3")));
}

void TestNorvataTable::duplicateKeyChangesNothing()
{
    Fixture fixture;
    fixture.fill(5, 10);
    const QByteArray data = fileBytes(fixture.intraday()), index = fileBytes(fixture.intradayIndex());
    NorvataTable table;
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    QVERIFY_THROWS_EXCEPTION(NorvataError, table.appendRecord(3, 99.0, start.addSecs(120)));
    QVERIFY(!table.isOpen());
    QCOMPARE(fileBytes(fixture.intraday()), data);
    QCOMPARE(fileBytes(fixture.intradayIndex()), index);
}

void TestNorvataTable::interruptedAppend_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("applied");
    QTest::newRow("journal half written") << 1 << false;
    QTest::newRow("journal written") << 2 << true;
    QTest::newRow("first block written") << 3 << true;
    QTest::newRow("all written, not synced") << 4 << true;
    QTest::newRow("synced, journal still there") << 5 << true;
    QTest::newRow("journal removed") << 6 << true;
}

void TestNorvataTable::interruptedAppend()
{
    QFETCH(int, step);
    QFETCH(bool, applied);
    Fixture fixture;
    QStringList expected = fixture.fill(4, 102); // full blocks: the append splits one
    const QStringList before = TableCheck::recordsViaPxlib(fixture.intraday());
    ParadoxTable::setCommitHook([step](int reached) {
        if (reached == step)
            throw std::runtime_error("crash");
    });
    NorvataTable table;
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    QVERIFY_THROWS_EXCEPTION(NorvataError, table.appendRecord(2, 5.5, start.addSecs(30)));
    ParadoxTable::setCommitHook(nullptr);

    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString()); // finishes or drops the change
    table.close();
    QVERIFY(!QFile::exists(fixture.intraday() + QStringLiteral(".zjournal")));
    const QStringList problems = fixture.problems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    if (applied) {
        expected << pxlibText(2, start.addSecs(30), 5.5);
        expected.sort();
        QCOMPARE(TableCheck::recordsViaPxlib(fixture.intraday()), expected);
    } else {
        QCOMPARE(TableCheck::recordsViaPxlib(fixture.intraday()), before);
    }
}

void TestNorvataTable::lockedTableIsNotWritten()
{
    Fixture fixture;
    fixture.fill(2, 2);
    const int other = ::open(QFile::encodeName(fixture.intraday()).constData(), O_RDWR);
    QVERIFY(other >= 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    QCOMPARE(::fcntl(other, F_OFD_SETLK, &lock), 0);
    ParadoxTable::setLockWait(300);
    NorvataTable table;
    QVERIFY_THROWS_EXCEPTION(NorvataError,
                             table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString()));

    lock.l_type = F_RDLCK; // another reader: reading goes on, writing waits for it and then fails
    QCOMPARE(::fcntl(other, F_OFD_SETLK, &lock), 0);
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    QVERIFY(table.findKey(QStringLiteral("2")));
    QVERIFY_THROWS_EXCEPTION(NorvataError, table.appendRecord(1, 1.0, start.addDays(1)));
    ::close(other);
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    table.appendRecord(1, 1.0, start.addDays(1));
    QVERIFY(fixture.problems().isEmpty());
}

void TestNorvataTable::writersQueue()
{
    // Two programs appending at once, with a reader opening the table between: each waits its turn,
    // no append is refused, and the table holds every record once.
    Fixture fixture;
    const QString appender = QCoreApplication::applicationDirPath() + QStringLiteral("/norvataappender");
    QList<QProcess *> writers;
    for (int writer = 0; writer < 2; ++writer) {
        writers << new QProcess(this);
        writers.last()->start(appender, {fixture.folder(), QString::number(writer * 1'000'000),
                                         QStringLiteral("1"), QStringLiteral("60")});
    }
    for (int i = 0; i < 40; ++i) {
        NorvataTable reader;
        reader.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
        QTest::qWait(10);
    }
    for (QProcess *writer : std::as_const(writers)) {
        QVERIFY(writer->waitForFinished(60'000));
        QCOMPARE(writer->exitStatus(), QProcess::NormalExit);
        QCOMPARE(writer->exitCode(), 0);
        delete writer;
    }
    QCOMPARE(ParadoxTable(fixture.intraday()).data().numRecords(), 120u);
    QVERIFY(fixture.problems().isEmpty());
}

void TestNorvataTable::transferKeepsRecordsWhileLocked()
{
    Fixture fixture;
    fixture.fill(1, 1);
    const int other = ::open(QFile::encodeName(fixture.intraday()).constData(), O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    QCOMPARE(::fcntl(other, F_OFD_SETLK, &lock), 0);
    ParadoxTable::setLockWait(100);
    NorvataTable table;
    IntradayTransfer transfer(table);
    const QString name = QStringLiteral("Intraday.db");
    QVERIFY_THROWS_EXCEPTION(NorvataError,
                             transfer.transfer(fixture.folder(), name, {{2, 1.5, start}, {3, 2.5, start}}));
    QVERIFY_THROWS_EXCEPTION(NorvataError, transfer.transfer(fixture.folder(), name, {{4, 3.5, start}}));
    QCOMPARE(transfer.pending().size(), 3);
    ::close(other);
    // The kept ones go first; a record the table holds already is not written twice.
    QCOMPARE(transfer.transfer(fixture.folder(), name, {{5, 4.5, start}, {2, 1.5, start}}), 4);
    QVERIFY(transfer.pending().isEmpty());
    QVERIFY(!table.isOpen());
    QCOMPARE(TableCheck::recordsViaPxlib(fixture.intraday()).size(), 5);
}

void TestNorvataTable::refreshIsOneChange()
{
    // The 40 records of one refresh go in as one journaled change; the one whose key exists is left
    // out and costs the others nothing.
    Fixture fixture;
    QStringList expected = fixture.fill(40, 2);
    QList<IntradayRecord> records;
    for (int id = 1; id <= 40; ++id) {
        records.append({id, 7.5, start.addSecs(id == 13 ? 60 : 3600)});
        if (id != 13)
            expected << pxlibText(id, start.addSecs(3600), 7.5);
    }
    int journals = 0;
    ParadoxTable::setCommitHook([&journals](int reached) { journals += reached == 2; });
    NorvataTable table;
    table.open(fixture.folder(), QStringLiteral("Intraday.db"), QString());
    QCOMPARE(table.appendRecords(records), 39);
    table.close();
    QCOMPARE(journals, 1);
    expected.sort();
    QCOMPARE(TableCheck::recordsViaPxlib(fixture.intraday()), expected);
    QVERIFY(fixture.problems().isEmpty());
}

void TestNorvataTable::dumpImportsBack()
{
    // AREACODES lists cities with ";" and quotes: its dump, imported into an emptied copy, gives the
    // same records.
    const QString samples = QStringLiteral(ZALVENTO_SOURCE_DIR "/../shared/paradox-samples/db/");
    if (!QFileInfo::exists(samples))
        QSKIP("the Paradox sample tables are not beside the project");
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("AREACODES.DB"));
    QVERIFY(QFile::copy(samples + QStringLiteral("AREACODES.DB"), table));
    QVERIFY(
        QFile::copy(samples + QStringLiteral("AREACODES.PX"), dir.filePath(QStringLiteral("AREACODES.PX"))));
    const QStringList original = TableCheck::recordsViaPxlib(table);
    QString text;
    QTextStream out(&text);
    NorvataLayout::dump(table, out);
    out.flush();
    QVERIFY(text.contains(QLatin1Char('"')));
    ParadoxTable(table, true).rebuild({});
    QByteArray csv = text.toUtf8();
    QBuffer buffer(&csv);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(NorvataLayout::importCsv(table, buffer), 370);
    QCOMPARE(TableCheck::recordsViaPxlib(table), original);
}

void TestNorvataTable::dumpWritesShortestNumbers()
{
    Fixture fixture;
    QByteArray csv("Firma;Zeit;Kurs\n1;2026-03-02 09:00:00;163.6\n");
    QBuffer buffer(&csv);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    NorvataLayout::importCsv(fixture.intraday(), buffer);
    QString text;
    QTextStream out(&text);
    NorvataLayout::dump(fixture.intraday(), out);
    out.flush();
    QVERIFY2(text.endsWith(QStringLiteral(";163.6\n")), qPrintable(text));
}

void TestNorvataTable::secondaryIndexOfSample()
{
    // AREACODES has a composite secondary index named "ste" over State.
    const QString folder = QStringLiteral(ZALVENTO_SOURCE_DIR "/../shared/paradox-samples/db/");
    if (!QFileInfo::exists(folder))
        QSKIP("the Paradox sample tables are not beside the project");
    NorvataTable table;
    table.open(folder, QStringLiteral("areacodes.db"), QStringLiteral("ste"));
    QVERIFY(table.findKey(QStringLiteral("CA")));
    QCOMPARE(table.fieldText(QStringLiteral("State")), QStringLiteral("CA"));
    QStringList codes;
    while (!table.eof() && table.fieldText(QStringLiteral("State")) == QLatin1String("CA")) {
        codes << table.fieldText(QStringLiteral("AC"));
        table.next();
    }
    QVERIFY(codes.size() > 10);
    QVERIFY(!table.findKey(QStringLiteral("XX")));
    // CUSTOMER's index over one field is opened by the field's name.
    table.open(folder, QStringLiteral("customer.db"), QStringLiteral("City"));
    QVERIFY(table.findKey(QStringLiteral("Soquel")));
    QCOMPARE(table.fieldText(QStringLiteral("City")), QStringLiteral("Soquel"));
    table.close();
}

void TestNorvataTable::sessionPreparation()
{
    QTemporaryDir dir;
    NorvataTable table;
    table.prepareSession(dir.path() + QLatin1Char('/'));
    QCOMPARE(table.configMode(), NorvataTable::ConfigMode::SessionAliasesOnly);
    QCOMPARE(table.passwords(), QStringList{QStringLiteral("PeppiLorenz")});
    QCOMPARE(table.netFileDirectory(), dir.path() + QLatin1Char('/'));
    QVERIFY_THROWS_EXCEPTION(NorvataError, table.prepareSession(dir.filePath(QStringLiteral("fehlt/"))));
}

QTEST_GUILESS_MAIN(TestNorvataTable)
#include "test_norvatatable.moc"
