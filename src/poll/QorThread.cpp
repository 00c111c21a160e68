#include "QorThread.h"

#include "MainState.h"
#include "PollCycle.h"
#include "Tick.h"

#include <QCoreApplication>
#include <QMetaObject>

QorThread::QorThread(MainState &state, PollCycle &cycle, QObject *stepContext)
    : m_state(state), m_cycle(cycle), m_context(stepContext)
{
    m_cycle.setPriority = [this](bool normal) {
        setPriority(normal ? QThread::NormalPriority : QThread::IdlePriority);
    };
}

QorThread::~QorThread()
{
    StopAndWait();
    m_cycle.setPriority = nullptr;
}

void QorThread::RequestStop()
{
    {
        std::lock_guard lock(m_mutex);
        m_state.stopPolling = true;
    }
    m_wake.notify_all();
}

void QorThread::StopAndWait()
{
    if (!isRunning())
        return;
    RequestStop();
    // The thread may be waiting for a step queued to this thread: let it through (it
    // returns at once now that polling stops).
    while (!wait(5))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QorThread::RunStep()
{
    if (m_state.stopPolling)
        return;
    m_stepRunning = true;
    m_cycle.PollCycleStep();
    m_periodMs = m_state.PollPeriodMs();
    m_stepRunning = false;
}

void QorThread::run()
{
    m_cycle.cycleStartTick = TickMs();
    while (!m_state.stopPolling) {
        QMetaObject::invokeMethod(m_context, [this] { RunStep(); }, Qt::BlockingQueuedConnection);
        if (m_state.linkUp)
            continue;
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(qMax(0, m_periodMs)),
                        [this] { return m_state.stopPolling.load(); });
    }
    QMetaObject::invokeMethod(m_context, [this] { m_cycle.ReleaseRecordArrays(); },
                              Qt::BlockingQueuedConnection);
    m_state.stopPolling = false;
}
