#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

// Trend files read back into channels, for viewing them. A cell that is not a
// temperature (no power, faulty, undetermined, "-------", a sensor gone, a missing cell of
// a short row) is a gap.

struct TrendChannel {
    int sensor = 0;                       // from "Канал N"
    QString tag;                          // header line 2; empty when none
    QList<std::optional<quint16>> values; // one per row
};

struct TrendData {
    QList<QDateTime> times; // one per row
    QList<TrendChannel> channels;
    int skippedLines = 0; // lines after the header whose date or time could not be read
};

// The same file in columns, for plotting many rows: times in ms since the epoch (local
// time of the rows) and one float per row and channel, NaN for a gap.
struct TrendColumns {
    QList<int> sensors;  // from "Канал N"
    QStringList tags;    // header line 2, one per sensor; empty when none
    std::vector<qint64> timesMs;
    std::vector<std::vector<float>> values; // [channel][row]
    int skippedLines = 0;
    qsizetype rowCount() const { return qsizetype(timesMs.size()); }
};

// The whole file from its bytes, without a string per cell.
std::optional<TrendColumns> ParseTrendColumns(QByteArrayView bytes, QString *error = nullptr);
std::optional<TrendColumns> ReadTrendColumns(const QString &path, QString *error = nullptr);

// The whole file from its bytes. Refused (with a reason) only when the two header lines
// are not a trend file's; a bad row is skipped and counted.
std::optional<TrendData> ParseTrend(const QByteArray &bytes, QString *error = nullptr);
std::optional<TrendData> ReadTrendFile(const QString &path, QString *error = nullptr);

// The sensors of a file's first header line, read without the rest of the file.
std::optional<QList<int>> ReadTrendHeader(const QString &path, QString *error = nullptr);
