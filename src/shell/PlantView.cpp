#include "PlantView.h"

#include "MqttFeed.h"
#include "MqttSettings.h"

#include "LookupText.h"
#include "Main.h"
#include "MainState.h"
#include "Message.h"
#include "Plant.h"
#include "PlantDialog.h"
#include "PlantViewTexts.h"
#include "PollCycle.h"
#include "Psw.h"
#include "SensorTags.h"
#include "ShellTexts.h"
#include "Widgets.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kCaption = QStringLiteral("Velmaris ") + QStringLiteral("150.724");
const QColor kGrey(191, 205, 219);
const QColor kLime(0, 255, 0);

QString PlantPath() { return QDir::current().filePath(QString::fromLatin1(kPlantFileName)); }

// Summary fields of the count columns.
const std::vector<int> *CountOf(const PlantSummary &s, int col)
{
    switch (col) {
    case PlantView::ColOver1: return &s.overThreshold1;
    case PlantView::ColOver2: return &s.overThreshold2;
    case PlantView::ColNoPower: return &s.noPower;
    case PlantView::ColFaulty: return &s.faulty;
    default: return nullptr;
    }
}

} // namespace

PlantView::PlantView(QWidget *parent)
    : QMainWindow(parent), m_settings(QStringLiteral("start.ini"))
{
    setObjectName(QStringLiteral("PlantView"));
    m_toolBar = named(addToolBar(QStringLiteral("PlantToolBar")), "PlantToolBar");
    m_toolBar->setMovable(false);
    m_plantButton = named(new QToolButton(m_toolBar), "ToolButtonPlant");
    m_plantButton->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    m_plantButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolBar->addWidget(m_plantButton);
    connect(m_plantButton, &QToolButton::clicked, this, &PlantView::ToolButtonPlantClick);

    auto *central = new QWidget(this);
    auto *top = new QVBoxLayout(central);
    m_problem = named(new QLabel(central), "LabelPlantProblem");
    m_problem->setWordWrap(true);
    m_problem->hide();
    top->addWidget(m_problem);
    BuildTable();
    top->addWidget(m_table, 1);
    setCentralWidget(central);
    setStatusBar(named(new QStatusBar(this), "PlantStatusBar"));
    m_mqttStatus = named(new QLabel(statusBar()), "StatusBarMqtt");
    statusBar()->addWidget(m_mqttStatus);
    m_mqttStatus->hide();
    ApplyCaptions();
    resize(1280, 420);
}

PlantView::~PlantView() { StopPlant(); }

QString PlantView::Text(const TextKey &key) const { return LookupText(m_settings, key); }

void PlantView::BuildTable()
{
    m_table = named(new QTableWidget(0, ColumnCount, this), "PlantTable");
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    QFont f = m_table->font();
    f.setPointSize(f.pointSize() + 2);
    m_table->setFont(f);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { OpenController(row); });
    connect(m_table, &QTableWidget::cellClicked, this, &PlantView::ShowSensorList);
}

void PlantView::ApplyCaptions()
{
    setWindowTitle(Text(Msg::n660) + QStringLiteral(" — ") + kCaption);
    m_table->setHorizontalHeaderLabels({Text(Msg::n661), Text(Msg::n662), Text(Msg::n663),
                                        Text(Msg::n664), Text(Msg::n665), Text(Msg::n666),
                                        Text(Msg::n667), Text(Msg::n668), Text(Msg::n669),
                                        Text(Msg::n670), Text(Msg::n671)});
    m_plantButton->setText(Text(Msg::n672));
    m_plantButton->setToolTip(Text(Msg::n672));
    if (m_dialog)
        m_dialog->ApplyCaptions();
}

void PlantView::ShowProblem(const QString &text)
{
    m_problem->setText(text);
    m_problem->setVisible(!text.isEmpty());
}

void PlantView::Start(std::optional<bool> fullAccess)
{
    if (fullAccess) {
        m_fullAccess = *fullAccess;
        OpenPlant();
        return;
    }
    // Asked before polling starts; the controllers' windows take the access it gives.
    auto *password = new TForm3(this);
    password->ApplyLanguage([this](const TextKey &key) { return Text(key); });
    connect(password, &QDialog::finished, this, [this, password] {
        m_fullAccess = password->accessLevel == 1 || password->accessLevel == 2;
        password->deleteLater();
        OpenPlant();
    });
    password->open();
}

void PlantView::OpenPlant()
{
    if (!QFile::exists(PlantPath())) {
        ShowProblem(Text(Msg::n673));
        ToolButtonPlantClick(); // offered at once
        return;
    }
    PlantConfig config;
    QString error;
    if (!ReadPlant(PlantPath(), m_settings, QDir::currentPath(), config, error)) {
        ShowProblem(error);
        return;
    }
    StartPlant(config);
}

void PlantView::StartPlant(const PlantConfig &config)
{
    ShowProblem(QString());
    m_plant = std::make_unique<Plant>(QDir::currentPath(), config);
    m_plant->setHistory(true);
    connect(m_plant.get(), &Plant::controllerUpdated, this, &PlantView::ShowRow);
    QString error;
    if (!m_plant->Start(error))
        ShowProblem(error);
    // The controllers exist once started (up to the one whose folder failed).
    m_windows.assign(size_t(m_plant->size()), nullptr);
    m_table->setRowCount(m_plant->size());
    for (int i = 0; i < m_plant->size(); ++i)
        ShowRow(i);
    m_table->resizeColumnsToContents();
    FitWidthToTable();
    StartMqtt();
}

void PlantView::StartMqtt()
{
    m_mqtt.reset();
    m_mqttStatus->clear();
    m_mqttStatus->hide();
    const MqttSettings s = MqttSettingsFrom(m_settings);
    if (!s.enabled || !m_plant || m_plant->size() == 0)
        return;
    m_mqtt = std::make_unique<MqttPlantFeeds>(*m_plant, s);
    connect(m_mqtt.get(), &MqttPlantFeeds::stateChanged, this,
            [this](int i, int, const QString &text) {
                const QString line = m_plant && i < m_plant->size()
                                         ? m_plant->config().controllers[size_t(i)].name +
                                               QStringLiteral(": ") + text
                                         : text;
                m_mqttStatus->setText(line);
                m_mqttStatus->setToolTip(line);
            });
    m_mqttStatus->show();
    QString error;
    if (!m_mqtt->Start(error)) { // polling goes on without it
        m_mqtt.reset();
        m_mqttStatus->setText(error);
        m_mqttStatus->setToolTip(error);
    }
}

// Every column in view without a sideways scroll bar, as far as the screen allows, also
// when a longer link text widens its column; the window only grows here, never shrinks.
void PlantView::FitWidthToTable()
{
    const QMargins m = centralWidget()->layout()->contentsMargins();
    const int want = m_table->horizontalHeader()->length() + 2 * m_table->frameWidth() +
                     m_table->verticalScrollBar()->sizeHint().width() + m.left() + m.right();
    const int room = screen() ? screen()->availableGeometry().width() : want;
    if (width() < want)
        resize(qMin(want, room), height());
}

void PlantView::StopPlant()
{
    // The windows go before the plant whose controllers they are attached to.
    for (QPointer<TForm1> &w : m_windows)
        delete w.data(); // Releases its controller
    m_windows.clear();
    for (QPointer<TForm1> &w : m_closed)
        delete w.data();
    m_closed.clear();
    m_opening.clear();
    if (m_sensorPopup)
        m_sensorPopup->close();
    m_mqtt.reset(); // its feeds follow the plant's engines
    m_plant.reset();
    m_table->setRowCount(0);
}

void PlantView::Restart(const PlantConfig &config)
{
    StopThen([this, config] {
        StopPlant();
        StartPlant(config);
    });
}

// Handlers run inside a step's waits. Taking an engine away (a window going) or handing one
// over waits for the step to end: the plant's report of it comes after its last use of the
// engine. A timer, not a posted call: the plant's steps are posted calls, and one posted
// call cannot wait for the next.
void PlantView::BetweenSteps(const std::function<void()> &what)
{
    QTimer::singleShot(1, this, [this, what] {
        if (!m_plant || !m_plant->StepRunning()) {
            what();
            return;
        }
        connect(m_plant.get(), &Plant::controllerUpdated, this, [what] { what(); },
                Qt::SingleShotConnection);
    });
}

// Stopping the plant from inside a step only ends its transaction; the step unwinds, then
// the plant stops for good and what follows runs.
void PlantView::StopThen(const std::function<void()> &what)
{
    QTimer::singleShot(1, this, [this, what] {
        if (m_plant) {
            m_plant->Stop();
            if (m_plant->StepRunning()) {
                StopThen(what);
                return;
            }
        }
        what();
    });
}

void PlantView::ShowRow(int i)
{
    if (!m_plant || i < 0 || i >= m_plant->size() || i >= m_table->rowCount())
        return;
    PlantController &c = m_plant->controller(i);
    const PlantSummary s = c.summary();
    auto set = [&](int col, const QString &text) {
        QTableWidgetItem *item = m_table->item(i, col);
        if (!item) {
            item = new QTableWidgetItem;
            m_table->setItem(i, col, item);
        }
        if (item->text() != text) {
            item->setText(text);
            // The link's text and the device come and go; the rest keeps its width.
            if (col == ColLink || col == ColDevice) {
                m_table->resizeColumnToContents(col);
                FitWidthToTable();
            }
        }
        return item;
    };
    set(ColName, c.entry().name)->setToolTip(c.entry().port + QStringLiteral(", ") +
                                             Text(Msg::n683) + u' ' + QString::number(c.entry().address));
    QTableWidgetItem *lamp = set(ColLink, s.linkUp ? LookupText(m_settings, "n7", QStringLiteral("Модуль на связи"))
                                                   : s.linkText);
    lamp->setData(Qt::DecorationRole, s.linkUp ? kLime : kGrey);
    lamp->setToolTip(lamp->text());
    set(ColDevice, s.firmware.isEmpty() ? QString()
                                        : QStringLiteral("%1, %2").arg(s.deviceCode).arg(s.firmware));
    set(ColRegistered, s.firmware.isEmpty() ? QString() : QString::number(s.registered));
    set(ColHottest, s.hottest > 0 ? QStringLiteral("%1: %2").arg(s.hottest).arg(s.hottestTemp)
                                  : QString());
    for (int col : {ColOver1, ColOver2, ColNoPower, ColFaulty}) {
        const std::vector<int> &list = *CountOf(s, col);
        QTableWidgetItem *item = set(col, s.firmware.isEmpty() ? QString() : QString::number(list.size()));
        item->setToolTip(SensorListText(i, list));
        item->setForeground(list.empty() ? palette().text() : QBrush(QColor(200, 0, 0)));
    }
    QString updated;
    if (s.lastUpdateMs > 0) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(s.lastUpdateMs).toLocalTime();
        updated = t.date() == QDate::currentDate() ? t.toString(QStringLiteral("HH:mm:ss"))
                                                   : t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    }
    set(ColUpdated, updated);
    set(ColAlarms, s.alarms < 0 ? QString() : QString::number(s.alarms));
    // Values read before the link went stay, greyed: they are no longer live.
    if (!s.linkUp)
        for (int col = ColDevice; col < ColumnCount; ++col)
            m_table->item(i, col)->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
    else
        for (int col : {ColDevice, ColRegistered, ColHottest, ColUpdated, ColAlarms})
            m_table->item(i, col)->setForeground(palette().text());
}

// One line per sensor: its number and, where its tag has been read, the tag.
QString PlantView::SensorListText(int row, const std::vector<int> &sensors) const
{
    QStringList lines;
    PlantController &c = m_plant->controller(row);
    const auto &tags = c.cycle().sensorTagRecords;
    const int tagSize = c.state().registerMap.QOR_SENSOR_TAG_SIZE;
    for (int n : sensors) {
        QString line = Text(Msg::n674) + u' ' + QString::number(n);
        if (n >= 1 && n <= int(tags.size()) && tags[size_t(n - 1)].registerCount > 0) {
            const QString tag = SensorTagText(tags[size_t(n - 1)].values, tagSize).trimmed();
            if (!tag.isEmpty())
                line += QStringLiteral(" — ") + tag;
        }
        lines << line;
    }
    return lines.join(u'\n');
}

void PlantView::ShowSensorList(int row, int col)
{
    if (!m_plant || row < 0 || row >= m_plant->size())
        return;
    const PlantSummary summary = m_plant->controller(row).summary();
    const std::vector<int> *list = CountOf(summary, col);
    if (!list || list->empty())
        return;
    if (m_sensorPopup)
        m_sensorPopup->close();
    auto *popup = named(new QListWidget(this), "PlantSensorList");
    popup->setWindowFlags(Qt::Popup);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->addItems(SensorListText(row, *list).split(u'\n'));
    const QRect cell = m_table->visualItemRect(m_table->item(row, col));
    popup->move(m_table->viewport()->mapToGlobal(cell.bottomLeft()));
    popup->resize(qMax(220, popup->sizeHintForColumn(0) + 24),
                  qMin(400, popup->sizeHintForRow(0) * popup->count() + 8));
    popup->show();
    m_sensorPopup = popup;
}

PlantDialog *PlantView::dialog() { return m_dialog; }

QListWidget *PlantView::sensorList() { return qobject_cast<QListWidget *>(m_sensorPopup.data()); }

TForm1 *PlantView::controllerWindow(int i)
{
    return i >= 0 && i < int(m_windows.size()) ? m_windows[size_t(i)].data() : nullptr;
}

void PlantView::OpenController(int i)
{
    if (!m_plant || i < 0 || i >= m_plant->size())
        return;
    if (TForm1 *open = controllerWindow(i)) {
        open->showNormal();
        open->raise();
        open->activateWindow();
        return;
    }
    if (m_opening.contains(i))
        return;
    // Shown, the window takes the controller over: between steps.
    m_opening.insert(i);
    BetweenSteps([this, i] {
        m_opening.remove(i);
        if (!m_plant || i >= m_plant->size() || controllerWindow(i))
            return;
        auto *w = new TForm1(m_plant->controller(i), m_plant->store(), m_fullAccess);
        m_windows[size_t(i)] = w;
        connect(w, &TForm1::PlantWindowClosed, this, [this, w, i] {
            if (controllerWindow(i) == w)
                m_windows[size_t(i)] = nullptr;
            m_closed.append(w);
            BetweenSteps([this, closed = QPointer<TForm1>(w)] {
                m_closed.removeAll(closed);
                delete closed.data();
            });
        });
        w->RestoreWindowGeometry();
        w->ShowAsStored();
    });
}

void PlantView::ToolButtonPlantClick()
{
    if (!m_dialog) {
        m_dialog = new PlantDialog(m_settings, QDir::currentPath(), this);
        connect(m_dialog, &PlantDialog::PlantWritten, this, &PlantView::Restart);
        m_dialog->testConnection = [this](const PlantEntry &e, std::function<void(const QString &)> done) {
            TestConnection(e, std::move(done));
        };
    }
    m_dialog->Edit(m_plant ? m_plant->config() : PlantConfig{});
}

void PlantView::closeEvent(QCloseEvent *event)
{
    if (m_plant && !m_stopped) {
        event->ignore();
        StopThen([this] {
            m_stopped = true;
            close();
        });
        return;
    }
    StopPlant();
    event->accept();
}

// A controller of the running plant answers on its next step through the bus; the line
// shows what that step found.
void PlantView::TestConnection(const PlantEntry &e, std::function<void(const QString &)> done)
{
    auto report = [this](const PlantSummary &s) {
        if (s.linkUp)
            return LookupText(m_settings, "n7", QStringLiteral("Модуль на связи")) + QStringLiteral(": ") +
                   QStringLiteral("%1, %2").arg(s.deviceCode).arg(s.firmware);
        return Text(Msg::n689) + s.linkText;
    };
    for (int i = 0; m_plant && i < m_plant->size(); ++i) {
        PlantController &c = m_plant->controller(i);
        if (BusKey(c.entry().port) != BusKey(e.port) || c.entry().address != e.address)
            continue;
        connect(&c, &PlantController::updated, this,
                [&c, done, report] { done(report(c.summary())); }, Qt::SingleShotConnection);
        return;
    }
    done(Text(Msg::n689) + e.port);
}
