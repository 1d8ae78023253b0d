#pragma once

#include "quotes/quoteage.h"

#include <QColor>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

// Draws the cells of the index table and edits them.
//
// A cell is drawn the grid's normal way. The drawing that a highlighted cell write asks for fills the cell
// with the highlight colour and draws its text in black at the cell's top-left corner, covering the
// selection colour; the next drawing for any other reason is the normal one again. The highlighted
// drawing happens in the grid's next paint, together with the other cells written meanwhile: a price
// refresh writes some eighty quote cells in one go, and a paint of its own for each took most of its time.
// An edit goes straight into the cell's text, keystroke by keystroke.
//
// The quote ages of the last refresh mark stale and missing quotes: their "BID" and "ASK" cells are drawn
// in grey italics (a highlighted drawing covers that while it shows), and the price cells' tool tip gives
// the quote's time or "kein Kurs".
class GridCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Asks for one highlighted drawing of `cell` in `colour` (`Zellfarbe`); white asks for none.
    void setHighlight(const QModelIndex &cell, const QColor &colour);

    // The colour the cell was last filled with by a highlighted drawing; invalid after a normal one.
    // The window's tests read it, since a screenshot redraws the cell normally.
    QColor lastHighlightDrawn(const QModelIndex &cell) const;

    // The quote ages of the components (element 0 is table row 1, model row 0); rows without one are drawn
    // as usual.
    void setQuoteAges(const QuoteAges &ages) { m_ages = ages; }
    // The tool tip of a cell: the quote's time for the price cells of a row with an age, else empty.
    QString toolTip(const QModelIndex &cell) const;

    // The cell's look: the grid's normal one, grey italics for the quote cells of a stale quote.
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;

private:
    const QuoteAge *quoteAge(const QModelIndex &cell) const;

    QuoteAges m_ages;
    mutable QHash<QPersistentModelIndex, QColor> m_pending;
    mutable QHash<QPersistentModelIndex, QColor> m_drawn;
};
