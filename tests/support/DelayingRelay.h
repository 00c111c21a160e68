#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <random>

// A serial device server behind a slow network (a busy link, a cellular router), for tests:
// it listens on loopback, passes each connection on to a target (the simulator's TCP port)
// and holds every answer back by a random time between minMs and maxMs (seeded), counted
// from its arrival or, when the answer before it is still held, from when that one goes:
// answers queue as on a busy link and keep their order, as on a TCP stream. Requests go
// through at once. What the target sends in one piece is one answer. One connection at a
// time, as the simulator takes.
class DelayingRelay : public QObject {
    Q_OBJECT
public:
    DelayingRelay(quint16 targetPort, quint32 seed, int minMs, int maxMs);
    ~DelayingRelay() override;
    // False when it cannot listen.
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // Every n-th answer is held extraMs longer (a stall on the network); 0: none.
    void stallEvery(int n, int extraMs)
    {
        m_stallEvery = n;
        m_stallMs = extraMs;
    }
    // Answers passed on so far.
    int answers() const { return m_answers; }

private:
    void accept();
    void fromTarget();
    void deliver();
    void dropConnection();

    struct Held {
        qint64 dueMs;
        QByteArray bytes;
    };
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QPointer<QTcpSocket> m_target;
    QByteArray m_pendingRequests; // before the target has connected
    const quint16 m_targetPort;
    std::mt19937 m_rng;
    std::uniform_int_distribution<int> m_delay;
    std::deque<Held> m_held;
    QTimer m_next;
    QElapsedTimer m_clock;
    int m_answers = 0;
    int m_received = 0; // answers from the target
    int m_stallEvery = 0;
    int m_stallMs = 0;
};
