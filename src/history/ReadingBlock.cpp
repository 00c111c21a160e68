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

bool ReadingBlockWriter::accepts(qint64 timeMs, size_t sensors, size_t relays) const
{
    // The most a cycle can take: 10 bytes of dt, 5 of count, per sensor 5 + 3 + 3 + 3.
    const qint64 most = 20 + qint64(sensors) * 14 + qint64(relays) * 5;
    return timeMs >= m_lastMs && timeMs - m_startMs <= kMaxBlockSpanMs &&
           m_data.size() + most <= kMaxBlockBytes;
}

void ReadingBlockWriter::append(qint64 timeMs, const std::vector<SensorReading> &sensors,
                                const std::vector<RelayReading> &relays)
{
    const qint64 dt = timeMs - m_lastMs;
    const quint64 n = sensors.size();
    putVarint(m_data, zigzag(dt - m_lastDt) << 6 | (relays.empty() ? 0 : 32) | std::min<quint64>(n, 31));
    if (n >= 31)
        putVarint(m_data, n - 31);
    m_lastDt = dt;
    m_lastMs = timeMs;
    qint64 number = 0;
    for (const SensorReading &r : sensors) {
        const auto found = m_last.find(r.sensor);
        const bool first = found == m_last.end();
        ReadingBlockDetail::Last &prev = first ? m_last[r.sensor] : found->second;
        const bool status = first || prev.status != r.status;
        const bool temperature = first || prev.temperature != r.temperature;
        const bool seconds = first || ReadingBlockDetail::predictSeconds(prev, timeMs) != r.seconds;
        putVarint(m_data, zigzag(qint64(r.sensor) - number - 1) << 3 | (status ? 1 : 0) |
                              (temperature ? 2 : 0) | (seconds ? 4 : 0));
        number = r.sensor;
        if (status)
            putVarint(m_data, r.status);
        if (temperature)
            putVarint(m_data, zigzag(qint64(r.temperature) - qint64(first ? 0 : prev.temperature)));
        if (seconds)
            putVarint(m_data, r.seconds);
        prev = {r.status, r.temperature, r.seconds, timeMs};
    }
    if (relays.empty())
        return;
    putVarint(m_data, relays.size());
    number = 0;
    for (const RelayReading &r : relays) {
        putVarint(m_data, zigzag(qint64(r.relay) - number - 1) << 1 | (r.on ? 1 : 0));
        number = r.relay;
    }
}
