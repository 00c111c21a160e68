// The MQTT feed's cost next to the engine's own: the engine at 115200 baud (paced, 36
// sensors, sensor-data page) alone, and with a feed and bridge publishing to a mosquitto
// on loopback, every sensor changed every cycle (the worst case) or as the simulator's
// values drift (the normal case), in alternating rounds; the feed's CPU on the GUI thread
// and the bridge thread's CPU, measured inside the same runs. Then the latency from the
// end of a cycle's sensor reads (the controller's last answer in) to a `mosquitto_sub`
// subscriber's receipt (its %U time stamp), median and 99th percentile.
//
//   bench_mqtt [--quick] [--qos N] [SECONDS]
//   (seconds per round, default 10; --quick: one round of 5; QoS default 1)
#include "BenchFolder.h"
#include "MainState.h"
#include "MosquittoProcess.h"
#include "MqttBridge.h"
#include "MqttFeed.h"
#include "MqttSettings.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "RecorderView.h"
#include "RunEvents.h"
#include "ProcessCpu.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <unistd.h>
#include <vector>

namespace {


qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

qint64 realtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// CPU time of this process's thread of that name (schedstat: ns on a CPU), 0 when none.
qint64 namedThreadCpuNs(const QByteArray &name)
{
    qint64 sum = 0;
    for (const QString &tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
        if (stat.open(QIODevice::ReadOnly))
            sum += stat.readAll().split(' ').value(0).toLongLong();
    }
    return sum;
}

struct Engine {
    RecorderView view;
    QObject context;
    MainState state{view};
    PollCycle cycle{state};
    QorThread thread{state, cycle, &context};
    int cycles = 0;
    Engine()
    {
        view.keepHistory = false;
        view.onCycleTime = [this](const QString &) { ++cycles; };
        state.pollSensorData = true;
        thread.start();
    }
    ~Engine() { thread.StopAndWait(); }
};

enum Mode { Alone, Worst, Normal };
const char *const kModeNames[] = {"engine alone", "engine + feed, all 36 changed every cycle",
                                  "engine + feed, values as they drift"};

struct Totals {
    double cpuMs = 0;
    double feedMs = 0;   // the feed's listeners on the GUI thread
    double bridgeMs = 0; // the bridge's network thread
    qint64 cycles = 0;
    quint64 sent = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains("--quick");
    int seconds = quick ? 5 : 10;
    for (qsizetype i = 1; i < args.size(); ++i)
        if (args[i] == "--qos")
            ++i;
        else if (args[i].toInt() > 0)
            seconds = args[i].toInt();
    const int rounds = quick ? 1 : 3;

    MosquittoProcess broker;
    if (!broker.start()) {
        fprintf(stderr, "mosquitto: %s\n", qPrintable(broker.errorText()));
        return 1;
    }
    SimProcess sim;
    if (!sim.start({"--sensors", "36", "--pace", "--baud", "115200"}, 10000, SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    QTemporaryDir dir;
    if (!prepareFolder(dir, sim.ptyPath(), 4))
        return 1;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());

    // The subscriber of the latency: sensor 1, whose payload changes every cycle in the
    // worst case (the bench makes its word the cycle's number).
    QProcess sub;
    sub.start(QStringLiteral("mosquitto_sub"),
              {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1", "-t",
               "bench/addr100/sensor/1", "-F", "%U %p"});
    if (!sub.waitForStarted(5000)) {
        fprintf(stderr, "mosquitto_sub did not start\n");
        return 1;
    }
    std::map<int, qint64> readEndNs; // the word put into sensor 1 -> end of that cycle's reads
    std::vector<double> latencyMs;
    QByteArray subBuffer;
    auto drainSub = [&] {
        subBuffer += sub.readAllStandardOutput();
        qsizetype nl;
        while ((nl = subBuffer.indexOf('\n')) >= 0) {
            const QByteArray line = subBuffer.left(nl);
            subBuffer.remove(0, nl + 1);
            const qsizetype sp = line.indexOf(' ');
            const double at = line.left(sp).toDouble();
            const QJsonObject o = QJsonDocument::fromJson(line.mid(sp + 1)).object();
            const auto it = readEndNs.find(o["t"].toInt(-1));
            if (it != readEndNs.end()) {
                latencyMs.push_back((at * 1e9 - double(it->second)) / 1e6);
                readEndNs.erase(it);
            }
        }
    };

    MqttSettings settings;
    settings.url = broker.url();
    settings.prefix = QStringLiteral("bench");
    settings.discovery = true;
    const qsizetype qosAt = args.indexOf("--qos");
    if (qosAt > 0 && qosAt + 1 < args.size())
        settings.qos = args[qosAt + 1].toInt();

    printf("## MQTT feed at 115200 baud (36 sensors, sensor-data page), CPU per cycle\n\n");
    printf("| round | mode | wall s | cycles | sensor messages per cycle | CPU ms per cycle | "
           "feed µs per cycle | bridge thread µs per cycle |\n|---|---|---|---|---|---|---|---|\n");
    Totals totals[3];
    int marker = 1000;
    for (int round = 0; round < rounds; ++round) {
        for (Mode mode : {Alone, Worst, Normal}) {
            Engine e;
            std::unique_ptr<MqttBridge> bridge;
            std::unique_ptr<MqttFeed> feed;
            qint64 feedNs = 0, feed0 = 0;
            // Ahead of the feed: every sensor's word made new (worst case), and the clock of
            // the feed's share started; behind it, stopped. Alone mode pays the same edit.
            const bool everyChanged = mode != Normal;
            e.cycle.sensorDataRead.Listen([&] {
                if (everyChanged) {
                    ++marker;
                    for (auto &w : e.cycle.temperatureRecord.values)
                        w = quint16(marker);
                    if (feed)
                        readEndNs[quint16(marker)] = realtimeNs();
                }
                feed0 = threadCpuNs();
            });
            if (mode != Alone) {
                bridge = std::make_unique<MqttBridge>(settings, MqttAddressLevel(100),
                                                      e.state.settingsIni);
                feed = std::make_unique<MqttFeed>(*bridge, settings);
                QString error;
                if (!bridge->Start(error)) {
                    fprintf(stderr, "bridge: %s\n", qPrintable(error));
                    return 1;
                }
                feed->Follow(e.state, e.cycle, nullptr);
            }
            e.cycle.sensorDataRead.Listen([&] { feedNs += threadCpuNs() - feed0; });
            QElapsedTimer t;
            t.start();
            while ((!e.state.linkUp ||
                    (bridge && bridge->state() != MqttBridge::State::Connected)) &&
                   t.elapsed() < 10000)
                RunEvents(10);
            RunEvents(1000);
            drainSub();
            latencyMs.clear();
            const double cpu0 = ProcessCpuSeconds();
            const qint64 bridge0 = namedThreadCpuNs("mqtt-bridge");
            const quint64 sent0 = bridge ? bridge->sentCount() : 0;
            feedNs = 0;
            const int cycles0 = e.cycles;
            t.restart();
            for (int ms = 0; ms < seconds * 1000; ms += 100) {
                RunEvents(100);
                drainSub();
            }
            const double cpuMs = 1e3 * (ProcessCpuSeconds() - cpu0), wall = double(t.nsecsElapsed()) / 1e9;
            const double bridgeMs = double(namedThreadCpuNs("mqtt-bridge") - bridge0) / 1e6;
            const quint64 sent = bridge ? bridge->sentCount() - sent0 : 0;
            const int cycles = std::max(1, e.cycles - cycles0);
            const double feedMs = mode == Alone ? 0 : double(feedNs) / 1e6;
            printf("| %d | %s | %.1f | %d | %.1f | %.3f | %.1f | %.1f |\n", round + 1,
                   kModeNames[mode], wall, cycles, double(sent) / cycles, cpuMs / cycles,
                   1e3 * feedMs / cycles, 1e3 * bridgeMs / cycles);
            fflush(stdout);
            Totals &tot = totals[mode];
            tot.cpuMs += cpuMs;
            tot.feedMs += feedMs;
            tot.bridgeMs += bridgeMs;
            tot.cycles += cycles;
            tot.sent += sent;
            feed.reset();
            bridge.reset();
        }
    }
    const double alone = totals[Alone].cpuMs / double(totals[Alone].cycles);
    auto share = [&](Mode m) {
        const Totals &t = totals[m];
        return 100 * (t.feedMs + t.bridgeMs) / double(t.cycles) / alone;
    };
    auto delta = [&](Mode m) {
        const Totals &t = totals[m];
        return 100 * (t.cpuMs / double(t.cycles) - alone) / alone;
    };
    printf("\nPooled: the engine alone %.3f ms CPU per cycle. The feed and the bridge thread, "
           "measured inside the runs: every sensor changed **%.2f %%** of the engine's own CPU "
           "per cycle (%.1f messages a cycle; whole process %+.1f %%), drifting values **%.2f %%** "
           "(%.1f messages a cycle; whole process %+.1f %%). Target under 10 %%.\n\n",
           alone, share(Worst), double(totals[Worst].sent) / double(totals[Worst].cycles),
           delta(Worst), share(Normal), double(totals[Normal].sent) / double(totals[Normal].cycles),
           delta(Normal));

    // Latency: a run of its own, sensor 1 new every cycle.
    {
        Engine e;
        MqttBridge bridge(settings, MqttAddressLevel(100), e.state.settingsIni);
        MqttFeed feed(bridge, settings);
        e.cycle.sensorDataRead.Listen([&] {
            ++marker;
            auto &t = e.cycle.temperatureRecord.values;
            for (auto &w : t)
                w = quint16(marker);
            readEndNs[quint16(marker)] = realtimeNs();
        });
        QString error;
        bridge.Start(error);
        feed.Follow(e.state, e.cycle, nullptr);
        QElapsedTimer t;
        t.start();
        while ((!e.state.linkUp || bridge.state() != MqttBridge::State::Connected) && t.elapsed() < 10000)
            RunEvents(10);
        RunEvents(1000);
        drainSub();
        latencyMs.clear();
        for (int ms = 0; ms < seconds * 1000; ms += 100) {
            RunEvents(100);
            drainSub();
        }
        RunEvents(500);
        drainSub();
    }
    std::sort(latencyMs.begin(), latencyMs.end());
    if (!latencyMs.empty()) {
        const auto at = [&](double q) {
            return latencyMs[std::min(latencyMs.size() - 1, size_t(q * double(latencyMs.size())))];
        };
        printf("## MQTT latency: end of a cycle's sensor reads to mosquitto_sub (loopback broker, "
               "QoS %d)\n\n| messages | median ms | p99 ms | max ms |\n|---|---|---|---|\n"
               "| %zu | **%.2f** | **%.2f** | %.2f |\n\n",
               settings.qos, latencyMs.size(), at(0.5), at(0.99), latencyMs.back());
    }
    sub.terminate();
    sub.waitForFinished(3000);
    QDir::setCurrent(previous);
    return 0;
}
