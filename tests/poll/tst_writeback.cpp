// The write-back against qor7070-sim on a pty: the exact frames the simulator received,
// Panel10's texts in order, and what the program and the controller hold afterwards.
#include "ControllerFolder.h"
#include "Cp1251.h"
#include "ExpectedFrames.h"
#include "LookupText.h"
#include "MainState.h"
#include "MainView.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "RecorderView.h"
#include "RunningEngine.h"
#include "SensorRows.h"
#include "WriteBack.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

QString text(const TextKey &k) { return QString::fromUtf16(k.russian); }

const QString kHide = RecorderView::kHidden;

using Engine = RunningEngine;

using namespace ExpectedFrames;

// The words of a row of a controller-table copy, as the write must send them.
QList<quint16> rowWords(const TextGrid &g, int row, quint16 id0, quint16 id1)
{
    QList<quint16> w{id0, id1};
    for (int c = 2; c < g.colCount(); ++c)
        w << quint16(g.cell(c, row).toUInt());
    return w;
}

QStringList panelOf(std::initializer_list<TextKey> results)
{
    QStringList out;
    for (const TextKey &k : results)
        out << text(k);
    return out;
}

} // namespace

class TestWriteBack : public ControllerFolderTest {
    Q_OBJECT

    void prepare()
    {
        const WorkingFolder &dir = *folder;
        for (const char *fw : {"1_0", "1_1", "1_2"}) {
            const QString name = QStringLiteral("Cfg/qor7070__fw_%1.ini").arg(fw);
            QVERIFY(CopyShippedData({name}, dir.filePath(".")));
            MemIniFile cfg(dir.filePath(name));
            cfg.writeInteger("measure", "period", 100);
            QVERIFY(cfg.updateFile());
        }
        MemIniFile start(dir.filePath("start.ini"));
        start.writeString("connect", "port", sim.portSetting());
        start.writeInteger("connect", "stopbits", 0);
        start.writeInteger("connect", "receive", 150);
        QVERIFY(start.updateFile());
        MemIniFile def(dir.filePath("default.ini"));
        def.writeInteger("measure", "period", 100);
        QVERIFY(def.updateFile());
    }

    void startSim(const QString &fw = "1_2", const QStringList &more = {})
    {
        const QString cfg = QStringLiteral("Cfg/qor7070__fw_%1.ini").arg(fw);
        const QStringList args{"--sensors", "12", "--cfg", ShippedFile(cfg)};
        QVERIFY2(StartShippedSim(sim, args + more), qPrintable(sim.errorText()));
        prepare();
    }

    // The sensor page shown until every sensor has been read once.
    static void readSensorTable(Engine &e)
    {
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        e.state.SensorSettingsShown();
        QTRY_VERIFY_WITH_TIMEOUT(e.state.sensorSettingsCopyEnabled, 15000);
    }

    static void readRelayTable(Engine &e)
    {
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        e.state.RelaySettingsShown();
        const int last = e.state.registerMap.RELAY_NUMBER;
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.relaySettings.cell(1, last).isEmpty(), 5000);
    }

    // The user table holds these sensors, with the controller's values and tags.
    static void chooseSensors(Engine &e, QList<int> sensors)
    {
        MainState &s = e.state;
        CopyGridToGrid(s.sensorSettings, s.sensorSettingsUser);
        CopyGridToGrid(s.tagContr, s.tagUser);
        QList<bool> ticks(s.registerMap.MAX_SENSORS, false);
        for (int n : sensors)
            ticks[n - 1] = true;
        ApplySensorSelection(s.sensorSettingsUser, s.tagUser, ticks, s.registerMap.MAX_SENSORS,
                             text(Msg::n32));
        QCOMPARE(s.sensorSettingsUser.rowCountGrid(), int(sensors.size()) + 1);
    }

    // The messages the write buttons show, as "caption | text".
    static ShowMessage recordTo(QStringList &shown)
    {
        return [&shown](const QString &c, const QString &t) { shown << c + " | " + t; };
    }

    // Sensor 4 and relay 2 changed within their limits and both writes asked for as the
    // buttons ask; then what the user types while they wait: out of the limits.
    static void raiseSensorAndRelayWrites(Engine &e)
    {
        MainState &s = e.state;
        readRelayTable(e);
        CopyRelayRows(s.relaySettings, s.relaySettingsUser);
        readSensorTable(e);
        chooseSensors(e, {4});
        s.sensorSettingsUser.setCell(2, 1, "44");
        s.relaySettingsUser.setCell(3, 2, "18");
        QStringList shown;
        QVERIFY(s.RequestSensorWrite(recordTo(shown)));
        QVERIFY(s.RequestRelayWrite(recordTo(shown)));
        QCOMPARE(shown, QStringList());
        QCOMPARE(e.view.running.last(), true);
        s.sensorSettingsUser.setCell(3, 1, "500");  // threshold 2, 0..125
        s.relaySettingsUser.setCell(3, 2, "9999"); // switch-off delay, 0..600
    }

    static void waitForWrites(Engine &e, int count)
    {
        QTRY_COMPARE_WITH_TIMEOUT(e.view.progress.count(kHide), count, 15000);
    }

private slots:
    void cellTextsAsRegisterWords()
    {
        QCOMPARE(RegisterWordOfCell("-1"), std::optional<quint16>(0xFFFF));
        QCOMPARE(RegisterWordOfCell("-32768"), std::optional<quint16>(0x8000));
        QCOMPARE(RegisterWordOfCell("65535"), std::optional<quint16>(0xFFFF));
        QCOMPARE(RegisterWordOfCell(" 7 "), std::optional<quint16>(7));
        for (const char *none : {"65536", "-32769", "---", "", "12a", "3,5", "0x10", "99999999999"})
            QVERIFY2(!RegisterWordOfCell(none), none);
        using Id = std::pair<quint16, quint16>;
        QCOMPARE(SensorIdWords("123 456"), std::optional<Id>(Id(482, 64)));
        QCOMPARE(SensorIdWords("000 000"), std::optional<Id>(Id(0, 0)));
        QCOMPARE(SensorIdWords("16777215"), std::optional<Id>(Id(0xFFFF, 0xFF)));
        QVERIFY(!SensorIdWords("16777216")); // would lose its top bits
        QVERIFY(!SensorIdWords("---"));
        QVERIFY(!SensorIdWords("-5"));
    }

    // Unchanged tables cost no transaction and still end in success, sensors first.
    void identicalTablesSendNothing()
    {
        startSim();
        Engine e;
        readRelayTable(e);
        CopyRelayRows(e.state.relaySettings, e.state.relaySettingsUser);
        readSensorTable(e);
        chooseSensors(e, {1, 2, 5});
        e.state.writeRelaySettingsRequested = true;
        e.state.writeSensorSettingsRequested = true;
        waitForWrites(e, 2);
        QCOMPARE(writes(sim), QStringList());
        QCOMPARE(e.view.progress, panelOf({Msg::n111, Msg::n115}) << kHide
                                   << panelOf({Msg::n112, Msg::n115}) << kHide);
        // The pages stay locked until the last pending request is done.
        QCOMPARE(e.view.running, (QList<bool>{true, true, true, false}));
        QVERIFY(e.state.lastWriteSucceeded);
        QVERIFY(!e.state.writeSensorSettingsRequested && !e.state.writeRelaySettingsRequested);
    }

    // Sensors 3 and 7 in user rows 1 and 2 go to their own blocks: a changed row as its
    // settings block (the ID split into 482 and 64), a changed tag alone as its tag block.
    // Pages shown during the pause empty the controller table; that is no change to send.
    void sensorRowsGoToTheirOwnBlocks_data() { AddTransportRows(); }
    void sensorRowsGoToTheirOwnBlocks()
    {
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim();
        Engine e;
        readSensorTable(e);
        MainState &s = e.state;
        chooseSensors(e, {3, 7});
        s.sensorSettingsUser.setCell(1, 1, "123 456");
        s.sensorSettingsUser.setCell(2, 1, "55");
        s.tagUser.setCell(0, 2, QStringLiteral("Печь 7"));
        const QList<quint16> sensor3 = [&] {
            QList<quint16> w = rowWords(s.sensorSettingsUser, 1, 482, 64);
            w[2] = 55;
            return w;
        }();
        e.view.onProgress = [&](const QString &t) {
            if (t == text(Msg::n111)) { // the user looks at another page and comes back
                s.RelaySettingsShown();
                s.SensorSettingsShown();
            }
        };
        s.writeSensorSettingsRequested = true;
        waitForWrites(e, 1);
        const QList<quint16> tag7{0xCFE5, 0xF7FC, 0x2037, 0, 0, 0, 0, 0}; // "Печь 7", zero-ended
        QCOMPARE(writes(sim), (QStringList{writeMultiple(100, 0x1020, sensor3),
                                           writeMultiple(100, 0x2030, tag7)}));
        QCOMPARE(e.view.progress, panelOf({Msg::n111, Msg::n115}) << kHide);
        QCOMPARE(numbers(sim.command("get 0x1020 7")), sensor3);
        QCOMPARE(numbers(sim.command("get 0x2030 8")), tag7);
        // The page is shown: its controller table is read again from sensor 1.
        QVERIFY(!s.sensorSettingsCopyEnabled);
        QTRY_COMPARE_WITH_TIMEOUT(s.sensorSettings.cell(1, 3), QStringLiteral("123 456"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(s.tagContr.cell(0, 7), QStringLiteral("Печь 7"), 5000);
    }

    void firmwareOneOneNeverWritesTags()
    {
        startSim("1_1");
        Engine e;
        readSensorTable(e);
        QCOMPARE(e.state.firmwareVersion, quint16(0x0101));
        chooseSensors(e, {2, 4});
        e.state.sensorSettingsUser.setCell(3, 1, "33");
        e.state.tagUser.setCell(0, 1, "tag");
        e.state.tagUser.setCell(0, 2, "tag");
        e.state.writeSensorSettingsRequested = true;
        waitForWrites(e, 1);
        const TextGrid &user = e.state.sensorSettingsUser;
        const int id = 102 * 1000 + 137; // the simulator's ID of sensor 2
        QCOMPARE(user.cell(1, 1), QStringLiteral("102 137"));
        const QList<quint16> sensor2 = rowWords(user, 1, id >> 8, id & 0xFF);
        QCOMPARE(writes(sim), QStringList{writeMultiple(100, 0x1010, sensor2)});
        QCOMPARE(e.view.progress, panelOf({Msg::n111, Msg::n115}) << kHide);
    }

    // Changed cells only, one function-6 write each, row by row; cell (3, 2) goes to
    // RELAY_SETTINGS_ADDR + step + 2.
    void relayCellsGoOneByOneWithFunction6_data() { AddTransportRows(); }
    void relayCellsGoOneByOneWithFunction6()
    {
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim();
        Engine e;
        readRelayTable(e);
        MainState &s = e.state;
        CopyRelayRows(s.relaySettings, s.relaySettingsUser);
        s.relaySettingsUser.setCell(1, 3, "0");
        s.relaySettingsUser.setCell(3, 2, "17");
        s.relaySettingsUser.setCell(4, 1, "3599");
        const bool relay3Changed = s.relaySettings.cell(1, 3) != "0";
        s.writeRelaySettingsRequested = true;
        waitForWrites(e, 1);
        QStringList expected{writeSingle(100, 0x0203, 3599), writeSingle(100, 0x0212, 17)};
        if (relay3Changed)
            expected << writeSingle(100, 0x0220, 0);
        QCOMPARE(writes(sim), expected);
        QCOMPARE(e.view.progress, panelOf({Msg::n112, Msg::n115}) << kHide);
        QCOMPARE(sim.command("get 0x0212"), QStringLiteral("OK 17"));
        QTRY_COMPARE_WITH_TIMEOUT(s.relaySettings.cell(3, 2), QStringLiteral("17"), 3000);
    }

    // A cell that is no number by the time it is sent (a profile or a copy can hold one)
    // fails that write before anything of it goes out, with the check's message.
    void notANumberEndsTheWrite_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("cell");
        QTest::newRow("dashes") << 3 << "---";
        QTest::newRow("beyond 16 bits") << 4 << "70000";
        QTest::newRow("ID") << 1 << "---";
    }
    void notANumberEndsTheWrite()
    {
        QFETCH(int, col);
        QFETCH(QString, cell);
        startSim();
        Engine e;
        readSensorTable(e);
        MainState &s = e.state;
        chooseSensors(e, {2, 5, 9});
        for (int row = 1; row <= 3; ++row)
            s.sensorSettingsUser.setCell(2, row, QString::number(60 + row));
        s.sensorSettingsUser.setCell(col, 2, cell);
        s.tagUser.setCell(0, 2, "not sent");
        s.writeSensorSettingsRequested = true;
        waitForWrites(e, 1);
        QCOMPARE(writes(sim), QStringList());
        QCOMPARE(e.view.progress, panelOf({Msg::n111, Msg::n114}) << kHide);
        QCOMPARE(e.view.messages.size(), 1);
        QVERIFY(!s.lastWriteSucceeded);
        QVERIFY(!s.writeSensorSettingsRequested);
        QVERIFY(s.linkUp);
    }

    // A profile loaded into the controller raises all three; the sensor write fails, so
    // relays and connection wait for the next cycle. The connection write moves address,
    // speed and stop bits, and the program follows without a restart.
    void allThreeWithAFailingSensorWrite_data() { lostConfirmationIsJudgedByTheReadBack_data(); }
    void allThreeWithAFailingSensorWrite()
    {
        QFETCH(bool, paced);
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim("1_2", paced ? QStringList{"--pace"} : QStringList{});
        Engine e;
        MainState &s = e.state;
        readRelayTable(e);
        CopyRelayRows(s.relaySettings, s.relaySettingsUser);
        s.relaySettingsUser.setCell(3, 2, "18");
        readSensorTable(e);
        chooseSensors(e, {4});
        s.sensorSettingsUser.setCell(2, 1, "44");
        s.connectUser = {"17", 1, 0, 1, "5", 1}; // 19200 baud, two stop bits
        e.view.onProgress = [&](const QString &t) {
            if (t == text(Msg::n111))
                QVERIFY(sim.command("fault exception").startsWith("OK"));
            else if (t == text(Msg::n114))
                QVERIFY(sim.command("fault off exception").startsWith("OK"));
        };
        s.writeSensorSettingsRequested = true;
        s.writeRelaySettingsRequested = true;
        s.writeConnectSettingsRequested = true;
        QTRY_COMPARE_WITH_TIMEOUT(e.view.progress.count(kHide), 1, 10000);
        QVERIFY(!s.writeSensorSettingsRequested);
        QVERIFY(s.writeRelaySettingsRequested && s.writeConnectSettingsRequested);
        waitForWrites(e, 3);
        QCOMPARE(e.view.progress, panelOf({Msg::n111, Msg::n114}) << kHide
                                   << panelOf({Msg::n112, Msg::n115}) << kHide
                                   << panelOf({Msg::n113, Msg::n115}) << kHide);
        QVERIFY(!s.writeRelaySettingsRequested && !s.writeConnectSettingsRequested);

        const QList<quint16> connect{17, 1, 0, 2, 5, 1};
        const QStringList w = writes(sim);
        QCOMPARE(w.size(), 5);
        QCOMPARE(w.mid(0, 3).removeDuplicates(), 2); // three attempts of one frame
        QVERIFY(w[0].startsWith("64 10 10 30 00 07 0E"));
        QCOMPARE(w[3], writeSingle(100, 0x0212, 18));
        QCOMPARE(w[4], writeMultiple(100, 0x0500, connect));
        // Between the failed sensor write and the relay write a new cycle began.
        const QStringList rx = sim.logEntries("RX");
        const qsizetype failed = rx.lastIndexOf(w[2]), relay = rx.indexOf(w[3]);
        QVERIFY(failed >= 0 && relay > failed);
        QVERIFY(rx.mid(failed, relay - failed).contains(readRequest(100, 0x0300, 1)));

        // The program follows: start.ini rewritten, line re-set, read back at address 17.
        const MemIniFile start("start.ini");
        QCOMPARE(start.readInteger("connect", "adr", 0), 17);
        QCOMPARE(start.readInteger("connect", "speed", 0), 1);
        QCOMPARE(start.readInteger("connect", "parity", -1), 0);
        QCOMPARE(start.readInteger("connect", "stopbits", 0), 1);
        QCOMPARE(sim.command("line"),
                 QStringLiteral("OK address=17 baud=19200 parity=0 stopbits=2 channel=5 language=1"));
        QVERIFY(rx.contains(readRequest(17, 0x0500, 6)));
        QCOMPARE(s.connectContr.addr, QStringLiteral("17"));
        QCOMPARE(s.connectContr.stops, 1);
        QVERIFY(s.linkUp);
        const qsizetype before = sim.logEntries("RX").size();
        QTRY_VERIFY_WITH_TIMEOUT(sim.logEntries("RX").size() > before + 3, 3000);
        QVERIFY(sim.logEntries("RX").last().startsWith("11 03"));
        QVERIFY(s.linkUp);
    }

    // The controller acts on the connection write but its confirmation is lost: the
    // read-back at the new settings says it worked. Paced, the retries at the old speed
    // reach a line already at the new one.
    void lostConfirmationIsJudgedByTheReadBack_data()
    {
        using T = SimProcess::Transport;
        QTest::addColumn<bool>("paced");
        QTest::addColumn<T>("transport");
        QTest::newRow("unpaced") << false << T::Pty;
        QTest::newRow("paced") << true << T::Pty;
        QTest::newRow("tcp") << false << T::TcpRtu;
        QTest::newRow("mbtcp") << false << T::TcpMbap;
    }
    void lostConfirmationIsJudgedByTheReadBack()
    {
        QFETCH(bool, paced);
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim("1_2", paced ? QStringList{"--pace"} : QStringList{});
        Engine e;
        MainState &s = e.state;
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);
        s.connectUser = {"33", 2, 0, 0, "9", 0}; // 38400 baud
        e.view.onProgress = [&](const QString &t) {
            if (t == text(Msg::n113))
                QVERIFY(sim.command("fault lost nth=1").startsWith("OK"));
        };
        s.writeConnectSettingsRequested = true;
        waitForWrites(e, 1);
        QCOMPARE(e.view.progress, panelOf({Msg::n113, Msg::n115}) << kHide);
        QVERIFY(s.lastWriteSucceeded);
        QCOMPARE(sim.logEntries("FAULT"), QStringList{"lost"});
        const QString frame = writeMultiple(100, 0x0500, {33, 2, 0, 1, 9, 0});
        QCOMPARE(writes(sim), QStringList(3, frame)); // the retries reach nobody at 100
        QCOMPARE(sim.command("line"),
                 QStringLiteral("OK address=33 baud=38400 parity=0 stopbits=1 channel=9 language=0"));
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "adr", 0), 33);
        QCOMPARE(s.connectContr.addr, QStringLiteral("33"));
        QVERIFY(s.linkUp);
        const qsizetype before = sim.logEntries("RX").size();
        QTRY_VERIFY_WITH_TIMEOUT(sim.logEntries("RX").size() > before + 3, 3000);
        QVERIFY(sim.logEntries("RX").last().startsWith("21 03"));
    }

    // Pending writes never outlive the link they were checked on: a controller that stops
    // answering (paced or not), Stop, other connection settings, or another identification
    // drop them, with the failure on Panel10 and the reason in panel 0. When a controller
    // answers again nothing of them goes out, and the pages are unlocked.
    void pendingWritesAreDroppedWithTheLink_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<bool>("paced");
        QTest::newRow("controller silent") << "offline" << false;
        QTest::newRow("controller silent, paced") << "offline" << true;
        QTest::newRow("Stop") << "stop" << false;
        QTest::newRow("connection settings changed") << "port" << false;
        QTest::newRow("identified again") << "language" << false;
    }
    void pendingWritesAreDroppedWithTheLink()
    {
        QFETCH(QString, cause);
        QFETCH(bool, paced);
        startSim("1_2", paced ? QStringList{"--pace"} : QStringList{});
        Engine e;
        MainState &s = e.state;
        raiseSensorAndRelayWrites(e);
        if (cause == "offline")
            QCOMPARE(sim.command("offline"), QStringLiteral("OK"));
        else if (cause == "stop")
            s.linkInterruptedByUser = true;
        else if (cause == "port")
            s.portSettingsChanged = true;
        else
            s.SwitchLanguage(0);
        QTRY_VERIFY_WITH_TIMEOUT(!s.AnyWriteRequested(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(e.view.status[0].endsWith(text(Msg::n132)), 5000);
        QVERIFY(!s.lastWriteSucceeded);
        QTRY_COMPARE_WITH_TIMEOUT(e.view.progress, panelOf({Msg::n114}) << kHide, 5000);
        QCOMPARE(e.view.running.last(), false);

        if (cause == "offline")
            QCOMPARE(sim.command("online"), QStringLiteral("OK"));
        s.linkInterruptedByUser = false;
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 10000);
        // Several whole cycles later still nothing was written.
        const qsizetype before = sim.logEntries("RX").size();
        QTRY_VERIFY_WITH_TIMEOUT(sim.logEntries("RX").size() > before + 10, 10000);
        QCOMPARE(writes(sim), QStringList());
        QCOMPARE(e.view.messages, QStringList());
        // The notice stays beside the link state until the next write is asked for.
        QCOMPARE(e.view.status[0], text(Msg::n101) + QStringLiteral(" — ") + text(Msg::n132));
    }

    // The copy a write compares with is the one read from the controller answering now.
    // Another controller on the same port (here: the same one with other settings) makes
    // the copies on screen count as unread: a write is refused until its page has read
    // them again, and then the cells that differ from the new controller go out, even those
    // equal to the old copy. Values name their registers (relay 2's delay reads 0x0212).
    void aWriteComparesOnlyWithThisControllersCopy_data()
    {
        QTest::addColumn<bool>("paced");
        QTest::newRow("unpaced") << false;
        QTest::newRow("paced") << true;
    }
    void aWriteComparesOnlyWithThisControllersCopy()
    {
        QFETCH(bool, paced);
        QStringList args{"--named-values"};
        if (paced)
            args << "--pace";
        startSim("1_2", args);
        Engine e;
        MainState &s = e.state;
        readRelayTable(e);
        QCOMPARE(s.relaySettings.cell(3, 2), QStringLiteral("530")); // 0x0212
        CopyRelayRows(s.relaySettings, s.relaySettingsUser);
        QCOMPARE(sim.command("offline"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!s.linkUp, 10000);
        QCOMPARE(sim.command("set reg 0x0212 100"), QStringLiteral("OK"));
        QCOMPARE(sim.command("set reg 0x0221 7"), QStringLiteral("OK"));
        s.ProfilesShown(); // the relay page is not shown while the other controller comes
        QCOMPARE(sim.command("online"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 10000);
        QCOMPARE(s.relaySettings.cell(3, 2), QString()); // the old copy is gone
        QStringList shown;
        QVERIFY(!s.RequestRelayWrite(recordTo(shown)));
        QCOMPARE(shown, QStringList{text(Msg::n67) + " | " + text(Msg::n133)});
        QVERIFY(!s.writeRelaySettingsRequested);

        readRelayTable(e);
        QTRY_VERIFY_WITH_TIMEOUT(s.RelayCopyRead(), 5000);
        QCOMPARE(s.relaySettings.cell(3, 2), QStringLiteral("100"));
        shown.clear();
        QVERIFY(s.RequestRelayWrite(recordTo(shown)));
        QCOMPARE(shown, QStringList());
        waitForWrites(e, 1);
        QCOMPARE(writes(sim), (QStringList{writeSingle(100, 0x0212, 530), writeSingle(100, 0x0221, 0x0221)}));
        QCOMPARE(e.view.progress, panelOf({Msg::n112, Msg::n115}) << kHide);
    }

    // What goes out is checked as it goes out: values typed while a write waited (a table
    // changed through its model, a profile) are checked against the limits then; out of
    // them nothing is sent and the range message is shown.
    void valuesAreCheckedWhenSent_data() { aWriteComparesOnlyWithThisControllersCopy_data(); }
    void valuesAreCheckedWhenSent()
    {
        QFETCH(bool, paced);
        startSim("1_2", paced ? QStringList{"--pace"} : QStringList{});
        Engine e;
        raiseSensorAndRelayWrites(e);
        waitForWrites(e, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.AnyWriteRequested(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(e.view.progress.count(kHide), 2, 10000);
        QCOMPARE(writes(sim), QStringList());
        QCOMPARE(e.view.progress, panelOf({Msg::n111, Msg::n114}) << kHide
                                   << panelOf({Msg::n112, Msg::n114}) << kHide);
        QCOMPARE(e.view.messages.size(), 2);
        QVERIFY2(e.view.messages[0].contains(text(Msg::n85)) && e.view.messages[0].contains("125"),
                 qPrintable(e.view.messages[0]));
        QVERIFY2(e.view.messages[1].contains(text(Msg::n85)) && e.view.messages[1].contains("600"),
                 qPrintable(e.view.messages[1]));
        QCOMPARE(e.view.running.last(), false);
    }

    // A connection write ends with program and controller on the same settings, online:
    // refused with an exception, it is not followed; unanswered (the block never arrived),
    // the program goes back to the old settings where the controller still answers; lost
    // (carried out, not confirmed), the read-back at the new settings confirms it; and
    // when nobody answers at either, the new settings are kept and panel 0 says so.
    void connectionWriteEndsOnMatchingSettings_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("paced");
        QTest::addColumn<bool>("followed");
        QTest::addColumn<bool>("succeeded");
        for (bool paced : {false, true}) {
            const char *p = paced ? ", paced" : "";
            QTest::addRow("refused%s", p) << "exception" << paced << false << false;
            QTest::addRow("no answer%s", p) << "noanswer" << paced << false << false;
            QTest::addRow("lost%s", p) << "lost" << paced << true << true;
            QTest::addRow("lost, then silent%s", p) << "silent" << paced << true << false;
        }
    }
    void connectionWriteEndsOnMatchingSettings()
    {
        QFETCH(QString, fault);
        QFETCH(bool, paced);
        QFETCH(bool, followed);
        QFETCH(bool, succeeded);
        startSim("1_2", paced ? QStringList{"--pace"} : QStringList{});
        Engine e;
        MainState &s = e.state;
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(s.connectCopyRead, 5000);
        e.view.onProgress = [&](const QString &t) {
            if (t == text(Msg::n114) && fault == "exception")
                QVERIFY(sim.command("faults off").startsWith("OK"));
            if (t != text(Msg::n113))
                return;
            if (fault == "exception")
                QVERIFY(sim.command("fault exception").startsWith("OK"));
            else if (fault == "noanswer")
                QVERIFY(sim.command("fault noanswer").startsWith("OK"));
            else if (fault == "lost")
                QVERIFY(sim.command("fault lost nth=1").startsWith("OK"));
            else
                QVERIFY(sim.command("fault lost nth=1").startsWith("OK") &&
                        sim.command("fault offline nth=2,ms=4000").startsWith("OK"));
        };
        // The block went unanswered: the controller is there again when the program looks.
        e.view.onStatus = [&](int panel, const QString &) {
            if (panel == 0 && fault == "noanswer")
                sim.command("faults off");
        };
        QStringList shown;
        QVERIFY(s.RequestConnectWrite({"33", 2, 0, 0, "9", 0}, recordTo(shown))); // 38400
        QTRY_VERIFY_WITH_TIMEOUT(!s.writeConnectSettingsRequested, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(e.view.progress.count(kHide), 1, 15000);
        e.view.onStatus = nullptr;
        QCOMPARE(e.view.progress, panelOf({Msg::n113, succeeded ? Msg::n115 : Msg::n114}) << kHide);
        QCOMPARE(s.lastWriteSucceeded, succeeded);
        const int address = followed ? 33 : 100;
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "adr", 100), address);
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "speed", 0), followed ? 2 : 0);
        QVERIFY(sim.command("line").startsWith(QStringLiteral("OK address=%1 ").arg(address)));
        if (fault == "silent")
            QVERIFY2(e.view.status[0].endsWith(text(Msg::n134)), qPrintable(e.view.status[0]));
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 10000);
        const qsizetype before = sim.logEntries("RX").size();
        QTRY_VERIFY_WITH_TIMEOUT(sim.logEntries("RX").size() > before + 3, 5000);
        QVERIFY(sim.logEntries("RX").last().startsWith(followed ? "21 03" : "64 03"));
        QVERIFY(s.linkUp);
    }

    // Closing the window during a write-back's pause: the step returns and nothing more
    // is sent.
    void closingDuringThePauseSendsNothing()
    {
        startSim();
        Engine e;
        readSensorTable(e);
        chooseSensors(e, {1, 2});
        e.state.sensorSettingsUser.setCell(2, 1, "71");
        e.state.sensorSettingsUser.setCell(2, 2, "72");
        e.view.onProgress = [&](const QString &t) {
            if (t == text(Msg::n111))
                e.thread.RequestStop();
        };
        e.state.writeSensorSettingsRequested = true;
        QTRY_VERIFY_WITH_TIMEOUT(e.thread.isFinished(), 3000);
        QCOMPARE(writes(sim), QStringList());
        QCOMPARE(e.view.progress.last(), kHide);
        QCOMPARE(e.view.running.last(), false);
    }
};

QTEST_GUILESS_MAIN(TestWriteBack)
#include "tst_writeback.moc"
