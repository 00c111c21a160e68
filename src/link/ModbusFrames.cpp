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

int expectedAnswerLength(quint8 function, const QByteArray &received)
{
    if (received.size() < 2)
        return 0;
    if (quint8(received[1]) != function)
        return 5;
    if (function == ReadHolding)
        return received.size() < 3 ? 0 : 5 + quint8(received[2]);
    return 8;
}

} // namespace ModbusFrame
