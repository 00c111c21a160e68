#pragma once
// Request frames as a master must send them, built here byte by byte (independently of the
// program's own frame code), and the simulator's log read back as such frames.
#include "ModbusCrc.h"
#include "SimProcess.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace ExpectedFrames {

inline QString hex(const QByteArray &frame)
{
    return QString::fromLatin1(frame.toHex(' ').toUpper());
}

inline QString writeMultiple(quint8 slave, quint16 start, const QList<quint16> &words)
{
    QByteArray f;
    f += char(slave);
    f += char(0x10);
    f += char(start >> 8);
    f += char(start & 0xFF);
    f += char(words.size() >> 8);
    f += char(words.size() & 0xFF);
    f += char(2 * words.size());
    for (quint16 w : words) {
        f += char(w >> 8);
        f += char(w & 0xFF);
    }
    AppendModbusCrc(f);
    return hex(f);
}

inline QString writeSingle(quint8 slave, quint16 reg, quint16 value)
{
    QByteArray f;
    f += char(slave);
    f += char(0x06);
    f += char(reg >> 8);
    f += char(reg & 0xFF);
    f += char(value >> 8);
    f += char(value & 0xFF);
    AppendModbusCrc(f);
    return hex(f);
}

inline QString readRequest(quint8 slave, quint16 start, quint16 count)
{
    QByteArray f;
    f += char(slave);
    f += char(0x03);
    f += char(start >> 8);
    f += char(start & 0xFF);
    f += char(count >> 8);
    f += char(count & 0xFF);
    AppendModbusCrc(f);
    return hex(f);
}

// Function 6 and 16 requests the simulator received, in order.
inline QStringList writes(const SimProcess &sim)
{
    QStringList out;
    for (const QString &rx : sim.logEntries("RX"))
        if (rx.mid(3, 2) == "06" || rx.mid(3, 2) == "10")
            out << rx;
    return out;
}

// The function 6 and 16 requests to one address (several controllers on the line).
inline QStringList writes(const SimProcess &sim, quint8 slave)
{
    const QString prefix = hex(QByteArray(1, char(slave))) + u' ';
    return writes(sim).filter(QRegularExpression(u'^' + prefix));
}

// The numbers of a simulator reply "OK v1 v2 ...".
inline QList<quint16> numbers(const QString &reply)
{
    QList<quint16> out;
    for (const QString &w : reply.mid(3).split(u' ', Qt::SkipEmptyParts))
        out << quint16(w.toUInt());
    return out;
}

} // namespace ExpectedFrames
