#pragma once
#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <functional>

// The cells of one grid, in the grid's own coordinates: cell(col, row), the fixed header
// row 0 and column 0 included. As a Qt model, index(row, col) is cell (col, row).
class TextGrid : public QAbstractTableModel {
    Q_OBJECT
    Q_PROPERTY(int topRow READ topRow WRITE setTopRow NOTIFY topRowChanged)
public:
    explicit TextGrid(int colCount = 1, int rowCount = 1, QObject *parent = nullptr);

    int colCount() const { return m_cols; }
    int rowCountGrid() const { return int(m_cells.size()); }
    void setColCount(int cols);
    void setRowCount(int rows);

    QString cell(int col, int row) const;
    void setCell(int col, int row, const QString &text);
    void clearRow(int row);
    void insertRowAt(int row);  // rows from row on move down; the grid grows by one
    void deleteRowAt(int row);  // rows below move up; the grid shrinks by one
    QStringList rowTexts(int row) const;

    int fixedRows() const { return m_fixedRows; }
    int fixedCols() const { return m_fixedCols; }
    void setFixed(int cols, int rows);

    // Editing: which cells the user may change, and what typing a text into one does.
    // The editor stores what typing the text means (it may cut it or refuse it) and says
    // whether the cell took it.
    using CellEditor = std::function<bool(TextGrid &, int col, int row, const QString &text)>;
    void setEditable(bool editable) { m_editable = editable; }
    bool isEditable() const { return m_editable; }
    void setCellEditor(CellEditor editor) { m_editor = std::move(editor); }

    int topRow() const { return m_topRow; }
    void setTopRow(int row);

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void topRowChanged(int row);
    void cellEdited(int col, int row);

private:
    int m_cols;
    QList<QStringList> m_cells; // rows of m_cols texts
    int m_fixedRows = 1;
    int m_fixedCols = 1;
    int m_topRow = 1;
    bool m_editable = false;
    CellEditor m_editor;
};
