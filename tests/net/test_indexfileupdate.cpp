#include "core/errors.h"
#include "net/httpclient.h"
#include "net/indexfileupdate.h"
#include "scriptedserver.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

struct Window : UpdateWindow
{
    QString directory;
    QStringList statusTexts;
    int startUps = 0;

    QString programDirectory() const override { return directory; }
    void setStatusText(const QString &text) override { statusTexts << text; }
    void runStartUp() override { ++startUps; }
};

const QStringList localNames{QStringLiteral("dax.txt"), QStringLiteral("sdax.txt"),
                             QStringLiteral("mdax.txt"), QStringLiteral("tecdax.txt"),
                             QStringLiteral("info.txt")};

QByteArray ok(const QByteArray &body)
{
    return "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString host(const ScriptedServer &server)
{
    return QStringLiteral("127.0.0.1:%1").arg(server.port());
}

} // namespace

class TestIndexFileUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void allFiveDownloads();
    void failedStepStops_data();
    void failedStepStops();
    void unreachableServer();
    void emptyBody();
    void secondStartRefused();
    void busyClientRefused();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Window m_window;

    // Old copies of every local file, under the names the start-up sequence reads.
    void seedOldFiles()
    {
        for (const QString &name :
             {QStringLiteral("Dax.txt"), QStringLiteral("SDax.txt"), QStringLiteral("MDax.txt"),
              QStringLiteral("TecDax.txt"), QStringLiteral("Info.txt")})
            writeFile(m_window.directory + name, "old " + name.toLatin1());
    }
    QStringList entries() const { return QDir(m_window.directory).entryList(QDir::Files, QDir::Name); }
};

void TestIndexFileUpdate::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = Window();
    m_window.directory = m_dir->path() + QLatin1Char('/');
}

void TestIndexFileUpdate::allFiveDownloads()
{
    seedOldFiles();
    ScriptedServer server;
    QList<QByteArray> bodies;
    for (const QString &name : localNames) {
        bodies << "new " + name.toLatin1() + "\r\n\x80\xe4";
        server.addScript(ScriptedServer::Script::respond({ok(bodies.last())}));
    }
    THttpClient client;
    IndexFileUpdate update(client, m_window, host(server));
    update.run();

    QCOMPARE(server.connectionCount(), 5);
    for (int i = 0; i < 5; ++i) {
        const QByteArray path = "/zalvento/" + localNames[i].toLatin1();
        QVERIFY(server.requests()[i].startsWith("GET " + path + " HTTP/1.0\r\n"));
    }
    // Each download replaced the file that the start-up sequence reads, under its name.
    QCOMPARE(entries(),
             (QStringList{QStringLiteral("Dax.txt"), QStringLiteral("Info.txt"), QStringLiteral("MDax.txt"),
                          QStringLiteral("SDax.txt"), QStringLiteral("TecDax.txt")}));
    QCOMPARE(readFile(m_window.directory + QStringLiteral("Dax.txt")), bodies[0]);
    QCOMPARE(readFile(m_window.directory + QStringLiteral("SDax.txt")), bodies[1]);
    QCOMPARE(readFile(m_window.directory + QStringLiteral("MDax.txt")), bodies[2]);
    QCOMPARE(readFile(m_window.directory + QStringLiteral("TecDax.txt")), bodies[3]);
    QCOMPARE(readFile(m_window.directory + QStringLiteral("Info.txt")), bodies[4]);
    QCOMPARE(m_window.statusTexts.size(), 10);
    QCOMPARE(m_window.statusTexts.first(), QStringLiteral("Loading"));
    QCOMPARE(m_window.statusTexts.last(), QStringLiteral("Received %1 bytes").arg(bodies[4].size()));
    QCOMPARE(m_window.startUps, 1);
    QVERIFY(!update.running());
}

void TestIndexFileUpdate::failedStepStops_data()
{
    QTest::addColumn<ScriptedServer::Script>("secondAnswer");
    QTest::addColumn<QString>("text");

    QTest::newRow("404") << ScriptedServer::Script::respond({"HTTP/1.0 404 Not Found\r\n\r\nmissing"})
                         << QStringLiteral("Not Found");
    QTest::newRow("cut off") << ScriptedServer::Script::respond(
                                    {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort"})
                             << QStringLiteral("Die Datei %1sdax.txt wurde nicht vollständig übertragen");
    QTest::newRow("reset")
        << ScriptedServer::Script().waitRequest().send("HTTP/1.0 200 OK\r\n\r\npart").pause(30).reset()
        << QStringLiteral("Die Datei %1sdax.txt wurde nicht vollständig übertragen");
    QTest::newRow("closed at once") << ScriptedServer::Script().close()
                                    << QStringLiteral(
                                           "Die Datei %1sdax.txt wurde nicht vollständig übertragen");
}

void TestIndexFileUpdate::failedStepStops()
{
    QFETCH(ScriptedServer::Script, secondAnswer);
    QFETCH(QString, text);

    for (const QString &name : localNames)
        writeFile(m_window.directory + name, "old " + name.toLatin1());
    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond({ok("new dax")}));
    server.addScript(secondAnswer);
    THttpClient client;
    IndexFileUpdate update(client, m_window, host(server));
    try {
        update.run();
        QFAIL("the update went through");
    } catch (const ZalventoError &error) {
        QCOMPARE(error.text(), text.contains(QStringLiteral("%1")) ? text.arg(m_window.directory) : text);
    }
    QCOMPARE(server.connectionCount(), 2);
    QCOMPARE(readFile(m_window.directory + QStringLiteral("dax.txt")), QByteArray("new dax"));
    for (const QString &name : localNames.mid(1))
        QCOMPARE(readFile(m_window.directory + name), "old " + name.toLatin1());
    QCOMPARE(entries().size(), 5); // no temporary file left behind
    QCOMPARE(m_window.statusTexts.last(), QStringLiteral("Loading"));
    QCOMPARE(m_window.startUps, 0);
    QVERIFY(!update.running());
}

void TestIndexFileUpdate::unreachableServer()
{
    seedOldFiles();
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    THttpClient client;
    IndexFileUpdate update(client, m_window, QStringLiteral("127.0.0.1:%1").arg(port));
    try {
        update.run();
        QFAIL("the update went through");
    } catch (const EHttpException &error) {
        QCOMPARE(error.text(), QStringLiteral("Connection refused (Error #10061)"));
    }
    QCOMPARE(readFile(m_window.directory + QStringLiteral("Dax.txt")), QByteArray("old Dax.txt"));
    QCOMPARE(entries().size(), 5);
    QCOMPARE(m_window.startUps, 0);
}

void TestIndexFileUpdate::emptyBody()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::Script::respond({"HTTP/1.0 200 OK\r\n\r\n"}));
    THttpClient client;
    IndexFileUpdate update(client, m_window, host(server));
    update.run();
    for (const QString &name : localNames)
        QCOMPARE(QFileInfo(m_window.directory + name).size(), 0);
    QCOMPARE(m_window.statusTexts.last(), QStringLiteral("Received 0 bytes"));
    QCOMPARE(m_window.startUps, 1);
}

void TestIndexFileUpdate::secondStartRefused()
{
    seedOldFiles();
    ScriptedServer server;
    server.addScript(ScriptedServer::Script().waitRequest().pause(150).send(ok("slow")).close());
    THttpClient client;
    IndexFileUpdate update(client, m_window, host(server));
    QString refusal;
    bool runningMeanwhile = false;
    QTimer::singleShot(30, [&] {
        runningMeanwhile = update.running();
        try {
            update.run();
        } catch (const ZalventoError &error) {
            refusal = error.text();
        }
    });
    update.run();
    QVERIFY(runningMeanwhile);
    QCOMPARE(refusal, QStringLiteral("Die Aktualisierung der Index-Dateien läuft bereits"));
    QCOMPARE(server.connectionCount(), 5);
    QCOMPARE(readFile(m_window.directory + QStringLiteral("Info.txt")), QByteArray("slow"));
    QCOMPARE(m_window.startUps, 1);
}

void TestIndexFileUpdate::busyClientRefused()
{
    seedOldFiles();
    ScriptedServer server;
    server.addScript(ScriptedServer::Script().waitRequest().pause(150).send(ok("page")).close());
    THttpClient client;
    IndexFileUpdate update(client, m_window, host(server));
    QString refusal;
    QString urlMeanwhile;
    // A web refresh holds the client; the update is started from a menu click meanwhile.
    QTimer::singleShot(30, [&] {
        try {
            update.run();
        } catch (const EHttpException &error) {
            refusal = error.text();
        }
        urlMeanwhile = client.URL;
    });
    client.URL = QStringLiteral("http://%1/quotes").arg(host(server));
    client.Get();
    QCOMPARE(refusal, QStringLiteral("HTTP component is busy"));
    QCOMPARE(urlMeanwhile, QStringLiteral("http://%1/quotes").arg(host(server)));
    QCOMPARE(readFile(m_window.directory + QStringLiteral("Dax.txt")), QByteArray("old Dax.txt"));
    QCOMPARE(entries().size(), 5);
    QVERIFY(m_window.statusTexts.isEmpty());
}

QTEST_GUILESS_MAIN(TestIndexFileUpdate)
#include "test_indexfileupdate.moc"
