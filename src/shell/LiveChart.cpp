#include "LiveChart.h"

#include "MainState.h"
#include "TimeChart.h"
#include "TrendPlot.h"
#include "Widgets.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

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
    TrendPlot *plot = m_chart->plot();
    if (m_following && !m_paused && m_series.size() > 0) {
        const qint64 newest = m_series.time(m_series.size() - 1);
        plot->SetRange(newest - (plot->to() - plot->from()), newest);
    }
    if (m_drawnRevision == m_series.revision() && m_following)
        return;
    m_drawnRevision = m_series.revision();
    ++m_redraws;
    m_series.CopyTimes(m_times);
    m_drawnSensors = m_series.registered();
    m_values.resize(m_drawnSensors.size());
    for (size_t i = 0; i < m_drawnSensors.size(); ++i)
        m_series.CopyValues(m_drawnSensors[i], m_values[i]);
    const qint64 step = TypicalStepMs(m_times.data(), m_times.size());
    m_maxStepMs = std::max<qint64>(5 * step, 3000); // a lost link breaks the lines
    m_chart->SetData(m_times.data(), m_times.size(), Channels(), m_maxStepMs);
    m_chart->RedrawNow();
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
