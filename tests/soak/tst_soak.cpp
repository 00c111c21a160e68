// The short fault soak: 2,000 transactions of the poll engine against a simulator that
// strikes every fault kind at 5 %, paced and unpaced. No cell ever shows another
// register's or another sensor's value, and the engine is back online with fresh values
// once the faults stop.
#include "LookupText.h"
#include "MainState.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "RecorderView.h"
#include "RunEvents.h"
#include "SimProcess.h"
#include "Soak.h"
#include "WorkingFolder.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTest>
#include <functional>

namespace {

// Sensor header -> its (temperature, seconds) cells, over both data grids.
QMap<QString, QPair<QString, QString>> rowsOf(const MainState &s) {
    QMap<QString, QPair<QString, QString>> out;
    for (const TextGrid *g : {&s.sensorsData, &s.sensorsData2})
        for (int r = 1; r < g->rowCountGrid(); ++r)
            if (!g->cell(0, r).isEmpty())
                out.insert(g->cell(0, r), {g->cell(1, r), g->cell(3, r)});
    return out;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void faultsNeverMisplaceAValue_data() {
        QTest::addColumn<bool>("paced");
        QTest::newRow("paced 115200") << true;
        QTest::newRow("unpaced") << false;
    }
    void faultsNeverMisplaceAValue() {
        QFETCH(bool, paced);
        SoakOptions o;
        o.transactions = 2000;
        o.paced = paced;
        const SoakResult r = RunSoak(o);
        QVERIFY2(r.started && r.error.isEmpty(), qPrintable(r.error));
        qInfo("%d transactions, %d faults, %d cycles, %lld cells checked, %d misplaced, %d "
              "link-downs, "
              "back online after %d ms, %.1f s",
              r.transactions, r.faults, r.cycles, r.cellsChecked, r.misplaced, r.linkDowns,
              r.recoveryMs, r.seconds);
        QVERIFY2(r.misplaced == 0, qPrintable(r.firstMisplaced));
        QVERIFY(r.faults >= r.transactions / 20); // the faults did strike
        QVERIFY(r.cycles > r.transactions / 20);
        QVERIFY(r.recovered);
    }

    // A sensor leaves (status 40) and in the same cycle the temperature read fails: the
    // rows close up, and the seconds column, which that cycle does not reach, must not
    // show the departed sensor's seconds under its neighbour.
    void rowsClosingUpKeepNoOtherSensorsValue() {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--sensors"), QStringLiteral("12")}),
                 qPrintable(sim.errorText()));
        WorkingFolder folder;
        QVERIFY(PrepareEngineFolder(sim.ptyPath(), 115200, 100, 100));
        RecorderView view;
        view.keepHistory = false;
        view.pumpEvents = false;
        QObject context;
        MainState state(view);
        PollCycle cycle(state);
        state.pollSensorData = true;
        int cycles = 0;
        std::function<void()> atCycleEnd;
        view.onCycleTime = [&](const QString &) {
            ++cycles;
            if (atCycleEnd)
                std::exchange(atCycleEnd, nullptr)();
        };
        QorThread thread(state, cycle, &context);
        QVERIFY(sim.command(QStringLiteral("freeze")).startsWith(QStringLiteral("OK")));
        for (int n = 1; n <= 12; ++n)
            sim.command(QStringLiteral("set elapsed %1 %2").arg(n).arg(500 + n));
        thread.start();
        QElapsedTimer t;
        t.start();
        while (cycles < 3 && t.elapsed() < 10000)
            RunEvents(5);
        QVERIFY(cycles >= 3);
        const auto before = rowsOf(state);
        const QString word = state.Text(Msg::n32) + u' ';
        QCOMPARE(before.value(word + QStringLiteral("3")).second, QStringLiteral("503"));

        // Between two steps: sensor 2 goes; of the next cycle's reads (relay state, statuses,
        // temperatures) all three attempts at the temperatures fail.
        bool armed = false;
        atCycleEnd = [&] {
            sim.command(QStringLiteral("set status 2 40"));
            sim.command(QStringLiteral("fault noanswer nth=3"));
            sim.command(QStringLiteral("fault exception nth=4"));
            sim.command(QStringLiteral("fault badcrc nth=5"));
            armed = true;
        };
        while (!armed && t.elapsed() < 20000)
            RunEvents(5);
        QVERIFY(armed);
        // Every cell change is checked: no header ever stands over another sensor's value.
        QStringList wrong;
        auto check = [&] {
            const auto now = rowsOf(state);
            for (auto it = now.cbegin(); it != now.cend(); ++it) {
                const auto was = before.value(it.key());
                for (const auto &[shown, then] :
                     {std::pair{it->first, was.first}, std::pair{it->second, was.second}})
                    if (!shown.isEmpty() && shown != QLatin1String("---") && shown != then)
                        wrong << it.key() + QStringLiteral(": ") + shown;
            }
        };
        QObject guard;
        for (TextGrid *g : {&state.sensorsData, &state.sensorsData2})
            connect(g, &QAbstractItemModel::dataChanged, &guard, check);
        while (!sim.logEntries(QStringLiteral("FAULT"))
                    .join(u' ')
                    .contains(QStringLiteral("badcrc")) &&
               t.elapsed() < 20000)
            RunEvents(5);
        RunEvents(300);
        thread.StopAndWait();
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
        QVERIFY(!rowsOf(state).contains(word + QStringLiteral("2")));
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
