#pragma once
#include <QList>
#include <QMetaType>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// qor7070-sim run by a test: started on a pty (or listening on loopback TCP) with a traffic
// log of its own, driven by commands on its standard input, stopped with "quit" when the
// object goes.
class SimProcess {
public:
    // How the program reaches it: a pty, RTU frames over TCP, or Modbus TCP.
    enum class Transport { Pty, TcpRtu, TcpMbap };
    SimProcess() = default;
    explicit SimProcess(Transport transport) : m_transport(transport) {}
    // For the next start.
    void setTransport(Transport transport) { m_transport = transport; }
    Transport transport() const { return m_transport; }
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts the simulator with these arguments (--pty or --tcp 127.0.0.1:0 with its
    // framing, --log and --quit-on-eof are added) and waits for its PTY or TCP line. False, with
    // errorText(), when it did not come up. Benchmarks go without the traffic log: writing it would
    // slow the slave.
    enum class Log { On, Off };
    bool start(const QStringList &arguments = {}, int timeoutMs = 10000, Log log = Log::On);
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    QString ptyPath() const { return m_ptyPath; }
    // What the program's [connect] port names it by: the pty, or tcp://… / mbtcp://….
    QString portSetting() const { return m_portSetting; }
    // Sends one command line and returns the reply line (OK ... / ERR ...), or an empty
    // text when none came within the time-out.
    QString command(const QString &line, int timeoutMs = 5000);
    // The same for the controller at this address (several controllers on the line).
    QString command(int address, const QString &line, int timeoutMs = 5000)
    {
        return command(QStringLiteral("@%1 ").arg(address) + line, timeoutMs);
    }
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
    QString m_portSetting;
    Transport m_transport = Transport::Pty;
    QString m_error;
};

// With --named-values: what register reg of the k-th controller given (from 0) reads.
inline quint16 NamedValue(quint16 reg, int controller = 0)
{
    return quint16(reg + controller * 0x1000);
}

// A "transport" column (SimProcess::Transport) with a row for each transport, for a
// test's data function.
void AddTransportRows(bool tcpOnly = false);

// The transports a data-driven test runs over, with their row names.
inline QList<std::pair<const char *, SimProcess::Transport>> AllTransports() {
    return {{"pty", SimProcess::Transport::Pty},
            {"tcp", SimProcess::Transport::TcpRtu},
            {"mbtcp", SimProcess::Transport::TcpMbap}};
}
Q_DECLARE_METATYPE(SimProcess::Transport)
