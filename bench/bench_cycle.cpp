// Poll-cycle time of the engine (MainState, PollCycle, QorThread, no window) on the
// sensor-data page against qor7070-sim --pace, next to the wire time of the cycle's four
// reads and to the same four reads made by libmodbus on the same simulator. Optionally the
// engine's CPU time over a minute online and over a stretch with the controller offline.
#include "BenchFolder.h"
#include "RunEvents.h"
#include "ProcessCpu.h"
#include "SimProcess.h"
#include "LibmodbusMaster.h"
#include "MainState.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "RecorderView.h"
#include "Wire.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSlave = 100;
// The shipped map (firmware 1.2): relay state, statuses, temperatures, seconds.
constexpr int kRelayStatus = 0x0300, kStatus = 0x0140, kTemperature = 0x0100, kElapsed = 0x0180;
constexpr int kSensors = 36;

QElapsedTimer g_clock;

// Notes the moment each cycle ends (the engine shows its cycle time then).
struct Engine {
    RecorderView view;
    std::vector<qint64> endsNs;
    std::vector<int> shownMs;
    QObject context;
    MainState state{view};
    PollCycle cycle{state};
    QorThread thread{state, cycle, &context};
    Engine()
    {
        view.keepHistory = false;
        view.onMessage = [](const QString &caption, const QString &text) {
            fprintf(stderr, "message: %s | %s\n", qPrintable(caption), qPrintable(text));
        };
        view.onCycleTime = [this](const QString &text) {
            endsNs.push_back(g_clock.nsecsElapsed());
            shownMs.push_back(text.toInt());
        };
        state.pollSensorData = true; // the sensor-data page is shown
        thread.start();
    }
    ~Engine() { thread.StopAndWait(); }
};

double cycleWireMs(int baud)
{
    return WireMs(ReadWireChars(1) + 3 * ReadWireChars(kSensors), baud);
}

// Mean cycle period over `cycles` cycles after `skip` warm-up cycles, from the ends of
// consecutive cycles.
double engineCycles(int skip, int cycles, double *shownMeanMs, bool *ok)
{
    Engine e;
    const int want = skip + cycles + 1;
    QElapsedTimer limit;
    limit.start();
    while (int(e.endsNs.size()) < want && limit.elapsed() < 60000)
        RunEvents(5);
    *ok = int(e.endsNs.size()) >= want;
    if (!*ok)
        return 0;
    const auto &t = e.endsNs;
    double shown = 0;
    for (int i = skip + 1; i <= skip + cycles; ++i)
        shown += e.shownMs[size_t(i)];
    *shownMeanMs = shown / cycles;
    return double(t[size_t(skip + cycles)] - t[size_t(skip)]) / 1e6 / cycles;
}

double libmodbusCycles(const QString &pty, int baud, int cycles, bool *ok)
{
    LibmodbusMaster m(pty, baud, kSlave);
    *ok = m.ok();
    if (!*ok)
        return 0;
    uint16_t relay[1], status[kSensors], temp[kSensors], elapsed[kSensors];
    auto one = [&] {
        return m.read(kRelayStatus, 1, relay) && m.read(kStatus, kSensors, status) &&
               m.read(kTemperature, kSensors, temp) && m.read(kElapsed, kSensors, elapsed);
    };
    *ok = one(); // warm-up
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < cycles && *ok; ++i)
        *ok = one();
    return double(t.nsecsElapsed()) / 1e6 / cycles;
}

bool cycleTimes(int baud, int speedIndex, int rounds, int cycles)
{
    SimProcess sim;
    if (!sim.start({"--sensors", "36", "--pace", "--baud", QString::number(baud)}, 10000, SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return false;
    }
    QTemporaryDir dir;
    if (!prepareFolder(dir, sim.ptyPath(), speedIndex))
        return false;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const double wire = cycleWireMs(baud);
    double oursSum = 0, theirsSum = 0, shownSum = 0;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        double shown = 0;
        oursSum += engineCycles(2, cycles, &shown, &ok);
        shownSum += shown;
        if (ok)
            theirsSum += libmodbusCycles(sim.ptyPath(), baud, cycles, &ok);
    }
    QDir::setCurrent(previous);
    if (!ok) {
        fprintf(stderr, "cycle benchmark at %d baud failed\n", baud);
        return false;
    }
    const double ours = oursSum / rounds, theirs = theirsSum / rounds;
    printf("| %d | %d | %.2f | %.2f | %.1f | **%.3f** | %.2f | %.3f | **%.3f** |\n", baud,
           cycles * rounds, wire, ours, shownSum / rounds, ours / wire, theirs, theirs / wire,
           ours / theirs);
    return true;
}

// CPU of this process (the engine's two threads) over `onlineS` seconds of polling at
// `baud`, then (if `offlineS`) over `offlineS` seconds with the simulator silent; then
// libmodbus making the same four reads for the same time. CPU per cycle is the figure to
// compare: both sides make the same reads, the cycle counts differ a little.
bool engineCpu(int baud, int speedIndex, int onlineS, int offlineS, double *ratio)
{
    SimProcess sim;
    if (!sim.start({"--sensors", "36", "--pace", "--baud", QString::number(baud)}, 10000,
                   SimProcess::Log::Off))
        return false;
    QTemporaryDir dir;
    if (!prepareFolder(dir, sim.ptyPath(), speedIndex))
        return false;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    double oursPerCycle = 0;
    {
        Engine e;
        QElapsedTimer t;
        t.start();
        while (!e.state.linkUp && t.elapsed() < 10000)
            RunEvents(10);
        RunEvents(1000);
        ProcessCpu cpu0 = ProcessCpuNow();
        size_t cycles0 = e.endsNs.size();
        t.restart();
        RunEvents(onlineS * 1000);
        ProcessCpu used = ProcessCpuNow() - cpu0;
        double cpu = used.all;
        double wall = double(t.nsecsElapsed()) / 1e9;
        const size_t cycles = e.endsNs.size() - cycles0;
        oursPerCycle = cycles ? cpu * 1e6 / double(cycles) : 0;
        printf("| engine online, %d baud, 36 sensors | %.1f | %.3f | **%.3f %%** | %zu | %.0f | %.0f %% |\n",
               baud, wall, cpu, 100 * cpu / wall, cycles, oursPerCycle,
               cpu > 0 ? 100 * used.kernel / cpu : 0);
        if (offlineS > 0) {
            sim.command("offline");
            t.restart();
            while (e.state.linkUp && t.elapsed() < 10000)
                RunEvents(10);
            cpu0 = ProcessCpuNow();
            t.restart();
            RunEvents(offlineS * 1000);
            cpu = (ProcessCpuNow() - cpu0).all;
            wall = double(t.nsecsElapsed()) / 1e9;
            printf("| controller offline (no answers) | %.1f | %.3f | **%.3f %%** | - | - | - |\n",
                   wall, cpu, 100 * cpu / wall);
            sim.command("online");
        }
    }
    QDir::setCurrent(previous);
    // The reference: libmodbus making the same four reads for the same time.
    LibmodbusMaster m(sim.ptyPath(), baud, kSlave);
    if (!m.ok())
        return false;
    uint16_t relay[1], status[kSensors], temp[kSensors], elapsed[kSensors];
    const ProcessCpu cpu0 = ProcessCpuNow();
    QElapsedTimer t;
    t.start();
    int cycles = 0;
    while (t.elapsed() < onlineS * 1000)
        cycles += m.read(kRelayStatus, 1, relay) && m.read(kStatus, kSensors, status) &&
                  m.read(kTemperature, kSensors, temp) && m.read(kElapsed, kSensors, elapsed);
    const ProcessCpu used = ProcessCpuNow() - cpu0;
    const double cpu = used.all, wall = double(t.nsecsElapsed()) / 1e9;
    const double theirsPerCycle = cycles ? cpu * 1e6 / cycles : 0;
    printf("| libmodbus, same four reads, %d baud | %.1f | %.3f | %.3f %% | %d | %.0f | %.0f %% |\n",
           baud, wall, cpu, 100 * cpu / wall, cycles, theirsPerCycle,
           cpu > 0 ? 100 * used.kernel / cpu : 0);
    *ratio = theirsPerCycle > 0 ? oursPerCycle / theirsPerCycle : 0;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    const QStringList args = app.arguments();
    const bool quick = args.contains("--quick");
    const bool cpuOnly = args.contains("--cpu-only"); // the CPU part alone
    const qsizetype cpuAt = args.indexOf("--cpu");
    printf("# Poll-cycle benchmark (sensor-data page, 36 registered sensors)\n\n");
    printf("Cycle wire time = 4 reads: relay state (8 + 3.5 + 7 characters) and statuses, "
           "temperatures, seconds (8 + 3.5 + 77 each) = 284 characters x 11 bits / baud.\n\n");
    printf("| baud | cycles each | wire ms | engine ms/cycle | engine shown ms | engine / wire "
           "| libmodbus ms/cycle | libmodbus / wire | engine / libmodbus |\n"
           "|---|---|---|---|---|---|---|---|---|\n");
    const struct {
        int baud, index, cycles;
    } runs[] = {{9600, 0, 12}, {19200, 1, 24}, {115200, 4, 120}};
    for (const auto &r : runs)
        if (!cpuOnly && !cycleTimes(r.baud, r.index, quick ? 1 : 2, quick ? r.cycles / 3 : r.cycles))
            return 1;
    printf("\n");
    if (cpuAt >= 0) {
        const int online = cpuAt + 1 < args.size() ? args[cpuAt + 1].toInt() : 60;
        const int offline = cpuAt + 2 < args.size() ? args[cpuAt + 2].toInt() : 30;
        printf("## Engine CPU time (no window)\n\n| state | wall s | CPU s | CPU / wall | "
               "cycles | CPU us / cycle | in the kernel |\n|---|---|---|---|---|---|---|\n");
        double slow = 0, fast = 0;
        if (!engineCpu(9600, 0, online, offline, &slow) || !engineCpu(115200, 4, online, 0, &fast))
            return 1;
        printf("\nEngine / libmodbus, CPU per cycle: **%.2f** at 9600, **%.2f** at 115200.\n\n",
               slow, fast);
    }
    return 0;
}
