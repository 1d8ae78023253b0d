// The window's web access over real HTTP on 127.0.0.1: the price refresh from the demo quote server, a
// quote server that answers 404, and the index file update from a local download server.
#include "net/httpclient.h"
#include "programfolder.h"

#include <QLabel>
#include <QPushButton>

#include <QDateTime>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// Answers every request with the response that `answer` gives for its path, then closes.
class FileServer : public QTcpServer
{
public:
    std::function<QByteArray(const QByteArray &path)> answer;
    QList<QByteArray> paths;

    FileServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->peek(8192);
                    if (!request.contains("\r\n\r\n"))
                        return;
                    const QByteArray path = request.split(' ').value(1);
                    paths << path;
                    socket->write(answer(path));
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        listen(QHostAddress::LocalHost);
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }
};

QByteArray ok(const QByteArray &body)
{
    return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// A definition file of two real Dax components, prices with the decimal comma.
const QByteArray twoComponents = "10\r\n0\r\nAllianz\r\n840400\r\n416,3\r\n2\r\n\r\n0\r\n0\r\n"
                                 "BASF\r\nBASF11\r\n50,18\r\n10\r\n\r\n0\r\n0\r\n";

} // namespace

class TestWebAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The quote pages write decimal points, which the extraction reads under the decimal comma.
        QCOMPARE(QLocale::system().decimalPoint(), QStringLiteral(","));
    }

    void refreshFromTheDemoQuoteServer()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
            QSKIP("python3 is missing");
        ProgramFolder folder;
        folder.write(QStringLiteral("Dax.txt"), twoComponents);
        folder.writeInfo();
        QProcess server;
        server.start(QStringLiteral("python3"),
                     {QStringLiteral(ZALVENTO_SOURCE_DIR "/tools/demoquoteserver/demoquoteserver.py"),
                      QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), folder.path(QString()),
                      QStringLiteral("--quiet"), QStringLiteral("--exit-after"), QStringLiteral("60")});
        QVERIFY(server.waitForReadyRead(10000));
        const QByteArray port = server.readLine().trimmed();
        folder.writeSettings({QStringLiteral("\"Kursserver\"=\"127.0.0.1:%1\"").arg(QString::fromLatin1(port))});

        MainWindow form(folder.options());
        QCOMPARE(form.sourceIndex(), 1);
        form.refreshPrices();
        QCOMPARE(form.statusText(), QStringLiteral("Kurse aktualisiert"));
        QCOMPARE(form.indexTable.columns(), 9);
        QCOMPARE(form.indexTable.cell(IndexTable::BID, 0), QStringLiteral("BID"));
        for (int row = 1; row <= 2; ++row) {
            const double bid = form.indexTable.cell(IndexTable::BID, row).replace(',', '.').toDouble();
            const double ask = form.indexTable.cell(IndexTable::ASK, row).replace(',', '.').toDouble();
            const double price = form.indexTable.cell(IndexTable::Kurswert, row).replace(',', '.').toDouble();
            QVERIFY2(bid > 0 && bid < ask, qPrintable(form.indexTable.cell(IndexTable::BID, row)));
            QCOMPARE(price, (bid + ask) / 2); // the first refresh takes the mean
        }
        QVERIFY(folder.messages.isEmpty());
        server.terminate();
        server.waitForFinished();
    }

    // A failed fetch, and a page that did not arrive whole, end the refresh as a failure and leave the
    // table as it was.
    void quoteServerFailing_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("404") << QByteArray("HTTP/1.0 404 Not Found\r\n\r\nweg");
        QTest::newRow("closed without an answer") << QByteArray();
        QTest::newRow("cut short") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n<td>840400</td>");
    }

    void quoteServerFailing()
    {
        QFETCH(QByteArray, answer);
        FileServer server;
        server.answer = [answer](const QByteArray &) { return answer; };
        ProgramFolder folder;
        folder.write(QStringLiteral("Dax.txt"), twoComponents);
        folder.writeInfo();
        folder.writeSettings({QStringLiteral("\"Kursserver\"=\"%1\"").arg(server.host())});
        MainWindow form(folder.options());
        const QString label = form.valueLabel->text();
        form.refreshPrices();
        QCOMPARE(server.paths, QList<QByteArray>{"/L-S-DAX-R.84.0.html"});
        QCOMPARE(form.statusText(), QStringLiteral("Fehler beim Kursaktualisieren"));
        QCOMPARE(form.indexTable.columns(), 7);
        QCOMPARE(form.valueLabel->text(), label);
        QVERIFY(form.refreshButton->isEnabled());
        QVERIFY(!form.httpClient->busy());
    }

    void indexFileUpdate_data()
    {
        QTest::addColumn<int>("failingStep"); // 0: none
        QTest::newRow("all five") << 0;
        QTest::newRow("404 on the second") << 2;
    }

    void indexFileUpdate()
    {
        QFETCH(int, failingStep);
        FileServer server;
        const QList<QByteArray> order = {"/zalvento/dax.txt", "/zalvento/sdax.txt", "/zalvento/mdax.txt",
                                         "/zalvento/tecdax.txt", "/zalvento/info.txt"};
        server.answer = [&](const QByteArray &path) {
            if (failingStep && path == order[failingStep - 1])
                return QByteArray("HTTP/1.0 404 Not Found\r\n\r\n");
            if (path == "/zalvento/info.txt")
                return ok("NV Zalvento V1.8\r\nNeu\r\n");
            return ok("7\r\n0\r\nNeu " + path + "\r\n1\r\n2\r\n3\r\n\r\n0\r\n0\r\n");
        };
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        folder.write(QStringLiteral("SDax.txt"), "alt");
        folder.writeSettings({QStringLiteral("\"Updateserver\"=\"%1\"").arg(server.host())});
        MainWindow form(folder.options());
        form.updateIndexFiles();
        if (failingStep) {
            QCOMPARE(server.paths, order.mid(0, failingStep));
            QCOMPARE(folder.messages, QStringList{"Not Found."});
            QCOMPARE(form.statusText(), QStringLiteral("Loading"));
            QVERIFY(folder.read(QStringLiteral("Dax.txt")).startsWith("7\r\n"));
            QCOMPARE(folder.read(QStringLiteral("SDax.txt")), QByteArray("alt"));
            QCOMPARE(form.windowTitle(), QStringLiteral("DAX"));
            QCOMPARE(form.indexTable.rows(), 3); // no reload
            return;
        }
        QCOMPARE(server.paths, order);
        QCOMPARE(folder.messages, QStringList());
        QCOMPARE(form.statusText(), QStringLiteral("Received 23 bytes"));
        QCOMPARE(form.indexTable.cell(IndexTable::Name, 1), QStringLiteral("Neu /zalvento/dax.txt"));
        QCOMPARE(form.definition.Referenzkurs, 7.0);
        QCOMPARE(form.makerSiteNote->text(), QStringLiteral("Einen neue Programmversion ist verfügbar!!"));
        // The update replaced the very files the start-up reads, whatever their case.
        QVERIFY(!QFile::exists(folder.path(QStringLiteral("dax.txt"))));
        QVERIFY(folder.read(QStringLiteral("SDax.txt")).startsWith("7\r\n"));
        QVERIFY(QFile::exists(folder.path(QStringLiteral("mdax.txt"))));
    }
};

QTEST_MAIN(TestWebAccess)
#include "test_webaccess.moc"
