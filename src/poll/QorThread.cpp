#include "QorThread.h"

#include "MainState.h"
#include "PollCycle.h"
#include "Tick.h"

#include <QMetaObject>

#ifdef Q_OS_LINUX
#include <pthread.h>
#include <sched.h>
#include <thread>
#endif

namespace {

#ifdef Q_OS_LINUX
// SCHED_IDLE where this process may leave it again (root, CAP_SYS_NICE or a high enough
// RLIMIT_NICE), otherwise SCHED_BATCH, the lowest policy an ordinary user can come back
// from. Tried once on a thread of its own.
int IdlePolicy()
{
    static const int policy = [] {
        int result = SCHED_BATCH;
        std::thread probe([&result] {
            const sched_param param{};
            if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0 &&
                pthread_setschedparam(pthread_self(), SCHED_OTHER, &param) == 0)
                result = SCHED_IDLE;
        });
        probe.join();
        return result;
    }();
    return policy;
}
#endif

// Normal or idle scheduling for the calling thread. Qt's setPriority cannot do it on
// Linux: it maps IdlePriority to SCHED_IDLE, and NormalPriority keeps the policy it finds.
void SetOwnPriority(bool normal)
{
#ifdef Q_OS_LINUX
    const sched_param param{}; // priority 0: the only one of these policies
    pthread_setschedparam(pthread_self(), normal ? SCHED_OTHER : IdlePolicy(), &param);
#else
    QThread::currentThread()->setPriority(normal ? QThread::NormalPriority : QThread::IdlePriority);
#endif
}

} // namespace

QorThread::QorThread(MainState &state, PollCycle &cycle, QObject *stepContext)
    : m_state(state), m_cycle(cycle), m_context(stepContext)
{
    // The step runs on the GUI thread; the poll thread applies the priority to itself once
    // the step has returned.
    m_cycle.setPriority = [this](bool normal) { m_normalPriority = normal; };
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
    // Without running events here: a step the thread queued that has not run yet is called
    // off instead of let through, so the thread's wait ends with the stop itself.
    {
        std::lock_guard lock(m_mutex);
        *m_live = false;
    }
    RequestStop();
    wait();
    m_cycle.ReleaseRecordArrays();
}

void QorThread::RunStep()
{
    if (m_state.stopPolling)
        return;
    m_stepRunning = true;
    ++m_steps;
    m_cycle.PollCycleStep();
    m_periodMs = m_state.PollPeriodMs();
    m_stepRunning = false;
}

void QorThread::run()
{
    m_nativeId = QThread::currentThreadId();
    const std::shared_ptr<bool> live = m_live;
    bool normal = false;
    SetOwnPriority(normal);
    m_cycle.cycleStartTick = TickMs();
    while (!m_state.stopPolling) {
        struct Step {
            bool started = false, done = false, calledOff = false; // under m_mutex
        };
        auto step = std::make_shared<Step>();
        // Queued, not blocking: the GUI thread may be waiting for this thread to end.
        QMetaObject::invokeMethod(
            m_context,
            [this, live, step] {
                {
                    std::lock_guard lock(m_mutex);
                    if (!*live || step->calledOff)
                        return; // stopped meanwhile: the thread may be gone
                    step->started = true;
                }
                RunStep();
                std::lock_guard lock(m_mutex);
                if (!*live)
                    return; // StopAndWait from inside the step: nobody waits for it
                step->done = true;
                m_wake.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(m_mutex);
        // A step under way runs out first (a stop inside it must not be undone under it);
        // one not yet started is called off by the stop.
        m_wake.wait(lock, [&] {
            return step->done || (m_state.stopPolling && (!step->started || !*live));
        });
        if (m_state.stopPolling) {
            step->calledOff = !step->started;
            break;
        }
        if (m_normalPriority != normal) {
            normal = m_normalPriority;
            SetOwnPriority(normal);
        }
        if (m_state.linkUp)
            continue;
        m_wake.wait_for(lock, std::chrono::milliseconds(qMax(kOfflineFloorMs, m_periodMs)),
                        [this] { return m_state.stopPolling.load(); });
    }
    // Stopped by RequestStop alone (the window closing waits for finished()): the records
    // go on the GUI thread unless StopAndWait has taken over.
    QMetaObject::invokeMethod(
        m_context,
        [this, live] {
            bool release;
            {
                std::lock_guard lock(m_mutex);
                release = *live;
            }
            if (release)
                m_cycle.ReleaseRecordArrays();
        },
        Qt::QueuedConnection);
    m_state.stopPolling = false;
}
