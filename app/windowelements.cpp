#include "app/windowelements.h"

#include "app/chartprintpreview.h"
#include "app/chartpropertiesdialog.h"
#include "app/distributionchart.h"
#include "app/gridcelldelegate.h"
#include "app/historychart.h"
#include "app/lightbulbs.h"
#include "app/quoteagepanel.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

const QString WindowElements::operatorWeightingPage =
    QStringLiteral("https://www.stoxx.com/index-details?symbol=DAX");

namespace {

// The addresses shown by the links of the page "Information".
const QString operatorSite = QStringLiteral("www.stoxx.com");
const QString quoteCentre = QStringLiteral("www.ls-tc.de");
const QString makerSite = QStringLiteral("www.quenkel.de/zalvento");

QLabel *label(QWidget *parent, const QString &text, int left, int top)
{
    auto *l = new QLabel(text, parent);
    l->move(left, top);
    l->adjustSize();
    return l;
}

QLabel *linkLabel(QWidget *parent, const QString &text, int left, int top)
{
    QLabel *l = label(parent, text, left, top);
    QFont font = l->font();
    font.setUnderline(true);
    l->setFont(font);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    l->setPalette(palette);
    l->setCursor(Qt::PointingHandCursor);
    l->adjustSize();
    return l;
}

// A control without text of its own is announced by the text of the label beside it.
void nameAfter(QWidget *control, QLabel *label)
{
    label->setBuddy(control);
    control->setAccessibleName(label->text());
}

// Clicks on a label, which has no click signal of its own.
class ClickFilter : public QObject
{
public:
    ClickFilter(QObject *parent, std::function<void()> onClick)
        : QObject(parent), m_onClick(std::move(onClick))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Only the left button opens a link, as everywhere else on the desktop.
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            m_onClick();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onClick;
};

} // namespace

void WindowElements::onLeftClick(QLabel *target, std::function<void()> handler)
{
    target->installEventFilter(new ClickFilter(target, std::move(handler)));
}

void WindowElements::buildElements(QMainWindow &window, QAbstractItemModel *table)
{
    buildMenu(window.menuBar());
    auto *central = new QWidget(&window);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildPanel();
    layout->addWidget(panel);
    buildPages(&window, table);
    layout->addWidget(pages, 1);
    window.setCentralWidget(central);
}

void WindowElements::buildMenu(QMenuBar *bar)
{
    norvataMenu = bar->addMenu(QStringLiteral("&Norvata"));
    readNorvataIdsAction = norvataMenu->addAction(QStringLiteral("NV-ID &auslesen"));
    recordIndexValueAction = norvataMenu->addAction(QStringLiteral("&Index-Kurs übertragen"));
    recordIndexValueAction->setCheckable(true);
    transferWebPricesAction = norvataMenu->addAction(QStringLiteral("Internet-Aktienkurse übertragen"));
    transferWebPricesAction->setCheckable(true);

    chartsMenu = bar->addMenu(QStringLiteral("Diagramme"));
    distributionPropertiesAction = chartsMenu->addAction(QStringLiteral("Verteilung - Eigenschaften"));
    distributionPrintAction = chartsMenu->addAction(QStringLiteral("Verteilung - Drucken"));
    historyPropertiesAction = chartsMenu->addAction(QStringLiteral("Index-Verlauf - Eigenschaften"));
    historyPrintAction = chartsMenu->addAction(QStringLiteral("Index-Verlauf - Drucken"));
    chartsMenu->addSeparator();
    distributionSaveAction = chartsMenu->addAction(QStringLiteral("Verteilung - Diagramm speichern …"));
    historySaveAction = chartsMenu->addAction(QStringLiteral("Index-Verlauf - Diagramm speichern …"));
    historyExportAction = chartsMenu->addAction(QStringLiteral("Verlauf exportieren …"));

    updateMenu = bar->addMenu(QStringLiteral("&Update"));
    updateIndexFilesAction = updateMenu->addAction(QStringLiteral("&Index-Dateien"));

    quitAction = bar->addAction(QStringLiteral("&Beenden"));
}

void WindowElements::buildPanel()
{
    panel = new QFrame;
    panel->setFixedHeight(65);
    panel->setFrameShape(QFrame::StyledPanel);

    indexChoice = new QComboBox(panel);
    indexChoice->setEditable(true);
    indexChoice->addItems(
        {QStringLiteral("Dax"), QStringLiteral("MDax"), QStringLiteral("SDax"), QStringLiteral("TecDax")});
    indexChoice->setInsertPolicy(QComboBox::NoInsert);
    indexChoice->setGeometry(16, 8, 145, 24);
    indexChoice->setEditText(QStringLiteral("Dax"));
    indexChoice->setAccessibleName(QStringLiteral("Index"));

    componentCountLabel = label(panel, QStringLiteral("Werte-Anzahl:"), 16, 44);
    QFont bold = componentCountLabel->font();
    bold.setBold(true);
    componentCountLabel->setFont(bold);
    componentCountLabel->adjustSize();

    componentCountEdit = new QLineEdit(QStringLiteral("30"), panel);
    componentCountEdit->setGeometry(112, 40, 33, 24);
    componentCountEdit->setEnabled(false);
    nameAfter(componentCountEdit, componentCountLabel);
    componentCountSpin = new QSpinBox(panel);
    componentCountSpin->setGeometry(145, 40, 16, 24);
    componentCountSpin->setRange(2, 100);
    componentCountSpin->setValue(30);
    componentCountSpin->setEnabled(false);
    componentCountSpin->hide();

    buildAutomaticSwitch();

    refreshButton = new QPushButton(QStringLiteral("Kurswerte aktualisieren"), panel);
    refreshButton->setGeometry(200, 40, 145, 22);

    sourceGroup = new QGroupBox(QStringLiteral("Einlese-Quelle"), panel);
    sourceGroup->setGeometry(176, 0, 169, 37);
    sourceButtons = new QButtonGroup(sourceGroup);
    auto *norvata = new QRadioButton(QStringLiteral("Norvata"), sourceGroup);
    auto *internet = new QRadioButton(QStringLiteral("Internet"), sourceGroup);
    norvata->setGeometry(8, 16, 75, 17);
    internet->setGeometry(88, 16, 75, 17);
    sourceButtons->addButton(norvata, 0);
    sourceButtons->addButton(internet, 1);
    norvata->setChecked(true);
    buildValueBoxes(bold);
}

// Two buttons at one place, only one of them shown: the unlit bulb switches the automatic mode on, the
// lit one switches it off.
void WindowElements::buildAutomaticSwitch()
{
    automaticOnButton = new QToolButton(panel);
    automaticOnButton->setGeometry(176, 40, 23, 22);
    automaticOnButton->setIcon(LightBulbs::unlit());
    automaticOnButton->setToolTip(QStringLiteral("Automatische Aktualisierung einschalten"));
    automaticOnButton->setAccessibleName(automaticOnButton->toolTip());
    automaticOnButton->setAutoRaise(true);
    automaticOffButton = new QToolButton(panel);
    automaticOffButton->setGeometry(176, 40, 23, 22);
    automaticOffButton->setIcon(LightBulbs::lit());
    automaticOffButton->setToolTip(QStringLiteral("Automatische Aktualisierung ausschalten"));
    automaticOffButton->setAccessibleName(automaticOffButton->toolTip());
    automaticOffButton->setAutoRaise(true);
    automaticOffButton->hide();
}

void WindowElements::buildValueBoxes(const QFont &bold)
{
    calculateButton = new QPushButton(QStringLiteral("Index berechnen"), panel);
    calculateButton->setGeometry(376, 32, 129, 25);
    calculateButton->setFont(bold);

    valueLabel = new QLabel(panel);
    valueLabel->setGeometry(376, 6, 170, 22);
    valueLabel->setAlignment(Qt::AlignCenter);
    QFont value = bold;
    value.setPixelSize(16);
    valueLabel->setFont(value);
    valueLabel->setAutoFillBackground(true);

    indexFirmaLabel = label(panel, QStringLiteral("NV Index"), 576, 12);
    indexFirmaEdit = new QLineEdit(QStringLiteral("0"), panel);
    indexFirmaEdit->setGeometry(632, 8, 49, 24);
    nameAfter(indexFirmaEdit, indexFirmaLabel);
    referenzkursLabel = label(panel, QStringLiteral("Referenzkurs"), 552, 36);
    referenzkursEdit = new QLineEdit(QStringLiteral("0"), panel);
    referenzkursEdit->setGeometry(632, 32, 49, 24);
    nameAfter(referenzkursEdit, referenzkursLabel);
}

void WindowElements::buildPages(QWidget *dialogParent, QAbstractItemModel *table)
{
    pages = new QTabWidget;

    overviewPage = new QWidget;
    auto *overview = new QVBoxLayout(overviewPage);
    overview->setContentsMargins(0, 0, 0, 0);
    overview->setSpacing(0);
    gridView = new QTableView;
    gridView->setModel(table);
    gridCells = new GridCellDelegate(gridView);
    gridView->setItemDelegate(gridCells);
    gridView->verticalHeader()->hide();
    gridView->verticalHeader()->setMinimumSectionSize(16);
    gridView->verticalHeader()->setDefaultSectionSize(16);
    gridView->horizontalHeader()->setMinimumSectionSize(16);
    gridView->horizontalHeader()->setDefaultSectionSize(65);
    gridView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    gridView->horizontalHeader()->setHighlightSections(false);
    gridView->setColumnWidth(0, 157);
    gridView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    gridView->setSelectionBehavior(QAbstractItemView::SelectItems);
    gridView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    gridView->setShowGrid(true);
    gridView->setWordWrap(false);
    QPalette gridPalette = gridView->palette();
    gridPalette.setColor(QPalette::Base, Qt::white);
    gridView->setPalette(gridPalette);
    overview->addWidget(gridView, 1);
    statusLine = new QStatusBar;
    statusLine->setSizeGripEnabled(false);
    // Opaque, so that a new status text (several per refresh) repaints the status line alone, not the
    // page and the tab frame behind it.
    statusLine->setAutoFillBackground(true);
    statusPanel = new QLabel;
    statusLine->addWidget(statusPanel, 1);
    quoteAgePanel = new QuoteAgePanel;
    statusLine->addPermanentWidget(quoteAgePanel);
    quoteAgePanel->hide();
    overview->addWidget(statusLine);
    pages->addTab(overviewPage, QStringLiteral("Übersicht"));

    const auto pageOf = [](QWidget *content) {
        auto *page = new QWidget;
        auto *layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        return page;
    };
    distributionChart = new DistributionChart;
    distributionPage = pageOf(distributionChart);
    pages->addTab(distributionPage, QStringLiteral("Verteilung"));
    historyChart = new HistoryChart;
    historyPage = pageOf(historyChart);
    pages->addTab(historyPage, QStringLiteral("Index-Verlauf"));
    m_dialogParent = dialogParent;
    informationPage = new QWidget;
    buildInformationPage(informationPage);
    pages->addTab(informationPage, QStringLiteral("Information"));
    pages->setCurrentWidget(overviewPage);
}

ChartPropertiesDialog *WindowElements::chartPropertiesDialog()
{
    // Made when first asked for: both dialogs cost start-up time, and most runs never open them.
    if (!chartProperties)
        chartProperties = new ChartPropertiesDialog(m_dialogParent);
    return chartProperties;
}

ChartPrintPreview *WindowElements::chartPrintPreview()
{
    if (!chartPreview)
        chartPreview = new ChartPrintPreview(m_dialogParent);
    return chartPreview;
}

void WindowElements::buildInformationPage(QWidget *page)
{
    // The text fills the page's width above the links, whatever the window's size.
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    informationText = new QPlainTextEdit;
    informationText->setReadOnly(true);
    informationText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    informationText->setFixedHeight(233);
    layout->addWidget(informationText);
    auto *links = new QWidget;
    links->setMinimumHeight(80);
    layout->addWidget(links, 1);

    linksHeading = label(links, QStringLiteral("Wichtig Webseiten für das Programm"), 16, 7);
    QFont underlined = linksHeading->font();
    underlined.setUnderline(true);
    linksHeading->setFont(underlined);
    linksHeading->adjustSize();

    operatorSiteLink = linkLabel(links, operatorSite, 16, 23);
    operatorSiteNote = label(links, QStringLiteral("die akt. Zusammensetzung der Indizes"), 216, 23);
    quoteCentreLink = linkLabel(links, quoteCentre, 16, 39);
    quoteCentreNote = label(links, QStringLiteral("Link zu den Internetdaten für die Berechnung"), 216, 39);
    makerSiteLink = linkLabel(links, makerSite, 16, 55);
    makerSiteNote =
        label(links, QStringLiteral("aktuellen Versionen und weitere Programme z.B. Norvata"), 216, 55);
}
