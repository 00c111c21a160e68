#include "Main.h"

#include "AlarmDisplay.h"
#include "ConnectSettingsPage.h"
#include "Conpar.h"
#include "Desktop.h"
#include "EventsView.h"
#include "FrameLogView.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "HistoryViewTexts.h"
#include "MqttBridge.h"
#include "MqttDialog.h"
#include "MqttFeed.h"
#include "MqttSettings.h"
#include "GridView.h"
#include "LinkProblemBanner.h"
#include "LinkStatisticsView.h"
#include "ChartLines.h"
#include "LiveChart.h"
#include "MainState.h"
#include "Plant.h"
#include "Message.h"
#include "PollCycle.h"
#include "ProfilesPage.h"
#include "Psw.h"
#include "QorThread.h"
#include "QtLanguage.h"
#include "RelaySettingsPage.h"
#include "SensorDataPage.h"
#include "SensorLook.h"
#include "SensorSettingsPage.h"
#include "SensorTags.h"
#include "ShellTexts.h"
#include "TrendViewer.h"
#include "Shape.h"
#include "Unitqorselectdlg.h"
#include "Widgets.h"

#include <QApplication>
#include <QButtonGroup>
#include <QScreen>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

namespace {

const QString kCaption = QStringLiteral("Velmaris ") + QStringLiteral("150.724");
const QColor kGrey(191, 205, 219); // the inactive-caption grey of the desktop
const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);

// A small curve over axes; with sheet, drawn on a page (a file to look at).
QIcon ChartIcon(bool sheet)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (sheet) {
        p.setPen(QPen(QColor(90, 90, 90), 1.5));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 2.5, 23, 27));
    }
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.drawLine(QPointF(7, 5), QPointF(7, 26));
    p.drawLine(QPointF(7, 26), QPointF(27, 26));
    p.setPen(QPen(QColor(220, 60, 30), 2.5));
    const QPointF curve[] = {{9, 21}, {13, 14}, {17, 18}, {21, 9}, {26, 12}};
    p.drawPolyline(curve, 5);
    return QIcon(pm);
}

// A question mark in a circle: the style's own help icon is missing in some styles.
QIcon HelpIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 90, 170), 2));
    p.setBrush(QColor(225, 236, 250));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    QFont f = p.font();
    f.setPixelSize(20);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
    return QIcon(pm);
}

// A point sending out waves: the readings going out to a broker.
QIcon MqttIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 120, 70));
    p.drawEllipse(QPointF(8, 24), 3.5, 3.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(40, 120, 70), 2.5, Qt::SolidLine, Qt::RoundCap));
    for (int r : {9, 15, 21})
        p.drawArc(QRectF(8 - r, 24 - r, 2 * r, 2 * r), 0, 90 * 16);
    return QIcon(pm);
}

} // namespace

TForm1::TForm1(QWidget *parent) : QMainWindow(parent)
{
    m_state = std::make_unique<MainState>(*this); // FormCreate: start.ini, default.ini
    Build();
}

TForm1::TForm1(PlantController &controller, HistoryStore *store, bool fullAccess, QWidget *parent)
    : QMainWindow(parent), m_store(store), m_plantController(&controller)
{
    m_fullAccess = fullAccess;
    m_state = std::make_unique<MainState>(*this, controller.place());
    Build();
}

QString TForm1::Caption() const
{
    return m_plantController ? m_plantController->entry().name + QStringLiteral(" — ") + kCaption
                             : kCaption;
}

void TForm1::Build()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption());
    m_cycle = std::make_unique<PollCycle>(*m_state);
    // The selection dialog names nothing the window names; the other two dialogs come after
    // the window's own widgets, so that a search by name finds the window's Label1 first.
    m_select = new TFormQorSelectSensors(this);

    BuildToolBar();
    // A plant's controller is on the port plant.ini gives it (the plant dialog).
    if (m_plantController)
        ToolButton1->setEnabled(false);
    ShowLanguagePair();
    ShowShortcutsInHints();
    auto *bar = named(new QStatusBar(this), "StatusBar1");
    // Design widths 600, 500, 100, 100; the last panel (the version line) takes the rest
    // so that it is never cut off.
    const int stretch[4] = {6, 5, 0, 3};
    const int minimum[4] = {200, 160, 150, 300};
    for (int i = 0; i < 4; ++i) {
        StatusBar1Panel[i] = named(new QLabel(bar), QStringLiteral("StatusBar1Panel%1").arg(i));
        StatusBar1Panel[i]->setMinimumWidth(minimum[i]);
        StatusBar1Panel[i]->setFrameShape(QFrame::StyledPanel);
        bar->addWidget(StatusBar1Panel[i], stretch[i]);
    }
    setStatusBar(bar);
    // The history of this window's controller, history.sqlite in the working folder. What
    // keeps it from writing is told once in the status bar; polling goes on regardless.
    // A plant's window writes to the plant's store, which the plant opened.
    if (!m_plantController) {
        m_historyStore = std::make_unique<HistoryStore>(QDir::currentPath(),
                                                        HistoryLimitsFrom(m_state->settingsIni));
        m_store = m_historyStore.get();
    }
    m_historyProblem = named(new QLabel(bar), "StatusBarHistoryProblem");
    m_historyProblem->setFrameShape(QFrame::StyledPanel);
    bar->addWidget(m_historyProblem);
    m_mqttStatus = named(new QLabel(bar), "StatusBarMqtt");
    m_mqttStatus->setFrameShape(QFrame::StyledPanel);
    bar->addWidget(m_mqttStatus);
    m_mqttStatus->hide();
    auto showHistoryProblem = [this](const QString &text) {
        m_historyProblem->setText(text);
        m_historyProblem->setVisible(!text.isEmpty());
    };
    if (m_historyStore)
        m_historyStore->setTexts(&m_state->settingsIni);
    if (m_store)
        connect(m_store, &HistoryStore::problemChanged, this, showHistoryProblem);
    if (m_historyStore)
        m_historyStore->Open();
    if (m_store)
        showHistoryProblem(m_store->problem());
    else
        showHistoryProblem(QString());
    // A plant keeps the history of whichever engine it steps: this one's once attached.
    if (m_historyStore) {
        m_history = std::make_unique<HistoryService>(*m_store, *m_state, *m_cycle);
        m_historyInUse = m_history.get();
    }
    m_alarmLine = new QLabel(bar);
    bar->addPermanentWidget(m_alarmLine, 10);
    m_alarms = new AlarmDisplay(*m_state, *ToolButtonEvents, *m_alarmLine, this);
    m_alarms->Attach(m_store, m_historyInUse);
    connect(m_alarms, &AlarmDisplay::eventsWanted, this, &TForm1::ToolButtonEventsClick);
    connect(m_alarms, &AlarmDisplay::quitWanted, this, &QWidget::close);
    connect(m_alarms, &AlarmDisplay::windowWanted, this, [this] {
        showNormal();
        raise();
        activateWindow();
    });

    auto *central = new QWidget(this);
    auto *top = new QVBoxLayout(central);
    auto *lampRow = new QHBoxLayout;
    Shape1 = new Shape(QStringLiteral("Shape1"), central);
    Shape1->setColor(kGrey);
    Label1 = named(new QLabel(central), "Label1");
    ShowLampLabel(); // grey: no module yet
    Label12 = named(new QLabel(central), "Label12");
    Panel10 = named(new QLabel(central), "Panel10");
    Panel10->setFrameShape(QFrame::Panel);
    Panel10->setFrameShadow(QFrame::Raised);
    Panel10->setAlignment(Qt::AlignCenter);
    Panel10->setMinimumWidth(420);
    QFont big = Panel10->font();
    big.setPointSize(14);
    big.setBold(true);
    Panel10->setFont(big);
    Panel10->hide();
    lampRow->addWidget(Shape1);
    lampRow->addWidget(Label1);
    lampRow->addStretch();
    lampRow->addWidget(Panel10);
    lampRow->addStretch();
    lampRow->addWidget(Label12);
    top->addLayout(lampRow);
    m_linkProblem = new LinkProblemBanner(m_state->settingsIni, central);
    top->addWidget(m_linkProblem);

    auto *body = new QHBoxLayout;
    auto *side = new QVBoxLayout;
    GroupBox26 = named(new QGroupBox(QStringLiteral("Состояние реле "), central), "GroupBox26");
    StringGridQorRelay = new GridView("StringGridQorRelay", m_state->qorRelay, GroupBox26);
    QFont relayFont = StringGridQorRelay->font();
    relayFont.setPixelSize(16);
    StringGridQorRelay->setFont(relayFont);
    StringGridQorRelay->setDefaultColumnWidth(80);
    StringGridQorRelay->setFixedWidth(166);
    StringGridQorRelay->setSelectionMode(QAbstractItemView::NoSelection);
    StringGridQorRelay->setCellPainter([this](QPainter *p, const QRect &rect, int col, int row) {
        // StringGridQorRelayDrawCell: a lamp over the state while the link is up.
        if (!m_state->linkUp || col == 0)
            return;
        const bool on = row < 16 && (m_state->relayStateWord >> row & 1);
        p->fillRect(rect, on ? kRed : kGrey);
    });
    StringGridQorRelay->setCellLooks([this](int col, int, bool) {
        GridView::CellLook look; // a state read before the link went is greyed
        if (col == 1 && !m_lampOnline) {
            look.background = SensorLook::StaleBackground(StringGridQorRelay->palette());
            look.text = SensorLook::StaleText(StringGridQorRelay->palette());
        }
        return look;
    });
    (new QVBoxLayout(GroupBox26))->addWidget(StringGridQorRelay);
    side->addWidget(GroupBox26);
    GroupBox4 = named(new QGroupBox(QStringLiteral("Дискретные входы"), central), "GroupBox4");
    GroupBox5 = named(new QGroupBox(QStringLiteral("Дискретные выходы"), central), "GroupBox5");
    side->addWidget(GroupBox4);
    side->addWidget(GroupBox5);
    side->addStretch();
    body->addLayout(side);

    PageControlQOR = named(new QTabWidget(central), "PageControlQOR");
    BuildPages();
    body->addWidget(PageControlQOR, 1);
    top->addLayout(body, 1);
    setCentralWidget(central);

    m_conpar = new TConparDlg(m_state->settingsIni, this);
    connect(m_conpar, &TConparDlg::SettingsStored, this, &TForm1::ConparSettingsStored);
    m_mqttDialog = new MqttDialog(m_state->settingsIni, this);
    m_mqttDialog->save = [this] { return m_state->SaveSettings(); };
    connect(m_mqttDialog, &MqttDialog::SettingsWritten, this, &TForm1::StartMqtt);
    connect(m_linkProblem, &LinkProblemBanner::SettingsClicked, this, &TForm1::ToolButton1Click);
    m_password = new TForm3(this);
    // The captions of the language in use from the start, the password dialog's included.
    ApplyCaptions();
}

void TForm1::BuildPages()
{
    MainState &s = *m_state;
    TabSheetSensorData = new SensorDataPage(s, *m_cycle);
    TabSheetSensorSettings = new SensorSettingsPage(s, *m_select);
    TabSheetRelaySettings = new RelaySettingsPage(s);
    TabSheetConnectSettings = new ConnectSettingsPage(s);
    TabSheetProfiles = new ProfilesPage(s, *TabSheetSensorSettings, *TabSheetRelaySettings,
                                        *TabSheetConnectSettings);
    PageControlQOR->addTab(TabSheetSensorData, QStringLiteral("Данные датчиков"));
    PageControlQOR->addTab(TabSheetSensorSettings, QStringLiteral("Настройки датчиков"));
    PageControlQOR->addTab(TabSheetRelaySettings, QStringLiteral("Настройки реле"));
    PageControlQOR->addTab(TabSheetConnectSettings,
                           QStringLiteral("Настройки связи и языка устройства"));
    PageControlQOR->addTab(TabSheetProfiles, QStringLiteral("Профили"));
    connect(PageControlQOR, &QTabWidget::currentChanged, this, &TForm1::PageShown);
    connect(ToolButtonQorOpenProfile, &QToolButton::clicked, TabSheetProfiles,
            &ProfilesPage::ToolButtonQorOpenProfileClick);
    connect(ToolButtonQorSaveProfile, &QToolButton::clicked, TabSheetProfiles,
            &ProfilesPage::ToolButtonQorSaveProfileClick);
    // ToolButtonQorLoadProfileToControllerClick only runs the page button's action.
    connect(ToolButtonQorLoadProfileToController, &QToolButton::clicked, TabSheetProfiles,
            &ProfilesPage::ButtonQorLoadControllerFromProfileClick);
    BuildLiveChart();
}

void TForm1::BuildLiveChart()
{
    MainState &s = *m_state;
    m_liveChart = new LiveChart(s, TabSheetSensorData);
    TabSheetSensorData->AddPanel(m_liveChart);
    const bool shown = s.settingsIni.readString(QStringLiteral("chart"), QStringLiteral("visible"),
                                                QStringLiteral("0")) == QStringLiteral("1");
    m_liveChart->setVisible(shown);
    ToolButtonChart->setChecked(shown);
    connect(TabSheetSensorData, &SensorDataPage::SensorClicked, m_liveChart, &LiveChart::Highlight);
    // A line is named with the sensor's tag; tags not read yet are asked for (the cycle
    // serves the request once), so the legend has them from the start.
    m_liveChart->sensorName = [this](int sensor) {
        const auto &tags = m_cycle->sensorTagRecords;
        QString tag;
        if (sensor < int(tags.size()) && tags[size_t(sensor)].registerCount > 0)
            tag = SensorTagText(tags[size_t(sensor)].values, m_state->registerMap.QOR_SENSOR_TAG_SIZE);
        else if (m_state->firmwareVersion >= kFirstTagFirmware)
            m_state->readAllTagsRequested = true;
        return ChannelLabel(tag, m_state->Text(Msg::n32) + u' ' + QString::number(sensor + 1));
    };
    m_liveChart->SetHistory(m_store,
                            [this] { return m_historyInUse ? m_historyInUse->controllerId() : 0; });
    m_cycle->sensorDataRead = [this] {
        const int n = m_state->registerMap.MAX_SENSORS;
        m_liveChart->Feed(QDateTime::currentMSecsSinceEpoch(),
                          std::span(m_cycle->statusRecord.values).first(size_t(n)),
                          std::span(m_cycle->temperatureRecord.values).first(size_t(n)));
    };
}

void TForm1::ToolButtonChartClick()
{
    const bool shown = ToolButtonChart->isChecked();
    m_liveChart->setVisible(shown);
    // Remembered for the next start.
    m_state->settingsIni.writeString(QStringLiteral("chart"), QStringLiteral("visible"),
                                     shown ? QStringLiteral("1") : QStringLiteral("0"));
    m_state->SaveSettings();
}

void TForm1::ToolButtonTrendViewerClick()
{
    if (!m_trendViewer) {
        m_trendViewer = new TrendViewer(m_state->settingsIni, this);
        m_trendViewer->SetHistory(m_store,
                                  [this] { return m_historyInUse ? m_historyInUse->controllerId() : 0; });
    }
    m_trendViewer->show();
    m_trendViewer->raise();
    if (m_trendViewer->data().timesMs.empty())
        m_trendViewer->ChooseFile();
}

TForm1::~TForm1()
{
    if (m_thread)
        m_thread->StopAndWait();
    if (!m_plantController)
        m_state->link.ClosePort(); // a plant's link is its bus's
    // The state and the store go before the child windows do: nothing that outlives them
    // may read them on its way out.
    delete m_eventsView;
    m_liveChart->SetHistory(nullptr, {});
    if (m_trendViewer)
        m_trendViewer->SetHistory(nullptr, {});
    m_alarms->Attach(nullptr, nullptr);
    // Releasing ends the plant's history of this engine. Unless another window of the
    // controller took it over meanwhile.
    if (m_attached && &m_plantController->state() == m_state.get())
        m_plantController->Release();
}

void TForm1::BuildToolBar()
{
    ToolBar1 = named(addToolBar(QStringLiteral("ToolBar1")), "ToolBar1");
    ToolBar1->setMovable(false);
    auto button = [&](const char *name, QStyle::StandardPixmap icon, const QString &text,
                      const QString &hint) {
        auto *b = named(new QToolButton(ToolBar1), QString::fromLatin1(name));
        if (icon != QStyle::SP_CustomBase)
            b->setIcon(style()->standardIcon(icon));
        b->setText(text);
        b->setToolTip(hint);
        b->setToolButtonStyle(icon == QStyle::SP_CustomBase ? Qt::ToolButtonTextOnly
                                                            : Qt::ToolButtonIconOnly);
        b->setProperty("toolBarAction", QVariant::fromValue(ToolBar1->addWidget(b)));
        return b;
    };
    ToolButton1 = button("ToolButton1", QStyle::SP_ComputerIcon, "Порт",
                         QStringLiteral("Настройки связи программы"));
    ToolBar1->addSeparator();
    ToolButton3 =
        button("ToolButton3", QStyle::SP_MediaStop, "Стоп", QStringLiteral("Прервать связь"));
    ToolButton4 =
        button("ToolButton4", QStyle::SP_MediaPlay, "Пуск", QStringLiteral("Восстановить связь"));
    ToolBar1->addSeparator();
    ToolButtonQorOpenProfile = button("ToolButtonQorOpenProfile", QStyle::SP_DialogOpenButton, "",
                                      QStringLiteral("Загрузить настройки из файла профиля"));
    ToolButtonQorSaveProfile =
        button("ToolButtonQorSaveProfile", QStyle::SP_DialogSaveButton, "",
               QStringLiteral("Сохранить текущие настройки пользователя в файл профиля"));
    ToolButtonQorLoadProfileToController =
        button("ToolButtonQorLoadProfileToController", QStyle::SP_ArrowDown, "",
               QStringLiteral("Загрузить текущий профиль из таблиц в контроллер"));
    ToolBar1->addSeparator();
    ToolButtonEngLanguage =
        button("ToolButtonEngLanguage", QStyle::SP_CustomBase, "EN", QStringLiteral("English"));
    ToolButtonRusLanguage =
        button("ToolButtonRusLanguage", QStyle::SP_CustomBase, "RU", QStringLiteral("Русский"));
    ToolBar1->addSeparator();
    ToolButtonChart = button("ToolButtonChart", QStyle::SP_CustomBase, "",
                             QStringLiteral("Показать или скрыть график температур"));
    ToolButtonChart->setCheckable(true);
    ToolButtonTrendViewer = button("ToolButtonTrendViewer", QStyle::SP_CustomBase, "",
                                   QStringLiteral("Открыть файл тренда для просмотра"));
    // The style has no chart pictures; the two differ by the sheet behind the curve.
    for (auto [b, sheet] : {std::pair{ToolButtonChart, false}, std::pair{ToolButtonTrendViewer, true}}) {
        b->setIcon(ChartIcon(sheet));
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    connect(ToolButtonChart, &QToolButton::clicked, this, &TForm1::ToolButtonChartClick);
    connect(ToolButtonTrendViewer, &QToolButton::clicked, this,
            &TForm1::ToolButtonTrendViewerClick);
    ToolBar1->addSeparator();
    ToolButtonOpenCfg = button("ToolButtonOpenCfg", QStyle::SP_FileDialogContentsView, "",
                               QStringLiteral("Открыть файл конфигурации"));
    connect(ToolButton1, &QToolButton::clicked, this, &TForm1::ToolButton1Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TForm1::ToolButton3Click);
    connect(ToolButton4, &QToolButton::clicked, this, &TForm1::ToolButton4Click);
    connect(ToolButtonEngLanguage, &QToolButton::clicked, this,
            &TForm1::ToolButtonEngLanguageClick);
    connect(ToolButtonRusLanguage, &QToolButton::clicked, this,
            &TForm1::ToolButtonRusLanguageClick);
    // The configuration-file button is not offered (hidden, its click does nothing).
    ToolButtonOpenCfg->property("toolBarAction").value<QAction *>()->setVisible(false);
    ToolBar1->addSeparator();
    ToolButtonLinkStatistics = button("ToolButtonLinkStatistics", QStyle::SP_FileDialogInfoView,
                                      "", QStringLiteral("Статистика связи"));
    ToolButtonFrameLog = button("ToolButtonFrameLog", QStyle::SP_FileDialogDetailedView, "",
                                QStringLiteral("Журнал кадров"));
    connect(ToolButtonLinkStatistics, &QToolButton::clicked, this,
            &TForm1::ToolButtonLinkStatisticsClick);
    connect(ToolButtonFrameLog, &QToolButton::clicked, this, &TForm1::ToolButtonFrameLogClick);
    // Its picture is drawn with the count of waiting alarms (AlarmDisplay).
    ToolButtonEvents = button("ToolButtonEvents", QStyle::SP_CustomBase, "", m_state->Text(Msg::n580));
    ToolButtonEvents->setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(ToolButtonEvents, &QToolButton::clicked, this, &TForm1::ToolButtonEventsClick);
    ToolBar1->addSeparator();
    ToolButtonHelp = button("ToolButtonHelp", QStyle::SP_CustomBase, "", m_state->Text(Msg::n371));
    ToolButtonHelp->setIcon(HelpIcon());
    ToolButtonHelp->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolButtonAbout = button("ToolButtonAbout", QStyle::SP_MessageBoxInformation, "",
                             m_state->Text(Msg::n370));
    ToolButtonMqtt = button("ToolButtonMqtt", QStyle::SP_CustomBase, "", m_state->Text(Msg::n735));
    ToolButtonMqtt->setIcon(MqttIcon());
    ToolButtonMqtt->setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(ToolButtonMqtt, &QToolButton::clicked, this, &TForm1::ToolButtonMqttClick);
    // A plant's controllers are published by the plant view, each under its own name.
    if (m_plantController)
        ToolButtonMqtt->property("toolBarAction").value<QAction *>()->setVisible(false);
    connect(ToolButtonHelp, &QToolButton::clicked, this, &TForm1::ToolButtonHelpClick);
    connect(ToolButtonAbout, &QToolButton::clicked, this, &TForm1::ToolButtonAboutClick);
    // The active language is the checked one of the pair.
    m_languagePair = new QButtonGroup(this);
    m_languagePair->setExclusive(true);
    for (QToolButton *b : {ToolButtonEngLanguage, ToolButtonRusLanguage}) {
        b->setCheckable(true);
        m_languagePair->addButton(b);
    }
    // Keys for the tool buttons; each tool tip names its key (ShowShortcutsInHints).
    const std::pair<QToolButton *, QKeySequence> keys[] = {
        {ToolButton1, QKeySequence(Qt::CTRL | Qt::Key_K)},
        {ToolButton3, QKeySequence(Qt::SHIFT | Qt::Key_F5)},
        {ToolButton4, QKeySequence(Qt::Key_F5)},
        {ToolButtonQorOpenProfile, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {ToolButtonQorSaveProfile, QKeySequence(Qt::CTRL | Qt::Key_S)},
        {ToolButtonQorLoadProfileToController, QKeySequence(Qt::CTRL | Qt::Key_U)},
        {ToolButtonEngLanguage, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
        {ToolButtonRusLanguage, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)},
        {ToolButtonChart, QKeySequence(Qt::CTRL | Qt::Key_G)},
        {ToolButtonTrendViewer, QKeySequence(Qt::CTRL | Qt::Key_T)},
        {ToolButtonLinkStatistics, QKeySequence(Qt::CTRL | Qt::Key_I)},
        {ToolButtonFrameLog, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {ToolButtonEvents, QKeySequence(Qt::CTRL | Qt::Key_J)},
        {ToolButtonMqtt, QKeySequence(Qt::CTRL | Qt::Key_M)},
        {ToolButtonHelp, QKeySequence(Qt::Key_F1)},
        {ToolButtonAbout, QKeySequence(Qt::CTRL | Qt::Key_F1)},
    };
    for (const auto &[b, key] : keys)
        b->setShortcut(key);
}

void TForm1::ShowShortcutsInHints()
{
    for (QToolButton *b : ToolBar1->findChildren<QToolButton *>()) {
        if (b->shortcut().isEmpty())
            continue;
        const QString suffix =
            QStringLiteral(" (") + b->shortcut().toString(QKeySequence::NativeText) + u')';
        QString hint = b->toolTip();
        if (!hint.endsWith(suffix))
            b->setToolTip(hint + suffix);
    }
}

void TForm1::ShowLanguagePair()
{
    const bool english = m_state->settingsIni.readInteger(QStringLiteral("language"),
                                                          QStringLiteral("lang"), 0) == 1;
    (english ? ToolButtonEngLanguage : ToolButtonRusLanguage)->setChecked(true);
}

void TForm1::ToolButtonHelpClick()
{
    if (!m_help)
        m_help = new HelpDialog(*m_state, this);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void TForm1::ToolButtonAboutClick()
{
    if (!m_about)
        m_about = new AboutDialog(*m_state, this);
    m_about->ApplyCaptions();
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

namespace {

// Where a stored window may go: on the screen that holds most of its title strip, moved and
// cut to fit that screen; nothing when no screen holds enough of the strip to grab it.
std::optional<QRect> PlaceOnScreens(const QRect &stored, const QList<QRect> &screens)
{
    if (stored.width() < 200 || stored.height() < 150)
        return std::nullopt;
    const QRect strip(stored.x(), stored.y(), stored.width(), 40);
    QRect best;
    int bestArea = 0;
    for (const QRect &screen : screens) {
        const QRect common = strip.intersected(screen);
        const int area = common.width() * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    if (bestArea < 100 * 20)
        return std::nullopt;
    QRect placed(stored.topLeft(), stored.size().boundedTo(best.size()));
    placed.moveLeft(qBound(best.left(), placed.left(), best.right() - placed.width() + 1));
    placed.moveTop(qBound(best.top(), placed.top(), best.bottom() - placed.height() + 1));
    return placed;
}

} // namespace

void TForm1::RestoreWindowGeometry()
{
    const MemIniFile &ini = m_state->settingsIni;
    const QString section = QStringLiteral("window");
    const QStringList parts = ini.readString(section, QStringLiteral("geometry"), QString()).split(u',');
    std::optional<QRect> place;
    if (parts.size() == 4) {
        int v[4];
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i)
            v[i] = parts[i].trimmed().toInt(&ok);
        QList<QRect> screens;
        for (const QScreen *screen : QGuiApplication::screens())
            screens.append(screen->availableGeometry());
        if (ok)
            place = PlaceOnScreens(QRect(v[0], v[1], v[2], v[3]), screens);
    }
    TabSheetSensorData->RestoreSplit(QByteArray::fromHex(
        ini.readString(section, QStringLiteral("sensorDataSplit"), QString()).toLatin1()));
    if (place) {
        setGeometry(*place);
        m_startMaximized = ini.readInteger(section, QStringLiteral("maximized"), 0) == 1;
        return;
    }
    // First start, or the screen it was on is gone. Without a window manager (Xvfb)
    // maximising does nothing; the screen's size does the same.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    m_startMaximized = true;
}

void TForm1::ShowAsStored()
{
    if (m_startMaximized)
        showMaximized();
    else
        show();
}

void TForm1::SaveWindowGeometry()
{
    MemIniFile &ini = m_state->settingsIni;
    const QString section = QStringLiteral("window");
    const QRect g = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    ini.writeString(section, QStringLiteral("geometry"),
                    QStringLiteral("%1,%2,%3,%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()));
    ini.writeInteger(section, QStringLiteral("maximized"), isMaximized() ? 1 : 0);
    const QByteArray split = TabSheetSensorData->SplitState();
    if (!split.isEmpty())
        ini.writeString(section, QStringLiteral("sensorDataSplit"), QString::fromLatin1(split.toHex()));
    m_state->SaveSettings();
}

// The link views are windows of their own, made when first asked for, shown again after.
void TForm1::ToolButtonLinkStatisticsClick()
{
    if (!m_linkStatisticsView)
        m_linkStatisticsView = new LinkStatisticsView(*m_state, this);
    m_linkStatisticsView->show();
    m_linkStatisticsView->raise();
    m_linkStatisticsView->activateWindow();
}

void TForm1::ToolButtonFrameLogClick()
{
    if (!m_frameLogView)
        m_frameLogView = new FrameLogView(*m_state, this);
    m_frameLogView->show();
    m_frameLogView->raise();
    m_frameLogView->activateWindow();
}

EventsView *TForm1::eventsView() { return m_eventsView; }

void TForm1::ToolButtonEventsClick()
{
    if (!m_eventsView)
        m_eventsView = new EventsView(*m_state, m_store, this);
    m_eventsView->show();
    m_eventsView->raise();
    m_eventsView->activateWindow();
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_thread && !m_attached)
        FormShow();
}

void TForm1::FormShow()
{
    Label12->hide();
    PrepareMainWindow();
    if (m_plantController) {
        // The plant steps this window's engine on its bus from now on.
        m_plantController->Attach(*m_state, *m_cycle);
        m_attached = true;
        m_historyInUse = m_plantController->history();
        m_alarms->Attach(m_store, m_historyInUse);
        return;
    }
    m_thread = std::make_unique<QorThread>(*m_state, *m_cycle, this);
    m_thread->start(); // it lowers its own priority until a controller answers
    StartMqtt();
}

void TForm1::ToolButtonMqttClick() { m_mqttDialog->Edit(); }

void TForm1::StartMqtt()
{
    m_mqttFeed.reset();
    m_mqttBridge.reset(); // "offline" goes out, at once when the broker is away
    const MqttSettings s = MqttSettingsFrom(m_state->settingsIni);
    if (m_plantController || !s.enabled) {
        m_mqttStatus->clear();
        m_mqttStatus->hide();
        return;
    }
    const int address = m_state->settingsIni.readInteger(QStringLiteral("connect"),
                                                         QStringLiteral("adr"), 100);
    m_mqttBridge = std::make_unique<MqttBridge>(s, MqttAddressLevel(address), m_state->settingsIni);
    connect(m_mqttBridge.get(), &MqttBridge::stateChanged, this,
            [this](MqttBridge::State, const QString &text) {
                m_mqttStatus->setText(text);
                m_mqttStatus->setToolTip(text);
            });
    m_mqttStatus->show();
    QString error;
    if (!m_mqttBridge->Start(error)) { // a start.ini edited by hand: told, polling goes on
        m_mqttBridge.reset();
        m_mqttStatus->setText(error);
        m_mqttStatus->setToolTip(error);
        return;
    }
    m_mqttFeed = std::make_unique<MqttFeed>(*m_mqttBridge, s);
    m_mqttFeed->Follow(*m_state, *m_cycle, m_historyInUse);
}

void TForm1::PrepareMainWindow()
{
    GroupBox4->hide();
    GroupBox5->hide();
    if (m_plantController) {
        ApplyAccessMode(m_fullAccess); // asked once, when the plant started
    } else {
        m_password->exec(); // before polling starts: the one dialog that may be modal
        ApplyAccessMode(m_password->accessLevel == 1 || m_password->accessLevel == 2);
    }
    PageControlQOR->setCurrentWidget(TabSheetSensorData);
    PageShown(PageControlQOR->currentIndex());
    TabSheetSensorData->ShowTrendPeriod();
    HideDeviceViews();
    setWindowTitle(Caption());
    m_state->sensorSettingsUser.setRowCount(2);
    m_state->tagUser.setRowCount(2);
}

void TForm1::ApplyAccessMode(bool full)
{
    m_fullAccess = full;
    for (int i = 0; i < PageControlQOR->count(); ++i)
        static_cast<QorPage *>(PageControlQOR->widget(i))->ApplyAccessMode(full);
    if (full)
        return;
    m_accessMode = new AccessModeLabel(m_state->settingsIni, statusBar());
    statusBar()->addPermanentWidget(m_accessMode);
    PageControlQOR->setTabEnabled(PageControlQOR->indexOf(TabSheetProfiles), false);
    for (QToolButton *b :
         {ToolButtonQorLoadProfileToController, ToolButtonQorSaveProfile, ToolButtonQorOpenProfile})
        b->setEnabled(false);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (m_plantController) {
        // The owner deletes the window once no step runs (this close may come from inside
        // one, on this window's engine); the plant then goes on with the controller's own.
        SaveWindowGeometry();
        for (QWidget *view : {static_cast<QWidget *>(m_linkStatisticsView),
                              static_cast<QWidget *>(m_frameLogView),
                              static_cast<QWidget *>(m_eventsView)})
            if (view)
                view->close();
        // Another window of the controller may take it over (and its history) before
        // this one goes.
        m_alarms->Attach(m_store, nullptr);
        m_historyInUse = nullptr;
        event->accept();
        emit PlantWindowClosed();
        return;
    }
    // FormCloseQuery/FormClose: stop the poll thread, then close the port. A step that is
    // running (its wait lets this event in) must return first: aborting the link ends its
    // wait at once and refuses every further transfer, so the step runs out without
    // sending anything more, and the close follows the thread's end.
    if (m_thread && m_thread->isRunning()) {
        event->ignore();
        if (!m_closing) {
            m_closing = true;
            connect(m_thread.get(), &QThread::finished, this, &QWidget::close,
                    Qt::QueuedConnection);
            m_thread->RequestStop();
            m_state->link.Abort();
        }
        return;
    }
    SaveWindowGeometry();
    m_state->link.ClosePort();
    for (QWidget *view : {static_cast<QWidget *>(m_linkStatisticsView),
                          static_cast<QWidget *>(m_frameLogView),
                          static_cast<QWidget *>(m_eventsView)})
        if (view)
            view->close();
    event->accept();
}

void TForm1::PageShown(int index)
{
    if (auto *page = qobject_cast<QorPage *>(PageControlQOR->widget(index)))
        page->Shown();
}

void TForm1::ToolButton1Click() { m_conpar->Edit(); }

void TForm1::ConparSettingsStored()
{
    m_state->SaveSettings();
    m_state->portSettingsChanged = true;
}

bool TForm1::PollStepRunning() const
{
    if (m_plantController)
        return m_attached && m_plantController->Stepping() &&
               &m_plantController->state() == m_state.get();
    return m_thread && m_thread->StepRunning();
}

void TForm1::ToolButton3Click()
{
    m_state->linkInterruptedByUser = true;
}

void TForm1::ToolButton4Click()
{
    m_state->linkInterruptedByUser = false;
}

void TForm1::ToolButtonEngLanguageClick()
{
    m_state->SwitchLanguage(1);
    ShowLanguagePair();
}

void TForm1::ToolButtonRusLanguageClick()
{
    m_state->SwitchLanguage(0);
    ShowLanguagePair();
}

void TForm1::ShowStatus(int panel, const QString &text)
{
    if (panel < 0 || panel >= 4)
        return;
    StatusBar1Panel[panel]->setText(text);
    StatusBar1Panel[panel]->setToolTip(text); // a long file name does not fit its panel
}

void TForm1::ShowLamp(Lamp lamp)
{
    m_lampOnline = lamp == Lamp::Online;
    Shape1->setColor(m_lampOnline ? kLime : kGrey);
    ShowLampLabel();
    StringGridQorRelay->viewport()->update();
    TabSheetSensorData->SetLive(m_lampOnline);
    m_alarms->SetLinkUp(m_lampOnline);
}

void TForm1::ShowLinkProblem(LinkProblem problem, const QString &port, const QString &reason)
{
    m_linkProblem->Show(problem, port, reason);
}

void TForm1::ShowLampLabel()
{
    Label1->setText(m_lampOnline ? m_state->Text("n7", QStringLiteral("Модуль на связи"))
                                 : m_state->Text(Msg::n141));
}

void TForm1::ShowCycleTime(const QString &text)
{
    Label12->setText(text);
}

void TForm1::ShowMessage(const QString &caption, const QString &text, Icon icon)
{
    ShowMessageBox(caption, text, static_cast<MessageIcon>(icon));
}

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); } // once, no loop

void TForm1::HideDeviceViews()
{
    PageControlQOR->hide();
    GroupBox26->hide();
    for (QToolButton *b : {ToolButton4, ToolButton3, ToolButtonQorOpenProfile,
                           ToolButtonQorSaveProfile, ToolButtonQorLoadProfileToController})
        b->setEnabled(false);
}

void TForm1::ShowDeviceViews()
{
    GroupBox4->hide();
    GroupBox5->hide();
    PageControlQOR->show();
    GroupBox26->show();
    ToolButton4->setEnabled(true);
    ToolButton3->setEnabled(true);
    // Without the password the profile buttons stay off: nothing may reach the controller.
    for (QToolButton *b :
         {ToolButtonQorOpenProfile, ToolButtonQorSaveProfile, ToolButtonQorLoadProfileToController})
        b->setEnabled(m_fullAccess);
    TabSheetSensorSettings->ShowTagTables(m_state->firmwareVersion >= kFirstTagFirmware);
}

void TForm1::ApplyCaptions()
{
    MainState &s = *m_state;
    auto t = [&](const char *key, const char *def) { return s.Text(key, QString::fromUtf8(def)); };
    ToolButton1->setToolTip(t("n1", "Настройки связи программы"));
    ToolButton3->setToolTip(t("n2", "Прервать связь"));
    ToolButton4->setToolTip(t("n3", "Восстановить связь"));
    ToolButtonQorOpenProfile->setToolTip(t("n4", "Загрузить настройки из файла профиля"));
    ToolButtonQorSaveProfile->setToolTip(
        t("n5", "Сохранить текущие настройки пользователя в файл профиля"));
    ToolButtonQorLoadProfileToController->setToolTip(
        t("n6", "Загрузить текущий профиль из таблиц в контроллер"));
    ToolButtonLinkStatistics->setToolTip(t("n300", "Статистика связи"));
    ToolButtonFrameLog->setToolTip(t("n301", "Журнал кадров"));
    ToolButton1->setText(s.Text(Msg::n412));
    ToolButton3->setText(s.Text(Msg::n413));
    ToolButton4->setText(s.Text(Msg::n414));
    ToolButtonEngLanguage->setToolTip(s.Text(Msg::n415));
    ToolButtonRusLanguage->setToolTip(s.Text(Msg::n416));
    ToolButtonOpenCfg->setToolTip(s.Text(Msg::n417));
    GroupBox4->setTitle(s.Text(Msg::n410));
    GroupBox5->setTitle(s.Text(Msg::n411));
    if (m_linkStatisticsView)
        m_linkStatisticsView->ApplyCaptions();
    if (m_frameLogView)
        m_frameLogView->ApplyCaptions();
    if (m_eventsView)
        m_eventsView->ApplyCaptions();
    m_alarms->ApplyCaptions();
    ShowLampLabel();
    m_linkProblem->ApplyCaptions();
    if (m_accessMode)
        m_accessMode->ApplyCaptions();
    GroupBox26->setTitle(t("n8", "Состояние реле"));
    ToolButtonChart->setToolTip(t("n240", "Показать или скрыть график температур"));
    ToolButtonTrendViewer->setToolTip(t("n241", "Открыть файл тренда для просмотра"));
    m_liveChart->ApplyCaptions();
    if (m_trendViewer)
        m_trendViewer->ApplyCaptions();
    for (int i = 0; i < PageControlQOR->count(); ++i) {
        auto *page = static_cast<QorPage *>(PageControlQOR->widget(i));
        PageControlQOR->setTabText(i, page->Caption());
        page->ApplyCaptions();
    }
    ToolButtonHelp->setToolTip(s.Text(Msg::n371));
    ToolButtonAbout->setToolTip(s.Text(Msg::n370));
    ToolButtonMqtt->setToolTip(s.Text(Msg::n735));
    m_mqttDialog->ApplyCaptions();
    if (m_mqttBridge && !m_mqttBridge->stateText().isEmpty())
        m_mqttStatus->setText(m_mqttBridge->stateText());
    if (m_about)
        m_about->ApplyCaptions();
    if (m_help)
        m_help->ApplyCaptions();
    ShowLanguagePair();
    ShowShortcutsInHints();
    m_conpar->ApplyLanguage();
    m_select->ApplyLanguage([&](const char *key, const char *def) { return t(key, def); });
    m_password->ApplyLanguage([&](const TextKey &key) { return s.Text(key); });
    ApplyQtLanguage();
}

void TForm1::ApplyQtLanguage()
{
    const int lang =
        m_state->settingsIni.readInteger(QStringLiteral("language"), QStringLiteral("lang"), 0);
    if (UseQtLanguage(lang) || m_qtLanguageMissingTold)
        return;
    // Not an error: Qt's dialogs then speak English.
    m_qtLanguageMissingTold = true;
    qWarning("velmaris: %s not found (Debian package qt6-translations-l10n); Qt's own "
             "dialogs and buttons stay in English",
             qPrintable(QtTranslationFile(lang)));
}

void TForm1::ShowControllerConnectSettings()
{
    TabSheetConnectSettings->ShowControllerConnectSettings();
}

void TForm1::SensorDataLayoutChanged()
{
    TabSheetSensorData->LayoutChanged();
}

int TForm1::SensorSettingsVisibleRows()
{
    return TabSheetSensorSettings->VisibleRows();
}

void TForm1::EnableSensorSettingsCopy(bool enabled)
{
    // A write-back running keeps it off; it comes back from the state when that ends.
    TabSheetSensorSettings->EnableCopy(enabled && !m_writeBackRunning);
}

void TForm1::ShowProgress(const QString &text)
{
    Panel10->setText(text);
    Panel10->show();
}

void TForm1::HideProgress() { Panel10->hide(); }

void TForm1::SetWriteBackRunning(bool running)
{
    if (running == m_writeBackRunning)
        return;
    m_writeBackRunning = running;
    if (!running) {
        for (const QPointer<QWidget> &w : std::as_const(m_writeBackBlocked))
            if (w)
                w->setEnabled(true);
        m_writeBackBlocked.clear();
        EnableSensorSettingsCopy(m_state->sensorSettingsCopyEnabled);
        return;
    }
    // Everything that feeds a write: the user sides of the settings pages and the profile
    // actions. Found by name, whichever page owns the widget.
    static const char *const kFeeding[] = {
        "StringGridSensorSettingsUser", "StringGridTagUser", "ButtonCopySensorSettingsToUser",
        "ButtonSelectSensors", "ButtonSetZero", "ButtonDownloadSensorSettingtsToQor",
        "StringGridRelaySettingsUser", "ButtonCopyRelaySettingsToUser",
        "ButtonDownloadRelaySettingsToQor", "EditQorAddr", "ComboBoxQorBaudRate",
        "ComboBoxQorParity", "ComboBoxQorStops", "EditQorChan", "ComboBoxQorMenuLanguage",
        "ButtonQorCopyConnectToUser", "ButtonWriteConnectSettingsToQor",
        "ToolButtonQorOpenProfile", "ToolButtonQorLoadProfileToController",
        "ButtonQorLoadUserFromProfile", "ButtonQorLoadControllerFromProfile"};
    for (const char *name : kFeeding) {
        QWidget *w = findChild<QWidget *>(QString::fromLatin1(name));
        if (w && !w->testAttribute(Qt::WA_ForceDisabled)) {
            w->setEnabled(false);
            m_writeBackBlocked.append(w);
        }
    }
}
