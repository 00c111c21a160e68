#pragma once
#include "HistoryTypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <map>

// Readings are kept in blocks: one row per controller and up to ten minutes, its data the
// cycles of that time one after the other. A row of its own per cycle would cost about 40
// bytes of row and index overhead for a reading of a few bytes; a year of 36 sensors would
// not fit in 200 MB.
//
// A cycle: varint ms since the block's previous cycle (the first: since the block's
// start), varint sensor count, per sensor varint (sensor << 2 | flags) with flag 1 = the
// status follows, flag 2 = the temperature change follows, then [varint status],
// [zigzag varint change of the temperature against the sensor's previous reading in this
// block], varint seconds; then varint relay count, per relay varint (relay << 1 | on).
// A sensor's first reading in a block carries its status and its temperature (as a change
// from 0), so every block reads on its own.

inline constexpr qint64 kMaxBlockSpanMs = 10 * 60 * 1000;
// Kept under a page (4096 bytes) so a block never spills into overflow pages.
inline constexpr int kMaxBlockBytes = 3400;

class ReadingBlockWriter {
public:
    explicit ReadingBlockWriter(qint64 startMs = 0) : m_startMs(startMs), m_lastMs(startMs) {}

    qint64 startMs() const { return m_startMs; }
    qint64 lastMs() const { return m_lastMs; }
    const QByteArray &data() const { return m_data; }
    // False when a cycle of this time belongs in a new block: earlier than the last one
    // (the clock went back), beyond the block's span, or the block is full.
    bool accepts(qint64 timeMs) const;
    void append(qint64 timeMs, const std::vector<SensorReading> &sensors,
                const std::vector<RelayReading> &relays);

private:
    struct Last {
        quint16 status = 0;
        quint16 temperature = 0;
    };
    qint64 m_startMs;
    qint64 m_lastMs;
    QByteArray m_data;
    std::map<int, Last> m_last;
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
    using ReadingBlockDetail::readVarint;
    const uchar *p = reinterpret_cast<const uchar *>(data.data());
    const uchar *end = p + data.size();
    std::map<int, std::pair<quint16, quint16>> last; // sensor -> status, temperature
    qint64 t = startMs;
    while (p != end) {
        quint64 dt, n;
        if (!readVarint(p, end, dt) || !readVarint(p, end, n) || n > 4096)
            return false;
        t += qint64(dt);
        for (quint64 i = 0; i < n; ++i) {
            quint64 head, seconds;
            if (!readVarint(p, end, head))
                return false;
            SensorReading r;
            r.sensor = int(head >> 2);
            auto &prev = last[r.sensor];
            if (head & 1) {
                quint64 status;
                if (!readVarint(p, end, status) || status > 0xffff)
                    return false;
                prev.first = quint16(status);
            }
            if (head & 2) {
                quint64 z;
                if (!readVarint(p, end, z))
                    return false;
                const qint64 change = qint64(z >> 1) ^ -qint64(z & 1);
                prev.second = quint16(qint64(prev.second) + change);
            }
            if (!readVarint(p, end, seconds) || seconds > 0xffff)
                return false;
            r.status = prev.first;
            r.temperature = prev.second;
            r.seconds = quint16(seconds);
            onSensor(t, r);
        }
        quint64 relays;
        if (!readVarint(p, end, relays) || relays > 4096)
            return false;
        for (quint64 i = 0; i < relays; ++i) {
            quint64 v;
            if (!readVarint(p, end, v))
                return false;
            onRelay(t, RelayReading{int(v >> 1), bool(v & 1)});
        }
    }
    return true;
}
