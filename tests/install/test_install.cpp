#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

// The installed program, run as a user would run it: installed into a temporary prefix by the build's
// own install rules, started offscreen on a home of its own.
namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

ino_t inodeOf(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

// The index value in a published XML file, as a number.
double publishedValue(const QByteArray &xml)
{
    const QList<QByteArray> lines = xml.split('\n');
    return lines.size() > 1 ? lines.at(1).trimmed().replace(',', '.').toDouble() : 0.0;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_prefix;

    QString path(const QString &name) const { return m_root.path() + QLatin1Char('/') + name; }

    QProcessEnvironment userEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", path("home"));
        environment.insert("XDG_DATA_HOME", path("home/data"));
        environment.insert("XDG_CONFIG_HOME", path("home/config"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // The bundled definition files are written with decimal commas.
        environment.insert("LC_ALL", "de_DE.UTF-8");
        return environment;
    }

    // Starts `program`, waits until it has published the Dax in `xmlFile`, ends it the way a session's end
    // does, and returns the file's contents.
    QByteArray runUntilPublished(const QString &program, const QStringList &arguments, const QString &xmlFile)
    {
        QFile::remove(xmlFile);
        QProcess process;
        process.setProcessEnvironment(userEnvironment());
        process.start(program, arguments);
        [&] {
            QVERIFY(process.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(!readFile(xmlFile).isEmpty(), 20000);
        }();
        process.terminate();
        const bool finished = process.waitForFinished(20000);
        if (!finished)
            process.kill();
        [&] {
            QVERIFY(finished);
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), 0);
        }();
        return readFile(xmlFile);
    }

private slots:
    void initTestCase()
    {
        m_prefix = path("usr/");
        QProcess install;
        install.start(ZALVENTO_CMAKE, {"--install", ZALVENTO_BINARY_DIR, "--prefix", m_prefix});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    }

    void validators_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry")
            << "desktop-file-validate" << QStringList{"share/applications/de.quenkel.zalvento.desktop"};
        QTest::newRow("metainfo") << "appstreamcli"
                                  << QStringList{"validate", "--no-net", "--pedantic",
                                                 "share/metainfo/de.quenkel.zalvento.metainfo.xml"};
        QTest::newRow("user unit") << "systemd-analyze"
                                   << QStringList{"verify", "--user",
                                                  "lib/systemd/user/zalvento-automatic.service"};
    }

    void validators()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The unit check needs a runtime folder and looks up the unit's manual page.
        QDir().mkpath(path("runtime"));
        environment.insert("XDG_RUNTIME_DIR", path("runtime"));
        environment.insert("MANPATH", m_prefix + "share/man");
        QProcess validator;
        validator.setProcessEnvironment(environment);
        validator.setWorkingDirectory(m_prefix);
        validator.setProcessChannelMode(QProcess::MergedChannels);
        validator.start(program, arguments);
        QVERIFY(validator.waitForFinished(60000));
        QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
                 validator.readAll().constData());
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("help") << "--help" << QByteArray("Aufruf: zalvento [/A] [--unattended]\n");
        QTest::newRow("version") << "--version" << QByteArray("NV Zalvento 1.7\n");
    }

    void helpAndVersion()
    {
        QFETCH(QString, argument);
        QFETCH(QByteArray, start);
        // A display that cannot be reached: a program that opened a window would fail here.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(m_prefix + "bin/zalvento", {argument});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(program.readAllStandardOutput().startsWith(start));
        QCOMPARE(program.readAllStandardError(), QByteArray());
    }

    void installedCopyRunsInTheUsersFolder()
    {
        // The same bundled data in a copied build folder gives the value to expect.
        const QString portable = path("portable/");
        QDir().mkpath(portable + "bin");
        QVERIFY(QFile::copy(ZALVENTO_BINARY_DIR "/bin/zalvento", portable + "bin/zalvento"));
        for (const QString &name : QDir(ZALVENTO_SOURCE_DIR "/data").entryList(QDir::Files))
            QVERIFY(QFile::copy(ZALVENTO_SOURCE_DIR "/data/" + name, portable + name));
        const QByteArray expected = runUntilPublished(portable + "bin/zalvento", {}, portable + "DAX_k.xml");
        if (QTest::currentTestFailed())
            return;
        QVERIFY(publishedValue(expected) > 1000);

        const QString user = path("home/data/zalvento/");
        QVERIFY(!QFile::exists(user));
        const QByteArray first = runUntilPublished(m_prefix + "bin/zalvento", {}, user + "DAX_k.xml");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(first, expected);
        QCOMPARE(QDir(user).entryList(QDir::Files, QDir::Name),
                 (QStringList{"DAX_k.xml", "Dax.txt", "Info.txt", "MDax.txt", "SDax.txt", "TecDax.txt"}));

        // The user changes the divisor: a second start computes with it and writes it back.
        QByteArray definition = readFile(user + "Dax.txt");
        const qsizetype lineEnd = definition.indexOf("\r\n");
        const double divisor = definition.left(lineEnd).replace(',', '.').toDouble();
        const QByteArray doubled = QByteArray::number(divisor * 2, 'g', 15).replace('.', ',');
        definition.replace(0, lineEnd, doubled);
        writeFile(user + "Dax.txt", definition);
        const ino_t beforeWriteBack = inodeOf(user + "Dax.txt");
        const QByteArray second = runUntilPublished(m_prefix + "bin/zalvento", {}, user + "DAX_k.xml");
        if (QTest::currentTestFailed())
            return;
        QVERIFY(qAbs(publishedValue(second) - publishedValue(first) / 2) < 0.01);
        QVERIFY(inodeOf(user + "Dax.txt") != beforeWriteBack); // replaced by the write-back on close
        QVERIFY(readFile(user + "Dax.txt").startsWith(doubled + "\r\n"));
        // The bundled folder stays as installed.
        const QString share = m_prefix + "share/zalvento/";
        QCOMPARE(QDir(share).entryList(QDir::Files),
                 QDir(ZALVENTO_SOURCE_DIR "/data").entryList(QDir::Files));
        QCOMPARE(readFile(share + "Dax.txt"), readFile(ZALVENTO_SOURCE_DIR "/data/Dax.txt"));
    }

    void otherArgumentsStartTheProgram_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::newRow("lower-case /a") << "/a";
        QTest::newRow("unknown") << "--unbekannt";
    }

    void otherArgumentsStartTheProgram()
    {
        QFETCH(QString, argument);
        runUntilPublished(m_prefix + "bin/zalvento", {argument}, path("home/data/zalvento/DAX_k.xml"));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
