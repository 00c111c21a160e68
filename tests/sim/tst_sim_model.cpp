// The simulator's parts without a line: request framing, the controller model, faults.
#include "MemIniFile.h"
#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "SimController.h"
#include "SimFaults.h"
#include "SimRtu.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QByteArray withCrc(QByteArray frame)
{
    AppendModbusCrc(frame);
    return frame;
}

DeviceRegisterMap shippedMap(quint16 fw = 0x0102)
{
    const MemIniFile ini(QStringLiteral(VELMARIS_SOURCE_DIR "/data/Cfg/qor7070__fw_1_2.ini"));
    DeviceRegisterMap map;
    if (!ParseRegisterMap(ini, map, fw))
        qFatal("shipped map does not parse");
    return map;
}

} // namespace

class SimModelTest : public QObject {
    Q_OBJECT

private:
    SimController controller(int sensors = 12, bool twoId = false)
    {
        SimController c;
        SimController::Options o;
        o.registeredSensors = sensors;
        o.twoIdRegisters = twoId;
        QString error;
        if (!c.configure(shippedMap(), o, &error))
            qFatal("configure: %s", qPrintable(error));
        c.setFrozen(true);
        return c;
    }

private slots:
    void readerSplitsAndResynchronises_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("expected"); // "F:<hex>" frame, "I:<reason>:<hex>"
        const QByteArray read = ModbusFrame::readRequest(100, 0x400, 4);
        const quint16 words[] = {1, 2};
        const QByteArray write = ModbusFrame::writeMultipleRequest(100, 0x1000, 2, words);
        QByteArray bad = read;
        bad[7] = char(bad[7] ^ 1);
        const auto F = [](const QByteArray &b) { return QStringLiteral("F:") + b.toHex(); };
        const auto I = [](const char *why, const QByteArray &b) {
            return QStringLiteral("I:%1:").arg(why) + b.toHex();
        };
        QTest::newRow("two requests in one chunk") << QList<QByteArray>{read + write}
                                                   << QStringList{F(read), F(write)};
        QTest::newRow("request in single bytes")
            << [&] { QList<QByteArray> l; for (char c : write) l << QByteArray(1, c); return l; }()
            << QStringList{F(write)};
        QTest::newRow("bad crc then good") << QList<QByteArray>{bad + read}
                                           << QStringList{I("badcrc", bad), F(read)};
        QTest::newRow("noise before a request") << QList<QByteArray>{hex("ff00a5") + read}
                                                << QStringList{I("garbage", hex("ff00a5")), F(read)};
        QTest::newRow("truncated, silence") << QList<QByteArray>{read.left(5), {}}
                                            << QStringList{I("truncated", read.left(5))};
        QTest::newRow("unknown function, silence")
            << QList<QByteArray>{withCrc(hex("6441")), {}} << QStringList{F(withCrc(hex("6441")))};
        QTest::newRow("garbage, silence") << QList<QByteArray>{hex("6441aabb"), {}}
                                          << QStringList{I("garbage", hex("6441aabb"))};
    }
    void readerSplitsAndResynchronises()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, expected);
        RtuRequestReader reader;
        QStringList got;
        for (const QByteArray &chunk : chunks) {
            reader.feed(chunk);
            // An empty chunk stands for the line falling silent.
            for (const auto &e : reader.take(chunk.isEmpty()))
                got << (e.frame ? QStringLiteral("F:") : QStringLiteral("I:%1:").arg(e.reason)) +
                           e.bytes.toHex();
        }
        QCOMPARE(got, expected);
        QVERIFY(!reader.pending());
    }

    void answersAndExceptions()
    {
        SimController c = controller();
        // Identification, a whole live block, a read across a gap, a bad count.
        QCOMPARE(AnswerRequest(c, ModbusFrame::readRequest(100, 0x400, 4)).frame,
                 withCrc(hex("6403080c36010200000100")));
        QCOMPARE(AnswerRequest(c, ModbusFrame::readRequest(100, 0x100, 36)).frame.size(), 5 + 72);
        QCOMPARE(AnswerRequest(c, ModbusFrame::readRequest(100, 0x1000, 8)).exception, 2);
        QCOMPARE(AnswerRequest(c, ModbusFrame::readRequest(100, 0x100, 0)).exception, 2);
        QCOMPARE(AnswerRequest(c, ModbusFrame::readRequest(100, 0x100, 126)).exception, 2);
        QCOMPARE(AnswerRequest(c, withCrc(hex("640401000001"))).frame,
                 withCrc(hex("648401")));
        // Live data cannot be written; a write with a wrong byte count is refused.
        QCOMPARE(AnswerRequest(c, ModbusFrame::writeSingleRequest(100, 0x100, 5)).exception, 2);
        QCOMPARE(AnswerRequest(c, withCrc(hex("64101000000103000500"))).exception, 2);
        // Function 6 echoes, function 16 confirms start and count; both are read back.
        const QByteArray single = ModbusFrame::writeSingleRequest(100, 0x0212, 77);
        QCOMPARE(AnswerRequest(c, single).frame, single);
        const quint16 tag[8] = {0xCAE0, 0xEC00, 0, 0, 0, 0, 0, 0};
        QCOMPARE(AnswerRequest(c, ModbusFrame::writeMultipleRequest(100, 0x2008, 8, tag)).frame,
                 withCrc(hex("641020080008")));
        QList<quint16> back;
        QCOMPARE(c.read(0x0212, 1, back), 0);
        QCOMPARE(back, QList<quint16>{77});
        QCOMPARE(c.read(0x2008, 2, back), 0);
        QCOMPARE(back, (QList<quint16>{0xCAE0, 0xEC00}));
    }

    void twoIdentificationRegisters()
    {
        SimController c = controller(12, true);
        QList<quint16> v;
        QCOMPARE(c.read(0x400, 4, v), 2);
        QCOMPARE(c.read(0x400, 2, v), 0);
        QCOMPARE(v.first(), kQor7070DeviceCode);
    }

    void connectionBlockIsChecked()
    {
        SimController c = controller();
        bool touched = false;
        QCOMPARE(c.write(0x500, {5, 4, 2, 2, 126, 1}, &touched), 0);
        QVERIFY(touched);
        QCOMPARE(c.line().address, 5);
        QCOMPARE(c.line().baudIndex, 4);
        // Anything the controller cannot run with is refused whole.
        for (const QList<quint16> &bad : {QList<quint16>{0, 0, 0, 1, 1, 0}, {248, 0, 0, 1, 1, 0},
                                          {1, 5, 0, 1, 1, 0}, {1, 0, 3, 1, 1, 0}, {1, 0, 0, 0, 1, 0},
                                          {1, 0, 0, 1, 127, 0}, {1, 0, 0, 1, 1, 2}}) {
            QCOMPARE(c.write(0x500, bad), 3);
            QCOMPARE(c.line().address, 5);
        }
        // A write running from settings into an unmapped register stores nothing.
        QCOMPARE(c.write(0x1005, {9, 9, 9}), 2);
        QList<quint16> v;
        QCOMPARE(c.read(0x1005, 1, v), 0);
        QVERIFY(v.first() != 9);
    }

    void statusFollowsThresholdsWithHysteresis()
    {
        SimController c = controller();
        // Sensor 1: thresholds 30 and 40, hysteresis 2 by default.
        const QList<std::pair<int, quint16>> steps = {{25, 0}, {30, 1}, {29, 1}, {28, 0},
                                                      {45, 2}, {39, 2}, {38, 1}, {20, 0}};
        for (const auto &[t, status] : steps) {
            QVERIFY(c.setTemperature(1, t));
            QCOMPARE(c.status(1), status);
        }
        QVERIFY(c.setStatus(1, 20));
        QVERIFY(c.setTemperature(1, 50));
        QCOMPARE(c.status(1), 20); // pinned
        QVERIFY(c.setStatus(1, std::nullopt));
        QCOMPARE(c.status(1), 2);
        QVERIFY(c.setStatus(1, 40));
        QList<quint16> v;
        QCOMPARE(c.read(0x100, 1, v), 0);
        QCOMPARE(v.first(), 0); // an unregistered sensor reads 0
    }

    void relaysFollowSensorsAndDelays()
    {
        SimController c = controller(2); // sensors 1 and 2 only: no silent sensors
        c.setFrozen(false);
        c.advance(0);
        QVERIFY(c.setTemperature(1, 20));
        QVERIFY(c.setTemperature(2, 20));
        QCOMPARE(c.relayWord(), 0);
        // Sensor 1 switches relay 1 at threshold 1 (no delay) and relay 3 at threshold 2.
        QVERIFY(c.setTemperature(1, 31));
        QCOMPARE(c.relayWord(), 0b001);
        QVERIFY(c.setTemperature(1, 41));
        QCOMPARE(c.relayWord(), 0b101);
        // Sensor 2 uses relay 2, which waits 5 s before switching on.
        QVERIFY(c.setTemperature(2, 31));
        c.advance(4000);
        QCOMPARE(c.relayWord() & 0b010, 0);
        c.advance(5100);
        QCOMPARE(c.relayWord() & 0b010, 0b010);
        QVERIFY(c.setRelay(2, false));
        QCOMPARE(c.relayWord() & 0b010, 0);
        QVERIFY(c.write(0x0200, {0}) == 0); // relay 1 switched off by its mode
        QCOMPARE(c.relayWord() & 0b001, 0);
    }

    void elapsedCountsAndResets()
    {
        SimController c = controller(1);
        c.setFrozen(false);
        c.advance(0);
        QVERIFY(c.setElapsed(1, 0));
        QList<quint16> v;
        c.advance(3000);
        QCOMPARE(c.read(0x180, 1, v), 0);
        QCOMPARE(v.first(), 3);
        c.advance(60000); // it transmits every 10 s: the count has started again
        QCOMPARE(c.read(0x180, 1, v), 0);
        QVERIFY(v.first() < 10);
        c.setFrozen(true);
        c.advance(90000);
        QList<quint16> still;
        QCOMPARE(c.read(0x180, 1, still), 0);
        QCOMPARE(still, v);
    }

    void mapsThatCannotBeServed()
    {
        DeviceRegisterMap overlap = shippedMap();
        overlap.QOR_STATUS_ADDR = 0x0110; // inside the temperature block
        DeviceRegisterMap wraps = shippedMap();
        wraps.QOR_SENSOR_TAG_ADDR = 0xFF00;
        DeviceRegisterMap tooMany = shippedMap();
        tooMany.MAX_SENSORS = 37;
        for (const DeviceRegisterMap &m : {overlap, wraps, tooMany}) {
            SimController c;
            QString error;
            QVERIFY(!c.configure(m, {}, &error));
            QVERIFY(!error.isEmpty());
        }
    }

    void faultTriggers()
    {
        FaultSet faults;
        QString error;
        std::mt19937 rng(1);
        int value = 0;
        QVERIFY(faults.set(FaultKind::Exception, QStringLiteral("nth=3,code=6"), &error));
        QList<bool> hits;
        for (int i = 0; i < 6; ++i)
            hits << faults.strikes(FaultKind::Exception, rng, &value);
        QCOMPARE(hits, (QList<bool>{false, false, true, false, false, false}));
        QCOMPARE(value, 6);
        QVERIFY(faults.setFromOption(QStringLiteral("badcrc:every=2"), &error));
        hits.clear();
        for (int i = 0; i < 4; ++i)
            hits << faults.strikes(FaultKind::BadCrc, rng, &value);
        QCOMPARE(hits, (QList<bool>{false, true, false, true}));
        QVERIFY(faults.set(FaultKind::NoAnswer, QStringLiteral("rate=0.25"), &error));
        int struck = 0;
        for (int i = 0; i < 4000; ++i)
            struck += faults.strikes(FaultKind::NoAnswer, rng, &value);
        QVERIFY2(struck > 850 && struck < 1150, qPrintable(QString::number(struck)));
        faults.clear(FaultKind::NoAnswer);
        QVERIFY(!faults.strikes(FaultKind::NoAnswer, rng, &value));
        for (const char *bad : {"rate=2", "nth=0", "ms=5", "ms=-1", "bogus", "code=300"})
            QVERIFY2(!faults.set(FaultKind::Exception, QString::fromLatin1(bad), &error), bad);
        QVERIFY(!faults.setFromOption(QStringLiteral("meteor:rate=1"), &error));
    }
};

QTEST_GUILESS_MAIN(SimModelTest)
#include "tst_sim_model.moc"
