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
#include <QRegularExpression>
#include <QSqlError>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

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
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void flushSeesEveryBatch();
    void relaysRoundTrip();
    void controllersApart();
    void eventsFilter_data();
    void eventsFilter();
    void writesAudit();
    void alarmsUntilAcknowledged();

    void fileSetAside_data();
    void fileSetAside();

    void retentionByAge();
    void retentionBySize();

    void exportCsv_data();
    void exportCsv();
    void exportTrend();

    void waitingWhileUnwritable();
    void killedWhileWriting();
    void diskFull_data();
    void diskFull();
    void readOnlyFolder();
};

// ---------------------------------------------------------------- readings

void tst_history::initTestCase()
{
    // Local times in the exports carry an offset that is not zero.
    qputenv("TZ", "MSK-3"); // POSIX form: needs no time zone files
#ifdef Q_OS_UNIX
    tzset();
#endif
}

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

// Flush returns only when the batch the writer has taken is committed too: what the
// killed writer reports, an export that must see the last cycle, rely on it.
void tst_history::flushSeesEveryBatch()
{
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    EventFilter newest;
    newest.limit = 1;
    for (int i = 0; i < 300; ++i) {
        HistoryBatch b = NamedBatch(i, 36, kT0 + i * 1000);
        HistoryEvent e;
        e.code = i;
        b.events.push_back(e);
        store.Submit(std::move(b));
        // Now and then the writer has taken the batch and is writing it when Flush comes.
        QThread::usleep(i % 3 ? 0 : (i * 37) % 1500);
        store.Flush();
        const auto events = store.Events(newest);
        QVERIFY(!events.empty());
        QCOMPARE(events.front().code, i);
    }
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

// ---------------------------------------------------------------- files it cannot use

namespace {

// A store file with a few named batches, closed cleanly.
QByteArray WrittenStore(const QString &folder, int batches = 50)
{
    {
        HistoryStore store(folder);
        if (!store.Open())
            return {};
        for (int c = 0; c < batches; ++c)
            store.Submit(NamedBatch(c, 36, kT0 + c * 1000));
    }
    QFile f(QDir(folder).filePath(HistoryStore::kFileName));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A database of someone else's: SQLite, but not our tables (or not our id or version).
QByteArray ForeignDatabase(const QString &folder, int applicationId, int version)
{
    const QString path = QDir(folder).filePath(QStringLiteral("foreign.sqlite"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE customers(name TEXT)"));
        q.exec(QStringLiteral("INSERT INTO customers VALUES('Иванов')"));
        q.exec(QStringLiteral("PRAGMA application_id=%1").arg(applicationId));
        q.exec(QStringLiteral("PRAGMA user_version=%1").arg(version));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    f.close();
    QFile::remove(path);
    return bytes;
}

} // namespace

void tst_history::fileSetAside_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("setAside");
    QTest::newRow("garbage bytes") << "garbage" << true;
    QTest::newRow("text file") << "text" << true;
    QTest::newRow("foreign SQLite database") << "foreign" << true;
    QTest::newRow("another program's application id") << "otherid" << true;
    QTest::newRow("a newer schema of ours") << "newer" << true;
    QTest::newRow("truncated database") << "truncated" << true;
    QTest::newRow("overwritten pages") << "overwritten" << true;
    QTest::newRow("empty file: a new store") << "empty" << false;
    QTest::newRow("our own file: kept") << "ours" << false;
}

// A file that is not a usable store is renamed, never deleted, and a new one started;
// the user is told where the old one went. Our own file and an empty one stay.
void tst_history::fileSetAside()
{
    QFETCH(QString, kind);
    QFETCH(bool, setAside);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(HistoryStore::kFileName);
    QByteArray bytes;
    if (kind == "garbage") {
        for (int i = 0; i < 20000; ++i)
            bytes += char(QRandomGenerator::global()->bounded(256));
    } else if (kind == "text") {
        bytes = "[connect]\r\nport=COM3\r\n";
    } else if (kind == "foreign") {
        bytes = ForeignDatabase(dir.path(), 0, 0);
    } else if (kind == "otherid") {
        bytes = ForeignDatabase(dir.path(), 0x12345678, 1);
    } else if (kind == "newer") {
        bytes = WrittenStore(dir.path());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version=99")));
        db.close();
        db = {};
        QSqlDatabase::removeDatabase(QStringLiteral("newer"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        bytes = f.readAll();
    } else if (kind == "truncated") {
        bytes = WrittenStore(dir.path(), 3000);
        bytes.truncate(bytes.size() / 2);
    } else if (kind == "overwritten") {
        bytes = WrittenStore(dir.path(), 3000);
        for (qsizetype i = bytes.size() / 3; i < bytes.size() * 2 / 3; ++i)
            bytes[i] = char(0xA5);
    } else if (kind == "ours") {
        bytes = WrittenStore(dir.path());
    }
    QVERIFY(kind == "empty" || !bytes.isEmpty());
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    HistoryStore store(dir.path());
    QSignalSpy aside(&store, &HistoryStore::fileSetAside);
    QVERIFY(store.Open());
    store.Flush(); // the check of every page runs after Open, on the writer
    QCOMPARE(store.problem(), QString());
    const QStringList damaged = QDir(dir.path()).entryList({"history.sqlite.damaged-*"}, QDir::Files);
    if (!setAside) {
        QVERIFY(damaged.isEmpty());
        QTest::qWait(50);
        QCOMPARE(aside.count(), 0);
        if (kind == "ours")
            QCOMPARE(store.SensorReadings(store.ControllerId(TestController()), 0, 0).size(), size_t(36));
        return;
    }
    QCOMPARE(damaged.size(), 1);
    QVERIFY(QRegularExpression("^history\\.sqlite\\.damaged-\\d{8}-\\d{6}$").match(damaged[0]).hasMatch());
    QFile kept(QDir(dir.path()).filePath(damaged[0]));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), bytes);
    QTRY_COMPARE_WITH_TIMEOUT(aside.count(), 1, 10000);
    QCOMPARE(aside[0][0].toString(), kept.fileName());
    // The new file works.
    store.Submit(NamedBatch(1, 3, kT0));
    store.Flush();
    QCOMPARE(store.SensorReadings(store.ControllerId(TestController()), 0, 0).size(), size_t(3));
}

// ---------------------------------------------------------------- retention

namespace {

qint64 Pragma(const QString &path, const QString &name)
{
    qint64 v = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("pragma"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(name.startsWith(u"SELECT") ? name : QStringLiteral("PRAGMA ") + name) && q.next())
                v = q.value(0).toLongLong();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("pragma"));
    return v;
}

constexpr qint64 kDay = 24 * 3600 * 1000;

} // namespace

// Readings, events and writes older than the age limit go; younger ones and alarms
// still waiting for their acknowledgement stay.
void tst_history::retentionByAge()
{
    QTemporaryDir dir;
    HistoryLimits limits;
    limits.retentionDays = 5;
    limits.maxBytes = 0;
    HistoryStore store(dir.path(), limits);
    QVERIFY(store.Open());
    // Ten days, a cycle every 20 minutes (a block each), an event and a write a day; the
    // alarm of day 0 is never acknowledged, the one of day 1 is.
    for (int c = 0; c < 10 * 72; ++c) {
        HistoryBatch b = NamedBatch(c, 4, kT0 + c * 20 * 60 * 1000, 2);
        if (c % 72 == 0) {
            HistoryEvent e;
            e.kind = EventKind::SensorStatus;
            e.code = c / 72;
            e.alarm = c / 72 <= 1;
            b.events.push_back(e);
            WriteAudit w;
            w.operation = QStringLiteral("sensors");
            w.registers = {{1, 2, 3, WriteResult::Confirmed}, {4, 5, 6, WriteResult::Failed}};
            b.writes.push_back(w);
        }
        store.Submit(std::move(b));
    }
    store.Flush();
    EventFilter alarms;
    alarms.alarmsOnly = true;
    store.Acknowledge(store.Events(alarms).front().id, kT0 + kDay + 1); // day 1's
    const qint64 now = kT0 + 10 * kDay, cutoff = now - 5 * kDay;
    store.RunRetention(now);
    store.Flush();
    QVERIFY(store.stats().retentionBlocks > 0);
    const int id = store.ControllerId(TestController());
    const auto span = store.ReadingSpan(id);
    // Whole blocks go: one that starts up to ten minutes before the limit may stay.
    QVERIFY2(span.first <= cutoff && span.first >= cutoff - 10 * 60 * 1000,
             qPrintable(QString::number((cutoff - span.first) / 1000)));
    QCOMPARE(span.second, kT0 + (10 * 72 - 1) * 20 * 60 * 1000);
    QCOMPARE(store.SensorReadings(id, cutoff, 0).front().timesMs.size(),
             size_t(5 * 72 + (span.first < cutoff ? 1 : 0)));
    QList<int> days;
    for (const HistoryEvent &e : store.Events({}))
        if (e.kind == EventKind::SensorStatus)
            days.prepend(e.code);
    QCOMPARE(days, (QList<int>{0, 5, 6, 7, 8, 9}));
    QCOMPARE(store.UnacknowledgedAlarms(), 1);
    QCOMPARE(store.Writes(0, 0).size(), size_t(5));
    store.Flush();
    const QString path = store.path();
    QCOMPARE(Pragma(path, "SELECT count(*) FROM audit"), qint64(10)); // none left orphaned
}

// Over the size limit the oldest readings go first, down to nine tenths of the limit,
// and the free pages are given back to the file system.
void tst_history::retentionBySize()
{
    QTemporaryDir dir;
    const int cycles = 40000;
    {
        HistoryLimits none;
        none.maxBytes = 0;
        HistoryStore store(dir.path(), none);
        QVERIFY(store.Open());
        for (int c = 0; c < cycles; ++c) {
            store.Submit(NamedBatch(c, 36, kT0 + c * 1000, 8));
            if (c % 1000 == 999)
                store.Flush(); // a queue this long would drop readings
        }
    }
    const QString path = QDir(dir.path()).filePath(HistoryStore::kFileName);
    const qint64 before = Pragma(path, "page_count") * Pragma(path, "page_size");
    QVERIFY2(before > 3 * 1024 * 1024, qPrintable(QString::number(before)));
    HistoryLimits limits;
    limits.maxBytes = 1024 * 1024;
    HistoryStore store(dir.path(), limits);
    QVERIFY(store.Open());
    store.RunRetention(kT0 + cycles * 1000);
    store.Flush();
    const HistoryStore::Stats stats = store.stats();
    QVERIFY(stats.retentionChunks > 1);
    QVERIFY2(stats.vacuumedPages > 0, qPrintable(QStringLiteral("auto_vacuum %1 free %2 pages %3").arg(Pragma(path, "auto_vacuum")).arg(Pragma(path, "freelist_count")).arg(Pragma(path, "page_count"))));
    const qint64 pageSize = Pragma(path, "page_size");
    const qint64 used = (Pragma(path, "page_count") - Pragma(path, "freelist_count")) * pageSize;
    QVERIFY2(used <= limits.maxBytes * 9 / 10 && used > limits.maxBytes / 2, qPrintable(QString::number(used)));
    QVERIFY2(Pragma(path, "page_count") * pageSize <= limits.maxBytes, "free pages given back");
    const auto span = store.ReadingSpan(store.ControllerId(TestController()));
    QVERIFY(span.first > kT0);
    QCOMPARE(span.second, kT0 + (cycles - 1) * 1000);
    // What is left is whole: the newest cycles read back as they went in.
    const auto series = store.SensorReadings(store.ControllerId(TestController()), span.second - 10000, 0);
    QCOMPARE(series.size(), size_t(36));
    QCOMPARE(series[6].temperature.back(), NamedTemperature(7, cycles - 1));
}

// ---------------------------------------------------------------- exports

namespace {

// Three sensors, a cycle every 10 s from 09:00:00 local time: sensor 2 loses power at
// cycle 3, sensor 3 is unregistered from cycle 4; nobody polls between cycles 5 and 6
// (five minutes); sensor 1 is kept only in cycles 1, 4, 7 (unchanged in between).
qint64 ExportFixture(HistoryStore &store, std::vector<qint64> &times)
{
    const qint64 start = QDateTime(QDate(2026, 6, 15), QTime(9, 0)).toMSecsSinceEpoch();
    for (int c = 0; c < 9; ++c) {
        const qint64 t = start + c * 10000 + (c >= 6 ? 300000 : 0);
        times.push_back(t);
        HistoryBatch b;
        b.controller = TestController();
        b.timeMs = t;
        if (c % 3 == 1)
            b.sensors.push_back({1, 0, quint16(100 + c), 5});
        b.sensors.push_back({2, quint16(c >= 3 ? 10 : 1), quint16(200 + c), 6});
        b.sensors.push_back({3, quint16(c >= 4 ? 40 : 2), quint16(300 + c), 7});
        store.Submit(std::move(b));
    }
    store.Flush();
    return start;
}

QStringList CsvLines(const QString &path, QByteArray *head)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    *head = bytes.left(3);
    QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

void tst_history::exportCsv_data()
{
    QTest::addColumn<int>("lang"); // -1: no settings given
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("noPower");
    QTest::newRow("no settings: Russian") << -1 << ";"
        << "Время;Датчик 1;Датчик 2;Датчик 3;Датчик 1: состояние;Датчик 2: состояние;Датчик 3: состояние"
        << "НЕТ ПИТАНИЯ";
    QTest::newRow("shipped start.ini, Russian") << 0 << ";"
        << "Время;Датчик 1;Датчик 2;Датчик 3;Датчик 1: состояние;Датчик 2: состояние;Датчик 3: состояние"
        << "НЕТ ПИТАНИЯ";
    QTest::newRow("shipped start.ini, English") << 1 << ","
        << "Time,Sensor 1,Sensor 2,Sensor 3,Sensor 1: status,Sensor 2: status,Sensor 3: status"
        << "NO POWER";
}

// The CSV a spreadsheet opens: BOM, a header naming every column, local times with their
// offset, each sensor's temperature under its own column (empty where it read none or
// nobody polled), its status text after the temperatures.
void tst_history::exportCsv()
{
    QFETCH(int, lang);
    QFETCH(QString, separator);
    QFETCH(QString, header);
    QFETCH(QString, noPower);
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    std::vector<qint64> times;
    const qint64 start = ExportFixture(store, times);
    QVERIFY(QFile::copy(QStringLiteral(VELMARIS_SOURCE_DIR "/data/start.ini"), dir.filePath("start.ini")));
    MemIniFile settings(dir.filePath("start.ini"));
    settings.writeInteger("language", "lang", std::max(lang, 0));
    const QString path = dir.filePath("out.csv");
    QString error;
    QVERIFY2(ExportReadingsCsv(store, store.ControllerId(TestController()), start, start + 3600000,
                               path, &error, lang < 0 ? nullptr : &settings),
             qPrintable(error));
    QByteArray bom;
    const QStringList lines = CsvLines(path, &bom);
    QCOMPARE(bom, QByteArray("\xEF\xBB\xBF"));
    QCOMPARE(lines.size(), 10);
    if (lang == 1) // the English sensor word comes from the shipped file
        QCOMPARE(lines[0].section(separator, 1, 1).section(u' ', 0, 0), settings.readString("lang1", "n32", "?"));
    QCOMPARE(lines[0], header);
    QList<QStringList> rows;
    for (int i = 1; i < lines.size(); ++i)
        rows << lines[i].split(separator);
    for (int c = 0; c < 9; ++c) {
        const QStringList &r = rows[c];
        QCOMPARE(r.size(), 7);
        // 2026-06-15T09:00:10+03:00 in Moscow: the local time and its offset.
        QVERIFY2(QRegularExpression("^2026-06-15T\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$").match(r[0]).hasMatch(),
                 qPrintable(r[0]));
        QCOMPARE(QDateTime::fromString(r[0], Qt::ISODate).toMSecsSinceEpoch(), times[size_t(c)]);
        QVERIFY(r[0].startsWith(QDateTime::fromMSecsSinceEpoch(times[size_t(c)]).toString("yyyy-MM-ddTHH:mm:ss")));
        // Sensor 1: its reading stands for the cycles after it; none before the first,
        // and after the pause the last one is too old to stand for anything.
        const int last1 = (c - 1) / 3 * 3 + 1;
        const bool none = c == 0 || c == 6;
        QCOMPARE(r[1], none ? QString() : QString::number(100 + last1));
        QCOMPARE(r[2], c >= 3 ? QString() : QString::number(200 + c));
        QCOMPARE(r[3], c >= 4 ? QString() : QString::number(300 + c));
        if (c >= 3)
            QCOMPARE(r[5], noPower);
        QCOMPARE(r[6].isEmpty(), false);
    }
}

// The trend file of a range reads back in TrendReader as the trend viewer reads it.
void tst_history::exportTrend()
{
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    QVERIFY(store.Open());
    std::vector<qint64> times;
    const qint64 start = ExportFixture(store, times);
    MemIniFile settings(dir.filePath("start.ini"));
    const QString path = dir.filePath("range.txt");
    QString error;
    QVERIFY2(ExportReadingsTrend(store, store.ControllerId(TestController()), start, start + 3600000,
                                 settings, path, &error),
             qPrintable(error));
    const auto trend = ReadTrendFile(path, &error);
    QVERIFY2(trend, qPrintable(error));
    QCOMPARE(trend->skippedLines, 0);
    QCOMPARE(trend->times.size(), 9);
    for (int c = 0; c < 9; ++c)
        QCOMPARE(trend->times[c], QDateTime::fromMSecsSinceEpoch(times[size_t(c)]));
    QCOMPARE(trend->channels.size(), 3);
    QCOMPARE(trend->channels[0].sensor, 1);
    QCOMPARE(trend->channels[2].sensor, 3);
    QCOMPARE(trend->channels[0].values[0], std::optional<quint16>());   // nothing yet
    QCOMPARE(trend->channels[0].values[2], std::optional<quint16>(101));
    QCOMPARE(trend->channels[0].values[6], std::optional<quint16>());   // stale after the pause
    QCOMPARE(trend->channels[0].values[7], std::optional<quint16>(107));
    QCOMPARE(trend->channels[1].values[2], std::optional<quint16>(202));
    QCOMPARE(trend->channels[1].values[3], std::optional<quint16>());   // no power
    QCOMPARE(trend->channels[2].values[3], std::optional<quint16>(303));
    QCOMPARE(trend->channels[2].values[4], std::optional<quint16>());   // unregistered
    // An empty range is refused with a reason, and nothing is written.
    QVERIFY(!ExportReadingsTrend(store, store.ControllerId(TestController()), start - 7200000,
                                 start - 3600000, settings, dir.filePath("none.txt"), &error));
    QCOMPARE(error, QString::fromUtf16(Msg::n537.russian));
    QVERIFY(!QFile::exists(dir.filePath("none.txt")));
}

// ---------------------------------------------------------------- when nothing can be written

// The folder cannot be made (a file is in the way; root cannot make it either): the store
// says so once, keeps the batches (readings dropped first, oldest first, beyond the
// bound; events kept) and writes them when the folder can be made.
void tst_history::waitingWhileUnwritable()
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath("work");
    QFile(blocker).open(QIODevice::WriteOnly);
    HistoryStore store(dir.filePath("work/sub"));
    QSignalSpy problems(&store, &HistoryStore::problemChanged);
    QVERIFY(!store.Open());
    QVERIFY(store.problem().startsWith(QString::fromUtf16(Msg::n531.russian)));
    const int batches = int(HistoryStore::kMaxWaitingReadings / 36) + 2000;
    for (int c = 0; c < batches; ++c) {
        HistoryBatch b = NamedBatch(c, 36, kT0 + c * 1000, 0);
        HistoryEvent e;
        e.code = c;
        b.events.push_back(e);
        store.Submit(std::move(b));
    }
    store.Flush(); // tries once more, in vain
    QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 10000);
    QVERIFY(!problems[0][0].toString().isEmpty());
    QVERIFY(QFile::remove(blocker));
    store.Flush();
    QCOMPARE(store.problem(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 2, 10000);
    QCOMPARE(problems[1][0].toString(), QString());
    // Every event is there; the readings are those of the newest batches, none missing
    // among them, as many as the bound holds.
    QCOMPARE(store.Events({}).size(), size_t(batches));
    const auto series = store.SensorReadings(store.ControllerId(TestController()), 0, 0);
    QCOMPARE(series.size(), size_t(36));
    const size_t kept = series[0].timesMs.size();
    QVERIFY(qint64(kept) * 36 <= HistoryStore::kMaxWaitingReadings);
    QVERIFY(qint64(kept + 1) * 36 > HistoryStore::kMaxWaitingReadings);
    for (size_t j = 0; j < kept; ++j) {
        const int c = batches - int(kept) + int(j);
        QCOMPARE(series[0].timesMs[j], kT0 + c * 1000);
        QCOMPARE(series[35].temperature[j], NamedTemperature(36, c));
    }
    QCOMPARE(store.stats().droppedReadings, qint64(batches - int(kept)) * 36);
}

// ---------------------------------------------------------------- child processes

namespace {

struct Child {
    QProcess process;
    QByteArray out;
    bool start(const QString &folder, const char *mode, int first)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(ChildPath(), {folder, QString::fromLatin1(mode), QString::number(first)});
        return process.waitForStarted(10000);
    }
    // The next line that starts with prefix; empty after the deadline.
    QByteArray waitLine(const QByteArray &prefix, int ms = 30000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            for (qsizetype nl; (nl = out.indexOf('\n')) >= 0;) {
                const QByteArray line = out.left(nl);
                out.remove(0, nl + 1);
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return {};
            process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            out += process.readAllStandardOutput();
        }
    }
    void send(const QByteArray &cmd) { process.write(cmd + '\n'); }
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill(); // SIGKILL to this child's pid only
            process.waitForFinished(10000);
        }
    }
};

// Every batch first..last of history_child is in the file: readings and event.
void VerifyChildBatches(HistoryStore &store, int first, int last)
{
    if (last < first)
        return;
    const int id = store.ControllerId(TestController());
    QVERIFY(id > 0);
    const qint64 from = kT0 + qint64(first) * 1000, to = kT0 + qint64(last) * 1000;
    const auto series = store.SensorReadings(id, from, to);
    QCOMPARE(series.size(), size_t(36));
    for (const SensorSeries &s : series) {
        size_t j = s.timesMs.front() < from ? 1 : 0;
        QCOMPARE(s.timesMs.size() - j, size_t(last - first + 1));
        for (int c = first; c <= last; ++c, ++j) {
            QCOMPARE(s.timesMs[j], kT0 + qint64(c) * 1000);
            QCOMPARE(s.temperature[j], NamedTemperature(s.sensor, c));
            QCOMPARE(s.status[j], NamedStatus(s.sensor, c));
        }
    }
    EventFilter f;
    f.fromMs = from;
    f.toMs = to;
    const auto events = store.Events(f);
    QCOMPARE(events.size(), size_t(last - first + 1));
    for (size_t i = 0; i < events.size(); ++i)
        QCOMPARE(events[i].code, last - int(i));
}

QString IntegrityCheck(const QString &path)
{
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            result = q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next() ? q.value(0).toString()
                                                                                  : q.lastError().text();
        } else {
            result = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return result;
}

} // namespace

// A writer killed (SIGKILL) at any moment, a hundred times over the same file: each time
// the file opens as ours (nothing set aside), passes integrity_check, and holds every
// batch the writer reported committed.
void tst_history::killedWhileWriting()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(HistoryStore::kFileName);
    int committedRounds = 0;
    for (int round = 0; round < 100; ++round) {
        const int first = round * 100000;
        int committed = first - 1;
        {
            Child child;
            QVERIFY(child.start(dir.path(), "write", first));
            auto *rng = QRandomGenerator::global();
            if (round % 10 == 3) {
                // Somewhere in start-up: opening, checking, recovering the last kill's WAL.
                QTest::qSleep(int(rng->bounded(60)));
            } else {
                const QByteArray line = child.waitLine("committed ");
                QVERIFY2(!line.isEmpty(), "the writer reported nothing");
                QTest::qSleep(int(rng->bounded(1, 250)));
            }
            ::kill(pid_t(child.process.processId()), SIGKILL);
            QVERIFY(child.process.waitForFinished(10000));
            child.out += child.process.readAllStandardOutput();
            for (const QByteArray &line : child.out.split('\n'))
                if (line.startsWith("committed "))
                    committed = std::max(committed, line.mid(10).toInt());
        }
        QCOMPARE(IntegrityCheck(path), QStringLiteral("ok"));
        HistoryStore store(dir.path());
        QVERIFY(store.Open());
        QVERIFY(QDir(dir.path()).entryList({"*.damaged-*"}, QDir::Files).isEmpty());
        VerifyChildBatches(store, first, committed);
        if (QTest::currentTestFailed())
            return;
        committedRounds += committed >= first;
    }
    QVERIFY(committedRounds >= 80);
}

void tst_history::diskFull_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("file size limit (EFBIG)") << "rlimit";
    QTest::newRow("full file system (ENOSPC)") << "tmpfs";
}

// The disk fills up while the store writes: the problem is said once, polling goes on,
// the batches wait, and once there is room again everything is written.
void tst_history::diskFull()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    QString folder = dir.path();
    if (how == "tmpfs") {
#ifdef Q_OS_LINUX
        folder = dir.filePath("small");
        QDir().mkpath(folder);
        if (geteuid() != 0 ||
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=2m", "tmpfs", folder}) != 0)
            QSKIP("mounting a small tmpfs needs root with CAP_SYS_ADMIN; the file size limit row stands in");
        struct Unmount {
            QString folder;
            ~Unmount() { QProcess::execute("umount", {folder}); }
        } unmount{folder};
        HistoryStore store(folder);
        QSignalSpy problems(&store, &HistoryStore::problemChanged);
        QVERIFY(store.Open());
        {
            // Fill the rest of the file system.
            QFile filler(folder + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray chunk(4096, 'x');
            while (filler.write(chunk) == chunk.size() && filler.flush()) {
            }
        }
        int c = 0;
        for (; c < 2000 && store.problem().isEmpty(); ++c) {
            store.Submit(NamedBatch(c, 36, kT0 + c * 1000, 4));
            if (c % 20 == 19)
                store.Flush();
        }
        QCOMPARE(store.problem(), QString::fromUtf16(Msg::n530.russian));
        for (int i = 0; i < 50; ++i, ++c)
            store.Submit(NamedBatch(c, 36, kT0 + c * 1000, 4));
        store.Flush();
        QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 10000);
        QVERIFY(QFile::remove(folder + "/filler"));
        store.Flush();
        QCOMPARE(store.problem(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 2, 10000);
        {
            const auto series = store.SensorReadings(store.ControllerId(TestController()), 0, 0);
            QCOMPARE(series.size(), size_t(36));
            QCOMPARE(series[0].timesMs.size(), size_t(c));
        }
        return;
#else
        QSKIP("Linux only");
#endif
    }
    Child child;
    QVERIFY(child.start(folder, "limited", 0));
    QCOMPARE(child.waitLine("open"), QByteArray("open 1"));
    QTest::qWait(300);
    child.send("limit");
    QVERIFY(!child.waitLine("limited").isEmpty());
    const QByteArray problem = child.waitLine("problem", 60000);
    QVERIFY2(!problem.isEmpty(), "the store never said it cannot write");
    QTest::qWait(500); // batches go on while it cannot write
    child.send("free");
    QVERIFY(!child.waitLine("resumed", 60000).isEmpty());
    child.send("flush");
    const QByteArray flushed = child.waitLine("flushed", 60000);
    QVERIFY2(flushed.endsWith(" ok"), flushed.constData());
    const int last = flushed.split(' ')[1].toInt();
    QVERIFY(child.out.indexOf("problem") < 0); // said once
    child.send("quit");
    QVERIFY(child.process.waitForFinished(30000));
    HistoryStore store(folder);
    QVERIFY(store.Open());
    VerifyChildBatches(store, 0, last);
}

// The folder may not be written by the user who runs the program: said once, batches
// wait, and all is written once the folder is made writable. Run as the user nobody when
// the test runs as root (for root a folder's mode stops nothing).
void tst_history::readOnlyFolder()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    const QString folder = dir.filePath("work");
    QVERIFY(!WrittenStore(folder, 10).isEmpty());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                          QFile::ExeGroup);
    const QString path = QDir(folder).filePath(HistoryStore::kFileName);
    const auto readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(path, readable));
    QVERIFY(QFile::setPermissions(folder, readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
    Child child;
    QVERIFY(child.start(folder, "nobody", 1000));
    const QByteArray open = child.waitLine("open");
    if (open.isEmpty() && child.out.contains("cannot become nobody"))
        QSKIP("running as root without the right to become nobody");
    QCOMPARE(open, QByteArray("open 0"));
    const QByteArray problem = child.waitLine("problem", 60000);
    QVERIFY2(problem.startsWith("problem " + QString::fromUtf16(Msg::n531.russian).toUtf8()), problem.constData());
    QTest::qWait(500);
    const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                     QFile::ReadOther | QFile::WriteOther;
    QVERIFY(QFile::setPermissions(path, all));
    QVERIFY(QFile::setPermissions(folder, all | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
    QVERIFY(!child.waitLine("resumed", 60000).isEmpty());
    child.send("flush");
    const QByteArray flushed = child.waitLine("flushed", 60000);
    QVERIFY2(flushed.endsWith(" ok"), flushed.constData());
    QVERIFY(child.out.indexOf("problem") < 0);
    child.send("quit");
    QVERIFY(child.process.waitForFinished(30000));
    HistoryStore store(folder);
    QVERIFY(store.Open());
    VerifyChildBatches(store, 1000, flushed.split(' ')[1].toInt());
    VerifyChildBatches(store, 0, -1);
#else
    QSKIP("POSIX permissions only");
#endif
}

QTEST_GUILESS_MAIN(tst_history)
#include "tst_history.moc"
