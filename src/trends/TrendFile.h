#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <span>

class QFile;

// Trend files: tab-separated text in Windows-1251, every cell followed by a TAB, every
// line ended by CR LF. Two header lines (sensor numbers, then tags), then one row per
// timer tick. The texts in the file are fixed, whatever the language of the window.

// What the poll cycle last read, as a row is made from it. Word i belongs to sensor i+1.
struct TrendReadings {
    std::span<const quint16> statuses;
    std::span<const quint16> temperatures;
    // Tag text of sensor index i (0-based); asked only when a header is written. Unset or
    // empty when no tag was read.
    std::function<QString(int)> tagText;
};

inline constexpr quint16 kUnregisteredStatus = 40;

// Sensor numbers (1-based, ascending) whose status is not 40: the header's columns.
QList<int> RegisteredSensors(std::span<const quint16> statuses);

// The cell of one sensor in a row: the temperature for 0, 1, 2; the fixed texts for 10,
// 20, 30; empty for 40 (a header sensor that is gone keeps its column); "-------" for a
// code the controller should not send, as the live grid shows it.
QString TrendCellText(quint16 status, quint16 temperature);

// The two header lines and one row, encoded as they go to disk.
QByteArray TrendHeaderBytes(const QList<int> &sensors, const TrendReadings &r);
QByteArray TrendRowBytes(const QList<int> &sensors, const TrendReadings &r, const QDateTime &when);

// "dd_mm_yy____hh_nn_ss.txt" of the time given.
QString TrendFileBaseName(const QDateTime &start);

// One trend file. The header's sensors are fixed when the header is written; every row
// then has exactly one cell per header sensor. Each write opens, appends, flushes and
// closes the file, so nothing is held open between rows and a crash loses at most the row
// being written.
class TrendFile {
public:
    explicit TrendFile(const QString &path = {}) : m_path(path) {}

    QString path() const { return m_path; }
    // The header's sensors; empty until a header was written or read back.
    const QList<int> &sensors() const { return m_sensors; }

    // Creates the file (emptying one that exists) with the two header lines of the
    // sensors registered now.
    bool Create(const TrendReadings &r, QString *error = nullptr);
    // Appends one row. A row that cannot be written whole is taken back, so the next row
    // starts on a line of its own.
    bool AppendRow(const TrendReadings &r, const QDateTime &when, QString *error = nullptr);
    // What the poll cycle does for a row: a file that is not there (first row, or deleted
    // meanwhile) first gets a fresh header, then the row is appended.
    bool WriteRow(const TrendReadings &r, const QDateTime &when, QString *error = nullptr);

private:
    bool append(const QByteArray &bytes, QString *error);
    bool adoptHeader(QString *error);
    // A writer killed mid-row (the system may stop a write between two pages) left part of
    // a row at the end; it is taken back before this object appends the first time, so
    // the next row does not continue it.
    void cutPartRow(QFile &f);

    QString m_path;
    QList<int> m_sensors;
    bool m_haveHeader = false;
    bool m_endChecked = false;
};
