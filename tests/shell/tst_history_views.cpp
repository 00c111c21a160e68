// The window's side of the history, offscreen against a real store file: the events view's
// filters and acknowledgements, the alarm count and line, the events CSV, the kept readings
// as the chart draws them and the live chart scrolled back into them.
#include "AlarmDisplay.h"
#include "ControllerFolder.h"
#include "EventsCsv.h"
#include "EventsView.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "HistoryViewTexts.h"
#include "LiveChart.h"
#include "Main.h"
#include "MainState.h"
#include "ModalAnswerer.h"
#include "ReadingsGrid.h"
#include "RecorderView.h"
#include "TrendPlot.h"
#include "TrendReader.h"
#include "TrendViewer.h"

#include <QDateTime>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QSignalSpy>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QToolButton>

namespace {

const HistoryController kFirst{0x7070, 1, QStringLiteral("/dev/ttyS9"), QStringLiteral("1.2")};
const HistoryController kSecond{0x7070, 2, QStringLiteral("tcp://10.0.0.5:502"),
                                QStringLiteral("1.2")};
constexpr qint64 kMinute = 60 * 1000;

// A minute two hours ago: every event falls in the view's default period (a week).
qint64 Base()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return (now - 2 * 3600 * 1000) / kMinute * kMinute;
}

struct Known {
    int minute;
    int controller; // 0 the program, 1 kFirst, 2 kSecond
    EventKind kind;
    int subject;
    int code;
    bool alarm;
};

// Known events; the minute names each (rows are found by their time).
const Known kKnown[] = {
    {0, 0, EventKind::ProgramStarted, 0, 0, false},
    {1, 1, EventKind::Identified, 0, 0, false},
    {5, 1, EventKind::SensorStatus, 3, 0, false},
    {10, 1, EventKind::SensorStatus, 7, 4, true},
    {20, 1, EventKind::RelaySwitched, 2, 1, false},
    {30, 1, EventKind::LinkLost, 0, 0, false},
    {31, 1, EventKind::LinkDownLong, 0, 0, true},
    {32, 1, EventKind::LinkBack, 0, 0, false},
    {40, 2, EventKind::SensorStatus, 7, 4, true},
    {50, 2, EventKind::SensorStatus, 3, 0, false},
    // Write 7: its number is no sensor's.
    {45, 1, EventKind::WriteOperation, 7, 1, false},
};

HistoryEvent EventOf(const Known &k, qint64 base)
{
    HistoryEvent e;
    e.timeMs = base + k.minute * kMinute;
    e.kind = k.kind;
    e.subject = k.subject;
    e.code = k.code;
    e.previous = k.kind == EventKind::SensorStatus ? 0 : -1;
    e.alarm = k.alarm;
    if (k.kind == EventKind::LinkLost)
        e.text = QStringLiteral("нет ответа; таймаут");
    return e;
}

// The known events into the store, one batch per controller.
void SubmitKnown(HistoryStore &store, qint64 base, std::initializer_list<int> minutes = {})
{
    const HistoryController controllers[] = {{}, kFirst, kSecond};
    for (int c = 0; c < 3; ++c) {
        HistoryBatch batch;
        batch.controller = controllers[c];
        batch.timeMs = base;
        for (const Known &k : kKnown)
            if (k.controller == c &&
                (minutes.size() == 0 || std::find(minutes.begin(), minutes.end(), k.minute) != minutes.end()))
                batch.events.push_back(EventOf(k, base));
        if (!batch.events.empty())
            store.Submit(std::move(batch));
    }
    store.Flush();
}

QList<int> MinutesShown(const EventsModel &model, qint64 base)
{
    QList<int> minutes;
    for (const HistoryEvent &e : model.events())
        if (e.kind != EventKind::AlarmAcknowledged)
            minutes << int((e.timeMs - base) / kMinute);
    return minutes;
}

int ControllerId(const HistoryStore &store, const HistoryController &c)
{
    for (const HistoryControllerRow &r : store.Controllers())
        if (r.controller.port == c.port && r.controller.address == c.address)
            return r.id;
    return 0;
}

SensorSeries Series(int sensor, std::vector<std::pair<qint64, int>> rows, quint16 status = 0)
{
    SensorSeries s;
    s.sensor = sensor;
    for (auto [t, v] : rows) {
        s.timesMs.push_back(t);
        s.status.push_back(v < 0 ? quint16(-v) : status);
        s.temperature.push_back(quint16(v < 0 ? 0 : v));
        s.seconds.push_back(0);
    }
    return s;
}

// The value a grid holds for a sensor at t: that of the last sample at or before t.
float ValueAt(const std::vector<qint64> &times, const std::vector<float> &values, qint64 t)
{
    const auto at = std::upper_bound(times.begin(), times.end(), t);
    if (at == times.begin())
        return ReadingsGrid::kGap;
    return values[size_t(at - times.begin()) - 1];
}

} // namespace

class TestHistoryViews : public ControllerFolderTest {
    Q_OBJECT

    std::unique_ptr<RecorderView> view;
    std::unique_ptr<MainState> state;

    void makeState()
    {
        state.reset();
        view.reset();
        QVERIFY(CopyShippedData({"start.ini", "default.ini"}));
        view = std::make_unique<RecorderView>();
        state = std::make_unique<MainState>(*view);
    }

private slots:
    // Each filter of the events view against known events: the rows shown, newest first.
    void eventsViewFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QList<int>>("minutes");
        QTest::newRow("everything, newest first")
            << "" << QList<int>{50, 45, 40, 32, 31, 30, 20, 10, 5, 1, 0};
        QTest::newRow("alarms only") << "alarms" << QList<int>{40, 31, 10};
        QTest::newRow("one kind") << "kind" << QList<int>{50, 40, 10, 5};
        QTest::newRow("one sensor, not the write of that number") << "sensor" << QList<int>{40, 10};
        QTest::newRow("one controller") << "controller" << QList<int>{50, 40};
        QTest::newRow("a time range") << "range" << QList<int>{31, 30, 20, 10};
    }
    void eventsViewFilters()
    {
        QFETCH(QString, filter);
        QFETCH(QList<int>, minutes);
        makeState();
        const qint64 base = Base();
        {
            // Written by one store and read by the next: the file is what counts.
            HistoryStore writer(QDir::currentPath());
            QVERIFY(writer.Open());
            SubmitKnown(writer, base);
        }
        HistoryStore store(QDir::currentPath());
        QVERIFY(store.Open());
        EventsView events(*state, &store);
        events.show();
        auto *kind = events.findChild<QComboBox *>("ComboBoxEventsKind");
        auto *subject = events.findChild<QSpinBox *>("SpinBoxEventsSubject");
        auto *controller = events.findChild<QComboBox *>("ComboBoxEventsController");
        auto *period = events.findChild<QComboBox *>("ComboBoxEventsPeriod");
        QVERIFY(kind && subject && controller && period);
        if (filter == "alarms")
            kind->setCurrentIndex(kind->findText(state->Text(Msg::n582)));
        if (filter == "kind")
            kind->setCurrentIndex(kind->findData(int(EventKind::SensorStatus)));
        if (filter == "sensor")
            subject->setValue(7);
        if (filter == "controller")
            controller->setCurrentIndex(controller->findData(ControllerId(store, kSecond)));
        if (filter == "range") {
            period->setCurrentIndex(period->count() - 1);
            events.findChild<QDateTimeEdit *>("DateTimeEventsFrom")
                ->setDateTime(QDateTime::fromMSecsSinceEpoch(base + 9 * kMinute));
            events.findChild<QDateTimeEdit *>("DateTimeEventsTo")
                ->setDateTime(QDateTime::fromMSecsSinceEpoch(base + 31 * kMinute + 30000));
        }
        events.Refresh();
        QCOMPARE(MinutesShown(events.model(), base), minutes);
        // Waiting alarms stand out, the rest do not.
        for (int r = 0; r < events.model().rowCount(); ++r) {
            const HistoryEvent &e = events.model().events()[size_t(r)];
            QCOMPARE(events.model().index(r, 0).data(EventsModel::WaitingAlarmRole).toBool(), e.alarm);
            QCOMPARE(events.model().index(r, 0).data(Qt::BackgroundRole).isValid(), e.alarm);
        }
    }

    // Acknowledging one selected alarm or all of them: the rows, the count on the events
    // button and the status line follow; a new alarm raises them again.
    void acknowledgeOneOrAll_data()
    {
        QTest::addColumn<QList<int>>("select");
        QTest::addColumn<bool>("all");
        QTest::addColumn<QList<int>>("waiting");
        QTest::newRow("the newest one") << QList<int>{40} << false << QList<int>{31, 10};
        QTest::newRow("an older one") << QList<int>{10} << false << QList<int>{40, 31};
        QTest::newRow("two at once") << QList<int>{40, 31} << false << QList<int>{10};
        QTest::newRow("a row that is no alarm") << QList<int>{20} << false << QList<int>{40, 31, 10};
        QTest::newRow("all") << QList<int>{} << true << QList<int>{};
    }
    void acknowledgeOneOrAll()
    {
        QFETCH(QList<int>, select);
        QFETCH(bool, all);
        QFETCH(QList<int>, waiting);
        makeState();
        const qint64 base = Base();
        HistoryStore store(QDir::currentPath());
        QVERIFY(store.Open());
        SubmitKnown(store, base);
        QToolButton button;
        QLabel line;
        AlarmDisplay alarms(*state, button, line);
        alarms.Attach(&store, nullptr);
        EventsView events(*state, &store);
        events.show();
        QCOMPARE(alarms.count(), 3);
        QCOMPARE(button.property("alarmCount").toInt(), 3);
        QVERIFY(!line.isHidden());
        auto textOf = [&](int minute) {
            for (const HistoryEvent &e : events.model().events())
                if (e.timeMs == base + minute * kMinute)
                    return HistoryEventText(e, state->settingsIni);
            return QString();
        };
        QCOMPARE(line.text(), state->Text(Msg::n608) + textOf(40));

        QTableView *table = events.table();
        for (int r = 0; r < events.model().rowCount(); ++r)
            if (select.contains(int((events.model().events()[size_t(r)].timeMs - base) / kMinute)))
                table->selectionModel()->select(events.model().index(r, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::mouseClick(events.findChild<QPushButton *>(all ? "ButtonEventsAcknowledgeAll"
                                                              : "ButtonEventsAcknowledge"),
                          Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(alarms.count(), int(waiting.size()), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(store.UnacknowledgedAlarms(), int(waiting.size()), 10000);
        QCOMPARE(button.property("alarmCount").toInt(), int(waiting.size()));
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            QList<int> shown;
            for (int r = 0; r < events.model().rowCount(); ++r)
                if (events.model().index(r, 0).data(EventsModel::WaitingAlarmRole).toBool())
                    shown << int((events.model().events()[size_t(r)].timeMs - base) / kMinute);
            return shown == waiting;
        }(), 10000);
        QCOMPARE(line.isHidden(), waiting.isEmpty());
        if (!waiting.isEmpty())
            QCOMPARE(line.text(), state->Text(Msg::n608) + textOf(waiting.first()));
        // Acknowledging is an event too, shown at the top.
        if (waiting.size() < 3)
            QTRY_COMPARE_WITH_TIMEOUT(events.model().events().front().kind,
                                      EventKind::AlarmAcknowledged, 10000);

        // A new alarm raises the count and takes the line.
        HistoryBatch batch;
        batch.controller = kFirst;
        batch.timeMs = base + 60 * kMinute;
        batch.events.push_back(EventOf({60, 1, EventKind::SensorStatus, 12, 4, true}, base));
        store.Submit(std::move(batch));
        QTRY_COMPARE_WITH_TIMEOUT(alarms.count(), int(waiting.size()) + 1, 10000);
        QCOMPARE(button.property("alarmCount").toInt(), int(waiting.size()) + 1);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::any_of(events.model().events().begin(), events.model().events().end(),
                        [](const HistoryEvent &e) { return e.subject == 12 && e.alarm; }),
            10000);
        QCOMPARE(line.text(), state->Text(Msg::n608) + textOf(60));
        QVERIFY(!line.isHidden());
    }

    // The tray icon's colour: red while alarms wait, else the link lamp's.
    void trayColourFollowsLampAndAlarms_data()
    {
        QTest::addColumn<bool>("linkUp");
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("offline, no alarm") << false << false << QColor(160, 170, 180);
        QTest::newRow("online, no alarm") << true << false << QColor(0, 200, 0);
        QTest::newRow("online, an alarm waits") << true << true << QColor(220, 0, 0);
        QTest::newRow("offline, an alarm waits") << false << true << QColor(220, 0, 0);
    }
    void trayColourFollowsLampAndAlarms()
    {
        QFETCH(bool, linkUp);
        QFETCH(bool, alarm);
        QFETCH(QColor, colour);
        makeState();
        HistoryStore store(QDir::currentPath());
        QVERIFY(store.Open());
        if (alarm)
            SubmitKnown(store, Base(), {10});
        QToolButton button;
        QLabel line;
        AlarmDisplay alarms(*state, button, line);
        alarms.Attach(&store, nullptr);
        alarms.SetLinkUp(!linkUp); // a change, then the state wanted
        alarms.SetLinkUp(linkUp);
        QCOMPARE(alarms.trayColor(), colour);
    }

    // Monitoring only (the password cancelled): the window shows the alarms and its
    // events view acknowledges them.
    void monitoringOnlyAcknowledges()
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini"}));
        ModalAnswerer modal;
        modal.password(QString());
        TForm1 form;
        form.show();
        const qint64 base = Base();
        SubmitKnown(form.historyStore(), base, {10, 31});
        auto *button = form.findChild<QToolButton *>("ToolButtonEvents");
        auto *line = form.findChild<QLabel *>("StatusBarAlarm");
        QVERIFY(button && line);
        QTRY_COMPARE_WITH_TIMEOUT(button->property("alarmCount").toInt(), 2, 10000);
        QVERIFY(line->isVisible());
        // A new alarm of the engine is told (the desktop notification where a tray exists).
        QSignalSpy told(&form.alarms(), &AlarmDisplay::notified);
        HistoryEvent raised = EventOf(kKnown[3], base);
        emit form.history().alarmRaised(raised, QStringLiteral("Датчик 7: НЕТ ПИТАНИЯ"));
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first().at(1).toString(), QStringLiteral("Датчик 7: НЕТ ПИТАНИЯ"));
        QVERIFY(button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(form.eventsView() && form.eventsView()->isVisible());
        auto *all = form.eventsView()->findChild<QPushButton *>("ButtonEventsAcknowledgeAll");
        QVERIFY(all->isEnabled());
        QTest::mouseClick(all, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(button->property("alarmCount").toInt(), 0, 10000);
        QVERIFY(!line->isVisible());
    }

    // The CSV of events: the byte-order mark, the header, one line per event in the order
    // given, local times with their offset, cells with ';' quoted.
    void eventsCsvColumns()
    {
        makeState();
        const qint64 base = Base();
        std::vector<HistoryEvent> events;
        for (int minute : {31, 30, 0}) {
            for (const Known &k : kKnown)
                if (k.minute == minute) {
                    HistoryEvent e = EventOf(k, base);
                    e.controller = k.controller; // ids as the rows below name them
                    if (minute == 31)
                        e.acknowledgedMs = base + 45 * kMinute;
                    events.push_back(e);
                }
        }
        const std::vector<HistoryControllerRow> rows{{1, kFirst}, {2, kSecond}};
        const QByteArray csv = EventsCsv(events, rows, state->settingsIni);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 5); // header, three events, the empty end
        QCOMPARE(lines[0], QStringLiteral("Время;Вид;Контроллер;Номер;Событие;Тревога;Подтверждено"));
        auto iso = [](qint64 ms) {
            const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
            const int off = t.offsetFromUtc() / 60;
            return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (off < 0 ? u'-' : u'+') +
                   QStringLiteral("%1:%2").arg(std::abs(off) / 60, 2, 10, QLatin1Char('0'))
                       .arg(std::abs(off) % 60, 2, 10, QLatin1Char('0'));
        };
        // The time read back is the event's time.
        QCOMPARE(QDateTime::fromString(lines[1].section(u';', 0, 0), Qt::ISODate).toMSecsSinceEpoch(),
                 base + 31 * kMinute);
        QVERIFY(lines[1].startsWith(iso(base + 31 * kMinute) + u';'));
        QVERIFY(lines[1].endsWith(QStringLiteral(";Тревога;") + iso(base + 45 * kMinute)));
        QCOMPARE(lines[1].section(u';', 2, 3), QStringLiteral("/dev/ttyS9 #1;"));
        // The program's own row has no controller and no number.
        QCOMPARE(lines[3].section(u';', 2, 3), QStringLiteral(";"));
        // A text with ';' in it stays one cell.
        const QString linkLost = HistoryEventText(events[1], state->settingsIni);
        if (linkLost.contains(u';'))
            QVERIFY(lines[2].contains(u'"' + linkLost + u'"'));
        QCOMPARE(lines[1].section(u';', 1, 1), HistoryEventKindText(EventKind::LinkDownLong, state->settingsIni));
        QVERIFY(WriteEventsCsv("events.csv", events, rows, state->settingsIni));
        QFile f("events.csv");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), csv);
    }

    // The trend viewer shows a period of the store, each sensor's value at its time, and
    // writes it as a trend file the viewer reads again; a period without readings says so.
    void trendViewerShowsAndExportsARange()
    {
        makeState();
        const qint64 base = Base();
        HistoryStore store(QDir::currentPath());
        QVERIFY(store.Open());
        for (int m = 0; m < 30; ++m) {
            HistoryBatch batch;
            batch.controller = kFirst;
            batch.timeMs = base + m * kMinute;
            for (int s = 1; s <= 2; ++s)
                batch.sensors.push_back({s, 0, quint16(100 * s + m), 0});
            store.Submit(std::move(batch));
        }
        store.Flush();
        TrendViewer viewer(state->settingsIni);
        viewer.SetHistory(&store, [] { return 0; });
        viewer.show();
        QVERIFY(viewer.LoadHistory(base, base + 30 * kMinute));
        QCOMPARE(viewer.data().sensors, QList<int>({1, 2}));
        QCOMPARE(ValueAt(viewer.data().timesMs, viewer.data().values[1], base + 10 * kMinute + 30000),
                 210.f);
        QCOMPARE(ValueAt(viewer.data().timesMs, viewer.data().values[0], base + 29 * kMinute), 129.f);

        viewer.ExportHistoryTrend(base, base + 30 * kMinute);
        QFileDialog *dialog = viewer.exportDialog();
        QVERIFY(dialog && dialog->isVisible());
        dialog->selectFile(QDir::current().absoluteFilePath("range.txt"));
        static_cast<QDialog *>(dialog)->accept(); // as Save does
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("range.txt"), 10000);
        const auto file = ReadTrendColumns("range.txt");
        QVERIFY(file);
        QCOMPARE(file->sensors, QList<int>({1, 2}));
        QVERIFY(file->rowCount() > 0);

        QVERIFY(!viewer.LoadHistory(base - 10 * 24 * 3600 * 1000LL, base - 9 * 24 * 3600 * 1000LL));
        QCOMPARE(viewer.data().sensors, QList<int>({1, 2})); // what was shown stays
    }

    // Kept readings as drawn: a value holds until the next row, a status off the air and
    // a cycle that was not alive are gaps.
    void readingsGridGaps_data()
    {
        QTest::addColumn<int>("sensor");
        QTest::addColumn<qint64>("at"); // seconds after the range start
        QTest::addColumn<float>("expected"); // NaN: a gap
        const float gap = ReadingsGrid::kGap;
        QTest::newRow("a row's own time") << 1 << qint64(60) << 101.f;
        QTest::newRow("held until the next row") << 1 << qint64(119) << 101.f;
        QTest::newRow("the next row's value at its time") << 1 << qint64(120) << 102.f;
        QTest::newRow("a minute after the last row still held") << 1 << qint64(240) << 103.f;
        QTest::newRow("long without a row: not polled") << 1 << qint64(600) << gap;
        QTest::newRow("back after the pause") << 1 << qint64(1200) << 120.f;
        QTest::newRow("the row before the range starts the line") << 2 << qint64(0) << 250.f;
        QTest::newRow("no power is a gap") << 2 << qint64(130) << gap;
        QTest::newRow("on the air again") << 2 << qint64(200) << 203.f;
        QTest::newRow("a row too old before the range") << 3 << qint64(0) << gap;
    }
    void readingsGridGaps()
    {
        QFETCH(int, sensor);
        QFETCH(qint64, at);
        QFETCH(float, expected);
        constexpr qint64 t0 = 1'800'000'000'000;
        auto s = [](int seconds) { return t0 + seconds * 1000; };
        const std::vector<SensorSeries> series{
            Series(1, {{s(60), 101}, {s(120), 102}, {s(180), 103}, {s(1200), 120}}),
            Series(2, {{s(-30), 250}, {s(60), 201}, {s(120), -4}, {s(200), 203}}),
            Series(3, {{s(-400), 399}, {s(1000), 310}}),
        };
        const ReadingsGrid grid = BuildReadingsGrid(series, t0, s(1500));
        QVERIFY(std::is_sorted(grid.timesMs.begin(), grid.timesMs.end()));
        const auto at_ = std::find(grid.sensors.begin(), grid.sensors.end(), sensor);
        QVERIFY(at_ != grid.sensors.end());
        const float v = ValueAt(grid.timesMs, grid.values[size_t(at_ - grid.sensors.begin())], s(int(at)));
        if (std::isnan(expected))
            QVERIFY2(std::isnan(v), qPrintable(QString::number(v)));
        else
            QCOMPARE(v, expected);
    }

    // The live chart scrolled back over readings kept before this run: each sensor s at
    // minute m reads 100 s + m; no power, an unregistered sensor and the half hour nobody
    // polled are gaps.
    void chartScrollsBack_data()
    {
        QTest::addColumn<int>("sensor"); // 1-based
        QTest::addColumn<int>("atSeconds"); // after the first kept minute
        QTest::addColumn<int>("expected"); // -1: a gap
        QTest::newRow("flat within a minute") << 1 << 15 * 60 + 30 << 115;
        QTest::newRow("a change at its minute") << 3 << 16 * 60 << 316;
        QTest::newRow("just before a change") << 3 << 17 * 60 - 1 << 316;
        QTest::newRow("no power") << 2 << 22 * 60 + 10 << -1;
        QTest::newRow("held two minutes after the last row") << 1 << 61 * 60 << 159;
        QTest::newRow("the cycle was not alive") << 1 << 75 * 60 << -1;
        QTest::newRow("back after the pause") << 1 << 95 * 60 + 30 << 195;
        QTest::newRow("another sensor back") << 3 << 119 * 60 << 419;
    }
    void chartScrollsBack()
    {
        QFETCH(int, sensor);
        QFETCH(int, atSeconds);
        QFETCH(int, expected);
        makeState();
        const qint64 base = Base() - 2 * 3600 * 1000; // four hours ago
        {
            HistoryStore writer(QDir::currentPath());
            QVERIFY(writer.Open());
            for (int m = 0; m < 120; ++m) {
                if (m >= 60 && m < 90)
                    continue; // not polled
                HistoryBatch batch;
                batch.controller = kFirst;
                batch.timeMs = base + m * kMinute;
                for (int s = 1; s <= 4; ++s) {
                    SensorReading r;
                    r.sensor = s;
                    r.temperature = quint16(100 * s + m);
                    r.status = s == 4 ? 40 : s == 2 && m >= 20 && m < 25 ? 4 : 0;
                    batch.sensors.push_back(r);
                }
                writer.Submit(std::move(batch));
            }
            writer.Flush();
        }
        HistoryStore store(QDir::currentPath());
        QVERIFY(store.Open());
        LiveChart chart(*state);
        chart.SetHistory(&store, [] { return 0; });
        chart.resize(1000, 400);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        // The end of the kept readings, then back to their start.
        chart.view()->SetRange(base + 100 * kMinute, base + 120 * kMinute);
        QTRY_VERIFY_WITH_TIMEOUT(chart.storedSpan().first > 0 &&
                                     chart.storedSpan().first <= base + 100 * kMinute,
                                 10000);
        const int loads = chart.storeLoads();
        chart.view()->SetRange(base + 5 * kMinute, base + 65 * kMinute);
        QTRY_VERIFY_WITH_TIMEOUT(chart.storedSpan().first <= base + 5 * kMinute, 10000);
        QVERIFY(chart.storeLoads() > loads);
        // A range already loaded asks the store nothing.
        const int loaded = chart.storeLoads();
        chart.view()->SetRange(base + 10 * kMinute, base + 110 * kMinute);
        QCOMPARE(chart.storeLoads(), loaded);

        QVERIFY(!chart.drawnValues(3)); // sensor 4: never registered
        const std::vector<float> *values = chart.drawnValues(sensor - 1);
        QVERIFY(values);
        const float v = ValueAt(chart.drawnTimes(), *values, base + atSeconds * 1000);
        if (expected < 0)
            QVERIFY2(std::isnan(v), qPrintable(QString::number(v)));
        else
            QCOMPARE(v, float(expected));
        // Drawn: sensor 1 in two runs, broken where nobody polled.
        chart.chart()->RedrawNow();
        QCPGraph *line = chart.chart()->graph(0);
        QVERIFY(line);
        int runs = 0;
        bool inRun = false;
        for (auto it = line->data()->constBegin(); it != line->data()->constEnd(); ++it) {
            const bool point = !std::isnan(it->value);
            runs += point && !inRun;
            inRun = point;
        }
        QCOMPARE(runs, 2);
    }
};

QTEST_MAIN(TestHistoryViews)
#include "tst_history_views.moc"
