#include "app/historychart.h"
#include "app/livelink.h"
#include "app/weblink.h"
#include "net/weblinkserver.h"
#include "programfolder.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString webportLine(qint64 port)
{
    return QStringLiteral("\"Webport\"=dword:%1").arg(port, 8, 16, QLatin1Char('0'));
}

struct Answer
{
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// One request on a connection of its own, read until the server closes it. The window serves on this
// thread, so the wait runs the event loop.
Answer exchange(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    QByteArray raw;
    (void)QTest::qWaitFor(
        [&] {
            raw += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        10000);
    raw += socket.readAll();
    Answer answer;
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return answer;
    const QList<QByteArray> lines = raw.first(headEnd).split('\n');
    answer.status = lines.first().split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        answer.headers.insert(lines[i].first(colon).toLower(), lines[i].sliced(colon + 1).trimmed());
    }
    answer.body = raw.sliced(headEnd + 4);
    return answer;
}

Answer get(quint16 port, const QByteArray &path)
{
    return exchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// Follows an event stream and collects the events' data.
class EventFollower
{
public:
    explicit EventFollower(quint16 port, const QByteArray &path = "/DAX/events")
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_socket.write("GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_raw += m_socket.readAll(); });
    }
    QList<QJsonObject> events() const
    {
        QList<QJsonObject> result;
        for (const QByteArray &block : m_raw.split('\n')) {
            if (block.startsWith("data: "))
                result << QJsonDocument::fromJson(block.sliced(6)).object();
        }
        return result;
    }
    bool open() const { return m_raw.contains("retry:"); }

private:
    QTcpSocket m_socket;
    QByteArray m_raw;
};

} // namespace

class TestWebLink : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<MainWindow> m_form;
    quint16 m_port = 0;

    WebLinkServer *server() const { return m_form->webLink->server(); }

private slots:
    void init()
    {
        m_folder = std::make_unique<ProgramFolder>();
        m_folder->writeInfo();
        m_folder->writeDefinition();
        m_port = freePort();
        m_folder->writeSettings({webportLine(m_port)});
        StartOptions options = m_folder->options();
        options.serviceName = QStringLiteral("zalvento");
        m_form = std::make_unique<MainWindow>(options);
        m_form->show();
        QVERIFY(server() && server()->isListening());
        QCOMPARE(m_form->liveLink->itemText(), QStringLiteral("10422,22"));
    }

    void cleanup()
    {
        m_form.reset();
        m_folder.reset();
    }

    void endpoints_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body"); // the whole body, or a part of it after "~"
        const QByteArray host = "\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        QTest::newRow("item") << "GET /DAX HTTP/1.1" + host << 200 << QByteArray("text/plain; charset=utf-8")
                              << QByteArray("10422,22");
        QTest::newRow("item, lower case")
            << "GET /dax HTTP/1.0" + host << 200 << QByteArray("text/plain; charset=utf-8")
            << QByteArray("10422,22");
        QTest::newRow("item, HEAD") << "HEAD /DAX HTTP/1.1" + host << 200
                                    << QByteArray("text/plain; charset=utf-8") << QByteArray();
        QTest::newRow("JSON") << "GET /Dax.json HTTP/1.1" + host << 200 << QByteArray("application/json")
                              << QByteArray("~\"item\":\"10422,22\"");
        QTest::newRow("dashboard") << "GET / HTTP/1.1" + host << 200 << QByteArray("text/html; charset=utf-8")
                                   << QByteArray("~<meta name=\"zalvento-topic\" content=\"DAX\">");
        QTest::newRow("POST") << QByteArray(
                                     "POST /DAX HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 4\r\n\r\nKurs")
                              << 405 << QByteArray("text/plain; charset=utf-8")
                              << QByteArray("405 Method Not Allowed\n");
        QTest::newRow("foreign host")
            << QByteArray("GET /DAX HTTP/1.1\r\nHost: example.org\r\n\r\n") << 421
            << QByteArray("text/plain; charset=utf-8") << QByteArray("421 Misdirected Request\n");
        QTest::newRow("other topic") << "GET /MDAX HTTP/1.1" + host << 404
                                     << QByteArray("text/plain; charset=utf-8")
                                     << QByteArray("404 Not Found\n");
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01 hello\r\n\r\n") << 400
                                 << QByteArray("text/plain; charset=utf-8")
                                 << QByteArray("400 Bad Request\n");
    }

    void endpoints()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        const Answer answer = exchange(m_port, request);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.headers.value("content-type"), contentType);
        QCOMPARE(answer.headers.value("cache-control"), QByteArray("no-store"));
        for (const QByteArray &name : answer.headers.keys())
            QVERIFY2(!name.startsWith("access-control-"), name.constData());
        if (body.startsWith('~')) {
            QVERIFY2(answer.body.contains(body.sliced(1)), answer.body.left(300).constData());
        } else {
            QCOMPARE(answer.body, body);
        }
        if (request.startsWith("HEAD"))
            QCOMPARE(answer.headers.value("content-length"), QByteArray("8"));
        else
            QCOMPARE(answer.headers.value("content-length").toLongLong(), answer.body.size());
        if (status == 405)
            QCOMPARE(answer.headers.value("allow"), QByteArray("GET, HEAD"));
    }

    void jsonDescribesTheWindow()
    {
        const QDateTime quoted = QDateTime::currentDateTime().addSecs(-90);
        m_form->setQuoteAges({{quoted, false}, {QDateTime(), true}});
        m_form->indexTable.setCell(IndexTable::Kurswert, 1, QStringLiteral("13"));
        // A long day before this calculation: its JSON view is larger than any backlog bound.
        for (int i = 0; i < 20000; ++i)
            m_form->historyChart->addPoint(HistorySeries::Index,
                                           QDateTime::currentDateTime().addSecs(i - 20000), 10000 + i);
        m_form->calculation.calculate();

        const QJsonObject json = QJsonDocument::fromJson(get(m_port, "/DAX.json").body).object();
        QCOMPARE(json.value("index").toString(), QStringLiteral("DAX"));
        QCOMPARE(json.value("item").toString(), QStringLiteral("10642,22"));
        QCOMPARE(json.value("value").toDouble(), 10642.22);
        QCOMPARE(json.value("direction").toString(), QStringLiteral("up"));
        QVERIFY(QDateTime::fromString(json.value("time").toString(), Qt::ISODateWithMs)
                    .secsTo(QDateTime::currentDateTime()) < 60);
        QCOMPARE(json.value("staleCount").toInt(), 1);
        QCOMPARE(json.value("history").toArray().size(), 20001);
        QCOMPARE(json.value("history").toArray().last().toArray().at(1).toDouble(), 10642.22);

        const QJsonArray components = json.value("components").toArray();
        QCOMPARE(components.size(), 2);
        const QJsonObject first = components.at(0).toObject();
        QCOMPARE(first.value("name").toString(), QStringLiteral("A"));
        QCOMPARE(first.value("wkn").toString(), QStringLiteral("111"));
        QCOMPARE(first.value("price").toDouble(), 13.0);
        QVERIFY(first.value("weight").isDouble());
        QVERIFY(first.value("bid").isNull()); // no price refresh yet: no BID and ASK columns
        QCOMPARE(QDateTime::fromString(first.value("quoteTime").toString(), Qt::ISODateWithMs), quoted);
        QCOMPARE(first.value("stale").toBool(), false);
        const QJsonObject second = components.at(1).toObject();
        QVERIFY(second.value("quoteTime").isNull());
        QCOMPARE(second.value("stale").toBool(), true);
    }

    void anEventPerCalculationAndPoke()
    {
        EventFollower follower(m_port, "/dax/events");
        QTRY_COMPARE(server()->eventStreamCount(), 1);
        QTRY_VERIFY(follower.open());

        // Unchanged values notify all the same.
        m_form->calculation.calculate();
        m_form->calculation.calculate();
        QTRY_COMPARE(follower.events().size(), 2);
        QCOMPARE(follower.events().at(1).value("item").toString(), QStringLiteral("10422,22"));

        // A poke over D-Bus shows in the item and sends an event.
        QTRY_VERIFY(m_form->liveLink->ownsBusName());
        QProcess poke;
        poke.start(QStringLiteral("gdbus"),
                   {"call", "--session", "--dest", "de.quenkel.zalvento", "--object-path", "/DAX", "--method",
                    "org.freedesktop.DBus.Properties.Set", LiveLink::interfaceName, LiveLink::itemName,
                    "<'10500'>"});
        QTRY_COMPARE_WITH_TIMEOUT(poke.state(), QProcess::NotRunning, 20000);
        QCOMPARE(poke.exitCode(), 0);
        QTRY_COMPARE(follower.events().size(), 3);
        QCOMPARE(follower.events().at(2).value("item").toString(), QStringLiteral("10500"));
        QCOMPARE(get(m_port, "/DAX").body, QByteArray("10500"));

        // Another index: the stream of the old topic ends with the next event, the new topic is served.
        m_form->indexChoice->setCurrentText(QStringLiteral("MDax"));
        m_folder->writeDefinition(QStringLiteral("MDax.txt"));
        m_form->startUp();
        QTRY_COMPARE(server()->eventStreamCount(), 0);
        QCOMPARE(follower.events().size(), 3);
        QCOMPARE(get(m_port, "/MDAX").status, 200);
        QCOMPARE(get(m_port, "/DAX").status, 404);
    }

    void sixtyFourClients()
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < WebLinkServer::maxConnections; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, m_port);
        }
        QTRY_COMPARE(server()->connectionCount(), WebLinkServer::maxConnections);
        QCOMPARE(get(m_port, "/DAX").status, 503);

        // Every one of them is served.
        for (auto &client : clients)
            client->write("GET /DAX HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_VERIFY(std::all_of(clients.begin(), clients.end(),
                                [](const auto &client) { return client->bytesAvailable() > 0; }));
        QVERIFY(clients.front()->readAll().endsWith("\r\n\r\n10422,22"));

        clients.pop_back();
        QTRY_COMPARE(server()->connectionCount(), WebLinkServer::maxConnections - 1);
        QCOMPARE(get(m_port, "/DAX").status, 200);

        // Clients that stay silent give their places back; an event stream stays.
        EventFollower follower(m_port);
        QTRY_COMPARE(server()->eventStreamCount(), 1);
        server()->setIdleTimeout(200);
        QTRY_COMPARE(server()->connectionCount(), 1);
        QCOMPARE(server()->eventStreamCount(), 1);
    }

    void slowClientsLoseTheirPlacesAndOneMoreIsAnswered503()
    {
        // Every client sends a byte of its head every 50 ms: never idle, never done.
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < WebLinkServer::maxConnections; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, m_port);
        }
        QTimer dribble;
        connect(&dribble, &QTimer::timeout, this, [&clients] {
            for (auto &client : clients) {
                if (client->state() == QAbstractSocket::ConnectedState)
                    client->write("G");
            }
        });
        dribble.start(50);
        QTRY_COMPARE(server()->connectionCount(), WebLinkServer::maxConnections);
        QCOMPARE(get(m_port, "/DAX").status, 503);
        server()->setHeadTimeout(600);
        QTRY_COMPARE_WITH_TIMEOUT(server()->connectionCount(), 0, 10000);
        QCOMPARE(get(m_port, "/DAX").status, 200);
    }

    void aClientThatNeverReadsIsDroppedWithoutSlowingTheRefresh()
    {
        // A plain socket with a small receive buffer that never reads what it is sent.
        const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
        const int receiveBuffer = 4096;
        ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        const QByteArray request = "GET /DAX/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        QCOMPARE(::write(descriptor, request.constData(), request.size()), request.size());
        QTRY_COMPARE(server()->eventStreamCount(), 1);
        EventFollower reader(m_port);
        QTRY_COMPARE(server()->eventStreamCount(), 2);

        QSignalSpy dropped(server(), &WebLinkServer::clientDropped);
        const auto calculate = [this] {
            m_form->calculation.calculate();
            QCoreApplication::processEvents();
        };
        QElapsedTimer timer;
        timer.start();
        int calculations = 0;
        while (dropped.isEmpty() && calculations < 20000) {
            calculate();
            ++calculations;
        }
        const qint64 withStalled = timer.nsecsElapsed();
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(server()->eventStreamCount(), 1); // the reading client stays
        QTRY_COMPARE(reader.events().size(), calculations);

        timer.restart();
        for (int i = 0; i < calculations; ++i)
            calculate();
        const qint64 without = timer.nsecsElapsed();
        qInfo("%d calculations until the stalled client was dropped: %.1f us each with it, %.1f us without",
              calculations, withStalled / 1000.0 / calculations, without / 1000.0 / calculations);
        ::close(descriptor);
    }

    void aTakenPortOrPortZeroLeavesTheProgramWithoutTheWebLink_data()
    {
        QTest::addColumn<bool>("taken");
        QTest::newRow("taken") << true;
        QTest::newRow("0") << false;
    }

    void aTakenPortOrPortZeroLeavesTheProgramWithoutTheWebLink()
    {
        QFETCH(bool, taken);
        // The instance of init() holds m_port: a second instance on the same settings.
        if (!taken)
            m_folder->writeSettings({webportLine(0)});
        MainWindow second(m_folder->options());
        QCOMPARE(second.webLink->server(), nullptr);
        QCOMPARE(second.liveLink->itemText(), QStringLiteral("10422,22"));
        QVERIFY(m_folder->messages.isEmpty());
        QCOMPARE(get(m_port, "/DAX").status, 200); // the first one goes on serving
    }
};

QTEST_MAIN(TestWebLink)
#include "test_weblink.moc"
