#pragma once
#include "HistoryTypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <algorithm>
#include <limits>
#include <map>

// Readings are kept in blocks: one row per controller and up to ten minutes, its data the
// cycles of that time one after the other. A row of its own per cycle would cost about 40
// bytes of row and index overhead for a reading of a few bytes; a year of 36 sensors would
// not fit in 200 MB.
//
// A cycle: varint (zigzag(dt - previous dt) << 6 | relays follow << 5 | n), dt = ms since
// the block's previous cycle (the first: since the block's start, so 0), n = the sensor
// count up to 30, 31 = varint (count - 31) follows: a steady poll period and a few
// sensors cost one byte. Per sensor varint (zigzag(sensor - previous sensor of the cycle
// - 1) << 3 | flags), flag 1 = the status follows, 2 = the temperature change follows,
// 4 = the seconds follow, then [varint status], [varint zigzag change of the temperature
// against the sensor's previous reading in this block], [varint seconds; without it the
// seconds are the previous ones plus the whole seconds since]. Then, when relays follow,
// varint relay count and per relay varint (zigzag(relay - previous relay - 1) << 1 | on).
// A sensor's first reading in a block carries everything (its temperature as a change
// from 0), so every block reads on its own.

// Long enough that blocks close when full rather than by time (a quiet hour of 36 sensors
// is about 6 KB); a query reads this much before its range for the first values.
inline constexpr qint64 kMaxBlockSpanMs = 60 * 60 * 1000;
// A block fills a page (4096 bytes; a row holds up to 4061 bytes there) without spilling
// into an overflow page.
inline constexpr int kMaxBlockBytes = 4000;

namespace ReadingBlockDetail {
struct Last {
    quint16 status = 0;
    quint16 temperature = 0;
    quint16 seconds = 0;
    qint64 timeMs = 0;
};
// The seconds a sensor shows when it did not transmit since its last reading.
inline quint16 predictSeconds(const Last &last, qint64 timeMs)
{
    const qint64 s = qint64(last.seconds) + (timeMs - last.timeMs + 500) / 1000;
    return quint16(std::clamp<qint64>(s, 0, 0xffff));
}
inline qint64 unzigzag(quint64 z)
{
    return qint64(z >> 1) ^ -qint64(z & 1);
}
} // namespace ReadingBlockDetail

class ReadingBlockWriter {
public:
    explicit ReadingBlockWriter(qint64 startMs = 0) : m_startMs(startMs), m_lastMs(startMs) {}

    qint64 startMs() const { return m_startMs; }
    qint64 lastMs() const { return m_lastMs; }
    const QByteArray &data() const { return m_data; }
    // False when a cycle of this time and these counts belongs in a new block: earlier than
    // the last one (the clock went back), beyond the block's span, or it might not fit.
    bool accepts(qint64 timeMs, size_t sensors, size_t relays) const;
    void append(qint64 timeMs, const std::vector<SensorReading> &sensors,
                const std::vector<RelayReading> &relays);

private:
    qint64 m_startMs;
    qint64 m_lastMs;
    qint64 m_lastDt = 0;
    QByteArray m_data;
    std::map<int, ReadingBlockDetail::Last> m_last;
};

namespace ReadingBlockDetail {
inline bool readVarint(const uchar *&p, const uchar *end, quint64 &v)
{
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (p == end)
            return false;
        const uchar b = *p++;
        v |= quint64(b & 0x7f) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}
} // namespace ReadingBlockDetail

// Calls onSensor(timeMs, const SensorReading &) and onRelay(timeMs, const RelayReading &)
// for every reading of a block, oldest first. False when the data ends early or holds
// something no writer makes (what was read before that point was delivered).
template <class OnSensor, class OnRelay>
bool DecodeReadingBlock(qint64 startMs, QByteArrayView data, OnSensor onSensor, OnRelay onRelay)
{
    using namespace ReadingBlockDetail;
    const uchar *p = reinterpret_cast<const uchar *>(data.data());
    const uchar *end = p + data.size();
    Last small[64]{}; // sensors 0..63 without a map
    bool seen[64]{};
    std::map<qint64, Last> others;
    qint64 t = startMs, dt = 0;
    while (p != end) {
        quint64 head;
        if (!readVarint(p, end, head))
            return false;
        // Bounds that no writer comes near keep damaged data from overflowing.
        constexpr qint64 kFar = qint64(1) << 50;
        const qint64 ddt = unzigzag(head >> 6);
        if (ddt <= -kFar || ddt >= kFar || dt + ddt <= -kFar || dt + ddt >= kFar)
            return false;
        dt += ddt;
        t += dt;
        quint64 sensors = head & 31;
        if (sensors == 31) {
            quint64 more;
            if (!readVarint(p, end, more) || more > 4096)
                return false;
            sensors += more;
        }
        qint64 number = 0;
        for (quint64 i = 0; i < sensors; ++i) {
            quint64 h, v;
            if (!readVarint(p, end, h))
                return false;
            const qint64 step = unzigzag(h >> 3);
            if (step <= -kFar || step >= kFar)
                return false;
            number += step + 1;
            if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
                return false;
            const bool inSmall = number >= 0 && number < 64;
            if (inSmall && !seen[number]) {
                seen[number] = true;
                small[number] = {};
            }
            Last &prev = inSmall ? small[number] : others[number];
            const quint16 predicted = predictSeconds(prev, t);
            if (h & 1) {
                if (!readVarint(p, end, v) || v > 0xffff)
                    return false;
                prev.status = quint16(v);
            }
            if (h & 2) {
                if (!readVarint(p, end, v))
                    return false;
                prev.temperature = quint16(qint64(prev.temperature) + unzigzag(v));
            }
            if (h & 4) {
                if (!readVarint(p, end, v) || v > 0xffff)
                    return false;
                prev.seconds = quint16(v);
            } else {
                prev.seconds = predicted;
            }
            prev.timeMs = t;
            onSensor(t, SensorReading{int(number), prev.status, prev.temperature, prev.seconds});
        }
        if (head & 32) {
            quint64 relays;
            if (!readVarint(p, end, relays) || relays > 4096)
                return false;
            qint64 relay = 0;
            for (quint64 i = 0; i < relays; ++i) {
                quint64 v;
                if (!readVarint(p, end, v))
                    return false;
                const qint64 step = unzigzag(v >> 1);
                if (step <= -kFar || step >= kFar)
                    return false;
                relay += step + 1;
                if (relay < std::numeric_limits<int>::min() || relay > std::numeric_limits<int>::max())
                    return false;
                onRelay(t, RelayReading{int(relay), bool(v & 1)});
            }
        }
    }
    return true;
}
