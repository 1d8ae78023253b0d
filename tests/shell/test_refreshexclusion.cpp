#include "shell/refreshexclusion.h"

#include <QTest>

using Work = RefreshExclusion::Work;

class TestRefreshExclusion : public QObject
{
    Q_OBJECT

private slots:
    void refusedRefresh_data()
    {
        QTest::addColumn<bool>("needsClient");
        QTest::addColumn<bool>("clientBusy");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("runs");
        QTest::newRow("web source, client free") << true << false << false << true;
        QTest::newRow("web source, client busy") << true << true << false << false;
        QTest::newRow("Norvata source, client busy") << false << true << false << true;
        QTest::newRow("after the shutdown") << false << false << true << false;
    }

    void refusedRefresh()
    {
        QFETCH(bool, needsClient);
        QFETCH(bool, clientBusy);
        QFETCH(bool, closed);
        QFETCH(bool, runs);
        RefreshExclusion exclusion([] { return false; });
        if (closed)
            exclusion.close();
        bool ran = false;
        QCOMPARE(exclusion.refresh(needsClient, clientBusy, [&ran] { ran = true; }), runs);
        QCOMPARE(ran, runs);
    }

    // Work asked for while a refresh waits runs after it, in the order asked, a later request of one kind
    // replacing the waiting one; a refresh refused inside the running one does not run it early.
    void deferredUntilTheRefreshEnds()
    {
        bool running = false;
        RefreshExclusion exclusion([&running] { return running; });
        QStringList done;
        exclusion.refresh(false, false, [&] {
            running = true;
            exclusion.whenNoRefreshRuns(Work::Reload, [&done] { done << "reload MDax"; });
            exclusion.whenNoRefreshRuns(Work::Lookup, [&done] { done << "lookup"; });
            exclusion.whenNoRefreshRuns(Work::Reload, [&done] { done << "reload SDax"; });
            exclusion.refresh(false, false, [] {}); // refused by the running refresh itself
            QVERIFY(done.isEmpty());
            running = false;
        });
        QCOMPARE(done, (QStringList{"reload SDax", "lookup"}));
        exclusion.whenNoRefreshRuns(Work::Lookup, [&done] { done << "now"; });
        QCOMPARE(done.last(), QStringLiteral("now"));
    }

    void nothingRunsAfterTheShutdown()
    {
        bool running = false;
        RefreshExclusion exclusion([&running] { return running; });
        bool reloaded = false;
        exclusion.refresh(false, false, [&] {
            running = true;
            exclusion.whenNoRefreshRuns(Work::Reload, [&reloaded] { reloaded = true; });
            exclusion.close(); // the window closes while the refresh waits
            running = false;
        });
        exclusion.whenNoRefreshRuns(Work::Reload, [&reloaded] { reloaded = true; });
        QVERIFY(!reloaded);
        QVERIFY(exclusion.closed());
    }
};

QTEST_GUILESS_MAIN(TestRefreshExclusion)
#include "test_refreshexclusion.moc"
