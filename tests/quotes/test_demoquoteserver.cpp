#include "core/windows1252.h"
#include "net/feedfetcher.h"
#include "quotes/feedextraction.h"
#include "quotes/quotefeed.h"
#include "quotes/quotepage.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Component
{
    QString name;
    QString wkn;
    double price;
};

// A definition file as the program keeps it: divisor, index id, seven lines per component, Windows-1252
// and CR LF.
void writeDefinition(const QString &path, const QList<Component> &components)
{
    QString text = QStringLiteral("5432,1\r\n0\r\n");
    for (const Component &c : components) {
        const QString price =
            c.price > 0 ? QString::number(c.price).replace(QLatin1Char('.'), QLatin1Char(',')) : QString();
        text += c.name + QStringLiteral("\r\n") + c.wkn + QStringLiteral("\r\n") + price +
                QStringLiteral("\r\n1000000\r\n0\r\n0\r\n0\r\n");
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Windows1252::encode(text));
}

struct Response
{
    QByteArray bytes;     // everything the server sent
    bool aborted = false; // the connection ended with an error rather than a close
    int status = 0;
    QByteArray head;
    QByteArray body;
    qsizetype contentLength = -1;
};

} // namespace

class TestDemoQuoteServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void servesEveryWknOfTheDefinitionFile();
    void servesEveryWknOfTheBundledFiles();
    void pricesMove();
    void pagesWithoutDefinitionFile();
    void failuresOnRequest_data();
    void failuresOnRequest();
    void jsonFeed_data();
    void jsonFeed();
    void germanList();

private:
    static quint16 startServer(QProcess &server, const QString &dataFolder, const QStringList &options = {});
    static void stopServer(QProcess &server);
    Response fetch(const QByteArray &path, quint16 port = 0);

    QTemporaryDir m_data;
    QProcess m_server;
    quint16 m_port = 0;
    const QList<Component> m_dax = {
        {QStringLiteral("adidas"), QStringLiteral("A1EWWW"), 145.3},
        {QStringLiteral("Allianz"), QStringLiteral("840400"), 416.3},
        {QStringLiteral("Münchener Rück"), QStringLiteral("843002"), 512.4},
        {QStringLiteral("Kleinwert"), QStringLiteral("PENNY1"), 1.234},
        {QStringLiteral("Ohne Kurs"), QStringLiteral("NOPRC1"), 0},
        {QStringLiteral("Ohne WKN"), QStringLiteral("0"), 12},
    };
};

quint16 TestDemoQuoteServer::startServer(QProcess &server, const QString &dataFolder,
                                         const QStringList &options)
{
    server.setProgram(QStandardPaths::findExecutable(QStringLiteral("python3")));
    server.setArguments({QStringLiteral(ZALVENTO_SOURCE_DIR "/tools/demoquoteserver/demoquoteserver.py"),
                         QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), dataFolder,
                         QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--tick"),
                         QStringLiteral("0"), QStringLiteral("--slow-seconds"), QStringLiteral("0.5"),
                         QStringLiteral("--hang-seconds"), QStringLiteral("5"),
                         QStringLiteral("--exit-after"), QStringLiteral("100"),
                         QStringLiteral("--stale-every"), QStringLiteral("3"), QStringLiteral("--quiet")});
    server.setArguments(server.arguments() + options);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start();
    if (!server.waitForStarted())
        return 0;
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() == QProcess::NotRunning, 15000);
    }();
    return server.readLine().trimmed().toUShort();
}

void TestDemoQuoteServer::stopServer(QProcess &server)
{
    if (server.state() == QProcess::NotRunning)
        return;
    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();
    server.waitForFinished(5000);
}

void TestDemoQuoteServer::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 is not installed");
    QVERIFY(m_data.isValid());
    writeDefinition(m_data.filePath(QStringLiteral("Dax.txt")), m_dax);
    // The index file update stores lower-case names.
    writeDefinition(m_data.filePath(QStringLiteral("tecdax.txt")),
                    {{QStringLiteral("Aixtron"), QStringLiteral("A0WMPJ"), 37.92}});

    m_port = startServer(m_server, m_data.path());
    QVERIFY2(m_port != 0, "the server prints its port on the first line");
}

void TestDemoQuoteServer::cleanupTestCase()
{
    stopServer(m_server);
}

Response TestDemoQuoteServer::fetch(const QByteArray &path, quint16 port)
{
    Response response;
    QTcpSocket socket;
    bool finished = false;
    connect(&socket, &QTcpSocket::readyRead, this, [&] { response.bytes += socket.readAll(); });
    connect(&socket, &QTcpSocket::disconnected, this, [&] { finished = true; });
    connect(&socket, &QTcpSocket::errorOccurred, this, [&](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            response.aborted = true;
        finished = true;
    });
    connect(&socket, &QTcpSocket::connected, this,
            [&] { socket.write("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"); });
    socket.connectToHost(QStringLiteral("127.0.0.1"), port ? port : m_port);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(finished, 15000); }();
    response.bytes += socket.readAll();

    const qsizetype headEnd = response.bytes.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return response;
    response.head = response.bytes.left(headEnd);
    response.body = response.bytes.mid(headEnd + 4);
    const QList<QByteArray> lines = response.head.split('\n');
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    if (statusLine.size() >= 2 && statusLine.first() == "HTTP/1.0")
        response.status = statusLine.at(1).toInt();
    for (const QByteArray &line : lines) {
        if (line.toLower().startsWith("content-length:"))
            response.contentLength = line.mid(15).trimmed().toLongLong();
    }
    return response;
}

void TestDemoQuoteServer::servesEveryWknOfTheDefinitionFile()
{
    const Response response = fetch(QuotePage::pathOf(QStringLiteral("Dax")).toLatin1());
    QCOMPARE(response.status, 200);
    QVERIFY(!response.aborted);
    QCOMPARE(response.contentLength, response.body.size());
    QVERIFY(response.head.contains("Content-Type: text/html"));
    QVERIFY(response.body.contains("Demo"));

    for (const Component &c : m_dax) {
        if (c.wkn == QLatin1String("0"))
            continue;
        const auto quote = QuotePage::extract(response.body, c.wkn, QLatin1Char(','));
        QVERIFY2(quote, qPrintable(c.wkn));
        QVERIFY2(quote->bid > 0 && quote->bid < quote->ask, qPrintable(c.wkn));
        if (c.price > 0) {
            QVERIFY2(std::abs(quote->bid / c.price - 1) < 0.05, qPrintable(c.wkn));
            QVERIFY2(quote->ask - quote->bid < c.price * 0.01, qPrintable(c.wkn));
        }
    }
    // A component without WKN gets no row: "0" would match whatever zero comes first.
    QVERIFY(!response.body.contains("Ohne WKN"));
    // Names keep the definition file's code page, so they read as the program stores them.
    QVERIFY(response.body.contains(Windows1252::encode(QStringLiteral("Münchener Rück"))));
}

void TestDemoQuoteServer::servesEveryWknOfTheBundledFiles()
{
    const QString data = QStringLiteral(ZALVENTO_SOURCE_DIR "/data");
    QProcess server;
    const quint16 port = startServer(server, data);
    QVERIFY(port != 0);
    const auto stop = qScopeGuard([&] { stopServer(server); });

    for (const QString &index :
         {QStringLiteral("Dax"), QStringLiteral("MDax"), QStringLiteral("SDax"), QStringLiteral("TecDax")}) {
        QFile file(data + QLatin1Char('/') + index + QStringLiteral(".txt"));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QStringList lines = Windows1252::decode(file.readAll()).split(QStringLiteral("\r\n"));
        const Response response = fetch(QuotePage::pathOf(index).toLatin1(), port);
        QCOMPARE(response.status, 200);
        int components = 0;
        for (qsizetype wknLine = 3; wknLine < lines.size(); wknLine += 7, ++components) {
            const QString &wkn = lines.at(wknLine);
            const auto quote = QuotePage::extract(response.body, wkn, QLatin1Char(','));
            QVERIFY2(quote && quote->bid > 0 && quote->bid < quote->ask,
                     qPrintable(index + QLatin1Char(' ') + wkn));
        }
        QVERIFY2(components >= 30, qPrintable(index));
    }
}

void TestDemoQuoteServer::pricesMove()
{
    const QByteArray path = QuotePage::pathOf(QStringLiteral("Dax")).toLatin1();
    const auto quotes = [&] {
        const Response response = fetch(path);
        QList<double> values;
        for (const Component &c : m_dax) {
            if (c.wkn == QLatin1String("0"))
                continue;
            if (const auto quote = QuotePage::extract(response.body, c.wkn, QLatin1Char(',')))
                values << quote->bid << quote->ask;
        }
        return values;
    };
    const QList<double> first = quotes();
    QCOMPARE(first.size(), 10);
    bool moved = false;
    for (int i = 0; i < 10 && !moved; ++i)
        moved = quotes() != first;
    QVERIFY(moved);
}

void TestDemoQuoteServer::pagesWithoutDefinitionFile()
{
    const Response tecDax = fetch(QuotePage::pathOf(QStringLiteral("TecDax")).toLatin1());
    QCOMPARE(tecDax.status, 200);
    QVERIFY(QuotePage::extract(tecDax.body, QStringLiteral("A0WMPJ"), QLatin1Char(',')));

    // No MDax.txt: the page is there, without quotes.
    const Response mDax = fetch(QuotePage::pathOf(QStringLiteral("MDax")).toLatin1());
    QCOMPARE(mDax.status, 200);
    QVERIFY(!QuotePage::extract(mDax.body, QStringLiteral("A0WMPJ"), QLatin1Char(',')));

    QCOMPARE(fetch("/L-S-DAX.84.0.html").status, 404);
}

void TestDemoQuoteServer::failuresOnRequest_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("complete");

    QTest::newRow("404") << QByteArray("/404") << 404 << true;
    QTest::newRow("500") << QByteArray("/500") << 500 << true;
    QTest::newRow("reset mid-body") << QByteArray("/reset") << 200 << false;
    QTest::newRow("close without answer") << QByteArray("/close") << 0 << false;
    QTest::newRow("slow drip") << QByteArray("/slow/L-S-TecDax.81.0.html") << 200 << true;
}

void TestDemoQuoteServer::failuresOnRequest()
{
    QFETCH(QByteArray, path);
    QFETCH(int, status);
    QFETCH(bool, complete);

    const Response response = fetch(path);
    QCOMPARE(response.status, status);
    if (complete) {
        QVERIFY(!response.aborted);
        QCOMPARE(response.body.size(), response.contentLength);
    } else if (status == 0) {
        QVERIFY(response.bytes.isEmpty());
    } else {
        QVERIFY(response.body.size() < response.contentLength);
    }
}

void TestDemoQuoteServer::jsonFeed_data()
{
    QTest::addColumn<bool>("https");
    QTest::newRow("http") << false;
    QTest::newRow("https, the server's own authority") << true;
}

// The feed gives every component of the page with a number bid below its ask, the ISIN made of the WKN and
// a time with offset; the third component (every third is stale) is half an hour old.
void TestDemoQuoteServer::jsonFeed()
{
    QFETCH(bool, https);
    QProcess tlsServer;
    const auto stop = qScopeGuard([&] { stopServer(tlsServer); });
    const QString ca = m_data.filePath(QStringLiteral("ca.pem"));
    const quint16 port = https ? startServer(tlsServer, m_data.path(), {"--https", "--ca-file", ca}) : m_port;
    QVERIFY(port != 0);

    FeedFetcher fetcher;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const QByteArray feed = fetcher.fetch(
        QUrl(QStringLiteral("%1://127.0.0.1:%2/feed/dax.json").arg(https ? "https" : "http").arg(port)),
        https ? ca : QString());
    const QJsonArray quotes = QJsonDocument::fromJson(feed).object().value("quotes").toArray();
    QCOMPARE(quotes.size(), 5);
    const QStringList isins = {"DE000A1EWWW0", "DE0008404005", "DE0008430026", "DE000PENNY13",
                               "DE000NOPRC13"};
    for (qsizetype i = 0; i < quotes.size(); ++i) {
        const QJsonObject quote = quotes.at(i).toObject();
        QCOMPARE(quote.value("wkn").toString(), m_dax.at(i).wkn);
        QCOMPARE(quote.value("isin").toString(), isins.at(i));
        QVERIFY(quote.value("bid").toDouble() > 0 &&
                quote.value("bid").toDouble() < quote.value("ask").toDouble());
        const QDateTime time = QDateTime::fromString(quote.value("time").toString(), Qt::ISODate);
        QVERIFY(time.isValid() &&
                quote.value("time").toString().contains(QRegularExpression("[+-]\\d\\d:\\d\\d$")));
        const qint64 age = time.secsTo(before);
        QVERIFY2(i == 2 ? age > 29 * 60 && age < 31 * 60 : age < 60,
                 qPrintable(quote.value("time").toString()));
    }
}

// The CSV list read by the README's entry gives every component; the stale one is half an hour old.
void TestDemoQuoteServer::germanList()
{
    const Response response = fetch("/feed/dax.csv");
    QCOMPARE(response.status, 200);
    const FeedFile::Lookup lookup = FeedFile::parse(
        R"({"Dax": {"kind": "csv", "url": "http://127.0.0.1/feed/dax.csv", "skip": 1, "decimal": ",", )"
        R"("id": "WKN", "bid": "Geld", "ask": "Brief", "time": ["Datum", "Zeit"], )"
        R"("timeFormat": "dd.MM.yyyy HH:mm:ss", "timeZone": "Europe/Berlin"}})",
        QStringLiteral("README"), QStringLiteral("Dax"));
    QVERIFY2(lookup.feed, qPrintable(lookup.error));
    FeedExtraction::FeedQuotes quotes;
    FeedExtraction::readCsv(quotes, response.body, *lookup.feed);
    QCOMPARE(quotes.size(), 5);
    const QDateTime now = QDateTime::currentDateTime();
    for (qsizetype i = 0; i < 5; ++i) {
        const FeedExtraction::FeedQuote quote = quotes.value(m_dax.at(i).wkn);
        QVERIFY(quote.bid > 0 && quote.bid < quote.ask);
        const qint64 age = quote.time.secsTo(now);
        QVERIFY2(i == 2 ? age > 29 * 60 && age < 31 * 60 : age < 60,
                 qPrintable(quote.time.toString(Qt::ISODate)));
    }
}

QTEST_GUILESS_MAIN(TestDemoQuoteServer)
#include "test_demoquoteserver.moc"
