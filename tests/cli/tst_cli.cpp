// velmaris-cli run as a process against qor7070-sim on a pty: what each subcommand prints
// and writes, its exit code when something is wrong, and the frames of write-profile
// compared with the window's write-back for the same change.
#include "CliTexts.h"
#include "ControllerFolder.h"
#include "Cp1251.h"
#include "ExpectedFrames.h"
#include "LookupText.h"
#include "MainState.h"
#include "PollCycle.h"
#include "ProfileFile.h"
#include "QorThread.h"
#include "RecorderView.h"
#include "RunningEngine.h"
#include "SettingsValidation.h"
#include "TrendRecorder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <signal.h>
#include <sys/types.h>

namespace {

using namespace ExpectedFrames;

QString text(const TextKey &k) {
    return QString::fromUtf16(k.russian);
}

struct Run {
    int code = -1;
    QString out, err;
    QStringList lines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

Run cli(const QStringList &args, int timeoutMs = 60000,
        const QProcessEnvironment &env = QProcessEnvironment()) {
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
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

// Sets a profile value and writes the file back.
void setProfile(const QString &path, const QString &section, const QString &key,
                const QString &value) {
    MemIniFile p(path);
    p.writeString(section, key, value);
    QVERIFY(p.updateFile());
}

// Register of the shipped map of firmware 1.2.
constexpr quint16 sensorBlock(int n) {
    return quint16(0x1000 + (n - 1) * 0x10);
}
constexpr quint16 tagBlock(int n) {
    return quint16(0x2000 + (n - 1) * 8);
}

// The header of sensor-table column c (and relay-table column c) in the shipped Russian texts.
QString sensorColumn(int c) {
    return MemIniFile("start.ini").readString("lang0", QString("n%1").arg(25 + c), {});
}
QString relayColumn(int c) {
    return MemIniFile("start.ini").readString("lang0", QString("n%1").arg(34 + c), {});
}

// The engine as the window runs it (poll thread, GUI-thread steps), for the window's side.
using Engine = RunningEngine;

} // namespace

class TestCli : public ControllerFolderTest {
    Q_OBJECT

    // The shipped texts, maps and a start.ini that names the simulator's pty.
    void prepare(int lang = 0) {
        QVERIFY(CopyShippedData({"start.ini", "Cfg/qor7070__fw_1_0.ini", "Cfg/qor7070__fw_1_1.ini",
                                 "Cfg/qor7070__fw_1_2.ini"}));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.portSetting());
        start.writeInteger("connect", "receive", 150);
        start.writeInteger("language", "lang", lang);
        QVERIFY(start.updateFile());
    }

    void startSim(const QStringList &more = {}) {
        QVERIFY2(StartShippedSim(sim, QStringList{"--sensors", "12"} + more),
                 qPrintable(sim.errorText()));
        prepare();
    }

    // The tool started in a folder that is no working folder, with HOME at home.
    static void startElsewhere(QProcess &p, const QTemporaryDir &home, const QStringList &args) {
        QVERIFY(QDir().mkpath("elsewhere"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.remove("XDG_DATA_HOME");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QDir::current().filePath("elsewhere"));
        p.start(QStringLiteral(VELMARIS_CLI_PATH), args);
    }

private slots:
    void helpAndVersion() {
        const Run v = cli({"--version"});
        QCOMPARE(v.code, 0);
        QCOMPARE(v.out.trimmed(), QStringLiteral("velmaris-cli 150.724"));
        const Run h = cli({"--help"});
        QCOMPARE(h.code, 0);
        for (const char *command : {"identify", "watch", "read-profile", "write-profile", "record"})
            QVERIFY2(h.out.contains(command), command);
    }

    // Both programs answer --help in the language of the start.ini the run would use.
    void helpFollowsTheProgramsLanguage_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("lang");
        QTest::addColumn<QString>("start");
        for (const char *program : {VELMARIS_APP_PATH, VELMARIS_CLI_PATH}) {
            const QString name = QFileInfo(program).fileName();
            QTest::newRow(qPrintable(name + " Russian")) << program << 0 << "Использование: ";
            QTest::newRow(qPrintable(name + " English")) << program << 1 << "Usage: ";
        }
    }
    void helpFollowsTheProgramsLanguage() {
        QFETCH(QString, program);
        QFETCH(int, lang);
        QFETCH(QString, start);
        QVERIFY(CopyShippedData({"start.ini"}));
        setProfile("start.ini", "language", "lang", QString::number(lang));
        QProcess p;
        p.start(program, {"--help"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.startsWith(start + QFileInfo(program).fileName()), qPrintable(out));
    }

    void identifyAsTextAndJson() {
        startSim({"--hw", "0x0103"});
        const Run t = cli({"identify"});
        QCOMPARE(t.code, 0);
        QCOMPARE(t.lines(), (QStringList{"device: 3126", "firmware: 1.2", "hardware: 1.3"}));
        const Run j = cli({"identify", "--json"});
        QCOMPARE(j.code, 0);
        const QJsonObject o = QJsonDocument::fromJson(j.out.toUtf8()).object();
        QCOMPARE(o.value("device").toInt(), 3126);
        QCOMPARE(o.value("firmware").toString(), QStringLiteral("1.2"));
        QCOMPARE(o.value("hardware").toString(), QStringLiteral("1.3"));
        QCOMPARE(o.value("supported").toBool(), true);
        QVERIFY(t.err.isEmpty());
    }

    // The line from options alone, in another folder named by --workdir that has no
    // start.ini: the Cfg folder is found under it.
    void lineFromOptionsAndWorkdir() {
        QVERIFY2(StartShippedSim(sim, {"--address", "17", "--baud", "19200"}),
                 qPrintable(sim.errorText()));
        QVERIFY(CopyShippedData({"Cfg/qor7070__fw_1_2.ini"}, "controller"));
        const Run r =
            cli({"identify", "--workdir", "controller", "--port", sim.ptyPath(), "--address", "17",
                 "--baud", "19200", "--parity", "none", "--stopbits", "1"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("firmware: 1.2"));
        QVERIFY(sim.logEntries("RX").first().startsWith("11 03 04 00"));
    }

    // Started outside any working folder: the user's folder is seeded and used (the
    // shipped map identifies the controller), and FILE stays where the tool was started.
    void outsideAWorkingFolderTheUsersFolderIsUsed() {
        QVERIFY2(StartShippedSim(sim, {}), qPrintable(sim.errorText()));
        QTemporaryDir home;
        QProcess p;
        startElsewhere(p, home, {"read-profile", "p.txt", "--port", sim.ptyPath()});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFileInfo::exists("elsewhere/p.txt"));
        const QString user = home.filePath(".local/share/Velmaris/");
        QVERIFY(QFileInfo::exists(user + "start.ini"));
        QVERIFY(QFileInfo::exists(user + "Cfg/qor7070__fw_1_2.ini"));
        QVERIFY(!QFileInfo::exists(user + "p.txt"));
    }

    void failuresHaveTheirExitCodes_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("no port") << QStringList{}
                                 << QStringList{"identify", "--port", "/nonexistent/tty"} << 3
                                 << text(Msg::n87);
        QTest::newRow("no answer")
            << QStringList{} << QStringList{"identify", "--address", "5"} << 4 << text(Msg::n89);
        QTest::newRow("wrong device") << QStringList{"--device-code", "1234"}
                                      << QStringList{"identify"} << 5 << text(Msg::n103);
        QTest::newRow("no map for the firmware")
            << QStringList{"--fw", "0x0103"} << QStringList{"watch"} << 5
            << QStringLiteral("Не найден файл конфигурации");
        QTest::newRow("unknown command")
            << QStringList{} << QStringList{"flash"} << 2 << QStringLiteral("flash");
        QTest::newRow("bad baud") << QStringList{} << QStringList{"identify", "--baud", "1234"} << 2
                                  << QStringLiteral("1234");
        QTest::newRow("bad timeout") << QStringList{} << QStringList{"identify", "--timeout", "0"}
                                     << 2 << QStringLiteral("--timeout: 0");
        QTest::newRow("bad retries") << QStringList{} << QStringList{"watch", "--retries", "11"}
                                     << 2 << QStringLiteral("--retries: 11");
        QTest::newRow("no file") << QStringList{} << QStringList{"read-profile"} << 2
                                 << QStringLiteral("read-profile");
        QTest::newRow("missing ini")
            << QStringList{} << QStringList{"identify", "--ini", "none.ini"} << 6
            << QStringLiteral("none.ini");
        QTest::newRow("missing profile")
            << QStringList{} << QStringList{"write-profile", "none.txt"} << 6 << text(Msg::n72);
        QTest::newRow("trend file in no folder")
            << QStringList{} << QStringList{"record", "no/such/folder/t.txt", "--count", "1"} << 6
            << QStringLiteral("no/such/folder");
        // Options nobody knows, and options of other subcommands, are refused whole.
        const QString unknown = QStringLiteral("Неизвестный параметр: ");
        QTest::newRow("unknown option") << QStringList{} << QStringList{"identify", "--bogus"} << 2
                                        << unknown + "--bogus";
        QTest::newRow("unknown option with a value")
            << QStringList{} << QStringList{"identify", "--bogus=3"} << 2 << unknown + "--bogus";
        QTest::newRow("unknown option before a value option")
            << QStringList{} << QStringList{"identify", "--bogus", "--json"} << 2
            << unknown + "--bogus";
        QTest::newRow("unknown short option")
            << QStringList{} << QStringList{"identify", "-x"} << 2 << unknown + "-x";
        const QString notHere = text(Msg::n351);
        QTest::newRow("count to identify")
            << QStringList{} << QStringList{"identify", "--count", "3", "--dry-run"} << 2
            << notHere + "--count (identify)";
        QTest::newRow("dry-run to identify")
            << QStringList{} << QStringList{"--dry-run", "identify"} << 2
            << notHere + "--dry-run (identify)";
        QTest::newRow("period to watch") << QStringList{} << QStringList{"watch", "--period", "5"}
                                         << 2 << notHere + "--period (watch)";
        QTest::newRow("ids to write-profile")
            << QStringList{} << QStringList{"write-profile", "p.txt", "--ids"} << 2
            << notHere + "--ids (write-profile)";
        QTest::newRow("json to record") << QStringList{} << QStringList{"record", "t.txt", "--json"}
                                        << 2 << notHere + "--json (record)";
        QTest::newRow("no-connect to read-profile")
            << QStringList{} << QStringList{"read-profile", "p.txt", "--no-connect"} << 2
            << notHere + "--no-connect (read-profile)";
    }
    void failuresHaveTheirExitCodes() {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        startSim(simArgs);
        const Run r = cli(args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(r.out.isEmpty() || code == 5);
        QCOMPARE(writes(sim), QStringList());
    }

    // --timeout and --retries hold for the run: the receive time-out and the attempts per
    // request; the settings file keeps its own (receive 150 ms, three attempts).
    void timeoutAndRetriesHoldForTheRun() {
        startSim({"--fault", "noanswer"});
        const QByteArray settings = [] {
            QFile f("start.ini");
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        const auto requests = [&] { return sim.logEntries("RX").size(); };
        QCOMPARE(cli({"identify", "--retries", "1"}).code, 4);
        QCOMPARE(requests(), 1);
        QCOMPARE(cli({"identify", "--retries", "2"}).code, 4);
        QCOMPARE(requests(), 3);
        // Every answer 400 ms late: in time only with the longer wait, at the first attempt.
        QCOMPARE(sim.command("faults off"), QStringLiteral("OK"));
        QVERIFY(sim.command("fault late ms=400").startsWith("OK"));
        const Run waited = cli({"identify", "--timeout", "3000", "--retries", "1"});
        QCOMPARE(waited.code, 0);
        QCOMPARE(waited.lines().value(0), QStringLiteral("device: 3126"));
        QFile f("start.ini");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), settings);
    }

    // Messages come in the language the window would use.
    void messagesInTheProgramsLanguage() {
        QVERIFY2(StartShippedSim(sim), qPrintable(sim.errorText()));
        prepare(1);
        const Run r = cli({"identify", "--port", "/nonexistent/tty"});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.startsWith("Error opening the port"), qPrintable(r.err));
        const Run u = cli({"identify", "--count", "x"});
        QCOMPARE(u.code, 2);
        QVERIFY2(u.err.startsWith("Bad value of option --count"), qPrintable(u.err));
    }

    void watchPrintsTrendColumnsOrJsonLines() {
        startSim();
        const Run t = cli({"watch", "--count", "3"});
        QCOMPARE(t.code, 0);
        const QStringList lines = t.lines();
        QCOMPARE(lines.size(), 4);
        QStringList header{"Дата", "Время"};
        for (int n = 1; n <= 12; ++n)
            header << QString("Канал %1").arg(n);
        for (int k = 1; k <= 4; ++k)
            header << QString("Реле %1").arg(k);
        QCOMPARE(lines[0].split(u'\t'), header);
        // Sensors 10, 11 and 12 report statuses 10, 20 and 30.
        const QStringList row = lines[3].split(u'\t');
        QCOMPARE(row.size(), header.size());
        QVERIFY(QDate::fromString(row[0], "dd.MM.yy").isValid());
        QCOMPARE(row.mid(11, 3), (QStringList{"НЕТ ПИТАНИЯ", "НЕИСПРАВЕН!!", "НЕОПРЕДЕЛЕН"}));
        bool number = false;
        row[2].toUInt(&number);
        QVERIFY(number);

        const Run j = cli({"watch", "--json", "--count", "2"});
        QCOMPARE(j.code, 0);
        QCOMPARE(j.lines().size(), 2);
        const QJsonObject o = QJsonDocument::fromJson(j.lines()[1].toUtf8()).object();
        const QJsonArray sensors = o.value("sensors").toArray();
        QCOMPARE(sensors.size(), 12);
        QCOMPARE(sensors[9].toObject().value("status").toInt(), 10);
        QCOMPARE(sensors[9].toObject().value("state").toString(), text(Msg::n107));
        QCOMPARE(sensors[0].toObject().value("sensor").toInt(), 1);
        QVERIFY(sensors[0].toObject().contains("tag"));
        QCOMPARE(o.value("relays").toArray().size(), 4);
        QCOMPARE(writes(sim), QStringList());
    }

    // Watching goes on until it is told to stop; SIGTERM and SIGINT end it cleanly, in the
    // middle of a transaction on a paced line.
    void watchEndsOnSignals_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void watchEndsOnSignals() {
        QFETCH(int, signal);
        startSim({"--pace"});
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"watch", "--json"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).count('\n') >= 2, 10000);
        QCOMPARE(::kill(pid_t(p.processId()), signal), 0);
        QVERIFY(p.waitForFinished(3000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        out += p.readAllStandardOutput();
        // Every line printed is whole.
        for (const QByteArray &line : out.split('\n'))
            QVERIFY(line.isEmpty() || QJsonDocument::fromJson(line).isObject());
    }

    // A controller that falls silent for a while: watching reports the loss and the return
    // and goes on, as the window does.
    void watchRidesOutALostLink() {
        startSim({"--pace"});
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"watch", "--count", "20"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).count('\n') >= 3, 10000);
        QVERIFY(sim.command("offline 1500").startsWith("OK"));
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        out += p.readAllStandardOutput();
        QCOMPARE(out.count('\n'), 21);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains(text(Msg::n89)) && err.endsWith(text(Msg::n101) + "\n"),
                 qPrintable(err));
    }

    // With --named-values every settings register reads as its own address: each value of
    // the profile shows the register it came from.
    void readProfileTakesEveryRegisterFromItsPlace() {
        startSim({"--named-values"});
        const Run r = cli({"read-profile", "p.txt", "--ids"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        const MemIniFile p("p.txt");
        QCOMPARE(p.readString("hardware", "fw", {}), QStringLiteral("1.2"));
        QCOMPARE(p.readString("hardware", "hw", {}), QStringLiteral("1.0"));
        for (int n : {1, 3, 36}) {
            const QString section = QString("Датчик %1").arg(n);
            for (int c = 2; c < 7; ++c)
                QCOMPARE(p.readString(section, sensorColumn(c), {}),
                         QString::number(sensorBlock(n) + c));
            const int id = sensorBlock(n) * 256 + ((sensorBlock(n) + 1) & 0xFFFF);
            QCOMPARE(p.readString(section, sensorColumn(1), {}),
                     QString::asprintf("%03d %03d", id / 1000, id % 1000));
        }
        // Sensor 1's tag word 0x2000 holds the bytes 0x20 0x00: a blank, then the end.
        QCOMPARE(p.readString("tags", "Датчик 1", {}), QStringLiteral(" "));
        for (int relay = 1; relay <= 4; ++relay)
            for (int c = 1; c <= 4; ++c)
                QCOMPARE(p.readString(QString("Реле %1").arg(relay), relayColumn(c), {}),
                         QString::number(0x0200 + (relay - 1) * 16 + c - 1));
        QCOMPARE(p.readString("connect", "address", {}), QString::number(0x0500));
        QCOMPARE(writes(sim), QStringList());

        // Sensor 2's tag words 0x2008.. hold control bytes, 0x0A among them: the profile
        // has blanks there, so it reads back whole, and writing it back changes only tags.
        QFile f("p.txt");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(std::none_of(bytes.begin(), bytes.end(),
                             [](char b) { return quint8(b) < 0x20 && b != '\r' && b != '\n'; }));
        QCOMPARE(p.readString("tags", "Датчик 2", {}).size(), 16);
        const Run back = cli({"write-profile", "p.txt", "--dry-run", "--no-connect"});
        QCOMPARE(back.code, 0);
        // Sensors 2-4 and 34-36 (bytes 0x08..0x1F) and 16 (0x7F).
        QCOMPARE(back.lines().size(), 7);
        for (const QString &frame : back.lines())
            QVERIFY2(frame.startsWith("64 10 20") || frame.startsWith("64 10 21"),
                     qPrintable(frame));
    }

    void readProfileRefusesAFileItCannotWrite() {
        startSim();
        QVERIFY(QDir().mkdir("p.txt")); // a folder where the file should go
        const Run r = cli({"read-profile", "p.txt"});
        QCOMPARE(r.code, 6);
        QVERIFY(QFileInfo("p.txt").isDir());
    }

    // The same change written by the window's engine into one simulator and by
    // write-profile into another gives the same frames; --dry-run printed them first and
    // sent nothing.
    void writeProfileSendsWhatTheWindowSends() {
        startSim();
        QCOMPARE(cli({"read-profile", "base.txt", "--ids"}).code, 0);
        QVERIFY(QFile::copy("base.txt", "change.txt"));
        setProfile("change.txt", "Датчик 3", sensorColumn(2), "55");
        setProfile("change.txt", "tags", "Датчик 7", "Печь 7");
        setProfile("change.txt", "Реле 2", relayColumn(3), "17");
        setProfile("change.txt", "connect", "channel", "9");
        QList<quint16> sensor3 = numbers(sim.command(QString("get %1 7").arg(sensorBlock(3))));
        sensor3[2] = 55;
        const QList<quint16> tag7{0xCFE5, 0xF7FC, 0x2037, 0, 0, 0, 0, 0}; // "Печь 7", zero-ended
        QList<quint16> connect = numbers(sim.command("get 0x0500 6"));
        connect[4] = 9;
        const QStringList expected{
            writeMultiple(100, sensorBlock(3), sensor3), writeMultiple(100, tagBlock(7), tag7),
            writeSingle(100, 0x0212, 17), writeMultiple(100, 0x0500, connect)};

        const Run dry = cli({"write-profile", "change.txt", "--dry-run"});
        QCOMPARE(dry.code, 0);
        QCOMPARE(dry.lines(), expected);
        QCOMPARE(writes(sim), QStringList());

        const Run real = cli({"write-profile", "change.txt"});
        QCOMPARE(real.code, 0);
        QCOMPARE(writes(sim), expected);
        QVERIFY(real.err.contains(text(Msg::n111)) && real.err.contains(text(Msg::n115)));
        QVERIFY(real.err.contains("4/4"));
        QCOMPARE(numbers(sim.command(QString("get %1 7").arg(sensorBlock(3)))), sensor3);
        // Written again, the controller holds it all: nothing is sent.
        const qsizetype before = writes(sim).size();
        QCOMPARE(cli({"write-profile", "change.txt"}).code, 0);
        QCOMPARE(writes(sim).size(), before);

        // The window: a fresh controller, its tables read, the profile loaded into the user
        // tables and written with the window's checks and requests.
        sim.stop();
        QVERIFY2(StartShippedSim(sim, {"--sensors", "12"}), qPrintable(sim.errorText()));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.ptyPath());
        QVERIFY(start.updateFile());
        Engine e;
        MainState &s = e.state;
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);
        s.RelaySettingsShown();
        QTRY_VERIFY_WITH_TIMEOUT(!s.relaySettings.cell(1, 3).isEmpty(), 5000);
        s.SensorSettingsShown();
        QTRY_VERIFY_WITH_TIMEOUT(s.sensorSettingsCopyEnabled, 20000);
        s.ProfilesShown();
        ConnectUserValues values;
        const ProfileContext context{
            s.settingsIni, s.deviceIni, s.registerMap.MAX_SENSORS,
            [](const QString &c, const QString &t) { qWarning() << c << t; }};
        QVERIFY(LoadProfileFile(
            "change.txt", {s.sensorSettingsUser, s.tagUser, s.relaySettingsUser, values}, context));
        QVERIFY(ValidateSensorSettings(s.sensorSettingsUser, s.sensorSettings, s.deviceIni,
                                       s.settingsIni, s.registerMap.MAX_SENSORS, context.show));
        QVERIFY(ValidateRelaySettings(s.relaySettingsUser, s.relaySettings, s.deviceIni,
                                      s.settingsIni, context.show));
        QVERIFY(ValidateConnectSettings(values, s.settingsIni, context.show));
        s.connectUser = values;
        s.writeSensorSettingsRequested = s.writeRelaySettingsRequested =
            s.writeConnectSettingsRequested = true;
        QTRY_COMPARE_WITH_TIMEOUT(e.view.progress.count(RecorderView::kHidden), 3, 20000);
        QVERIFY(s.lastWriteSucceeded);
        QCOMPARE(writes(sim), expected);
    }

    // A new address in the profile: the controller moves and the run follows it to read
    // the block back. The settings file follows too, as the window's does, unless the line
    // was given on the command line.
    void connectionWriteFollowsTheController() {
        startSim();
        QCOMPARE(cli({"read-profile", "p.txt"}).code, 0);
        setProfile("p.txt", "connect", "address", "17");
        QFile ini("start.ini");
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray before = ini.readAll();
        ini.close();
        const Run withOptions =
            cli({"write-profile", "p.txt", "--port", sim.ptyPath(), "--address", "100"});
        QCOMPARE(withOptions.code, 0);
        QVERIFY(sim.command("line").startsWith("OK address=17 "));
        QVERIFY(sim.logEntries("RX").last().startsWith("11 03 05 00 00 06"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(ini.readAll(), before);
        ini.close();

        setProfile("p.txt", "connect", "address", "33");
        const Run fromFile = cli({"write-profile", "p.txt", "--address", "17"});
        QCOMPARE(fromFile.code, 0);
        QVERIFY(sim.command("line").startsWith("OK address=33 "));
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "adr", 0), 100);
        setProfile("start.ini", "connect", "adr", "33");
        setProfile("p.txt", "connect", "address", "34");
        QCOMPARE(cli({"write-profile", "p.txt"}).code, 0);
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "adr", 0), 34);
        QCOMPARE(cli({"identify"}).code, 0);
    }

    // A profile saved without IDs keeps each controller's own sensor IDs.
    void profileWithoutIdsKeepsTheControllersIds() {
        startSim();
        QCOMPARE(cli({"read-profile", "p.txt"}).code, 0);
        QVERIFY(!MemIniFile("p.txt").valueExists("Датчик 5", sensorColumn(1)));
        setProfile("p.txt", "Датчик 5", sensorColumn(3), "21");
        QList<quint16> sensor5 = numbers(sim.command(QString("get %1 7").arg(sensorBlock(5))));
        sensor5[3] = 21;
        const Run r = cli({"write-profile", "p.txt", "--no-connect"});
        QCOMPARE(r.code, 0);
        QCOMPARE(writes(sim), QStringList{writeMultiple(100, sensorBlock(5), sensor5)});
    }

    // Refused profiles send nothing: another firmware, a value beyond the limits.
    void refusedProfilesSendNothing_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("firmware") << "hardware"
                                  << "fw"
                                  << "1.1" << text(Msg::n125);
        QTest::newRow("beyond limits") << "Датчик 2"
                                       << ""
                                       << "99999" << text(Msg::n83);
        QTest::newRow("no number") << "Реле 1"
                                   << ""
                                   << "x" << text(Msg::n84).trimmed();
        QTest::newRow("address") << "connect"
                                 << "address"
                                 << "0" << text(Msg::n79);
    }
    void refusedProfilesSendNothing() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, message);
        startSim();
        QCOMPARE(cli({"read-profile", "p.txt"}).code, 0);
        if (key.isEmpty())
            key = section.startsWith("Реле") ? relayColumn(1) : sensorColumn(2);
        setProfile("p.txt", section, key, value);
        setProfile("p.txt", "Датчик 1", sensorColumn(2), "3"); // a change that would go
        const Run dry = cli({"write-profile", "p.txt", "--dry-run"});
        QCOMPARE(dry.code, 6);
        QVERIFY(dry.out.isEmpty());
        const Run r = cli({"write-profile", "p.txt"});
        QCOMPARE(r.code, 6);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(writes(sim), QStringList());
    }

    // The controller refuses the first write: the failure text, exit 7, nothing after it.
    void refusedWriteEndsTheRun() {
        startSim();
        QCOMPARE(cli({"read-profile", "p.txt"}).code, 0);
        setProfile("p.txt", "Датчик 1", sensorColumn(2), "3");
        setProfile("p.txt", "Реле 1", relayColumn(1), "1");
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"write-profile", "p.txt"});
        QByteArray err;
        // The write starts half a second after its text is shown.
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += p.readAllStandardError()).contains(text(Msg::n111).toUtf8()), 20000);
        QVERIFY(sim.command("fault exception code=4").startsWith("OK"));
        QVERIFY(p.waitForFinished(20000));
        err += p.readAllStandardError();
        QCOMPARE(p.exitCode(), 7);
        QVERIFY2(QString::fromUtf8(err).contains(text(Msg::n97) + "4"), err.constData());
        QStringList w = writes(sim);
        QCOMPARE(w.size(), 3); // three attempts of the sensor block, no relay write
        QCOMPARE(w.removeDuplicates(), 2);
    }

    // Interrupted in the write-back's pause: it ends at once, nothing is sent, exit 8.
    void interruptedWriteSendsNothing() {
        startSim();
        QCOMPARE(cli({"read-profile", "p.txt"}).code, 0);
        setProfile("p.txt", "Датчик 1", sensorColumn(2), "3");
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"write-profile", "p.txt"});
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += p.readAllStandardError()).contains(text(Msg::n111).toUtf8()), 20000);
        QCOMPARE(::kill(pid_t(p.processId()), SIGINT), 0);
        QVERIFY(p.waitForFinished(3000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 8);
        QCOMPARE(writes(sim), QStringList());
    }

    // A fresh home: the user's folder is seeded with a start.ini that names no port. The
    // run says so and how to set one instead of failing to open a port with no name.
    void noPortSetSaysHowToSetOne() {
        QTemporaryDir home;
        QProcess p;
        startElsewhere(p, home, {"identify"});
        QVERIFY(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 3);
        QCOMPARE(err, text(Msg::n350) + "\n");
        QVERIFY(err.contains("--port"));
        QVERIFY(QFileInfo::exists(home.filePath(".local/share/Velmaris/start.ini")));
    }

    // JSON times carry the local offset, so they name one moment wherever they are read.
    void jsonTimesCarryTheirOffset_data() {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("offset");
        QTest::newRow("Tokyo") << "Asia/Tokyo" << "+09:00" << 9 * 3600;
        QTest::newRow("Kolkata") << "Asia/Kolkata" << "+05:30" << 19800;
        QTest::newRow("UTC") << "UTC" << "Z" << 0;
    }
    void jsonTimesCarryTheirOffset() {
        QFETCH(QString, zone);
        QFETCH(QString, suffix);
        QFETCH(int, offset);
        if (zone.contains(u'/') && !QFileInfo::exists("/usr/share/zoneinfo/" + zone))
            QSKIP("no time-zone data on this machine");
        startSim();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TZ", zone);
        const Run j = cli({"watch", "--json", "--count", "1"}, 60000, env);
        QCOMPARE(j.code, 0);
        const QString time =
            QJsonDocument::fromJson(j.lines().value(0).toUtf8()).object().value("time").toString();
        const QDateTime when = QDateTime::fromString(time, Qt::ISODateWithMs);
        QVERIFY2(when.isValid() && time.endsWith(suffix), qPrintable(time));
        QCOMPARE(when.offsetFromUtc(), offset);
    }

    // An interrupted run that was asked for a count of rows did not finish its work: exit
    // 8 and how far it got. Without --count an interruption is how it ends: exit 0.
    void interruptedCountedRunsExit8_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::newRow("record --count") << QStringList{"record", "t.txt", "--period", "1", "--count", "100"} << 8;
        QTest::newRow("watch --count") << QStringList{"watch", "--count", "100"} << 8;
        QTest::newRow("record") << QStringList{"record", "t.txt", "--period", "1"} << 0;
        QTest::newRow("watch") << QStringList{"watch"} << 0;
    }
    void interruptedCountedRunsExit8() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        startSim();
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), args);
        const bool record = args[0] == "record";
        QByteArray out;
        const auto rows = [&] {
            if (!record)
                return int((out += p.readAllStandardOutput()).count('\n')) - 1; // the header
            QFile f("t.txt");
            return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) - 2 : 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(rows() >= 2, 20000);
        QCOMPARE(::kill(pid_t(p.processId()), SIGINT), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(p.exitCode() == code, qPrintable(err));
        QCOMPARE(err.contains(text(Msg::n356)), code == 8);
        if (code == 8)
            QVERIFY2(err.contains(QRegularExpression(text(Msg::n356) + "[0-9]+/100\n")),
                     qPrintable(err));
    }

    // An empty file is a new trend file: it gets the header and the rows.
    void recordTakesAnEmptyFileAsNew() {
        startSim();
        QFile f("t.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const Run r = cli({"record", "t.txt", "--period", "1", "--count", "1"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = Cp1251::decode(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("Дата\tВремя\tКанал 1\t"));
    }

    // A trend file that cannot be written or continued is reported before anything is
    // sent: the controller sees no request.
    void recordReportsFileFaultsBeforeConnecting_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // "dir": a folder in its place
        QTest::addColumn<QString>("message");
        QTest::newRow("no folder") << "no/such/folder/t.txt" << QByteArray() << text(Msg::n131);
        QTest::newRow("a folder in its place") << "t.txt" << QByteArray("dir") << text(Msg::n131);
        QTest::newRow("not a trend file")
            << "t.txt" << QByteArray("hello\r\n") << text(Msg::n357);
    }
    void recordReportsFileFaultsBeforeConnecting() {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        startSim();
        if (content == "dir") {
            QVERIFY(QDir().mkdir(file));
        } else if (!content.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const Run r = cli({"record", file, "--count", "1"});
        QCOMPARE(r.code, 6);
        QVERIFY2(r.err.startsWith(message), qPrintable(r.err));
        QCOMPARE(sim.logEntries("RX"), QStringList());
        if (!content.isEmpty() && content != "dir") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), content);
        }
    }

    // Two frames (a sensor block, then a relay cell); the first meets trouble. Every
    // frame's fate is told: confirmed, refused (an exception: not carried out), unknown
    // (it left and no confirmation came: maybe carried out) or not sent. A confirmed frame
    // is never followed by the window's "ОШИБКА!!!!".
    void writeProfileTellsEachFramesFate_data() {
        QTest::addColumn<SimProcess::Transport>("transport");
        QTest::addColumn<QString>("fault");     // switched on as the writing starts
        QTest::addColumn<QString>("then");      // once the first write request came
        QTest::addColumn<bool>("interrupt"); // SIGINT in the relay write's pause
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("report");
        QTest::addColumn<bool>("sensorWritten"); // what the controller holds at the end
        const QString of = text(Msg::n358);
        for (const auto &[name, transport] : AllTransports())
            QTest::newRow(qPrintable(QString("lost confirmation, ") + name))
                << transport << "lost" << "" << false << 7
                << QStringList{text(Msg::n353) + "1" + of + "2", text(Msg::n355) + "2" + of + "2"}
                << true;
        // The gateway's connection goes with the confirmation: the retries cannot be sent
        // ("Ошибка передачи команды записи в модуль"), yet the first one was carried out.
        for (const auto transport : {SimProcess::Transport::TcpRtu, SimProcess::Transport::TcpMbap})
            QTest::newRow(transport == SimProcess::Transport::TcpMbap
                              ? "lost with the connection, mbtcp"
                              : "lost with the connection, tcp")
                << transport << "lost" << "refuse" << false << 7
                << QStringList{text(Msg::n114) + " " + text(Msg::n94),
                               text(Msg::n353) + "1" + of + "2", text(Msg::n355) + "2" + of + "2"}
                << true;
        QTest::newRow("refused") << SimProcess::Transport::Pty << "exception code=4" << "" << false << 7
                                 << QStringList{text(Msg::n354) + "1" + of + "2",
                                                text(Msg::n355) + "2" + of + "2"}
                                 << false;
        QTest::newRow("interrupted after the first") << SimProcess::Transport::Pty << "" << "" << true << 8
            << QStringList{text(Msg::n352) + "1" + of + "2", text(Msg::n355) + "2" + of + "2"}
            << true;
        QTest::newRow("interrupted over Modbus TCP") << SimProcess::Transport::TcpMbap << "" << "" << true
            << 8 << QStringList{text(Msg::n352) + "1" + of + "2", text(Msg::n355) + "2" + of + "2"}
            << true;
    }
    void writeProfileTellsEachFramesFate() {
        QFETCH(SimProcess::Transport, transport);
        QFETCH(QString, fault);
        QFETCH(QString, then);
        QFETCH(bool, interrupt);
        QFETCH(int, code);
        QFETCH(QStringList, report);
        QFETCH(bool, sensorWritten);
        sim.setTransport(transport);
        startSim();
        QCOMPARE(cli({"read-profile", "p.txt"}).code, 0);
        const QString threshold = QString("get %1 1").arg(sensorBlock(1) + 2);
        const quint16 relayBefore = numbers(sim.command("get 0x0200 1")).value(0);
        QVERIFY(numbers(sim.command(threshold)).value(0) != 3);
        setProfile("p.txt", "Датчик 1", sensorColumn(2), "3");
        setProfile("p.txt", "Реле 1", relayColumn(1), relayBefore == 1 ? "0" : "1");
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), {"write-profile", "p.txt", "--no-connect"});
        QByteArray err;
        const auto shows = [&](const TextKey &k) {
            return (err += p.readAllStandardError()).contains(text(k).toUtf8());
        };
        if (!fault.isEmpty()) {
            // The write starts half a second after its text is shown.
            QTRY_VERIFY_WITH_TIMEOUT(shows(Msg::n111), 20000);
            QVERIFY(sim.command("fault " + fault).startsWith("OK"));
            if (!then.isEmpty()) {
                const auto writeCame = [&] {
                    const QStringList rx = sim.logEntries("RX");
                    return !rx.isEmpty() && rx.last().startsWith("64 10");
                };
                QTRY_VERIFY_WITH_TIMEOUT(writeCame(), 20000);
                QVERIFY(sim.command(then).startsWith("OK"));
            }
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(shows(Msg::n112), 20000); // a second before it sends
            QCOMPARE(::kill(pid_t(p.processId()), SIGINT), 0);
        }
        QVERIFY(p.waitForFinished(30000));
        err += p.readAllStandardError();
        const QString e = QString::fromUtf8(err);
        QVERIFY2(p.exitCode() == code, qPrintable(e));
        for (const QString &line : report)
            QVERIFY2(e.contains(line + "\n"), qPrintable(e));
        if (interrupt)
            QVERIFY2(!e.contains(text(Msg::n114)), qPrintable(e));
        sim.command("faults off");
        sim.command("listen");
        QCOMPARE(numbers(sim.command(threshold)).value(0) == 3, sensorWritten);
        QCOMPARE(numbers(sim.command("get 0x0200 1")).value(0), relayBefore); // not sent
    }

    // A trend file as the window writes it: Windows-1251, cells ended by TAB, CR LF.
    void recordWritesTheWindowsTrendFormat() {
        startSim();
        const Run r = cli({"record", "t.txt", "--period", "1", "--count", "2"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains(text(Msg::n128)), qPrintable(r.err));
        QFile f("t.txt");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.endsWith("\t\r\n"));
        const QStringList lines = Cp1251::decode(bytes).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QStringList header{"Дата", "Время"};
        for (int n = 1; n <= 12; ++n)
            header << QString("Канал %1").arg(n);
        QCOMPARE(lines[0], header.join(u'\t') + u'\t');
        QCOMPARE(lines[3].count(u'\t'), header.size());
        const QDateTime first =
            QDateTime::fromString(lines[2].section(u'\t', 0, 1), "dd.MM.yy\tHH:mm:ss");
        const QDateTime second =
            QDateTime::fromString(lines[3].section(u'\t', 0, 1), "dd.MM.yy\tHH:mm:ss");
        // Rows are stamped when written: two of them may share a second.
        QVERIFY(first.isValid() && second.isValid());
        // Recording again continues the file under its header.
        QCOMPARE(cli({"record", "t.txt", "--period", "1", "--count", "1"}).code, 0);
        f.close();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(Cp1251::decode(f.readAll()).split("\r\n", Qt::SkipEmptyParts).size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
