#include "SettingsValidation.h"

#include "LookupText.h"
#include "MemIniFile.h"
#include "SensorId.h"
#include "TextGrid.h"

#include <QList>

namespace {

struct Limits {
    QList<int> up, down; // index k = table column k; entry 0 unused
};

Limits ReadLimits(const MemIniFile &deviceIni, const QString &section, int columns)
{
    Limits l;
    l.up.resize(columns + 1);
    l.down.resize(columns + 1);
    for (int k = 1; k <= columns; ++k) {
        l.up[k] = deviceIni.readInteger(section, QStringLiteral("up%1").arg(k), 1);
        l.down[k] = deviceIni.readInteger(section, QStringLiteral("down%1").arg(k), 0);
    }
    return l;
}

// "Параметр <column> <row>" — the start of both cell messages.
QString CellPrefix(const MemIniFile &settingsIni, const TextGrid &table, int c, int r)
{
    return LookupText(settingsIni, Msg::n83) + table.cell(c, 0) + u' ' +
           table.cell(0, r);
}

QString IntegerMessage(const MemIniFile &settingsIni, const TextGrid &table, int c, int r)
{
    return CellPrefix(settingsIni, table, c, r) + LookupText(settingsIni, Msg::n84);
}

QString RangeMessage(const MemIniFile &settingsIni, const TextGrid &table, int c, int r,
                     const Limits &l)
{
    return CellPrefix(settingsIni, table, c, r) + LookupText(settingsIni, Msg::n85) +
           QString::number(l.down[c]) + LookupText(settingsIni, Msg::n86) +
           QString::number(l.up[c]);
}

// The value of a sensor-table cell: column 1 holds the ID.
std::optional<int> SensorCellValue(const QString &text, int c)
{
    if (c != 1)
        return ParseCellInteger(text);
    const int id = ParseSensorId(text);
    return id == -1 ? std::nullopt : std::optional<int>(id);
}

} // namespace

bool ValidateSensorSettings(TextGrid &userTable, const TextGrid &controllerTable,
                            const MemIniFile &deviceIni, const MemIniFile &settingsIni,
                            int maxSensors, const ShowMessage &show, int *faultRow)
{
    if (faultRow)
        *faultRow = 0;
    const QString caption = LookupText(settingsIni, Msg::n67);
    const int cols = userTable.colCount();
    const int rows = userTable.rowCountGrid();
    const Limits limits = ReadLimits(deviceIni, QStringLiteral("ss_limits"), cols - 1);

    for (int r = 1; r < rows; ++r) {
        if (SensorNumberOfRow(userTable, r, maxSensors) == 0) {
            show(caption, LookupText(settingsIni, Msg::n81) + QString::number(r) +
                              LookupText(settingsIni, Msg::n82));
            userTable.setTopRow(r);
            if (faultRow)
                *faultRow = r;
            return false;
        }
        for (int c = 1; c < cols; ++c) {
            if (!SensorCellValue(userTable.cell(c, r), c)) {
                show(caption, IntegerMessage(settingsIni, userTable, c, r));
                return false;
            }
        }
    }
    for (int r = 1; r < rows; ++r) {
        const int n = SensorNumberOfRow(userTable, r, maxSensors);
        for (int c = 1; c < cols; ++c) {
            const QString text = userTable.cell(c, r);
            if (text == controllerTable.cell(c, n))
                continue; // what the controller holds now is never refused
            const int value = *SensorCellValue(text, c);
            if (value < limits.down[c] || value > limits.up[c]) {
                show(caption, RangeMessage(settingsIni, userTable, c, r, limits));
                return false;
            }
        }
    }
    return true;
}

bool ValidateRelaySettings(const TextGrid &userTable, const TextGrid &controllerTable,
                           const MemIniFile &deviceIni, const MemIniFile &settingsIni,
                           const ShowMessage &show)
{
    const QString caption = LookupText(settingsIni, Msg::n67);
    const int cols = userTable.colCount();
    const int rows = userTable.rowCountGrid();
    const Limits limits = ReadLimits(deviceIni, QStringLiteral("relay_limits"), cols - 1);
    const auto changed = [&](int c, int r) {
        return userTable.cell(c, r) != controllerTable.cell(c, r);
    };

    for (int r = 1; r < rows; ++r)
        for (int c = 1; c < cols; ++c)
            if (changed(c, r) && !ParseCellInteger(userTable.cell(c, r))) {
                show(caption, IntegerMessage(settingsIni, userTable, c, r));
                return false;
            }
    for (int r = 1; r < rows; ++r)
        for (int c = 1; c < cols; ++c) {
            if (!changed(c, r))
                continue;
            const int value = *ParseCellInteger(userTable.cell(c, r));
            if (value < limits.down[c] || value > limits.up[c]) {
                show(caption, RangeMessage(settingsIni, userTable, c, r, limits));
                return false;
            }
        }
    return true;
}

bool ValidateConnectSettings(const ConnectUserValues &values, const MemIniFile &settingsIni,
                             const ShowMessage &show)
{
    const QString caption = LookupText(settingsIni, Msg::n67);
    const auto inRange = [](const QString &text, int low, int high) {
        const std::optional<int> v = ParseCellInteger(text);
        return v && *v >= low && *v <= high;
    };
    if (!inRange(values.addr, 1, 247)) {
        show(caption, LookupText(settingsIni, Msg::n79));
        return false;
    }
    if (!inRange(values.chan, 1, 126)) {
        show(caption, LookupText(settingsIni, Msg::n80));
        return false;
    }
    // The combo-box messages carry the fixed caption "Error".
    const struct {
        int index, items;
        const TextKey &message;
    } combos[] = {{values.baud, kBaudRateItems, Msg::n74},
                  {values.parity, kParityItems, Msg::n75},
                  {values.stops, kStopsItems, Msg::n76},
                  {values.language, kMenuLanguageItems, Msg::n77}};
    for (const auto &combo : combos) {
        if (combo.index < 0 || combo.index >= combo.items) {
            show(LookupText(settingsIni, Msg::n67), LookupText(settingsIni, combo.message));
            return false;
        }
    }
    return true;
}
