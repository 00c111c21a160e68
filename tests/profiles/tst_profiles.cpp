#include "CellEditors.h"
#include "Cp1251.h"
#include "DeviceRegisterMap.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ProfileFile.h"
#include "ProfilePaths.h"
#include "SensorId.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "TextGrid.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const QString kSource = QStringLiteral(VELMARIS_SOURCE_DIR);

struct Message {
    QString caption, text;
};

// The user side of a main window with the shipped start.ini, its grids labelled for the
// firmware 1.2 register map (7 sensor columns, 4 relays of 4 settings) as the language
// pass labels them.
struct Window {
    MemIniFile settingsIni{kSource + QStringLiteral("/data/start.ini")};
    MemIniFile deviceIni{kSource + QStringLiteral("/data/Cfg/qor7070__fw_1_2.ini")};
    TextGrid sensors{7, 2};
    TextGrid tags{1, 2};
    TextGrid relays{5, 5};
    ConnectUserValues connect;
    QList<Message> messages;
    int tagSize = 8; // QOR_SENSOR_TAG_SIZE of the firmware 1.2 map: 16 characters

    explicit Window(int lang = 0)
    {
        settingsIni.rename(QString(), false); // never written back
        deviceIni.rename(QString(), false);
        setLanguage(lang);
    }

    void setLanguage(int lang)
    {
        settingsIni.writeInteger(QStringLiteral("language"), QStringLiteral("lang"), lang);
        const auto text = [&](int key) {
            return LookupText(settingsIni, QStringLiteral("n%1").arg(key).toLatin1().constData(),
                              QStringLiteral("Not found"));
        };
        for (int c = 0; c < 7; ++c)
            sensors.setCell(c, 0, text(25 + c));
        for (int r = 1; r < sensors.rowCountGrid(); ++r)
            if (const int n = SensorNumberOfRow(sensors, r, 36))
                sensors.setCell(0, r, SensorRowHeader(sensorWord(), n));
        tags.setCell(0, 0, text(122));
        for (int c = 0; c < 5; ++c)
            relays.setCell(c, 0, text(34 + c));
        const QString relayWord = LookupText(settingsIni, "n39", QStringLiteral("Реле"));
        for (int k = 1; k <= 4; ++k)
            relays.setCell(0, k, relayWord + u' ' + QString::number(k));
    }

    QString sensorWord() const { return LookupText(settingsIni, Msg::n32); }

    // Sensors with values of their own: ID 100000 + 111 n, parameter c = 10 n + c; tag "T<n>".
    void fillSensors(const QList<int> &numbers)
    {
        QList<bool> ticks(36, false);
        for (int n : numbers)
            ticks[n - 1] = true;
        ApplySensorSelection(sensors, tags, ticks, 36, sensorWord());
        for (int r = 1; r < sensors.rowCountGrid(); ++r) {
            const int n = SensorNumberOfRow(sensors, r, 36);
            sensors.setCell(1, r, FormatSensorId(100000 + 111 * n));
            for (int c = 2; c < 7; ++c)
                sensors.setCell(c, r, QString::number(10 * n + c));
            tags.setCell(0, r, QStringLiteral("T%1").arg(n));
        }
    }

    void fillRelays(int base)
    {
        for (int k = 1; k <= 4; ++k)
            for (int c = 1; c < 5; ++c)
                relays.setCell(c, k, QString::number(base + 10 * k + c));
    }

    // The state saved by the golden files: odd texts where the format could lose them.
    void fillGolden()
    {
        fillSensors({12, 3, 7});
        sensors.setCell(2, 2, QStringLiteral(" -5 ")); // sensor 7: blanks are part of the value
        sensors.setCell(6, 3, QString());              // sensor 12: an empty cell
        tags.setCell(0, 1, QStringLiteral("Склад №1"));
        tags.setCell(0, 2, QStringLiteral("a=b; c")); // only the first "=" splits
        tags.setRowCount(3);                          // sensor 12 has no tag row
        fillRelays(0);
        connect = {QStringLiteral("17"), 4, 2, 1, QStringLiteral("126"), 1};
    }

    ProfileUserSide user() { return {sensors, tags, relays, connect}; }
    ProfileContext context()
    {
        return {settingsIni, deviceIni, 36,
                [this](const QString &caption, const QString &text) {
                    messages.append({caption, text});
                },
                tagSize};
    }

    bool save(const QString &path, bool ids)
    {
        return SaveProfileFile(path, user(), QStringLiteral("2.0"), QStringLiteral("1.2"), ids,
                               context());
    }
    bool load(const QString &path) { return LoadProfileFile(path, user(), context()); }

    // Every cell of the three tables and the connection values.
    QStringList snapshot() const
    {
        QStringList out;
        for (const TextGrid *g : {&sensors, &tags, &relays})
            for (int r = 0; r < g->rowCountGrid(); ++r)
                out.append(g->rowTexts(r).join(u'|'));
        out.append(QStringLiteral("%1|%2|%3|%4|%5|%6")
                       .arg(connect.addr)
                       .arg(connect.baud)
                       .arg(connect.parity)
                       .arg(connect.stops)
                       .arg(connect.chan)
                       .arg(connect.language));
        return out;
    }
    QString lastText() const { return messages.isEmpty() ? QString() : messages.last().text; }
};

// A profile written by hand, in the code page of the program.
QString WriteProfile(const QTemporaryDir &dir, const QString &name, const QString &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(Cp1251::encode(QString(text).replace(u'\n', QStringLiteral("\r\n"))));
    return path;
}

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestProfiles : public QObject {
    Q_OBJECT
private slots:
    void roundTripMatchesGoldenFile_data();
    void roundTripMatchesGoldenFile();
    void loadRebuildsSensorTablesInNumberOrder();
    void loadKeepsRelayRowsWithoutSection();
    void loadConnectIndexes_data();
    void loadConnectIndexes();
    void firmwareMismatchLoadsNothing_data();
    void firmwareMismatchLoadsNothing();
    void beforeIdentificationOnlyDefaultFirmwareLoads();

    void saveIsAtomicAndReportsFailure();
    void txtAppendedOnlyWhenMissing_data();
    void txtAppendedOnlyWhenMissing();
    void saveDialogFolder_data();
    void saveDialogFolder();
    void saveRefusesDoubledHeader_data();
    void saveRefusesDoubledHeader();
    void saveReplacesCharactersOutsideCodePage();
    void loadMatchesOtherLanguage_data();
    void loadMatchesOtherLanguage();
    void loadRefusesProfileMatchingNoLanguage();
    void loadRefusesBadFiles_data();
    void loadRefusesBadFiles();
    void loadCutsTagsAsTypingDoes_data();
    void loadCutsTagsAsTypingDoes();
};

void TestProfiles::roundTripMatchesGoldenFile_data()
{
    QTest::addColumn<bool>("ids");
    QTest::addColumn<QString>("golden");
    QTest::newRow("with IDs") << true << QStringLiteral("profile_ids.txt");
    QTest::newRow("without IDs") << false << QStringLiteral("profile_noids.txt");
}

void TestProfiles::roundTripMatchesGoldenFile()
{
    QFETCH(bool, ids);
    QFETCH(QString, golden);
    QTemporaryDir dir;
    Window saved;
    saved.fillGolden();
    const QString path = dir.filePath(QStringLiteral("p.txt"));
    QVERIFY(saved.save(path, ids));
    QVERIFY2(saved.messages.isEmpty(), qPrintable(saved.lastText()));

    const QByteArray expected =
        FileBytes(kSource + QStringLiteral("/tests/profiles/data/") + golden);
    const QByteArray actual = FileBytes(path);
    if (actual != expected) {
        const QString keep = QDir::temp().filePath(golden);
        QFile::remove(keep);
        QFile::copy(path, keep);
        QFAIL(qPrintable(QStringLiteral("differs from the golden file; written: ") + keep));
    }

    // Loaded into a window holding the same sensors with IDs, others, other relays and
    // other connection values.
    Window loaded;
    loaded.fillSensors({1, 3, 7, 12, 30});
    loaded.fillRelays(500);
    loaded.connect = {QStringLiteral("1"), 0, 0, 0, QStringLiteral("1"), 0};
    QVERIFY(loaded.load(path));
    QVERIFY2(loaded.messages.isEmpty(), qPrintable(loaded.lastText()));

    QCOMPARE(loaded.sensors.rowCountGrid(), 4);
    QCOMPARE(loaded.tags.rowCountGrid(), 4);
    for (int r = 1; r < 4; ++r) {
        QStringList row = saved.sensors.rowTexts(r);
        if (!ids)
            row[1].clear(); // not stored, so loaded as the empty text
        QCOMPARE(loaded.sensors.rowTexts(r), row);
        QCOMPARE(loaded.tags.cell(0, r),
                 r < saved.tags.rowCountGrid() ? saved.tags.cell(0, r) : QString());
    }
    for (int r = 0; r < 5; ++r)
        QCOMPARE(loaded.relays.rowTexts(r), saved.relays.rowTexts(r));
    QCOMPARE(loaded.snapshot().last(), saved.snapshot().last());
}

void TestProfiles::loadRebuildsSensorTablesInNumberOrder()
{
    QTemporaryDir dir;
    const QString path =
        WriteProfile(dir, QStringLiteral("order.txt"),
                     QStringLiteral("[hardware]\nfw=1.2\n"
                                    "[Датчик 12]\nПорог 1, °C=12\n"
                                    "[tags]\nдатчик 3=third\nДатчик 12=twelfth\n"
                                    "[ДАТЧИК 3]\nID датчика=000 003\nПорог 1, °C=3\n"
                                    "[Датчик 5]\n" // a section without lines is no sensor
                                    "[Датчик 37]\nПорог 1, °C=37\n" // beyond MAX_SENSORS
                                    "[Датчик 7]\nпорог 2, °c=7\n"));
    Window w;
    w.fillSensors({1, 5, 30}); // all three disappear: 5's section is empty
    QVERIFY(w.load(path));

    QCOMPARE(w.sensors.rowCountGrid(), 4);
    const QStringList expected[] = {
        {"Датчик 3", "000 003", "3", "", "", "", ""},
        {"Датчик 7", "", "", "7", "", "", ""},
        {"Датчик 12", "", "12", "", "", "", ""},
    };
    for (int r = 1; r < 4; ++r)
        QCOMPARE(w.sensors.rowTexts(r), expected[r - 1]);
    QCOMPARE(w.tags.rowCountGrid(), 4);
    QCOMPARE(w.tags.rowTexts(0), QStringList{QStringLiteral("Метка датчика")});
    QCOMPARE(w.tags.cell(0, 1), QStringLiteral("third"));
    QCOMPARE(w.tags.cell(0, 2), QString());
    QCOMPARE(w.tags.cell(0, 3), QStringLiteral("twelfth"));
}

void TestProfiles::loadKeepsRelayRowsWithoutSection()
{
    QTemporaryDir dir;
    // Only relay 2, one key missing; no sensor section: both sensor tables keep one
    // empty row.
    const QString path = WriteProfile(
        dir, QStringLiteral("relay.txt"),
        QStringLiteral(
            "[hardware]\nfw=1.2\n[Реле 2]\nРежим=2\nЗадержка вкл., с=30\nТайм-аут связи, с=600\n"));
    Window w;
    w.fillSensors({4, 9});
    w.fillRelays(500);
    const QStringList relay1 = w.relays.rowTexts(1);
    QVERIFY(w.load(path));
    QCOMPARE(w.relays.rowTexts(1), relay1);
    QCOMPARE(w.relays.rowTexts(2), (QStringList{"Реле 2", "2", "30", "", "600"}));
    QCOMPARE(w.relays.cell(1, 3), QStringLiteral("531"));
    QCOMPARE(w.sensors.rowCountGrid(), 2);
    QCOMPARE(w.sensors.rowTexts(1), QStringList(7));
    QCOMPARE(w.tags.rowCountGrid(), 2);
    QCOMPARE(w.tags.cell(0, 1), QString());
}

void TestProfiles::loadConnectIndexes_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all missing: defaults") << QString() << QStringLiteral("---|0|0|1|---|0");
    QTest::newRow("-1: nothing selected")
        << QStringLiteral(
               "address=5\nbaudrate=-1\nparity=-1\nstopbits=-1\nchannel=9\nlanguage=-1\n")
        << QStringLiteral("5|-1|-1|-1|9|-1");
    QTest::newRow("outside the lists, not numbers")
        << QStringLiteral("address=\nbaudrate=5\nparity=3\nstopbits=x\nchannel= 7 \nlanguage=2\n")
        << QStringLiteral("|-1|-1|1| 7 |-1");
    QTest::newRow("last items") << QStringLiteral("baudrate=4\nparity=2\nstopbits=1\nlanguage=1\n")
                                << QStringLiteral("---|4|2|1|---|1");
}

void TestProfiles::loadConnectIndexes()
{
    QFETCH(QString, section);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = WriteProfile(dir, QStringLiteral("c.txt"),
                                      QStringLiteral("[hardware]\nfw=1.2\n[connect]\n") + section);
    Window w;
    w.connect = {QStringLiteral("100"), 2, 2, 0, QStringLiteral("100"), 1};
    QVERIFY(w.load(path));
    QCOMPARE(w.snapshot().last(), expected);
}

void TestProfiles::firmwareMismatchLoadsNothing_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("message");
    QTest::newRow("Russian") << 0
                             << QStringLiteral("Версия прошивки в файле профиля: FW 1.1 не "
                                               "совпадает с файлом конфигурации: FW 1.2. Профиль "
                                               "не будет загружен. Выберите файл профиля для "
                                               "данной версии прошивки.");
    QTest::newRow("English") << 1
                             << QStringLiteral(
                                    "Firmware version in the profile file: FW 1.1 does not match "
                                    "the configuration file: FW 1.2. The profile will not be "
                                    "loaded. Choose a profile file for this firmware version.");
}

void TestProfiles::firmwareMismatchLoadsNothing()
{
    QFETCH(int, lang);
    QFETCH(QString, message);
    QTemporaryDir dir;
    Window saved(lang);
    saved.fillGolden();
    const QString path = dir.filePath(QStringLiteral("p.txt"));
    QVERIFY(SaveProfileFile(path, saved.user(), QStringLiteral("2.0"), QStringLiteral("1.1"), true,
                            saved.context()));
    Window w(lang);
    w.fillSensors({2});
    w.fillRelays(500);
    const QStringList before = w.snapshot();
    QVERIFY(!w.load(path));
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.messages[0].caption, lang == 0 ? QStringLiteral("Ошибка") : QStringLiteral("Error"));
    QCOMPARE(w.messages[0].text, message);
    QCOMPARE(w.snapshot(), before);
}

void TestProfiles::beforeIdentificationOnlyDefaultFirmwareLoads()
{
    QTemporaryDir dir;
    Window w;
    w.deviceIni = MemIniFile(kSource + QStringLiteral("/data/default.ini"));
    QVERIFY(!w.deviceIni.sections().isEmpty());
    QCOMPARE(w.deviceIni.readString(QStringLiteral("hardware"), QStringLiteral("fw"), {}),
             QString());
    const QString v12 =
        WriteProfile(dir, QStringLiteral("v12.txt"),
                     QStringLiteral("[hardware]\nhw=2.0\nfw=1.2\n[connect]\naddress=5\n"));
    const QString none =
        WriteProfile(dir, QStringLiteral("none.txt"),
                     QStringLiteral("[hardware]\nhw=\nfw=\n[connect]\naddress=6\n"));
    QVERIFY(!w.load(v12));
    QVERIFY(w.lastText().endsWith(QStringLiteral(": FW . Профиль не будет загружен. Выберите "
                                                 "файл профиля для данной версии прошивки.")));
    QCOMPARE(w.connect.addr, QString());
    QVERIFY(w.load(none));
    QCOMPARE(w.connect.addr, QStringLiteral("6"));
}

void TestProfiles::saveIsAtomicAndReportsFailure()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a file-size limit to make the write fail");
#else
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[hardware]\r\nfw=old\r\n");
    }
    Window w;
    w.fillGolden();

    // A file-size limit makes the write fail as a full disk would.
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    const bool ok = w.save(path, true);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].text.startsWith(QStringLiteral("Не удалось сохранить файл профиля: ") +
                                           QDir::toNativeSeparators(path)),
             qPrintable(w.messages[0].text));
    QCOMPARE(FileBytes(path), QByteArray("[hardware]\r\nfw=old\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.txt"});

    QVERIFY(w.save(path, true));
    QVERIFY(FileBytes(path).startsWith("[hardware]\r\nhw=2.0\r\nfw=1.2\r\n\r\n"));
#endif
}

void TestProfiles::txtAppendedOnlyWhenMissing_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("target");
    QTest::newRow("no extension") << "/p/a"
                                  << "/p/a.txt";
    QTest::newRow("already .txt") << "/p/a.txt"
                                  << "/p/a.txt";
    QTest::newRow("upper case") << "/p/A.TXT"
                                << "/p/A.TXT";
    QTest::newRow("other extension") << "/p/a.ini"
                                     << "/p/a.ini.txt";
    QTest::newRow(".txt in the middle") << "/p/a.txt.bak"
                                        << "/p/a.txt.bak.txt";
    QTest::newRow("folder named .txt") << "/p.txt/a"
                                       << "/p.txt/a.txt";
}

void TestProfiles::txtAppendedOnlyWhenMissing()
{
    QFETCH(QString, chosen);
    QFETCH(QString, target);
    QCOMPARE(ProfileTargetPath(chosen), target);

    // The dialog asked about the chosen file; only another file that exists needs asking.
    QTemporaryDir dir;
    const QString name = dir.filePath(QFileInfo(chosen).fileName());
    QVERIFY(!ProfileTargetNeedsOverwritePrompt(name));
    QFile(ProfileTargetPath(name)).open(QIODevice::WriteOnly);
    QCOMPARE(ProfileTargetNeedsOverwritePrompt(name), ProfileTargetPath(name) != name);
}

void TestProfiles::saveDialogFolder_data()
{
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QString>("folder");
    QTest::newRow("never saved") << QString() << "/work/dir";
    QTest::newRow("equal to the current folder") << "/work/dir"
                                                 << "/work/dir";
    QTest::newRow("slashes") << "/home/u/profiles/p.txt"
                             << "/home/u/profiles";
    QTest::newRow("backslashes") << "C:\\Users\\u\\p.txt"
                                 << "C:\\Users\\u";
    QTest::newRow("no separator") << "p.txt"
                                  << "";
}

void TestProfiles::saveDialogFolder()
{
    QFETCH(QString, saved);
    QFETCH(QString, folder);
    MemIniFile ini{QString()};
    if (!saved.isNull())
        ini.writeString(ProfileKeys::section, ProfileKeys::save, saved);
    QCOMPARE(ProfileSaveDialogFolder(ini, QStringLiteral("/work/dir")), folder);
}

void TestProfiles::saveRefusesDoubledHeader_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<int>("table"); // 0 sensors, 1 relays
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("named");
    // A language without header texts: every column reads "Not found".
    QTest::newRow("headers missing") << 5 << -1 << 0 << QString() << "Not found";
    QTest::newRow("differ only in case") << 0 << 0 << 4 << "ПОРОГ 1, °C"
                                         << "ПОРОГ 1, °C";
    QTest::newRow("differ only in blanks") << 1 << 1 << 3 << " On delay, s "
                                           << " On delay, s ";
    QTest::newRow("a key the reader would split") << 0 << 1 << 2 << "a=b"
                                                  << "a=b";
}

void TestProfiles::saveRefusesDoubledHeader()
{
    QFETCH(int, lang);
    QFETCH(int, table);
    QFETCH(int, col);
    QFETCH(QString, header);
    QFETCH(QString, named);
    QTemporaryDir dir;
    Window w(lang);
    w.fillGolden();
    if (table >= 0)
        (table == 0 ? w.sensors : w.relays).setCell(col, 0, header);
    const QString path = dir.filePath(QStringLiteral("p.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    QVERIFY(!w.save(path, false));
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.lastText().endsWith(QStringLiteral(": ") + named), qPrintable(w.lastText()));
    QCOMPARE(FileBytes(path), QByteArray("old"));
}

void TestProfiles::saveReplacesCharactersOutsideCodePage()
{
    QTemporaryDir dir;
    Window w;
    w.fillGolden();
    w.connect.addr = QStringLiteral("1✓7");
    const QString path = dir.filePath(QStringLiteral("p.txt"));
    QVERIFY(w.save(path, true));
    QCOMPARE(w.messages.size(), 1);
    QVERIFY(w.lastText().endsWith(QStringLiteral("✓")));
    QVERIFY(FileBytes(path).contains("\r\naddress=1?7\r\n"));
}

void TestProfiles::loadMatchesOtherLanguage_data()
{
    QTest::addColumn<int>("savedIn");
    QTest::addColumn<int>("loadedIn");
    QTest::newRow("Russian profile, English window") << 0 << 1;
    QTest::newRow("English profile, Russian window") << 1 << 0;
}

void TestProfiles::loadMatchesOtherLanguage()
{
    QFETCH(int, savedIn);
    QFETCH(int, loadedIn);
    QTemporaryDir dir;
    Window saved(savedIn);
    saved.fillGolden();
    const QString path = dir.filePath(QStringLiteral("p.txt"));
    QVERIFY(saved.save(path, true));

    Window loaded(loadedIn);
    loaded.fillSensors({1});
    loaded.fillRelays(500);
    QVERIFY(loaded.load(path));
    QVERIFY2(loaded.messages.isEmpty(), qPrintable(loaded.lastText()));
    QCOMPARE(loaded.sensors.rowCountGrid(), 4);
    const int numbers[] = {3, 7, 12};
    for (int r = 1; r < 4; ++r) {
        QCOMPARE(loaded.sensors.cell(0, r), SensorRowHeader(loaded.sensorWord(), numbers[r - 1]));
        QCOMPARE(loaded.sensors.rowTexts(r).mid(1), saved.sensors.rowTexts(r).mid(1));
    }
    QCOMPARE(loaded.tags.cell(0, 1), QStringLiteral("Склад №1"));
    for (int r = 1; r < 5; ++r)
        QCOMPARE(loaded.relays.rowTexts(r).mid(1), saved.relays.rowTexts(r).mid(1));
    QCOMPARE(loaded.snapshot().last(), saved.snapshot().last());
}

void TestProfiles::loadRefusesProfileMatchingNoLanguage()
{
    QTemporaryDir dir;
    // A device-configuration file passes the firmware check (fw=1.2) but holds no profile.
    const QString cfg = kSource + QStringLiteral("/data/Cfg/qor7070__fw_1_2.ini");
    // Sections of a language start.ini does not have.
    const QString foreign =
        WriteProfile(dir, QStringLiteral("de.txt"),
                     QStringLiteral("[hardware]\nfw=1.2\n[Fühler 3]\nSchwelle 1=5\n[tags]\nFühler "
                                    "3=x\n[connect]\naddress=9\n"));
    for (const QString &path : {cfg, foreign}) {
        Window w;
        w.fillSensors({2, 4});
        w.fillRelays(500);
        w.connect = {QStringLiteral("100"), 2, 2, 0, QStringLiteral("100"), 1};
        const QStringList before = w.snapshot();
        QVERIFY(!w.load(path));
        QCOMPARE(w.messages.size(), 1);
        QVERIFY2(w.lastText().startsWith(QStringLiteral("Ни один раздел датчика или реле")),
                 qPrintable(w.lastText()));
        QCOMPARE(w.snapshot(), before);
    }
}

void TestProfiles::loadRefusesBadFiles_data()
{
    QTest::addColumn<int>("kind"); // 0 a file of content, 1 no file, 2 a folder
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    const QString notProfile =
        QStringLiteral("Файл не является файлом профиля (текстовым файлом INI): ");
    QTest::newRow("missing") << 1 << QByteArray() << "Текущий файл профиля не найден!";
    QTest::newRow("a folder") << 2 << QByteArray() << "Не удалось открыть файл профиля: ";
    QTest::newRow("binary") << 0 << QByteArray("[hardware]\r\nfw=1.2\r\n\0\x01\x02", 23)
                            << notProfile;
    QTest::newRow("text without sections") << 0 << QByteArray("fw=1.2\r\nhello\r\n") << notProfile;
    QTest::newRow("empty") << 0 << QByteArray() << notProfile;
    QByteArray huge("[hardware]\r\nfw=1.2\r\n[connect]\r\n");
    huge.append(QByteArray(kMaxProfileBytes, 'x'));
    QTest::newRow("huge") << 0 << huge << "Файл профиля слишком велик (не более 1 МБ): ";
}

void TestProfiles::loadRefusesBadFiles()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.txt"));
    if (kind == 2) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("p.txt")));
    } else if (kind == 0) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    Window w;
    w.fillSensors({2, 4});
    w.fillRelays(500);
    w.connect = {QStringLiteral("100"), 2, 2, 0, QStringLiteral("100"), 1};
    const QStringList before = w.snapshot();
    QVERIFY(!w.load(path));
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.messages[0].caption, QStringLiteral("Ошибка"));
    QVERIFY2(w.lastText().startsWith(message), qPrintable(w.lastText()));
    QCOMPARE(w.snapshot(), before);
}

void TestProfiles::loadCutsTagsAsTypingDoes_data()
{
    QTest::addColumn<int>("tagSize");
    QTest::addColumn<QString>("tag");
    const QString letters = QStringLiteral("Камера_сушки_номер_7_левая_сторона_");
    QTest::newRow("fits") << 8 << letters.left(16);
    QTest::newRow("one too many") << 8 << letters.left(17);
    QTest::newRow("33 characters, 16 words") << 16 << letters.left(33);
    QTest::newRow("33 characters, 8 words") << 8 << letters.left(33);
    QTest::newRow("firmware without tags") << 0 << letters.left(33);
}

// A loaded tag is cut where typing cuts it: the tag table never holds more than a write
// sends, so the controller's copy read back equals it and the tables do not stay different.
void TestProfiles::loadCutsTagsAsTypingDoes()
{
    QFETCH(int, tagSize);
    QFETCH(QString, tag);
    QTemporaryDir dir;
    const QString path = WriteProfile(dir, QStringLiteral("long.txt"),
                                      QStringLiteral("[hardware]\nfw=1.2\n[Датчик 3]\n"
                                                     "Порог 1, °C=3\n[tags]\nДатчик 3=") +
                                          tag + u'\n');
    Window w;
    w.tagSize = tagSize;
    QVERIFY(w.load(path));
    QCOMPARE(w.tags.rowCountGrid(), 2);

    DeviceRegisterMap map;
    map.QOR_SENSOR_TAG_SIZE = quint16(tagSize);
    TextGrid typed{1, 2};
    typed.setFixed(0, 1); // as the window's tag table
    InstallTagCellEditor(typed, map, w.settingsIni, {});
    QVERIFY(typed.setData(typed.index(1, 0), tag, Qt::EditRole));
    QCOMPARE(w.tags.cell(0, 1), typed.cell(0, 1));
    if (tagSize > 0)
        QCOMPARE(SensorTagText(SensorTagWords(w.tags.cell(0, 1), tagSize), tagSize),
                 w.tags.cell(0, 1));
    QVERIFY(w.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestProfiles)
#include "tst_profiles.moc"

