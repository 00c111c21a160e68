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

// The lowest and highest value of every block of kSize samples, and of every block of
// kFan such blocks above them, and so on: a bucket is reduced from the biggest blocks that
// fit in it, and only its edges sample by sample (a week of rows across a thousand pixels:
// about 2 + 14 blocks and 30 samples a bucket instead of 600 samples). The blocks keep the
// values too, so reducing reads them in order and never the samples they stand for.
struct MinMaxBlocks {
    static constexpr size_t kSize = 32; // samples of a block of the first level
    static constexpr size_t kFan = 8;   // blocks of a level in one of the next
    static constexpr quint32 kNone = 0xffffffffu;
    struct Extremes {
        float low, high;
        quint32 lowAt, highAt; // sample index of the first lowest/highest value; kNone: all NaN
    };
    std::vector<std::vector<Extremes>> levels; // levels[L]: blocks of kSize * kFan^L samples
};
// Pauses are found from the times when decimating: the blocks depend on the values only.
MinMaxBlocks BuildMinMaxBlocks(const qint64 *x, const float *y, size_t n, qint64 maxStepMs);

// How x0..x1 splits into buckets, found from the times alone: every channel sampled at
// the same times is reduced with one plan (the times are walked once, not once a channel).
struct DecimationPlan {
    struct Run {
        size_t from, to;  // samples from..to-1, in one bucket, with no pause between them
        bool pauseBefore; // a pause in the recording just before the run
        bool endsBucket;  // the last run of its bucket
    };
    size_t from = 0, to = 0; // the samples drawn
    bool passThrough = true; // few enough samples: each is a point
    std::vector<Run> runs;
};
DecimationPlan PlanDecimation(const qint64 *x, size_t n, qint64 x0, qint64 x1, int buckets,
                              qint64 maxStepMs);
// The points of one channel by a plan made from its times (x) and maxStepMs; blocks, when
// given, built from its values y. Gives exactly what DecimateMinMax gives.
void DecimateByPlan(const DecimationPlan &plan, const qint64 *x, const float *y,
                    qint64 maxStepMs, const MinMaxBlocks *blocks, std::vector<PlotPoint> &out);

// Points of x[i], y[i] (x ascending) between x0 and x1 (one point beyond each end
// included, so the line reaches the edges), at most about 2 x buckets of them plus breaks.
// Few enough points are passed through unchanged, gaps included.
// blocks, when given, must have been built from the same samples.
std::vector<PlotPoint> DecimateMinMax(const qint64 *x, const float *y, size_t n, qint64 x0,
                                      qint64 x1, int buckets, qint64 maxStepMs,
                                      const MinMaxBlocks *blocks = nullptr);

// The usual step between samples (the median of the first ones), for choosing maxStepMs.
qint64 TypicalStepMs(const qint64 *x, size_t n);

// The points split at the breaks: one run of connected points each.
std::vector<std::vector<PlotPoint>> SplitAtBreaks(const std::vector<PlotPoint> &points);
