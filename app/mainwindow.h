#pragma once

#include "app/distributionchart.h"
#include "app/historychart.h"
#include "app/messages.h"
#include "app/windowelements.h"
#include "core/clock.h"
#include "core/dayhistory.h"
#include "core/indexcalculation.h"
#include "core/indexdefinition.h"
#include "core/indexpublication.h"
#include "core/indextable.h"
#include "core/indexwindow.h"
#include "net/indexfileupdate.h"
#include "norvata/norvatatable.h"
#include "refresh/pricerefresh.h"
#include "shell/automaticrefresh.h"
#include "shell/definitionwriteback.h"
#include "shell/refreshexclusion.h"
#include "shell/refreshhealth.h"

#include <QButtonGroup>
#include <QColor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

class FeedFetcher;
class THttpClient;
class LiveLink;
class WebLink;

// How the program was started: what decides the program directory, the command line and the settings file.
// Tests give a temporary program folder and settings file here, never the user's own.
struct StartOptions
{
    QString executablePath;    // the program directory is derived from it
    QStringList arguments;     // without the program name; "/A" first switches the automatic mode on
    QString settingsPath;      // the settings file (the registry key's replacement)
    QString serviceName;       // the live link's service; empty: no link (tests)
    int automaticPause = 5000; // ms from the end of one automatic refresh to the next; shorter in tests
    const Clock *clock = &Clock::system(); // the time of everything the window records; set in tests
};

// The program's one window: its elements, their layout and their wiring to the operations. The rules
// behind them live below app/ (the index logic in core/, the price refresh in refresh/, the tables and
// the lookup in norvata/, the web access in net/, the settings, the automatic cycle and one refresh at a
// time in shell/) and reach the window through the small interfaces it implements.
class MainWindow : public QMainWindow,
                   public WindowElements,
                   public IndexWindow,
                   public IndexPublication,
                   public RefreshWindow,
                   public UpdateWindow
{
    Q_OBJECT

public:
    explicit MainWindow(StartOptions options, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The one clock of every time the window records: history points, index records, quote arrival and
    // the web link's times.
    const Clock &clock;
    // State set by the start-up sequence.
    bool norvataAvailable = false;
    QColor highlightColour = Qt::white;
    // The definition file the shutdown writes the table to.
    DefinitionWriteBack writeBackTarget;

    IndexTable indexTable;
    IndexDefinition definition;
    IndexCalculation calculation;
    NorvataTable norvataTable;
    PriceRefresh priceRefresh;
    LiveLink *liveLink = nullptr;
    // The live item over HTTP on 127.0.0.1, on the port of the setting "Webport".
    WebLink *webLink = nullptr;
    THttpClient *httpClient = nullptr;
    // Fetches the quote feeds of the feed file (HTTPS and HTTP); the built-in page keeps httpClient.
    FeedFetcher *feedFetcher = nullptr;
    // The index file update while it runs, and the last one after.
    std::unique_ptr<IndexFileUpdate> indexFileUpdate;

    // How well the refreshes keep the index current, for GET /health and GET /metrics.
    RefreshHealth health{clock};

    // The automatic mode: its precise timer and its cycle.
    PreciseRefreshTimer automaticTimer;
    AutomaticRefresh automaticCycle;

    // The source choice "Einlese-Quelle": 0 "Norvata", 1 "Internet", -1 none marked.
    int sourceIndex() const { return sourceButtons->checkedId(); }
    void setSourceIndex(int index);
    // The automatic mode; the lit bulb shows while it is on.
    bool automaticMode() const { return automaticCycle.isOn(); }
    QString statusText() const { return statusPanel->text(); }
    void setStatusText(const QString &text) override { statusPanel->setText(text); }

    // The start-up sequence; also the program's reload.
    void startUp();
    // Reads the settings into the elements and decides whether the Norvata database can be used.
    void applySettings();
    // The shutdown: the definition file, then the settings; "Konnte Datei nicht schreiben" on failure.
    void writeBack();

    // Handlers.
    void indexChoiceChanged();
    void refreshPrices();
    // A tick of the automatic mode: a refresh whose boxes let the cycle go on, since nobody may be there
    // to close them.
    void refreshAutomatically();
    void referenzkursEdited() { definition.referenzkursEdited(referenzkursEdit->text()); }
    void indexFirmaEdited() { definition.indexFirmaEdited(indexFirmaEdit->text()); }
    void switchAutomaticOn() { automaticCycle.switchOn(); }
    void switchAutomaticOff() { automaticCycle.switchOff(); }
    void openLinkOf(const QLabel *clicked);
    void openOperatorWeightingPage();
    void readNorvataIds();
    void updateIndexFiles();
    void acceptCookie(const QString &cookie, bool &accept);
    void editDistributionChart();
    void printDistributionChart();
    void editHistoryChart();
    void printHistoryChart();
    // "Verlauf exportieren …": the day as the chart holds it, in the day file's format, to a chosen file.
    void exportHistory();
    // "Diagramm speichern …": the chart as PNG, SVG or PDF, at its size or a chosen one.
    void saveDistributionChart();
    void saveHistoryChart();

    // The highlighted cell write: the cell drawn at once in `colour`, then `highlightColour` white again.
    void writeHighlightedCell(int column, int row, const QString &text, const QColor &colour);
    void writeHighlightedCell(int column, int row, const QString &text, Highlight highlight) override;

    // IndexWindow
    IndexTable &table() override { return indexTable; }
    QString referenzkursText() const override { return referenzkursEdit->text(); }
    void setReferenzkursText(const QString &text) override { referenzkursEdit->setText(text); }
    QString indexFirmaText() const override { return indexFirmaEdit->text(); }
    void setIndexFirmaText(const QString &text) override { indexFirmaEdit->setText(text); }
    void setComponentCount(int count) override;
    QString valueText() const override { return valueLabel->text(); }
    void setValueText(const QString &text) override { valueLabel->setText(text); }
    void setValueDirection(IndexDirection direction) override;
    void showMessage(const QString &text) override { Messages::show(text); }

    // IndexPublication
    void publishValue(const QString &numberText) override;
    void addHistoryPoint(HistorySeries series, double value) override;
    void appendIndexRecord(double value) override;
    void clearBars() override { distributionChart->clear(); }
    void addBar(int row, double weight, const QString &label) override
    {
        distributionChart->addBar(row, weight, label);
    }

    // RefreshWindow
    void beginRefresh() override;
    void endRefresh() override;
    bool norvataSourceSelected() const override { return sourceIndex() == 0; }
    bool transferEnabled() const override;
    QString dataFolder() const override { return m_dataFolder; }
    QByteArray fetchQuotePage() override;
    QString indexName() const override;
    QList<FeedPage> fetchFeed(const QuoteFeed &feed, const QList<FeedRequest> &requests) override;
    void showFeedError(const QString &text) override { Messages::show(text); }
    int kursalterMinutes() const override { return m_kursalter; }
    void setQuoteAges(const QuoteAges &ages) override;
    QuoteAges quoteAges() const override { return m_quoteAges; }
    void calculate() override { calculation.calculate(); }
    QDateTime now() const override { return clock.now(); }

    // UpdateWindow
    QString programDirectory() const override { return m_programFolder; }
    void runStartUp() override;

    // The quote and download servers: the program's own, or the settings values "Kursserver" and
    // "Updateserver" read by the start-up sequence.
    QString quoteServerHost() const;
    QString updateServerHost() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectElements();
    void loadInformation();
    void clearHistory();
    void showAutomaticMode(bool on);
    // Counts a refresh that ran to its end, by the status text it ended with, and writes a failure's
    // reason to standard error, time first.
    void refreshEnded(const QString &outcome, qint64 milliseconds);

    StartOptions m_options;
    QString m_programFolder;
    QString m_dataFolder;
    RefreshExclusion m_exclusion;
    QElapsedTimer m_refreshDuration;
    QuoteAges m_quoteAges; // as last shown: the minute timer and a failed refresh judge them again
    QString m_quoteServer;
    QString m_updateServer;
    int m_kursalter = 15;
    // The day's history of the index shown, in its file under "Verlauf/".
    DayHistory m_dayHistory{clock};
};
