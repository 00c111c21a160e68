#pragma once
#include "MainView.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Text to the console in the local encoding, one line each; stdout is flushed per line so a
// pipe sees every line as it comes.
void PrintErr(const QString &text);
void PrintOut(const QString &text);

// What a failed run reports with --json: the key the failing place gave (none: the exit
// code's) and its message (none: the last line written to stderr).
void NoteFailure(const char *key, const QString &message = {});
// The fields of a failure: {"error": key, "exit": code, "message": text}. A command that
// prints them in its own object calls this; PrintJsonFailure then prints nothing more.
QJsonObject JsonFailure(int exitCode);
// The JSON object of a failure, one line on stdout.
void PrintJsonFailure(int exitCode);

// The window's view for a console: messages and Panel10 go to stderr, status panels are
// kept for the command to judge (and, while watching, link changes are told as they come).
class ConsoleView : public MainView {
public:
    QString status[4];
    bool echoLink = false;      // status panel 0 texts to stderr as they change
    bool echoProgress = true;   // Panel10 texts to stderr
    QStringList quietProgress;  // Panel10 texts the command reports in its own words
    bool unknownDevice = false; // identification found another device than a QOR7070
    QString unknownDeviceText;  // the text of n103, to recognise it

    void ShowStatus(int panel, const QString &text) override;
    void ShowLamp(Lamp) override {}
    void ShowCycleTime(const QString &) override {}
    void ShowMessage(const QString &caption, const QString &text, Icon) override;
    void ProcessMessages() override;
    void ShowDeviceViews() override {}
    void HideDeviceViews() override {}
    void ApplyCaptions() override {}
    void ShowControllerConnectSettings() override {}
    void SensorDataLayoutChanged() override {}
    int SensorSettingsVisibleRows() override { return 1 << 20; } // nothing to scroll
    void EnableSensorSettingsCopy(bool) override {}
    void ShowProgress(const QString &text) override;
    void HideProgress() override {}
    void SetWriteBackRunning(bool) override {}

private:
    QString m_lastEcho;
};
