// Soak run of the automatic mode: the window refreshes the Dax from the demo quote server, one fifth of
// whose answers fail at random (404, a reset in the middle of the body, a slow drip, a close without an
// answer), a few milliseconds apart, until it has ended the given number of refreshes.
//
//   soak_automatic [REFRESHES] [QtTest options]      (2,000 refreshes when none are given)
//
// Every 1,000 refreshes it prints the successes and failures so far, the resident memory and the history
// points. At the end it checks that the mode went on after failures (successes follow failures to the
// end), and that the memory grew by little more than the history points it gained. Run under
// AddressSanitizer by tools/soak.sh, which also reports leaks at exit.

#include "app/historychart.h"
#include "net/httpclient.h"
#include "programfolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {

int refreshesWanted = 2000;
QtMessageHandler testLog = nullptr;

// The offscreen platform says so whenever the window's size hints change (a longer value or status
// text): thousands of times in a long run, and nothing to learn from.
void withoutSizeHintNotes(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    testLog(type, context, text);
}
constexpr int reportEvery = 1000;
constexpr int automaticPause = 5; // ms from the end of one refresh to the next tick
// Without a refresh ending in this time the run counts as stalled (a stuck client, a lost timer).
constexpr int stallMs = 60000;
// What one more history point may cost: four series of a QPointF each, with the list's slack.
constexpr double bytesPerHistoryPoint = 64.0;
// Growth per refresh, beyond the history, that still counts as noise (allocator pages, caches).
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed blocks in a quarantine of up to 256 MB before reusing them, which shows
// as growth in a run of a few thousand refreshes; leaks are LeakSanitizer's business there.
constexpr double allowedBytesPerRefresh = 40000.0;
#else
constexpr double allowedBytesPerRefresh = 512.0;
#endif

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The demo quote server on a free port of 127.0.0.1; it ends by itself after `lifetimeSeconds` in case
// this process dies without stopping it.
class DemoQuoteServer
{
public:
    ~DemoQuoteServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start(int lifetimeSeconds)
    {
        m_process.setProgram(QStringLiteral("python3"));
        m_process.setArguments(
            {QStringLiteral(ZALVENTO_SOURCE_DIR "/tools/demoquoteserver/demoquoteserver.py"),
             QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
             QStringLiteral(ZALVENTO_SOURCE_DIR "/data"), QStringLiteral("--tick"), QStringLiteral("0"),
             QStringLiteral("--fail-rate"), QStringLiteral("0.2"), QStringLiteral("--slow-seconds"),
             QStringLiteral("1"), QStringLiteral("--exit-after"), QString::number(lifetimeSeconds),
             QStringLiteral("--quiet")});
        // The window's German number locale is this process's alone.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return false;
        }
        m_port = m_process.readLine().trimmed().toUShort();
        return m_port != 0;
    }

    quint16 port() const { return m_port; }
    bool running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// The window, counting the refreshes by the status text that ends each of them.
class SoakWindow : public MainWindow
{
public:
    using MainWindow::MainWindow;

    std::function<void(bool succeeded)> refreshEnded;
    // The size of the page that the refresh received; -1 when the fetch did not get that far.
    qint64 received = -1;

    void setStatusText(const QString &text) override
    {
        MainWindow::setStatusText(text);
        static const QRegularExpression receivedText(QStringLiteral("^Received (\\d+) bytes$"));
        if (text == QLatin1String("Loading")) {
            received = -1;
        } else if (const QRegularExpressionMatch match = receivedText.match(text); match.hasMatch()) {
            received = match.captured(1).toLongLong();
        }
        if (!refreshEnded)
            return;
        if (text == QLatin1String("Kurse aktualisiert"))
            refreshEnded(true);
        else if (text == QLatin1String("Fehler beim Kursaktualisieren"))
            refreshEnded(false);
    }

    int historyPoints() const
    {
        int points = 0;
        for (HistorySeries series : {HistorySeries::Index, HistorySeries::IndexAsk, HistorySeries::IndexBid,
                                     HistorySeries::IndexMittel})
            points += historyChart->pointCount(series);
        return points;
    }
};

} // namespace

class SoakAutomatic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testLog = qInstallMessageHandler(withoutSizeHintNotes); }
    void cleanupTestCase() { qInstallMessageHandler(testLog); }

    void automaticModeAgainstAFailingServer()
    {
        DemoQuoteServer server;
        QVERIFY2(server.start(600 + refreshesWanted), "the demo quote server did not start");

        ProgramFolder folder;
        QVERIFY(QFile::copy(QStringLiteral(ZALVENTO_SOURCE_DIR "/data/Dax.txt"), folder.path("Dax.txt")));
        folder.writeInfo();
        // No "Datenpath": without Norvata the web source is the one in use.
        folder.writeSettings({QStringLiteral("\"Kursserver\"=\"127.0.0.1:%1\"").arg(server.port()),
                              QStringLiteral("\"IndexQuelle\"=dword:00000001")});
        StartOptions options = folder.options();
        options.automaticPause = automaticPause;
        SoakWindow form(options);
        // Shown, as in use: the highlighted cells and the charts are painted too.
        form.show();
        QCOMPARE(form.sourceIndex(), 1);
        QVERIFY(form.indexTable.rows() > 30);
        // A slow answer is abandoned after a little over half a second rather than dripping for a whole
        // second: that also runs the client's time-outs, and keeps slow answers from ruling the run.
        form.httpClient->Timeout = 600;
        form.httpClient->IdleTimeout = 300;

        int successes = 0;
        int failures = 0;
        int successesAfterFailure = 0; // successes right after a failure: the mode went on
        // Successes on a page cut short (reset in the middle) or empty (closed without an answer): the
        // components not on it keep their prices.
        int successesOnShortPages = 0;
        int successesOnEmptyPages = 0;
        qint64 largestPage = 0;
        bool lastFailed = false;
        int failuresInLastBlock = 0;
        int successesInLastBlock = 0;
        long rssAtFirstReport = 0;
        int historyAtFirstReport = 0;
        const long rssAtStart = residentKb();
        const int historyAtStart = form.historyPoints();
        QElapsedTimer clock;
        clock.start();

        QEventLoop loop;
        QTimer stallGuard;
        stallGuard.setSingleShot(true);
        stallGuard.setInterval(stallMs);
        bool stalled = false;
        QObject::connect(&stallGuard, &QTimer::timeout, &loop, [&] {
            stalled = true;
            loop.quit();
        });

        std::printf("soak: %d refreshes against 127.0.0.1:%u, RSS %ld kB, %d history points at start\n",
                    refreshesWanted, server.port(), rssAtStart, historyAtStart);
        std::fflush(stdout);

        form.refreshEnded = [&](bool succeeded) {
            stallGuard.start();
            if (succeeded) {
                ++successes;
                ++successesInLastBlock;
                if (lastFailed)
                    ++successesAfterFailure;
                largestPage = std::max(largestPage, form.received);
                if (form.received == 0)
                    ++successesOnEmptyPages;
                else if (form.received < largestPage * 9 / 10)
                    ++successesOnShortPages;
            } else {
                ++failures;
                ++failuresInLastBlock;
            }
            lastFailed = !succeeded;
            const int done = successes + failures;
            if (done % reportEvery == 0 || done == refreshesWanted) {
                const long rss = residentKb();
                std::printf(
                    "soak: %6d refreshes (%d ok, %d failed; last block %d ok, %d failed), RSS %ld kB, "
                    "%d history points, %.0f s\n",
                    done, successes, failures, successesInLastBlock, failuresInLastBlock, rss,
                    form.historyPoints(), clock.elapsed() / 1000.0);
                std::fflush(stdout);
                if (rssAtFirstReport == 0) {
                    rssAtFirstReport = rss;
                    historyAtFirstReport = form.historyPoints();
                }
                if (done < refreshesWanted) {
                    successesInLastBlock = 0;
                    failuresInLastBlock = 0;
                }
            }
            if (done >= refreshesWanted) {
                // Off at once: the tick that the refresh's end is about to arm must not start another.
                form.switchAutomaticOff();
                loop.quit();
            }
        };

        form.switchAutomaticOn();
        stallGuard.start();
        loop.exec();
        form.refreshEnded = {};
        stallGuard.stop();
        // The last refresh returns to its tick once this loop is left; it must leave the mode off.
        QTRY_VERIFY(!form.priceRefresh.running());
        QVERIFY(!form.automaticTimer->isActive());

        const long rssAtEnd = residentKb();
        const int historyAtEnd = form.historyPoints();
        const int done = successes + failures;
        std::printf(
            "soak: done in %.0f s: %d refreshes, %d ok, %d failed, %d successes right after a failure; "
            "RSS %ld kB at start, %ld kB after the first %d, %ld kB at the end; %d history points; "
            "%lld message boxes\n",
            clock.elapsed() / 1000.0, done, successes, failures, successesAfterFailure, rssAtStart,
            rssAtFirstReport, std::min(reportEvery, done), rssAtEnd, historyAtEnd,
            static_cast<long long>(folder.messages.size()));
        std::printf("soak: of the successes, %d read an empty page and %d a page cut short (of up to %lld "
                    "bytes)\n",
                    successesOnEmptyPages, successesOnShortPages, static_cast<long long>(largestPage));

        QVERIFY2(!stalled, "no refresh ended for a minute");
        QVERIFY(server.running());
        QCOMPARE(done, refreshesWanted);
        QVERIFY2(failures > 0, "the server's failures did not reach the window");
        QVERIFY2(successesAfterFailure > 0, "no refresh succeeded after a failure");
        // The last block is as healthy as the run: the mode did not wear down into failures only.
        QVERIFY(successesInLastBlock > 0);
        QVERIFY2(historyAtEnd > historyAtStart, "the successes added no history");
        // Failures go to the status bar, never to a message box.
        QCOMPARE(folder.messages, QStringList());

        // Memory after the warm-up of the first block: no more than the history points and noise.
        if (done > reportEvery && rssAtFirstReport > 0) {
            const double grownBytes = double(rssAtEnd - rssAtFirstReport) * 1024.0;
            const double historyBytes = double(historyAtEnd - historyAtFirstReport) * bytesPerHistoryPoint;
            const double perRefresh = (grownBytes - historyBytes) / double(done - reportEvery);
            std::printf(
                "soak: RSS growth after the first %d refreshes: %.0f kB, %.1f bytes per refresh beyond "
                "the history's %.0f kB (allowed: %.0f)\n",
                reportEvery, grownBytes / 1024.0, perRefresh, historyBytes / 1024.0, allowedBytesPerRefresh);
            QVERIFY2(perRefresh <= allowedBytesPerRefresh, "memory grows with every refresh");
        }
    }
};

int main(int argc, char **argv)
{
    // The quote pages write decimal points, which the program turns into commas: it reads them with the
    // German decimal separator, which Qt takes from LC_ALL without a generated system locale.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    QStringList arguments = app.arguments();
    if (arguments.size() > 1) {
        bool ok = false;
        const int count = arguments.at(1).toInt(&ok);
        if (ok) {
            if (count < 1) {
                std::fprintf(stderr, "soak_automatic: the refresh count must be at least 1\n");
                return 2;
            }
            refreshesWanted = count;
            arguments.removeAt(1);
        }
    }
    // The test library ends a test function after five minutes; this one ends by its count, and by
    // its own stall guard when refreshes stop.
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(600000LL + 1000LL * refreshesWanted));
    SoakAutomatic soak;
    return QTest::qExec(&soak, arguments);
}

#include "soak_automatic.moc"
