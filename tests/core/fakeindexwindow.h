#pragma once

#include "core/indexdefinition.h"
#include "core/indexpublication.h"
#include "core/indextable.h"
#include "core/indexwindow.h"

#include <QStringList>

// The window as the index logic sees it, without widgets. Setting a box's text runs its change
// handler, as the real boxes do.
struct FakeIndexWindow : IndexWindow
{
    IndexTable cells;
    IndexDefinition *definition = nullptr;
    QString edit2 = QStringLiteral("0");
    QString edit3 = QStringLiteral("0");
    int componentCount = 30;
    QString label;
    IndexDirection direction = IndexDirection::Unchanged;
    QStringList messages;

    IndexTable &table() override { return cells; }
    QString referenzkursText() const override { return edit2; }
    void setReferenzkursText(const QString &text) override
    {
        edit2 = text;
        if (definition)
            definition->referenzkursEdited(text);
    }
    QString indexFirmaText() const override { return edit3; }
    void setIndexFirmaText(const QString &text) override
    {
        edit3 = text;
        if (definition)
            definition->indexFirmaEdited(text);
    }
    void setComponentCount(int count) override { componentCount = count; }
    QString valueText() const override { return label; }
    void setValueText(const QString &text) override { label = text; }
    void setValueDirection(IndexDirection d) override { direction = d; }
    void showMessage(const QString &text) override { messages << text; }

    // Fills rows 1.. with (Kurswert, Fi) pairs and sets the row count.
    void setComponents(const QList<QPair<QString, QString>> &rows)
    {
        for (int i = 0; i < rows.size(); ++i) {
            cells.setCell(IndexTable::Name, i + 1, QStringLiteral("Wert %1").arg(i + 1));
            cells.setCell(IndexTable::Kurswert, i + 1, rows[i].first);
            cells.setCell(IndexTable::Fi, i + 1, rows[i].second);
        }
        cells.setRows(rows.size() + 1);
    }
};

// Records what a calculation publishes, in order.
struct RecordingPublication : IndexPublication
{
    QStringList log;
    bool failHistory = false;

    void publishValue(const QString &text) override { log << QStringLiteral("value ") + text; }
    void addHistoryPoint(HistorySeries series, double value) override
    {
        if (failHistory)
            throw std::runtime_error("chart full");
        static const char *names[] = {"Index", "Index_ASK", "Index_BID", "Index_Mittel"};
        log << QStringLiteral("%1 %2").arg(QLatin1String(names[int(series)])).arg(value);
    }
    void appendIndexRecord(double value) override { log << QStringLiteral("record %1").arg(value); }
    void clearBars() override { log << QStringLiteral("clear bars"); }
    void addBar(int row, double weight, const QString &label) override
    {
        log << QStringLiteral("bar %1 %2 %3").arg(row).arg(weight).arg(label);
    }
};
