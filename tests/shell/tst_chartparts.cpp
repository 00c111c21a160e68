// The parts the live chart and the trend viewer share, offscreen, on samples whose values
// name their channel and row (channel c, row r: c x 100 + r): time ticks, the temperature
// axis, the legend, the cursor, the CSV export, the colours, Esc in the viewer.
#include "ChartLines.h"
#include "MemIniFile.h"
#include "TimeChart.h"
#include "TrendPlot.h"
#include "TrendViewer.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace {

constexpr qint64 kRowMs = 10 * 1000;
const QDateTime kStart(QDate(2026, 12, 7), QTime(13, 0)); // a Monday, local time

// Channels c = 0..n-1 with rows of value c x 100 + r, 10 s apart; gaps as NaN.
struct Samples {
    std::vector<qint64> times;
    std::vector<std::vector<float>> values;
    Samples(int channels, int rows)
    {
        for (int r = 0; r < rows; ++r)
            times.push_back(kStart.toMSecsSinceEpoch() + r * kRowMs);
        values.assign(size_t(channels), std::vector<float>(size_t(rows)));
        for (int c = 0; c < channels; ++c)
            for (int r = 0; r < rows; ++r)
                values[size_t(c)][size_t(r)] = float(c * 100 + r);
    }
    std::vector<ChartChannel> Channels(const QStringList &labels) const
    {
        std::vector<ChartChannel> channels;
        for (int c = 0; c < int(values.size()); ++c)
            channels.push_back({c, labels.value(c, QStringLiteral("Канал %1").arg(c + 1)),
                                values[size_t(c)].data()});
        return channels;
    }
};

} // namespace

class TestChartParts : public QObject {
    Q_OBJECT

    MemIniFile m_ini{QString()}; // no start.ini: the built-in Russian texts
    // The chart reads the samples where they are: they live as long as it does.
    std::unique_ptr<Samples> m_samples;
    std::unique_ptr<TimeChart> m_chart;

    TimeChart *NewChart(Samples samples, const QStringList &labels = {})
    {
        m_chart.reset();
        m_samples = std::make_unique<Samples>(std::move(samples));
        const Samples &s = *m_samples;
        m_chart = std::make_unique<TimeChart>(m_ini, QStringLiteral("Test"), QStringLiteral("PlotTest"));
        m_chart->resize(1050, 420);
        m_chart->findChild<QSplitter *>()->setSizes({770, 280});
        m_chart->show();
        if (!QTest::qWaitForWindowExposed(m_chart.get()))
            qWarning("chart not exposed");
        m_chart->SetData(s.times.data(), s.times.size(), s.Channels(labels), 3 * kRowMs);
        m_chart->plot()->SetRange(s.times.front(), s.times.back());
        m_chart->RedrawNow();
        m_chart->plot()->replot();
        return m_chart.get();
    }
    QString LegendValue(int c) const
    {
        return m_chart->legend()->item(c)->data(ChartLegend::kValueRole).toString();
    }

private slots:
    void initTestCase()
    {
        // Three hours east of UTC: a day tick on a UTC midnight would be off by three hours.
        qputenv("TZ", "MSK-3");
        tzset();
    }
    void cleanup() { m_chart.reset(); }

    void timeTicksFallOnRoundTimes_data()
    {
        QTest::addColumn<qint64>("spanMs");
        QTest::addColumn<qint64>("stepMs");
        QTest::addColumn<QString>("firstLabel");
        const qint64 s = 1000, min = 60 * s, h = 60 * min, d = 24 * h;
        QTest::newRow("a minute: 10 s") << min << 10 * s << "13:07:30";
        QTest::newRow("10 minutes: 2 min") << 10 * min << 2 * min << "13:08";
        QTest::newRow("an hour: 10 min") << h << 10 * min << "13:10";
        QTest::newRow("6 hours: hourly") << 6 * h << h << "14:00";
        QTest::newRow("a day: 6 h") << d << 6 * h << "07.12 18:00";
        QTest::newRow("3 days: 12 h") << 3 * d << 12 * h << "08.12 00:00";
        QTest::newRow("2 weeks: Mondays") << 14 * d << 7 * d << "14.12.26";
    }
    void timeTicksFallOnRoundTimes()
    {
        QFETCH(qint64, spanMs);
        QFETCH(qint64, stepMs);
        QFETCH(QString, firstLabel);
        TimeChart *chart = NewChart(Samples(1, 10));
        TrendPlot *plot = chart->plot();
        const qint64 from = kStart.toMSecsSinceEpoch() + 7 * 60000 + 23456; // 13:07:23.456
        plot->SetRange(from, from + spanMs);
        plot->replot();
        QCOMPARE(plot->xAxis->ticker()->tickCount(), 6); // the plot's width gives six labels
        const QVector<double> ticks = plot->xAxis->tickVector();
        const QVector<QString> labels = plot->xAxis->tickVectorLabels();
        QVERIFY(ticks.size() >= 2);
        for (qsizetype i = 0; i < ticks.size(); ++i) {
            const qint64 t = qint64(std::llround(ticks[i] * 1000));
            QVERIFY(t >= from && t <= from + spanMs);
            if (i > 0)
                QCOMPARE(t - qint64(std::llround(ticks[i - 1] * 1000)), stepMs);
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
            const qint64 ofDay = local.time().msecsSinceStartOfDay();
            QCOMPARE(ofDay % std::min<qint64>(stepMs, 24 * 3600 * 1000), 0);
            if (stepMs == 7 * 24 * 3600 * 1000)
                QCOMPARE(local.date().dayOfWeek(), 1);
        }
        QCOMPARE(labels.first(), firstLabel);
    }

    // Channel 0 runs base..base + 10; channel 1 holds 25 and, in row 10, the reading of the
    // case.
    void temperatureAxis_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<double>("reading");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("plain") << 20 << 25.0 << false << 19.0 << 31.0;
        QTest::newRow("broken probe, high") << 20 << 850.0 << false << 19.0 << 31.0;
        QTest::newRow("broken probe, low") << 20 << -273.0 << false << 19.0 << 31.0;
        QTest::newRow("hot, still plausible") << 20 << 150.0 << false << 13.0 << 157.0;
        QTest::newRow("cold, still plausible") << 20 << -60.0 << false << -65.0 << 35.0;
        QTest::newRow("nothing plausible: the lines stay in sight")
            << 200 << 205.0 << false << 199.0 << 211.0;
        QTest::newRow("manual 0..50 over a broken probe") << 20 << 850.0 << true << 0.0 << 50.0;
    }
    void temperatureAxis()
    {
        QFETCH(int, base);
        QFETCH(double, reading);
        QFETCH(bool, manual);
        QFETCH(double, low);
        QFETCH(double, high);
        Samples s(2, 30);
        for (int r = 0; r < 30; ++r) {
            s.values[0][size_t(r)] = float(base + r % 11);
            s.values[1][size_t(r)] = r == 10 || base > 100 ? float(reading) : 25.0f;
        }
        TimeChart *chart = NewChart(s);
        auto *autoY = chart->findChild<QCheckBox *>("CheckBoxTestAutoY");
        auto *yMin = chart->findChild<QDoubleSpinBox *>("EditTestYMin");
        auto *yMax = chart->findChild<QDoubleSpinBox *>("EditTestYMax");
        QVERIFY(autoY && yMin && yMax);
        QVERIFY(!yMin->isEnabled());
        if (manual) {
            QTest::mouseClick(autoY, Qt::LeftButton);
            QVERIFY(yMin->isEnabled());
            yMin->setValue(low);
            yMax->setValue(high);
        }
        chart->RedrawNow();
        QCOMPARE(chart->plot()->yAxis->range().lower, low);
        QCOMPARE(chart->plot()->yAxis->range().upper, high);
        if (manual) { // and back to automatic
            QTest::mouseClick(autoY, Qt::LeftButton);
            QCOMPARE(chart->plot()->yAxis->range().lower, 19.0);
            QCOMPARE(chart->plot()->yAxis->range().upper, 31.0);
        }
    }

    void legendClickHidesAndShows_data()
    {
        QTest::addColumn<int>("x"); // from the entry's left edge
        QTest::newRow("on the box") << 8;
        QTest::newRow("on the name") << 120;
    }
    void legendClickHidesAndShows()
    {
        QFETCH(int, x);
        TimeChart *chart = NewChart(Samples(36, 20));
        ChartLegend *legend = chart->legend();
        QCOMPARE(legend->count(), 36);
        legend->scrollToItem(legend->item(30));
        const QRect r = legend->visualItemRect(legend->item(30));
        const QPoint onName(r.left() + x, r.center().y());
        QTest::mouseClick(legend->viewport(), Qt::LeftButton, {}, onName);
        QVERIFY(!chart->graphs()[30]->visible());
        QCOMPARE(legend->item(30)->checkState(), Qt::Unchecked);
        QVERIFY(!chart->VisibleCsv().contains("Канал 31"));
        QVERIFY(chart->graphs()[29]->visible());
        QTest::mouseClick(legend->viewport(), Qt::LeftButton, {}, onName);
        QVERIFY(chart->graphs()[30]->visible());
        QVERIFY(chart->VisibleCsv().contains("Канал 31"));
        // None, then all.
        QTest::mouseClick(chart->findChild<QPushButton *>("ButtonTestCheckNone"), Qt::LeftButton);
        for (QCPGraph *g : chart->graphs())
            QVERIFY(!g->visible());
        QTest::mouseClick(chart->findChild<QPushButton *>("ButtonTestCheckAll"), Qt::LeftButton);
        for (QCPGraph *g : chart->graphs())
            QVERIFY(g->visible());
    }

    // The cursor at row 7 + 3 s of three channels; channel 1 has a gap in row 7.
    void cursorShowsEachChannelsValue_data()
    {
        QTest::addColumn<qint64>("atMs");
        QTest::addColumn<int>("hidden");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("row 7") << 7 * kRowMs + 3000 << -1 << QStringList{"7 °C", "", "207 °C"};
        QTest::newRow("nearer row 8") << 7 * kRowMs + 6000 << -1 << QStringList{"8 °C", "108 °C", "208 °C"};
        QTest::newRow("hidden channel") << 7 * kRowMs + 3000 << 2 << QStringList{"7 °C", "", ""};
        QTest::newRow("past the data") << 60 * kRowMs << -1 << QStringList{"", "", ""};
        QTest::newRow("no cursor") << qint64(-1) << -1 << QStringList{"", "", ""};
    }
    void cursorShowsEachChannelsValue()
    {
        QFETCH(qint64, atMs);
        QFETCH(int, hidden);
        QFETCH(QStringList, values);
        Samples s(3, 20);
        s.values[1][7] = std::numeric_limits<float>::quiet_NaN();
        TimeChart *chart = NewChart(s);
        if (hidden >= 0)
            chart->SetShown(hidden, false);
        chart->SetCursorTime(atMs < 0 ? -1 : s.times.front() + atMs);
        for (int c = 0; c < 3; ++c)
            QCOMPARE(LegendValue(c), values[c]);
    }

    void cursorFollowsTheMouse()
    {
        Samples s(2, 20);
        TimeChart *chart = NewChart(s);
        TrendPlot *plot = chart->plot();
        const int x = int(plot->xAxis->coordToPixel(double(s.times[12]) / 1000.0));
        const int y = plot->axisRect()->center().y();
        QTest::mouseMove(plot, QPoint(x, y));
        QTRY_VERIFY(plot->cursorTime() >= 0);
        QVERIFY(std::llabs(plot->cursorTime() - s.times[12]) < kRowMs / 2);
        QCOMPARE(LegendValue(0), QStringLiteral("12 °C"));
        QCOMPARE(LegendValue(1), QStringLiteral("112 °C"));
    }

    void csvHoldsTheShownRangeAndChannels()
    {
        Samples s(3, 20);
        s.values[1][6] = std::numeric_limits<float>::quiet_NaN();
        TimeChart *chart =
            NewChart(s, {"Печь 1 (Канал 2)", "Канал 5", "Сушка; зона \"2\" (Канал 9)"});
        chart->plot()->SetRange(s.times[5], s.times[8]);
        const QByteArray bom("\xEF\xBB\xBF");
        const QString head = "Время;Печь 1 (Канал 2);Канал 5;\"Сушка; зона \"\"2\"\" (Канал 9)\"\r\n";
        QString rows;
        for (int r = 5; r <= 8; ++r)
            rows += QDateTime::fromMSecsSinceEpoch(s.times[size_t(r)]).toString("yyyy-MM-dd HH:mm:ss") +
                    QStringLiteral(";%1;%2;%3\r\n")
                        .arg(r)
                        .arg(r == 6 ? QString() : QString::number(100 + r))
                        .arg(200 + r);
        QCOMPARE(chart->VisibleCsv(), bom + (head + rows).toUtf8());
        QVERIFY(rows.startsWith("2026-12-07 13:00:50;5;105;205\r\n"));

        // Through the button: the dialog is open, not modal; the file is the CSV.
        QTemporaryDir dir;
        const QString path = dir.filePath("range.csv");
        QTest::mouseClick(chart->findChild<QPushButton *>("ButtonTestCsv"), Qt::LeftButton);
        QFileDialog *dialog = chart->exportDialog();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), chart->VisibleCsv());
        f.close();
        // Hidden channels stay out; the same name again asks first, with our own box.
        chart->SetShown(0, false);
        QTest::mouseClick(chart->findChild<QPushButton *>("ButtonTestCsv"), Qt::LeftButton);
        dialog = chart->exportDialog();
        QTRY_VERIFY(dialog && dialog->isVisible());
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = chart->findChild<QMessageBox *>("ChartOverwriteBox")) && box->isVisible());
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray second = f.readAll();
        QVERIFY(second.startsWith(bom + "Время;Канал 5;"));
        QCOMPARE(second, chart->VisibleCsv());
    }

    void pngHoldsThePlot()
    {
        TimeChart *chart = NewChart(Samples(3, 20));
        QTemporaryDir dir;
        QString error;
        QVERIFY2(chart->SavePng(dir.filePath("a.png"), &error), qPrintable(error));
        QImage image(dir.filePath("a.png"));
        QVERIFY(image.width() > 500 && image.height() > 200);
    }

    // 36 channels: every pair apart, neighbours (n and n + 1) far apart.
    void coloursTellChannelsApart()
    {
        auto distance = [](const QColor &a, const QColor &b) { // "redmean" RGB distance
            const double r = (a.red() + b.red()) / 2.0;
            const double dr = a.red() - b.red(), dg = a.green() - b.green(), db = a.blue() - b.blue();
            return std::sqrt((2 + r / 256) * dr * dr + 4 * dg * dg + (2 + (255 - r) / 256) * db * db);
        };
        for (int i = 0; i < 36; ++i) {
            const QColor c = ChannelColor(i);
            QVERIFY2(distance(c, Qt::white) > 150, qPrintable(QString::number(i)));
            QVERIFY2(distance(c, ChannelColor(i + 1 < 36 ? i + 1 : 0)) > 250,
                     qPrintable(QString::number(i)));
            for (int j = 0; j < i; ++j)
                QVERIFY2(distance(c, ChannelColor(j)) > 55, qPrintable(QStringLiteral("%1 %2").arg(i).arg(j)));
        }
    }

    void escClosesTheViewer_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::newRow("plot") << "ChartViewTrend";
        QTest::newRow("legend") << "ListTrendChannels";
        QTest::newRow("open button") << "ButtonTrendOpen";
    }
    void escClosesTheViewer()
    {
        QFETCH(QString, focus);
        TrendViewer viewer(m_ini);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowActive(&viewer));
        auto *w = viewer.findChild<QWidget *>(focus);
        QVERIFY(w);
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!viewer.isVisible());
    }

    // A channel's line is mapped to pixels without QCPAxis::coordToPixel: a difference in
    // the arithmetic (order, rounding, the axis rect's edges) moves pixels of the drawn line.
    void channelLinePixelsAreTheAxesPixels_data()
    {
        QTest::addColumn<double>("from"); // s
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("low"); // the value axis
        QTest::addColumn<double>("high");
        QTest::newRow("a week") << 1795996800.0 << 1795996800.0 + 7 * 86400 << 150.0 << 560.0;
        QTest::newRow("ten seconds, fractions")
            << 1795996800.125 << 1795996810.375 << -12.5 << 7.25;
        QTest::newRow("values beyond the axis") << 1795996800.0 << 1795996900.0 << 200.0 << 210.0;
    }

    void channelLinePixelsAreTheAxesPixels()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, low);
        QFETCH(double, high);
        TrendPlot plot;
        plot.resize(1013, 607);
        auto *graph = new ChannelGraph(plot.xAxis, plot.yAxis);
        QVector<QCPGraphData> points;
        for (int i = -3; i < 400; ++i) {
            const double key = from + (to - from) * i / 397.0;
            const double spread = (high - low + 60) * ((i * 7919 + 400000) % 400) / 400.0;
            const double value = i % 37 == 5 ? qQNaN() : low - 30 + spread; // gaps too
            points.append(QCPGraphData(key, value));
        }
        graph->data()->set(points, true);
        plot.xAxis->setRange(from, to);
        plot.yAxis->setRange(low, high);
        plot.replot(); // lays out the axis rect
        QVector<QPointF> pixels;
        graph->LinePixels(pixels);
        QVERIFY(pixels.size() > 300);
        int checked = 0;
        for (int i = 0; i < int(points.size()); ++i) {
            const double x = plot.xAxis->coordToPixel(points[i].key);
            const auto at = std::find_if(pixels.begin(), pixels.end(),
                                         [x](const QPointF &p) { return p.x() == x; });
            if (at == pixels.end())
                continue; // outside the shown range
            const double y = plot.yAxis->coordToPixel(points[i].value);
            QVERIFY2(qIsNaN(y) ? qIsNaN(at->y()) : at->y() == y, qPrintable(QString::number(i)));
            ++checked;
        }
        QCOMPARE(checked, int(pixels.size()));
    }
};

QTEST_MAIN(TestChartParts)
#include "tst_chartparts.moc"
