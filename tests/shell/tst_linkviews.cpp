// The link statistics and frame log windows offscreen, against the simulator with faults
// switched on: opened from the tool bar, showing the simulator's traffic, reset, copied,
// saved, closed.
#include "ControllerFolder.h"
#include "FrameLogModel.h"
#include "FrameLogView.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "ModbusFrames.h"
#include "RecorderView.h"

#include <QCheckBox>
#include <QDateTime>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QScrollBar>
#include <QToolButton>

class TestLinkViews : public ControllerFolderTest {
    Q_OBJECT

    template <class T = QWidget> static T *child(QObject &w, const char *name)
    {
        T *c = w.findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qWarning("no child %s", name);
        return c;
    }
    static qint64 shown(QObject &view, const char *name)
    {
        return child<QLabel>(view, name)->text().section(u' ', 0, 0).toLongLong();
    }

    void withController(const QStringList &simArgs)
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_0.ini",
                                 "Cfg/qor7070__fw_1_1.ini", "Cfg/qor7070__fw_1_2.ini"}));
        QVERIFY2(StartShippedSim(sim, simArgs), qPrintable(sim.errorText()));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.ptyPath());
        start.writeInteger("connect", "receive", 200);
        QVERIFY(start.updateFile());
    }

private slots:
    void statisticsViewShowsTheSimulatorsFaultsAndResets()
    {
        withController({"--seed", "3", "--fault", "badcrc:rate=0.05", "--fault",
                        "exception:every=13,code=2"});
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        QVERIFY(!form.findChild<QWidget *>("LinkStatisticsView")); // made when asked for
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonLinkStatistics"), Qt::LeftButton);
        auto *view = child(form, "LinkStatisticsView");
        QVERIFY(view && view->isVisible());
        QCOMPARE(view->windowTitle(), QStringLiteral("Статистика связи"));
        // It follows the traffic by itself while shown.
        QTRY_VERIFY_WITH_TIMEOUT(shown(*view, "LinkStatisticsCrcErrors") > 0 &&
                                     shown(*view, "LinkStatisticsExceptions") > 0 &&
                                     shown(*view, "LinkStatisticsCycles") > 2,
                                 20000);
        QVERIFY(child<QLabel>(*view, "LinkStatisticsExceptions")->text().contains("(2: "));
        QVERIFY(child<QLabel>(*view, "LinkStatisticsWireShare")->text().contains('%'));
        QVERIFY(shown(*view, "LinkStatisticsRequests") >= shown(*view, "LinkStatisticsAnswers"));
        // Stopped, the link counts nothing more: the view shows exactly what it counted.
        QTest::mouseClick(child<QToolButton>(form, "ToolButton3"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.state().linkUp, 5000);
        const LinkStatistics &s = form.state().modbus.statistics();
        QTRY_COMPARE(shown(*view, "LinkStatisticsRequests"), qint64(s.requests));
        QCOMPARE(shown(*view, "LinkStatisticsCrcErrors"), qint64(s.crcErrors));
        QCOMPARE(shown(*view, "LinkStatisticsRetries"), qint64(s.retries));
        // Each kind also as a share of the attempts, and the same over the last minute.
        auto label = [&](const char *name) { return child<QLabel>(*view, name)->text(); };
        QCOMPARE(label("LinkStatisticsCrcErrorsPercent"),
                 QString::number(100.0 * double(s.crcErrors) /
                                     double(s.requests + s.sendFailures), 'f', 1) + '%');
        QCOMPARE(shown(*view, "LinkStatisticsCrcErrorsLastMinute"), qint64(s.crcErrors));
        QCOMPARE(label("LinkStatisticsExceptionsLastMinute"), QString::number(s.exceptionTotal()));
        QVERIFY(child<QLabel>(*view, "LinkStatisticsExceptions")->toolTip().contains(
            QStringLiteral("2 — недопустимый адрес данных: ")));
        // A plain verdict on the line, the thresholds in its tool tip.
        const QStringList verdicts{"хорошая", "на грани", "плохая"};
        QVERIFY2(verdicts.contains(label("LinkStatisticsLineQualityLastMinute")),
                 qPrintable(label("LinkStatisticsLineQualityLastMinute")));
        const QString tip = child<QLabel>(*view, "LinkStatisticsLineQualityLastMinute")->toolTip();
        QVERIFY2(tip.contains("Меньше 1 % — хорошая") && tip.contains("от 5 % — плохая"),
                 qPrintable(tip));
        // A minute on, nothing is recent; the totals stay.
        const std::function<qint64()> clock = s.clock;
        form.state().modbus.statistics().clock = [clock] { return clock() + 60'000; };
        QTRY_COMPARE(label("LinkStatisticsCrcErrorsLastMinute"), QStringLiteral("0"));
        QCOMPARE(label("LinkStatisticsLineQualityLastMinute"), QStringLiteral("нет запросов"));
        QCOMPARE(label("LinkStatisticsCrcErrorsLastMinutePercent"), QString());
        QCOMPARE(shown(*view, "LinkStatisticsCrcErrors"), qint64(s.crcErrors));
        QVERIFY(verdicts.contains(label("LinkStatisticsLineQuality")));
        form.state().modbus.statistics().clock = clock;

        QTest::mouseClick(child<QPushButton>(*view, "ButtonResetLinkStatistics"), Qt::LeftButton);
        QCOMPARE(s.requests, quint64(0));
        QCOMPARE(shown(*view, "LinkStatisticsRequests"), 0);
        QCOMPARE(shown(*view, "LinkStatisticsCrcErrors"), 0);
        QCOMPARE(shown(*view, "LinkStatisticsCycles"), 0);
        QCOMPARE(child<QLabel>(*view, "LinkStatisticsExceptions")->text(), QStringLiteral("0"));
        // Going on again, it counts from zero.
        QTest::mouseClick(child<QToolButton>(form, "ToolButton4"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(shown(*view, "LinkStatisticsCycles") > 0, 10000);
        view->close();
        QVERIFY(!view->isVisible());
        // Shown again: the same window.
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonLinkStatistics"), Qt::LeftButton);
        QCOMPARE(child(form, "LinkStatisticsView"), view);
        QVERIFY(view->isVisible());
        form.close();
        QTRY_VERIFY(!form.isVisible());
        QVERIFY(!view->isVisible());
    }

    // New rows come in while the log is shown: at the end, the table follows them, failures
    // only or not; scrolled up, it stays where the user looks.
    void frameLogFollowsTheNewestRowsAtTheEnd_data()
    {
        QTest::addColumn<bool>("failuresOnly");
        QTest::addColumn<bool>("atEnd");
        QTest::addColumn<bool>("paused"); // for a while, before the new rows
        QTest::newRow("failures only, at the end") << true << true << false;
        QTest::newRow("every frame, at the end") << false << true << false;
        QTest::newRow("failures only, scrolled up") << true << false << false;
        QTest::newRow("failures only, at the end, after a pause") << true << true << true;
        QTest::newRow("every frame, at the end, after a pause") << false << true << true;
    }
    void frameLogFollowsTheNewestRowsAtTheEnd()
    {
        QFETCH(bool, failuresOnly);
        QFETCH(bool, atEnd);
        QFETCH(bool, paused);
        QVERIFY(CopyShippedData({"start.ini", "default.ini"}));
        RecorderView recorder;
        MainState state(recorder);
        FrameLog &log = state.modbus.frameLog();
        const QByteArray request = ModbusFrame::readRequest(100, 0x300, 1);
        qint64 t = QDateTime::currentMSecsSinceEpoch();
        auto record = [&](int attempts) { // a failed attempt and its good retry, each
            for (int i = 0; i < attempts; ++i, t += 100) {
                log.RecordAttempt({t, request, true, t + 20, QByteArray::fromHex("17A9"),
                                   AttemptOutcome::Noise, 0, 1});
                log.RecordAttempt({t + 50, request, true, t + 70,
                                   QByteArray::fromHex("640302000185CB"), AttemptOutcome::Good,
                                   0, 2});
            }
        };
        // The ring half full, then full: rows come at the end and, later, go at the top.
        const int held = log.capacity() / 4; // records, of four frames each
        record(held / 2);
        FrameLogView view(state);
        view.resize(900, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto *table = child<QTableView>(view, "TableFrameLog");
        QAbstractItemModel *model = table->model();
        child<QCheckBox>(view, "CheckBoxFrameLogFailuresOnly")->setChecked(failuresOnly);
        const int perAttempt = failuresOnly ? 2 : 4; // rows of one record
        QTRY_COMPARE(model->rowCount(), held / 2 * perAttempt);
        QScrollBar *bar = table->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0); // more rows than the table shows
        if (!atEnd)
            bar->setValue(bar->maximum() / 2);
        const int looked = bar->value();
        if (paused) { // what was new meanwhile comes in at once on going on
            auto *pause = child<QPushButton>(view, "ButtonFrameLogPause");
            QTest::mouseClick(pause, Qt::LeftButton);
            record(5);
            QTest::qWait(700); // the view's refresh comes by while paused
            QTest::mouseClick(pause, Qt::LeftButton);
        }
        auto lastRowShown = [&] {
            const QRect last = table->visualRect(model->index(model->rowCount() - 1, 0));
            return last.isValid() && table->viewport()->rect().contains(last.center());
        };
        int records = held / 2 + (paused ? 5 : 0);
        for (int round = 1; round <= 4; ++round) {
            const int more = round == 3 ? held : 5; // the third fills the ring
            record(more);
            records = qMin(records + more, held);
            // The newest frame is in: the failed answer, or the good one after it.
            const qint64 newestMs = t - 100 + (failuresOnly ? 20 : 70);
            const QString newest =
                QDateTime::fromMSecsSinceEpoch(newestMs).toString(QStringLiteral("hh:mm:ss.zzz"));
            QTRY_COMPARE(model->index(model->rowCount() - 1, 0).data().toString(), newest);
            QCOMPARE(model->rowCount(), records * perAttempt);
            if (atEnd)
                QTRY_VERIFY(lastRowShown());
            else
                QCOMPARE(bar->value(), looked);
        }
    }

    void frameLogViewShowsFramesFiltersCopiesAndSaves()
    {
        withController({"--seed", "5", "--fault", "noise:rate=0.1"});
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonFrameLog"), Qt::LeftButton);
        auto *view = child<FrameLogView>(form, "FrameLogView");
        QVERIFY(view && view->isVisible());
        auto *table = child<QTableView>(*view, "TableFrameLog");
        QAbstractItemModel *model = table->model();
        QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 20, 10000);
        QCOMPARE(model->index(0, FrameLogModel::Function).data().toString().left(2),
                 QStringLiteral("03"));
        QVERIFY(model->index(0, FrameLogModel::Bytes).data().toString().startsWith("64 03 "));

        // Failures only: every row belongs to a failed attempt, both frames of it.
        child<QCheckBox>(*view, "CheckBoxFrameLogFailuresOnly")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() >= 2, 20000);
        for (int r = 0; r < model->rowCount(); ++r)
            QVERIFY(model->index(r, 0).data(FrameLogModel::FailureRole).toBool());
        // Stray bytes before the answer are noise, not a damaged CRC.
        QCOMPARE(model->index(1, FrameLogModel::Failure).data().toString(),
                 QStringLiteral("Помехи: принятые байты не образуют кадр"));
        child<QCheckBox>(*view, "CheckBoxFrameLogFailuresOnly")->setChecked(false);

        // Paused, the table stands still while the link goes on.
        QTest::mouseClick(child<QPushButton>(*view, "ButtonFrameLogPause"), Qt::LeftButton);
        const int rows = model->rowCount();
        const QString last = model->index(rows - 1, 0).data().toString() +
                             model->index(rows - 1, FrameLogModel::Bytes).data().toString();
        const quint64 recorded = form.state().modbus.frameLog().nextSeq();
        QTRY_VERIFY(form.state().modbus.frameLog().nextSeq() > recorded + 10);
        QCOMPARE(model->rowCount(), rows);
        QCOMPARE(model->index(rows - 1, 0).data().toString() +
                     model->index(rows - 1, FrameLogModel::Bytes).data().toString(),
                 last);

        // Copy: the selected rows as lines of text.
        table->selectRow(0);
        table->selectionModel()->select(model->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::mouseClick(child<QPushButton>(*view, "ButtonFrameLogCopy"), Qt::LeftButton);
        const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(copied.size(), 2);
        QCOMPARE(copied[0].split('\t').size(), int(FrameLogModel::ColumnCount));
        QVERIFY(copied[0].contains(model->index(0, FrameLogModel::Bytes).data().toString()));

        // Save: a header line and every row shown.
        QString error;
        QVERIFY2(view->SaveTo(folder->filePath("frames.txt"), &error), qPrintable(error));
        QFile saved(folder->filePath("frames.txt"));
        QVERIFY(saved.open(QIODevice::ReadOnly | QIODevice::Text));
        // UTF-8 says so with its byte order mark: an editor or a spreadsheet on Windows
        // would take the Cyrillic for the system's code page otherwise.
        QByteArray bytes = saved.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(!bytes.mid(3).contains("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), rows + 1);
        QCOMPARE(lines[0].section('\t', 0, 0), QStringLiteral("Время"));
        QVERIFY(!view->SaveTo(folder->filePath("no/such/folder/frames.txt"), &error));
        QVERIFY(!error.isEmpty());

        // The save button asks for the name without a nested loop; the file is written when
        // the dialog is accepted.
        QTest::mouseClick(child<QPushButton>(*view, "ButtonFrameLogSave"), Qt::LeftButton);
        auto *dialog = child<QFileDialog>(*view, "FrameLogSaveDialog");
        QVERIFY(dialog && dialog->isVisible());
        dialog->selectFile(folder->filePath("chosen.txt"));
        static_cast<QDialog *>(dialog)->accept();
        QTRY_VERIFY(QFile::exists(folder->filePath("chosen.txt")));

        QTest::mouseClick(child<QPushButton>(*view, "ButtonFrameLogPause"), Qt::LeftButton);
        QTRY_VERIFY(model->rowCount() > rows);
        view->close();
        QVERIFY(!view->isVisible());
        form.close();
        QTRY_VERIFY(!form.isVisible());
        QVERIFY(modal.messages.isEmpty());
    }
};

QTEST_MAIN(TestLinkViews)
#include "tst_linkviews.moc"
