#include "WriteBack.h"

#include "MainState.h"
#include "MainView.h"
#include "ModbusFrames.h"
#include "PollCycle.h"
#include "SensorId.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "SettingsValidation.h"
#include "TextGrid.h"

namespace {

constexpr int kSensorPauseMs = 500;
constexpr int kPauseMs = 1000;

// A table as it stands now. The controller tables are taken when an operation starts:
// showing a page during a pause empties the live ones, and that is no change the user
// asked to send. The user tables are taken when sending starts: whatever a handler does
// to them later (a dialog's result arriving in a wait) never makes a write send a mix.
class Snapshot {
public:
    explicit Snapshot(const TextGrid &grid) { CopyGridToGrid(grid, m_grid); }
    operator const TextGrid &() const { return m_grid; }

private:
    TextGrid m_grid;
};

} // namespace

std::optional<quint16> RegisterWordOfCell(const QString &text)
{
    const std::optional<int> v = ParseCellInteger(text);
    if (!v || *v < -32768 || *v > 65535)
        return std::nullopt;
    return quint16(*v & 0xFFFF);
}

std::optional<std::pair<quint16, quint16>> SensorIdWords(const QString &text)
{
    const int id = ParseSensorId(text);
    if (id < 0 || id > 0xFFFFFF)
        return std::nullopt;
    return std::pair{quint16(id >> 8), quint16(id & 0xFF)};
}

WriteBack::WriteBack(MainState &state, PollCycle &cycle) : m_state(state), m_cycle(cycle) {}

bool WriteBack::pause(int ms)
{
    if (m_state.stopPolling)
        return false;
    if (dryRun)
        return true;
    // The user's input is let in: the pages that feed the write are not editable meanwhile,
    // and a window that stores clicks for seconds and replays them later is worse. Closing
    // the window aborts the link, which ends this wait at once.
    return m_state.link.Pause(ms, true) && !m_state.stopPolling;
}

void WriteBack::start(const TextKey &text)
{
    m_state.view().SetWriteBackRunning(true);
    m_state.view().ShowProgress(m_state.Text(text));
    m_state.view().ProcessMessages();
}

void WriteBack::ShowWriteResult(bool ok)
{
    m_state.view().ShowProgress(m_state.Text(ok ? Msg::n115 : Msg::n114));
    m_state.view().ProcessMessages();
    pause(kPauseMs);
    m_state.view().HideProgress();
}

bool WriteBack::finish(bool ok)
{
    ShowWriteResult(ok);
    // Requests still waiting keep their pages locked.
    m_state.view().SetWriteBackRunning(m_state.AnyWriteRequested());
    return ok;
}

ShowMessage WriteBack::showError() const
{
    return [&s = m_state](const QString &caption, const QString &text) {
        s.ShowError(caption, text);
    };
}

bool WriteBack::WriteSensorSettings()
{
    MainState &s = m_state;
    const Snapshot settings(s.sensorSettings), tags(s.tagContr);
    const std::vector<bool> copyRead = s.sensorCopyRead;
    m_registers.clear();
    start(Msg::n111);
    const bool ok = pause(kSensorPauseMs) && sendSensorRows(settings, tags, copyRead);
    report(WriteReport::Operation::Sensors, ok);
    finish(ok);
    // The sensor page shown: its controller table is read again from sensor 1.
    if (ok && s.pollSensorSettings)
        s.SensorSettingsShown();
    return ok;
}

bool WriteBack::sensorWords(const TextGrid &user, int row, QList<quint16> &words) const
{
    const int size = m_state.registerMap.SENSOR_SETTINGS_SIZE_MODBUS;
    words = QList<quint16>(qMax(size, 2), 0);
    const auto id = SensorIdWords(user.cell(1, row));
    if (!id)
        return false;
    words[0] = id->first;
    words[1] = id->second;
    for (int c = 2; c < size; ++c) {
        const auto v = RegisterWordOfCell(user.cell(c, row));
        if (!v)
            return false;
        words[c] = *v;
    }
    words.resize(size);
    return true;
}

bool WriteBack::sendSensorRows(const TextGrid &settings, const TextGrid &tags,
                               const std::vector<bool> &copyRead)
{
    MainState &s = m_state;
    const Snapshot userSnapshot(s.sensorSettingsUser), userTagSnapshot(s.tagUser);
    const TextGrid &user = userSnapshot, &userTags = userTagSnapshot;
    const DeviceRegisterMap &m = s.registerMap; // changes only when a step identifies
    // What goes out is checked as it goes out: the copy it is compared with was read from
    // this controller, and the values are those the check passed.
    for (int i = 1; i < user.rowCountGrid(); ++i) {
        const int n = SensorNumberOfRow(user, i, m.MAX_SENSORS);
        if (n > 0 && (size_t(n) > copyRead.size() || !copyRead[size_t(n - 1)])) {
            s.ShowError(s.Text(Msg::n67), s.Text(Msg::n133));
            return false;
        }
    }
    TextGrid checked;
    CopyGridToGrid(user, checked);
    if (!ValidateSensorSettings(checked, settings, s.deviceIni, s.settingsIni, m.MAX_SENSORS,
                                showError()))
        return false;
    const bool withTags = s.firmwareVersion >= kFirstTagFirmware && m.QOR_SENSOR_TAG_SIZE > 0;
    // Everything the operation sends is known before the first request goes: registers it
    // never reaches are on record as not sent.
    std::vector<Request> requests;
    for (int i = 1; i < user.rowCountGrid(); ++i) {
        const int n = SensorNumberOfRow(user, i, m.MAX_SENSORS);
        if (n == 0)
            continue;
        const size_t k = size_t(n - 1);
        const bool read = k < copyRead.size() && copyRead[k];
        auto recordOf = [k](const std::vector<ModbusReadRecord> &records) {
            return k < records.size() ? &records[k] : nullptr;
        };
        bool changed = false;
        for (int c = 1; c < user.colCount() && !changed; ++c)
            changed = user.cell(c, i) != settings.cell(c, n);
        if (changed) {
            QList<quint16> words;
            if (!sensorWords(user, i, words))
                return false;
            const quint16 start =
                quint16(m.SENSOR_SETTINGS_ADDR + (n - 1) * m.SENSOR_SETTINGS_STEP);
            requests.push_back({&m_cycle.sensorWriteRecord, start, words, false,
                                copyWords(recordOf(m_cycle.sensorSettingsRecords), read,
                                          int(words.size()))});
        }
        const QString tag = userTags.cell(0, i);
        if (!withTags || tag == tags.cell(0, n))
            continue;
        const QList<quint16> words = SensorTagWords(tag, m.QOR_SENSOR_TAG_SIZE);
        const quint16 start = quint16(m.QOR_SENSOR_TAG_ADDR + (n - 1) * m.QOR_SENSOR_TAG_STEP);
        requests.push_back({&m_cycle.tagWriteRecord, start, words, false,
                            copyWords(recordOf(m_cycle.sensorTagRecords), read,
                                      int(words.size()))});
    }
    return sendAll(requests);
}

std::vector<int> WriteBack::copyWords(const ModbusReadRecord *record, bool read, int count)
{
    std::vector<int> words(size_t(qMax(0, count)), -1);
    if (record && read)
        for (int k = 0; k < count && k < record->registerCount &&
                        size_t(k) < record->values.size();
             ++k)
            words[size_t(k)] = record->values[size_t(k)];
    return words;
}

bool WriteBack::send(const Request &r)
{
    return r.single ? writeOne(*r.record, r.start, r.words[0])
                    : writeMany(*r.record, r.start, r.words);
}

bool WriteBack::sendAll(const std::vector<Request> &requests)
{
    const size_t first = m_registers.size();
    for (const Request &r : requests)
        for (int k = 0; k < r.words.size(); ++k)
            m_registers.push_back({r.start + k, r.before[size_t(k)], r.words[k],
                                   WriteReport::Result::NotSent});
    size_t at = first;
    for (const Request &r : requests) {
        if (m_state.stopPolling)
            return false;
        const bool ok = send(r);
        for (int k = 0; k < r.words.size(); ++k, ++at)
            m_registers[at].result =
                ok ? WriteReport::Result::Confirmed : WriteReport::Result::Failed;
        if (!ok)
            return false;
    }
    return true;
}

void WriteBack::report(WriteReport::Operation operation, bool ok)
{
    std::vector<WriteReport::Register> registers = std::move(m_registers);
    m_registers.clear();
    // A dry run sends nothing: nothing was changed on the controller.
    if (dryRun || !m_cycle.writeReported)
        return;
    m_cycle.writeReported(WriteReport{operation, fromProfile, ok, std::move(registers)});
}

bool WriteBack::WriteRelaySettings()
{
    const Snapshot settings(m_state.relaySettings);
    const bool copyRead = m_state.RelayCopyRead();
    m_registers.clear();
    start(Msg::n112);
    const bool ok = pause(kPauseMs) && sendRelayCells(settings, copyRead);
    report(WriteReport::Operation::Relays, ok);
    return finish(ok);
}

bool WriteBack::sendRelayCells(const TextGrid &settings, bool copyRead)
{
    MainState &s = m_state;
    const Snapshot userSnapshot(s.relaySettingsUser);
    const TextGrid &user = userSnapshot;
    const DeviceRegisterMap &m = s.registerMap;
    if (!copyRead) {
        s.ShowError(s.Text(Msg::n67), s.Text(Msg::n133));
        return false;
    }
    if (!ValidateRelaySettings(user, settings, s.deviceIni, s.settingsIni, showError()))
        return false;
    // Cells outside the map have no register of their own.
    const int rows = qMin(user.rowCountGrid() - 1, int(m.RELAY_NUMBER));
    const int cols = qMin(user.colCount() - 1, int(m.RELAY_SETTINGS_SIZE));
    std::vector<Request> requests;
    for (int r = 1; r <= rows; ++r) {
        const size_t row = size_t(r - 1);
        const ModbusReadRecord *copy = row < m_cycle.relaySettingsRecords.size()
                                           ? &m_cycle.relaySettingsRecords[row]
                                           : nullptr;
        const std::vector<int> before = copyWords(copy, copyRead, cols);
        for (int c = 1; c <= cols; ++c) {
            const QString text = user.cell(c, r);
            if (text == settings.cell(c, r))
                continue;
            const auto value = RegisterWordOfCell(text);
            if (!value)
                return false;
            const quint16 reg =
                quint16(m.RELAY_SETTINGS_ADDR + (r - 1) * m.RELAY_SETTINGS_STEP + (c - 1));
            requests.push_back(
                {&m_cycle.relayWriteRecord, reg, {*value}, true, {before[size_t(c - 1)]}});
        }
    }
    return sendAll(requests);
}

// The slave address of the requests, as the master takes it for each transaction.
static quint8 SlaveAddress(const MainState &s)
{
    return quint8(s.settingsIni.readInteger(QStringLiteral("connect"), QStringLiteral("adr"), 100));
}

bool WriteBack::writeMany(ModbusWriteRecord &record, quint16 start, const QList<quint16> &words)
{
    if (requestMade)
        requestMade(ModbusFrame::writeMultipleRequest(SlaveAddress(m_state), start,
                                                      quint16(words.size()), words.constData()));
    return dryRun || m_state.modbus.WriteRegisters(record, start, quint16(words.size()),
                                                   words.constData());
}

bool WriteBack::writeOne(ModbusWriteRecord &record, quint16 reg, quint16 value)
{
    if (requestMade)
        requestMade(ModbusFrame::writeSingleRequest(SlaveAddress(m_state), reg, value));
    return dryRun || m_state.modbus.WriteRegister(record, reg, value);
}

bool WriteBack::connectWords(QList<quint16> &words) const
{
    const ConnectUserValues &u = m_state.connectUser;
    const int size = m_state.registerMap.CONNECT_SETTINGS_SIZE;
    const auto addr = RegisterWordOfCell(u.addr);
    const auto chan = RegisterWordOfCell(u.chan);
    auto chosen = [](int index, int items) { return index >= 0 && index < items; };
    if (size < 6 || !addr || !chan || !chosen(u.baud, kBaudRateItems) ||
        !chosen(u.parity, kParityItems) || !chosen(u.stops, kStopsItems) ||
        !chosen(u.language, kMenuLanguageItems))
        return false;
    words = QList<quint16>(size, 0);
    // Words past the six the program knows keep what the controller holds.
    const ModbusReadRecord &read = m_cycle.connectSettingsRecord;
    if (m_cycle.connectSettingsReadOk)
        for (int k = 6; k < size && k < read.receivedCount; ++k)
            words[k] = read.values[size_t(k)];
    words[0] = *addr;
    words[1] = quint16(u.baud);
    words[2] = quint16(u.parity);
    words[3] = quint16(u.stops + 1); // the number of stop bits
    words[4] = *chan;
    words[5] = quint16(u.language);
    return true;
}

bool WriteBack::WriteConnectSettings()
{
    MainState &s = m_state;
    QList<quint16> words;
    const bool read = s.connectCopyRead;
    if (!read)
        s.ShowError(s.Text(Msg::n67), s.Text(Msg::n133));
    const bool built = read && ValidateConnectSettings(s.connectUser, s.settingsIni, showError()) &&
                       connectWords(words);
    m_registers.clear();
    start(Msg::n113);
    const bool ok = pause(kPauseMs) && built && sendConnectBlock(words);
    // Sent: the read-back at the new settings is the verdict on every word of the block.
    for (WriteReport::Register &r : m_registers)
        if (r.result != WriteReport::Result::NotSent)
            r.result = ok ? WriteReport::Result::Confirmed : WriteReport::Result::Failed;
    report(WriteReport::Operation::Connection, ok);
    return finish(ok);
}

bool WriteBack::sendConnectBlock(const QList<quint16> &words)
{
    MainState &s = m_state;
    const quint16 first = s.registerMap.CONNECT_SETTINGS_ADDR;
    const std::vector<int> copy =
        copyWords(&m_cycle.connectSettingsRecord,
                  m_cycle.connectSettingsReadOk && s.connectCopyRead, int(words.size()));
    for (int k = 0; k < words.size(); ++k)
        m_registers.push_back({first + k, copy[size_t(k)], words[k], WriteReport::Result::NotSent});
    if (s.stopPolling)
        return false;
    // Its confirmation may come at the old speed or not at all: the read-back judges.
    const bool confirmed = writeMany(m_cycle.connectWriteRecord, first, words);
    for (WriteReport::Register &r : m_registers)
        r.result = WriteReport::Result::Failed; // sent; WriteConnectSettings gives the verdict
    if (dryRun)
        return true;
    // An exception is the controller refusing the block at the old settings: it did not
    // move, and neither does the program.
    if (!confirmed && m_cycle.connectWriteRecord.exceptionAnswer)
        return false;
    const QString connect = QStringLiteral("connect");
    const QStringList lineKeys{QStringLiteral("adr"), QStringLiteral("speed"),
                               QStringLiteral("parity"), QStringLiteral("stopbits")};
    // The old settings as they stand, a missing key (the program's default) included.
    QList<std::optional<QString>> before;
    for (const QString &key : lineKeys)
        before << (s.settingsIni.valueExists(connect, key)
                       ? std::optional(s.settingsIni.readString(connect, key, {}))
                       : std::nullopt);
    const QList<std::optional<QString>> after{
        QString::number(words[0]), QString::number(words[1]), QString::number(words[2]),
        QString::number(s.connectUser.stops)};
    auto useLine = [&](const QList<std::optional<QString>> &values) {
        for (int k = 0; k < lineKeys.size(); ++k) {
            if (values[k])
                s.settingsIni.writeString(connect, lineKeys[k], *values[k]);
            else
                s.settingsIni.deleteKey(connect, lineKeys[k]);
        }
        s.SaveSettings();
        if (s.connectSettingsMoved)
            s.connectSettingsMoved(); // the bus follows before the port is set up again
        return s.link.ConfigurePort() && m_cycle.ReadConnectSettings();
    };
    // The program follows the controller to its new address and line settings.
    if (useLine(after))
        return true;
    if (s.stopPolling)
        return false;
    // Nobody at the new settings: the block may never have arrived. Where the controller
    // still answers at the old ones, the program goes back there.
    if (useLine(before))
        return false; // the next step identifies it there again
    if (s.stopPolling)
        return false;
    // Nobody at either: the block was most likely carried out and its answer lost, so the
    // new settings stay, and the user is told.
    if (useLine(after))
        return true;
    s.SetLinkNotice(s.Text(Msg::n134));
    return false;
}
