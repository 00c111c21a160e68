#include "ReadingBlock.h"

namespace {

void putVarint(QByteArray &out, quint64 v)
{
    while (v >= 0x80) {
        out += char(uchar(v) | 0x80);
        v >>= 7;
    }
    out += char(uchar(v));
}

quint64 zigzag(qint64 v)
{
    return (quint64(v) << 1) ^ quint64(v >> 63);
}

} // namespace

bool ReadingBlockWriter::accepts(qint64 timeMs) const
{
    return timeMs >= m_lastMs && timeMs - m_startMs <= kMaxBlockSpanMs &&
           m_data.size() < kMaxBlockBytes;
}

void ReadingBlockWriter::append(qint64 timeMs, const std::vector<SensorReading> &sensors,
                                const std::vector<RelayReading> &relays)
{
    putVarint(m_data, quint64(timeMs - m_lastMs));
    m_lastMs = timeMs;
    putVarint(m_data, sensors.size());
    for (const SensorReading &r : sensors) {
        const auto found = m_last.find(r.sensor);
        const bool first = found == m_last.end();
        Last &prev = first ? m_last[r.sensor] : found->second;
        const bool status = first || prev.status != r.status;
        const bool temperature = first || prev.temperature != r.temperature;
        putVarint(m_data, quint64(quint32(r.sensor)) << 2 | (status ? 1 : 0) | (temperature ? 2 : 0));
        if (status)
            putVarint(m_data, r.status);
        if (temperature)
            putVarint(m_data, zigzag(qint64(r.temperature) - qint64(first ? 0 : prev.temperature)));
        putVarint(m_data, r.seconds);
        prev = {r.status, r.temperature};
    }
    putVarint(m_data, relays.size());
    for (const RelayReading &r : relays)
        putVarint(m_data, quint64(quint32(r.relay)) << 1 | (r.on ? 1 : 0));
}
