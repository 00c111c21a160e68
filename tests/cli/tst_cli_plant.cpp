// velmaris-cli --plant run as a process against one simulator serving several controllers
// on one pty: every line says whose it is and carries only that controller's values,
// identify tells each controller's fate, serve keeps every controller in one history and
// ends on a signal, and a plant.ini that is refused polls nothing.
#include "CliTexts.h"
#include "ControllerFolder.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "Plant.h"
#include "PlantConfig.h"
#include "TrendReader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <signal.h>
#include <sys/types.h>

namespace {

QString text(const TextKey &k) {
    return QString::fromUtf16(k.russian);
}

struct Run {
    int code = -1;
    QString out, err;
    QStringList lines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

Run cli(const QStringList &args, int timeoutMs = 120000) {
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
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QList<QJsonObject> jsonLines(const Run &r) {
    QList<QJsonObject> out;
    for (const QString &line : r.lines())
        out << QJsonDocument::fromJson(line.toUtf8()).object();
    return out;
}

// The registers of sensor n's live data in the shipped map.
constexpr quint16 kTemperatureAddr = 0x0100, kStatusAddr = 0x0140, kElapsedAddr = 0x0180;

// Controllers at addresses 1, 2, 3 of the simulator, given to it in that order (the K-th
// names its values with K * 0x1000), listed in plant.ini in another order and under names
// that are not their addresses, so neither an index nor an address mix-up goes unseen.
struct Member {
    QString name;
    int address;
};
const QList<Member> kPlant{
    {QStringLiteral("Камера C"), 3}, {QStringLiteral("Cold A"), 1}, {QStringLiteral("Cold B"), 2}};
const QStringList kSimAddresses{"--address", "1", "--address", "2", "--address", "3"};

int simIndex(int address) {
    return address - 1;
}

} // namespace

class TestCliPlant : public ControllerFolderTest {
    Q_OBJECT

    // The working folder: the shipped settings and maps, the sim's port in every entry.
    void prepare() {
        QVERIFY(CopyShippedData({"start.ini", "Cfg/qor7070__fw_1_0.ini", "Cfg/qor7070__fw_1_1.ini",
                                 "Cfg/qor7070__fw_1_2.ini"}));
        MemIniFile start("start.ini");
        start.writeInteger("connect", "receive", 150);
        start.writeInteger("language", "lang", 0);
        QVERIFY(start.updateFile());
    }
    PlantConfig plantOf(const QList<Member> &members) const {
        PlantConfig plant;
        for (const Member &m : members) {
            PlantEntry e;
            e.name = m.name;
            e.port = sim.portSetting();
            e.address = m.address;
            plant.controllers.push_back(e);
        }
        return plant;
    }
    void writePlant(const PlantConfig &plant) {
        QString error;
        QVERIFY2(WritePlant(kPlantFileName, plant, error), qPrintable(error));
    }
    void startPlant(const QStringList &more = {}) {
        QVERIFY2(StartShippedSim(sim, kSimAddresses + more), qPrintable(sim.errorText()));
        prepare();
        writePlant(plantOf(kPlant));
    }

    // The store's id of each controller, by address.
    static QMap<int, int> storedControllers() {
        const Run r = cli({"history", "controllers", "--json"});
        QMap<int, int> ids;
        if (r.code == 0)
            for (const QJsonObject &o : jsonLines(r))
                ids.insert(o.value("address").toInt(), o.value("id").toInt());
        return ids;
    }
    static QList<QJsonObject> storedEvents(int controller) {
        const Run r = cli({"events", "--json", "--controller", QString::number(controller)});
        return r.code == 0 ? jsonLines(r) : QList<QJsonObject>{};
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
    // Three controllers take turns on one line: every JSON line names its controller, and
    // every value under it is the one its own register holds for that controller and that
    // sensor. Paced, a step of one controller lasts long enough for another's to be
    // tempted to start inside it.
    void watchKeepsEveryValueUnderItsController_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::newRow("unpaced") << QStringList{};
        QTest::newRow("paced 19200") << QStringList{"--pace", "--baud", "19200"};
    }
    void watchKeepsEveryValueUnderItsController() {
        QFETCH(QStringList, simArgs);
        startPlant(QStringList{"--named-values", "--sensors", "36"} + simArgs);
        if (simArgs.contains("--baud")) {
            MemIniFile start("start.ini");
            start.writeInteger("connect", "speed", 1); // 19200
            QVERIFY(start.updateFile());
        }
        const Run r = cli({"watch", "--plant", "plant.ini", "--json", "--count", "3"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QMap<QString, int> lines;
        for (const QJsonObject &line : jsonLines(r)) {
            const QString name = line.value("controller").toString();
            const auto member = std::find_if(kPlant.begin(), kPlant.end(),
                                             [&](const Member &m) { return m.name == name; });
            QVERIFY2(member != kPlant.end(), qPrintable(QJsonDocument(line).toJson()));
            ++lines[name];
            const int k = simIndex(member->address);
            const QJsonArray sensors = line.value("sensors").toArray();
            QCOMPARE(sensors.size(), 36);
            for (const QJsonValue &v : sensors) {
                const QJsonObject s = v.toObject();
                const int n = s.value("sensor").toInt();
                const QString where = name + QStringLiteral(" sensor %1").arg(n);
                QVERIFY2(s.value("temperature").toInt() ==
                             NamedValue(quint16(kTemperatureAddr + n - 1), k),
                         qPrintable(where));
                QVERIFY2(s.value("status").toInt() == NamedValue(quint16(kStatusAddr + n - 1), k),
                         qPrintable(where));
                QVERIFY2(s.value("seconds").toInt() == NamedValue(quint16(kElapsedAddr + n - 1), k),
                         qPrintable(where));
            }
        }
        for (const Member &m : kPlant)
            QVERIFY2(lines.value(m.name) >= 3, qPrintable(m.name + "\n" + r.out));
    }

    // The text form: each controller's header and rows start with its name.
    void watchTextLinesStartWithTheName() {
        startPlant();
        const Run r = cli({"watch", "--plant", "plant.ini", "--count", "2"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QMap<QString, int> headers, rows;
        for (const QString &line : r.lines()) {
            const QString name = line.section(u'\t', 0, 0);
            QVERIFY2(std::any_of(kPlant.begin(), kPlant.end(),
                                 [&](const Member &m) { return m.name == name; }),
                     qPrintable(line));
            ++(line.section(u'\t', 1, 1) == QStringLiteral("Дата") ? headers : rows)[name];
        }
        for (const Member &m : kPlant) {
            QCOMPARE(headers.value(m.name), 1);
            QVERIFY(rows.value(m.name) >= 2);
        }
    }

    // record: a trend file per controller, each holding only its own controller's
    // temperatures (sensor 1 of the controller at address a reads a * 100 + 7), in
    // Trends/ of each controller's folder or under FILE's name with the controller's.
    void recordWritesAFilePerController_data() {
        QTest::addColumn<bool>("named"); // FILE given
        QTest::newRow("controllers' folders") << false;
        QTest::newRow("FILE with the name") << true;
    }
    void recordWritesAFilePerController() {
        QFETCH(bool, named);
        startPlant({"--pace"});
        for (const Member &m : kPlant)
            for (const QString &c : {QStringLiteral("freeze"), QStringLiteral("set status 1 0"),
                                     QStringLiteral("set temp 1 %1").arg(m.address * 100 + 7)})
                QVERIFY(sim.command(m.address, c).startsWith("OK"));
        QStringList args{"record", "--plant",  "plant.ini", "--count",
                         "2",      "--period", "1",         "--no-history"};
        if (named)
            args << "night.txt";
        const Run r = cli(args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QMap<QString, int> files; // file: the sensor-1 value of all its rows
        QDirIterator it(".", {"*.txt"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (named != QFileInfo(path).fileName().startsWith("night-"))
                continue;
            if (!named)
                QCOMPARE(QFileInfo(path).dir().dirName(), QStringLiteral("Trends"));
            QString why;
            const auto columns = ReadTrendColumns(path, &why);
            QVERIFY2(columns, qPrintable(path + ": " + why));
            QCOMPARE(columns->rowCount(), 2);
            const qsizetype c = columns->sensors.indexOf(1);
            QVERIFY(c >= 0);
            const float v = columns->values[size_t(c)][0];
            QCOMPARE(columns->values[size_t(c)][1], v);
            files.insert(path, int(v));
        }
        QCOMPARE(files.size(), kPlant.size());
        for (const Member &m : kPlant) {
            const int value = m.address * 100 + 7;
            QCOMPARE(files.values().count(value), 1);
            if (named)
                QCOMPARE(files.value("./night-" + m.name + ".txt"), value);
        }
    }

    // A signal ends a plant's watch at once, whatever step runs: 0 without --count, 8 with
    // a count not reached (and what each controller gave).
    void watchEndsOnASignal_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QStringList>("more");
        QTest::addColumn<int>("exit");
        QTest::newRow("SIGTERM") << int(SIGTERM) << QStringList{} << 0;
        QTest::newRow("SIGINT, --count") << int(SIGINT) << QStringList{"--count", "100000"} << 8;
    }
    void watchEndsOnASignal() {
        QFETCH(int, signal);
        QFETCH(QStringList, more);
        QFETCH(int, exit);
        startPlant({"--pace"});
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH),
                QStringList{"watch", "--plant", "plant.ini", "--json", "--no-history"} + more);
        QVERIFY(p.waitForStarted(10000));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).count('\n') >= 6, 30000);
        QCOMPARE(::kill(pid_t(p.processId()), signal), 0);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exit);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(err.contains(text(Msg::n356)), exit == 8);
        if (exit == 8)
            for (const Member &m : kPlant)
                QVERIFY2(err.contains(m.name + " "), qPrintable(err));
    }

    // One result per controller: the others answer while one is silent or is no QOR7070,
    // its entry says which and why, and the exit code tells the script something failed.
    void identifyTellsEachController_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("offline"); // address switched off; 0: none
        QTest::addColumn<int>("failing"); // address of the one that fails; 0: none
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("noPort"); // the failing one on a port of its own that is not there
        QTest::newRow("all answer") << QStringList{} << 0 << 0 << 0 << QString() << false;
        QTest::newRow("one switched off") << QStringList{} << 2 << 2 << 4 << "no-answer" << false;
        QTest::newRow("one switched off, paced")
            << QStringList{"--pace"} << 3 << 3 << 4 << "no-answer" << false;
        QTest::newRow("one no QOR7070") << QStringList{"--device-code", "3126,3126,1234"} << 0 << 3
                                        << 5 << "not-qor7070" << false;
        QTest::newRow("one on a port not there")
            << QStringList{} << 0 << 1 << 3 << "port-unusable" << true;
    }
    void identifyTellsEachController() {
        QFETCH(QStringList, simArgs);
        QFETCH(int, offline);
        QFETCH(int, failing);
        QFETCH(int, exit);
        QFETCH(QString, error);
        QFETCH(bool, noPort);
        startPlant(simArgs);
        if (noPort) {
            PlantConfig plant = plantOf(kPlant);
            for (PlantEntry &e : plant.controllers)
                if (e.address == failing)
                    e.port = QDir::current().absoluteFilePath("no-such-port");
            writePlant(plant);
        }
        if (offline)
            QVERIFY(sim.command(offline, "offline").startsWith("OK"));
        const Run r = cli({"identify", "--plant", "plant.ini", "--json"});
        QVERIFY2(r.code == exit, qPrintable(r.err));
        const QList<QJsonObject> got = jsonLines(r);
        QCOMPARE(got.size(), kPlant.size());
        for (qsizetype i = 0; i < kPlant.size(); ++i) { // in plant.ini's order
            const QJsonObject &o = got[i];
            const Member &m = kPlant[i];
            QCOMPARE(o.value("controller").toString(), m.name);
            const bool fails = m.address == failing;
            QCOMPARE(o.value("supported").toBool(), !fails);
            if (!fails) {
                QCOMPARE(o.value("device").toInt(), 3126);
                QCOMPARE(o.value("firmware").toString(), QStringLiteral("1.2"));
                QVERIFY(!o.contains("error"));
                continue;
            }
            QCOMPARE(o.value("error").toString(), error);
            QCOMPARE(o.value("exit").toInt(), exit);
            QVERIFY(!o.value("message").toString().isEmpty());
            QVERIFY2(r.err.contains(text(Msg::n699) + m.name), qPrintable(r.err));
        }
        // The text form tells the same, each line with its controller's name.
        const Run t = cli({"identify", "--plant", "plant.ini"});
        QCOMPARE(t.code, exit);
        for (const Member &m : kPlant)
            QCOMPARE(t.out.count(m.name + QStringLiteral(": firmware: ")),
                     m.address == failing && (offline || noPort) ? 0 : 1);
    }

    // serve --plant: one store, each controller's events under its own id, the alarms on
    // stderr with the controller's name; SIGTERM ends it with 0 and everything written.
    void serveKeepsEveryControllerInOneStore() {
        startPlant({"--pace"});
        MemIniFile start("start.ini");
        start.writeInteger("plant", "retry", 1000); // a lost controller back soon
        QVERIFY(start.updateFile());
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"serve", "--plant", "plant.ini"});
        QVERIFY(p.waitForStarted(10000));
        QByteArray err;
        const auto errText = [&] { return QString::fromUtf8(err += p.readAllStandardError()); };
        QTRY_VERIFY2_WITH_TIMEOUT(storedControllers().size() == 3, qPrintable(errText()), 60000);
        const QMap<int, int> ids = storedControllers();
        QVERIFY(sim.command(1, "set status 3 10").startsWith("OK"));
        QVERIFY(sim.command(2, "set status 5 20").startsWith("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(ids[1]), "sensor-status", 3, 10), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(ids[2]), "sensor-status", 5, 20), 30000);
        // Neither change shows under the other controller, nor under the third.
        QVERIFY(!hasEvent(storedEvents(ids[1]), "sensor-status", 5, 20));
        QVERIFY(!hasEvent(storedEvents(ids[2]), "sensor-status", 3, 10));
        QVERIFY(!hasEvent(storedEvents(ids[3]), "sensor-status", 3, 10));
        QVERIFY(!hasEvent(storedEvents(ids[3]), "sensor-status", 5, 20));
        // Each change told as an alarm under its own controller's name, and no other.
        const QString alarm = text(Msg::n625);
        const auto textOf = [](const QList<QJsonObject> &events, int sensor, int code) {
            for (const QJsonObject &e : events)
                if (e.value("subject").toInt() == sensor && e.value("code").toInt() == code)
                    return e.value("text").toString();
            return QString();
        };
        const QString a = textOf(storedEvents(ids[1]), 3, 10),
                      b = textOf(storedEvents(ids[2]), 5, 20);
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        QTRY_VERIFY2_WITH_TIMEOUT(errText().contains("Cold A: " + alarm + a) &&
                                      errText().contains("Cold B: " + alarm + b),
                                  qPrintable(errText()), 30000);
        for (const QString &line : errText().split(u'\n'))
            if (line.endsWith(alarm + a) || line.endsWith(alarm + b))
                QVERIFY2(
                    line.contains((line.endsWith(alarm + a) ? "Cold A: " : "Cold B: ") + alarm),
                    qPrintable(line));
        // One controller falls silent and comes back: its loss and its return are told
        // under its name, once each, while the others stay up.
        const QString lost = kPlant[0].name + ": " + text(Msg::n632);
        const QString up = kPlant[0].name + ": " + text(Msg::n101);
        QVERIFY(sim.command(3, "offline").startsWith("OK"));
        QTRY_VERIFY2_WITH_TIMEOUT(errText().contains(lost), qPrintable(errText()), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(storedEvents(ids[3]), "link-lost"), 30000);
        QVERIFY(sim.command(3, "online").startsWith("OK"));
        QTRY_VERIFY2_WITH_TIMEOUT(errText().count(up) == 2, qPrintable(errText()), 30000);
        QCOMPARE(errText().count(lost), 1);
        QCOMPARE(errText().count(text(Msg::n632)), 1);
        QVERIFY(!hasEvent(storedEvents(ids[1]), "link-lost"));
        QVERIFY(!hasEvent(storedEvents(ids[2]), "link-lost"));
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(errText().trimmed().endsWith(text(Msg::n629)), qPrintable(errText()));
        const QList<QJsonObject> all = jsonLines(cli({"events", "--json"}));
        QVERIFY(!all.isEmpty());
        QCOMPARE(all.last().value("kind").toString(), QStringLiteral("program-stopped"));
        for (int address : {1, 2, 3})
            QVERIFY2(hasEvent(storedEvents(ids[address]), "identified"),
                     qPrintable(QString::number(address)));
    }

    // The plant's folder is the working folder wherever the tool is started: a folder
    // holding only plant.ini (a service's) gets the shipped files, the controllers' folders
    // and the history there, and the folder the tool started in stays as it was.
    void plantFolderIsTheWorkingFolder() {
        QVERIFY2(StartShippedSim(sim, kSimAddresses), qPrintable(sim.errorText()));
        QVERIFY(QDir().mkdir("site"));
        {
            PlantConfig plant = plantOf(kPlant);
            QString error;
            QVERIFY2(WritePlant("site/plant.ini", plant, error), qPrintable(error));
        }
        const QStringList before = QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"serve", "--plant", "site/plant.ini"});
        QVERIFY(p.waitForStarted(10000));
        // Not before serve has made the folder its own: two runs seeding one new folder at
        // once are another matter.
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += p.readAllStandardError()).contains(text(Msg::n628).toUtf8()), 30000);
        const auto stored = [] {
            return cli({"history", "controllers", "--workdir", "site"}).lines().size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(stored() == kPlant.size(), 60000);
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        for (const QString made :
             {"site/start.ini", "site/Cfg/qor7070__fw_1_2.ini", "site/history.sqlite"})
            QVERIFY2(QFileInfo::exists(made), qPrintable(made));
        for (const Member &m : kPlant)
            QVERIFY2(QFileInfo(PlantControllerFolder("site", m.name)).isDir(), qPrintable(m.name));
    }

    // A plant.ini that is refused: its message, exit code 6, nothing sent to any
    // controller and nothing made in the folder.
    void badPlantIsRefused_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("no file") << "none";
        QTest::newRow("no controller") << "empty";
        QTest::newRow("duplicate address on one port") << "duplicate";
        QTest::newRow("address 0") << "address0";
        QTest::newRow("address 248") << "address248";
        QTest::newRow("no port") << "port";
        QTest::newRow("unusable port") << "relative";
        QTest::newRow("two speeds on one port") << "speeds";
        QTest::newRow("duplicate name") << "name";
        QTest::newRow("address not a number") << "word";
    }
    void badPlantIsRefused() {
        QFETCH(QString, fault);
        QVERIFY2(StartShippedSim(sim, kSimAddresses), qPrintable(sim.errorText()));
        prepare();
        PlantConfig plant = plantOf(kPlant);
        std::vector<PlantEntry> &c = plant.controllers;
        if (fault == "duplicate")
            c[1].address = c[0].address;
        else if (fault == "address0")
            c[1].address = 0;
        else if (fault == "address248")
            c[2].address = 248;
        else if (fault == "port")
            c[0].port.clear();
        else if (fault == "relative")
            c[1].port = QStringLiteral("ttyUSB0");
        else if (fault == "speeds") {
            c[0].speed = 0;
            c[2].speed = 4;
        } else if (fault == "name")
            c[2].name = c[1].name;
        else if (fault == "empty")
            c.clear();
        if (fault != "none")
            writePlant(plant);
        if (fault == "word") {
            QFile f(kPlantFileName);
            QVERIFY(f.open(QIODevice::Append));
            f.write("\r\n[Cold D]\r\nport=" + sim.portSetting().toUtf8() + "\r\nadr=x1\r\n");
        }
        QString expected;
        if (fault == "empty") {
            expected = text(Msg::n701);
        } else { // the message of the plant's own check
            PlantConfig read;
            QString error;
            QVERIFY(!ReadPlant(QDir::current().absoluteFilePath(kPlantFileName),
                               MemIniFile("start.ini"), QDir::currentPath(), read, error));
            QVERIFY(!error.isEmpty());
            expected = error;
        }
        const QStringList before = QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        for (const QString command : {"identify", "watch", "serve"}) {
            const Run r = cli({command, "--plant", "plant.ini"});
            QVERIFY2(r.code == 6, qPrintable(command + (": " + r.err)));
            QVERIFY2(r.err.contains(text(Msg::n696)) && r.err.contains(expected),
                     qPrintable(r.err));
        }
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QVERIFY2(sim.logEntries("RX").isEmpty(), qPrintable(sim.logEntries("RX").join('\n')));
    }

    // Options that make no sense with a plant are usage faults, told before anything.
    void plantOptionsOutOfPlace_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("told");
        QTest::newRow("--port") << QStringList{"watch", "--plant", "plant.ini", "--port", "COM3"}
                                << text(Msg::n697) + "--port";
        QTest::newRow("--address")
            << QStringList{"identify", "--plant", "plant.ini", "--address", "5"}
            << text(Msg::n697) + "--address";
        QTest::newRow("get") << QStringList{"get", "sensor.1.threshold1", "--plant", "plant.ini"}
                             << text(Msg::n351) + "--plant";
        QTest::newRow("no file") << QStringList{"watch", "--plant="} << QString("--plant");
    }
    void plantOptionsOutOfPlace() {
        QFETCH(QStringList, args);
        QFETCH(QString, told);
        QVERIFY2(StartShippedSim(sim, kSimAddresses), qPrintable(sim.errorText()));
        prepare();
        writePlant(plantOf(kPlant));
        const Run r = cli(args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(told), qPrintable(r.err));
        QVERIFY(sim.logEntries("RX").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliPlant)
#include "tst_cli_plant.moc"
