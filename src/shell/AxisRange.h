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
// Only when nothing drawn is plausible does the axis take what there is, so lines never
// vanish off the axis.
struct ValueSpan {
    static constexpr double kNone = std::numeric_limits<double>::infinity();
    double low = kNone, high = -kNone;       // plausible values
    double anyLow = kNone, anyHigh = -kNone; // all values
    void Add(double v)
    {
        if (std::isnan(v))
            return;
        anyLow = std::min(anyLow, v);
        anyHigh = std::max(anyHigh, v);
        if (!PlausibleTemperature(v))
            return;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    std::pair<double, double> Padded() const
    {
        return low <= high ? PaddedAxisRange(low, high) : PaddedAxisRange(anyLow, anyHigh);
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
        return drawn.Padded();
    }
};
