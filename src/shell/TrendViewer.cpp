#include "TrendViewer.h"

#include "ChartLines.h"
#include "TrendPlot.h"
#include "LookupText.h"
#include "Widgets.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

QIcon ColorIcon(const QColor &c)
{
    QPixmap pm(14, 14);
    pm.fill(c);
    return QIcon(pm);
}

} // namespace

TrendViewer::TrendViewer(const MemIniFile &settings, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings)
{
    setObjectName(QStringLiteral("TrendViewer"));
    resize(1100, 650);
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    m_open = named(new QPushButton(this), "ButtonTrendOpen");
    m_all = named(new QPushButton(this), "ButtonTrendShowAll");
    m_info = named(new QLabel(this), "LabelTrendFile");
    m_info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_open);
    row->addWidget(m_all);
    row->addWidget(m_info, 1);
    layout->addLayout(row);

    auto *split = new QSplitter(this);
    auto *side = new QWidget(split);
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    m_list = named(new QListWidget(side), "ListTrendChannels");
    sideLayout->addWidget(m_list, 1);
    auto *checks = new QHBoxLayout;
    m_checkAll = named(new QPushButton(side), "ButtonTrendCheckAll");
    m_checkNone = named(new QPushButton(side), "ButtonTrendCheckNone");
    checks->addWidget(m_checkAll);
    checks->addWidget(m_checkNone);
    sideLayout->addLayout(checks);
    m_view = named(new TrendPlot(split), "ChartViewTrend"); // the channel list is its legend
    split->addWidget(side);
    split->addWidget(m_view);
    split->setStretchFactor(1, 1);
    split->setSizes({220, 880});
    layout->addWidget(split, 1);

    // A range change only marks the points stale and queues a replot; they are decimated
    // once, just before the plot draws, however many mouse moves came in between.
    connect(m_view, &TrendPlot::timeRangeChanged, this, &TrendViewer::ScheduleRedraw);
    connect(m_view, &QCustomPlot::beforeReplot, this, [this] {
        if (m_stale)
            Decimate();
    });
    connect(m_open, &QPushButton::clicked, this, &TrendViewer::ChooseFile);
    connect(m_all, &QPushButton::clicked, this, &TrendViewer::ShowAll);
    connect(m_list, &QListWidget::itemChanged, this, &TrendViewer::ChannelToggled);
    auto checkAll = [this](bool on) {
        const QSignalBlocker quiet(m_list);
        for (int i = 0; i < m_list->count(); ++i) {
            m_list->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
            m_graphs[size_t(i)]->setVisible(on);
        }
        ScheduleRedraw();
    };
    connect(m_checkAll, &QPushButton::clicked, this, [checkAll] { checkAll(true); });
    connect(m_checkNone, &QPushButton::clicked, this, [checkAll] { checkAll(false); });
    ApplyCaptions();
}

TrendViewer::~TrendViewer() = default;

QString TrendViewer::Text(const char *key, const char *def) const
{
    return LookupText(m_settings, key, QString::fromUtf8(def));
}

void TrendViewer::ApplyCaptions()
{
    setWindowTitle(Text("n245", "Просмотр тренда"));
    m_open->setText(Text("n246", "Открыть..."));
    m_all->setText(Text("n251", "Весь файл"));
    m_checkAll->setText(Text("n248", "Все"));
    m_checkNone->setText(Text("n249", "Ни одного"));
    m_view->yAxis->setLabel(Text("n244", "Температура"));
    for (int i = 0; i < m_list->count() && i < int(m_graphs.size()); ++i) {
        m_list->item(i)->setText(ChannelName(i));
        m_graphs[size_t(i)]->setName(ChannelName(i));
    }
    m_view->replot(QCustomPlot::rpQueuedReplot);
    ShowFileInfo();
}

QString TrendViewer::ChannelName(int c) const
{
    const QString tag = m_data.tags.value(c).trimmed();
    const QString channel = Text("n253", "Канал") + u' ' + QString::number(m_data.sensors.value(c));
    return tag.isEmpty() ? channel : tag + QStringLiteral(" (") + channel + u')';
}

void TrendViewer::ShowFileInfo()
{
    if (m_path.isEmpty()) {
        m_info->clear();
        return;
    }
    m_info->setText(QDir::toNativeSeparators(m_path) + QStringLiteral(" — ") +
                    Text("n252", "Строк: ") + QString::number(m_data.rowCount()));
}

void TrendViewer::ChooseFile()
{
    if (!m_dialog) {
        m_dialog = new QFileDialog(this);
        m_dialog->setObjectName(QStringLiteral("TrendFileDialog"));
        m_dialog->setFileMode(QFileDialog::ExistingFile);
        m_dialog->setAcceptMode(QFileDialog::AcceptOpen);
        const QString trends = QDir::current().absoluteFilePath(QStringLiteral("Trends"));
        m_dialog->setDirectory(QFileInfo(trends).isDir() ? trends : QDir::currentPath());
        connect(m_dialog, &QFileDialog::fileSelected, this, [this](const QString &f) { Load(f); });
    }
    m_dialog->setWindowTitle(Text("n245", "Просмотр тренда"));
    m_dialog->setNameFilters({Text("n247", "Файлы тренда (*.txt)"), QStringLiteral("*")});
    m_dialog->open();
}

bool TrendViewer::Load(const QString &path)
{
    QString why;
    auto data = ReadTrendColumns(path, &why);
    if (!data) {
        auto *box = new QMessageBox(QMessageBox::Warning, Text("n245", "Просмотр тренда"),
                                    Text("n250", "Ошибка чтения файла тренда: ") + path +
                                        u'\n' + why,
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    m_view->clearGraphs();
    m_graphs.clear();
    m_data = std::move(*data);
    m_path = path;
    m_maxStepMs = std::max<qint64>(5 * TypicalStepMs(m_data.timesMs.data(), m_data.timesMs.size()),
                                   3000);
    m_blocks.clear();
    for (const std::vector<float> &column : m_data.values)
        m_blocks.push_back(BuildMinMaxBlocks(m_data.timesMs.data(), column.data(), column.size(),
                                             m_maxStepMs));
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    for (int c = 0; c < int(m_data.sensors.size()); ++c) {
        QCPGraph *graph = m_view->addGraph();
        // A one-pixel pen: the raster engine draws it several times faster than a wider one.
        graph->setPen(QPen(ChannelColor(c), 0));
        graph->setName(ChannelName(c));
        m_graphs.push_back(graph);
        auto *item = new QListWidgetItem(ColorIcon(ChannelColor(c)), ChannelName(c), m_list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    ShowFileInfo();
    ShowAll();
    return true;
}

void TrendViewer::ShowAll()
{
    if (m_data.timesMs.empty())
        return;
    const qint64 from = m_data.timesMs.front(), to = m_data.timesMs.back();
    m_view->SetRange(from, std::max(to, from + 60 * 1000));
    RedrawNow();
}

void TrendViewer::ChannelToggled(QListWidgetItem *item)
{
    const int c = m_list->row(item);
    if (c >= 0 && c < int(m_graphs.size()))
        m_graphs[size_t(c)]->setVisible(item->checkState() == Qt::Checked);
    ScheduleRedraw();
}

void TrendViewer::ScheduleRedraw()
{
    m_stale = true;
    m_view->replot(QCustomPlot::rpQueuedReplot);
}

void TrendViewer::RedrawNow()
{
    Decimate();
    m_view->replot(QCustomPlot::rpQueuedReplot);
}

void TrendViewer::Decimate()
{
    m_stale = false;
    if (m_data.timesMs.empty())
        return;
    const int buckets = m_view->PlotWidth();
    const qint64 from = m_view->from(), to = m_view->to();
    double low = qInf(), high = -qInf();
    QVector<QCPGraphData> shown;
    for (size_t c = 0; c < m_graphs.size(); ++c) {
        QCPGraph *graph = m_graphs[c];
        if (!graph->visible())
            continue; // a hidden channel costs nothing
        const std::vector<PlotPoint> points =
            DecimateMinMax(m_data.timesMs.data(), m_data.values[c].data(), m_data.timesMs.size(),
                           from, to, buckets, m_maxStepMs, &m_blocks[c]);
        shown.resize(qsizetype(points.size()));
        for (size_t i = 0; i < points.size(); ++i) {
            const PlotPoint &p = points[i];
            shown[qsizetype(i)] = QCPGraphData(p.x / 1000.0, p.y); // NaN breaks the line
            if (!p.isBreak() && p.x >= double(from) && p.x <= double(to)) {
                low = std::min(low, p.y);
                high = std::max(high, p.y);
            }
        }
        graph->data()->set(shown, true);
    }
    m_view->FitY(low, high);
}
