#include "TrendPlot.h"
#include "ChartLines.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Not below ten seconds nor above ten years across (seconds).
constexpr double kMinSpan = 10.0, kMaxSpan = 3.2e8;
// About this many pixels a tick label.
constexpr int kPixelsPerTick = 110;

// Ticks at round local times (see RoundTimeTicks); the axis counts seconds.
class RoundTimeTicker : public QCPAxisTicker {
protected:
    double getTickStep(const QCPRange &range) override
    {
        const qint64 span = qint64(range.size() * 1000.0);
        m_step = TimeTickStepMs(span, tickCount());
        m_format = TimeTickFormat(m_step, span);
        return double(m_step) / 1000.0;
    }
    int getSubTickCount(double) override { return 0; }
    QVector<double> createTickVector(double, const QCPRange &range) override
    {
        const qint64 from = qint64(std::floor(range.lower * 1000.0));
        const qint64 to = qint64(std::ceil(range.upper * 1000.0));
        const int offset = QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc();
        QVector<double> ticks;
        for (qint64 t : RoundTimeTicks(from, to, m_step, offset))
            ticks.append(double(t) / 1000.0);
        return ticks;
    }
    QString getTickLabel(double tick, const QLocale &, QChar, int) override
    {
        return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(tick * 1000.0))).toString(m_format);
    }

private:
    qint64 m_step = 60000;
    QString m_format = QStringLiteral("HH:mm");
};
} // namespace

bool ChannelGraph::Plain() const
{
    const QCPAxis *key = mKeyAxis.data(), *value = mValueAxis.data();
    return key && value && mLineStyle == lsLine && mScatterStyle.isNone() &&
           mBrush.style() == Qt::NoBrush && !mChannelFillGraph && mSelection.isEmpty() &&
           key->orientation() == Qt::Horizontal && key->scaleType() == QCPAxis::stLinear &&
           value->scaleType() == QCPAxis::stLinear && !key->rangeReversed() &&
           !value->rangeReversed();
}

bool ChannelGraph::Sampled(QCPGraphDataContainer::const_iterator begin,
                           QCPGraphDataContainer::const_iterator end) const
{
    // As QCPGraph::getOptimizedLineData: from two points a pixel on, it reduces them itself.
    if (!mAdaptiveSampling)
        return false;
    const double span =
        qAbs(mKeyAxis->coordToPixel(begin->key) - mKeyAxis->coordToPixel((end - 1)->key));
    return 2 * span + 2 < double(std::numeric_limits<int>::max()) &&
           int(end - begin) >= int(2 * span + 2);
}

void ChannelGraph::LinePixels(QVector<QPointF> &lines) const
{
    lines.clear();
    QCPGraphDataContainer::const_iterator begin, end;
    getVisibleDataBounds(begin, end, QCPDataRange(0, dataCount()));
    if (begin == end)
        return;
    QVector<QCPGraphData> sampled;
    if (Sampled(begin, end)) {
        // The points QCPGraph would draw: a column's points reduced by its own sampling.
        getOptimizedLineData(&sampled, begin, end);
        begin = sampled.constBegin();
        end = sampled.constEnd();
    }
    const QCPAxis *key = mKeyAxis.data(), *value = mValueAxis.data();
    const QCPRange kr = key->range(), vr = value->range();
    const QRect kRect = key->axisRect()->rect(), vRect = value->axisRect()->rect();
    lines.resize(int(end - begin));
    QPointF *out = lines.data();
    for (auto it = begin; it != end; ++it, ++out) {
        // As QCPAxis::coordToPixel for a horizontal and a vertical linear axis.
        out->setX((it->key - kr.lower) / kr.size() * kRect.width() + kRect.left());
        out->setY(vRect.bottom() - (it->value - vr.lower) / vr.size() * vRect.height());
    }
}

void ChannelGraph::draw(QCPPainter *painter)
{
    if (!Plain() || mKeyAxis->range().size() <= 0 || mDataContainer->isEmpty()) {
        QCPGraph::draw(painter);
        return;
    }
    LinePixels(m_lines);
    if (m_lines.isEmpty())
        return;
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    applyDefaultAntialiasingHint(painter);
    const QPen &pen = painter->pen();
    if (!mParentPlot->plottingHints().testFlag(QCP::phFastPolylines) ||
        pen.style() != Qt::SolidLine || !pen.isCosmetic() || pen.color().alpha() == 0 ||
        painter->antialiasing() || painter->modes().testFlag(QCPPainter::pmVectorized) ||
        painter->modes().testFlag(QCPPainter::pmNoCaching)) {
        drawLinePlot(painter, m_lines);
        return;
    }
    // What QCPGraph draws here: a line from each point to the next, none across a NaN, each
    // rounded to whole pixels (QCPPainter::drawLine without antialiasing). Handed to the
    // raster engine at once instead of one painter call and line setup each.
    m_segments.clear();
    const int n = int(m_lines.size());
    auto isNan = [](const QPointF &p) { return qIsNaN(p.x()) || qIsNaN(p.y()); };
    int i = 0;
    while (i < n && isNan(m_lines[i]))
        ++i;
    bool lastIsNan = false;
    for (++i; i < n; ++i) {
        if (isNan(m_lines[i])) {
            lastIsNan = true;
        } else if (lastIsNan) {
            lastIsNan = false;
        } else {
            m_segments.append(QLineF(m_lines[i - 1], m_lines[i]).toLine());
        }
    }
    painter->drawLines(m_segments.constData(), int(m_segments.size()));
}

TrendPlot::TrendPlot(QWidget *parent) : QCustomPlot(parent)
{
    xAxis->setTicker(QSharedPointer<RoundTimeTicker>::create());
    yAxis->setNumberFormat(QStringLiteral("f"));
    yAxis->setNumberPrecision(0);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    axisRect()->setRangeDrag(Qt::Horizontal);
    axisRect()->setRangeZoom(Qt::Horizontal);
    axisRect()->setRangeZoomFactor(0.8);
    setNotAntialiasedElements(QCP::aeAll);
    // Each segment a line of its own, on whole pixels (see ChannelGraph::draw): a polyline
    // would take 0.57 x the instructions but leaves notches where a column's span turns.
    setPlottingHint(QCP::phFastPolylines, true);
    // The channels are listed beside the plot, not in its own (hidden) legend, whose
    // entries were still measured (text layout) on every replot.
    setAutoAddPlottableToLegend(false);
    setMouseTracking(true);
    // The cursor and the mark are drawn on a layer of their own.
    layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmBuffered);
    m_cursorLine = new QCPItemStraightLine(this);
    m_cursorText = new QCPItemText(this);
    m_mark = new QCPItemText(this);
    for (QCPAbstractItem *item : {static_cast<QCPAbstractItem *>(m_cursorLine),
                                  static_cast<QCPAbstractItem *>(m_cursorText),
                                  static_cast<QCPAbstractItem *>(m_mark)}) {
        item->setLayer(QStringLiteral("overlay"));
        item->setSelectable(false);
        item->setVisible(false);
    }
    m_cursorLine->setPen(QPen(QColor(60, 60, 60), 0, Qt::DashLine));
    for (QCPItemPosition *p : {m_cursorLine->point1, m_cursorLine->point2, m_cursorText->position}) {
        p->setTypeX(QCPItemPosition::ptPlotCoords);
        p->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    m_cursorText->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_cursorText->setPadding(QMargins(4, 2, 4, 2));
    m_cursorText->setBrush(QColor(255, 255, 225));
    m_cursorText->setPen(QPen(QColor(60, 60, 60)));
    m_mark->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_mark->position->setCoords(0.5, 0.02);
    m_mark->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_mark->setPadding(QMargins(10, 4, 10, 4));
    m_mark->setBrush(QColor(255, 200, 60));
    m_mark->setPen(QPen(QColor(150, 90, 0)));
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    m_mark->setFont(bold);
    connect(xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &TrendPlot::OnRangeChanged);
    connect(this, &QCustomPlot::afterReplot, this, [this] { m_framesDrawn = true; });
}

void TrendPlot::OnRangeChanged(const QCPRange &range)
{
    const double span = range.size();
    if (span < kMinSpan || span > kMaxSpan) {
        const double s = std::clamp(span, kMinSpan, kMaxSpan);
        xAxis->setRange(range.center(), s, Qt::AlignCenter); // comes back here, in bounds
        return;
    }
    xAxis->ticker()->setTickCount(std::max(2, PlotWidth() / kPixelsPerTick));
    PlaceCursor();
    emit timeRangeChanged();
}

void TrendPlot::SetRange(qint64 from, qint64 to)
{
    if (to <= from)
        to = from + 1000;
    xAxis->setRange(double(from) / 1000.0, double(to) / 1000.0);
}

void TrendPlot::FitY(const ValueSpan &drawn)
{
    m_drawn = drawn;
    const auto [lo, hi] = m_yChoice.RangeFor(drawn);
    if (lo != m_yLow || hi != m_yHigh) {
        m_yLow = lo;
        m_yHigh = hi;
        yAxis->setRange(lo, hi);
    }
}

void TrendPlot::SetYChoice(const YAxisChoice &choice)
{
    m_yChoice = choice;
    FitY(m_drawn);
    replot(rpQueuedReplot);
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

void TrendPlot::ReplotOverlay()
{
    // Before the first frame there is no layer buffer yet: the first frame draws it.
    if (m_framesDrawn)
        layer(QStringLiteral("overlay"))->replot();
}

void TrendPlot::SetCursorTime(qint64 t)
{
    m_cursorTime = t;
    PlaceCursor();
    ReplotOverlay();
}

void TrendPlot::PlaceCursor()
{
    const bool shown = m_cursorTime >= 0;
    m_cursorLine->setVisible(shown);
    m_cursorText->setVisible(shown);
    if (!shown)
        return;
    const double x = double(m_cursorTime) / 1000.0;
    m_cursorLine->point1->setCoords(x, 0);
    m_cursorLine->point2->setCoords(x, 1);
    m_cursorText->position->setCoords(x, 0);
    // The time to the left of the line in the right half, so it stays inside.
    const bool right = x > xAxis->range().center();
    m_cursorText->setPositionAlignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
    m_cursorText->setText(
        QDateTime::fromMSecsSinceEpoch(m_cursorTime).toString(QStringLiteral("dd.MM.yy HH:mm:ss")));
}

void TrendPlot::SetMark(const QString &text)
{
    m_mark->setText(text);
    m_mark->setVisible(!text.isEmpty());
    ReplotOverlay();
}

QString TrendPlot::mark() const
{
    return m_mark->visible() ? m_mark->text() : QString();
}

void TrendPlot::mouseMoveEvent(QMouseEvent *event)
{
    QCustomPlot::mouseMoveEvent(event);
    if (event->buttons() & Qt::LeftButton) {
        emit userMovedRange(true);
        return;
    }
    const bool over = axisRect()->rect().contains(event->position().toPoint());
    const qint64 t = over ? qint64(xAxis->pixelToCoord(event->position().x()) * 1000.0) : -1;
    SetCursorTime(t);
    emit cursorMoved(t);
}

void TrendPlot::wheelEvent(QWheelEvent *event)
{
    QCustomPlot::wheelEvent(event);
    emit userMovedRange(false);
}

void TrendPlot::leaveEvent(QEvent *event)
{
    QCustomPlot::leaveEvent(event);
    SetCursorTime(-1);
    emit cursorMoved(-1);
}
