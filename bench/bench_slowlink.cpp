// The poll engine on the sensor-data page through a serial device server behind a slow
// network (DelayingRelay: every answer held back 300-800 ms after the one before it), against
// qor7070-sim --named-values with 36 sensors: how many whole sensor-data reads come through,
// how many values are not their register's, and what the link counted.
//   bench_slowlink [seconds per transport (60)] [receive ms (400)] [seed (7)]
#include "ControllerFolder.h"
#include "DelayingRelay.h"
#include "RunningEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

namespace {

int check(const ModbusReadRecord &r, quint16 start, int count)
{
    int wrong = 0;
    for (int i = 0; i < count; ++i)
        wrong += r.values[size_t(i)] != quint16(start + i);
    return wrong;
}

void run(SimProcess::Transport transport, const char *name, int seconds, int receive,
         quint32 seed)
{
    WorkingFolder folder;
    SimProcess sim(transport);
    if (!StartShippedSim(sim, {"--named-values", "--sensors", "36"})) {
        std::printf("%s: simulator did not start: %s\n", name, qPrintable(sim.errorText()));
        return;
    }
    DelayingRelay relay(sim.portSetting().section(u':', -1).toUShort(), seed, 300, 800);
    if (!relay.listen() ||
        !CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}))
        return;
    MemIniFile start(QStringLiteral("start.ini"));
    start.writeString("connect", "port",
                      sim.portSetting().section(u':', 0, 0) +
                          QStringLiteral("://127.0.0.1:%1").arg(relay.port()));
    start.writeInteger("connect", "receive", receive);
    start.updateFile();

    RunningEngine e(true);
    int reads = 0, misplaced = 0, badReads = 0;
    e.cycle.sensorDataRead = [&] {
        const DeviceRegisterMap &m = e.state.registerMap;
        ++reads;
        const int wrong = check(e.cycle.relayStateRecord, m.RELAY_STATUS_ADDR, 1) +
                          check(e.cycle.statusRecord, m.QOR_STATUS_ADDR, m.MAX_SENSORS) +
                          check(e.cycle.temperatureRecord, m.QOR_TEMPERATURE_ADDR, m.MAX_SENSORS) +
                          check(e.cycle.timeElapsedRecord, m.QOR_TIMEELAPSED_ADDR, m.MAX_SENSORS);
        misplaced += wrong;
        badReads += wrong > 0;
    };
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < seconds * 1000LL)
        QTest::qWait(100);
    const LinkStatistics &st = e.state.modbus.statistics();
    const RoundTrip &rt = e.state.link.roundTrip();
    std::printf("%-6s receive %d ms, %d s: %d sensor-data reads (%.1f s apart), %d with "
                "misplaced values, %d misplaced values; %llu requests, %llu good answers, "
                "%llu time-outs, %llu link losses; SRTT %.0f ms, RTTVAR %.0f ms, wait %d ms\n",
                name, receive, seconds, reads, reads ? double(seconds) / reads : 0.0, badReads,
                misplaced, st.requests, st.goodAnswers, st.timeouts, st.linkLosses, rt.Srtt(),
                rt.Rttvar(), e.state.link.AnswerWaitMs(receive));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    const int seconds = a.size() > 1 ? a[1].toInt() : 60;
    const int receive = a.size() > 2 ? a[2].toInt() : 400;
    const quint32 seed = a.size() > 3 ? a[3].toUInt() : 7;
    run(SimProcess::Transport::TcpRtu, "tcp", seconds, receive, seed);
    run(SimProcess::Transport::TcpMbap, "mbtcp", seconds, receive, seed + 1);
    return 0;
}
