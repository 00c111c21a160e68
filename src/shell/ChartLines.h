#pragma once
#include <QByteArray>
#include <QColor>
#include <QString>
#include <QStringList>
#include <vector>

// What the live chart and the trend viewer share apart from their widgets: line colours,
// channel names, round time ticks, the value under the cursor and the CSV of a range.

// Colours of the lines on a white background: 36 of them, neighbours far apart in hue
// and in lightness, so channels n and n + 1 are never confused.
QColor ChannelColor(int index);

// "tag (channel)", or the channel alone when it has no tag.
QString ChannelLabel(const QString &tag, const QString &channel);

// Time ticks at round local times: every 1/2/5/10/15/30 s or min, 1/2/3/6/12 h, days,
// weeks, as the span needs for at most maxTicks ticks.
qint64 TimeTickStepMs(qint64 spanMs, int maxTicks);
// Ticks of stepMs within from..to (ms since the epoch), on the local clock's round times:
// utcOffsetS is the local time's offset (a day starts at local midnight, a week on Monday).
std::vector<qint64> RoundTimeTicks(qint64 fromMs, qint64 toMs, qint64 stepMs, int utcOffsetS);
// The label format for ticks of stepMs over spanMs.
QString TimeTickFormat(qint64 stepMs, qint64 spanMs);

// The sample nearest to t among times[0..n) (ascending), or -1 when none is within
// maxGapMs of it (the cursor is over a gap).
long NearestSample(const qint64 *times, size_t n, qint64 t, qint64 maxGapMs);

// A temperature as the cursor and the CSV show it; empty for a gap.
QString ValueText(float value);

// The samples from..to as CSV: UTF-8 with a byte-order mark, ';' between cells, a header
// of timeCaption and the column names, then one line per sample, an empty cell for a gap.
struct CsvColumn {
    QString name;
    const float *values;
};
QByteArray RangeCsv(const QString &timeCaption, const qint64 *times, size_t n,
                    const std::vector<CsvColumn> &columns, qint64 fromMs, qint64 toMs);
