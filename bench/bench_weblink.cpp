// The web link's GET /DAX against nginx serving a static file of the same size, on loopback, in the same
// run, both measured by wrk (one thread, a few keep-alive connections) in alternating rounds.
//
// The window is shown and keeps its event loop running while wrk loads it, as it would with a spreadsheet
// polling the item; nginx runs one worker. The summary gives each round's requests per second and median
// latency, their medians, and the ratio of the rates (goal: the web link at least half nginx's rate, and
// its median latency at most 1 ms).
//
// Needs wrk (tools/install-interop-deps.sh) and /usr/sbin/nginx at run time.
//     bench_weblink [seconds per round] [rounds] [connections]

#include "app/livelink.h"
#include "app/mainwindow.h"
#include "app/messages.h"
#include "app/weblink.h"
#include "net/weblinkserver.h"
#include "tests/net/localnginx.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Run
{
    double requestsPerSecond = 0;
    double medianMs = 0;
    bool ok = false;
};

// wrk prints latencies as "512.00us", "1.20ms" or "2.00s".
double milliseconds(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("([0-9.]+)(us|ms|s)"));
    const QRegularExpressionMatch match = pattern.match(text);
    const double value = match.captured(1).toDouble();
    return match.captured(2) == QLatin1String("us")  ? value / 1000
           : match.captured(2) == QLatin1String("s") ? value * 1000
                                                     : value;
}

Run runWrk(const QString &url, int seconds, int connections)
{
    QProcess wrk;
    QEventLoop loop;
    QObject::connect(&wrk, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&wrk, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    wrk.start(QStringLiteral("wrk"),
              {QStringLiteral("-t1"), QStringLiteral("-c%1").arg(connections),
               QStringLiteral("-d%1s").arg(seconds), QStringLiteral("--latency"), url});
    // The window serves on this thread: the wait runs its event loop (not a polling wait, which would
    // sleep between its turns).
    if (wrk.state() != QProcess::NotRunning)
        loop.exec();
    const QString output = QString::fromUtf8(wrk.readAllStandardOutput());
    Run run;
    static const QRegularExpression rate(QStringLiteral("Requests/sec:\\s+([0-9.]+)"));
    static const QRegularExpression median(QStringLiteral("\\n\\s+50%\\s+(\\S+)"));
    const QRegularExpressionMatch rateMatch = rate.match(output);
    const QRegularExpressionMatch medianMatch = median.match(output);
    run.ok = rateMatch.hasMatch() && medianMatch.hasMatch() && !output.contains(QLatin1String("Non-2xx"));
    run.requestsPerSecond = rateMatch.captured(1).toDouble();
    run.medianMs = milliseconds(medianMatch.captured(1));
    if (!run.ok)
        std::fprintf(stderr, "wrk on %s:\n%s\n", qPrintable(url), qPrintable(output));
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const int seconds = arguments.value(1, QStringLiteral("5")).toInt();
    const int rounds = arguments.value(2, QStringLiteral("3")).toInt();
    const int connections = arguments.value(3, QStringLiteral("4")).toInt();
    Messages::setSink(
        [](Messages::Kind, const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    // A program folder with the bundled Dax and a free port for the web link.
    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("bin"));
    for (const QString &name : {QStringLiteral("Dax.txt"), QStringLiteral("Info.txt")})
        QFile::copy(QStringLiteral(ZALVENTO_SOURCE_DIR "/data/") + name, folder.filePath(name));
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QFile settings(folder.filePath(QStringLiteral("Norvata.reg")));
    settings.open(QIODevice::WriteOnly);
    settings.write(QStringLiteral("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n"
                                  "\"Webport\"=dword:%1\r\n")
                       .arg(port, 8, 16, QLatin1Char('0'))
                       .toUtf8());
    settings.close();

    MainWindow form(StartOptions{folder.filePath(QStringLiteral("bin/zalvento")), {}, settings.fileName()});
    form.show();
    if (!QTest::qWaitForWindowExposed(&form) || !form.webLink->server()) {
        std::fprintf(stderr, "the window or its web link did not start\n");
        return 1;
    }
    const QByteArray item = form.liveLink->itemText().toUtf8();

    LocalNginx nginx;
    QString error;
    if (!nginx.addFile(QStringLiteral("DAX"), item) || !nginx.start(&error)) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(error));
        return 1;
    }
    const QString ours = QStringLiteral("http://127.0.0.1:%1/DAX").arg(port);
    const QString theirs = QStringLiteral("http://127.0.0.1:%1/DAX").arg(nginx.port());

    std::printf("GET /DAX, %d-byte body, wrk -t1 -c%d, %d s per round, window shown\n", int(item.size()),
                connections, seconds);
    std::vector<double> ourRates, ourMedians, theirRates, theirMedians;
    for (int round = 0; round < rounds; ++round) {
        const Run a = runWrk(ours, seconds, connections);
        const Run b = runWrk(theirs, seconds, connections);
        if (!a.ok || !b.ok)
            return 1;
        std::printf("round %d: web link %9.0f req/s, median %.3f ms | nginx %9.0f req/s, median %.3f ms\n",
                    round + 1, a.requestsPerSecond, a.medianMs, b.requestsPerSecond, b.medianMs);
        ourRates.push_back(a.requestsPerSecond);
        ourMedians.push_back(a.medianMs);
        theirRates.push_back(b.requestsPerSecond);
        theirMedians.push_back(b.medianMs);
    }
    const double rateRatio = median(ourRates) / median(theirRates);
    std::printf("median: web link %.0f req/s, %.3f ms | nginx %.0f req/s, %.3f ms | rate ratio %.2f "
                "(goal >= 0.5), web link median %s 1 ms\n",
                median(ourRates), median(ourMedians), median(theirRates), median(theirMedians), rateRatio,
                median(ourMedians) <= 1.0 ? "<=" : ">");
    return 0;
}
