#pragma once
#include "CliOptions.h"
#include "ConsoleView.h"
#include "MainState.h"
#include "PollCycle.h"
#include "ProfileFile.h"

#include <QEventLoop>
#include <QObject>
#include <QPointer>

// One run against one controller: the program's state and poll cycle as the window holds
// them, driven step by step from the command instead of by the poll thread.
class Session {
public:
    // The working folder has been changed already; settings come from options.ini.
    Session(ConsoleView &view, const CliOptions &options);

    // False, with the message shown, when a settings file named with --ini cannot be read.
    bool SettingsReadable() const { return m_settingsReadable; }

    // Opens the port and identifies the controller; an exit code (Ok when it is a QOR7070
    // whose configuration is loaded and whose connection block was read).
    int Connect();
    // Every sensor's settings (and tags from 1.2 on) and every relay's settings into the
    // controller tables; an exit code.
    int ReadControllerTables();
    // Poll steps as the poll thread runs them, until done() or an interruption: the port
    // is reopened and the controller identified again after a loss, with [measure]
    // period between attempts while offline.
    void RunPolling(const std::function<bool()> &done);

    QString Text(const TextKey &key) const { return state.Text(key); }
    ProfileContext Context();
    bool Interrupted() const { return state.stopPolling; }
    // SIGINT/SIGTERM: the running wait ends at once and nothing more is sent.
    void Interrupt();

    ConsoleView &view;
    MainState state;
    PollCycle cycle;

private:
    void sleep(int ms);
    bool m_settingsReadable = true;
    QPointer<QEventLoop> m_sleep;
};

// Installs the handlers of SIGINT and SIGTERM for the session.
void CatchInterrupts(Session &session);
