#include "Decimate.h"

#include <algorithm>
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

MinMaxBlocks BuildMinMaxBlocks(const qint64 *x, const float *y, size_t n, qint64 maxStepMs)
{
    MinMaxBlocks b;
    const size_t count = n / MinMaxBlocks::kSize; // a last partial block is scanned
    b.lo.resize(count, quint32(n));
    b.hi.resize(count, quint32(n));
    b.plain.resize(count, true);
    for (size_t k = 0; k < count; ++k) {
        const size_t start = k * MinMaxBlocks::kSize, end = start + MinMaxBlocks::kSize;
        size_t lo = n, hi = n;
        for (size_t i = start; i < end; ++i) {
            if (maxStepMs > 0 && i > start && x[i] - x[i - 1] > maxStepMs)
                b.plain[k] = false;
            if (std::isnan(y[i]))
                continue;
            if (lo == n || y[i] < y[lo])
                lo = i;
            if (hi == n || y[i] > y[hi])
                hi = i;
        }
        b.lo[k] = quint32(lo);
        b.hi[k] = quint32(hi);
    }
    return b;
}

std::vector<PlotPoint> DecimateMinMax(const qint64 *x, const float *y, size_t n, qint64 x0,
                                      qint64 x1, int buckets, qint64 maxStepMs,
                                      const MinMaxBlocks *blocks)
{
    constexpr size_t kBlock = MinMaxBlocks::kSize;
    std::vector<PlotPoint> out;
    if (n == 0 || x1 <= x0 || buckets < 1)
        return out;
    size_t from = size_t(std::lower_bound(x, x + n, x0) - x);
    size_t to = size_t(std::upper_bound(x, x + n, x1) - x); // one past the last inside
    if (from > 0)
        --from;
    if (to < n)
        ++to;
    if (from >= to)
        return out;
    Output emit(out);
    const bool stepBreaks = maxStepMs > 0;
    if (to - from <= size_t(buckets) * 2) {
        out.reserve(to - from + 8);
        for (size_t i = from; i < to; ++i) {
            if (stepBreaks && i > from && x[i] - x[i - 1] > maxStepMs)
                emit.gap();
            if (std::isnan(y[i]))
                emit.gap();
            else
                emit.point(double(x[i]), y[i]);
        }
        return out;
    }
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
            // A whole block inside the bucket, without a pause, past the pause check of its
            // first sample: its extremes stand for its samples.
            while (blocks && i % kBlock == 0 && i / kBlock < blocks->plain.size() &&
                   i + kBlock <= to && double(x[i + kBlock - 1]) < bucketEnd &&
                   blocks->plain[i / kBlock] &&
                   !(stepBreaks && i > from && x[i] - x[i - 1] > maxStepMs)) {
                const size_t k = i / kBlock, bl = blocks->lo[k], bh = blocks->hi[k];
                if (bl != n) {
                    if (lo == to || y[bl] < y[lo])
                        lo = bl;
                    if (hi == to || y[bh] > y[hi])
                        hi = bh;
                }
                i += kBlock;
            }
            if (i >= to || (i != first && double(x[i]) >= bucketEnd))
                break;
            if (stepBreaks && i > from && x[i] - x[i - 1] > maxStepMs) {
                // A pause in the recording: what came before it is drawn, then the break.
                if (lo != to) {
                    const size_t a = std::min(lo, hi), c = std::max(lo, hi);
                    emit.point(double(x[a]), y[a]);
                    if (c != a)
                        emit.point(double(x[c]), y[c]);
                    lo = hi = to;
                }
                emit.gap();
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
            emit.gap();
            continue;
        }
        const size_t a = std::min(lo, hi), c = std::max(lo, hi);
        emit.point(double(x[a]), y[a]);
        if (c != a)
            emit.point(double(x[c]), y[c]);
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
