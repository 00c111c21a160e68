// The poll engine against qor7070-sim on a pty, without a display.
#include "ControllerFolder.h"
#include "LookupText.h"
#include "MainState.h"
#include "MainView.h"
#include "PollCycle.h"
#include "QorThread.h"

#include <QTimer>
#include "RecorderView.h"
#include "RunningEngine.h"

#include <QDir>
#include <QFile>
#include <QTest>

#ifdef Q_OS_LINUX
#include <pthread.h>
#include <sched.h>
#endif

namespace {

// The program's parts without the window, polling the simulator in a folder of their own.
struct Engine : RunningEngine {
    Engine() : RunningEngine(true) {}
};

QString text(const TextKey &k) { return QString::fromUtf16(k.russian); }

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

#ifdef Q_OS_LINUX
int schedulingPolicy(const QorThread &thread)
{
    int policy = -1;
    sched_param param{};
    if (pthread_getschedparam(pthread_t(thread.NativeId()), &policy, &param) != 0)
        return -1;
    return policy;
}
#endif

// Fills every data cell of a table with a text naming the cell.
void fillCells(TextGrid &g, const QString &tag)
{
    for (int r = 1; r < g.rowCountGrid(); ++r)
        for (int c = 0; c < g.colCount(); ++c)
            if (c > 0 || g.fixedCols() == 0)
                g.setCell(c, r, QStringLiteral("%1%2.%3").arg(tag).arg(c).arg(r));
}

QStringList allCells(const TextGrid &g)
{
    QStringList out;
    for (int r = 0; r < g.rowCountGrid(); ++r)
        out.append(g.rowTexts(r).join(u'|'));
    return out;
}

int identificationRequests(const SimProcess &sim)
{
    int n = 0;
    for (const QString &rx : sim.logEntries("RX"))
        n += rx.startsWith(QLatin1String("64 03 04 00"));
    return n;
}

} // namespace

class TestPoll : public ControllerFolderTest {
    Q_OBJECT

    // A working folder with the shipped Cfg files (polling period cut to 100 ms) and a
    // start.ini pointing at the simulator.
    void prepare(const std::function<void(MemIniFile &)> &editCfg = {})
    {
        const WorkingFolder &dir = *folder;
        for (const char *fw : {"1_0", "1_1", "1_2"}) {
            const QString name = QStringLiteral("Cfg/qor7070__fw_%1.ini").arg(fw);
            QVERIFY(CopyShippedData({name}, dir.filePath(".")));
            MemIniFile cfg(dir.filePath(name));
            cfg.writeInteger("measure", "period", 100);
            if (editCfg)
                editCfg(cfg);
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

    // The simulator serves the shipped map, whatever the test does to the program's copy.
    void startSim(QStringList args = {})
    {
        QVERIFY2(StartShippedSim(sim, args), qPrintable(sim.errorText()));
    }

private slots:
    void identifiesAndShowsLiveData_data() { AddTransportRows(); }
    void identifiesAndShowsLiveData()
    {
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim({"--sensors", "20"});
        prepare();
        QCOMPARE(sim.command("freeze").left(2), QStringLiteral("OK"));
        QCOMPARE(sim.command("set temp 5 65526").left(2), QStringLiteral("OK"));
        QCOMPARE(sim.command("set status 3 40").left(2), QStringLiteral("OK"));
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        QCOMPARE(e.view.lamp, MainView::Lamp::Online);
        QCOMPARE(e.view.status[0], text(Msg::n101));
        QCOMPARE(e.view.status[3], QStringLiteral("Версия прошивки: FW 1.2 HW 1.0"));
        QCOMPARE(e.state.firmwareVersion, quint16(0x0102));
        QCOMPARE(e.state.registerMap.MAX_SENSORS, quint16(36));
        QCOMPARE(e.view.shows, 1);
        QVERIFY(e.view.messages.isEmpty());
        // 19 registered sensors: 18 in the left grid, one in the right.
        QTRY_COMPARE_WITH_TIMEOUT(e.state.sensorsData.rowCountGrid(), 19, 3000);
        QCOMPARE(e.state.sensorsData2.rowCountGrid(), 2);
        QCOMPARE(e.state.sensorsData.cell(0, 3), QStringLiteral("Датчик 4")); // 3 is not registered
        QCOMPARE(e.state.sensorsData.cell(1, 4), QStringLiteral("65526"));
        QCOMPARE(e.state.sensorsData2.cell(0, 1), QStringLiteral("Датчик 20"));
        QCOMPARE(e.state.qorRelay.rowCountGrid(), 4);
        QCOMPARE(e.state.qorRelay.cell(0, 3), QStringLiteral("Реле 4"));
        QVERIFY(!e.view.cycleTime.isEmpty());
        // Headers come from the language section as soon as the controller is known.
        QCOMPARE(e.state.sensorsData.cell(1, 0), QStringLiteral("Not found"));
    }

    void controllerOffAndBackOn_data() { AddTransportRows(); }
    void controllerOffAndBackOn()
    {
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim();
        prepare();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        QVERIFY(sim.command("offline").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.linkUp, 3000);
        QCOMPARE(e.view.lamp, MainView::Lamp::Offline);
        QCOMPARE(e.view.status[0], text(Msg::n89));
        // The relay read is the first of a cycle: its failure zeroes the relays, the sensor
        // rows keep their last values.
        QCOMPARE(e.state.qorRelay.cell(1, 0), QStringLiteral("0"));
        QCOMPARE(e.state.relayStateWord, quint16(0));
        QVERIFY(sim.command("online").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 3000);
        QCOMPARE(e.view.messages, QStringList());
    }

    void missingConfigurationIsReportedOnce()
    {
        startSim({"--fw", "0x0109"});
        prepare();
        Engine e;
        QTRY_COMPARE_WITH_TIMEOUT(e.view.messages.size(), 1, 5000);
        QVERIFY(e.view.messages[0].startsWith(QStringLiteral("Ошибка | Не найден файл конфигурации устройства: ")));
        QVERIFY(e.view.messages[0].endsWith(QStringLiteral("qor7070__fw_1_9.ini. Обновите программу.")));
        QTest::qWait(1000); // several more identifications
        QCOMPARE(e.view.messages.size(), 1);
        QVERIFY(!e.state.linkUp);
        QVERIFY(e.view.hides >= 1);
        QCOMPARE(e.view.status[2], text(Msg::n102));
        // The user's interrupt clears the latch: the message comes once more.
        e.state.linkInterruptedByUser = true;
        QTest::qWait(300);
        e.state.linkInterruptedByUser = false;
        QTRY_COMPARE_WITH_TIMEOUT(e.view.messages.size(), 2, 3000);
    }

    void badConfigurations_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("caption");
        QTest::newRow("wrong fw") << "hardware/fw" << "1.3" << "Ошибка";
        QTest::newRow("bad key") << "modbus/QOR_STATUS_ADDR" << "" << "Ошибка";
        QTest::newRow("no tag size") << "modbus/QOR_SENSOR_TAG_SIZE" << "-" << "Ошибка";
        QTest::newRow("too many sensors") << "modbus/MAX_SENSORS" << "40" << "Ошибка";
        QTest::newRow("block too big") << "modbus/SENSOR_SETTINGS_SIZE_MODBUS" << "200" << "Ошибка";
        // Maps that could never be polled, or not shown in a grid.
        QTest::newRow("no sensors") << "modbus/MAX_SENSORS" << "0" << "Ошибка";
        QTest::newRow("empty connection block") << "modbus/CONNECT_SETTINGS_SIZE" << "0" << "Ошибка";
        QTest::newRow("connection block > one read") << "modbus/CONNECT_SETTINGS_SIZE" << "126" << "Ошибка";
        QTest::newRow("connection block < six words") << "modbus/CONNECT_SETTINGS_SIZE" << "5" << "Ошибка";
        QTest::newRow("no relays") << "modbus/RELAY_NUMBER" << "0" << "Ошибка";
        QTest::newRow("relays beyond the state word") << "modbus/RELAY_NUMBER" << "17" << "Ошибка";
        QTest::newRow("empty relay block") << "modbus/RELAY_SETTINGS_SIZE" << "0" << "Ошибка";
        QTest::newRow("relay block > one read") << "modbus/RELAY_SETTINGS_SIZE" << "126" << "Ошибка";
        QTest::newRow("sensor block without ID") << "modbus/SENSOR_SETTINGS_SIZE_MODBUS" << "1" << "Ошибка";
        QTest::newRow("empty tag block") << "modbus/QOR_SENSOR_TAG_SIZE" << "0" << "Ошибка";
        QTest::newRow("65 live columns") << "modbus/SENSOR_DATA_SIZE" << "65" << "Ошибка";
        QTest::newRow("4000 live columns") << "modbus/SENSOR_DATA_SIZE" << "4000" << "Ошибка";
        QTest::newRow("block past 0xFFFF") << "modbus/QOR_STATUS_ADDR" << "FFF0" << "Ошибка";
        QTest::newRow("sensor blocks past 0xFFFF") << "modbus/SENSOR_SETTINGS_STEP" << "2000" << "Ошибка";
    }

    void badConfigurations()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, caption);
        startSim();
        prepare([&](MemIniFile &cfg) {
            const QStringList k = key.split('/');
            if (value == "-")
                cfg.deleteKey(k[0], k[1]);
            else
                cfg.writeString(k[0], k[1], value);
        });
        Engine e;
        QTRY_COMPARE_WITH_TIMEOUT(e.view.messages.size(), 1, 5000);
        QVERIFY2(e.view.messages[0].startsWith(caption + " | Ошибка в файле конфигурации устройства "),
                 qPrintable(e.view.messages[0]));
        QTest::qWait(500);
        QCOMPARE(e.view.messages.size(), 1);
        QVERIFY(!e.state.linkUp);
        QCOMPARE(e.view.shows, 0);
        // Nothing was polled with the map: no controller error in any panel.
        for (const QString &t : e.view.statusLog)
            QVERIFY2(!t.startsWith(text(Msg::n91)), qPrintable(t));
    }

    void userTablesKeepTheirContentsAcrossIdentifications()
    {
        startSim();
        prepare();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        const int columns = e.state.registerMap.RELAY_SETTINGS_SIZE + 1;
        QCOMPARE(e.state.relaySettingsUser.colCount(), columns);
        fillCells(e.state.relaySettingsUser, "r");
        fillCells(e.state.sensorSettingsUser, "s");
        fillCells(e.state.tagUser, "t");
        const auto values = [&] {
            QStringList all;
            for (const TextGrid *g : {&e.state.relaySettingsUser, &e.state.sensorSettingsUser,
                                      &e.state.tagUser}) {
                const QStringList cells = allCells(*g);
                all += cells.mid(1); // the header row follows the language
            }
            return all;
        };
        const QStringList before = values();
        int shows = e.view.shows;
        const auto identifiedAgain = [&](const char *how) {
            QTRY_COMPARE_WITH_TIMEOUT(e.view.shows, shows + 1, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 3000);
            ++shows;
            QCOMPARE(e.state.relaySettingsUser.colCount(), columns);
            QVERIFY2(values() == before, how);
        };
        e.state.SwitchLanguage(1);
        identifiedAgain("language switch");
        if (QTest::currentTestFailed())
            return;
        QVERIFY(sim.command("offline").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.linkUp, 3000);
        QVERIFY(sim.command("online").startsWith("OK"));
        identifiedAgain("link lost and back");
        if (QTest::currentTestFailed())
            return;
        e.state.linkInterruptedByUser = true;
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.linkUp, 10000);
        e.state.linkInterruptedByUser = false;
        identifiedAgain("stop and start");
        if (QTest::currentTestFailed())
            return;
    }

#ifdef Q_OS_LINUX
    void pollThreadRunsAtNormalSchedulingWhileOnline()
    {
        startSim();
        prepare();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(schedulingPolicy(e.thread), SCHED_OTHER, 10000);
        QVERIFY(sim.command("offline").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.linkUp, 3000);
        // Identification fails from now on: idle again (SCHED_BATCH where SCHED_IDLE could
        // not be left).
        QTRY_VERIFY_WITH_TIMEOUT(schedulingPolicy(e.thread) == SCHED_IDLE ||
                                     schedulingPolicy(e.thread) == SCHED_BATCH,
                                 3000);
        QVERIFY(sim.command("online").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(schedulingPolicy(e.thread), SCHED_OTHER, 10000);
    }
#endif

    void offlineStepsAreSpacedWhateverThePeriod()
    {
        prepare();
        MemIniFile start("start.ini");
        start.writeString("connect", "port", QString()); // no port: nothing can answer
        QVERIFY(start.updateFile());
        MemIniFile def("default.ini");
        def.writeInteger("measure", "period", 0);
        QVERIFY(def.updateFile());
        // Eleven steps take at least ten offline floors: a lower bound, which no slow
        // machine can break; a busy loop makes them in a few milliseconds.
        QElapsedTimer t;
        t.start();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.thread.StepCount() >= 11, 20000);
        QVERIFY2(t.elapsed() >= 10 * QorThread::kOfflineFloorMs,
                 qPrintable(QString::number(t.elapsed())));
        QVERIFY(!e.state.linkUp);
    }

    // Ending the poll thread never runs the GUI's events in its wait (a nested loop would
    // let a click or a timer in while the window tears down): a step the thread queued
    // meanwhile is called off instead of let through.
    void stoppingRunsNoOtherEvents()
    {
        prepare();
        MemIniFile start("start.ini");
        start.writeString("connect", "port", QString());
        QVERIFY(start.updateFile());
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.thread.StepCount() >= 1, 10000);
        QThread::msleep(300); // the thread has queued its next step and waits for it
        bool timerRan = false;
        QTimer::singleShot(0, [&timerRan] { timerRan = true; });
        const int steps = e.thread.StepCount();
        e.thread.StopAndWait();
        QVERIFY(!e.thread.isRunning());
        QVERIFY(!timerRan);
        QCoreApplication::processEvents(); // the called-off step now finds nothing to do
        QVERIFY(timerRan);
        QCOMPARE(e.thread.StepCount(), steps);
    }

    void settingsFilesLoseNothingOnRewrite()
    {
        // default.ini is written back at every start; start.ini at a language switch.
        // Both begin with a byte-order mark and hold lines above their first section.
        const QByteArray def("\xEF\xBB\xBF; kept\r\nstray line\r\n[measure]\r\nperiod=250\r\n");
        const QByteArray start("\xEF\xBB\xBF[connect]\r\nport=/dev/null\r\nadr=17\r\n"
                               "[Memo2_lang0]\r\n  a = b\r\n");
        writeAll("default.ini", def);
        writeAll("start.ini", start);
        RecorderView view;
        MainState state(view);
        QCOMPARE(readAll("default.ini"), def);
        QCOMPARE(state.PollPeriodMs(), 250);
        QCOMPARE(state.settingsIni.readInteger("connect", "adr", 100), 17);
        state.SwitchLanguage(1);
        QCOMPARE(readAll("start.ini"), start + "\r\n[language]\r\nlang=1\r\n");
        QCOMPARE(state.settingsIni.sectionLines("Memo2_lang0"), QStringList{"  a = b"});
        QVERIFY(view.messages.isEmpty());
    }

    void unknownDeviceIsNotUsed()
    {
        startSim({"--device-code", "1234"});
        prepare();
        Engine e;
        QTRY_COMPARE_WITH_TIMEOUT(e.view.status[2], text(Msg::n103), 5000);
        QTest::qWait(300);
        QVERIFY(!e.state.linkUp);
        QVERIFY(e.view.messages.isEmpty());
    }

    void firmwareOneZeroAnswersTwoRegisters()
    {
        startSim({"--two-id-registers", "--fw", "0x0100", "--cfg",
                  QStringLiteral(VELMARIS_SOURCE_DIR "/data/Cfg/qor7070__fw_1_0.ini")});
        prepare();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        QCOMPARE(e.state.firmwareVersion, quint16(0x0100));
        QCOMPARE(e.view.status[3], QStringLiteral("Версия прошивки: FW 1.0 HW 0.0"));
    }

    void lateAnswersAreNeverTakenForTheNextRequest_data() { AddTransportRows(); }
    void lateAnswersAreNeverTakenForTheNextRequest()
    {
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim({"--sensors", "36"});
        prepare();
        QVERIFY(sim.command("freeze").startsWith("OK"));
        for (int s = 1; s <= 36; ++s) {
            QVERIFY(sim.command(QStringLiteral("set temp %1 5000").arg(s)).startsWith("OK"));
            QVERIFY(sim.command(QStringLiteral("set elapsed %1 7").arg(s)).startsWith("OK"));
            QVERIFY(sim.command(QStringLiteral("set status %1 0").arg(s)).startsWith("OK"));
        }
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        QVERIFY(sim.command("fault late rate=0.3,ms=200").startsWith("OK"));
        QElapsedTimer t;
        t.start();
        int checks = 0;
        while (t.elapsed() < 4000) {
            QTest::qWait(15);
            for (TextGrid *g : {&e.state.sensorsData, &e.state.sensorsData2})
                for (int row = 1; row < g->rowCountGrid(); ++row) {
                    const QString temp = g->cell(1, row), time = g->cell(3, row);
                    QVERIFY2(temp == "5000" || temp == "---" || temp.isEmpty(), qPrintable(temp));
                    QVERIFY2(time == "7" || time == "---" || time.isEmpty(), qPrintable(time));
                    ++checks;
                }
        }
        QVERIFY(checks > 0);
        QVERIFY(sim.logEntries("FAULT").size() > 0);
    }

    void portThatVanishesIsReopenedWhenItComesBack()
    {
        const QString link = folder->filePath("qor-port");
        startSim({"--link", link});
        prepare();
        MemIniFile start("start.ini");
        start.writeString("connect", "port", link);
        QVERIFY(start.updateFile());
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        sim.stop(); // the device is gone, as when a USB adapter is pulled out
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.linkUp, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(e.view.status[0], text(Msg::n87), 3000);
        startSim({"--link", link});
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        QCOMPARE(e.view.status[0], text(Msg::n101));
    }

    // The gateway drops the connection and refuses new ones for a while: the link is
    // reported down, the refused reconnections once as a port that cannot be opened, and
    // the controller is identified again once it listens. A drop alone is mended by the
    // next step's reconnection.
    void connectionDroppedAndRestored_data() { AddTransportRows(true); }
    void connectionDroppedAndRestored()
    {
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim();
        prepare();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        const int identifications = identificationRequests(sim);
        QVERIFY(sim.command("refuse 1500").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.linkUp, 3000);
        QCOMPARE(e.view.lamp, MainView::Lamp::Offline);
        QTRY_COMPARE_WITH_TIMEOUT(e.view.status[0], text(Msg::n87), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        QCOMPARE(e.view.status[0], text(Msg::n101));
        QCOMPARE(e.view.lamp, MainView::Lamp::Online);
        QCOMPARE(identificationRequests(sim), identifications + 1);
        QCOMPARE(e.view.statusLog.count(text(Msg::n87)), 1);
        const auto connections = [&] {
            return sim.logEntries("NOTE").filter(QStringLiteral("connection from")).size();
        };
        QCOMPARE(connections(), 2);
        QVERIFY(sim.command("drop").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 3, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 3000);
        const int polled = sim.logEntries("RX").size();
        QTRY_VERIFY_WITH_TIMEOUT(sim.logEntries("RX").size() > polled + 10, 3000);
        QVERIFY(e.view.messages.isEmpty());
    }

    void interruptResumeAndNewPortSettings()
    {
        startSim();
        prepare();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        const int identifications = identificationRequests(sim);
        // Saved connection settings: the port is reopened, no new identification.
        e.state.portSettingsChanged = true;
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.portSettingsChanged, 10000);
        QTest::qWait(300);
        QVERIFY(e.state.linkUp);
        QCOMPARE(identificationRequests(sim), identifications);
        // The user interrupts and resumes.
        e.state.linkInterruptedByUser = true;
        QTRY_VERIFY_WITH_TIMEOUT(!e.state.linkUp, 10000);
        QCOMPARE(e.view.status[0], text(Msg::n100));
        QCOMPARE(e.view.lamp, MainView::Lamp::Offline);
        const int silent = sim.logEntries("RX").size();
        QTest::qWait(400);
        QCOMPARE(sim.logEntries("RX").size(), silent); // port closed, nothing sent
        e.state.linkInterruptedByUser = false;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 3000);
        QCOMPARE(identificationRequests(sim), identifications + 1);
    }

    // The user leaves the sensor-settings page and comes back while one of its reads waits:
    // the new pass starts at sensor 1 and the copy is offered only after a complete one.
    void pageShownAgainDuringASettingsReadRestartsThePass_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("attempt");
        // Attempts of one step: relay state, settings of sensor index + 1, its tag.
        QTest::newRow("settings read of sensor 6") << 5 << 2;
        QTest::newRow("tag read of sensor 1") << 0 << 3;
    }
    void pageShownAgainDuringASettingsReadRestartsThePass()
    {
        QFETCH(int, index);
        QFETCH(int, attempt);
        startSim();
        prepare();
        Engine e;
        QTRY_VERIFY_WITH_TIMEOUT(e.state.linkUp, 5000);
        e.state.pollSensorData = false;
        int attempts = 0;
        e.view.onStatus = [&](int panel, const QString &) {
            if (panel == 2 && e.state.sensorSettingsReadIndex == index && ++attempts == attempt) {
                e.state.RelaySettingsShown();
                e.state.SensorSettingsShown();
            }
        };
        // The rows without an ID at the moment the copy is offered.
        QStringList unread{"none offered"};
        e.view.onCopyEnabled = [&](bool enabled) {
            if (!enabled || !unread.contains("none offered"))
                return;
            unread.clear();
            for (int row = 1; row <= 36; ++row)
                if (e.state.sensorSettings.cell(1, row).isEmpty())
                    unread << e.state.sensorSettings.cell(0, row);
        };
        e.state.SensorSettingsShown();
        QTRY_VERIFY_WITH_TIMEOUT(attempts >= attempt, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(e.state.sensorSettingsCopyEnabled, 10000);
        QCOMPARE(unread, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPoll)
#include "tst_poll.moc"
