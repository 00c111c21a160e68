#pragma once
#include <algorithm>
#include <cmath>
#include <utility>

// The temperature axis of a chart: the values shown with 5 % (at least one degree) to
// spare, on whole degrees; 0..100 when there is nothing to show.
inline std::pair<double, double> PaddedAxisRange(double low, double high)
{
    if (!(low <= high)) {
        low = 0;
        high = 100;
    }
    const double margin = std::max((high - low) * 0.05, 1.0);
    return {std::floor(low - margin), std::ceil(high + margin)};
}
