#pragma once
#include "ControllerPlace.h"
#include "CycleHook.h"
#include "DeviceRegisterMap.h"
#include "LinkReporter.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusMaster.h"
#include "SerialLink.h"
#include "SettingsValidation.h"
#include "TextGrid.h"

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class MainView;

namespace Msg {
// Status-bar panel 0, after the link text: pending writes were dropped (link lost, Stop, new
// connection settings or a new identification) and nothing of them was sent.
inline constexpr TextKey n132{"n132", u"Запись в контроллер не выполнена: связь с модулем прерывалась"};
// A write asked for before the controller's copy shown on its page was read from this
// controller (after a new identification, or a read that failed).
inline constexpr TextKey n133{
    "n133", u"Настройки еще не прочитаны из этого контроллера: откройте их страницу, "
            u"дождитесь, пока таблица контроллера заполнится, и повторите запись."};
// Status-bar panel 0 after a connection write whose read-back failed at both the new and
// the old line settings: the new ones are kept.
inline constexpr TextKey n134{
    "n134", u"Модуль не отвечает ни с новыми, ни с прежними настройками связи; оставлены новые"};
// A device-configuration file that is missing ("<n435><path><n436>") or that the program
// cannot use ("<n437><path>").
inline constexpr TextKey n435{"n435", u"Не найден файл конфигурации устройства: "};
inline constexpr TextKey n436{"n436", u". Обновите программу."};
inline constexpr TextKey n437{"n437", u"Ошибка в файле конфигурации устройства "};
} // namespace Msg

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
    // Opens start.ini and default.ini in the place's folder (the working directory when it
    // names none); default.ini is written back at once (created empty when missing). The
    // link is the place's (a bus's, shared) or one of its own.
    explicit MainState(MainView &view, const ControllerPlace &place = {});
    ~MainState() override;

    const ControllerPlace &place() const { return m_place; }
    // The folder of start.ini, default.ini and Trends/: the place's, or the working directory.
    QString folder() const;
    // The link is a bus's: other controllers use it too, so losing this controller never
    // closes the port.
    bool SharedLink() const { return m_place.link != nullptr; }
    // On a bus: its say on a connection write before it is asked for (empty: allowed; else
    // the message), and its following the controller to the address and line settings just
    // written into [connect] of settingsIni.
    std::function<QString(const ConnectUserValues &)> checkConnectWrite;
    std::function<void()> connectSettingsMoved;

    MainView &view() { return m_view; }

    QString Text(const TextKey &key) const { return LookupText(settingsIni, key); }
    QString Text(const char *key, const QString &def) const
    {
        return LookupText(settingsIni, key, def);
    }

    // LinkReporter
    void SetLinkDown(const QString &text) override;
    // The link was lost (or stopped by the user: linkInterruptedByUser) while it was up or
    // being identified again, with the text panel 0 shows; once per loss.
    CycleHook<const QString &> linkLost;
    // Status-bar panel 0: the link's state, and after it a notice that stays until the next
    // write is asked for (a write that was not done, a connection left unconfirmed).
    void ShowLinkState(const QString &text);
    void SetLinkNotice(const QString &notice);
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

private:
    ControllerPlace m_place;
    std::unique_ptr<SerialLink> m_ownLink; // null on a bus

public:
    SerialLink &link;
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
    // The pending requests load a profile into the controller (the audit names it so);
    // cleared when none is left.
    bool profileWriteRequested = false;
    bool AnyWriteRequested() const
    {
        return writeSensorSettingsRequested || writeRelaySettingsRequested ||
               writeConnectSettingsRequested;
    }
    // The write buttons: each checks its page (the controller copy read from this controller,
    // then the user side's values) and raises its request; the user sides stay locked until
    // every request is served or dropped. Nothing happens while the link is down.
    bool RequestSensorWrite(const ShowMessage &show, int *faultRow = nullptr);
    bool RequestRelayWrite(const ShowMessage &show);
    bool RequestConnectWrite(const ConnectUserValues &values, const ShowMessage &show);
    // Drops every pending request: the link was lost or stopped, the connection settings
    // changed, or another identification made the controller copies stale. Panel10 shows
    // the failure and panel 0 says why; nothing of them is sent.
    bool CancelPendingWrites();

    // Rows of the controller copies read from this controller since its last identification
    // (index = sensor or relay number - 1). Writes compare only against rows read here.
    std::vector<bool> sensorCopyRead;
    std::vector<bool> relayCopyRead;
    bool connectCopyRead = false;
    // Every sensor named in the user table has its controller row read.
    bool SensorCopyReadFor(const TextGrid &user) const;
    bool RelayCopyRead() const;
    // A new identification: the copies on screen may be another controller's. They are
    // emptied and count as unread until their pages read them again.
    void ForgetControllerCopies();

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
    // The controller copies emptied: they count as unread until read again.
    void RestartSensorSettingsPass();
    void ClearRelayCopy();

    MainView &m_view;
    QString m_linkText;   // panel 0 without the notice
    QString m_linkNotice; // after it, until the next write request
};
