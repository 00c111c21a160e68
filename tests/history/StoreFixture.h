#pragma once
// Batches whose values name themselves: sensor s in cycle c reads temperature
// s * 1000 + c % 1000, seconds c % 60 and a status that changes now and then; relay r is on
// in the cycles where (c + r) is even. A value in the wrong sensor, cycle or order shows.
#include "HistoryStore.h"

#include <QtGlobal>

inline constexpr qint64 kT0 = 1767225600000; // 2026-01-01T00:00:00Z

inline HistoryController TestController(int address = 7, const QString &port = QStringLiteral("/dev/ttyTEST0"))
{
    return {0x7070, address, port, QStringLiteral("1.2")};
}

inline quint16 NamedTemperature(int sensor, int cycle)
{
    return quint16(sensor * 1000 + cycle % 1000);
}

inline quint16 NamedStatus(int sensor, int cycle)
{
    static const quint16 codes[] = {0, 1, 2, 10, 20, 30, 40, 77};
    return codes[(cycle / 7 + sensor) % 8];
}

inline HistoryBatch NamedBatch(int cycle, int sensors, qint64 timeMs, int relays = 4,
                               const HistoryController &c = TestController())
{
    HistoryBatch b;
    b.controller = c;
    b.timeMs = timeMs;
    for (int s = 1; s <= sensors; ++s)
        b.sensors.push_back({s, NamedStatus(s, cycle), NamedTemperature(s, cycle),
                             quint16(cycle % 60)});
    for (int r = 1; r <= relays; ++r)
        b.relays.push_back({r, (cycle + r) % 2 == 0});
    return b;
}
