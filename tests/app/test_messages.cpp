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
        QTest::newRow("letter") << "Datei x kann nicht geöffnet werden" << "Datei x kann nicht geöffnet werden.";
        QTest::newRow("digit") << "Fehler 5" << "Fehler 5.";
        QTest::newRow("umlaut") << "Schlüssel" << "Schlüssel.";
        QTest::newRow("full stop") << "Ende." << "Ende.";
        QTest::newRow("exclamation sorts before") << "Achtung!" << "Achtung!";
        QTest::newRow("bracket sorts before") << "(Error #10061)" << "(Error #10061)";
        QTest::newRow("quote sorts before") << "'x' ist kein gültiger Integerwert'" << "'x' ist kein gültiger Integerwert'";
        QTest::newRow("empty") << "" << "";
    }

    void fullStop()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(Messages::withFullStop(text), shown);
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
