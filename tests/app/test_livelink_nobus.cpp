#include "app/livelink.h"

#include <QTest>

// Without a session bus (a server, a CI box) the program runs without the link.
class TestLiveLinkWithoutBus : public QObject
{
    Q_OBJECT

private slots:
    void startReportsTheLinkUnavailable()
    {
        LiveLink link;
        QVERIFY(!link.start(QStringLiteral("zalvento")));
        QVERIFY(!link.errorText().isEmpty());
        QVERIFY(!link.isRunning());
        QVERIFY(!link.ownsBusName());

        // The window goes on using the item as usual.
        QCOMPARE(link.itemText(), QStringLiteral("1000"));
        link.setTopic(QStringLiteral("DAX"));
        link.setItemText(QStringLiteral("10422,22"));
        QCOMPARE(link.itemText(), QStringLiteral("10422,22"));
        link.stop();
        QVERIFY(!link.start(QStringLiteral("zalvento")));
    }

    void serviceName_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("service");
        QTest::newRow("plain") << "/usr/bin/zalvento"
                               << "zalvento";
        QTest::newRow("up to the first dot") << "/opt/Zalvento.exe"
                                             << "Zalvento";
        QTest::newRow("two dots") << "zalvento.debug.bin"
                                  << "zalvento";
        QTest::newRow("blank and umlaut") << "/x/mein prögramm"
                                          << "mein_pr_gramm";
        QTest::newRow("leading digit") << "/x/7zal"
                                       << "_7zal";
        QTest::newRow("hidden file") << "/x/.zal"
                                     << "_";
    }

    void serviceName()
    {
        QFETCH(QString, executable);
        QFETCH(QString, service);
        QCOMPARE(LiveLink::serviceNameFor(executable), service);
    }

    void topicPath_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("path");
        QTest::newRow("DAX") << "DAX"
                             << "/DAX";
        QTest::newRow("TECDAX") << "TECDAX"
                                << "/TECDAX";
        QTest::newRow("blank") << "TEC DAX"
                               << "/TEC_20DAX";
        QTest::newRow("underscore") << "A_B"
                                    << "/A_5fB";
        QTest::newRow("umlaut") << QStringLiteral("MÜ") << "/M_c3_9c";
    }

    void topicPath()
    {
        QFETCH(QString, topic);
        QFETCH(QString, path);
        QCOMPARE(LiveLink::topicPath(topic), path);
    }
};

QTEST_GUILESS_MAIN(TestLiveLinkWithoutBus)
#include "test_livelink_nobus.moc"
