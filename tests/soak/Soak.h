#pragma once
#include "SimProcess.h"

#include <QString>

// The poll engine (MainState, PollCycle, QorThread; no window) on the sensor-data page
// against qor7070-sim --named-values with every fault kind struck at a rate, checking
// every cell the engine writes into the two sensor-data grids: a value is either its own
// register's or a failure mark, never another register's or another sensor's.
struct SoakOptions {
    int transactions = 2000;
    int baud = 115200;
    bool paced = false; // on the pty only
    SimProcess::Transport transport = SimProcess::Transport::Pty;
    double rate = 0.05; // per fault kind and request
    int seed = 7;
    int receiveMs = 25; // [connect] receive: what an unanswered attempt costs
    int periodMs = 100; // [measure] period: the offline step's sleep
};

struct SoakResult {
    bool started = false;
    QString error;
    int transactions = 0;    // requests the simulator received
    int faults = 0;          // faults it struck
    int cycles = 0;          // complete cycles, after each of which every cell is checked
    qint64 cellsChecked = 0; // cells changed, each checked as it changed, and the cycle checks
    int misplaced = 0;
    QString firstMisplaced;
    int linkDowns = 0;
    double seconds = 0;
    bool recovered = false; // online with fresh values after the faults stopped
    int recoveryMs = -1;
    qint64 rssStartKb = 0; // after the first tenth of the run
    qint64 rssEndKb = 0;
};

SoakResult RunSoak(const SoakOptions &options);

// The working directory as the program finds it on first start, [connect] port set to port
// with these line settings, time-out and poll period.
bool PrepareEngineFolder(const QString &port, int baud, int receiveMs, int periodMs);
