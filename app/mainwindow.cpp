#include "app/mainwindow.h"

#include "app/chartprintpreview.h"
#include "app/chartpropertiesdialog.h"
#include "app/distributionchart.h"
#include "app/gridcelldelegate.h"
#include "app/historychart.h"
#include "app/livelink.h"
#include "app/lightbulbs.h"
#include "app/messages.h"
#include "app/settingsstore.h"
#include "core/errors.h"
#include "core/numbertext.h"
#include "core/programfiles.h"
#include "core/valuexmlfile.h"
#include "shell/indexrecord.h"
#include "shell/versionnotice.h"
#include "shell/windowsettings.h"
#include "core/windows1252.h"
#include "net/httpclient.h"
#include "net/pagefetch.h"
#include "sources/quotepage.h"
#include "sources/identifierlookup.h"

#include <QButtonGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The addresses behind the links of the page "Information".
const QString operatorSite = QStringLiteral("www.stoxx.com");
const QString operatorWeightingPage = QStringLiteral("https://www.stoxx.com/index-details?symbol=DAX");
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

// The settings file as the settings rules read and write it.
class StoredSettings : public SettingsValues
{
public:
    explicit StoredSettings(SettingsStore &store) : m_store(store) {}
    bool valueExists(const QString &name) const override { return m_store.valueExists(name); }
    QString readString(const QString &name) const override { return m_store.readString(name); }
    qint32 readInteger(const QString &name) const override { return m_store.readInteger(name); }
    void writeInteger(const QString &name, qint32 value) override { m_store.writeInteger(name, value); }

private:
    SettingsStore &m_store;
};

void onClick(QLabel *target, std::function<void()> handler)
{
    target->installEventFilter(new ClickFilter(target, std::move(handler)));
}

} // namespace

MainWindow::MainWindow(StartOptions options, QWidget *parent)
    : QMainWindow(parent), definition(*this, QLocale::system().decimalPoint().at(0)),
      calculation(*this, definition, *this), norvataTable(QLocale::system().decimalPoint().at(0)),
      priceRefresh(*this, norvataTable, QLocale::system().decimalPoint().at(0)),
      automaticTimer([this] { automaticCycle.timeout(); }),
      automaticCycle(automaticTimer, [this] { refreshPrices(); }, options.automaticPause),
      m_options(std::move(options)), m_exclusion([this] { return priceRefresh.running(); })
{
    // The live item is there before the window's first calculation; without a session bus the program
    // runs without it.
    liveLink = new LiveLink(this);
    if (!m_options.serviceName.isEmpty())
        liveLink->start(m_options.serviceName);

    setWindowTitle(VersionNotice::versionTitle);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    setFont(font);
    resize(700, 701);
    move(270, 49);

    httpClient = new THttpClient(this);
    httpClient->OnCookie = [this](QObject *Sender, const QString &Data, bool &Accept) {
        acceptCookie(Sender, Data, Accept);
    };

    automaticCycle.modeChanged = [this](bool on) { showAutomaticMode(on); };

    buildMenu();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildPanel();
    layout->addWidget(panel);
    buildPages();
    layout->addWidget(pages, 1);
    setCentralWidget(central);

    Messages::guarded([this] { startUp(); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenu()
{
    QMenuBar *bar = menuBar();
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

    updateMenu = bar->addMenu(QStringLiteral("&Update"));
    updateIndexFilesAction = updateMenu->addAction(QStringLiteral("&Index-Dateien"));

    quitAction = bar->addAction(QStringLiteral("&Beenden"));
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    connect(readNorvataIdsAction, &QAction::triggered, this, &MainWindow::readNorvataIds);
    connect(updateIndexFilesAction, &QAction::triggered, this, &MainWindow::updateIndexFiles);
    connect(distributionPropertiesAction, &QAction::triggered, this, &MainWindow::editDistributionChart);
    connect(distributionPrintAction, &QAction::triggered, this, &MainWindow::printDistributionChart);
    connect(historyPropertiesAction, &QAction::triggered, this, &MainWindow::editHistoryChart);
    connect(historyPrintAction, &QAction::triggered, this, &MainWindow::printHistoryChart);
}

void MainWindow::buildPanel()
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

    componentCountLabel = label(panel, QStringLiteral("Werte-Anzahl:"), 16, 44);
    QFont bold = componentCountLabel->font();
    bold.setBold(true);
    componentCountLabel->setFont(bold);
    componentCountLabel->adjustSize();

    componentCountEdit = new QLineEdit(QStringLiteral("30"), panel);
    componentCountEdit->setGeometry(112, 40, 33, 24);
    componentCountEdit->setEnabled(false);
    componentCountSpin = new QSpinBox(panel);
    componentCountSpin->setGeometry(145, 40, 16, 24);
    componentCountSpin->setRange(2, 100);
    componentCountSpin->setValue(30);
    componentCountSpin->setEnabled(false);
    componentCountSpin->hide();

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
    connect(automaticOnButton, &QToolButton::clicked, this, &MainWindow::switchAutomaticOn);
    connect(automaticOffButton, &QToolButton::clicked, this, &MainWindow::switchAutomaticOff);

    refreshButton = new QPushButton(QStringLiteral("Kurswerte aktualisieren"), panel);
    refreshButton->setGeometry(200, 40, 145, 22);
    connect(refreshButton, &QPushButton::clicked, this, &MainWindow::refreshPrices);

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

    calculateButton = new QPushButton(QStringLiteral("Index berechnen"), panel);
    calculateButton->setGeometry(376, 32, 129, 25);
    calculateButton->setFont(bold);
    connect(calculateButton, &QPushButton::clicked, this, &MainWindow::calculate);

    valueLabel = new QLabel(panel);
    valueLabel->setGeometry(376, 6, 170, 22);
    valueLabel->setAlignment(Qt::AlignCenter);
    QFont value = bold;
    value.setPixelSize(16);
    valueLabel->setFont(value);
    valueLabel->setAutoFillBackground(true);
    setValueColour(ValueColour::ButtonFace);

    indexFirmaLabel = label(panel, QStringLiteral("NV Index"), 576, 12);
    indexFirmaEdit = new QLineEdit(QStringLiteral("0"), panel);
    indexFirmaEdit->setGeometry(632, 8, 49, 24);
    connect(indexFirmaEdit, &QLineEdit::textChanged, this, &MainWindow::indexFirmaEdited);
    referenzkursLabel = label(panel, QStringLiteral("Referenzkurs"), 552, 36);
    referenzkursEdit = new QLineEdit(QStringLiteral("0"), panel);
    referenzkursEdit->setGeometry(632, 32, 49, 24);
    connect(referenzkursEdit, &QLineEdit::textChanged, this, &MainWindow::referenzkursEdited);

    // Connected last: setting the laid-out text above must not run the start-up sequence.
    connect(indexChoice, &QComboBox::editTextChanged, this, &MainWindow::indexChoiceChanged);
}

void MainWindow::buildPages()
{
    pages = new QTabWidget;

    overviewPage = new QWidget;
    auto *overview = new QVBoxLayout(overviewPage);
    overview->setContentsMargins(0, 0, 0, 0);
    overview->setSpacing(0);
    gridView = new QTableView;
    gridView->setModel(&indexTable);
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
    statusPanel = new QLabel;
    statusLine->addWidget(statusPanel, 1);
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
    chartProperties = new ChartPropertiesDialog(this);
    chartPreview = new ChartPrintPreview(this);
    informationPage = new QWidget;
    buildInformationPage(informationPage);
    pages->addTab(informationPage, QStringLiteral("Information"));
    pages->setCurrentWidget(overviewPage);
}

void MainWindow::buildInformationPage(QWidget *page)
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
    makerSiteNote = label(links, QStringLiteral("aktuellen Versionen und weitere Programme z.B. Norvata"), 216, 55);
    onClick(operatorSiteLink, [this] { openOperatorWeightingPage(); });
    onClick(quoteCentreLink, [this] { openLinkOf(quoteCentreLink); });
    onClick(makerSiteLink, [this] { openLinkOf(makerSiteLink); });
}

// ---- state shown by elements
// -------------------------------------------------------------------------------

int MainWindow::sourceIndex() const
{
    return sourceButtons->checkedId();
}

void MainWindow::setSourceIndex(int index)
{
    // A stored index above 1 selects "Internet"; below 0 none is marked (a refresh then reads the web).
    index = std::min(index, 1);
    if (index < 0) {
        sourceButtons->setExclusive(false);
        for (QAbstractButton *button : sourceButtons->buttons())
            button->setChecked(false);
        sourceButtons->setExclusive(true);
        return;
    }
    sourceButtons->button(index)->setChecked(true);
}

bool MainWindow::automaticMode() const
{
    return automaticCycle.isOn();
}

QString MainWindow::statusText() const
{
    return statusPanel->text();
}

void MainWindow::setStatusText(const QString &text)
{
    statusPanel->setText(text);
}

QString MainWindow::referenzkursText() const
{
    return referenzkursEdit->text();
}

void MainWindow::setReferenzkursText(const QString &text)
{
    referenzkursEdit->setText(text);
}

QString MainWindow::indexFirmaText() const
{
    return indexFirmaEdit->text();
}

void MainWindow::setIndexFirmaText(const QString &text)
{
    indexFirmaEdit->setText(text);
}

void MainWindow::setComponentCount(int count)
{
    componentCountSpin->setValue(count);
    componentCountEdit->setText(QString::number(count));
}

QString MainWindow::valueText() const
{
    return valueLabel->text();
}

void MainWindow::setValueText(const QString &text)
{
    valueLabel->setText(text);
}

void MainWindow::setValueColour(ValueColour colour)
{
    QPalette palette = valueLabel->palette();
    switch (colour) {
    case ValueColour::ButtonFace:
        // The theme's button face, so that a dark or high-contrast theme keeps the value readable.
        palette.setColor(QPalette::Window, panel->palette().color(QPalette::Button));
        break;
    case ValueColour::Red:
        palette.setColor(QPalette::Window, QColor(255, 0, 0));
        break;
    case ValueColour::Green:
        palette.setColor(QPalette::Window, QColor(0, 255, 0));
        break;
    }
    valueLabel->setPalette(palette);
}

void MainWindow::showMessage(const QString &text)
{
    Messages::show(text);
}

// ---- publication
// ---------------------------------------------------------------------------------------------

void MainWindow::publishValue(const QString &numberText)
{
    liveLink->setItemText(numberText);
    ValueXmlFile::write(ValueXmlFile::path(m_dataFolder, windowTitle()), numberText);
}

void MainWindow::addHistoryPoint(HistorySeries series, double value)
{
    historyChart->addPoint(series, QDateTime::currentDateTime(), value);
}

void MainWindow::appendIndexRecord(double value)
{
    writeIndexRecord(norvataTable, m_dataFolder,
                     {norvataAvailable, automaticMode(), definition.IndexFirma, recordIndexValueAction->isChecked()},
                     value, QDateTime::currentDateTime());
}

void MainWindow::clearBars()
{
    distributionChart->clear();
}

void MainWindow::clearHistory()
{
    // The history belongs to the index just loaded: its first point comes with the next change.
    historyChart->clearAll();
}

void MainWindow::addBar(int row, double weight, const QString &label)
{
    distributionChart->addBar(row, weight, label);
}

// ---- start-up, settings and shutdown
// ---------------------------------------------------------------------------

void MainWindow::startUp()
{
    norvataAvailable = false;
    highlightColour = Qt::white;
    m_programFolder = ProgramFiles::programDirectoryOf(m_options.executablePath);

    // The shutdown writes the table to the file of the index this sequence ran for (a deferred change of
    // the choice has not run yet), except to a damaged file that the table's rows never came from.
    const QString indexName = indexChoice->currentText();
    loadedIndexName = indexName;
    m_definitionDamaged = false;
    try {
        definition.load(ProgramFiles::resolve(m_programFolder, indexName + QStringLiteral(".txt")));
    } catch (const ConversionError &) {
        m_definitionDamaged = true;
        throw;
    }

    applySettings();

    setWindowTitle(ProgramFiles::upperCaseAZ(indexName));
    liveLink->setTopic(windowTitle());
    calculation.calculate();
    clearHistory();
    loadInformation();

    if (!m_options.arguments.isEmpty() && m_options.arguments.first() == QLatin1String("/A"))
        switchAutomaticOn();
}

void MainWindow::applySettings()
{
    m_programFolder = ProgramFiles::programDirectoryOf(m_options.executablePath);
    SettingsStore store(m_options.settingsPath);
    store.openKey();
    const WindowSettings settings = readWindowSettings(StoredSettings(store), m_programFolder,
        [this](const QString &dataFolder) { norvataTable.prepareSession(dataFolder); });

    m_dataFolder = settings.dataFolder;
    norvataAvailable = settings.norvataAvailable;
    if (settings.recordIndexValue)
        recordIndexValueAction->setChecked(*settings.recordIndexValue);
    if (settings.transferWebPrices)
        transferWebPricesAction->setChecked(*settings.transferWebPrices);
    if (settings.source)
        setSourceIndex(*settings.source);
    resize(settings.width.value_or(width()), settings.height.value_or(height()));
    m_kursserver = settings.quoteServer;
    m_updateserver = settings.updateServer;

    norvataMenu->setEnabled(norvataAvailable);
    norvataMenu->menuAction()->setEnabled(norvataAvailable);
    if (!norvataAvailable) {
        setSourceIndex(1);
        sourceGroup->setEnabled(false);
    }
}

void MainWindow::loadInformation()
{
    informationText->setPlainText(VersionNotice::readInformation(m_programFolder));
    QPalette palette = makerSiteNote->palette();
    if (VersionNotice::announcesOtherVersion(informationText->toPlainText())) {
        makerSiteNote->setText(VersionNotice::noticeText);
        makerSiteNote->adjustSize();
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    } else {
        palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
    }
    makerSiteNote->setPalette(palette);
}

void MainWindow::writeBack()
{
    try {
        if (!m_definitionDamaged)
            definition.save(ProgramFiles::resolve(m_programFolder, loadedIndexName + QStringLiteral(".txt")));
        SettingsStore store(m_options.settingsPath);
        store.openKey();
        StoredSettings settings(store);
        storeWindowChoices(settings, {recordIndexValueAction->isChecked(), transferWebPricesAction->isChecked(),
                                      sourceIndex(), width(), height()});
        store.save();
    } catch (const std::exception &) {
        Messages::show(QStringLiteral("Konnte Datei nicht schreiben"));
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A refresh waiting for its page runs to its end afterwards; nothing that waited for it runs then.
    if (!m_exclusion.closed()) {
        m_exclusion.close();
        automaticCycle.switchOff();
        writeBack();
    }
    event->accept();
}

// ---- handlers
// ------------------------------------------------------------------------------------------------

void MainWindow::indexChoiceChanged()
{
    m_exclusion.whenNoRefreshRuns(RefreshExclusion::Work::Reload,
                                  [this] { Messages::guarded([this] { startUp(); }); });
}

void MainWindow::runStartUp()
{
    m_exclusion.whenNoRefreshRuns(RefreshExclusion::Work::Reload, [this] { startUp(); });
}

void MainWindow::readNorvataIds()
{
    m_exclusion.whenNoRefreshRuns(RefreshExclusion::Work::Lookup, [this] {
        lookUpNorvataIds(norvataTable, m_dataFolder, indexChoice->currentText(), *this, definition);
    });
}

void MainWindow::editDistributionChart()
{
    pages->setCurrentWidget(distributionPage);
    chartProperties->setChart(distributionChart);
    chartProperties->exec();
}

void MainWindow::printDistributionChart()
{
    pages->setCurrentWidget(distributionPage);
    distributionChart->flush();
    chartPreview->setChart(distributionChart->chart(), QStringLiteral("Verteilung"));
    chartPreview->exec();
}

void MainWindow::editHistoryChart()
{
    pages->setCurrentWidget(historyPage);
    chartProperties->setChart(historyChart);
    chartProperties->exec();
}

void MainWindow::printHistoryChart()
{
    pages->setCurrentWidget(historyPage);
    chartPreview->setChart(historyChart->chart(), QStringLiteral("Index-Verlauf"));
    chartPreview->exec();
}

void MainWindow::refreshPrices()
{
    // The web source needs the client: while the index file update (or anything else) uses it, the
    // refresh is refused before it touches anything.
    const bool clientBusy = httpClient->busy() || (indexFileUpdate && indexFileUpdate->running());
    m_exclusion.refresh(!norvataSourceSelected(), clientBusy, [this] { priceRefresh.run(); });
}

void MainWindow::beginRefresh()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    refreshButton->setEnabled(false);
}

void MainWindow::endRefresh()
{
    refreshButton->setEnabled(true);
    QApplication::restoreOverrideCursor();
}

bool MainWindow::norvataSourceSelected() const
{
    return sourceIndex() == 0;
}

bool MainWindow::transferEnabled() const
{
    return norvataAvailable && transferWebPricesAction->isChecked();
}

QByteArray MainWindow::fetchQuotePage()
{
    return fetchPage(*httpClient, QuotePage::addressOf(quoteServerHost(), indexChoice->currentText()),
                     QStringLiteral("Die Kursseite wurde nicht vollständig übertragen"),
                     [this](const QString &text) { setStatusText(text); });
}

void MainWindow::acceptCookie(QObject *Sender, const QString &Data, bool &Accept)
{
    Q_UNUSED(Sender)
    httpClient->Cookie = Data;
    Accept = true;
}

void MainWindow::updateIndexFiles()
{
    Messages::guarded([this] {
        if (!indexFileUpdate || !indexFileUpdate->running())
            indexFileUpdate = std::make_unique<IndexFileUpdate>(*httpClient, *this, updateServerHost());
        indexFileUpdate->run();
    });
}

QString MainWindow::quoteServerHost() const
{
    return QuotePage::hostFromSetting(m_kursserver);
}

QString MainWindow::updateServerHost() const
{
    return m_updateserver.trimmed().isEmpty() ? IndexFileUpdate::defaultServerHost() : m_updateserver.trimmed();
}

void MainWindow::referenzkursEdited()
{
    definition.referenzkursEdited(referenzkursEdit->text());
}

void MainWindow::indexFirmaEdited()
{
    definition.indexFirmaEdited(indexFirmaEdit->text());
}

void MainWindow::switchAutomaticOn()
{
    automaticCycle.switchOn();
}

void MainWindow::showAutomaticMode(bool on)
{
    automaticOnButton->setHidden(on);
    automaticOffButton->setVisible(on);
}

void MainWindow::switchAutomaticOff()
{
    automaticCycle.switchOff();
}

void MainWindow::openLinkOf(const QLabel *clicked)
{
    QDesktopServices::openUrl(QUrl::fromUserInput(clicked->text()));
}

void MainWindow::openOperatorWeightingPage()
{
    QDesktopServices::openUrl(QUrl(operatorWeightingPage));
}

void MainWindow::writeHighlightedCell(int column, int row, const QString &text, Highlight highlight)
{
    switch (highlight) {
    case Highlight::None:
        writeHighlightedCell(column, row, text, QColor(Qt::white));
        break;
    case Highlight::Lime:
        writeHighlightedCell(column, row, text, QColor(0, 255, 0));
        break;
    case Highlight::Fuchsia:
        writeHighlightedCell(column, row, text, QColor(255, 0, 255));
        break;
    }
}

void MainWindow::writeHighlightedCell(int column, int row, const QString &text, const QColor &colour)
{
    highlightColour = colour;
    indexTable.setCell(column, row, text);
    // Only a cell on screen is drawn highlighted: one scrolled away or on a hidden page is drawn the
    // normal way when it next shows.
    if (row >= 1 && row < indexTable.rows() && column < indexTable.columns() && gridView->isVisible()) {
        const QModelIndex cell = indexTable.index(row - 1, column);
        const QRect rect = gridView->visualRect(cell);
        if (rect.intersects(gridView->viewport()->rect())) {
            gridCells->setHighlight(cell, highlightColour);
            gridView->viewport()->update(rect);
        }
    }
    highlightColour = Qt::white;
}
