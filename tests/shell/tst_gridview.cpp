// A grid cell drawn the quick way (one text layout) looks exactly as the style draws it:
// each case is painted both ways into an image and the images compared pixel for pixel.
#include "GridView.h"
#include "TextGrid.h"

#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

class View : public GridView {
public:
    using GridView::GridView;
    QStyleOptionViewItem Option(int col, int row) const
    {
        QStyleOptionViewItem opt;
        initViewItemOption(&opt);
        opt.rect = visualRect(model()->index(row, col));
        return opt;
    }
};

QImage Paint(View &view, QStyleOptionViewItem opt, int col, int row, bool plain)
{
    GridDelegate::setPlainDrawing(plain);
    const QRect cell = opt.rect;
    opt.rect = QRect(QPoint(0, 0), cell.size());
    QImage image(cell.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    view.itemDelegate()->paint(&p, opt, view.model()->index(row, col));
    p.end();
    GridDelegate::setPlainDrawing(true);
    return image;
}

} // namespace

class TestGridView : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { GridDelegate::setPlainDrawing(true); }

    void cellAsTheStyleDrawsIt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("state"); // 0 plain, 1 selected, 2 inactive window, 3 disabled
        QTest::addColumn<bool>("tinted");
        QTest::addColumn<bool>("bold16"); // the sensor-data page's font and row height
        QTest::addColumn<bool>("quick");  // drawn without the style's item drawing
        // text, column width (0: just the text's), state, tinted, page font, quick
        QTest::newRow("number") << QStringLiteral("1234") << 82 << 0 << false << false << true;
        QTest::newRow("number, page font")
            << QStringLiteral("65535") << 82 << 0 << false << true << true;
        QTest::newRow("cyrillic") << QStringLiteral("Датчик 36") << 120 << 0 << false << true << true;
        QTest::newRow("status text")
            << QStringLiteral("Нет питания") << 151 << 0 << false << true << true;
        QTest::newRow("empty") << QString() << 64 << 0 << false << false << true;
        QTest::newRow("dashes") << QStringLiteral("---") << 64 << 0 << false << false << true;
        QTest::newRow("selected") << QStringLiteral("27") << 88 << 1 << false << true << true;
        QTest::newRow("inactive") << QStringLiteral("27") << 88 << 2 << false << true << true;
        QTest::newRow("disabled") << QStringLiteral("27") << 88 << 3 << false << false << true;
        QTest::newRow("tinted") << QStringLiteral("Порог 1") << 151 << 0 << true << true << true;
        QTest::newRow("tinted selected")
            << QStringLiteral("Порог 2") << 151 << 1 << true << true << true;
        QTest::newRow("just fits") << QStringLiteral("00000") << 0 << 0 << false << true << true;
        QTest::newRow("leading spaces") << QStringLiteral("   5") << 64 << 0 << false << false << true;
        // These need the style's own drawing.
        QTest::newRow("wider than the cell (elided)")
            << QStringLiteral("Неопределённое состояние датчика") << 60 << 0 << false << false
            << false;
        QTest::newRow("two lines") << QStringLiteral("12\n34") << 88 << 0 << false << false << false;
    }
    void cellAsTheStyleDrawsIt()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(int, state);
        QFETCH(bool, tinted);
        QFETCH(bool, bold16);
        QFETCH(bool, quick);
        TextGrid grid(2, 3);
        grid.setFixed(0, 1);
        grid.setCell(0, 0, QStringLiteral("A"));
        grid.setCell(1, 0, QStringLiteral("B"));
        grid.setCell(1, 1, text);
        View view(QStringLiteral("grid"), grid);
        if (bold16) {
            QFont f = view.font();
            f.setPixelSize(16);
            f.setBold(true);
            view.setFont(f);
            view.setDefaultRowHeight(30);
        }
        if (width == 0) // the text's own width and the style's margins, a pixel to spare
            width = view.fontMetrics().horizontalAdvance(text) +
                    2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 1;
        view.setColumnWidth(1, width);
        if (tinted)
            view.setCellLooks([](int, int, bool) {
                return GridView::CellLook{QColor(255, 200, 0), QColor(0, 0, 0), {}};
            });
        view.resize(400, 200);
        view.setEnabled(state != 3);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QStyleOptionViewItem opt = view.Option(1, 1);
        if (state == 1)
            opt.state |= QStyle::State_Selected;
        if (state == 2)
            opt.state &= ~QStyle::State_Active;
        QVERIFY(!opt.rect.isEmpty());
        const QImage styled = Paint(view, opt, 1, 1, false);
        const int before = GridDelegate::plainCells();
        const QImage drawn = Paint(view, opt, 1, 1, true);
        QCOMPARE(GridDelegate::plainCells() > before, quick);
        QVERIFY(styled != QImage());
        QCOMPARE(drawn, styled);
    }
};

QTEST_MAIN(TestGridView)
#include "tst_gridview.moc"
