#include "TextGrid.h"

TextGrid::TextGrid(int colCount, int rowCount, QObject *parent)
    : QAbstractTableModel(parent), m_cols(qMax(1, colCount))
{
    for (int r = 0; r < qMax(1, rowCount); ++r)
        m_cells.append(QStringList(m_cols, QString()));
}

void TextGrid::setColCount(int cols)
{
    cols = qMax(1, cols);
    if (cols == m_cols)
        return;
    beginResetModel();
    for (QStringList &row : m_cells) {
        while (row.size() < cols)
            row.append(QString());
        row.resize(cols);
    }
    m_cols = cols;
    endResetModel();
}

void TextGrid::setRowCount(int rows)
{
    rows = qMax(1, rows);
    const int old = rowCountGrid();
    if (rows > old) {
        beginInsertRows({}, old, rows - 1);
        while (m_cells.size() < rows)
            m_cells.append(QStringList(m_cols, QString()));
        endInsertRows();
    } else if (rows < old) {
        beginRemoveRows({}, rows, old - 1);
        m_cells.resize(rows);
        endRemoveRows();
    }
}

QString TextGrid::cell(int col, int row) const
{
    if (row < 0 || row >= rowCountGrid() || col < 0 || col >= m_cols)
        return {};
    return m_cells[row][col];
}

void TextGrid::setCell(int col, int row, const QString &text)
{
    if (row < 0 || row >= rowCountGrid() || col < 0 || col >= m_cols)
        return;
    if (m_cells[row][col] == text)
        return;
    m_cells[row][col] = text;
    const QModelIndex i = index(row, col);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
}

void TextGrid::clearRow(int row)
{
    for (int c = 0; c < m_cols; ++c)
        setCell(c, row, QString());
}

void TextGrid::insertRowAt(int row)
{
    row = qBound(0, row, rowCountGrid());
    beginInsertRows({}, row, row);
    m_cells.insert(row, QStringList(m_cols, QString()));
    endInsertRows();
}

void TextGrid::deleteRowAt(int row)
{
    if (row < 0 || row >= rowCountGrid() || rowCountGrid() <= 1)
        return;
    beginRemoveRows({}, row, row);
    m_cells.removeAt(row);
    endRemoveRows();
}

QStringList TextGrid::rowTexts(int row) const
{
    return row >= 0 && row < rowCountGrid() ? m_cells[row] : QStringList();
}

void TextGrid::setFixed(int cols, int rows)
{
    m_fixedCols = cols;
    m_fixedRows = rows;
}

void TextGrid::setTopRow(int row)
{
    row = qMax(m_fixedRows, row);
    if (row == m_topRow)
        return;
    m_topRow = row;
    emit topRowChanged(row);
}

int TextGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rowCountGrid();
}

int TextGrid::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_cols; }

QVariant TextGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return cell(index.column(), index.row());
}

bool TextGrid::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const QString text = value.toString();
    if (m_editor)
        return m_editor(*this, index.column(), index.row(), text);
    setCell(index.column(), index.row(), text);
    emit cellEdited(index.column(), index.row());
    return true;
}

Qt::ItemFlags TextGrid::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_editable && index.row() >= m_fixedRows && index.column() >= m_fixedCols)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant TextGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    // The fixed header row, for a view that draws it as its horizontal header.
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && m_fixedRows > 0)
        return cell(section, 0);
    return {};
}
