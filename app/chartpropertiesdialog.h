#pragma once

#include "app/chartsettings.h"

#include <QDialog>
#include <QPointer>

class EditableChart;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;

// The chart properties dialog `ChartEditor1`, shared by both charts: the window points it at a chart and
// opens it modally. The user changes the chart's display settings (title, legend, 3D or flat, the axes'
// titles, labels and ranges, the backgrounds), switches series on and off, renames them and changes
// their type (line, bar, points, area). Series cannot be added, deleted or cloned here.
// "OK" and "Übernehmen" apply the changes, "Abbrechen" leaves the chart as it was.
class ChartPropertiesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChartPropertiesDialog(QWidget *parent = nullptr);

    // Points the dialog at `chart` and fills it with the chart's current settings.
    void setChart(EditableChart *chart);
    EditableChart *chart() const { return m_chart; }

    // The settings as the dialog's elements hold them now.
    ChartSettings editedSettings() const;
    // Applies editedSettings() to the chart.
    void apply();

    static QString typeName(SeriesType type);

    void accept() override;

private:
    struct AxisEditor
    {
        QLineEdit *title = nullptr;
        QCheckBox *labels = nullptr;
        QCheckBox *automatic = nullptr;
        QStackedWidget *range = nullptr;
        QDoubleSpinBox *minimum = nullptr;
        QDoubleSpinBox *maximum = nullptr;
        QDateTimeEdit *minimumTime = nullptr;
        QDateTimeEdit *maximumTime = nullptr;
    };

    QWidget *makeAxisPage(AxisEditor &editor, const QString &prefix);
    QPushButton *makeColourButton(const QString &name);
    void loadAxis(AxisEditor &editor, const AxisSettings &axis);
    AxisSettings readAxis(const AxisEditor &editor, AxisSettings axis) const;
    void loadSeries(int index);
    void storeSeries();
    static void showColour(QPushButton *button, const QColor &colour);

    QPointer<EditableChart> m_chart;
    ChartSettings m_settings;
    int m_currentSeries = -1;
    bool m_loading = false;

    QLineEdit *m_title = nullptr;
    QCheckBox *m_legend = nullptr;
    QCheckBox *m_threeD = nullptr;
    QPushButton *m_background = nullptr;
    QPushButton *m_plotBackground = nullptr;
    AxisEditor m_xAxis;
    AxisEditor m_yAxis;
    QListWidget *m_seriesList = nullptr;
    QLineEdit *m_seriesTitle = nullptr;
    QComboBox *m_seriesType = nullptr;
    QPushButton *m_seriesColour = nullptr;
    QCheckBox *m_colourEachPoint = nullptr;
};
