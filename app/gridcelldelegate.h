#pragma once

#include <QColor>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

// Draws the cells of the index table ("StringGrid1DrawCell") and edits them.
//
// A cell is drawn the grid's normal way. The drawing that a highlighted cell write asks for fills the cell
// with the highlight colour and draws its text in black at the cell's top-left corner, covering the
// selection colour; the next drawing for any other reason is the normal one again. The highlighted
// drawing happens in the grid's next paint, together with the other cells written meanwhile: a price
// refresh writes some eighty quote cells in one go, and a paint of its own for each took most of its time.
// An edit goes straight into the cell's text, keystroke by keystroke.
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

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;

private:
    mutable QHash<QPersistentModelIndex, QColor> m_pending;
    mutable QHash<QPersistentModelIndex, QColor> m_drawn;
};
