#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

// A trend file as the recorder writes it (Windows-1251, a TAB after every cell, CR LF):
// rows one period apart with slowly drifting temperatures, a stretch of "НЕТ ПИТАНИЯ"
// on channel 5, "НЕИСПРАВЕН!!" now and then on channel 7, "НЕОПРЕДЕЛЕН" on channel 9
// and a few short rows.
QByteArray GenerateTrend(int rows, int channels, const QDateTime &start, int periodS = 1);
bool WriteTrend(const QString &path, int rows, int channels, const QDateTime &start,
                int periodS = 1);
