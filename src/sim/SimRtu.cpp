#include "SimRtu.h"

#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "SimController.h"

int RequestLength(const QByteArray &b, qsizetype at)
{
    const qsizetype have = b.size() - at;
    if (have < 2)
        return 0;
    const auto byteAt = [&](qsizetype i) { return int(quint8(b[at + i])); };
    switch (byteAt(1)) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 8:
        return 8;
    case 7: case 11: case 12: case 17:
        return 4;
    case 15: case 16:
        return have < 7 ? 0 : 9 + byteAt(6);
    case 20: case 21:
        return have < 3 ? 0 : 5 + byteAt(2);
    case 22:
        return 10;
    case 23:
        return have < 11 ? 0 : 13 + byteAt(10);
    case 24:
        return 6;
    default:
        return -1;
    }
}

QByteArray RtuRequestReader::cut(qsizetype n)
{
    QByteArray head = m_buffer.left(n);
    m_buffer.remove(0, n);
    return head;
}

qsizetype RtuRequestReader::findFrame(qsizetype from) const
{
    for (qsizetype at = from; at + 4 <= m_buffer.size(); ++at) {
        const int n = RequestLength(m_buffer, at);
        if (n > 0 && at + n <= m_buffer.size() && ModbusCrcMatches(m_buffer.mid(at, n)))
            return at;
    }
    return -1;
}

QList<RtuRequestReader::Event> RtuRequestReader::take(bool silence)
{
    QList<Event> events;
    while (!m_buffer.isEmpty()) {
        const int n = RequestLength(m_buffer);
        if (n > 0 && m_buffer.size() >= n) {
            if (ModbusCrcMatches(m_buffer.left(n))) {
                events.append({true, cut(n), {}});
                continue;
            }
            // A good request may hide behind a damaged one: resynchronise on it.
            const qsizetype next = findFrame(1);
            events.append({false, cut(next > 0 ? next : n), QStringLiteral("badcrc")});
            continue;
        }
        const qsizetype next = findFrame(1);
        if (next > 0) {
            events.append({false, cut(next), QStringLiteral("garbage")});
            continue;
        }
        if (!silence)
            break;
        if (n < 0 && m_buffer.size() >= 4 && ModbusCrcMatches(m_buffer)) {
            events.append({true, cut(m_buffer.size()), {}}); // a function we do not serve
            break;
        }
        events.append({false, cut(m_buffer.size()),
                       n < 0 ? QStringLiteral("garbage") : QStringLiteral("truncated")});
    }
    return events;
}

QByteArray ExceptionFrame(quint8 address, quint8 function, quint8 code)
{
    QByteArray f;
    f.append(char(address));
    f.append(char(function | 0x80));
    f.append(char(code));
    AppendModbusCrc(f);
    return f;
}

SlaveAnswer AnswerRequest(SimController &controller, const QByteArray &request)
{
    using namespace ModbusFrame;
    const quint8 address = quint8(request[0]);
    const quint8 function = quint8(request[1]);
    SlaveAnswer a;
    quint8 code = ModbusException::None;
    if (function == ReadHolding) {
        QList<quint16> values;
        code = controller.read(word(request, 2), word(request, 4), values);
        if (code == ModbusException::None) {
            a.frame.append(char(address));
            a.frame.append(char(function));
            a.frame.append(char(2 * values.size()));
            for (quint16 v : values)
                appendWord(a.frame, v);
            AppendModbusCrc(a.frame);
        }
    } else if (function == WriteSingle) {
        code = controller.write(word(request, 2), {word(request, 4)}, &a.connectionChanged);
        if (code == ModbusException::None)
            a.frame = request; // the confirmation repeats the request
    } else if (function == WriteMultiple) {
        const quint16 count = word(request, 4);
        if (count < 1 || count > 123 || quint8(request[6]) != 2 * count) {
            code = ModbusException::IllegalAddress;
        } else {
            QList<quint16> values;
            for (int i = 0; i < count; ++i)
                values.append(word(request, 7 + 2 * i));
            code = controller.write(word(request, 2), values, &a.connectionChanged);
        }
        if (code == ModbusException::None) {
            a.frame = request.left(6);
            AppendModbusCrc(a.frame);
        }
    } else {
        code = ModbusException::IllegalFunction;
    }
    if (code != ModbusException::None) {
        a.exception = code;
        a.frame = ExceptionFrame(address, function, code);
    }
    return a;
}
