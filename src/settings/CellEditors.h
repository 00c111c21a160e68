#pragma once
#include "SettingsMessage.h"

class MemIniFile;
class TextGrid;
struct DeviceRegisterMap;

// What typing into a user grid does. Each installer makes the grid's data cells editable
// and sets its cell editor, so that setData(index, text, Qt::EditRole) on the model does
// what typing does. The referenced objects must outlive the grid.

// User sensor and relay tables: any text is taken (the checks before writing judge it);
// characters Windows-1251 cannot hold become '?', with one message.
void InstallUserCellEditor(TextGrid &userTable, const MemIniFile &settingsIni, ShowMessage show);

// User tag table: the same code-page rule, then the text is cut to its first
// 2 x QOR_SENSOR_TAG_SIZE characters of the current register map.
void InstallTagCellEditor(TextGrid &tagTable, const DeviceRegisterMap &registerMap,
                          const MemIniFile &settingsIni, ShowMessage show);
