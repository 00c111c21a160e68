#pragma once
#include "LinkTransport.h"
#include "ModbusFrames.h"
#include "RoundTrip.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

class MemIniFile;
class LinkReporter;

// The one link to the controller: a serial port, or a TCP connection named
// "tcp://HOST:PORT" (RTU frames as they are) or "mbtcp://HOST:PORT" (Modbus TCP), which
// carry the same transactions. Line settings and time-outs come from [connect] of the
// program settings each time the port is configured. Transfers, and connecting, wait in a
// local event loop woken by the port and a deadline, never by spinning.
class SerialLink : public QObject, private LinkTransport::InputListener {
    Q_OBJECT
public:
    SerialLink(const MemIniFile &settings, LinkReporter &reporter, QObject *parent = nullptr);
    ~SerialLink() override;

    // The device path for a [connect] port setting: "COMn" is the n-th serial port of the
    // system (COMn on Windows, /dev/ttyS<n-1> elsewhere), anything else (a device path, a
    // tcp:// or mbtcp:// address) is used whole.
    static QString PortPathFromSetting(const QString &port);

    // Opens the port, or connects: the connection is waited for (user input let in) up
    // to the receive time-out, at least ConnectFloorMs. A port that cannot be opened and a
    // connection refused or not made in time are reported once, alike.
    bool OpenPort(const QString &path);
    static constexpr int ConnectFloorMs = 1000;
    bool ConfigurePort();
    bool ApplyTimeouts();
    bool ConnectPort(const QString &path);
    void ClosePort();
    bool IsOpen() const;
    // Of the open port; 0 when closed or a connection.
    qint32 BaudRate() const;
    // The port is a TCP connection.
    bool IsNetwork() const;

    // An open failure is reported once until an open succeeds or this is cleared.
    bool portErrorShown() const { return m_portErrorShown; }
    // Why the last open or set-up of the port failed, in the system's words (may be empty).
    QString portError() const { return m_portError; }
    void ClearPortErrorShown() { m_portErrorShown = false; }

    // Port time-outs in ms, as last applied; negative settings count as 0.
    struct Timeouts {
        int readInterval = 10;          // cto1
        int readTotalMultiplier = 0;    // cto2, per byte
        int readTotalConstant = 1000;   // cto3
        int writeTotalMultiplier = 100; // cto4, per byte
        int writeTotalConstant = 1000;  // cto5
    };
    const Timeouts &timeouts() const { return m_timeouts; }
    // multiplier × bytes + constant in ms, computed without overflow and kept within an int
    // (hand-edited settings may hold anything).
    static int TotalTimeoutMs(int multiplier, qint64 bytes, int constant);

    // Ends any running wait (write, read, pause, drain) at once with failure, and refuses
    // every transfer until Resume() or until the port is closed and opened again. For
    // closing the window while a transaction runs.
    void Abort();
    void Resume() { m_aborted = false; }
    bool Aborted() const { return m_aborted; }

    // How long an attempt waits for its answer, for a receive time-out of receiveMs: on a
    // serial line receiveMs; on a connection the measured round trip decides (SRTT + 4 ×
    // RTTVAR, see RoundTrip), never less than receiveMs.
    int AnswerWaitMs(int receiveMs) const;
    // How long after a request its answer can still come: twice the answer wait (on a
    // serial line 2 × receive). Later than that it counts as lost.
    int LateBoundMs(int receiveMs) const;
    const RoundTrip &roundTrip() const { return m_roundTrip; }

    // Before a transaction with this request. Answers still owed to earlier requests are
    // let pass, so none is taken for this one, unless this is a retry of that same request,
    // which takes a late answer as its own: they are waited for until LateBoundMs after the
    // last of them was sent. Over Modbus TCP, where an answer names its request, they are
    // not waited for: the transport drops them however late they come. After a refused
    // answer the line must first fall silent. Then every byte received since the previous
    // transaction is discarded. False when the link is aborted or closed.
    bool BeginTransaction(const QByteArray &request, int receiveMs, bool retry);

    // Sends frame; true when it has left the port within ms. User input waits meanwhile.
    bool Write(const QByteArray &frame, int ms);

    // Receives the answer to a request of this shape. It is complete as soon as as many
    // bytes as its first bytes announce have arrived; or, when bytes have arrived, once the
    // line has been silent for the read-interval time-out (bytes that cannot begin the
    // answer always end this way, so a noisy answer is heard to its end), or when the
    // port's total read time-out ends. False when nothing completed within ms (the
    // transfer then counts as abandoned) or the link was aborted. With letUserIn the GUI
    // handles user input while waiting.
    bool Read(QByteArray &answer, const ModbusFrame::Expected &expected, int capacity, int ms,
              bool letUserIn);

    // The answer just read was refused: whatever the slave is still sending must end before
    // the next request goes out (a half-duplex line).
    void AnswerRefused() { m_mustSettle = true; }

    // Waits ms without spinning; user input waits unless letUserIn. False when aborted.
    bool Pause(int ms, bool letUserIn = false);

    // Silence on the line that ends a frame whose length is unknown: the read-interval
    // time-out, or when that is off 3.5 characters (at least 5 ms), on a connection
    // NetworkSilenceMs (it has no character time).
    int SilenceMs() const;
    static constexpr int NetworkSilenceMs = 20;

private:
    void usePortFor(const QString &path);
    bool waitForConnection(int maxMs);
    void reportOpenFailure();
    void discardInput();
    void forgetOwed();
    void answerArrived();
    void drainOwed(int receiveMs);
    bool waitForSilence(int maxMs);
    struct Wait;
    Wait &startWait(int kind);
    int runWait(Wait &wait, bool letUserIn);
    void take(Wait &wait);
    void finish(Wait &wait);
    void onGap(Wait &wait);
    void inputArrived() override;
    void onBytesWritten();
    void onLost();
    void onOpenEnded();

    // [connect]'s line settings and time-outs as last read; read again when the settings
    // have changed since (every step configures the port).
    struct LineSettings {
        int speed = 0, parity = 0, stopbits = 1;
        Timeouts timeouts;
        quint64 revision = 0; // of m_settings; 0: never read
    };
    const LineSettings &lineSettings();

    const MemIniFile &m_settings;
    LinkReporter &m_reporter;
    LineSettings m_line;
    std::unique_ptr<LinkTransport> m_port;
    Timeouts m_timeouts;
    bool m_portErrorShown = false;
    QString m_portError;
    bool m_aborted = false;
    bool m_mustSettle = false;
    // When each request whose answer has not arrived left the port (ms on m_clock), oldest
    // first. Answers come in the order of the requests, so an answer that arrives is the
    // oldest one's.
    std::deque<qint64> m_owed;
    QElapsedTimer m_clock;
    RoundTrip m_roundTrip; // of the connection; unused on a serial line
    QString m_path;        // opened last; another place starts a new estimate
    QByteArray m_request;          // of the transaction under way
    QByteArray m_abandonedRequest; // whose answer may still come
    // The waits' loops and timers, made once and re-armed for every wait; [0] serves every
    // wait but one nested in another.
    std::vector<std::unique_ptr<Wait>> m_waits;
    int m_depth = 0; // waits running, outermost first in m_waits; Abort() ends the innermost
};
