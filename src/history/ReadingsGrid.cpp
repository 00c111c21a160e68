#include "ReadingsGrid.h"

#include <algorithm>
#include <iterator>

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
    // time: without that point the line would run across the hours nobody polled. Each
    // sensor's times come out ascending; they are merged, not sorted (a week of 36 sensors
    // is millions of them).
    std::vector<std::vector<qint64>> lists;
    lists.reserve(series.size());
    for (const SensorSeries &s : series) {
        std::vector<qint64> own;
        const size_t n = s.timesMs.size();
        own.reserve(n + n / 2 + 2);
        auto add = [&own](qint64 t) {
            if (own.empty() || own.back() < t)
                own.push_back(t);
        };
        for (size_t i = 0; i < n; ++i) {
            const qint64 t = s.timesMs[i];
            if (t >= fromMs && t < toMs) {
                // A change is a step: the old value held until just before it.
                if (i > 0 && t - 1 >= fromMs && t - 1 > s.timesMs[i - 1] &&
                    (s.temperature[i] != s.temperature[i - 1] || s.status[i] != s.status[i - 1]))
                    add(t - 1);
                add(t);
            } else if (t < fromMs && t + gapMs > fromMs) {
                add(fromMs); // the row before the range reaches into it
            }
            const qint64 end = t + gapMs;
            if (end >= fromMs && end < toMs && (i + 1 == n || s.timesMs[i + 1] > end))
                add(end);
        }
        lists.push_back(std::move(own));
    }
    // Pairwise merges, log2(sensors) rounds.
    while (lists.size() > 1) {
        std::vector<std::vector<qint64>> next;
        for (size_t i = 0; i + 1 < lists.size(); i += 2) {
            std::vector<qint64> merged;
            merged.reserve(lists[i].size() + lists[i + 1].size());
            std::set_union(lists[i].begin(), lists[i].end(), lists[i + 1].begin(),
                           lists[i + 1].end(), std::back_inserter(merged));
            next.push_back(std::move(merged));
        }
        if (lists.size() % 2)
            next.push_back(std::move(lists.back()));
        lists = std::move(next);
    }
    std::vector<qint64> &times = grid.timesMs;
    if (!lists.empty())
        times = std::move(lists.front());

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
