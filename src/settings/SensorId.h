#pragma once
#include <QString>
#include <optional>

class TextGrid;

// Sensor IDs and the sensor numbers named by row headers ("Датчик 7").

// "%03d %03d" of (id div 1000, id mod 1000): 5 -> "000 005", 1234567 -> "1234 567".
QString FormatSensorId(qint64 id);
// Every ' ' removed, the rest read as a signed 32-bit decimal; -1 when it is none.
int ParseSensorId(const QString &text);
// A signed 32-bit decimal cell value, blanks around it allowed; nothing else (no hex,
// no fraction). The checks before writing and the write-back must read cells alike.
std::optional<int> ParseCellInteger(const QString &text);

// The sensor named by the header of row (the at most two characters after its last
// blank); 0 for a header row, a row out of range or a header naming no sensor 1..maxSensors.
int SensorNumberOfRow(const TextGrid &table, int row, int maxSensors);
// The first data row whose header names sensor n; 0 when none does.
int FindSensorRow(const TextGrid &table, int n, int maxSensors);

// ID auto-increment, run when the user steps into cell (col, row) of the user table:
// in the ID column below row 1, an empty cell (or any cell when overWriteId) becomes the
// ID of the row above plus one, and the row above is rewritten in the shown form.
// True when cells changed.
bool IncrementSensorId(TextGrid &userTable, int col, int row, bool overWriteId);
// Enter in cell (col, row): an ID cell holding a readable ID is rewritten in the shown
// form ("123456" -> "123 456"). True when it applied.
bool NormaliseSensorIdCell(TextGrid &userTable, int col, int row);
// ButtonSetZero: every data row's ID becomes "000 000".
void SetZero(TextGrid &userTable);
