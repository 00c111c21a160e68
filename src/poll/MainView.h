#pragma once
#include <QString>

// What the logic shows through the window. The shell implements it with widgets; tests
// implement it with a recorder. Everything else the window shows is read from the models.
class MainView {
public:
    enum class Icon { None, Error, Warning, Information };

    virtual ~MainView() = default;
    virtual void ShowStatus(int panel, const QString &text) = 0;
    enum class Lamp { Offline, Online }; // grey / lime
    virtual void ShowLamp(Lamp lamp) = 0;
    // What keeps the link from coming up, for the window's body: no port chosen, a port
    // that does not open (reason: the system's words), nobody answering on the port.
    // None once a controller answered.
    enum class LinkProblem { None, NoPort, PortDoesNotOpen, NoAnswer };
    virtual void ShowLinkProblem(LinkProblem, const QString & /*port*/,
                                 const QString & /*reason*/) {}
    virtual void ShowCycleTime(const QString &text) = 0;
    // Modal, no owner window, one OK button.
    virtual void ShowMessage(const QString &caption, const QString &text, Icon icon) = 0;
    // Let the GUI handle what is pending, once.
    virtual void ProcessMessages() = 0;
    // The layouts: controller present (grids sized from the register map) or none.
    virtual void ShowDeviceViews() = 0;
    virtual void HideDeviceViews() = 0;
    // Captions, hints and memos of the current language; grid texts are in the models.
    virtual void ApplyCaptions() = 0;
    // The controller column of the connection page changed.
    virtual void ShowControllerConnectSettings() = 0;
    // The data grids changed their row layout (the group box follows the left grid).
    virtual void SensorDataLayoutChanged() = 0;
    // Rows of the controller sensor-settings grid that are fully in sight.
    virtual int SensorSettingsVisibleRows() = 0;
    // The copy button of the sensor page: offered only after a complete read pass.
    virtual void EnableSensorSettingsCopy(bool enabled) = 0;
    // Panel10: shows the text (a write-back's progress or result); hidden again after.
    virtual void ShowProgress(const QString &text) = 0;
    virtual void HideProgress() = 0;
    // While a write-back runs, the user sides of the settings pages (tables, connection
    // controls, their copy, select and write buttons) and the profile actions that load
    // or write cannot be used: there is no cancel, and a table edited half-way through a
    // write would be sent as a mix.
    virtual void SetWriteBackRunning(bool running) = 0;
};
