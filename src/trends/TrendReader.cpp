#include "TrendReader.h"

#include "Cp1251.h"

#include <QFile>

#include <cmath>
#include <cstring>
#include <limits>

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

// Two ASCII digits at p, or -1.
inline int twoDigits(const char *p)
{
    const unsigned a = unsigned(p[0]) - '0', b = unsigned(p[1]) - '0';
    return a < 10 && b < 10 ? int(a * 10 + b) : -1;
}

// Row times from "dd.mm.yy" and "hh:nn:ss" (the two-digit year is of this century), in ms
// since the epoch. The local offset is looked up once per hour of the file, not per row.
class RowClock {
public:
    std::optional<qint64> operator()(QByteArrayView date, QByteArrayView time)
    {
        if (date.size() != 8 || time.size() != 8 || date[2] != '.' || date[5] != '.' ||
            time[2] != ':' || time[5] != ':')
            return std::nullopt;
        const int dd = twoDigits(date.data()), mm = twoDigits(date.data() + 3),
                  yy = twoDigits(date.data() + 6);
        const int h = twoDigits(time.data()), n = twoDigits(time.data() + 3),
                  sec = twoDigits(time.data() + 6);
        if (dd < 0 || mm < 0 || yy < 0 || h < 0 || h > 23 || n < 0 || n > 59 || sec < 0 ||
            sec > 59)
            return std::nullopt;
        const int key = ((yy * 13 + mm) * 32 + dd) * 24 + h;
        if (key != m_key) {
            const QDate d(2000 + yy, mm, dd);
            if (!d.isValid())
                return std::nullopt;
            m_key = key;
            m_hourMs = QDateTime(d, QTime(h, 0)).toMSecsSinceEpoch();
        }
        return m_hourMs + (n * 60 + sec) * 1000;
    }

private:
    int m_key = -1;
    qint64 m_hourMs = 0;
};

// A temperature cell: 1 to 5 decimal digits up to 65535; anything else is a gap.
inline float cellValue(const char *p, qsizetype len)
{
    if (len < 1 || len > 5)
        return std::numeric_limits<float>::quiet_NaN();
    unsigned v = 0;
    for (qsizetype i = 0; i < len; ++i) {
        const unsigned d = unsigned(p[i]) - '0';
        if (d > 9)
            return std::numeric_limits<float>::quiet_NaN();
        v = v * 10 + d;
    }
    return v <= 0xFFFF ? float(v) : std::numeric_limits<float>::quiet_NaN();
}

QByteArrayView nextLine(QByteArrayView bytes, qsizetype &from)
{
    qsizetype end = bytes.indexOf('\n', from);
    if (end < 0)
        end = bytes.size();
    const QByteArrayView line = bytes.sliced(from, end - from);
    from = end + 1;
    return line;
}

} // namespace

std::optional<TrendColumns> ParseTrendColumns(QByteArrayView bytes, QString *error)
{
    qsizetype at = 0;
    const QByteArrayView line1 = nextLine(bytes, at);
    if (at >= bytes.size()) {
        if (error)
            *error = QStringLiteral("not a trend file: fewer than two header lines");
        return std::nullopt;
    }
    const QByteArrayView line2 = nextLine(bytes, at);
    const auto sensors = sensorsOf(line1, error);
    if (!sensors)
        return std::nullopt;
    const QStringList tags = cellsOf(line2);
    if (!startsAsTrendLine(tags)) {
        if (error)
            *error = QStringLiteral("not a trend file: the second line is not Дата, Время, ...");
        return std::nullopt;
    }
    TrendColumns data;
    data.sensors = *sensors;
    const qsizetype channels = sensors->size();
    for (qsizetype c = 0; c < channels; ++c)
        data.tags.append(tags.value(c + 2));
    // Rows are about the same length: reserve from the size of the first one.
    const qsizetype rest = bytes.size() - std::min(at, bytes.size());
    const qsizetype guess = rest / std::max<qsizetype>(20, 18 + 5 * channels) + 16;
    data.timesMs.reserve(size_t(guess));
    data.values.assign(size_t(channels), {});
    for (auto &v : data.values)
        v.reserve(size_t(guess));
    RowClock clock;
    const char *const end = bytes.data() + bytes.size();
    const char *p = bytes.data() + std::min(at, bytes.size());
    while (p < end) {
        const char *eol = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
        if (!eol)
            eol = end;
        const char *lineEnd = eol;
        if (lineEnd > p && lineEnd[-1] == '\r')
            --lineEnd;
        const char *rowStart = p;
        p = eol + 1;
        if (lineEnd == rowStart)
            continue; // an empty line
        // Cells end at a TAB; the last one may lack it.
        auto cellEnd = [&](const char *from) {
            const char *t = static_cast<const char *>(memchr(from, '\t', size_t(lineEnd - from)));
            return t ? t : lineEnd;
        };
        const char *dateEnd = cellEnd(rowStart);
        const char *timeStart = dateEnd < lineEnd ? dateEnd + 1 : lineEnd;
        const char *timeEnd = cellEnd(timeStart);
        const auto when = clock(QByteArrayView(rowStart, dateEnd - rowStart),
                                QByteArrayView(timeStart, timeEnd - timeStart));
        if (!when) {
            ++data.skippedLines;
            continue;
        }
        data.timesMs.push_back(*when);
        const char *cell = timeEnd < lineEnd ? timeEnd + 1 : nullptr;
        for (qsizetype c = 0; c < channels; ++c) {
            // A short row: the cells it lacks are gaps.
            if (!cell || cell >= lineEnd) {
                data.values[size_t(c)].push_back(std::numeric_limits<float>::quiet_NaN());
                cell = nullptr;
                continue;
            }
            const char *e = cellEnd(cell);
            data.values[size_t(c)].push_back(cellValue(cell, e - cell));
            cell = e + 1;
        }
    }
    return data;
}

std::optional<TrendColumns> ReadTrendColumns(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return std::nullopt;
    }
    // Mapped where the system can; a week of rows is about a hundred megabytes.
    if (const qint64 size = f.size(); size > 0)
        if (const uchar *mapped = f.map(0, size))
            return ParseTrendColumns(
                QByteArrayView(reinterpret_cast<const char *>(mapped), size), error);
    const QByteArray bytes = f.readAll();
    return ParseTrendColumns(bytes, error);
}

std::optional<TrendData> ParseTrend(const QByteArray &bytes, QString *error)
{
    const auto columns = ParseTrendColumns(bytes, error);
    if (!columns)
        return std::nullopt;
    TrendData data;
    data.skippedLines = columns->skippedLines;
    data.times.reserve(columns->rowCount());
    for (qint64 t : columns->timesMs)
        data.times.append(QDateTime::fromMSecsSinceEpoch(t));
    for (qsizetype c = 0; c < columns->sensors.size(); ++c) {
        TrendChannel channel{columns->sensors[c], columns->tags[c], {}};
        channel.values.reserve(columns->rowCount());
        for (float v : columns->values[size_t(c)])
            channel.values.append(std::isnan(v) ? std::nullopt : std::optional<quint16>(quint16(v)));
        data.channels.append(channel);
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
