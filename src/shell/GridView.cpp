#include "GridView.h"

#include "TextGrid.h"

#include <QHeaderView>
#include <QPainter>

GridView::GridView(const QString &name, TextGrid &grid, QWidget *parent)
    : QTableView(parent), m_grid(grid)
{
    setObjectName(name);
    setModel(&grid);
    setItemDelegate(new GridDelegate(this));
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setWordWrap(false);
    setDefaultRowHeight(24);
    setDefaultColumnWidth(64);
    connect(&grid, &TextGrid::topRowChanged, this, [this](int row) {
        scrollTo(model()->index(row, 0), QAbstractItemView::PositionAtTop);
    });
}

void GridView::setDefaultRowHeight(int px) { verticalHeader()->setDefaultSectionSize(px); }

void GridView::setDefaultColumnWidth(int px) { horizontalHeader()->setDefaultSectionSize(px); }

int GridView::fullyVisibleRows() const
{
    const int h = verticalHeader()->defaultSectionSize();
    return h > 0 ? viewport()->height() / h : 0;
}

void GridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    const TextGrid &g = m_view->grid();
    const bool fixed = index.row() < g.fixedRows() || index.column() < g.fixedCols();
    QStyleOptionViewItem opt(option);
    if (fixed) {
        painter->fillRect(opt.rect, opt.palette.button());
        painter->setPen(opt.palette.mid().color());
        painter->drawRect(opt.rect.adjusted(0, 0, -1, -1));
        opt.state &= ~QStyle::State_Selected;
    }
    QStyledItemDelegate::paint(painter, opt, index);
    if (m_view->cellPainter())
        m_view->cellPainter()(painter, opt.rect, index.column(), index.row());
}
