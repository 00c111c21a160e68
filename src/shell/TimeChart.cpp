#include "TimeChart.h"

#include "AtomicFile.h"
#include "ChartLines.h"
#include "LookupText.h"
#include "Message.h"
#include "TrendPlot.h"
#include "Widgets.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

QIcon ColorIcon(const QColor &c)
{
    QPixmap pm(14, 14);
    pm.fill(c);
    return QIcon(pm);
}

// The value under the cursor, right-aligned after the channel's name.
class LegendDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString value = index.data(ChartLegend::kValueRole).toString();
        QStyleOptionViewItem o = option;
        const int valueWidth = value.isEmpty() ? 0 : o.fontMetrics.horizontalAdvance(value) + 8;
        o.rect.setRight(o.rect.right() - valueWidth);
        QStyledItemDelegate::paint(p, o, index);
        if (value.isEmpty())
            return;
        QRect r = option.rect;
        r.setLeft(r.right() - valueWidth);
        p->save();
        QFont bold = option.font;
        bold.setBold(true);
        p->setFont(bold);
        p->setPen(option.palette.color(QPalette::Text));
        p->drawText(r.adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter, value);
        p->restore();
    }
};

} // namespace

ChartLegend::ChartLegend(QWidget *parent) : QListWidget(parent)
{
    setItemDelegate(new LegendDelegate(this));
    setSelectionMode(QAbstractItemView::NoSelection);
    setUniformItemSizes(true); // 36 entries lay out at once
    // A click anywhere on the entry, not only on its box.
    connect(this, &QListWidget::itemClicked, this, [](QListWidgetItem *item) {
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    });
}

void ChartLegend::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && currentItem()) {
        QListWidgetItem *item = currentItem();
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return;
    }
    QListWidget::keyPressEvent(event);
}

TimeChart::TimeChart(const MemIniFile &settings, const QString &prefix, const QString &plotName,
                     QWidget *parent)
    : QWidget(parent), m_settings(settings)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_toolRow = new QHBoxLayout;
    m_autoY = named(new QCheckBox(this), QStringLiteral("CheckBox%1AutoY").arg(prefix));
    m_autoY->setChecked(true);
    m_yMin = named(new QDoubleSpinBox(this), QStringLiteral("Edit%1YMin").arg(prefix));
    m_yMax = named(new QDoubleSpinBox(this), QStringLiteral("Edit%1YMax").arg(prefix));
    for (QDoubleSpinBox *s : {m_yMin, m_yMax}) {
        s->setRange(-1000, 10000); // any scale the user wants, beyond the plausible band too
        s->setDecimals(0);
        s->setSuffix(QStringLiteral(" °C"));
        s->setKeyboardTracking(false);
        s->setEnabled(false);
    }
    m_png = named(new QPushButton(this), QStringLiteral("Button%1Png").arg(prefix));
    m_csv = named(new QPushButton(this), QStringLiteral("Button%1Csv").arg(prefix));
    m_toolRow->addStretch();
    for (QWidget *w : std::initializer_list<QWidget *>{m_autoY, m_yMin, m_yMax, m_png, m_csv})
        m_toolRow->addWidget(w);
    layout->addLayout(m_toolRow);

    m_split = new QSplitter(this);
    m_plot = named(new TrendPlot(m_split), plotName);
    auto *side = new QWidget(m_split);
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    m_legend = named(new ChartLegend(side), QStringLiteral("List%1Channels").arg(prefix));
    sideLayout->addWidget(m_legend, 1);
    auto *checks = new QHBoxLayout;
    m_checkAll = named(new QPushButton(side), QStringLiteral("Button%1CheckAll").arg(prefix));
    m_checkNone = named(new QPushButton(side), QStringLiteral("Button%1CheckNone").arg(prefix));
    checks->addWidget(m_checkAll);
    checks->addWidget(m_checkNone);
    sideLayout->addLayout(checks);
    m_split->addWidget(m_plot);
    m_split->addWidget(side);
    m_split->setStretchFactor(0, 1);
    m_split->setSizes({800, 240});
    layout->addWidget(m_split, 1);

    // A range change only marks the points stale and queues a replot; they are decimated
    // once, just before the plot draws.
    connect(m_plot, &TrendPlot::timeRangeChanged, this, &TimeChart::ScheduleRedraw);
    connect(m_plot, &QCustomPlot::beforeReplot, this, [this] {
        if (m_stale)
            Decimate();
    });
    connect(m_plot, &TrendPlot::cursorMoved, this, [this] { ShowCursorValues(); });
    connect(m_legend, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        const int key = item->data(ChartLegend::kKeyRole).toInt();
        const bool on = item->checkState() == Qt::Checked;
        if (on != shown(key))
            SetShown(key, on);
    });
    connect(m_checkAll, &QPushButton::clicked, this, [this] { SetAllShown(true); });
    connect(m_checkNone, &QPushButton::clicked, this, [this] { SetAllShown(false); });
    connect(m_autoY, &QCheckBox::toggled, this, [this] { ReadYControls(); });
    for (QDoubleSpinBox *s : {m_yMin, m_yMax})
        connect(s, &QDoubleSpinBox::valueChanged, this, [this] { ReadYControls(); });
    connect(m_png, &QPushButton::clicked, this, &TimeChart::ExportPng);
    connect(m_csv, &QPushButton::clicked, this, &TimeChart::ExportCsv);
    // Empty, it shows the last hour on the usual scale.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_plot->SetRange(now - 3600 * 1000, now);
    m_plot->FitY({});
    ShowYRange();
    ApplyCaptions();
}

QString TimeChart::Text(const char *key, const char *def) const
{
    return LookupText(m_settings, key, QString::fromUtf8(def));
}

void TimeChart::ApplyCaptions()
{
    m_plot->yAxis->setLabel(Text("n244", "Температура") + QStringLiteral(", °C"));
    m_autoY->setText(Text("n450", "Шкала авто"));
    m_autoY->setToolTip(Text("n451", "Шкала температур по показанным значениям (без недостоверных); "
                                     "снимите, чтобы задать её границы"));
    m_png->setText(QStringLiteral("PNG..."));
    m_png->setToolTip(Text("n452", "Сохранить показанную часть графика рисунком PNG"));
    m_csv->setText(QStringLiteral("CSV..."));
    m_csv->setToolTip(Text("n453", "Сохранить значения показанной части графика в файл CSV (UTF-8)"));
    m_checkAll->setText(Text("n248", "Все"));
    m_checkNone->setText(Text("n249", "Ни одного"));
    m_legend->setToolTip(Text("n454", "Щелчок по каналу скрывает или показывает его линию"));
    SetPaused(m_paused);
}

QCPGraph *TimeChart::graph(int key) const
{
    for (size_t i = 0; i < m_channels.size(); ++i)
        if (m_channels[i].key == key)
            return m_graphs[i];
    return nullptr;
}

void TimeChart::SetData(const qint64 *times, size_t n, std::vector<ChartChannel> channels,
                        qint64 maxStepMs, const std::vector<MinMaxBlocks> *blocks)
{
    bool same = channels.size() == m_channels.size();
    for (size_t i = 0; same && i < channels.size(); ++i)
        same = channels[i].key == m_channels[i].key;
    m_times = times;
    m_count = n;
    m_maxStepMs = maxStepMs;
    m_blocks = blocks;
    if (!same) {
        Rebuild(channels);
    } else {
        const QSignalBlocker quiet(m_legend);
        for (size_t i = 0; i < channels.size(); ++i)
            if (channels[i].label != m_channels[i].label) {
                m_legend->item(int(i))->setText(channels[i].label);
                m_graphs[i]->setName(channels[i].label);
            }
    }
    m_channels = std::move(channels);
}

void TimeChart::Rebuild(const std::vector<ChartChannel> &channels)
{
    m_plot->clearGraphs();
    m_graphs.clear();
    const QSignalBlocker quiet(m_legend);
    m_legend->clear();
    for (const ChartChannel &c : channels) {
        QCPGraph *g = new ChannelGraph(m_plot->xAxis, m_plot->yAxis);
        // A one-pixel pen: the raster engine draws it several times faster than a wider one.
        g->setPen(QPen(ChannelColor(c.key), c.key == m_highlighted ? 3 : 0));
        g->setName(c.label);
        g->setVisible(shown(c.key));
        m_graphs.push_back(g);
        auto *item = new QListWidgetItem(ColorIcon(ChannelColor(c.key)), c.label, m_legend);
        item->setData(ChartLegend::kKeyRole, c.key);
        // Not user-checkable: the legend's own click toggles it, on the box as on the name.
        item->setFlags(Qt::ItemIsEnabled);
        item->setCheckState(shown(c.key) ? Qt::Checked : Qt::Unchecked);
        if (!shown(c.key))
            item->setForeground(QColor(150, 150, 150));
    }
}

void TimeChart::SetShown(int key, bool on)
{
    if (on)
        m_hidden.remove(key);
    else
        m_hidden.insert(key);
    for (size_t i = 0; i < m_channels.size(); ++i) {
        if (m_channels[i].key != key)
            continue;
        m_graphs[i]->setVisible(on);
        QListWidgetItem *item = m_legend->item(int(i));
        const QSignalBlocker quiet(m_legend);
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        item->setForeground(on ? m_legend->palette().color(QPalette::Text) : QColor(150, 150, 150));
    }
    ScheduleRedraw();
}

void TimeChart::SetAllShown(bool on)
{
    if (on)
        m_hidden.clear(); // channels not drawn now included
    for (const ChartChannel &c : std::vector<ChartChannel>(m_channels))
        SetShown(c.key, on);
}

void TimeChart::SetHighlighted(int key)
{
    m_highlighted = key;
    for (size_t i = 0; i < m_channels.size(); ++i)
        m_graphs[i]->setPen(QPen(ChannelColor(m_channels[i].key), m_channels[i].key == key ? 3 : 0));
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void TimeChart::SetPaused(bool paused)
{
    m_paused = paused;
    m_plot->SetMark(paused ? Text("n455", "Пауза: новые значения не рисуются") : QString());
}

void TimeChart::ScheduleRedraw()
{
    m_stale = true;
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void TimeChart::RedrawNow()
{
    Decimate();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void TimeChart::Decimate()
{
    m_stale = false;
    const int buckets = m_plot->PlotWidth();
    const qint64 from = m_plot->from(), to = m_plot->to();
    ValueSpan drawn;
    QVector<QCPGraphData> points;
    // The channels share their times: the buckets are found once for all of them.
    const DecimationPlan plan = PlanDecimation(m_times, m_count, from, to, buckets, m_maxStepMs);
    std::vector<PlotPoint> &decimated = m_decimated;
    for (size_t c = 0; c < m_channels.size(); ++c) {
        QCPGraph *graph = m_graphs[c];
        if (!graph->visible())
            continue; // a hidden channel costs nothing
        DecimateByPlan(plan, m_times, m_channels[c].values, m_maxStepMs,
                       m_blocks && c < m_blocks->size() ? &(*m_blocks)[c] : nullptr, decimated);
        points.resize(qsizetype(decimated.size()));
        for (size_t i = 0; i < decimated.size(); ++i) {
            const PlotPoint &p = decimated[i];
            points[qsizetype(i)] = QCPGraphData(p.x / 1000.0, p.y); // NaN breaks the line
            if (p.x >= double(from) && p.x <= double(to))
                drawn.Add(p.y);
        }
        graph->data()->set(points, true);
    }
    m_plot->FitY(drawn);
    ShowYRange();
    ShowCursorValues();
}

void TimeChart::SetCursorTime(qint64 t)
{
    m_plot->SetCursorTime(t);
    ShowCursorValues();
}

void TimeChart::ShowCursorValues()
{
    const qint64 t = m_plot->cursorTime();
    const long row = t < 0 ? -1 : NearestSample(m_times, m_count, t, m_maxStepMs);
    const QSignalBlocker quiet(m_legend);
    for (size_t c = 0; c < m_channels.size() && int(c) < m_legend->count(); ++c) {
        const QString v = row < 0 || !shown(m_channels[c].key) ? QString()
                                                               : ValueText(m_channels[c].values[row]);
        m_legend->item(int(c))->setData(ChartLegend::kValueRole,
                                        v.isEmpty() ? v : v + QStringLiteral(" °C"));
    }
}

void TimeChart::ReadYControls()
{
    YAxisChoice choice;
    choice.automatic = m_autoY->isChecked();
    choice.min = m_yMin->value();
    choice.max = m_yMax->value();
    m_yMin->setEnabled(!choice.automatic);
    m_yMax->setEnabled(!choice.automatic);
    if (!choice.automatic && choice.min >= choice.max)
        return; // half-typed: the axis waits for a sensible pair
    m_plot->SetYChoice(choice);
    ShowYRange();
}

void TimeChart::ShowYRange()
{
    // In automatic mode the boxes show the range in use, the start for a manual one.
    if (!m_autoY->isChecked())
        return;
    const QSignalBlocker a(m_yMin), b(m_yMax);
    m_yMin->setValue(m_plot->yAxis->range().lower);
    m_yMax->setValue(m_plot->yAxis->range().upper);
}

QByteArray TimeChart::VisibleCsv() const
{
    std::vector<CsvColumn> columns;
    for (const ChartChannel &c : m_channels)
        if (shown(c.key))
            columns.push_back({c.label, c.values});
    return RangeCsv(Text("n456", "Время"), m_times, m_count, columns, m_plot->from(), m_plot->to());
}

bool TimeChart::SaveCsv(const QString &path, QString *error) const
{
    return WriteFileAtomically(path, VisibleCsv(), error);
}

bool TimeChart::SavePng(const QString &path, QString *error) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!m_split->grab().save(&buffer, "PNG")) {
        if (error)
            *error = QStringLiteral("PNG");
        return false;
    }
    return WriteFileAtomically(path, bytes, error);
}

void TimeChart::ExportCsv()
{
    Export(true);
}

void TimeChart::ExportPng()
{
    Export(false);
}

void TimeChart::Export(bool csv)
{
    if (m_dialog)
        m_dialog->deleteLater();
    m_dialog = new QFileDialog(this, Text("n457", "Сохранить показанную часть графика"));
    m_dialog->setObjectName(QStringLiteral("ChartExportDialog"));
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->setAcceptMode(QFileDialog::AcceptSave);
    m_dialog->setFileMode(QFileDialog::AnyFile);
    // The overwrite question is ours, asked without a nested loop.
    m_dialog->setOption(QFileDialog::DontConfirmOverwrite);
    m_dialog->setNameFilter(csv ? Text("n458", "Файлы CSV (*.csv)") : Text("n459", "Рисунки PNG (*.png)"));
    m_dialog->setDefaultSuffix(csv ? QStringLiteral("csv") : QStringLiteral("png"));
    QFileDialog *dialog = m_dialog;
    connect(dialog, &QFileDialog::finished, this, [this, dialog, csv](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty())
            return;
        const QString path = files.first();
        if (!QFileInfo::exists(path)) {
            SaveChosen(path, csv);
            return;
        }
        auto *box = new QMessageBox(QMessageBox::Warning, dialog->windowTitle(),
                                    Text("n460", "Файл %1 уже существует. Заменить его?")
                                        .arg(QDir::toNativeSeparators(path)),
                                    QMessageBox::Yes | QMessageBox::No, this);
        box->setObjectName(QStringLiteral("ChartOverwriteBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setDefaultButton(QMessageBox::No);
        connect(box, &QMessageBox::finished, this, [this, box, path, csv] {
            if (box->clickedButton() == box->button(QMessageBox::Yes))
                SaveChosen(path, csv);
        });
        box->open();
    });
    m_dialog->open();
}

void TimeChart::SaveChosen(const QString &path, bool csv)
{
    QString error;
    if (!(csv ? SaveCsv(path, &error) : SavePng(path, &error)))
        ShowMessageBox(Text("n67", "Ошибка"),
                       Text("n336", "Ошибка записи файла: ") + QDir::toNativeSeparators(path) +
                           u'\n' + error,
                       MessageIcon::Error);
}
