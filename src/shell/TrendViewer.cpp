#include "TrendViewer.h"

#include "ChartLines.h"
#include "HistoryRangeDialog.h"
#include "HistoryStore.h"
#include "HistoryViewTexts.h"
#include "ReadingsGrid.h"
#include "SaveAsk.h"
#include "LookupText.h"
#include "TimeChart.h"
#include "TrendPlot.h"
#include "Widgets.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

TrendViewer::TrendViewer(const MemIniFile &settings, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings)
{
    setObjectName(QStringLiteral("TrendViewer"));
    resize(1100, 650);
    auto *layout = new QVBoxLayout(this);
    m_chart = new TimeChart(settings, QStringLiteral("Trend"), QStringLiteral("ChartViewTrend"), this);
    m_open = named(new QPushButton(this), "ButtonTrendOpen");
    m_all = named(new QPushButton(this), "ButtonTrendShowAll");
    m_history = named(new QPushButton(this), "ButtonTrendFromHistory");
    m_history->setVisible(false); // until a store is given
    m_info = named(new QLabel(this), "LabelTrendFile");
    m_info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_info->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // a long path is cut
    m_chart->toolRow()->insertWidget(0, m_open);
    m_chart->toolRow()->insertWidget(1, m_all);
    m_chart->toolRow()->insertWidget(2, m_history);
    m_chart->toolRow()->insertWidget(3, m_info, 1);
    layout->addWidget(m_chart, 1);
    connect(m_open, &QPushButton::clicked, this, &TrendViewer::ChooseFile);
    connect(m_all, &QPushButton::clicked, this, &TrendViewer::ShowAll);
    connect(m_history, &QPushButton::clicked, this, &TrendViewer::ChooseHistoryRange);
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
    m_history->setText(LookupText(m_settings, Msg::n610));
    if (m_historyDialog)
        m_historyDialog->ApplyCaptions();
    m_chart->ApplyCaptions();
    if (!m_data.timesMs.empty())
        SetChannels(false); // the channel names follow the language
    ShowFileInfo();
}

const std::vector<QCPGraph *> &TrendViewer::graphs() const
{
    return m_chart->graphs();
}

TrendPlot *TrendViewer::view() const
{
    return m_chart->plot();
}

QListWidget *TrendViewer::channelList() const
{
    return m_chart->legend();
}

void TrendViewer::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QString TrendViewer::ChannelName(int c) const
{
    return ChannelLabel(m_data.tags.value(c),
                        Text("n253", "Канал") + u' ' + QString::number(m_data.sensors.value(c)));
}

void TrendViewer::ShowFileInfo()
{
    if (m_historyTo > m_historyFrom) {
        const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
        m_info->setText(LookupText(m_settings, Msg::n615) +
                        QDateTime::fromMSecsSinceEpoch(m_historyFrom).toString(format) +
                        QStringLiteral(" — ") +
                        QDateTime::fromMSecsSinceEpoch(m_historyTo).toString(format) +
                        QStringLiteral(" — ") + Text("n252", "Строк: ") +
                        QString::number(m_data.rowCount()));
        return;
    }
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
    m_data = std::move(*data);
    m_path = path;
    m_historyFrom = m_historyTo = 0;
    m_maxStepMs = std::max<qint64>(5 * TypicalStepMs(m_data.timesMs.data(), m_data.timesMs.size()),
                                   3000);
    ShowLoaded();
    return true;
}

void TrendViewer::ShowLoaded()
{
    m_blocks.clear();
    for (const std::vector<float> &column : m_data.values)
        m_blocks.push_back(BuildMinMaxBlocks(m_data.timesMs.data(), column.data(), column.size(),
                                             m_maxStepMs));
    SetChannels(true);
    ShowFileInfo();
    ShowAll();
}

void TrendViewer::SetHistory(HistoryStore *store, std::function<int()> controller)
{
    m_store = store;
    m_controller = std::move(controller);
    m_history->setVisible(store != nullptr);
}

int TrendViewer::HistoryController() const
{
    const int controller = m_controller ? m_controller() : 0;
    return m_store ? m_store->ControllerOrNewest(controller) : controller;
}

void TrendViewer::ChooseHistoryRange()
{
    if (!m_store)
        return;
    if (!m_historyDialog) {
        m_historyDialog = new HistoryRangeDialog(m_settings, this);
        connect(m_historyDialog, &HistoryRangeDialog::showWanted, this,
                [this](qint64 from, qint64 to) { LoadHistory(from, to); });
        connect(m_historyDialog, &HistoryRangeDialog::trendWanted, this,
                &TrendViewer::ExportHistoryTrend);
        connect(m_historyDialog, &HistoryRangeDialog::csvWanted, this,
                &TrendViewer::ExportHistoryCsv);
    }
    m_historyDialog->open();
}

bool TrendViewer::LoadHistory(qint64 fromMs, qint64 toMs)
{
    const int controller = HistoryController();
    ReadingsGrid grid;
    if (m_store && controller > 0)
        grid = BuildReadingsGrid(m_store->SensorReadings(controller, fromMs, toMs), fromMs, toMs);
    if (grid.sensors.empty()) {
        auto *box = new QMessageBox(QMessageBox::Information, LookupText(m_settings, Msg::n611),
                                    LookupText(m_settings, Msg::n616), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("HistoryEmptyBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    TrendColumns data;
    for (int sensor : grid.sensors) {
        data.sensors.append(sensor);
        data.tags.append(QString());
    }
    data.timesMs = std::move(grid.timesMs);
    data.values = std::move(grid.values);
    m_data = std::move(data);
    m_path.clear();
    m_historyFrom = fromMs;
    m_historyTo = toMs;
    // Gaps are samples of their own in the store's readings: only they break a line.
    m_maxStepMs = ReadingsGrid::kGapMs;
    ShowLoaded();
    return true;
}

void TrendViewer::ExportHistoryTrend(qint64 fromMs, qint64 toMs)
{
    if (!m_store)
        return;
    const int controller = HistoryController();
    const QString proposed =
        QDateTime::fromMSecsSinceEpoch(fromMs).toString(QStringLiteral("dd_MM_yy____HH_mm_ss")) +
        QStringLiteral(".txt");
    m_exportDialog = AskFileToWrite(
        this, m_settings, QStringLiteral("HistoryExportDialog"), LookupText(m_settings, Msg::n613),
        Text("n247", "Файлы тренда (*.txt)"), QStringLiteral("txt"), proposed,
        [this, controller, fromMs, toMs](const QString &path, QString *error) {
            m_store->Flush(); // the last cycles too
            return ExportReadingsTrend(*m_store, controller, fromMs, toMs, m_settings, path, error);
        });
}

void TrendViewer::ExportHistoryCsv(qint64 fromMs, qint64 toMs)
{
    if (!m_store)
        return;
    const int controller = HistoryController();
    m_exportDialog = AskFileToWrite(
        this, m_settings, QStringLiteral("HistoryExportDialog"), LookupText(m_settings, Msg::n614),
        Text("n458", "Файлы CSV (*.csv)"), QStringLiteral("csv"), QStringLiteral("readings.csv"),
        [this, controller, fromMs, toMs](const QString &path, QString *error) {
            m_store->Flush();
            return ExportReadingsCsv(*m_store, controller, fromMs, toMs, path, error);
        });
}

void TrendViewer::SetChannels(bool newFile)
{
    std::vector<ChartChannel> channels;
    for (int c = 0; c < int(m_data.sensors.size()); ++c)
        channels.push_back({c, ChannelName(c), m_data.values[size_t(c)].data()});
    if (newFile) // every channel shown
        m_chart->SetAllShown(true);
    m_chart->SetData(m_data.timesMs.data(), m_data.timesMs.size(), std::move(channels),
                     m_maxStepMs, &m_blocks);
    m_chart->ScheduleRedraw();
}

void TrendViewer::ShowAll()
{
    if (m_data.timesMs.empty())
        return;
    const qint64 from = m_data.timesMs.front(), to = m_data.timesMs.back();
    m_chart->plot()->SetRange(from, std::max(to, from + 60 * 1000));
    RedrawNow();
}

void TrendViewer::RedrawNow()
{
    m_chart->RedrawNow();
}
