#include "ReadingsGrid.h"

#include <algorithm>

namespace {

bool OnAir(quint16 status) { return status <= 2; }

} // namespace

ReadingsGrid BuildReadingsGrid(const std::vector<SensorSeries> &series, qint64 fromMs,
                               qint64 toMs, qint64 gapMs)
{
    ReadingsGrid grid;
    if (toMs <= fromMs)
        return grid;
    // Every row's time, and where a sensor's line must end because no row followed in
    // time: without that point the line would run across the hours nobody polled.
    std::vector<qint64> &times = grid.timesMs;
    for (const SensorSeries &s : series) {
        const size_t n = s.timesMs.size();
        for (size_t i = 0; i < n; ++i) {
            const qint64 t = s.timesMs[i];
            if (t >= fromMs && t < toMs) {
                times.push_back(t);
                // A change is a step: the old value held until just before it.
                if (i > 0 && t - 1 >= fromMs && t - 1 > s.timesMs[i - 1] &&
                    (s.temperature[i] != s.temperature[i - 1] || s.status[i] != s.status[i - 1]))
                    times.push_back(t - 1);
            }
            else if (t < fromMs && t + gapMs > fromMs)
                times.push_back(fromMs); // the row before the range reaches into it
            const qint64 end = t + gapMs;
            if (end >= fromMs && end < toMs && (i + 1 == n || s.timesMs[i + 1] > end))
                times.push_back(end);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());

    for (const SensorSeries &s : series) {
        std::vector<float> column(times.size(), ReadingsGrid::kGap);
        bool any = false;
        size_t row = 0; // the sensor's last row at or before times[i]
        const size_t n = s.timesMs.size();
        for (size_t i = 0; i < times.size(); ++i) {
            const qint64 t = times[i];
            while (row < n && s.timesMs[row] <= t)
                ++row;
            if (row == 0)
                continue; // nothing kept yet
            const size_t r = row - 1;
            if (t - s.timesMs[r] >= gapMs || !OnAir(s.status[r]))
                continue;
            column[i] = float(s.temperature[r]);
            any = true;
        }
        if (!any)
            continue;
        grid.sensors.push_back(s.sensor);
        grid.values.push_back(std::move(column));
    }
    return grid;
}
