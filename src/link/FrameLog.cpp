#include "FrameLog.h"

#include "LookupText.h"
#include "ModbusFrames.h"

QString FailureText(const MemIniFile &settings, const LoggedFailure &failure) {
    if (!failure.key)
        return QString();
    const QString text = LookupText(settings, *failure.key);
    return failure.code < 0 ? text : text + QString::number(failure.code, 16).toUpper(); // "%s%X"
}

FrameLog::FrameLog(int capacity) : m_ring(size_t(qMax(1, capacity))) {}

void FrameLog::append(qint64 timeMs, Direction direction, const QByteArray &bytes,
                      const QByteArray &request, AttemptOutcome outcome,
                      const LoggedFailure &failure) {
    Frame &f = m_ring[size_t(m_next % m_ring.size())];
    f.seq = m_next++;
    f.timeMs = timeMs;
    f.direction = direction;
    f.outcome = outcome;
    f.bytes = bytes;
    f.request = request;
    f.failure = failure;
}

void FrameLog::RecordAttempt(qint64 txMs, const QByteArray &request, bool sent, qint64 rxMs,
                             const QByteArray &answer, AttemptOutcome outcome,
                             const LoggedFailure &failure) {
    if (!m_enabled)
        return;
    append(txMs, Direction::Request, request, request, outcome, failure);
    if (sent)
        append(rxMs, Direction::Answer, answer, request, outcome, failure);
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
