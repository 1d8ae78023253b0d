#include "app/chartpropertiesdialog.h"

#include "app/editablechart.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const char *const colourProperty = "zalventoColour";
constexpr SeriesType seriesTypes[] = {SeriesType::Line, SeriesType::Bar, SeriesType::Points,
                                      SeriesType::Area};

QDoubleSpinBox *makeValueBox(const QString &name)
{
    auto *box = new QDoubleSpinBox;
    box->setObjectName(name);
    box->setRange(-1e12, 1e12);
    box->setDecimals(4);
    return box;
}

QDateTimeEdit *makeTimeBox(const QString &name)
{
    auto *box = new QDateTimeEdit;
    box->setObjectName(name);
    box->setDisplayFormat(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    return box;
}

} // namespace

ChartPropertiesDialog::ChartPropertiesDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Diagramm-Eigenschaften"));
    setModal(true);
    auto *tabs = new QTabWidget;

    auto *chartPage = new QWidget;
    auto *chartForm = new QFormLayout(chartPage);
    m_title = new QLineEdit;
    m_title->setObjectName(QStringLiteral("title"));
    chartForm->addRow(QStringLiteral("Titel:"), m_title);
    m_legend = new QCheckBox(QStringLiteral("Legende anzeigen"));
    m_legend->setObjectName(QStringLiteral("legend"));
    chartForm->addRow(m_legend);
    m_threeD = new QCheckBox(QStringLiteral("3D-Darstellung"));
    m_threeD->setObjectName(QStringLiteral("threeD"));
    chartForm->addRow(m_threeD);
    m_background = makeColourButton(QStringLiteral("background"));
    chartForm->addRow(QStringLiteral("Hintergrund:"), m_background);
    m_plotBackground = makeColourButton(QStringLiteral("plotBackground"));
    chartForm->addRow(QStringLiteral("Zeichenfläche:"), m_plotBackground);
    tabs->addTab(chartPage, QStringLiteral("Diagramm"));

    tabs->addTab(makeAxisPage(m_xAxis, QStringLiteral("x")), QStringLiteral("X-Achse"));
    tabs->addTab(makeAxisPage(m_yAxis, QStringLiteral("y")), QStringLiteral("Y-Achse"));

    auto *seriesPage = new QWidget;
    auto *seriesLayout = new QHBoxLayout(seriesPage);
    m_seriesList = new QListWidget;
    m_seriesList->setObjectName(QStringLiteral("seriesList"));
    seriesLayout->addWidget(m_seriesList, 1);
    auto *seriesForm = new QFormLayout;
    m_seriesTitle = new QLineEdit;
    m_seriesTitle->setObjectName(QStringLiteral("seriesTitle"));
    seriesForm->addRow(QStringLiteral("Titel:"), m_seriesTitle);
    m_seriesType = new QComboBox;
    m_seriesType->setObjectName(QStringLiteral("seriesType"));
    for (const SeriesType type : seriesTypes)
        m_seriesType->addItem(typeName(type), int(type));
    seriesForm->addRow(QStringLiteral("Typ:"), m_seriesType);
    m_seriesColour = makeColourButton(QStringLiteral("seriesColour"));
    seriesForm->addRow(QStringLiteral("Farbe:"), m_seriesColour);
    m_colourEachPoint = new QCheckBox(QStringLiteral("Jeder Balken in eigener Farbe"));
    m_colourEachPoint->setObjectName(QStringLiteral("colourEachPoint"));
    seriesForm->addRow(m_colourEachPoint);
    seriesLayout->addLayout(seriesForm, 2);
    tabs->addTab(seriesPage, QStringLiteral("Serien"));

    connect(m_seriesList, &QListWidget::currentRowChanged, this, [this](int row) {
        storeSeries();
        loadSeries(row);
    });
    connect(m_seriesList, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        const int row = m_seriesList->row(item);
        if (m_loading || row < 0 || row >= m_settings.series.size())
            return;
        m_settings.series[row].visible = item->checkState() == Qt::Checked;
    });
    connect(m_seriesTitle, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (QListWidgetItem *item = m_seriesList->currentItem())
            item->setText(text);
        storeSeries();
    });
    connect(m_seriesType, &QComboBox::currentIndexChanged, this, [this] { storeSeries(); });
    connect(m_colourEachPoint, &QCheckBox::toggled, this, [this] { storeSeries(); });

    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    buttons->button(QDialogButtonBox::Apply)->setText(QStringLiteral("Übernehmen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ChartPropertiesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ChartPropertiesDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &ChartPropertiesDialog::apply);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
}

QString ChartPropertiesDialog::typeName(SeriesType type)
{
    switch (type) {
    case SeriesType::Line:
        return QStringLiteral("Linie");
    case SeriesType::Bar:
        return QStringLiteral("Balken");
    case SeriesType::Points:
        return QStringLiteral("Punkte");
    case SeriesType::Area:
        return QStringLiteral("Fläche");
    }
    return QString();
}

QWidget *ChartPropertiesDialog::makeAxisPage(AxisEditor &editor, const QString &prefix)
{
    auto *page = new QWidget;
    auto *form = new QFormLayout(page);
    editor.title = new QLineEdit;
    editor.title->setObjectName(prefix + QStringLiteral("Title"));
    form->addRow(QStringLiteral("Titel:"), editor.title);
    editor.labels = new QCheckBox(QStringLiteral("Beschriftung anzeigen"));
    editor.labels->setObjectName(prefix + QStringLiteral("Labels"));
    form->addRow(editor.labels);
    editor.automatic = new QCheckBox(QStringLiteral("Bereich automatisch"));
    editor.automatic->setObjectName(prefix + QStringLiteral("Automatic"));
    form->addRow(editor.automatic);

    editor.range = new QStackedWidget;
    auto *values = new QWidget;
    auto *valueForm = new QFormLayout(values);
    valueForm->setContentsMargins(0, 0, 0, 0);
    editor.minimum = makeValueBox(prefix + QStringLiteral("Minimum"));
    editor.maximum = makeValueBox(prefix + QStringLiteral("Maximum"));
    valueForm->addRow(QStringLiteral("Minimum:"), editor.minimum);
    valueForm->addRow(QStringLiteral("Maximum:"), editor.maximum);
    auto *times = new QWidget;
    auto *timeForm = new QFormLayout(times);
    timeForm->setContentsMargins(0, 0, 0, 0);
    editor.minimumTime = makeTimeBox(prefix + QStringLiteral("MinimumTime"));
    editor.maximumTime = makeTimeBox(prefix + QStringLiteral("MaximumTime"));
    timeForm->addRow(QStringLiteral("Minimum:"), editor.minimumTime);
    timeForm->addRow(QStringLiteral("Maximum:"), editor.maximumTime);
    auto *categories = new QLabel(QStringLiteral("Eine Kategorie je Wert"));
    editor.range->addWidget(values);
    editor.range->addWidget(times);
    editor.range->addWidget(categories);
    form->addRow(editor.range);
    connect(editor.automatic, &QCheckBox::toggled, editor.range,
            [range = editor.range](bool automatic) { range->setEnabled(!automatic); });
    return page;
}

QPushButton *ChartPropertiesDialog::makeColourButton(const QString &name)
{
    auto *button = new QPushButton;
    button->setObjectName(name);
    connect(button, &QPushButton::clicked, this, [this, button] {
        const QColor colour = QColorDialog::getColor(button->property(colourProperty).value<QColor>(), this,
                                                     QStringLiteral("Farbe"));
        if (!colour.isValid())
            return;
        showColour(button, colour);
        if (button == m_seriesColour)
            storeSeries();
    });
    return button;
}

void ChartPropertiesDialog::showColour(QPushButton *button, const QColor &colour)
{
    button->setProperty(colourProperty, colour);
    QPixmap swatch(40, 14);
    swatch.fill(colour.isValid() ? colour : QColor(Qt::white));
    button->setIcon(swatch);
    button->setIconSize(swatch.size());
    button->setText(colour.isValid() ? colour.name() : QString());
}

void ChartPropertiesDialog::setChart(EditableChart *chart)
{
    m_chart = chart;
    m_settings = chart ? chart->settings() : ChartSettings();
    m_loading = true;
    m_title->setText(m_settings.title);
    m_legend->setChecked(m_settings.legendVisible);
    m_threeD->setChecked(m_settings.threeD);
    showColour(m_background, m_settings.background);
    showColour(m_plotBackground, m_settings.plotBackground);
    loadAxis(m_xAxis, m_settings.xAxis);
    loadAxis(m_yAxis, m_settings.yAxis);
    m_currentSeries = -1;
    m_seriesList->clear();
    for (const SeriesSettings &series : std::as_const(m_settings.series)) {
        auto *item = new QListWidgetItem(series.title, m_seriesList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(series.visible ? Qt::Checked : Qt::Unchecked);
    }
    m_loading = false;
    m_seriesList->setCurrentRow(m_settings.series.isEmpty() ? -1 : 0);
    loadSeries(m_seriesList->currentRow());
}

void ChartPropertiesDialog::loadAxis(AxisEditor &editor, const AxisSettings &axis)
{
    editor.title->setText(axis.title);
    editor.labels->setChecked(axis.labelsVisible);
    editor.automatic->setChecked(axis.automatic);
    editor.automatic->setEnabled(axis.kind != AxisKind::Category);
    editor.range->setEnabled(!axis.automatic && axis.kind != AxisKind::Category);
    switch (axis.kind) {
    case AxisKind::Value:
        editor.range->setCurrentIndex(0);
        editor.minimum->setValue(axis.minimum);
        editor.maximum->setValue(axis.maximum);
        break;
    case AxisKind::DateTime:
        editor.range->setCurrentIndex(1);
        editor.minimumTime->setDateTime(QDateTime::fromMSecsSinceEpoch(qint64(axis.minimum)));
        editor.maximumTime->setDateTime(QDateTime::fromMSecsSinceEpoch(qint64(axis.maximum)));
        break;
    case AxisKind::Category:
        editor.range->setCurrentIndex(2);
        break;
    }
}

AxisSettings ChartPropertiesDialog::readAxis(const AxisEditor &editor, AxisSettings axis) const
{
    axis.title = editor.title->text();
    axis.labelsVisible = editor.labels->isChecked();
    axis.automatic = editor.automatic->isChecked() || axis.kind == AxisKind::Category;
    if (axis.kind == AxisKind::Value) {
        axis.minimum = editor.minimum->value();
        axis.maximum = editor.maximum->value();
    } else if (axis.kind == AxisKind::DateTime) {
        axis.minimum = double(editor.minimumTime->dateTime().toMSecsSinceEpoch());
        axis.maximum = double(editor.maximumTime->dateTime().toMSecsSinceEpoch());
    }
    // A range that shows nothing is no choice: the axis keeps following the data.
    if (!(axis.maximum > axis.minimum))
        axis.automatic = true;
    return axis;
}

void ChartPropertiesDialog::loadSeries(int index)
{
    m_currentSeries = -1;
    const bool valid = index >= 0 && index < m_settings.series.size();
    m_seriesTitle->setEnabled(valid);
    m_seriesType->setEnabled(valid);
    m_seriesColour->setEnabled(valid);
    m_colourEachPoint->setVisible(valid && m_settings.series.at(index).canColourEachPoint);
    if (!valid)
        return;
    const SeriesSettings &series = m_settings.series.at(index);
    m_seriesTitle->setText(series.title);
    m_seriesType->setCurrentIndex(m_seriesType->findData(int(series.type)));
    showColour(m_seriesColour, series.colour);
    m_colourEachPoint->setChecked(series.colourEachPoint);
    m_currentSeries = index;
}

void ChartPropertiesDialog::storeSeries()
{
    if (m_currentSeries < 0 || m_currentSeries >= m_settings.series.size())
        return;
    SeriesSettings &series = m_settings.series[m_currentSeries];
    series.title = m_seriesTitle->text();
    series.type = SeriesType(m_seriesType->currentData().toInt());
    series.colour = m_seriesColour->property(colourProperty).value<QColor>();
    series.colourEachPoint = m_colourEachPoint->isChecked();
}

ChartSettings ChartPropertiesDialog::editedSettings() const
{
    ChartSettings settings = m_settings;
    settings.title = m_title->text();
    settings.legendVisible = m_legend->isChecked();
    settings.threeD = m_threeD->isChecked();
    settings.background = m_background->property(colourProperty).value<QColor>();
    settings.plotBackground = m_plotBackground->property(colourProperty).value<QColor>();
    settings.xAxis = readAxis(m_xAxis, m_settings.xAxis);
    settings.yAxis = readAxis(m_yAxis, m_settings.yAxis);
    for (int i = 0; i < settings.series.size() && i < m_seriesList->count(); ++i)
        settings.series[i].visible = m_seriesList->item(i)->checkState() == Qt::Checked;
    return settings;
}

void ChartPropertiesDialog::apply()
{
    storeSeries();
    if (m_chart)
        m_chart->applySettings(editedSettings());
}

void ChartPropertiesDialog::accept()
{
    apply();
    QDialog::accept();
}
