// The plant's rotation: cycle time per controller (the time between two of its steps) for
// 1, 2, 4 and 8 controllers on one paced line, against the wire time of their reads; the
// same over one Modbus TCP gateway port; 4 controllers with one switched off against 3.
#include "MemIniFile.h"
#include "Plant.h"
#include "PlantConfig.h"
#include "SimProcess.h"
#include "Wire.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

bool CopyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

bool PrepareFolder(const QTemporaryDir &dir)
{
    const QString data = QStringLiteral(VELMARIS_SOURCE_DIR "/data/");
    if (!QDir().mkpath(dir.filePath("Cfg")))
        return false;
    for (const QString &name : QDir(data + "Cfg").entryList({"*.ini"}, QDir::Files))
        if (!CopyFile(data + "Cfg/" + name, dir.filePath("Cfg/" + name)))
            return false;
    if (!CopyFile(data + "default.ini", dir.filePath("default.ini")) ||
        !CopyFile(data + "start.ini", dir.filePath("start.ini")))
        return false;
    MemIniFile start(dir.filePath("start.ini"));
    start.writeInteger("connect", "parity", 0);   // a pty carries no parity
    start.writeInteger("connect", "stopbits", 0); // one stop bit
    start.writeInteger("connect", "sleep", 0);
    return start.updateFile();
}

int SpeedIndex(int baud)
{
    const int rates[] = {9600, 19200, 38400, 57600, 115200};
    return int(std::find(std::begin(rates), std::end(rates), baud) - std::begin(rates));
}

struct Result {
    double cycleMs = 0; // mean over the online controllers of their mean step interval
    int steps = 0;
};

// Runs the plant for seconds (after every controller's first two steps) and measures.
Result Run(SimProcess &sim, int count, int baud, double seconds, QList<int> off = {})
{
    QTemporaryDir dir;
    if (!PrepareFolder(dir))
        qFatal("cannot prepare the folder");
    PlantConfig config;
    for (int k = 0; k < count; ++k)
        config.controllers.push_back({QStringLiteral("C%1").arg(k + 1), sim.portSetting(), k + 1,
                                      SpeedIndex(baud), {}, {}, {}});
    for (int k : off)
        sim.command(QStringLiteral("@%1 offline").arg(k + 1));
    Plant plant(dir.path(), config);
    std::map<int, std::vector<qint64>> times;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&plant, &Plant::controllerUpdated, [&](int i) {
        if (plant.controller(i).summary().linkUp)
            times[i].push_back(clock.elapsed());
    });
    QString error;
    if (!plant.Start(error))
        qFatal("%s", qPrintable(error));
    // Warm up: every online controller stepped twice.
    QElapsedTimer warm;
    warm.start();
    auto ready = [&] {
        for (int k = 0; k < count; ++k)
            if (!off.contains(k) && times[k].size() < 2)
                return false;
        return true;
    };
    while (!ready() && warm.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    times.clear();
    QTimer end;
    end.setSingleShot(true);
    QEventLoop loop;
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    end.start(int(seconds * 1000));
    loop.exec();
    plant.Stop();
    for (int k : off)
        sim.command(QStringLiteral("@%1 online").arg(k + 1));
    Result r;
    int online = 0;
    for (auto &[i, t] : times) {
        if (t.size() < 2)
            continue;
        r.cycleMs += double(t.back() - t.front()) / double(t.size() - 1);
        r.steps += int(t.size());
        ++online;
    }
    if (online)
        r.cycleMs /= online;
    return r;
}

// A step on the sensor-data page: relay state (1 register) and status, temperature,
// seconds of 36 sensors.
double StepWireMs(int baud) { return WireMs(ReadWireChars(1) + 3 * ReadWireChars(36), baud); }

bool StartSim(SimProcess &sim, int controllers, int baud, bool pace = true)
{
    QStringList args{"--sensors", "36", "--address", "1", "--controllers", QString::number(controllers),
                     "--baud", QString::number(baud)};
    if (pace)
        args << "--pace";
    if (!sim.start(args, 10000, SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains("--quick");
    const double seconds = quick ? 4 : 12;
    const bool lostOnly = app.arguments().contains("--lost"); // the last part alone

    if (!lostOnly) {
    printf("### Plant: cycle time per controller on one paced line (pty)\n\n");
    printf("| baud | controllers | cycle per controller ms | wire of their reads ms | ratio |\n|---|---|---|---|---|\n");
    for (int baud : {9600, 115200}) {
        for (int n : {1, 2, 4, 8}) {
            SimProcess sim;
            if (!StartSim(sim, n, baud))
                return 1;
            const Result r = Run(sim, n, baud, seconds * (baud == 9600 ? 1.5 : 1));
            const double wire = n * StepWireMs(baud);
            printf("| %d | %d | %.1f | %.1f | %.3f |\n", baud, n, r.cycleMs, wire, r.cycleMs / wire);
            fflush(stdout);
        }
    }

    printf("\n### Plant: one Modbus TCP gateway port (loopback, --framing mbtcp)\n\n");
    printf("| gateway line | controllers | cycle per controller ms | wire of their reads ms | ratio |\n|---|---|---|---|---|\n");
    for (int n : {1, 4, 8}) {
        for (bool pace : {true, false}) {
            SimProcess sim(SimProcess::Transport::TcpMbap);
            if (!StartSim(sim, n, 9600, pace))
                return 1;
            const Result r = Run(sim, n, 9600, seconds);
            const double wire = n * StepWireMs(9600);
            if (pace)
                printf("| paced 9600 | %d | %.1f | %.1f | %.3f |\n", n, r.cycleMs, wire, r.cycleMs / wire);
            else
                printf("| unpaced | %d | %.2f | - | - |\n", n, r.cycleMs);
            fflush(stdout);
        }
    }

    }
    printf("\n### Plant: 4 controllers with one switched off vs 3 (paced 9600, retry 10 s)\n\n");
    printf("| plant | cycle per online controller ms | vs 3 controllers |\n|---|---|---|\n");
    const double longRun = quick ? 12 : 41; // four retries of the one switched off
    double three = 0;
    {
        SimProcess sim;
        if (!StartSim(sim, 3, 9600))
            return 1;
        three = Run(sim, 3, 9600, longRun).cycleMs;
        printf("| 3 controllers | %.1f | 1.000 |\n", three);
    }
    {
        SimProcess sim;
        if (!StartSim(sim, 4, 9600))
            return 1;
        const double four = Run(sim, 4, 9600, longRun, {3}).cycleMs;
        printf("| 4, one off | %.1f | %.3f |\n", four, four / three);
    }
    return 0;
}
