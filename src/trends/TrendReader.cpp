#include "TrendReader.h"

#include "Cp1251.h"

#include <QFile>

namespace {

// Cells of one line: the TAB after the last cell ends it, it does not open another one.
QStringList cellsOf(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.endsWith('\t'))
        line.chop(1);
    QStringList cells;
    if (line.isEmpty())
        return cells;
    qsizetype from = 0;
    for (;;) {
        const qsizetype tab = line.indexOf('\t', from);
        const QByteArrayView cell = line.sliced(from, (tab < 0 ? line.size() : tab) - from);
        cells.append(Cp1251::decode(cell.data(), cell.size()));
        if (tab < 0)
            return cells;
        from = tab + 1;
    }
}

bool startsAsTrendLine(const QStringList &cells)
{
    return cells.size() >= 2 && cells[0] == QStringLiteral("Дата") &&
           cells[1] == QStringLiteral("Время");
}

std::optional<QList<int>> sensorsOf(QByteArrayView line1, QString *error)
{
    const QStringList cells = cellsOf(line1);
    const auto fail = [&](const QString &why) -> std::optional<QList<int>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!startsAsTrendLine(cells))
        return fail(QStringLiteral("not a trend file: the first line is not Дата, Время, ..."));
    QList<int> sensors;
    const QString prefix = QStringLiteral("Канал ");
    for (qsizetype i = 2; i < cells.size(); ++i) {
        bool ok = false;
        const int n = cells[i].startsWith(prefix) ? cells[i].mid(prefix.size()).toInt(&ok) : 0;
        if (!ok || n < 1 || cells[i].mid(prefix.size()) != QString::number(n))
            return fail(QStringLiteral("not a trend file: header cell %1 is \"%2\"")
                            .arg(i + 1)
                            .arg(cells[i]));
        sensors.append(n);
    }
    return sensors;
}

// "dd.mm.yy" and "hh:nn:ss"; the two-digit year is of this century.
QDateTime timeOf(const QString &date, const QString &time)
{
    if (date.size() != 8 || time.size() != 8)
        return {};
    QDate d = QDate::fromString(date, QStringLiteral("dd.MM.yy"));
    const QTime t = QTime::fromString(time, QStringLiteral("HH:mm:ss"));
    if (!d.isValid() || !t.isValid())
        return {};
    d = QDate(2000 + d.year() % 100, d.month(), d.day());
    return d.isValid() ? QDateTime(d, t) : QDateTime();
}

std::optional<quint16> valueOf(const QString &cell)
{
    bool ok = false;
    const uint v = cell.toUInt(&ok);
    if (!ok || v > 0xFFFF || cell.isEmpty() || !cell[0].isDigit())
        return std::nullopt;
    return quint16(v);
}

} // namespace

std::optional<TrendData> ParseTrend(const QByteArray &bytes, QString *error)
{
    QList<QByteArrayView> lines;
    for (qsizetype from = 0; from < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', from);
        if (end < 0)
            end = bytes.size();
        lines.append(QByteArrayView(bytes).sliced(from, end - from));
        from = end + 1;
    }
    if (lines.size() < 2) {
        if (error)
            *error = QStringLiteral("not a trend file: fewer than two header lines");
        return std::nullopt;
    }
    const auto sensors = sensorsOf(lines[0], error);
    if (!sensors)
        return std::nullopt;
    const QStringList tags = cellsOf(lines[1]);
    if (!startsAsTrendLine(tags)) {
        if (error)
            *error = QStringLiteral("not a trend file: the second line is not Дата, Время, ...");
        return std::nullopt;
    }
    TrendData data;
    for (qsizetype c = 0; c < sensors->size(); ++c)
        data.channels.append(TrendChannel{(*sensors)[c], tags.value(c + 2), {}});
    for (qsizetype l = 2; l < lines.size(); ++l) {
        QByteArrayView line = lines[l];
        if (line.isEmpty() || line == "\r")
            continue;
        const QStringList cells = cellsOf(line);
        const QDateTime when = timeOf(cells.value(0), cells.value(1));
        if (!when.isValid()) {
            ++data.skippedLines;
            continue;
        }
        data.times.append(when);
        for (qsizetype c = 0; c < data.channels.size(); ++c)
            data.channels[c].values.append(valueOf(cells.value(c + 2)));
    }
    return data;
}

std::optional<TrendData> ReadTrendFile(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return std::nullopt;
    }
    return ParseTrend(f.readAll(), error);
}

std::optional<QList<int>> ReadTrendHeader(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return std::nullopt;
    }
    // A header line holds at most a few hundred sensors; more is not a trend file.
    const QByteArray line = f.readLine(64 * 1024);
    return sensorsOf(line.endsWith('\n') ? QByteArrayView(line).chopped(1) : QByteArrayView(line),
                     error);
}
