#include "app/zalventoapplication.h"
#include "programfolder.h"
#include "tests/net/scriptedserver.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// Records the addresses the window hands to the desktop for opening.
class OpenedLinks : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

// The window with a quote page fetch that fails at once and notes when it was asked for.
class TimedWindow : public MainWindow
{
public:
    using MainWindow::MainWindow;
    QElapsedTimer clock;
    QList<qint64> fetchedAt;

    QByteArray fetchQuotePage() override
    {
        fetchedAt << clock.elapsed();
        throw ZalventoError(QStringLiteral("Kursserver nicht erreichbar"));
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // The window is closed while a refresh waits for a slow quote server, after the index choice changed
    // to MDax: the table goes to the file of the index it came from, and the deferred reload never runs.
    void closedDuringASlowRefresh()
    {
        ProgramFolder folder;
        folder.writeDefinition(QStringLiteral("Dax.txt"), "9");
        folder.writeDefinition(QStringLiteral("MDax.txt"), "7");
        folder.writeInfo();
        ScriptedServer server;
        server.addScript(
            ScriptedServer::Script().waitRequest().pause(400).send("HTTP/1.0 404 Not Found\r\n\r\n").close());
        folder.writeSettings({QStringLiteral("\"Kursserver\"=\"127.0.0.1:%1\"").arg(server.port())});
        const QByteArray mdax = folder.read(QStringLiteral("MDax.txt"));

        MainWindow form(folder.options());
        folder.messages.clear();
        QTimer::singleShot(100, &form, [&form] {
            form.indexChoice->setEditText(QStringLiteral("MDax"));
            form.close();
        });
        form.refreshPrices();
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(folder.read(QStringLiteral("MDax.txt")), mdax);
        QVERIFY(folder.read(QStringLiteral("Dax.txt")).startsWith("9\r\n"));
        QTest::qWait(50);
        QCOMPARE(form.windowTitle(), QStringLiteral("DAX"));
        QCOMPARE(form.definition.Referenzkurs, 9.0);
        QVERIFY2(folder.messages.isEmpty(), qPrintable(folder.messages.join('|')));
    }

    // Switched off while waiting and on again: the next refresh follows the whole pause later. An interval
    // the program keeps, measured on the real timer.
    void switchedOffWhileWaitingAndOnAgain()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        TimedWindow form(folder.options());
        form.switchAutomaticOn();
        QTRY_COMPARE(form.fetchedAt.size(), 1);
        form.switchAutomaticOff();
        form.clock.start();
        form.switchAutomaticOn();
        QTRY_COMPARE_WITH_TIMEOUT(form.fetchedAt.size(), 2, 8000);
        QVERIFY2(qAbs(form.fetchedAt[1] - 5000) <= 20, qPrintable(QString::number(form.fetchedAt[1])));
    }

    void informationTextFillsItsPage_data()
    {
        QTest::addColumn<int>("windowWidth");
        QTest::newRow("wider than laid out") << 1100;
        QTest::newRow("narrower than laid out") << 500;
    }

    void informationTextFillsItsPage()
    {
        QFETCH(int, windowWidth);
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        form.pages->setCurrentWidget(form.informationPage);
        form.resize(windowWidth, 701);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE(form.informationText->width(), form.informationPage->width());
    }

    void onlyTheLeftButtonOpensALink_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<int>("opened");
        QTest::newRow("left") << Qt::LeftButton << 1;
        QTest::newRow("right") << Qt::RightButton << 0;
        QTest::newRow("middle") << Qt::MiddleButton << 0;
    }

    void onlyTheLeftButtonOpensALink()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(int, opened);
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        OpenedLinks links;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &links, "open");
        QTest::mouseClick(form.quoteCentreLink, button);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(links.urls.size(), opened);
        if (opened)
            QCOMPARE(links.urls.first().host(), form.quoteCentreLink->text());
    }

    void controlsHaveNames()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        QCOMPARE(form.automaticOnButton->accessibleName(),
                 QStringLiteral("Automatische Aktualisierung einschalten"));
        QCOMPARE(form.automaticOnButton->toolTip(), form.automaticOnButton->accessibleName());
        QCOMPARE(form.automaticOffButton->accessibleName(),
                 QStringLiteral("Automatische Aktualisierung ausschalten"));
        QCOMPARE(form.automaticOffButton->toolTip(), form.automaticOffButton->accessibleName());
        QCOMPARE(form.indexFirmaEdit->accessibleName(), QStringLiteral("NV Index"));
        QCOMPARE(form.referenzkursEdit->accessibleName(), QStringLiteral("Referenzkurs"));
        QCOMPARE(form.componentCountEdit->accessibleName(), QStringLiteral("Werte-Anzahl:"));
    }

    // A dark theme: the unchanged value shows on the theme's button face, not on a fixed light grey.
    void recordedTimesComeFromTheWindowsClock()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        ManualClock clock(QDateTime(QDate(2026, 3, 2), QTime(10, 15)));
        StartOptions options = folder.options();
        options.clock = &clock;
        MainWindow form(options);
        clock.advance(90000);
        form.addHistoryPoint(HistorySeries::Index, 5000);
        const int points = form.historyChart->pointCount(HistorySeries::Index);
        QCOMPARE(form.historyChart->point(HistorySeries::Index, points - 1).x(),
                 double(clock.now().toMSecsSinceEpoch()));
        QCOMPARE(form.now(), clock.now());
    }

    void valueBackgroundFollowsTheTheme()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        const QPalette original = QApplication::palette();
        QPalette dark = original;
        dark.setColor(QPalette::Button, QColor(40, 40, 48));
        QApplication::setPalette(dark);
        MainWindow form(folder.options());
        form.setValueDirection(IndexDirection::Unchanged);
        QApplication::setPalette(original);
        QCOMPARE(form.valueLabel->palette().color(QPalette::Window), QColor(40, 40, 48));
    }

    // The caption is the index name alone: no display name of the application's own is set that the
    // window system would append to it.
    void captionIsTheIndexNameAlone()
    {
        const QString name = QCoreApplication::applicationName();
        QCOMPARE(name, QStringLiteral("NV Zalvento"));
        QCoreApplication::setApplicationName(QStringLiteral("probe"));
        const QString displayName = QGuiApplication::applicationDisplayName();
        QCoreApplication::setApplicationName(name);
        QCOMPARE(displayName, QStringLiteral("probe"));
    }
};

int main(int argc, char **argv)
{
    ZalventoApplication application(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_mainwindow.moc"
