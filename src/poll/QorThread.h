#pragma once
#include <QObject>
#include <QThread>
#include <condition_variable>
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

    // Sets stopPolling and wakes the sleep; the loop ends after the current step.
    void RequestStop();
    // Ends the thread from the GUI thread: stops it and lets pending steps through.
    void StopAndWait();
    // True while a step runs on the GUI thread (its reads let events in meanwhile).
    bool StepRunning() const { return m_stepRunning; }

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
    bool m_stepRunning = false; // GUI thread only
};
