#include "FrameLog.h"

#include "LinkTexts.h"
#include "LookupText.h"
#include "ModbusFrames.h"

FrameLog::FrameLog(int capacity) : m_ring(size_t(qMax(1, capacity))) {}

FrameLog::Frame &FrameLog::append(const Attempt &a, Direction direction) {
    Frame &f = m_ring[size_t(m_next % m_ring.size())];
    f.seq = m_next++;
    f.direction = direction;
    f.outcome = a.outcome;
    f.attempt = quint8(qBound(1, a.number, 255));
    f.exceptionCode = quint8(a.exceptionCode);
    f.request = a.request;
    return f;
}

void FrameLog::RecordAttempt(const Attempt &a) {
    if (!m_enabled)
        return;
    Frame &request = append(a, Direction::Request);
    request.timeMs = a.txMs;
    request.bytes = a.request;
    request.responseMs = -1;
    if (!a.sent)
        return;
    Frame &answer = append(a, Direction::Answer);
    answer.timeMs = a.rxMs;
    answer.bytes = a.answer;
    // Nothing came: no time of an answer to show.
    answer.responseMs =
        a.answer.isEmpty() ? -1 : qint32(a.responseMs >= 0 ? a.responseMs : a.rxMs - a.txMs);
}

QString ExceptionName(const MemIniFile &settings, int code) {
    for (const auto &[c, key] : LinkText::exceptionNames)
        if (c == code)
            return LookupText(settings, key);
    return QString();
}

void FrameLog::Clear() {
    for (Frame &f : m_ring)
        f = Frame();
    m_next = 0;
}

DecodedFrame DecodeRequest(const QByteArray &r) {
    DecodedFrame d;
    if (r.size() < 2)
        return d;
    d.function = quint8(r[1]);
    if (r.size() < 6)
        return d;
    d.start = ModbusFrame::word(r, 2);
    if (d.function == ModbusFrame::WriteSingle)
        d.count = 1;
    else if (d.function == ModbusFrame::ReadHolding || d.function == ModbusFrame::WriteMultiple)
        d.count = ModbusFrame::word(r, 4);
    return d;
}

DecodedFrame DecodeAnswer(const QByteArray &a, const QByteArray &request) {
    const DecodedFrame asked = DecodeRequest(request);
    DecodedFrame d;
    if (a.size() < 2)
        return d;
    d.function = quint8(a[1]);
    if (d.function & ModbusFrame::ExceptionFlag) {
        if (a.size() >= 3)
            d.exceptionCode = quint8(a[2]);
        return d;
    }
    if (d.function != asked.function)
        return d; // not an answer to this request: its numbers would mislead
    d.start = asked.start;
    if (d.function == ModbusFrame::ReadHolding && a.size() >= 3)
        d.count = quint8(a[2]) / 2; // as the answer announces it
    else
        d.count = asked.count;
    return d;
}
