#include "app/gridcelldelegate.h"

#include <QLineEdit>
#include <QPainter>

void GridCellDelegate::setHighlight(const QModelIndex &cell, const QColor &colour)
{
    m_cell = cell;
    m_colour = colour;
}

void GridCellDelegate::clearHighlight()
{
    m_cell = QPersistentModelIndex();
    m_colour = Qt::white;
}

QColor GridCellDelegate::lastHighlightDrawn(const QModelIndex &cell) const
{
    return m_drawn.value(cell);
}

void GridCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem normal = option;
    normal.rect.adjust(2, 0, 0, 0);
    normal.displayAlignment = Qt::AlignLeft | Qt::AlignTop;
    QStyledItemDelegate::paint(painter, normal, index);

    if (index != m_cell || m_colour == QColor(Qt::white)) {
        m_drawn.remove(index);
        return;
    }
    painter->save();
    painter->fillRect(option.rect, m_colour);
    painter->setPen(Qt::black);
    painter->setFont(option.font);
    painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop, index.data(Qt::DisplayRole).toString());
    painter->restore();
    m_drawn.insert(index, m_colour);
}

QWidget *GridCellDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                        const QModelIndex &index) const
{
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto *line = qobject_cast<QLineEdit *>(editor)) {
        QAbstractItemModel *model = const_cast<QAbstractItemModel *>(index.model());
        const QPersistentModelIndex cell(index);
        connect(line, &QLineEdit::textEdited, line, [model, cell](const QString &text) {
            if (cell.isValid())
                model->setData(cell, text, Qt::EditRole);
        });
    }
    return editor;
}
