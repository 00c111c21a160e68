#include "TrendFile.h"

#include "AtomicFile.h"
#include "Cp1251.h"
#include "TrendReader.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

// Appends one cell and its TAB. A TAB or line break inside a text (a tag can hold any
// byte) would split the cell and shift every later one, so it becomes a blank.
void addCell(QByteArray &line, QString text)
{
    for (QChar &c : text)
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    line += Cp1251::encode(text);
    line += '\t';
}

QString fileError(const QFile &f)
{
    return f.errorString(); // an open's reason: Qt takes it from the system
}

} // namespace

QList<int> RegisteredSensors(std::span<const quint16> statuses)
{
    QList<int> sensors;
    for (size_t i = 0; i < statuses.size(); ++i)
        if (statuses[i] != kUnregisteredStatus)
            sensors.append(int(i) + 1);
    return sensors;
}

QString TrendCellText(quint16 status, quint16 temperature)
{
    switch (status) {
    case 0:
    case 1:
    case 2:
        return QString::number(temperature);
    case 10:
        return QStringLiteral("НЕТ ПИТАНИЯ");
    case 20:
        return QStringLiteral("НЕИСПРАВЕН!!");
    case 30:
        return QStringLiteral("НЕОПРЕДЕЛЕН");
    case kUnregisteredStatus:
        return {};
    default:
        return QStringLiteral("-------");
    }
}

QByteArray TrendHeaderBytes(const QList<int> &sensors, const TrendReadings &r)
{
    QByteArray bytes;
    addCell(bytes, QStringLiteral("Дата"));
    addCell(bytes, QStringLiteral("Время"));
    for (int s : sensors)
        addCell(bytes, QStringLiteral("Канал %1").arg(s));
    bytes += kLineEnd;
    addCell(bytes, QStringLiteral("Дата"));
    addCell(bytes, QStringLiteral("Время"));
    for (int s : sensors)
        addCell(bytes, r.tagText ? r.tagText(s - 1) : QString());
    bytes += kLineEnd;
    return bytes;
}

QByteArray TrendRowBytes(const QList<int> &sensors, const TrendReadings &r, const QDateTime &when)
{
    QByteArray bytes;
    addCell(bytes, when.toString(QStringLiteral("dd.MM.yy")));
    addCell(bytes, when.toString(QStringLiteral("HH:mm:ss")));
    for (int s : sensors) {
        const size_t i = size_t(s - 1);
        // A sensor beyond the words read (a smaller map since the header) is not there.
        const quint16 status = i < r.statuses.size() ? r.statuses[i] : kUnregisteredStatus;
        const quint16 temperature = i < r.temperatures.size() ? r.temperatures[i] : 0;
        addCell(bytes, TrendCellText(status, temperature));
    }
    bytes += kLineEnd;
    return bytes;
}

QString TrendFileBaseName(const QDateTime &start)
{
    return start.toString(QStringLiteral("dd_MM_yy____HH_mm_ss")) + QStringLiteral(".txt");
}

bool TrendFile::Create(const TrendReadings &r, QString *error)
{
    const QList<int> sensors = RegisteredSensors(r.statuses);
    QFile f(m_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = fileError(f);
        return false;
    }
    if (!WriteWhole(f, TrendHeaderBytes(sensors, r), error)) {
        f.close();
        QFile::remove(m_path); // a torn header is no header: the next row makes it anew
        return false;
    }
    f.close();
    m_sensors = sensors;
    m_haveHeader = true;
    return true;
}

bool TrendFile::AppendRow(const TrendReadings &r, const QDateTime &when, QString *error)
{
    if (!m_haveHeader && !adoptHeader(error))
        return false;
    return append(TrendRowBytes(m_sensors, r, when), error);
}

bool TrendFile::WriteRow(const TrendReadings &r, const QDateTime &when, QString *error)
{
    if (!QFileInfo::exists(m_path) && !Create(r, error))
        return false;
    return AppendRow(r, when, error);
}

bool TrendFile::append(const QByteArray &bytes, QString *error)
{
    QFile f(m_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = fileError(f);
        return false;
    }
    if (!m_endChecked) {
        cutPartRow(f);
        m_endChecked = true;
    }
    const qint64 before = f.size();
    if (WriteWhole(f, bytes, error)) {
        f.close();
        return true;
    }
    f.close();
    // Take back a part row (a full disk), so the next row does not continue it.
    if (QFileInfo(m_path).size() > before)
        QFile::resize(m_path, before);
    return false;
}

void TrendFile::cutPartRow(QFile &f)
{
    // Rows are short: the last line break lies within the last few kilobytes.
    constexpr qint64 kLook = 64 * 1024;
    QFile r(m_path);
    const qint64 size = f.size();
    if (size == 0 || !r.open(QIODevice::ReadOnly) || !r.seek(qMax<qint64>(0, size - kLook)))
        return;
    const QByteArray tail = r.read(kLook);
    r.close();
    if (tail.endsWith('\n'))
        return;
    const qint64 lineEnd = tail.lastIndexOf('\n');
    if (lineEnd >= 0)
        f.resize(size - tail.size() + lineEnd + 1);
}

// A file that was there before this object wrote a header (created by someone else under
// our name): its own header says which sensor each cell belongs to.
bool TrendFile::adoptHeader(QString *error)
{
    QString why;
    const auto header = ReadTrendHeader(m_path, &why);
    if (!header) {
        if (error)
            *error = why;
        return false;
    }
    m_sensors = *header;
    m_haveHeader = true;
    return true;
}
