#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// The index table (the grid of the page "Übersicht"): text cells addressed by column and row, row 0 the header.
// Columns: 0 "Name", 1 "WKN", 2 "Kurswert", 3 "Fi", 4 "Wichtung in %", 5 "NV", 6 "NV_Ask", and after a
// price refresh 7 "BID" and 8 "ASK".
//
// Changing the row or column count never erases a cell text: cells beyond the count keep their
// texts and show them again when the count grows.
//
// As an item model it presents rows 1 to rowCount - 1 as its rows and row 0 as the horizontal header,
// so that a view keeps the header row fixed; model row i is table row i + 1.
class IndexTable : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Name = 0,
        WKN = 1,
        Kurswert = 2,
        Fi = 3,
        Wichtung = 4,
        NV = 5,
        NV_Ask = 6,
        BID = 7,
        ASK = 8
    };
    static constexpr int laidOutRows = 30;
    static constexpr int laidOutColumns = 7;

    explicit IndexTable(QObject *parent = nullptr);

    QString cell(int column, int row) const;
    void setCell(int column, int row, const QString &text);

    // Rows including the header row: the components are rows 1 to rows() - 1.
    int rows() const { return m_rows; }
    void setRows(int rows);
    int columns() const { return m_columns; }
    void setColumns(int columns);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // A cell's text was written (by the program or by the user's edit).
    void cellWritten(int column, int row);

private:
    QString &storage(int column, int row);

    QList<QStringList> m_cells; // [row][column], grown on demand, never shrunk
    int m_rows = laidOutRows;
    int m_columns = laidOutColumns;
};
