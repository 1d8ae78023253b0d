#pragma once

#include <QString>
#include <functional>

class ChartPrintPreview;
class ChartPropertiesDialog;
class DistributionChart;
class GridCellDelegate;
class HistoryChart;
class QuoteAgePanel;
class QAbstractItemModel;
class QAction;
class QButtonGroup;
class QComboBox;
class QFont;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QTableView;
class QToolButton;
class QWidget;

// The elements of the main window and their layout as the users know it: the menu, the top panel, and the
// pages "Übersicht", "Verteilung", "Index-Verlauf" and "Information". What they do is wired by the window.
class WindowElements
{
public:
    // The index operator's page on index weightings, opened by the link that shows its site.
    static const QString operatorWeightingPage;

    // Calls `handler` when the label is clicked with the left button.
    static void onLeftClick(QLabel *target, std::function<void()> handler);

    QMenu *norvataMenu = nullptr;
    QAction *readNorvataIdsAction = nullptr;
    QAction *recordIndexValueAction = nullptr;
    QAction *transferWebPricesAction = nullptr;
    QMenu *chartsMenu = nullptr;
    QAction *distributionPropertiesAction = nullptr;
    QAction *distributionPrintAction = nullptr;
    QAction *historyPropertiesAction = nullptr;
    QAction *historyPrintAction = nullptr;
    QAction *distributionSaveAction = nullptr;
    QAction *historySaveAction = nullptr;
    QAction *historyExportAction = nullptr;
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
    QuoteAgePanel *quoteAgePanel = nullptr; // "n von m Kursen veraltet", at the right
    DistributionChart *distributionChart = nullptr;
    HistoryChart *historyChart = nullptr;
    // The chart properties dialog and the print preview, shared by both charts; made on first use.
    ChartPropertiesDialog *chartPropertiesDialog();
    ChartPrintPreview *chartPrintPreview();
    QPlainTextEdit *informationText = nullptr;
    QLabel *linksHeading = nullptr;
    QLabel *operatorSiteNote = nullptr;
    QLabel *quoteCentreLink = nullptr;
    QLabel *operatorSiteLink = nullptr;
    QLabel *quoteCentreNote = nullptr;
    QLabel *makerSiteNote = nullptr;
    QLabel *makerSiteLink = nullptr;

protected:
    // Builds every element into `window`; the grid shows `table`.
    void buildElements(QMainWindow &window, QAbstractItemModel *table);

private:
    void buildMenu(QMenuBar *bar);
    void buildPanel();
    void buildAutomaticSwitch();
    void buildValueBoxes(const QFont &bold);
    void buildPages(QWidget *dialogParent, QAbstractItemModel *table);
    void buildInformationPage(QWidget *page);

    QWidget *m_dialogParent = nullptr;
    ChartPropertiesDialog *chartProperties = nullptr;
    ChartPrintPreview *chartPreview = nullptr;
};
