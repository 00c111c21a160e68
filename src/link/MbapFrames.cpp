#include "MbapFrames.h"

#include "ModbusCrc.h"
#include "ModbusFrames.h"

#include <algorithm>

namespace Mbap {

namespace {

// Transactions whose answers may still come; an answer to one forgotten is judged as noise
// (a failed attempt, never values).
constexpr std::size_t kRemembered = 64;
constexpr quint8 kGatewayPathUnavailable = 0x0A;
constexpr quint8 kGatewayTargetSilent = 0x0B;

// The gateway speaks for itself: the controller behind it has not answered.
bool gatewaySaysNoAnswer(QByteArrayView frame) {
    return frame.size() == HeaderLength + 2 &&
           (quint8(frame[HeaderLength]) & ModbusFrame::ExceptionFlag) &&
           (quint8(frame[HeaderLength + 1]) == kGatewayPathUnavailable ||
            quint8(frame[HeaderLength + 1]) == kGatewayTargetSilent);
}

quint16 wordAt(const QByteArray &b, qsizetype at) {
    return ModbusFrame::word(b, at);
}

// Unit id and PDU, then the CRC: one allocation.
QByteArray rtuOf(QByteArrayView frame) {
    const QByteArrayView body = frame.sliced(HeaderLength - 1);
    QByteArray rtu;
    rtu.reserve(body.size() + 2);
    rtu.append(body);
    AppendModbusCrc(rtu);
    return rtu;
}

} // namespace

QByteArray FromRtu(const QByteArray &rtu, quint16 transaction) {
    if (rtu.size() < 4)
        return {};
    const QByteArrayView pdu = QByteArrayView(rtu).sliced(1, rtu.size() - 3);
    QByteArray f;
    f.reserve(HeaderLength + pdu.size());
    ModbusFrame::appendWord(f, transaction);
    ModbusFrame::appendWord(f, 0);
    ModbusFrame::appendWord(f, quint16(1 + pdu.size()));
    f.append(rtu[0]);
    f.append(pdu);
    return f;
}

QByteArray ToRtu(const QByteArray &frame) { return rtuOf(frame); }

bool PduLengthConsistent(QByteArrayView pdu) {
    if (pdu.isEmpty())
        return false;
    const quint8 function = quint8(pdu[0]);
    if (function & ModbusFrame::ExceptionFlag)
        return pdu.size() == 2;
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
        return pdu.size() >= 2 && pdu.size() == 2 + quint8(pdu[1]);
    case 5:
    case 6:
    case 15:
    case 16:
        return pdu.size() == 5;
    default:
        return true;
    }
}

QByteArray AnswerReader::request(const QByteArray &rtu) {
    // Part of a frame still waiting (a truncated answer, or one cut off by the time-out)
    // must not be completed by the bytes of the next answer: its header's length would
    // take them in, and the frame made of the two would pass for a whole answer.
    m_buffer.clear();
    if (rtu != m_request) {
        for (Sent &s : m_sent)
            s.current = false;
        m_request = rtu;
    }
    ++m_transaction;
    m_sent.push_back({m_transaction, true});
    while (m_sent.size() > kRemembered)
        m_sent.pop_front();
    return FromRtu(rtu, m_transaction);
}

AnswerReader::Owner AnswerReader::take(quint16 transaction) {
    for (auto it = m_sent.begin(); it != m_sent.end(); ++it)
        if (it->transaction == transaction) {
            const bool current = it->current;
            m_sent.erase(it);
            return current ? Owner::Current : Owner::Stale;
        }
    return Owner::None;
}

AnswerReader::Splice AnswerReader::spliceIn(qsizetype frameEnd, bool more) const {
    // A cut-short answer and the next one arriving before the silence that ends it glue
    // into one frame of the first one's length, and nothing in Modbus TCP (no CRC) tells.
    // The second one's header among the values does: a transaction still owed, protocol
    // 0, a possible length and the same unit id. A header that starts near the end may
    // still be coming in the next bytes. A value that only looks like one costs a wait
    // for silence or a retry; a splice let through puts another register's value in a cell.
    const quint8 unit = quint8(m_buffer[HeaderLength - 1]);
    const char *const b = m_buffer.constData();
    for (qsizetype at = 1; at < frameEnd; ++at) {
        const qsizetype have = m_buffer.size() - at;
        if (have < 2)
            break; // one byte says too little: it would hold most answers
        // The protocol id's zeros first, inline (this runs for every byte of every answer),
        // then the rest of the header, then the transactions owed.
        if ((have > 2 && b[at + 2] != 0) || (have > 3 && b[at + 3] != 0) ||
            !headerFits(at, unit))
            continue;
        const quint16 transaction = wordAt(m_buffer, at);
        if (std::none_of(m_sent.begin(), m_sent.end(),
                         [&](const Sent &s) { return s.transaction == transaction; }))
            continue;
        if (have >= HeaderLength)
            return {at, false};
        if (more)
            return {0, true};
    }
    return {};
}

bool AnswerReader::headerFits(qsizetype at, int unit) const {
    // 00 00 | 00 length | unit, as far as the bytes go.
    const qsizetype end = qMin<qsizetype>(m_buffer.size(), at + (unit < 0 ? 6 : HeaderLength));
    for (qsizetype k = at + 2; k < end; ++k) {
        const quint8 b = quint8(m_buffer[k]);
        const qsizetype i = k - at;
        if (i < 5 ? b != 0 : i == 5 ? b < 2 || b > MaxLength : b != unit)
            return false;
    }
    return true;
}

AnswerReader::Follow AnswerReader::following(qsizetype frameEnd) const {
    const qsizetype rest = m_buffer.size() - frameEnd;
    if (rest == 0)
        return Follow::Nothing;
    if (!headerFits(frameEnd))
        return Follow::Broken;
    return rest < 6 ? Follow::Unsure : Follow::Frame;
}

QByteArray AnswerReader::feed(const QByteArray &bytes) {
    m_buffer.append(bytes);
    return frames(true);
}

QByteArray AnswerReader::frames(bool more) {
    // A frame is judged where it lies and taken out once its end is sure.
    QByteArray out;
    const auto allNoise = [&] {
        out.append(m_buffer);
        m_buffer.clear();
    };
    while (m_buffer.size() >= 4) {
        if (!headerFits(0)) {
            // No frame starts here, and no later byte can be trusted to start one.
            allNoise();
            break;
        }
        if (m_buffer.size() < 6)
            break;
        const qsizetype total = 6 + wordAt(m_buffer, 4);
        if (m_buffer.size() < total)
            break;
        if (!PduLengthConsistent(QByteArrayView(m_buffer).sliced(HeaderLength, total - HeaderLength))) {
            // The length field lies, so where the next frame starts is unknown.
            allNoise();
            break;
        }
        const Splice splice = spliceIn(total, more);
        if (splice.undecided)
            break; // the next bytes or silence decide
        if (splice.at > 0) {
            // Framed from the start of one answer and the end of another: the bytes
            // before the inner header come out as they arrived, the inner frame is read.
            out.append(m_buffer.left(splice.at));
            m_buffer.remove(0, splice.at);
            continue;
        }
        // Where a frame ends is only as sure as what follows it: bytes there that start no
        // frame, or that silence leaves short of a header, mean its length took in the
        // start of another answer, whose header passed unrecognised (damaged, behind
        // stray bytes, or its transaction forgotten).
        const Follow follow = following(total);
        if (follow == Follow::Unsure && more)
            break;
        if (follow == Follow::Broken || follow == Follow::Unsure) {
            allNoise();
            break;
        }
        // Judged in place, then dropped from the buffer: no copy of the frame on the way.
        const QByteArrayView frame = QByteArrayView(m_buffer).first(total);
        switch (take(wordAt(m_buffer, 0))) {
        case Owner::Current:
            if (!gatewaySaysNoAnswer(frame))
                out.append(rtuOf(frame));
            break;
        case Owner::Stale:
            break; // the answer to an abandoned request
        case Owner::None:
            out.append(frame);
            break;
        }
        m_buffer.remove(0, total);
    }
    return out;
}

QByteArray AnswerReader::silence() {
    QByteArray out = frames(false); // a whole frame held for its last bytes is whole
    if (m_buffer.size() >= HeaderLength) {
        switch (take(wordAt(m_buffer, 0))) {
        case Owner::Current:
            out += m_buffer.mid(HeaderLength - 1);
            break; // no CRC: short
        case Owner::Stale:
            break;
        case Owner::None:
            out += m_buffer;
            break;
        }
    }
    m_buffer.clear();
    return out;
}

void AnswerReader::forgetEarlier() {
    for (Sent &s : m_sent)
        s.current = false;
    m_request.clear();
}

void AnswerReader::reset() {
    m_buffer.clear();
    m_sent.clear();
    m_request.clear();
}

} // namespace Mbap
