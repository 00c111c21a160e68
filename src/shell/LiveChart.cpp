#include "LiveChart.h"

#include "ChartLines.h"
#include "MainState.h"
#include "Widgets.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>

LiveChart::LiveChart(MainState &state, QWidget *parent)
    : QWidget(parent), m_state(state), m_series(8192, 100)
{
    setObjectName(QStringLiteral("LiveChart"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    m_pause = named(new QToolButton(this), "ButtonChartPause");
    m_pause->setCheckable(true);
    m_follow = named(new QToolButton(this), "ButtonChartFollow");
    row->addWidget(m_pause);
    row->addWidget(m_follow);
    row->addStretch();
    layout->addLayout(row);
    m_view = named(new TimeChartView(this), "ChartViewLive");
    m_view->setMinimumHeight(180);
    layout->addWidget(m_view, 1);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_view->SetRange(now - kDefaultSpanMs, now);
    m_view->FitY(0, 100);

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
    // while following keeps the newest reading at the right edge.
    connect(m_view, &TimeChartView::userMovedRange, this, [this](bool panned) {
        if (panned || !m_following)
            m_following = false;
        m_drawnRevision = ~quint64(0);
        Redraw();
    });
    ApplyCaptions();
}

LiveChart::~LiveChart() { qDeleteAll(m_lines); }

QString LiveChart::Text(const char *key, const char *def) const
{
    return m_state.Text(key, QString::fromUtf8(def));
}

void LiveChart::ApplyCaptions()
{
    m_pause->setText(Text("n242", "Пауза"));
    m_follow->setText(Text("n243", "Последние 10 минут"));
    m_view->axisY()->setTitleText(Text("n244", "Температура"));
    m_drawnRevision = ~quint64(0); // names may have changed with the language
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
    if (!paused)
        ScheduleRedraw();
}

void LiveChart::FollowNewest()
{
    m_following = true;
    m_drawnRevision = ~quint64(0);
    SetPaused(false);
    Redraw();
}

void LiveChart::Highlight(int sensor)
{
    m_highlighted = sensor;
    for (auto it = m_lines.cbegin(); it != m_lines.cend(); ++it)
        it.value()->SetHighlighted(it.key() == sensor);
}

void LiveChart::Redraw()
{
    if (!isVisible())
        return;
    if (m_following && !m_paused && m_series.size() > 0) {
        const qint64 newest = m_series.time(m_series.size() - 1);
        const qint64 span = m_view->to() - m_view->from();
        m_view->SetRange(newest - span, newest);
    }
    if (m_drawnRevision == m_series.revision() && m_following)
        return;
    m_drawnRevision = m_series.revision();
    ++m_redraws;
    m_series.CopyTimes(m_times);
    const std::vector<int> &registered = m_series.registered();
    // Lines for the sensors registered now; the others are put away.
    for (auto it = m_lines.begin(); it != m_lines.end(); ++it)
        it.value()->SetShown(std::find(registered.begin(), registered.end(), it.key()) !=
                             registered.end());
    const qint64 step = TypicalStepMs(m_times.data(), m_times.size());
    const qint64 maxStep = std::max<qint64>(5 * step, 3000); // a lost link breaks the lines
    double low = qInf(), high = -qInf();
    for (int sensor : registered) {
        ChannelLine *&line = m_lines[sensor];
        if (!line) {
            line = new ChannelLine(m_view->chart(), m_view->axisX(), m_view->axisY(),
                                   ChannelColor(sensor));
            line->SetHighlighted(sensor == m_highlighted);
        }
        line->SetName(sensorName ? sensorName(sensor)
                                 : Text("n32", "Датчик") + u' ' + QString::number(sensor + 1));
        m_series.CopyValues(sensor, m_values);
        const std::vector<PlotPoint> points =
            DecimateMinMax(m_times.data(), m_values.data(), m_times.size(), m_view->from(),
                           m_view->to(), m_view->PlotWidth(), maxStep);
        for (const PlotPoint &p : points)
            if (!p.isBreak()) {
                low = std::min(low, p.y);
                high = std::max(high, p.y);
            }
        line->SetPoints(points);
        line->SetShown(true);
    }
    m_view->FitY(low, high);
}
