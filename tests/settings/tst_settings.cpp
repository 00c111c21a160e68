#include "CellEditors.h"
#include "DeviceRegisterMap.h"
#include "MemIniFile.h"
#include "SensorId.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "SettingsValidation.h"
#include "TextGrid.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSensor = QStringLiteral("Датчик");

struct Message {
    QString caption, text;
};

// Records what would have been shown in message boxes.
struct Recorder {
    QList<Message> messages;
    ShowMessage sink()
    {
        return [this](const QString &caption, const QString &text) {
            messages.append({caption, text});
        };
    }
    QString last() const { return messages.isEmpty() ? QString() : messages.last().text; }
};

// A user table holding the given sensors with values "v<n>_<c>" and tags "t<n>".
void FillSensors(TextGrid &user, TextGrid &tags, const QList<int> &sensors)
{
    QList<bool> ticks(36, false);
    for (int n : sensors)
        ticks[n - 1] = true;
    ApplySensorSelection(user, tags, ticks, 36, kSensor);
    for (int r = 1; r < user.rowCountGrid(); ++r) {
        const int n = SensorNumberOfRow(user, r, 36);
        for (int c = 1; c < user.colCount(); ++c)
            user.setCell(c, r, QStringLiteral("v%1_%2").arg(n).arg(c));
        tags.setCell(0, r, QStringLiteral("t%1").arg(n));
    }
}

// Row header, values and tag of every data row, to compare whole tables.
QStringList Rows(const TextGrid &user, const TextGrid &tags)
{
    QStringList out;
    for (int r = 1; r < user.rowCountGrid(); ++r)
        out.append(user.rowTexts(r).join(u'|') + u'#' + tags.cell(0, r));
    return out;
}

// Controller and user sensor tables of 3 columns (header, ID, one parameter) for 36
// sensors, the user table a copy of controller rows `sensors`.
struct SensorPair {
    TextGrid contr{3, 37};
    TextGrid user{3, 2};
    TextGrid tags{1, 2};
    explicit SensorPair(const QList<int> &sensors)
    {
        for (int c = 0; c < 3; ++c)
            contr.setCell(c, 0, QStringLiteral("Not found"));
        for (int n = 1; n <= 36; ++n) {
            contr.setCell(0, n, QStringLiteral("Датчик %1").arg(n));
            contr.setCell(1, n, FormatSensorId(1000 + n));
            contr.setCell(2, n, QStringLiteral("0"));
        }
        for (int c = 0; c < 3; ++c)
            user.setCell(c, 0, contr.cell(c, 0));
        FillSensors(user, tags, sensors);
        for (int r = 1; r < user.rowCountGrid(); ++r)
            for (int c = 1; c < 3; ++c)
                user.setCell(c, r, contr.cell(c, SensorNumberOfRow(user, r, 36)));
    }
};

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void sensorIdFormatAndParse()
    {
        QCOMPARE(FormatSensorId(5), QStringLiteral("000 005"));
        QCOMPARE(FormatSensorId(123456), QStringLiteral("123 456"));
        QCOMPARE(FormatSensorId(0), QStringLiteral("000 000"));
        QCOMPARE(FormatSensorId(1234567), QStringLiteral("1234 567"));

        QCOMPARE(ParseSensorId(QStringLiteral("123 456")), 123456);
        QCOMPARE(ParseSensorId(QStringLiteral("12 3456")), 123456);
        QCOMPARE(ParseSensorId(QStringLiteral("000 000")), 0);
        QCOMPARE(ParseSensorId(QStringLiteral("abc")), -1);
        QCOMPARE(ParseSensorId(QString()), -1);
        QCOMPARE(ParseSensorId(QStringLiteral("12\t3")), -1); // only blanks are removed
        QCOMPARE(ParseSensorId(QStringLiteral("0x10")), -1);
        QCOMPARE(ParseSensorId(QStringLiteral("2147483 647")), 2147483647);
        QCOMPARE(ParseSensorId(QStringLiteral("2147483 648")), -1);

        QCOMPARE(ParseCellInteger(QStringLiteral(" -3 ")), std::optional<int>(-3));
        QCOMPARE(ParseCellInteger(QStringLiteral("3,5")), std::nullopt);
        QCOMPARE(ParseCellInteger(QStringLiteral("$10")), std::nullopt);
        QCOMPARE(ParseCellInteger(QString()), std::nullopt);
    }

    void sensorNumberFromRowHeader()
    {
        TextGrid t(2, 6);
        t.setCell(0, 0, QStringLiteral("Датчик 1"));
        t.setCell(0, 1, QStringLiteral("Датчик 12"));
        t.setCell(0, 2, QStringLiteral("Датчик 123")); // two characters only: 12
        t.setCell(0, 3, QStringLiteral("Датчик"));     // no blank: "Да"
        t.setCell(0, 4, QStringLiteral("Датчик 37"));
        t.setCell(0, 5, QStringLiteral("7"));
        QCOMPARE(SensorNumberOfRow(t, 0, 36), 0);
        QCOMPARE(SensorNumberOfRow(t, 1, 36), 12);
        QCOMPARE(SensorNumberOfRow(t, 2, 36), 12);
        QCOMPARE(SensorNumberOfRow(t, 3, 36), 0);
        QCOMPARE(SensorNumberOfRow(t, 4, 36), 0);
        QCOMPARE(SensorNumberOfRow(t, 5, 36), 7);
        QCOMPARE(SensorNumberOfRow(t, 6, 36), 0);

        QCOMPARE(FindSensorRow(t, 12, 36), 1);
        QCOMPARE(FindSensorRow(t, 7, 36), 5);
        QCOMPARE(FindSensorRow(t, 1, 36), 0); // the header row is not searched
        QCOMPARE(FindSensorRow(t, 7, 6), 0);
    }

    void idIncrementEnterAndSetZero()
    {
        TextGrid t(3, 5);
        t.setCell(1, 1, QStringLiteral("123456"));
        QVERIFY(!IncrementSensorId(t, 1, 1, true)); // row 1 has no row above
        QVERIFY(!IncrementSensorId(t, 2, 2, true)); // not the ID column
        QVERIFY(IncrementSensorId(t, 1, 2, false));
        QCOMPARE(t.cell(1, 1), QStringLiteral("123 456"));
        QCOMPARE(t.cell(1, 2), QStringLiteral("123 457"));

        t.setCell(1, 3, QStringLiteral("999 999"));
        QVERIFY(!IncrementSensorId(t, 1, 3, false)); // a filled cell is kept...
        QCOMPARE(t.cell(1, 3), QStringLiteral("999 999"));
        QVERIFY(IncrementSensorId(t, 1, 3, true)); // ...unless overwriting is allowed
        QCOMPARE(t.cell(1, 3), QStringLiteral("123 458"));

        t.setCell(1, 3, QStringLiteral("x"));
        QVERIFY(!IncrementSensorId(t, 1, 4, false)); // nothing readable above
        QVERIFY(t.cell(1, 4).isEmpty());

        t.setCell(1, 3, QStringLiteral("2147483647"));
        QVERIFY(IncrementSensorId(t, 1, 4, false)); // largest ID: no overflow
        QCOMPARE(t.cell(1, 4), QStringLiteral("2147483 648"));
        QCOMPARE(ParseSensorId(t.cell(1, 4)), -1); // and the check refuses it

        for (const char *typed : {"123 456", "123456", "12 3456"}) {
            t.setCell(1, 1, QString::fromLatin1(typed));
            QVERIFY(NormaliseSensorIdCell(t, 1, 1));
            QCOMPARE(t.cell(1, 1), QStringLiteral("123 456"));
        }
        t.setCell(1, 1, QStringLiteral("abc"));
        QVERIFY(!NormaliseSensorIdCell(t, 1, 1));
        QCOMPARE(t.cell(1, 1), QStringLiteral("abc"));

        SetZero(t);
        QCOMPARE(t.cell(1, 4), QStringLiteral("000 000"));
        QVERIFY(t.cell(1, 0).isEmpty());
    }

    void selectionMovesRowsWithTheirTags()
    {
        TextGrid user(3, 2), tags(1, 2);
        QList<bool> ticks(36, false);
        ticks[4] = ticks[2] = true;
        ApplySensorSelection(user, tags, ticks, 36, kSensor);
        QCOMPARE(user.rowCountGrid(), 3);
        QCOMPARE(user.cell(0, 1), QStringLiteral("Датчик 3"));
        QCOMPARE(user.cell(0, 2), QStringLiteral("Датчик 5"));
        QCOMPARE(tags.rowCountGrid(), 3);

        FillSensors(user, tags, {3, 5});
        ticks[0] = true; // add sensor 1 in front
        ApplySensorSelection(user, tags, ticks, 36, kSensor);
        QCOMPARE(Rows(user, tags), (QStringList{u"Датчик 1||#"_qs, u"Датчик 3|v3_1|v3_2#t3"_qs,
                                                u"Датчик 5|v5_1|v5_2#t5"_qs}));

        // Unchanged ticks change nothing.
        const QStringList before = Rows(user, tags);
        ApplySensorSelection(user, tags, SensorTicks(user, 36), 36, kSensor);
        QCOMPARE(Rows(user, tags), before);

        ticks[2] = false; // remove sensor 3 with its tag
        ApplySensorSelection(user, tags, ticks, 36, kSensor);
        QCOMPARE(Rows(user, tags), (QStringList{u"Датчик 1||#"_qs, u"Датчик 5|v5_1|v5_2#t5"_qs}));

        ApplySensorSelection(user, tags, QList<bool>(36, false), 36, kSensor);
        QCOMPARE(user.rowCountGrid(), 2);
        QCOMPARE(Rows(user, tags), QStringList{u"||#"_qs}); // one empty row stays

        // Ticks beyond MAX_SENSORS are ignored; a short tick list removes nothing.
        FillSensors(user, tags, {2});
        QList<bool> many(36, true);
        ApplySensorSelection(user, tags, many, 3, kSensor);
        QCOMPARE(SensorTicks(user, 36).count(true), 3);
        ApplySensorSelection(user, tags, QList<bool>{true}, 3, kSensor);
        QCOMPARE(SensorTicks(user, 36).count(true), 3);
    }

    void rowsOutsideOrderAndOutOfStepTags()
    {
        TextGrid user(2, 2), tags(1, 2);
        FillSensors(user, tags, {4, 8});
        user.setCell(0, 1, QStringLiteral("x")); // a row naming no sensor counts as lowest
        InsertSensorRow(user, 6, tags, 36, kSensor);
        QCOMPARE(user.cell(0, 2), QStringLiteral("Датчик 6"));
        QCOMPARE(tags.cell(0, 3), QStringLiteral("t8"));

        InsertSensorRow(user, 0, tags, 36, kSensor);
        InsertSensorRow(user, 37, tags, 36, kSensor);
        QCOMPARE(user.rowCountGrid(), 4);

        // A tag table that lost its rows is brought back in step, not misaligned.
        tags.setRowCount(2);
        InsertSensorRow(user, 9, tags, 36, kSensor);
        QCOMPARE(tags.rowCountGrid(), user.rowCountGrid());
        DeleteSensorRow(user, 1, tags);
        QCOMPARE(tags.rowCountGrid(), user.rowCountGrid());
        DeleteSensorRow(user, 0, tags); // the header row is never removed
        DeleteSensorRow(user, 9, tags);
        QCOMPARE(user.rowCountGrid(), 4);
        QCOMPARE(user.cell(0, 0), QString());
    }

    void copiesAndClearing()
    {
        SensorPair p({2});
        TextGrid tagContr(1, 37);
        tagContr.setCell(0, 36, QStringLiteral("t36"));
        CopyGridToGrid(p.contr, p.user);
        CopyGridToGrid(tagContr, p.tags);
        QCOMPARE(p.user.rowCountGrid(), 37);
        QCOMPARE(p.user.cell(1, 36), FormatSensorId(1036));
        QCOMPARE(p.tags.cell(0, 36), QStringLiteral("t36"));

        p.contr.setTopRow(20);
        ClearGridCells(p.contr, 1, 1);
        QCOMPARE(p.contr.cell(1, 5), QString());
        QCOMPARE(p.contr.cell(0, 5), QStringLiteral("Датчик 5"));
        QCOMPARE(p.contr.cell(1, 0), QStringLiteral("Not found"));
        QCOMPARE(p.contr.topRow(), 1);

        TextGrid relayContr(3, 4), relayUser(3, 3);
        for (int r = 0; r < 4; ++r)
            relayContr.setCell(0, r, QStringLiteral("Реле %1").arg(r));
        CopyRelayRows(relayContr, relayUser);
        QCOMPARE(relayUser.cell(0, 2), QStringLiteral("Реле 2")); // row headers too
        QCOMPARE(relayUser.cell(0, 0), QString());                // not the header row
        QCOMPARE(relayUser.rowCountGrid(), 3);
    }

    void sensorValidationMessages()
    {
        MemIniFile device{QString()}, texts{QString()};
        Recorder rec;
        int faultRow = -1;

        // The starting table: one row without a sensor.
        TextGrid user(3, 2), contr(3, 37);
        QVERIFY(!ValidateSensorSettings(user, contr, device, texts, 36, rec.sink(), &faultRow));
        QCOMPARE(rec.messages.last().caption, QStringLiteral("Ошибка"));
        QCOMPARE(rec.last(), QStringLiteral("Строка 1 не относится ни к какому-либо из датчиков "
                                            "(нет номера датчика в заголовке)"));
        QCOMPARE(faultRow, 1);

        SensorPair p({4, 9});
        QVERIFY(ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink(), &faultRow));
        QCOMPARE(faultRow, 0);
        p.contr.setCell(2, 9, QStringLiteral("---")); // a failed read copied as ---
        p.user.setCell(2, 2, QStringLiteral("---"));
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));
        QCOMPARE(
            rec.last(),
            QStringLiteral("Параметр Not found Датчик 9 должен быть положительным целым числом"));

        // Unchanged cells pass whatever the limits; a changed one meets [ss_limits].
        p.user.setCell(2, 2, QStringLiteral("0"));
        p.contr.setCell(2, 9, QStringLiteral("0"));
        p.user.setCell(2, 1, QStringLiteral("5"));
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));
        QCOMPARE(rec.last(), QStringLiteral("Параметр Not found Датчик 4 должен быть от 0 до 1"));
        p.user.setCell(2, 1, QStringLiteral("-3")); // a number, but below down2
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));
        QVERIFY(rec.last().endsWith(u"от 0 до 1"_qs));
        device.writeString(QStringLiteral("ss_limits"), QStringLiteral("down2"),
                           QStringLiteral("-3"));
        device.writeString(QStringLiteral("ss_limits"), QStringLiteral("up1"),
                           QStringLiteral("999999"));
        QVERIFY(ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));

        // The ID column reads IDs; the form pass covers every row before any range.
        p.user.setCell(1, 1, QStringLiteral("12 3456"));
        p.user.setCell(2, 2, QStringLiteral("3,5"));
        const int shown = rec.messages.size();
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));
        QCOMPARE(rec.messages.size(), shown + 1); // only the first fault
        QVERIFY(rec.last().endsWith(u"Датчик 9 должен быть положительным целым числом"_qs));
        p.user.setCell(2, 2, QString());
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));
        p.user.setCell(2, 2, QStringLiteral("0"));
        p.user.setCell(1, 1, QStringLiteral("1 000 000"));
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));
        QCOMPARE(rec.last(),
                 QStringLiteral("Параметр Not found Датчик 4 должен быть от 0 до 999999"));

        // Translated texts and headers are joined as they are, blanks included.
        texts.writeString(QStringLiteral("language"), QStringLiteral("lang"), QStringLiteral("1"));
        texts.writeString(QStringLiteral("lang1"), QStringLiteral("n67"), QStringLiteral("Error"));
        texts.writeString(QStringLiteral("lang1"), QStringLiteral("n83"),
                          QStringLiteral("Parameter "));
        texts.writeString(QStringLiteral("lang1"), QStringLiteral("n85"),
                          QStringLiteral(" must be from "));
        texts.writeString(QStringLiteral("lang1"), QStringLiteral("n86"), QStringLiteral(" to "));
        p.user.setCell(1, 0, QStringLiteral("ID"));
        p.user.setCell(0, 1, QStringLiteral("Sensor 4"));
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink()));
        QCOMPARE(rec.messages.last().caption, QStringLiteral("Error"));
        QCOMPARE(rec.last(), QStringLiteral("Parameter ID Sensor 4 must be from 0 to 999999"));

        // A row naming no sensor in the middle becomes the top row.
        p.user.setCell(0, 2, QStringLiteral("?"));
        QVERIFY(!ValidateSensorSettings(p.user, p.contr, device, texts, 36, rec.sink(), &faultRow));
        QCOMPARE(faultRow, 2);
        QCOMPARE(p.user.topRow(), 2);
        QVERIFY(rec.last().startsWith(u"Строка 2 не"_qs)); // n81/n82 not translated here
    }

    void relayValidationMessages()
    {
        MemIniFile device{QString()}, texts{QString()};
        Recorder rec;
        TextGrid contr(3, 4), user(3, 4);
        for (int r = 1; r < 4; ++r) {
            contr.setCell(0, r, QStringLiteral("Реле %1").arg(r));
            for (int c = 1; c < 3; ++c)
                contr.setCell(c, r, QStringLiteral("0"));
        }
        contr.setCell(1, 0, QStringLiteral("Not found"));
        contr.setCell(2, 0, QStringLiteral("Not found"));
        CopyGridToGrid(contr, user);
        contr.setCell(2, 3, QStringLiteral("junk"));
        user.setCell(2, 3, QStringLiteral("junk")); // unchanged: never examined
        QVERIFY(ValidateRelaySettings(user, contr, device, texts, rec.sink()));

        user.setCell(1, 1, QStringLiteral("1"));
        QVERIFY(ValidateRelaySettings(user, contr, device, texts, rec.sink()));
        user.setCell(1, 2, QStringLiteral("2"));
        QVERIFY(!ValidateRelaySettings(user, contr, device, texts, rec.sink()));
        QCOMPARE(rec.messages.last().caption, QStringLiteral("Ошибка"));
        QCOMPARE(rec.last(), QStringLiteral("Параметр Not found Реле 2 должен быть от 0 до 1"));

        // Every changed cell must be a number before any range is judged.
        user.setCell(2, 3, QStringLiteral("1.5"));
        QVERIFY(!ValidateRelaySettings(user, contr, device, texts, rec.sink()));
        QCOMPARE(
            rec.last(),
            QStringLiteral("Параметр Not found Реле 3 должен быть положительным целым числом"));

        user.setCell(2, 3, QStringLiteral("junk"));
        device.writeString(QStringLiteral("relay_limits"), QStringLiteral("up1"),
                           QStringLiteral("2"));
        QVERIFY(ValidateRelaySettings(user, contr, device, texts, rec.sink()));
    }

    void connectValidation()
    {
        MemIniFile texts{QString()};
        Recorder rec;
        const ConnectUserValues good{QStringLiteral("1"), 0, 0, 0, QStringLiteral("126"), 1};
        QVERIFY(ValidateConnectSettings(good, texts, rec.sink()));
        QVERIFY(rec.messages.isEmpty());

        for (const char *addr : {"0", "248", "-5", "12a", "", "$10"}) {
            ConnectUserValues v = good;
            v.addr = QString::fromLatin1(addr);
            v.baud = -1; // the address is judged first
            QVERIFY(!ValidateConnectSettings(v, texts, rec.sink()));
            QCOMPARE(rec.messages.last().caption, QStringLiteral("Ошибка"));
            QCOMPARE(
                rec.last(),
                QStringLiteral("Адрес модуля должен быть положительным целым числом от 1 до 247"));
        }
        ConnectUserValues v = good;
        v.addr = QStringLiteral("247");
        for (const char *chan : {"0", "127", "---"}) {
            v.chan = QString::fromLatin1(chan);
            QVERIFY(!ValidateConnectSettings(v, texts, rec.sink()));
            QCOMPARE(
                rec.last(),
                QStringLiteral("Номер канала должен быть положительным целым числом от 1 до 126"));
        }
        v.chan = QStringLiteral("1");

        const QList<std::pair<int ConnectUserValues::*, QString>> combos = {
            {&ConnectUserValues::baud, u"Параметр связи Скорость не выбран"_qs},
            {&ConnectUserValues::parity, u"Параметр связи Паритет не выбран"_qs},
            {&ConnectUserValues::stops, u"Параметр связи Кол-во Стоп-бит не выбран"_qs},
            {&ConnectUserValues::language, u"Параметр связи Язык меню не выбран"_qs}};
        for (const auto &[field, message] : combos) {
            for (int bad : {-1, 7}) { // no item, or an index outside the list
                ConnectUserValues w = v;
                w.*field = bad;
                w.language = field == &ConnectUserValues::language ? bad : -1;
                QVERIFY(!ValidateConnectSettings(w, texts, rec.sink()));
                QCOMPARE(rec.messages.last().caption, QStringLiteral("Ошибка"));
                QCOMPARE(rec.last(), message); // earlier boxes first, later ones wait
            }
        }
    }

    void tagCodec()
    {
        // "Ab" "Вг" "c" then the zero byte: high byte first, Windows-1251 bytes.
        const QList<quint16> words = SensorTagWords(QStringLiteral("AbВгc"), 4);
        QCOMPARE(words, (QList<quint16>{0x4162, 0xC2E3, 0x6300, 0x0000}));
        QCOMPARE(SensorTagText(words, 4), QStringLiteral("AbВгc"));

        const QString full = QStringLiteral("ABCDEFGH");
        QCOMPARE(SensorTagWords(full + u"IJ"_qs, 4), SensorTagWords(full, 4)); // cut, no zero
        QCOMPARE(SensorTagText(SensorTagWords(full, 4), 4), full);
        const quint16 noZero[] = {0x4142, 0x4344, 0x4546};
        QCOMPARE(SensorTagText(noZero, 2), QStringLiteral("ABCD"));
        QCOMPARE(SensorTagText(noZero, 8), QStringLiteral("ABCDEF")); // short record
        const quint16 leadingZero[] = {0x0041, 0x4243};
        QCOMPARE(SensorTagText(leadingZero, 2), QString());
        QCOMPARE(SensorTagWords(QStringLiteral("😀"), 1), QList<quint16>{0x3F00});
        QVERIFY(SensorTagWords(QStringLiteral("x"), 0).isEmpty());
    }

    void tagFileLoading()
    {
        QTemporaryDir dir;
        MemIniFile texts{QString()};
        Recorder rec;
        TextGrid tags(1, 6);
        for (int r = 1; r < 6; ++r)
            tags.setCell(0, r, QStringLiteral("old%1").arg(r));
        const auto path = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };

        WriteFile(path("three.txt"), "\xCF\xE5\xF7\xFC\r\nsecond line is long\n\nextra");
        QVERIFY(LoadTagFile(path("three.txt"), tags, 4, texts, rec.sink()));
        QCOMPARE(tags.cell(0, 1), QStringLiteral("Печь"));
        QCOMPARE(tags.cell(0, 2), QStringLiteral("second l")); // cut to 2 x 4
        QCOMPARE(tags.cell(0, 3), QString());
        QCOMPARE(tags.cell(0, 4), QStringLiteral("extra"));
        QCOMPARE(tags.cell(0, 5), QStringLiteral("old5"));
        QVERIFY(rec.messages.isEmpty());

        TextGrid two(1, 3);
        WriteFile(path("ten.txt"), "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n");
        QVERIFY(LoadTagFile(path("ten.txt"), two, 8, texts, rec.sink()));
        QCOMPARE(two.cell(0, 2), QStringLiteral("2"));
        QCOMPARE(two.rowCountGrid(), 3);

        // Files that cannot be read: one message naming the file, the table untouched.
        const QStringList before = {tags.cell(0, 1), tags.cell(0, 2), tags.cell(0, 4)};
        const auto unchanged = [&] {
            return QStringList{tags.cell(0, 1), tags.cell(0, 2), tags.cell(0, 4)} == before;
        };
        QDir(dir.path()).mkdir(QStringLiteral("folder"));
        for (const char *name : {"missing.txt", "folder"}) {
            const int shown = rec.messages.size();
            QVERIFY2(!LoadTagFile(path(name), tags, 4, texts, rec.sink()), name);
            QCOMPARE(rec.messages.size(), shown + 1);
            QVERIFY2(rec.last().contains(QString::fromLatin1(name)), qPrintable(rec.last()));
            QVERIFY(unchanged());
        }
        // An empty file (a byte-order mark alone is empty too) changes nothing, silently.
        const int shown = rec.messages.size();
        WriteFile(path("empty.txt"), "");
        WriteFile(path("bom-only.txt"), "\xEF\xBB\xBF");
        for (const char *name : {"empty.txt", "bom-only.txt"})
            QVERIFY2(LoadTagFile(path(name), tags, 4, texts, rec.sink()), name);
        QCOMPARE(rec.messages.size(), shown);
        QVERIFY(unchanged());

        // No file is refused for its content or size: its lines are taken like typed text.
        WriteFile(path("binary.bin"), QByteArray("ab\0\x01" "cdefghij\r\x7f", 14));
        QVERIFY(LoadTagFile(path("binary.bin"), two, 4, texts, rec.sink()));
        QCOMPARE(two.cell(0, 1), QStringLiteral("ab  cdef"));
        QCOMPARE(two.cell(0, 2), QStringLiteral(" "));
        QCOMPARE(rec.messages.size(), shown);
        // A file of hundreds of MB is read only as far as the table reaches.
        {
            QFile big(path("huge.bin"));
            QVERIFY(big.open(QIODevice::WriteOnly));
            big.write("first\nsecond\n");
            QVERIFY(big.resize(qint64(400) << 20)); // then zeros, without a line break
        }
        QVERIFY(LoadTagFile(path("huge.bin"), two, 4, texts, rec.sink()));
        QCOMPARE(two.cell(0, 1), QStringLiteral("first"));
        QCOMPARE(two.cell(0, 2), QStringLiteral("second"));
        // A line longer than any read, and a CR LF split between two reads.
        WriteFile(path("long.txt"), QByteArray(64 * 1024 - 1, 'x') + "\r\nnext\rlast");
        QVERIFY(LoadTagFile(path("long.txt"), tags, 4, texts, rec.sink()));
        QCOMPARE(tags.cell(0, 1), QStringLiteral("xxxxxxxx"));
        QCOMPARE(tags.cell(0, 2), QStringLiteral("next"));
        QCOMPARE(tags.cell(0, 3), QStringLiteral("last"));
        QCOMPARE(rec.messages.size(), shown);
        // Bytes that are not UTF-8 after the mark become '?', with the code-page message.
        WriteFile(path("bad-utf8.txt"), "\xEF\xBB\xBF\xC3\x28");
        QVERIFY(LoadTagFile(path("bad-utf8.txt"), two, 4, texts, rec.sink()));
        QCOMPARE(two.cell(0, 1), QStringLiteral("?("));
        QCOMPARE(rec.messages.size(), shown + 1);

        // UTF-8 with a byte-order mark is read; what Windows-1251 lacks becomes '?'.
        WriteFile(path("utf8.txt"),
                  "\xEF\xBB\xBF\xD0\x9F\xD0\xB5\xD1\x87\xD1\x8C \xF0\x9F\x94\xA5\n");
        QVERIFY(LoadTagFile(path("utf8.txt"), tags, 8, texts, rec.sink()));
        QCOMPARE(tags.cell(0, 1), QStringLiteral("Печь ?"));
        QCOMPARE(rec.last(), QStringLiteral("Символы, которых нет в кодировке Windows-1251, "
                                            "заменены на «?»: 🔥"));
    }

    void typingThroughTheModel()
    {
        MemIniFile texts{QString()};
        Recorder rec;
        DeviceRegisterMap map;
        map.QOR_SENSOR_TAG_SIZE = 8;
        TextGrid tags(1, 3), user(3, 3);
        tags.setFixed(0, 1);
        InstallTagCellEditor(tags, map, texts, rec.sink());
        InstallUserCellEditor(user, texts, rec.sink());

        QVERIFY(tags.setData(tags.index(1, 0), QStringLiteral("0123456789abcdefX"), Qt::EditRole));
        QCOMPARE(tags.cell(0, 1), QStringLiteral("0123456789abcdef")); // the 17th is cut
        QVERIFY(!tags.setData(tags.index(0, 0), QStringLiteral("header"), Qt::EditRole));
        map.QOR_SENSOR_TAG_SIZE = 2; // a new register map takes effect at once
        QVERIFY(tags.setData(tags.index(2, 0), QStringLiteral("Метка12"), Qt::EditRole));
        QCOMPARE(tags.cell(0, 2), QStringLiteral("Метк"));
        QVERIFY(rec.messages.isEmpty());

        QVERIFY(tags.setData(tags.index(2, 0), QStringLiteral("a€b😀"), Qt::EditRole));
        QCOMPARE(tags.cell(0, 2), QStringLiteral("a€b?")); // € is in the code page
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages.last().caption, QStringLiteral("Ошибка"));
        QVERIFY(rec.last().endsWith(u"😀"_qs));

        // Any text goes into a settings cell; line breaks cannot live in one line.
        QSignalSpy edited(&user, &TextGrid::cellEdited);
        QVERIFY(user.setData(user.index(1, 2), QStringLiteral("3,5\nx"), Qt::EditRole));
        QCOMPARE(user.cell(2, 1), QStringLiteral("3,5 x"));
        QCOMPARE(edited.size(), 1);
        QVERIFY(!user.setData(user.index(1, 0), QStringLiteral("Датчик 1"), Qt::EditRole));
        QCOMPARE(rec.messages.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
