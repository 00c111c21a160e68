#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

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

// The whole file from its bytes. Refused (with a reason) only when the two header lines
// are not a trend file's; a bad row is skipped and counted.
std::optional<TrendData> ParseTrend(const QByteArray &bytes, QString *error = nullptr);
std::optional<TrendData> ReadTrendFile(const QString &path, QString *error = nullptr);

// The sensors of a file's first header line, read without the rest of the file.
std::optional<QList<int>> ReadTrendHeader(const QString &path, QString *error = nullptr);
