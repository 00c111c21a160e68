#include "SensorRows.h"

#include "SensorId.h"
#include "TextGrid.h"

#include <QObject>

namespace {

// A tag table that has fallen out of step would pin tags to the wrong sensors.
void KeepTagsInStep(const TextGrid &userTable, TextGrid &tagTable)
{
    tagTable.setRowCount(userTable.rowCountGrid());
}

} // namespace

QString SensorRowHeader(const QString &sensorWord, int n)
{
    return sensorWord + u' ' + QString::number(n);
}

void InsertSensorRow(TextGrid &userTable, int n, TextGrid &tagTable, int maxSensors,
                     const QString &sensorWord)
{
    if (n < 1 || n > maxSensors)
        return;
    const QString header = SensorRowHeader(sensorWord, n);
    if (userTable.rowCountGrid() <= 1)
        userTable.setRowCount(2);
    KeepTagsInStep(userTable, tagTable);
    if (userTable.rowCountGrid() == 2 && userTable.cell(0, 1).isEmpty()) {
        userTable.setCell(0, 1, header);
        tagTable.setCell(0, 1, QString());
        return;
    }
    int at = 1;
    while (at < userTable.rowCountGrid() && SensorNumberOfRow(userTable, at, maxSensors) < n)
        ++at;
    userTable.insertRowAt(at);
    tagTable.insertRowAt(at);
    userTable.setCell(0, at, header);
}

void DeleteSensorRow(TextGrid &userTable, int row, TextGrid &tagTable)
{
    if (row < 1 || row >= userTable.rowCountGrid())
        return;
    KeepTagsInStep(userTable, tagTable);
    if (userTable.rowCountGrid() < 3) {
        userTable.clearRow(1);
        tagTable.clearRow(1);
        return;
    }
    userTable.deleteRowAt(row);
    tagTable.deleteRowAt(row);
}

void CopyGridToGrid(const TextGrid &source, TextGrid &target)
{
    target.setRowCount(source.rowCountGrid());
    target.setColCount(source.colCount());
    for (int r = 0; r < source.rowCountGrid(); ++r)
        for (int c = 0; c < source.colCount(); ++c)
            target.setCell(c, r, source.cell(c, r));
}

void ClearDataCells(TextGrid &table, int fromCol, int fromRow)
{
    for (int r = qMax(0, fromRow); r < table.rowCountGrid(); ++r)
        for (int c = qMax(0, fromCol); c < table.colCount(); ++c)
            table.setCell(c, r, QString());
}

void ClearGridCells(TextGrid &table, int fromCol, int fromRow)
{
    ClearDataCells(table, fromCol, fromRow);
    if (table.rowCountGrid() > 1)
        table.setTopRow(1);
}

QList<bool> SensorTicks(const TextGrid &userTable, int maxSensors)
{
    QList<bool> ticks(qMax(0, maxSensors), false);
    for (int r = 1; r < userTable.rowCountGrid(); ++r)
        if (const int n = SensorNumberOfRow(userTable, r, maxSensors))
            ticks[n - 1] = true;
    return ticks;
}

void ApplySensorSelection(TextGrid &userTable, TextGrid &tagTable, const QList<bool> &ticks,
                          int maxSensors, const QString &sensorWord)
{
    const int last = qMin(maxSensors, int(ticks.size()));
    for (int n = 1; n <= last; ++n)
        if (!ticks[n - 1])
            if (const int row = FindSensorRow(userTable, n, maxSensors))
                DeleteSensorRow(userTable, row, tagTable);
    for (int n = 1; n <= last; ++n)
        if (ticks[n - 1] && FindSensorRow(userTable, n, maxSensors) == 0)
            InsertSensorRow(userTable, n, tagTable, maxSensors, sensorWord);
}

void CoupleTopRows(TextGrid &a, TextGrid &b)
{
    // setTopRow ignores the row a grid already shows, so the pair does not loop.
    QObject::connect(&a, &TextGrid::topRowChanged, &b, &TextGrid::setTopRow);
    QObject::connect(&b, &TextGrid::topRowChanged, &a, &TextGrid::setTopRow);
}

void CopyRelayRows(const TextGrid &controllerTable, TextGrid &userTable)
{
    const int rows = qMin(controllerTable.rowCountGrid(), userTable.rowCountGrid());
    const int cols = qMin(controllerTable.colCount(), userTable.colCount());
    for (int r = 1; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            userTable.setCell(c, r, controllerTable.cell(c, r));
}
