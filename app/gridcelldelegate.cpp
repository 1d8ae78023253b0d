#include "app/gridcelldelegate.h"

#include <QLineEdit>
#include <QPainter>

void GridCellDelegate::setHighlight(const QModelIndex &cell, const QColor &colour)
{
    if (colour == QColor(Qt::white))
        m_pending.remove(cell);
    else
        m_pending.insert(cell, colour);
}

QColor GridCellDelegate::lastHighlightDrawn(const QModelIndex &cell) const
{
    return m_drawn.value(cell);
}

void GridCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem normal = option;
    normal.rect.adjust(2, 0, 0, 0);
    normal.displayAlignment = Qt::AlignLeft | Qt::AlignTop;
    QStyledItemDelegate::paint(painter, normal, index);

    const auto pending = m_pending.constFind(index);
    if (pending == m_pending.cend()) {
        m_drawn.remove(index);
        return;
    }
    const QColor colour = pending.value();
    m_pending.erase(pending);
    painter->save();
    painter->fillRect(option.rect, colour);
    painter->setPen(Qt::black);
    painter->setFont(option.font);
    painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop, index.data(Qt::DisplayRole).toString());
    painter->restore();
    m_drawn.insert(index, colour);
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
