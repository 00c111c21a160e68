#pragma once
#include <QColor>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>

class TextGrid;

// A string grid: a table view over a TextGrid, whose fixed header row and column are cells
// of the model drawn in the button-face colour.
class GridView : public QTableView {
    Q_OBJECT
public:
    GridView(const QString &name, TextGrid &grid, QWidget *parent = nullptr);

    TextGrid &grid() { return m_grid; }
    void setDefaultRowHeight(int px);
    void setDefaultColumnWidth(int px);
    // Painted over a cell after its text (the relay lamps).
    using CellPainter = std::function<void(QPainter *, const QRect &, int col, int row)>;
    void setCellPainter(CellPainter painter) { m_painter = std::move(painter); }
    const CellPainter &cellPainter() const { return m_painter; }
    // What a cell shows besides its text: a ground and a text colour (invalid: the grid's
    // own) and a tool tip (empty: the grid's own hint).
    struct CellLook {
        QColor background;
        QColor text;
        QString toolTip;
    };
    // The tool tip is worked out only when asked for (withToolTip), not for every paint.
    using CellLooks = std::function<CellLook(int col, int row, bool withToolTip)>;
    void setCellLooks(CellLooks looks) { m_looks = std::move(looks); }
    CellLook cellLook(int col, int row, bool withToolTip = true) const
    {
        return m_looks ? m_looks(col, row, withToolTip) : CellLook{};
    }
    // A header text wider than its column widens the column (on by default).
    void setWidenToHeaders(bool on) { m_widenToHeaders = on; }
    // Number of rows that fit whole into the view.
    int fullyVisibleRows() const;
    // Longest text the cell editor takes while typing (0: no limit); asked each time an
    // editor opens, so that it follows the register map.
    void setEditorMaxLength(std::function<int()> limit) { m_maxLength = std::move(limit); }
    int editorMaxLength() const { return m_maxLength ? m_maxLength() : 0; }

private:
    TextGrid &m_grid;
    CellPainter m_painter;
    CellLooks m_looks;
    std::function<int()> m_maxLength;
    bool m_widenToHeaders = true;
};

class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(GridView *view) : QStyledItemDelegate(view), m_view(view) {}
    // Off: every cell through the style's own item drawing (to compare the two).
    static void setPlainDrawing(bool on) { s_plainDrawing = on; }
    // Cells drawn so far without the style's item drawing.
    static int plainCells() { return s_plainCells; }
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;

private:
    // Draws a cell of plain one-line text without the style's item layout; false when the
    // cell needs the style's own drawing (icon, wrap, elision, focus, an unknown style).
    bool paintPlain(QPainter *painter, const QStyleOptionViewItem &option,
                    const QModelIndex &index) const;
    static bool StyleDrawsPlainly(const QStyle *style, const QStyleOptionViewItem &opt);

    GridView *m_view;
    static inline bool s_plainDrawing = true;
    static inline int s_plainCells = 0;
};
