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
        // Long enough that a loaded machine does not starve a read into a time-out.
        start.writeInteger("connect", "receive", 500);
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
        for (const char *command :
             {"identify", "watch", "read-profile", "write-profile", "record", "get", "set", "trend",
              "sensor.N.threshold1", "relay.N.on-delay", "connect.channel", "read-back-differs",
              "serve", "history export", "history controllers", "events", "--no-history",
              "--from", "--controller", "--alarms", "--mqtt"})
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

    // Every message of the tool is shipped in both languages: Russian as the built-in text,
    // English without a Cyrillic letter, neither with doubled blanks.
    void messagesShippedInBothLanguages() {
        QVERIFY(CopyShippedData({"start.ini"}));
        const MemIniFile start("start.ini");
        const QRegularExpression cyrillic("[\\x{0400}-\\x{04FF}]");
        for (const TextKey &k : Msg::cli) {
            QCOMPARE(start.readString("lang0", k.key, {}), text(k));
            const QString english = start.readString("lang1", k.key, {});
            QVERIFY2(!english.isEmpty() && !english.contains(cyrillic), k.key);
            QVERIFY2(!english.contains("  ") && !text(k).contains("  "), k.key);
        }
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
        QTest::newRow("period to identify")
            << QStringList{} << QStringList{"identify", "--period", "5"} << 2
            << notHere + "--period (identify)";
        QTest::newRow("for to read-profile")
            << QStringList{} << QStringList{"read-profile", "p.txt", "--for", "5s"} << 2
            << notHere + "--for (read-profile)";
        QTest::newRow("ids to write-profile")
            << QStringList{} << QStringList{"write-profile", "p.txt", "--ids"} << 2
            << notHere + "--ids (write-profile)";
        QTest::newRow("diff to read-profile")
            << QStringList{} << QStringList{"read-profile", "p.txt", "--diff"} << 2
            << notHere + "--diff (read-profile)";
        QTest::newRow("bad duration") << QStringList{} << QStringList{"watch", "--for", "5x"} << 2
                                      << QStringLiteral("--for: 5x");
        QTest::newRow("two units")
            << QStringList{} << QStringList{"record", "t.txt", "--for", "1ms"} << 2
            << QStringLiteral("--for: 1ms");
        QTest::newRow("bad language") << QStringList{} << QStringList{"identify", "--lang", "de"}
                                      << 2 << QStringLiteral("--lang: de");
        QTest::newRow("no setting to get")
            << QStringList{} << QStringList{"get"} << 2 << text(Msg::n363) + "get";
        QTest::newRow("no value to set") << QStringList{} << QStringList{"set", "relay.1.mode"} << 2
                                         << text(Msg::n364) + "relay.1.mode";
        QTest::newRow("unknown setting") << QStringList{} << QStringList{"get", "sensor.1.colour"}
                                         << 2 << text(Msg::n359) + "sensor.1.colour";
        QTest::newRow("sensor beyond the map")
            << QStringList{} << QStringList{"get", "sensor.37.threshold1"} << 2
            << text(Msg::n359) + "sensor.37.threshold1";
        QTest::newRow("relay beyond the map")
            << QStringList{} << QStringList{"set", "relay.5.mode", "1"} << 2
            << text(Msg::n359) + "relay.5.mode";
        QTest::newRow("not a trend file")
            << QStringList{} << QStringList{"trend", "start.ini"} << 6 << text(Msg::n365);
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
        // With --json the failure is an object on stdout as well.
        QVERIFY(r.out.isEmpty() || code == 5 || args.contains("--json"));
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
        startSim({"--pace"}); // unpaced, watch can print its 100 lines before the signal lands
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

    // get and set name one cell of the window's tables. With --named-values every register
    // holds its own address: get shows the register it read, and set must change exactly
    // that register, with the function the window writes that table with, and nothing else.
    void getAndSetOneSettingByName_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("block");  // first register of the setting's block
        QTest::addColumn<int>("size");   // the block's registers
        QTest::addColumn<int>("offset"); // the setting's register in it
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("single"); // function 6; else 16 with one register
        const QStringList named{"--named-values"};
        const QStringList paced{"--named-values", "--pace", "--baud", "19200"};
        QTest::newRow("sensor 3 threshold 1")
            << named << "sensor.3.threshold1" << int(sensorBlock(3)) << 7 << 2 << 40 << false;
        QTest::newRow("sensor 3 threshold 2")
            << named << "sensor.3.threshold2" << int(sensorBlock(3)) << 7 << 3 << 41 << false;
        QTest::newRow("sensor 5 hysteresis")
            << named << "sensor.5.hysteresis" << int(sensorBlock(5)) << 7 << 4 << 20 << false;
        QTest::newRow("sensor 12 threshold-1 relay")
            << named << "sensor.12.relay1" << int(sensorBlock(12)) << 7 << 5 << 3 << false;
        QTest::newRow("sensor 36 threshold-2 relay")
            << named << "sensor.36.relay2" << int(sensorBlock(36)) << 7 << 6 << 0 << false;
        QTest::newRow("relay 1 mode") << named << "relay.1.mode" << 0x0200 << 4 << 0 << 2 << true;
        QTest::newRow("relay 2 on delay")
            << named << "relay.2.on-delay" << 0x0210 << 4 << 1 << 17 << true;
        QTest::newRow("relay 3 off delay")
            << named << "relay.3.off-delay" << 0x0220 << 4 << 2 << 600 << true;
        QTest::newRow("relay 4 link time-out")
            << named << "relay.4.link-timeout" << 0x0230 << 4 << 3 << 3600 << true;
        // Its neighbours (address, baud ...) must be valid for the window's check: no names.
        QTest::newRow("connection channel")
            << QStringList{} << "connect.channel" << 0x0500 << 6 << 4 << 126 << false;
        QTest::newRow("sensor threshold, paced")
            << paced << "sensor.7.threshold1" << int(sensorBlock(7)) << 7 << 2 << 125 << false;
        QTest::newRow("relay delay, paced")
            << paced << "relay.3.on-delay" << 0x0220 << 4 << 1 << 5 << true;
    }
    void getAndSetOneSettingByName() {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, name);
        QFETCH(int, block);
        QFETCH(int, size);
        QFETCH(int, offset);
        QFETCH(int, value);
        QFETCH(bool, single);
        startSim(simArgs);
        if (simArgs.contains("--baud"))
            setProfile("start.ini", "connect", "speed", "1");
        const QString read = QString("get %1 %2").arg(block).arg(size);
        const QList<quint16> before = numbers(sim.command(read));
        QCOMPARE(before.size(), size);

        const Run got = cli({"get", name});
        QVERIFY2(got.code == 0, qPrintable(got.err));
        QCOMPARE(got.lines(), QStringList{QString::number(before[offset])});

        const Run set = cli({"set", name, QString::number(value)});
        QVERIFY2(set.code == 0, qPrintable(set.err));
        QList<quint16> after = before;
        after[offset] = quint16(value);
        const quint16 reg = quint16(block + offset);
        QCOMPARE(writes(sim), QStringList{single ? writeSingle(100, reg, quint16(value))
                                                 : writeMultiple(100, reg, {quint16(value)})});
        QCOMPARE(numbers(sim.command(read)), after);
        QVERIFY2(set.out.trimmed().endsWith(": " + QString::number(before[offset]) + " → " +
                                            QString::number(value)),
                 qPrintable(set.out));

        const Run json = cli({"get", name, "--json"});
        const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(o.value("setting").toString(), name);
        QCOMPARE(o.value("value").toInt(), value);
        // The value the controller holds already: nothing is sent.
        QCOMPARE(cli({"set", name, QString::number(value)}).code, 0);
        QCOMPARE(writes(sim).size(), 1);
    }

    // A value outside the limits of the window's tables (the configuration's [ss_limits]
    // and [relay_limits], 1..126 for the channel), or no number: refused before anything is
    // sent, with the window's message, exit 6 and "value-refused".
    void setRefusesAValueOutsideTheLimits_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        const QString range = text(Msg::n85);
        QTest::newRow("threshold 1 above 125") << "sensor.2.threshold1"
                                               << "126" << range;
        QTest::newRow("threshold 2 below 0") << "sensor.2.threshold2"
                                             << "-1" << range;
        QTest::newRow("hysteresis above 20") << "sensor.4.hysteresis"
                                             << "21" << range;
        QTest::newRow("threshold relay above 4") << "sensor.1.relay1"
                                                 << "5" << range;
        QTest::newRow("relay mode 3") << "relay.1.mode"
                                      << "3" << range;
        QTest::newRow("on delay above 600") << "relay.2.on-delay"
                                            << "601" << range;
        QTest::newRow("link time-out above 3600") << "relay.4.link-timeout"
                                                  << "3601" << range;
        QTest::newRow("channel 0") << "connect.channel"
                                   << "0" << text(Msg::n80);
        QTest::newRow("channel 127") << "connect.channel"
                                     << "127" << text(Msg::n80);
        QTest::newRow("no number") << "relay.3.off-delay"
                                   << "5s" << text(Msg::n84).trimmed();
        QTest::newRow("hexadecimal is no cell number") << "sensor.1.threshold1"
                                                       << "0x20" << text(Msg::n84).trimmed();
    }
    void setRefusesAValueOutsideTheLimits() {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, message);
        startSim();
        const Run r = cli({"set", name, value, "--json"});
        QCOMPARE(r.code, 6);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("error").toString(), QStringLiteral("value-refused"));
        QCOMPARE(o.value("exit").toInt(), 6);
        QVERIFY2(o.value("message").toString().contains(message), qPrintable(r.out));
        QCOMPARE(writes(sim), QStringList());
    }

    // A write the controller does not confirm: exit 7, "write-failed", and the window's
    // failure text.
    void setTellsAWriteThatFailed_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("refused") << "exception code=4" << text(Msg::n97) + "4";
        QTest::newRow("no confirmation") << "lost" << text(Msg::n95);
    }
    void setTellsAWriteThatFailed() {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        startSim();
        // The set's reads (identification, connection block, relay table), then the write.
        QCOMPARE(cli({"get", "relay.1.mode"}).code, 0);
        const qsizetype reads = sim.logEntries("RX").size();
        QVERIFY(sim.command(QString("fault %1 nth=%2").arg(fault).arg(reads + 1)).startsWith("OK"));
        // One attempt, so that the one struck request is the write.
        const Run r = cli({"set", "relay.1.on-delay", "9", "--json", "--retries", "1"});
        QCOMPARE(r.code, 7);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("error").toString(), QStringLiteral("write-failed"));
        QVERIFY2(o.value("message").toString().contains(message), qPrintable(r.out));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    // --period thins watch to a line per period; --for ends watch and record with exit 0,
    // whatever --count asked for. Counted loosely: the poll itself makes thousands of
    // lines in these seconds on an unpaced pty.
    void periodThinsAndForEnds_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("most"); // lines (watch) or rows (record); -1: any
        QTest::newRow("watch --period")
            << QStringList{"watch", "--period", "1", "--for", "3s"} << 6;
        QTest::newRow("watch --json --period")
            << QStringList{"watch", "--json", "--period", "1", "--for", "3s"} << 5;
        QTest::newRow("watch --for beats --count")
            << QStringList{"watch", "--for", "2s", "--count", "100000000"} << -1;
        QTest::newRow("record --for")
            << QStringList{"record", "t.txt", "--period", "1", "--for", "3s"} << 5;
    }
    void periodThinsAndForEnds() {
        QFETCH(QStringList, args);
        QFETCH(int, most);
        startSim();
        const Run r = cli(args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY2(!r.err.contains(text(Msg::n356)), qPrintable(r.err));
        QStringList lines = r.lines();
        if (args[0] == "record") {
            QFile f("t.txt");
            QVERIFY(f.open(QIODevice::ReadOnly));
            lines = Cp1251::decode(f.readAll()).split("\r\n", Qt::SkipEmptyParts).mid(1);
        }
        QVERIFY2(lines.size() >= 2 && (most < 0 || lines.size() <= most),
                 qPrintable(QString::number(lines.size())));
        // Every line whole: a JSON object, or a row under the header's columns.
        const qsizetype cells = lines[0].count(u'\t');
        for (const QString &line : lines.mid(1)) {
            if (args.contains("--json"))
                QVERIFY(QJsonDocument::fromJson(line.toUtf8()).isObject());
            else
                QCOMPARE(line.count(u'\t'), cells);
        }
    }

    // write-profile --diff: one readable line per changed cell, in the language of the
    // messages, and nothing is sent. With --named-values the old value names the register
    // it came from. Tags the simulator fills with control bytes differ too: they are the
    // baseline every line here is compared beyond.
    void diffPrintsWhatWouldChange_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("options");
        // section, key, value, ...; key "s2": the header of sensor column 2, "r3" of relay
        // column 3 (the shipped texts are read once the folder is made)
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QStringList>("expected");
        const QStringList named{"--named-values"};
        const QStringList ru{"--no-connect"}, en{"--no-connect", "--lang", "en"};
        QTest::newRow("sensor threshold") << named << ru << QStringList{"Датчик 3", "s2", "40"}
                                          << QStringList{"датчик 3 порог 1: 4130 → 40"};
        QTest::newRow("sensor threshold, English")
            << named << en << QStringList{"Датчик 3", "s2", "40"}
            << QStringList{"sensor 3 threshold 1: 4130 → 40"};
        QTest::newRow("hysteresis and relays, in frame order")
            << named << ru << QStringList{"Реле 2",   "r3", "20", "Датчик 9", "s4", "5",
                                          "Датчик 9", "s6", "2",  "Реле 1",   "r1", "1"}
            << QStringList{"датчик 9 гистерезис: 4228 → 5", "датчик 9 реле порога 2: 4230 → 2",
                           "реле 1 режим: 512 → 1", "реле 2 задержка выключения: 530 → 20"};
        QTest::newRow("relays, English")
            << named << en << QStringList{"Реле 4", "r4", "60", "Реле 3", "r2", "0"}
            << QStringList{"relay 3 on delay: 545 → 0", "relay 4 link time-out: 563 → 60"};
        QTest::newRow("tag") << QStringList{} << ru << QStringList{"tags", "Датчик 7", "Печь 7"}
                             << QStringList{"датчик 7 метка: \"Камера 7\" → \"Печь 7\""};
        QTest::newRow("connection")
            << QStringList{} << QStringList{}
            << QStringList{"connect", "channel", "9", "connect", "address", "17"}
            << QStringList{"адрес модуля: 100 → 17", "канал: 1 → 9"};
        QTest::newRow("connection, English")
            << QStringList{} << QStringList{"--lang", "en"}
            << QStringList{"connect", "channel", "9", "connect", "baudrate", "4"}
            << QStringList{"baud rate: 9600 → 115200", "channel: 1 → 9"};
    }
    void diffPrintsWhatWouldChange() {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, options);
        QFETCH(QStringList, changes);
        QFETCH(QStringList, expected);
        startSim(simArgs);
        QCOMPARE(cli({"read-profile", "p.txt", "--ids"}).code, 0);
        const Run same = cli(QStringList{"write-profile", "p.txt", "--diff"} + options);
        QCOMPARE(same.code, 0);
        const QStringList baseline = same.lines();
        if (baseline.isEmpty())
            QVERIFY2(
                same.err.contains(options.contains("en") ? "Nothing differs" : text(Msg::n360)),
                qPrintable(same.err));
        for (qsizetype k = 0; k + 2 < changes.size(); k += 3) {
            QString key = changes[k + 1];
            if (QRegularExpression("^[sr][0-9]$").match(key).hasMatch())
                key = (key[0] == u's' ? sensorColumn : relayColumn)(key.mid(1).toInt());
            setProfile("p.txt", changes[k], key, changes[k + 2]);
        }
        const Run r = cli(QStringList{"write-profile", "p.txt", "--diff"} + options);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QStringList lines = r.lines();
        for (const QString &line : baseline)
            lines.removeOne(line);
        QCOMPARE(lines, expected);
        QCOMPARE(writes(sim), QStringList());
    }

    // With --json a failure is one object on stdout: a stable key, the exit code and the
    // message that stderr has too.
    void jsonFailuresCarryKeyAndExitCode_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("code");
        QTest::newRow("usage") << QStringList{} << QStringList{"identify", "--bogus", "--json"}
                               << "usage" << 2;
        QTest::newRow("unknown setting")
            << QStringList{} << QStringList{"set", "relay.1.colour", "1", "--json"}
            << "unknown-setting" << 2;
        QTest::newRow("setting beyond the map")
            << QStringList{} << QStringList{"get", "relay.9.mode", "--json"} << "unknown-setting"
            << 2;
        QTest::newRow("port not set")
            << QStringList{} << QStringList{"watch", "--json", "--port", " "} << "port-not-set"
            << 3;
        QTest::newRow("port unusable")
            << QStringList{}
            << QStringList{"get", "connect.channel", "--port", "/nonexistent/tty", "--json"}
            << "port-unusable" << 3;
        QTest::newRow("no answer")
            << QStringList{} << QStringList{"read-profile", "--json", "--address", "5"}
            << "no-answer" << 4;
        QTest::newRow("not a QOR7070") << QStringList{"--device-code", "1234"}
                                       << QStringList{"watch", "--json"} << "not-qor7070" << 5;
        QTest::newRow("no configuration")
            << QStringList{"--fw", "0x0103"} << QStringList{"get", "relay.1.mode", "--json"}
            << "no-configuration" << 5;
        QTest::newRow("profile missing")
            << QStringList{} << QStringList{"write-profile", "none.txt", "--json"} << "file-refused"
            << 6;
        QTest::newRow("trend file missing")
            << QStringList{} << QStringList{"trend", "none.txt", "--json"} << "file-refused" << 6;
        QTest::newRow("record into no folder")
            << QStringList{} << QStringList{"record", "no/such/t.txt", "--json"} << "file-refused"
            << 6;
        // identify prints its object anyway: the failure joins it.
        QTest::newRow("identify of another device")
            << QStringList{"--device-code", "1234"} << QStringList{"identify", "--json"}
            << "not-qor7070" << 5;
    }
    void jsonFailuresCarryKeyAndExitCode() {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, args);
        QFETCH(QString, key);
        QFETCH(int, code);
        startSim(simArgs);
        const Run r = cli(args);
        QCOMPARE(r.code, code);
        QCOMPARE(r.lines().size(), 1);
        const QJsonObject o = QJsonDocument::fromJson(r.lines()[0].toUtf8()).object();
        QCOMPARE(o.value("error").toString(), key);
        QCOMPARE(o.value("exit").toInt(), code);
        const QString message = o.value("message").toString();
        QVERIFY2(!message.isEmpty() && r.err.contains(message), qPrintable(r.out + r.err));
        if (args[0] == "identify" && code == 5)
            QCOMPARE(o.value("device").toInt(), 1234);
        QCOMPARE(writes(sim), QStringList());
    }

    // --lang chooses the language of the messages over [language] lang, for usage faults,
    // --help and the engine's texts, and never reaches start.ini, not even through a
    // write that stores the program's line there.
    void langOverridesTheSettingsFile_data() {
        QTest::addColumn<int>("fileLang");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("start"); // of stderr, or of stdout for --help
        QTest::newRow("en over ru, engine")
            << 0 << QStringList{"identify", "--port", "/nonexistent/tty", "--lang", "en"} << 3
            << "Error opening the port";
        QTest::newRow("ru over en, engine")
            << 1 << QStringList{"identify", "--lang", "ru", "--port", "/nonexistent/tty"} << 3
            << text(Msg::n87);
        QTest::newRow("en over ru, usage")
            << 0 << QStringList{"identify", "--count", "x", "--lang=en"} << 2
            << "Bad value of option --count";
        QTest::newRow("ru over en, usage")
            << 1 << QStringList{"--lang", "ru", "get"} << 2 << text(Msg::n363);
        QTest::newRow("en over ru, help")
            << 0 << QStringList{"--help", "--lang", "en"} << 0 << "Usage: velmaris-cli";
        QTest::newRow("ru over en, help")
            << 1 << QStringList{"--lang", "ru", "--help"} << 0 << "Использование: velmaris-cli";
        QTest::newRow("en over ru, a check of the window")
            << 0 << QStringList{"set", "connect.channel", "200", "--lang", "en"} << 6
            << "Error: The channel number";
        QTest::newRow("en over ru, a write")
            << 0 << QStringList{"set", "connect.channel", "12", "--lang", "en"} << 0 << "";
        QTest::newRow("en over ru, a connection write")
            << 0 << QStringList{"write-profile", "p.txt", "--lang", "en"} << 0
            << "Writing relay settings";
    }
    void langOverridesTheSettingsFile() {
        QFETCH(int, fileLang);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, start);
        startSim();
        QCOMPARE(cli({"read-profile", "p.txt"}).code, 0);
        setProfile("p.txt", "connect", "channel", "7");
        setProfile("p.txt", "Реле 1", relayColumn(2), "3");
        setProfile("start.ini", "language", "lang", QString::number(fileLang));
        const Run r = cli(args);
        QVERIFY2(r.code == code, qPrintable(r.err));
        const QString shown = args.contains("--help") ? r.out : r.err;
        QVERIFY2(start.isEmpty() || shown.startsWith(start), qPrintable(shown));
        if (args.contains("write-profile"))
            QCOMPARE(sim.command("get 0x0504 1"), QStringLiteral("OK 7"));
        QCOMPARE(MemIniFile("start.ini").readInteger("language", "lang", -1), fileLang);
    }

    // read-profile --json: the controller's tables under the names get and set use, each
    // value from its own register (--named-values), the same as the profile file it writes.
    void readProfileAsJson() {
        startSim({"--named-values"});
        const Run r = cli({"read-profile", "p.txt", "--json", "--ids"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("firmware").toString(), QStringLiteral("1.2"));
        QCOMPARE(o.value("hardware").toString(), QStringLiteral("1.0"));
        const QJsonArray sensors = o.value("sensors").toArray();
        QCOMPARE(sensors.size(), 36);
        const MemIniFile p("p.txt");
        const char *keys[] = {"", "", "threshold1", "threshold2", "hysteresis", "relay1", "relay2"};
        for (int n : {1, 3, 36}) {
            const QJsonObject s = sensors[n - 1].toObject();
            QCOMPARE(s.value("sensor").toInt(), n);
            for (int c = 2; c < 7; ++c)
                QCOMPARE(s.value(keys[c]).toInt(), sensorBlock(n) + c);
            QCOMPARE(s.value("id").toString(),
                     p.readString(QString("Датчик %1").arg(n), sensorColumn(1), {}));
        }
        QCOMPARE(sensors[0].toObject().value("tag").toString(), QStringLiteral(" "));
        const QJsonArray relays = o.value("relays").toArray();
        QCOMPARE(relays.size(), 4);
        const char *relayKeys[] = {"mode", "on-delay", "off-delay", "link-timeout"};
        for (int k = 1; k <= 4; ++k)
            for (int c = 0; c < 4; ++c)
                QCOMPARE(relays[k - 1].toObject().value(relayKeys[c]).toInt(),
                         0x0200 + (k - 1) * 16 + c);
        const QJsonObject connect = o.value("connect").toObject();
        QCOMPARE(connect.value("address").toInt(), 0x0500);
        QCOMPARE(connect.value("channel").toInt(), 0x0504);
        QCOMPARE(connect.value("stopbits").toInt(), 0x0503);
        QCOMPARE(writes(sim), QStringList());
    }

    // Without a file the JSON alone; the line values read as a script wants them.
    void readProfileAsJsonWithoutAFile() {
        startSim();
        const Run plain = cli({"read-profile", "--json"});
        QCOMPARE(plain.code, 0);
        QVERIFY(!QFileInfo::exists("p.txt"));
        const QJsonObject line =
            QJsonDocument::fromJson(plain.out.toUtf8()).object().value("connect").toObject();
        QCOMPARE(line.value("baud").toInt(), 9600);
        QCOMPARE(line.value("parity").toString(), QStringLiteral("none"));
        QCOMPARE(line.value("stopbits").toInt(), 1);
        QCOMPARE(line.value("language").toString(), QStringLiteral("ru"));
        QVERIFY(!QJsonDocument::fromJson(plain.out.toUtf8())
                     .object()
                     .value("sensors")
                     .toArray()[0]
                     .toObject()
                     .contains("id"));
    }

    // trend FILE: a trend file for scripts, in UTF-8; with --json one object per row, a
    // cell without a temperature (no power, faulty, undetermined) as null.
    void trendFileAsJson() {
        startSim();
        QCOMPARE(cli({"record", "t.txt", "--period", "1", "--count", "2"}).code, 0);
        QFile f("t.txt");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList file = Cp1251::decode(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(file.size(), 4);

        const Run t = cli({"trend", "t.txt"});
        QCOMPARE(t.code, 0);
        QCOMPARE(t.lines().size(), 4);
        QCOMPARE(t.lines()[0] + u'\t', file[0]);
        QCOMPARE(t.lines()[3] + u'\t', file[3]);

        const Run j = cli({"trend", "t.txt", "--json"});
        QCOMPARE(j.code, 0);
        QCOMPARE(j.lines().size(), 2);
        for (int row = 0; row < 2; ++row) {
            const QJsonObject o = QJsonDocument::fromJson(j.lines()[row].toUtf8()).object();
            const QDateTime when =
                QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs);
            QCOMPARE(when.toLocalTime().toString("dd.MM.yy\tHH:mm:ss"),
                     file[row + 2].section(u'\t', 0, 1));
            const QJsonArray sensors = o.value("sensors").toArray();
            QCOMPARE(sensors.size(), 12);
            const QStringList cells = file[row + 2].split(u'\t').mid(2);
            for (int n = 1; n <= 12; ++n) {
                const QJsonObject s = sensors[n - 1].toObject();
                QCOMPARE(s.value("sensor").toInt(), n);
                bool number = false;
                const int v = cells[n - 1].toInt(&number);
                QCOMPARE(s.value("temperature").isNull(), !number);
                if (number)
                    QCOMPARE(s.value("temperature").toInt(), v);
            }
            // Sensors 10, 11 and 12 report statuses 10, 20 and 30.
            QVERIFY(sensors[9].toObject().value("temperature").isNull());
            QVERIFY(!sensors[0].toObject().value("temperature").isNull());
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
