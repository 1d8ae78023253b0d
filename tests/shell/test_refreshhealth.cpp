#include "shell/metricstext.h"
#include "shell/refreshhealth.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TestRefreshHealth : public QObject
{
    Q_OBJECT

private slots:
    // Steps: "ok", "fail", "on", "off" (the automatic mode), "wait <minutes>", "stale <n>", "index <name>";
    // the index starts as DAX.
    void status_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("status");
        QTest::newRow("nothing yet") << QStringList{} << "ok";
        QTest::newRow("two failures") << QStringList{"fail", "fail"} << "ok";
        QTest::newRow("three failures") << QStringList{"fail", "fail", "fail"} << "failing";
        QTest::newRow("a success ends them") << QStringList{"fail", "fail", "fail", "ok"} << "ok";
        QTest::newRow("stale quotes") << QStringList{"ok", "stale 2"} << "stale";
        QTest::newRow("failing before stale") << QStringList{"stale 1", "fail", "fail", "fail"} << "failing";
        QTest::newRow("on, 9 minutes") << QStringList{"on", "wait 9"} << "ok";
        QTest::newRow("on, 10 minutes without a success") << QStringList{"on", "wait 10"} << "failing";
        QTest::newRow("on, a success 9 minutes ago") << QStringList{"on", "wait 5", "ok", "wait 9"} << "ok";
        QTest::newRow("on, a success 10 minutes ago") << QStringList{"on", "ok", "wait 10"} << "failing";
        QTest::newRow("off, an hour without a success") << QStringList{"on", "off", "wait 60"} << "ok";
        QTest::newRow("switched on again")
            << QStringList{"on", "ok", "off", "wait 60", "on", "wait 9"} << "ok";
        QTest::newRow("another index counts afresh")
            << QStringList{"on", "wait 9", "fail", "fail", "fail", "index MDAX", "wait 9"} << "ok";
        QTest::newRow("the same index keeps its counts")
            << QStringList{"fail", "fail", "fail", "index DAX"} << "failing";
    }

    void status()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, status);
        ManualClock clock(QDateTime(QDate(2026, 12, 9), QTime(10, 0)));
        RefreshHealth health(clock);
        health.setIndex("DAX");
        for (const QString &step : steps) {
            const QString argument = step.section(' ', 1);
            if (step == "ok")
                health.refreshSucceeded(10);
            else if (step == "fail")
                health.refreshFailed("Fehler beim Kursaktualisieren", 10);
            else if (step == "on" || step == "off")
                health.setAutomaticMode(step == "on");
            else if (step.startsWith("wait"))
                clock.advance(argument.toLongLong() * 60 * 1000);
            else if (step.startsWith("stale"))
                health.setQuoteCounts(argument.toInt(), 0);
            else if (step.startsWith("index"))
                health.setIndex(argument);
        }
        QCOMPARE(RefreshHealth::statusName(health.status()), status);
    }

    void healthAndMetricsText()
    {
        ManualClock clock(QDateTime::fromSecsSinceEpoch(1'765'000'000, Qt::UTC));
        RefreshHealth health(clock);
        health.setIndex("D\"A\\X");
        health.refreshSucceeded(250);
        clock.advance(5000);
        for (int i = 0; i < 3; ++i)
            health.refreshFailed("Fehler beim Kursaktualisieren: Dax: HTTP 429 Too Many Requests", 1500);
        health.setQuoteCounts(3, 1);

        const QJsonObject json = QJsonDocument::fromJson(health.json()).object();
        QCOMPARE(json["status"].toString(), "failing");
        QCOMPARE(json["lastSuccess"].toString(), "2025-12-06T05:46:40.000Z");
        QCOMPARE(json["failingSince"].toString(), "2025-12-06T05:46:45.000Z");
        QCOMPARE(json["lastFailureReason"].toString(),
                 "Fehler beim Kursaktualisieren: Dax: HTTP 429 Too Many Requests");
        QCOMPARE(json["consecutiveFailures"].toInt(), 3);
        QCOMPARE(json["staleCount"].toInt(), 3);

        const QByteArray label = "{index=\"D\\\"A\\\\X\"";
        const QByteArray text = metricsText(health, std::nullopt);
        for (const QByteArray &sample :
             {"zalvento_index_value" + label + "} NaN\n",
              "zalvento_refreshes_total" + label + ",result=\"ok\"} 1\n",
              "zalvento_refreshes_total" + label + ",result=\"failed\"} 3\n",
              "zalvento_quotes_stale" + label + "} 3\n", "zalvento_quotes_missing" + label + "} 1\n",
              "zalvento_last_success_timestamp_seconds" + label + "} 1765000000\n",
              "zalvento_refresh_duration_seconds" + label + "} 1.5\n",
              QByteArray("# TYPE zalvento_refreshes_total counter\n")})
            QVERIFY2(text.contains(sample), sample.constData());
        QCOMPARE(metricsText(health, 10422.22).split('\n').at(2),
                 "zalvento_index_value" + label + "} 10422.22");
    }
};

QTEST_GUILESS_MAIN(TestRefreshHealth)
#include "test_refreshhealth.moc"
