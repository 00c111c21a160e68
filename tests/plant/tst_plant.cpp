// plant.ini: every bad entry refused with its own message and nothing taken; names in
// Windows-1251 and UTF-8 read back; the file's order kept.
#include "Cp1251.h"
#include "MemIniFile.h"
#include "PlantConfig.h"
#include "PlantTexts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString Shipped(const QString &name) { return QStringLiteral(VELMARIS_SOURCE_DIR "/data/") + name; }

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray ReadBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Two controllers, one a line; what a failed read must leave in place.
PlantConfig Sentinel()
{
    PlantConfig p;
    p.controllers.push_back({QStringLiteral("kept"), QStringLiteral("/dev/ttyS9"), 9, {}, {}, {}, {}});
    return p;
}

} // namespace

class TestPlantConfig : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    MemIniFile m_start{Shipped(QStringLiteral("start.ini"))};

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_start.readInteger("connect", "speed", -1) == 0);
        QVERIFY(QDir(m_dir.path()).mkpath("Cfg"));
        QVERIFY(WriteBytes(m_dir.filePath("Cfg/special.ini"), "[hardware]\r\nfw=1.2\r\n"));
    }

    // Each fault a user can write into plant.ini, with the message that names it.
    void badEntryRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("names"); // what the message must also name

        const QByteArray a = "[A]\r\nport=/dev/ttyS0\r\nadr=1\r\n";
        QTest::newRow("same address, same port") << a + "[B]\r\nport=/dev/ttyS0\r\nadr=1\r\n" << "n647" << "A, B";
        QTest::newRow("same address, COM1 is ttyS0") << a + "[B]\r\nport=COM1\r\nadr=1\r\n" << "n647" << "A, B";
        QTest::newRow("same unit, one gateway") << QByteArray("[A]\r\nport=mbtcp://Gw:502\r\nadr=3\r\n[B]\r\nport=mbtcp://gw:502\r\nadr=3\r\n") << "n647" << "A, B";
        QTest::newRow("empty port") << QByteArray("[A]\r\nport= \r\nadr=1\r\n") << "n643" << "A";
        QTest::newRow("no port key") << QByteArray("[A]\r\nadr=1\r\n") << "n643" << "A";
        QTest::newRow("relative device") << QByteArray("[A]\r\nport=ttyUSB0\r\nadr=1\r\n") << "n644" << "ttyUSB0";
        QTest::newRow("COM0") << QByteArray("[A]\r\nport=COM0\r\nadr=1\r\n") << "n644" << "COM0";
        QTest::newRow("tcp without port") << QByteArray("[A]\r\nport=tcp://host\r\nadr=1\r\n") << "n644" << "tcp://host";
        QTest::newRow("unknown scheme") << QByteArray("[A]\r\nport=udp://host:502\r\nadr=1\r\n") << "n644" << "udp://";
        QTest::newRow("address 0") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=0\r\n") << "n645" << "A";
        QTest::newRow("address 248") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=248\r\n") << "n645" << "248";
        QTest::newRow("address not a number") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=1a\r\n") << "n650" << "adr=1a";
        QTest::newRow("address missing") << QByteArray("[A]\r\nport=/dev/ttyS0\r\n") << "n650" << "adr=";
        QTest::newRow("speed not a number") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=1\r\nspeed=fast\r\n") << "n650" << "speed=fast";
        QTest::newRow("speed item 5") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=1\r\nspeed=5\r\n") << "n655" << "speed=5";
        QTest::newRow("different speeds, one port") << a + "[B]\r\nport=/dev/ttyS0\r\nadr=2\r\nspeed=4\r\n" << "n648" << "A, B";
        QTest::newRow("different parity, one port") << a + "[B]\r\nport=/dev/ttyS0\r\nadr=2\r\nparity=1\r\n" << "n648" << "A, B";
        QTest::newRow("stop bits: default vs given") << a + "[B]\r\nport=/dev/ttyS0\r\nadr=2\r\nstopbits=1\r\n" << "n648" << "A, B";
        QTest::newRow("duplicate name") << a + "[B]\r\nport=/dev/ttyS1\r\nadr=1\r\n[a]\r\nport=/dev/ttyS2\r\nadr=1\r\n" << "n642" << "a";
        QTest::newRow("empty name") << QByteArray("[ ]\r\nport=/dev/ttyS0\r\nadr=1\r\n") << "n641" << "1)";
        QTest::newRow("cfg override missing") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=1\r\ncfg=Cfg/none.ini\r\n") << "n649" << "none.ini";
    }
    void badEntryRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, key);
        QFETCH(QString, names);
        const QString path = m_dir.filePath("plant.ini");
        QVERIFY(WriteBytes(path, file));
        PlantConfig out = Sentinel();
        QString error;
        QVERIFY(!ReadPlant(path, m_start, m_dir.path(), out, error));
        const QString head = LookupText(m_start, key.toLatin1().constData(), QStringLiteral("?"));
        QVERIFY2(error.startsWith(head), qPrintable(error));
        QVERIFY2(error.contains(names), qPrintable(error));
        QCOMPARE(out, Sentinel());
        QCOMPARE(ReadBytes(path), file); // reading never rewrites
    }

    // What must not be refused: the same address on two lines, one line at the defaults
    // written two ways, line settings of controllers behind a gateway.
    void soundPlantTaken_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("count");
        QTest::newRow("same address, two ports") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=1\r\n[B]\r\nport=/dev/ttyS1\r\nadr=1\r\n") << 2;
        QTest::newRow("default speed and speed=0") << QByteArray("[A]\r\nport=/dev/ttyS0\r\nadr=1\r\n[B]\r\nport=/dev/ttyS0\r\nadr=2\r\nspeed=0\r\n") << 2;
        QTest::newRow("speeds behind one gateway") << QByteArray("[A]\r\nport=mbtcp://gw:502\r\nadr=1\r\n[B]\r\nport=mbtcp://gw:502\r\nadr=2\r\nspeed=4\r\n") << 2;
        QTest::newRow("rtu and mbtcp to one host") << QByteArray("[A]\r\nport=tcp://gw:502\r\nadr=1\r\n[B]\r\nport=mbtcp://gw:502\r\nadr=1\r\n") << 2;
        QTest::newRow("cfg override present") << QByteArray("[A]\r\nport=COM3\r\nadr=247\r\ncfg=Cfg/special.ini\r\n") << 1;
        QTest::newRow("comments and blanks") << QByteArray("; plant\r\n\r\n[A]\r\n; first\r\nport = /dev/ttyS0\r\nadr= 5\r\n") << 1;
    }
    void soundPlantTaken()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, count);
        const QString path = m_dir.filePath("plant.ini");
        QVERIFY(WriteBytes(path, file));
        PlantConfig out;
        QString error;
        QVERIFY2(ReadPlant(path, m_start, m_dir.path(), out, error), qPrintable(error));
        QCOMPARE(int(out.controllers.size()), count);
    }

    void unreadableFileRefused()
    {
        PlantConfig out = Sentinel();
        QString error;
        QVERIFY(!ReadPlant(m_dir.filePath("no-such.ini"), m_start, m_dir.path(), out, error));
        QVERIFY2(error.startsWith(LookupText(m_start, Msg::n640)), qPrintable(error));
        QCOMPARE(out, Sentinel());
    }

    // The message in the program's language: [lang1] of the shipped file.
    void messageInEnglish()
    {
        MemIniFile english(Shipped(QStringLiteral("start.ini")));
        english.writeInteger("language", "lang", 1);
        PlantConfig p;
        p.controllers.push_back({QStringLiteral("A"), QStringLiteral("/dev/ttyS0"), 248, {}, {}, {}, {}});
        QCOMPARE(CheckPlant(p, english, m_dir.path()),
                 QStringLiteral("Address of controller A must be 1 to 247, not 248"));
    }

    // Written and read back: the encoding chosen by the names, the order of the file.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("cp1251") << QStringLiteral("Холодильная камера №2") << QStringLiteral("Аптека") << false;
        QTest::newRow("utf8 with bom") << QStringLiteral("Склад Ω") << QStringLiteral("倉庫") << true;
    }
    void roundTrip()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, utf8);
        PlantConfig p;
        p.controllers.push_back({first, QStringLiteral("/dev/ttyUSB0"), 7, 4, 0, 0, {}});
        p.controllers.push_back({second, QStringLiteral("mbtcp://10.0.0.5:502"), 3, {}, {}, {}, QStringLiteral("Cfg/special.ini")});
        const QString path = m_dir.filePath("round.ini");
        QString error;
        QVERIFY2(WritePlant(path, p, error), qPrintable(error));
        const QByteArray bytes = ReadBytes(path);
        QCOMPARE(bytes.startsWith("\xEF\xBB\xBF"), utf8);
        if (!utf8)
            QVERIFY(bytes.contains(Cp1251::encode(first)));
        QVERIFY(bytes.contains("\r\n"));
        PlantConfig back;
        QVERIFY2(ReadPlant(path, m_start, m_dir.path(), back, error), qPrintable(error));
        QCOMPARE(back, p);
    }

    // A file written by hand in UTF-8 with a BOM, sections out of alphabetical order.
    void utf8FileOrderKept()
    {
        const QString path = m_dir.filePath("plant.ini");
        QVERIFY(WriteBytes(path, "\xEF\xBB\xBF[Zebra]\r\nport=/dev/ttyS0\r\nadr=2\r\n"
                                 "[\xD0\x90\xD0\xBF\xD1\x82\xD0\xB5\xD0\xBA\xD0\xB0]\r\nport=/dev/ttyS0\r\nadr=1\r\n"
                                 "[Mid]\r\nport=/dev/ttyS0\r\nadr=3\r\n"));
        PlantConfig out;
        QString error;
        QVERIFY2(ReadPlant(path, m_start, m_dir.path(), out, error), qPrintable(error));
        QCOMPARE(out.controllers.size(), size_t(3));
        QCOMPARE(out.controllers[0].name, QStringLiteral("Zebra"));
        QCOMPARE(out.controllers[1].name, QStringLiteral("Аптека"));
        QCOMPARE(out.controllers[2].name, QStringLiteral("Mid"));
    }

    // A write that cannot be done says so: a folder stands where the file would go (a
    // rename cannot replace it, whoever runs this).
    void failedWriteReported()
    {
        const QString path = m_dir.filePath("taken/plant.ini");
        QVERIFY(QDir().mkpath(path + "/inside"));
        QString error;
        QVERIFY(!WritePlant(path, Sentinel(), error, &m_start));
        QVERIFY2(error.startsWith(LookupText(m_start, Msg::n651)), qPrintable(error));
        QVERIFY(QFileInfo(path + "/inside").isDir());
    }

    // Every message of the plant in both language sections of the shipped file.
    void textsShipped()
    {
        for (const TextKey &k : Msg::plantTexts) {
            QVERIFY2(m_start.valueExists("lang0", k.key), k.key);
            QCOMPARE(m_start.readString("lang0", k.key, {}), QString::fromUtf16(k.russian));
            QVERIFY2(!m_start.readString("lang1", k.key, {}).isEmpty(), k.key);
        }
    }
};

QTEST_GUILESS_MAIN(TestPlantConfig)
#include "tst_plant.moc"
