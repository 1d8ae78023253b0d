#include "shell/automaticrefresh.h"

#include <QTest>

namespace {

// Records what the cycle asks of its timer; the test delivers the timeouts.
struct FakeTimer : RefreshTimer
{
    bool active = false;
    QList<int> starts; // the interval of every start, in order
    void start(int milliseconds) override
    {
        active = true;
        starts << milliseconds;
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
};

using State = AutomaticRefresh::State;

} // namespace

class TestAutomaticCycle : public QObject
{
    Q_OBJECT

private slots:
    // A script is a list of steps: "on", "off", "tick", or "tick:" followed by the steps that happen
    // while that tick's refresh waits for its page ("tick:off,on").
    void cycle_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("refreshes");
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("timerActive");
        QTest::addColumn<QList<int>>("starts");
        QTest::addColumn<int>("interval");

        QTest::newRow("first switch-on waits 100 ms")
            << QStringList{"on"} << 0 << State::Waiting << true << QList<int>{100} << 100;
        QTest::newRow("steady cycle: a pause after each refresh")
            << QStringList{"on", "tick", "tick"} << 2 << State::Waiting << true << QList<int>{100, 5000, 5000}
            << 5000;
        QTest::newRow("off while waiting keeps the interval")
            << QStringList{"on", "tick", "off"} << 1 << State::Off << false << QList<int>{100, 5000} << 5000;
        QTest::newRow("off while waiting and on again waits 5000 ms")
            << QStringList{"on", "tick", "off", "on"} << 1 << State::Waiting << true
            << QList<int>{100, 5000, 5000} << 5000;
        QTest::newRow("switch-on while waiting changes nothing")
            << QStringList{"on", "tick", "on", "on"} << 1 << State::Waiting << true << QList<int>{100, 5000}
            << 5000;
        QTest::newRow("off during a refresh: it completes, none follows")
            << QStringList{"on", "tick:off"} << 1 << State::Off << false << QList<int>{100} << 100;
        QTest::newRow("off during a refresh, on later: 100 ms")
            << QStringList{"on", "tick:off", "on"} << 1 << State::Waiting << true << QList<int>{100, 100}
            << 100;
        QTest::newRow("switch-on during a refresh changes nothing")
            << QStringList{"on", "tick:on"} << 1 << State::Waiting << true << QList<int>{100, 5000} << 5000;
        QTest::newRow("off and on during a refresh: the wait counts meanwhile")
            << QStringList{"on", "tick:off,on"} << 1 << State::Waiting << true << QList<int>{100, 100, 5000}
            << 5000;
        QTest::newRow("a tick during a refresh runs none; the cycle goes on")
            << QStringList{"on", "tick:off,on,tick"} << 1 << State::Waiting << true
            << QList<int>{100, 100, 5000, 5000} << 5000;
        QTest::newRow("off before any tick")
            << QStringList{"on", "off"} << 0 << State::Off << false << QList<int>{100} << 100;
    }

    void cycle()
    {
        QFETCH(QStringList, script);
        QFETCH(int, refreshes);
        QFETCH(State, state);
        QFETCH(bool, timerActive);
        QFETCH(QList<int>, starts);
        QFETCH(int, interval);

        FakeTimer timer;
        QStringList during;
        int refreshed = 0;
        QList<State> statesDuringRefresh;
        AutomaticRefresh *cycle = nullptr;
        const auto run = [&](const QString &step) {
            if (step == QLatin1String("on"))
                cycle->switchOn();
            else if (step == QLatin1String("off"))
                cycle->switchOff();
            else
                cycle->timeout();
        };
        AutomaticRefresh automatic(timer, [&] {
            ++refreshed;
            QVERIFY(!timer.active); // a tick stops its timer before it refreshes
            for (const QString &step : std::exchange(during, {}))
                run(step);
            statesDuringRefresh << cycle->state();
        });
        cycle = &automatic;
        QList<bool> shown;
        automatic.modeChanged = [&shown](bool on) { shown << on; };

        for (const QString &step : script) {
            if (step.startsWith(QLatin1String("tick:")))
                during = step.mid(5).split(QLatin1Char(','));
            run(step.startsWith(QLatin1String("tick")) ? QStringLiteral("tick") : step);
        }
        QCOMPARE(refreshed, refreshes);
        QCOMPARE(automatic.state(), state);
        QCOMPARE(automatic.isOn(), state == State::Waiting);
        QCOMPARE(timer.active, timerActive);
        QCOMPARE(timer.starts, starts);
        QCOMPARE(automatic.interval(), interval);
        // The bulbs follow every change of the mode and only those.
        QVERIFY(!shown.isEmpty() && shown.last() == automatic.isOn());
        for (qsizetype i = 1; i < shown.size(); ++i)
            QVERIFY(shown[i] != shown[i - 1]);
        for (const State during : statesDuringRefresh)
            QVERIFY(during == State::RefreshingOn || during == State::RefreshingOff);
    }

    // Outcomes of the ticks' refreshes, "ok", "fail" or either with ":<Retry-After ms>", and the wait
    // after each.
    void backoff_data()
    {
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<QList<int>>("waits");
        QTest::newRow("failures double the pause, a success ends that")
            << QStringList{"fail", "fail", "fail", "ok", "fail"}
            << QList<int>{10000, 20000, 40000, 5000, 10000};
        QTest::newRow("at most five minutes")
            << QStringList(8, QStringLiteral("fail"))
            << QList<int>{10000, 20000, 40000, 80000, 160000, 300000, 300000, 300000};
        QTest::newRow("Retry-After longer than the wait")
            << QStringList{"fail:20000", "fail:1000", "ok:7000"} << QList<int>{20000, 20000, 7000};
    }

    void backoff()
    {
        QFETCH(QStringList, outcomes);
        QFETCH(QList<int>, waits);
        FakeTimer timer;
        AutomaticRefresh automatic(timer, [] {});
        qsizetype tick = 0;
        automatic.outcome = [&] {
            const QStringList parts = outcomes[tick++].split(QLatin1Char(':'));
            return RefreshOutcome{parts[0] == QLatin1String("fail"), parts.value(1).toLongLong()};
        };
        automatic.switchOn();
        for (qsizetype i = 0; i < outcomes.size(); ++i)
            automatic.timeout();
        QCOMPARE(timer.starts.mid(1), waits);
    }

    // The real binding: a precise single-shot timer.
    void preciseTimer()
    {
        int elapsed = 0;
        PreciseRefreshTimer timer([&elapsed] { ++elapsed; });
        timer.start(20);
        QVERIFY(timer.isActive());
        QTRY_COMPARE(elapsed, 1);
        QVERIFY(!timer.isActive());
        timer.start(20);
        timer.stop();
        QTest::qWait(60);
        QCOMPARE(elapsed, 1);
    }
};

QTEST_GUILESS_MAIN(TestAutomaticCycle)
#include "test_automaticcycle.moc"
