#include "SensorDataPage.h"

#include "GridView.h"
#include "MainState.h"
#include "ShellTexts.h"
#include "TextGrid.h"
#include "TrendPolling.h"
#include "Widgets.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kSensorDataRowHeight = 30;
constexpr int kDefaultTrendPeriodS = 7; // [trends] time when start.ini has none
} // namespace

SensorDataPage::SensorDataPage(MainState &state, PollCycle &cycle, QWidget *parent)
    : QorPage(QStringLiteral("TabSheetSensorData"), state, parent)
{
    m_trendHost = std::make_unique<StateTrendHost>(
        state, [this](const QString &hint) { GroupBox2->setToolTip(hint); });
    m_recorder = new TrendRecorder(state.settingsIni, *m_trendHost, this);
    AttachTrendRecorder(cycle, state, *m_recorder);

    auto *page = new QVBoxLayout(this);
    auto *trendRow = new QHBoxLayout;
    trendRow->addWidget(BuildTrendGroup());
    trendRow->addStretch();
    page->addLayout(trendRow);
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
    // The page sizes these columns itself, once per turn of the event loop: a new register
    // map sets every header cell, and laying out per cell would cost columns squared.
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
        g->setWidenToHeaders(false);
        TextGrid *model = &g->grid();
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this, g](const QModelIndex &from, const QModelIndex &to) {
                    CellsChanged(g, from, to);
                });
        connect(model, &QAbstractItemModel::modelReset, this, &SensorDataPage::LayoutChanged);
        connect(model, &QAbstractItemModel::rowsInserted, this, &SensorDataPage::LayoutChanged);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &SensorDataPage::LayoutChanged);
    }
    grids->addStretch();
    page->addWidget(GroupBox22);
    page->addStretch();
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2})
        connect(g, &QAbstractItemView::clicked, this, [this, g](const QModelIndex &index) {
            // Column 0 reads the label and the sensor number.
            const QString label = g->grid().cell(0, index.row());
            bool ok = false;
            const int sensor = label.section(u' ', -1).toInt(&ok);
            if (ok && sensor > 0)
                emit SensorClicked(sensor - 1);
        });
}

void SensorDataPage::AddPanel(QWidget *panel)
{
    auto *page = static_cast<QVBoxLayout *>(layout());
    // The panel takes the stretch's place while it is shown.
    page->insertWidget(page->count() - 1, panel, 1);
}

SensorDataPage::~SensorDataPage() = default;

// "Запись в файл": Start, Stop and the period between its two labels.
QGroupBox *SensorDataPage::BuildTrendGroup()
{
    GroupBox2 = named(new QGroupBox(QStringLiteral("Запись в файл"), this), "GroupBox2");
    GroupBox2->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *row = new QHBoxLayout(GroupBox2);
    ButtonStartFile = namedButton("ButtonStartFile", "Старт");
    ButtonStopFile = namedButton("ButtonStopFile", "Стоп");
    EditTrendTime = named(new QLineEdit(GroupBox2), "EditTrendTime");
    EditTrendTime->setFixedWidth(EditTrendTime->fontMetrics().horizontalAdvance(u'0') * 8 + 12);
    EditTrendTime->setAlignment(Qt::AlignRight);
    m_editPalette = EditTrendTime->palette();
    row->addWidget(ButtonStartFile);
    row->addWidget(ButtonStopFile);
    row->addSpacing(16);
    LabelTrendEvery =
        named(new QLabel(QStringLiteral("Записывать раз в"), GroupBox2), "LabelTrendEvery");
    LabelTrendSeconds = named(new QLabel(QStringLiteral("сек"), GroupBox2), "LabelTrendSeconds");
    row->addWidget(LabelTrendEvery);
    row->addWidget(EditTrendTime);
    row->addWidget(LabelTrendSeconds);
    connect(ButtonStartFile, &QPushButton::clicked, m_recorder,
            &TrendRecorder::ButtonStartFileClick);
    connect(ButtonStopFile, &QPushButton::clicked, m_recorder, &TrendRecorder::ButtonStopFileClick);
    connect(EditTrendTime, &QLineEdit::textChanged, this, &SensorDataPage::EditTrendTimeChange);
    return GroupBox2;
}

void SensorDataPage::ShowTrendPeriod()
{
    const int period = m_state.settingsIni.readInteger(
        QStringLiteral("trends"), QStringLiteral("time"), kDefaultTrendPeriodS);
    const QString text = QString::number(period);
    if (EditTrendTime->text() == text)
        EditTrendTimeChange(text); // no change signal for the same text: store it anyway
    else
        EditTrendTime->setText(text);
}

void SensorDataPage::EditTrendTimeChange(const QString &text)
{
    // A refused period paints the edit red and leaves the stored one.
    QPalette p = m_editPalette;
    if (!m_recorder->EditTrendTimeChange(text))
        p.setColor(QPalette::Base, QColor(255, 0, 0));
    EditTrendTime->setPalette(p);
}

QString SensorDataPage::Caption() const
{
    return Text("n10", "Данные датчиков");
}

void SensorDataPage::ApplyCaptions()
{
    GroupBox22->setTitle(Text("n11", "Состояние датчиков"));
    GroupBox2->setTitle(m_state.Text(Msg::n418));
    ButtonStartFile->setText(m_state.Text(Msg::n419));
    ButtonStopFile->setText(m_state.Text(Msg::n420));
    LabelTrendEvery->setText(m_state.Text(Msg::n421));
    LabelTrendSeconds->setText(m_state.Text(Msg::n422));
    m_recorder->ShowTextsAgain();
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

namespace {

int DesignWidth(int col)
{
    static const int design[] = {120, 88, 151, 82};
    return col < 4 ? design[col] : 88;
}

} // namespace

void SensorDataPage::LayoutChanged()
{
    m_fullPassPending = true;
    SchedulePass();
}

void SensorDataPage::CellsChanged(GridView *grid, const QModelIndex &from, const QModelIndex &to)
{
    if (m_fullPassPending)
        return; // everything is measured then anyway
    // Only the changed cells are measured here; a wider text asks for its column.
    const QFontMetrics metrics(grid->font());
    for (int row = from.row(); row <= to.row(); ++row)
        for (int col = from.column(); col <= to.column(); ++col) {
            const int want = row == 0 ? grid->horizontalHeader()->sectionSizeHint(col)
                                      : metrics.horizontalAdvance(grid->grid().cell(col, row)) + 12;
            if (want <= m_widths.value(col, 0) || want <= m_widen.value(col, 0))
                continue;
            m_widen[col] = want;
            SchedulePass();
        }
}

void SensorDataPage::SchedulePass()
{
    if (m_passQueued)
        return;
    m_passQueued = true;
    QMetaObject::invokeMethod(this, &SensorDataPage::RunPass, Qt::QueuedConnection);
}

void SensorDataPage::RunPass()
{
    m_passQueued = false;
    ++m_layoutPasses;
    if (m_fullPassPending)
        LayOutAll();
    else
        WidenColumns();
    m_fullPassPending = false;
    m_widen.clear();
}

void SensorDataPage::LayOutAll()
{
    // Columns are at least their design widths, and as wide as the longest text of either
    // grid; the group box follows the left grid.
    const int cols = qMax(m_state.sensorsData.colCount(), m_state.sensorsData2.colCount());
    const QFontMetrics metrics(StringGridSensorsData->font());
    m_widths.resize(cols);
    QList<int> all(cols);
    for (int c = 0; c < cols; ++c) {
        int width = DesignWidth(c);
        for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
            if (c >= g->grid().colCount())
                continue;
            width = qMax(width, g->horizontalHeader()->sectionSizeHint(c));
            for (int row = 1; row < g->grid().rowCountGrid(); ++row)
                width = qMax(width, metrics.horizontalAdvance(g->grid().cell(c, row)) + 12);
        }
        m_widths[c] = width;
        all[c] = c;
    }
    SetColumnWidths(all);
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2})
        g->setFixedHeight(g->grid().rowCountGrid() * kSensorDataRowHeight + 4);
    GroupBox22->setFixedHeight(m_state.sensorsData.rowCountGrid() * kSensorDataRowHeight + 40);
    FitGridWidths();
}

void SensorDataPage::WidenColumns()
{
    QList<int> columns;
    for (auto it = m_widen.cbegin(); it != m_widen.cend(); ++it) {
        if (it.key() >= m_widths.size())
            m_widths.resize(it.key() + 1, 0);
        if (it.value() > m_widths[it.key()]) {
            m_widths[it.key()] = qMax(it.value(), DesignWidth(it.key()));
            columns.append(it.key());
        }
    }
    if (columns.isEmpty())
        return;
    SetColumnWidths(columns);
    FitGridWidths();
}

void SensorDataPage::SetColumnWidths(const QList<int> &columns)
{
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
        // With its updates off the header does not work out every section's place anew
        // after each resize; it does once when they come back on.
        QHeaderView *header = g->horizontalHeader();
        header->setUpdatesEnabled(false);
        for (int c : columns)
            g->setColumnWidth(c, m_widths[c]);
        header->setUpdatesEnabled(true);
    }
}

void SensorDataPage::FitGridWidths()
{
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
        int w = 4;
        for (int c = 0; c < g->model()->columnCount(); ++c)
            w += g->columnWidth(c);
        g->setFixedWidth(w);
    }
}
