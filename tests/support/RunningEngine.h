#pragma once
#include "MainState.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "RecorderView.h"

// The program's parts without the window, as the window runs them: the poll thread, the
// steps on the thread that made this, in the current folder. pollSensorData: the sensor-data
// page is the one shown.
struct RunningEngine {
    RecorderView view;
    QObject context;
    MainState state{view};
    PollCycle cycle{state};
    QorThread thread{state, cycle, &context};
    explicit RunningEngine(bool pollSensorData = false)
    {
        state.pollSensorData = pollSensorData;
        thread.start();
    }
    ~RunningEngine() { thread.StopAndWait(); }
    RunningEngine(const RunningEngine &) = delete;
    RunningEngine &operator=(const RunningEngine &) = delete;
};
