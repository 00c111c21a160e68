#include "SensorDataPage.h"

#include "GridView.h"
#include "MainState.h"
#include "TextGrid.h"
#include "Widgets.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace {
constexpr int kSensorDataRowHeight = 30;
}

SensorDataPage::SensorDataPage(MainState &state, QWidget *parent)
    : QorPage(QStringLiteral("TabSheetSensorData"), state, parent)
{
    auto *page = new QVBoxLayout(this);
    GroupBox22 = named(new QGroupBox(QStringLiteral("Состояние датчиков"), this), "GroupBox22");
    auto *grids = new QHBoxLayout(GroupBox22);
    auto make = [&](const char *name, TextGrid &model) {
        auto *g = new GridView(QString::fromLatin1(name), model, GroupBox22);
        QFont f = g->font();
        f.setPixelSize(16);
        f.setBold(true);
        g->setFont(f);
        g->horizontalHeader()->setFont(f);
        g->setDefaultRowHeight(kSensorDataRowHeight);
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setMouseTracking(true);
        g->viewport()->installEventFilter(this);
        grids->addWidget(g, 0, Qt::AlignTop);
        return g;
    };
    StringGridSensorsData = make("StringGridSensorsData", m_state.sensorsData);
    StringGridSensorsData2 = make("StringGridSensorsData2", m_state.sensorsData2);
    // A text wider than its column widens the column of both grids; measured per changed
    // cell, so a cycle that changes nothing costs nothing here.
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2})
        connect(&g->grid(), &QAbstractItemModel::dataChanged, this,
                [this, g, metrics = QFontMetrics(g->font())](const QModelIndex &from,
                                                             const QModelIndex &to) {
                    for (int row = from.row(); row <= to.row(); ++row)
                        for (int col = from.column(); col <= to.column(); ++col) {
                            const int want =
                                metrics.horizontalAdvance(g->grid().cell(col, row)) + 12;
                            if (want > g->columnWidth(col))
                                LayoutChanged();
                        }
                });
    grids->addStretch();
    page->addWidget(GroupBox22);
    page->addStretch();
}

QString SensorDataPage::Caption() const
{
    return Text("n10", "Данные датчиков");
}

void SensorDataPage::ApplyCaptions()
{
    GroupBox22->setTitle(Text("n11", "Состояние датчиков"));
}

void SensorDataPage::Shown()
{
    m_state.SensorDataShown();
}

bool SensorDataPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        for (GridView *g : {StringGridSensorsData, StringGridSensorsData2})
            if (watched == g->viewport())
                SensorsDataMouseMove(g,
                                     static_cast<QMouseEvent *>(event)->position().toPoint().x());
    }
    return QorPage::eventFilter(watched, event);
}

void SensorDataPage::SensorsDataMouseMove(GridView *grid, int x)
{
    // The hint explains the time column only.
    const int timeColumn = grid->columnWidth(3);
    grid->setToolTip(x > grid->viewport()->width() - timeColumn ? m_state.Text(Msg::n73)
                                                                : QString());
}

void SensorDataPage::LayoutChanged()
{
    // Columns are at least their design widths; the group box follows the left grid.
    const int design[] = {120, 88, 151, 82};
    const QFontMetrics metrics(StringGridSensorsData->font());
    const int cols = StringGridSensorsData->model()->columnCount();
    for (int c = 0; c < cols; ++c) {
        int width = c < 4 ? design[c] : 88;
        for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
            width = qMax(width, g->horizontalHeader()->sectionSizeHint(c));
            for (int row = 1; row < g->grid().rowCountGrid(); ++row)
                width = qMax(width, metrics.horizontalAdvance(g->grid().cell(c, row)) + 12);
        }
        StringGridSensorsData->setColumnWidth(c, width);
        StringGridSensorsData2->setColumnWidth(c, width);
    }
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
        g->setFixedHeight(g->grid().rowCountGrid() * kSensorDataRowHeight + 4);
        int w = 4;
        for (int c = 0; c < g->model()->columnCount(); ++c)
            w += g->columnWidth(c);
        g->setFixedWidth(w);
    }
    GroupBox22->setFixedHeight(m_state.sensorsData.rowCountGrid() * kSensorDataRowHeight + 40);
}
