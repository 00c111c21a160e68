#include "Decimate.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();

class Output {
public:
    explicit Output(std::vector<PlotPoint> &out) : m_out(out) {}
    void point(double x, double y) { m_out.push_back({x, y}); }
    void gap()
    {
        // One break is enough, and none before the first point.
        if (!m_out.empty() && !m_out.back().isBreak())
            m_out.push_back({m_out.back().x, kBreak});
    }

private:
    std::vector<PlotPoint> &m_out;
};

} // namespace

MinMaxBlocks BuildMinMaxBlocks(const qint64 *, const float *y, size_t n, qint64)
{
    using E = MinMaxBlocks::Extremes;
    constexpr quint32 kNone = MinMaxBlocks::kNone;
    MinMaxBlocks b;
    // A last partial block is scanned when decimating.
    std::vector<E> first(n / MinMaxBlocks::kSize);
    for (size_t k = 0; k < first.size(); ++k) {
        E e{0, 0, kNone, kNone};
        for (size_t i = k * MinMaxBlocks::kSize, end = i + MinMaxBlocks::kSize; i < end; ++i) {
            const float v = y[i];
            if (std::isnan(v))
                continue;
            if (e.lowAt == kNone || v < e.low) {
                e.low = v;
                e.lowAt = quint32(i);
            }
            if (e.highAt == kNone || v > e.high) {
                e.high = v;
                e.highAt = quint32(i);
            }
        }
        first[k] = e;
    }
    b.levels.push_back(std::move(first));
    while (b.levels.back().size() >= MinMaxBlocks::kFan) {
        const std::vector<E> &below = b.levels.back();
        std::vector<E> up(below.size() / MinMaxBlocks::kFan);
        for (size_t k = 0; k < up.size(); ++k) {
            E e{0, 0, kNone, kNone};
            for (size_t j = k * MinMaxBlocks::kFan; j < (k + 1) * MinMaxBlocks::kFan; ++j) {
                const E &d = below[j];
                // In order and only on a strictly lower/higher value: the first one stays.
                if (d.lowAt != kNone && (e.lowAt == kNone || d.low < e.low)) {
                    e.low = d.low;
                    e.lowAt = d.lowAt;
                }
                if (d.highAt != kNone && (e.highAt == kNone || d.high > e.high)) {
                    e.high = d.high;
                    e.highAt = d.highAt;
                }
            }
            up[k] = e;
        }
        b.levels.push_back(std::move(up));
    }
    return b;
}

namespace {

// The samples to draw for x0..x1: one beyond each end included.
bool DrawnSamples(const qint64 *x, size_t n, qint64 x0, qint64 x1, int buckets, size_t &from,
                  size_t &to)
{
    if (n == 0 || x1 <= x0 || buckets < 1)
        return false;
    from = size_t(std::lower_bound(x, x + n, x0) - x);
    to = size_t(std::upper_bound(x, x + n, x1) - x); // one past the last inside
    if (from > 0)
        --from;
    if (to < n)
        ++to;
    return from < to;
}

void PassThrough(const qint64 *x, const float *y, size_t from, size_t to, qint64 maxStepMs,
                 std::vector<PlotPoint> &out)
{
    Output put(out);
    out.reserve(out.size() + to - from + 8);
    for (size_t i = from; i < to; ++i) {
        if (maxStepMs > 0 && i > from && x[i] - x[i - 1] > maxStepMs)
            put.gap();
        if (std::isnan(y[i]))
            put.gap();
        else
            put.point(double(x[i]), y[i]);
    }
}

// The first lowest and highest value of samples from..to-1 (a run has no pause inside).
struct Extremes {
    float low = 0, high = 0;
    size_t lowAt = MinMaxBlocks::kNone, highAt = MinMaxBlocks::kNone;
    bool none() const { return lowAt == MinMaxBlocks::kNone; }
    void sample(float v, size_t i)
    {
        if (std::isnan(v))
            return;
        if (lowAt == MinMaxBlocks::kNone || v < low) {
            low = v;
            lowAt = i;
        }
        if (highAt == MinMaxBlocks::kNone || v > high) {
            high = v;
            highAt = i;
        }
    }
    void block(const MinMaxBlocks::Extremes &e)
    {
        if (e.lowAt == MinMaxBlocks::kNone)
            return;
        if (lowAt == MinMaxBlocks::kNone || e.low < low) {
            low = e.low;
            lowAt = e.lowAt;
        }
        if (highAt == MinMaxBlocks::kNone || e.high > high) {
            high = e.high;
            highAt = e.highAt;
        }
    }
};

void Reduce(const float *y, size_t from, size_t to, const MinMaxBlocks *blocks, Extremes &e)
{
    // Block sizes are powers of two: 32 << 3L samples at level L.
    static_assert(MinMaxBlocks::kSize == 32 && MinMaxBlocks::kFan == 8);
    auto shift = [](int level) { return 5 + 3 * level; };
    const int levels = blocks ? std::min(int(blocks->levels.size()), 16) : 0;
    // Up: samples, then blocks of each level, to where the next level's blocks start,
    // while a block of that one still fits; down: the biggest blocks that fit, smaller
    // ones, the last samples. All in order, so the first lowest/highest value is kept.
    size_t i = from;
    int level = -1;
    while (level + 1 < levels) {
        const size_t next = size_t(1) << shift(level + 1);
        const size_t aligned = (i + next - 1) & ~(next - 1);
        if (aligned + next > to)
            break;
        if (level < 0) {
            for (; i < aligned; ++i)
                e.sample(y[i], i);
        } else {
            const std::vector<MinMaxBlocks::Extremes> &l = blocks->levels[size_t(level)];
            for (size_t k = i >> shift(level), end = aligned >> shift(level); k < end; ++k)
                e.block(l[k]);
            i = aligned;
        }
        ++level;
    }
    for (; level >= 0; --level) {
        const std::vector<MinMaxBlocks::Extremes> &l = blocks->levels[size_t(level)];
        const size_t k0 = i >> shift(level), end = to >> shift(level);
        for (size_t k = k0; k < end; ++k)
            e.block(l[k]);
        if (end > k0)
            i = end << shift(level);
    }
    for (; i < to; ++i)
        e.sample(y[i], i);
}

} // namespace

DecimationPlan PlanDecimation(const qint64 *x, size_t n, qint64 x0, qint64 x1, int buckets,
                              qint64 maxStepMs)
{
    DecimationPlan plan;
    if (!DrawnSamples(x, n, x0, x1, buckets, plan.from, plan.to)) {
        plan.from = plan.to = 0;
        return plan;
    }
    const size_t from = plan.from, to = plan.to;
    plan.passThrough = to - from <= size_t(buckets) * 2;
    if (plan.passThrough)
        return plan;
    plan.runs.reserve(size_t(buckets) + 16);
    const bool stepBreaks = maxStepMs > 0;
    const double width = double(x1 - x0) / buckets;
    size_t i = from;
    while (i < to) {
        // As in DecimateMinMax: the bucket of x[i], which always takes x[i] itself.
        const double b = std::floor((double(x[i]) - double(x0)) / width);
        const double bucketEnd = double(x0) + (b + 1) * width;
        size_t start = i;
        bool pause = stepBreaks && i > from && x[i] - x[i - 1] > maxStepMs;
        for (++i; i < to && double(x[i]) < bucketEnd; ++i)
            if (stepBreaks && x[i] - x[i - 1] > maxStepMs) {
                plan.runs.push_back({start, i, pause, false});
                start = i;
                pause = true;
            }
        plan.runs.push_back({start, i, pause, true});
    }
    return plan;
}

void DecimateByPlan(const DecimationPlan &plan, const qint64 *x, const float *y,
                    qint64 maxStepMs, const MinMaxBlocks *blocks, std::vector<PlotPoint> &out)
{
    out.clear();
    if (plan.from >= plan.to)
        return;
    if (plan.passThrough) {
        PassThrough(x, y, plan.from, plan.to, maxStepMs, out);
        return;
    }
    // Time goes into memory misses, not into comparing: a bucket's edges are samples far
    // from the last bucket's, and its points' times are anywhere in it. So the extremes are
    // found first, the samples at the edges of the runs ahead fetched early, and the
    // points' times fetched ahead when they are written (about 3 times faster for a week).
    constexpr size_t kAhead = 8;
    thread_local std::vector<Extremes> found; // in order; none: a break
    found.clear();
    found.reserve(plan.runs.size() + 16);
    const std::vector<DecimationPlan::Run> &runs = plan.runs;
    Extremes e;
    for (size_t r = 0; r < runs.size(); ++r) {
        if (r + kAhead < runs.size()) {
            // The 32 samples around the run's end: up to three cache lines.
            const float *edge = y + (runs[r + kAhead].to & ~size_t(31));
            __builtin_prefetch(edge);
            __builtin_prefetch(edge + 16);
            __builtin_prefetch(edge + 31);
        }
        const DecimationPlan::Run &run = runs[r];
        if (run.pauseBefore) {
            // What came before the pause is drawn, then the break.
            if (!e.none())
                found.push_back(e);
            found.push_back(Extremes());
            e = Extremes();
        }
        Reduce(y, run.from, run.to, blocks, e);
        if (run.endsBucket) {
            found.push_back(e);
            e = Extremes();
        }
    }
    out.reserve(found.size() * 2 + 16);
    Output put(out);
    for (size_t k = 0; k < found.size(); ++k) {
        if (k + kAhead < found.size() && !found[k + kAhead].none()) {
            __builtin_prefetch(x + found[k + kAhead].lowAt);
            __builtin_prefetch(x + found[k + kAhead].highAt);
        }
        const Extremes &f = found[k];
        if (f.none()) {
            put.gap();
            continue;
        }
        if (f.lowAt <= f.highAt) {
            put.point(double(x[f.lowAt]), f.low);
            if (f.highAt != f.lowAt)
                put.point(double(x[f.highAt]), f.high);
        } else {
            put.point(double(x[f.highAt]), f.high);
            put.point(double(x[f.lowAt]), f.low);
        }
    }
}

std::vector<PlotPoint> DecimateMinMax(const qint64 *x, const float *y, size_t n, qint64 x0,
                                      qint64 x1, int buckets, qint64 maxStepMs,
                                      const MinMaxBlocks *blocks)
{
    std::vector<PlotPoint> out;
    if (blocks) {
        DecimateByPlan(PlanDecimation(x, n, x0, x1, buckets, maxStepMs), x, y, maxStepMs,
                       blocks, out);
        return out;
    }
    // Sample by sample: what the blocks must give too.
    size_t from = 0, to = 0;
    if (!DrawnSamples(x, n, x0, x1, buckets, from, to))
        return out;
    if (to - from <= size_t(buckets) * 2) {
        PassThrough(x, y, from, to, maxStepMs, out);
        return out;
    }
    Output put(out);
    const bool stepBreaks = maxStepMs > 0;
    out.reserve(size_t(buckets) * 2 + 16);
    const double width = double(x1 - x0) / buckets;
    size_t i = from;
    while (i < to) {
        // The bucket of x[i]; the points before x0 and after x1 get buckets of their own.
        const double b = std::floor((double(x[i]) - double(x0)) / width);
        const double bucketEnd = double(x0) + (b + 1) * width;
        size_t lo = to, hi = to; // indexes of the lowest and highest value in the bucket
        // x[i] itself always belongs to its bucket: rounding can put the bucket's end at or
        // below it (a range ending on a sample), and a bucket that takes nothing never ends.
        const size_t first = i;
        for (; i < to && (i == first || double(x[i]) < bucketEnd); ++i) {
            if (stepBreaks && i > from && x[i] - x[i - 1] > maxStepMs) {
                // A pause in the recording: what came before it is drawn, then the break.
                if (lo != to) {
                    const size_t a = std::min(lo, hi), c = std::max(lo, hi);
                    put.point(double(x[a]), y[a]);
                    if (c != a)
                        put.point(double(x[c]), y[c]);
                    lo = hi = to;
                }
                put.gap();
            }
            const float v = y[i];
            if (std::isnan(v))
                continue;
            if (lo == to || v < y[lo])
                lo = i;
            if (hi == to || v > y[hi])
                hi = i;
        }
        if (lo == to) {
            put.gap();
            continue;
        }
        const size_t a = std::min(lo, hi), c = std::max(lo, hi);
        put.point(double(x[a]), y[a]);
        if (c != a)
            put.point(double(x[c]), y[c]);
    }
    return out;
}

qint64 TypicalStepMs(const qint64 *x, size_t n)
{
    std::vector<qint64> steps;
    for (size_t i = 1; i < std::min<size_t>(n, 1001); ++i)
        if (x[i] > x[i - 1])
            steps.push_back(x[i] - x[i - 1]);
    if (steps.empty())
        return 0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

std::vector<std::vector<PlotPoint>> SplitAtBreaks(const std::vector<PlotPoint> &points)
{
    std::vector<std::vector<PlotPoint>> runs;
    bool open = false;
    for (const PlotPoint &p : points) {
        if (p.isBreak()) {
            open = false;
            continue;
        }
        if (!open) {
            runs.emplace_back();
            open = true;
        }
        runs.back().push_back(p);
    }
    return runs;
}
