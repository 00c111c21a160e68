#pragma once
#include <QElapsedTimer>
#include <QtGlobal>

// The millisecond tick: monotonic, wraps at 2^32 like the tick it replaces.
quint32 TickMs();

// A deadline: started with a length in ms; asked whether it has passed and how long is left.
class Deadline {
public:
    Deadline() = default;
    explicit Deadline(qint64 ms) { start(ms); }
    void start(qint64 ms);
    bool expired() const { return remaining() == 0; }
    qint64 remaining() const; // ms, never negative
    qint64 elapsed() const { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
    qint64 m_length = 0;
};
