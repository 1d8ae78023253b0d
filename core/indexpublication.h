#pragma once

#include <QString>

// The four series of the history chart "Index-Verlauf".
enum class HistorySeries { Index, IndexAsk, IndexBid, IndexMittel };

// Where a calculation hands on its results: the live link and the XML file, the history chart, the
// index record in Norvata's "Intraday.db", and the bar chart of the weights. Every operation does
// nothing here; the main window overrides what it has.
class IndexPublication
{
public:
    virtual ~IndexPublication() = default;

    // The value's number text to the live item "Kurs" and the XML file. A failure may throw; the
    // calculation ignores it.
    virtual void publishValue(const QString &numberText) { Q_UNUSED(numberText) }

    // A point of the current time; a failure throws and ends the calculation.
    virtual void addHistoryPoint(HistorySeries series, double value)
    {
        Q_UNUSED(series)
        Q_UNUSED(value)
    }

    // The index record, written only when its conditions hold; a failure may throw and is ignored.
    virtual void appendIndexRecord(double value) { Q_UNUSED(value) }

    virtual void clearBars() {}
    virtual void addBar(int row, double weight, const QString &label)
    {
        Q_UNUSED(row)
        Q_UNUSED(weight)
        Q_UNUSED(label)
    }
};
