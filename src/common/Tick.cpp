#include "Tick.h"

quint32 TickMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<quint32>(clock.elapsed());
}

void Deadline::start(qint64 ms)
{
    m_length = ms;
    m_timer.start();
}

qint64 Deadline::remaining() const
{
    const qint64 left = m_length - m_timer.elapsed();
    return left > 0 ? left : 0;
}
