#pragma once
#include "LookupText.h"
#include "MainView.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class AboutDialog;
class AlarmDisplay;
class EventsView;
class HistoryService;
class HistoryStore;
class HelpDialog;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QTabWidget;
class QToolBar;
class QToolButton;
class ConnectSettingsPage;
class FrameLogView;
class LinkStatisticsView;
class GridView;
class HistoryService;
class HistoryStore;
class LiveChart;
class LinkProblemBanner;
class AccessModeLabel;
class MainState;
class MqttBridge;
class MqttDialog;
class MqttFeed;
class PlantController;
class PollCycle;
class ProfilesPage;
class QorPage;
class QorThread;
class RelaySettingsPage;
class SensorDataPage;
class SensorSettingsPage;
class Shape;
class TConparDlg;
class TForm3;
class TFormQorSelectSensors;
class TrendViewer;

namespace Msg {
// Label1 beside the grey lamp; beside the green one it reads n7 ("Модуль на связи").
inline constexpr TextKey n141{"n141", u"Нет связи с модулем"};
} // namespace Msg

// The main window: the tool bar, the status bar, the link lamp, the relay states and the
// pages of PageControlQOR. It shows MainState and turns the user's actions into its flags.
class TForm1 : public QMainWindow, public MainView {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    // A controller of a plant: its state lives in the controller's place and the plant
    // steps it (no poll thread of its own) from show until close, which releases it. The
    // history goes to the plant's store (none when null); the access was decided at the
    // plant's start-up.
    TForm1(PlantController &controller, HistoryStore *store, bool fullAccess,
           QWidget *parent = nullptr);
    ~TForm1() override;
    PlantController *plantController() { return m_plantController; }

    MainState &state() { return *m_state; }
    TConparDlg &conparDlg() { return *m_conpar; }
    TFormQorSelectSensors &selectDlg() { return *m_select; }
    // The store of the working folder and the history of this window's engine (events,
    // alarms, readings); both live as long as the window.
    HistoryStore &historyStore() { return *m_store; }
    HistoryService &history() { return *m_historyInUse; }
    // True while a poll step of this window's engine runs on the GUI thread (its link waits
    // let events in).
    bool PollStepRunning() const;
    AlarmDisplay &alarms() { return *m_alarms; }
    EventsView *eventsView(); // null until first opened
    MqttDialog &mqttDialog() { return *m_mqttDialog; }
    // The bridge of [mqtt] while publishing is switched on (never in a plant's window:
    // the plant view publishes every controller).
    MqttBridge *mqttBridge() { return m_mqttBridge.get(); }
    // Start-up: the size and place of the last run ([window] of start.ini) when they are
    // still on a screen, else the whole primary screen; then shown so.
    void RestoreWindowGeometry();
    void ShowAsStored();
    // Size, place and splitter positions into [window]; start.ini is rewritten.
    void SaveWindowGeometry();

    // MainView
    void ShowStatus(int panel, const QString &text) override;
    void ShowLamp(Lamp lamp) override;
    void ShowLinkProblem(LinkProblem problem, const QString &port, const QString &reason) override;
    void ShowCycleTime(const QString &text) override;
    void ShowMessage(const QString &caption, const QString &text, Icon icon) override;
    void ProcessMessages() override;
    void ShowDeviceViews() override;
    void HideDeviceViews() override;
    void ApplyCaptions() override;
    void ShowControllerConnectSettings() override;
    void SensorDataLayoutChanged() override;
    int SensorSettingsVisibleRows() override;
    void EnableSensorSettingsCopy(bool enabled) override;
    void ShowProgress(const QString &text) override;
    void HideProgress() override;
    void SetWriteBackRunning(bool running) override;

signals:
    // A plant's window was closed; its owner deletes it when no step runs.
    void PlantWindowClosed();

public slots:
    void ToolButton1Click();
    void ToolButton3Click();
    void ToolButton4Click();
    void ToolButtonEngLanguageClick();
    void ToolButtonRusLanguageClick();
    void ToolButtonLinkStatisticsClick();
    void ToolButtonFrameLogClick();
    void ToolButtonEventsClick();
    void ToolButtonChartClick();
    void ToolButtonTrendViewerClick();
    void ToolButtonHelpClick();
    void ToolButtonAboutClick();
    void ToolButtonMqttClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Build();
    QString Caption() const; // the window's title: the controller's name first in a plant
    void FormShow();
    void PrepareMainWindow();
    void BuildToolBar();
    void BuildPages();
    void BuildLiveChart();
    void ApplyAccessMode(bool full);
    void PageShown(int index);
    void ConparSettingsStored();
    void ShowLampLabel(); // Label1 in the language in use, as the lamp stands
    void ShowLanguagePair(); // the button of [language] lang checked
    void ShowShortcutsInHints();
    void ApplyQtLanguage(); // Qt's own texts (file dialogs, box buttons) in that language
    // [mqtt] as start.ini has it: the bridge and its feed (re)started, or ended when off.
    void StartMqtt();

    std::unique_ptr<MainState> m_state;
    std::unique_ptr<PollCycle> m_cycle;
    std::unique_ptr<QorThread> m_thread;
    // After the cycle and the thread: the history goes first (the program-stopped event),
    // then the store writes what is queued.
    std::unique_ptr<HistoryStore> m_historyStore;
    std::unique_ptr<HistoryService> m_history;
    HistoryStore *m_store = nullptr; // the own one, or the plant's
    HistoryService *m_historyInUse = nullptr; // the own one, or the plant's for this engine
    PlantController *m_plantController = nullptr;
    bool m_attached = false;
    QLabel *m_historyProblem = nullptr; // StatusBarHistoryProblem, hidden while writing works
    // Before the feed: the feed hands its messages to the bridge.
    std::unique_ptr<MqttBridge> m_mqttBridge;
    std::unique_ptr<MqttFeed> m_mqttFeed;
    QLabel *m_mqttStatus = nullptr; // StatusBarMqtt, hidden while publishing is off
    MqttDialog *m_mqttDialog = nullptr;
    TConparDlg *m_conpar = nullptr;
    TForm3 *m_password = nullptr;
    TFormQorSelectSensors *m_select = nullptr;
    bool m_fullAccess = true;
    bool m_closing = false;
    bool m_lampOnline = false;
    bool m_startMaximized = true;
    bool m_qtLanguageMissingTold = false;
    // What a running write-back switched off, to be switched on again after it.
    QList<QPointer<QWidget>> m_writeBackBlocked;
    bool m_writeBackRunning = false;

    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton3, *ToolButton4, *ToolButtonQorOpenProfile,
        *ToolButtonQorSaveProfile, *ToolButtonQorLoadProfileToController, *ToolButtonEngLanguage,
        *ToolButtonRusLanguage, *ToolButtonOpenCfg;
    QToolButton *ToolButtonLinkStatistics, *ToolButtonFrameLog;
    LinkStatisticsView *m_linkStatisticsView = nullptr; // made when first opened
    FrameLogView *m_frameLogView = nullptr;
    QToolButton *ToolButtonEvents;
    QPointer<EventsView> m_eventsView;
    AlarmDisplay *m_alarms = nullptr;
    QLabel *m_alarmLine = nullptr;
    QToolButton *ToolButtonChart, *ToolButtonTrendViewer;
    QToolButton *ToolButtonHelp, *ToolButtonAbout;
    QToolButton *ToolButtonMqtt;
    QButtonGroup *m_languagePair;
    QPointer<AboutDialog> m_about;
    QPointer<HelpDialog> m_help;
    LiveChart *m_liveChart = nullptr;
    QPointer<TrendViewer> m_trendViewer;
    QLabel *StatusBar1Panel[4];
    Shape *Shape1;
    QLabel *Label1, *Label12, *Panel10;
    LinkProblemBanner *m_linkProblem;
    AccessModeLabel *m_accessMode = nullptr;
    QGroupBox *GroupBox4, *GroupBox5, *GroupBox26;
    GridView *StringGridQorRelay;
    QTabWidget *PageControlQOR;
    SensorDataPage *TabSheetSensorData;
    SensorSettingsPage *TabSheetSensorSettings;
    RelaySettingsPage *TabSheetRelaySettings;
    ConnectSettingsPage *TabSheetConnectSettings;
    ProfilesPage *TabSheetProfiles;
};
