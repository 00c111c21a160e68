#pragma once

// A reading outside this band comes from a broken probe or a misread frame, not from a
// cold room or an oven: it is flagged in the grids and left out of automatic chart ranges.
inline constexpr double kPlausibleMinC = -60.0;
inline constexpr double kPlausibleMaxC = 150.0;

inline bool PlausibleTemperature(double celsius)
{
    return celsius >= kPlausibleMinC && celsius <= kPlausibleMaxC;
}
