#include "Tick.h"

#include <QElapsedTimer>

quint32 TickMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<quint32>(clock.elapsed());
}
