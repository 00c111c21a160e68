#pragma once
#include "DeviceRegisterMap.h"
#include "LinkReporter.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusMaster.h"
#include "SerialLink.h"
#include "SettingsValidation.h"
#include "TextGrid.h"

#include <atomic>

class MainView;

// The controller column of the device-connection page: what its six controls show.
struct ConnectControls {
    QString addr;
    int baud = -1; // item indexes; -1 = no item chosen
    int parity = -1;
    int stops = -1;
    QString chan;
    int language = -1;
    bool dashes = false; // the last read failed: every control shows "---"
};

// Everything the main window owns, without a widget: the settings, the link, the register
// map, the flags and the tables. The window shows it; the poll cycle works on it.
class MainState : public LinkReporter {
public:
    // Opens start.ini and default.ini in the working directory; default.ini is written
    // back at once (created empty when missing).
    explicit MainState(MainView &view);
    ~MainState() override;

    MainView &view() { return m_view; }

    QString Text(const TextKey &key) const { return LookupText(settingsIni, key); }
    QString Text(const char *key, const QString &def) const
    {
        return LookupText(settingsIni, key, def);
    }

    // LinkReporter
    void SetLinkDown(const QString &text) override;
    void ShowAttemptNumber(int attempt) override;

    void ShowDeviceViews();
    void HideDeviceViews();
    bool LoadDeviceConfiguration(quint16 deviceCode, quint16 firmwareWord);
    bool ReadDeviceConfiguration(const QString &path, const QString &firmwareText);
    // Texts of the current language into the grids and the window; the next cycle then
    // identifies the controller again.
    void ApplyLanguage();
    void SwitchLanguage(int lang);
    // Rewrites start.ini; a failure is shown, never passed over.
    bool SaveSettings();

    // ms the poll thread sleeps between steps while offline ([measure] period).
    int PollPeriodMs() const;

    MemIniFile settingsIni;
    MemIniFile deviceIni;
    SerialLink link;
    ModbusMaster modbus;

    DeviceRegisterMap registerMap;
    quint16 firmwareVersion = 0;
    // The controller's versions as "major.minor", set at each identification (empty until
    // the first): what a profile records.
    QString firmwareVersionText;
    QString hardwareVersionText;
    QString deviceConfigPath;

    // Flags between the window and the poll cycle. The two the poll thread reads between
    // steps are atomic; the rest are only touched on the GUI thread.
    std::atomic<bool> linkUp{false};
    std::atomic<bool> stopPolling{false};
    // linkUp was cleared by a language switch only, to identify the controller again: the
    // link itself was not lost. Cleared by the next identification and by SetLinkDown.
    bool identifyingAgain = false;
    bool linkInterruptedByUser = false;
    bool portSettingsChanged = false;
    bool deviceChanged = false;
    bool pollSensorData = false;
    bool pollSensorSettings = false;
    bool pollRelaySettings = false;
    bool pollConnectSettings = false;
    // Trend start asks for every tag; the cycle serves it and clears it. The trend row
    // request and file name belong to the recorder (TrendRecorder).
    bool readAllTagsRequested = false;
    bool writeSensorSettingsRequested = false;
    bool writeRelaySettingsRequested = false;
    bool writeConnectSettingsRequested = false;
    bool lastWriteSucceeded = false;

    quint16 relayStateWord = 0;
    int sensorSettingsReadIndex = 0;
    int sensorSettingsPass = 0; // counts the page's shows: each restarts the read pass
    bool sensorSettingsCopyEnabled = false; // ButtonCopySensorSettingsToUser

    // The pages' show handlers: what they select for the poll cycle and what they reset.
    void SensorDataShown();
    void SensorSettingsShown();
    void RelaySettingsShown();
    void ConnectSettingsShown();
    void ProfilesShown();
    void EnableSensorSettingsCopy(bool enabled);

    TextGrid sensorsData;       // StringGridSensorsData
    TextGrid sensorsData2;      // StringGridSensorsData2
    TextGrid qorRelay;          // StringGridQorRelay
    TextGrid sensorSettings;    // StringGridSensorSettings
    TextGrid sensorSettingsUser;
    TextGrid tagContr;          // StringGridTagContr
    TextGrid tagUser;
    TextGrid relaySettings;     // StringGridRelaySettings
    TextGrid relaySettingsUser;
    ConnectControls connectContr;
    // The user column of the connection page as last checked by its write button: what a
    // connection write sends.
    ConnectUserValues connectUser;

    // Message boxes of the editing rules and checks.
    void ShowError(const QString &caption, const QString &text);

private:
    void SetGridHeaderTexts(TextGrid &grid, int count, int firstKey);
    void LabelSensorGrid(TextGrid &grid, bool controllerTable);
    void LabelRelayGrid(TextGrid &grid);

    MainView &m_view;
};
