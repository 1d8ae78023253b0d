#include "net/httpresponsehead.h"

#include <QTest>

using State = HttpResponseHead::State;
Q_DECLARE_METATYPE(HttpResponseHead::State)

class TestHttpResponseHead : public QObject
{
    Q_OBJECT

private slots:
    // The client hands over the lines it has read and goes on with the rest: cut anywhere, the first part
    // is never complete, and the two parts give the lines of the whole.
    void everyCutGivesTheSameLines()
    {
        for (const QByteArray response : {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nbody",
                                          "HTTP/1.1 302 Found\nLocation:  /x\nSet-Cookie: a=b\n\n",
                                          "<html><body>no head\r\n</body></html>\r\n"}) {
            const HttpResponseHead whole = parseHttpResponseHead(response);
            QCOMPARE(whole.state, State::Complete);
            for (qsizetype cut = 0; cut < whole.consumed; ++cut) {
                const HttpResponseHead first = parseHttpResponseHead(response.first(cut));
                QVERIFY2(first.state == State::Incomplete, response.first(cut).constData());
                const HttpResponseHead rest = parseHttpResponseHead(response.sliced(first.consumed));
                QCOMPARE(first.lines.size() + rest.lines.size(), whole.lines.size());
                QCOMPARE(first.consumed + rest.consumed, whole.consumed);
            }
        }
    }

    void readsEachLineOnItsOwn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("length");
        QTest::newRow("whole") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello")
                               << State::Complete << 200 << qint64(5);
        QTest::newRow("headless") << QByteArray("<HTML>\r\nx") << State::Complete << 0 << qint64(-1);
        QTest::newRow("later status line")
            << QByteArray("HTTP/1.0 200 OK\r\nServer: x\r\nHTTP/1.1 404 Gone\r\n\r\n") << State::Complete
            << 404 << qint64(-1);
        QTest::newRow("HTTP/2 is no status")
            << QByteArray("HTTP/2 200 OK\r\n\r\n") << State::Complete << 0 << qint64(-1);
        QTest::newRow("NUL holds the line open")
            << QByteArray("HTTP/1.0 200 OK\r\nA: \0b\r\n\r\n", 26) << State::Incomplete << 200 << qint64(-1);
        QTest::newRow("status code no number")
            << QByteArray("HTTP/1.0 2x0 OK\r\n\r\n") << State::Malformed << 0 << qint64(-1);
        QTest::newRow("empty status code")
            << QByteArray("HTTP/1.0\r\n\r\n") << State::Malformed << 0 << qint64(-1);
        QTest::newRow("length no number") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 5x\r\n\r\n")
                                          << State::Malformed << 200 << qint64(-1);
        QTest::newRow("length too large")
            << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\n") << State::Malformed << 200
            << qint64(-1);
    }

    void readsEachLineOnItsOwn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(State, state);
        QFETCH(int, status);
        QFETCH(qint64, length);
        const HttpResponseHead head = parseHttpResponseHead(bytes);
        QCOMPARE(head.state, state);
        QCOMPARE(head.statusCode(), status);
        QCOMPARE(head.contentLength(), length);
    }
};

QTEST_APPLESS_MAIN(TestHttpResponseHead)
#include "test_httpresponsehead.moc"
