// The history store on its own: batches in and out, events, alarms, files it cannot use,
// retention, exports. Crashes, a full disk and a read-only folder run the store in a child
// process (history_child) that the test kills or limits.
#include "HistoryStore.h"
#include "MemIniFile.h"
#include "StoreFixture.h"
#include "TrendReader.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <map>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

struct Kept {
    qint64 t;
    int controller; // the test's number
    SensorReading r;
};

// What a query should give back: per sensor, the readings of [from, to] in time order,
// led by the newest one before from.
std::map<int, std::vector<Kept>> Expected(std::vector<Kept> all, qint64 fromMs, qint64 toMs)
{
    std::stable_sort(all.begin(), all.end(), [](const Kept &a, const Kept &b) { return a.t < b.t; });
    std::map<int, std::vector<Kept>> before, in;
    for (const Kept &k : all) {
        if (k.t < fromMs)
            before[k.r.sensor] = {k};
        else if (k.t <= toMs)
            in[k.r.sensor].push_back(k);
    }
    for (auto &[sensor, first] : before) {
        auto &series = in[sensor];
        series.insert(series.begin(), first.front());
    }
    return in;
}

void CompareSeries(const std::vector<SensorSeries> &got, const std::map<int, std::vector<Kept>> &want)
{
    QCOMPARE(got.size(), want.size());
    size_t i = 0;
    for (const auto &[sensor, kept] : want) {
        const SensorSeries &s = got[i++];
        QCOMPARE(s.sensor, sensor);
        QCOMPARE(s.timesMs.size(), kept.size());
        for (size_t j = 0; j < kept.size(); ++j) {
            QCOMPARE(s.timesMs[j], kept[j].t);
            QCOMPARE(s.status[j], kept[j].r.status);
            QCOMPARE(s.temperature[j], kept[j].r.temperature);
            QCOMPARE(s.seconds[j], kept[j].r.seconds);
        }
    }
}

QString ChildPath()
{
    return QStringLiteral(HISTORY_CHILD_PATH);
}

} // namespace

class tst_history : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void relaysRoundTrip();
    void controllersApart();
    void eventsFilter_data();
    void eventsFilter();
    void writesAudit();
    void alarmsUntilAcknowledged();
};

// ---------------------------------------------------------------- readings

void tst_history::roundTrip_data()
{
    QTest::addColumn<int>("cycles");
    QTest::addColumn<int>("sensors");
    QTest::addColumn<qint64>("stepMs");
    QTest::addColumn<int>("backAt");  // cycle from which the clock reads a day earlier
    QTest::addColumn<bool>("changes"); // a batch carries only some sensors
    QTest::newRow("one cycle") << 1 << 36 << qint64(1000) << -1 << false;
    QTest::newRow("cycles over several blocks by time") << 200 << 12 << qint64(9000) << -1 << false;
    QTest::newRow("cycles over several blocks by size") << 300 << 36 << qint64(300) << -1 << false;
    QTest::newRow("only changes") << 400 << 36 << qint64(700) << -1 << true;
    QTest::newRow("clock set back") << 120 << 8 << qint64(1000) << 60 << false;
    QTest::newRow("same millisecond twice") << 50 << 4 << qint64(0) << -1 << false;
}

// Every reading comes back in its sensor, in its order, with its time, across block
// boundaries and a clock set back; a range starts with the reading before it.
void tst_history::roundTrip()
{
    QFETCH(int, cycles);
    QFETCH(int, sensors);
    QFETCH(qint64, stepMs);
    QFETCH(int, backAt);
    QFETCH(bool, changes);
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    std::vector<Kept> all;
    for (int c = 0; c < cycles; ++c) {
        qint64 t = kT0 + c * stepMs;
        if (backAt >= 0 && c >= backAt)
            t -= 24 * 3600 * 1000;
        HistoryBatch b = NamedBatch(c, sensors, t, 0);
        if (changes)
            std::erase_if(b.sensors, [c](const SensorReading &r) { return (r.sensor + c) % 3 != 0; });
        for (const SensorReading &r : b.sensors)
            all.push_back({t, 1, r});
        store.Submit(std::move(b));
    }
    store.Flush();
    QCOMPARE(store.problem(), QString());
    const int id = store.ControllerId(TestController());
    QVERIFY(id > 0);
    CompareSeries(store.SensorReadings(id, 0, 0), Expected(all, 0, std::numeric_limits<qint64>::max()));
    // A range in the middle.
    const qint64 from = kT0 + (cycles / 3) * stepMs + 1, to = kT0 + (2 * cycles / 3) * stepMs;
    CompareSeries(store.SensorReadings(id, from, to), Expected(all, from, to));
    // The same from another connection after the store reopened.
    store.Flush();
    HistoryStore again(dir.path());
    QVERIFY(again.Open());
    CompareSeries(again.SensorReadings(id, from, to), Expected(all, from, to));
}

void tst_history::relaysRoundTrip()
{
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    std::map<int, std::vector<std::pair<qint64, bool>>> want;
    for (int c = 0; c < 500; ++c) {
        HistoryBatch b = NamedBatch(c, c % 2 ? 3 : 0, kT0 + c * 5000, 16);
        std::erase_if(b.relays, [c](const RelayReading &r) { return (r.relay * 7 + c) % 5 == 0; });
        for (const RelayReading &r : b.relays)
            want[r.relay].push_back({b.timeMs, r.on});
        store.Submit(std::move(b));
    }
    store.Flush();
    const auto got = store.RelayReadings(store.ControllerId(TestController()), 0, 0);
    QCOMPARE(got.size(), want.size());
    size_t i = 0;
    for (const auto &[relay, kept] : want) {
        const RelaySeries &s = got[i++];
        QCOMPARE(s.relay, relay);
        QCOMPARE(s.timesMs.size(), kept.size());
        for (size_t j = 0; j < kept.size(); ++j) {
            QCOMPARE(s.timesMs[j], kept[j].first);
            QCOMPARE(bool(s.on[j]), kept[j].second);
        }
    }
}

// Two controllers in one file, batches interleaved: each query sees only its own.
void tst_history::controllersApart()
{
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    const HistoryController a = TestController(7), b = TestController(8, QStringLiteral("host:502"));
    std::vector<Kept> ka, kb;
    for (int c = 0; c < 300; ++c) {
        const bool first = c % 2 == 0;
        HistoryBatch batch = NamedBatch(c, 6, kT0 + c * 1000, 0, first ? a : b);
        for (const SensorReading &r : batch.sensors)
            (first ? ka : kb).push_back({batch.timeMs, first ? 1 : 2, r});
        store.Submit(std::move(batch));
    }
    store.Flush();
    const auto rows = store.Controllers();
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(rows[0].controller, a);
    QCOMPARE(rows[1].controller, b);
    CompareSeries(store.SensorReadings(rows[0].id, 0, 0), Expected(ka, 0, std::numeric_limits<qint64>::max()));
    CompareSeries(store.SensorReadings(rows[1].id, 0, 0), Expected(kb, 0, std::numeric_limits<qint64>::max()));
    const auto span = store.ReadingSpan(rows[1].id);
    QCOMPARE(span.first, kT0 + 1000);
    QCOMPARE(span.second, kT0 + 299 * 1000);
    QCOMPARE(store.ReadingSpan(), std::make_pair(kT0, kT0 + 299 * 1000));
}

// ---------------------------------------------------------------- events, writes, alarms

namespace {

HistoryEvent NamedEvent(int n, EventKind kind, bool alarm = false)
{
    HistoryEvent e;
    e.timeMs = kT0 + n * 1000;
    e.kind = kind;
    e.subject = n % 36 + 1;
    e.code = 1000 + n;
    e.previous = 2000 + n;
    e.text = QStringLiteral("событие %1").arg(n);
    e.alarm = alarm;
    return e;
}

// 60 events: kinds in turn, every fifth an alarm; controller A for even n, B for odd n.
std::vector<HistoryEvent> SubmitEvents(HistoryStore &store)
{
    static const EventKind kinds[] = {EventKind::SensorStatus, EventKind::RelaySwitched,
                                      EventKind::LinkLost, EventKind::LinkBack,
                                      EventKind::Identified};
    std::vector<HistoryEvent> sent;
    for (int n = 0; n < 60; ++n) {
        HistoryBatch b;
        b.controller = n % 2 ? TestController(8) : TestController(7);
        b.timeMs = kT0 + n * 1000;
        b.events.push_back(NamedEvent(n, kinds[n % 5], n % 5 == 0));
        sent.push_back(b.events.back());
        store.Submit(std::move(b));
    }
    store.Flush();
    return sent;
}

} // namespace

void tst_history::eventsFilter_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<int>("subject");
    QTest::addColumn<bool>("controllerB");
    QTest::addColumn<bool>("alarms");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QList<int>>("expected"); // n, newest first
    auto ns = [](auto pred) {
        QList<int> out;
        for (int n = 59; n >= 0; --n)
            if (pred(n))
                out << n;
        return out;
    };
    QTest::newRow("all") << qint64(0) << qint64(0) << QList<int>{} << 0 << false << false << 0
                         << ns([](int) { return true; });
    QTest::newRow("time range") << kT0 + 10000 << kT0 + 20000 << QList<int>{} << 0 << false << false << 0
                                << ns([](int n) { return n >= 10 && n <= 20; });
    QTest::newRow("two kinds") << qint64(0) << qint64(0) << QList<int>{3, 4} << 0 << false << false << 0
                               << ns([](int n) { return n % 5 == 2 || n % 5 == 3; });
    QTest::newRow("sensor 5") << qint64(0) << qint64(0) << QList<int>{1} << 5 << false << false << 0
                              << ns([](int n) { return n % 5 == 0 && n % 36 + 1 == 5; });
    QTest::newRow("controller B") << qint64(0) << qint64(0) << QList<int>{} << 0 << true << false << 0
                                  << ns([](int n) { return n % 2 == 1; });
    QTest::newRow("alarms") << qint64(0) << qint64(0) << QList<int>{} << 0 << false << true << 0
                            << ns([](int n) { return n % 5 == 0; });
    QTest::newRow("newest ten") << qint64(0) << qint64(0) << QList<int>{} << 0 << false << false << 10
                                << ns([](int n) { return n >= 50; });
}

void tst_history::eventsFilter()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(QList<int>, kinds);
    QFETCH(int, subject);
    QFETCH(bool, controllerB);
    QFETCH(bool, alarms);
    QFETCH(int, limit);
    QFETCH(QList<int>, expected);
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    const auto sent = SubmitEvents(store);
    EventFilter f;
    f.fromMs = from;
    f.toMs = to;
    for (int k : kinds)
        f.kinds.push_back(EventKind(k));
    f.subject = subject;
    f.controller = controllerB ? store.ControllerId(TestController(8)) : 0;
    f.alarmsOnly = alarms;
    f.limit = limit;
    const auto got = store.Events(f);
    QList<int> gotNs;
    for (const HistoryEvent &e : got) {
        const int n = e.code - 1000;
        gotNs << n;
        const HistoryEvent &want = sent[size_t(n)];
        QCOMPARE(e.timeMs, want.timeMs);
        QCOMPARE(e.kind, want.kind);
        QCOMPARE(e.subject, want.subject);
        QCOMPARE(e.previous, want.previous);
        QCOMPARE(e.text, want.text);
        QCOMPARE(e.alarm, want.alarm);
        QCOMPARE(e.controller, store.ControllerId(n % 2 ? TestController(8) : TestController(7)));
        QVERIFY(e.id > 0);
    }
    QCOMPARE(gotNs, expected);
}

// A write with its registers before and after, each with its result, and the event that
// points at it.
void tst_history::writesAudit()
{
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    HistoryBatch b;
    b.controller = TestController();
    b.timeMs = kT0;
    WriteAudit w;
    w.operation = QStringLiteral("relays");
    w.ok = false;
    w.registers = {{0x1201, 0x0101, 0x1201, WriteResult::Confirmed},
                   {0x1202, -1, 0x1202, WriteResult::Failed},
                   {0x1203, 0x0103, 0x1203, WriteResult::NotSent}};
    b.writes.push_back(w);
    store.Submit(b);
    b.timeMs = kT0 + 5000;
    b.writes[0].operation = QStringLiteral("profile");
    b.writes[0].ok = true;
    b.writes[0].registers.resize(1);
    store.Submit(b);
    store.Flush();
    const auto writes = store.Writes(0, 0);
    QCOMPARE(writes.size(), size_t(2));
    QCOMPARE(writes[0].operation, QStringLiteral("relays"));
    QCOMPARE(writes[0].timeMs, kT0);
    QCOMPARE(writes[0].ok, false);
    QCOMPARE(writes[0].controller, store.ControllerId(TestController()));
    QCOMPARE(writes[0].registers.size(), size_t(3));
    for (size_t i = 0; i < 3; ++i) {
        QCOMPARE(writes[0].registers[i].reg, w.registers[i].reg);
        QCOMPARE(writes[0].registers[i].before, w.registers[i].before);
        QCOMPARE(writes[0].registers[i].after, w.registers[i].after);
        QCOMPARE(writes[0].registers[i].result, w.registers[i].result);
    }
    QCOMPARE(writes[1].operation, QStringLiteral("profile"));
    QCOMPARE(writes[1].registers.size(), size_t(1));
    EventFilter f;
    f.kinds = {EventKind::WriteOperation};
    const auto events = store.Events(f);
    QCOMPARE(events.size(), size_t(2));
    QCOMPARE(events[1].subject, int(writes[0].id));
    QCOMPARE(events[1].code, 0);
    QCOMPARE(events[0].subject, int(writes[1].id));
    QCOMPARE(events[0].code, 1);
    QCOMPARE(store.Write(writes[0].id).registers.size(), size_t(3));
    QCOMPARE(store.Writes(kT0 + 1, 0).size(), size_t(1));
}

// Alarms stay through a restart, one acknowledgement clears one, acknowledging all clears
// the rest, each acknowledgement is an event, and a cleared condition clears nothing.
void tst_history::alarmsUntilAcknowledged()
{
    QTemporaryDir dir;
    {
        HistoryStore store(dir.path());
        QVERIFY(store.Open());
        SubmitEvents(store); // 12 alarms
        QCOMPARE(store.UnacknowledgedAlarms(), 12);
        // The condition clears: the sensor is back on the air. The alarm stays.
        HistoryBatch b;
        b.controller = TestController();
        b.timeMs = kT0 + 100000;
        b.events.push_back(NamedEvent(100, EventKind::SensorStatus));
        store.Submit(b);
    }
    HistoryStore store(dir.path());
    QSignalSpy counts(&store, &HistoryStore::alarmsChanged);
    QVERIFY(store.Open());
    QCOMPARE(store.UnacknowledgedAlarms(), 12);
    QVERIFY(counts.wait(10000) || !counts.isEmpty());
    QCOMPARE(counts.last().at(0).toInt(), 12);
    EventFilter waiting;
    waiting.unacknowledgedOnly = true;
    const auto alarms = store.Events(waiting);
    QCOMPARE(alarms.size(), size_t(12));
    // Not an alarm: nothing happens.
    EventFilter plain;
    plain.kinds = {EventKind::RelaySwitched};
    store.Acknowledge(store.Events(plain).front().id, kT0 + 200000);
    store.Acknowledge(alarms[3].id, kT0 + 200000);
    store.Acknowledge(alarms[3].id, kT0 + 200001); // twice: once
    store.Flush();
    QCOMPARE(store.UnacknowledgedAlarms(), 11);
    EventFilter acks;
    acks.kinds = {EventKind::AlarmAcknowledged};
    auto done = store.Events(acks);
    QCOMPARE(done.size(), size_t(1));
    QCOMPARE(done[0].subject, int(alarms[3].id));
    QCOMPARE(done[0].controller, alarms[3].controller);
    QTRY_COMPARE_WITH_TIMEOUT(counts.last().at(0).toInt(), 11, 10000);
    store.Acknowledge(0, kT0 + 300000);
    store.Flush();
    QCOMPARE(store.UnacknowledgedAlarms(), 0);
    done = store.Events(acks);
    QCOMPARE(done.size(), size_t(2));
    QCOMPARE(done[0].subject, 0);
    QCOMPARE(done[0].code, 11);
    QTRY_COMPARE_WITH_TIMEOUT(counts.last().at(0).toInt(), 0, 10000);
    EventFilter all;
    all.alarmsOnly = true;
    for (const HistoryEvent &e : store.Events(all))
        QVERIFY(e.acknowledgedMs > 0);
}

QTEST_GUILESS_MAIN(tst_history)
#include "tst_history.moc"
