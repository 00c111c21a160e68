// Write-back time of the engine (MainState, PollCycle, QorThread, no window): all 36 sensor
// blocks and all 36 tags written against qor7070-sim --pace, next to the wire time of those
// frames. The fixed pauses around a write (500 ms before, the one-second result after) are
// not counted: the time runs from the end of the first pause (start text shown + 500 ms)
// to the moment the result is shown.
#include "BenchFolder.h"
#include "MainState.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "RecorderView.h"
#include "SensorRows.h"
#include "RunEvents.h"
#include "SimProcess.h"
#include "Wire.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

constexpr int kSensors = 36;
constexpr int kStartPauseMs = 500;
// The shipped map (firmware 1.2): a settings block is 7 registers, a tag 8.
constexpr int kBlockRegisters = 7, kTagRegisters = 8;

QElapsedTimer g_clock;

// Notes when Panel10 shows its texts.
struct Engine {
    RecorderView view;
    QList<qint64> shownNs;
    QStringList texts;
    QObject context;
    MainState state{view};
    PollCycle cycle{state};
    QorThread thread{state, cycle, &context};
    Engine()
    {
        view.keepHistory = false;
        view.onMessage = [](const QString &caption, const QString &text) {
            fprintf(stderr, "message: %s | %s\n", qPrintable(caption), qPrintable(text));
        };
        view.onProgress = [this](const QString &text) {
            shownNs << g_clock.nsecsElapsed();
            texts << text;
        };
        thread.start();
    }
    ~Engine() { thread.StopAndWait(); }
};

// One function-16 write of n registers: request 9 + 2n characters, 3.5 of silence, the
// 8-character confirmation.
double WriteWireChars(int registers) { return 9 + 2.0 * registers + 3.5 + 8; }

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        RunEvents(5);
    return done();
}

// Every sensor row and every tag of the user table differs from the controller's.
void changeEverything(MainState &s, int round)
{
    CopyGridToGrid(s.sensorSettings, s.sensorSettingsUser);
    CopyGridToGrid(s.tagContr, s.tagUser);
    for (int row = 1; row <= kSensors; ++row) {
        const int old = s.sensorSettings.cell(2, row).toInt();
        s.sensorSettingsUser.setCell(2, row, QString::number((old + 1) % 100));
        s.tagUser.setCell(0, row, QStringLiteral("Зона %1-%2").arg(row).arg(round));
    }
}

bool writeTimes(int baud, int speedIndex, int rounds)
{
    SimProcess sim;
    if (!sim.start({"--sensors", "36", "--pace", "--baud", QString::number(baud)}, 10000,
                   SimProcess::Log::Off)) {
        fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorText()));
        return false;
    }
    QTemporaryDir dir;
    if (!prepareFolder(dir, sim.ptyPath(), speedIndex))
        return false;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const double chars =
        kSensors * (WriteWireChars(kBlockRegisters) + WriteWireChars(kTagRegisters));
    const double wire = WireMs(chars, baud);
    double sum = 0, best = 1e9, worst = 0;
    bool ok = true;
    {
        Engine e;
        MainState &s = e.state;
        ok = waitFor([&] { return s.linkUp.load(); }, 10000);
        for (int r = 0; r < rounds && ok; ++r) {
            // A complete read of the controller table, then every row changed.
            s.SensorSettingsShown();
            ok = waitFor([&] { return s.sensorSettingsCopyEnabled; }, 60000);
            if (!ok)
                break;
            changeEverything(s, r);
            e.shownNs.clear();
            e.texts.clear();
            s.writeSensorSettingsRequested = true;
            ok = waitFor([&] { return e.texts.size() >= 2; }, 60000) &&
                 e.texts[1] == s.Text(Msg::n115);
            if (!ok)
                break;
            const double ms = double(e.shownNs[1] - e.shownNs[0]) / 1e6 - kStartPauseMs;
            sum += ms;
            best = qMin(best, ms);
            worst = qMax(worst, ms);
            waitFor([&] { return !s.writeSensorSettingsRequested; }, 5000);
        }
    }
    QDir::setCurrent(previous);
    if (!ok) {
        fprintf(stderr, "write-back benchmark at %d baud failed\n", baud);
        return false;
    }
    const double mean = sum / rounds;
    printf("| %d | %d | %.1f | %.1f | %.1f | %.1f | **%.3f** |\n", baud, rounds, wire, mean, best,
           worst, mean / wire);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    const bool quick = app.arguments().contains("--quick");
    printf("# Write-back benchmark (36 sensor blocks and 36 tags)\n\n");
    printf("Wire time = 36 x (block write 9 + 14 + 3.5 + 8 characters + tag write 9 + 16 + 3.5 "
           "+ 8 characters) = 2556 characters x 11 bits / baud. Fixed pauses not counted.\n\n");
    printf("| baud | writes | wire ms | engine ms (mean) | best | worst | engine / wire |\n"
           "|---|---|---|---|---|---|---|\n");
    const struct {
        int baud, index, rounds;
    } runs[] = {{9600, 0, 3}, {115200, 4, 5}};
    for (const auto &r : runs)
        if (!writeTimes(r.baud, r.index, quick ? 1 : r.rounds))
            return 1;
    printf("\n");
    return 0;
}
