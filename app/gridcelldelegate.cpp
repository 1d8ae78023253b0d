#include "app/gridcelldelegate.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolTip>

namespace {

// Columns of the index table: 2 "Kurswert", 7 "BID", 8 "ASK".
constexpr int priceColumn = 2;
constexpr int bidColumn = 7;
constexpr int askColumn = 8;

} // namespace

void GridCellDelegate::setHighlight(const QModelIndex &cell, const QColor &colour)
{
    if (colour == QColor(Qt::white))
        m_pending.remove(cell);
    else
        m_pending.insert(cell, colour);
}

const QuoteAge *GridCellDelegate::quoteAge(const QModelIndex &cell) const
{
    const int component = cell.row(); // model row i is component i, table row i + 1
    return component >= 0 && component < m_ages.size() ? &m_ages.at(component) : nullptr;
}

QString GridCellDelegate::toolTip(const QModelIndex &cell) const
{
    const int column = cell.column();
    const QuoteAge *age = quoteAge(cell);
    if (!age || (column != priceColumn && column != bidColumn && column != askColumn))
        return {};
    if (age->timeUnreadable)
        return QStringLiteral("Zeit unlesbar");
    return age->time.isValid() ? age->time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
                               : QStringLiteral("kein Kurs");
}

void GridCellDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QuoteAge *age = quoteAge(index);
    if (age && age->stale && (index.column() == bidColumn || index.column() == askColumn)) {
        option->font.setItalic(true);
        option->palette.setColor(QPalette::Text, QColor(128, 128, 128));
        option->palette.setColor(QPalette::HighlightedText, QColor(128, 128, 128));
    }
}

bool GridCellDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                 const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event && event->type() == QEvent::ToolTip) {
        const QString text = toolTip(index);
        if (!text.isEmpty()) {
            QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
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
