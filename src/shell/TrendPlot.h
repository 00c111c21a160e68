#pragma once
#include <qcustomplot.h>

// The trend viewer's plot: values against a date-time axis, panned by dragging and zoomed
// by the wheel along the time axis only. Times are ms since the epoch here, as in the
// trend data; the axis itself counts seconds. Qt Charts could not take a week of 36
// channels fast enough to pan smoothly; this one draws the same points in a few ms.
class TrendPlot : public QCustomPlot {
    Q_OBJECT
public:
    explicit TrendPlot(QWidget *parent = nullptr);

    qint64 from() const { return qint64(xAxis->range().lower * 1000.0); }
    qint64 to() const { return qint64(xAxis->range().upper * 1000.0); }
    void SetRange(qint64 from, qint64 to);
    // Y range from the points drawn, with a margin; a flat line gets some room.
    void FitY(double low, double high);
    // Buckets of the decimation: one per pixel column of the plot area.
    int PlotWidth() const;
    // Pans by a share of the shown width (negative: back in time); zooms around a time.
    void Pan(double share);
    void Zoom(double factor, qint64 around);

signals:
    // The time range changed (by the user or by a call): the owner redraws for it.
    void timeRangeChanged();

private:
    void OnRangeChanged(const QCPRange &range);

    double m_yLow = 0, m_yHigh = 0;
};
