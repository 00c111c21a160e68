// Modbus master throughput and latency against qor7070-sim on a pty, and over loopback Modbus
// TCP: ours (ModbusMaster over SerialLink) and libmodbus, alternating on the same simulator
// in one run.
#include "ProcessCpu.h"
#include "SimProcess.h"
#include "LibmodbusMaster.h"
#include "LinkReporter.h"
#include "MemIniFile.h"
#include "ModbusMaster.h"
#include "SerialLink.h"
#include "Wire.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSlave = 100;
constexpr int kTemperatures = 0x0100; // QOR_TEMPERATURE_ADDR of the shipped map
constexpr int kRegisters = 36;

struct QuietReporter : LinkReporter {
    QString down;
    void SetLinkDown(const QString &text) override { down = text; }
    void ShowAttemptNumber(int) override {}
};

int speedIndex(int baud)
{
    const int bauds[] = {9600, 19200, 38400, 57600, 115200};
    return int(std::find(std::begin(bauds), std::end(bauds), baud) - std::begin(bauds));
}

// Our master with the shipped [connect] settings, port and speed set in memory only.
struct Ours {
    MemIniFile settings{QStringLiteral(VELMARIS_SOURCE_DIR "/data/start.ini")};
    QuietReporter reporter;
    SerialLink link{settings, reporter};
    ModbusMaster master{link, settings, reporter};
    ModbusReadRecord record;
    Ours(const QString &pty, int baud)
    {
        settings.writeString("connect", "port", pty);
        settings.writeInteger("connect", "speed", speedIndex(baud));
        settings.writeInteger("connect", "parity", 0);
        settings.writeInteger("connect", "stopbits", 0);
        settings.writeInteger("connect", "sleep", 0);
    }
    bool open() { return link.ConnectPort(settings.readString("connect", "port", {})); }
    bool read() { return master.ReadRegisters(record, kTemperatures, kRegisters); }
};


struct Count {
    qint64 ok = 0, failed = 0, ns = 0;
    double cpu = 0; // seconds of this process's CPU (user + system)
    double cpuPerTx() const { return ok > 0 ? cpu * 1e6 / double(ok) : 0; }
    double rate() const { return ns > 0 ? ok * 1e9 / double(ns) : 0; }
};

// Reads as fast as the master goes for ms milliseconds.
template <class Read> void runFor(int ms, Count &c, Read read)
{
    QElapsedTimer t;
    t.start();
    const qint64 end = qint64(ms) * 1000000;
    qint64 now = 0;
    while ((now = t.nsecsElapsed()) < end)
        (read() ? c.ok : c.failed)++;
    c.ns += t.nsecsElapsed();
}

template <class Read> void runForWithCpu(int ms, Count &c, Read read)
{
    const double cpu0 = ProcessCpuSeconds();
    runFor(ms, c, read);
    c.cpu += ProcessCpuSeconds() - cpu0;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double mean(const std::vector<double> &v)
{
    double s = 0;
    for (double x : v)
        s += x;
    return v.empty() ? 0 : s / double(v.size());
}

// Unpaced reads on a pty, or over Modbus TCP on loopback (libmodbus's TCP client there).
bool unpacedRate(int rounds, int ms, const QString &only,
                 SimProcess::Transport transport = SimProcess::Transport::Pty)
{
    const bool tcp = transport == SimProcess::Transport::TcpMbap;
    SimProcess sim(transport);
    if (!sim.start({"--sensors", "36"}, 10000, SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return false;
    }
    const QUrl server(sim.portSetting());
    if (tcp)
        printf("## Modbus TCP: 36-register reads per second (loopback, %s)\n\n",
               qPrintable(sim.portSetting()));
    else
        printf("## Unpaced: 36-register reads per second (pty, no pacing)\n\n");
    Count oursAll, theirsAll;
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        Count ours, theirs;
        auto runOurs = [&] {
            Ours o(sim.portSetting(), 9600);
            if (!o.open()) {
                fprintf(stderr, "ours: open failed: %s\n", qPrintable(o.reporter.down));
                return;
            }
            runForWithCpu(ms, ours, [&] { return o.read(); });
        };
        auto runTheirs = [&] {
            LibmodbusMaster m = tcp ? LibmodbusMaster({server.host(), server.port()}, kSlave)
                                    : LibmodbusMaster(sim.ptyPath(), 9600, kSlave);
            if (!m.ok()) {
                fprintf(stderr, "libmodbus: connect failed: %s\n", qPrintable(m.error()));
                return;
            }
            uint16_t v[kRegisters];
            runForWithCpu(ms, theirs, [&] { return m.read(kTemperatures, kRegisters, v); });
        };
        // Short rounds, alternating who goes first, so a slow patch of the machine hits both.
        if (!only.isEmpty()) { // one master alone, for a profiler
            only == QLatin1String("ours") ? runOurs() : runTheirs();
        } else if (r % 2 == 0) {
            runOurs();
            runTheirs();
        } else {
            runTheirs();
            runOurs();
        }
        if (theirs.rate() > 0)
            ratios.push_back(ours.rate() / theirs.rate());
        oursAll.ok += ours.ok, oursAll.failed += ours.failed, oursAll.ns += ours.ns;
        theirsAll.ok += theirs.ok, theirsAll.failed += theirs.failed, theirsAll.ns += theirs.ns;
        oursAll.cpu += ours.cpu, theirsAll.cpu += theirs.cpu;
    }
    std::sort(ratios.begin(), ratios.end());
    printf("| ours tx/s | libmodbus tx/s | ours / libmodbus (pooled) | per-round ratio: min "
           "| median | max | rounds x ms each |\n|---|---|---|---|---|---|---|\n");
    printf("| %.0f | %.0f | **%.2f** | %.2f | %.2f | %.2f | %d x %d |\n\n", oursAll.rate(),
           theirsAll.rate(), theirsAll.rate() > 0 ? oursAll.rate() / theirsAll.rate() : 0,
           ratios.empty() ? 0 : ratios.front(), ratios.empty() ? 0 : median(ratios),
           ratios.empty() ? 0 : ratios.back(), rounds, ms);
    printf("Transactions: ours %lld ok, %lld failed; libmodbus %lld ok, %lld failed.\n\n",
           oursAll.ok, oursAll.failed, theirsAll.ok, theirsAll.failed);
    // The rate is bound by the wake-ups of both processes on a shared machine; the CPU this
    // process spends per transaction is what our own code costs.
    printf("CPU of this process per transaction: ours %.1f us, libmodbus %.1f us, **%.2f**.\n\n",
           oursAll.cpuPerTx(), theirsAll.cpuPerTx(),
           theirsAll.cpuPerTx() > 0 ? oursAll.cpuPerTx() / theirsAll.cpuPerTx() : 0);
    return true;
}

bool pacedRead(int baud, int rounds, int reads, const QString &only = {})
{
    SimProcess sim;
    if (!sim.start({"--sensors", "36", "--pace", "--baud", QString::number(baud)}, 10000, SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return false;
    }
    std::vector<double> ours, theirs; // ms per read
    int failed = 0;
    QElapsedTimer t;
    for (int r = 0; r < rounds; ++r) {
        if (only != QLatin1String("libmodbus")) {
            Ours o(sim.ptyPath(), baud);
            if (!o.open())
                return false;
            for (int i = 0; i < reads; ++i) {
                t.start();
                const bool ok = o.read();
                const double ms = double(t.nsecsElapsed()) / 1e6;
                ok ? ours.push_back(ms) : void(++failed);
            }
        }
        if (only != QLatin1String("ours")) {
            LibmodbusMaster m(sim.ptyPath(), baud, kSlave);
            if (!m.ok())
                return false;
            uint16_t v[kRegisters];
            for (int i = 0; i < reads; ++i) {
                t.start();
                const bool ok = m.read(kTemperatures, kRegisters, v);
                const double ms = double(t.nsecsElapsed()) / 1e6;
                ok ? theirs.push_back(ms) : void(++failed);
            }
        }
    }
    const double wire = WireMs(ReadWireChars(kRegisters), baud);
    printf("| %d | %.3f | %.3f | %.3f | **%.3f** | %.3f | %.3f | %.3f | %d |\n", baud, wire,
           median(ours), mean(ours), median(ours) / wire, median(theirs), median(theirs) / wire,
           median(ours) / median(theirs), failed);
    return true;
}

// What the frame log costs the link: unpaced reads with recording on and off, alternating
// rounds on the same simulator; CPU time of this process per transaction; and the
// recording alone in a loop.
bool frameLogCost(int rounds, int ms)
{
    SimProcess sim;
    if (!sim.start({"--sensors", "36"}, 10000, SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return false;
    }
    printf("## Frame log: cost of recording (unpaced 36-register reads)\n\n");
    struct Side {
        Count count;
        double cpu = 0;
        double perTx() const { return count.ok ? cpu * 1e6 / double(count.ok) : 0; }
    } on, off;
    // Pairs of short rounds, in turn which goes first; the machine is shared, so each pair
    // gives a ratio and the median of those is the figure.
    std::vector<double> cpuRatios, rateRatios;
    for (int r = 0; r < rounds; ++r) {
        Side pair[2]; // [0] on, [1] off
        for (int k = 0; k < 2; ++k) {
            const bool logging = (k == 0) == (r % 2 == 0);
            Ours o(sim.ptyPath(), 9600);
            o.master.frameLog().setEnabled(logging);
            if (!o.open())
                return false;
            Side &side = pair[logging ? 0 : 1];
            const double cpu0 = ProcessCpuSeconds();
            runFor(ms, side.count, [&] { return o.read(); });
            side.cpu += ProcessCpuSeconds() - cpu0;
        }
        if (pair[1].perTx() > 0 && pair[1].count.rate() > 0) {
            cpuRatios.push_back(pair[0].perTx() / pair[1].perTx());
            rateRatios.push_back(pair[0].count.rate() / pair[1].count.rate());
        }
        for (int k = 0; k < 2; ++k) {
            Side &all = k == 0 ? on : off;
            all.count.ok += pair[k].count.ok, all.count.failed += pair[k].count.failed;
            all.count.ns += pair[k].count.ns, all.cpu += pair[k].cpu;
        }
    }
    printf("| log | tx/s | CPU us per transaction | transactions |\n|---|---|---|---|\n");
    printf("| on | %.0f | %.2f | %lld |\n", on.count.rate(), on.perTx(), on.count.ok);
    printf("| off | %.0f | %.2f | %lld |\n\n", off.count.rate(), off.perTx(), off.count.ok);
    printf("On / off, median of %d pairs of %d ms rounds: throughput **%.3f**, CPU per "
           "transaction **%.3f** (pooled: %.3f, %.3f).\n\n",
           rounds, ms, median(rateRatios), median(cpuRatios),
           off.count.rate() > 0 ? on.count.rate() / off.count.rate() : 0,
           off.perTx() > 0 ? on.perTx() / off.perTx() : 0);

    // The recording alone, as the master does it for each attempt: two time stamps, the
    // answer read into a 1024-byte buffer copied at its size, both frames into a full ring.
    FrameLog log;
    const QByteArray request = ModbusFrame::readRequest(kSlave, kTemperatures, kRegisters);
    const QByteArray bytes(5 + 2 * kRegisters, '\x11');
    const int n = 1000000;
    QElapsedTimer t;
    qint64 withRead = 0, recordOnly = 0;
    for (int pass = 0; pass < 2; ++pass) {
        t.start();
        for (int i = 0; i < n; ++i) {
            QByteArray answer;
            answer.reserve(1024);
            answer.append(bytes);
            if (pass == 0) {
                const qint64 tx = QDateTime::currentMSecsSinceEpoch();
                log.RecordAttempt({tx, request, true, QDateTime::currentMSecsSinceEpoch(),
                                   QByteArray(answer.constData(), answer.size()),
                                   AttemptOutcome::Good, 0, 1, 1});
            }
        }
        (pass == 0 ? withRead : recordOnly) = t.nsecsElapsed();
    }
    printf("Recording one attempt (time stamps, copying the answer, two frames into a full "
           "ring of %d): **%.0f ns** (mean of %d; the read buffer alone, %.0f ns, taken off).\n\n",
           log.capacity(), double(withRead - recordOnly) / n, n, double(recordOnly) / n);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains("--quick");
    const qsizetype onlyAt = args.indexOf("--only"); // --only ours|libmodbus: unpaced rate only
    const QString only = onlyAt >= 0 && onlyAt + 1 < args.size() ? args[onlyAt + 1] : QString();
    printf("# Link benchmark\n\n");
    if (args.contains("--framelog")) // the frame log's cost only
        return frameLogCost(quick ? 6 : 40, quick ? 200 : 250) ? 0 : 1;
    const qsizetype pacedAt = args.indexOf("--paced"); // --paced BAUD READS: that paced part only
    if (pacedAt >= 0 && pacedAt + 2 < args.size()) {
        printf("| baud | wire ms | ours median ms | ours mean ms | ours / wire | libmodbus median "
               "ms | libmodbus / wire | ours / libmodbus | failed |\n|---|---|---|---|---|---|---|---|---|\n");
        return pacedRead(args[pacedAt + 1].toInt(), 1, args[pacedAt + 2].toInt(), only) ? 0 : 1;
    }
    const bool tcpOnly = args.contains("--tcp"); // the Modbus TCP rate only
    const bool ptyOnly = args.contains("--pty"); // the unpaced pty rate only
    if (!tcpOnly && !unpacedRate(quick ? 6 : 30, quick ? 300 : 500, only))
        return 1;
    if (ptyOnly)
        return 0;
    if (!unpacedRate(quick ? 6 : 30, quick ? 300 : 500, only, SimProcess::Transport::TcpMbap))
        return 1;
    if (tcpOnly)
        return 0;
    if (!only.isEmpty())
        return 0;
    printf("## Paced: one 36-register read against its wire time\n\n");
    printf("Wire time = (8 + 3.5 + 77) characters x 11 bits / baud.\n\n");
    printf("| baud | wire ms | ours median ms | ours mean ms | ours / wire | libmodbus median ms "
           "| libmodbus / wire | ours / libmodbus | failed |\n|---|---|---|---|---|---|---|---|---|\n");
    for (int baud : {9600, 19200, 115200})
        if (!pacedRead(baud, quick ? 1 : 3, baud == 115200 ? 60 : 15))
            return 1;
    printf("\n");
    return frameLogCost(quick ? 6 : 40, quick ? 200 : 250) ? 0 : 1;
}
