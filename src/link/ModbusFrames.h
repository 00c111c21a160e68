#pragma once
#include <QByteArray>
#include <QtGlobal>

// Modbus RTU frames: big-endian registers, CRC low byte first.
namespace ModbusFrame {

constexpr quint8 ReadHolding = 3;
constexpr quint8 WriteSingle = 6;
constexpr quint8 WriteMultiple = 16;
constexpr quint8 ExceptionFlag = 0x80;
constexpr int ExceptionLength = 5;

QByteArray readRequest(quint8 address, quint16 start, quint16 count);
QByteArray writeSingleRequest(quint8 address, quint16 reg, quint16 value);
// The byte count is 2 × count kept in one byte, as the controller expects it.
QByteArray writeMultipleRequest(quint8 address, quint16 start, quint16 count,
                                const quint16 *values);

// What the one good answer to a request looks like.
struct Expected {
    quint8 address = 0;
    quint8 function = 0;
    int dataBytes = 0; // read: the byte count, 2 × the registers asked for
    int length = 0;    // of the whole good answer: 5 + dataBytes for a read, 8 for a write
};
Expected expectedAnswer(const QByteArray &request);

// Where the answer ends, judged from the bytes that have arrived so far: > 0 the whole
// answer (or exception frame) is this long; 0 too few bytes to tell; -1 these bytes cannot
// begin the expected answer (noise, another slave, another request's data), so no length
// can be taken from them and only the line falling silent ends them.
constexpr int NotTheAnswer = -1;
int answerLength(const Expected &expected, const QByteArray &received);
// A read may stop taking bytes: the whole answer (or exception frame) is there.
inline bool answerEnds(const Expected &expected, const QByteArray &received)
{
    const int want = answerLength(expected, received);
    return want > 0 && received.size() >= want;
}

// The judgement of what arrived for one attempt, on those bytes only.
enum class Verdict {
    Good,
    Missing,      // nothing, or fewer bytes than the frame announces
    WrongAddress, // a whole frame from another slave
    Exception,    // the slave refused the request; the code is kept
    BadCrc,       // damaged, or bytes that make no frame at all (noise)
    WrongData,    // a whole frame, but not the answer to this request: another byte count
                  // or function, trailing bytes, or a confirmation that echoes another write
};
Verdict judgeAnswer(const QByteArray &request, const QByteArray &received,
                    quint8 *exceptionCode = nullptr);

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
