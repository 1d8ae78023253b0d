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
class TForm1 : public QMainWindow,
               public IndexWindow,
               public IndexPublication,
               public RefreshWindow,
               public UpdateWindow
{
    Q_OBJECT

public:
    static const QString Versionstitel; // "NV Zalvento V1.7"

    explicit TForm1(StartOptions options, QWidget *parent = nullptr);
    ~TForm1() override;

    // State set by the start-up sequence.
    QString Programmverzeichnis;
    QString Datenverzeichnis;
    bool NorvataVerfuegbar = false;
    QColor Zellfarbe = Qt::white;

    IndexTable Grid;
    IndexDefinition Definition;
    IndexCalculation Calculation;
    NorvataTable Table1;
    PriceRefresh Refresh;
    LiveLink *Kurs = nullptr;
    // The live item over HTTP on 127.0.0.1, on the port of the setting "Webport".
    WebLink *webLink = nullptr;
    THttpClient *HttpClient1 = nullptr;
    // The index file update while it runs, and the last one after.
    std::unique_ptr<IndexFileUpdate> Update;

    // Elements.
    QMenu *Norvata1 = nullptr;
    QAction *NVIDauslesen1 = nullptr;
    QAction *IndexKurseintragen1 = nullptr;
    QAction *InternetKursebertragen1 = nullptr;
    QMenu *Diagramme1 = nullptr;
    QAction *Verteilung1 = nullptr;
    QAction *VerteilungDrucken1 = nullptr;
    QAction *IndexVerlauf1 = nullptr;
    QAction *IndexVerlaufDrucker1 = nullptr;
    QMenu *Update1 = nullptr;
    QAction *IndexDateien1 = nullptr;
    QAction *Beenden = nullptr;

    QFrame *Panel1 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QSpinBox *UpDown1 = nullptr;
    QToolButton *SpeedButton1 = nullptr;
    QToolButton *SpeedButton2 = nullptr;
    QPushButton *Button2 = nullptr;
    QGroupBox *RadioGroup1 = nullptr;
    QButtonGroup *RadioGroup1Items = nullptr;
    QPushButton *Button1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label15 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QLabel *Label16 = nullptr;
    QLineEdit *Edit2 = nullptr;

    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr;
    QWidget *TabSheet2 = nullptr;
    QWidget *TabSheet4 = nullptr;
    QWidget *TabSheet3 = nullptr;
    QTableView *StringGrid1 = nullptr;
    GridCellDelegate *StringGrid1Cells = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QLabel *StatusPanel = nullptr;
    DistributionChart *Chart1 = nullptr;
    HistoryChart *Chart2 = nullptr;
    ChartPropertiesDialog *ChartEditor1 = nullptr;
    ChartPrintPreview *ChartPreviewer1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label8 = nullptr;
    QLabel *Label17 = nullptr;

    QTimer *Timer1 = nullptr;

    // The source choice "Einlese-Quelle": 0 "Norvata", 1 "Internet", -1 none marked.
    int sourceIndex() const;
    void setSourceIndex(int index);
    // The automatic mode is on exactly while the lit bulb shows.
    bool automaticMode() const;
    QString statusText() const;
    void setStatusText(const QString &text) override;

    // The start-up sequence; also the program's reload.
    void FormCreate();
    void Norvata_einstellungen();
    // The shutdown: the definition file, then the settings; "Konnte Datei nicht schreiben" on failure.
    void FormClose();

    // Handlers.
    void ComboBox1Change();
    void Button1Click();
    void Button2Click();
    void Edit2Change();
    void Edit3Change();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void Timer1Timer();
    void Label5Click(const QLabel *clicked);
    void Label6Click();
    void BeendenClick();
    void NVIDauslesen1Click();
    void IndexDateien1Click();
    void HttpClient1Cookie(QObject *Sender, const QString &Data, bool &Accept);
    void Verteilung1Click();
    void VerteilungDrucken1Click();
    void IndexVerlauf1Click();
    void IndexVerlaufDrucker1Click();

    // The highlighted cell write: the cell drawn at once in `colour`, then `Zellfarbe` white again.
    void writeHighlightedCell(int column, int row, const QString &text, const QColor &colour);
    void writeHighlightedCell(int column, int row, const QString &text, Highlight highlight) override;

    // IndexWindow
    IndexTable &table() override { return Grid; }
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
    QString datenverzeichnis() const override { return Datenverzeichnis; }
    QByteArray fetchQuotePage() override;
    void aktualisieren() override { Calculation.aktualisieren(); }
    void setQuoteAges(const QuoteAges &ages) override;

    // UpdateWindow
    QString programDirectory() const override { return Programmverzeichnis; }
    void runStartUp() override { FormCreate(); }

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
    bool m_closed = false;
    QList<QPair<Deferred, std::function<void()>>> m_deferred;
    QString m_kursserver;
    QString m_updateserver;
};
