// The poll engine through a serial device server on a slow network: every answer comes
// 300–800 ms late, often after the attempt it answers has been given up and retried.
// qor7070-sim --named-values behind it: every register holds its own address, so an answer
// taken for a request it does not answer shows as a value under the wrong register.
#include "ControllerFolder.h"
#include "DelayingRelay.h"
#include "MainState.h"
#include "RunningEngine.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

constexpr int kReads = 4; // whole sensor-data reads a run waits for

struct Tally {
    int reads = 0;     // sensor-data reads made whole (status, temperature, seconds)
    int misplaced = 0; // values that do not name their register
    QString first;     // the first of them
};

void check(const ModbusReadRecord &r, quint16 start, int count, Tally &t)
{
    for (int i = 0; i < count; ++i)
        if (r.values[size_t(i)] != quint16(start + i)) {
            if (t.first.isEmpty())
                t.first = QStringLiteral("register 0x%1 read as 0x%2")
                              .arg(start + i, 0, 16)
                              .arg(r.values[size_t(i)], 0, 16);
            ++t.misplaced;
        }
}

} // namespace

class TestSlowLink : public ControllerFolderTest {
    Q_OBJECT

private slots:
    // The answers keep their order (a TCP stream), each held back 300–800 ms after the one
    // before it has gone; with receive at 400 ms most of them come after their attempt gave
    // up, and a retry's own answer comes later still. RTU frames carry nothing that tells
    // whose answer a frame is; Modbus TCP has the transaction id. Seeded: the same delays
    // each run.
    void lateAnswersThroughASlowDeviceServer_data()
    {
        QTest::addColumn<SimProcess::Transport>("transport");
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("stallEvery"); // answers; 0: no stalls
        QTest::newRow("tcp") << SimProcess::Transport::TcpRtu << 7u << 0;
        QTest::newRow("mbtcp") << SimProcess::Transport::TcpMbap << 8u << 0;
        // Every 7th answer held 2.5 s more: longer than any wait learnt from the others, so
        // attempts still time out and retries' answers must be let pass.
        QTest::newRow("tcp, stalls") << SimProcess::Transport::TcpRtu << 9u << 7;
    }
    void lateAnswersThroughASlowDeviceServer()
    {
        QFETCH(SimProcess::Transport, transport);
        QFETCH(quint32, seed);
        QFETCH(int, stallEvery);
        sim.setTransport(transport);
        QVERIFY2(StartShippedSim(sim, {"--named-values", "--sensors", "36"}),
                 qPrintable(sim.errorText()));
        const quint16 simPort = sim.portSetting().section(u':', -1).toUShort();
        DelayingRelay relay(simPort, seed, 300, 800);
        relay.stallEvery(stallEvery, 2500);
        QVERIFY(relay.listen());

        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        MemIniFile start(QStringLiteral("start.ini"));
        start.writeString("connect", "port",
                          sim.portSetting().section(u':', 0, 0) +
                              QStringLiteral("://127.0.0.1:%1").arg(relay.port()));
        // Tuned for a serial line, below the network's round trip.
        start.writeInteger("connect", "receive", 400);
        QVERIFY(start.updateFile());

        RunningEngine e(true);
        Tally t;
        e.cycle.sensorDataRead = [&] {
            const DeviceRegisterMap &m = e.state.registerMap;
            ++t.reads;
            check(e.cycle.relayStateRecord, m.RELAY_STATUS_ADDR, 1, t);
            check(e.cycle.statusRecord, m.QOR_STATUS_ADDR, m.MAX_SENSORS, t);
            check(e.cycle.temperatureRecord, m.QOR_TEMPERATURE_ADDR, m.MAX_SENSORS, t);
            check(e.cycle.timeElapsedRecord, m.QOR_TIMEELAPSED_ADDR, m.MAX_SENSORS, t);
        };
        // Until enough whole reads have been checked, or a generous deadline.
        QElapsedTimer run;
        run.start();
        while (t.reads < kReads && run.elapsed() < 40000)
            QTest::qWait(50);
        const LinkStatistics &st = e.state.modbus.statistics();
        qInfo("%d sensor-data reads, %d answers passed on, %llu requests, %llu good answers, "
              "%llu time-outs, %llu link losses, %d misplaced values%s%s",
              t.reads, relay.answers(), st.requests, st.goodAnswers, st.timeouts,
              st.linkLosses, t.misplaced, t.first.isEmpty() ? "" : ", first: ",
              qPrintable(t.first));
        QCOMPARE(t.misplaced, 0);
        // Readings keep coming: two requests in three are answered in their time.
        QCOMPARE(t.reads, kReads);
        QVERIFY2(st.goodAnswers * 3 >= st.requests * 2,
                 qPrintable(QString::number(st.goodAnswers)));
    }
};

QTEST_GUILESS_MAIN(TestSlowLink)
#include "tst_slowlink.moc"
