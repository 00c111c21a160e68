#pragma once
#include "CliOptions.h"
#include "ConsoleView.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "MainState.h"
#include "PollCycle.h"
#include "ProfileFile.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

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
    // --for: RunPolling ends (and so the run, with exit 0) ms from now.
    void EndAfter(qint64 ms);
    bool TimeUp() const { return m_timeUp; }

    // A connection write (write) stores the controller's new line as the program's own
    // in the settings file. A line given on the command line does not live there, so the
    // file then stays as it was; and --lang never reaches the file.
    bool WriteConnection(const std::function<bool()> &write);

    QString Text(const TextKey &key) const { return state.Text(key); }
    ProfileContext Context();
    bool Interrupted() const { return state.stopPolling; }
    // SIGINT/SIGTERM: the running wait ends at once and nothing more is sent.
    void Interrupt();

    // The working folder's store with the engine's history on it, from before the
    // controller is identified: the run's events and readings go there. Problems of the
    // store are told on stderr, one line each, with the time when stamped.
    void StartHistory(bool stamped = false);
    // The program-stopped event, then everything queued written.
    void StopHistory();

    ConsoleView &view;
    MainState state;
    PollCycle cycle;
    std::unique_ptr<HistoryStore> store; // before the service: it goes after it
    std::unique_ptr<HistoryService> history;

private:
    void sleep(int ms);
    void checkEnd();

    bool m_settingsReadable = true;
    QString m_storeProblem; // told last
    QPointer<QEventLoop> m_sleep;
    bool m_lineGiven = false;
    bool m_langGiven = false;
    std::optional<QString> m_langInFile; // [language] lang as the file holds it
    bool m_timeUp = false;
    QDeadlineTimer m_end;
    QTimer m_endTimer;
};

// A moment as ISO 8601 with the local offset ("+09:00"), so a reader elsewhere knows it.
QString IsoTime(qint64 utcMs);

// Installs the handlers of SIGINT and SIGTERM for the session, or calling interrupt (on
// the event loop, never inside the signal handler).
void CatchInterrupts(Session &session);
void CatchInterrupts(const std::function<void()> &interrupt);
