#pragma once
#include "AxisRange.h"

#include <qcustomplot.h>

// A channel's line. Drawn as QCPGraph draws it, without its copy of the points on every
// replot, its call per coordinate and its painter call per segment: the points go
// straight from the data to pixels by the same arithmetic as QCPAxis::coordToPixel, and
// the segments to the raster engine in one call, so the pixels are the same (points
// QCPGraph would sample are sampled by it first). Anything but a plain line on linear
// axes is left to QCPGraph.
class ChannelGraph : public QCPGraph {
public:
    ChannelGraph(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPGraph(keyAxis, valueAxis) {}
    // The points of the shown range as pixels: what a replot draws.
    void LinePixels(QVector<QPointF> &lines) const;

protected:
    void draw(QCPPainter *painter) override;

private:
    bool Plain() const;
    bool Sampled(QCPGraphDataContainer::const_iterator begin,
                 QCPGraphDataContainer::const_iterator end) const;
    QVector<QPointF> m_lines; // kept: no allocation a replot
    QVector<QLine> m_segments;
};

// The plot of the live chart and of the trend viewer: values against a date-time axis with
// ticks at round times, panned by dragging and zoomed by the wheel along the time axis
// only. Times are ms since the epoch here, as in the data; the axis itself counts seconds.
// Qt Charts could not take a week of 36 channels fast enough to pan smoothly; this one
// draws the same points in a few ms. The cursor and the pause mark live on the overlay
// layer, which is redrawn alone: a mouse move never redraws the lines.
class TrendPlot : public QCustomPlot {
    Q_OBJECT
public:
    explicit TrendPlot(QWidget *parent = nullptr);

    qint64 from() const { return qint64(xAxis->range().lower * 1000.0); }
    qint64 to() const { return qint64(xAxis->range().upper * 1000.0); }
    void SetRange(qint64 from, qint64 to);
    // The Y range for the values drawn (implausible ones already left out) as the user
    // chose it: automatic with a margin, or fixed.
    void FitY(const ValueSpan &drawn);
    void SetYChoice(const YAxisChoice &choice);
    const YAxisChoice &yChoice() const { return m_yChoice; }
    // Buckets of the decimation: one per pixel column of the plot area.
    int PlotWidth() const;
    // Pans by a share of the shown width (negative: back in time); zooms around a time.
    void Pan(double share);
    void Zoom(double factor, qint64 around);

    // The cursor: a vertical line at a time with the time written beside it; -1 hides it.
    void SetCursorTime(qint64 t);
    qint64 cursorTime() const { return m_cursorTime; }
    // A mark over the plot (the pause); empty hides it.
    void SetMark(const QString &text);
    QString mark() const;

signals:
    // The time range changed (by the user or by a call): the owner redraws for it.
    void timeRangeChanged();
    // The user dragged (panned true) or zoomed.
    void userMovedRange(bool panned);
    // The mouse is over the plot at a time (ms), or left it (-1).
    void cursorMoved(qint64 t);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void OnRangeChanged(const QCPRange &range);
    void PlaceCursor();
    void ReplotOverlay();

    YAxisChoice m_yChoice;
    ValueSpan m_drawn;
    double m_yLow = 0, m_yHigh = 0;
    qint64 m_cursorTime = -1;
    bool m_framesDrawn = false;
    QCPItemStraightLine *m_cursorLine;
    QCPItemText *m_cursorText, *m_mark;
};
