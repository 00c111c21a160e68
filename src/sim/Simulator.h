#pragma once
#include "SimController.h"
#include "SimFaults.h"
#include "SimPort.h"
#include "SimRtu.h"
#include "SimTcp.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

// One controller on the line: its options and the map it serves.
struct SimUnitConfig {
    QString cfgPath;
    SimController::Options controller;
    DeviceRegisterMap map;
};

struct SimConfig {
    std::vector<SimUnitConfig> units; // at least one; the first sets the port's line
    bool pty = false;
    QString linkPath;
    QString devicePath;
    QString tcp;       // HOST:PORT to listen on
    bool mbap = false; // on TCP: Modbus TCP framing, else RTU frames as on a line
    bool pace = false;
    QString logPath;
    bool quiet = false;
    bool quitOnEof = false;
    QStringList faults; // for every controller
};

// The slaves on the line: reads requests, answers each through the controller at its
// address, applies faults, paces answers, logs the traffic and obeys commands on standard
// input.
class Simulator {
public:
    ~Simulator();
    bool start(const SimConfig &config, QString *error);
    int run(); // until "quit", end of input (with quitOnEof) or SIGINT/SIGTERM

    // One command line; the reply line starts with OK or ERR.
    QString command(const QString &line);

private:
    // A controller on the line, with what it does on it.
    struct Unit {
        int index = 0;
        SimController controller;
        FaultSet faults;
        std::mt19937 faultRng;
        LineSettings active; // the address it answers at and the baud it paces at
        bool offline = false;
        std::optional<qint64> offlineUntilNs; // none while offline until "online"
    };

    struct Outgoing {
        qint64 startNs; // the first bit goes on the line
        QByteArray bytes;
        qint64 readNs;  // when the request was complete, for the answer time
        std::function<void()> after;
        QByteArray rtu;         // Modbus TCP: the answer as an RTU frame, for the log
        quint64 connection = 0; // TCP: the connection it answers
        qint64 charNs = 0;      // of the baud the answering controller is at
    };

    qint64 nowNs() const;
    qint64 charNs() const; // 11 bits at the port's baud
    static qint64 charNsAt(const LineSettings &line);
    qint64 silenceNs() const;
    void log(const char *what, const QString &text = {});
    // With several controllers, text marked with the controller's address.
    QString ofUnit(const Unit &unit, const QString &text) const;
    Unit *unitAt(quint16 address);
    void logBytes(const char *what, const QByteArray &bytes);

    int lineFd() const { return m_config.tcp.isEmpty() ? m_port.fd : m_tcp.clientFd; }
    void readSerial();
    void acceptClient();
    void dropClient(const QString &why);
    void takeMbapRequests();
    QString tcpCommand(const QString &verb, const QStringList &words);
    void readStdin();
    void takeRequests(bool silence);
    void handleRequest(const QByteArray &frame, qint64 firstNs, qint64 readNs);
    // rtu: the answer as an RTU frame (for the log) when it goes out in an MBAP frame.
    void broadcast(const QByteArray &frame);
    void applyFaults(Unit &unit, QByteArray &answer, QByteArray &rtu, quint8 address,
                     qint64 &delayNs, const bool *struck, const int *values);
    void schedule(Outgoing out);
    void sendDue();
    void send(Outgoing &out);
    void applyLine(Unit &unit);
    int pollTimeoutMs() const;
    qint64 nextWakeNs() const;

    QString unitCommand(Unit &unit, const QString &verb, const QStringList &words);
    QString setCommand(Unit &unit, const QStringList &words);
    QString faultCommand(Unit &unit, const QStringList &words);
    QString getCommand(Unit &unit, const QStringList &words);

    SimConfig m_config;
    std::vector<std::unique_ptr<Unit>> m_units; // in the order given
    SimPort m_port;
    SimTcp m_tcp;
    quint64 m_connection = 0;              // counts the clients taken
    std::optional<qint64> m_refuseUntilNs; // not listening until then
    QByteArray m_mbapBuffer;               // Modbus TCP: received, not yet a whole frame
    quint16 m_mbapTransaction = 0;         // of the request being answered
    RtuRequestReader m_reader;
    LineSettings m_line; // the port's settings: the last a controller moved to
    std::vector<Outgoing> m_outgoing; // ordered by startNs
    FILE *m_log = nullptr;
    bool m_ownLog = false;
    qint64 m_startNs = 0;
    qint64 m_requestStartNs = 0; // first byte of what the reader holds
    qint64 m_lastByteNs = 0;
    bool m_stdinOpen = true;
    QByteArray m_stdinBuffer;
    bool m_quit = false;

    struct Stats {
        quint64 requests = 0, answered = 0, ignored = 0, faults = 0;
        qint64 maxAnswerNs = 0, totalAnswerNs = 0;
        quint64 timedAnswers = 0;
    } m_stats;
};
