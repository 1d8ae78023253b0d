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
        const QByteArrayList files =
            QByteArray("bin/zalvento bin/norvatatool share/zalvento/Dax.txt "
                       "share/zalvento/MDax.txt share/zalvento/SDax.txt "
                       "share/zalvento/TecDax.txt share/zalvento/Info.txt "
                       "share/applications/de.quenkel.zalvento.desktop "
                       "share/icons/hicolor/scalable/apps/de.quenkel.zalvento.svg "
                       "share/metainfo/de.quenkel.zalvento.metainfo.xml "
                       "share/man/man1/zalvento.1.gz share/man/man1/norvatatool.1.gz "
                       "share/doc/zalvento/copyright "
                       "lib/systemd/user/zalvento-automatic.service")
                .split(' ');
        for (const QByteArray &file : files)
            QVERIFY2(list.contains(" ./usr/" + file + '\n'), file.constData());
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
