#pragma once
#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class MainState;
class PollCycle;

// Paces the link: in a loop it has the GUI thread run one poll-cycle step and waits for it;
// while the controller is offline it sleeps [measure] period between steps. The sleep
// ends at once when polling is stopped, so closing never waits for it.
class QorThread : public QThread {
    Q_OBJECT
public:
    // cycle and state live on the GUI thread (the thread of stepContext).
    QorThread(MainState &state, PollCycle &cycle, QObject *stepContext);
    ~QorThread() override;

    // Starts the loop. The thread sets its own scheduling (idle until a controller has been
    // identified), so the priority asked for here is not used: Qt starts an idle thread on
    // Linux under SCHED_IDLE, which an unprivileged process may never leave again.
    void start(Priority = InheritPriority)
    {
        m_live = std::make_shared<bool>(true);
        QThread::start(InheritPriority);
    }

    // Sets stopPolling and wakes the sleep; the loop ends after the current step.
    void RequestStop();
    // Ends the thread from the GUI thread: stops it and calls off a step it queued.
    void StopAndWait();
    // True while a step runs on the GUI thread (its reads let events in meanwhile).
    bool StepRunning() const { return m_stepRunning; }
    // Steps run so far, and the native id of the running thread (to read its scheduling).
    int StepCount() const { return m_steps; }
    Qt::HANDLE NativeId() const { return m_nativeId; }

    // Between two steps while offline the thread sleeps at least this long, whatever
    // [measure] period says: a loop that never waits would take a whole core.
    static constexpr int kOfflineFloorMs = 50;

protected:
    void run() override;

private:
    void RunStep(); // on the GUI thread

    MainState &m_state;
    PollCycle &m_cycle;
    QObject *m_context;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_periodMs = 1000;     // written by the step, read by the thread after it
    std::atomic<bool> m_normalPriority{false}; // what the step asked for
    bool m_stepRunning = false; // GUI thread only
    std::atomic<int> m_steps{0};
    std::atomic<Qt::HANDLE> m_nativeId{nullptr};
    // Cleared by StopAndWait (under m_mutex): the steps this run queued are called off.
    std::shared_ptr<bool> m_live = std::make_shared<bool>(true);
};
