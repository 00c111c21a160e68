// The plant against the simulator: several controllers on one line (and behind TCP),
// polled in turns. Values name their register and their controller, so a value shown
// under another controller or sensor is caught.
#include "ControllerFolder.h"
#include "ExpectedFrames.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "Plant.h"
#include "PlantConfig.h"
#include "PlantTexts.h"
#include "PollCycle.h"
#include "RecorderView.h"
#include "SensorRows.h"
#include "TrendRecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace ExpectedFrames;

namespace {

constexpr int kNamedStep = 0x1000; // the simulator's offset of the K-th controller's values

// The address of each request the simulator received, in order.
QList<int> RequestAddresses(const SimProcess &sim)
{
    QList<int> out;
    for (const QString &rx : sim.logEntries("RX"))
        out << rx.left(2).toInt(nullptr, 16);
    return out;
}

// Runs of one address collapsed: 1 1 1 2 2 3 ... -> 1 2 3 ...
QList<int> Turns(const QList<int> &addresses)
{
    QList<int> out;
    for (int a : addresses)
        if (out.isEmpty() || out.last() != a)
            out << a;
    return out;
}

struct QuietTrendHost : TrendHost {
    bool LinkUp() const override { return true; }
    void RequestAllTags() override {}
    void ShowPanel10(const QString &) override {}
    void HidePanel10() override {}
    void ShowStatus1(const QString &) override {}
    void SetTrendHint(const QString &) override {}
    bool SaveSettings() override { return true; }
};

} // namespace

class TestPlantBus : public ControllerFolderTest {
    Q_OBJECT

    QString work() const { return QDir::currentPath(); }

    // The shipped files, fast settings for a test, and plant.ini.
    void prepare(const PlantConfig &plant)
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_0.ini",
                                 "Cfg/qor7070__fw_1_1.ini", "Cfg/qor7070__fw_1_2.ini"}));
        MemIniFile start("start.ini");
        start.writeInteger("connect", "stopbits", 0);
        start.writeInteger("connect", "receive", 200);
        QVERIFY(start.updateFile());
        QString error;
        QVERIFY2(WritePlant(kPlantFileName, plant, error), qPrintable(error));
    }

    static PlantConfig OneLine(const QString &port, const QList<int> &addresses)
    {
        PlantConfig p;
        for (int a : addresses)
            p.controllers.push_back({QStringLiteral("C%1").arg(a), port, a, {}, {}, {}, {}});
        return p;
    }

    // Starts sim with one controller per address, the K-th naming its values with K.
    void startSim(SimProcess &s, const QList<int> &addresses, const QStringList &more = {},
                  bool named = true)
    {
        QStringList args{"--sensors", "12"};
        if (named)
            args << "--named-values";
        for (int a : addresses)
            args << "--address" << QString::number(a);
        QVERIFY2(StartShippedSim(s, args + more), qPrintable(s.errorText()));
    }

    static int Updates(QSignalSpy &spy, int index)
    {
        int n = 0;
        for (const QList<QVariant> &args : spy)
            n += args.at(0).toInt() == index;
        return n;
    }

    // Every value of the sensor grid stands under its sensor and its controller: the
    // K-th controller's register R reads R + K * 0x1000.
    static void CheckNamedValues(PlantController &c, int k)
    {
        MainState &s = c.state();
        const DeviceRegisterMap &m = s.registerMap;
        QVERIFY(s.sensorsData.rowCountGrid() > 1);
        for (TextGrid *g : {&s.sensorsData, &s.sensorsData2}) {
            for (int row = 1; row < g->rowCountGrid(); ++row) {
                const QString header = g->cell(0, row);
                if (header.isEmpty())
                    continue;
                const int sensor = header.section(u' ', -1).toInt();
                QVERIFY2(sensor >= 1, qPrintable(header));
                auto named = [&](quint16 base) {
                    return QString::number(quint16(base + sensor - 1 + k * kNamedStep));
                };
                QCOMPARE(g->cell(1, row), named(m.QOR_TEMPERATURE_ADDR));
                QCOMPARE(g->cell(3, row), named(m.QOR_TIMEELAPSED_ADDR));
            }
        }
        const PlantSummary sum = c.summary();
        QVERIFY(sum.linkUp);
        QCOMPARE(sum.firmware, QStringLiteral("1.2"));
        QVERIFY(sum.hottest == 0 || sum.hottestTemp ==
                                        double(quint16(m.QOR_TEMPERATURE_ADDR + sum.hottest - 1 + k * kNamedStep)));
    }

private slots:
    // Four controllers on one line: each value under its own controller and sensor, steps
    // never interleaved (each turn is one controller's), turns in a fair rotation.
    void fourOnOneLine_data()
    {
        QTest::addColumn<QStringList>("pace");
        QTest::newRow("unpaced") << QStringList();
        QTest::newRow("paced 9600") << QStringList{"--pace", "--baud", "9600"};
    }
    void fourOnOneLine()
    {
        QFETCH(QStringList, pace);
        const QList<int> addresses{1, 2, 3, 4};
        startSim(sim, addresses, pace);
        const PlantConfig config = OneLine(sim.portSetting(), addresses);
        prepare(config);
        Plant plant(work(), config);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        QCOMPARE(plant.size(), 4);
        for (int i = 0; i < 4; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 4 && plant.controller(i).summary().linkUp, 30000);
        plant.Stop();
        for (int i = 0; i < 4; ++i)
            CheckNamedValues(plant.controller(i), i);
        // Each turn is one controller's, in the order of plant.ini, round and round.
        const QList<int> turns = Turns(RequestAddresses(sim));
        QVERIFY(turns.size() >= 12);
        for (int t = 0; t < turns.size(); ++t)
            QCOMPARE(turns[t], addresses[t % 4]);
        // The controllers' folders hold their own settings, at their own address.
        for (int i = 0; i < 4; ++i) {
            MemIniFile own(QDir(plant.controller(i).place().folder).filePath("start.ini"));
            QCOMPARE(own.readInteger("connect", "adr", 0), addresses[i]);
        }
    }

    // One switched off: the others keep their turns; it is asked again once per retry
    // (one attempt, not three), and comes back when switched on.
    void oneSwitchedOffAndBack()
    {
        const QList<int> addresses{1, 2, 3, 4};
        startSim(sim, addresses);
        const PlantConfig config = OneLine(sim.portSetting(), addresses);
        prepare(config);
        Plant plant(work(), config);
        plant.setLostRetryMs(1000);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        for (int i = 0; i < 4; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(plant.controller(i).summary().linkUp, 20000);
        QCOMPARE(sim.command("@3 offline"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!plant.controller(2).summary().linkUp, 20000);
        // The step that found it silent, then one that tried to identify it (three
        // attempts, as any identification): from then on it counts as lost.
        updated.clear();
        QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, 2) >= 1, 20000);
        const int lostAt = RequestAddresses(sim).size();
        updated.clear();
        // While it is off the others keep polling, and it is retried.
        for (int i : {0, 1, 3})
            QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 20, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(RequestAddresses(sim).mid(lostAt).count(3) >= 2, 20000);
        QVERIFY(!plant.controller(2).summary().linkUp);
        // A retry is one request: never two to address 3 in a row.
        const QList<int> after = RequestAddresses(sim).mid(lostAt);
        for (int k = 1; k < after.size(); ++k)
            QVERIFY2(!(after[k] == 3 && after[k - 1] == 3), "a lost controller asked twice in a row");
        QCOMPARE(sim.command("@3 online"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(plant.controller(2).summary().linkUp, 20000);
        const int back = Updates(updated, 2);
        QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, 2) >= back + 3, 20000);
        plant.Stop();
        CheckNamedValues(plant.controller(2), 2);
    }

    // While no controller answers nobody is held up: a lost one is tried every
    // [measure] period, not every retry time, so a line that comes back is found at once.
    // (Once one answers, the others wait their retry time again.)
    void allOfflineTriedEveryPeriod()
    {
        startSim(sim, {1, 2});
        QCOMPARE(sim.command("@1 offline"), QStringLiteral("OK"));
        const PlantConfig config = OneLine(sim.portSetting(), {1});
        prepare(config);
        Plant plant(work(), config);
        plant.setLostRetryMs(600000);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, 0) >= 2, 30000);
        QVERIFY(!plant.controller(0).summary().linkUp);
        QCOMPARE(sim.command("@1 online"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(plant.controller(0).summary().linkUp, 30000);
        plant.Stop();
    }

    // A connection write moves only its controller (and plant.ini follows it); one that
    // changes the line's speed, or takes another's address, is refused and nothing sent.
    void connectionWrites()
    {
        const QList<int> addresses{1, 2, 3, 4};
        startSim(sim, addresses);
        const PlantConfig config = OneLine(sim.portSetting(), addresses);
        prepare(config);
        Plant plant(work(), config);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        for (int i = 0; i < 4; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(plant.controller(i).summary().linkUp, 20000);
        MainState &s = plant.controller(3).state();
        QTRY_VERIFY_WITH_TIMEOUT(s.connectCopyRead, 10000);
        QStringList shown;
        const ShowMessage show = [&shown](const QString &, const QString &t) { shown << t; };

        struct Refused {
            const char *name;
            ConnectUserValues values;
            const TextKey &key;
        };
        const Refused refused[] = {
            {"speed", {"4", 4, 0, 0, "1", 0}, Msg::n652},
            {"parity", {"4", 0, 2, 0, "1", 0}, Msg::n652},
            {"taken address", {"2", 0, 0, 0, "1", 0}, Msg::n653},
        };
        for (const Refused &r : refused) {
            shown.clear();
            QVERIFY2(!s.RequestConnectWrite(r.values, show), r.name);
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown[0].startsWith(LookupText(plant.settings(), r.key)), qPrintable(shown[0]));
        }
        QVERIFY(!s.writeConnectSettingsRequested);

        shown.clear();
        QVERIFY(s.RequestConnectWrite({"9", 0, 0, 0, "1", 0}, show));
        QCOMPARE(shown, QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(!s.writeConnectSettingsRequested, 20000);
        QVERIFY(s.lastWriteSucceeded);
        QCOMPARE(writes(sim), QStringList{writeMultiple(4, s.registerMap.CONNECT_SETTINGS_ADDR,
                                                        {9, 0, 0, 1, 1, 0})});
        QCOMPARE(plant.controller(3).entry().address, 9);
        PlantConfig back;
        QVERIFY2(ReadPlant(kPlantFileName, plant.settings(), work(), back, error), qPrintable(error));
        PlantConfig expected = config;
        expected.controllers[3].address = 9;
        QCOMPARE(back, expected);
        // It answers at 9 now; the others where they were.
        const int at = RequestAddresses(sim).size();
        updated.clear();
        for (int i = 0; i < 4; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 3 && plant.controller(i).summary().linkUp, 20000);
        plant.Stop();
        const QList<int> later = RequestAddresses(sim).mid(at);
        QVERIFY(later.contains(9));
        QVERIFY(!later.contains(4));
        for (int a : {1, 2, 3})
            QVERIFY(later.contains(a));
    }

    // A write-back on one controller goes out between the others' steps: exactly its
    // frames at its address, and the others see no write.
    void writeBackWhileOthersPoll_data()
    {
        QTest::addColumn<QStringList>("pace");
        QTest::newRow("unpaced") << QStringList();
        QTest::newRow("paced 19200") << QStringList{"--pace", "--baud", "19200"};
    }
    void writeBackWhileOthersPoll()
    {
        QFETCH(QStringList, pace);
        const QList<int> addresses{1, 2, 3};
        // Plain values: the write's checks take the relay table as the controller holds it.
        startSim(sim, addresses, pace, false);
        PlantConfig config = OneLine(sim.portSetting(), addresses);
        if (!pace.isEmpty())
            for (PlantEntry &e : config.controllers)
                e.speed = 1;
        prepare(config);
        Plant plant(work(), config);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(plant.controller(i).summary().linkUp, 20000);
        MainState &s = plant.controller(1).state();
        s.RelaySettingsShown();
        const int last = s.registerMap.RELAY_NUMBER;
        QTRY_VERIFY_WITH_TIMEOUT(!s.relaySettings.cell(1, last).isEmpty(), 20000);
        CopyRelayRows(s.relaySettings, s.relaySettingsUser);
        s.relaySettingsUser.setCell(3, 2, "17");
        const quint16 mode = quint16((s.relaySettings.cell(1, 1).toInt() + 1) % 3); // 0..2
        s.relaySettingsUser.setCell(1, 1, QString::number(mode));
        QStringList shown;
        const bool asked = s.RequestRelayWrite([&shown](const QString &, const QString &t) { shown << t; });
        QVERIFY2(asked, qPrintable(shown.join(" / ")));
        QCOMPARE(shown, QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(!s.writeRelaySettingsRequested, 20000);
        QVERIFY(s.lastWriteSucceeded);
        const quint16 base = s.registerMap.RELAY_SETTINGS_ADDR;
        const quint16 step = s.registerMap.RELAY_SETTINGS_STEP;
        QCOMPARE(writes(sim), (QStringList{writeSingle(2, base, mode), writeSingle(2, base + step + 2, 17)}));
        QCOMPARE(sim.command(QStringLiteral("@2 get %1").arg(base + step + 2)), QStringLiteral("OK 17"));
        updated.clear();
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 2, 20000);
        plant.Stop();
        // The turns stayed whole around the write.
        const QList<int> turns = Turns(RequestAddresses(sim));
        for (int t = 0; t < turns.size(); ++t)
            QCOMPARE(turns[t], addresses[t % 3]);
    }

    // The plant view's counts come from each controller's own statuses: sensors set on
    // one controller never show under another, nor do its alarms when a history is kept.
    void summaryCountsPerController_data()
    {
        QTest::addColumn<bool>("history");
        QTest::newRow("no history") << false;
        QTest::newRow("history") << true;
    }
    void summaryCountsPerController()
    {
        QFETCH(bool, history);
        startSim(sim, {1, 2}, {}, false);
        const PlantConfig config = OneLine(sim.portSetting(), {1, 2});
        prepare(config);
        for (const char *c : {"@2 set status 3 10", "@2 set status 4 20", "@2 set status 5 1",
                              "@2 set status 6 2", "@2 set status 7 0", "@2 set temp 7 140",
                              "@2 set status 8 40"})
            QVERIFY2(sim.command(c).startsWith("OK"), c);
        Plant plant(work(), config);
        plant.setHistory(history);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        for (int i = 0; i < 2; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 3 && plant.controller(i).summary().lastUpdateMs > 0, 20000);
        if (history) {
            // Each row counts its own controller's waiting alarms, not the store's.
            const auto waiting = [&](int i) {
                EventFilter f;
                f.alarmsOnly = f.unacknowledgedOnly = true;
                f.controller = plant.controller(i).history()->controllerId();
                return f.controller ? int(plant.store()->Events(f).size()) : -2;
            };
            for (int i = 0; i < 2; ++i)
                QTRY_VERIFY_WITH_TIMEOUT(plant.controller(i).summary().alarms > 0 &&
                                             plant.controller(i).summary().alarms == waiting(i),
                                         20000);
        }
        plant.Stop();
        const PlantSummary one = plant.controller(0).summary(), two = plant.controller(1).summary();
        using V = std::vector<int>;
        // 12 registered; the last three report 10, 20 and 30 (the simulator's own).
        QCOMPARE(one.registered, 12);
        QCOMPARE(one.noPower, V{10});
        QCOMPARE(one.faulty, V{11});
        QCOMPARE(two.registered, 11);
        QCOMPARE(two.noPower, (V{3, 10}));
        QCOMPARE(two.faulty, (V{4, 11}));
        QVERIFY(std::find(two.overThreshold1.begin(), two.overThreshold1.end(), 5) != two.overThreshold1.end());
        QVERIFY(std::find(two.overThreshold2.begin(), two.overThreshold2.end(), 6) != two.overThreshold2.end());
        QCOMPARE(two.hottest, 7);
        QCOMPARE(two.hottestTemp, 140.0);
        QVERIFY(one.hottest != 0 && one.hottestTemp < 140);
        QCOMPARE(two.firmware, QStringLiteral("1.2"));
        QCOMPARE(two.deviceCode, quint16(3126));
        if (!history)
            QCOMPARE(two.alarms, -1);
    }

    // A controller that is lost never closes the line the others use: over a connection
    // the simulator sees one connection for the whole run.
    void lostControllerKeepsTheLineOpen_data()
    {
        QTest::addColumn<SimProcess::Transport>("transport");
        QTest::newRow("tcp") << SimProcess::Transport::TcpRtu;
        QTest::newRow("mbtcp") << SimProcess::Transport::TcpMbap;
    }
    void lostControllerKeepsTheLineOpen()
    {
        QFETCH(SimProcess::Transport, transport);
        sim.setTransport(transport);
        startSim(sim, {1, 2});
        QCOMPARE(sim.command("@2 offline"), QStringLiteral("OK"));
        const PlantConfig config = OneLine(sim.portSetting(), {1, 2});
        prepare(config);
        Plant plant(work(), config);
        plant.setLostRetryMs(200);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, 1) >= 4 && Updates(updated, 0) >= 4, 30000);
        plant.Stop();
        QVERIFY(plant.controller(0).summary().linkUp);
        QVERIFY(!plant.controller(1).summary().linkUp);
        QCOMPARE(sim.logEntries("NOTE").filter(QRegularExpression("^connection from ")).size(), 1);
    }

    // With the history on, one store in the working folder keeps every controller apart.
    void historyKeepsEveryController()
    {
        startSim(sim, {1, 2, 3}, {}, false);
        const PlantConfig config = OneLine(sim.portSetting(), {1, 2, 3});
        prepare(config);
        {
            Plant plant(work(), config);
            plant.setHistory(true);
            QSignalSpy updated(&plant, &Plant::controllerUpdated);
            QString error;
            QVERIFY2(plant.Start(error), qPrintable(error));
            QVERIFY(plant.store());
            for (int i = 0; i < 3; ++i)
                QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 3, 20000);
            QCOMPARE(plant.controller(0).summary().alarms >= 0, true);
            // A window opened on a controller and closed again is no start of the program.
            PlantController &c = plant.controller(1);
            {
                RecorderView view;
                MainState window(view, c.place());
                PollCycle windowCycle(window);
                window.SensorDataShown();
                c.Attach(window, windowCycle);
                updated.clear();
                QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, 1) >= 2, 20000);
                c.Release();
                QTRY_VERIFY_WITH_TIMEOUT(!c.Stepping(), 20000);
            }
            plant.Stop();
            plant.store()->Flush();
            QSet<int> kept;
            for (const HistoryControllerRow &row : plant.store()->Controllers()) {
                QCOMPARE(row.controller.port, sim.portSetting());
                kept << row.controller.address;
            }
            QCOMPARE(kept, (QSet<int>{1, 2, 3}));
        }
        QVERIFY(QFileInfo::exists(QDir(work()).filePath(HistoryStore::kFileName)));
        HistoryStore store(work());
        QVERIFY2(store.OpenToRead(), qPrintable(store.problem()));
        EventFilter started, stopped;
        started.kinds = {EventKind::ProgramStarted};
        stopped.kinds = {EventKind::ProgramStopped};
        QCOMPARE(store.Events(started).size(), size_t(1));
        QCOMPARE(store.Events(stopped).size(), size_t(1));
    }

    // A controller whose folder cannot be made (a file stands in its place): Start says
    // so and nothing polls.
    void folderThatCannotBeMade()
    {
        const PlantConfig config = OneLine(QStringLiteral("/dev/ttyS0"), {1, 2});
        prepare(config);
        QFile blocker(PlantControllerFolder(work(), "C2"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Plant plant(work(), config);
        QString error;
        QVERIFY(!plant.Start(error));
        QVERIFY2(error.startsWith(LookupText(plant.settings(), Msg::n656)), qPrintable(error));
        QCOMPARE(plant.size(), 0);
    }

    // A window takes a controller over: its own engine, built on the controller's place,
    // steps on the bus in that controller's turn (its settings from the controller's
    // folder, its values its controller's), the others go on; released, the headless
    // engine takes the turn back.
    void windowAttachedAndReleased()
    {
        startSim(sim, {1, 2, 3});
        const PlantConfig config = OneLine(sim.portSetting(), {1, 2, 3});
        prepare(config);
        Plant plant(work(), config);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(plant.controller(i).summary().linkUp, 20000);
        PlantController &c = plant.controller(1);
        {
            RecorderView view;
            MainState window(view, c.place());
            PollCycle windowCycle(window);
            window.SensorDataShown();
            QCOMPARE(window.settingsIni.readInteger("connect", "adr", 0), 2);
            QCOMPARE(QFileInfo(window.settingsIni.fileName()).absolutePath(),
                     QFileInfo(c.place().folder).absoluteFilePath());
            c.Attach(window, windowCycle);
            QVERIFY(c.Attached());
            QCOMPARE(&c.state(), &window);
            QTRY_VERIFY_WITH_TIMEOUT(window.linkUp && window.sensorsData.rowCountGrid() > 2 &&
                                         !window.sensorsData.cell(1, 1).isEmpty(), 20000);
            updated.clear();
            for (int i = 0; i < 3; ++i)
                QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 3, 20000);
            CheckNamedValues(c, 1);
            QCOMPARE(view.lamp, MainView::Lamp::Online);
            c.Release();
            QVERIFY(!c.Attached());
            QTRY_VERIFY_WITH_TIMEOUT(!c.Stepping(), 20000);
        }
        updated.clear();
        QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, 1) >= 3 && c.state().linkUp, 20000);
        plant.Stop();
        for (int i = 0; i < 3; ++i)
            CheckNamedValues(plant.controller(i), i);
    }

    // A controller's files live in its place's folder: its settings, its defaults and
    // the trend files; without a place, the working folder as ever.
    void filesInTheControllersFolder_data()
    {
        QTest::addColumn<QString>("sub");
        QTest::newRow("plant controller") << QStringLiteral("Cold room");
        QTest::newRow("single window") << QString();
    }
    void filesInTheControllersFolder()
    {
        QFETCH(QString, sub);
        QVERIFY(CopyShippedData({"start.ini"}));
        const QString folder = sub.isEmpty() ? work() : QDir(work()).filePath(sub);
        QVERIFY(QDir().mkpath(folder));
        if (!sub.isEmpty())
            QVERIFY(QFile::copy("start.ini", QDir(folder).filePath("start.ini")));
        RecorderView view;
        ControllerPlace place;
        place.folder = sub.isEmpty() ? QString() : folder;
        MainState state(view, place);
        QCOMPARE(QFileInfo(state.folder()).canonicalFilePath(), QFileInfo(folder).canonicalFilePath());
        QVERIFY(QFileInfo::exists(QDir(folder).filePath("default.ini")));
        QuietTrendHost host;
        TrendRecorder recorder(state.settingsIni, host);
        recorder.ButtonStartFileClick();
        QVERIFY(QFileInfo(QDir(folder).filePath("Trends")).isDir());
        if (!sub.isEmpty()) {
            QVERIFY(!QFileInfo::exists(QDir(work()).filePath("Trends")));
            QVERIFY(!QFileInfo::exists(QDir(work()).filePath("default.ini")));
        }
    }

    // A serial line with two, an RTU-over-TCP and a Modbus TCP controller at once: each
    // simulator hears only its own addresses, every controller comes up.
    void serialTcpAndModbusTcp()
    {
        SimProcess rtu(SimProcess::Transport::TcpRtu), mbap(SimProcess::Transport::TcpMbap);
        startSim(sim, {1, 2});
        startSim(rtu, {5});
        startSim(mbap, {6});
        PlantConfig config = OneLine(sim.portSetting(), {1, 2});
        config.controllers.push_back({"rtu", rtu.portSetting(), 5, {}, {}, {}, {}});
        config.controllers.push_back({"mbap", mbap.portSetting(), 6, {}, {}, {}, {}});
        prepare(config);
        Plant plant(work(), config);
        QSignalSpy updated(&plant, &Plant::controllerUpdated);
        QString error;
        QVERIFY2(plant.Start(error), qPrintable(error));
        for (int i = 0; i < 4; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(Updates(updated, i) >= 3 && plant.controller(i).summary().linkUp, 20000);
        plant.Stop();
        const int k[] = {0, 1, 0, 0}; // each controller's place in its simulator
        for (int i = 0; i < 4; ++i)
            CheckNamedValues(plant.controller(i), k[i]);
        const QList<int> p = RequestAddresses(sim), r = RequestAddresses(rtu), m = RequestAddresses(mbap);
        QCOMPARE(QSet<int>(p.begin(), p.end()), (QSet<int>{1, 2}));
        QCOMPARE(QSet<int>(r.begin(), r.end()), QSet<int>{5});
        QCOMPARE(QSet<int>(m.begin(), m.end()), QSet<int>{6});
    }
};

QTEST_GUILESS_MAIN(TestPlantBus)
#include "tst_plant_bus.moc"
