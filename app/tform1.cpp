#include "app/tform1.h"

#include "app/chartprintpreview.h"
#include "app/chartpropertiesdialog.h"
#include "app/distributionchart.h"
#include "app/gridcelldelegate.h"
#include "app/historychart.h"
#include "app/livelink.h"
#include "app/lightbulbs.h"
#include "app/messages.h"
#include "core/settingsstore.h"
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

const QString TForm1::Versionstitel = QStringLiteral("NV Zalvento V1.7");

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

TForm1::TForm1(StartOptions options, QWidget *parent)
    : QMainWindow(parent), Definition(*this, QLocale::system().decimalPoint().at(0)),
      Calculation(*this, Definition, *this), Table1(QLocale::system().decimalPoint().at(0)),
      Refresh(*this, Table1, QLocale::system().decimalPoint().at(0)), m_options(std::move(options))
{
    // The live item is there before the window's first calculation; without a session bus the program
    // runs without it.
    Kurs = new LiveLink(this);
    if (!m_options.serviceName.isEmpty())
        Kurs->start(m_options.serviceName);

    setWindowTitle(Versionstitel);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    setFont(font);
    resize(700, 701);
    move(270, 49);

    HttpClient1 = new THttpClient(this);
    HttpClient1->OnCookie = [this](QObject *Sender, const QString &Data, bool &Accept) {
        HttpClient1Cookie(Sender, Data, Accept);
    };

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

    buildMenu();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildPanel();
    layout->addWidget(Panel1);
    buildPages();
    layout->addWidget(PageControl1, 1);
    setCentralWidget(central);

    Messages::guarded([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

void TForm1::buildMenu()
{
    QMenuBar *bar = menuBar();
    Norvata1 = bar->addMenu(QStringLiteral("&Norvata"));
    NVIDauslesen1 = Norvata1->addAction(QStringLiteral("NV-ID &auslesen"));
    IndexKurseintragen1 = Norvata1->addAction(QStringLiteral("&Index-Kurs übertragen"));
    IndexKurseintragen1->setCheckable(true);
    InternetKursebertragen1 = Norvata1->addAction(QStringLiteral("Internet-Aktienkurse übertragen"));
    InternetKursebertragen1->setCheckable(true);

    Diagramme1 = bar->addMenu(QStringLiteral("Diagramme"));
    Verteilung1 = Diagramme1->addAction(QStringLiteral("Verteilung - Eigenschaften"));
    VerteilungDrucken1 = Diagramme1->addAction(QStringLiteral("Verteilung - Drucken"));
    IndexVerlauf1 = Diagramme1->addAction(QStringLiteral("Index-Verlauf - Eigenschaften"));
    IndexVerlaufDrucker1 = Diagramme1->addAction(QStringLiteral("Index-Verlauf - Drucken"));

    Update1 = bar->addMenu(QStringLiteral("&Update"));
    IndexDateien1 = Update1->addAction(QStringLiteral("&Index-Dateien"));

    Beenden = bar->addAction(QStringLiteral("&Beenden"));
    connect(Beenden, &QAction::triggered, this, &TForm1::BeendenClick);
    connect(NVIDauslesen1, &QAction::triggered, this, &TForm1::NVIDauslesen1Click);
    connect(IndexDateien1, &QAction::triggered, this, &TForm1::IndexDateien1Click);
    connect(Verteilung1, &QAction::triggered, this, &TForm1::Verteilung1Click);
    connect(VerteilungDrucken1, &QAction::triggered, this, &TForm1::VerteilungDrucken1Click);
    connect(IndexVerlauf1, &QAction::triggered, this, &TForm1::IndexVerlauf1Click);
    connect(IndexVerlaufDrucker1, &QAction::triggered, this, &TForm1::IndexVerlaufDrucker1Click);
}

void TForm1::buildPanel()
{
    Panel1 = new QFrame;
    Panel1->setFixedHeight(65);
    Panel1->setFrameShape(QFrame::StyledPanel);

    ComboBox1 = new QComboBox(Panel1);
    ComboBox1->setEditable(true);
    ComboBox1->addItems(
        {QStringLiteral("Dax"), QStringLiteral("MDax"), QStringLiteral("SDax"), QStringLiteral("TecDax")});
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(16, 8, 145, 24);
    ComboBox1->setEditText(QStringLiteral("Dax"));

    Label1 = label(Panel1, QStringLiteral("Werte-Anzahl:"), 16, 44);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->adjustSize();

    Edit1 = new QLineEdit(QStringLiteral("30"), Panel1);
    Edit1->setGeometry(112, 40, 33, 24);
    Edit1->setEnabled(false);
    UpDown1 = new QSpinBox(Panel1);
    UpDown1->setGeometry(145, 40, 16, 24);
    UpDown1->setRange(2, 100);
    UpDown1->setValue(30);
    UpDown1->setEnabled(false);
    UpDown1->hide();

    SpeedButton1 = new QToolButton(Panel1);
    SpeedButton1->setGeometry(176, 40, 23, 22);
    SpeedButton1->setIcon(LightBulbs::unlit());
    SpeedButton1->setToolTip(QStringLiteral("Automatik einschalten"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton2 = new QToolButton(Panel1);
    SpeedButton2->setGeometry(176, 40, 23, 22);
    SpeedButton2->setIcon(LightBulbs::lit());
    SpeedButton2->setToolTip(QStringLiteral("Automatik ausschalten"));
    SpeedButton2->setAutoRaise(true);
    SpeedButton2->hide();
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);

    Button2 = new QPushButton(QStringLiteral("Kurswerte aktualisieren"), Panel1);
    Button2->setGeometry(200, 40, 145, 22);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);

    RadioGroup1 = new QGroupBox(QStringLiteral("Einlese-Quelle"), Panel1);
    RadioGroup1->setGeometry(176, 0, 169, 37);
    RadioGroup1Items = new QButtonGroup(RadioGroup1);
    auto *norvata = new QRadioButton(QStringLiteral("Norvata"), RadioGroup1);
    auto *internet = new QRadioButton(QStringLiteral("Internet"), RadioGroup1);
    norvata->setGeometry(8, 16, 75, 17);
    internet->setGeometry(88, 16, 75, 17);
    RadioGroup1Items->addButton(norvata, 0);
    RadioGroup1Items->addButton(internet, 1);
    norvata->setChecked(true);

    Button1 = new QPushButton(QStringLiteral("Index berechnen"), Panel1);
    Button1->setGeometry(376, 32, 129, 25);
    Button1->setFont(bold);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);

    Label2 = new QLabel(Panel1);
    Label2->setGeometry(376, 6, 170, 22);
    Label2->setAlignment(Qt::AlignCenter);
    QFont value = bold;
    value.setPixelSize(16);
    Label2->setFont(value);
    Label2->setAutoFillBackground(true);
    setValueColour(ValueColour::ButtonFace);

    Label15 = label(Panel1, QStringLiteral("NV Index"), 576, 12);
    Edit3 = new QLineEdit(QStringLiteral("0"), Panel1);
    Edit3->setGeometry(632, 8, 49, 24);
    connect(Edit3, &QLineEdit::textChanged, this, &TForm1::Edit3Change);
    Label16 = label(Panel1, QStringLiteral("Referenzkurs"), 552, 36);
    Edit2 = new QLineEdit(QStringLiteral("0"), Panel1);
    Edit2->setGeometry(632, 32, 49, 24);
    connect(Edit2, &QLineEdit::textChanged, this, &TForm1::Edit2Change);

    // Connected last: setting the laid-out text above must not run the start-up sequence.
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TForm1::ComboBox1Change);
}

void TForm1::buildPages()
{
    PageControl1 = new QTabWidget;

    TabSheet1 = new QWidget;
    auto *overview = new QVBoxLayout(TabSheet1);
    overview->setContentsMargins(0, 0, 0, 0);
    overview->setSpacing(0);
    StringGrid1 = new QTableView;
    StringGrid1->setModel(&Grid);
    StringGrid1Cells = new GridCellDelegate(StringGrid1);
    StringGrid1->setItemDelegate(StringGrid1Cells);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setMinimumSectionSize(16);
    StringGrid1->verticalHeader()->setDefaultSectionSize(16);
    StringGrid1->horizontalHeader()->setMinimumSectionSize(16);
    StringGrid1->horizontalHeader()->setDefaultSectionSize(65);
    StringGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGrid1->horizontalHeader()->setHighlightSections(false);
    StringGrid1->setColumnWidth(0, 157);
    StringGrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    StringGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    StringGrid1->setShowGrid(true);
    StringGrid1->setWordWrap(false);
    QPalette gridPalette = StringGrid1->palette();
    gridPalette.setColor(QPalette::Base, Qt::white);
    StringGrid1->setPalette(gridPalette);
    overview->addWidget(StringGrid1, 1);
    StatusBar1 = new QStatusBar;
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel = new QLabel;
    StatusBar1->addWidget(StatusPanel, 1);
    overview->addWidget(StatusBar1);
    PageControl1->addTab(TabSheet1, QStringLiteral("Übersicht"));

    const auto pageOf = [](QWidget *content) {
        auto *page = new QWidget;
        auto *layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        return page;
    };
    Chart1 = new DistributionChart;
    TabSheet2 = pageOf(Chart1);
    PageControl1->addTab(TabSheet2, QStringLiteral("Verteilung"));
    Chart2 = new HistoryChart;
    TabSheet4 = pageOf(Chart2);
    PageControl1->addTab(TabSheet4, QStringLiteral("Index-Verlauf"));
    ChartEditor1 = new ChartPropertiesDialog(this);
    ChartPreviewer1 = new ChartPrintPreview(this);
    TabSheet3 = new QWidget;
    buildInformationPage(TabSheet3);
    PageControl1->addTab(TabSheet3, QStringLiteral("Information"));
    PageControl1->setCurrentWidget(TabSheet1);
}

void TForm1::buildInformationPage(QWidget *page)
{
    Memo1 = new QPlainTextEdit(page);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setGeometry(0, 0, 692, 233);

    Label3 = label(page, QStringLiteral("Wichtig Webseiten für das Programm"), 16, 240);
    QFont underlined = Label3->font();
    underlined.setUnderline(true);
    Label3->setFont(underlined);
    Label3->adjustSize();

    Label6 = linkLabel(page, operatorSite, 16, 256);
    Label4 = label(page, QStringLiteral("die akt. Zusammensetzung der Indizes"), 216, 256);
    Label5 = linkLabel(page, quoteCentre, 16, 272);
    Label7 = label(page, QStringLiteral("Link zu den Internetdaten für die Berechnung"), 216, 272);
    Label17 = linkLabel(page, makerSite, 16, 288);
    Label8 = label(page, QStringLiteral("aktuellen Versionen und weitere Programme z.B. Norvata"), 216, 288);
    onClick(Label6, [this] { Label6Click(); });
    onClick(Label5, [this] { Label5Click(Label5); });
    onClick(Label17, [this] { Label5Click(Label17); });
}

// ---- state shown by elements
// -------------------------------------------------------------------------------

int TForm1::sourceIndex() const
{
    return RadioGroup1Items->checkedId();
}

void TForm1::setSourceIndex(int index)
{
    // A stored index above 1 selects "Internet"; below 0 none is marked (a refresh then reads the web).
    index = std::min(index, 1);
    if (index < 0) {
        RadioGroup1Items->setExclusive(false);
        for (QAbstractButton *button : RadioGroup1Items->buttons())
            button->setChecked(false);
        RadioGroup1Items->setExclusive(true);
        return;
    }
    RadioGroup1Items->button(index)->setChecked(true);
}

bool TForm1::automaticMode() const
{
    return !SpeedButton2->isHidden();
}

QString TForm1::statusText() const
{
    return StatusPanel->text();
}

void TForm1::setStatusText(const QString &text)
{
    StatusPanel->setText(text);
}

QString TForm1::referenzkursText() const
{
    return Edit2->text();
}

void TForm1::setReferenzkursText(const QString &text)
{
    Edit2->setText(text);
}

QString TForm1::indexFirmaText() const
{
    return Edit3->text();
}

void TForm1::setIndexFirmaText(const QString &text)
{
    Edit3->setText(text);
}

void TForm1::setComponentCount(int count)
{
    UpDown1->setValue(count);
    Edit1->setText(QString::number(count));
}

QString TForm1::valueText() const
{
    return Label2->text();
}

void TForm1::setValueText(const QString &text)
{
    Label2->setText(text);
}

void TForm1::setValueColour(ValueColour colour)
{
    QPalette palette = Label2->palette();
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
    Label2->setPalette(palette);
}

void TForm1::showMessage(const QString &text)
{
    Messages::show(text);
}

// ---- publication
// ---------------------------------------------------------------------------------------------

void TForm1::publishValue(const QString &numberText)
{
    Kurs->setItemText(numberText);
    ValueXmlFile::write(ValueXmlFile::path(Datenverzeichnis, windowTitle()), numberText);
}

void TForm1::addHistoryPoint(HistorySeries series, double value)
{
    Chart2->addPoint(series, QDateTime::currentDateTime(), value);
}

void TForm1::appendIndexRecord(double value)
{
    if (!NorvataVerfuegbar || !automaticMode() || Definition.IndexFirma == 0 || !IndexKurseintragen1->isChecked())
        return;
    // A web refresh waiting for its page may hold the table open for its transfer: that record is
    // skipped rather than written into the middle of the refresh's use.
    if (Table1.isOpen())
        return;
    try {
        Table1.open(Datenverzeichnis, QStringLiteral("Intraday.db"), QString());
        Table1.appendRecord(Definition.IndexFirma, value, QDateTime::currentDateTime());
        Table1.close();
    } catch (...) {
        Table1.close();
    }
}

void TForm1::clearBars()
{
    Chart1->clear();
}

void TForm1::clearHistory()
{
    // The history belongs to the index just loaded: its first point comes with the next change.
    Chart2->clearAll();
}

void TForm1::addBar(int row, double weight, const QString &label)
{
    Chart1->addBar(row, weight, label);
}

// ---- start-up, settings and shutdown
// ---------------------------------------------------------------------------

void TForm1::FormCreate()
{
    NorvataVerfuegbar = false;
    Zellfarbe = Qt::white;
    Programmverzeichnis = ProgramFiles::programDirectoryOf(m_options.executablePath);

    const QString indexName = ComboBox1->currentText();
    Definition.Indexdatei_laden(
        ProgramFiles::resolve(Programmverzeichnis, indexName + QStringLiteral(".txt")));

    Norvata_einstellungen();

    setWindowTitle(ProgramFiles::upperCaseAZ(indexName));
    Kurs->setTopic(windowTitle());
    Calculation.aktualisieren();
    clearHistory();
    loadInformation();

    if (!m_options.arguments.isEmpty() && m_options.arguments.first() == QLatin1String("/A"))
        SpeedButton1Click();
}

void TForm1::Norvata_einstellungen()
{
    Programmverzeichnis = ProgramFiles::programDirectoryOf(m_options.executablePath);
    NorvataVerfuegbar = true;

    SettingsStore settings(m_options.settingsPath);
    settings.openKey();

    // One guarded block: the first error, such as a value of the wrong type, ends it silently.
    try {
        Datenverzeichnis = Programmverzeichnis;
        if (settings.valueExists(QStringLiteral("Datenpath")))
            Datenverzeichnis = settings.readString(QStringLiteral("Datenpath"));
        else
            NorvataVerfuegbar = false;
        if (settings.valueExists(QStringLiteral("IndexEintragen")))
            IndexKurseintragen1->setChecked(settings.readInteger(QStringLiteral("IndexEintragen")) != 0);
        if (settings.valueExists(QStringLiteral("IndexKurseeintragen")))
            InternetKursebertragen1->setChecked(settings.readInteger(QStringLiteral("IndexKurseeintragen")) !=
                                                0);
        if (settings.valueExists(QStringLiteral("IndexQuelle")))
            setSourceIndex(settings.readInteger(QStringLiteral("IndexQuelle")));
        if (settings.valueExists(QStringLiteral("Indexwidth")))
            resize(settings.readInteger(QStringLiteral("Indexwidth")), height());
        if (settings.valueExists(QStringLiteral("Indexheight")))
            resize(width(), settings.readInteger(QStringLiteral("Indexheight")));
        if (NorvataVerfuegbar)
            prepareNorvataSession();
    } catch (const std::exception &) {
    }
    readServerSettings(settings);

    if (NorvataVerfuegbar &&
        !QFileInfo::exists(ProgramFiles::resolve(Datenverzeichnis, QStringLiteral("Intraday.db"))))
        NorvataVerfuegbar = false;
    Norvata1->setEnabled(NorvataVerfuegbar);
    Norvata1->menuAction()->setEnabled(NorvataVerfuegbar);
    if (!NorvataVerfuegbar) {
        setSourceIndex(1);
        RadioGroup1->setEnabled(false);
    }
}

void TForm1::prepareNorvataSession()
{
    Table1.prepareSession(Datenverzeichnis);
}

void TForm1::loadInformation()
{
    const QString path = ProgramFiles::resolve(Programmverzeichnis, QStringLiteral("Info.txt"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path));
    Memo1->setPlainText(Windows1252::decode(file.readAll()));
    const QString firstLine = Memo1->document()->firstBlock().text();
    QPalette palette = Label8->palette();
    if (firstLine != Versionstitel) {
        Label8->setText(QStringLiteral("Einen neue Programmversion ist verfügbar!!"));
        Label8->adjustSize();
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    } else {
        palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
    }
    Label8->setPalette(palette);
}

void TForm1::FormClose()
{
    try {
        Definition.Indexdatei_speichern(
            ProgramFiles::resolve(Programmverzeichnis, ComboBox1->currentText() + QStringLiteral(".txt")));
        SettingsStore settings(m_options.settingsPath);
        settings.openKey();
        settings.writeInteger(QStringLiteral("IndexEintragen"), IndexKurseintragen1->isChecked() ? 1 : 0);
        settings.writeInteger(QStringLiteral("IndexKurseeintragen"),
                              InternetKursebertragen1->isChecked() ? 1 : 0);
        settings.writeInteger(QStringLiteral("IndexQuelle"), sourceIndex());
        settings.writeInteger(QStringLiteral("Indexwidth"), width());
        settings.writeInteger(QStringLiteral("Indexheight"), height());
        settings.save();
    } catch (const std::exception &) {
        Messages::show(QStringLiteral("Konnte Datei nicht schreiben"));
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        FormClose();
    }
    event->accept();
}

// ---- handlers
// ------------------------------------------------------------------------------------------------

void TForm1::ComboBox1Change()
{
    whenNoRefreshRuns(Deferred::Reload, [this] { Messages::guarded([this] { FormCreate(); }); });
}

void TForm1::whenNoRefreshRuns(Deferred kind, const std::function<void()> &work)
{
    if (!Refresh.running()) {
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

void TForm1::runDeferred()
{
    while (!m_deferred.isEmpty() && !Refresh.running())
        m_deferred.takeFirst().second();
}

void TForm1::NVIDauslesen1Click()
{
    whenNoRefreshRuns(Deferred::Lookup, [this] {
        NVIDauslesen(Table1, Datenverzeichnis, ComboBox1->currentText(), *this, Definition);
    });
}

void TForm1::Verteilung1Click()
{
    PageControl1->setCurrentWidget(TabSheet2);
    ChartEditor1->setChart(Chart1);
    ChartEditor1->exec();
}

void TForm1::VerteilungDrucken1Click()
{
    PageControl1->setCurrentWidget(TabSheet2);
    Chart1->flush();
    ChartPreviewer1->setChart(Chart1->chart(), QStringLiteral("Verteilung"));
    ChartPreviewer1->exec();
}

void TForm1::IndexVerlauf1Click()
{
    PageControl1->setCurrentWidget(TabSheet4);
    ChartEditor1->setChart(Chart2);
    ChartEditor1->exec();
}

void TForm1::IndexVerlaufDrucker1Click()
{
    PageControl1->setCurrentWidget(TabSheet4);
    ChartPreviewer1->setChart(Chart2->chart(), QStringLiteral("Index-Verlauf"));
    ChartPreviewer1->exec();
}

void TForm1::Button1Click()
{
    Calculation.aktualisieren();
}

void TForm1::Button2Click()
{
    // The web source needs the client: while the index file update (or anything else) uses it, the
    // refresh is refused before it touches anything.
    if (!norvataSourceSelected() && (HttpClient1->busy() || (Update && Update->running())))
        return;
    Refresh.Button2Click();
    runDeferred();
}

void TForm1::beginRefresh()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Button2->setEnabled(false);
}

void TForm1::endRefresh()
{
    Button2->setEnabled(true);
    QApplication::restoreOverrideCursor();
}

bool TForm1::norvataSourceSelected() const
{
    return sourceIndex() == 0;
}

bool TForm1::transferEnabled() const
{
    return NorvataVerfuegbar && InternetKursebertragen1->isChecked();
}

QByteArray TForm1::fetchQuotePage()
{
    // The client's properties belong to a running request: test before touching any of them.
    if (HttpClient1->busy())
        throw EHttpException(QStringLiteral("HTTP component is busy"), THttpClient::ErrorBusy);
    HttpClient1->URL = QuotePage::addressOf(quoteServerHost(), ComboBox1->currentText());
    QBuffer page;
    page.open(QIODevice::WriteOnly);
    HttpClient1->ReceiveStream = &page;
    setStatusText(QStringLiteral("Loading"));
    HttpClient1->Cookie.clear();
    try {
        HttpClient1->Get();
    } catch (...) {
        HttpClient1->ReceiveStream = nullptr;
        throw;
    }
    HttpClient1->ReceiveStream = nullptr;
    setStatusText(QStringLiteral("Received %1 bytes").arg(page.size()));
    // A server that closed without an answer, reset the connection or cut the page short returns
    // normally from Get: the refresh would then report success while it kept the old prices.
    const bool cutShort = HttpClient1->ContentLength >= 0 && page.size() < HttpClient1->ContentLength;
    if (page.size() == 0 || HttpClient1->requestError() != 0 || cutShort)
        throw ZalventoError(QStringLiteral("Die Kursseite wurde nicht vollständig übertragen"));
    return page.data();
}

void TForm1::HttpClient1Cookie(QObject *Sender, const QString &Data, bool &Accept)
{
    Q_UNUSED(Sender)
    HttpClient1->Cookie = Data;
    Accept = true;
}

void TForm1::IndexDateien1Click()
{
    Messages::guarded([this] {
        if (!Update || !Update->running())
            Update = std::make_unique<IndexFileUpdate>(*HttpClient1, *this, updateServerHost());
        Update->IndexDateien1Click();
    });
}

QString TForm1::quoteServerHost() const
{
    return QuotePage::hostFromSetting(m_kursserver);
}

QString TForm1::updateServerHost() const
{
    return m_updateserver.trimmed().isEmpty() ? IndexFileUpdate::defaultServerHost() : m_updateserver.trimmed();
}

void TForm1::readServerSettings(const SettingsStore &settings)
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
}

void TForm1::Edit2Change()
{
    Definition.Edit2Change(Edit2->text());
}

void TForm1::Edit3Change()
{
    Definition.Edit3Change(Edit3->text());
}

void TForm1::SpeedButton1Click()
{
    SpeedButton1->hide();
    SpeedButton2->show();
    Timer1->start();
}

void TForm1::SpeedButton2Click()
{
    SpeedButton2->hide();
    SpeedButton1->show();
    Timer1->stop();
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    // A tick that arrives while a refresh waits for its page (started by the button, or before the mode
    // was switched off and on) is skipped; the cycle goes on from this tick.
    if (!Refresh.running())
        Button2Click();
    Timer1->setInterval(automaticMode() ? m_options.automaticPause : 100);
    if (automaticMode())
        Timer1->start();
}

void TForm1::Label5Click(const QLabel *clicked)
{
    QDesktopServices::openUrl(QUrl::fromUserInput(clicked->text()));
}

void TForm1::Label6Click()
{
    QDesktopServices::openUrl(QUrl(operatorWeightingPage));
}

void TForm1::BeendenClick()
{
    close();
}

void TForm1::writeHighlightedCell(int column, int row, const QString &text, Highlight highlight)
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

void TForm1::writeHighlightedCell(int column, int row, const QString &text, const QColor &colour)
{
    Zellfarbe = colour;
    Grid.setCell(column, row, text);
    // Only a cell on screen is drawn highlighted: one scrolled away or on a hidden page is drawn the
    // normal way when it next shows.
    if (row >= 1 && row < Grid.rows() && column < Grid.columns() && StringGrid1->isVisible()) {
        const QModelIndex cell = Grid.index(row - 1, column);
        const QRect rect = StringGrid1->visualRect(cell);
        if (rect.intersects(StringGrid1->viewport()->rect())) {
            StringGrid1Cells->setHighlight(cell, Zellfarbe);
            StringGrid1->viewport()->update(rect);
        }
    }
    Zellfarbe = Qt::white;
}
