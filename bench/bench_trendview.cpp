// Opening, panning and zooming a week-long trend file (one row a second, 36 channels):
// parsing, the viewer's first drawing and the time per pan or zoom step, offscreen.
// Usage: QT_QPA_PLATFORM=offscreen bench_trendview [ROWS=604800] [CHANNELS=36]
//        bench_trendview --write FILE [ROWS] [CHANNELS]   (only writes the file)
//        BENCH_SHOTS=DIR bench_trendview   (only the plot's pixels, to compare two builds)
#include "Decimate.h"
#include "MemIniFile.h"
#include "TrendGen.h"
#include "TimeChart.h"
#include "TrendPlot.h"
#include "TrendReader.h"
#include "TrendViewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <cstdio>
#include <ctime>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The thread's own CPU time: on a shared machine, what a step costs without the waits
// for a core.
double ThreadCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QDateTime start(QDate(2026, 11, 30), QTime(0, 0));
    if (args.value(0) == QStringLiteral("--write")) {
        const int rows = args.value(2, QStringLiteral("604800")).toInt();
        const int channels = args.value(3, QStringLiteral("36")).toInt();
        return WriteTrend(args.value(1), rows, channels, start) ? 0 : 1;
    }
    const int rows = args.value(0, QStringLiteral("604800")).toInt();
    const int channels = args.value(1, QStringLiteral("36")).toInt();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("week.txt"));
    if (!WriteTrend(path, rows, channels, start))
        return 1;
    std::printf("file: %d rows x %d channels, %.1f MB\n", rows, channels,
                QFileInfo(path).size() / 1e6);

    std::vector<double> parse;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        const auto data = ReadTrendColumns(path);
        parse.push_back(t.nsecsElapsed() / 1e6);
        if (!data || data->rowCount() != rows)
            return 2;
    }
    std::printf("parse (ReadTrendColumns), median of 3: %.0f ms\n", median(parse));

    // Decimation alone, every channel over the whole week into 640 buckets.
    {
        const auto data = ReadTrendColumns(path);
        std::vector<double> ms;
        size_t points = 0;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            points = 0;
            for (const auto &channel : data->values)
                points += DecimateMinMax(data->timesMs.data(), channel.data(), channel.size(),
                                         data->timesMs.front(), data->timesMs.back(), 640, 5000)
                              .size();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("decimation alone, %d channels x %d rows into 640 buckets: median %.1f ms "
                    "(%zu points)\n",
                    channels, rows, median(ms), points);
        // As the viewer does it: from the blocks built at open, the buckets found once.
        std::vector<MinMaxBlocks> blocks;
        for (const auto &channel : data->values)
            blocks.push_back(BuildMinMaxBlocks(data->timesMs.data(), channel.data(),
                                               channel.size(), 5000));
        for (const int buckets : {970, 640}) {
            ms.clear();
            std::vector<PlotPoint> out;
            std::vector<double> cpu;
            for (int i = 0; i < 9; ++i) {
                const double c0 = ThreadCpuMs();
                QElapsedTimer t;
                t.start();
                points = 0;
                const DecimationPlan plan =
                    PlanDecimation(data->timesMs.data(), data->timesMs.size(),
                                   data->timesMs.front(), data->timesMs.back(), buckets, 5000);
                for (size_t c = 0; c < data->values.size(); ++c) {
                    DecimateByPlan(plan, data->timesMs.data(), data->values[c].data(), 5000,
                                   &blocks[c], out);
                    points += out.size();
                }
                ms.push_back(t.nsecsElapsed() / 1e6);
                cpu.push_back(ThreadCpuMs() - c0);
            }
            std::printf("decimation from the blocks, %d channels x %d rows into %d buckets: "
                        "median %.2f ms, CPU %.2f ms (%zu points)\n",
                        channels, rows, buckets, median(ms), median(cpu), points);
        }
    }

    MemIniFile settings(QString{});
    std::vector<double> open;
    TrendViewer *viewer = nullptr;
    for (int i = 0; i < 3; ++i) {
        delete viewer;
        viewer = new TrendViewer(settings);
        viewer->resize(1280, 800);
        viewer->show();
        QApplication::processEvents();
        QElapsedTimer t;
        t.start();
        if (!viewer->Load(path))
            return 3;
        viewer->view()->replot(); // the first frame drawn
        viewer->grab();
        open.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("open in the viewer (read, decimate, first frame), median of 3: %.0f ms\n",
                median(open));
    // BENCH_SHOTS=DIR: the plot as drawn on the screen, over the week, a day and a day with
    // a channel highlighted, into DIR (to compare one build's pixels with another's).
    if (const QString shots = qEnvironmentVariable("BENCH_SHOTS"); !shots.isEmpty()) {
        for (int k = 0; k < 3; ++k) {
            if (k == 1) {
                const qint64 f = viewer->data().timesMs[size_t(rows) / 2];
                viewer->view()->SetRange(f, f + 86400LL * 1000);
            }
            if (k == 2)
                viewer->chart()->SetHighlighted(3);
            viewer->RedrawNow();
            viewer->view()->replot();
            viewer->view()->grab().save(QStringLiteral("%1/plot%2.png").arg(shots).arg(k));
        }
        return 0;
    }

    // One step as the user makes it: the view moved, decimated and handed to the graphs
    // (`redraw`), replotted and painted (`ms`), and the GUI thread's CPU time for it.
    struct Steps {
        std::vector<double> ms, redraw, cpu;
    };
    auto step = [&](Steps &s, const std::function<void()> &move) {
        const double c0 = ThreadCpuMs();
        QElapsedTimer t;
        t.start();
        move();
        viewer->RedrawNow();
        s.redraw.push_back(t.nsecsElapsed() / 1e6);
        viewer->view()->replot();
        viewer->view()->repaint();
        s.ms.push_back(t.nsecsElapsed() / 1e6);
        s.cpu.push_back(ThreadCpuMs() - c0);
    };
    // Pan steps: 2 % of the width each, on the whole week, one day and one hour. A step is
    // what one mouse move of a drag costs.
    auto pan = [&](const char *what, int steps) {
        Steps s;
        for (int i = 0; i < steps; ++i)
            step(s, [&] { viewer->view()->Pan(i < steps / 2 ? 0.02 : -0.02); });
        int points = 0;
        for (const QCPGraph *g : viewer->graphs())
            points += g->dataCount();
        std::printf("pan step on %s (decimate %d channels, replot, paint), median %.1f ms (of "
                    "which decimating and handing the points to the graphs %.1f ms), worst "
                    "%.1f ms, CPU median %.1f ms, %d points drawn\n",
                    what, channels, median(s.ms), median(s.redraw),
                    *std::max_element(s.ms.begin(), s.ms.end()), median(s.cpu), points);
    };
    // Zoom steps: one wheel notch (the plot's factor 0.8) in, then one out, around a time a
    // third across, so the span stays about the one chosen.
    auto zoom = [&](const char *what, int steps) {
        Steps s;
        for (int i = 0; i < steps; ++i) {
            const qint64 a = viewer->view()->from(), b = viewer->view()->to();
            step(s, [&] { viewer->view()->Zoom(i % 2 == 0 ? 0.8 : 1 / 0.8, a + (b - a) / 3); });
        }
        std::printf("zoom step on %s (in and out by a wheel notch), median %.1f ms (of which "
                    "decimating %.1f ms), worst %.1f ms, CPU median %.1f ms\n",
                    what, median(s.ms), median(s.redraw),
                    *std::max_element(s.ms.begin(), s.ms.end()), median(s.cpu));
    };
    const qint64 first = viewer->data().timesMs.front(), last = viewer->data().timesMs.back();
    viewer->view()->SetRange(first, last);
    pan("the whole week", 40);
    viewer->view()->SetRange(first, last);
    zoom("the whole week", 40);
    const qint64 from = viewer->data().timesMs[size_t(rows) / 2];
    viewer->view()->SetRange(from, from + 86400LL * 1000);
    pan("one day", 40);
    viewer->view()->SetRange(from, from + 86400LL * 1000);
    zoom("one day", 40);
    viewer->view()->SetRange(from, from + 3600LL * 1000);
    pan("one hour", 40);
    viewer->view()->SetRange(from, from + 3600LL * 1000);
    zoom("one hour", 40);

    // The cursor swept across the plot as a hovering mouse moves it: the cursor layer and
    // the legend's values are drawn again, the lines are not.
    {
        viewer->view()->SetRange(viewer->data().timesMs.front(), viewer->data().timesMs.back());
        viewer->RedrawNow();
        viewer->view()->replot();
        TimeChart *chart = viewer->chart();
        const qint64 a = viewer->view()->from(), b = viewer->view()->to();
        std::vector<double> ms, set, plot;
        for (int i = 0; i < 100; ++i) {
            QElapsedTimer t;
            t.start();
            chart->SetCursorTime(a + (b - a) * i / 100);
            set.push_back(t.nsecsElapsed() / 1e6);
            viewer->view()->repaint();
            plot.push_back(t.nsecsElapsed() / 1e6);
            chart->legend()->viewport()->repaint();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("cursor move over the whole week (cursor layer, %d legend values, painted), "
                    "median %.2f ms (cursor layer and values set %.2f, plot painted %.2f), "
                    "worst %.2f ms\n",
                    channels, median(ms), median(set), median(plot),
                    *std::max_element(ms.begin(), ms.end()));
        ms.clear();
        for (int i = 0; i < 20; ++i) { // for comparison: the whole plot drawn again
            QElapsedTimer t;
            t.start();
            viewer->view()->replot();
            viewer->view()->repaint();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("the whole plot drawn again instead, median %.2f ms\n", median(ms));
    }
    delete viewer;
    return 0;
}
