// Trend recording against qor7070-sim on a pty: the poll cycle reads, the recorder writes,
// and the simulator changes sensor statuses under the recording.
#include "ControllerFolder.h"
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
        start.writeInteger("connect", "receive", 150);
        start.writeInteger("trends", "time", 3600); // the test ticks itself
        QVERIFY(start.updateFile());
    }
    void command(const QString &line)
    {
        QVERIFY2(sim.command(line).startsWith("OK"), qPrintable(line));
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

        // The controller goes silent: the next tick stops the recording.
        command("offline 600000");
        QVERIFY(e.stepUntil([&] { return !e.state.linkUp; }, 5));
        e.recorder.Timer1Timer();
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
    // Losing the link afterwards still does.
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

        // Switched while the link is interrupted: nothing to go on with.
        e.state.SwitchLanguage(0);
        e.state.linkInterruptedByUser = true;
        e.step();
        e.recorder.Timer1Timer();
        QVERIFY(!e.recorder.recording());
        QCOMPARE(e.view.status[1], QString());
    }
};

QTEST_GUILESS_MAIN(TestTrendsSim)
#include "tst_trends_sim.moc"
