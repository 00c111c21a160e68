// The data side of the charts: the live ring, the decimation per pixel column and trend
// files read into columns.
#include "Cp1251.h"
#include "Decimate.h"
#include "LiveSeries.h"
#include "TrendReader.h"

#include <QTest>
#include <cmath>
#include <limits>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int kPyramidRows = 4 * 2048 + 77; // four 2048-blocks and a partial 32-block

QByteArray trendBytes(const char *utf8) { return Cp1251::encode(QString::fromUtf8(utf8)); }

} // namespace

class TestChartData : public QObject {
    Q_OBJECT
private slots:
    void ringKeepsTheNewestInOrderAndStaysBounded()
    {
        LiveSeries ring(5);
        for (int i = 0; i < 12; ++i) {
            const quint16 status[3] = {0, 40, quint16(i % 2 ? 10 : 1)};
            const quint16 temp[3] = {quint16(100 + i), 7, quint16(200 + i)};
            ring.Append(1000 * i, status, temp);
        }
        QCOMPARE(ring.size(), 5);
        QCOMPARE(ring.sensorCount(), 3);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(ring.time(i), 1000 * (7 + i));
            QCOMPARE(ring.value(0, i), float(107 + i));
            QVERIFY(LiveSeries::IsGap(ring.value(1, i))); // not registered
            // Sensor 3 alternates between a threshold (a reading) and no power (a gap).
            if ((7 + i) % 2)
                QVERIFY(LiveSeries::IsGap(ring.value(2, i)));
            else
                QCOMPARE(ring.value(2, i), float(207 + i));
        }
        QCOMPARE(ring.registered(), (std::vector<int>{0, 2}));
        std::vector<qint64> times;
        std::vector<float> values;
        ring.CopyTimes(times);
        ring.CopyValues(0, values);
        QCOMPARE(times.front(), 7000);
        QCOMPARE(times.back(), 11000);
        QCOMPARE(values.back(), 111.0f);
    }

    void ringGapsForEveryStatusThatIsNoReading()
    {
        LiveSeries ring(4);
        const quint16 status[8] = {0, 1, 2, 10, 20, 30, 40, 7};
        const quint16 temp[8] = {10, 11, 12, 13, 14, 15, 16, 17};
        ring.Append(0, status, temp);
        for (int s = 0; s < 3; ++s)
            QCOMPARE(ring.value(s, 0), float(10 + s));
        for (int s = 3; s < 8; ++s)
            QVERIFY2(LiveSeries::IsGap(ring.value(s, 0)), qPrintable(QString::number(status[s])));
        // Unknown codes are registered (shown as "-------" in the grid), 40 is not.
        QCOMPARE(ring.registered(), (std::vector<int>{0, 1, 2, 3, 4, 5, 7}));
        // A temperature of 65535 stays unsigned.
        const quint16 hot[8] = {0xFFFF};
        ring.Append(1, status, hot);
        QCOMPARE(ring.value(0, 1), 65535.0f);
    }

    void ringLeavesOutReadingsThatComeTooSoon()
    {
        LiveSeries ring(4, 100);
        const quint16 st[1] = {0}, t[1] = {1};
        QVERIFY(ring.Append(1000, st, t));
        QVERIFY(!ring.Append(1050, st, t));
        QVERIFY(ring.Append(1100, st, t));
        QCOMPARE(ring.size(), 2);
        // The clock set back: the ring starts afresh, so times still ascend.
        QVERIFY(ring.Append(500, st, t));
        QCOMPARE(ring.size(), 1);
        QCOMPARE(ring.time(0), qint64(500));
    }

    void ringStartsAfreshForAnotherSensorCount()
    {
        LiveSeries ring(4);
        const quint16 s2[2] = {}, t2[2] = {5, 6};
        ring.Append(0, s2, t2);
        ring.Append(1, s2, t2);
        const quint16 s3[3] = {}, t3[3] = {7, 8, 9};
        const quint64 before = ring.revision();
        ring.Append(2, s3, t3);
        QCOMPARE(ring.size(), 1);
        QCOMPARE(ring.sensorCount(), 3);
        QCOMPARE(ring.value(2, 0), 9.0f);
        QVERIFY(ring.revision() > before);
    }

    void decimationKeepsEveryBucketsExtremes()
    {
        // 10,000 samples into 100 buckets: each bucket's lowest and highest value survive,
        // single spikes included.
        std::vector<qint64> x(10000);
        std::vector<float> y(10000);
        for (size_t i = 0; i < x.size(); ++i) {
            x[i] = qint64(i) * 1000;
            y[i] = float(100 + 10 * std::sin(double(i) / 300));
        }
        y[1234] = 900;  // a spike up
        y[7777] = -500; // and one down
        const auto points = DecimateMinMax(x.data(), y.data(), x.size(), 0, 9999 * 1000, 100, 0);
        QVERIFY(points.size() <= 2 * 102);
        QVERIFY(points.size() >= 100);
        auto has = [&](double px, double py) {
            return std::any_of(points.begin(), points.end(),
                               [&](const PlotPoint &p) { return p.x == px && p.y == py; });
        };
        QVERIFY(has(1234000, 900));
        QVERIFY(has(7777000, -500));
        for (size_t b = 0; b < 100; ++b) {
            const size_t from = b * 100, to = from + 100; // bucket b holds rows from .. to-1
            const auto lo = std::min_element(y.begin() + from, y.begin() + to);
            const auto hi = std::max_element(y.begin() + from, y.begin() + to);
            QVERIFY2(has(double(x[size_t(lo - y.begin())]), *lo), qPrintable(QString::number(b)));
            QVERIFY2(has(double(x[size_t(hi - y.begin())]), *hi), qPrintable(QString::number(b)));
        }
        // In time order, no break (there are no gaps).
        for (size_t i = 1; i < points.size(); ++i) {
            QVERIFY(points[i].x >= points[i - 1].x);
            QVERIFY(!points[i].isBreak());
        }
    }

    void decimationBreaksAtGapsAndPauses()
    {
        // Few points pass unchanged, a gap is a break.
        const qint64 x[] = {0, 1000, 2000, 3000, 4000, 60000, 61000};
        const float y[] = {1, 2, kNaN, kNaN, 5, 6, 7};
        auto points = DecimateMinMax(x, y, 7, 0, 61000, 100, 5000);
        const auto runs = SplitAtBreaks(points);
        // 1,2 | 5 | (a pause of 56 s) 6,7
        QCOMPARE(runs.size(), size_t(3));
        QCOMPARE(runs[0].size(), size_t(2));
        QCOMPARE(runs[1].front().y, 5.0);
        QCOMPARE(runs[2].front().x, 60000.0);
        // Decimated: a long gap in the middle stays a gap, a single gap row among values
        // does not cut a bucket that still has values.
        std::vector<qint64> lx(20000);
        std::vector<float> ly(20000, 50.0f);
        for (size_t i = 0; i < lx.size(); ++i)
            lx[i] = qint64(i) * 1000;
        std::fill(ly.begin() + 8000, ly.begin() + 12000, kNaN); // no power for 4000 rows
        ly[3001] = kNaN;
        points = DecimateMinMax(lx.data(), ly.data(), lx.size(), 0, 19999 * 1000, 200, 0);
        const auto longRuns = SplitAtBreaks(points);
        QCOMPARE(longRuns.size(), size_t(2));
        QVERIFY(longRuns[0].back().x < 8000 * 1000.0);
        QVERIFY(longRuns[1].front().x >= 12000 * 1000.0);
        // Only the rows that are there: nothing drawn for a range with no values at all.
        QVERIFY(SplitAtBreaks(DecimateMinMax(lx.data(), ly.data(), lx.size(), 9000 * 1000,
                                             10000 * 1000, 50, 0))
                    .empty());
    }

    void decimationReachesBeyondTheRangeEdges()
    {
        const qint64 x[] = {0, 10000, 20000, 30000};
        const float y[] = {1, 2, 3, 4};
        const auto points = DecimateMinMax(x, y, 4, 12000, 18000, 10, 0);
        // The line enters and leaves the plot: the neighbours outside are drawn too.
        QCOMPARE(points.size(), size_t(2));
        QCOMPARE(points.front().x, 10000.0);
        QCOMPARE(points.back().x, 20000.0);
        QVERIFY(DecimateMinMax(x, y, 4, 18000, 12000, 10, 0).empty());
        QCOMPARE(TypicalStepMs(x, 4), qint64(10000));
    }

    void decimationEndsWhenTheRangeEndsOnASample()
    {
        // The whole of a file across the plot, as opening one shows it: x1 is the last
        // sample, and with these numbers floor((x1 - x0) / width) rounds one bucket short.
        // Decimating then looped for ever on that sample.
        const qint64 x0 = 1795996800000;
        std::vector<qint64> x;
        std::vector<float> y;
        for (int i = 0; i < 50; ++i) {
            x.push_back(x0 + i * 1000);
            y.push_back(float(i % 5));
        }
        const auto points = DecimateMinMax(x.data(), y.data(), x.size(), x0, x.back(), 11, 0);
        QVERIFY(points.size() <= 2 * 11 + 2);
        QCOMPARE(points.back().x, double(x.back()));
        QCOMPARE(points.front().x, double(x0));
    }

    void decimationFromBlocksDrawsWhatTheSamplesDraw()
    {
        // Samples a second apart with gaps (NaN runs), pauses and a few spikes: reduced from
        // the blocks' extremes, every range and width gives the same points as sample by
        // sample, so no peak, gap or pause is lost on the way.
        std::vector<qint64> x;
        std::vector<float> y;
        qint64 t = 1795996800000;
        quint32 seed = 7;
        auto rnd = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
        for (int i = 0; i < 20000; ++i) {
            t += (rnd() % 997 == 0) ? 60000 : 1000; // now and then a pause of a minute
            x.push_back(t);
            const bool gap = (i / 300) % 11 == 3 || rnd() % 401 == 0;
            y.push_back(gap ? std::numeric_limits<float>::quiet_NaN()
                            : float(200 + int(rnd() % 50) + (rnd() % 1500 == 0 ? 400 : 0)));
        }
        const MinMaxBlocks blocks = BuildMinMaxBlocks(x.data(), y.data(), x.size(), 5000);
        const qint64 first = x.front(), last = x.back();
        const qint64 ranges[][2] = {{first, last},
                                    {first - 5000, last + 5000},
                                    {first + 123457, first + 4000000},
                                    {first + 777, last - 999},
                                    {first + 3600000, first + 3700000}};
        for (const auto &r : ranges)
            for (int buckets : {7, 50, 333, 977, 1280}) {
                const auto plain =
                    DecimateMinMax(x.data(), y.data(), x.size(), r[0], r[1], buckets, 5000);
                const auto fast = DecimateMinMax(x.data(), y.data(), x.size(), r[0], r[1],
                                                 buckets, 5000, &blocks);
                QCOMPARE(fast.size(), plain.size());
                for (size_t i = 0; i < plain.size(); ++i) {
                    QCOMPARE(fast[i].x, plain[i].x);
                    QCOMPARE(fast[i].isBreak(), plain[i].isBreak());
                    if (!plain[i].isBreak())
                        QCOMPARE(fast[i].y, plain[i].y);
                }
            }
    }

    // Every level of blocks (32, 256, 2048 samples) against the samples themselves, over
    // ranges that start and end on, just before and just after the blocks' edges: a block
    // taken one sample too far, or at the wrong level, moves a point. Many equal values
    // (the first of them is the point), spikes on the edges, blocks and a whole 2048-block
    // with no value at all, a pause; two channels decimated with the buckets found once.
    void decimationFromThePyramid_data()
    {
        QTest::addColumn<int>("first"); // sample at the range's start
        QTest::addColumn<int>("last");  // sample at its end
        QTest::addColumn<int>("shiftMs"); // both ends moved by this, into the next second
        QTest::addColumn<int>("buckets");
        QTest::newRow("everything, few buckets") << 0 << kPyramidRows - 1 << 0 << 7;
        QTest::newRow("everything, a bucket about a 256-block") << 0 << kPyramidRows - 1 << 0 << 24;
        QTest::newRow("everything, many buckets") << 0 << kPyramidRows - 1 << 0 << 977;
        QTest::newRow("on 256-block edges") << 256 << 4096 << 0 << 2;
        QTest::newRow("one before 256-block edges") << 255 << 4095 << 0 << 3;
        QTest::newRow("one after 256-block edges") << 257 << 4097 << 0 << 3;
        QTest::newRow("one 2048-block and one sample each side") << 2047 << 4097 << 0 << 1;
        QTest::newRow("exactly one 2048-block") << 2048 << 4095 << 0 << 1;
        QTest::newRow("32-block edges, half seconds") << 31 << 2049 << 500 << 5;
        QTest::newRow("across the empty 2048-block") << 1000 << 7000 << 250 << 11;
        QTest::newRow("across the pause") << 5000 << 5200 << 0 << 4;
        QTest::newRow("the tail past the last whole block") << 8100 << kPyramidRows - 1 << 0 << 3;
    }

    void decimationFromThePyramid()
    {
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, shiftMs);
        QFETCH(int, buckets);
        std::vector<qint64> x(kPyramidRows);
        std::vector<float> a(kPyramidRows), b(kPyramidRows);
        quint32 seed = 11;
        auto rnd = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
        qint64 t = 1795996800000;
        for (int i = 0; i < kPyramidRows; ++i) {
            t += i == 5100 ? 90000 : 1000; // a pause of a minute and a half
            x[size_t(i)] = t;
            a[size_t(i)] = float(20 + rnd() % 4); // few values: ties everywhere
            b[size_t(i)] = rnd() % 97 == 0 ? kNaN : float(rnd() % 1000) / 10;
        }
        for (int i : {31, 32, 255, 256, 2047, 2048, 4095, 4096})
            a[size_t(i)] = i % 2 ? 90 : -90; // spikes on both sides of the edges
        std::fill(a.begin() + 512, a.begin() + 768, kNaN);   // an empty 256-block
        std::fill(a.begin() + 6144, a.begin() + 8192, kNaN); // an empty 2048-block
        std::fill(b.begin() + 4096, b.begin() + 4096 + 2048, kNaN);
        const MinMaxBlocks blocksA = BuildMinMaxBlocks(x.data(), a.data(), x.size(), 5000);
        const MinMaxBlocks blocksB = BuildMinMaxBlocks(x.data(), b.data(), x.size(), 5000);
        QVERIFY(blocksA.levels.size() >= 3); // 32, 256 and 2048 samples a block
        const qint64 x0 = x[size_t(first)] + shiftMs, x1 = x[size_t(last)] + shiftMs;
        const DecimationPlan plan = PlanDecimation(x.data(), x.size(), x0, x1, buckets, 5000);
        QVERIFY(!plan.passThrough);
        for (const auto &[y, blocks] : {std::pair{&a, &blocksA}, std::pair{&b, &blocksB}}) {
            const auto samples =
                DecimateMinMax(x.data(), y->data(), x.size(), x0, x1, buckets, 5000);
            std::vector<PlotPoint> fromBlocks;
            DecimateByPlan(plan, x.data(), y->data(), 5000, blocks, fromBlocks);
            QCOMPARE(fromBlocks.size(), samples.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                QCOMPARE(fromBlocks[i].x, samples[i].x);
                QCOMPARE(fromBlocks[i].isBreak(), samples[i].isBreak());
                if (!samples[i].isBreak())
                    QCOMPARE(fromBlocks[i].y, samples[i].y);
            }
        }
    }

    void columnsFromEveryStatusTextAndShortRows()
    {
        const QByteArray bytes = trendBytes(
            "Дата\tВремя\tКанал 2\tКанал 5\tКанал 9\t\r\n"
            "Дата\tВремя\tПечь\t\tСушка\t\r\n"
            "06.12.26\t13:05:09\t250\tНЕТ ПИТАНИЯ\t65535\t\r\n"
            "06.12.26\t13:05:16\tНЕИСПРАВЕН!!\tНЕОПРЕДЕЛЕН\t-------\t\r\n"
            "06.12.26\t13:05:23\t251\t\r\n"          // a sensor gone: short row
            "06.12.26\t13:05:30\t252\t7\t8\r\n"      // last TAB missing
            "\r\n"
            "06.12.26\t25:00:00\t1\t2\t3\t\r\n"     // bad time
            "31.02.26\t13:05:37\t1\t2\t3\t\r\n"     // no such day
            "06.12.26\t13:05:44\t65536\t+5\t12a\t\r\n"
            "06.12.26\t13:05:51"); // no cells, no line end
        QString why;
        const auto t = ParseTrendColumns(bytes, &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->sensors, (QList<int>{2, 5, 9}));
        QCOMPARE(t->tags, (QStringList{"Печь", "", "Сушка"}));
        QCOMPARE(t->rowCount(), 6);
        QCOMPARE(t->skippedLines, 2);
        QCOMPARE(QDateTime::fromMSecsSinceEpoch(t->timesMs[0]),
                 QDateTime(QDate(2026, 12, 6), QTime(13, 5, 9)));
        QCOMPARE(t->timesMs[1] - t->timesMs[0], qint64(7000));
        const auto &v = t->values;
        auto gap = [](float f) { return std::isnan(f); };
        QCOMPARE(v[0][0], 250.0f);
        QVERIFY(gap(v[1][0]));
        QCOMPARE(v[2][0], 65535.0f);
        QVERIFY(gap(v[0][1]) && gap(v[1][1]) && gap(v[2][1]));
        QCOMPARE(v[0][2], 251.0f);
        QVERIFY(gap(v[1][2]) && gap(v[2][2]));
        QCOMPARE(v[2][3], 8.0f);
        QVERIFY(gap(v[0][4]) && gap(v[1][4]) && gap(v[2][4])); // 65536, +5, 12a
        QVERIFY(gap(v[0][5]) && gap(v[1][5]) && gap(v[2][5]));
        // The row-per-cell reading agrees with the columns.
        const auto old = ParseTrend(bytes);
        QVERIFY(old);
        QCOMPARE(old->times.size(), 6);
        QCOMPARE(old->channels[0].values[0], std::optional<quint16>(250));
        QCOMPARE(old->channels[1].values[0], std::nullopt);
    }

    void columnsRefuseWhatIsNoTrendFile()
    {
        QString why;
        for (const char *bad : {"", "Дата\tВремя\tКанал 1\t\r\n",
                                "Date\tTime\tКанал 1\t\r\nДата\tВремя\t\t\r\n",
                                "Дата\tВремя\tКанал x\t\r\nДата\tВремя\t\t\r\n",
                                "Дата\tВремя\tКанал 1\t\r\nfoo\r\n"}) {
            why.clear();
            QVERIFY2(!ParseTrendColumns(trendBytes(bad), &why), bad);
            QVERIFY(!why.isEmpty());
        }
        QVERIFY(!ReadTrendColumns(QStringLiteral("/nonexistent/trend.txt"), &why));
    }
};

QTEST_GUILESS_MAIN(TestChartData)
#include "tst_chartdata.moc"
