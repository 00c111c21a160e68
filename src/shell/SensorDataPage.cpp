#include "SensorDataPage.h"

#include "GridView.h"
#include "MainState.h"
#include "Plausible.h"
#include "PollCycle.h"
#include "SensorLook.h"
#include "SensorTags.h"
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
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QGridLayout>
#include <QVBoxLayout>

namespace {
constexpr int kSensorDataRowHeight = 30;
constexpr int kDefaultTrendPeriodS = 7; // [trends] time when start.ini has none
} // namespace

SensorDataPage::SensorDataPage(MainState &state, PollCycle &cycle, QWidget *parent)
    : QorPage(QStringLiteral("TabSheetSensorData"), state, parent), m_cycle(cycle)
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
    m_legend = SensorLook::MakeLegend(this);
    SensorLook::ApplyLegendCaptions(m_legend, state.settingsIni);
    page->addWidget(m_legend);
    GroupBox22 = named(new QGroupBox(QStringLiteral("Состояние датчиков"), this), "GroupBox22");
    m_gridPlaces = new QGridLayout(GroupBox22);
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
        g->setCellLooks([this, &model](int col, int row, bool withToolTip) {
            return LookOf(model, col, row, withToolTip);
        });
        return g;
    };
    StringGridSensorsData = make("StringGridSensorsData", m_state.sensorsData);
    StringGridSensorsData2 = make("StringGridSensorsData2", m_state.sensorsData2);
    m_gridPlaces->addWidget(StringGridSensorsData, 0, 0, Qt::AlignTop | Qt::AlignLeft);
    m_gridPlaces->addWidget(StringGridSensorsData2, 0, 1, Qt::AlignTop | Qt::AlignLeft);
    m_gridPlaces->setColumnStretch(2, 1);
    m_gridPlaces->setRowStretch(2, 1);
    // The page sizes these columns itself, once per turn of the event loop: a new register
    // map sets every header cell, and laying out per cell would cost columns squared.
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
        g->setWidenToHeaders(false);
        TextGrid *model = &g->grid();
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this, g](const QModelIndex &from, const QModelIndex &to) {
                    CellsChanged(g, from, to);
                    // A new state tints the whole row, not only the cells that changed.
                    if (from.column() <= 2 && to.column() >= 2) {
                        const QRect first = g->visualRect(from.siblingAtColumn(0));
                        const QRect last = g->visualRect(to.siblingAtColumn(0));
                        g->viewport()->update(0, first.top(), g->viewport()->width(),
                                              last.bottom() - first.top() + 1);
                    }
                });
        connect(model, &QAbstractItemModel::modelReset, this, &SensorDataPage::LayoutChanged);
        connect(model, &QAbstractItemModel::rowsInserted, this, &SensorDataPage::LayoutChanged);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &SensorDataPage::LayoutChanged);
    }
    // The grids scroll instead of setting the window's size; the chart shares the height
    // with them through the splitter.
    m_gridsScroll = named(new QScrollArea, "ScrollBoxSensorsData");
    m_gridsScroll->setFrameShape(QFrame::NoFrame);
    m_gridsScroll->setWidgetResizable(true);
    m_gridsScroll->setWidget(GroupBox22);
    m_gridsScroll->setMinimumHeight(3 * kSensorDataRowHeight);
    m_gridsScroll->installEventFilter(this);
    SplitterSensorData = named(new QSplitter(Qt::Vertical, this), "SplitterSensorData");
    SplitterSensorData->setChildrenCollapsible(false);
    SplitterSensorData->addWidget(m_gridsScroll);
    SplitterSensorData->installEventFilter(this);
    connect(SplitterSensorData, &QSplitter::splitterMoved, this, [this] { m_splitSet = true; });
    page->addWidget(SplitterSensorData, 1);
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
    m_panel = panel;
    SplitterSensorData->addWidget(panel);
    SplitterSensorData->setStretchFactor(0, 1);
    SplitterSensorData->setStretchFactor(1, 1);
    panel->installEventFilter(this);
}

QByteArray SensorDataPage::SplitState() const
{
    return m_splitSet || m_defaultSplitApplied ? SplitterSensorData->saveState() : QByteArray();
}

void SensorDataPage::RestoreSplit(const QByteArray &state)
{
    if (!state.isEmpty() && SplitterSensorData->restoreState(state))
        m_splitSet = true;
}

void SensorDataPage::DefaultSplit()
{
    // Until the user moves it: the chart gets 40 % of the height (about 330 px at
    // 1920 x 1080), the grids the rest (they scroll). Kept through every resize, so the
    // first small layout before the window has its size does not fix the share.
    const int h = SplitterSensorData->height();
    if (m_splitSet || !m_panel || m_panel->isHidden() || h < 200)
        return;
    m_defaultSplitApplied = true;
    SplitterSensorData->setSizes({h * 60 / 100, h - h * 60 / 100});
}

void SensorDataPage::Reflow()
{
    // Side by side when both grids fit the width, else the second one under the first.
    const QMargins m = m_gridPlaces->contentsMargins();
    const int need = StringGridSensorsData->width() + StringGridSensorsData2->width() +
                     m_gridPlaces->horizontalSpacing() + m.left() + m.right() +
                     2 * GroupBox22->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 4;
    const int room = m_gridsScroll->maximumViewportSize().width() -
                     m_gridsScroll->verticalScrollBar()->sizeHint().width();
    const bool stacked = need > room;
    if (stacked == m_stacked)
        return;
    m_stacked = stacked;
    m_gridPlaces->removeWidget(StringGridSensorsData2);
    m_gridPlaces->addWidget(StringGridSensorsData2, stacked ? 1 : 0, stacked ? 0 : 1,
                            Qt::AlignTop | Qt::AlignLeft);
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
    SensorLook::ApplyLegendCaptions(m_legend, m_state.settingsIni);
    GroupBox2->setTitle(m_state.Text(Msg::n418));
    ButtonStartFile->setText(m_state.Text(Msg::n419));
    ButtonStopFile->setText(m_state.Text(Msg::n420));
    LabelTrendEvery->setText(m_state.Text(Msg::n421));
    LabelTrendSeconds->setText(m_state.Text(Msg::n422));
    m_recorder->ShowTextsAgain();
}

void SensorDataPage::SetLive(bool live)
{
    if (live == m_live)
        return;
    m_live = live;
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2})
        g->viewport()->update();
}

int SensorDataPage::SensorOfRow(const TextGrid &grid, int row)
{
    // Column 0 reads the label and the sensor number.
    bool ok = false;
    const int sensor = grid.cell(0, row).section(u' ', -1).toInt(&ok);
    return ok && sensor > 0 ? sensor - 1 : -1;
}

QString SensorDataPage::ToolTipOf(const TextGrid &grid, int col, int row, int sensor) const
{
    QStringList tip;
    const QString text = grid.cell(col, row);
    if (col == 0) {
        const auto &tags = m_cycle.sensorTagRecords;
        if (size_t(sensor) < tags.size() && tags[size_t(sensor)].registerCount > 0) {
            const QString tag = SensorTagText(tags[size_t(sensor)].values,
                                              m_state.registerMap.QOR_SENSOR_TAG_SIZE)
                                    .trimmed();
            if (!tag.isEmpty())
                tip << m_state.Text("n122", QStringLiteral("Метка датчика")) +
                           QStringLiteral(": ") + tag;
        } else if (m_state.firmwareVersion >= kFirstTagFirmware) {
            // Not read yet: the cycle reads the tags once and the next hover shows them.
            m_state.readAllTagsRequested = true;
        }
    } else if (!m_live) {
        tip << m_state.Text(Msg::n400);
    }
    bool number = false;
    const qint64 value = text.toLongLong(&number);
    if (col == 1 && number && !PlausibleTemperature(double(value)))
        tip << m_state.Text(Msg::n401) + QStringLiteral(" (") + SensorLook::PlausibleBandText() +
                   u')';
    const quint16 code = m_cycle.statusRecord.values[size_t(sensor)];
    if (col == 2 && m_live && !SensorLook::KnownStatus(code))
        tip << m_state.Text(Msg::n398) + QStringLiteral(": ") + QString::number(code);
    if (col == 3 && number) {
        tip << SensorLook::ReadableDuration(m_state.settingsIni, value);
        tip << m_state.Text(Msg::n73); // the column's own hint stays
    }
    return tip.join(u'\n');
}

GridView::CellLook SensorDataPage::LookOf(const TextGrid &grid, int col, int row,
                                          bool withToolTip) const
{
    GridView::CellLook look;
    const int sensor = row >= grid.fixedRows() ? SensorOfRow(grid, row) : -1;
    if (sensor < 0 || size_t(sensor) >= m_cycle.statusRecord.values.size())
        return look;
    if (withToolTip)
        look.toolTip = ToolTipOf(grid, col, row, sensor);
    if (!m_live) {
        if (col > 0) {
            const QPalette &p = StringGridSensorsData->palette();
            look.background = SensorLook::StaleBackground(p);
            look.text = SensorLook::StaleText(p);
        }
        return look;
    }
    // While fresh the record holds the statuses the rows show.
    if (const auto tint = SensorLook::StateTint(m_cycle.statusRecord.values[size_t(sensor)])) {
        look.background = *tint;
        look.text = SensorLook::TintText();
    }
    return look;
}

void SensorDataPage::Shown()
{
    m_state.SensorDataShown();
}

bool SensorDataPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_gridsScroll && event->type() == QEvent::Resize)
        Reflow();
    if ((watched == SplitterSensorData && event->type() == QEvent::Resize) ||
        (watched == m_panel && event->type() == QEvent::Show))
        DefaultSplit();
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
    // Only the changed cells are measured here; a wider text asks for its column. A number
    // (most changes) that surely fits its column is not measured at all: shaping it costs
    // more than the rest of the change.
    const QFontMetrics metrics(grid->font());
    for (int row = from.row(); row <= to.row(); ++row)
        for (int col = from.column(); col <= to.column(); ++col) {
            if (row > 0 && NumberFits(grid, grid->grid().cell(col, row), m_widths.value(col, 0)))
                continue;
            const int want = row == 0 ? grid->horizontalHeader()->sectionSizeHint(col)
                                      : metrics.horizontalAdvance(grid->grid().cell(col, row)) + 12;
            if (want <= m_widths.value(col, 0) || want <= m_widen.value(col, 0))
                continue;
            m_widen[col] = want;
            SchedulePass();
        }
}

bool SensorDataPage::NumberFits(const GridView *grid, const QString &text, int width)
{
    // Digits and a sign only, each at most as wide as the widest of them, and a pixel
    // a character to spare for rounding and kerning.
    if (text.size() > 12)
        return false;
    for (QChar c : text)
        if (!(c.isDigit() && c.unicode() < 128) && c != u'-')
            return false;
    const QFont font = grid->font();
    if (font != m_numberFont) {
        m_numberFont = font;
        const QFontMetrics metrics(font);
        m_digitWidth = metrics.horizontalAdvance(u'-');
        for (char16_t d = u'0'; d <= u'9'; ++d)
            m_digitWidth = qMax(m_digitWidth, metrics.horizontalAdvance(QChar(d)));
    }
    return int(text.size()) * (m_digitWidth + 1) + 12 <= width;
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
    Reflow();
}
