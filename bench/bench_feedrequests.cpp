// One request per component: 5,000 components of an index through "{id}" with "parallel": 8 and an API
// key header, against the demo quote server on loopback. Each iteration fetches every component's
// document and reads its quote, as a refresh through such a feed does (goal: at most 2 s).
//
// Needs python3 at run time.

#include "net/feedfetcher.h"
#include "quotes/feedextraction.h"
#include "quotes/quotefeed.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

namespace {

constexpr int components = 5000;

QProcess *server = nullptr;
QString port;

// A definition file of 5,000 made-up components for the demo server's Dax list.
bool writeDefinition(const QString &folder)
{
    QByteArray text = "100000\r\n0\r\n";
    for (int i = 0; i < components; ++i)
        text += "Wert " + QByteArray::number(i) + "\r\n" + QByteArray::number(100000 + i) + "\r\n" +
                QByteArray::number(10 + i % 400) + ",5\r\n1\r\n\r\n0\r\n0\r\n";
    QFile file(folder + QStringLiteral("/Dax.txt"));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QuoteFeed perComponentFeed()
{
    const QByteArray entry = R"({"Dax": {"kind": "json", "url": "http://127.0.0.1:)" + port.toLatin1() +
                             R"(/quote?symbol={id}", "parallel": 8, "headers": {"X-Api-Key": "demo"}, )"
                             R"("bid": "/Global Quote/03. bid", "ask": "/Global Quote/04. ask", )"
                             R"("time": "/Global Quote/06. timestamp", "timeFormat": "unixms"}})";
    const FeedFile::Lookup lookup = FeedFile::parse(entry, QStringLiteral("bench"), QStringLiteral("Dax"));
    if (!lookup.feed)
        qFatal("%s", qPrintable(lookup.error));
    return *lookup.feed;
}

void BM_PerComponentRequests(benchmark::State &state)
{
    const QuoteFeed feed = perComponentFeed();
    QStringList ids;
    for (int i = 0; i < components; ++i)
        ids << QString::number(100000 + i);
    const QList<FeedRequest> requests = FeedFile::requestsOf(feed, ids);
    QList<QUrl> urls;
    for (const FeedRequest &request : requests)
        urls << request.url;
    FeedFetcher fetcher;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const QList<FeedReply> replies = fetcher.fetchAll(urls, feed.headers, QString(), feed.parallel);
        FeedExtraction::FeedQuotes quotes;
        quotes.reserve(components);
        for (qsizetype i = 0; i < replies.size(); ++i)
            if (replies[i].failure.isEmpty())
                FeedExtraction::read(quotes, replies[i].body, feed, requests[i].ids.value(0));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (quotes.size() != components) {
            state.SkipWithError(qPrintable(QStringLiteral("%1 of %2 quotes; first failure: %3")
                                               .arg(quotes.size())
                                               .arg(components)
                                               .arg(replies.first().failure)));
            break;
        }
    }
    state.counters["requests"] = double(urls.size());
}
BENCHMARK(BM_PerComponentRequests)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir data;
    if (!writeDefinition(data.path()))
        return 1;
    QProcess demo;
    demo.start(QStringLiteral("python3"),
               {QStringLiteral(ZALVENTO_SOURCE_DIR "/tools/demoquoteserver/demoquoteserver.py"),
                QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), data.path(),
                QStringLiteral("--quiet")});
    if (!demo.waitForReadyRead(20000)) {
        std::fprintf(stderr, "the demo quote server did not start\n");
        return 1;
    }
    server = &demo;
    port = QString::fromLatin1(demo.readLine().trimmed());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    demo.terminate();
    demo.waitForFinished();
    return 0;
}
