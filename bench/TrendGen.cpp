#include "TrendGen.h"

#include "Cp1251.h"

#include <QFile>
#include <cmath>

QByteArray GenerateTrend(int rows, int channels, const QDateTime &start, int periodS)
{
    QByteArray out;
    out.reserve(qsizetype(rows) * (20 + 5 * channels) + 4096);
    QString h1 = QStringLiteral("Дата\tВремя\t"), h2 = h1;
    for (int c = 1; c <= channels; ++c) {
        h1 += QStringLiteral("Канал %1\t").arg(c);
        // Some sensors carry no tag.
        h2 += (c % 4 == 0 ? QString() : QStringLiteral("Печь %1").arg(c)) + u'\t';
    }
    out += Cp1251::encode(h1) + "\r\n" + Cp1251::encode(h2) + "\r\n";
    const QByteArray noPower = Cp1251::encode(QStringLiteral("НЕТ ПИТАНИЯ"));
    const QByteArray faulty = Cp1251::encode(QStringLiteral("НЕИСПРАВЕН!!"));
    const QByteArray undetermined = Cp1251::encode(QStringLiteral("НЕОПРЕДЕЛЕН"));
    QDate day;
    QByteArray dayText;
    char buf[16];
    for (int r = 0; r < rows; ++r) {
        const QDateTime t = start.addSecs(qint64(r) * periodS);
        if (t.date() != day) {
            day = t.date();
            dayText = day.toString(QStringLiteral("dd.MM.yy")).toLatin1();
        }
        out += dayText;
        out += '\t';
        const QTime tm = t.time();
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d\t", tm.hour(), tm.minute(), tm.second());
        out += buf;
        const int cells = r % 5000 == 4999 ? channels / 2 : channels; // a sensor gone
        for (int c = 1; c <= cells; ++c) {
            const double hours = double(r) * periodS / 3600.0;
            if (c == 5 && r % 100000 > 60000 && r % 100000 < 67200) {
                out += noPower;
            } else if (c == 7 && r % 777 < 3) {
                out += faulty;
            } else if (c == 9 && r % 50000 < 1500) {
                out += undetermined;
            } else {
                const double v = 180 + 10 * c + 25 * std::sin(hours / (3 + c % 5)) +
                                 3 * std::sin(r * 0.37 + c);
                out += QByteArray::number(int(v));
            }
            out += '\t';
        }
        out += "\r\n";
    }
    return out;
}

bool WriteTrend(const QString &path, int rows, int channels, const QDateTime &start, int periodS)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(GenerateTrend(rows, channels, start, periodS)) >= 0 && f.flush();
}
