#pragma once
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

class MemIniFile;
class LinkReporter;

// The one serial port to the controller. Line settings and time-outs come from [connect]
// of the program settings each time the port is configured. Transfers wait in a local event
// loop woken by the port and a deadline, never by spinning.
class SerialLink : public QObject {
    Q_OBJECT
public:
    SerialLink(const MemIniFile &settings, LinkReporter &reporter, QObject *parent = nullptr);
    ~SerialLink() override;

    // The device path for a [connect] port setting: "COMn" is the n-th serial port of the
    // system (COMn on Windows, /dev/ttyS<n-1> elsewhere), anything else is a path used whole.
    static QString PortPathFromSetting(const QString &port);

    bool OpenPort(const QString &path);
    bool ConfigurePort();
    bool ApplyTimeouts();
    bool ConnectPort(const QString &path);
    void ClosePort();
    bool IsOpen() const { return m_port.isOpen(); }

    // An open failure is reported once until an open succeeds or this is cleared.
    bool portErrorShown() const { return m_portErrorShown; }
    void ClearPortErrorShown() { m_portErrorShown = false; }

    // Port time-outs in ms, as last applied.
    struct Timeouts {
        int readInterval = 10;        // cto1
        int readTotalMultiplier = 0;  // cto2, per byte
        int readTotalConstant = 1000; // cto3
        int writeTotalMultiplier = 100; // cto4, per byte
        int writeTotalConstant = 1000;  // cto5
    };
    const Timeouts &timeouts() const { return m_timeouts; }

    // Before a transaction: if the last one was abandoned, wait up to drainMs for its late
    // answer to pass, then discard every byte received since the previous transaction.
    void BeginTransaction(int drainMs);

    // Sends frame; true when it has left the port within ms. User input waits meanwhile.
    bool Write(const QByteArray &frame, int ms);

    // Receives the answer to a request with this function: complete as soon as the whole
    // frame has arrived, or when bytes arrived and then none for the read-interval time-out,
    // or when bytes arrived and the port's total read time-out ended. False when nothing
    // completed within ms; the transfer then counts as abandoned. With letUserIn the GUI
    // handles user input while waiting.
    bool Read(QByteArray &answer, quint8 function, int capacity, int ms, bool letUserIn);

    // Waits ms without spinning; user input waits.
    static void Pause(int ms);

private:
    void onError(QSerialPort::SerialPortError error);

    const MemIniFile &m_settings;
    LinkReporter &m_reporter;
    QSerialPort m_port;
    Timeouts m_timeouts;
    bool m_portErrorShown = false;
    bool m_openFailed = false;
    bool m_abandoned = false;
    quint8 m_abandonedFunction = 0;
};
