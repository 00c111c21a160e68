#pragma once
#include "ControllerPlace.h"
#include "PlantConfig.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class HistoryService;
class HistoryStore;
class MainState;
class MemIniFile;
class PollCycle;
class SerialLink;

// What the plant view shows of a controller, as of its last step.
struct PlantSummary {
    bool linkUp = false;
    QString linkText;      // what the window's status panel 0 would say (why it is down)
    quint16 deviceCode = 0;
    QString firmware;      // "1.2"; empty until identified
    int registered = 0;    // sensors registered
    int hottest = 0;       // its number; 0: no temperature read
    double hottestTemp = 0;
    // Sensors by state, numbers ascending (the plant view's counts and their lists).
    std::vector<int> overThreshold1, overThreshold2, noPower, faulty;
    qint64 lastUpdateMs = 0; // UTC ms of the last successful live read; 0: never
    int alarms = -1;         // unacknowledged; -1: no history kept
};

class PlantController : public QObject {
    Q_OBJECT
public:
    ~PlantController() override;

    const PlantEntry &entry() const;
    int index() const;
    ControllerPlace place() const;
    PlantSummary summary() const;

    // The engine stepping on the bus now: the controller's own, headless, or a window's
    // while one is attached.
    MainState &state();
    PollCycle &cycle();

    // A window takes the controller over: its state and cycle (built on place()) step on
    // the bus instead of the headless ones until Release; the headless ones rest meanwhile.
    // The window never runs its own poll thread then.
    void Attach(MainState &state, PollCycle &cycle);
    void Release();
    bool Attached() const;
    // The history of the engine stepping now (a window's while attached); null without one.
    HistoryService *history();
    // A step of this controller runs now (its waits let the GUI in). A window released
    // meanwhile keeps its state and cycle alive until updated() says the step is over.
    bool Stepping() const;

signals:
    void updated(); // after each of its steps, on the GUI thread
    void linkChanged(bool up);
    // Attach or Release changed the engine (state(), cycle(), history()); the one before is
    // still alive while this is delivered, so listeners can leave its hooks.
    void engineSwitched(MainState &before, PollCycle &beforeCycle);

private:
    friend class Plant;
    PlantController();
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Every controller of a plant, polled in a fair rotation. One link per bus (port), opened
// once; a step of a controller holds it from its first request to its last answer and no
// other step starts inside its waits. A controller found lost is tried again at most every
// lostRetryMs so the others keep their rate.
class Plant : public QObject {
    Q_OBJECT
public:
    // workFolder holds plant.ini, start.ini (program settings and defaults), Cfg/ and the
    // history; each controller's folder is created under it at Start when missing.
    Plant(const QString &workFolder, const PlantConfig &config, QObject *parent = nullptr);
    ~Plant() override; // stops at once: never waits for a sleep or the retry time

    // Before Start: keep the history in the working folder's store (the window and serve
    // do; --no-history does not).
    void setHistory(bool on);
    void setLostRetryMs(int ms); // default 10000, or [plant] retry in start.ini

    // Creates the controllers' folders and states and starts polling. False, with the
    // message, when a controller's folder cannot be made.
    bool Start(QString &error);
    void Stop();

    int size() const;
    PlantController &controller(int i);
    const PlantConfig &config() const;
    const MemIniFile &settings() const; // the working folder's start.ini
    HistoryStore *store();              // null without history
    // A controller's step is under way: a handler runs inside its waits. What would pull
    // the engine from under it (Stop, deleting the plant or an attached window) waits.
    bool StepRunning() const;

signals:
    void controllerUpdated(int index);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
