#include "ChartLines.h"
#include "AxisRange.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QValueAxis>
#include <QWheelEvent>
#include <cmath>

ChannelLine::ChannelLine(QChart *chart, QDateTimeAxis *x, QValueAxis *y, const QColor &color)
    : m_chart(chart), m_x(x), m_y(y), m_color(color)
{
    run(0); // the first run carries the legend entry
}

ChannelLine::~ChannelLine()
{
    for (QLineSeries *s : std::as_const(m_runs)) {
        m_chart->removeSeries(s);
        delete s;
    }
}

QLineSeries *ChannelLine::run(int i)
{
    while (m_runs.size() <= i) {
        auto *s = new QLineSeries;
        s->setName(m_name);
        applyPen(s);
        m_chart->addSeries(s);
        s->attachAxis(m_x);
        s->attachAxis(m_y);
        if (!m_runs.isEmpty())
            for (QLegendMarker *m : m_chart->legend()->markers(s))
                m->setVisible(false);
        s->setVisible(m_runs.isEmpty() && m_shown);
        m_runs.append(s);
    }
    return m_runs[i];
}

void ChannelLine::applyPen(QLineSeries *s) const
{
    QPen pen(m_color);
    pen.setWidthF(m_highlighted ? 4.0 : 1.5);
    s->setPen(pen);
}

void ChannelLine::SetName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    for (QLineSeries *s : std::as_const(m_runs))
        s->setName(name);
}

void ChannelLine::SetPoints(const std::vector<PlotPoint> &points)
{
    std::vector<std::vector<PlotPoint>> runs = SplitAtBreaks(points);
    if (int(runs.size()) > kMaxRuns) {
        for (size_t r = kMaxRuns; r < runs.size(); ++r)
            runs[kMaxRuns - 1].insert(runs[kMaxRuns - 1].end(), runs[r].begin(), runs[r].end());
        runs.resize(kMaxRuns);
    }
    m_pointCount = 0;
    const int used = int(runs.size());
    for (int r = 0; r < std::max(used, m_used); ++r) {
        QLineSeries *s = run(r);
        if (r >= used) {
            s->clear();
            s->setVisible(r == 0 && m_shown); // the legend entry stays
            continue;
        }
        QList<QPointF> pts;
        pts.reserve(qsizetype(runs[r].size()));
        for (const PlotPoint &p : runs[r])
            pts.append(QPointF(p.x, p.y));
        m_pointCount += int(pts.size());
        s->replace(pts);
        s->setVisible(m_shown);
    }
    m_used = used;
}

void ChannelLine::SetShown(bool shown)
{
    m_shown = shown;
    for (int r = 0; r < m_runs.size(); ++r)
        m_runs[r]->setVisible(shown && (r < m_used || r == 0));
}

void ChannelLine::SetHighlighted(bool on)
{
    if (on == m_highlighted)
        return;
    m_highlighted = on;
    for (QLineSeries *s : std::as_const(m_runs))
        applyPen(s);
}

QColor ChannelColor(int index)
{
    static const QColor base[] = {
        QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),  QColor(214, 39, 40),
        QColor(148, 103, 189), QColor(140, 86, 75), QColor(227, 119, 194), QColor(127, 127, 127),
        QColor(188, 189, 34), QColor(23, 190, 207), QColor(0, 0, 128),    QColor(128, 0, 0)};
    const QColor c = base[index % 12];
    // Later rounds are darker, so 36 channels stay apart.
    return index < 12 ? c : c.darker(100 + 40 * (index / 12));
}

TimeChartView::TimeChartView(QWidget *parent) : QChartView(parent)
{
    auto *c = new QChart;
    c->setMargins(QMargins(4, 4, 4, 4));
    c->setBackgroundRoundness(0);
    c->setAnimationOptions(QChart::NoAnimation);
    c->legend()->setAlignment(Qt::AlignRight);
    QFont small = c->legend()->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    c->legend()->setFont(small);
    m_axisX = new QDateTimeAxis;
    m_axisX->setFormat(QStringLiteral("dd.MM HH:mm:ss"));
    m_axisX->setTickCount(6);
    m_axisY = new QValueAxis;
    m_axisY->setLabelFormat(QStringLiteral("%.0f"));
    c->addAxis(m_axisX, Qt::AlignBottom);
    c->addAxis(m_axisY, Qt::AlignLeft);
    setChart(c);
    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::NoRubberBand);
    setDragMode(QGraphicsView::NoDrag);
}

void TimeChartView::SetRange(qint64 from, qint64 to)
{
    if (to <= from)
        to = from + 1000;
    if (from == m_from && to == m_to)
        return;
    m_from = from;
    m_to = to;
    m_axisX->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    // Seconds matter on a short range, the date on a long one.
    const qint64 span = to - from;
    m_axisX->setFormat(span <= 2 * 3600 * 1000      ? QStringLiteral("HH:mm:ss")
                       : span <= 10LL * 86400 * 1000 ? QStringLiteral("dd.MM HH:mm")
                                                     : QStringLiteral("dd.MM.yy"));
    emit rangeChanged();
}

void TimeChartView::FitY(double low, double high)
{
    const auto [lo, hi] = PaddedAxisRange(low, high);
    // Compared with what was asked last time: the nice numbers move the axis's own ends.
    if (lo != m_yLow || hi != m_yHigh) {
        m_yLow = lo;
        m_yHigh = hi;
        m_axisY->setRange(lo, hi);
        m_axisY->applyNiceNumbers(); // round ticks
    }
}

int TimeChartView::PlotWidth() const
{
    // A bucket of two pixel columns gives its lowest and highest value: about one point a
    // pixel, which is what a line series can take without slowing the panning down.
    return std::max(25, int(chart()->plotArea().width()) / 2);
}

void TimeChartView::Pan(double share)
{
    const qint64 shift = qint64(double(m_to - m_from) * share);
    SetRange(m_from + shift, m_to + shift);
}

void TimeChartView::Zoom(double factor, qint64 around)
{
    // Not below ten seconds nor above ten years across.
    const double span = std::clamp(double(m_to - m_from) * factor, 10e3, 3.2e11);
    const double left = double(around - m_from) / double(m_to - m_from);
    const qint64 from = around - qint64(span * left);
    SetRange(from, from + qint64(span));
}

void TimeChartView::wheelEvent(QWheelEvent *event)
{
    const QPoint d = event->angleDelta();
    const bool sideways = d.x() != 0 && std::abs(d.x()) > std::abs(d.y());
    if (sideways) {
        Pan(-d.x() / 1200.0); // a notch sideways: a tenth of the width
    } else if (d.y() != 0) {
        const QRectF plot = chart()->plotArea();
        const double at = std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0);
        Zoom(std::pow(0.8, d.y() / 120.0), m_from + qint64(at * double(m_to - m_from)));
    }
    event->accept();
    emit userMovedRange(sideways);
}

void TimeChartView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragStart = event->position();
        m_dragFrom = m_from;
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void TimeChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging) {
        const double dx = event->position().x() - m_dragStart.x();
        const double msPerPixel = double(m_to - m_from) / chart()->plotArea().width();
        const qint64 span = m_to - m_from;
        const qint64 from = m_dragFrom - qint64(dx * msPerPixel);
        SetRange(from, from + span);
        emit userMovedRange(true);
        event->accept();
        return;
    }
    QChartView::mouseMoveEvent(event);
}

void TimeChartView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        unsetCursor();
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}
