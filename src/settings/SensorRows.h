#pragma once
#include <QList>
#include <QString>

class TextGrid;

// Row mechanics of the settings tables. A user sensor table and its tag table (one
// column, row r = tag of the sensor of settings row r) always move together.

// "Датчик 7": sensorWord (text of n32), one blank, n.
QString SensorRowHeader(const QString &sensorWord, int n);

// Adds an empty row for sensor n (1..maxSensors) in ascending sensor order, or names the
// empty starting row. The tag table gets an empty tag at the same row.
void InsertSensorRow(TextGrid &userTable, int n, TextGrid &tagTable, int maxSensors,
                     const QString &sensorWord);
// Removes data row `row` and its tag; the last data row is emptied instead (two rows stay).
void DeleteSensorRow(TextGrid &userTable, int row, TextGrid &tagTable);

// Target takes the source's size and every cell, headers included.
void CopyGridToGrid(const TextGrid &source, TextGrid &target);
// Empties the cells at col >= fromCol, row >= fromRow; the scroll position stays.
void ClearDataCells(TextGrid &table, int fromCol, int fromRow);
// ClearDataCells, then row 1 becomes the top row (when there is one).
void ClearGridCells(TextGrid &table, int fromCol, int fromRow);

// Ticks for the sensor-selection dialog: entry n-1 is set when sensor n has a user row.
QList<bool> SensorTicks(const TextGrid &userTable, int maxSensors);
// Applies confirmed ticks (entry n-1 = sensor n): removals first, then insertions in
// ascending order. Rows that stay keep their values and tags. Entries beyond the list
// are left alone.
void ApplySensorSelection(TextGrid &userTable, TextGrid &tagTable, const QList<bool> &ticks,
                          int maxSensors, const QString &sensorWord);

// Scroll coupling: when either grid's top row changes the other follows.
void CoupleTopRows(TextGrid &a, TextGrid &b);

// ButtonCopyRelaySettingsToUser: data rows (row headers included) into the same cells
// of the user table; the header row and the sizes stay.
void CopyRelayRows(const TextGrid &controllerTable, TextGrid &userTable);
