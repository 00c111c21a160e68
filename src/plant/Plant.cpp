#include "Plant.h"

#include "HistoryService.h"
#include "HistoryStore.h"
#include "MainState.h"
#include "MainView.h"
#include "MemIniFile.h"
#include "PlantTexts.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "SerialLink.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace {

const QString kConnect = QStringLiteral("connect");

// A controller polled without a window: keeps what the plant view needs of what the
// logic shows (panel 0 is the link's text).
class HeadlessView : public MainView {
public:
    QString status[4];
    QString lastMessage;

    void ShowStatus(int panel, const QString &text) override
    {
        if (panel >= 0 && panel < 4)
            status[panel] = text;
    }
    void ShowLamp(Lamp) override {}
    void ShowCycleTime(const QString &) override {}
    void ShowMessage(const QString &caption, const QString &text, Icon) override
    {
        lastMessage = caption + QStringLiteral(": ") + text;
    }
    void ProcessMessages() override {}
    void ShowDeviceViews() override {}
    void HideDeviceViews() override {}
    void ApplyCaptions() override {}
    void ShowControllerConnectSettings() override {}
    void SensorDataLayoutChanged() override {}
    int SensorSettingsVisibleRows() override { return 1 << 20; }
    void EnableSensorSettingsCopy(bool) override {}
    void ShowProgress(const QString &) override {}
    void HideProgress() override {}
    void SetWriteBackRunning(bool) override {}
};

} // namespace


struct Bus;

// The link's reports on a bus: a port that fails fails for every controller on it.
class BusReporter : public LinkReporter {
public:
    explicit BusReporter(Bus &bus) : m_bus(bus) {}
    void SetLinkDown(const QString &text) override;
    void ShowAttemptNumber(int attempt) override;

private:
    Bus &m_bus;
};

struct Bus {
    QString key;
    MemIniFile ini{QString()}; // the working folder's settings with this line's [connect]
    BusReporter reporter{*this};
    std::unique_ptr<SerialLink> link;
    std::vector<PlantController *> controllers;
    PlantController *stepping = nullptr;
};

struct PlantController::Impl {
    // The plant's hooks on an engine that starts stepping for this controller.
    std::function<void(PlantController &, MainState &)> installHooks;
    std::function<void(PlantController &)> attachHistory;
    int index = 0;
    PlantEntry entry;
    ControllerPlace place;
    Bus *bus = nullptr;
    HeadlessView view;
    std::unique_ptr<MainState> ownState;
    std::unique_ptr<PollCycle> ownCycle;
    MainState *state = nullptr;
    PollCycle *cycle = nullptr;
    MainView *shownView = nullptr; // the view of the engine stepping now
    std::unique_ptr<HistoryService> history;
    int sensorHook = 0;
    bool readThisStep = false;
    PlantSummary summary;
    bool lost = false;
    qint64 retryAt = 0; // on the plant's clock: its turn rests until then (a closing window)
    qint64 triedAt = 0; // the end of its last step
    bool lastUp = false;
    bool stepping = false;
};

// Paces the plant as QorThread paces one controller: it has the GUI thread run one step
// and waits for it, so no step starts inside another one's waits; between steps it sleeps
// only while no controller is due.
class PlantThread : public QThread {
public:
    PlantThread(std::function<int()> step, QObject *context) : m_step(std::move(step)), m_context(context) {}
    ~PlantThread() override { StopAndWait(); }
    void RequestStop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
    }
    // Ends the thread from the GUI thread without running its events here: a step it
    // queued that has not run yet is called off instead of let through.
    void StopAndWait()
    {
        if (!isRunning())
            return;
        RequestStop();
        *m_live = false;
        wait();
    }
    bool Stopping() const { return m_stop; }
    void Restart()
    {
        m_stop = false;
        m_live = std::make_shared<bool>(true);
        start();
    }

protected:
    void run() override
    {
        const std::shared_ptr<bool> live = m_live;
        while (!m_stop) {
            struct Step {
                bool done = false;
                int sleepMs = 0;
            };
            auto step = std::make_shared<Step>();
            // Queued, not blocking: the GUI thread may be waiting for this thread to end.
            // live is read on the GUI thread only, which also ends the thread.
            QMetaObject::invokeMethod(
                m_context,
                [this, live, step] {
                    if (!*live)
                        return; // stopped meanwhile: the thread may be gone
                    const int ms = m_stop ? 0 : m_step();
                    if (!*live)
                        return; // stopped inside the step
                    {
                        std::lock_guard lock(m_mutex);
                        step->sleepMs = ms;
                        step->done = true;
                    }
                    m_wake.notify_all();
                },
                Qt::QueuedConnection);
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return step->done || m_stop.load(); });
            if (m_stop || step->sleepMs <= 0)
                continue;
            m_wake.wait_for(lock, std::chrono::milliseconds(step->sleepMs),
                            [this] { return m_stop.load(); });
        }
    }

private:
    std::function<int()> m_step;
    QObject *m_context;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stop{false};
    std::shared_ptr<bool> m_live = std::make_shared<bool>(true); // GUI thread
};

struct Plant::Impl {
    Plant *q = nullptr;
    QString workFolder;
    PlantConfig config;
    MemIniFile settings;
    bool historyOn = false;
    int lostRetryMs = 10000;
    std::vector<std::unique_ptr<Bus>> buses;
    std::vector<std::unique_ptr<PlantController>> controllers;
    std::unique_ptr<HistoryStore> store;
    std::unique_ptr<PlantThread> thread;
    QElapsedTimer clock;
    size_t rotation = 0;
    bool stepRunning = false;
    bool started = false;

    Impl(const QString &folder)
        : workFolder(folder), settings(QDir(folder).filePath(QStringLiteral("start.ini")))
    {
        clock.start();
    }

    Bus &busFor(const PlantEntry &e);
    bool makeController(int index, QString &error);
    void installHooks(PlantController &c, MainState &s);
    void attachHistory(PlantController &c);
    int runOne();
    qint64 dueAt(const PlantController &c, bool anyAnswering) const;
    bool anyAnswering() const;
    void step(PlantController &c);
    void summarize(PlantController &c);
    QString checkConnectWrite(const PlantController &c, const ConnectUserValues &v) const;
    void connectMoved(PlantController &c);
};

void BusReporter::SetLinkDown(const QString &text)
{
    for (PlantController *c : m_bus.controllers)
        c->state().SetLinkDown(text);
}

void BusReporter::ShowAttemptNumber(int attempt)
{
    if (m_bus.stepping)
        m_bus.stepping->state().ShowAttemptNumber(attempt);
}

// ---------------------------------------------------------------------------------------
// PlantController

PlantController::PlantController() : d(std::make_unique<Impl>()) {}

PlantController::~PlantController()
{
    d->history.reset();
    if (!Attached() && d->ownCycle && d->sensorHook)
        d->ownCycle->sensorDataRead.Unlisten(d->sensorHook);
}

const PlantEntry &PlantController::entry() const { return d->entry; }
int PlantController::index() const { return d->index; }
ControllerPlace PlantController::place() const { return d->place; }
PlantSummary PlantController::summary() const { return d->summary; }
MainState &PlantController::state() { return *d->state; }
PollCycle &PlantController::cycle() { return *d->cycle; }
bool PlantController::Attached() const { return d->state != d->ownState.get(); }
bool PlantController::Stepping() const { return d->stepping; }

void PlantController::Attach(MainState &state, PollCycle &cycle)
{
    if (Attached())
        Release();
    if (d->sensorHook)
        d->ownCycle->sensorDataRead.Unlisten(d->sensorHook);
    MainState &before = *d->state;
    PollCycle &beforeCycle = *d->cycle;
    d->state = &state;
    d->cycle = &cycle;
    d->shownView = &state.view();
    d->installHooks(*this, state);
    d->attachHistory(*this);
    emit engineSwitched(before, beforeCycle);
}

void PlantController::Release()
{
    if (!Attached())
        return;
    MainState &window = *d->state;
    PollCycle *windowCycle = d->cycle;
    window.checkConnectWrite = nullptr;
    window.connectSettingsMoved = nullptr;
    if (d->sensorHook)
        d->cycle->sensorDataRead.Unlisten(d->sensorHook);
    d->state = d->ownState.get();
    d->cycle = d->ownCycle.get();
    d->shownView = &d->view;
    // A window closing aborts its transaction; the bus goes on for the others.
    d->bus->link->Resume();
    // The window may have changed the language or moved the controller: read again.
    d->ownState->settingsIni.reload();
    d->ownState->linkUp = false;
    d->installHooks(*this, *d->ownState);
    d->attachHistory(*this);
    emit engineSwitched(window, *windowCycle);
}

// ---------------------------------------------------------------------------------------
// Plant

Plant::Plant(const QString &workFolder, const PlantConfig &config, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>(workFolder))
{
    d->q = this;
    d->config = config;
    const int retry = d->settings.readInteger(QStringLiteral("plant"), QStringLiteral("retry"), 0);
    if (retry > 0)
        d->lostRetryMs = retry;
}

Plant::~Plant()
{
    Stop();
    for (auto &c : d->controllers)
        c->d->history.reset();
    if (d->store)
        HistoryService::TellProgram(*d->store, EventKind::ProgramStopped);
    d->controllers.clear(); // before the buses whose links they use
    d->buses.clear();
}

void Plant::setHistory(bool on) { d->historyOn = on; }
void Plant::setLostRetryMs(int ms) { d->lostRetryMs = qMax(0, ms); }
int Plant::size() const { return int(d->controllers.size()); }
PlantController &Plant::controller(int i) { return *d->controllers[size_t(i)]; }
const PlantConfig &Plant::config() const { return d->config; }
const MemIniFile &Plant::settings() const { return d->settings; }
HistoryStore *Plant::store() { return d->store.get(); }

Bus &Plant::Impl::busFor(const PlantEntry &e)
{
    const QString key = BusKey(e.port);
    for (auto &b : buses)
        if (b->key == key)
            return *b;
    auto bus = std::make_unique<Bus>();
    bus->key = key;
    // Time-outs, language and texts are the working folder's; the line is the port's.
    bus->ini.setBytes(settings.toBytes());
    const PlantLine line = LineOf(e, settings);
    bus->ini.writeString(kConnect, QStringLiteral("port"), e.port.trimmed());
    bus->ini.writeInteger(kConnect, QStringLiteral("speed"), line.speed);
    bus->ini.writeInteger(kConnect, QStringLiteral("parity"), line.parity);
    bus->ini.writeInteger(kConnect, QStringLiteral("stopbits"), line.stopbits);
    bus->link = std::make_unique<SerialLink>(bus->ini, bus->reporter);
    buses.push_back(std::move(bus));
    return *buses.back();
}

bool Plant::Impl::makeController(int index, QString &error)
{
    const PlantEntry &e = config.controllers[size_t(index)];
    const QString folder = PlantControllerFolder(workFolder, e.name);
    if (!QDir().mkpath(folder)) {
        error = LookupText(settings, Msg::n656) + QDir::toNativeSeparators(folder);
        return false;
    }
    // A new controller starts from the working folder's settings and defaults.
    for (const char *name : {"start.ini", "default.ini"}) {
        const QString own = QDir(folder).filePath(QLatin1String(name));
        const QString shared = QDir(workFolder).filePath(QLatin1String(name));
        if (!QFileInfo::exists(own) && QFileInfo::exists(shared))
            QFile::copy(shared, own);
    }
    Bus &bus = busFor(e);
    auto c = std::unique_ptr<PlantController>(new PlantController);
    PlantController::Impl &i = *c->d;
    i.installHooks = [this](PlantController &pc, MainState &st) { installHooks(pc, st); };
    i.attachHistory = [this](PlantController &pc) { attachHistory(pc); };
    i.index = index;
    i.entry = e;
    i.bus = &bus;
    i.place.folder = folder;
    i.place.cfgFolder = workFolder;
    i.place.cfgOverride = e.cfg;
    i.place.link = bus.link.get();
    i.ownState = std::make_unique<MainState>(i.view, i.place);
    MainState &s = *i.ownState;
    // plant.ini decides where the controller is; the language is the plant's.
    const PlantLine line = LineOf(e, settings);
    s.settingsIni.writeString(kConnect, QStringLiteral("port"), e.port.trimmed());
    s.settingsIni.writeInteger(kConnect, QStringLiteral("adr"), e.address);
    s.settingsIni.writeInteger(kConnect, QStringLiteral("speed"), line.speed);
    s.settingsIni.writeInteger(kConnect, QStringLiteral("parity"), line.parity);
    s.settingsIni.writeInteger(kConnect, QStringLiteral("stopbits"), line.stopbits);
    s.settingsIni.writeInteger(QStringLiteral("language"), QStringLiteral("lang"),
                               settings.readInteger(QStringLiteral("language"), QStringLiteral("lang"), 0));
    s.settingsIni.updateFile();
    s.pollSensorData = true;
    i.ownCycle = std::make_unique<PollCycle>(s);
    i.state = &s;
    i.cycle = i.ownCycle.get();
    i.shownView = &i.view;
    bus.controllers.push_back(c.get());
    controllers.push_back(std::move(c));
    installHooks(*controllers.back(), s);
    attachHistory(*controllers.back());
    return true;
}

void Plant::Impl::installHooks(PlantController &c, MainState &s)
{
    PlantController::Impl &i = *c.d;
    s.checkConnectWrite = [this, &c](const ConnectUserValues &v) { return checkConnectWrite(c, v); };
    s.connectSettingsMoved = [this, &c] { connectMoved(c); };
    i.sensorHook = i.cycle->sensorDataRead.Listen([&i] { i.readThisStep = true; });
}

void Plant::Impl::attachHistory(PlantController &c)
{
    PlantController::Impl &i = *c.d;
    i.history.reset();
    if (!store)
        return;
    i.history = std::make_unique<HistoryService>(*store, *i.state, *i.cycle,
                                                HistoryService::ProgramEvents::ToldByOwner);
}

bool Plant::Start(QString &error)
{
    if (d->started) {
        if (!d->thread->isRunning())
            d->thread->Restart();
        return true;
    }
    if (d->historyOn && !d->store) {
        d->store = std::make_unique<HistoryStore>(d->workFolder, HistoryLimitsFrom(d->settings));
        // A store that cannot write keeps its batches in memory and says why in
        // problem(), which the plant view and serve show; polling goes on either way.
        d->store->Open();
        HistoryService::TellProgram(*d->store, EventKind::ProgramStarted);
    }
    for (int k = 0; k < int(d->config.controllers.size()); ++k) {
        if (!d->makeController(k, error)) {
            d->controllers.clear(); // all or none: a second Start begins afresh
            d->buses.clear();
            return false;
        }
    }
    d->started = true;
    d->thread = std::make_unique<PlantThread>([this] { return d->runOne(); }, this);
    d->thread->start();
    return true;
}

void Plant::Stop()
{
    if (!d->thread)
        return;
    d->thread->RequestStop();
    if (d->stepRunning) {
        // Called from inside a step's wait: end the transaction; the step unwinds after
        // this handler returns and the thread then ends by itself.
        for (auto &c : d->controllers)
            c->state().stopPolling = true;
        for (auto &b : d->buses)
            b->link->Abort();
        return;
    }
    d->thread->StopAndWait();
    for (auto &c : d->controllers)
        c->state().stopPolling = false;
    for (auto &b : d->buses)
        b->link->Resume();
}

qint64 Plant::Impl::dueAt(const PlantController &c, bool anyAnswering) const
{
    const PlantController::Impl &i = *c.d;
    if (!i.lost)
        return i.retryAt;
    // A lost controller waits its retry time while others answer (they keep their rate);
    // while none does, nobody is held up: it is tried every [measure] period, as the
    // single window tries its controller.
    const qint64 wait = anyAnswering ? lostRetryMs
                                     : qMax(QorThread::kOfflineFloorMs, i.state->PollPeriodMs());
    return qMax(i.retryAt, i.triedAt + wait);
}

bool Plant::Impl::anyAnswering() const
{
    return std::any_of(controllers.begin(), controllers.end(),
                       [](const auto &c) { return !c->d->lost; });
}

int Plant::Impl::runOne()
{
    const size_t n = controllers.size();
    if (n == 0)
        return 1000;
    const bool answering = anyAnswering();
    for (size_t k = 0; k < n; ++k) {
        const size_t at = (rotation + k) % n;
        PlantController &c = *controllers[at];
        if (dueAt(c, answering) > clock.elapsed())
            continue;
        rotation = (at + 1) % n;
        step(c);
        break;
    }
    // Sleep only while nobody is due: until the earliest, never less than the floor.
    const bool nowAnswering = anyAnswering();
    qint64 earliest = -1;
    const qint64 now = clock.elapsed();
    for (auto &c : controllers) {
        const qint64 due = dueAt(*c, nowAnswering);
        if (due <= now)
            return 0;
        earliest = earliest < 0 ? due : qMin(earliest, due);
    }
    return int(qMax<qint64>(QorThread::kOfflineFloorMs, earliest - now));
}

void Plant::Impl::step(PlantController &c)
{
    PlantController::Impl &i = *c.d;
    MainState &s = *i.state;
    if (s.stopPolling) {
        // A window attached and closing: its turn rests until it is released.
        i.retryAt = clock.elapsed() + QorThread::kOfflineFloorMs;
        return;
    }
    if (i.bus->link->Aborted())
        i.bus->link->Resume(); // a window closed during its step; the plant polls on
    const bool wasUp = s.linkUp;
    i.readThisStep = false;
    i.bus->stepping = &c;
    i.stepping = true;
    stepRunning = true;
    // A controller already found lost is asked once, not three times: nobody there costs
    // the others one time-out per retry.
    s.modbus.setAttemptsCap(i.lost ? 1 : 0);
    i.cycle->PollCycleStep();
    s.modbus.setAttemptsCap(0);
    stepRunning = false;
    i.stepping = false;
    i.bus->stepping = nullptr;
    if (thread && thread->Stopping())
        return;
    // Lost: down after a step that tried to bring it up. One that just dropped is tried
    // again at its next turn.
    i.lost = !s.linkUp && !wasUp;
    i.retryAt = 0;
    i.triedAt = clock.elapsed();
    summarize(c);
    emit c.updated();
    if (i.summary.linkUp != i.lastUp) {
        i.lastUp = i.summary.linkUp;
        emit c.linkChanged(i.lastUp);
    }
    emit q->controllerUpdated(i.index);
}

void Plant::Impl::summarize(PlantController &c)
{
    PlantController::Impl &i = *c.d;
    MainState &s = *i.state;
    PollCycle &cy = *i.cycle;
    PlantSummary &sum = i.summary;
    sum.linkUp = s.linkUp;
    if (&s == i.ownState.get())
        sum.linkText = i.view.status[0];
    sum.firmware = s.firmwareVersionText;
    if (s.linkUp)
        sum.deviceCode = cy.identificationRecord.values[0];
    sum.alarms = i.history ? i.history->controllerAlarms() : -1;
    if (!i.readThisStep)
        return;
    sum.lastUpdateMs = QDateTime::currentMSecsSinceEpoch();
    sum.registered = 0;
    sum.hottest = 0;
    sum.hottestTemp = 0;
    sum.overThreshold1.clear();
    sum.overThreshold2.clear();
    sum.noPower.clear();
    sum.faulty.clear();
    const int count = qMin(int(s.registerMap.MAX_SENSORS), kRecordValues);
    for (int k = 0; k < count; ++k) {
        const quint16 code = cy.statusRecord.values[size_t(k)];
        const int number = k + 1;
        if (code != 40)
            ++sum.registered;
        switch (code) {
        case 1: sum.overThreshold1.push_back(number); break;
        case 2: sum.overThreshold2.push_back(number); break;
        case 10: sum.noPower.push_back(number); break;
        case 20: sum.faulty.push_back(number); break;
        default: break;
        }
        // A temperature counts only on the air or over a threshold, as in the live chart.
        const double t = cy.temperatureRecord.values[size_t(k)];
        if (code <= 2 && (sum.hottest == 0 || t > sum.hottestTemp)) {
            sum.hottest = number;
            sum.hottestTemp = t;
        }
    }
}

QString Plant::Impl::checkConnectWrite(const PlantController &c, const ConnectUserValues &v) const
{
    const PlantController::Impl &i = *c.d;
    QStringList others;
    for (const PlantController *o : i.bus->controllers) {
        if (o == &c)
            continue;
        others << o->entry().name;
        if (v.addr.trimmed().toInt() == o->entry().address && o->entry().address != i.entry.address)
            return LookupText(settings, Msg::n653) + QString::number(o->entry().address) +
                   LookupText(settings, Msg::n654) + o->entry().name;
    }
    const PlantLine line{i.bus->ini.readInteger(kConnect, QStringLiteral("speed"), 0),
                         i.bus->ini.readInteger(kConnect, QStringLiteral("parity"), 0),
                         i.bus->ini.readInteger(kConnect, QStringLiteral("stopbits"), 1)};
    const PlantLine wanted{v.baud, v.parity, v.stops};
    if (!others.isEmpty() && wanted != line)
        return LookupText(settings, Msg::n652) + others.join(QStringLiteral(", "));
    return {};
}

void Plant::Impl::connectMoved(PlantController &c)
{
    PlantController::Impl &i = *c.d;
    const MemIniFile &ini = i.state->settingsIni;
    PlantEntry moved = i.entry;
    moved.address = ini.readInteger(kConnect, QStringLiteral("adr"), i.entry.address);
    const PlantLine line{ini.readInteger(kConnect, QStringLiteral("speed"), 0),
                         ini.readInteger(kConnect, QStringLiteral("parity"), 0),
                         ini.readInteger(kConnect, QStringLiteral("stopbits"), 1)};
    if (LineOf(moved, settings) != line) {
        // Alone on its line (checkConnectWrite refuses it otherwise): the line follows.
        moved.speed = line.speed;
        moved.parity = line.parity;
        moved.stopbits = line.stopbits;
        i.bus->ini.writeInteger(kConnect, QStringLiteral("speed"), line.speed);
        i.bus->ini.writeInteger(kConnect, QStringLiteral("parity"), line.parity);
        i.bus->ini.writeInteger(kConnect, QStringLiteral("stopbits"), line.stopbits);
    }
    if (moved == i.entry)
        return;
    i.entry = moved;
    config.controllers[size_t(i.index)] = moved;
    // plant.ini follows, so the next start finds the controller where it now is.
    const QString path = QDir(workFolder).filePath(QLatin1String(kPlantFileName));
    QString error;
    if (QFileInfo::exists(path) && !WritePlant(path, config, error, &settings))
        i.state->SetLinkNotice(error);
}

HistoryService *PlantController::history() { return d->history.get(); }
bool Plant::StepRunning() const { return d->stepRunning; }
