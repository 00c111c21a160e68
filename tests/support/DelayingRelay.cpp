#include "DelayingRelay.h"

#include <QHostAddress>

DelayingRelay::DelayingRelay(quint16 targetPort, quint32 seed, int minMs, int maxMs)
    : m_targetPort(targetPort), m_rng(seed), m_delay(minMs, maxMs)
{
    m_clock.start();
    m_next.setSingleShot(true);
    m_next.setTimerType(Qt::PreciseTimer);
    connect(&m_next, &QTimer::timeout, this, &DelayingRelay::deliver);
    connect(&m_server, &QTcpServer::newConnection, this, &DelayingRelay::accept);
}

DelayingRelay::~DelayingRelay()
{
    for (QTcpSocket *s : {m_client.data(), m_target.data()})
        if (s) {
            s->disconnect(this);
            s->abort();
            delete s;
        }
}

bool DelayingRelay::listen() { return m_server.listen(QHostAddress::LocalHost, 0); }

void DelayingRelay::accept()
{
    while (QTcpSocket *s = m_server.nextPendingConnection()) {
        if (m_client) { // one master at a time
            s->abort();
            s->deleteLater();
            continue;
        }
        m_client = s;
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_target = new QTcpSocket(this);
        m_target->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(m_target, &QTcpSocket::connected, this, [this] {
            m_target->write(m_pendingRequests);
            m_pendingRequests.clear();
        });
        connect(m_target, &QTcpSocket::readyRead, this, &DelayingRelay::fromTarget);
        connect(m_target, &QTcpSocket::disconnected, this, &DelayingRelay::dropConnection);
        connect(s, &QTcpSocket::readyRead, this, [this] {
            const QByteArray request = m_client->readAll();
            if (m_target->state() == QAbstractSocket::ConnectedState)
                m_target->write(request);
            else
                m_pendingRequests += request;
        });
        connect(s, &QTcpSocket::disconnected, this, &DelayingRelay::dropConnection);
        m_target->connectToHost(QHostAddress::LocalHost, m_targetPort);
    }
}

void DelayingRelay::fromTarget()
{
    const QByteArray bytes = m_target->readAll();
    if (bytes.isEmpty())
        return;
    // Never before the answer ahead of it: the stream keeps its order.
    qint64 due = m_clock.elapsed();
    if (!m_held.empty())
        due = qMax(due, m_held.back().dueMs);
    due += m_delay(m_rng);
    if (m_stallEvery > 0 && ++m_received % m_stallEvery == 0)
        due += m_stallMs;
    m_held.push_back({due, bytes});
    if (!m_next.isActive())
        m_next.start(int(qMax<qint64>(0, m_held.front().dueMs - m_clock.elapsed())));
}

void DelayingRelay::deliver()
{
    const qint64 now = m_clock.elapsed();
    while (!m_held.empty() && m_held.front().dueMs <= now) {
        if (m_client && m_client->state() == QAbstractSocket::ConnectedState) {
            m_client->write(m_held.front().bytes);
            ++m_answers;
        }
        m_held.pop_front();
    }
    if (!m_held.empty())
        m_next.start(int(qMax<qint64>(0, m_held.front().dueMs - now)));
}

void DelayingRelay::dropConnection()
{
    // Either side gone: both go, and what was held back with them.
    m_held.clear();
    m_next.stop();
    m_pendingRequests.clear();
    if (QTcpSocket *c = m_client.data()) {
        m_client.clear();
        c->disconnect(this);
        c->abort();
        c->deleteLater();
    }
    if (QTcpSocket *t = m_target.data()) {
        m_target.clear();
        t->disconnect(this);
        t->abort();
        t->deleteLater();
    }
}
