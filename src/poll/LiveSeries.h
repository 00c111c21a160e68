#pragma once
#include <QtGlobal>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

// The last values of every sensor as the poll cycle read them, for the live chart. One
// ring of sample times and one ring of temperatures per sensor, all the same length, so
// memory stays bounded however long the program runs. A sample whose sensor was not on
// the air (no power, faulty, undetermined, not registered, an unknown code) is NaN: a gap.
class LiveSeries {
public:
    static constexpr float kGap = std::numeric_limits<float>::quiet_NaN();

    // A reading closer than minIntervalMs to the last one kept is left out, so that the
    // ring holds the same stretch of time at any line speed (8192 x 100 ms: 13 minutes);
    // the sensors themselves transmit only every few seconds.
    explicit LiveSeries(int capacity = 8192, qint64 minIntervalMs = 0);

    // One poll cycle's reading: status and temperature words of sensors 1 .. n. False
    // when it came too soon after the last one and was left out.
    bool Append(qint64 timeMs, std::span<const quint16> status,
                std::span<const quint16> temperature);
    void Clear();

    int capacity() const { return m_capacity; }
    int size() const { return m_size; }
    int sensorCount() const { return int(m_values.size()); }
    // Appends so far (a view redraws only when it changed).
    quint64 revision() const { return m_revision; }

    // Sample i, 0 the oldest kept.
    qint64 time(int i) const { return m_times[slot(i)]; }
    float value(int sensor, int i) const { return m_values[sensor][slot(i)]; }
    // Sensors (zero-based) registered in the newest sample.
    const std::vector<int> &registered() const { return m_registered; }

    // The kept samples in order, copied out for drawing (the ring wraps).
    void CopyTimes(std::vector<qint64> &out) const;
    void CopyValues(int sensor, std::vector<float> &out) const;

    static bool IsGap(float v) { return std::isnan(v); }

private:
    int slot(int i) const { return (m_first + i) % m_capacity; }

    int m_capacity;
    qint64 m_minIntervalMs;
    int m_first = 0;
    int m_size = 0;
    quint64 m_revision = 0;
    std::vector<qint64> m_times;
    std::vector<std::vector<float>> m_values;
    std::vector<int> m_registered;
};
