#include "ChartLines.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace {
constexpr qint64 kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;

qint64 FloorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

QString CsvCell(const QString &text)
{
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n'))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}
} // namespace

QColor ChannelColor(int index)
{
    // Twelve hues taken five steps (150 degrees) apart, in three tones (mid, dark, light)
    // that change from one channel to the next, and for the same hue twelve channels on.
    const int i = std::max(index, 0) % 36;
    const int hue = (i * 5 % 12) * 30;
    switch ((i + i / 12) % 3) {
    case 0:
        return QColor::fromHsl(hue, 220, 105);
    case 1:
        return QColor::fromHsl(hue, 200, 55);
    default:
        return QColor::fromHsl(hue, 170, 150);
    }
}

QString ChannelLabel(const QString &tag, const QString &channel)
{
    const QString t = tag.trimmed();
    return t.isEmpty() ? channel : t + QStringLiteral(" (") + channel + u')';
}

qint64 TimeTickStepMs(qint64 spanMs, int maxTicks)
{
    static const qint64 steps[] = {
        kSecond,      2 * kSecond,  5 * kSecond,  10 * kSecond, 15 * kSecond, 30 * kSecond,
        kMinute,      2 * kMinute,  5 * kMinute,  10 * kMinute, 15 * kMinute, 30 * kMinute,
        kHour,        2 * kHour,    3 * kHour,    6 * kHour,    12 * kHour,   kDay,
        2 * kDay,     7 * kDay,     14 * kDay,    28 * kDay};
    maxTicks = std::max(maxTicks, 2);
    for (qint64 s : steps)
        if (spanMs / s <= maxTicks)
            return s;
    // Years across: whole multiples of four weeks.
    return (spanMs / maxTicks / (28 * kDay) + 1) * 28 * kDay;
}

std::vector<qint64> RoundTimeTicks(qint64 fromMs, qint64 toMs, qint64 stepMs, int utcOffsetS)
{
    std::vector<qint64> ticks;
    if (stepMs <= 0 || toMs < fromMs)
        return ticks;
    // Local clock time; weeks start on Monday (the epoch was a Thursday).
    const qint64 anchor = qint64(utcOffsetS) * kSecond - (stepMs % (7 * kDay) == 0 ? 4 * kDay : 0);
    qint64 t = (FloorDiv(fromMs + anchor, stepMs) + 1) * stepMs - anchor;
    if (t - stepMs >= fromMs)
        t -= stepMs;
    for (; t <= toMs; t += stepMs)
        ticks.push_back(t);
    return ticks;
}

QString TimeTickFormat(qint64 stepMs, qint64 spanMs)
{
    if (stepMs < kMinute)
        return QStringLiteral("HH:mm:ss");
    if (stepMs < kDay)
        return spanMs >= kDay / 2 ? QStringLiteral("dd.MM HH:mm") : QStringLiteral("HH:mm");
    return QStringLiteral("dd.MM.yy");
}

long NearestSample(const qint64 *times, size_t n, qint64 t, qint64 maxGapMs)
{
    if (n == 0)
        return -1;
    const qint64 *at = std::lower_bound(times, times + n, t);
    long best = -1;
    qint64 bestGap = maxGapMs;
    for (const qint64 *p : {at - 1, at}) {
        if (p < times || p >= times + n)
            continue;
        const qint64 gap = std::llabs(*p - t);
        if (gap <= bestGap) {
            bestGap = gap;
            best = long(p - times);
        }
    }
    return best;
}

QString ValueText(float value)
{
    return std::isnan(value) ? QString() : QString::number(double(value));
}

QByteArray RangeCsv(const QString &timeCaption, const qint64 *times, size_t n,
                    const std::vector<CsvColumn> &columns, qint64 fromMs, qint64 toMs)
{
    QString text = CsvCell(timeCaption);
    for (const CsvColumn &c : columns)
        text += u';' + CsvCell(c.name);
    text += QStringLiteral("\r\n");
    const size_t first = size_t(std::lower_bound(times, times + n, fromMs) - times);
    for (size_t i = first; i < n && times[i] <= toMs; ++i) {
        text += QDateTime::fromMSecsSinceEpoch(times[i]).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        for (const CsvColumn &c : columns)
            text += u';' + ValueText(c.values[i]);
        text += QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}
