#pragma once
#include "Plausible.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

// The lowest and highest value drawn, for the automatic axis. A reading no room or oven
// can have (a broken probe, a misread frame) is left out: it would squash every line.
struct ValueSpan {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void Add(double v)
    {
        if (!PlausibleTemperature(v)) // NaN included
            return;
        low = std::min(low, v);
        high = std::max(high, v);
    }
};

// The axis the user chose: automatic, or fixed at min..max.
struct YAxisChoice {
    bool automatic = true;
    double min = 0, max = 100;
    std::pair<double, double> RangeFor(const ValueSpan &drawn) const
    {
        if (!automatic && min < max)
            return {min, max};
        return PaddedAxisRange(drawn.low, drawn.high);
    }
};
