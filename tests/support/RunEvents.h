#pragma once
#include <QEventLoop>
#include <QTimer>

// Lets the event loop run for ms, waking at once for every event. QTest::qWait cannot stand
// in for it where the poll engine runs: between its rounds of processEvents it sleeps (up
// to 10 ms) without looking at events, so every poll step the poll thread queues to this
// thread waits for that sleep to end.
inline void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
