// The history store's costs: per poll cycle next to the engine's own CPU at 115200 baud,
// the size of a year of 36 sensors, the chart's week query, and a retention pass on a big
// file with its longest single step.
//
//   bench_history [--quick] [--engine SECONDS] [--mb SIZE]
//
// --engine: seconds per round of the engine at 115200 (three rounds of each kind, default
// 10); --mb: size of the file the retention pass works on (default 1024).
#include "BenchFolder.h"
#include "HistoryStore.h"
#include "MainState.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "ReadingBlock.h"
#include "RecorderView.h"
#include "RunEvents.h"
#include "ProcessCpu.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSensors = 36;
constexpr int kRelays = 8;
constexpr qint64 kKeepMs = 60000; // a sensor's reading is kept at least once a minute
constexpr qint64 kT0 = 1767225600000;


// CPU time of the calling thread.
qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// CPU time of this process's thread of that name (schedstat: ns on a CPU), 0 when none.
qint64 namedThreadCpuNs(const QByteArray &name)
{
    for (const QString &tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
        if (stat.open(QIODevice::ReadOnly))
            return stat.readAll().split(' ').value(0).toLongLong();
    }
    return 0;
}

HistoryController Controller()
{
    return {0x7070, 100, QStringLiteral("/dev/ttyUSB0"), QStringLiteral("1.2")};
}

// What a recorder keeps of a cycle: a sensor whose status or temperature changed, or
// whose last kept reading is a minute old; relays likewise.
struct Keeper {
    std::vector<SensorReading> last{size_t(kSensors)};
    std::vector<qint64> keptMs = std::vector<qint64>(size_t(kSensors), -kKeepMs);
    std::vector<int> relayLast = std::vector<int>(size_t(kRelays), -1);
    std::vector<qint64> relayKeptMs = std::vector<qint64>(size_t(kRelays), -kKeepMs);
    bool everything = false; // every sensor every cycle: the upper bound

    HistoryBatch batch(qint64 t, const quint16 *status, const quint16 *temp, const quint16 *secs,
                       const bool *relays)
    {
        HistoryBatch b;
        b.controller = Controller();
        b.timeMs = t;
        for (int i = 0; i < kSensors; ++i) {
            const SensorReading r{i + 1, status[i], temp[i], secs[i]};
            SensorReading &prev = last[size_t(i)];
            if (everything || r.status != prev.status || r.temperature != prev.temperature ||
                t - keptMs[size_t(i)] >= kKeepMs) {
                if (r.status != prev.status) {
                    HistoryEvent e;
                    e.kind = EventKind::SensorStatus;
                    e.subject = i + 1;
                    e.code = r.status;
                    e.previous = prev.status;
                    e.alarm = r.status == 1 || r.status == 2 || r.status == 10 || r.status == 20;
                    b.events.push_back(e);
                }
                b.sensors.push_back(r);
                prev = r;
                keptMs[size_t(i)] = t;
            }
        }
        for (int i = 0; i < kRelays; ++i) {
            if (everything || int(relays[i]) != relayLast[size_t(i)] ||
                t - relayKeptMs[size_t(i)] >= kKeepMs) {
                if (relayLast[size_t(i)] >= 0 && int(relays[i]) != relayLast[size_t(i)]) {
                    HistoryEvent e;
                    e.kind = EventKind::RelaySwitched;
                    e.subject = i + 1;
                    e.code = relays[i];
                    b.events.push_back(e);
                }
                b.relays.push_back({i + 1, relays[i]});
                relayLast[size_t(i)] = relays[i];
                relayKeptMs[size_t(i)] = t;
            }
        }
        return b;
    }
};

// A plant over simulated time, a cycle a second: sensors transmit every 16 s (their
// seconds count up and start again); 4 sensors change by a degree every 5 s on average
// (a door, an oven), 12 every 2 minutes, 20 every 15 minutes; now and then one crosses a
// threshold for a while; 8 relays switch a few times an hour.
struct Plant {
    quint16 status[kSensors]{};
    quint16 temp[kSensors];
    quint16 secs[kSensors]{};
    bool relays[kRelays]{};
    QRandomGenerator rng{2026};
    Plant()
    {
        for (int i = 0; i < kSensors; ++i) {
            temp[i] = quint16(20 + i % 7);
            secs[i] = quint16(i % 16);
        }
    }
    void step()
    {
        for (int i = 0; i < kSensors; ++i) {
            secs[i] = quint16((secs[i] + 1) % 16);
            const int everyS = i < 4 ? 5 : i < 16 ? 120 : 900;
            if (rng.bounded(everyS) == 0)
                temp[i] = quint16(temp[i] + (rng.bounded(2) ? 1 : -1));
            if (rng.bounded(6 * 3600) == 0)
                status[i] = status[i] ? 0 : quint16(1 + rng.bounded(2));
        }
        for (int r = 0; r < kRelays; ++r)
            if (rng.bounded(1200) == 0)
                relays[r] = !relays[r];
    }
};

qint64 fileBytes(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("size"));
    db.setDatabaseName(path);
    qint64 bytes = -1;
    if (db.open()) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("PRAGMA page_count")) && q.next())
            bytes = q.value(0).toLongLong();
        if (q.exec(QStringLiteral("PRAGMA page_size")) && q.next())
            bytes *= q.value(0).toLongLong();
    }
    db.close();
    db = {};
    QSqlDatabase::removeDatabase(QStringLiteral("size"));
    return bytes;
}

// ---------------------------------------------------------------- per cycle, alone

void perCycle(bool quick)
{
    printf("## Store cost per cycle (36 sensors, 8 relays)\n\n");
    printf("| batch | cycles | build + Submit on the caller's thread, mean µs | max µs | writer per transaction of one batch, mean µs | longest µs | writer thread CPU per batch µs |\n");
    printf("|---|---|---|---|---|---|---|\n");
    for (bool everything : {false, true}) {
        QTemporaryDir dir;
        HistoryStore store(dir.path());
        store.Open();
        Plant plant;
        Keeper keeper;
        keeper.everything = everything;
        const int cycles = quick ? 500 : 3000;
        store.Flush();
        const qint64 writer0 = namedThreadCpuNs("history-writer");
        qint64 callerNs = 0, callerMax = 0;
        for (int c = 0; c < cycles; ++c) {
            plant.step();
            QElapsedTimer t;
            t.start();
            store.Submit(keeper.batch(kT0 + c * 1000LL, plant.status, plant.temp, plant.secs, plant.relays));
            const qint64 ns = t.nsecsElapsed();
            callerNs += ns;
            callerMax = std::max(callerMax, ns);
            store.Flush(); // one batch a transaction, as at a cycle a second
        }
        const HistoryStore::Stats s = store.stats();
        const double writerCpuUs = double(namedThreadCpuNs("history-writer") - writer0) / 1e3 / cycles;
        printf("| %s | %d | %.1f | %.1f | %.1f | %.1f | %.1f |\n",
               everything ? "all 36 sensors every cycle" : "kept readings only (change or 60 s)", cycles,
               double(callerNs) / cycles / 1e3, double(callerMax) / 1e3,
               double(s.writeNs) / double(std::max<qint64>(1, s.transactions)) / 1e3,
               double(s.longestWriteNs) / 1e3, writerCpuUs);
    }
    printf("\n");
}

// ---------------------------------------------------------------- with the engine

struct Engine {
    RecorderView view;
    QObject context;
    MainState state{view};
    PollCycle cycle{state};
    QorThread thread{state, cycle, &context};
    int cycles = 0;
    std::function<void()> onCycle;
    Engine()
    {
        view.keepHistory = false;
        view.onCycleTime = [this](const QString &) {
            ++cycles;
            if (onCycle)
                onCycle();
        };
        state.pollSensorData = true;
        thread.start();
    }
    ~Engine() { thread.StopAndWait(); }
};

// CPU per cycle of the engine at 115200 baud, alone and feeding a store, in alternating
// rounds (the machine is shared).
bool withEngine(int seconds)
{
    SimProcess sim;
    if (!sim.start({"--sensors", "36", "--pace", "--baud", "115200", "--named-values"}, 10000,
                   SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return false;
    }
    QTemporaryDir dir;
    if (!prepareFolder(dir, sim.ptyPath(), 4))
        return false;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    printf("## Engine at 115200 baud (36 sensors, sensor-data page), CPU per cycle\n\n");
    printf("| round | mode | wall s | cycles | CPU ms per cycle |\n|---|---|---|---|---|\n");
    double sum[3] = {}, n[3] = {}, writerMs[3] = {}, submitMs[3] = {};
    for (int round = 0; round < 3; ++round) {
        for (int mode = 0; mode < 3; ++mode) {
            QTemporaryDir storeDir;
            HistoryStore store(storeDir.path());
            store.Open();
            Keeper keeper;
            keeper.everything = mode == 2;
            Engine e;
            qint64 submitNs = 0;
            if (mode > 0)
                e.onCycle = [&] {
                    const qint64 submit0 = threadCpuNs();
                    bool relays[kRelays];
                    for (int r = 0; r < kRelays; ++r)
                        relays[r] = e.cycle.relayStateRecord.values[0] & (1 << r);
                    store.Submit(keeper.batch(QDateTime::currentMSecsSinceEpoch(),
                                              e.cycle.statusRecord.values.data(),
                                              e.cycle.temperatureRecord.values.data(),
                                              e.cycle.timeElapsedRecord.values.data(), relays));
                    submitNs += threadCpuNs() - submit0;
                };
            QElapsedTimer t;
            t.start();
            while (!e.state.linkUp && t.elapsed() < 10000)
                RunEvents(10);
            RunEvents(500);
            const double cpu0 = ProcessCpuSeconds();
            const qint64 writer0 = namedThreadCpuNs("history-writer");
            submitNs = 0;
            const int cycles0 = e.cycles;
            t.restart();
            RunEvents(seconds * 1000);
            store.Flush();
            const double cpu = ProcessCpuSeconds() - cpu0, wall = double(t.nsecsElapsed()) / 1e9;
            const int cycles = e.cycles - cycles0;
            writerMs[mode] += double(namedThreadCpuNs("history-writer") - writer0) / 1e6;
            submitMs[mode] += double(submitNs) / 1e6;
            static const char *names[] = {"engine alone", "engine + store, kept readings",
                                          "engine + store, all 36 every cycle"};
            printf("| %d | %s | %.1f | %d | %.3f |\n", round + 1, names[mode], wall, cycles,
                   1e3 * cpu / std::max(1, cycles));
            sum[mode] += 1e3 * cpu;
            n[mode] += cycles;
        }
    }
    QDir::setCurrent(previous);
    const double alone = sum[0] / n[0];
    printf("\nPooled: engine alone %.3f ms CPU per cycle; with the store (kept readings) %.3f ms "
           "(%+.1f %%); all 36 every cycle %.3f ms (%+.1f %%): within the noise of this shared "
           "machine. The store's own CPU inside the same runs, per cycle: building and submitting "
           "the batch on the GUI thread %.1f µs / %.1f µs, the writer thread %.1f µs / %.1f µs, "
           "together **%.2f %% / %.2f %%** of the engine's own CPU per cycle.\n\n",
           alone, sum[1] / n[1], 100 * (sum[1] / n[1] - alone) / alone, sum[2] / n[2],
           100 * (sum[2] / n[2] - alone) / alone, 1e3 * submitMs[1] / n[1],
           1e3 * submitMs[2] / n[2], 1e3 * writerMs[1] / n[1], 1e3 * writerMs[2] / n[2],
           100 * (submitMs[1] + writerMs[1]) / n[1] / alone,
           100 * (submitMs[2] + writerMs[2]) / n[2] / alone);
    return true;
}

// ---------------------------------------------------------------- a week, a year

void yearSize(bool quick)
{
    QTemporaryDir dir;
    const int days = quick ? 1 : 7;
    qint64 batches = 0, readings = 0, events = 0;
    QElapsedTimer t;
    t.start();
    {
        HistoryLimits none;
        none.maxBytes = 0;
        none.retentionDays = 0;
        HistoryStore store(dir.path(), none);
        store.Open();
        Plant plant;
        Keeper keeper;
        for (qint64 s = 0; s < days * 86400LL; ++s) {
            plant.step();
            HistoryBatch b = keeper.batch(kT0 + s * 1000, plant.status, plant.temp, plant.secs, plant.relays);
            if (b.sensors.empty() && b.relays.empty() && b.events.empty())
                continue;
            ++batches;
            readings += qint64(b.sensors.size() + b.relays.size());
            events += qint64(b.events.size());
            store.Submit(std::move(b));
            if (batches % 2000 == 0)
                store.Flush();
        }
        store.Flush();
        const qint64 weekBytes = fileBytes(store.path());
        if (qEnvironmentVariableIsSet("KEEP_YEAR_FILE"))
            QFile::copy(store.path(), qEnvironmentVariable("KEEP_YEAR_FILE"));
        printf("## Size of a year (36 sensors, 8 relays, a cycle a second)\n\n");
        printf("Simulated %d days: %lld batches with something kept, %lld readings, %lld events, "
               "written in %.1f s. File: %.2f MB (page_count × page_size, WAL checkpointed).\n",
               days, batches, readings, events, double(t.elapsed()) / 1e3,
               double(weekBytes) / 1e6);
        printf("A year (× 365/%d, linear: the file is blocks appended in time; its indexes grow "
               "with the number of blocks): **%.0f MB**; %.2f bytes per kept reading.\n\n",
               days, double(weekBytes) * 365 / days / 1e6, double(weekBytes) / double(readings));

        // The chart's week query, on this file.
        printf("## Week query (36 sensors)\n\n| run | ms | series | points |\n|---|---|---|---|\n");
        const int id = store.ControllerId(Controller());
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer q;
            q.start();
            const auto series = store.SensorReadings(id, kT0, kT0 + days * 86400000LL);
            const double ms = double(q.nsecsElapsed()) / 1e6;
            size_t points = 0;
            for (const auto &s : series)
                points += s.timesMs.size();
            printf("| %d | %.1f | %zu | %zu |\n", run + 1, ms, series.size(), points);
        }
        printf("\n");
    }
}

// ---------------------------------------------------------------- retention on a big file

// A file of the given size made of real blocks (a day's worth repeated with shifted
// times), events among them; then a retention pass that must take half of it away.
bool retention(qint64 megabytes)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(HistoryStore::kFileName);
    {
        HistoryStore store(dir.path());
        store.Open(); // the schema
        HistoryBatch b;
        b.controller = Controller();
        b.timeMs = kT0;
        store.Submit(b);
    }
    // Real blocks of a day of the plant.
    std::vector<std::pair<qint64, QByteArray>> day; // start offset, data
    {
        Plant plant;
        Keeper keeper;
        ReadingBlockWriter w(0);
        for (qint64 s = 0; s < 86400; ++s) {
            plant.step();
            const HistoryBatch b = keeper.batch(s * 1000, plant.status, plant.temp, plant.secs, plant.relays);
            if (b.sensors.empty() && b.relays.empty())
                continue;
            if (!w.accepts(b.timeMs, b.sensors.size(), b.relays.size())) {
                day.push_back({w.startMs(), w.data()});
                w = ReadingBlockWriter(b.timeMs);
            }
            w.append(b.timeMs, b.sensors, b.relays);
        }
        day.push_back({w.startMs(), w.data()});
    }
    QElapsedTimer t;
    t.start();
    int days = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        if (!db.open())
            return false;
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
        QSqlQuery ins(db), ev(db);
        ins.prepare(QStringLiteral("INSERT INTO readings(controller, start_ms, end_ms, data) VALUES(1, ?, ?, ?)"));
        ev.prepare(QStringLiteral("INSERT INTO events(time_ms, controller, kind, subject, code, previous, text, alarm, acknowledged_ms) VALUES(?, 1, 1, ?, 0, 1, '', 0, 0)"));
        for (;; ++days) {
            if (days % 10 == 0) {
                q.exec(QStringLiteral("PRAGMA page_count"));
                q.next();
                const qint64 pages = q.value(0).toLongLong();
                q.finish();
                if (pages * 4096 >= megabytes * 1024 * 1024)
                    break;
            }
            db.transaction();
            const qint64 base = kT0 + days * 86400000LL;
            for (const auto &[start, data] : day) {
                ins.bindValue(0, base + start);
                ins.bindValue(1, base + start + kMaxBlockSpanMs - 1);
                ins.bindValue(2, data);
                ins.exec();
            }
            for (int i = 0; i < 300; ++i) {
                ev.bindValue(0, base + i * 288000);
                ev.bindValue(1, i % 36 + 1);
                ev.exec();
            }
            db.commit();
        }
        q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    ::sync(); // the file on disk, as a year of use leaves it: no gigabyte still to flush
    const qint64 bytes = fileBytes(path);
    printf("## Retention on a %.0f MB file\n\n", double(bytes) / 1048576.0);
    printf("Made in %.0f s: %d days of the plant (%zu blocks a day, 300 events a day).\n\n",
           double(t.elapsed()) / 1e3, days, day.size());

    HistoryLimits limits;
    limits.retentionDays = 0;
    limits.maxBytes = bytes / 2;
    QElapsedTimer open;
    open.start();
    HistoryStore store(dir.path(), limits);
    if (!store.Open())
        return false;
    const double openMs = double(open.nsecsElapsed()) / 1e6;
    store.Flush(); // waits for the check of every page, which runs on the writer
    printf("Open returns after %.0f ms; the check of every page (quick_check, on the writer "
           "thread) ends after %.0f ms.\n\n", openMs, double(open.nsecsElapsed()) / 1e6);
    store.RunRetention(kT0 + days * 86400000LL);
    store.Flush(); // a pass asked for is waited for
    const HistoryStore::Stats s = store.stats();
    printf("| limit MB | pass s | chunks | longest chunk ms | mean chunk ms | blocks deleted | pages given back | file after MB |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    printf("| %.0f | %.2f | %d | **%.1f** | %.1f | %lld | %lld | %.0f |\n\n",
           double(limits.maxBytes) / 1048576.0, double(s.retentionNs) / 1e9, s.retentionChunks,
           double(s.retentionLongestChunkNs) / 1e6,
           double(s.retentionNs) / 1e6 / std::max(1, s.retentionChunks), s.retentionBlocks,
           s.vacuumedPages, double(fileBytes(path)) / 1048576.0);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains("--quick");
    const qsizetype engineAt = args.indexOf("--engine");
    const int engineS = engineAt >= 0 && engineAt + 1 < args.size() ? args[engineAt + 1].toInt()
                                                                     : (quick ? 3 : 10);
    const qsizetype mbAt = args.indexOf("--mb");
    const qint64 mb = mbAt >= 0 && mbAt + 1 < args.size() ? args[mbAt + 1].toLongLong()
                                                          : (quick ? 64 : 1024);
    perCycle(quick);
    if (engineS > 0 && !withEngine(engineS))
        return 1;
    yearSize(quick);
    if (mb > 0 && !retention(mb))
        return 1;
    return 0;
}
