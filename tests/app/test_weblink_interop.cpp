// The web link with the programs that read it: LibreOffice Calc's WEBSERVICE and Chromium's dashboard.
// Long: needs tools/install-interop-deps.sh (LibreOffice Calc, Chromium) and python3.

#include "app/livelink.h"
#include "app/weblink.h"
#include "programfolder.h"

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Runs a program to its end while the window goes on serving on this thread.
int runToEnd(QProcess &process, int timeoutMs)
{
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(ZALVENTO_SOURCE_DIR "/tests/data/weblink/") + name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

class TestWebLinkInterop : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<MainWindow> m_form;
    quint16 m_port = 0;

private slots:
    void init()
    {
        m_folder = std::make_unique<ProgramFolder>();
        m_folder->writeInfo();
        m_folder->writeDefinition();
        m_port = freePort();
        m_folder->writeSettings(
            {QStringLiteral("\"Webport\"=dword:%1").arg(m_port, 8, 16, QLatin1Char('0'))});
        m_form = std::make_unique<MainWindow>(m_folder->options());
        m_form->show();
        QVERIFY(m_form->webLink->server());
        QCOMPARE(m_form->liveLink->itemText(), QStringLiteral("10422,22"));
    }

    void cleanup()
    {
        m_form.reset();
        m_folder.reset();
    }

    void calcWebserviceReadsTheItem()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
            QSKIP("LibreOffice is not installed (tools/install-interop-deps.sh)");
        // A fresh Calc profile that trusts the test's folder (Calc updates external content only there, or
        // when the user allows it), with one macro: it opens a document with its links updated (a document
        // converted with --convert-to keeps external content off), recalculates it and stores it as CSV.
        const QString profile = m_folder->path(QStringLiteral("calc-profile"));
        const QString profileOption =
            QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString();
        QProcess initialise;
        initialise.start(QStringLiteral("soffice"), {profileOption, QStringLiteral("--headless"),
                                                     QStringLiteral("--terminate_after_init")});
        QCOMPARE(runToEnd(initialise, 120000), 0);
        for (const QString name :
             {"user/basic/script.xlc", "user/basic/Standard/script.xlb", "user/basic/Standard/Module1.xba"})
            writeFile(profile + QLatin1Char('/') + name, fixture(QStringLiteral("calc-profile/") + name));
        const QString settingsPath = profile + QStringLiteral("/user/registrymodifications.xcu");
        QFile settingsFile(settingsPath);
        QVERIFY(settingsFile.open(QIODevice::ReadOnly));
        QByteArray settings = settingsFile.readAll();
        settingsFile.close();
        settings.replace(
            "</oor:items>",
            fixture(QStringLiteral("calc-settings.xml"))
                    .replace("@FOLDER@", QUrl::fromLocalFile(m_folder->root.path()).toEncoded()) +
                "</oor:items>");
        writeFile(settingsPath, settings);
        const QString document = m_folder->path(QStringLiteral("kurs.fods"));
        const QString csv = m_folder->path(QStringLiteral("kurs.csv"));
        writeFile(document, fixture(QStringLiteral("kurs.fods"))
                                .replace("@URL@", "http://127.0.0.1:" + QByteArray::number(m_port) + "/dax"));

        QProcess calc;
        calc.start(QStringLiteral("soffice"),
                   {profileOption, QStringLiteral("--headless"), QStringLiteral("--norestore"),
                    QStringLiteral("macro:///Standard.Module1.ToCsv(\"%1\",\"%2\")").arg(document, csv)});
        QCOMPARE(runToEnd(calc, 120000), 0);
        QCOMPARE(m_folder->read(QStringLiteral("kurs.csv")).trimmed(), QByteArray("10422,22"));
    }

    void chromiumFollowsTheDashboard()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            QSKIP("Chromium is not installed (tools/install-interop-deps.sh)");
        const QString dom = m_folder->path(QStringLiteral("dashboard.html"));
        // The screenshot stays in the build folder, to be looked at.
        const QString screenshot = QStringLiteral(ZALVENTO_BINARY_DIR "/weblink-dashboard.png");
        QProcess probe;
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList said;
        connect(&probe, &QProcess::readyReadStandardOutput, this, [&] {
            while (probe.canReadLine()) {
                said << QString::fromUtf8(probe.readLine()).trimmed();
                if (said.last() == QLatin1String("LOADED")) {
                    // A later calculation, with a rising value.
                    m_form->setQuoteAges(
                        {{QDateTime::currentDateTime().addSecs(-20), false}, {QDateTime(), true}});
                    m_form->indexTable.setCell(IndexTable::Kurswert, 1, QStringLiteral("13"));
                    m_form->calculation.calculate();
                } else if (said.last() == QLatin1String("UPDATED")) {
                    m_form->webLink->stop(); // as when the program is gone
                }
            }
        });
        probe.start(QStringLiteral("python3"),
                    {QStringLiteral(ZALVENTO_SOURCE_DIR "/tests/app/dashboard_probe.py"),
                     QStringLiteral("http://127.0.0.1:%1/").arg(m_port), QStringLiteral("10422,22"),
                     QStringLiteral("10642,22"), dom, screenshot});
        const int exitCode = runToEnd(probe, 120000);
        QCOMPARE(said, QStringList({"LOADED", "UPDATED", "DISCONNECTED"}));
        QCOMPARE(exitCode, 0);

        const QByteArray page = m_folder->read(QStringLiteral("dashboard.html"));
        QVERIFY(page.contains(R"(<span id="value" class="up">10642,22</span>)"));
        QVERIFY(page.contains(R"(<tr class="stale" title="veralteter Kurs"><td>B</td><td>222</td>)"));
        QVERIFY(page.contains("<polyline"));
    }
};

QTEST_MAIN(TestWebLinkInterop)
#include "test_weblink_interop.moc"
