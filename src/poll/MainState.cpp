#include "MainState.h"

#include "CellEditors.h"
#include "MainView.h"
#include "SensorId.h"
#include "SensorRows.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString InFolder(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

} // namespace

MainState::MainState(MainView &view, const ControllerPlace &place)
    : settingsIni(InFolder(place.folder, QStringLiteral("start.ini"))),
      deviceIni(InFolder(place.folder, QStringLiteral("default.ini"))), m_place(place),
      m_ownLink(place.link ? nullptr : std::make_unique<SerialLink>(settingsIni, *this)),
      link(place.link ? *place.link : *m_ownLink), modbus(link, settingsIni, *this), sensorsData(1, 2),
      sensorsData2(1, 2), qorRelay(2, 1), sensorSettings(1, 2), sensorSettingsUser(1, 2),
      tagContr(1, 2), tagUser(1, 2), relaySettings(1, 2), relaySettingsUser(1, 2), m_view(view)
{
    deviceIni.updateFile();
    qorRelay.setFixed(0, 0);
    tagContr.setFixed(0, 1);
    tagUser.setFixed(0, 1);
    auto show = [this](const QString &caption, const QString &text) { ShowError(caption, text); };
    InstallUserCellEditor(sensorSettingsUser, settingsIni, show);
    InstallUserCellEditor(relaySettingsUser, settingsIni, show);
    InstallTagCellEditor(tagUser, registerMap, settingsIni, show);
    CoupleTopRows(sensorSettings, tagContr);
    CoupleTopRows(sensorSettingsUser, tagUser);
}

void MainState::ShowError(const QString &caption, const QString &text)
{
    m_view.ShowMessage(caption, text, MainView::Icon::None);
}

void MainState::SensorDataShown()
{
    pollSensorData = true;
    pollSensorSettings = pollRelaySettings = false;
}

void MainState::SensorSettingsShown()
{
    pollSensorSettings = true;
    pollSensorData = pollRelaySettings = false;
    // A pending write compares against the copy as it stands; the pass restarts after it.
    if (!writeSensorSettingsRequested)
        RestartSensorSettingsPass();
}

void MainState::RestartSensorSettingsPass()
{
    sensorSettingsReadIndex = 0;
    ++sensorSettingsPass;
    EnableSensorSettingsCopy(false);
    ClearGridCells(sensorSettings, 1, 1);
    ClearGridCells(tagContr, 0, 1);
    sensorCopyRead.assign(sensorCopyRead.size(), false);
}

void MainState::RelaySettingsShown()
{
    pollRelaySettings = true;
    pollSensorData = pollSensorSettings = false;
    if (!writeRelaySettingsRequested)
        ClearRelayCopy();
}

void MainState::ClearRelayCopy()
{
    ClearDataCells(relaySettings, 1, 1);
    relayCopyRead.assign(relayCopyRead.size(), false);
}

void MainState::ConnectSettingsShown()
{
    pollConnectSettings = true;
    pollSensorData = pollSensorSettings = pollRelaySettings = false;
}

void MainState::ProfilesShown() { pollSensorData = pollSensorSettings = pollRelaySettings = false; }

void MainState::EnableSensorSettingsCopy(bool enabled)
{
    sensorSettingsCopyEnabled = enabled;
    m_view.EnableSensorSettingsCopy(enabled);
}

MainState::~MainState() = default;

QString MainState::folder() const
{
    return m_place.folder.isEmpty() ? QDir::currentPath() : m_place.folder;
}

void MainState::SetLinkDown(const QString &text)
{
    const bool wasUp = linkUp || identifyingAgain;
    m_view.ShowLamp(MainView::Lamp::Offline);
    ShowLinkState(text);
    linkUp = false;
    identifyingAgain = false;
    if (wasUp && linkLost)
        linkLost(text);
}

void MainState::ShowLinkState(const QString &text)
{
    m_linkText = text;
    const QString shown =
        m_linkNotice.isEmpty() ? text : text + QStringLiteral(" — ") + m_linkNotice;
    m_view.ShowStatus(0, shown);
}

void MainState::SetLinkNotice(const QString &notice)
{
    if (notice == m_linkNotice)
        return;
    m_linkNotice = notice;
    ShowLinkState(m_linkText);
}

bool MainState::RequestSensorWrite(const ShowMessage &show, int *faultRow)
{
    if (faultRow)
        *faultRow = 0;
    if (!linkUp)
        return false;
    if (!SensorCopyReadFor(sensorSettingsUser)) {
        show(Text(Msg::n67), Text(Msg::n133));
        return false;
    }
    if (!ValidateSensorSettings(sensorSettingsUser, sensorSettings, deviceIni, settingsIni,
                                registerMap.MAX_SENSORS, show, faultRow))
        return false;
    writeSensorSettingsRequested = true;
    SetLinkNotice({});
    m_view.SetWriteBackRunning(true);
    return true;
}

bool MainState::RequestRelayWrite(const ShowMessage &show)
{
    if (!linkUp)
        return false;
    if (!RelayCopyRead()) {
        show(Text(Msg::n67), Text(Msg::n133));
        return false;
    }
    if (!ValidateRelaySettings(relaySettingsUser, relaySettings, deviceIni, settingsIni, show))
        return false;
    writeRelaySettingsRequested = true;
    SetLinkNotice({});
    m_view.SetWriteBackRunning(true);
    return true;
}

bool MainState::RequestConnectWrite(const ConnectUserValues &values, const ShowMessage &show)
{
    if (!linkUp)
        return false;
    // Words past the six the program knows are sent as the controller holds them.
    if (!connectCopyRead) {
        show(Text(Msg::n67), Text(Msg::n133));
        return false;
    }
    if (!ValidateConnectSettings(values, settingsIni, show))
        return false;
    if (checkConnectWrite) {
        const QString refused = checkConnectWrite(values);
        if (!refused.isEmpty()) {
            show(Text(Msg::n67), refused);
            return false;
        }
    }
    connectUser = values; // what the write sends
    writeConnectSettingsRequested = true;
    SetLinkNotice({});
    m_view.SetWriteBackRunning(true);
    return true;
}

bool MainState::CancelPendingWrites()
{
    if (!AnyWriteRequested())
        return false;
    writeSensorSettingsRequested = false;
    writeRelaySettingsRequested = false;
    writeConnectSettingsRequested = false;
    profileWriteRequested = false;
    lastWriteSucceeded = false;
    m_view.SetWriteBackRunning(false);
    SetLinkNotice(Text(Msg::n132));
    return true;
}

bool MainState::SensorCopyReadFor(const TextGrid &user) const
{
    const int count = int(sensorCopyRead.size());
    for (int r = 1; r < user.rowCountGrid(); ++r) {
        // A row that names no sensor is the check's to refuse, with its own message.
        const int n = SensorNumberOfRow(user, r, registerMap.MAX_SENSORS);
        if (n > count || (n > 0 && !sensorCopyRead[size_t(n - 1)]))
            return false;
    }
    return count > 0;
}

bool MainState::RelayCopyRead() const
{
    const int count = qMin(int(relayCopyRead.size()), int(registerMap.RELAY_NUMBER));
    for (int r = 0; r < count; ++r)
        if (!relayCopyRead[size_t(r)])
            return false;
    return count > 0;
}

void MainState::ForgetControllerCopies()
{
    sensorCopyRead.assign(size_t(qMax(0, int(registerMap.MAX_SENSORS))), false);
    relayCopyRead.assign(size_t(qMax(0, int(registerMap.RELAY_NUMBER))), false);
    connectCopyRead = false;
    RestartSensorSettingsPass();
    ClearRelayCopy();
}

void MainState::ShowAttemptNumber(int attempt) { m_view.ShowStatus(2, QString::number(attempt)); }

void MainState::HideDeviceViews() { m_view.HideDeviceViews(); }

void MainState::ShowDeviceViews()
{
    const DeviceRegisterMap &m = registerMap;
    sensorSettings.setRowCount(m.MAX_SENSORS + 1);
    tagContr.setRowCount(m.MAX_SENSORS + 1);
    sensorsData.setColCount(m.SENSOR_DATA_SIZE + 1);
    sensorsData2.setColCount(m.SENSOR_DATA_SIZE + 1);
    // The header column and one per register of the block, as the language pass sizes them:
    // a column cut here and added back there would come back empty in the user table.
    for (TextGrid *g : {&relaySettings, &relaySettingsUser}) {
        g->setColCount(m.RELAY_SETTINGS_SIZE + 1);
        g->setRowCount(m.RELAY_NUMBER + 1);
    }
    m_view.ShowDeviceViews();
}

bool MainState::LoadDeviceConfiguration(quint16 deviceCode, quint16 firmwareWord)
{
    if (deviceCode != 3126)
        return false;
    firmwareVersion = firmwareWord;
    const QString cfgFolder = !m_place.cfgFolder.isEmpty() ? m_place.cfgFolder : folder();
    const QString path = !m_place.cfgOverride.isEmpty()
                             ? QDir(cfgFolder).absoluteFilePath(m_place.cfgOverride)
                             : DeviceConfigPath(cfgFolder, firmwareWord);
    if (!ReadDeviceConfiguration(path, VersionText(firmwareWord))) {
        HideDeviceViews();
        return false;
    }
    ShowDeviceViews();
    ApplyLanguage();
    deviceChanged = true;
    return true;
}

bool MainState::ReadDeviceConfiguration(const QString &path, const QString &firmwareText)
{
    const QString caption = Text(Msg::n67);
    registerMap.MAX_SENSORS = 36;
    registerMap.RELAY_NUMBER = 3;
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo(path).isFile()) {
        m_view.ShowMessage(caption, Text(Msg::n435) + shown + Text(Msg::n436),
                           MainView::Icon::Error);
        return false;
    }
    if (path != deviceConfigPath) {
        deviceIni.rename(path, true);
        deviceConfigPath = path;
    }
    const QString fault = Text(Msg::n437) + shown;
    if (deviceIni.readString(QStringLiteral("hardware"), QStringLiteral("fw"), QString()) !=
        firmwareText) {
        m_view.ShowMessage(caption, fault, MainView::Icon::Error);
        return false;
    }
    // A map the program cannot poll (too many sensors, a block too big for one read) is
    // refused here instead of misbehaving later; the parsed values are not kept then.
    DeviceRegisterMap parsed = registerMap;
    if (!ParseRegisterMap(deviceIni, parsed, firmwareVersion)) {
        registerMap = parsed;
        m_view.ShowMessage(caption, fault, MainView::Icon::Error);
        return false;
    }
    const QString problem = RegisterMapProblem(parsed, firmwareVersion);
    if (!problem.isEmpty()) {
        m_view.ShowMessage(caption, fault + QStringLiteral("\n") + problem, MainView::Icon::Error);
        return false;
    }
    registerMap = parsed;
    return true;
}

void MainState::SetGridHeaderTexts(TextGrid &grid, int count, int firstKey)
{
    if (grid.colCount() < count)
        grid.setColCount(count);
    for (int i = 0; i < count; ++i) {
        const QByteArray key = "n" + QByteArray::number(firstKey + i);
        grid.setCell(i, 0, Text(key.constData(), QStringLiteral("Not found")));
    }
}

void MainState::ApplyLanguage()
{
    const DeviceRegisterMap &m = registerMap;
    qorRelay.setRowCount(m.RELAY_NUMBER);
    const QString relay = Text("n9", QStringLiteral("Реле")) + u' ';
    for (int i = 0; i < m.RELAY_NUMBER; ++i)
        qorRelay.setCell(0, i, relay + QString::number(i + 1));
    for (TextGrid *g : {&sensorsData, &sensorsData2}) {
        g->setColCount(m.SENSOR_DATA_SIZE + 1);
        SetGridHeaderTexts(*g, m.SENSOR_DATA_SIZE + 1, 12);
    }
    LabelSensorGrid(sensorSettings, true);
    tagContr.setCell(0, 0, Text("n122", QStringLiteral("Not found")));
    LabelSensorGrid(sensorSettingsUser, false);
    tagUser.setCell(0, 0, tagContr.cell(0, 0));
    LabelRelayGrid(relaySettings);
    LabelRelayGrid(relaySettingsUser);
    m_view.ApplyCaptions();
    link.ClearPortErrorShown();
    linkUp = false;
}

void MainState::LabelSensorGrid(TextGrid &grid, bool controllerTable)
{
    const int size = registerMap.SENSOR_SETTINGS_SIZE_MODBUS;
    grid.setColCount(size);
    SetGridHeaderTexts(grid, size, 25);
    const QString word = Text(Msg::n32);
    for (int r = 1; r < grid.rowCountGrid(); ++r) {
        const int n = controllerTable ? r : SensorNumberOfRow(grid, r, registerMap.MAX_SENSORS);
        if (n != 0)
            grid.setCell(0, r, SensorRowHeader(word, n));
    }
}

void MainState::LabelRelayGrid(TextGrid &grid)
{
    const DeviceRegisterMap &m = registerMap;
    grid.setColCount(m.RELAY_SETTINGS_SIZE + 1);
    grid.setRowCount(m.RELAY_NUMBER + 1);
    SetGridHeaderTexts(grid, m.RELAY_SETTINGS_SIZE + 1, 34);
    const QString relay = Text("n39", QStringLiteral("Реле")) + u' ';
    for (int k = 1; k <= m.RELAY_NUMBER; ++k)
        grid.setCell(0, k, relay + QString::number(k));
}

void MainState::SwitchLanguage(int lang)
{
    settingsIni.writeInteger(QStringLiteral("language"), QStringLiteral("lang"), lang);
    SaveSettings();
    const bool wasUp = linkUp;
    ApplyLanguage();
    identifyingAgain = wasUp;
}

bool MainState::SaveSettings()
{
    QString reason;
    if (settingsIni.updateFile(&reason))
        return true;
    m_view.ShowMessage(Text(Msg::n67),
                       QDir::toNativeSeparators(QFileInfo(settingsIni.fileName()).absoluteFilePath()) +
                           QStringLiteral(": ") + reason,
                       MainView::Icon::Error);
    return false;
}

int MainState::PollPeriodMs() const
{
    return deviceIni.readInteger(QStringLiteral("measure"), QStringLiteral("period"), 1000);
}
