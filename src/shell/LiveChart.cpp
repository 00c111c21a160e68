#include "LiveChart.h"

#include "HistoryStore.h"
#include "MainState.h"
#include "TimeChart.h"
#include "TrendPlot.h"
#include "Widgets.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QToolButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

#include <set>

LiveChart::LiveChart(MainState &state, QWidget *parent)
    : QWidget(parent), m_state(state), m_series(8192, 100)
{
    setObjectName(QStringLiteral("LiveChart"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_chart = new TimeChart(state.settingsIni, QStringLiteral("Chart"), QStringLiteral("ChartViewLive"),
                            this);
    m_pause = named(new QToolButton(this), "ButtonChartPause");
    m_pause->setCheckable(true);
    m_follow = named(new QToolButton(this), "ButtonChartFollow");
    m_chart->toolRow()->insertWidget(0, m_pause);
    m_chart->toolRow()->insertWidget(1, m_follow);
    m_chart->plot()->setMinimumHeight(180);
    layout->addWidget(m_chart, 1);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_chart->plot()->SetRange(now - kDefaultSpanMs, now);

    m_redrawTimer.setSingleShot(true);
    m_redrawTimer.setInterval(kRedrawMs);
    connect(&m_redrawTimer, &QTimer::timeout, this, [this] {
        // A redraw asked for before the pause does not move the paused lines.
        if (!m_paused)
            Redraw();
    });
    connect(m_pause, &QToolButton::toggled, this, &LiveChart::SetPaused);
    connect(m_follow, &QToolButton::clicked, this, &LiveChart::FollowNewest);
    // Looking back (drag, scroll) stops the following, the readings still come in; a zoom
    // while following keeps the newest reading at the right edge. The chart redraws the
    // lines it has for the new range itself.
    connect(m_chart->plot(), &TrendPlot::userMovedRange, this, [this](bool panned) {
        if (panned)
            m_following = false;
    });
    // Looking back past the ring: the kept readings of the store, loaded as the range
    // needs them, drawn before the ring's.
    connect(m_chart->plot(), &TrendPlot::timeRangeChanged, this, [this] {
        if (m_store && !m_loading && !m_redrawing && isVisible() && LoadStored())
            Redraw();
    });
    ApplyCaptions();
}

LiveChart::~LiveChart() = default;

TrendPlot *LiveChart::view() const
{
    return m_chart->plot();
}

QHash<int, QCPGraph *> LiveChart::lines() const
{
    QHash<int, QCPGraph *> lines;
    for (int sensor : m_series.registered())
        if (QCPGraph *g = m_chart->graph(sensor))
            lines.insert(sensor, g);
    return lines;
}

QString LiveChart::Text(const char *key, const char *def) const
{
    return m_state.Text(key, QString::fromUtf8(def));
}

void LiveChart::ApplyCaptions()
{
    m_pause->setText(Text("n242", "Пауза"));
    m_follow->setText(Text("n243", "Последние 10 минут"));
    m_chart->ApplyCaptions();
    m_drawnRevision = ~quint64(0); // names may have changed with the language
    // The lines drawn get their new names at once, paused or not.
    m_chart->SetData(m_times.data(), m_times.size(), Channels(), m_maxStepMs);
    if (isVisible())
        ScheduleRedraw();
}

void LiveChart::Feed(qint64 timeMs, std::span<const quint16> status,
                     std::span<const quint16> temperature)
{
    m_series.Append(timeMs, status, temperature);
    // Hidden or paused: the ring only.
    if (isVisible() && !m_paused && m_following)
        ScheduleRedraw();
}

void LiveChart::ScheduleRedraw()
{
    if (!m_redrawTimer.isActive())
        m_redrawTimer.start();
}

void LiveChart::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Redraw();
}

void LiveChart::SetPaused(bool paused)
{
    m_paused = paused;
    if (m_pause->isChecked() != paused)
        m_pause->setChecked(paused);
    m_chart->SetPaused(paused);
    if (!paused)
        ScheduleRedraw();
}

void LiveChart::FollowNewest()
{
    m_following = true;
    DropStored(); // ten minutes are in the ring
    m_drawnRevision = ~quint64(0);
    const qint64 newest = m_series.size() > 0 ? m_series.time(m_series.size() - 1)
                                              : QDateTime::currentMSecsSinceEpoch();
    m_chart->plot()->SetRange(newest - kDefaultSpanMs, newest);
    SetPaused(false);
    Redraw();
}

void LiveChart::Highlight(int sensor)
{
    m_chart->SetHighlighted(sensor);
}

void LiveChart::Redraw()
{
    if (!isVisible())
        return;
    const QScopedValueRollback inRedraw(m_redrawing, true);
    TrendPlot *plot = m_chart->plot();
    if (m_following && !m_paused && m_series.size() > 0) {
        const qint64 newest = m_series.time(m_series.size() - 1);
        plot->SetRange(newest - (plot->to() - plot->from()), newest);
    }
    LoadStored();
    if (m_drawnRevision == m_series.revision() && m_following)
        return;
    m_drawnRevision = m_series.revision();
    ++m_redraws;
    if (m_grid.timesMs.empty()) {
        // The ring alone, as it holds it.
        m_prefix = 0;
        m_series.CopyTimes(m_times);
        m_drawnSensors = m_series.registered();
        m_values.resize(m_drawnSensors.size());
        for (size_t i = 0; i < m_drawnSensors.size(); ++i)
            m_series.CopyValues(m_drawnSensors[i], m_values[i]);
        const qint64 step = TypicalStepMs(m_times.data(), m_times.size());
        m_maxStepMs = std::max<qint64>(5 * step, 3000); // a lost link breaks the lines
    } else {
        ComposeWithStored();
    }
    m_chart->SetData(m_times.data(), m_times.size(), Channels(), m_maxStepMs);
    m_chart->RedrawNow();
}

void LiveChart::ComposeWithStored()
{
    // The kept part is copied only when it or the set of sensors changed; the ring's part
    // is appended after it on every redraw.
    const std::vector<int> &registered = m_series.registered();
    bool same = m_prefix > 0 && m_prefix == m_grid.timesMs.size();
    for (int s : registered)
        same = same && std::binary_search(m_drawnSensors.begin(), m_drawnSensors.end(), s);
    if (!same) {
        std::set<int> keys(registered.begin(), registered.end());
        for (int s : m_grid.sensors)
            keys.insert(s - 1);
        m_drawnSensors.assign(keys.begin(), keys.end());
        m_times = m_grid.timesMs;
        m_values.assign(m_drawnSensors.size(), {});
        for (size_t i = 0; i < m_drawnSensors.size(); ++i) {
            const auto at = std::find(m_grid.sensors.begin(), m_grid.sensors.end(),
                                      m_drawnSensors[i] + 1);
            if (at != m_grid.sensors.end())
                m_values[i] = m_grid.values[size_t(at - m_grid.sensors.begin())];
            else
                m_values[i].assign(m_times.size(), LiveSeries::kGap);
        }
        m_prefix = m_times.size();
    } else {
        m_times.resize(m_prefix);
        for (std::vector<float> &v : m_values)
            v.resize(m_prefix);
    }
    // Breaks are explicit here: the kept part has a row a minute at the least, so the
    // step that breaks a line is the store's gap, and the ring's own pauses become gaps.
    std::vector<qint64> live;
    m_series.CopyTimes(live);
    const qint64 liveStep = std::max<qint64>(5 * TypicalStepMs(live.data(), live.size()), 3000);
    qint64 last = m_times.empty() ? std::numeric_limits<qint64>::min() : m_times.back();
    for (int i = 0; i < int(live.size()); ++i) {
        const qint64 t = live[size_t(i)];
        if (t <= last)
            continue; // the ring was started again behind the kept part
        if (i > 0 && t - live[size_t(i) - 1] > liveStep && live[size_t(i) - 1] + 1 > last) {
            m_times.push_back(live[size_t(i) - 1] + 1);
            for (std::vector<float> &v : m_values)
                v.push_back(LiveSeries::kGap);
        }
        m_times.push_back(t);
        for (size_t k = 0; k < m_drawnSensors.size(); ++k) {
            const int s = m_drawnSensors[k];
            m_values[k].push_back(s < m_series.sensorCount() ? m_series.value(s, i)
                                                            : LiveSeries::kGap);
        }
        last = t;
    }
    m_maxStepMs = ReadingsGrid::kGapMs;
}

void LiveChart::SetHistory(HistoryStore *store, std::function<int()> controller)
{
    m_store = store;
    m_controller = std::move(controller);
    DropStored();
}

std::pair<qint64, qint64> LiveChart::storedSpan() const
{
    return m_storedTo > m_storedFrom ? std::pair{m_storedFrom, m_storedTo} : std::pair{qint64(0), qint64(0)};
}

const std::vector<float> *LiveChart::drawnValues(int sensor) const
{
    for (size_t i = 0; i < m_drawnSensors.size(); ++i)
        if (m_drawnSensors[i] == sensor)
            return &m_values[i];
    return nullptr;
}

qint64 LiveChart::LiveStart() const
{
    return m_series.size() > 0 ? m_series.time(0) : QDateTime::currentMSecsSinceEpoch();
}

int LiveChart::StoreController() const
{
    const int controller = m_controller ? m_controller() : 0;
    return m_store ? m_store->ControllerOrNewest(controller) : controller;
}

void LiveChart::DropStored()
{
    m_stored.clear();
    m_storedFrom = m_storedTo = 0;
    m_grid = {};
    m_prefix = 0;
    m_drawnRevision = ~quint64(0);
}

bool LiveChart::LoadStored()
{
    if (!m_store || m_loading)
        return false;
    const qint64 liveStart = LiveStart();
    const qint64 from = m_chart->plot()->from(), to = m_chart->plot()->to();
    if (from >= liveStart && m_grid.timesMs.empty())
        return false; // the ring holds all that is shown
    const int controller = StoreController();
    if (controller == 0)
        return false;
    if (controller != m_storedController) {
        DropStored();
        m_storedController = controller;
    }
    const QScopedValueRollback guard(m_loading, true);
    // A screen's width more than asked for: panning on needs no query for a while.
    const qint64 margin = std::max<qint64>(to - from, 60 * 1000);
    bool changed = false;
    if (m_storedTo <= m_storedFrom) {
        if (from >= liveStart)
            return false;
        const qint64 a = from - margin;
        MergeStored(m_store->SensorReadings(controller, a, liveStart), a, liveStart);
        changed = true;
    } else {
        if (from < m_storedFrom) {
            const qint64 a = from - margin;
            MergeStored(m_store->SensorReadings(controller, a, m_storedFrom), a, m_storedFrom);
            changed = true;
        }
        // The ring has moved on since: what fell out of it comes from the store.
        if (liveStart - m_storedTo > 1000 && to > m_storedTo && from < liveStart) {
            MergeStored(m_store->SensorReadings(controller, m_storedTo, liveStart), m_storedTo,
                        liveStart);
            changed = true;
        }
    }
    if (changed)
        BuildStoredPart();
    return changed;
}

void LiveChart::MergeStored(std::vector<SensorSeries> rows, qint64 from, qint64 to)
{
    ++m_storeLoads;
    if (m_storedTo <= m_storedFrom) {
        m_stored = std::move(rows);
        m_storedFrom = from;
        m_storedTo = to;
        return;
    }
    const bool before = to <= m_storedFrom; // else the range follows the loaded one
    for (SensorSeries &add : rows) {
        auto at = std::find_if(m_stored.begin(), m_stored.end(),
                               [&](const SensorSeries &s) { return s.sensor == add.sensor; });
        if (at == m_stored.end()) {
            m_stored.push_back(std::move(add));
            continue;
        }
        SensorSeries &old = *at;
        const SensorSeries &first = before ? add : old;
        const SensorSeries &second = before ? old : add;
        const qint64 cut = before ? m_storedFrom : m_storedTo;
        SensorSeries merged;
        merged.sensor = old.sensor;
        auto take = [&merged](const SensorSeries &s, size_t i) {
            merged.timesMs.push_back(s.timesMs[i]);
            merged.status.push_back(s.status[i]);
            merged.temperature.push_back(s.temperature[i]);
            merged.seconds.push_back(i < s.seconds.size() ? s.seconds[i] : 0);
        };
        // Each row once: the earlier part's rows before the seam, the later part's after it
        // (its row before the seam is the earlier part's last).
        for (size_t i = 0; i < first.timesMs.size(); ++i)
            if (first.timesMs[i] < cut)
                take(first, i);
        for (size_t i = 0; i < second.timesMs.size(); ++i)
            if (second.timesMs[i] >= cut)
                take(second, i);
        old = std::move(merged);
    }
    std::sort(m_stored.begin(), m_stored.end(),
              [](const SensorSeries &a, const SensorSeries &b) { return a.sensor < b.sensor; });
    m_storedFrom = std::min(m_storedFrom, from);
    m_storedTo = std::max(m_storedTo, to);
}

void LiveChart::BuildStoredPart()
{
    m_grid = BuildReadingsGrid(m_stored, m_storedFrom, std::min(m_storedTo, LiveStart()));
    m_prefix = 0;
    m_drawnRevision = ~quint64(0);
}

std::vector<ChartChannel> LiveChart::Channels() const
{
    std::vector<ChartChannel> channels;
    for (size_t i = 0; i < m_drawnSensors.size(); ++i) {
        const int sensor = m_drawnSensors[i];
        channels.push_back({sensor,
                            sensorName ? sensorName(sensor)
                                       : Text("n32", "Датчик") + u' ' + QString::number(sensor + 1),
                            m_values[i].data()});
    }
    return channels;
}
