#include "GridView.h"

#include "TextGrid.h"

#include <QApplication>
#include <QHash>
#include <QHelpEvent>
#include <QImage>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTextLayout>
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
    if (!paintPlain(painter, opt, index))
        QStyledItemDelegate::paint(painter, opt, index);
    if (framed) {
        painter->setPen(QPen(opt.palette.highlight().color(), 2));
        painter->drawRect(opt.rect.adjusted(1, 1, -1, -1));
    }
    if (m_view->cellPainter())
        m_view->cellPainter()(painter, opt.rect, index.column(), index.row());
}

namespace {

// The style's own drawing of an item lays its text out four or five times (sizes for the
// item's parts, eliding, drawing): 70,000 instructions a cell, most of a repaint. A cell that
// is plain text on one line that fits is drawn here with one layout, as the style places it.
bool PlainCell(const QStyleOptionViewItem &o)
{
    using F = QStyleOptionViewItem;
    return !(o.features & (F::WrapText | F::HasCheckIndicator | F::HasDecoration)) &&
           !(o.state & (QStyle::State_HasFocus | QStyle::State_Editing)) &&
           o.direction == Qt::LeftToRight && o.backgroundBrush.style() == Qt::NoBrush;
}

bool OneLine(const QString &text)
{
    for (QChar c : text)
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return false;
    return true;
}

// As the style draws an item of one line of text (its ground, the text placed in the cell
// less the focus margins, clipped to the cell); false, with nothing drawn, when the text
// does not fit on one line and would be elided.
bool DrawPlain(QPainter *painter, const QStyleOptionViewItem &opt, const QStyle *style)
{
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
    QTextLayout layout;
    if (!opt.text.isEmpty()) {
        QTextOption to;
        to.setWrapMode(QTextOption::ManualWrap);
        to.setTextDirection(opt.direction);
        to.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
        layout.setText(opt.text);
        layout.setFont(opt.font);
        layout.setTextOption(to);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(textRect.width());
        line.setPosition(QPointF(0, 0));
        const bool more = layout.createLine().isValid();
        layout.endLayout();
        if (more || line.naturalTextWidth() > textRect.width())
            return false;
    }
    painter->save();
    painter->setClipRect(opt.rect);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, opt.widget);
    if (!opt.text.isEmpty()) {
        QPalette::ColorGroup cg =
            opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (cg == QPalette::Normal && !(opt.state & QStyle::State_Active))
            cg = QPalette::Inactive;
        painter->setPen(opt.palette.color(cg, opt.state & QStyle::State_Selected
                                                  ? QPalette::HighlightedText
                                                  : QPalette::Text));
        const QRect placed = QStyle::alignedRect(Qt::LayoutDirectionAuto, opt.displayAlignment,
                                                 layout.boundingRect().size().toSize(), textRect);
        layout.draw(painter, QPointF(textRect.x(), placed.top()));
    }
    painter->restore();
    return true;
}

} // namespace

bool GridDelegate::paintPlain(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    if (!s_plainDrawing)
        return false;
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    if (!PlainCell(opt) || !OneLine(opt.text) || !StyleDrawsPlainly(style, opt) ||
        !DrawPlain(painter, opt, style))
        return false;
    ++s_plainCells;
    return true;
}

bool GridDelegate::StyleDrawsPlainly(const QStyle *style, const QStyleOptionViewItem &opt)
{
    // Asked once per style, by drawing a cell both ways: a style with an item drawing of
    // its own (e.g. the Windows ones) keeps it.
    static QPointer<QStyle> lastStyle; // a style deleted since is not taken for a new one
    static bool lastVerdict = false;
    if (lastStyle && lastStyle.data() == style)
        return lastVerdict;
    static QHash<QString, bool> verdicts;
    const QString key =
        QString::fromLatin1(style->metaObject()->className()) + u'/' + style->name();
    const auto known = verdicts.constFind(key);
    if (known != verdicts.cend()) {
        lastStyle = const_cast<QStyle *>(style);
        lastVerdict = *known;
        return lastVerdict;
    }
    bool same = true;
    QStyleOptionViewItem probe(opt);
    probe.rect = QRect(0, 0, 200, 30);
    for (const QString &text : {QStringLiteral("1234567"), QStringLiteral("Датчик 36 Wq")}) {
        probe.text = text;
        QImage styled(probe.rect.size(), QImage::Format_ARGB32_Premultiplied);
        QImage plain(styled.size(), styled.format());
        styled.fill(Qt::white);
        plain.fill(Qt::white);
        {
            QPainter p(&styled);
            style->drawControl(QStyle::CE_ItemViewItem, &probe, &p, probe.widget);
        }
        {
            QPainter p(&plain);
            same = DrawPlain(&p, probe, style) && same;
        }
        same = same && styled == plain;
    }
    verdicts.insert(key, same);
    lastStyle = const_cast<QStyle *>(style);
    lastVerdict = same;
    return same;
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
