#include "SensorId.h"

#include "TextGrid.h"

namespace {

// Optional sign and ASCII digits only, 32-bit.
std::optional<int> ParseDecimal(QStringView t)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
        negative = t[i] == u'-';
        ++i;
    }
    if (i >= t.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < u'0' || t[i] > u'9')
            return std::nullopt;
        value = value * 10 + (t[i].unicode() - u'0');
        if (value > 0x80000000LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 0x7FFFFFFFLL)
        return std::nullopt;
    return static_cast<int>(value);
}

// The at most two characters of a row header that name its sensor.
QString SensorNumberText(const QString &header)
{
    const qsizetype blank = header.lastIndexOf(u' ');
    return blank < 0 ? header.left(2) : header.mid(blank + 1, 2);
}

} // namespace

QString FormatSensorId(qint64 id)
{
    return QString::asprintf("%03lld %03lld", id / 1000, id % 1000);
}

int ParseSensorId(const QString &text)
{
    QString rest = text;
    rest.remove(u' ');
    return ParseDecimal(rest).value_or(-1);
}

std::optional<int> ParseCellInteger(const QString &text)
{
    return ParseDecimal(QStringView(text).trimmed());
}

int SensorNumberOfRow(const TextGrid &table, int row, int maxSensors)
{
    if (row <= 0 || row >= table.rowCountGrid())
        return 0;
    const std::optional<int> n = ParseDecimal(SensorNumberText(table.cell(0, row)));
    return n && *n > 0 && *n <= maxSensors ? *n : 0;
}

int FindSensorRow(const TextGrid &table, int n, int maxSensors)
{
    if (n < 1 || n > maxSensors || table.rowCountGrid() < 2)
        return 0;
    for (int r = 1; r < table.rowCountGrid(); ++r)
        if (ParseDecimal(SensorNumberText(table.cell(0, r))) == n)
            return r;
    return 0;
}

bool IncrementSensorId(TextGrid &userTable, int col, int row, bool overWriteId)
{
    if (col != 1 || row < 2 || row >= userTable.rowCountGrid())
        return false;
    if (!userTable.cell(1, row).isEmpty() && !overWriteId)
        return false;
    const int id = ParseSensorId(userTable.cell(1, row - 1));
    if (id < 0)
        return false;
    userTable.setCell(1, row - 1, FormatSensorId(id));
    userTable.setCell(1, row, FormatSensorId(qint64(id) + 1)); // 64-bit: no overflow
    return true;
}

bool NormaliseSensorIdCell(TextGrid &userTable, int col, int row)
{
    if (col != 1 || row < 1 || row >= userTable.rowCountGrid())
        return false;
    const QString text = userTable.cell(1, row);
    const int id = ParseSensorId(text);
    if (text.isEmpty() || id < 0)
        return false;
    userTable.setCell(1, row, FormatSensorId(id));
    return true;
}

void SetZero(TextGrid &userTable)
{
    if (userTable.rowCountGrid() <= 1)
        return;
    for (int r = 1; r < userTable.rowCountGrid(); ++r)
        userTable.setCell(1, r, FormatSensorId(0));
}
