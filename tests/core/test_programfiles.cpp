#include "core/errors.h"
#include "core/programfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestProgramFiles : public QObject
{
    Q_OBJECT

private slots:
    void programDirectoryOf_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("directory");
        QTest::newRow("bin removed") << "/PROGRAMME/NORVATA/BIN/zalvento"
                                     << "/PROGRAMME/NORVATA/";
        QTest::newRow("name ending in bin stays") << "/D/cabin/x/zalvento"
                                                  << "/D/cabin/x/";
        QTest::newRow("after a name ending in bin") << "/srv/dustbin/bin/zalvento"
                                                    << "/srv/dustbin/";
        QTest::newRow("first only, any case") << "/x/BIN/bin/zalvento"
                                              << "/x/bin/";
        QTest::newRow("name starting with bin stays") << "/opt/binaries/zalvento"
                                                      << "/opt/binaries/";
        QTest::newRow("no bin, case kept") << "/opt/Zalvento/zalvento"
                                           << "/opt/Zalvento/";
    }

    void programDirectoryOf()
    {
        QFETCH(QString, executable);
        QFETCH(QString, directory);
        QCOMPARE(ProgramFiles::programDirectoryOf(executable), directory);
    }

    void userDataDirectory_data()
    {
        QTest::addColumn<QByteArray>("xdgDataHome");
        QTest::addColumn<QString>("directory");
        const QString fallback = QDir::homePath() + "/.local/share/zalvento/";
        QTest::newRow("set") << QByteArray("/srv/anna/data") << "/srv/anna/data/zalvento/";
        QTest::newRow("trailing slash") << QByteArray("/srv/anna/data/") << "/srv/anna/data/zalvento/";
        QTest::newRow("empty") << QByteArray("") << fallback;
        QTest::newRow("relative, ignored") << QByteArray("data") << fallback;
    }

    void userDataDirectory()
    {
        QFETCH(QByteArray, xdgDataHome);
        QFETCH(QString, directory);
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", xdgDataHome);
        const QString result = ProgramFiles::userDataDirectory();
        qputenv("XDG_DATA_HOME", saved);
        QCOMPARE(result, directory);
    }

    void copyMissingFilesKeepsTheUsersOwn()
    {
        QTemporaryDir root;
        const QString bundled = root.path() + "/share/zalvento/";
        const QString user = root.path() + "/data/zalvento/";
        for (const char *name : {"Dax.txt", "Info.txt", "MDax.txt"})
            writeFile(bundled + name, QByteArray("bundled ") + name);
        writeFile(user + "Dax.txt", "changed");
        writeFile(user + "info.txt", "downloaded"); // as the index file update names it
        ProgramFiles::copyMissingFiles(bundled, user);
        QCOMPARE(QDir(user).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase),
                 (QStringList{"Dax.txt", "info.txt", "MDax.txt"}));
        QCOMPARE(readFile(user + "Dax.txt"), QByteArray("changed"));
        QCOMPARE(readFile(user + "MDax.txt"), QByteArray("bundled MDax.txt"));
    }

    void usersFolderThatCannotBeMade()
    {
        QTemporaryDir root;
        writeFile(root.path() + "/usr/share/zalvento/Dax.txt", "bundled Dax");
        writeFile(root.path() + "/data", "a file where the folder should be");
        qputenv("XDG_DATA_HOME", (root.path() + "/data").toUtf8());
        QVERIFY_THROWS_EXCEPTION(FileError,
                                 ProgramFiles::copyMissingFiles(root.path() + "/usr/share/zalvento/",
                                                                root.path() + "/data/zalvento/"));
        // The program still works in the user's folder, where its reads and writes then fail with a message.
        QCOMPARE(ProgramFiles::programDirectory(root.path() + "/usr/bin/zalvento"),
                 root.path() + "/data/zalvento/");
    }
};

QTEST_GUILESS_MAIN(TestProgramFiles)
#include "test_programfiles.moc"
