#include "ProfileFile.h"

#include "AtomicFile.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "SensorId.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "TextGrid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <optional>

namespace Msg {
// The end of the firmware-mismatch message, after the configuration's firmware.
inline constexpr TextKey n438{
    "n438", u". Профиль не будет загружен. Выберите файл профиля для данной версии прошивки."};
} // namespace Msg

namespace {

const QString kHardware = QStringLiteral("hardware");
const QString kTags = QStringLiteral("tags");
const QString kConnect = QStringLiteral("connect");
const QString kNotFound = QStringLiteral("Not found"); // header key missing from a language
constexpr char16_t kRelayWord[] = u"Реле";             // n39, word of the relay row headers

// First key numbers of the header texts: sensor table columns, relay table columns.
constexpr int kFirstSensorHeaderKey = 25;
constexpr int kFirstRelayHeaderKey = 34;

QString Caption(const ProfileContext &context)
{
    return LookupText(context.settingsIni, Msg::n67);
}

QString Fixed(const ProfileContext &context, const char16_t *russian, const char *english)
{
    return FixedText(context.settingsIni, russian, english);
}

QString ShownPath(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// The INI class matches names without regard to case and reads them without the blanks
// around them; two names that read alike are one name in the file.
QString NameAsRead(const QString &name)
{
    return name.trimmed().toLower();
}

// The first name of the list that reads like an earlier one.
std::optional<QString> FirstDoubled(const QStringList &names)
{
    QSet<QString> seen;
    for (const QString &name : names) {
        const QString read = NameAsRead(name);
        if (seen.contains(read))
            return name;
        seen.insert(read);
    }
    return std::nullopt;
}

// A key that a reader would split at its "=" or take for a comment.
std::optional<QString> FirstUnusableKey(const QStringList &keys)
{
    for (const QString &key : keys)
        if (key.contains(u'=') || key.trimmed().startsWith(u';'))
            return key;
    return std::nullopt;
}

QStringList Cells(const TextGrid &table, int fromCol, int row)
{
    QStringList out;
    for (int c = fromCol; c < table.colCount(); ++c)
        out.append(table.cell(c, row));
    return out;
}

// Sections and keys of a save, checked before anything is written.
bool NamesAreStorable(const ProfileUserSide &user, const QList<int> &sensorRows, int startCol,
                      const ProfileContext &context)
{
    const TextGrid &relays = user.relaySettingsUser;
    QStringList sections{kHardware, kConnect};
    QStringList keyLists[2];
    for (int r : sensorRows)
        sections.append(user.sensorSettingsUser.cell(0, r));
    if (!sensorRows.isEmpty()) {
        sections.append(kTags);
        keyLists[0] = Cells(user.sensorSettingsUser, startCol, 0);
    }
    for (int r = 1; r < relays.rowCountGrid(); ++r)
        sections.append(relays.cell(0, r));
    if (relays.rowCountGrid() > 1)
        keyLists[1] = Cells(relays, 1, 0);

    std::optional<QString> doubled = FirstDoubled(sections);
    for (const QStringList &keys : keyLists)
        if (!doubled)
            doubled = FirstDoubled(keys);
    if (doubled) {
        context.show(
            Caption(context),
            Fixed(context, u"Профиль не сохранён: два столбца или раздела носят один заголовок: ",
                  "The profile was not saved: two columns or sections share the header: ") +
                *doubled);
        return false;
    }
    for (const QStringList &keys : keyLists) {
        if (const std::optional<QString> bad = FirstUnusableKey(keys)) {
            context.show(Caption(context),
                         Fixed(context,
                               u"Профиль не сохранён: заголовок не может быть ключом (в нём есть "
                               u"«=» или он начинается с «;»): ",
                               "The profile was not saved: a header cannot be a key (it holds "
                               "\"=\" or begins with \";\"): ") +
                             *bad);
            return false;
        }
    }
    return true;
}

int ItemIndex(int index, int items)
{
    return index >= 0 && index < items ? index : -1;
}

// Header texts under which one language stores the cells: the sensor word of the section
// names, the column headers of both tables and the relay row headers.
struct HeaderTexts {
    QString sensorWord;
    QStringList sensorColumns; // entry c = header of sensor-table column c
    QStringList relayRows;     // entry r = header of relay-table row r
    QStringList relayColumns;

    QString sensorSection(int n) const { return SensorRowHeader(sensorWord, n); }
};

HeaderTexts TableHeaders(const ProfileUserSide &user, const ProfileContext &context)
{
    HeaderTexts h;
    h.sensorWord = LookupText(context.settingsIni, Msg::n32);
    h.sensorColumns = user.sensorSettingsUser.rowTexts(0);
    h.relayColumns = user.relaySettingsUser.rowTexts(0);
    for (int r = 0; r < user.relaySettingsUser.rowCountGrid(); ++r)
        h.relayRows.append(user.relaySettingsUser.cell(0, r));
    return h;
}

// What the tables would show in language section `lang`, at their present sizes.
HeaderTexts LanguageHeaders(const MemIniFile &settingsIni, const QString &lang,
                            const ProfileUserSide &user)
{
    const auto text = [&](int key, const QString &def) {
        return settingsIni.readString(lang, QStringLiteral("n%1").arg(key), def);
    };
    HeaderTexts h;
    h.sensorWord = text(32, QString::fromUtf16(Msg::n32.russian));
    for (int c = 0; c < user.sensorSettingsUser.colCount(); ++c)
        h.sensorColumns.append(text(kFirstSensorHeaderKey + c, kNotFound));
    for (int c = 0; c < user.relaySettingsUser.colCount(); ++c)
        h.relayColumns.append(text(kFirstRelayHeaderKey + c, kNotFound));
    const QString relayWord = text(39, QString::fromUtf16(kRelayWord));
    h.relayRows.append(QString());
    for (int r = 1; r < user.relaySettingsUser.rowCountGrid(); ++r)
        h.relayRows.append(relayWord + u' ' + QString::number(r));
    return h;
}

// Language sections of start.ini other than the one in use, in number order. [lang0] is
// always among them: Russian needs no section for its built-in texts.
QStringList OtherLanguages(const MemIniFile &settingsIni)
{
    const int current =
        settingsIni.readInteger(QStringLiteral("language"), QStringLiteral("lang"), 0);
    static const QRegularExpression langSection(QStringLiteral("^lang(\\d+)$"),
                                                QRegularExpression::CaseInsensitiveOption);
    QList<int> numbers;
    for (const QString &section : settingsIni.sections()) {
        const QRegularExpressionMatch m = langSection.match(section.trimmed());
        bool ok = false;
        const int n = m.hasMatch() ? m.captured(1).toInt(&ok) : -1;
        if (ok && !numbers.contains(n))
            numbers.append(n);
    }
    if (!numbers.contains(0))
        numbers.append(0);
    numbers.removeAll(current);
    std::sort(numbers.begin(), numbers.end());
    QStringList out;
    for (int n : numbers)
        out.append(QStringLiteral("lang%1").arg(n));
    return out;
}

bool HasLines(const MemIniFile &profile, const QString &section)
{
    return !profile.sectionLines(section.trimmed()).isEmpty();
}

QString Value(const MemIniFile &profile, const QString &section, const QString &key)
{
    return profile.readString(section.trimmed(), key.trimmed(), QString());
}

// How many cells the profile holds under these header texts.
int MatchCount(const MemIniFile &profile, const HeaderTexts &h, int startCol, int maxSensors)
{
    int count = 0;
    const auto countKeys = [&](const QString &section, const QStringList &columns, int from) {
        if (!HasLines(profile, section))
            return;
        for (int c = from; c < columns.size(); ++c)
            if (profile.valueExists(section.trimmed(), columns[c].trimmed()))
                ++count;
    };
    for (int n = 1; n <= maxSensors; ++n)
        countKeys(h.sensorSection(n), h.sensorColumns, startCol);
    for (int r = 1; r < h.relayRows.size(); ++r)
        countKeys(h.relayRows[r], h.relayColumns, 1);
    return count;
}

// Sections beyond the three whose names never change: settings that need header texts.
bool HoldsTableSections(const MemIniFile &profile)
{
    for (const QString &section : profile.sections()) {
        const QString read = NameAsRead(section);
        if (read != kHardware && read != kTags && read != kConnect)
            return true;
    }
    return false;
}

// The header texts the profile was saved under: the tables' own when any cell matches,
// else the other language that matches most cells.
std::optional<HeaderTexts> ProfileHeaders(const MemIniFile &profile, const ProfileUserSide &user,
                                          int startCol, const ProfileContext &context)
{
    HeaderTexts current = TableHeaders(user, context);
    if (MatchCount(profile, current, startCol, context.maxSensors) > 0)
        return current;
    std::optional<HeaderTexts> best;
    int bestCount = 0;
    for (const QString &lang : OtherLanguages(context.settingsIni)) {
        HeaderTexts h = LanguageHeaders(context.settingsIni, lang, user);
        const int count = MatchCount(profile, h, startCol, context.maxSensors);
        if (count > bestCount) {
            bestCount = count;
            best = std::move(h);
        }
    }
    if (best)
        return best;
    // A profile of empty tables loads as such; one whose tables match nothing is foreign.
    if (!HoldsTableSections(profile))
        return current;
    return std::nullopt;
}

bool HasControlBytes(const QByteArray &bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char b) {
        return quint8(b) < 0x20 && b != '\t' && b != '\n' && b != '\r';
    });
}

} // namespace

bool SaveProfile(MemIniFile &profile, const ProfileUserSide &user,
                 const QString &hardwareVersionText, const QString &firmwareVersionText,
                 bool storeIds, const ProfileContext &context)
{
    const TextGrid &sensors = user.sensorSettingsUser;
    const TextGrid &tags = user.tagUser;
    const TextGrid &relays = user.relaySettingsUser;
    const int startCol = storeIds ? 1 : 2;

    QList<int> sensorRows;
    for (int r = 1; r < sensors.rowCountGrid(); ++r)
        if (SensorNumberOfRow(sensors, r, context.maxSensors) != 0)
            sensorRows.append(r);
    if (!NamesAreStorable(user, sensorRows, startCol, context))
        return false;

    QString replaced;
    const auto put = [&](const QString &section, const QString &key, const QString &value) {
        // A tag copied from the controller may hold control bytes: a line break would split
        // its line, and any of them makes a file that no load takes as a profile.
        profile.writeString(section, key, CellTextForCodePage(value, &replaced));
    };
    put(kHardware, QStringLiteral("hw"), hardwareVersionText);
    put(kHardware, QStringLiteral("fw"), firmwareVersionText);
    for (int r : sensorRows) {
        const QString section = sensors.cell(0, r);
        for (int c = startCol; c < sensors.colCount(); ++c)
            put(section, sensors.cell(c, 0), sensors.cell(c, r));
        put(kTags, section, r < tags.rowCountGrid() ? tags.cell(0, r) : QString());
    }
    for (int r = 1; r < relays.rowCountGrid(); ++r)
        for (int c = 1; c < relays.colCount(); ++c)
            put(relays.cell(0, r), relays.cell(c, 0), relays.cell(c, r));

    const ConnectUserValues &connect = user.connectUser;
    put(kConnect, QStringLiteral("address"), connect.addr);
    put(kConnect, QStringLiteral("baudrate"),
        QString::number(ItemIndex(connect.baud, kBaudRateItems)));
    put(kConnect, QStringLiteral("parity"),
        QString::number(ItemIndex(connect.parity, kParityItems)));
    put(kConnect, QStringLiteral("stopbits"),
        QString::number(ItemIndex(connect.stops, kStopsItems)));
    put(kConnect, QStringLiteral("channel"), connect.chan);
    put(kConnect, QStringLiteral("language"),
        QString::number(ItemIndex(connect.language, kMenuLanguageItems)));

    if (!replaced.isEmpty())
        context.show(Caption(context), CodePageMessage(context.settingsIni, replaced));
    return true;
}

QByteArray ProfileBytes(const MemIniFile &profile)
{
    QByteArray bytes = profile.toBytes();
    while (bytes.endsWith("\r\n\r\n"))
        bytes.chop(2);
    if (!bytes.isEmpty())
        bytes += "\r\n"; // the empty line after the last section, as after every other
    return bytes;
}

bool SaveProfileFile(const QString &path, const ProfileUserSide &user,
                     const QString &hardwareVersionText, const QString &firmwareVersionText,
                     bool storeIds, const ProfileContext &context)
{
    MemIniFile profile{QString()}; // a new profile starts empty, whatever the file holds now
    profile.rename(path, false);
    if (!SaveProfile(profile, user, hardwareVersionText, firmwareVersionText, storeIds, context))
        return false;
    const QByteArray bytes = ProfileBytes(profile);
    QString reason;
    if (!WriteFileAtomically(path, bytes, &reason)) {
        context.show(Caption(context), Fixed(context, u"Не удалось сохранить файл профиля: ",
                                             "Cannot save the profile file: ") +
                                           ShownPath(path) + u'\n' + reason);
        return false;
    }
    return true;
}

bool ReadProfileFile(const QString &path, MemIniFile &profile, const ProfileContext &context)
{
    const auto refuse = [&](const char16_t *russian, const char *english, const QString &detail) {
        context.show(Caption(context), Fixed(context, russian, english) + ShownPath(path) +
                                           (detail.isEmpty() ? QString() : u'\n' + detail));
        return false;
    };
    const auto tooLarge = [&] {
        return refuse(u"Файл профиля слишком велик (не более 1 МБ): ",
                      "The profile file is too large (1 MB at most): ", {});
    };
    const auto notProfile = [&] {
        return refuse(u"Файл не является файлом профиля (текстовым файлом INI): ",
                      "The file is not a profile (an INI text file): ", {});
    };
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        context.show(Caption(context), LookupText(context.settingsIni, Msg::n72));
        return false;
    }
    // Only a plain file: a device or a pipe could block or never end.
    if (!info.isFile())
        return refuse(u"Не удалось открыть файл профиля: ", "Cannot open the profile file: ", {});
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(u"Не удалось открыть файл профиля: ",
                      "Cannot open the profile file: ", file.errorString());
    if (file.size() > kMaxProfileBytes)
        return tooLarge();
    // One byte over the limit tells a file that grew after its size was taken.
    const QByteArray bytes = file.read(kMaxProfileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(u"Ошибка чтения файла профиля: ",
                      "Cannot read the profile file: ", file.errorString());
    if (bytes.size() > kMaxProfileBytes)
        return tooLarge();
    if (HasControlBytes(bytes))
        return notProfile();
    MemIniFile read{QString()};
    read.setBytes(bytes);
    if (read.sections().isEmpty())
        return notProfile();
    read.rename(path, false);
    profile = read;
    return true;
}

bool CheckProfileFirmware(const MemIniFile &profile, const ProfileContext &context)
{
    const QString configFw =
        context.deviceIni.readString(kHardware, QStringLiteral("fw"), QString());
    const QString profileFw = profile.readString(kHardware, QStringLiteral("fw"), QString());
    if (configFw == profileFw)
        return true;
    const MemIniFile &s = context.settingsIni;
    context.show(Caption(context),
                 LookupText(s, Msg::n125) + QStringLiteral(": FW ") + profileFw + u' ' +
                     LookupText(s, Msg::n124) + QStringLiteral(": FW ") + configFw +
                     LookupText(s, Msg::n438));
    return false;
}

bool LoadProfile(const MemIniFile &profile, const ProfileUserSide &user, bool loadIds,
                 const ProfileContext &context)
{
    TextGrid &sensors = user.sensorSettingsUser;
    TextGrid &tagTable = user.tagUser;
    TextGrid &relays = user.relaySettingsUser;
    const int startCol = loadIds ? 1 : 2;

    const std::optional<HeaderTexts> saved = ProfileHeaders(profile, user, startCol, context);
    if (!saved) {
        context.show(Caption(context),
                     Fixed(context,
                           u"Ни один раздел датчика или реле в файле профиля не совпадает с "
                           u"заголовками таблиц ни на одном языке; таблицы не изменены: ",
                           "No sensor or relay section of the profile matches the table headers in "
                           "any language; the tables were not changed: ") +
                         ShownPath(profile.fileName()));
        return false;
    }

    // Everything is read first and put into the tables only at the end.
    const QString sensorWord = LookupText(context.settingsIni, Msg::n32);
    QList<QStringList> sensorRows;
    QStringList tags;
    for (int n = 1; n <= context.maxSensors; ++n) {
        const QString section = saved->sensorSection(n);
        if (!HasLines(profile, section))
            continue;
        QStringList row(sensors.colCount());
        row[0] = SensorRowHeader(sensorWord, n);
        for (int c = startCol; c < sensors.colCount(); ++c)
            row[c] = Value(profile, section, saved->sensorColumns.value(c));
        sensorRows.append(row);
        tags.append(TagCellText(Value(profile, kTags, section), context.tagSize));
    }
    QList<std::pair<int, QStringList>> relayRows;
    for (int r = 1; r < relays.rowCountGrid(); ++r) {
        const QString section = saved->relayRows.value(r);
        if (!HasLines(profile, section))
            continue; // a row without a section keeps its contents
        QStringList cells(relays.colCount());
        for (int c = 1; c < relays.colCount(); ++c)
            cells[c] = Value(profile, section, saved->relayColumns.value(c));
        relayRows.append({r, cells});
    }
    const auto index = [&](const char *key, int def, int items) {
        return ItemIndex(profile.readInteger(kConnect, QString::fromLatin1(key), def), items);
    };
    ConnectUserValues connect;
    connect.addr = profile.readString(kConnect, QStringLiteral("address"), QStringLiteral("---"));
    connect.baud = index("baudrate", 0, kBaudRateItems);
    connect.parity = index("parity", 0, kParityItems);
    connect.stops = index("stopbits", 1, kStopsItems);
    connect.chan = profile.readString(kConnect, QStringLiteral("channel"), QStringLiteral("---"));
    connect.language = index("language", 0, kMenuLanguageItems);

    for (const auto &[r, cells] : relayRows)
        for (int c = 1; c < relays.colCount(); ++c)
            relays.setCell(c, r, cells[c]);
    // Without any sensor section both tables keep one empty data row.
    const int rows = int(qMax<qsizetype>(2, sensorRows.size() + 1));
    sensors.setRowCount(rows);
    tagTable.setRowCount(rows);
    sensors.clearRow(1);
    tagTable.setCell(0, 1, QString());
    for (int i = 0; i < sensorRows.size(); ++i) {
        for (int c = 0; c < sensors.colCount(); ++c)
            sensors.setCell(c, i + 1, sensorRows[i][c]);
        tagTable.setCell(0, i + 1, tags[i]);
    }
    user.connectUser = connect;
    return true;
}

bool LoadProfileFile(const QString &path, const ProfileUserSide &user,
                     const ProfileContext &context)
{
    MemIniFile profile{QString()};
    return ReadProfileFile(path, profile, context) && CheckProfileFirmware(profile, context) &&
           LoadProfile(profile, user, true, context);
}
