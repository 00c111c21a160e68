#include "PollCycle.h"

#include "MainState.h"
#include "MainView.h"
#include "SensorId.h"
#include "SensorTags.h"
#include "Tick.h"
#include "WriteBack.h"

namespace {

constexpr quint16 kIdentificationRegister = 0x0400;
constexpr quint16 kQor7070 = 3126;

} // namespace

SensorStatusTexts::SensorStatusTexts(const MainState &s)
    : m_texts{s.Text(Msg::n104), s.Text(Msg::n105), s.Text(Msg::n106), s.Text(Msg::n107),
              s.Text(Msg::n108), s.Text(Msg::n109), s.Text(Msg::n110)}
{
}

QString SensorStatusTexts::operator()(quint16 code) const
{
    switch (code) {
    case 0: case 1: case 2: return m_texts[code];
    case 10: case 20: case 30: case 40: return m_texts[2 + code / 10];
    default: return QStringLiteral("-------");
    }
}

PollCycle::PollCycle(MainState &state) : m_state(state) {}

void PollCycle::dropPendingWrites()
{
    if (m_state.CancelPendingWrites())
        WriteBack(m_state, *this).ShowWriteResult(false);
}

void PollCycle::PollCycleStep()
{
    struct StepEnd {
        PollCycle &cycle;
        ~StepEnd()
        {
            if (cycle.stepEnded)
                cycle.stepEnded();
        }
    } stepEnd{*this};
    runStep();
}

void PollCycle::runStep()
{
    MainState &s = m_state;
    // A write asked for on a link that has since been lost, stopped or moved was checked
    // against a controller that may not be the one answering next: it is dropped, never
    // sent later.
    if (!s.linkUp || s.portSettingsChanged || s.linkInterruptedByUser)
        dropPendingWrites();
    if (s.portSettingsChanged) {
        if (!s.SharedLink()) // a bus's port stays open for the others
            s.link.ClosePort();
        s.portSettingsChanged = false;
        configurationFailed = false;
        // Polling goes on without a new identification, but the port may now lead to
        // another controller: what the pages read before is no copy of it.
        s.ForgetControllerCopies();
        s.modbus.statistics().Reset(); // another connection: its own counts
    }
    if (s.linkInterruptedByUser) {
        configurationFailed = false;
        s.identifyingAgain = false;
        if (s.linkUp) {
            if (!s.SharedLink())
                s.link.ClosePort();
            priority(false);
            s.SetLinkDown(s.Text(Msg::n100));
        }
        return;
    }
    const QString port = s.settingsIni.readString(QStringLiteral("connect"), QStringLiteral("port"), {});
    if (!s.link.ConnectPort(SerialLink::PortPathFromSetting(port))) {
        using Problem = MainView::LinkProblem;
        if (!s.link.Aborted())
            s.view().ShowLinkProblem(port.trimmed().isEmpty() ? Problem::NoPort
                                                              : Problem::PortDoesNotOpen,
                                     port, s.link.portError());
        priority(false);
        configurationFailed = false;
        s.identifyingAgain = false;
        return;
    }
    if (!s.linkUp) {
        const bool identified = IdentifyController();
        s.identifyingAgain = false;
        if (!identified) {
            // Nobody answered at this address; on a bus the others may well answer.
            if (!s.SharedLink())
                s.link.ClosePort();
            priority(false);
            return;
        }
        priority(true);
        s.linkUp = true;
        s.ShowLinkState(s.Text(Msg::n101));
        s.view().ShowLamp(MainView::Lamp::Online);
        cycleStartTick = TickMs();
        s.modbus.statistics().CycleStarted();
        if (controllerIdentified)
            controllerIdentified(identificationRecord.values[0], s.firmwareVersion);
    }
    if (s.deviceChanged) {
        SizeRecordArrays();
        s.deviceChanged = false;
    }
    if (!ReadRelayStatus())
        return;
    if (relayStateRead)
        relayStateRead();
    // The live data: every step on the sensor-data page, and on the other pages for each
    // trend row and every [history] live seconds, between the page's own reads.
    const bool rowWanted = liveDataWanted && liveDataWanted();
    if (s.pollSensorData || rowWanted) {
        const bool sensorPage = s.pollSensorData;
        if (!(sensorPage ? ReadSensorData() : ReadLiveData())) {
            if (rowWanted && liveDataFailed && !s.link.Aborted())
                liveDataFailed();
            return;
        }
        if (sensorDataRead)
            sensorDataRead();
        if (liveDataRead)
            liveDataRead();
    }
    if (s.readAllTagsRequested) {
        ReadAllSensorTags();
        s.readAllTagsRequested = false;
        if (allTagsRead)
            allTagsRead();
    }
    if (s.pollSensorSettings && !ReadNextSensorSettings())
        return;
    if (s.pollRelaySettings && !ReadRelaySettings())
        return;
    if (s.pollConnectSettings && !ReadConnectSettings())
        return;
    cycleEndTick = TickMs();
    s.view().ShowCycleTime(QString::number(cycleEndTick - cycleStartTick));
    s.modbus.statistics().CycleEnded(qint64(quint32(cycleEndTick - cycleStartTick)));
    cycleStartTick = TickMs();
    ServeWriteRequests();
}

void PollCycle::ServeWriteRequests()
{
    MainState &s = m_state;
    WriteBack writes(s, *this);
    writes.fromProfile = s.profileWriteRequested;
    // Each request is served once, whatever the result; closing the window ends the step.
    struct Request {
        bool &flag;
        bool (WriteBack::*write)();
    };
    const Request requests[] = {
        {s.writeSensorSettingsRequested, &WriteBack::WriteSensorSettings},
        {s.writeRelaySettingsRequested, &WriteBack::WriteRelaySettings},
        {s.writeConnectSettingsRequested, &WriteBack::WriteConnectSettings}};
    for (const Request &r : requests) {
        if (!r.flag)
            continue;
        if (s.stopPolling)
            return;
        r.flag = false; // before it runs: the write's end unlocks the pages when none is left
        s.lastWriteSucceeded = (writes.*r.write)();
        if (!s.AnyWriteRequested())
            s.profileWriteRequested = false;
        if (!s.lastWriteSucceeded)
            return;
    }
}

bool PollCycle::IdentifyController()
{
    MainState &s = m_state;
    const QString firmwareLabel = s.Text(Msg::n22);
    ModbusReadRecord &r = identificationRecord;
    quint16 code = 0, firmware = 0, hardware = 0;
    if (s.modbus.ReadRegisters(r, kIdentificationRegister, 4)) {
        code = r.values[0];
        firmware = r.values[1];
        hardware = r.values[3];
    } else if (r.exceptionAnswer && s.modbus.ReadRegisters(r, kIdentificationRegister, 2)) {
        // Only a controller that answered, with an exception, is asked the short way: after
        // a time-out nobody is there, and a controller coming back meanwhile is no 1.0.
        code = r.values[0];
        firmware = 0x0100;
        hardware = 0;
    } else {
        configurationFailed = false;
        if (!s.link.Aborted())
            s.view().ShowLinkProblem(MainView::LinkProblem::NoAnswer,
                                     s.settingsIni.readString(QStringLiteral("connect"),
                                                              QStringLiteral("port"), {}),
                                     {});
        return false;
    }
    // Somebody answered: whatever else is wrong is told in the status bar.
    s.view().ShowLinkProblem(MainView::LinkProblem::None, {}, {});
    s.firmwareVersionText = VersionText(firmware);
    s.hardwareVersionText = VersionText(hardware);
    s.view().ShowStatus(3, firmwareLabel + QStringLiteral("FW ") + s.firmwareVersionText +
                               QStringLiteral(" HW ") + s.hardwareVersionText);
    if (code != kQor7070) {
        s.view().ShowStatus(2, s.Text(Msg::n103));
        return false;
    }
    s.view().ShowStatus(2, s.Text(Msg::n102));
    if (configurationFailed && (code != m_failedDeviceCode || firmware != m_failedFirmware))
        configurationFailed = false;
    if (configurationFailed)
        return false;
    if (!s.LoadDeviceConfiguration(code, firmware)) {
        configurationFailed = true;
        m_failedDeviceCode = code;
        m_failedFirmware = firmware;
        return false;
    }
    configurationFailed = false;
    s.ForgetControllerCopies();
    return ReadConnectSettings();
}

bool PollCycle::ReadRelayStatus()
{
    MainState &s = m_state;
    const bool ok = s.modbus.ReadRegisters(relayStateRecord, s.registerMap.RELAY_STATUS_ADDR, 1);
    s.relayStateWord = ok ? relayStateRecord.values[0] : 0;
    for (int r = 0; r < s.registerMap.RELAY_NUMBER; ++r)
        s.qorRelay.setCell(1, r, QString::number(r < 16 ? (s.relayStateWord >> r) & 1 : 0));
    return ok;
}

void PollCycle::fillColumn(int col, const QString &text)
{
    for (TextGrid *g : {&m_state.sensorsData, &m_state.sensorsData2})
        for (int row = 1; row < g->rowCountGrid(); ++row)
            g->setCell(col, row, text);
}

bool PollCycle::ReadSensorData()
{
    MainState &s = m_state;
    const DeviceRegisterMap &m = s.registerMap;
    if (!s.modbus.ReadRegisters(statusRecord, m.QOR_STATUS_ADDR, m.MAX_SENSORS)) {
        fillColumn(2, QStringLiteral("---"));
        s.view().ProcessMessages();
        return false;
    }
    std::vector<int> registered; // zero-based sensor indexes, in order
    for (int i = 0; i < m.MAX_SENSORS; ++i)
        if (statusRecord.values[i] != 40)
            registered.push_back(i);
    const int n = int(registered.size());
    const int half = m.MAX_SENSORS / 2;
    TextGrid &left = s.sensorsData;
    TextGrid &right = s.sensorsData2;
    const int oldLeft = left.rowCountGrid(), oldRight = right.rowCountGrid();
    auto layoutDone = [&] {
        if (left.rowCountGrid() != oldLeft || right.rowCountGrid() != oldRight)
            s.view().SensorDataLayoutChanged();
    };
    if (n == 0) {
        left.setRowCount(2);
        right.setRowCount(2);
        left.clearRow(1);
        right.clearRow(1);
        layoutDone();
        return true;
    }
    if (n > half) {
        left.setRowCount(half + 1);
        right.setRowCount(n - half + 1);
    } else {
        left.setRowCount(n + 1);
        right.setRowCount(2);
        right.clearRow(1);
    }
    layoutDone();
    // Entry k (1-based) sits in the left grid up to half, then in the right one.
    auto place = [&](int k) -> std::pair<TextGrid *, int> {
        return k <= half ? std::pair{&left, k} : std::pair{&right, k - half};
    };
    const SensorStatusTexts &statusText = gridTexts().status;
    const QString &label = gridTexts().label;
    for (int k = 1; k <= n; ++k) {
        auto [g, row] = place(k);
        const int sensor = registered[k - 1];
        const QString header = label + QString::number(sensor + 1);
        // A row that now belongs to another sensor drops the values it showed: should a
        // later read of this cycle fail, they would stand under the wrong sensor.
        if (g->cell(0, row) != header) {
            g->setCell(1, row, QString());
            g->setCell(3, row, QString());
        }
        g->setCell(0, row, header);
        g->setCell(2, row, statusText(statusRecord.values[sensor]));
    }
    // Temperatures into column 1, then seconds into column 3: one whole block each.
    auto readColumn = [&](ModbusReadRecord &record, quint16 start, int col) {
        if (!s.modbus.ReadRegisters(record, start, m.MAX_SENSORS)) {
            fillColumn(col, QStringLiteral("---"));
            return false;
        }
        for (int k = 1; k <= n; ++k) {
            auto [g, row] = place(k);
            g->setCell(col, row, QString::number(record.values[registered[k - 1]]));
        }
        return true;
    };
    if (!readColumn(temperatureRecord, m.QOR_TEMPERATURE_ADDR, 1) ||
        !readColumn(timeElapsedRecord, m.QOR_TIMEELAPSED_ADDR, 3))
        return false;
    return true;
}

const PollCycle::GridTexts &PollCycle::gridTexts()
{
    const quint64 revision = m_state.settingsIni.revision();
    if (!m_gridTexts || m_gridTexts->revision != revision)
        m_gridTexts.emplace(
            GridTexts{revision, SensorStatusTexts(m_state), m_state.Text(Msg::n32) + u' '});
    return *m_gridTexts;
}

bool PollCycle::ReadLiveData()
{
    const DeviceRegisterMap &m = m_state.registerMap;
    ModbusMaster &modbus = m_state.modbus;
    return modbus.ReadRegisters(statusRecord, m.QOR_STATUS_ADDR, m.MAX_SENSORS) &&
           modbus.ReadRegisters(temperatureRecord, m.QOR_TEMPERATURE_ADDR, m.MAX_SENSORS) &&
           modbus.ReadRegisters(timeElapsedRecord, m.QOR_TIMEELAPSED_ADDR, m.MAX_SENSORS);
}

bool PollCycle::ReadConnectSettings()
{
    MainState &s = m_state;
    connectSettingsReadOk = s.modbus.ReadRegisters(connectSettingsRecord,
                                                   s.registerMap.CONNECT_SETTINGS_ADDR,
                                                   s.registerMap.CONNECT_SETTINGS_SIZE);
    s.connectCopyRead = connectSettingsReadOk;
    ConnectControls c;
    if (connectSettingsReadOk) {
        const auto &w = connectSettingsRecord.values;
        auto item = [](int word, int items) { return word >= 0 && word < items ? word : -1; };
        c.addr = QString::number(w[0]);
        c.baud = item(w[1], 5);
        c.parity = item(w[2], 3);
        c.stops = item(int(w[3]) - 1, 2);
        c.chan = QString::number(w[4]);
        c.language = item(w[5], 2);
    } else {
        c.dashes = true;
    }
    s.connectContr = c;
    s.view().ShowControllerConnectSettings();
    return connectSettingsReadOk;
}

bool PollCycle::readTag(int i)
{
    const DeviceRegisterMap &m = m_state.registerMap;
    return m_state.modbus.ReadRegisters(sensorTagRecords[i],
                                        quint16(m.QOR_SENSOR_TAG_ADDR + i * m.QOR_SENSOR_TAG_STEP),
                                        m.QOR_SENSOR_TAG_SIZE);
}

bool PollCycle::ReadNextSensorSettings()
{
    MainState &s = m_state;
    const DeviceRegisterMap &m = s.registerMap;
    if (s.sensorSettingsReadIndex >= m.MAX_SENSORS)
        s.sensorSettingsReadIndex = 0;
    const int i = s.sensorSettingsReadIndex;
    const int pass = s.sensorSettingsPass;
    if (s.writeSensorSettingsRequested || i >= int(sensorSettingsRecords.size()))
        return true; // the controller table is not refreshed while a write is pending
    ModbusReadRecord &r = sensorSettingsRecords[i];
    TextGrid &grid = s.sensorSettings;
    const bool ok = s.modbus.ReadRegisters(
        r, quint16(m.SENSOR_SETTINGS_ADDR + i * m.SENSOR_SETTINGS_STEP), m.SENSOR_SETTINGS_SIZE_MODBUS);
    if (ok) {
        for (int c = 2; c < m.SENSOR_SETTINGS_SIZE_MODBUS; ++c)
            grid.setCell(c, i + 1, QString::number(r.values[c]));
        grid.setCell(1, i + 1, FormatSensorId(qint64(r.values[0]) * 256 + r.values[1]));
        // First pass: keep the row being filled in sight.
        if (!s.sensorSettingsCopyEnabled && i >= s.view().SensorSettingsVisibleRows() - 1)
            grid.setTopRow(grid.topRow() + 1);
    } else {
        for (int c = 1; c < grid.colCount(); ++c)
            grid.setCell(c, i + 1, QStringLiteral("---"));
    }
    bool tagOk = true;
    if (s.firmwareVersion >= kFirstTagFirmware) {
        tagOk = readTag(i);
        s.tagContr.setCell(0, i + 1,
                           tagOk ? SensorTagText(sensorTagRecords[i].values, m.QOR_SENSOR_TAG_SIZE)
                                 : QStringLiteral("---"));
    }
    if (size_t(i) < s.sensorCopyRead.size())
        s.sensorCopyRead[size_t(i)] = ok && tagOk;
    // Showing the page again during one of the waits above restarted the pass at sensor 1
    // and emptied the table: the restart stands, or a sensor would be missing from the
    // pass and the copy offered without it.
    if (s.sensorSettingsPass == pass)
        ++s.sensorSettingsReadIndex;
    if (!s.sensorSettingsCopyEnabled && s.sensorSettingsReadIndex == m.MAX_SENSORS) {
        s.EnableSensorSettingsCopy(true);
        grid.setTopRow(1);
        s.tagContr.setTopRow(grid.topRow());
    }
    return ok;
}

bool PollCycle::ReadRelaySettings()
{
    MainState &s = m_state;
    const DeviceRegisterMap &m = s.registerMap;
    TextGrid &grid = s.relaySettings;
    bool all = true;
    for (int r = 1; r <= m.RELAY_NUMBER && r <= int(relaySettingsRecords.size()); ++r) {
        ModbusReadRecord &rec = relaySettingsRecords[r - 1];
        const bool ok = s.modbus.ReadRegisters(
            rec, quint16(m.RELAY_SETTINGS_ADDR + (r - 1) * m.RELAY_SETTINGS_STEP), m.RELAY_SETTINGS_SIZE);
        if (ok) {
            for (int c = 1; c <= m.RELAY_SETTINGS_SIZE; ++c)
                grid.setCell(c, r, QString::number(rec.values[c - 1]));
        } else {
            for (int c = 1; c < grid.colCount(); ++c)
                grid.setCell(c, r, QStringLiteral("---"));
            all = false;
        }
        if (size_t(r - 1) < s.relayCopyRead.size())
            s.relayCopyRead[size_t(r - 1)] = ok;
    }
    return all;
}

bool PollCycle::ReadAllSensorTags()
{
    // Below 1.2 the map has no tag block: a read of zero registers is refused by the
    // controller, and three refusals would drop the link.
    const MainState &s = m_state;
    if (s.firmwareVersion < kFirstTagFirmware || s.registerMap.QOR_SENSOR_TAG_SIZE <= 0)
        return true;
    for (int i = 0; i < int(sensorTagRecords.size()); ++i)
        if (!readTag(i))
            return false;
    return true;
}

void PollCycle::SizeRecordArrays()
{
    sensorSettingsRecords.resize(m_state.registerMap.MAX_SENSORS);
    sensorTagRecords.resize(m_state.registerMap.MAX_SENSORS);
    relaySettingsRecords.resize(m_state.registerMap.RELAY_NUMBER);
}

void PollCycle::ReleaseRecordArrays()
{
    sensorSettingsRecords = {};
    sensorTagRecords = {};
    relaySettingsRecords = {};
}
