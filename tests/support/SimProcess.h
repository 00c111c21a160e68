#pragma once
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// qor7070-sim run by a test: started on a pty with a traffic log of its own, driven by
// commands on its standard input, stopped with "quit" when the object goes.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts the simulator with these arguments (--pty, --log and --quit-on-eof are added)
    // and waits for its PTY line. False, with errorText(), when it did not come up.
    // Benchmarks go without the traffic log: writing it would slow the slave.
    enum class Log { On, Off };
    bool start(const QStringList &arguments = {}, int timeoutMs = 10000, Log log = Log::On);
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    QString ptyPath() const { return m_ptyPath; }
    // Sends one command line and returns the reply line (OK ... / ERR ...), or an empty
    // text when none came within the time-out.
    QString command(const QString &line, int timeoutMs = 5000);
    // The traffic log as it stands (the simulator flushes every line).
    QStringList logLines() const;
    // Log lines of one kind ("RX", "TX", "FAULT", "IGNORED", ...) with the time cut off.
    QStringList logEntries(const QString &kind) const;
    QString logPath() const;
    QString errorText() const { return m_error; }
    static QString simPath();

private:
    QString nextLine(int timeoutMs);

    QProcess m_process;
    QTemporaryDir m_dir;
    QByteArray m_stdout;
    QString m_ptyPath;
    QString m_error;
};
