#pragma once

#include <QColor>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

// Draws the cells of the index table ("StringGrid1DrawCell") and edits them.
//
// A cell is drawn the grid's normal way. While a highlighted cell write draws its cell at once, that cell
// is then filled with the highlight colour and its text drawn in black at the cell's top-left corner,
// covering the selection colour; the next drawing for any other reason is the normal one again.
// An edit goes straight into the cell's text, keystroke by keystroke.
class GridCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // `Zellfarbe` for the cell being drawn at once; white (no highlight) otherwise.
    void setHighlight(const QModelIndex &cell, const QColor &colour);
    void clearHighlight();

    // The colour the cell was last filled with by a highlighted drawing; invalid after a normal one.
    // The window's tests read it, since a screenshot redraws the cell normally.
    QColor lastHighlightDrawn(const QModelIndex &cell) const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QPersistentModelIndex m_cell;
    QColor m_colour = Qt::white;
    mutable QHash<QPersistentModelIndex, QColor> m_drawn;
};
