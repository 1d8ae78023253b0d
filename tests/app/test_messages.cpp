#include "app/messages.h"
#include "core/errors.h"

#include <QTest>

class TestMessages : public QObject
{
    Q_OBJECT

private slots:
    void fullStop_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Datei x kann nicht geöffnet werden"
                                << "Datei x kann nicht geöffnet werden.";
        QTest::newRow("digit") << "Fehler 5"
                               << "Fehler 5.";
        QTest::newRow("umlaut") << "Schlüssel"
                                << "Schlüssel.";
        QTest::newRow("full stop") << "Ende."
                                   << "Ende.";
        QTest::newRow("exclamation sorts before") << "Achtung!"
                                                  << "Achtung!";
        QTest::newRow("bracket sorts before") << "(Error #10061)"
                                              << "(Error #10061)";
        QTest::newRow("quote sorts before") << "'x' ist kein gültiger Integerwert'"
                                            << "'x' ist kein gültiger Integerwert'";
        QTest::newRow("empty") << ""
                               << "";
    }

    void fullStop()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(Messages::withFullStop(text), shown);
    }

    // Each event is "I:", "W:" or "E:" and a text (information, warning, error), "ok" (a success), or
    // "close <n>": the n-th box shown is closed (a box stays open until then).
    void routing_data()
    {
        QTest::addColumn<bool>("unattended");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("delivered");
        QTest::newRow("window: a repetition shows in the status text")
            << false << QStringList{"I:x", "close 1", "I:x", "I:x"}
            << QStringList{"box x", "status x", "status x"};
        QTest::newRow("window: a box again after a success")
            << false << QStringList{"I:x", "close 1", "ok", "I:x"} << QStringList{"box x", "box x"};
        QTest::newRow("window: a box again after another message")
            << false << QStringList{"I:x", "close 1", "I:y", "close 2", "I:x", "close 3", "E:x"}
            << QStringList{"box x", "box y", "box x", "box x"};
        QTest::newRow("window: no box over an open box")
            << false << QStringList{"E:a", "E:b", "close 1", "E:c", "close 1", "E:d"}
            << QStringList{"box a", "status b", "box c", "status d"};
        QTest::newRow("unattended: journal lines, a repetition once")
            << true << QStringList{"E:x", "E:x", "W:y", "I:x", "I:x", "ok", "I:x", "E:a\nb"}
            << QStringList{"line <3>x", "line <4>y", "line <3>x", "line <3>x", "line <3>a b"};
    }

    void routing()
    {
        QFETCH(bool, unattended);
        QFETCH(QStringList, events);
        QFETCH(QStringList, delivered);
        QStringList seen;
        QList<std::function<void()>> boxes; // the closing of every box shown
        Messages::Router router(
            {[&](Messages::Kind, const QString &text, const std::function<void()> &closed) {
                 seen << "box " + text;
                 boxes << closed;
             },
             [&](const QByteArray &line) { seen << "line " + QString::fromUtf8(line.chopped(1)); },
             [&](const QString &text) { seen << "status " + text; }});
        router.setMode(unattended ? Messages::Mode::Unattended : Messages::Mode::Window);
        for (const QString &event : events) {
            if (event == "ok")
                router.succeeded();
            else if (event.startsWith("close"))
                boxes.at(event.section(' ', 1).toInt() - 1)();
            else
                router.deliver(event[0] == 'E'   ? Messages::Kind::Error
                               : event[0] == 'W' ? Messages::Kind::Warning
                                                 : Messages::Kind::Information,
                               event.mid(2));
        }
        QCOMPARE(seen, delivered);
    }

    void guardedReportsAndGoesOn()
    {
        QStringList boxes;
        Messages::setSink([&](Messages::Kind kind, const QString &text) {
            QCOMPARE(kind, Messages::Kind::Error);
            boxes << text;
        });
        Messages::guarded([] { throw ZalventoError(QStringLiteral("HTTP component is busy")); });
        Messages::guarded([] { throw std::runtime_error("plain"); });
        Messages::guarded([] {});
        Messages::setSink({});
        QCOMPARE(boxes, QStringList({"HTTP component is busy.", "plain."}));
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "test_messages.moc"
