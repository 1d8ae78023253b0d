#include "core/errors.h"
#include "core/valuexmlfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestValueXmlFile : public QObject
{
    Q_OBJECT

private slots:
    void compose_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("German separator")
            << "5123,45" << QByteArray("<Table ID=\"KURS\">\r\n5123,45\r\n</Table>\r\n");
        QTest::newRow("point separator")
            << "5123.45" << QByteArray("<Table ID=\"KURS\">\r\n5123.45\r\n</Table>\r\n");
        QTest::newRow("before the first calculation")
            << "1000" << QByteArray("<Table ID=\"KURS\">\r\n1000\r\n</Table>\r\n");
        QTest::newRow("empty") << "" << QByteArray("<Table ID=\"KURS\">\r\n\r\n</Table>\r\n");
        QTest::newRow("markup is escaped")
            << "<a&b>" << QByteArray("<Table ID=\"KURS\">\r\n&lt;a&amp;b&gt;\r\n</Table>\r\n");
        QTest::newRow("line break stays on its line")
            << "1\r\n2" << QByteArray("<Table ID=\"KURS\">\r\n1  2\r\n</Table>\r\n");
        QTest::newRow("Windows-1252")
            << QStringLiteral("1 €") << QByteArray("<Table ID=\"KURS\">\r\n1 \x80\r\n</Table>\r\n");
    }

    void compose()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, bytes);
        QCOMPARE(ValueXmlFile::compose(value), bytes);
    }

    void pathIsJoinedDirectly()
    {
        QCOMPARE(ValueXmlFile::path(QStringLiteral("/data/norvata/"), QStringLiteral("TECDAX")),
                 QStringLiteral("/data/norvata/TECDAX_k.xml"));
        // The folder text is a prefix: nothing is inserted between the parts.
        QCOMPARE(ValueXmlFile::path(QStringLiteral("/data/x"), QStringLiteral("DAX")),
                 QStringLiteral("/data/xDAX_k.xml"));
    }

    void writeCreatesAndReplaces()
    {
        QTemporaryDir dir;
        const QString path = ValueXmlFile::path(dir.path() + QLatin1Char('/'), QStringLiteral("DAX"));
        ValueXmlFile::write(path, QStringLiteral("10422,22"));
        QCOMPARE(readAll(path), ValueXmlFile::compose(QStringLiteral("10422,22")));

        // An unchanged value is written again; a shorter one leaves nothing of the longer behind.
        ValueXmlFile::write(path, QStringLiteral("9,5"));
        QCOMPARE(readAll(path), ValueXmlFile::compose(QStringLiteral("9,5")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("DAX_k.xml")});
    }

    void failureThrowsAndKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::newRow("missing data folder") << "missing/DAX_k.xml";
        QTest::newRow("folder in the file's place") << "blocked/DAX_k.xml";
    }

    void failureThrowsAndKeepsTheOldFile()
    {
        QFETCH(QString, relativePath);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("blocked/DAX_k.xml")));
        const QString path = dir.filePath(relativePath);
        QVERIFY_THROWS_EXCEPTION(FileError, ValueXmlFile::write(path, QStringLiteral("1")));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("blocked/DAX_k.xml"))).isDir());
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
    }
};

QTEST_GUILESS_MAIN(TestValueXmlFile)
#include "test_valuexmlfile.moc"
