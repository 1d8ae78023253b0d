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
#include "app/weblink.h"
#include "core/errors.h"
#include "core/numbertext.h"
#include "core/programfiles.h"
#include "core/valuexmlfile.h"
#include "core/windows1252.h"
#include "net/httpclient.h"
#include "sources/quotepage.h"
#include "sources/identifierlookup.h"

#include <QBuffer>
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

const QString MainWindow::versionTitle = QStringLiteral("NV Zalvento V1.7");

namespace {

// The addresses behind the links of the page "Information".
const QString operatorSite = QStringLiteral("www.stoxx.com");
const QString operatorWeightingPage = QStringLiteral("https://www.stoxx.com/index-details?symbol=DAX");
const QString quoteCentre = QStringLiteral("www.ls-tc.de");
const QString makerSite = QStringLiteral("www.quenkel.de/zalvento");

const QColor buttonFace(240, 240, 240);

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
        if (event->type() == QEvent::MouseButtonRelease)
            m_onClick();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onClick;
};

void onClick(QLabel *target, std::function<void()> handler)
{
    target->installEventFilter(new ClickFilter(target, std::move(handler)));
}

} // namespace

MainWindow::MainWindow(StartOptions options, QWidget *parent)
    : QMainWindow(parent), definition(*this, QLocale::system().decimalPoint().at(0)),
      calculation(*this, definition, *this), norvataTable(QLocale::system().decimalPoint().at(0)),
      priceRefresh(*this, norvataTable, QLocale::system().decimalPoint().at(0)), m_options(std::move(options))
{
    // The live item is there before the window's first calculation; without a session bus the program
    // runs without it.
    liveLink = new LiveLink(this);
    if (!m_options.serviceName.isEmpty())
        liveLink->start(m_options.serviceName);

    setWindowTitle(versionTitle);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    setFont(font);
    resize(700, 701);
    move(270, 49);

    httpClient = new THttpClient(this);
    httpClient->OnCookie = [this](QObject *Sender, const QString &Data, bool &Accept) {
        acceptCookie(Sender, Data, Accept);
    };

    automaticTimer = new QTimer(this);
    automaticTimer->setInterval(100);
    connect(automaticTimer, &QTimer::timeout, this, &MainWindow::automaticTick);

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
    webLink = new WebLink(liveLink, &indexTable, historyChart, valueLabel, this);

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
    connect(quitAction, &QAction::triggered, this, &MainWindow::quit);
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
    automaticOnButton->setToolTip(QStringLiteral("Automatik einschalten"));
    automaticOnButton->setAutoRaise(true);
    automaticOffButton = new QToolButton(panel);
    automaticOffButton->setGeometry(176, 40, 23, 22);
    automaticOffButton->setIcon(LightBulbs::lit());
    automaticOffButton->setToolTip(QStringLiteral("Automatik ausschalten"));
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
    informationText = new QPlainTextEdit(page);
    informationText->setReadOnly(true);
    informationText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    informationText->setGeometry(0, 0, 692, 233);

    linksHeading = label(page, QStringLiteral("Wichtig Webseiten für das Programm"), 16, 240);
    QFont underlined = linksHeading->font();
    underlined.setUnderline(true);
    linksHeading->setFont(underlined);
    linksHeading->adjustSize();

    operatorSiteLink = linkLabel(page, operatorSite, 16, 256);
    operatorSiteNote = label(page, QStringLiteral("die akt. Zusammensetzung der Indizes"), 216, 256);
    quoteCentreLink = linkLabel(page, quoteCentre, 16, 272);
    quoteCentreNote = label(page, QStringLiteral("Link zu den Internetdaten für die Berechnung"), 216, 272);
    makerSiteLink = linkLabel(page, makerSite, 16, 288);
    makerSiteNote = label(page, QStringLiteral("aktuellen Versionen und weitere Programme z.B. Norvata"), 216, 288);
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
    return !automaticOffButton->isHidden();
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
        palette.setColor(QPalette::Window, buttonFace);
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
    if (!norvataAvailable || !automaticMode() || definition.IndexFirma == 0 || !recordIndexValueAction->isChecked())
        return;
    // A web refresh waiting for its page may hold the table open for its transfer: that record is
    // skipped rather than written into the middle of the refresh's use.
    if (norvataTable.isOpen())
        return;
    try {
        norvataTable.open(m_dataFolder, QStringLiteral("Intraday.db"), QString());
        norvataTable.appendRecord(definition.IndexFirma, value, QDateTime::currentDateTime());
        norvataTable.close();
    } catch (...) {
        norvataTable.close();
    }
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

    const QString indexName = indexChoice->currentText();
    definition.load(
        ProgramFiles::resolve(m_programFolder, indexName + QStringLiteral(".txt")));

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
    norvataAvailable = true;

    SettingsStore settings(m_options.settingsPath);
    settings.openKey();

    // One guarded block: the first error, such as a value of the wrong type, ends it silently.
    try {
        m_dataFolder = m_programFolder;
        if (settings.valueExists(QStringLiteral("Datenpath")))
            m_dataFolder = settings.readString(QStringLiteral("Datenpath"));
        else
            norvataAvailable = false;
        if (settings.valueExists(QStringLiteral("IndexEintragen")))
            recordIndexValueAction->setChecked(settings.readInteger(QStringLiteral("IndexEintragen")) != 0);
        if (settings.valueExists(QStringLiteral("IndexKurseeintragen")))
            transferWebPricesAction->setChecked(settings.readInteger(QStringLiteral("IndexKurseeintragen")) !=
                                                0);
        if (settings.valueExists(QStringLiteral("IndexQuelle")))
            setSourceIndex(settings.readInteger(QStringLiteral("IndexQuelle")));
        if (settings.valueExists(QStringLiteral("Indexwidth")))
            resize(settings.readInteger(QStringLiteral("Indexwidth")), height());
        if (settings.valueExists(QStringLiteral("Indexheight")))
            resize(width(), settings.readInteger(QStringLiteral("Indexheight")));
        if (norvataAvailable)
            prepareNorvataSession();
    } catch (const std::exception &) {
    }
    readServerSettings(settings);

    if (norvataAvailable &&
        !QFileInfo::exists(ProgramFiles::resolve(m_dataFolder, QStringLiteral("Intraday.db"))))
        norvataAvailable = false;
    norvataMenu->setEnabled(norvataAvailable);
    norvataMenu->menuAction()->setEnabled(norvataAvailable);
    if (!norvataAvailable) {
        setSourceIndex(1);
        sourceGroup->setEnabled(false);
    }
}

void MainWindow::prepareNorvataSession()
{
    norvataTable.prepareSession(m_dataFolder);
}

void MainWindow::loadInformation()
{
    const QString path = ProgramFiles::resolve(m_programFolder, QStringLiteral("Info.txt"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path));
    informationText->setPlainText(Windows1252::decode(file.readAll()));
    const QString firstLine = informationText->document()->firstBlock().text();
    QPalette palette = makerSiteNote->palette();
    if (firstLine != versionTitle) {
        makerSiteNote->setText(QStringLiteral("Einen neue Programmversion ist verfügbar!!"));
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
        definition.save(
            ProgramFiles::resolve(m_programFolder, indexChoice->currentText() + QStringLiteral(".txt")));
        SettingsStore settings(m_options.settingsPath);
        settings.openKey();
        settings.writeInteger(QStringLiteral("IndexEintragen"), recordIndexValueAction->isChecked() ? 1 : 0);
        settings.writeInteger(QStringLiteral("IndexKurseeintragen"),
                              transferWebPricesAction->isChecked() ? 1 : 0);
        settings.writeInteger(QStringLiteral("IndexQuelle"), sourceIndex());
        settings.writeInteger(QStringLiteral("Indexwidth"), width());
        settings.writeInteger(QStringLiteral("Indexheight"), height());
        settings.save();
    } catch (const std::exception &) {
        Messages::show(QStringLiteral("Konnte Datei nicht schreiben"));
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        writeBack();
    }
    event->accept();
}

// ---- handlers
// ------------------------------------------------------------------------------------------------

void MainWindow::indexChoiceChanged()
{
    whenNoRefreshRuns(Deferred::Reload, [this] { Messages::guarded([this] { startUp(); }); });
}

void MainWindow::whenNoRefreshRuns(Deferred kind, const std::function<void()> &work)
{
    if (!priceRefresh.running()) {
        work();
        return;
    }
    for (auto &waiting : m_deferred) {
        if (waiting.first == kind) {
            waiting.second = work;
            return;
        }
    }
    m_deferred.append({kind, work});
}

void MainWindow::runDeferred()
{
    while (!m_deferred.isEmpty() && !priceRefresh.running())
        m_deferred.takeFirst().second();
}

void MainWindow::readNorvataIds()
{
    whenNoRefreshRuns(Deferred::Lookup, [this] {
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
    if (!norvataSourceSelected() && (httpClient->busy() || (indexFileUpdate && indexFileUpdate->running())))
        return;
    priceRefresh.run();
    runDeferred();
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
    // The client's properties belong to a running request: test before touching any of them.
    if (httpClient->busy())
        throw EHttpException(QStringLiteral("HTTP component is busy"), THttpClient::ErrorBusy);
    httpClient->URL = QuotePage::addressOf(quoteServerHost(), indexChoice->currentText());
    QBuffer page;
    page.open(QIODevice::WriteOnly);
    httpClient->ReceiveStream = &page;
    setStatusText(QStringLiteral("Loading"));
    httpClient->Cookie.clear();
    try {
        httpClient->Get();
    } catch (...) {
        httpClient->ReceiveStream = nullptr;
        throw;
    }
    httpClient->ReceiveStream = nullptr;
    setStatusText(QStringLiteral("Received %1 bytes").arg(page.size()));
    // A server that closed without an answer, reset the connection or cut the page short returns
    // normally from Get: the refresh would then report success while it kept the old prices.
    const bool cutShort = httpClient->ContentLength >= 0 && page.size() < httpClient->ContentLength;
    if (page.size() == 0 || httpClient->requestError() != 0 || cutShort)
        throw ZalventoError(QStringLiteral("Die Kursseite wurde nicht vollständig übertragen"));
    return page.data();
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

void MainWindow::readServerSettings(const SettingsStore &settings)
{
    // Outside the settings' guarded block: a missing or mistyped value means the program's own server.
    const auto text = [&settings](const QString &name) {
        try {
            return settings.valueExists(name) ? settings.readString(name) : QString();
        } catch (const SettingsTypeError &) {
            return QString();
        }
    };
    m_kursserver = text(QStringLiteral("Kursserver"));
    m_updateserver = text(QStringLiteral("Updateserver"));

    // The web link's port: 0 or a value that is no port switches it off, a mistyped one means the default.
    // A port that another program holds leaves the program without the web link, silently.
    qint32 port = WebLink::defaultPort;
    try {
        if (settings.valueExists(QStringLiteral("Webport")))
            port = settings.readInteger(QStringLiteral("Webport"));
    } catch (const SettingsTypeError &) {
    }
    if (port > 0 && port <= 65535)
        webLink->start(quint16(port));
    else
        webLink->stop();
}

void MainWindow::setQuoteAges(const QuoteAges &ages)
{
    webLink->setQuoteAges(ages);
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
    automaticOnButton->hide();
    automaticOffButton->show();
    automaticTimer->start();
}

void MainWindow::switchAutomaticOff()
{
    automaticOffButton->hide();
    automaticOnButton->show();
    automaticTimer->stop();
}

void MainWindow::automaticTick()
{
    automaticTimer->stop();
    // A tick that arrives while a refresh waits for its page (started by the button, or before the mode
    // was switched off and on) is skipped; the cycle goes on from this tick.
    if (!priceRefresh.running())
        refreshPrices();
    automaticTimer->setInterval(automaticMode() ? m_options.automaticPause : 100);
    if (automaticMode())
        automaticTimer->start();
}

void MainWindow::openLinkOf(const QLabel *clicked)
{
    QDesktopServices::openUrl(QUrl::fromUserInput(clicked->text()));
}

void MainWindow::openOperatorWeightingPage()
{
    QDesktopServices::openUrl(QUrl(operatorWeightingPage));
}

void MainWindow::quit()
{
    close();
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
