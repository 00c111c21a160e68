#include "CellEditors.h"

#include "DeviceRegisterMap.h"
#include "LookupText.h"
#include "SensorTags.h"
#include "TextGrid.h"

namespace {

using Rule = std::function<QString(const QString &typed, QString *replaced)>;

void Install(TextGrid &grid, const MemIniFile &settingsIni, ShowMessage show, Rule rule)
{
    grid.setEditable(true);
    grid.setCellEditor([&settingsIni, show = std::move(show), rule = std::move(rule)](
                           TextGrid &g, int col, int row, const QString &typed) {
        QString replaced;
        g.setCell(col, row, rule(typed, &replaced));
        emit g.cellEdited(col, row);
        if (!replaced.isEmpty() && show)
            show(LookupText(settingsIni, Msg::n67), CodePageMessage(settingsIni, replaced));
        return true;
    });
}

} // namespace

void InstallUserCellEditor(TextGrid &userTable, const MemIniFile &settingsIni, ShowMessage show)
{
    Install(userTable, settingsIni, std::move(show), [](const QString &typed, QString *replaced) {
        return CellTextForCodePage(typed, replaced);
    });
}

void InstallTagCellEditor(TextGrid &tagTable, const DeviceRegisterMap &registerMap,
                          const MemIniFile &settingsIni, ShowMessage show)
{
    Install(tagTable, settingsIni, std::move(show),
            [&registerMap](const QString &typed, QString *replaced) {
                return TagCellText(typed, registerMap.QOR_SENSOR_TAG_SIZE, replaced);
            });
}
