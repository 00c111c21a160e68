#pragma once
#include "Decimate.h"

#include <QChartView>
#include <QColor>
#include <QList>
#include <QPen>
#include <vector>

class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// One channel of a chart: its line drawn as connected runs, one series per run, since a
// line series cannot break. The series are kept and reused; runs beyond kMaxRuns join
// the last one.
class ChannelLine {
public:
    static constexpr int kMaxRuns = 200;

    ChannelLine(QChart *chart, QDateTimeAxis *x, QValueAxis *y, const QColor &color);
    ~ChannelLine();
    void SetName(const QString &name);
    QString name() const { return m_name; }
    void SetPoints(const std::vector<PlotPoint> &points);
    void SetShown(bool shown);
    bool shown() const { return m_shown; }
    void SetHighlighted(bool on);
    bool highlighted() const { return m_highlighted; }
    QColor color() const { return m_color; }
    // Points now in the chart, over all runs.
    int pointCount() const { return m_pointCount; }
    // The run series (a test reads their points back).
    const QList<QLineSeries *> &runs() const { return m_runs; }
    int runsInUse() const { return m_used; }

private:
    QLineSeries *run(int i);
    void applyPen(QLineSeries *s) const;

    QChart *m_chart;
    QDateTimeAxis *m_x;
    QValueAxis *m_y;
    QColor m_color;
    QString m_name;
    QList<QLineSeries *> m_runs;
    int m_used = 0;
    int m_pointCount = 0;
    bool m_shown = true;
    bool m_highlighted = false;
};

// A chart of values against time that the user pans by dragging or scrolling sideways
// and zooms with the wheel. The owner draws the points for the range it reports.
class TimeChartView : public QChartView {
    Q_OBJECT
public:
    explicit TimeChartView(QWidget *parent = nullptr);

    QDateTimeAxis *axisX() const { return m_axisX; }
    QValueAxis *axisY() const { return m_axisY; }
    qint64 from() const { return m_from; }
    qint64 to() const { return m_to; }
    void SetRange(qint64 from, qint64 to);
    // Y range from the points drawn, with a margin; a flat line gets some room.
    void FitY(double low, double high);
    // Buckets of the decimation for the plot area's width.
    int PlotWidth() const;
    // Pans by a share of the shown width (negative: back in time); zooms around a time.
    void Pan(double share);
    void Zoom(double factor, qint64 around);

signals:
    // The user moved (panned true) or only zoomed: the owner redraws for the new range.
    void userMovedRange(bool panned);
    void rangeChanged();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QDateTimeAxis *m_axisX;
    QValueAxis *m_axisY;
    qint64 m_from = 0, m_to = 1;
    double m_yLow = 0, m_yHigh = 0;
    bool m_dragging = false;
    QPointF m_dragStart;
    qint64 m_dragFrom = 0;
};

// Colours of the lines, told apart on a white background.
QColor ChannelColor(int index);
