#include "ScriptedSlave.h"

#include <QTimer>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ScriptedSlave::ScriptedSlave()
{
    m_clock.start();
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        return;
    termios t{};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    tcsetattr(m_slave, TCSANOW, &t);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_path = QString::fromLocal8Bit(name);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ScriptedSlave::readable);
}

ScriptedSlave::~ScriptedSlave()
{
    m_notifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

void ScriptedSlave::send(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (::write(m_master, bytes.constData(), bytes.size()) < 0)
        qWarning("pty write failed");
    lastSendTime = m_clock.elapsed();
}

void ScriptedSlave::readable()
{
    char buf[512];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0)
        return;
    m_pending.append(buf, n);
    // Requests are 8 bytes, or 9 + byte count for function 16.
    while (m_pending.size() >= 8) {
        int len = 8;
        if (quint8(m_pending[1]) == 16) {
            if (m_pending.size() < 7)
                return;
            len = 9 + quint8(m_pending[6]);
        }
        if (m_pending.size() < len)
            return;
        const QByteArray request = m_pending.left(len);
        m_pending.remove(0, len);
        requests.append(request);
        requestTimes.append(m_clock.elapsed());
        if (m_piecesToSend > 0)
            ++requestsWhileAnswering;
        if (!m_script)
            continue;
        const Answer a = m_script(request, int(requests.size()));
        auto deliver = [this, a] {
            if (a.pieceBytes > 0) {
                for (qsizetype at = 0, i = 0; at < a.bytes.size(); at += a.pieceBytes, ++i) {
                    const QByteArray piece = a.bytes.mid(at, a.pieceBytes);
                    ++m_piecesToSend;
                    QTimer::singleShot(int(i) * a.pieceDelayMs, Qt::PreciseTimer, this,
                                       [this, piece] {
                                           --m_piecesToSend;
                                           send(piece);
                                       });
                }
            } else if (a.splitAt > 0 && a.splitAt < a.bytes.size()) {
                send(a.bytes.left(a.splitAt));
                const QByteArray rest = a.bytes.mid(a.splitAt);
                ++m_piecesToSend;
                QTimer::singleShot(a.splitDelayMs, this, [this, rest] {
                    --m_piecesToSend;
                    send(rest);
                });
            } else {
                send(a.bytes);
            }
        };
        if (a.delayMs > 0)
            QTimer::singleShot(a.delayMs, this, deliver);
        else
            deliver();
    }
}
