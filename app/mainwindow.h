#pragma once

#include "core/indexcalculation.h"
#include "core/indexdefinition.h"
#include "core/indexpublication.h"
#include "core/indextable.h"
#include "core/indexwindow.h"
#include "net/indexfileupdate.h"
#include "sources/norvatatable.h"
#include "sources/pricerefresh.h"

#include <QColor>
#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>

class ChartPrintPreview;
class ChartPropertiesDialog;
class DistributionChart;
class GridCellDelegate;
class HistoryChart;
class SettingsStore;
class THttpClient;
class LiveLink;
class WebLink;
class QAction;
class QButtonGroup;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QTableView;
class QTimer;
class QToolButton;

// How the program was started: what decides the program directory, the command line and the settings file.
// Tests give a temporary program folder and settings file here, never the user's own.
struct StartOptions
{
    QString executablePath; // the program directory is derived from it
    QStringList arguments;  // without the program name; "/A" first switches the automatic mode on
    QString settingsPath;   // the settings file (the registry key's replacement)
    QString serviceName;    // the live link's service; empty: no link (tests)
    int automaticPause = 5000; // ms from the end of one automatic refresh to the next; shorter in tests
};

// The program's one window. Its fields are its elements, named by kind and number as the users' manuals
// and the settings know them; its handlers are element plus event. The work behind the handlers lives
// below app/ and reaches the window through IndexWindow and IndexPublication.
class MainWindow : public QMainWindow,
               public IndexWindow,
               public IndexPublication,
               public RefreshWindow,
               public UpdateWindow
{
    Q_OBJECT

public:
    static const QString versionTitle; // "NV Zalvento V1.7"

    explicit MainWindow(StartOptions options, QWidget *parent = nullptr);
    ~MainWindow() override;

    // State set by the start-up sequence.
    bool norvataAvailable = false;
    QColor highlightColour = Qt::white;

    IndexTable indexTable;
    IndexDefinition definition;
    IndexCalculation calculation;
    NorvataTable norvataTable;
    PriceRefresh priceRefresh;
    LiveLink *liveLink = nullptr;
    // The live item over HTTP on 127.0.0.1, on the port of the setting "Webport".
    WebLink *webLink = nullptr;
    THttpClient *httpClient = nullptr;
    // The index file update while it runs, and the last one after.
    std::unique_ptr<IndexFileUpdate> indexFileUpdate;

    // Elements.
    QMenu *norvataMenu = nullptr;
    QAction *readNorvataIdsAction = nullptr;
    QAction *recordIndexValueAction = nullptr;
    QAction *transferWebPricesAction = nullptr;
    QMenu *chartsMenu = nullptr;
    QAction *distributionPropertiesAction = nullptr;
    QAction *distributionPrintAction = nullptr;
    QAction *historyPropertiesAction = nullptr;
    QAction *historyPrintAction = nullptr;
    QMenu *updateMenu = nullptr;
    QAction *updateIndexFilesAction = nullptr;
    QAction *quitAction = nullptr;

    QFrame *panel = nullptr;
    QComboBox *indexChoice = nullptr;
    QLabel *componentCountLabel = nullptr;
    QLineEdit *componentCountEdit = nullptr;
    QSpinBox *componentCountSpin = nullptr;
    QToolButton *automaticOnButton = nullptr;
    QToolButton *automaticOffButton = nullptr;
    QPushButton *refreshButton = nullptr;
    QGroupBox *sourceGroup = nullptr;
    QButtonGroup *sourceButtons = nullptr;
    QPushButton *calculateButton = nullptr;
    QLabel *valueLabel = nullptr;
    QLabel *indexFirmaLabel = nullptr;
    QLineEdit *indexFirmaEdit = nullptr;
    QLabel *referenzkursLabel = nullptr;
    QLineEdit *referenzkursEdit = nullptr;

    QTabWidget *pages = nullptr;
    QWidget *overviewPage = nullptr;
    QWidget *distributionPage = nullptr;
    QWidget *historyPage = nullptr;
    QWidget *informationPage = nullptr;
    QTableView *gridView = nullptr;
    GridCellDelegate *gridCells = nullptr;
    QStatusBar *statusLine = nullptr;
    QLabel *statusPanel = nullptr;
    DistributionChart *distributionChart = nullptr;
    HistoryChart *historyChart = nullptr;
    ChartPropertiesDialog *chartProperties = nullptr;
    ChartPrintPreview *chartPreview = nullptr;
    QPlainTextEdit *informationText = nullptr;
    QLabel *linksHeading = nullptr;
    QLabel *operatorSiteNote = nullptr;
    QLabel *quoteCentreLink = nullptr;
    QLabel *operatorSiteLink = nullptr;
    QLabel *quoteCentreNote = nullptr;
    QLabel *makerSiteNote = nullptr;
    QLabel *makerSiteLink = nullptr;

    QTimer *automaticTimer = nullptr;

    // The source choice "Einlese-Quelle": 0 "Norvata", 1 "Internet", -1 none marked.
    int sourceIndex() const;
    void setSourceIndex(int index);
    // The automatic mode is on exactly while the lit bulb shows.
    bool automaticMode() const;
    QString statusText() const;
    void setStatusText(const QString &text) override;

    // The start-up sequence; also the program's reload.
    void startUp();
    void applySettings();
    // The shutdown: the definition file, then the settings; "Konnte Datei nicht schreiben" on failure.
    void writeBack();

    // Handlers.
    void indexChoiceChanged();
    void refreshPrices();
    void referenzkursEdited();
    void indexFirmaEdited();
    void switchAutomaticOn();
    void switchAutomaticOff();
    void automaticTick();
    void openLinkOf(const QLabel *clicked);
    void openOperatorWeightingPage();
    void quit();
    void readNorvataIds();
    void updateIndexFiles();
    void acceptCookie(QObject *Sender, const QString &Data, bool &Accept);
    void editDistributionChart();
    void printDistributionChart();
    void editHistoryChart();
    void printHistoryChart();

    // The highlighted cell write: the cell drawn at once in `colour`, then `highlightColour` white again.
    void writeHighlightedCell(int column, int row, const QString &text, const QColor &colour);
    void writeHighlightedCell(int column, int row, const QString &text, Highlight highlight) override;

    // IndexWindow
    IndexTable &table() override { return indexTable; }
    QString referenzkursText() const override;
    void setReferenzkursText(const QString &text) override;
    QString indexFirmaText() const override;
    void setIndexFirmaText(const QString &text) override;
    void setComponentCount(int count) override;
    QString valueText() const override;
    void setValueText(const QString &text) override;
    void setValueColour(ValueColour colour) override;
    void showMessage(const QString &text) override;

    // IndexPublication
    void publishValue(const QString &numberText) override;
    void addHistoryPoint(HistorySeries series, double value) override;
    void appendIndexRecord(double value) override;
    void clearBars() override;
    void addBar(int row, double weight, const QString &label) override;

    // RefreshWindow
    void beginRefresh() override;
    void endRefresh() override;
    bool norvataSourceSelected() const override;
    bool transferEnabled() const override;
    QString dataFolder() const override { return m_dataFolder; }
    QByteArray fetchQuotePage() override;
    void calculate() override { calculation.calculate(); }
    void setQuoteAges(const QuoteAges &ages) override;

    // UpdateWindow
    QString programDirectory() const override { return m_programFolder; }
    void runStartUp() override { startUp(); }

    // The quote and download servers: the program's own, or the settings values "Kursserver" and
    // "Updateserver" read by the start-up sequence.
    QString quoteServerHost() const;
    QString updateServerHost() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    void buildPanel();
    void buildPages();
    void buildInformationPage(QWidget *page);
    void loadInformation();
    void clearHistory();
    void prepareNorvataSession();
    // Runs `work` now, or, while a price refresh waits for its page, once it has ended: what changes the
    // index table or uses the Norvata table must not interleave with it. A later request of the same
    // kind replaces a waiting one.
    enum class Deferred { Reload, Lookup };
    void whenNoRefreshRuns(Deferred kind, const std::function<void()> &work);
    void runDeferred();
    void readServerSettings(const SettingsStore &settings);

    StartOptions m_options;
    QString m_programFolder;
    QString m_dataFolder;
    bool m_closed = false;
    QList<QPair<Deferred, std::function<void()>>> m_deferred;
    QString m_kursserver;
    QString m_updateserver;
};
