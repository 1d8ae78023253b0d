// A whole web refresh against curl fetching the same page, on loopback, in the same run.
//
// The demo quote server makes two Dax quote pages with different prices; a private nginx then serves
// them, one after the other, under the page's own path, so that neither side waits on the page being
// made. The window refreshes with the web source (fetch, extraction, price choice, highlighted cells,
// calculation, publication with the XML file and the history; no live link), and curl fetches the same
// page as a process of its own. The summary gives the medians of alternating rounds, their ratio (goal:
// the refresh at most 1.5 times curl's time), curl's own time_total, and the same refresh in a second
// window that is not shown (the share of painting).
//
// A second part times the same refresh of an index of 5,000 components (a page of about 1.2 MB) in a
// shown window by the process's CPU time (goal: at most 60 ms).
//
// Needs python3, /usr/sbin/nginx and curl at run time.

#include "app/historychart.h"
#include "app/messages.h"
#include "app/mainwindow.h"
#include "tests/net/localnginx.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

const QString pagePath = QStringLiteral("L-S-DAX-R.84.0.html");

LocalNginx *nginx = nullptr;
MainWindow *form = nullptr;
QByteArray pages[2];
int pageTurn = 0;
QString xmlPath;

QString pageUrl()
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(nginx->port()).arg(pagePath);
}

// The next of the two pages goes live, so that every refresh finds new prices, as in a trading day.
bool turnPage()
{
    pageTurn = 1 - pageTurn;
    return nginx->addFile(pagePath, pages[pageTurn]);
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One refresh, and what it left for the event loop (the bar chart's drawing, the window's painting): the
// timed work is all the work of the refresh.
bool refresh(MainWindow *window = form)
{
    window->refreshPrices();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return window->statusText() == QLatin1String("Kurse aktualisiert");
}

// curl's run as a process; its own time_total (from the start of the transfer to its end) in `total`.
bool curlFetch(double *total)
{
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
                QStringLiteral("%{time_total}"), pageUrl()});
    if (!curl.waitForFinished(30000) || curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0)
        return false;
    if (total)
        *total = curl.readAllStandardOutput().trimmed().toDouble();
    return true;
}

void BM_WebRefresh(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        if (!turnPage()) {
            state.SkipWithError("cannot write the page");
            return;
        }
        state.ResumeTiming();
        if (!refresh()) {
            state.SkipWithError("the refresh failed");
            return;
        }
    }
}

void BM_CurlProcess(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        if (!turnPage()) {
            state.SkipWithError("cannot write the page");
            return;
        }
        state.ResumeTiming();
        if (!curlFetch(nullptr)) {
            state.SkipWithError("curl failed");
            return;
        }
    }
}

BENCHMARK(BM_WebRefresh)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);
BENCHMARK(BM_CurlProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

// Two pages of the demo quote server, fetched with curl: --tick 0 moves the prices on every request.
bool fetchDemoPages(QString *error, const QString &data = QStringLiteral(ZALVENTO_SOURCE_DIR "/data"),
                    QByteArray *target = pages)
{
    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    server.setProcessEnvironment(environment);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("python3"),
                 {QStringLiteral(ZALVENTO_SOURCE_DIR "/tools/demoquoteserver/demoquoteserver.py"),
                  QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), data,
                  QStringLiteral("--tick"), QStringLiteral("0"),
                  QStringLiteral("--exit-after"), QStringLiteral("60"), QStringLiteral("--quiet")});
    bool ok = server.waitForStarted(10000);
    while (ok && !server.canReadLine())
        ok = server.waitForReadyRead(10000);
    const QByteArray port = ok ? server.readLine().trimmed() : QByteArray();
    for (int i = 0; ok && i < 2; ++i) {
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   {QStringLiteral("-s"), QStringLiteral("-f"),
                    QStringLiteral("http://127.0.0.1:%1/%2").arg(QString::fromLatin1(port), pagePath)});
        ok = curl.waitForFinished(30000) && curl.exitCode() == 0;
        target[i] = curl.readAllStandardOutput();
        ok = ok && target[i].contains("class=\"bid\"");
    }
    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();
    if (!ok)
        *error = QStringLiteral("cannot get the pages from the demo quote server (python3, curl)");
    return ok;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A program folder with a Dax of `count` made-up components and settings whose "Kursserver" is `port`.
// A settings file in `folder` that points the web source at the quote server on `port`; returns its path.
QString writeWebSettings(const QTemporaryDir &folder, quint16 port)
{
    QFile settings(folder.filePath(QStringLiteral("Norvata.reg")));
    settings.open(QIODevice::WriteOnly);
    settings.write(QStringLiteral("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n"
                                  "\"Kursserver\"=\"127.0.0.1:%1\"\r\n\"IndexQuelle\"=dword:00000001\r\n")
                       .arg(port)
                       .toLatin1());
    return settings.fileName();
}

void writeLargeIndex(const QString &folder, int count)
{
    QDir(folder).mkpath(QStringLiteral("bin"));
    QByteArray definition = "104571\r\n0\r\n";
    for (int i = 1; i <= count; ++i)
        definition += "Komponente " + QByteArray::number(i) + "\r\nZ" + QByteArray::number(i).rightJustified(5, '0') +
                      "\r\n" + QByteArray::number(10 + i % 500) + ",25\r\n" + QByteArray::number(1000 + i) +
                      "\r\n\r\n0\r\n0\r\n";
    QFile file(folder + QStringLiteral("/Dax.txt"));
    file.open(QIODevice::WriteOnly);
    file.write(definition);
    file.close();
    QFile::copy(QStringLiteral(ZALVENTO_SOURCE_DIR "/data/Info.txt"), folder + QStringLiteral("/Info.txt"));
}

// The whole web refresh of an index of 5,000 components in a shown window, by CPU time.
int largeIndexRefresh()
{
    constexpr int components = 5000;
    QTemporaryDir folder;
    writeLargeIndex(folder.path(), components);
    QByteArray largePages[2];
    QString error;
    if (!fetchDemoPages(&error, folder.path(), largePages)) {
        std::fprintf(stderr, "bench_webrefresh: %s\n", qPrintable(error));
        return 1;
    }
    LocalNginx server;
    if (!server.addFile(pagePath, largePages[0]) || !server.start(&error)) {
        std::fprintf(stderr, "bench_webrefresh: %s\n", qPrintable(error));
        return 1;
    }
    const QString settingsPath = writeWebSettings(folder, server.port());
    MainWindow window({folder.filePath(QStringLiteral("bin/zalvento")), {}, settingsPath});
    window.show();
    const int rounds = qEnvironmentVariableIntValue("ZALVENTO_WEBREFRESH_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("ZALVENTO_WEBREFRESH_ROUNDS")
                           : 31;
    std::vector<double> cpuMs;
    std::vector<double> realMs;
    for (int round = 0; round <= rounds; ++round) {
        server.addFile(pagePath, largePages[round % 2]);
        const double cpuStart = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (!refresh(&window)) {
            std::fprintf(stderr, "bench_webrefresh: a refresh of the large index failed (%s)\n",
                         qPrintable(window.statusText()));
            return 1;
        }
        if (round == 0)
            continue; // the first fills the empty quote columns
        cpuMs.push_back(1000 * (cpuSeconds() - cpuStart));
        realMs.push_back(1000 * secondsSince(start));
    }
    std::printf("\nMedian of %d refreshes of an index of %d components, page of %lld bytes, shown window:\n"
                "  CPU time %.2f ms (goal: at most 60 ms), real time %.2f ms\n",
                rounds, components, static_cast<long long>(largePages[0].size()), median(cpuMs),
                median(realMs));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The quote pages write decimal points, which the program reads with the German decimal separator.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!LocalNginx::available()) {
        std::fprintf(stderr, "bench_webrefresh: /usr/sbin/nginx is not installed\n");
        return 0;
    }
    QString error;
    if (!fetchDemoPages(&error)) {
        std::fprintf(stderr, "bench_webrefresh: %s\n", qPrintable(error));
        return 1;
    }
    LocalNginx server;
    nginx = &server;
    if (!turnPage() || !server.start(&error)) {
        std::fprintf(stderr, "bench_webrefresh: %s\n", qPrintable(error));
        return 1;
    }

    // A program folder of its own: the bundled Dax definition, the information text and settings in
    // which "Kursserver" names the nginx; without "Datenpath" the web source is the one in use.
    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("bin"));
    QFile::copy(QStringLiteral(ZALVENTO_SOURCE_DIR "/data/Dax.txt"),
                folder.filePath(QStringLiteral("Dax.txt")));
    QFile::copy(QStringLiteral(ZALVENTO_SOURCE_DIR "/data/Info.txt"),
                folder.filePath(QStringLiteral("Info.txt")));
    const QString settingsPath = writeWebSettings(folder, server.port());
    QStringList messages;
    Messages::setSink([&messages](Messages::Kind, const QString &text) { messages << text; });
    const StartOptions options{folder.filePath(QStringLiteral("bin/zalvento")), {}, settingsPath};
    MainWindow window(options);
    window.show();
    form = &window;
    // The same refresh in a window that is not shown: what painting takes of it.
    MainWindow unshown(options);
    xmlPath = folder.filePath(QStringLiteral("DAX_k.xml"));
    if (!refresh() || !refresh(&unshown) || !QFileInfo::exists(xmlPath)) {
        std::fprintf(stderr, "bench_webrefresh: the first refresh failed (%s)\n",
                     qPrintable(window.statusText()));
        return 1;
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Rounds of one refresh and one curl run each, so that both meet the same load of the (shared)
    // machine; the medians are compared.
    // ZALVENTO_WEBREFRESH_ROUNDS gives fewer rounds, e.g. for a profile of the refresh.
    const int rounds = qEnvironmentVariableIntValue("ZALVENTO_WEBREFRESH_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("ZALVENTO_WEBREFRESH_ROUNDS")
                           : 101;
    std::vector<double> refreshMs;
    std::vector<double> unshownMs;
    std::vector<double> curlMs;
    std::vector<double> curlTotalMs;
    const int historyBefore = window.historyChart->pointCount(HistorySeries::Index);
    for (int round = 0; round < rounds; ++round) {
        turnPage();
        auto start = std::chrono::steady_clock::now();
        if (!refresh()) {
            std::fprintf(stderr, "bench_webrefresh: a refresh failed (%s)\n",
                         qPrintable(window.statusText()));
            return 1;
        }
        refreshMs.push_back(1000 * secondsSince(start));
        start = std::chrono::steady_clock::now();
        if (!refresh(&unshown)) {
            std::fprintf(stderr, "bench_webrefresh: a refresh failed (%s)\n",
                         qPrintable(unshown.statusText()));
            return 1;
        }
        unshownMs.push_back(1000 * secondsSince(start));
        // curl fetches the page that the refresh just read (the other has the same size).
        double total = 0;
        start = std::chrono::steady_clock::now();
        if (!curlFetch(&total)) {
            std::fprintf(stderr, "bench_webrefresh: curl failed\n");
            return 1;
        }
        curlMs.push_back(1000 * secondsSince(start));
        curlTotalMs.push_back(1000 * total);
    }
    const double refreshMedian = median(refreshMs);
    const double curlMedian = median(curlMs);
    std::printf("\nMedian of %d alternating rounds, Dax page of %lld bytes from nginx on 127.0.0.1:\n"
                "  whole web refresh %.2f ms, curl as a process %.2f ms, ratio %.2f (goal: at most 1.5)\n"
                "  curl's own time_total %.2f ms (ratio of the refresh to it %.2f)\n"
                "  the same refresh in a window not shown %.2f ms (ratio to curl %.2f)\n"
                "  history points added %d, message boxes %lld\n",
                rounds, static_cast<long long>(pages[0].size()), refreshMedian, curlMedian,
                refreshMedian / curlMedian, median(curlTotalMs), refreshMedian / median(curlTotalMs),
                median(unshownMs), median(unshownMs) / curlMedian,
                window.historyChart->pointCount(HistorySeries::Index) - historyBefore,
                static_cast<long long>(messages.size()));
    const int large = largeIndexRefresh();
    Messages::setSink({});
    return large;
}
