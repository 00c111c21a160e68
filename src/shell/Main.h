#pragma once
#include "MainView.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QCheckBox;
class QComboBox;
class QMenu;
class QPlainTextEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolBar;
class QToolButton;
class GridView;
class MainState;
class PollCycle;
class QorThread;
class Shape;
class TConparDlg;
class TForm3;
class TFormQorSelectSensors;

// The main window: shows MainState and turns the user's actions into its flags.
class TForm1 : public QMainWindow, public MainView {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    MainState &state() { return *m_state; }
    TConparDlg &conparDlg() { return *m_conpar; }
    TFormQorSelectSensors &selectDlg() { return *m_select; }

    // MainView
    void ShowStatus(int panel, const QString &text) override;
    void ShowLamp(Lamp lamp) override;
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

public slots:
    void ToolButton1Click();
    void ToolButton3Click();
    void ToolButton4Click();
    void ToolButtonEngLanguageClick();
    void ToolButtonRusLanguageClick();
    void ButtonCopySensorSettingsToUserClick();
    void ButtonSelectSensorsClick();
    void ButtonSetZeroClick();
    void ButtonDownloadSensorSettingtsToQorClick();
    void ButtonCopyRelaySettingsToUserClick();
    void ButtonDownloadRelaySettingsToQorClick();
    void ButtonQorCopyConnectToUserClick();
    void ButtonWriteConnectSettingsToQorClick();
    void LoadFromFileItemClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormShow();
    void PrepareMainWindow();
    void BuildToolBar();
    void BuildSensorDataPage();
    void BuildConnectPage();
    void BuildSensorSettingsPage();
    void BuildRelaySettingsPage();
    void ApplyAccessMode(bool full);
    void PageShown(int index);
    void SensorsDataMouseMove(GridView *grid, int x);
    void ConnectButtons();
    void ShowMessageNoIcon(const QString &caption, const QString &text);

    std::unique_ptr<MainState> m_state;
    std::unique_ptr<PollCycle> m_cycle;
    std::unique_ptr<QorThread> m_thread;
    TConparDlg *m_conpar = nullptr;
    TForm3 *m_password = nullptr;
    TFormQorSelectSensors *m_select = nullptr;
    bool m_fullAccess = true;
    bool m_closing = false;
    // What a running write-back switched off, to be switched on again after it.
    QList<QPointer<QWidget>> m_writeBackBlocked;
    bool m_writeBackRunning = false;

    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton3, *ToolButton4, *ToolButtonQorOpenProfile,
        *ToolButtonQorSaveProfile, *ToolButtonQorLoadProfileToController, *ToolButtonEngLanguage,
        *ToolButtonRusLanguage, *ToolButtonOpenCfg;
    QLabel *StatusBar1Panel[4];
    Shape *Shape1;
    QLabel *Label1, *Label12, *Panel10;
    QTabWidget *PageControlQOR;
    QWidget *TabSheetSensorData, *TabSheetSensorSettings, *TabSheetRelaySettings,
        *TabSheetConnectSettings, *TabSheetProfiles;
    QGroupBox *GroupBox4, *GroupBox5, *GroupBox22, *GroupBox26;
    GridView *StringGridSensorsData, *StringGridSensorsData2, *StringGridQorRelay;
    // Sensor-settings page
    QGroupBox *GroupBox23, *GroupBox27;
    GridView *StringGridSensorSettings, *StringGridTagContr, *StringGridSensorSettingsUser,
        *StringGridTagUser;
    QPushButton *ButtonCopySensorSettingsToUser, *ButtonSelectSensors,
        *ButtonDownloadSensorSettingtsToQor, *ButtonSetZero;
    QCheckBox *CheckBoxOverWriteID;
    QPlainTextEdit *Memo2;
    QMenu *PopupMenuTags;
    // Relay-settings page
    QGroupBox *GroupBox24, *GroupBox28;
    GridView *StringGridRelaySettings, *StringGridRelaySettingsUser;
    QPushButton *ButtonCopyRelaySettingsToUser, *ButtonDownloadRelaySettingsToQor;
    QPlainTextEdit *Memo1;
    // Device-connection page
    QGroupBox *GroupBox29, *GroupBox25;
    QLabel *Label43, *Label44, *Label45, *Label46, *Label47, *Label48;
    QLabel *Label35, *Label37, *Label38, *Label39, *Label40, *Label42;
    QLineEdit *EditQorAddrContr, *EditQorChanContr, *EditQorAddr, *EditQorChan;
    QComboBox *ComboBoxQorBaudRateContr, *ComboBoxQorParityContr, *ComboBoxQorStopsContr,
        *ComboBoxQorMenuLanguageContr;
    QComboBox *ComboBoxQorBaudRate, *ComboBoxQorParity, *ComboBoxQorStops,
        *ComboBoxQorMenuLanguage;
    QPushButton *ButtonQorCopyConnectToUser, *ButtonWriteConnectSettingsToQor;
};
