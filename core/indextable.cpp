#include "core/indextable.h"

IndexTable::IndexTable(QObject *parent) : QAbstractTableModel(parent) {}

QString IndexTable::cell(int column, int row) const
{
    if (row < 0 || row >= m_cells.size() || column < 0 || column >= m_cells[row].size())
        return {};
    return m_cells[row][column];
}

QString &IndexTable::storage(int column, int row)
{
    if (m_cells.size() <= row)
        m_cells.resize(row + 1);
    QStringList &cells = m_cells[row];
    if (cells.size() <= column)
        cells.resize(column + 1);
    return cells[column];
}

void IndexTable::setCell(int column, int row, const QString &text)
{
    if (row < 0 || column < 0)
        return;
    storage(column, row) = text;
    if (row == 0) {
        if (column < m_columns)
            emit headerDataChanged(Qt::Horizontal, column, column);
    } else if (row < m_rows && column < m_columns) {
        const QModelIndex at = index(row - 1, column);
        emit dataChanged(at, at);
    }
    emit cellWritten(column, row);
}

void IndexTable::setRows(int rows)
{
    rows = std::max(rows, 1);
    if (rows > m_rows) {
        beginInsertRows({}, m_rows - 1, rows - 2);
        m_rows = rows;
        endInsertRows();
    } else if (rows < m_rows) {
        beginRemoveRows({}, rows - 1, m_rows - 2);
        m_rows = rows;
        endRemoveRows();
    }
}

void IndexTable::setColumns(int columns)
{
    columns = std::max(columns, 1);
    if (columns > m_columns) {
        beginInsertColumns({}, m_columns, columns - 1);
        m_columns = columns;
        endInsertColumns();
    } else if (columns < m_columns) {
        beginRemoveColumns({}, columns, m_columns - 1);
        m_columns = columns;
        endRemoveColumns();
    }
}

int IndexTable::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows - 1;
}

int IndexTable::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant IndexTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return cell(index.column(), index.row() + 1);
}

bool IndexTable::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    setCell(index.column(), index.row() + 1, value.toString());
    return true;
}

QVariant IndexTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return cell(section, 0);
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return {};
}

Qt::ItemFlags IndexTable::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}
