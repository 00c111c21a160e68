#pragma once
#include "HistoryTypes.h"
#include "LiveSeries.h"
#include "ReadingsGrid.h"
#include "TimeChart.h"

#include <QHash>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class HistoryStore;
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

    // The store the chart scrolls back into: before the oldest reading the ring holds, the
    // lines come from the kept readings of controller() (0: the newest one kept).
    void SetHistory(HistoryStore *store, std::function<int()> controller);
    // The kept readings loaded so far (oldest time, end); 0, 0 when none.
    std::pair<qint64, qint64> storedSpan() const;
    // Store queries so far (a test sees that a pan within the loaded range asks nothing).
    int storeLoads() const { return m_storeLoads; }
    // The samples drawn now: the kept ones, then the ring's (a test reads them back).
    const std::vector<qint64> &drawnTimes() const { return m_times; }
    const std::vector<int> &drawnSensors() const { return m_drawnSensors; }
    const std::vector<float> *drawnValues(int sensor) const;

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
    // Loads kept readings the shown range needs and the ring no longer holds.
    bool LoadStored();
    void MergeStored(std::vector<SensorSeries> rows, qint64 from, qint64 to);
    void DropStored();
    // The kept readings from the store's rows, to be drawn before the ring's.
    void BuildStoredPart();
    void ComposeWithStored();
    qint64 LiveStart() const;
    int StoreController() const;
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

    HistoryStore *m_store = nullptr;
    std::function<int()> m_controller;
    int m_storedController = 0;
    std::vector<SensorSeries> m_stored; // the store's rows over m_storedFrom..m_storedTo
    qint64 m_storedFrom = 0, m_storedTo = 0;
    ReadingsGrid m_grid;  // m_stored as drawn, up to the ring's first sample
    size_t m_prefix = 0;  // samples of m_times that come from the store
    int m_storeLoads = 0;
    bool m_loading = false;
    bool m_redrawing = false; // its own range change loads nothing twice
};
