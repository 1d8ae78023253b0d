#include "app/mainwindow.h"

#include "app/chartexport.h"
#include "app/chartprintpreview.h"
#include "app/chartpropertiesdialog.h"
#include "app/distributionchart.h"
#include "app/gridcelldelegate.h"
#include "app/historychart.h"
#include "app/livelink.h"
#include "app/messages.h"
#include "app/quoteagepanel.h"
#include "app/weblink.h"
#include "core/errors.h"
#include "core/programfiles.h"
#include "core/settingsstore.h"
#include "core/valuexmlfile.h"
#include "net/feedfetcher.h"
#include "net/httpclient.h"
#include "net/pagefetch.h"
#include "norvata/identifierlookup.h"
#include "quotes/quotepage.h"
#include "shell/indexrecord.h"
#include "shell/versionnotice.h"
#include "shell/windowsettings.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>

namespace {

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

} // namespace

MainWindow::MainWindow(StartOptions options, QWidget *parent)
    : QMainWindow(parent), clock(*options.clock), definition(*this, QLocale::system().decimalPoint().at(0)),
      calculation(*this, definition, *this), norvataTable(QLocale::system().decimalPoint().at(0)),
      priceRefresh(*this, norvataTable, QLocale::system().decimalPoint().at(0)),
      automaticTimer([this] { automaticCycle.timeout(); }),
      automaticCycle(
          automaticTimer, [this] { refreshAutomatically(); }, options.automaticPause),
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
    httpClient->OnCookie = [this](QObject *, const QString &cookie, bool &accept) {
        acceptCookie(cookie, accept);
    };
    feedFetcher = new FeedFetcher(this);
    feedFetcher->OnStatus = [this](const QString &text) { setStatusText(text); };

    automaticCycle.modeChanged = [this](bool on) { showAutomaticMode(on); };
    automaticCycle.outcome = [this] {
        return RefreshOutcome{priceRefresh.lastFailed(), priceRefresh.retryAfterMs()};
    };
    // Quotes age while no refresh runs: judged again every minute.
    auto *ageTimer = new QTimer(this);
    connect(ageTimer, &QTimer::timeout, this, [this] {
        if (!m_quoteAges.isEmpty())
            setQuoteAges(rejudged(m_quoteAges, now(), kursalterMinutes()));
    });
    ageTimer->start(60 * 1000);

    buildElements(*this, &indexTable);
    historyChart->setClock(clock);
    webLink = new WebLink(liveLink, &indexTable, historyChart, &calculation, clock, &health, this);
    // A message that gets no box of its own (a repetition, or one while a box is open) shows here.
    webLink->setHistoryFile([this] { return m_dayHistory.path(); });
    Messages::setStatusOutlet([this](const QString &text) { setStatusText(text); });
    setValueDirection(IndexDirection::Unchanged);
    connectElements();

    Messages::guarded([this] { startUp(); });
}

MainWindow::~MainWindow()
{
    Messages::setStatusOutlet({});
}

void MainWindow::connectElements()
{
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    connect(readNorvataIdsAction, &QAction::triggered, this, &MainWindow::readNorvataIds);
    connect(updateIndexFilesAction, &QAction::triggered, this, &MainWindow::updateIndexFiles);
    connect(distributionPropertiesAction, &QAction::triggered, this, &MainWindow::editDistributionChart);
    connect(distributionPrintAction, &QAction::triggered, this, &MainWindow::printDistributionChart);
    connect(historyPropertiesAction, &QAction::triggered, this, &MainWindow::editHistoryChart);
    connect(historyPrintAction, &QAction::triggered, this, &MainWindow::printHistoryChart);
    connect(historyExportAction, &QAction::triggered, this, &MainWindow::exportHistory);
    connect(distributionSaveAction, &QAction::triggered, this, &MainWindow::saveDistributionChart);
    connect(historySaveAction, &QAction::triggered, this, &MainWindow::saveHistoryChart);
    connect(automaticOnButton, &QToolButton::clicked, this, &MainWindow::switchAutomaticOn);
    connect(automaticOffButton, &QToolButton::clicked, this, &MainWindow::switchAutomaticOff);
    connect(refreshButton, &QPushButton::clicked, this, &MainWindow::refreshPrices);
    connect(calculateButton, &QPushButton::clicked, this, &MainWindow::calculate);
    connect(indexFirmaEdit, &QLineEdit::textChanged, this, &MainWindow::indexFirmaEdited);
    connect(referenzkursEdit, &QLineEdit::textChanged, this, &MainWindow::referenzkursEdited);
    connect(indexChoice, &QComboBox::editTextChanged, this, &MainWindow::indexChoiceChanged);
    onLeftClick(operatorSiteLink, [this] { openOperatorWeightingPage(); });
    onLeftClick(quoteCentreLink, [this] { openLinkOf(quoteCentreLink); });
    onLeftClick(makerSiteLink, [this] { openLinkOf(makerSiteLink); });
}

// ---- state shown by elements
// -------------------------------------------------------------------------------

void MainWindow::setSourceIndex(int index)
{
    // None marked: a refresh then reads the web.
    index = clampSourceChoice(index);
    if (index < 0) {
        sourceButtons->setExclusive(false);
        for (QAbstractButton *button : sourceButtons->buttons())
            button->setChecked(false);
        sourceButtons->setExclusive(true);
        return;
    }
    sourceButtons->button(index)->setChecked(true);
}

void MainWindow::setComponentCount(int count)
{
    componentCountSpin->setValue(count);
    componentCountEdit->setText(QString::number(count));
}

void MainWindow::setValueDirection(IndexDirection direction)
{
    QPalette palette = valueLabel->palette();
    switch (direction) {
    case IndexDirection::Unchanged:
        // The theme's button face, so that a dark or high-contrast theme keeps the value readable.
        palette.setColor(QPalette::Window, panel->palette().color(QPalette::Button));
        break;
    case IndexDirection::Falling:
        palette.setColor(QPalette::Window, QColor(255, 0, 0));
        break;
    case IndexDirection::Rising:
        palette.setColor(QPalette::Window, QColor(0, 255, 0));
        break;
    }
    valueLabel->setPalette(palette);
}

// ---- publication
// ---------------------------------------------------------------------------------------------

void MainWindow::publishValue(const QString &numberText)
{
    // Every calculation looks at the day: after midnight the chart and the web link show the new day.
    if (m_dayHistory.followDay())
        historyChart->clearAll();
    liveLink->setItemText(numberText);
    ValueXmlFile::write(ValueXmlFile::path(m_dataFolder, windowTitle()), numberText);
}

void MainWindow::addHistoryPoint(HistorySeries series, double value)
{
    if (series == HistorySeries::Index && m_dayHistory.followDay())
        historyChart->clearAll();
    historyChart->addPoint(series, m_dayHistory.addPoint(series, value), value);
}

void MainWindow::appendIndexRecord(double value)
{
    // The index record follows the history points of a calculation: their line is complete.
    m_dayHistory.flush();
    writeIndexRecord(
        norvataTable, m_dataFolder,
        {norvataAvailable, automaticMode(), definition.IndexFirma, recordIndexValueAction->isChecked()},
        value, clock.now());
}

void MainWindow::clearHistory()
{
    // The history belongs to the index just loaded: the day so far as its file kept it. The point of
    // the load's own calculation, from the definition file's prices, is no part of it.
    const DayHistoryRead day =
        m_dayHistory.start(m_programFolder + QStringLiteral("Verlauf/"), windowTitle());
    historyChart->loadRows(day.rows);
}

// ---- start-up, settings and shutdown
// ---------------------------------------------------------------------------

void MainWindow::startUp()
{
    norvataAvailable = false;
    highlightColour = Qt::white;
    m_programFolder = ProgramFiles::programDirectory(m_options.executablePath);

    const QString indexName = indexChoice->currentText();
    writeBackTarget.startUpRan(indexName);
    try {
        definition.load(ProgramFiles::resolve(m_programFolder, indexName + QStringLiteral(".txt")));
    } catch (const ConversionError &) {
        writeBackTarget.loadFailed();
        throw;
    }

    applySettings();

    setWindowTitle(ProgramFiles::upperCaseAZ(indexName));
    liveLink->setTopic(windowTitle());
    health.setIndex(windowTitle());
    setQuoteAges({}); // a load puts the quote columns away
    m_dayHistory.stop();
    calculation.calculate();
    clearHistory();
    loadInformation();

    if (AutomaticRefresh::requestedBy(m_options.arguments))
        switchAutomaticOn();
}

void MainWindow::applySettings()
{
    m_programFolder = ProgramFiles::programDirectory(m_options.executablePath);
    SettingsStore store(m_options.settingsPath);
    store.openKey();
    const WindowSettings settings =
        readWindowSettings(StoredSettings(store), m_programFolder,
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
    m_quoteServer = settings.quoteServer;
    m_updateServer = settings.updateServer;
    m_kursalter = settings.kursalter;
    // A port that another program holds leaves the program without the web link, silently.
    if (settings.webPort > 0 && settings.webPort <= 65535)
        webLink->start(quint16(settings.webPort));
    else
        webLink->stop();

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
        if (const auto file = writeBackTarget.fileName())
            definition.save(ProgramFiles::resolve(m_programFolder, *file));
        SettingsStore store(m_options.settingsPath);
        store.openKey();
        StoredSettings settings(store);
        storeWindowChoices(settings,
                           {recordIndexValueAction->isChecked(), transferWebPricesAction->isChecked(),
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
        feedFetcher->abort();
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
    chartPropertiesDialog()->setChart(distributionChart);
    chartPropertiesDialog()->exec();
}

void MainWindow::printDistributionChart()
{
    pages->setCurrentWidget(distributionPage);
    distributionChart->flush();
    chartPrintPreview()->setChart(distributionChart->chart(), QStringLiteral("Verteilung"));
    chartPrintPreview()->exec();
}

void MainWindow::editHistoryChart()
{
    pages->setCurrentWidget(historyPage);
    chartPropertiesDialog()->setChart(historyChart);
    chartPropertiesDialog()->exec();
}

void MainWindow::printHistoryChart()
{
    pages->setCurrentWidget(historyPage);
    chartPrintPreview()->setChart(historyChart->chart(), QStringLiteral("Index-Verlauf"));
    chartPrintPreview()->exec();
}

void MainWindow::exportHistory()
{
    Messages::guarded([this] { ChartExport::exportHistory(this, historyChart->rows()); });
}

void MainWindow::saveDistributionChart()
{
    pages->setCurrentWidget(distributionPage);
    distributionChart->flush();
    Messages::guarded(
        [this] { ChartExport::saveChart(this, distributionChart, QStringLiteral("Verteilung")); });
}

void MainWindow::saveHistoryChart()
{
    pages->setCurrentWidget(historyPage);
    Messages::guarded(
        [this] { ChartExport::saveChart(this, historyChart, QStringLiteral("Index-Verlauf")); });
}

void MainWindow::refreshPrices()
{
    // The web source needs the client: while the index file update (or anything else) uses it, the
    // refresh is refused before it touches anything.
    const bool clientBusy = httpClient->busy() || (indexFileUpdate && indexFileUpdate->running());
    m_exclusion.refresh(!norvataSourceSelected(), clientBusy, [this] { priceRefresh.run(); });
}

void MainWindow::refreshAutomatically()
{
    const Messages::BoxesDoNotWait goOn;
    refreshPrices();
}

void MainWindow::refreshEnded(const QString &outcome, qint64 milliseconds)
{
    if (!outcome.startsWith(QLatin1String("Fehler"))) {
        health.refreshSucceeded(milliseconds);
        Messages::succeeded();
        return;
    }
    health.refreshFailed(outcome, milliseconds);
    const QDateTime now = clock.now();
    Messages::log(Messages::Kind::Warning, now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate) +
                                               QLatin1Char(' ') + outcome);
}

void MainWindow::beginRefresh()
{
    m_refreshDuration.start();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    refreshButton->setEnabled(false);
}

void MainWindow::endRefresh()
{
    // The refresh has set its last status text; a box that follows may replace it, and may wait.
    refreshEnded(statusText(), m_refreshDuration.elapsed());
    refreshButton->setEnabled(true);
    QApplication::restoreOverrideCursor();
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

QString MainWindow::indexName() const
{
    return indexChoice->currentText();
}

QList<FeedPage> MainWindow::fetchFeed(const QuoteFeed &feed, const QList<FeedRequest> &requests)
{
    QList<QUrl> urls;
    urls.reserve(requests.size());
    for (const FeedRequest &request : requests)
        urls << request.url;
    QList<FeedPage> pages;
    pages.reserve(requests.size());
    try {
        const QList<FeedReply> replies = feedFetcher->fetchAll(urls, feed.headers, feed.ca, feed.parallel);
        const QDateTime arrival = now();
        for (const FeedReply &reply : replies)
            pages.append({reply.body, arrival, reply.failure, reply.retryAfterSeconds});
    } catch (const FeedFetchError &error) {
        while (pages.size() < requests.size())
            pages.append({{}, {}, error.text(), -1});
    }
    return pages;
}

void MainWindow::setQuoteAges(const QuoteAges &ages)
{
    // The grid draws only the stale mark of an age (the time is read when a tool tip asks): every refresh
    // judges the ages again, but the grid is drawn anew only when a mark changed.
    const bool marksChanged =
        ages.size() != m_quoteAges.size() ||
        !std::equal(ages.cbegin(), ages.cend(), m_quoteAges.cbegin(),
                    [](const QuoteAge &a, const QuoteAge &b) { return a.stale == b.stale; });
    m_quoteAges = ages;
    gridCells->setQuoteAges(ages);
    webLink->setQuoteAges(ages);
    quoteAgePanel->showAges(ages);
    int stale = 0;
    int missing = 0;
    for (const QuoteAge &age : ages) {
        stale += age.stale ? 1 : 0;
        missing += age.time.isValid() ? 0 : 1;
    }
    health.setQuoteCounts(stale, missing);
    if (marksChanged)
        gridView->viewport()->update();
}

void MainWindow::acceptCookie(const QString &cookie, bool &accept)
{
    // The cookie lives on in the client for the requests that follow.
    httpClient->Cookie = cookie;
    accept = true;
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
    return QuotePage::hostFromSetting(m_quoteServer);
}

QString MainWindow::updateServerHost() const
{
    return IndexFileUpdate::serverHostFromSetting(m_updateServer);
}

void MainWindow::showAutomaticMode(bool on)
{
    automaticOnButton->setHidden(on);
    automaticOffButton->setVisible(on);
    health.setAutomaticMode(on);
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
