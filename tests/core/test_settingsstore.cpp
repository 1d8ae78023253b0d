#include "core/settingsstore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void readsTypedValues()
    {
        SettingsStore store(QString{});
        store.parse("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n"
                    "\"Datenpath\"=\"/home/anna/norvata \\\"neu\\\"/\"\r\n"
                    "\"IndexQuelle\"=dword:ffffffff\r\n"
                    "\"Archiv\"=hex(2):2f,74,6d,70,2f,\\\r\n  00\r\n"
                    "\"indexwidth\"=dword:00000320\r\n");
        QCOMPARE(store.readString("Datenpath"), QStringLiteral("/home/anna/norvata \"neu\"/"));
        QCOMPARE(store.readInteger("IndexQuelle"), -1);
        QCOMPARE(store.readString("Archiv"), QStringLiteral("/tmp/"));
        QCOMPARE(store.readInteger("Indexwidth"), 800); // names ignore case
        QVERIFY(!store.valueExists("Indexheight"));
    }

    void wrongTypesThrow_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("asText");
        QTest::newRow("text read as integer") << QByteArray("\"V\"=\"1\"") << false;
        QTest::newRow("integer read as text") << QByteArray("\"V\"=dword:00000001") << true;
        QTest::newRow("binary read as text") << QByteArray("\"V\"=hex:01,02") << true;
        QTest::newRow("binary read as integer") << QByteArray("\"V\"=hex:01,02") << false;
    }

    void wrongTypesThrow()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, asText);
        SettingsStore store(QString{});
        store.parse("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n" + line + "\r\n");
        QVERIFY(store.valueExists("V"));
        if (asText)
            QVERIFY_THROWS_EXCEPTION(SettingsTypeError, store.readString("V"));
        else
            QVERIFY_THROWS_EXCEPTION(SettingsTypeError, store.readInteger("V"));
    }

    void damagedLinesAreSkippedAndKept()
    {
        SettingsStore store(QString{});
        const QByteArray damaged = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"X\"=\"y\"\r\n\r\n"
                                   "[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n"
                                   "\"Kaputt\r\n"
                                   "\"Zahl\"=dword:zz\r\n"
                                   "\x01\xff m\xfcll\r\n"
                                   "\"IndexQuelle\"=dword:00000001\r\n"
                                   "[HKEY_CURRENT_USER\\Danach]\r\n\"Z\"=dword:00000002\r\n";
        store.parse(damaged);
        QCOMPARE(store.readInteger("IndexQuelle"), 1);
        QVERIFY(!store.valueExists("Zahl"));
        store.writeInteger("IndexQuelle", 0);
        store.writeInteger("Indexwidth", 700);
        const QByteArray written = store.compose();
        QVERIFY(written.contains("\"Kaputt\r\n"));
        QVERIFY(written.contains("\"Zahl\"=dword:zz\r\n"));
        QVERIFY(written.contains("[HKEY_CURRENT_USER\\Other]\r\n\"X\"=\"y\""));
        QVERIFY(written.contains("[HKEY_CURRENT_USER\\Danach]\r\n\"Z\"=dword:00000002"));
        QVERIFY(written.contains("\"IndexQuelle\"=dword:00000000\r\n\"Indexwidth\"=dword:000002bc"));
        SettingsStore again(QString{});
        again.parse(written);
        QCOMPARE(again.readInteger("Indexwidth"), 700);
    }

    // Only a hex value list continues onto the next line; a header or a value line after a dangling
    // continuation mark stays a line of its own, and a file read and written back keeps its bytes.
    void unchangedFileKeepsItsBytes_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("hasIndexQuelle");
        const QByteArray section = "[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n";
        QTest::newRow("two backslashes") << QByteArray("\\\\") << false;
        QTest::newRow("hex list before the header")
            << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"B\"=hex:01,02,\\\r\n" + section +
                   "\"Datenpath\"=\"/d/\"\r\n\"IndexQuelle\"=dword:00000001\r\n"
            << true;
        QTest::newRow("hex list before a value")
            << "REGEDIT4\r\n\r\n" + section + "\"B\"=hex:01,\\\n\"IndexQuelle\"=DWORD:1\n"
            << true;
        QTest::newRow("continued list, no final line end")
            << "REGEDIT4\n" + section + "\"A\"=hex(2):2f,\\\r\n  00\r\n\"IndexQuelle\"=dword:00000001"
            << true;
    }

    void unchangedFileKeepsItsBytes()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, hasIndexQuelle);
        SettingsStore store(QString{});
        store.parse(file);
        QCOMPARE(store.valueExists("IndexQuelle"), hasIndexQuelle);
        if (hasIndexQuelle) {
            QCOMPARE(store.readInteger("IndexQuelle"), 1);
            store.writeInteger("IndexQuelle", 1); // the program writes its values back at every close
        }
        QCOMPARE(store.compose(), file);
    }

    void everyPrefixOfAFileParses()
    {
        const QByteArray good =
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n"
            "\"Datenpath\"=\"/daten/\"\r\n\"Archiv\"=hex(2):2f,00\r\n\"IndexQuelle\"=dword:00000001\r\n";
        for (int length = 0; length <= good.size(); ++length) {
            SettingsStore store(QString{});
            store.parse(good.left(length));
            SettingsStore reread(QString{});
            reread.parse(store.compose());
        }
    }

    void saveCreatesTheFolderAndWritesAtomically()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("config/Quenkel/Norvata.reg");
        SettingsStore store(path);
        store.openKey();
        store.writeInteger("IndexEintragen", 1);
        store.save();
        SettingsStore reread(path);
        reread.openKey();
        QCOMPARE(reread.readInteger("IndexEintragen"), 1);
        QCOMPARE(QDir(dir.filePath("config/Quenkel")).entryList(QDir::Files), QStringList{"Norvata.reg"});
    }

    void folderThatCannotBeCreated()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("Quenkel"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        SettingsStore store(dir.filePath("Quenkel/Norvata.reg"));
        try {
            store.openKey();
            QFAIL("no error");
        } catch (const ZalventoError &e) {
            QCOMPARE(e.text(),
                     QStringLiteral("Erzeugung von Schlüssel \\SOFTWARE\\Quenkel\\Norvata misslungen"));
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
