// Trend recording against qor7070-sim on a pty: the poll cycle reads, the recorder writes,
// and the simulator changes sensor statuses under the recording.
#include "ControllerFolder.h"
#include "Cp1251.h"
#include "ExpectedFrames.h"
#include "LookupText.h"
#include "MainState.h"
#include "MainView.h"
#include "PollCycle.h"
#include "RecorderView.h"
#include "TrendPolling.h"
#include "TrendReader.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

// The program without the window: the cycle and the recorder wired as the window wires
// them, so a row follows a good read of the live data and Start goes on when the tags
// asked for were read.
struct Engine {
    RecorderView view;
    MainState state{view};
    PollCycle cycle{state};
    QString hint; // of GroupBox2
    StateTrendHost host{state, [this](const QString &text) { hint = text; }};
    TrendRecorder recorder{state.settingsIni, host};

    Engine() { AttachTrendRecorder(cycle, state, recorder); }
    void step()
    {
        cycle.PollCycleStep();
        QCoreApplication::processEvents();
    }
    bool stepUntil(const std::function<bool()> &done, int steps = 50)
    {
        for (int i = 0; i < steps && !done(); ++i)
            step();
        return done();
    }
};

} // namespace

class TestTrendsSim : public ControllerFolderTest {
    Q_OBJECT

    void prepare(const QString &firmware)
    {
        const WorkingFolder &dir = *folder;
        QVERIFY(CopyShippedData({QStringLiteral("Cfg/qor7070__fw_%1.ini").arg(firmware)},
                                dir.filePath(".")));
        MemIniFile start(dir.filePath("start.ini"));
        start.writeString("connect", "port", sim.ptyPath());
        start.writeInteger("connect", "stopbits", 0);
        // Long enough that a loaded machine (the sanitizer build beside other tests) does not
        // starve a paced read into a time-out and an empty row.
        start.writeInteger("connect", "receive", 500);
        start.writeInteger("trends", "time", 3600); // the test ticks itself
        QVERIFY(start.updateFile());
    }
    void command(const QString &line)
    {
        QVERIFY2(sim.command(line).startsWith("OK"), qPrintable(line));
    }
    // 12 sensors at 101..112 with time standing still.
    void startFrozenSim(bool paced)
    {
        QStringList args = {"--sensors", "12"};
        if (paced)
            args << "--pace";
        QVERIFY2(StartShippedSim(sim, args), qPrintable(sim.errorText()));
        prepare("1_2");
        command("freeze");
        setTemperatures(100);
    }
    // Sensor s reads base + s: a value tells its sensor and the period it was set for.
    void setTemperatures(int base)
    {
        for (int s = 1; s <= 12; ++s)
            command(QStringLiteral("set temp %1 %2").arg(s).arg(base + s));
    }
    // A tick, and the steps until its row is written.
    static bool tickAndWrite(Engine &e)
    {
        e.recorder.Timer1Timer();
        return e.stepUntil([&] { return !e.recorder.rowRequested(); }, 5);
    }
    static QString fileOf(Engine &e) { return e.recorder.trendFileName(); }
    static QByteArray fileBytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QByteArray headerLines(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QByteArray first = f.readLine();
        return first + f.readLine();
    }
    // Reads of the status block the simulator got (every page's trend reads include one).
    qsizetype statusReads() const
    {
        return sim.logEntries("RX").count(ExpectedFrames::readRequest(100, 0x0140, 36));
    }

private slots:
    // Sensors 1..12 registered, 10..12 without power, faulty, undetermined; every
    // temperature tells its sensor (100 + sensor). Statuses change between rows; every
    // value read back must sit under its own sensor.
    void statusesChangeUnderTheRecording_data()
    {
        QTest::addColumn<bool>("paced");
        QTest::addColumn<QString>("firmware");
        QTest::newRow("unpaced") << false << "1_2";
        QTest::newRow("paced 9600") << true << "1_2";
        QTest::newRow("firmware 1.0, no tags") << false << "1_0";
    }
    void statusesChangeUnderTheRecording()
    {
        QFETCH(bool, paced);
        QFETCH(QString, firmware);
        const bool tags = firmware == "1_2";
        QStringList args = {"--cfg", ShippedFile("Cfg/qor7070__fw_" + firmware + ".ini"),
                            "--sensors", "12"};
        if (paced)
            args << "--pace";
        QVERIFY2(StartShippedSim(sim, args), qPrintable(sim.errorText()));
        prepare(firmware);
        command("freeze");
        for (int s = 1; s <= 12; ++s)
            command(QStringLiteral("set temp %1 %2").arg(s).arg(100 + s));
        if (tags)
            command("set tag 2 Печь 2");
        Engine e;
        e.state.pollSensorData = true;
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.step(); // the live data once before Start

        e.recorder.ButtonStartFileClick();
        QVERIFY(e.state.readAllTagsRequested);
        QVERIFY(!e.recorder.recording());
        QCOMPARE(e.view.panel10, QString::fromUtf16(Msg::n127.russian));
        // Below 1.2 there are no tag registers: asking for them must not drop the link
        // (and with it the recording at its first tick).
        const qsizetype sentBefore = sim.logEntries("RX").size();
        QVERIFY(e.stepUntil([&] { return e.recorder.recording(); }, 5));
        QVERIFY(e.state.linkUp);
        QCOMPARE(e.view.panel10, QString());
        if (!tags) // nothing but the live data: relay state, status, temperature, time
            QCOMPARE(sim.logEntries("RX").size() - sentBefore, 4);
        QCOMPARE(e.recorder.timer1().interval(), 3600000);
        const QString name = e.recorder.trendFileName();
        QCOMPARE(e.view.status[1], QString::fromUtf16(Msg::n128.russian) + name);

        // One row per phase: the status changes, a step reads them, a tick, a step writes.
        const QStringList phases = {
            "",                  // as it was
            "set status 5 40",   // sensor 5 is gone: its cell stays, empty
            "set status 20 0",   // sensor 20 registers after the header: not in the file
            "set status 3 99",   // a code outside the table
            "set status 5 auto", // sensor 5 is back
        };
        for (const QString &change : phases) {
            if (!change.isEmpty())
                command(change);
            e.step();
            e.recorder.Timer1Timer();
            e.recorder.Timer1Timer(); // two ticks, one row
            e.step();
            QVERIFY(!e.recorder.rowRequested());
        }

        e.recorder.ButtonStopFileClick();
        QVERIFY(!e.recorder.recording());
        QCOMPARE(e.view.status[1], QString());
        QCOMPARE(e.hint, QString::fromUtf16(Msg::n129.russian) + name);

        QString why;
        const auto t = ReadTrendFile(name, &why);
        QVERIFY2(t, qPrintable(why));
        // The first row came with the Start, then one per phase.
        QCOMPARE(t->times.size(), 1 + int(phases.size()));
        QCOMPARE(t->skippedLines, 0);
        QCOMPARE(t->channels.size(), 12);
        for (int c = 0; c < 12; ++c) {
            const TrendChannel &ch = t->channels[c];
            QCOMPARE(ch.sensor, c + 1);
            QCOMPARE(ch.tag, !tags            ? QString()
                             : ch.sensor == 2 ? QStringLiteral("Печь 2")
                                              : QStringLiteral("Камера %1").arg(ch.sensor));
            for (int row = 0; row < t->times.size(); ++row) {
                const bool gap = ch.sensor >= 10 || (ch.sensor == 5 && row >= 2 && row <= 4) ||
                                 (ch.sensor == 3 && row >= 4);
                QCOMPARE(ch.values[row],
                         gap ? std::nullopt : std::optional<quint16>(100 + ch.sensor));
            }
        }
        // Each line has one cell per header sensor; the unknown code shows as in the grid.
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 2 + t->times.size() + 1); // the last line end leaves an empty piece
        for (qsizetype l = 0; l + 1 < lines.size(); ++l) {
            QCOMPARE(lines[l].count('\t'), 14);
            QVERIFY(lines[l].endsWith("\t\r"));
        }
        QVERIFY(lines[6].contains("\t-------\t"));
        QVERIFY(lines[4].contains("\t104\t\t106\t")); // sensor 5 empty, 6 in its place
    }

    // A language switch clears the link flag so that the controller is identified again;
    // that is no loss of the link, and a tick meanwhile must not end the recording.
    // Interrupting the link afterwards pauses it until the link is restored.
    void languageSwitchKeepsTheRecording()
    {
        QVERIFY2(StartShippedSim(sim), qPrintable(sim.errorText()));
        prepare("1_2");
        Engine e;
        e.state.pollSensorData = true;
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.recorder.ButtonStartFileClick();
        QVERIFY(e.stepUntil([&] { return e.recorder.recording(); }, 5));
        e.step(); // header and first row
        const QString name = e.recorder.trendFileName();

        e.state.SwitchLanguage(1);
        QVERIFY(!e.state.linkUp);
        e.recorder.Timer1Timer();
        QVERIFY(e.recorder.recording());
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }, 5));
        QVERIFY(!e.recorder.rowRequested()); // the row came with the step that identified
        QVERIFY(e.recorder.recording());
        QCOMPARE(ReadTrendFile(name)->times.size(), 2);

        // Switched while the link is interrupted: paused, no row, until the link is back.
        e.state.SwitchLanguage(0);
        e.state.linkInterruptedByUser = true;
        e.step();
        e.recorder.Timer1Timer();
        e.step();
        QVERIFY(e.recorder.paused());
        QCOMPARE(e.view.status[1], QString::fromUtf16(Msg::n140.russian) + name);
        QCOMPARE(ReadTrendFile(name)->times.size(), 2);
        e.state.linkInterruptedByUser = false;
        QVERIFY(e.stepUntil([&] { return !e.recorder.paused() && !e.recorder.rowRequested(); }, 5));
        QCOMPARE(e.view.status[1], QString::fromUtf16(Msg::n128.russian) + name);
        QCOMPARE(ReadTrendFile(name)->times.size(), 3);
    }

    // A glitch must not end a recording left running overnight. While the controller is
    // silent no row is written and panel 1 says why; when it answers again the same file
    // goes on under the same header, with readings of after the loss. Stop still ends it.
    void linkLossPausesTheRecording_data()
    {
        QTest::addColumn<bool>("paced");
        QTest::addColumn<bool>("sensorPage");
        QTest::newRow("sensor-data page") << false << true;
        QTest::newRow("sensor-data page, paced 9600") << true << true;
        QTest::newRow("relay page") << false << false;
    }
    void linkLossPausesTheRecording()
    {
        QFETCH(bool, paced);
        QFETCH(bool, sensorPage);
        startFrozenSim(paced);
        if (QTest::currentTestFailed())
            return;
        Engine e;
        const QDate day(2026, 12, 6);
        QDateTime clock(day, QTime(13, 0, 0));
        e.recorder.setClock([&clock] { return clock; });
        sensorPage ? e.state.SensorDataShown() : e.state.RelaySettingsShown();
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.recorder.ButtonStartFileClick();
        QVERIFY(e.stepUntil([&] { return e.recorder.recording(); }, 5));
        QVERIFY(e.stepUntil([&] { return !e.recorder.rowRequested(); }, 5)); // header, row 1
        const QString name = e.recorder.trendFileName();
        const QByteArray header = headerLines(name);
        QCOMPARE(header.count('\n'), 2);
        clock = clock.addSecs(1);
        QVERIFY(tickAndWrite(e)); // row 2

        command("offline");
        QVERIFY(e.stepUntil([&] { return !e.state.linkUp; }, 5));
        clock = QDateTime(day, QTime(14, 0, 0)); // rows stamped so would be of the loss
        for (int tick = 0; tick < 3; ++tick) {
            e.recorder.Timer1Timer();
            e.step();
            clock = clock.addSecs(1);
        }
        QVERIFY(e.recorder.recording());
        QVERIFY(e.recorder.paused());
        QCOMPARE(e.view.status[1], QString::fromUtf16(Msg::n140.russian) + name);
        QCOMPARE(ReadTrendFile(name)->times.size(), 2);

        setTemperatures(200);
        clock = QDateTime(day, QTime(15, 0, 0));
        command("online");
        // The step that finds the controller again writes a row of its readings at once.
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }, 10));
        QVERIFY(e.stepUntil([&] { return !e.recorder.rowRequested(); }, 5));
        QVERIFY(!e.recorder.paused());
        QCOMPARE(e.view.status[1], QString::fromUtf16(Msg::n128.russian) + name);
        clock = clock.addSecs(1);
        QVERIFY(tickAndWrite(e));

        e.recorder.ButtonStopFileClick();
        QVERIFY(!e.recorder.recording());
        QCOMPARE(e.view.status[1], QString());
        QCOMPARE(e.recorder.trendFileName(), name);
        QCOMPARE(QDir(QStringLiteral("Trends")).entryList(QDir::Files).size(), 1);

        QCOMPARE(headerLines(name), header);
        QString why;
        const auto t = ReadTrendFile(name, &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->skippedLines, 0);
        const QList<QDateTime> times = {QDateTime(day, QTime(13, 0, 0)),
                                        QDateTime(day, QTime(13, 0, 1)),
                                        QDateTime(day, QTime(15, 0, 0)),
                                        QDateTime(day, QTime(15, 0, 1))};
        QCOMPARE(t->times, times);
        QCOMPARE(t->channels.size(), 12);
        for (const TrendChannel &ch : t->channels) // 10..12: no power, faulty, undetermined
            for (int row = 0; row < t->times.size(); ++row)
                QCOMPARE(ch.values[row], ch.sensor >= 10 ? std::nullopt
                                                         : std::optional<quint16>(
                                                               (row < 2 ? 100 : 200) + ch.sensor));
    }

    // On any page a row holds the readings made for it: the live data is read once per
    // row between the page's own reads, never repeated from the last visit of the
    // sensor-data page. A read that fails gives the row no values.
    void rowsHoldReadingsOfTheirOwn_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("paced");
        QTest::newRow("relay settings") << "relays" << false;
        QTest::newRow("relay settings, paced 9600") << "relays" << true;
        QTest::newRow("sensor settings") << "sensors" << false;
        QTest::newRow("connection") << "connection" << false;
        QTest::newRow("profiles") << "profiles" << false;
        QTest::newRow("sensor data") << "data" << false;
    }
    void rowsHoldReadingsOfTheirOwn()
    {
        QFETCH(QString, page);
        QFETCH(bool, paced);
        startFrozenSim(paced);
        if (QTest::currentTestFailed())
            return;
        Engine e;
        QDateTime clock(QDate(2026, 12, 6), QTime(13, 0, 0));
        e.recorder.setClock([&clock] { return clock; });
        e.state.SensorDataShown();
        QVERIFY(e.stepUntil([&] { return bool(e.state.linkUp); }));
        e.step(); // the grids hold the readings of period 1
        const QString gridBefore = e.state.sensorsData.rowTexts(1).join(u'|');
        if (page == "relays")
            e.state.RelaySettingsShown();
        else if (page == "sensors")
            e.state.SensorSettingsShown();
        else if (page == "connection")
            e.state.ConnectSettingsShown();
        else if (page == "profiles")
            e.state.ProfilesShown();
        const bool otherPage = page != "data";

        e.recorder.ButtonStartFileClick();
        QVERIFY(e.stepUntil([&] { return e.recorder.recording(); }, 5));
        QVERIFY(e.stepUntil([&] { return !e.recorder.rowRequested(); }, 5)); // period 1
        const qsizetype statusReadsBefore = statusReads();
        const int periods = 4;
        for (int period = 2; period <= periods; ++period) {
            setTemperatures(100 * period);
            if (period == 3)
                command("set status 4 10"); // no power: its own text, no temperature
            clock = clock.addSecs(1);
            QVERIFY(tickAndWrite(e));
            for (int idle = 0; idle < 3; ++idle) // steps without a row read no live data
                e.step();
        }
        // 10..12 report no power, faulty, undetermined; 4 has no power from period 3.
        const auto expected = [](int sensor, int row, int base) {
            const bool gap = sensor >= 10 || (sensor == 4 && row >= 2);
            return gap ? std::nullopt : std::optional<quint16>(base + sensor);
        };
        QString why;
        auto t = ReadTrendFile(fileOf(e), &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->times.size(), periods);
        QCOMPARE(t->channels.size(), 12);
        const auto shown = [](std::optional<quint16> v) {
            return v ? QString::number(*v) : QStringLiteral("(empty)");
        };
        for (const TrendChannel &ch : t->channels)
            for (int row = 0; row < periods; ++row) {
                const auto want = expected(ch.sensor, row, 100 * (row + 1));
                QVERIFY2(ch.values[row] == want,
                         qPrintable(QStringLiteral("row %1, sensor %2: %3, read for it %4")
                                        .arg(row + 1)
                                        .arg(ch.sensor)
                                        .arg(shown(ch.values[row]), shown(want))));
            }
        QVERIFY(fileBytes(fileOf(e)).contains(
            Cp1251::encode(QStringLiteral("\t303\tНЕТ ПИТАНИЯ\t305\t"))));
        if (otherPage) {
            // One read of the live data per row, none in the steps between; the grids of the
            // sensor-data page are left as that page last showed them.
            QCOMPARE(statusReads() - statusReadsBefore, periods - 1);
            QCOMPARE(e.state.sensorsData.rowTexts(1).join(u'|'), gridBefore);
        }

        // The read for the next row goes unanswered, after the relay state was read: the
        // row has its time and one empty cell per header sensor.
        bool armed = true;
        e.view.onStatus = [&](int panel, const QString &) {
            if (armed && panel == 2) {
                armed = false;
                QVERIFY(sim.command("fault noanswer").startsWith("OK"));
            }
        };
        clock = clock.addSecs(1);
        e.recorder.Timer1Timer();
        e.step();
        e.view.onStatus = nullptr;
        QVERIFY(!armed);
        QVERIFY(!e.state.linkUp);
        QVERIFY(!e.recorder.rowRequested());
        const QList<QByteArray> lines = fileBytes(fileOf(e)).split('\n');
        QCOMPARE(lines.value(2 + periods),
                 QByteArray("06.12.26\t13:00:04\t") + QByteArray(12, '\t') + '\r');

        // Paused while the link is down; the first row after it holds readings of then.
        e.recorder.Timer1Timer();
        QVERIFY(e.recorder.paused());
        command("fault off noanswer");
        setTemperatures(600);
        clock = clock.addSecs(1);
        QVERIFY(e.stepUntil([&] { return !e.recorder.paused() && !e.recorder.rowRequested(); }, 10));
        t = ReadTrendFile(fileOf(e), &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->skippedLines, 0);
        QCOMPARE(t->times.size(), periods + 2);
        for (const TrendChannel &ch : t->channels) {
            QCOMPARE(ch.values[periods], std::nullopt);
            QCOMPARE(ch.values[periods + 1], expected(ch.sensor, periods + 1, 600));
        }
    }
};

QTEST_GUILESS_MAIN(TestTrendsSim)
#include "tst_trends_sim.moc"
