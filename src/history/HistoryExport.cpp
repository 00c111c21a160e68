#include "HistoryStore.h"

#include "MemIniFile.h"
#include "TrendFile.h"

#include <QDateTime>
#include <QSaveFile>

#include <algorithm>

HistoryLimits HistoryLimitsFrom(const MemIniFile &settings)
{
    const QString section = QStringLiteral("history");
    const HistoryLimits defaults;
    HistoryLimits limits;
    // 0 switches a limit off; a negative or unreadable value keeps the default.
    const int days = settings.readInteger(section, QStringLiteral("days"), defaults.retentionDays);
    limits.retentionDays = days >= 0 ? days : defaults.retentionDays;
    const int megabytes = settings.readInteger(section, QStringLiteral("megabytes"),
                                               int(defaults.maxBytes / (1024 * 1024)));
    limits.maxBytes = megabytes >= 0 ? qint64(megabytes) * 1024 * 1024 : defaults.maxBytes;
    const int live = settings.readInteger(section, QStringLiteral("live"), defaults.liveSeconds);
    limits.liveSeconds = live > 0 ? std::min(live, 3600) : defaults.liveSeconds;
    return limits;
}

namespace {

// A reading older than this no longer stands for the present row: the cycle keeps one at
// least every 60 s while it polls, so an older one means nobody was polling.
constexpr qint64 kStaleMs = 90 * 1000;

QString text(const MemIniFile *settings, const TextKey &key)
{
    return settings ? LookupText(*settings, key) : QString::fromUtf16(key.russian);
}

QString statusText(const MemIniFile *settings, quint16 code)
{
    switch (code) {
    case 0: return text(settings, Msg::n104);
    case 1: return text(settings, Msg::n105);
    case 2: return text(settings, Msg::n106);
    case 10: return text(settings, Msg::n107);
    case 20: return text(settings, Msg::n108);
    case 30: return text(settings, Msg::n109);
    case 40: return text(settings, Msg::n110);
    default: return QStringLiteral("-------");
    }
}

bool hasTemperature(quint16 status)
{
    return status <= 2;
}

// The readings as rows: one per cycle time within the range, each sensor at its newest
// reading not after that time (none when there is none or it is stale).
class Rows {
public:
    explicit Rows(std::vector<SensorSeries> series, qint64 fromMs) : m_series(std::move(series))
    {
        for (const SensorSeries &s : m_series)
            for (qint64 t : s.timesMs)
                if (t >= fromMs)
                    m_times.push_back(t);
        std::sort(m_times.begin(), m_times.end());
        m_times.erase(std::unique(m_times.begin(), m_times.end()), m_times.end());
        m_at.assign(m_series.size(), -1);
    }
    const std::vector<SensorSeries> &series() const { return m_series; }
    const std::vector<qint64> &times() const { return m_times; }
    void rewind() { m_at.assign(m_series.size(), -1); }
    // Moves to the row at time t (rows are visited in order).
    void seek(qint64 t)
    {
        for (size_t i = 0; i < m_series.size(); ++i) {
            const auto &times = m_series[i].timesMs;
            while (m_at[i] + 1 < qsizetype(times.size()) && times[size_t(m_at[i] + 1)] <= t)
                ++m_at[i];
        }
        m_now = t;
    }
    // The reading index of series i in the current row, or -1.
    qsizetype current(size_t i) const
    {
        const qsizetype at = m_at[i];
        if (at < 0 || m_now - m_series[i].timesMs[size_t(at)] > kStaleMs)
            return -1;
        return at;
    }

private:
    std::vector<SensorSeries> m_series;
    std::vector<qint64> m_times;
    std::vector<qsizetype> m_at;
    qint64 m_now = 0;
};

QString csvCell(QString cell, const QString &separator)
{
    if (cell.contains(separator) || cell.contains(u'"') || cell.contains(u'\n') ||
        cell.contains(u'\r'))
        cell = u'"' + cell.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    return cell;
}

// ISO 8601 in the local time of that moment, with its offset from UTC.
QString isoLocal(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

// A file written as it is made, replaced at the end in one step (a temporary file in the
// same folder, renamed): a week of rows is too much to hold as one string.
class ExportFile {
public:
    explicit ExportFile(const QString &path) : m_file(path) { m_ok = m_file.open(QIODevice::WriteOnly); }
    void write(const QByteArray &bytes)
    {
        m_buffer += bytes;
        if (m_buffer.size() > (1 << 20))
            drain();
    }
    bool commit(QString *error)
    {
        drain();
        if (m_ok && m_file.commit())
            return true;
        if (error)
            *error = m_file.errorString();
        m_file.cancelWriting();
        return false;
    }

private:
    void drain()
    {
        if (m_ok && !m_buffer.isEmpty())
            m_ok = m_file.write(m_buffer) == m_buffer.size();
        m_buffer.clear();
    }
    QSaveFile m_file;
    QByteArray m_buffer;
    bool m_ok = false;
};

} // namespace

bool ExportReadingsCsv(const HistoryStore &store, int controller, qint64 fromMs, qint64 toMs,
                       const QString &path, QString *error, const MemIniFile *settings)
{
    Rows rows(store.SensorReadings(controller, fromMs, toMs), fromMs);
    if (rows.times().empty()) {
        if (error)
            *error = text(settings, Msg::n537);
        return false;
    }
    QString separator = text(settings, Msg::n534);
    if (separator.isEmpty())
        separator = QStringLiteral(";");
    const QString sensorName = text(settings, Msg::n32);
    QStringList header{text(settings, Msg::n535)};
    for (const SensorSeries &s : rows.series())
        header << QStringLiteral("%1 %2").arg(sensorName).arg(s.sensor);
    for (const SensorSeries &s : rows.series())
        header << QStringLiteral("%1 %2: %3").arg(sensorName).arg(s.sensor).arg(text(settings, Msg::n536));
    ExportFile out(path);
    // The byte order mark tells spreadsheet programs that this is UTF-8.
    out.write(QByteArrayLiteral("\xEF\xBB\xBF"));
    auto addLine = [&](const QStringList &cells) {
        QString line;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            if (i)
                line += separator;
            line += csvCell(cells[i], separator);
        }
        line += QStringLiteral("\r\n");
        out.write(line.toUtf8());
    };
    addLine(header);
    const size_t n = rows.series().size();
    for (qint64 t : rows.times()) {
        rows.seek(t);
        QStringList cells{isoLocal(t)};
        QStringList states;
        for (size_t i = 0; i < n; ++i) {
            const qsizetype at = rows.current(i);
            if (at < 0) {
                cells << QString();
                states << QString();
                continue;
            }
            const SensorSeries &s = rows.series()[i];
            const quint16 status = s.status[size_t(at)];
            cells << (hasTemperature(status) ? QString::number(s.temperature[size_t(at)]) : QString());
            states << statusText(settings, status);
        }
        addLine(cells + states);
    }
    return out.commit(error);
}

bool ExportReadingsTrend(const HistoryStore &store, int controller, qint64 fromMs, qint64 toMs,
                         const MemIniFile &settings, const QString &path, QString *error)
{
    Rows rows(store.SensorReadings(controller, fromMs, toMs), fromMs);
    if (rows.times().empty()) {
        if (error)
            *error = LookupText(settings, Msg::n537);
        return false;
    }
    int maxSensor = 0;
    for (const SensorSeries &s : rows.series())
        maxSensor = std::max(maxSensor, s.sensor);
    std::vector<quint16> statuses(size_t(maxSensor), kUnregisteredStatus);
    std::vector<quint16> temperatures(size_t(maxSensor), 0);
    const TrendReadings readings{statuses, temperatures, {}};
    auto fill = [&] {
        std::fill(statuses.begin(), statuses.end(), kUnregisteredStatus);
        for (size_t i = 0; i < rows.series().size(); ++i) {
            const SensorSeries &s = rows.series()[i];
            const qsizetype at = rows.current(i);
            if (at >= 0 && s.sensor >= 1) {
                statuses[size_t(s.sensor - 1)] = s.status[size_t(at)];
                temperatures[size_t(s.sensor - 1)] = s.temperature[size_t(at)];
            }
        }
    };
    // The header's columns: every sensor registered at some row of the range.
    QList<int> sensors;
    for (qint64 t : rows.times()) {
        rows.seek(t);
        fill();
        for (int s : RegisteredSensors(statuses))
            if (!sensors.contains(s))
                sensors.append(s);
    }
    std::sort(sensors.begin(), sensors.end());
    rows.rewind();
    ExportFile out(path);
    out.write(TrendHeaderBytes(sensors, readings));
    for (qint64 t : rows.times()) {
        rows.seek(t);
        fill();
        out.write(TrendRowBytes(sensors, readings, QDateTime::fromMSecsSinceEpoch(t)));
    }
    return out.commit(error);
}
