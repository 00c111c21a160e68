// The data files that ship with the program: what MemIniFile reads back from them must be
// a map the simulator can serve, limits for every column, and texts for every key.
#include "DeviceRegisterMap.h"
#include "MemIniFile.h"
#include "SimController.h"

#include <QtTest>

namespace {
const QString kData = QStringLiteral(VELMARIS_SOURCE_DIR "/data");
}

class SimDataTest : public QObject {
    Q_OBJECT

private slots:
    void filesAreWindows1251WithCrLf()
    {
        for (const QString &name : {QStringLiteral("start.ini"), QStringLiteral("default.ini"),
                                    QStringLiteral("Cfg/qor7070__fw_1_0.ini"),
                                    QStringLiteral("Cfg/qor7070__fw_1_1.ini"),
                                    QStringLiteral("Cfg/qor7070__fw_1_2.ini")}) {
            QFile f(kData + u'/' + name);
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(name));
            const QByteArray bytes = f.readAll();
            QVERIFY2(bytes.endsWith("\r\n"), qPrintable(name));
            QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
        }
    }

    void deviceConfigurations_data()
    {
        QTest::addColumn<quint16>("fw");
        QTest::newRow("1.0") << quint16(0x0100);
        QTest::newRow("1.1") << quint16(0x0101);
        QTest::newRow("1.2") << quint16(0x0102);
    }
    void deviceConfigurations()
    {
        QFETCH(quint16, fw);
        const MemIniFile ini(DeviceConfigPath(kData, fw));
        QCOMPARE(ini.readString(QStringLiteral("hardware"), QStringLiteral("fw"), {}), VersionText(fw));
        DeviceRegisterMap map;
        QVERIFY(ParseRegisterMap(ini, map, fw));
        QCOMPARE(RegisterMapProblem(map, fw), QString());
        QCOMPARE(map.MAX_SENSORS, 36);
        QCOMPARE(map.RELAY_NUMBER, 4);
        QCOMPARE(map.SENSOR_SETTINGS_SIZE_MODBUS, 7);
        QCOMPARE(map.RELAY_SETTINGS_SIZE, 4);
        QCOMPARE(ini.valueExists(QStringLiteral("modbus"), QStringLiteral("QOR_SENSOR_TAG_SIZE")),
                 fw >= kFirstTagFirmware);
        if (fw >= kFirstTagFirmware)
            QCOMPARE(map.QOR_SENSOR_TAG_SIZE, 8);
        QVERIFY(ini.readInteger(QStringLiteral("measure"), QStringLiteral("period"), -1) > 0);
        // Every column has a real range: both keys present and down < up.
        const auto checkLimits = [&](const QString &section, int columns) {
            for (int k = 1; k <= columns; ++k) {
                const int down = ini.readInteger(section, QStringLiteral("down%1").arg(k), INT_MIN);
                const int up = ini.readInteger(section, QStringLiteral("up%1").arg(k), INT_MIN);
                QVERIFY2(down != INT_MIN && up != INT_MIN && down < up,
                         qPrintable(section + QString::number(k)));
            }
        };
        checkLimits(QStringLiteral("ss_limits"), map.SENSOR_SETTINGS_SIZE_MODBUS - 1);
        checkLimits(QStringLiteral("relay_limits"), map.RELAY_SETTINGS_SIZE);
        // The simulator serves this very map.
        SimController c;
        SimController::Options o;
        o.firmware = fw;
        QString error;
        QVERIFY2(c.configure(map, o, &error), qPrintable(error));
        // Relay numbers in the sensor settings must name relays that exist.
        QCOMPARE(ini.readInteger(QStringLiteral("ss_limits"), QStringLiteral("up5"), 0), map.RELAY_NUMBER);
        QCOMPARE(ini.readInteger(QStringLiteral("ss_limits"), QStringLiteral("up6"), 0), map.RELAY_NUMBER);
    }

    // Each shipped text section: no run of blanks inside or at the end of a text, and both
    // languages know every key the other has.
    void startIniTextsHaveSingleBlanks_data()
    {
        QTest::addColumn<QString>("section");
        for (const char *s : {"lang0", "lang1", "Memo1_lang0", "Memo2_lang0", "Memo1_lang1",
                              "Memo2_lang1"})
            QTest::newRow(s) << QString::fromLatin1(s);
    }
    void startIniTextsHaveSingleBlanks()
    {
        QFETCH(QString, section);
        const MemIniFile ini(kData + QStringLiteral("/start.ini"));
        const QStringList lines = ini.sectionLines(section);
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines)
            QVERIFY2(!line.contains(QStringLiteral("  ")), qPrintable(line));
        if (!section.startsWith(QStringLiteral("lang")))
            return;
        const QString other = section == QStringLiteral("lang0") ? QStringLiteral("lang1")
                                                                : QStringLiteral("lang0");
        for (const QString &line : lines) {
            const QString key = line.section(u'=', 0, 0);
            // lang0 needs no entry where the program's Russian default is the text.
            if (other == QStringLiteral("lang1") || key.mid(1).toInt() >= 410)
                QVERIFY2(!ini.readString(other, key, {}).isEmpty(), qPrintable(other + u' ' + key));
        }
    }

    void startIniTexts()
    {
        const MemIniFile ini(kData + QStringLiteral("/start.ini"));
        const auto keys = [](std::initializer_list<std::pair<int, int>> ranges) {
            QStringList out;
            for (const auto &[from, to] : ranges)
                for (int n = from; n <= to; ++n)
                    out << QStringLiteral("n%1").arg(n);
            return out;
        };
        const QStringList headers = keys({{12, 15}, {25, 31}, {34, 38}, {122, 122}});
        for (const QString &k : headers)
            QVERIFY2(!ini.readString(QStringLiteral("lang0"), k, {}).isEmpty(), qPrintable(k));
        // Headers are profile keys: within one table they must differ.
        for (const QString &lang : {QStringLiteral("lang0"), QStringLiteral("lang1")}) {
            for (const QStringList &table : {keys({{25, 31}}), keys({{34, 38}})}) {
                QSet<QString> seen;
                for (const QString &k : table) {
                    const QString text = ini.readString(lang, k, {});
                    QVERIFY2(!text.contains(u'=') && !seen.contains(text), qPrintable(lang + k));
                    seen.insert(text);
                }
            }
        }
        // Read back through the code page: Cyrillic and the degree sign survive.
        QCOMPARE(ini.readString(QStringLiteral("lang0"), QStringLiteral("n13"), {}),
                 QStringLiteral("Температура, °C"));
        // English for every key of the program's text tables.
        const QStringList english = keys({{1, 22}, {25, 66}, {67, 68}, {71, 77}, {79, 115},
                                          {120, 122}, {124, 125}, {127, 130}});
        for (const QString &k : english)
            QVERIFY2(!ini.readString(QStringLiteral("lang1"), k, {}).isEmpty(), qPrintable(k));
        QCOMPARE(ini.readString(QStringLiteral("lang1"), QStringLiteral("n83"), {}), QStringLiteral("Parameter "));
        for (const char *memo : {"Memo1_lang0", "Memo2_lang0", "Memo1_lang1", "Memo2_lang1"})
            QVERIFY2(ini.sectionExists(QString::fromLatin1(memo)), memo);
    }
};

QTEST_GUILESS_MAIN(SimDataTest)
#include "tst_sim_data.moc"
