#pragma once
#include "SerialLink.h"

#include <QTimer>

// A call that must end a wait early (an answer complete before its time-out, an abort, a
// refused or dropped connection) is given a wait of a minute, and this watchdog aborts the
// link when a generous deadline passes. A call that sat the wait out ends there and is
// caught by fired(); nothing is measured.
inline constexpr int kLongWaitMs = 60000;

class Watchdog {
public:
    explicit Watchdog(SerialLink &link, int deadlineMs = 15000)
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &link, [this, &link] {
            m_fired = true;
            link.Abort();
        });
        m_timer.start(deadlineMs);
    }
    bool fired() const { return m_fired; }
    void stop() { m_timer.stop(); }

private:
    QTimer m_timer;
    bool m_fired = false;
};
