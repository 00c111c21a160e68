#pragma once
#include "MainView.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <functional>

// The window as tests and benchmarks see it: keeps what the logic showed, and calls back
// where a test wants to act at that moment. The callbacks run on the thread that shows.
struct RecorderView : MainView {
    static inline const QString kHidden = QStringLiteral("(hidden)");

    QString status[4];
    Lamp lamp = Lamp::Offline;
    int linkDowns = 0; // online -> offline
    QString cycleTime;
    int hides = 0, shows = 0, captions = 0;
    bool copyEnabled = false;
    QString panel10;     // Panel10 as it stands, empty while hidden
    int visibleRows = 8; // of the controller sensor-settings grid

    // Histories, kept while keepHistory is on (off for long runs and benchmarks).
    bool keepHistory = true;
    QStringList statusLog; // every text shown in any panel, in order
    QStringList messages;  // caption | text
    QStringList progress;  // Panel10 texts in order, kHidden when it was hidden
    QList<bool> running;   // SetWriteBackRunning calls

    bool pumpEvents = true; // ProcessMessages lets the event loop run once

    std::function<void(int, const QString &)> onStatus;
    std::function<void(const QString &)> onCycleTime;
    std::function<void(const QString &, const QString &)> onMessage;
    std::function<void(bool)> onCopyEnabled;
    std::function<void(const QString &)> onProgress;

    void ShowStatus(int panel, const QString &text) override
    {
        status[panel] = text;
        if (keepHistory)
            statusLog.append(text);
        if (onStatus)
            onStatus(panel, text);
    }
    void ShowLamp(Lamp l) override
    {
        linkDowns += lamp == Lamp::Online && l == Lamp::Offline;
        lamp = l;
    }
    void ShowCycleTime(const QString &text) override
    {
        cycleTime = text;
        if (onCycleTime)
            onCycleTime(text);
    }
    void ShowMessage(const QString &caption, const QString &text, Icon) override
    {
        if (keepHistory)
            messages.append(caption + " | " + text);
        if (onMessage)
            onMessage(caption, text);
    }
    void ProcessMessages() override
    {
        if (pumpEvents)
            QCoreApplication::processEvents();
    }
    void ShowDeviceViews() override { ++shows; }
    void HideDeviceViews() override { ++hides; }
    void ApplyCaptions() override { ++captions; }
    void ShowControllerConnectSettings() override {}
    void SensorDataLayoutChanged() override {}
    int SensorSettingsVisibleRows() override { return visibleRows; }
    void EnableSensorSettingsCopy(bool enabled) override
    {
        copyEnabled = enabled;
        if (onCopyEnabled)
            onCopyEnabled(enabled);
    }
    void ShowProgress(const QString &text) override
    {
        panel10 = text;
        if (keepHistory)
            progress << text;
        if (onProgress)
            onProgress(text);
    }
    void HideProgress() override
    {
        panel10.clear();
        if (keepHistory)
            progress << kHidden;
    }
    void SetWriteBackRunning(bool r) override
    {
        if (keepHistory)
            running << r;
    }
};
