#include "Commands.h"

#include "CliTexts.h"
#include "Cp1251.h"
#include "ExitCodes.h"
#include "FrameLog.h"
#include "ModbusFrames.h"
#include "ProfilePaths.h"
#include "SensorId.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "Session.h"
#include "SettingNames.h"
#include "TrendPolling.h"
#include "TrendReader.h"
#include "TrendRecorder.h"
#include "WriteBack.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

QString Json(const QJsonObject &o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// ISO 8601 with the local offset ("+09:00"), so a reader elsewhere knows the moment.
QString IsoTime(const QDateTime &local) {
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// A run with --count that was interrupted before its count: what was done, and exit 8.
// Without --count an interruption is how the run ends.
int CountedEnd(Session &s, const CliOptions &o, int done) {
    if (!s.Interrupted() || !o.count || done >= *o.count)
        return ExitCode::Ok;
    PrintErr(s.Text(Msg::n356) + QStringLiteral("%1/%2").arg(done).arg(*o.count));
    return ExitCode::Interrupted;
}

QString Hex(const QByteArray &frame) {
    return QString::fromLatin1(frame.toHex(' ').toUpper());
}

QString TagOf(const PollCycle &cycle, const MainState &st, int index) {
    if (st.firmwareVersion < kFirstTagFirmware || index >= int(cycle.sensorTagRecords.size()))
        return {};
    return SensorTagText(cycle.sensorTagRecords[size_t(index)].values,
                         st.registerMap.QOR_SENSOR_TAG_SIZE);
}

bool RelayBit(const MainState &st, int relay) {
    return relay < 16 && (st.relayStateWord >> relay) & 1;
}

QJsonValue CellNumber(const QString &text) {
    const auto v = ParseCellInteger(text);
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

// The last part of a setting's name: the key of its column in JSON.
QString ColumnKey(SettingName::Area area, int column) {
    return SettingName{area, 1, column}.name().section(u'.', -1);
}

// What read-profile stores, for scripts: the controller tables and connection block, with
// the keys get and set name the settings by.
QJsonObject ProfileJson(const Session &s, bool ids) {
    const MainState &st = s.state;
    const DeviceRegisterMap &m = st.registerMap;
    QJsonArray sensors;
    for (int n = 1; n < st.sensorSettings.rowCountGrid() && n <= m.MAX_SENSORS; ++n) {
        QJsonObject one{{"sensor", n}};
        if (ids)
            one.insert("id", st.sensorSettings.cell(1, n));
        for (int c = 2; c < st.sensorSettings.colCount(); ++c)
            one.insert(ColumnKey(SettingName::Area::Sensor, c),
                       CellNumber(st.sensorSettings.cell(c, n)));
        if (st.firmwareVersion >= kFirstTagFirmware)
            one.insert("tag", st.tagContr.cell(0, n));
        sensors.append(one);
    }
    QJsonArray relays;
    for (int k = 1; k < st.relaySettings.rowCountGrid() && k <= m.RELAY_NUMBER; ++k) {
        QJsonObject one{{"relay", k}};
        for (int c = 1; c < st.relaySettings.colCount(); ++c)
            one.insert(ColumnKey(SettingName::Area::Relay, c),
                       CellNumber(st.relaySettings.cell(c, k)));
        relays.append(one);
    }
    const auto &w = s.cycle.connectSettingsRecord.values;
    static const char *const parities[] = {"none", "even", "odd"};
    const QJsonObject connect{{"address", w[0]},
                              {"baud", ConnectWordText(st.settingsIni, 1, w[1]).toInt()},
                              {"parity", w[2] < 3 ? QJsonValue(parities[w[2]]) : QJsonValue(w[2])},
                              {"stopbits", w[3]},
                              {"channel", w[4]},
                              {"language", w[5] == 0   ? QJsonValue("ru")
                                           : w[5] == 1 ? QJsonValue("en")
                                                       : QJsonValue(w[5])}};
    return {{"firmware", st.firmwareVersionText},
            {"hardware", st.hardwareVersionText},
            {"sensors", sensors},
            {"relays", relays},
            {"connect", connect}};
}

// A tag between quotes, its control characters (a controller may hold any byte) as \xNN
// so that a line stays one line.
QString Quoted(const QString &tag) {
    QString out(u'"');
    for (const QChar c : tag)
        out += c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'))
                                  : QString(c);
    return out + u'"';
}

QString Change(const QString &label, const QString &from, const QString &to) {
    return label + QStringLiteral(": ") + from + QStringLiteral(" → ") + to;
}

// What a write of the user tables would change, one readable line per cell, in the order
// the frames go: "датчик 3 порог 1: 30 → 40". connect: the block to write, if any.
QStringList DiffLines(const Session &s, bool sensors, const ConnectUserValues *connect) {
    const MainState &st = s.state;
    const DeviceRegisterMap &m = st.registerMap;
    const MemIniFile &texts = st.settingsIni;
    QStringList lines;
    const TextGrid &user = st.sensorSettingsUser;
    const bool withTags = st.firmwareVersion >= kFirstTagFirmware && m.QOR_SENSOR_TAG_SIZE > 0;
    for (int r = 1; sensors && r < user.rowCountGrid(); ++r) {
        const int n = SensorNumberOfRow(user, r, m.MAX_SENSORS);
        if (n == 0)
            continue;
        for (int c = 1; c < user.colCount(); ++c)
            if (user.cell(c, r) != st.sensorSettings.cell(c, n))
                lines << Change(SettingName{SettingName::Area::Sensor, n, c}.label(texts),
                                st.sensorSettings.cell(c, n), user.cell(c, r));
        const QString tag = st.tagUser.cell(0, r), was = st.tagContr.cell(0, n);
        if (withTags && tag != was)
            lines << Change(SensorTagLabel(texts, n), Quoted(was), Quoted(tag));
    }
    const TextGrid &relays = st.relaySettingsUser;
    for (int r = 1; r < relays.rowCountGrid() && r <= m.RELAY_NUMBER; ++r)
        for (int c = 1; c < relays.colCount() && c <= m.RELAY_SETTINGS_SIZE; ++c)
            if (relays.cell(c, r) != st.relaySettings.cell(c, r))
                lines << Change(SettingName{SettingName::Area::Relay, r, c}.label(texts),
                                st.relaySettings.cell(c, r), relays.cell(c, r));
    if (connect) {
        const auto &w = s.cycle.connectSettingsRecord.values;
        const int words[] = {RegisterWordOfCell(connect->addr).value_or(0),
                             connect->baud,
                             connect->parity,
                             connect->stops + 1,
                             RegisterWordOfCell(connect->chan).value_or(0),
                             connect->language};
        for (int k = 0; k < 6; ++k)
            if (words[k] != w[size_t(k)])
                lines << Change(SettingName{SettingName::Area::Connect, 0, k}.label(texts),
                                ConnectWordText(texts, k, w[size_t(k)]),
                                ConnectWordText(texts, k, words[k]));
    }
    return lines;
}

// One write-back operation of a profile, with the requests that a dry run of it counted.
struct Operation {
    bool (WriteBack::*write)();
    ModbusWriteRecord *records[2];
    int requests = 0;
};

} // namespace

QJsonObject WatchJson(const PollCycle &cycle, const MainState &st, const QDateTime &now) {
    const TrendReadings r = TrendReadingsOf(cycle, st);
    QJsonArray sensors;
    const SensorStatusTexts statusText(st);
    for (int n : RegisteredSensors(r.statuses)) {
        const quint16 status = r.statuses[size_t(n - 1)];
        QJsonObject one{{"sensor", n},
                        {"status", status},
                        {"state", statusText(status)},
                        {"temperature", r.temperatures[size_t(n - 1)]},
                        {"seconds", cycle.timeElapsedRecord.values[size_t(n - 1)]}};
        if (st.firmwareVersion >= kFirstTagFirmware)
            one.insert("tag", TagOf(cycle, st, n - 1));
        sensors.append(one);
    }
    QJsonArray relayStates;
    for (int k = 0; k < st.registerMap.RELAY_NUMBER; ++k)
        relayStates.append(RelayBit(st, k) ? 1 : 0);
    return {{"time", IsoTime(now)}, {"sensors", sensors}, {"relays", relayStates}};
}

QStringList WatchHeader(const MainState &st, const QList<int> &sensors) {
    QStringList cells{QStringLiteral("Дата"), QStringLiteral("Время")};
    for (int n : sensors)
        cells << QStringLiteral("Канал %1").arg(n);
    for (int k = 1; k <= st.registerMap.RELAY_NUMBER; ++k)
        cells << QStringLiteral("Реле %1").arg(k);
    return cells;
}

QStringList WatchCells(const PollCycle &cycle, const MainState &st, const QList<int> &sensors,
                       const QDateTime &now) {
    const TrendReadings r = TrendReadingsOf(cycle, st);
    QStringList cells{now.toString(QStringLiteral("dd.MM.yy")),
                      now.toString(QStringLiteral("HH:mm:ss"))};
    for (int n : sensors) {
        const size_t i = size_t(n - 1);
        cells << TrendCellText(i < r.statuses.size() ? r.statuses[i] : kUnregisteredStatus,
                               i < r.temperatures.size() ? r.temperatures[i] : 0);
    }
    for (int k = 0; k < st.registerMap.RELAY_NUMBER; ++k)
        cells << QString::number(RelayBit(st, k) ? 1 : 0);
    return cells;
}

int RunIdentify(Session &s, const CliOptions &o) {
    const int result = s.Connect();
    if (s.state.firmwareVersionText.isEmpty())
        return result; // nothing was read
    const quint16 code = s.cycle.identificationRecord.values[0];
    if (o.json) {
        // A failure's fields join the object: stdout stays one JSON object.
        QJsonObject out = result == ExitCode::Ok ? QJsonObject() : JsonFailure(result);
        out.insert("device", code);
        out.insert("firmware", s.state.firmwareVersionText);
        out.insert("hardware", s.state.hardwareVersionText);
        out.insert("supported", result == ExitCode::Ok);
        PrintOut(Json(out));
    } else {
        PrintOut(QStringLiteral("device: %1\nfirmware: %2\nhardware: %3")
                     .arg(code)
                     .arg(s.state.firmwareVersionText, s.state.hardwareVersionText));
    }
    return result;
}

int RunWatch(Session &s, const CliOptions &o) {
    if (!o.noHistory)
        s.StartHistory();
    if (const int r = s.Connect())
        return r;
    if (o.json)
        s.cycle.ReadAllSensorTags();
    s.view.echoLink = true;
    s.state.pollSensorData = true;
    QList<int> header; // the sensors of the TSV columns, fixed by the first line
    bool headerDone = false;
    int lines = 0;
    // With --period the poll keeps its pace and a line, due every period, shows the
    // values of the first cycle after it is due: the latest.
    bool lineDue = true;
    QTimer lineTimer;
    QObject::connect(&lineTimer, &QTimer::timeout, [&] { lineDue = true; });
    if (o.period)
        lineTimer.start(*o.period * 1000);
    s.cycle.liveDataRead = [&] {
        if (!lineDue)
            return;
        lineDue = !o.period;
        const QDateTime now = QDateTime::currentDateTime();
        if (o.json) {
            PrintOut(Json(WatchJson(s.cycle, s.state, now)));
        } else {
            if (!headerDone) {
                header = RegisteredSensors(TrendReadingsOf(s.cycle, s.state).statuses);
                PrintOut(WatchHeader(s.state, header).join(u'\t'));
                headerDone = true;
            }
            PrintOut(WatchCells(s.cycle, s.state, header, now).join(u'\t'));
        }
        ++lines;
    };
    if (o.forMs)
        s.EndAfter(*o.forMs);
    s.RunPolling([&] { return o.count && lines >= *o.count; });
    s.StopHistory();
    return CountedEnd(s, o, lines);
}

int RunReadProfile(Session &s, const CliOptions &o) {
    if (const int r = s.Connect())
        return r;
    if (const int r = s.ReadControllerTables())
        return r;
    MainState &st = s.state;
    // The copy buttons of the three pages.
    CopyGridToGrid(st.sensorSettings, st.sensorSettingsUser);
    CopyGridToGrid(st.tagContr, st.tagUser);
    CopyRelayRows(st.relaySettings, st.relaySettingsUser);
    const ConnectControls &c = st.connectContr;
    ConnectUserValues connect{c.addr, c.baud, c.parity, c.stops, c.chan, c.language};
    const bool ids = o.ids || ProfileStoresIds(st.settingsIni);
    if (!o.file.isEmpty() &&
        !SaveProfileFile(o.file, {st.sensorSettingsUser, st.tagUser, st.relaySettingsUser, connect},
                         st.hardwareVersionText, st.firmwareVersionText, ids, s.Context()))
        return ExitCode::FileRefused;
    if (o.json)
        PrintOut(Json(ProfileJson(s, ids)));
    return ExitCode::Ok;
}

namespace {

// The profile's connection block equals what the controller holds.
bool SameConnectBlock(const ConnectUserValues &u, const PollCycle &cycle) {
    if (!cycle.connectSettingsReadOk || cycle.connectSettingsRecord.receivedCount < 6)
        return false;
    const auto &w = cycle.connectSettingsRecord.values;
    return RegisterWordOfCell(u.addr) == w[0] && u.baud == w[1] && u.parity == w[2] &&
           u.stops + 1 == w[3] && RegisterWordOfCell(u.chan) == w[4] && u.language == w[5];
}

// The user tables as the profile fills them over what the controller holds: relay rows the
// profile lacks keep the controller's values, and a sensor row without an ID (a profile
// saved without IDs) keeps the ID the controller has, so every controller keeps its own
// sensors. False when the profile matches nothing.
bool FillUserSide(Session &s, const MemIniFile &profile, ConnectUserValues &connect) {
    MainState &st = s.state;
    CopyRelayRows(st.relaySettings, st.relaySettingsUser);
    if (!LoadProfile(profile, {st.sensorSettingsUser, st.tagUser, st.relaySettingsUser, connect},
                     true, s.Context()))
        return false;
    TextGrid &user = st.sensorSettingsUser;
    for (int r = 1; r < user.rowCountGrid(); ++r) {
        const int n = SensorNumberOfRow(user, r, st.registerMap.MAX_SENSORS);
        if (n != 0 && user.cell(1, r).trimmed().isEmpty())
            user.setCell(1, r, st.sensorSettings.cell(1, n));
    }
    return true;
}

// What became of a write frame.
enum class Fate {
    Confirmed, // the controller confirmed it
    Refused,   // every attempt that left got an exception answer: not carried out
    Unknown,   // it left, and no confirmation came (lost, late, damaged): maybe carried out
    NotSent,   // it never left the port, or was never reached
};

// The fate of a frame whose operation failed, from the attempts the frame log holds for it
// from seq on. An interrupted attempt is not logged: it may have left.
Fate FateOfFrame(const FrameLog &log, const QByteArray &frame, quint64 seq, bool interrupted) {
    bool left = false, onlyExceptions = true;
    for (quint64 k = qMax(seq, log.firstSeq()); k < log.nextSeq(); ++k) {
        const FrameLog::Frame &f = log.at(k);
        if (f.direction != FrameLog::Direction::Request || f.request != frame)
            continue;
        if (f.outcome == AttemptOutcome::Good)
            return Fate::Confirmed;
        if (f.outcome == AttemptOutcome::SendFailed)
            continue;
        left = true;
        onlyExceptions = onlyExceptions && f.outcome == AttemptOutcome::Exception;
    }
    if (interrupted)
        return Fate::Unknown;
    if (!left)
        return Fate::NotSent;
    return onlyExceptions ? Fate::Refused : Fate::Unknown;
}

// "1-3, 5 of 6": the frame numbers (1-based) that met one fate.
QString FrameNumbers(const QList<int> &numbers, const QString &of, int total) {
    QStringList parts;
    for (qsizetype i = 0; i < numbers.size();) {
        qsizetype j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        parts << (j == i ? QString::number(numbers[i])
                         : QStringLiteral("%1-%2").arg(numbers[i]).arg(numbers[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", ")) + of + QString::number(total);
}

// One line per fate that some frame met; frames never handed to the link were not sent.
void ReportFates(Session &s, const QList<Fate> &fates, int total) {
    const std::pair<Fate, const TextKey *> lines[] = {{Fate::Confirmed, &Msg::n352},
                                                      {Fate::Refused, &Msg::n354},
                                                      {Fate::Unknown, &Msg::n353},
                                                      {Fate::NotSent, &Msg::n355}};
    for (const auto &[fate, text] : lines) {
        QList<int> numbers;
        for (int k = 1; k <= total; ++k)
            if ((k <= fates.size() ? fates[k - 1] : Fate::NotSent) == fate)
                numbers << k;
        if (!numbers.isEmpty())
            PrintErr(s.Text(*text) + FrameNumbers(numbers, s.Text(Msg::n358), total));
    }
}

bool HasSensorRows(const MainState &st) {
    const TextGrid &user = st.sensorSettingsUser;
    return user.rowCountGrid() > 2 || SensorNumberOfRow(user, 1, st.registerMap.MAX_SENSORS) != 0;
}

} // namespace

int RunWriteProfile(Session &s, const CliOptions &o) {
    MemIniFile profile{QString()};
    if (!ReadProfileFile(o.file, profile, s.Context()))
        return ExitCode::FileRefused;
    if (!o.noHistory && !o.dryRun && !o.diff) // the audit trail of what is written
        s.StartHistory();
    if (const int r = s.Connect())
        return r;
    if (!CheckProfileFirmware(profile, s.Context()))
        return ExitCode::FileRefused;
    if (const int r = s.ReadControllerTables())
        return r;
    MainState &st = s.state;
    ConnectUserValues connect;
    if (!FillUserSide(s, profile, connect))
        return ExitCode::FileRefused;
    const bool sensors = HasSensorRows(st);
    const bool writeConnect = !o.noConnect && profile.sectionExists(QStringLiteral("connect")) &&
                              !SameConnectBlock(connect, s.cycle);
    // The checks of the three write buttons, all before anything is sent: a profile that
    // a controller cannot take is refused whole.
    const ShowMessage show = s.Context().show;
    if ((sensors && !ValidateSensorSettings(st.sensorSettingsUser, st.sensorSettings, st.deviceIni,
                                            st.settingsIni, st.registerMap.MAX_SENSORS, show)) ||
        !ValidateRelaySettings(st.relaySettingsUser, st.relaySettings, st.deviceIni, st.settingsIni,
                               show) ||
        (writeConnect && !ValidateConnectSettings(connect, st.settingsIni, show)))
        return ExitCode::FileRefused;
    st.connectUser = connect;

    QList<Operation> operations;
    if (sensors)
        operations.append({&WriteBack::WriteSensorSettings,
                           {&s.cycle.sensorWriteRecord, &s.cycle.tagWriteRecord}});
    operations.append({&WriteBack::WriteRelaySettings, {&s.cycle.relayWriteRecord, nullptr}});
    if (writeConnect)
        operations.append(
            {&WriteBack::WriteConnectSettings, {&s.cycle.connectWriteRecord, nullptr}});

    if (o.diff) {
        const QStringList lines = DiffLines(s, sensors, writeConnect ? &connect : nullptr);
        for (const QString &line : lines)
            PrintOut(line);
        if (lines.isEmpty())
            PrintErr(s.Text(Msg::n360));
        if (!o.dryRun)
            return ExitCode::Ok;
    }

    // What would be sent, on the same tables: printed for --dry-run, counted otherwise.
    s.view.echoProgress = false;
    int total = 0;
    for (Operation &op : operations) {
        WriteBack dry(st, s.cycle);
        dry.dryRun = true;
        dry.requestMade = [&](const QByteArray &frame) {
            ++op.requests;
            if (o.dryRun)
                PrintOut(Hex(frame));
        };
        (dry.*op.write)();
        total += op.requests;
    }
    if (o.dryRun)
        return ExitCode::Ok;

    s.view.echoProgress = true;
    // Each operation's verdict is told per frame below, not as the window's one word: a
    // failure or an interruption after some frames were confirmed is no failure of those.
    s.view.quietProgress = QStringList{st.Text(Msg::n114), st.Text(Msg::n115)};
    QList<Fate> fates; // of the frames handed to the link, in order
    QByteArray last;
    quint64 lastSeq = 0; // the frame log's first entry that can belong to the last frame
    for (Operation &op : operations) {
        if (op.requests == 0)
            continue; // nothing differs: no pauses, no result to show
        WriteBack write(st, s.cycle);
        write.fromProfile = true;
        const qsizetype first = fates.size();
        write.requestMade = [&](const QByteArray &frame) {
            last = frame;
            lastSeq = st.modbus.frameLog().nextSeq();
            fates.append(Fate::Unknown);
            PrintErr(QStringLiteral("  %1/%2  %3").arg(fates.size()).arg(total).arg(Hex(frame)));
        };
        const auto run = [&] { return (write.*op.write)(); };
        const bool ok =
            op.write == &WriteBack::WriteConnectSettings ? s.WriteConnection(run) : run();
        // A frame is followed by the next only once it was confirmed.
        for (qsizetype k = first; k < fates.size(); ++k)
            fates[k] = Fate::Confirmed;
        if (ok) {
            PrintErr(st.Text(Msg::n115));
            continue;
        }
        if (fates.size() > first)
            fates.last() = FateOfFrame(st.modbus.frameLog(), last, lastSeq, s.Interrupted());
        if (!s.Interrupted()) {
            // The failure text of the request that failed, else what the link reported.
            QString why;
            for (ModbusWriteRecord *r : op.records)
                if (r && last.size() >= 4 && r->startRegister == ModbusFrame::word(last, 2) &&
                    !r->errorText.isEmpty())
                    why = r->errorText;
            const QString failure =
                st.Text(Msg::n114) + u' ' + (why.isEmpty() ? s.view.status[0] : why);
            NoteFailure(ErrorKey::WriteFailed, failure);
            PrintErr(failure);
        }
        ReportFates(s, fates, total);
        return s.Interrupted() ? ExitCode::Interrupted : ExitCode::WriteFailed;
    }
    if (s.Interrupted() && fates.size() < total) { // between two operations
        ReportFates(s, fates, total);
        return ExitCode::Interrupted;
    }
    ReportFates(s, fates, total);
    return ExitCode::Ok;
}

// Before connecting: the trend file can be written, and an existing one that is not empty
// can be continued. An empty file counts as a new one.
bool TrendFileUsable(const MemIniFile &texts, const QString &path) {
    QString why;
    const QFileInfo info(path);
    QFile f(path);
    if (info.exists() && info.size() > 0 && !info.isDir() && !ReadTrendHeader(path, &why)) {
        PrintErr(LookupText(texts, Msg::n357) + path + QStringLiteral("  (") + why + u')');
        return false;
    }
    const bool created = !info.exists();
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        PrintErr(LookupText(texts, Msg::n131) + path + QStringLiteral("  (") + f.errorString() +
                 u')');
        return false;
    }
    f.close();
    if (created) // the first row makes it, with its header
        f.remove();
    return true;
}

// A row as the trend file takes it; a missing or empty file first gets its header.
bool WriteTrendRow(TrendFile &file, const TrendReadings &r, QString *why) {
    const QDateTime now = QDateTime::currentDateTime();
    const QFileInfo info(file.path());
    if (info.exists() && info.size() == 0)
        return file.Create(r, why) && file.AppendRow(r, now, why);
    return file.WriteRow(r, now, why);
}

int RunRecord(Session &s, const CliOptions &o) {
    MainState &st = s.state;
    int period = o.period.value_or(
        st.settingsIni.readInteger(QStringLiteral("trends"), QStringLiteral("time"), 5));
    if (period < 1 || period > kMaxTrendPeriodS) // a hand-edited start.ini
        period = 5;
    const QString path = QDir::toNativeSeparators(QFileInfo(o.file).absoluteFilePath());
    if (!TrendFileUsable(st.settingsIni, path))
        return ExitCode::FileRefused;
    if (!o.noHistory)
        s.StartHistory();
    if (const int r = s.Connect())
        return r;
    s.cycle.ReadAllSensorTags(); // the header's tags, as a Start in the window asks for
    s.view.echoLink = true;
    st.pollSensorData = true;
    TrendFile file(path);
    PrintErr(st.Text(Msg::n128) + path);
    bool rowRequested = true; // the first row (and the header) at once
    int rows = 0;
    int result = ExitCode::Ok;
    QTimer timer1;
    QObject::connect(&timer1, &QTimer::timeout, [&] { rowRequested = true; });
    timer1.start(period * 1000);
    s.cycle.liveDataRead = [&] {
        if (!rowRequested)
            return;
        rowRequested = false; // several ticks before one good cycle give one row
        QString why;
        if (!WriteTrendRow(file, TrendReadingsOf(s.cycle, st), &why)) {
            PrintErr(st.Text(Msg::n131) + path + QStringLiteral("  (") + why + u')');
            result = ExitCode::FileRefused;
            return;
        }
        ++rows;
    };
    if (o.forMs)
        s.EndAfter(*o.forMs);
    s.RunPolling([&] { return result != ExitCode::Ok || (o.count && rows >= *o.count); });
    s.StopHistory();
    return result != ExitCode::Ok ? result : CountedEnd(s, o, rows);
}

namespace {

// The setting is one of this controller's map.
bool SettingExists(const Session &s, const SettingName &name) {
    const DeviceRegisterMap &m = s.state.registerMap;
    switch (name.area) {
    case SettingName::Area::Sensor:
        return name.number <= m.MAX_SENSORS && name.column < m.SENSOR_SETTINGS_SIZE_MODBUS;
    case SettingName::Area::Relay:
        return name.number <= m.RELAY_NUMBER && name.column <= m.RELAY_SETTINGS_SIZE;
    case SettingName::Area::Connect:
        break;
    }
    return name.column < m.CONNECT_SETTINGS_SIZE;
}

// Reads the setting's block into the controller table the window shows it in; an exit code.
int ReadSetting(Session &s, const SettingName &name) {
    bool ok = false;
    switch (name.area) {
    case SettingName::Area::Sensor:
        s.state.sensorSettingsReadIndex = name.number - 1;
        ok = s.cycle.ReadNextSensorSettings();
        break;
    case SettingName::Area::Relay:
        ok = s.cycle.ReadRelaySettings();
        break;
    case SettingName::Area::Connect:
        ok = s.cycle.ReadConnectSettings();
        break;
    }
    if (ok && s.state.linkUp)
        return ExitCode::Ok;
    if (s.Interrupted())
        return ExitCode::Interrupted;
    PrintErr(s.view.status[0]);
    return ExitCode::NoAnswer;
}

// The setting's cell text in the controller table, as last read.
QString SettingText(const Session &s, const SettingName &name) {
    switch (name.area) {
    case SettingName::Area::Sensor:
        return s.state.sensorSettings.cell(name.column, name.number);
    case SettingName::Area::Relay:
        return s.state.relaySettings.cell(name.column, name.number);
    case SettingName::Area::Connect:
        break;
    }
    return QString::number(s.cycle.connectSettingsRecord.values[size_t(name.column)]);
}

// Connects and reads the setting; an exit code.
int ReadNamedSetting(Session &s, const SettingName &name, const QString &text) {
    if (const int r = s.Connect())
        return r;
    if (!SettingExists(s, name)) {
        NoteFailure(ErrorKey::UnknownSetting);
        PrintErr(s.Text(Msg::n359) + text);
        return ExitCode::Usage;
    }
    return ReadSetting(s, name);
}

// The user table of one sensor: its controller row with one cell changed.
void OneSensorRow(MainState &st, int n, int column, const QString &text) {
    TextGrid &user = st.sensorSettingsUser, &tags = st.tagUser;
    user.setColCount(st.sensorSettings.colCount());
    user.setRowCount(2);
    tags.setRowCount(2);
    for (int c = 0; c < user.colCount(); ++c) {
        user.setCell(c, 0, st.sensorSettings.cell(c, 0));
        user.setCell(c, 1, st.sensorSettings.cell(c, n));
    }
    tags.setCell(0, 1, st.tagContr.cell(0, n));
    user.setCell(column, 1, text);
}

// The register that holds the setting.
quint16 SettingRegister(const Session &s, const SettingName &name) {
    const DeviceRegisterMap &m = s.state.registerMap;
    switch (name.area) {
    case SettingName::Area::Sensor:
        return quint16(m.SENSOR_SETTINGS_ADDR + (name.number - 1) * m.SENSOR_SETTINGS_STEP +
                       name.column);
    case SettingName::Area::Relay:
        return quint16(m.RELAY_SETTINGS_ADDR + (name.number - 1) * m.RELAY_SETTINGS_STEP +
                       name.column - 1);
    case SettingName::Area::Connect:
        break;
    }
    return quint16(m.CONNECT_SETTINGS_ADDR + name.column);
}

// Only the setting's own register goes out, with the function the window writes its
// table with: 16 for a sensor's block and the connection block, 6 for a relay cell.
bool WriteSetting(Session &s, const SettingName &name, quint16 word) {
    MainState &st = s.state;
    if (s.Interrupted())
        return false;
    const quint16 reg = SettingRegister(s, name);
    switch (name.area) {
    case SettingName::Area::Sensor:
        return st.modbus.WriteRegisters(s.cycle.sensorWriteRecord, reg, 1, &word);
    case SettingName::Area::Relay:
        return st.modbus.WriteRegister(s.cycle.relayWriteRecord, reg, word);
    case SettingName::Area::Connect:
        break;
    }
    return st.modbus.WriteRegisters(s.cycle.connectWriteRecord, reg, 1, &word);
}

// The write as a write-back reports one, for the audit trail: the register, the word the
// controller held and the one sent, and its fate.
void ReportSettingWrite(Session &s, const SettingName &name, const QString &before, quint16 word,
                        WriteReport::Result result) {
    if (!s.cycle.writeReported)
        return;
    const WriteReport::Operation operation =
        name.area == SettingName::Area::Sensor  ? WriteReport::Operation::Sensors
        : name.area == SettingName::Area::Relay ? WriteReport::Operation::Relays
                                                : WriteReport::Operation::Connection;
    const auto was = RegisterWordOfCell(before);
    s.cycle.writeReported(
        WriteReport{operation,
                    false,
                    result == WriteReport::Result::Confirmed,
                    {{SettingRegister(s, name), was ? int(*was) : -1, word, result}}});
}

} // namespace

int RunGet(Session &s, const CliOptions &o) {
    const SettingName name = *ParseSettingName(o.setting);
    if (const int r = ReadNamedSetting(s, name, o.setting))
        return r;
    const QString value = SettingText(s, name);
    if (o.json)
        PrintOut(Json({{"setting", name.name()}, {"value", CellNumber(value)}}));
    else
        PrintOut(value);
    return ExitCode::Ok;
}

int RunSet(Session &s, const CliOptions &o) {
    const SettingName name = *ParseSettingName(o.setting);
    if (!o.noHistory) // the audit trail of what is written
        s.StartHistory();
    if (const int r = ReadNamedSetting(s, name, o.setting))
        return r;
    MainState &st = s.state;
    const QString before = SettingText(s, name);
    // "040" and " 40" are 40, as the controller would hold it.
    const auto number = ParseCellInteger(o.value);
    const QString text = number ? QString::number(*number) : o.value;
    if (text == before) {
        PrintErr(s.Text(Msg::n360));
        if (o.json)
            PrintOut(Json({{"setting", name.name()},
                           {"previous", CellNumber(before)},
                           {"value", CellNumber(text)}}));
        return ExitCode::Ok;
    }
    // The limits of the window's tables, checked on the cell as the window checks an edit.
    const ShowMessage show = s.Context().show;
    bool valid = false;
    switch (name.area) {
    case SettingName::Area::Sensor:
        OneSensorRow(st, name.number, name.column, text);
        valid = ValidateSensorSettings(st.sensorSettingsUser, st.sensorSettings, st.deviceIni,
                                       st.settingsIni, st.registerMap.MAX_SENSORS, show);
        break;
    case SettingName::Area::Relay:
        CopyRelayRows(st.relaySettings, st.relaySettingsUser);
        st.relaySettingsUser.setCell(name.column, name.number, text);
        valid = ValidateRelaySettings(st.relaySettingsUser, st.relaySettings, st.deviceIni,
                                      st.settingsIni, show);
        break;
    case SettingName::Area::Connect: {
        const ConnectControls &c = st.connectContr;
        ConnectUserValues values{c.addr, c.baud, c.parity, c.stops, c.chan, c.language};
        values.chan = text;
        valid = ValidateConnectSettings(values, st.settingsIni, show);
        break;
    }
    }
    const auto word = RegisterWordOfCell(text);
    if (!valid || !word) {
        NoteFailure(ErrorKey::ValueRefused);
        return ExitCode::FileRefused;
    }
    const bool interruptedBefore = s.Interrupted(); // then it never left
    if (!WriteSetting(s, name, *word)) {
        ReportSettingWrite(s, name, before, *word,
                           interruptedBefore ? WriteReport::Result::NotSent
                                             : WriteReport::Result::Failed);
        if (s.Interrupted())
            return ExitCode::Interrupted;
        const ModbusWriteRecord &r =
            name.area == SettingName::Area::Relay    ? s.cycle.relayWriteRecord
            : name.area == SettingName::Area::Sensor ? s.cycle.sensorWriteRecord
                                                     : s.cycle.connectWriteRecord;
        const QString failure =
            st.Text(Msg::n114) + u' ' + (r.errorText.isEmpty() ? s.view.status[0] : r.errorText);
        NoteFailure(ErrorKey::WriteFailed, failure);
        PrintErr(failure);
        return ExitCode::WriteFailed;
    }
    ReportSettingWrite(s, name, before, *word, WriteReport::Result::Confirmed);
    // The controller confirmed; what it holds now is the verdict.
    if (const int r = ReadSetting(s, name))
        return r;
    const QString after = SettingText(s, name);
    const QString label = name.label(st.settingsIni);
    if (after != text) {
        const QString failure =
            s.Text(Msg::n361) + label + QStringLiteral(": ") + text + s.Text(Msg::n362) + after;
        NoteFailure(ErrorKey::ReadBackDiffers, failure);
        PrintErr(failure);
        return ExitCode::WriteFailed;
    }
    if (o.json)
        PrintOut(Json({{"setting", name.name()},
                       {"previous", CellNumber(before)},
                       {"value", CellNumber(after)}}));
    else
        PrintOut(Change(label, before, after));
    return ExitCode::Ok;
}

int RunTrend(const CliOptions &o, const MemIniFile &texts) {
    QFile f(o.file);
    QString why;
    std::optional<TrendColumns> columns;
    QByteArray bytes;
    if (f.open(QIODevice::ReadOnly)) {
        bytes = f.readAll();
        columns = ParseTrendColumns(bytes, &why);
    } else {
        why = f.errorString();
    }
    if (!columns) {
        NoteFailure(ErrorKey::FileRefused);
        PrintErr(LookupText(texts, Msg::n365) + o.file + QStringLiteral("  (") + why + u')');
        return ExitCode::FileRefused;
    }
    if (!o.json) { // the file's own cells, state texts included, in UTF-8
        for (QString line :
             Cp1251::decode(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            if (line.endsWith(u'\t'))
                line.chop(1);
            PrintOut(line);
        }
        return ExitCode::Ok;
    }
    // A cell that holds no temperature (a state text, a gap) is null.
    for (qsizetype row = 0; row < columns->rowCount(); ++row) {
        QJsonArray sensors;
        for (qsizetype c = 0; c < columns->sensors.size(); ++c) {
            const float v = columns->values[size_t(c)][size_t(row)];
            QJsonObject one{
                {"sensor", columns->sensors[c]},
                {"temperature", std::isnan(v) ? QJsonValue(QJsonValue::Null) : QJsonValue(int(v))}};
            if (!columns->tags.value(c).isEmpty())
                one.insert("tag", columns->tags[c]);
            sensors.append(one);
        }
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(columns->timesMs[size_t(row)]);
        PrintOut(Json({{"time", IsoTime(when)}, {"sensors", sensors}}));
    }
    return ExitCode::Ok;
}
