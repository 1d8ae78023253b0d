#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The Debian package as CPack builds it from the build folder, checked with the Debian tools.
namespace {

QByteArray run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(300000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput() + process.readAllStandardError();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_output;
    QString m_package;

private slots:
    void initTestCase()
    {
        int exitCode = 0;
        const QByteArray log =
            run(ZALVENTO_CPACK,
                {"-G", "DEB", "--config", ZALVENTO_BINARY_DIR "/CPackConfig.cmake", "-B", m_output.path()},
                &exitCode);
        QVERIFY2(exitCode == 0, log.constData());
        const QStringList packages = QDir(m_output.path()).entryList({"zalvento_*.deb"}, QDir::Files);
        QCOMPARE(packages.size(), 1);
        m_package = m_output.filePath(packages.first());
    }

    void holdsTheInstalledFiles()
    {
        const QByteArray list = run("dpkg-deb", {"-c", m_package});
        const char *const files[] = {"./usr/bin/zalvento",
                                     "./usr/bin/norvatatool",
                                     "./usr/share/zalvento/Dax.txt",
                                     "./usr/share/zalvento/MDax.txt",
                                     "./usr/share/zalvento/SDax.txt",
                                     "./usr/share/zalvento/TecDax.txt",
                                     "./usr/share/zalvento/Info.txt",
                                     "./usr/share/applications/de.quenkel.zalvento.desktop",
                                     "./usr/share/icons/hicolor/scalable/apps/de.quenkel.zalvento.svg",
                                     "./usr/share/metainfo/de.quenkel.zalvento.metainfo.xml",
                                     "./usr/share/man/man1/zalvento.1.gz",
                                     "./usr/share/man/man1/norvatatool.1.gz",
                                     "./usr/share/doc/zalvento/copyright",
                                     "./usr/lib/systemd/user/zalvento-automatic.service"};
        for (const char *file : files)
            QVERIFY2(list.contains(QByteArray(" ") + file + '\n'), file);
        QCOMPARE(run("dpkg-deb", {"-f", m_package, "Package"}), QByteArray("zalvento\n"));
        // Dependencies computed from the libraries the executables link.
        QVERIFY(run("dpkg-deb", {"-f", m_package, "Depends"}).contains("libqt6widgets6"));
    }

    void lintianFindsNoErrors()
    {
        const QByteArray report = run("lintian", {m_package});
        qInfo("%s", report.constData());
        for (const QByteArray &line : report.split('\n'))
            QVERIFY2(!line.startsWith("E:"), line.constData());
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
