#pragma once
#include "HistoryTypes.h"

#include <limits>
#include <vector>

// Kept readings as a chart draws them: one time axis for every sensor, a value per sensor
// at each time. The store keeps a row on a change and at least once a minute, so a value
// holds until the sensor's next row; a sensor that has no row for much longer than that
// was not read (the program was not polling) and is a gap there, as is a reading whose
// status is not on the air (no power, faulty, undetermined, unregistered, unknown).
struct ReadingsGrid {
    static constexpr float kGap = std::numeric_limits<float>::quiet_NaN();
    // Three keep intervals without a row: the cycle was not alive.
    static constexpr qint64 kGapMs = 3 * 60 * 1000;

    std::vector<qint64> timesMs;
    std::vector<int> sensors;               // 1-based, those with a value somewhere
    std::vector<std::vector<float>> values; // [index in sensors][time]
};

// The readings of series over fromMs..toMs (toMs not included). The row each series has
// before fromMs starts its line at the left edge when it is recent enough.
ReadingsGrid BuildReadingsGrid(const std::vector<SensorSeries> &series, qint64 fromMs,
                               qint64 toMs, qint64 gapMs = ReadingsGrid::kGapMs);
