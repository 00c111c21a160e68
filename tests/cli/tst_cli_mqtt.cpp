// velmaris-cli serve --mqtt run as a process against the simulator and a real mosquitto:
// each controller's values under its own topic level, online while polled and offline
// after, the broker's state told once, and a refused setting ends the run before polling.
#include "CliTexts.h"
#include "ControllerFolder.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "MosquittoProcess.h"
#include "MqttSettings.h"
#include "MqttTexts.h"
#include "PlantConfig.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <signal.h>
#include <sys/types.h>

namespace {

QString text(const TextKey &k) { return QString::fromUtf16(k.russian); }

struct Run {
    int code = -1;
    QString err;
};

Run cli(const QStringList &args, int timeoutMs = 120000)
{
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
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool writeFile(const QString &path, const QByteArray &bytes, QFile::Permissions permissions)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return f.setPermissions(permissions);
}

// A controller of the test: its topic level, its address on the simulator's line.
struct Member {
    QString name; // plant name; empty: the single controller ("addr<N>")
    int address;
};

// Each controller's sensor n reads address * 100 + n; sensor 3 has no power (no
// temperature), so a value taken from the wrong sensor or controller is seen.
int temperatureOf(const Member &m, int sensor) { return m.address * 100 + sensor; }

} // namespace

class TestCliMqtt : public ControllerFolderTest {
    Q_OBJECT

    MosquittoProcess broker;

    void prepare()
    {
        QVERIFY(CopyShippedData({"start.ini", "Cfg/qor7070__fw_1_0.ini", "Cfg/qor7070__fw_1_1.ini",
                                 "Cfg/qor7070__fw_1_2.ini"}));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.portSetting());
        start.writeInteger("connect", "receive", 150);
        start.writeInteger("language", "lang", 0);
        QVERIFY(start.updateFile());
    }

    void setMqtt(const QString &key, const QString &value)
    {
        MemIniFile start("start.ini");
        start.writeString("mqtt", key, value);
        QVERIFY(start.updateFile());
    }

    void fixValues(const QList<Member> &members)
    {
        for (const Member &m : members) {
            QVERIFY(sim.command(m.address, "freeze").startsWith("OK"));
            for (int n = 1; n <= 4; ++n) {
                QVERIFY(sim.command(m.address, QStringLiteral("set status %1 %2").arg(n).arg(n == 3 ? 10 : 0))
                            .startsWith("OK"));
                QVERIFY(sim.command(m.address, QStringLiteral("set temp %1 %2").arg(n).arg(temperatureOf(m, n)))
                            .startsWith("OK"));
            }
        }
    }

private slots:
    void cleanup()
    {
        broker.stop();
        sim.stop();
        folder.reset();
    }

    // Refused before anything is polled: exit 2 with the setting's message, and not one
    // request on the line.
    void refusedSettingExitsBeforePolling_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("mqtt"); // [mqtt] key=value lines
        QTest::addColumn<QString>("message");  // the start of the message on stderr
        const QString ok = QStringLiteral("mqtt://127.0.0.1:1883");
        QTest::newRow("not an MQTT URL") << QStringList{"serve", "--mqtt", "http://127.0.0.1:1883"}
                                         << QStringList{} << text(Msg::n710);
        QTest::newRow("URL without a host") << QStringList{"serve", "--mqtt", "mqtt://:1883"}
                                            << QStringList{} << text(Msg::n710);
        QTest::newRow("password file readable by others")
            << QStringList{"serve", "--mqtt", ok} << QStringList{"user=bob", "passwordfile=pw-644"}
            << text(Msg::n712);
        QTest::newRow("user without password file")
            << QStringList{"serve", "--mqtt", ok} << QStringList{"user=bob"} << text(Msg::n719);
        QTest::newRow("start.ini switched on, # in the prefix")
            << QStringList{"serve"} << QStringList{"enabled=1", "url=" + ok, "prefix=a/#"}
            << text(Msg::n720);
        QTest::newRow("plant, not an MQTT URL")
            << QStringList{"serve", "--plant", "plant.ini", "--mqtt", "tcp://127.0.0.1:1883"}
            << QStringList{} << text(Msg::n710);
        QTest::newRow("plant, CA file missing")
            << QStringList{"serve", "--plant", "plant.ini", "--mqtt", "mqtts://127.0.0.1:8883"}
            << QStringList{"cafile=no-such-ca.crt"} << text(Msg::n713);
        QTest::newRow("--mqtt is serve's only") << QStringList{"watch", "--mqtt", ok}
                                                << QStringList{} << text(Msg::n351) + "--mqtt";
    }
    void refusedSettingExitsBeforePolling()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, mqtt);
        QFETCH(QString, message);
        QVERIFY2(StartShippedSim(sim, {"--address", "1"}), qPrintable(sim.errorText()));
        prepare();
        QVERIFY(writeFile("pw-644", "secret\n",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        for (const QString &line : mqtt)
            setMqtt(line.section(u'=', 0, 0), line.section(u'=', 1));
        PlantConfig plant;
        plant.controllers.push_back(PlantEntry{});
        plant.controllers.back().name = QStringLiteral("Cold A");
        plant.controllers.back().port = sim.portSetting();
        plant.controllers.back().address = 1;
        QString error;
        QVERIFY2(WritePlant(kPlantFileName, plant, error), qPrintable(error));
        const Run r = cli(args + QStringList{"--for", "20s"}, 60000);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!r.err.contains("secret"));
        QCOMPARE(sim.logEntries("RX"), QStringList());
    }

    // Every controller's sensors under its own level (the single one "addr<N>" of its
    // address, a plant's by their names), online while served, offline once ended; the
    // broker's connection told once per controller.
    void publishesEachControllersOwnValues_data()
    {
        QTest::addColumn<QList<Member>>("members");
        QTest::newRow("single, address 7") << QList<Member>{{QString(), 7}};
        QTest::newRow("plant of three")
            << QList<Member>{{QStringLiteral("Камера C"), 3}, {QStringLiteral("Cold A"), 1},
                             {QStringLiteral("Cold/B"), 2}};
    }
    void publishesEachControllersOwnValues()
    {
        QFETCH(QList<Member>, members);
        const bool plant = !members.first().name.isEmpty();
        QStringList simArgs;
        for (const Member &m : members)
            simArgs << "--address" << QString::number(m.address);
        QVERIFY2(StartShippedSim(sim, simArgs), qPrintable(sim.errorText()));
        prepare();
        fixValues(members);
        QVERIFY2(broker.start(), qPrintable(broker.errorText()));
        MqttSubscriber sub;
        QVERIFY(sub.connect(broker.port(), {"velmaris/#"}));
        QStringList args{"serve", "--mqtt", broker.url()};
        if (plant) {
            PlantConfig config;
            for (const Member &m : members) {
                PlantEntry e;
                e.name = m.name;
                e.port = sim.portSetting();
                e.address = m.address;
                config.controllers.push_back(e);
            }
            QString error;
            QVERIFY2(WritePlant(kPlantFileName, config, error), qPrintable(error));
            args << "--plant" << "plant.ini";
        } else {
            args << "--address" << QString::number(members.first().address);
        }
        QProcess p;
        p.start(QStringLiteral(VELMARIS_CLI_PATH), args);
        QVERIFY(p.waitForStarted(10000));
        QByteArray err;
        const auto errText = [&] { return QString::fromUtf8(err += p.readAllStandardError()); };
        auto level = [](const Member &m) {
            return m.name.isEmpty() ? MqttAddressLevel(m.address) : MqttTopicLevel(m.name);
        };
        auto sensor = [&](const Member &m, int n) {
            return QJsonDocument::fromJson(
                       sub.latest(QStringLiteral("velmaris/%1/sensor/%2").arg(level(m)).arg(n)).payload)
                .object();
        };
        for (const Member &m : members) {
            const QString status = "velmaris/" + level(m) + "/status";
            QVERIFY2(sub.waitFor([&] { return sub.latest(status).payload == "online"; }, 60000),
                     qPrintable(status + "\n" + errText()));
            QVERIFY2(sub.waitFor([&] { return sensor(m, 4).value("t").toInt() == temperatureOf(m, 4); }, 30000),
                     qPrintable(level(m) + "\n" + errText()));
            for (int n = 1; n <= 4; ++n) {
                const QJsonObject o = sensor(m, n);
                const QString where = level(m) + QStringLiteral(" sensor %1: ").arg(n) +
                                      QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
                if (n == 3) {
                    QVERIFY2(o.value("t").isNull(), qPrintable(where));
                    QVERIFY2(o.value("status").toInt() == 10, qPrintable(where));
                } else {
                    QVERIFY2(o.value("t").toInt() == temperatureOf(m, n), qPrintable(where));
                    QVERIFY2(o.value("status").toInt() == 0, qPrintable(where));
                }
            }
        }
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        for (const Member &m : members) {
            const QString status = "velmaris/" + level(m) + "/status";
            QVERIFY2(sub.waitFor([&] { return sub.latest(status).payload == "offline"; }, 10000),
                     qPrintable(status));
        }
        // Each controller's connection told once, with its name in a plant.
        const QString connected = text(Msg::n714);
        QCOMPARE(errText().count(connected), members.size());
        if (plant)
            for (const Member &m : members)
                QVERIFY2(errText().contains(m.name + ": " + connected), qPrintable(errText()));
    }

    // No broker listening: polling goes on regardless, and the broker being away is told
    // once, not at every retry.
    void brokerAwayToldOnce()
    {
        QVERIFY2(StartShippedSim(sim, {"--address", "1"}), qPrintable(sim.errorText()));
        prepare();
        QVERIFY2(broker.start(), qPrintable(broker.errorText()));
        const QString url = broker.url();
        broker.stop(); // a port nobody listens on now
        const Run r = cli({"serve", "--address", "1", "--mqtt", url, "--for", "8s"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY2(r.err.contains(text(Msg::n101)), qPrintable(r.err));
        QVERIFY2(r.err.count(text(Msg::n715)) == 1, qPrintable(r.err));
        QVERIFY(!sim.logEntries("RX").isEmpty());
    }
};

QTEST_MAIN(TestCliMqtt)
#include "tst_cli_mqtt.moc"
