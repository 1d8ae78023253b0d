#include "app/livelink.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

struct ClientRun
{
    int exitCode = -1;
    QString output;
    QString error;
};

// Runs a D-Bus command-line client while this process keeps serving the link.
ClientRun runClient(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000))
        qWarning("client %s timed out", qPrintable(program));
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
            QString::fromUtf8(process.readAllStandardError()).trimmed()};
}

const QString service = QStringLiteral("de.quenkel.zalvento");

ClientRun getItem(const QString &path, const QString &item = QStringLiteral("Kurs"),
                  const QString &destination = service)
{
    return runClient(QStringLiteral("gdbus"),
                     {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                      destination, QStringLiteral("--object-path"), path, QStringLiteral("--method"),
                      QStringLiteral("org.freedesktop.DBus.Properties.Get"), LiveLink::interfaceName, item});
}

} // namespace

// Follows the item's notifications the way a linked program does: its own connection to the bus.
class Follower : public QObject
{
    Q_OBJECT

public:
    QStringList values;

public slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
    {
        if (interface == LiveLink::interfaceName)
            values << changed.value(LiveLink::itemName).toString();
    }
};

class TestLiveLink : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_link = std::make_unique<LiveLink>();
        QVERIFY2(m_link->start(QStringLiteral("zalvento")), qPrintable(m_link->errorText()));
        m_link->setTopic(QStringLiteral("DAX"));
        QTRY_VERIFY(m_link->ownsBusName());
    }

    void cleanup() { m_link.reset(); }

    void requestBeforeTheFirstCalculation()
    {
        const ClientRun run = getItem(QStringLiteral("/DAX"));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, QStringLiteral("(<'1000'>,)"));
    }

    void requestMatchesTopicInAnyCaseAndItemExactly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("served");
        QTest::newRow("DAX Kurs") << "/DAX"
                                  << "Kurs" << true;
        QTest::newRow("dax Kurs") << "/dax"
                                  << "Kurs" << true;
        QTest::newRow("Dax Kurs") << "/Dax"
                                  << "Kurs" << true;
        QTest::newRow("DAX kurs") << "/DAX"
                                  << "kurs" << false;
        QTest::newRow("DAX KURS") << "/DAX"
                                  << "KURS" << false;
        QTest::newRow("other topic") << "/MDAX"
                                     << "Kurs" << false;
        QTest::newRow("below the topic") << "/DAX/Kurs"
                                         << "Kurs" << false;
        QTest::newRow("root") << "/"
                              << "Kurs" << false;
    }

    void requestMatchesTopicInAnyCaseAndItemExactly()
    {
        QFETCH(QString, path);
        QFETCH(QString, item);
        QFETCH(bool, served);
        m_link->setItemText(QStringLiteral("10422,22"));
        const ClientRun run = getItem(path, item);
        QCOMPARE(run.exitCode == 0, served);
        if (served)
            QCOMPARE(run.output, QStringLiteral("(<'10422,22'>,)"));
    }

    void busctlReadsTheItem()
    {
        m_link->setItemText(QStringLiteral("5123,45"));
        const ClientRun run =
            runClient(QStringLiteral("busctl"),
                      {QStringLiteral("--user"), QStringLiteral("get-property"), service,
                       QStringLiteral("/dax"), LiveLink::interfaceName, QStringLiteral("Kurs")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, QStringLiteral("s \"5123,45\""));
    }

    void everySetNotifiesEvenWithoutChange()
    {
        QDBusConnection client =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
        Follower follower;
        QVERIFY(client.connect(service, QStringLiteral("/DAX"),
                               QStringLiteral("org.freedesktop.DBus.Properties"),
                               QStringLiteral("PropertiesChanged"), &follower,
                               SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
        m_link->setItemText(QStringLiteral("10422,22"));
        m_link->setItemText(QStringLiteral("10422,22"));
        m_link->setItemText(QStringLiteral("10425"));
        QTRY_COMPARE(follower.values, (QStringList{QStringLiteral("10422,22"), QStringLiteral("10422,22"),
                                                   QStringLiteral("10425")}));

        // After the index was switched the notifications go to the new topic only.
        m_link->setTopic(QStringLiteral("MDAX"));
        Follower newTopic;
        QVERIFY(client.connect(service, QStringLiteral("/MDAX"),
                               QStringLiteral("org.freedesktop.DBus.Properties"),
                               QStringLiteral("PropertiesChanged"), &newTopic,
                               SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
        m_link->setItemText(QStringLiteral("27000"));
        QTRY_COMPARE(newTopic.values, QStringList{QStringLiteral("27000")});
        QCOMPARE(follower.values.size(), 3);
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    void pokeReplacesTheTextAndNotifies()
    {
        QDBusConnection client =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("poker"));
        Follower follower;
        QVERIFY(client.connect(service, QStringLiteral("/DAX"),
                               QStringLiteral("org.freedesktop.DBus.Properties"),
                               QStringLiteral("PropertiesChanged"), &follower,
                               SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
        QSignalSpy poked(m_link.get(), &LiveLink::itemPoked);
        const ClientRun run =
            runClient(QStringLiteral("gdbus"),
                      {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"), service,
                       QStringLiteral("--object-path"), QStringLiteral("/dax"), QStringLiteral("--method"),
                       QStringLiteral("org.freedesktop.DBus.Properties.Set"), LiveLink::interfaceName,
                       QStringLiteral("Kurs"), QStringLiteral("<'Hallo Welt'>")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(poked.size(), 1);
        QCOMPARE(m_link->itemText(), QStringLiteral("Hallo Welt"));
        QCOMPARE(getItem(QStringLiteral("/DAX")).output, QStringLiteral("(<'Hallo Welt'>,)"));
        QTRY_COMPARE(follower.values, QStringList{QStringLiteral("Hallo Welt")});

        // The next calculation replaces the poked text.
        m_link->setItemText(QStringLiteral("10422,22"));
        QCOMPARE(getItem(QStringLiteral("/DAX")).output, QStringLiteral("(<'10422,22'>,)"));
        QDBusConnection::disconnectFromBus(QStringLiteral("poker"));
    }

    void refusedCalls_data()
    {
        QTest::addColumn<QStringList>("call");
        const QString set = QStringLiteral("org.freedesktop.DBus.Properties.Set");
        QTest::newRow("poke of a number")
            << QStringList{set, LiveLink::interfaceName, QStringLiteral("Kurs"), QStringLiteral("<42>")};
        QTest::newRow("poke of kurs")
            << QStringList{set, LiveLink::interfaceName, QStringLiteral("kurs"), QStringLiteral("<'1'>")};
        QTest::newRow("execute") << QStringList{LiveLink::interfaceName + QStringLiteral(".Execute"),
                                                QStringLiteral("[Kurs]")};
        QTest::newRow("unknown method") << QStringList{LiveLink::interfaceName + QStringLiteral(".Foo")};
    }

    void refusedCalls()
    {
        QFETCH(QStringList, call);
        QSignalSpy poked(m_link.get(), &LiveLink::itemPoked);
        QStringList arguments{
            QStringLiteral("call"),          QStringLiteral("--session"), QStringLiteral("--dest"),  service,
            QStringLiteral("--object-path"), QStringLiteral("/DAX"),      QStringLiteral("--method")};
        const ClientRun run = runClient(QStringLiteral("gdbus"), arguments + call);
        QVERIFY(run.exitCode != 0);
        QVERIFY(!run.error.isEmpty());
        QCOMPARE(poked.size(), 0);
        QCOMPARE(m_link->itemText(), QStringLiteral("1000"));
    }

    void introspectionShowsTheCurrentTopic()
    {
        const QStringList introspect{QStringLiteral("introspect"), QStringLiteral("--session"),
                                     QStringLiteral("--dest"), service, QStringLiteral("--object-path")};
        ClientRun run = runClient(QStringLiteral("gdbus"), introspect + QStringList{QStringLiteral("/")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.output.contains(QStringLiteral("node DAX")), qPrintable(run.output));

        run = runClient(QStringLiteral("gdbus"), introspect + QStringList{QStringLiteral("/DAX")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.output.contains(QStringLiteral("readwrite s Kurs")), qPrintable(run.output));

        m_link->setTopic(QStringLiteral("TECDAX"));
        run = runClient(QStringLiteral("gdbus"), introspect + QStringList{QStringLiteral("/")});
        QVERIFY2(run.output.contains(QStringLiteral("node TECDAX")), qPrintable(run.output));
        QVERIFY(!run.output.contains(QStringLiteral("node DAX")));
        QVERIFY(getItem(QStringLiteral("/DAX")).exitCode != 0);
        QCOMPARE(getItem(QStringLiteral("/tecdax")).exitCode, 0);
    }

    void secondInstanceStartsAndTakesOverTheName()
    {
        LiveLink second;
        QVERIFY(second.start(QStringLiteral("zalvento")));
        second.setTopic(QStringLiteral("SDAX"));
        second.setItemText(QStringLiteral("14000"));
        QVERIFY(!second.ownsBusName());

        // Served on its unique name while the first instance holds the well-known one.
        ClientRun run = getItem(QStringLiteral("/SDAX"), QStringLiteral("Kurs"), second.uniqueName());
        QCOMPARE(run.output, QStringLiteral("(<'14000'>,)"));
        QCOMPARE(getItem(QStringLiteral("/DAX")).output, QStringLiteral("(<'1000'>,)"));

        m_link.reset();
        QTRY_VERIFY(second.ownsBusName());
        QCOMPARE(getItem(QStringLiteral("/SDAX")).output, QStringLiteral("(<'14000'>,)"));
    }

private:
    std::unique_ptr<LiveLink> m_link;
};

QTEST_GUILESS_MAIN(TestLiveLink)
#include "test_livelink.moc"
