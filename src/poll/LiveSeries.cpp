#include "LiveSeries.h"

#include <algorithm>

LiveSeries::LiveSeries(int capacity, qint64 minIntervalMs)
    : m_capacity(std::max(capacity, 2)), m_minIntervalMs(minIntervalMs)
{
    m_times.resize(m_capacity);
}

void LiveSeries::Clear()
{
    m_first = m_size = 0;
    m_values.clear();
    m_registered.clear();
    ++m_revision;
}

bool LiveSeries::Append(qint64 timeMs, std::span<const quint16> status,
                        std::span<const quint16> temperature)
{
    const int n = int(std::min(status.size(), temperature.size()));
    if (n == sensorCount() && m_size > 0 && timeMs >= time(m_size - 1) &&
        timeMs - time(m_size - 1) < m_minIntervalMs)
        return false;
    // The clock set back: the times would no longer ascend, which drawing relies on.
    if (m_size > 0 && timeMs < time(m_size - 1))
        Clear();
    if (n != sensorCount()) {
        // Another register map: the old rows belong to other sensors.
        Clear();
        m_values.assign(n, std::vector<float>(m_capacity, kGap));
    }
    int at;
    if (m_size < m_capacity) {
        at = slot(m_size);
        ++m_size;
    } else {
        at = m_first; // the oldest goes
        m_first = (m_first + 1) % m_capacity;
    }
    m_times[at] = timeMs;
    m_registered.clear();
    for (int s = 0; s < n; ++s) {
        const quint16 code = status[s];
        m_values[s][at] = code <= 2 ? float(temperature[s]) : kGap;
        if (code != 40)
            m_registered.push_back(s);
    }
    ++m_revision;
    return true;
}

void LiveSeries::CopyTimes(std::vector<qint64> &out) const
{
    out.resize(m_size);
    for (int i = 0; i < m_size; ++i)
        out[i] = m_times[slot(i)];
}

void LiveSeries::CopyValues(int sensor, std::vector<float> &out) const
{
    out.resize(m_size);
    const std::vector<float> &ring = m_values[sensor];
    for (int i = 0; i < m_size; ++i)
        out[i] = ring[slot(i)];
}
