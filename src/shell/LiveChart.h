#pragma once
#include "LiveSeries.h"
#include "TimeChart.h"

#include <QHash>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class MainState;
class QCPGraph;
class QToolButton;
class TrendPlot;

// The live chart under the sensor-data grids: the temperature of every registered sensor
// over the last minutes. The poll cycle's readings go into a bounded ring whether the
// chart is shown or not; the lines are drawn only while it is shown and not paused.
class LiveChart : public QWidget {
    Q_OBJECT
public:
    static constexpr qint64 kDefaultSpanMs = 10 * 60 * 1000;
    // At most one frame in this time: over ten minutes a pixel column is about half a
    // second, so a frame every two seconds moves the lines by a few pixels, and the
    // chart's drawing (not the data) is what costs CPU.
    static constexpr int kRedrawMs = 2000;

    explicit LiveChart(MainState &state, QWidget *parent = nullptr);
    ~LiveChart() override;

    // One cycle's reading of the sensor data; name(sensor) gives a zero-based sensor's
    // line name.
    void Feed(qint64 timeMs, std::span<const quint16> status, std::span<const quint16> temperature);
    std::function<QString(int sensor)> sensorName;

    void ApplyCaptions();
    // A sensor (zero-based) drawn thicker; -1 none.
    void Highlight(int sensor);
    void SetPaused(bool paused);
    bool paused() const { return m_paused; }
    // Back to following the newest readings over the default span.
    void FollowNewest();

    const LiveSeries &series() const { return m_series; }
    // Lines by zero-based sensor (a test reads them back).
    QHash<int, QCPGraph *> lines() const;
    TimeChart *chart() const { return m_chart; }
    TrendPlot *view() const;
    int redraws() const { return m_redraws; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Redraw();
    void ScheduleRedraw();
    // The sensors drawn, named as now.
    std::vector<ChartChannel> Channels() const;
    QString Text(const char *key, const char *def) const;

    MainState &m_state;
    LiveSeries m_series;
    TimeChart *m_chart;
    QToolButton *m_pause, *m_follow;
    QTimer m_redrawTimer;
    // The ring as last drawn: the chart reads these until the next redraw.
    std::vector<qint64> m_times;
    std::vector<int> m_drawnSensors;
    std::vector<std::vector<float>> m_values; // per sensor drawn
    qint64 m_maxStepMs = 3000;
    quint64 m_drawnRevision = ~quint64(0);
    bool m_paused = false;
    bool m_following = true;
    int m_redraws = 0;
};
