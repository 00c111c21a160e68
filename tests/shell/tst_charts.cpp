// The live chart and the trend viewer offscreen: opened from their tool buttons, fed by the
// simulator or a trend file, read back through their lines, closed.
#include "ControllerFolder.h"
#include "Cp1251.h"
#include "GridView.h"
#include "LiveChart.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "TextGrid.h"
#include "TimeChart.h"
#include "TrendPlot.h"
#include "TrendViewer.h"

#include <QFileDialog>
#include <QListWidget>
#include <QToolButton>

class TestCharts : public ControllerFolderTest {
    Q_OBJECT

    void withController()
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        QVERIFY2(StartShippedSim(sim), qPrintable(sim.errorText()));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.ptyPath());
        start.writeString("connect", "speed", "4"); // 115200: cycles come quickly
        QVERIFY(start.updateFile());
    }

    // The connected runs of a graph (a NaN point breaks it) and the points drawn.
    static int runsOf(const QCPGraph *g)
    {
        int runs = 0;
        bool inRun = false;
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it) {
            const bool point = !std::isnan(it->value);
            runs += point && !inRun;
            inRun = point;
        }
        return runs;
    }
    static int pointsOf(const QCPGraph *g)
    {
        int n = 0;
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
            n += !std::isnan(it->value);
        return n;
    }

    static int shownRows(const TextGrid &g)
    {
        return g.rowCountGrid() == 2 && g.cell(0, 1).isEmpty() ? 0 : g.rowCountGrid() - 1;
    }

private slots:
    void liveChartDrawsTheRegisteredSensors()
    {
        withController();
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.resize(1400, 1000);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 15000);
        auto *chart = form.findChild<LiveChart *>("LiveChart");
        auto *button = form.findChild<QToolButton *>("ToolButtonChart");
        QVERIFY(chart && button);
        QCOMPARE(button->toolTip(), QStringLiteral("Показать или скрыть график температур (Ctrl+G)"));
        QVERIFY(!chart->isVisible()); // hidden by default
        // Hidden, the readings still go into the ring, and nothing is drawn.
        QTRY_VERIFY_WITH_TIMEOUT(chart->series().size() >= 3, 10000);
        QCOMPARE(chart->redraws(), 0);
        QVERIFY(chart->lines().isEmpty());

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(chart->isVisible());
        const int registered = shownRows(form.state().sensorsData) + shownRows(form.state().sensorsData2);
        QCOMPARE(registered, 12);
        QTRY_COMPARE(chart->lines().size(), registered);
        // Every line carries its sensor's tag without a recording having asked for the tags.
        for (int s = 0; s < 12; ++s)
            QTRY_COMPARE_WITH_TIMEOUT(chart->lines().value(s)->name(),
                                      QStringLiteral("Камера %1 (Датчик %1)").arg(s + 1), 10000);
        QCOMPARE(chart->chart()->legend()->item(0)->text(), QStringLiteral("Камера 1 (Датчик 1)"));
        // Sensors 1 to 9 are on the air: their lines have points; 10 to 12 (no power,
        // faulty, undetermined) are gaps, never zeros.
        for (int s = 0; s < 12; ++s) {
            QCPGraph *line = chart->lines().value(s);
            QVERIFY(line);
            if (s < 9)
                QVERIFY2(pointsOf(line) > 0, qPrintable(line->name()));
            else
                QCOMPARE(pointsOf(line), 0);
        }

        // Sensor 1 loses power for a while: its line breaks in two.
        QVERIFY(sim.command("set status 1 10").startsWith("OK"));
        const int n = chart->series().size();
        QTRY_VERIFY_WITH_TIMEOUT(chart->series().size() >= n + 3, 10000);
        QVERIFY(sim.command("set status 1 0").startsWith("OK"));
        const int m = chart->series().size();
        QTRY_VERIFY_WITH_TIMEOUT(chart->series().size() >= m + 3, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(runsOf(chart->lines().value(0)), 2, 5000);
        const QCPGraph *first = chart->lines().value(0);
        for (auto it = first->data()->constBegin(); it != first->data()->constEnd(); ++it)
            QVERIFY(std::isnan(it->value) || it->value > 0); // the gap drew no zeros

        // A sensor clicked in the grid is drawn thicker.
        auto *grid = form.findChild<GridView *>("StringGridSensorsData");
        QVERIFY(grid);
        const QRect row3 = grid->visualRect(grid->model()->index(3, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, row3.center());
        QCOMPARE(chart->chart()->highlighted(), 2);
        QVERIFY(chart->lines().value(2)->pen().width() > chart->lines().value(0)->pen().width());

        // Paused: readings come, the lines stay, and the plot says so.
        QCOMPARE(chart->view()->mark(), QString());
        QTest::mouseClick(form.findChild<QToolButton *>("ButtonChartPause"), Qt::LeftButton);
        QVERIFY(chart->paused());
        QCOMPARE(chart->view()->mark(), QStringLiteral("Пауза: новые значения не рисуются"));
        const int drawn = chart->redraws();
        const int before = chart->series().size();
        QTRY_VERIFY_WITH_TIMEOUT(chart->series().size() >= before + 3, 10000);
        QTest::qWait(LiveChart::kRedrawMs + 200);
        QCOMPARE(chart->redraws(), drawn);
        // A language switch while paused: the lines drawn are named anew, the mark too.
        QTest::mouseClick(form.findChild<QToolButton *>("ToolButtonEngLanguage"), Qt::LeftButton);
        QVERIFY(chart->paused());
        QCOMPARE(chart->view()->mark(), QStringLiteral("Paused: new readings are not drawn"));
        QVERIFY2(chart->chart()->legend()->item(0)->text().contains(QStringLiteral("(Sensor 1)")) ||
                     chart->chart()->legend()->item(0)->text() == QStringLiteral("Sensor 1"),
                 qPrintable(chart->chart()->legend()->item(0)->text()));
        QCOMPARE(chart->redraws(), drawn);
        chart->FollowNewest();
        QVERIFY(!chart->paused());
        QCOMPARE(chart->view()->mark(), QString());

        // Hidden again: remembered for the next start.
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!chart->isVisible());
        QCOMPARE(MemIniFile("start.ini").readString("chart", "visible", {}), QStringLiteral("0"));
        form.close();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 10000);
    }

    void trendViewerShowsAFileChosenInItsDialog()
    {
        // 300 rows at 7 s; channel 5 has no power for rows 100 to 149; row 200 is short.
        QDir().mkpath("Trends");
        QString text = QStringLiteral("Дата\tВремя\tКанал 2\tКанал 5\tКанал 9\t\r\n"
                                      "Дата\tВремя\tПечь 1\t\tСушка\t\r\n");
        const QDateTime start(QDate(2026, 12, 6), QTime(13, 0));
        for (int r = 0; r < 300; ++r) {
            const QDateTime t = start.addSecs(7 * r);
            text += t.toString("dd.MM.yy\tHH:mm:ss\t");
            if (r == 200) {
                text += "230\t\r\n";
                continue;
            }
            text += QString::number(200 + r % 10) + u'\t';
            text += (r >= 100 && r < 150 ? QStringLiteral("НЕТ ПИТАНИЯ") : QString::number(150)) + u'\t';
            text += (r % 50 == 0 ? QStringLiteral("НЕИСПРАВЕН!!") : QString::number(300 - r % 7)) + u'\t';
            text += "\r\n";
        }
        QFile f("Trends/06_12_26____13_00_00.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Cp1251::encode(text));
        f.close();

        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        auto *button = form.findChild<QToolButton *>("ToolButtonTrendViewer");
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        auto *viewer = form.findChild<TrendViewer *>("TrendViewer");
        QVERIFY(viewer);
        QTRY_VERIFY(viewer->isVisible());
        // The file dialog is open, not modal: the window goes on.
        QFileDialog *dialog = viewer->fileDialog();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(QDir(dialog->directory()).dirName(), QStringLiteral("Trends"));
        dialog->selectFile(QFileInfo(f).absoluteFilePath());
        static_cast<QDialog *>(dialog)->accept(); // as OK does

        QCOMPARE(viewer->data().rowCount(), 300);
        auto *list = viewer->findChild<QListWidget *>("ListTrendChannels");
        QVERIFY(list);
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Печь 1 (Канал 2)"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("Канал 5"));
        QCOMPARE(list->item(2)->text(), QStringLiteral("Сушка (Канал 9)"));
        viewer->RedrawNow();
        const auto &graphs = viewer->graphs();
        QCOMPARE(graphs.size(), size_t(3));
        QCOMPARE(viewer->view()->graphCount(), 3);
        QCOMPARE(graphs[0]->name(), QStringLiteral("Печь 1 (Канал 2)"));
        // Channel 5: before and after the lost power, and the short row's missing cell.
        QCOMPARE(runsOf(graphs[1]), 3);
        QCOMPARE(runsOf(graphs[0]), 1);
        QCOMPARE(pointsOf(graphs[0]), 300);
        QCOMPARE(runsOf(graphs[2]), 6); // faulty rows 50, 100, 150, 250 and short row 200
        for (QCPGraph *g : graphs)
            for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
                QVERIFY(std::isnan(it->value) || it->value >= 150); // gaps, never zeros
        // A channel unchecked is not drawn.
        list->item(0)->setCheckState(Qt::Unchecked);
        QVERIFY(!graphs[0]->visible());
        QVERIFY(graphs[1]->visible());
        // Panning and zooming keep the file's lines; the decimation follows the range.
        const qint64 from = viewer->view()->from();
        viewer->view()->Zoom(0.5, from);
        viewer->view()->Pan(0.1);
        viewer->view()->replot(); // decimates just before drawing
        QVERIFY(viewer->view()->from() > from);
        QVERIFY(pointsOf(graphs[2]) > 0);
        QVERIFY(graphs[2]->data()->constBegin()->key * 1000.0 < double(viewer->view()->from()));
        QVERIFY(pointsOf(graphs[2]) < 300);
        viewer->close();
        QVERIFY(!viewer->isVisible());
        // A file that is not a trend file is refused with a message, not opened.
        QFile bad("Trends/bad.txt");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("hello\r\n");
        bad.close();
        QVERIFY(!viewer->Load("Trends/bad.txt"));
        QCOMPARE(viewer->data().rowCount(), 300);
        QTRY_COMPARE(modal.messages.size(), 1);
        form.close();
    }
};

QTEST_MAIN(TestCharts)
#include "tst_charts.moc"
