#include "ModbusFrames.h"

#include "ModbusCrc.h"

namespace ModbusFrame {

QByteArray readRequest(quint8 address, quint16 start, quint16 count)
{
    QByteArray f;
    f.reserve(8);
    f.append(char(address));
    f.append(char(ReadHolding));
    appendWord(f, start);
    appendWord(f, count);
    AppendModbusCrc(f);
    return f;
}

QByteArray writeSingleRequest(quint8 address, quint16 reg, quint16 value)
{
    QByteArray f;
    f.reserve(8);
    f.append(char(address));
    f.append(char(WriteSingle));
    appendWord(f, reg);
    appendWord(f, value);
    AppendModbusCrc(f);
    return f;
}

QByteArray writeMultipleRequest(quint8 address, quint16 start, quint16 count,
                                const quint16 *values)
{
    QByteArray f;
    f.reserve(9 + 2 * count);
    f.append(char(address));
    f.append(char(WriteMultiple));
    appendWord(f, start);
    appendWord(f, count);
    f.append(char(quint8(2 * count)));
    for (quint16 i = 0; i < count; ++i)
        appendWord(f, values[i]);
    AppendModbusCrc(f);
    return f;
}

Expected expectedAnswer(const QByteArray &request)
{
    Expected e;
    if (request.size() < 6)
        return e;
    e.address = quint8(request[0]);
    e.function = quint8(request[1]);
    if (e.function == ReadHolding) {
        // More than 127 registers cannot be announced in one byte: no answer can be good.
        e.dataBytes = 2 * word(request, 4);
        e.length = 5 + e.dataBytes;
    } else {
        e.length = 8; // both write confirmations echo address, function, register and count
    }
    return e;
}

int answerLength(const Expected &e, const QByteArray &b)
{
    if (b.isEmpty())
        return 0;
    if (quint8(b[0]) != e.address)
        return NotTheAnswer;
    if (b.size() < 2)
        return 0;
    const quint8 function = quint8(b[1]);
    if (function == (e.function | ExceptionFlag))
        return ExceptionLength;
    if (function != e.function)
        return NotTheAnswer;
    if (e.function != ReadHolding)
        return e.length;
    if (b.size() < 3)
        return 0;
    return quint8(b[2]) == e.dataBytes ? e.length : NotTheAnswer;
}

Verdict judgeAnswer(const QByteArray &request, const QByteArray &b, quint8 *exceptionCode)
{
    const Expected e = expectedAnswer(request);
    const int length = answerLength(e, b);
    if (length == 0)
        return Verdict::Missing;
    if (length > 0) {
        if (b.size() < length)
            return Verdict::Missing; // the rest never came; no byte is made up for it
        if (!ModbusCrcMatches(b.left(length)))
            return Verdict::BadCrc;
        if (b.size() > length)
            return Verdict::WrongData; // more than the answer holds
        if (quint8(b[1]) != e.function) {
            if (exceptionCode)
                *exceptionCode = quint8(b[2]);
            return Verdict::Exception;
        }
        if (e.function == ReadHolding)
            return Verdict::Good;
        // A confirmation echoes the register (function 6) or start and count (16); the
        // value echoed by function 6 is not compared.
        const int echoed = e.function == WriteSingle ? 2 : 4;
        return b.mid(2, echoed) == request.mid(2, echoed) ? Verdict::Good : Verdict::WrongData;
    }
    // Not the start of our answer. A whole frame of some other kind is named for what it
    // is; anything else is damage or noise.
    if (b.size() < 4 || !ModbusCrcMatches(b))
        return Verdict::BadCrc;
    if (quint8(b[0]) != e.address)
        return Verdict::WrongAddress;
    if (b.size() == ExceptionLength && quint8(b[1]) != e.function) {
        if (exceptionCode)
            *exceptionCode = quint8(b[2]);
        return Verdict::Exception;
    }
    return Verdict::WrongData;
}

} // namespace ModbusFrame
