#pragma once
#include <QtGlobal>
#include <cmath>
#include <vector>

// Reducing a long series to what a plot of a given width can show: per bucket (a pixel
// column) the lowest and the highest value, in the order they came, so no peak is lost.
// Gaps (NaN values, or a step in time longer than maxStepMs) break the line; a bucket
// with no value at all is drawn as a gap, one holding some values is drawn with them.

struct PlotPoint {
    double x; // ms since the epoch
    double y; // NaN: the line breaks here
    bool isBreak() const { return std::isnan(y); }
};

// The lowest and highest value of every block of kSize samples, so a bucket that spans
// whole blocks is reduced from them instead of from every sample (a week of rows across a
// thousand pixels: about 20 blocks a bucket instead of 600 samples).
struct MinMaxBlocks {
    static constexpr size_t kSize = 32;
    std::vector<quint32> lo, hi; // sample index of the lowest/highest value; n: none
    std::vector<bool> plain;     // no pause longer than maxStepMs inside the block
};
MinMaxBlocks BuildMinMaxBlocks(const qint64 *x, const float *y, size_t n, qint64 maxStepMs);

// Points of x[i], y[i] (x ascending) between x0 and x1 (one point beyond each end
// included, so the line reaches the edges), at most about 2 x buckets of them plus breaks.
// Few enough points are passed through unchanged, gaps included.
// blocks, when given, must have been built from the same samples and maxStepMs.
std::vector<PlotPoint> DecimateMinMax(const qint64 *x, const float *y, size_t n, qint64 x0,
                                      qint64 x1, int buckets, qint64 maxStepMs,
                                      const MinMaxBlocks *blocks = nullptr);

// The usual step between samples (the median of the first ones), for choosing maxStepMs.
qint64 TypicalStepMs(const qint64 *x, size_t n);

// The points split at the breaks: one run of connected points each.
std::vector<std::vector<PlotPoint>> SplitAtBreaks(const std::vector<PlotPoint> &points);
