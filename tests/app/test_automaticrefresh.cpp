#include "programfolder.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int refreshPause = 300; // stands for the 5000 ms between refreshes

// The window with a quote page fetch that the test scripts: it counts the refreshes and may run a step
// while the refresh "waits for its page".
class Window : public MainWindow
{
public:
    using MainWindow::MainWindow;

    int fetches = 0;
    std::function<void()> duringFetch;

    QByteArray fetchQuotePage() override
    {
        ++fetches;
        if (duringFetch) {
            const auto step = std::exchange(duringFetch, {});
            step();
        }
        throw ZalventoError(QStringLiteral("Kursserver nicht erreichbar"));
    }
};

StartOptions quickOptions(const ProgramFolder &folder, const QStringList &arguments = {})
{
    StartOptions options = folder.options(arguments);
    options.automaticPause = refreshPause;
    return options;
}

} // namespace

class TestAutomaticRefresh : public QObject
{
    Q_OBJECT

private slots:
    void switchingOnRefreshesAfter100Ms()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        QCOMPARE(form.automaticTimer->interval(), 100);
        QVERIFY(!form.automaticTimer->isActive());
        form.switchAutomaticOn();
        QVERIFY(form.automaticOnButton->isHidden());
        QVERIFY(!form.automaticOffButton->isHidden());
        QVERIFY(form.automaticTimer->isActive());
        QCOMPARE(form.automaticTimer->interval(), 100);
        QTRY_COMPARE(form.fetches, 1);
        // A failed refresh does not end the mode: the next follows the refreshPause after it.
        QCOMPARE(form.statusText(), QStringLiteral("Fehler beim Kursaktualisieren"));
        QCOMPARE(form.automaticTimer->interval(), refreshPause);
        QVERIFY(form.automaticTimer->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 3, 5000);
    }

    void switchedOffWhileWaitingKeepsTheInterval()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.switchAutomaticOn();
        QTRY_COMPARE(form.fetches, 1);
        form.switchAutomaticOff();
        QVERIFY(!form.automaticTimer->isActive());
        QCOMPARE(form.automaticTimer->interval(), refreshPause);
        form.switchAutomaticOn();
        QCOMPARE(form.automaticTimer->interval(), refreshPause);
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 2, 5000);
    }

    void switchedOffDuringARefresh()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.duringFetch = [&form] { form.switchAutomaticOff(); };
        form.switchAutomaticOn();
        QTRY_COMPARE(form.fetches, 1);
        QVERIFY(!form.automaticMode());
        QVERIFY(!form.automaticTimer->isActive());
        QCOMPARE(form.automaticTimer->interval(), 100);
        QTest::qWait(2 * refreshPause);
        QCOMPARE(form.fetches, 1);
        QVERIFY(form.refreshButton->isEnabled());
    }

    void aTickDuringARefreshIsSkipped()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        // Off and on again while the tick's refresh waits: a tick arrives while it still runs.
        form.duringFetch = [&form] {
            form.switchAutomaticOff();
            form.switchAutomaticOn();
            QTest::qWait(300);
        };
        form.switchAutomaticOn();
        QTRY_COMPARE(form.fetches, 1);
        QVERIFY(form.automaticMode());
        QVERIFY(form.automaticTimer->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 2, 5000);
    }

    void buttonDuringARefreshIsRefused()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.duringFetch = [&form] {
            QVERIFY(!form.refreshButton->isEnabled());
            form.refreshPrices();
        };
        form.refreshPrices();
        QCOMPARE(form.fetches, 1);
        QVERIFY(form.refreshButton->isEnabled());
    }

    void indexChangeDuringARefreshWaitsForItsEnd()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeDefinition(QStringLiteral("MDax.txt"), "7");
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.duringFetch = [&form] {
            form.indexChoice->setEditText(QStringLiteral("MDax"));
            QCOMPARE(form.windowTitle(), QStringLiteral("DAX")); // not reloaded under the refresh
        };
        form.refreshPrices();
        QCOMPARE(form.windowTitle(), QStringLiteral("MDAX"));
        QCOMPARE(form.definition.Referenzkurs, 7.0);
    }

    void indexChangeWhileOn()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeDefinition(QStringLiteral("MDax.txt"), "7");
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.switchAutomaticOn();
        QTRY_COMPARE(form.fetches, 1);
        form.indexChoice->setEditText(QStringLiteral("MDax"));
        QVERIFY(form.automaticMode());
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 2, 5000);
        QCOMPARE(form.windowTitle(), QStringLiteral("MDAX"));
    }
};

QTEST_MAIN(TestAutomaticRefresh)
#include "test_automaticrefresh.moc"
