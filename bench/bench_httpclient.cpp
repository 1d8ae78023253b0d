// Throughput and memory of the HTTP client on loopback, against curl in the same run.
//
// A private nginx serves a 100 MB document; THttpClient fetches it into a file, and so does
// "curl -o". The summary at the end gives both throughputs, their ratio, and the peak resident memory
// of this process after a 10 MB and after a 100 MB download: the client passes the body through a
// fixed buffer, so the second figure should not exceed the first by more than noise.

#include "net/httpclient.h"
#include "tests/net/localnginx.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr qint64 megabyte = 1024 * 1024;

LocalNginx *nginx = nullptr;
QTemporaryDir *outputDir = nullptr;
double bestClient = 0;
double bestCurl = 0;
long rssAfterSmall = 0;
long rssAfterLarge = 0;

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString urlOf(const QString &name)
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(nginx->port()).arg(name);
}

qint64 clientDownload(const QString &name)
{
    THttpClient client;
    QFile file(outputDir->filePath(QStringLiteral("client.out")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    client.URL = urlOf(name);
    client.ReceiveStream = &file;
    client.Get();
    file.close();
    return file.size();
}

void BM_HttpClientGet(benchmark::State &state)
{
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const qint64 size = clientDownload(QStringLiteral("large.bin"));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (size != 100 * megabyte) {
            state.SkipWithError("incomplete download");
            return;
        }
        bestClient = std::max(bestClient, double(size) / megabyte / seconds);
    }
    state.SetBytesProcessed(state.iterations() * 100 * megabyte);
    rssAfterLarge = peakRssKb();
    state.counters["peak_rss_kb"] = double(rssAfterLarge);
}

void BM_CurlGet(benchmark::State &state)
{
    const QString out = outputDir->filePath(QStringLiteral("curl.out"));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int exitCode =
            QProcess::execute(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), out,
                                                       urlOf(QStringLiteral("large.bin"))});
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (exitCode != 0 || QFile(out).size() != 100 * megabyte) {
            state.SkipWithError("curl failed");
            return;
        }
        bestCurl = std::max(bestCurl, 100.0 / seconds);
    }
    state.SetBytesProcessed(state.iterations() * 100 * megabyte);
}

BENCHMARK(BM_HttpClientGet)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CurlGet)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Written block by block, so that the document never sits in this process's memory.
bool writeDocument(const QString &name, qint64 size)
{
    QByteArray block(megabyte, '\0');
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char('A' + i % 61);
    if (!nginx->addFile(name, QByteArray()))
        return false;
    QFile file(nginx->documentRoot() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (qint64 written = 0; written < size; written += block.size()) {
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!LocalNginx::available()) {
        std::fprintf(stderr, "bench_httpclient: /usr/sbin/nginx is not installed\n");
        return 0;
    }
    LocalNginx server;
    QTemporaryDir output;
    nginx = &server;
    outputDir = &output;
    if (!writeDocument(QStringLiteral("small.bin"), 10 * megabyte) ||
        !writeDocument(QStringLiteral("large.bin"), 100 * megabyte)) {
        std::fprintf(stderr, "bench_httpclient: cannot write the documents\n");
        return 1;
    }
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "bench_httpclient: %s\n", qPrintable(error));
        return 1;
    }
    // The documents were built in memory; what the process holds from here on is the client's.
    const long rssBefore = peakRssKb();
    clientDownload(QStringLiteral("small.bin"));
    rssAfterSmall = peakRssKb();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Rounds of one client and one curl download each, so that both meet the same load of the
    // (shared) machine; the medians are compared.
    std::vector<double> client;
    std::vector<double> curl;
    const QString curlOut = output.filePath(QStringLiteral("curl.out"));
    for (int round = 0; round < 9; ++round) {
        auto start = std::chrono::steady_clock::now();
        clientDownload(QStringLiteral("large.bin"));
        client.push_back(100.0 /
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        start = std::chrono::steady_clock::now();
        QProcess::execute(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), curlOut,
                                                   urlOf(QStringLiteral("large.bin"))});
        curl.push_back(100.0 /
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(client.begin(), client.end());
    std::sort(curl.begin(), curl.end());
    const double clientMedian = client[client.size() / 2];
    const double curlMedian = curl[curl.size() / 2];
    rssAfterLarge = peakRssKb();

    std::printf("\nMedian of 9 alternating rounds, 100 MB each: HTTP client %.0f MB/s, curl %.0f MB/s, "
                "ratio %.0f %% (goal: at least 80 %%)\n",
                clientMedian, curlMedian, 100.0 * clientMedian / curlMedian);
    std::printf("Best: HTTP client %.0f MB/s, curl %.0f MB/s\n", std::max(bestClient, client.back()),
                std::max(bestCurl, curl.back()));
    std::printf("Peak RSS: %ld kB at start, %ld kB after 10 MB, %ld kB after 100 MB bodies\n", rssBefore,
                rssAfterSmall, rssAfterLarge);
    return 0;
}
