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
class Window : public TForm1
{
public:
    using TForm1::TForm1;

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
        QCOMPARE(form.Timer1->interval(), 100);
        QVERIFY(!form.Timer1->isActive());
        form.SpeedButton1Click();
        QVERIFY(form.SpeedButton1->isHidden());
        QVERIFY(!form.SpeedButton2->isHidden());
        QVERIFY(form.Timer1->isActive());
        QCOMPARE(form.Timer1->interval(), 100);
        QTRY_COMPARE(form.fetches, 1);
        // A failed refresh does not end the mode: the next follows the refreshPause after it.
        QCOMPARE(form.statusText(), QStringLiteral("Fehler beim Kursaktualisieren"));
        QCOMPARE(form.Timer1->interval(), refreshPause);
        QVERIFY(form.Timer1->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 3, 5000);
    }

    void switchedOffWhileWaitingKeepsTheInterval()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.SpeedButton1Click();
        QTRY_COMPARE(form.fetches, 1);
        form.SpeedButton2Click();
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(form.Timer1->interval(), refreshPause);
        form.SpeedButton1Click();
        QCOMPARE(form.Timer1->interval(), refreshPause);
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 2, 5000);
    }

    void switchedOffDuringARefresh()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.duringFetch = [&form] { form.SpeedButton2Click(); };
        form.SpeedButton1Click();
        QTRY_COMPARE(form.fetches, 1);
        QVERIFY(!form.automaticMode());
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(form.Timer1->interval(), 100);
        QTest::qWait(2 * refreshPause);
        QCOMPARE(form.fetches, 1);
        QVERIFY(form.Button2->isEnabled());
    }

    void aTickDuringARefreshIsSkipped()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        // Off and on again while the tick's refresh waits: a tick arrives while it still runs.
        form.duringFetch = [&form] {
            form.SpeedButton2Click();
            form.SpeedButton1Click();
            QTest::qWait(300);
        };
        form.SpeedButton1Click();
        QTRY_COMPARE(form.fetches, 1);
        QVERIFY(form.automaticMode());
        QVERIFY(form.Timer1->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 2, 5000);
    }

    void buttonDuringARefreshIsRefused()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.duringFetch = [&form] {
            QVERIFY(!form.Button2->isEnabled());
            form.Button2Click();
        };
        form.Button2Click();
        QCOMPARE(form.fetches, 1);
        QVERIFY(form.Button2->isEnabled());
    }

    void indexChangeDuringARefreshWaitsForItsEnd()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeDefinition(QStringLiteral("MDax.txt"), "7");
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.duringFetch = [&form] {
            form.ComboBox1->setEditText(QStringLiteral("MDax"));
            QCOMPARE(form.windowTitle(), QStringLiteral("DAX")); // not reloaded under the refresh
        };
        form.Button2Click();
        QCOMPARE(form.windowTitle(), QStringLiteral("MDAX"));
        QCOMPARE(form.Definition.Referenzkurs, 7.0);
    }

    void indexChangeWhileOn()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeDefinition(QStringLiteral("MDax.txt"), "7");
        folder.writeInfo();
        Window form(quickOptions(folder));
        form.SpeedButton1Click();
        QTRY_COMPARE(form.fetches, 1);
        form.ComboBox1->setEditText(QStringLiteral("MDax"));
        QVERIFY(form.automaticMode());
        QTRY_COMPARE_WITH_TIMEOUT(form.fetches, 2, 5000);
        QCOMPARE(form.windowTitle(), QStringLiteral("MDAX"));
    }
};

QTEST_MAIN(TestAutomaticRefresh)
#include "test_automaticrefresh.moc"
