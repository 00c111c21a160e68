#pragma once
#include <QByteArray>
#include <QtGlobal>

// Modbus RTU frames: big-endian registers, CRC low byte first.
namespace ModbusFrame {

constexpr quint8 ReadHolding = 3;
constexpr quint8 WriteSingle = 6;
constexpr quint8 WriteMultiple = 16;

QByteArray readRequest(quint8 address, quint16 start, quint16 count);
QByteArray writeSingleRequest(quint8 address, quint16 reg, quint16 value);
// The byte count is 2 × count kept in one byte, as the controller expects it.
QByteArray writeMultipleRequest(quint8 address, quint16 start, quint16 count,
                                const quint16 *values);

// Length of the whole answer to a request with this function, judged from the bytes that
// have arrived so far; 0 while too few have arrived to tell. An answer whose function byte
// differs from the request's is an exception frame of 5 bytes.
int expectedAnswerLength(quint8 function, const QByteArray &received);

inline quint16 word(const QByteArray &b, qsizetype at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}
inline void appendWord(QByteArray &b, quint16 w)
{
    b.append(char(w >> 8));
    b.append(char(w & 0xFF));
}

} // namespace ModbusFrame
