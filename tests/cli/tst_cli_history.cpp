// velmaris-cli and the working folder's history, run as a process: serve against the
// simulator (what it tells on stderr, what the store then holds), history export and
// events over a store written here with values that name their sensor and row, and the
// times the options take.
#include "CliTexts.h"
#include "ControllerFolder.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "LookupText.h"
#include "MemIniFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

QString text(const TextKey &k) {
    return QString::fromUtf16(k.russian);
}

struct Run {
    int code = -1;
    QString out, err;
    QByteArray bytes; // stdout as it came
    QStringList lines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

Run cli(const QStringList &args, int timeoutMs = 60000) {
    QProcess p;
    p.start(QStringLiteral(VELMARIS_CLI_PATH), args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("(did not end)");
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.bytes = p.readAllStandardOutput();
    r.out = QString::fromUtf8(r.bytes);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QList<QJsonObject> jsonLines(const Run &r) {
    QList<QJsonObject> out;
    for (const QString &line : r.lines())
        out << QJsonDocument::fromJson(line.toUtf8()).object();
    return out;
}

qint64 msOf(const QJsonValue &time) {
    const QDateTime when = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
    return when.isValid() ? when.toMSecsSinceEpoch() : -1;
}

// 2026-12-01T10:00:00Z: the known store's first reading.
constexpr qint64 kT0 = 1796119200000;
constexpr qint64 kMinute = 60000;

const HistoryController kController{3126, 1, QStringLiteral("/dev/ttyS9"), QStringLiteral("1.2")};
const HistoryController kOther{3126, 2, QStringLiteral("/dev/ttyS9"), QStringLiteral("1.2")};

// Sensor n's temperature in row k names both: n * 100 + k.
constexpr int kSensors[] = {1, 2, 5};
quint16 named(int sensor, int row) {
    return quint16(sensor * 100 + row);
}

HistoryEvent event(qint64 t, EventKind kind, int subject = 0, int code = 0, int previous = -1,
                   bool alarm = false, const QString &what = {}) {
    HistoryEvent e;
    e.timeMs = t;
    e.kind = kind;
    e.subject = subject;
    e.code = code;
    e.previous = previous;
    e.alarm = alarm;
    e.text = what;
    return e;
}

// The events of the known store, oldest first, with the batch each goes in.
struct KnownEvent {
    bool program; // no controller
    HistoryEvent event;
};
QList<KnownEvent> knownEvents() {
    return {{true, event(kT0, EventKind::ProgramStarted)},
            {false, event(kT0 + 1, EventKind::Identified, 0, 0, -1, false, "3126 1.2")},
            {false, event(kT0 + kMinute + 2, EventKind::SensorStatus, 5, 10, 0, true)},
            {false, event(kT0 + 2 * kMinute + 3, EventKind::LinkLost, 0, 0, -1, false, "timeout")},
            {false, event(kT0 + 3 * kMinute + 4, EventKind::LinkBack)},
            {true, event(kT0 + 4 * kMinute + 5, EventKind::ProgramStopped)}};
}

// Five rows a minute apart of sensors 1, 2 and 5, sensor 5 without power in rows 2 and 3,
// and the events above; with a second controller's row when asked.
void writeKnownStore(bool second = false) {
    HistoryStore store(QDir::currentPath());
    QVERIFY2(store.Open(), qPrintable(store.problem()));
    const QList<KnownEvent> events = knownEvents();
    for (int k = 0; k < 5; ++k) {
        HistoryBatch b;
        b.controller = kController;
        b.timeMs = kT0 + k * kMinute;
        for (int n : kSensors)
            b.sensors.push_back(
                {n, quint16(n == 5 && (k == 2 || k == 3) ? 10 : 0), named(n, k), quint16(k)});
        b.relays.push_back({1, k % 2 == 1});
        for (const KnownEvent &e : events)
            if (!e.program && e.event.timeMs / kMinute == b.timeMs / kMinute)
                b.events.push_back(e.event);
        store.Submit(b);
    }
    for (const KnownEvent &e : events)
        if (e.program) {
            HistoryBatch b;
            b.timeMs = e.event.timeMs;
            b.events.push_back(e.event);
            store.Submit(b);
        }
    if (second) {
        HistoryBatch b;
        b.controller = kOther;
        b.timeMs = kT0;
        b.sensors.push_back({1, 0, 999, 0});
        store.Submit(b);
    }
    store.Flush();
    QVERIFY2(store.problem().isEmpty(), qPrintable(store.problem()));
}

QString iso(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

} // namespace

class TestCliHistory : public ControllerFolderTest {
    Q_OBJECT

    void prepare() {
        QVERIFY(CopyShippedData({"start.ini", "Cfg/qor7070__fw_1_0.ini", "Cfg/qor7070__fw_1_1.ini",
                                 "Cfg/qor7070__fw_1_2.ini"}));
        MemIniFile start("start.ini");
        if (sim.isRunning())
            start.writeString("connect", "port", sim.portSetting());
        start.writeInteger("connect", "receive", 150);
        start.writeInteger("language", "lang", 0);
        QVERIFY(start.updateFile());
    }

    void startSim(const QStringList &more = {}) {
        QVERIFY2(StartShippedSim(sim, QStringList{"--sensors", "12"} + more),
                 qPrintable(sim.errorText()));
        prepare();
    }

    // The store's events through the tool, as a script reads them.
    static QList<QJsonObject> storedEvents() {
        const Run r = cli({"events", "--json"});
        return r.code == 0 ? jsonLines(r) : QList<QJsonObject>{};
    }
    // The line serve tells sensor n's fault with.
    static QString alarmOf(int n) {
        return text(Msg::n625) + text(Msg::n32) + QString(" %1: ").arg(n);
    }
    static bool hasEvent(const QList<QJsonObject> &events, const QString &kind, int subject = 0,
                         int code = -1) {
        return std::any_of(events.begin(), events.end(), [&](const QJsonObject &e) {
            return e.value("kind").toString() == kind &&
                   (subject == 0 || e.value("subject").toInt() == subject) &&
                   (code < 0 || e.value("code").toInt() == code);
        });
    }

private slots:
    // Usage faults are told before anything is opened: exit 2, no store made.
    void badCallsAreUsageFaults_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no time") << QStringList{"history", "export"};
        QTest::newRow("words") << QStringList{"history", "export", "--from", "yesterday"};
        QTest::newRow("month 13") << QStringList{"events", "--from", "2026-13-01"};
        QTest::newRow("hour 25") << QStringList{"events", "--from", "2026-12-08T25:00"};
        QTest::newRow("day first") << QStringList{"events", "--from", "08.12.2026"};
        QTest::newRow("trailing") << QStringList{"events", "--to", "2026-12-08T07:00 x"};
        QTest::newRow("bad ago") << QStringList{"events", "--from", "-5x"};
        QTest::newRow("end first")
            << QStringList{"events", "--from", "2026-12-08T08:00", "--to", "2026-12-08T07:00"};
        QTest::newRow("same moment") << QStringList{
            "history", "export", "--from", "2026-12-08T07:00Z", "--to", "2026-12-08T08:00+01:00"};
        QTest::newRow("two formats")
            << QStringList{"history", "export", "--from", "-1d", "--csv", "--trend"};
        QTest::newRow("no action") << QStringList{"history"};
        QTest::newRow("bad action") << QStringList{"history", "import"};
        QTest::newRow("controllers --from")
            << QStringList{"history", "controllers", "--from", "-1d"};
        QTest::newRow("controller 0") << QStringList{"events", "--controller", "0"};
        QTest::newRow("serve --no-history") << QStringList{"serve", "--no-history"};
        QTest::newRow("events --output") << QStringList{"events", "--output", "x.csv"};
        QTest::newRow("watch --from") << QStringList{"watch", "--from", "-1h"};
    }
    void badCallsAreUsageFaults() {
        QFETCH(QStringList, args);
        prepare();
        const Run r = cli(args);
        QVERIFY2(r.code == 2, qPrintable(r.err));
        QVERIFY(!QFile::exists(HistoryStore::kFileName));
    }

    // Reading never changes what the folder holds: no history makes none, and a file
    // the writer has only just created (empty) or that is not ours is left as it is for
    // the writer to judge, never set aside or converted under it.
    void readingLeavesTheFolderAsItIs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("file"); // null: none
        QTest::addColumn<QString>("told");
        const QByteArray none, empty(""), foreign("time;t1\r\n10:00;21.5\r\n");
        const struct {
            const char *name;
            QStringList args;
        } reads[] = {{"events", {"events"}},
                     {"export", {"history", "export", "--from", "-1d"}},
                     {"controllers", {"history", "controllers"}}};
        for (const auto &r : reads) {
            QTest::addRow("%s, none", r.name) << r.args << none << text(Msg::n623);
            QTest::addRow("%s, just created", r.name) << r.args << empty << text(Msg::n626);
            QTest::addRow("%s, foreign", r.name) << r.args << foreign << text(Msg::n626);
        }
    }
    void readingLeavesTheFolderAsItIs() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, file);
        QFETCH(QString, told);
        prepare();
        if (!file.isNull()) {
            QFile f(HistoryStore::kFileName);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(file), file.size());
        }
        const QStringList before = QDir().entryList(QDir::Files | QDir::Hidden);
        const Run r = cli(args);
        QCOMPARE(r.code, 6);
        QVERIFY2(r.err.contains(told), qPrintable(r.err));
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), before);
        if (file.isNull())
            return;
        QFile f(HistoryStore::kFileName);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), file);
    }

    // The known store read back: oldest first, each event's fields where a script finds
    // them, times that parse back to the moment kept, the text the window would show.
    void eventsAsJsonLines_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<int>>("expected"); // indexes into knownEvents()
        QTest::newRow("all") << QStringList{} << QList<int>{0, 1, 2, 3, 4, 5};
        QTest::newRow("alarms") << QStringList{"--alarms"} << QList<int>{2};
        QTest::newRow("from, Z") << QStringList{"--from", iso(kT0 + 2 * kMinute)}
                                 << QList<int>{3, 4, 5};
        QTest::newRow("to, offset")
            << QStringList{"--to", QDateTime::fromMSecsSinceEpoch(kT0 + 2 * kMinute,
                                                                  Qt::OffsetFromUTC, 19800)
                                       .toString(Qt::ISODate)}
            << QList<int>{0, 1, 2};
        QTest::newRow("controller") << QStringList{"--controller", "1"} << QList<int>{1, 2, 3, 4};
    }
    void eventsAsJsonLines() {
        QFETCH(QStringList, args);
        QFETCH(QList<int>, expected);
        prepare();
        writeKnownStore();
        const Run r = cli(QStringList{"events", "--json"} + args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QList<QJsonObject> got = jsonLines(r);
        const QList<KnownEvent> known = knownEvents();
        QCOMPARE(got.size(), expected.size());
        const MemIniFile settings("start.ini");
        HistoryStore store(QDir::currentPath());
        QVERIFY(store.Open());
        const std::vector<HistoryEvent> stored = store.Events({});
        for (qsizetype i = 0; i < got.size(); ++i) {
            const HistoryEvent &e = known[expected[i]].event;
            const QJsonObject &o = got[i];
            QCOMPARE(msOf(o.value("time")), e.timeMs);
            QCOMPARE(o.value("subject").toInt(), e.subject);
            QCOMPARE(o.value("code").toInt(), e.code);
            QCOMPARE(o.value("previous").isNull(), e.previous < 0);
            QCOMPARE(o.value("alarm").toBool(), e.alarm);
            QVERIFY(o.value("acknowledged").isNull());
            QCOMPARE(o.value("controller").toInt() == 0, known[expected[i]].program);
            const auto same = std::find_if(stored.begin(), stored.end(), [&](const auto &s) {
                return s.id == o.value("id").toInteger();
            });
            QVERIFY(same != stored.end());
            QCOMPARE(same->kind, e.kind);
            QCOMPARE(o.value("text").toString(), HistoryEventText(*same, settings));
        }
        static const QStringList kinds{"",           "sensor-status",   "relay",
                                       "link-lost",  "link-back",       "link-down-long",
                                       "identified", "program-started", "program-stopped",
                                       "write",      "acknowledged"};
        for (qsizetype i = 0; i < got.size(); ++i)
            QCOMPARE(got[i].value("kind").toString(), kinds[int(known[expected[i]].event.kind)]);
        // The text form: the same events, one line each, the alarm marked.
        const Run t = cli(QStringList{"events"} + args);
        QCOMPARE(t.code, 0);
        QCOMPARE(t.lines().size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(msOf(t.lines()[i].section(u'\t', 0, 0)), known[expected[i]].event.timeMs);
            QCOMPARE(t.lines()[i].section(u'\t', 1).startsWith(text(Msg::n625)),
                     known[expected[i]].event.alarm);
        }
    }

    // Readings out of the known store: the columns are the sensors, each row the moment
    // kept, each cell the value that names its sensor and row (or its state).
    void exportHasTheRightColumnsAndRows_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("trend");
        QTest::addColumn<bool>("file");
        QTest::newRow("CSV to stdout") << QStringList{} << false << false;
        QTest::newRow("CSV --csv, --output")
            << QStringList{"--csv", "--output", "out.csv"} << false << true;
        QTest::newRow("trend, --output")
            << QStringList{"--trend", "--output", "out.txt"} << true << true;
        QTest::newRow("trend to stdout") << QStringList{"--trend"} << true << false;
    }
    void exportHasTheRightColumnsAndRows() {
        QFETCH(QStringList, args);
        QFETCH(bool, trend);
        QFETCH(bool, file);
        prepare();
        writeKnownStore();
        // Rows 1..3: from the second minute to just after the fourth.
        const Run r = cli(QStringList{"history", "export", "--from", iso(kT0 + kMinute), "--to",
                                      iso(kT0 + 3 * kMinute + 1000)} +
                          args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QByteArray bytes = r.bytes;
        if (file) {
            QVERIFY(r.bytes.isEmpty());
            QFile f(args.last());
            QVERIFY(f.open(QIODevice::ReadOnly));
            bytes = f.readAll();
            if (!trend) // for spreadsheet programs
                QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        }
        if (!trend && !file)
            QVERIFY(!bytes.startsWith("\xEF\xBB\xBF")); // a pipe gets no mark
        const QString all = trend ? QString::fromLocal8Bit(bytes) : QString::fromUtf8(bytes);
        QStringList lines = all.split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
        if (!lines.isEmpty() && lines[0].startsWith(QChar(0xFEFF)))
            lines[0].remove(0, 1);
        QVERIFY2(lines.size() >= 4, qPrintable(all));
        const QList<QStringList> rows = [&] {
            QList<QStringList> out;
            for (const QString &line : lines.mid(lines.size() - 3))
                out << line.split(QRegularExpression(trend ? "\t" : "[,;]"));
            return out;
        }();
        // Every row carries the three sensors' values of its own minute, in column order.
        for (int k = 1; k <= 3; ++k) {
            const QStringList &cells = rows[k - 1];
            QList<int> numbers;
            for (const QString &c : cells) {
                bool ok = false;
                const int v = QString(c).remove(u'"').trimmed().toInt(&ok);
                if (ok && v >= 100)
                    numbers << v;
            }
            QList<int> want{named(1, k), named(2, k)};
            if (k == 1)
                want << named(5, k); // rows 2 and 3: no power, no temperature
            QVERIFY2(numbers == want, qPrintable(cells.join(u'|')));
        }
    }

    // Several controllers: export asks which, and takes the one named.
    void exportAsksWhichController() {
        prepare();
        writeKnownStore(true);
        const Run list = cli({"history", "controllers", "--json"});
        QCOMPARE(list.code, 0);
        const QList<QJsonObject> rows = jsonLines(list);
        QCOMPARE(rows.size(), 2);
        int other = 0;
        for (const QJsonObject &o : rows) {
            QCOMPARE(o.value("device").toInt(), 3126);
            QCOMPARE(o.value("port").toString(), QStringLiteral("/dev/ttyS9"));
            if (o.value("address").toInt() == 2)
                other = o.value("id").toInt();
        }
        QVERIFY(other > 0);
        const QStringList range{"history", "export", "--from", iso(kT0), "--to", iso(kT0 + 1000)};
        const Run none = cli(range);
        QCOMPARE(none.code, 2);
        QVERIFY2(none.err.contains(text(Msg::n621)), qPrintable(none.err));
        const Run unknown = cli(range + QStringList{"--controller", "77"});
        QCOMPARE(unknown.code, 2);
        const Run named = cli(range + QStringList{"--controller", QString::number(other)});
        QCOMPARE(named.code, 0);
        QVERIFY2(named.out.contains("999") && !named.out.contains("100"), qPrintable(named.out));
    }

    // serve against the simulator: started, a sensor loses power, the controller falls
    // silent and comes back; stderr tells each as one stamped line, the store holds the
    // events, and SIGTERM ends it with 0 and every event written.
    void serveTellsAlarmsAndLinkChanges_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void serveTellsAlarmsAndLinkChanges() {
        QFETCH(int, signal);
        startSim({"--pace"});
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"serve"});
        QByteArray err;
        const auto errText = [&] { return QString::fromUtf8(err += p.readAllStandardError()); };
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "identified"), 60000);
        QVERIFY(sim.command("set status 3 10").startsWith("OK"));
        const QString alarm = text(Msg::n625);
        QTRY_VERIFY2_WITH_TIMEOUT(errText().contains(alarm), qPrintable(errText()), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "sensor-status", 3, 10), 20000);
        QVERIFY(sim.command("offline").startsWith("OK"));
        QTRY_VERIFY2_WITH_TIMEOUT(errText().contains(text(Msg::n632)), qPrintable(errText()),
                                  30000);
        QVERIFY(sim.command("online").startsWith("OK"));
        // Up at the start, and again after the loss.
        QTRY_VERIFY2_WITH_TIMEOUT(errText().count(text(Msg::n101)) == 2, qPrintable(errText()),
                                  30000);
        QCOMPARE(::kill(pid_t(p.processId()), signal), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = errText().split(u'\n', Qt::SkipEmptyParts);
        // One line each: a time that parses, a blank, a text.
        for (const QString &line : lines)
            QVERIFY2(msOf(line.section(u' ', 0, 0)) > 0 && !line.section(u' ', 1).isEmpty(),
                     qPrintable(line));
        QVERIFY2(lines.last().endsWith(text(Msg::n629)), qPrintable(lines.last()));
        // Every event of the run, the last one included, is in the store.
        const QList<QJsonObject> events = storedEvents();
        QVERIFY(hasEvent(events, "program-started"));
        QVERIFY(hasEvent(events, "identified"));
        QVERIFY(hasEvent(events, "sensor-status", 3, 10));
        QVERIFY(hasEvent(events, "link-lost"));
        QVERIFY(hasEvent(events, "link-back"));
        QCOMPARE(events.last().value("kind").toString(), QStringLiteral("program-stopped"));
        // Each alarm told on stderr is an alarm of the store.
        const QRegularExpression told(QRegularExpression::escape(alarm) + "(.*)$");
        for (const QString &line : lines) {
            const auto m = told.match(line);
            if (!m.hasMatch())
                continue;
            QVERIFY2(std::any_of(events.begin(), events.end(),
                                 [&](const QJsonObject &e) {
                                     return e.value("alarm").toBool() &&
                                            e.value("text").toString() == m.captured(1);
                                 }),
                     qPrintable(line));
        }
    }

    // The reader of serve's log goes away (stderr a closed pipe): polling and the history
    // go on, and a signal still ends it cleanly.
    void serveOutlivesItsLogReader() {
        startSim();
        QProcess p;
        // stderr a pipe of its own, and SIGPIPE not ignored (this test process may), as a
        // service manager or a shell pipeline starts it.
        int log[2];
        QCOMPARE(::pipe(log), 0);
        p.setChildProcessModifier([log] {
            ::signal(SIGPIPE, SIG_DFL);
            ::dup2(log[1], STDERR_FILENO);
            ::close(log[0]);
            ::close(log[1]);
        });
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"serve"});
        QVERIFY(p.waitForStarted(10000));
        ::close(log[1]);
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "identified"), 60000);
        ::close(log[0]);                                          // the reader goes
        QVERIFY(sim.command("set status 3 10").startsWith("OK")); // an alarm to tell
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "sensor-status", 3, 10), 20000);
        QVERIFY(sim.command("set status 5 20").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "sensor-status", 5, 20), 20000);
        QCOMPARE(p.state(), QProcess::Running);
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(storedEvents().last().value("kind").toString(), QStringLiteral("program-stopped"));
    }

    // The simulator goes away altogether (its pty with it): the loss is told and kept, and
    // serve goes on trying until it is stopped.
    void serveTellsTheControllerGone() {
        startSim();
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"serve"});
        QVERIFY(p.waitForStarted(10000));
        QByteArray err;
        const auto errText = [&] { return QString::fromUtf8(err += p.readAllStandardError()); };
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "identified"), 60000);
        sim.stop();
        QTRY_VERIFY2_WITH_TIMEOUT(errText().contains(text(Msg::n632)), qPrintable(errText()),
                                  30000);
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "link-lost"), 20000);
        QCOMPARE(p.state(), QProcess::Running);
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(errText().count(text(Msg::n632)), 1); // one loss, however many retries
        QCOMPARE(storedEvents().last().value("kind").toString(), QStringLiteral("program-stopped"));
    }

    // A controller not there when serve starts is waited for, not given up on.
    void serveWaitsForTheController() {
        startSim();
        QVERIFY(sim.command("offline").startsWith("OK"));
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"serve"});
        QVERIFY(p.waitForStarted(10000));
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).count('\n') >= 2, 20000);
        QCOMPARE(p.state(), QProcess::Running);
        QVERIFY(sim.command("online").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(), "identified"), 60000);
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
    }

    // The disk fills under serve: one line says the history stopped, polling goes on, one
    // line says it writes again once there is room, and what happened meanwhile is kept.
    // Stopped while the disk is still full, it ends at once and says what was lost.
    void serveRidesOutAFullDisk_data() {
        QTest::addColumn<bool>("freed");
        QTest::newRow("room again") << true;
        QTest::newRow("still full at the end") << false;
    }
    void serveRidesOutAFullDisk() {
        QFETCH(bool, freed);
        QTemporaryDir mount;
        QProcess m;
        m.start("mount", {"-t", "tmpfs", "-o", "size=2m", "tmpfs", mount.path()});
        if (!m.waitForFinished(10000) || m.exitCode() != 0)
            QSKIP("no tmpfs can be mounted here (needs root)");
        struct Unmount {
            QString path;
            ~Unmount() { QProcess::execute("umount", {"-l", path}); }
        } unmount{mount.path()};
        startSim();
        const QString w = mount.filePath("w");
        QVERIFY(CopyShippedData({"start.ini", "Cfg/qor7070__fw_1_2.ini"}, w));
        {
            MemIniFile start(w + "/start.ini");
            start.writeString("connect", "port", sim.portSetting());
            start.writeInteger("connect", "receive", 150);
            QVERIFY(start.updateFile());
        }
        const QStringList in{"--workdir", w};
        const auto events = [&] {
            const Run r = cli(QStringList{"events", "--json"} + in);
            return r.code == 0 ? jsonLines(r) : QList<QJsonObject>{};
        };
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), QStringList{"serve"} + in);
        QVERIFY(p.waitForStarted(10000));
        QByteArray err;
        const auto errText = [&] { return QString::fromUtf8(err += p.readAllStandardError()); };
        QTRY_VERIFY2_WITH_TIMEOUT(hasEvent(events(), "identified"), qPrintable(errText()), 60000);
        // Everything the disk still takes.
        QFile fill(mount.filePath("fill"));
        QVERIFY(fill.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (fill.write(block) == block.size() && fill.flush()) {
        }
        QVERIFY(sim.command("set status 3 10").startsWith("OK"));
        QTRY_VERIFY2_WITH_TIMEOUT(errText().contains(text(Msg::n530)), qPrintable(errText()),
                                  30000);
        QVERIFY(sim.command("set status 5 20").startsWith("OK"));
        QTRY_VERIFY2_WITH_TIMEOUT(errText().count(alarmOf(5)) == 1, qPrintable(errText()), 30000);
        QCOMPARE(p.state(), QProcess::Running);
        if (!freed) {
            QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 6);
            const QString last = errText().trimmed().section(u'\n', -1);
            QVERIFY2(last.contains(text(Msg::n633) + text(Msg::n530)), qPrintable(last));
            QVERIFY(!errText().contains(text(Msg::n629)));
            return;
        }
        fill.close();
        QVERIFY(fill.remove());
        QTRY_VERIFY2_WITH_TIMEOUT(errText().contains(text(Msg::n627)), qPrintable(errText()),
                                  60000);
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        // Told once each, and the events of the full time are in the store.
        QCOMPARE(errText().count(text(Msg::n530)), 1);
        QCOMPARE(errText().count(text(Msg::n627)), 1);
        const QList<QJsonObject> kept = events();
        QVERIFY(hasEvent(kept, "sensor-status", 3, 10));
        QVERIFY(hasEvent(kept, "sensor-status", 5, 20));
        QCOMPARE(kept.last().value("kind").toString(), QStringLiteral("program-stopped"));
    }

    void serveWithoutAPortExits3() {
        prepare();
        const Run r = cli({"serve"});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains(text(Msg::n350)), qPrintable(r.err));
    }

    // A write from the command line is in the audit trail as one from the window: each
    // register with the word the controller held (with named values: its own address) and
    // the word sent, and its fate. --no-history writes no trail.
    void writesAreAudited_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::newRow("set sensor 3 threshold 1")
            << QStringList{"set", "sensor.3.threshold1", "40"} << "sensors" << 0x1022 << 40;
        QTest::newRow("set relay 2 on delay")
            << QStringList{"set", "relay.2.on-delay", "17"} << "relays" << 0x0211 << 17;
        QTest::newRow("write-profile relay 2 off delay")
            << QStringList{"write-profile", "change.txt", "--no-connect"} << "profile" << 0x0212
            << 19;
        QTest::newRow("set --no-history")
            << QStringList{"set", "relay.2.on-delay", "17", "--no-history"} << "" << 0 << 0;
    }
    void writesAreAudited() {
        QFETCH(QStringList, args);
        QFETCH(QString, operation);
        QFETCH(int, reg);
        QFETCH(int, value);
        startSim({"--named-values"});
        if (args[0] == "write-profile") {
            QCOMPARE(cli({"read-profile", "change.txt", "--no-history"}).code, 2); // not its option
            QCOMPARE(cli({"read-profile", "change.txt"}).code, 0);
            QFile::remove(HistoryStore::kFileName);
            MemIniFile profile("change.txt");
            profile.writeString("Реле 2", MemIniFile("start.ini").readString("lang0", "n37", {}),
                                "19");
            QVERIFY(profile.updateFile());
        }
        const Run r = cli(args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(QFile::exists(HistoryStore::kFileName), !operation.isEmpty());
        if (operation.isEmpty())
            return;
        HistoryStore store(QDir::currentPath());
        QVERIFY(store.Open());
        // A profile may write several blocks (with named values the tags too: their words
        // are no text a profile keeps); each is a write of the profile.
        const std::vector<WriteAudit> writes = store.Writes(0, 0);
        QVERIFY(!writes.empty());
        QCOMPARE(int(writes.size()) == 1, args[0] == "set");
        std::optional<AuditRegister> found;
        for (const WriteAudit &w : writes) {
            QCOMPARE(w.operation, operation);
            QVERIFY(w.ok);
            QVERIFY(w.controller > 0);
            for (const AuditRegister &a : w.registers) {
                // A named value: the word before is its own register's address.
                QVERIFY2(a.before == a.reg, qPrintable(QString::number(a.reg, 16)));
                QCOMPARE(a.result, WriteResult::Confirmed);
                if (a.reg == reg)
                    found = a;
            }
        }
        QVERIFY(found);
        QCOMPARE(found->after, value);
        QVERIFY(hasEvent(storedEvents(), "write"));
    }

    // watch and record keep the history as the window does; --no-history leaves it alone.
    void watchAndRecordKeepTheHistory_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("kept");
        QTest::newRow("watch") << QStringList{"watch", "--count", "3"} << true;
        QTest::newRow("record") << QStringList{"record", "t.txt", "--period", "1", "--count", "2"}
                                << true;
        QTest::newRow("watch --no-history")
            << QStringList{"watch", "--count", "3", "--no-history"} << false;
        QTest::newRow("record --no-history")
            << QStringList{"record", "t.txt", "--period", "1", "--count", "2", "--no-history"}
            << false;
    }
    void watchAndRecordKeepTheHistory() {
        QFETCH(QStringList, args);
        QFETCH(bool, kept);
        startSim();
        // Temperatures that name their sensor, held still.
        for (int n = 1; n <= 9; ++n)
            QVERIFY(sim.command(QString("set temp %1 %2").arg(n).arg(100 + n)).startsWith("OK"));
        QVERIFY(sim.command("freeze").startsWith("OK"));
        const Run r = cli(args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(QFile::exists(HistoryStore::kFileName), kept);
        if (!kept)
            return;
        const QList<QJsonObject> events = storedEvents();
        QVERIFY(hasEvent(events, "identified"));
        QCOMPARE(events.last().value("kind").toString(), QStringLiteral("program-stopped"));
        // The readings of the run: each sensor's column holds its own temperature.
        const Run csv = cli({"history", "export", "--from", "-1h"});
        QVERIFY2(csv.code == 0, qPrintable(csv.err));
        QVERIFY2(csv.lines().size() >= 2, qPrintable(csv.out));
        const QStringList header = csv.lines().first().trimmed().split(u';');
        const QStringList last = csv.lines().last().trimmed().split(u';');
        QCOMPARE(last.size(), header.size());
        int checked = 0;
        for (qsizetype c = 1; c < header.size(); ++c) {
            const QRegularExpressionMatch m = QRegularExpression(" ([0-9]+)$").match(header[c]);
            if (!m.hasMatch())
                continue; // a status column
            const int n = m.captured(1).toInt();
            if (n <= 9) {
                QCOMPARE(last[c], QString::number(100 + n));
                ++checked;
            }
        }
        QCOMPARE(checked, 9);
    }
};

QTEST_GUILESS_MAIN(TestCliHistory)
#include "tst_cli_history.moc"
