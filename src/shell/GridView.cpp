#include "GridView.h"

#include "TextGrid.h"

#include <QHelpEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

GridView::GridView(const QString &name, TextGrid &grid, QWidget *parent)
    : QTableView(parent), m_grid(grid)
{
    setObjectName(name);
    setModel(&grid);
    setItemDelegate(new GridDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    setWordWrap(false);
    setDefaultRowHeight(24);
    setDefaultColumnWidth(64);
    // The fixed header row stays in sight as the view's own header instead of scrolling.
    auto hideHeaderRow = [this] {
        const bool header = m_grid.fixedRows() > 0;
        horizontalHeader()->setVisible(header);
        if (header)
            setRowHidden(0, true);
    };
    hideHeaderRow();
    connect(&grid, &QAbstractItemModel::modelReset, this, hideHeaderRow);
    connect(&grid, &QAbstractItemModel::rowsInserted, this, hideHeaderRow);
    // A header text wider than its column widens the column, so no header is cut off.
    connect(&grid, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                if (from.row() != 0 || !m_widenToHeaders)
                    return;
                for (int c = from.column(); c <= to.column(); ++c)
                    setColumnWidth(c, qMax(columnWidth(c), horizontalHeader()->sectionSizeHint(c)));
                horizontalHeader()->viewport()->update();
            });
    // Top visible row, both ways: scroll coupling works on the models.
    connect(&grid, &TextGrid::topRowChanged, this, [this](int row) {
        if (rowAt(0) != row && row < model()->rowCount())
            scrollTo(model()->index(row, 0), QAbstractItemView::PositionAtTop);
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (rowAt(0) >= 0)
            m_grid.setTopRow(rowAt(0));
    });
}

void GridView::setDefaultRowHeight(int px) { verticalHeader()->setDefaultSectionSize(px); }

void GridView::setDefaultColumnWidth(int px) { horizontalHeader()->setDefaultSectionSize(px); }

int GridView::fullyVisibleRows() const
{
    const int h = verticalHeader()->defaultSectionSize();
    return h > 0 ? (viewport()->height() + horizontalHeader()->height() * horizontalHeader()->isVisible()) / h : 0;
}

void GridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    const TextGrid &g = m_view->grid();
    const bool fixed = index.row() < g.fixedRows() || index.column() < g.fixedCols();
    const GridView::CellLook look = m_view->cellLook(index.column(), index.row(), false);
    QStyleOptionViewItem opt(option);
    // A ground of its own stays in sight on a selected row, which gets a frame instead.
    const bool framed = look.background.isValid() && (opt.state & QStyle::State_Selected);
    if (fixed || look.background.isValid()) {
        painter->fillRect(opt.rect, look.background.isValid() ? QBrush(look.background)
                                                              : opt.palette.button());
        painter->setPen(opt.palette.mid().color());
        painter->drawRect(opt.rect.adjusted(0, 0, -1, -1));
        opt.state &= ~QStyle::State_Selected;
    }
    if (look.text.isValid())
        opt.palette.setColor(QPalette::Text, look.text);
    QStyledItemDelegate::paint(painter, opt, index);
    if (framed) {
        painter->setPen(QPen(opt.palette.highlight().color(), 2));
        painter->drawRect(opt.rect.adjusted(1, 1, -1, -1));
    }
    if (m_view->cellPainter())
        m_view->cellPainter()(painter, opt.rect, index.column(), index.row());
}

bool GridDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                             const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        const QString tip = m_view->cellLook(index.column(), index.row()).toolTip;
        if (!tip.isEmpty()) {
            QToolTip::showText(event->globalPos(), tip, view->viewport(), view->visualRect(index));
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

QWidget *GridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto *line = qobject_cast<QLineEdit *>(editor); line && m_view->editorMaxLength() > 0)
        line->setMaxLength(m_view->editorMaxLength());
    return editor;
}
