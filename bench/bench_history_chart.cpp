// The live chart scrolled back a week into the store: 36 sensors kept as the recorder keeps
// them (a row on a change, at least one a minute), the store's query, the grid the chart
// draws from, and the whole step as a user makes it: the chart's range set a week back,
// the readings loaded, composed with the ring and decimated for the first frame.
// Usage: QT_QPA_PLATFORM=offscreen bench_history_chart [DAYS=7] [SENSORS=36] [CHANGE_S=20]
//        (a sensor's temperature changes every CHANGE_S seconds on average)
//        bench_history_chart --backfill FOLDER DAYS
//        (only adds DAYS of readings of every sensor of the controller last kept in
//        FOLDER's store, ending ten minutes before its first reading, with a night hour
//        nobody polled and a sensor without power for a while: screenshots of a chart
//        scrolled back)
#include "HistoryStore.h"
#include "LiveChart.h"
#include "MainState.h"
#include "ReadingsGrid.h"
#include "RecorderView.h"
#include "TimeChart.h"
#include "TrendPlot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A cycle every 10 s; a sensor is kept when its value changed or its last row is a minute
// old, as the recorder keeps it.
qint64 Generate(HistoryStore &store, qint64 from, int days, int sensors, int changeS)
{
    const HistoryController c{0x7070, 1, QStringLiteral("/dev/ttyS0"), QStringLiteral("1.2")};
    QRandomGenerator rng(7);
    std::vector<int> value(size_t(sensors), 200);
    std::vector<qint64> kept(size_t(sensors), 0);
    qint64 rows = 0, batches = 0;
    const qint64 step = 10 * 1000, end = from + qint64(days) * 24 * 3600 * 1000;
    for (qint64 t = from; t < end; t += step) {
        HistoryBatch batch;
        batch.controller = c;
        batch.timeMs = t;
        for (int s = 0; s < sensors; ++s) {
            bool changed = int(rng.bounded(changeS)) < 10;
            if (changed)
                value[size_t(s)] += int(rng.bounded(5)) - 2;
            if (!changed && t - kept[size_t(s)] < 60 * 1000)
                continue;
            kept[size_t(s)] = t;
            batch.sensors.push_back({s + 1, 0, quint16(value[size_t(s)]), 0});
            ++rows;
        }
        store.Submit(std::move(batch));
        // The store bounds what waits for its writer (a disk that cannot keep up): a week
        // at once would be cut.
        if (++batches % 500 == 0)
            store.Flush();
    }
    store.Flush();
    return rows;
}

// Readings before the store's first one, for the controller kept last: a slow daily
// swing per sensor, an hour not polled, sensor 3 without power for twenty minutes.
int Backfill(const QString &folder, int days)
{
    HistoryStore store(folder);
    if (!store.Open() || store.Controllers().empty())
        return 1;
    const HistoryControllerRow row = store.Controllers().back();
    const auto [first, last] = store.ReadingSpan(row.id);
    const qint64 end = (first > 0 ? first : QDateTime::currentMSecsSinceEpoch()) - 10 * 60 * 1000;
    const qint64 from = end - qint64(days) * 24 * 3600 * 1000;
    const qint64 dead = end - 14 * 3600 * 1000, noPower = end - 6 * 3600 * 1000;
    constexpr int kSensors = 16;
    int batches = 0;
    for (qint64 t = from; t < end; t += 30 * 1000) {
        if (t >= dead && t < dead + 3600 * 1000)
            continue;
        HistoryBatch batch;
        batch.controller = row.controller;
        batch.timeMs = t;
        for (int s = 1; s <= kSensors; ++s) {
            const double phase = double(t % (24 * 3600 * 1000)) / (24 * 3600 * 1000) * 6.2832;
            const int value = 18 + s + int(std::lround(5 * std::sin(phase + s * 0.4)));
            const bool off = s == 3 && t >= noPower && t < noPower + 20 * 60 * 1000;
            batch.sensors.push_back({s, quint16(off ? 10 : 0), quint16(value), 0});
        }
        store.Submit(std::move(batch));
        if (++batches % 500 == 0)
            store.Flush();
    }
    store.Flush();
    std::printf("backfilled %d days before %s for %s\n", days,
                qPrintable(QDateTime::fromMSecsSinceEpoch(end).toString(Qt::ISODate)),
                qPrintable(row.controller.port));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QStringLiteral("--backfill"))
        return Backfill(args.value(1), args.value(2, QStringLiteral("2")).toInt());
    const int days = args.value(0, QStringLiteral("7")).toInt();
    const int sensors = args.value(1, QStringLiteral("36")).toInt();
    const int changeS = args.value(2, QStringLiteral("20")).toInt();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    {
        QFile ini(QStringLiteral("start.ini"));
        ini.open(QIODevice::WriteOnly); // an empty one: Russian texts
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 from = now - qint64(days) * 24 * 3600 * 1000;
    qint64 rows = 0;
    {
        HistoryStore store(dir.path());
        if (!store.Open())
            return 1;
        QElapsedTimer t;
        t.start();
        rows = Generate(store, from, days, sensors, changeS);
        std::printf("store: %d days x %d sensors, %lld rows, %.1f MB, written in %.1f s\n", days,
                    sensors, static_cast<long long>(rows),
                    QFileInfo(store.path()).size() / 1e6, t.elapsed() / 1000.0);
    }
    HistoryStore store(dir.path());
    if (!store.Open())
        return 1;
    const int controller = store.Controllers().empty() ? 0 : store.Controllers().back().id;

    std::vector<double> query, grid, chart;
    size_t samples = 0, kept = 0;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        const std::vector<SensorSeries> series = store.SensorReadings(controller, from, now);
        query.push_back(t.nsecsElapsed() / 1e6);
        kept = 0;
        for (const SensorSeries &s : series)
            kept += s.timesMs.size();
        t.restart();
        const ReadingsGrid g = BuildReadingsGrid(series, from, now);
        grid.push_back(t.nsecsElapsed() / 1e6);
        samples = g.timesMs.size();
    }
    RecorderView view;
    MainState state(view);
    for (int i = 0; i < 5; ++i) {
        LiveChart live(state);
        live.SetHistory(&store, [] { return 0; });
        live.resize(1400, 500);
        live.show();
        app.processEvents();
        QElapsedTimer t;
        t.start();
        live.view()->SetRange(from, now); // loads, composes and redraws
        live.chart()->RedrawNow();        // the decimation for the first frame
        chart.push_back(t.nsecsElapsed() / 1e6);
        if (live.drawnSensors().size() != size_t(sensors))
            return 2;
    }
    std::printf("week query (SensorReadings, %zu rows), median of 5: %.0f ms\n", kept,
                median(query));
    std::printf("grid (BuildReadingsGrid, %zu samples), median of 5: %.0f ms\n", samples,
                median(grid));
    std::printf("chart scrolled back over all of it (load + compose + decimate), median of 5: "
                "%.0f ms (target < 300)\n",
                median(chart));
    return 0;
}
