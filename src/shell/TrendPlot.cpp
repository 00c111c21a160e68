#include "TrendPlot.h"
#include "AxisRange.h"

#include <algorithm>
#include <cmath>

namespace {
// Not below ten seconds nor above ten years across (seconds).
constexpr double kMinSpan = 10.0, kMaxSpan = 3.2e8;
} // namespace

TrendPlot::TrendPlot(QWidget *parent) : QCustomPlot(parent)
{
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("dd.MM HH:mm"));
    ticker->setTickCount(6);
    xAxis->setTicker(ticker);
    yAxis->setNumberFormat(QStringLiteral("f"));
    yAxis->setNumberPrecision(0);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    axisRect()->setRangeDrag(Qt::Horizontal);
    axisRect()->setRangeZoom(Qt::Horizontal);
    axisRect()->setRangeZoomFactor(0.8);
    setNotAntialiasedElements(QCP::aeAll);
    setPlottingHint(QCP::phFastPolylines, true);
    connect(xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &TrendPlot::OnRangeChanged);
}

void TrendPlot::OnRangeChanged(const QCPRange &range)
{
    const double span = range.size();
    if (span < kMinSpan || span > kMaxSpan) {
        const double s = std::clamp(span, kMinSpan, kMaxSpan);
        xAxis->setRange(range.center(), s, Qt::AlignCenter); // comes back here, in bounds
        return;
    }
    // Seconds matter on a short range, the date on a long one.
    const QString format = span <= 2 * 3600 ? QStringLiteral("HH:mm:ss")
                           : span <= 10 * 86400 ? QStringLiteral("dd.MM HH:mm")
                                                : QStringLiteral("dd.MM.yy");
    auto ticker = xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>();
    if (ticker && ticker->dateTimeFormat() != format)
        ticker->setDateTimeFormat(format);
    emit timeRangeChanged();
}

void TrendPlot::SetRange(qint64 from, qint64 to)
{
    if (to <= from)
        to = from + 1000;
    xAxis->setRange(double(from) / 1000.0, double(to) / 1000.0);
}

void TrendPlot::FitY(double low, double high)
{
    const auto [lo, hi] = PaddedAxisRange(low, high);
    if (lo != m_yLow || hi != m_yHigh) {
        m_yLow = lo;
        m_yHigh = hi;
        yAxis->setRange(lo, hi);
    }
}

int TrendPlot::PlotWidth() const
{
    // Before the first layout the axis rect has no width yet: take the widget's.
    const int w = axisRect()->width() > 10 ? axisRect()->width() : width() - 60;
    return std::max(25, w);
}

void TrendPlot::Pan(double share)
{
    const QCPRange r = xAxis->range();
    xAxis->setRange(r.lower + r.size() * share, r.upper + r.size() * share);
}

void TrendPlot::Zoom(double factor, qint64 around)
{
    xAxis->scaleRange(factor, double(around) / 1000.0);
}
