// The history of an engine against qor7070-sim: what the poll cycle reads, the link's ups
// and downs and the write-backs become exactly the events, readings and audit rows
// expected; the settings pages still read the live data; alarms last until acknowledged.
#include "ControllerFolder.h"
#include "ExpectedFrames.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "HistoryTexts.h"
#include "MainState.h"
#include "MainView.h"
#include "PollCycle.h"
#include "RecorderView.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "TrendPolling.h"
#include "TrendReader.h"
#include "WriteBack.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

QString text(const TextKey &k) {
    return QString::fromUtf16(k.russian);
}

// The program without the window, stepped by the test, its history on a clock of the
// test's own: a step is a second unless told otherwise.
struct Engine {
    RecorderView view;
    MainState state{view};
    PollCycle cycle{state};
    qint64 clock = QDateTime::currentMSecsSinceEpoch();
    std::unique_ptr<HistoryStore> store;
    std::unique_ptr<HistoryService> history;

    Engine() { open(); }
    ~Engine() {
        history.reset();
        store.reset();
    }
    void open() {
        store = std::make_unique<HistoryStore>(QDir::currentPath(),
                                               HistoryLimitsFrom(state.settingsIni));
        QVERIFY(store->Open());
        history = std::make_unique<HistoryService>(*store, state, cycle, [this] { return clock; });
    }
    // The program closed and started again on the same file (the link stays as it is).
    void restart() {
        history.reset();
        store.reset();
        open();
    }
    void step(qint64 advanceMs = 1000) {
        clock += advanceMs;
        cycle.PollCycleStep();
        QCoreApplication::processEvents();
    }
    bool stepUntil(const std::function<bool()> &done, int steps = 30) {
        for (int i = 0; i < steps && !done(); ++i)
            step();
        return done();
    }
    // Every event so far, oldest first, as "kind subject code previous [alarm] text".
    QStringList events() {
        store->Flush();
        std::vector<HistoryEvent> all = store->Events(EventFilter{});
        std::reverse(all.begin(), all.end());
        QStringList out;
        for (const HistoryEvent &e : all)
            out << line(e);
        return out;
    }
    static QString line(const HistoryEvent &e) {
        QString s = QStringLiteral("%1 %2 %3 %4")
                        .arg(int(e.kind))
                        .arg(e.subject)
                        .arg(e.code)
                        .arg(e.previous);
        if (e.alarm)
            s += QStringLiteral(" alarm");
        if (!e.text.isEmpty())
            s += u' ' + e.text;
        return s;
    }
    // A sensor's kept rows as "status/temperature", oldest first.
    QStringList sensorRows(int sensor) {
        store->Flush();
        QStringList out;
        for (const SensorSeries &s : store->SensorReadings(history->controllerId(), 0, clock + 1))
            if (s.sensor == sensor)
                for (size_t i = 0; i < s.status.size(); ++i)
                    out << QStringLiteral("%1/%2").arg(s.status[i]).arg(s.temperature[i]);
        return out;
    }
    QStringList relayRows(int relay) {
        store->Flush();
        QStringList out;
        for (const RelaySeries &r : store->RelayReadings(history->controllerId(), 0, clock + 1))
            if (r.relay == relay)
                for (quint8 on : r.on)
                    out << QString::number(on);
        return out;
    }
    static qsizetype statusReads(const SimProcess &sim, quint8 address = 100) {
        return sim.logEntries("RX").count(ExpectedFrames::readRequest(address, 0x0140, 36));
    }
};

QString ev(EventKind kind, int subject = 0, int code = 0, int previous = -1, bool alarm = false,
           const QString &text = {}) {
    HistoryEvent e;
    e.kind = kind;
    e.subject = subject;
    e.code = code;
    e.previous = previous;
    e.alarm = alarm;
    e.text = text;
    return Engine::line(e);
}

} // namespace

class TestHistoryEngine : public ControllerFolderTest {
    Q_OBJECT

    void prepare(const QStringList &history = {}) {
        const WorkingFolder &dir = *folder;
        QVERIFY(CopyShippedData({QStringLiteral("Cfg/qor7070__fw_1_2.ini")}, dir.filePath(".")));
        MemIniFile start(dir.filePath("start.ini"));
        start.writeString("connect", "port", sim.portSetting());
        start.writeInteger("connect", "stopbits", 0);
        // Long enough that a loaded machine does not starve a paced read into a time-out
        // (and a link-lost event the script did not make).
        start.writeInteger("connect", "receive", 500);
        for (const QString &kv : history)
            start.writeString("history", kv.section('=', 0, 0), kv.section('=', 1));
        QVERIFY(start.updateFile());
    }
    void command(const QString &line) {
        QVERIFY2(sim.command(line).startsWith("OK"), qPrintable(line));
    }

    // 12 sensors, time standing still: 1..9 on the air at 100 + sensor, 10..12 without
    // power, faulty and undetermined; the four relays off.
    void startScriptedSim(bool paced, const QStringList &history = {}) {
        QStringList args = {"--sensors", "12"};
        if (paced)
            args << "--pace";
        QVERIFY2(StartShippedSim(sim, args), qPrintable(sim.errorText()));
        prepare(history);
        command("freeze");
        for (int s = 1; s <= 12; ++s)
            command(QStringLiteral("set temp %1 %2").arg(s).arg(100 + s));
        for (int s = 1; s <= 9; ++s)
            command(QStringLiteral("set status %1 0").arg(s));
        for (int r = 1; r <= 4; ++r)
            command(QStringLiteral("set relay %1 0").arg(r));
    }

private slots:
    // The shipped start.ini holds every text of the history: the Russian of the code in
    // [lang0], English in [lang1].
    void textsShipped() {
        QVERIFY(CopyShippedData({"start.ini"}));
        const MemIniFile start("start.ini");
        const QRegularExpression cyrillic("[\\x{0400}-\\x{04FF}]");
        for (const TextKey &k : Msg::history) {
            QCOMPARE(start.readString("lang0", k.key, {}), text(k));
            const QString english = start.readString("lang1", k.key, {});
            QVERIFY2(!english.isEmpty() && !english.contains(cyrillic), k.key);
        }
        HistoryEvent e;
        e.kind = EventKind::SensorStatus;
        e.subject = 7;
        e.code = 10;
        e.previous = 0;
        QCOMPARE(HistoryEventText(e, start),
                 QStringLiteral("Датчик 7: НЕТ ПИТАНИЯ (было В ЭФИРЕ)"));
        e.code = 99;
        QCOMPARE(HistoryEventText(e, start), QStringLiteral("Датчик 7: ------- (было В ЭФИРЕ)"));
    }

    // [history] alarms: the kinds marked, the default when the key is missing.
    void alarmRules_data() {
        QTest::addColumn<QString>("setting"); // "-": no key
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("alarm");
        const int status = int(EventKind::SensorStatus);
        QTest::newRow("default: threshold 1") << "-" << status << 1 << true;
        QTest::newRow("default: threshold 2") << "-" << status << 2 << true;
        QTest::newRow("default: no power") << "-" << status << 10 << true;
        QTest::newRow("default: faulty") << "-" << status << 20 << true;
        QTest::newRow("default: undetermined") << "-" << status << 30 << false;
        QTest::newRow("default: on the air") << "-" << status << 0 << false;
        QTest::newRow("default: unknown code") << "-" << status << 99 << false;
        QTest::newRow("default: link long") << "-" << int(EventKind::LinkDownLong) << 30 << true;
        QTest::newRow("default: link lost") << "-" << int(EventKind::LinkLost) << 0 << false;
        QTest::newRow("default: relay") << "-" << int(EventKind::RelaySwitched) << 1 << false;
        QTest::newRow("listed: undetermined") << "30, unknown" << status << 30 << true;
        QTest::newRow("listed: unknown code") << "30, unknown" << status << 99 << true;
        QTest::newRow("not listed: threshold 1") << "30, unknown" << status << 1 << false;
        QTest::newRow("not listed: link")
            << "30, unknown" << int(EventKind::LinkDownLong) << 30 << false;
        QTest::newRow("relay on") << "relay" << int(EventKind::RelaySwitched) << 1 << true;
        QTest::newRow("relay off") << "relay" << int(EventKind::RelaySwitched) << 0 << false;
        QTest::newRow("none") << "" << status << 10 << false;
    }
    void alarmRules() {
        QFETCH(QString, setting);
        QFETCH(int, kind);
        QFETCH(int, code);
        QFETCH(bool, alarm);
        MemIniFile ini("start.ini");
        if (setting != "-")
            ini.writeString("history", "alarms", setting);
        HistoryEvent e;
        e.kind = EventKind(kind);
        e.code = code;
        QCOMPARE(HistoryAlarmRulesFrom(ini).IsAlarm(e), alarm);
    }

    // A run with status changes, a relay switch, a temperature change, the minute's rows,
    // a lost link and a relay write: exactly these events and rows, each value under its
    // own sensor (temperature 100 + sensor).
    void scriptedRun_data() {
        QTest::addColumn<bool>("paced");
        QTest::newRow("unpaced") << false;
        QTest::newRow("paced 9600") << true;
    }
    void scriptedRun() {
        QFETCH(bool, paced);
        startScriptedSim(paced);
        Engine e;
        e.state.pollSensorData = true;
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));

        command("set status 3 1"); // threshold 1: an alarm
        e.step();
        command("set status 5 40"); // sensor 5 leaves
        command("set status 20 0"); // sensor 20 joins (at 20 degrees)
        e.step();
        command("set status 4 99"); // a code outside the table
        command("set relay 2 1");
        command("set temp 6 150"); // a reading, no event
        e.step();
        e.step(61000); // a minute: every registered sensor and relay again
        command("offline");
        QVERIFY(e.stepUntil([&] { return !e.state.linkUp; }, 5));
        const QString failure = e.view.status[0];
        QVERIFY(!failure.isEmpty());
        e.step(31000); // lost longer than 30 s: an alarm
        command("online");
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));

        const QString id = QStringLiteral("FW 1.2 HW 1.0");
        QStringList expected = {ev(EventKind::ProgramStarted),
                                ev(EventKind::Identified, 0, 3126, -1, false, id)};
        for (int s = 1; s <= 9; ++s)
            expected << ev(EventKind::SensorStatus, s, 0);
        expected << ev(EventKind::SensorStatus, 10, 10, -1, true)
                 << ev(EventKind::SensorStatus, 11, 20, -1, true)
                 << ev(EventKind::SensorStatus, 12, 30, -1)
                 << ev(EventKind::SensorStatus, 3, 1, 0, true)
                 << ev(EventKind::SensorStatus, 5, 40, 0) << ev(EventKind::SensorStatus, 20, 0, 40)
                 << ev(EventKind::RelaySwitched, 2, 1, 0) << ev(EventKind::SensorStatus, 4, 99, 0)
                 << ev(EventKind::LinkLost, 0, 0, -1, false, failure)
                 << ev(EventKind::LinkDownLong, 0, 30, -1, true, failure)
                 << ev(EventKind::LinkBack);
        QCOMPARE(e.events(), expected);
        QTRY_COMPARE(e.history->unacknowledgedAlarms(), 4);

        // First read, the change, the minute, after the link came back.
        QCOMPARE(e.sensorRows(1), QStringList({"0/101", "0/101", "0/101"}));
        QCOMPARE(e.sensorRows(3), QStringList({"0/103", "1/103", "1/103", "1/103"}));
        QCOMPARE(e.sensorRows(4), QStringList({"0/104", "99/104", "99/104", "99/104"}));
        QCOMPARE(e.sensorRows(6), QStringList({"0/106", "0/150", "0/150", "0/150"}));
        QCOMPARE(e.sensorRows(11), QStringList({"20/111", "20/111", "20/111"}));
        // Gone: its change, then nothing of it in the minute; joined: from then on.
        QCOMPARE(e.sensorRows(5), QStringList({"0/105", "40/0", "40/0"}));
        QCOMPARE(e.sensorRows(20), QStringList({"40/0", "0/20", "0/20", "0/20"}));
        QCOMPARE(e.sensorRows(30), QStringList({"40/0", "40/0"}));
        QCOMPARE(e.relayRows(2), QStringList({"0", "1", "1", "1"}));
        QCOMPARE(e.relayRows(1), QStringList({"0", "0", "0"}));
    }

    // The first reading after a start is a change only where it differs from what the
    // store kept last; the alarms of the run before are still waiting and go only when
    // acknowledged, one or all.
    void restartKeepsStatusesAndAlarms() {
        startScriptedSim(false);
        Engine e;
        e.state.pollSensorData = true;
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.step();
        QTRY_COMPARE(e.history->unacknowledgedAlarms(), 2); // sensors 10 and 11
        const QString latest = e.history->latestAlarmText();
        QVERIFY2(latest.contains(text(Msg::n108)), qPrintable(latest));

        command("set status 8 10"); // while the program is closed
        e.restart();
        QCOMPARE(e.history->unacknowledgedAlarms(), 2);
        QVERIFY(e.history->latestAlarmText().contains(text(Msg::n108)));
        const QStringList restarted = e.events();
        QCOMPARE(restarted.mid(restarted.size() - 2),
                 QStringList({ev(EventKind::ProgramStopped), ev(EventKind::ProgramStarted)}));
        e.state.linkUp = false; // the window starting again identifies first
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.step();
        QCOMPARE(e.events().mid(restarted.size()),
                 QStringList({ev(EventKind::Identified, 0, 3126, -1, false, "FW 1.2 HW 1.0"),
                              ev(EventKind::SensorStatus, 8, 10, 0, true)}));
        QTRY_COMPARE(e.history->unacknowledgedAlarms(), 3);

        QSignalSpy changed(e.history.get(), &HistoryService::alarmsChanged);
        EventFilter waiting;
        waiting.alarmsOnly = true;
        waiting.unacknowledgedOnly = true;
        const std::vector<HistoryEvent> alarms = e.store->Events(waiting);
        QCOMPARE(int(alarms.size()), 3);
        e.store->Acknowledge(alarms.front().id, e.clock);
        QTRY_COMPARE(e.history->unacknowledgedAlarms(), 2);
        QVERIFY(!changed.isEmpty());
        e.restart();
        QCOMPARE(e.history->unacknowledgedAlarms(), 2);
        e.store->Acknowledge(0, e.clock);
        QTRY_COMPARE(e.history->unacknowledgedAlarms(), 0);
        QCOMPARE(e.history->latestAlarmText(), QString());
        // The condition is still there: no new alarm without a new change.
        e.step();
        e.step();
        QCOMPARE(e.history->unacknowledgedAlarms(), 0);
    }

    // On the settings pages the live data is read every [history] live seconds between
    // the page's own reads, and its changes reach the history.
    void settingsPagesReadLiveData_data() {
        QTest::addColumn<int>("page"); // 0 sensor settings, 1 relays, 2 connection, 3 profiles
        QTest::newRow("sensor settings") << 0;
        QTest::newRow("relay settings") << 1;
        QTest::newRow("connection") << 2;
        QTest::newRow("profiles") << 3;
    }
    void settingsPagesReadLiveData() {
        QFETCH(int, page);
        startScriptedSim(false, {"live=10"});
        Engine e;
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        switch (page) {
        case 0:
            e.state.SensorSettingsShown();
            break;
        case 1:
            e.state.RelaySettingsShown();
            break;
        case 2:
            e.state.ConnectSettingsShown();
            break;
        default:
            e.state.ProfilesShown();
            break;
        }
        e.step(10000); // the first live read
        const qsizetype reads = e.statusReads(sim);
        QVERIFY(reads >= 1);
        command("set status 7 2");
        for (int i = 0; i < 9; ++i)
            e.step(1000);
        QCOMPARE(e.statusReads(sim), reads); // not yet: 9 s
        QVERIFY(!e.events().contains(ev(EventKind::SensorStatus, 7, 2, 0, true)));
        e.step(1000);
        QCOMPARE(e.statusReads(sim), reads + 1);
        QCOMPARE(e.events().last(), ev(EventKind::SensorStatus, 7, 2, 0, true));
        QCOMPARE(e.sensorRows(7).last(), QStringLiteral("2/107"));
    }

    // The link-lost alarm: only for a link lost longer than [history] linkalarm seconds,
    // never for one the user stopped.
    void linkAlarm_data() {
        QTest::addColumn<QString>("how"); // lost, stopped
        QTest::addColumn<qint64>("downMs");
        QTest::addColumn<bool>("alarm");
        QTest::newRow("lost 31 s") << "lost" << qint64(31000) << true;
        QTest::newRow("lost 29 s") << "lost" << qint64(29000) << false;
        QTest::newRow("stopped 31 s") << "stopped" << qint64(31000) << false;
    }
    void linkAlarm() {
        QFETCH(QString, how);
        QFETCH(qint64, downMs);
        QFETCH(bool, alarm);
        startScriptedSim(false);
        Engine e;
        e.state.pollSensorData = true;
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        const qsizetype before = e.events().size();
        if (how == "lost")
            command("offline");
        else
            e.state.linkInterruptedByUser = true;
        QVERIFY(e.stepUntil([&] { return !e.state.linkUp; }, 5));
        const QString failure = e.view.status[0];
        e.step(downMs);
        e.step(1);
        if (how == "lost")
            command("online");
        else
            e.state.linkInterruptedByUser = false;
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        QStringList expected{ev(EventKind::LinkLost, 0, 0, -1, false, failure)};
        if (alarm)
            expected << ev(EventKind::LinkDownLong, 0, 30, -1, true, failure);
        expected << ev(EventKind::LinkBack);
        QCOMPARE(e.events().mid(before), expected);
        if (how == "stopped")
            QCOMPARE(failure, text(Msg::n100));
    }

    // A trend recording on a settings page beside the history: both want the live data,
    // and the recorder is still asked when the history wants it anyway (it resumes there
    // after the link came back and writes that moment's row).
    void trendRowsBesideTheHistory() {
        startScriptedSim(false, {"live=10"});
        {
            MemIniFile start(folder->filePath("start.ini"));
            start.writeInteger("trends", "time", 3600); // the test ticks itself
            QVERIFY(start.updateFile());
        }
        Engine e;
        StateTrendHost host(e.state, {});
        TrendRecorder recorder(e.state.settingsIni, host);
        AttachTrendRecorder(e.cycle, e.state, recorder);
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.state.RelaySettingsShown();
        recorder.ButtonStartFileClick();
        QVERIFY(e.stepUntil([&] { return recorder.recording(); }, 5));
        e.step(); // the row of the Start
        QVERIFY(!recorder.rowRequested());
        command("offline");
        QVERIFY(e.stepUntil([&] { return !e.state.linkUp; }, 5));
        recorder.Timer1Timer(); // due while the link is down: the recording pauses
        e.step(10000);          // long enough for the history to want the live data too
        command("online");
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.step(10000);
        QCOMPARE(e.view.status[1], text(Msg::n128) + recorder.trendFileName());
        QString why;
        const auto t = ReadTrendFile(recorder.trendFileName(), &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->times.size(), 2); // at Start, and when the link came back
        QCOMPARE(t->channels.value(2).values.value(1), std::optional<quint16>(103));
        QCOMPARE(
            e.events()
                .filter(QRegularExpression(QStringLiteral("^%1 ").arg(int(EventKind::LinkBack))))
                .size(),
            1);
    }

    // Every write-back operation on record register by register: the word the controller
    // copy held (each register reads as its own address), the word sent and its fate; an
    // operation that ends early leaves the rest not sent. A dry run is not on record.
    void writesAreAudited_data() {
        QTest::addColumn<bool>("paced");
        QTest::newRow("unpaced") << false;
        QTest::newRow("paced 9600") << true;
    }
    void writesAreAudited() {
        QFETCH(bool, paced);
        QStringList args = {"--sensors", "12", "--named-values"};
        if (paced)
            args << "--pace";
        QVERIFY2(StartShippedSim(sim, args), qPrintable(sim.errorText()));
        prepare({"live=3600"});
        command("freeze");
        Engine e;
        MainState &s = e.state;
        QVERIFY(e.stepUntil([&] { return bool(s.linkUp); }));
        auto writes = [&] {
            e.store->Flush();
            std::vector<WriteAudit> all = e.store->Writes(0, e.clock + 1);
            std::sort(all.begin(), all.end(),
                      [](const WriteAudit &a, const WriteAudit &b) { return a.id < b.id; });
            return all;
        };
        QStringList shown;
        const ShowMessage show = [&shown](const QString &c, const QString &t) {
            shown << c + " | " + t;
        };

        // Sensor 4's row and tag.
        s.SensorSettingsShown();
        QVERIFY(e.stepUntil([&] { return s.sensorSettingsCopyEnabled; }, 80));
        CopyGridToGrid(s.sensorSettings, s.sensorSettingsUser);
        CopyGridToGrid(s.tagContr, s.tagUser);
        QList<bool> ticks(s.registerMap.MAX_SENSORS, false);
        ticks[3] = true;
        ApplySensorSelection(s.sensorSettingsUser, s.tagUser, ticks, s.registerMap.MAX_SENSORS,
                             text(Msg::n32));
        const QStringList row = {"123456", "30", "40", "2", "1", "2"};
        for (int c = 1; c <= row.size(); ++c)
            s.sensorSettingsUser.setCell(c, 1, row[c - 1]);
        s.tagUser.setCell(0, 1, QStringLiteral("Печь"));
        QVERIFY2(s.RequestSensorWrite(show), qPrintable(shown.join('\n')));
        QVERIFY(e.stepUntil([&] { return !s.writeSensorSettingsRequested; }, 5));
        QVERIFY2(s.lastWriteSucceeded, qPrintable(shown.join('\n')));

        // The connection block, as a profile loads it: the controller moves to address 101,
        // the program follows. The same device under another address: none of its sensors
        // is news.
        const qsizetype eventsBefore = e.events().size();
        ConnectUserValues line;
        line.addr = "101";
        line.baud = 0;
        line.parity = 0;
        line.stops = 0;
        line.chan = "1";
        line.language = 0;
        QVERIFY(s.RequestConnectWrite(line, show));
        s.profileWriteRequested = true;
        QVERIFY(e.stepUntil([&] { return !s.writeConnectSettingsRequested; }, 5));
        QVERIFY(s.lastWriteSucceeded);
        QVERIFY(!s.profileWriteRequested);
        QCOMPARE(s.settingsIni.readInteger("connect", "adr", 0), 101);
        const qsizetype reads = e.statusReads(sim, 101);
        e.step(3600 * 1000); // the live data read again
        QCOMPARE(e.statusReads(sim, 101), reads + 1);
        QCOMPARE(e.events().mid(eventsBefore).filter(QRegularExpression("^1 ")), QStringList());

        // Three relay cells; the controller falls silent at the second.
        s.RelaySettingsShown();
        QVERIFY(e.stepUntil([&] { return s.RelayCopyRead(); }, 10));
        CopyRelayRows(s.relaySettings, s.relaySettingsUser);
        s.relaySettingsUser.setCell(1, 2, "1");
        s.relaySettingsUser.setCell(3, 2, "18");
        s.relaySettingsUser.setCell(2, 3, "7");
        // What a dry run would send is shown only: nothing on record.
        WriteBack dry(s, e.cycle);
        dry.dryRun = true;
        QVERIFY(dry.WriteRelaySettings());
        QVERIFY(s.RequestRelayWrite(show));
        // The step: relay state, four relay blocks, then the writes.
        command("fault offline nth=7,ms=5000");
        e.step();
        QVERIFY(!s.writeRelaySettingsRequested);
        QVERIFY(!s.lastWriteSucceeded);

        using R = WriteResult;
        auto regs = [](std::initializer_list<std::tuple<int, int, int, R>> list) {
            QStringList out;
            for (const auto &[reg, before, after, result] : list)
                out << QStringLiteral("%1 %2 %3 %4")
                           .arg(reg, 4, 16, QChar('0'))
                           .arg(before)
                           .arg(after)
                           .arg(int(result));
            return out;
        };
        auto regsOf = [](const WriteAudit &a) {
            QStringList out;
            for (const AuditRegister &r : a.registers)
                out << QStringLiteral("%1 %2 %3 %4")
                           .arg(r.reg, 4, 16, QChar('0'))
                           .arg(r.before)
                           .arg(r.after)
                           .arg(int(r.result));
            return out;
        };
        const std::vector<WriteAudit> all = writes();
        QCOMPARE(int(all.size()), 3);
        QCOMPARE(all[0].operation, QStringLiteral("sensors"));
        QVERIFY(all[0].ok);
        QList<quint16> tag = SensorTagWords(QStringLiteral("Печь"), 8);
        QStringList sensorRegs = regs({{0x1030, 0x1030, 123456 >> 8, R::Confirmed},
                                       {0x1031, 0x1031, 123456 & 0xFF, R::Confirmed},
                                       {0x1032, 0x1032, 30, R::Confirmed},
                                       {0x1033, 0x1033, 40, R::Confirmed},
                                       {0x1034, 0x1034, 2, R::Confirmed},
                                       {0x1035, 0x1035, 1, R::Confirmed},
                                       {0x1036, 0x1036, 2, R::Confirmed}});
        for (int k = 0; k < 8; ++k)
            sensorRegs += regs({{0x2018 + k, 0x2018 + k, tag[k], R::Confirmed}});
        QCOMPARE(regsOf(all[0]), sensorRegs);
        QCOMPARE(all[1].operation, QStringLiteral("profile"));
        QVERIFY(all[1].ok);
        QCOMPARE(regsOf(all[1]), regs({{0x0500, 0x0500, 101, R::Confirmed},
                                       {0x0501, 0x0501, 0, R::Confirmed},
                                       {0x0502, 0x0502, 0, R::Confirmed},
                                       {0x0503, 0x0503, 1, R::Confirmed},
                                       {0x0504, 0x0504, 1, R::Confirmed},
                                       {0x0505, 0x0505, 0, R::Confirmed}}));
        QCOMPARE(all[2].operation, QStringLiteral("relays"));
        QVERIFY(!all[2].ok);
        QCOMPARE(regsOf(all[2]), regs({{0x0210, 0x0210, 1, R::Confirmed},
                                       {0x0212, 0x0212, 18, R::Failed},
                                       {0x0221, 0x0221, 7, R::NotSent}}));
        // Each operation is an event too; the relays' ended with the link.
        QStringList kinds;
        for (const QString &line : e.events())
            if (line.startsWith(QString::number(int(EventKind::WriteOperation)) + u' ') ||
                line.startsWith(QString::number(int(EventKind::LinkLost)) + u' '))
                kinds << line.section(' ', 0, 0) + u' ' + line.section(' ', 2, 2);
        QCOMPARE(kinds, QStringList({"9 1", "9 1", "3 0", "9 0"}));
    }
};

QTEST_GUILESS_MAIN(TestHistoryEngine)
#include "tst_history_engine.moc"
